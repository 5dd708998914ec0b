#include "report/video_cards.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "platform/fact_files.h"
#include "report/pci_ids.h"
#include "report/proc_facts.h"

namespace {
constexpr size_t kSmallFact = 4096;
constexpr size_t kPciDatabaseBytes = 16 * 1024 * 1024;
const char *const kDrmFolder = "/sys/class/drm";
const char *const kPciDatabases[] = {"/usr/share/misc/pci.ids", "/usr/share/hwdata/pci.ids"};

// "card" followed by digits only; its number.
std::optional<unsigned long> CardNumber(const std::string &entry)
{
    const std::string prefix = "card";
    if (entry.size() <= prefix.size() || entry.size() > prefix.size() + 6 || entry.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    std::optional<uint64_t> number = ParseDecimal(entry.substr(prefix.size()));
    if (!number)
        return std::nullopt;
    return static_cast<unsigned long>(*number);
}

// A sysfs PCI id "0x8086" as four lower-case hex digits.
std::optional<std::string> PciId(const TProfileSources &sources, const std::string &path)
{
    std::string text;
    if (!sources.ReadFact(path, kSmallFact, text))
        return std::nullopt;
    text = TrimFact(text);
    if (text.size() != 6 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return std::nullopt;
    std::string id = text.substr(2);
    for (char &c : id) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return id;
}

std::optional<std::string> CardName(const TProfileSources &sources, const std::string &device)
{
    std::optional<std::string> vendorId = PciId(sources, device + "/vendor");
    std::optional<std::string> deviceId = PciId(sources, device + "/device");
    if (!vendorId || !deviceId)
        return std::nullopt;
    for (const char *database : kPciDatabases) {
        std::string text;
        if (!sources.ReadFact(database, kPciDatabaseBytes, text))
            continue;
        std::optional<TPciNames> names = LookUpPciNames(text, *vendorId, *deviceId);
        if (names && names->device)
            return names->vendor + " " + *names->device;
        break;
    }
    return *vendorId + ":" + *deviceId;
}

std::optional<std::string> DriverVersion(const TProfileSources &sources, const std::string &device)
{
    std::string target;
    if (!platform::ReadLinkText(sources.PathOf(device + "/driver"), target))
        return std::nullopt;
    std::string driver = target.substr(target.find_last_of('/') + 1);
    if (driver.empty() || driver == "." || driver == "..")
        return std::nullopt;
    std::string version;
    if (!sources.ReadFact("/sys/module/" + driver + "/version", kSmallFact, version))
        return std::nullopt;
    version = TrimFact(version);
    if (version.empty())
        return std::nullopt;
    return version;
}

std::optional<uint64_t> VideoMemory(const TProfileSources &sources, const std::string &device)
{
    std::string text;
    if (!sources.ReadFact(device + "/mem_info_vram_total", kSmallFact, text))
        return std::nullopt;
    return ParseDecimal(TrimFact(text));
}
} // namespace

std::vector<TVideoCard> CollectVideoCards(const TProfileSources &sources)
{
    std::vector<std::pair<unsigned long, std::string>> cards;
    for (const std::string &entry : platform::ListFolder(sources.PathOf(kDrmFolder))) {
        std::optional<unsigned long> number = CardNumber(entry);
        if (number)
            cards.emplace_back(*number, entry);
    }
    std::sort(cards.begin(), cards.end());

    std::vector<TVideoCard> found;
    for (const auto &card : cards) {
        std::string device = std::string(kDrmFolder) + "/" + card.second + "/device";
        if (!platform::EntryExists(sources.PathOf(device)))
            continue;
        TVideoCard video;
        video.name = CardName(sources, device);
        video.memoryBytes = VideoMemory(sources, device);
        video.driverVersion = DriverVersion(sources, device);
        found.push_back(video);
    }
    return found;
}

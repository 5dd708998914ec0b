#include "report/machine_id.h"

#include <cstdio>
#include <limits>

#include "engine/base/hex_digits.h"
#include "platform/fact_files.h"
#include "report/proc_facts.h"

namespace {
constexpr size_t kSmallFact = 4096;
const char *const kNetFolder = "/sys/class/net";

uint32_t VolumeSerial(const TProfileSources &sources)
{
    std::string text;
    if (!sources.ReadFact("/etc/machine-id", kSmallFact, text) || text.size() < 8)
        return 0;
    uint32_t serial = 0;
    for (size_t i = 0; i < 8; ++i) {
        int digit = HexDigitValue(text[i]);
        if (digit < 0)
            return 0;
        serial = (serial << 4) | static_cast<uint32_t>(digit);
    }
    return serial;
}

std::array<uint8_t, 6> FirstPhysicalAddress(const TProfileSources &sources)
{
    std::string chosen;
    uint64_t chosenIndex = std::numeric_limits<uint64_t>::max();
    for (const std::string &name : platform::ListFolder(sources.PathOf(kNetFolder))) {
        std::string folder = std::string(kNetFolder) + "/" + name;
        if (!platform::EntryExists(sources.PathOf(folder + "/device")))
            continue;
        std::string text;
        std::optional<uint64_t> index;
        if (sources.ReadFact(folder + "/ifindex", kSmallFact, text))
            index = ParseDecimal(TrimFact(text));
        // Without an index an interface ranks after those with one, by name.
        uint64_t rank = index.value_or(std::numeric_limits<uint64_t>::max());
        if (chosen.empty() || rank < chosenIndex) {
            chosen = folder;
            chosenIndex = rank;
        }
    }
    std::string address;
    if (chosen.empty() || !sources.ReadFact(chosen + "/address", kSmallFact, address))
        return {};
    return ParseMacText(TrimFact(address)).value_or(std::array<uint8_t, 6>{});
}
} // namespace

std::string ComposeMachineId(uint32_t serial, const std::array<uint8_t, 6> &m)
{
    uint8_t s[4];
    for (int i = 0; i < 4; ++i)
        s[i] = static_cast<uint8_t>(serial >> (8 * i));
    uint8_t id[8] = {
        static_cast<uint8_t>(m[0] + s[2]), m[1], static_cast<uint8_t>(m[2] + s[3]), static_cast<uint8_t>(m[3] + s[0]),
        m[4], static_cast<uint8_t>(m[5] + s[2]), s[0], s[1],
    };
    char text[17];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X%02X%02X", id[0], id[1], id[2], id[3], id[4], id[5],
                  id[6], id[7]);
    return text;
}

std::optional<std::array<uint8_t, 6>> ParseMacText(const std::string &text)
{
    // Six pairs of hex digits separated by colons: 17 characters.
    if (text.size() != 17)
        return std::nullopt;
    std::array<uint8_t, 6> mac{};
    for (size_t i = 0; i < 6; ++i) {
        int high = HexDigitValue(text[3 * i]);
        int low = HexDigitValue(text[3 * i + 1]);
        if (high < 0 || low < 0 || (i < 5 && text[3 * i + 2] != ':'))
            return std::nullopt;
        mac[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return mac;
}

std::string CollectMachineId(const TProfileSources &sources)
{
    return ComposeMachineId(VolumeSerial(sources), FirstPhysicalAddress(sources));
}

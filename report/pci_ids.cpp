#include "report/pci_ids.h"

#include <cctype>

#include "report/profile_sources.h"

namespace {
constexpr size_t kIdDigits = 4;

// A line "<indent><4 hex digits>  <name>": the id matches and the name is set.
bool MatchEntry(const std::string &line, size_t indent, const std::string &id, std::string &name)
{
    if (line.size() < indent + kIdDigits + 2 || line.compare(indent, kIdDigits, id) != 0)
        return false;
    if (line[indent + kIdDigits] != ' ' && line[indent + kIdDigits] != '\t')
        return false;
    name = TrimFact(line.substr(indent + kIdDigits));
    return !name.empty();
}

bool IsVendorLine(const std::string &line)
{
    return !line.empty() && std::isxdigit(static_cast<unsigned char>(line[0]));
}
} // namespace

std::optional<TPciNames> LookUpPciNames(const std::string &database, const std::string &vendor,
                                        const std::string &device)
{
    if (vendor.size() != kIdDigits || device.size() != kIdDigits)
        return std::nullopt;
    std::optional<TPciNames> found;
    size_t start = 0;
    while (start < database.size()) {
        size_t end = database.find('\n', start);
        if (end == std::string::npos)
            end = database.size();
        std::string line = database.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string name;
        if (!found) {
            if (IsVendorLine(line) && MatchEntry(line, 0, vendor, name))
                found = TPciNames{name, std::nullopt};
            continue;
        }
        // The vendor's devices follow it, one tab deep, until the next vendor
        // or the class list ("C xx").
        if (IsVendorLine(line) || (!line.empty() && line[0] == 'C'))
            break;
        if (line.size() > 1 && line[0] == '\t' && line[1] != '\t' && MatchEntry(line, 1, device, name)) {
            found->device = name;
            break;
        }
    }
    return found;
}

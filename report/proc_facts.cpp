#include "report/proc_facts.h"

#include <limits>

#include "report/profile_sources.h"

namespace {
struct Field {
    std::string key;
    std::string value;
};

// "key<tabs> : value"; false for lines without a colon.
bool SplitField(const std::string &line, Field &field)
{
    size_t colon = line.find(':');
    if (colon == std::string::npos)
        return false;
    field.key = TrimFact(line.substr(0, colon));
    field.value = TrimFact(line.substr(colon + 1));
    return true;
}

template <typename Fn> void ForEachLine(const std::string &text, Fn fn)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        fn(text.substr(start, end - start));
        start = end + 1;
    }
}

struct ProcessorBlock {
    std::optional<std::string> physicalId, name, vendor;
    bool any = false;
};
} // namespace

std::vector<TCpuPackage> ParseCpuPackages(const std::string &cpuinfo)
{
    std::vector<TCpuPackage> packages;
    std::vector<std::string> ids; // parallel to packages
    ProcessorBlock block;
    auto finish = [&] {
        if (!block.any)
            return;
        std::string id = block.physicalId.value_or("");
        size_t i = 0;
        while (i < ids.size() && ids[i] != id)
            ++i;
        if (i == ids.size()) {
            ids.push_back(id);
            packages.emplace_back();
        }
        TCpuPackage &package = packages[i];
        if (!package.name && block.name)
            package.name = block.name;
        if (!package.vendor && block.vendor)
            package.vendor = block.vendor;
        block = ProcessorBlock();
    };
    ForEachLine(cpuinfo, [&](const std::string &line) {
        Field field;
        if (!SplitField(line, field)) {
            if (TrimFact(line).empty())
                finish();
            return;
        }
        if (field.key == "processor") {
            finish();
            block.any = true;
        } else if (field.key == "physical id") {
            block.physicalId = field.value;
        } else if (field.key == "model name") {
            block.name = field.value;
        } else if (field.key == "vendor_id") {
            block.vendor = field.value;
        }
    });
    finish();
    return packages;
}

std::optional<uint64_t> ParseDecimal(const std::string &text)
{
    if (text.empty() || text.size() > 20)
        return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        auto digit = static_cast<uint64_t>(c - '0');
        if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::optional<uint64_t> ParseMemTotalBytes(const std::string &meminfo)
{
    std::optional<uint64_t> total;
    ForEachLine(meminfo, [&](const std::string &line) {
        Field field;
        if (total || !SplitField(line, field) || field.key != "MemTotal")
            return;
        std::string number = field.value;
        uint64_t unit = 1;
        size_t blank = number.find(' ');
        if (blank != std::string::npos) {
            if (TrimFact(number.substr(blank)) != "kB")
                return;
            number.erase(blank);
            unit = 1024;
        }
        std::optional<uint64_t> value = ParseDecimal(number);
        if (value && *value <= std::numeric_limits<uint64_t>::max() / unit)
            total = *value * unit;
    });
    return total;
}

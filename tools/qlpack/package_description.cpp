#include "tools/qlpack/package_description.h"

#include "platform/ini_parser.h"
#include "platform/read_file.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>

namespace {

constexpr size_t kMaxDescriptionBytes = 1024 * 1024;

std::string Lower(std::string text)
{
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string FolderOf(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Resolve(const std::string &base, const std::string &path)
{
    if (path.empty() || path[0] == '/')
        return path;
    return base + "/" + path;
}

bool ParseUnsigned(const std::string &text, uint64_t &value)
{
    if (text.empty() || text.size() > 20)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return true;
}

bool ParseSwitch(const std::string &text, bool &value)
{
    const std::string lower = Lower(text);
    if (lower == "on" || lower == "yes" || lower == "true" || lower == "1") {
        value = true;
        return true;
    }
    if (lower == "off" || lower == "no" || lower == "false" || lower == "0") {
        value = false;
        return true;
    }
    return false;
}

using Section = std::map<std::string, std::string>;

const std::set<std::string> kPackageKeys = {"resource_list_url", "report_config", "announce",
                                            "piece_length",      "lan_discovery", "port_mapping"};
const std::set<std::string> kFileKeys = {"name", "url", "path", "size", "md5", "torrent"};

} // namespace

bool ReadPackageDescription(const std::string &path, TPackageDescription &out, std::string &error)
{
    out = TPackageDescription();
    std::string text;
    switch (platform::ReadWholeFile(path, kMaxDescriptionBytes, text)) {
    case platform::ReadFileStatus::Ok:
        break;
    case platform::ReadFileStatus::TooLarge:
        error = path + ": a description is at most 1 MiB";
        return false;
    case platform::ReadFileStatus::Unreadable:
        error = path + ": cannot be read";
        return false;
    }

    // Section name (lower case) -> key (lower case) -> value.
    std::map<std::string, Section> sections;
    const platform::IniDocument document = platform::IniDocument::Parse(text);
    size_t lineNumber = 0;
    for (const platform::IniDocument::Line &line : document.Lines()) {
        ++lineNumber;
        const std::string where = path + ":" + std::to_string(lineNumber) + ": ";
        if (line.kind == platform::IniDocument::Kind::Section) {
            const std::string name = Lower(line.name);
            if (name != "package" && !(name.size() == 5 && name.compare(0, 4, "file") == 0 && name[4] >= '0' &&
                                       name[4] < '0' + kPackageFileCount)) {
                error = where + "unknown section [" + line.name + "] (expected [package] or [file0] to [file5])";
                return false;
            }
            sections[name];
            continue;
        }
        if (line.kind == platform::IniDocument::Kind::Other) {
            error = where + "not a section, a key = value line or a comment";
            return false;
        }
        if (line.kind != platform::IniDocument::Kind::Entry)
            continue;
        if (!line.inSection) {
            error = where + "a key before the first section";
            return false;
        }
        const std::string section = Lower(document.Lines()[line.section].name);
        const std::string key = Lower(line.name);
        const std::set<std::string> &known = section == "package" ? kPackageKeys : kFileKeys;
        if (known.count(key) == 0) {
            error = where + "unknown key \"" + line.name + "\" in [" + section + "]";
            return false;
        }
        if (sections[section].count(key) != 0) {
            error = where + "\"" + line.name + "\" given twice in [" + section + "]";
            return false;
        }
        sections[section][key] = line.value;
    }

    const std::string base = FolderOf(path);
    Section &package = sections["package"];
    out.resourceListUrl = package["resource_list_url"];
    out.reportConfigPath = Resolve(base, package["report_config"]);
    out.announce = package["announce"];
    if (!package["piece_length"].empty()) {
        uint64_t exponent = 0;
        if (!ParseUnsigned(package["piece_length"], exponent) || exponent < 15 || exponent > 24) {
            error = "[package] piece_length: a power of two from 15 to 24, got \"" + package["piece_length"] + "\"";
            return false;
        }
        out.pieceLengthExponent = static_cast<int>(exponent);
    }
    for (const char *key : {"lan_discovery", "port_mapping"}) {
        bool value = false;
        if (!package[key].empty() && !ParseSwitch(package[key], value)) {
            error = std::string("[package] ") + key + ": on or off, got \"" + package[key] + "\"";
            return false;
        }
        (std::string(key) == "lan_discovery" ? out.lanDiscovery : out.portMapping) = value;
    }

    for (int i = 0; i < kPackageFileCount; ++i) {
        const std::string name = "file" + std::to_string(i);
        if (sections.count(name) == 0) {
            error = "[" + name + "] is missing: a package has six files, [file0] (the installer) to [file5]";
            return false;
        }
        Section &section = sections[name];
        TDescribedFile &file = out.files[i];
        file.name = section["name"];
        file.url = section["url"];
        file.path = Resolve(base, section["path"]);
        file.md5 = section["md5"];
        if (!section["size"].empty()) {
            uint64_t size = 0;
            if (!ParseUnsigned(section["size"], size)) {
                error = "[" + name + "] size: a byte count, got \"" + section["size"] + "\"";
                return false;
            }
            // The engine keeps file sizes and offsets signed.
            if (size > static_cast<uint64_t>(INT64_MAX)) {
                error = "[" + name + "] size: at most " + std::to_string(INT64_MAX) + " bytes, got " + section["size"];
                return false;
            }
            file.size = size;
        }
        if (Lower(section["torrent"]) == "none")
            file.noTorrent = true;
        else
            file.torrentPath = Resolve(base, section["torrent"]);
        for (const char *required : {"name", "url"}) {
            if (section[required].empty()) {
                error = "[" + name + "] " + required + " is missing";
                return false;
            }
        }
        if (file.path.empty() && (!file.size || file.md5.empty())) {
            error = "[" + name + "] needs either path (the file itself) or both size and md5";
            return false;
        }
    }
    return true;
}

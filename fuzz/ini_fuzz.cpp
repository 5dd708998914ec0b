// Parses arbitrary bytes as an ini file and checks that the document keeps
// the bytes exactly and that edits read back as written.
#include "platform/ini_parser.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using platform::IniDocument;

static void Require(bool condition)
{
    if (!condition)
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    IniDocument doc = IniDocument::Parse(text);
    Require(doc.Serialize() == text);

    std::string section;
    std::string key;
    for (const IniDocument::Line &line : doc.Lines()) {
        platform::IniValueToInt(line.value);
        if (key.empty() && line.kind == IniDocument::Kind::Entry && line.inSection) {
            section = doc.Lines()[line.section].name;
            key = line.name;
        }
    }
    if (!IniDocument::IsStorableSection(section) || !IniDocument::IsStorableKey(key))
        return 0;

    const std::string value = " \"fuzzed\" value ";
    Require(doc.Set(section, key, value));
    Require(doc.Find(section, key) == value);
    Require(IniDocument::Parse(doc.Serialize()).Find(section, key) == value);
    Require(doc.Set(section, "added key", "x"));
    Require(IniDocument::Parse(doc.Serialize()).Find(section, "added key") == "x");
    Require(doc.RemoveKey(section, key));
    Require(!doc.Find(section, key));
    Require(doc.RemoveSection(section));
    Require(!IniDocument::Parse(doc.Serialize()).Find(section, "added key"));
    return 0;
}

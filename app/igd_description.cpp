#include "app/igd_description.h"

#include <tinyxml2.h>

namespace {

const tinyxml2::XMLElement *Child(const tinyxml2::XMLNode *parent, const char *name)
{
    return parent != nullptr ? parent->FirstChildElement(name) : nullptr;
}

// Drops control characters and cuts at the limit without splitting a UTF-8
// sequence.
std::string Printable(const char *text)
{
    std::string kept;
    for (const char *p = text; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7F)
            continue;
        kept.push_back(static_cast<char>(c));
    }
    if (kept.size() <= kMaxFriendlyNameBytes)
        return kept;
    size_t end = kMaxFriendlyNameBytes;
    while (end > 0 && (static_cast<unsigned char>(kept[end]) & 0xC0) == 0x80)
        --end;
    kept.resize(end);
    return kept;
}

} // namespace

std::string ReadFriendlyName(std::string_view description)
{
    if (description.size() > kMaxIgdDescriptionBytes)
        return "";
    tinyxml2::XMLDocument document(true, tinyxml2::COLLAPSE_WHITESPACE);
    if (document.Parse(description.data(), description.size()) != tinyxml2::XML_SUCCESS)
        return "";
    const tinyxml2::XMLElement *name = Child(Child(Child(&document, "root"), "device"), "friendlyName");
    if (name == nullptr || name->GetText() == nullptr)
        return "";
    return Printable(name->GetText());
}

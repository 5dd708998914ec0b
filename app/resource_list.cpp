#include "app/resource_list.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

#include <tinyxml2.h>

namespace {

using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;

bool Parse(const std::string &text, XMLDocument &doc)
{
    return doc.Parse(text.data(), text.size()) == tinyxml2::XML_SUCCESS && doc.RootElement() != nullptr;
}

std::string TextOf(const XMLElement *element)
{
    const char *text = element != nullptr ? element->GetText() : nullptr;
    return text != nullptr ? text : "";
}

std::string AttributeOf(const XMLElement *element, const char *name)
{
    const char *value = element->Attribute(name);
    return value != nullptr ? value : "";
}

// Children named name, in order, up to the first child element of another
// name: the list's walks stop there.
template <typename Visit>
void ForEachLeading(const XMLElement *parent, const char *name, Visit visit)
{
    for (const XMLElement *child = parent != nullptr ? parent->FirstChildElement() : nullptr; child != nullptr;
         child = child->NextSiblingElement()) {
        if (std::strcmp(child->Name(), name) != 0)
            return;
        if (!visit(child))
            return;
    }
}

// Whitespace or control characters would split the engine's one-per-line
// mirror list or reach a request header.
bool IsClean(const std::string &text)
{
    for (unsigned char c : text) {
        if (c <= 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

bool IsNumberUpTo(const std::string &text, size_t from, size_t to, unsigned long max)
{
    if (to <= from || to - from > 5)
        return false;
    unsigned long value = 0;
    for (size_t i = from; i < to; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + static_cast<unsigned long>(text[i] - '0');
    }
    return value <= max;
}

// "a.b.c.d" with four parts of at most 255, and an optional ":port".
bool IsDottedAddress(const std::string &text)
{
    const size_t colon = text.find(':');
    const size_t end = colon == std::string::npos ? text.size() : colon;
    if (colon != std::string::npos && (!IsNumberUpTo(text, colon + 1, text.size(), 65535) ||
                                       std::strtoul(text.c_str() + colon + 1, nullptr, 10) == 0))
        return false;
    size_t from = 0;
    for (int part = 0; part < 4; ++part) {
        size_t dot = part < 3 ? text.find('.', from) : end;
        if (dot == std::string::npos || dot > end || dot - from > 3 || !IsNumberUpTo(text, from, dot, 255))
            return false;
        from = dot + 1;
    }
    return from == end + 1;
}

void ReadMirrors(const XMLElement *resource, std::vector<TListedMirror> &mirrors)
{
    ForEachLeading(resource, "cdn", [&](const XMLElement *cdn) {
        const std::string middleDir = AttributeOf(cdn, "middle-dir");
        const std::string fileName = AttributeOf(cdn, "file-name");
        const char *hostName = cdn->Attribute("host-name");
        const std::string host = hostName != nullptr ? hostName : "null";
        if (AttributeOf(cdn, "id").empty() || AttributeOf(cdn, "name").empty() || middleDir.empty() ||
            fileName.empty() || cdn->IntAttribute("open", 0) == 0)
            return true;
        if (middleDir[0] != '/' || !IsClean(middleDir) || !IsClean(fileName) || !IsClean(host))
            return true;
        ForEachLeading(cdn, "ip", [&](const XMLElement *ip) {
            const std::string address = TextOf(ip);
            if (IsDottedAddress(address))
                mirrors.push_back({"http://" + address + middleDir + fileName, host});
            return true;
        });
        return true;
    });
}

std::string Cut(std::string text)
{
    if (text.size() > kMaxExpiryTextBytes)
        text.resize(kMaxExpiryTextBytes);
    return text;
}

} // namespace

int ReadResourceList(const std::string &text, TResourceList &list)
{
    list = TResourceList();
    XMLDocument doc(true, tinyxml2::COLLAPSE_WHITESPACE);
    if (!Parse(text, doc) || std::strcmp(doc.RootElement()->Name(), "project") != 0)
        return -2;
    const XMLElement *configs = doc.RootElement()->FirstChildElement("configs");
    const XMLElement *p2pSwitch = configs != nullptr ? configs->FirstChildElement("p2p-switch") : nullptr;
    if (p2pSwitch == nullptr)
        return -2;
    list.p2pEnabled = TextOf(p2pSwitch) == "on";
    ForEachLeading(doc.RootElement()->FirstChildElement("resources"), "resource", [&](const XMLElement *resource) {
        if (AttributeOf(resource, "id").empty())
            return false;
        TListedResource listed;
        listed.task = AttributeOf(resource, "task");
        ReadMirrors(resource, listed.mirrors);
        list.resources.push_back(std::move(listed));
        return true;
    });
    return 0;
}

bool ReadExpiryText(const std::string &text, std::string &message, std::string &page)
{
    message.clear();
    page.clear();
    XMLDocument doc(true, tinyxml2::COLLAPSE_WHITESPACE);
    if (!Parse(text, doc))
        return false;
    const XMLElement *configs = doc.RootElement()->FirstChildElement("configs");
    const XMLElement *info = configs != nullptr ? configs->FirstChildElement("expire-info") : nullptr;
    if (info == nullptr || TextOf(info->FirstChildElement("expired")) != "true")
        return false;
    message = Cut(TextOf(info->FirstChildElement("message")));
    // Only a web page may be handed to the system's opener.
    const std::string url = Cut(TextOf(info->FirstChildElement("url")));
    if (strncasecmp(url.c_str(), "http://", 7) == 0 || strncasecmp(url.c_str(), "https://", 8) == 0)
        page = url;
    return true;
}

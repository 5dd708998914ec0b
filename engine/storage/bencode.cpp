#include "engine/storage/bencode.h"

#include "engine/storage/qmulti_element.h"

std::unique_ptr<QElement> NewElementFor(char lead)
{
    if (lead == 'd' || lead == 'D')
        return std::make_unique<QDictionaryElement>();
    if (lead == 'l' || lead == 'L')
        return std::make_unique<QListElement>();
    if (lead >= '0' && lead <= '9')
        return std::make_unique<QIntegerElement>();
    return nullptr;
}

std::unique_ptr<QElement> CreateElement(const char *text, int64_t length)
{
    if (!text || length <= 0 || text[0] == '\0')
        return nullptr;
    std::unique_ptr<QElement> element = NewElementFor(text[0]);
    if (!element || element->Parse(text, length) <= 0 || !element->IsValid())
        return nullptr;
    return element;
}

bool Encode(const QElement *element, std::string &out)
{
    int64_t size = EncodedLength(element);
    if (size <= 0)
        return false;
    // One reservation for the whole tree, with room for a little more.
    out.reserve(out.size() + static_cast<size_t>(size) + 1024);
    size_t before = out.size();
    if (!element->AppendEncoding(out)) {
        out.resize(before);
        return false;
    }
    return true;
}

int64_t EncodedLength(const QElement *element)
{
    return element ? element->EncodedLength() : 0;
}

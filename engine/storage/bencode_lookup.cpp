#include "engine/storage/bencode_lookup.h"

const QElement *IntegerEntry(const QElement &dictionary, std::string_view key)
{
    const QElement *entry = dictionary.FindValue(key);
    if (entry == nullptr || !entry->CarriesInteger() || entry->Bytes() != key)
        return nullptr;
    return entry;
}

const QElement *StringValue(const QElement &dictionary, std::string_view key)
{
    const QElement *value = dictionary.FindValue(key);
    if (value == nullptr || value->Type() != ELEMENT_STRING || value->CarriesInteger())
        return nullptr;
    return value;
}

const QElement *ListValue(const QElement &dictionary, std::string_view key)
{
    const QElement *value = dictionary.FindValue(key);
    return value != nullptr && value->Type() == ELEMENT_LIST ? value : nullptr;
}

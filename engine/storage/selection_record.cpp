#include "engine/storage/selection_record.h"

#include "engine/storage/bencode.h"

std::string EncodeSelectionRecord(const std::vector<TSelectionEntry> &entries)
{
    std::unique_ptr<QElement> root = CreateElement("le", 2);
    for (const TSelectionEntry &entry : entries) {
        // An empty name cannot carry the mark; such a file stays selected.
        root->AppendString(entry.name, entry.deselected ? 1 : 0, entry.deselected && !entry.name.empty());
        root->Append(CreateElement("de", 2));
    }
    std::string out;
    Encode(root.get(), out);
    return out;
}

bool DecodeSelectionRecord(const std::string &bytes, std::set<std::string> &deselected)
{
    deselected.clear();
    if (bytes.empty())
        return false;
    std::unique_ptr<QElement> root = CreateElement(bytes.data(), static_cast<int64_t>(bytes.size()));
    if (!root || root->Type() != ELEMENT_LIST || root->Count() == 0)
        return false;
    for (int64_t i = 0; i < root->Count(); i += 2) {
        const QElement *name = root->ItemAt(i);
        if (name->Type() == ELEMENT_STRING && name->Integer() != 0)
            deselected.insert(std::string(name->Bytes()));
    }
    return true;
}

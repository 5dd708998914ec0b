#include "engine/storage/qmulti_element.h"

#include "engine/storage/bencode.h"

namespace {

bool IsOpener(char c)
{
    return c == 'd' || c == 'D' || c == 'l' || c == 'L';
}

bool IsCloser(char c)
{
    return c == 'e' || c == 'E';
}

bool IsStringWithBytes(const QElement *element, std::string_view bytes)
{
    return element->Type() == ELEMENT_STRING && element->Bytes() == bytes;
}

} // namespace

void QMultiElement::Reset()
{
    // Children are owned here, so none of them can still point back at us.
    for (auto &child : children)
        child->parent = nullptr;
    children.clear();
    opener = 0;
    closer = 0;
    QElement::Reset();
}

int64_t QMultiElement::ParseAt(const char *text, int64_t length, int depth)
{
    Reset();
    if (!text || length < 2 || text[0] == '\0')
        return PARSE_NOTHING;
    if (depth > kMaxDepth)
        return PARSE_SYNTAX;

    int64_t pos = 0;
    int64_t bodyEnd = length;
    char open = 0;
    char close = 0;
    if (IsOpener(text[0])) {
        open = text[0];
        pos = 1;
        // The last byte stays out of the body: the closer needs it.
        bodyEnd = length - 1;
    }
    if (!(open && IsCloser(text[1]))) {
        int64_t consumed = ParseChildren(text + pos, bodyEnd - pos, depth);
        if (consumed <= 0) {
            Reset();
            return PARSE_SYNTAX;
        }
        pos += consumed;
    }
    if (open) {
        if (!IsCloser(text[pos])) {
            Reset();
            return PARSE_SYNTAX;
        }
        close = text[pos];
        ++pos;
    }
    opener = open;
    closer = close;
    source = text;
    encodedLength = pos;
    valid = true;
    return pos;
}

int64_t QMultiElement::ParseChildren(const char *text, int64_t length, int depth)
{
    int64_t pos = 0;
    while (pos < length && text[pos] != '\0' && !IsCloser(text[pos])) {
        std::unique_ptr<QElement> child = NewElementFor(text[pos]);
        if (!child)
            return PARSE_NOTHING;
        int64_t consumed = child->ParseAt(text + pos, length - pos, depth + 1);
        if (consumed <= 0)
            return PARSE_SYNTAX;
        child->parent = this;
        child->indexInParent = static_cast<int64_t>(children.size());
        children.push_back(std::move(child));
        pos += consumed;
    }
    return pos;
}

bool QMultiElement::IsChild(const QElement *element) const
{
    return element && element->parent == this;
}

bool QMultiElement::IsAncestorOrSelf(const QElement *element) const
{
    for (const QElement *node = this; node; node = node->parent) {
        if (node == element)
            return true;
    }
    return false;
}

void QMultiElement::Renumber(size_t from)
{
    for (size_t i = from; i < children.size(); ++i)
        children[i]->indexInParent = static_cast<int64_t>(i);
}

QElement *QMultiElement::Next(const QElement *child) const
{
    if (!IsChild(child))
        return nullptr;
    return ItemAt(child->indexInParent + 1);
}

QElement *QMultiElement::Previous(const QElement *child) const
{
    if (!IsChild(child))
        return nullptr;
    return ItemAt(child->indexInParent - 1);
}

QElement *QMultiElement::FindValue(std::string_view key) const
{
    if (!valid)
        return nullptr;
    for (size_t i = 0; i < children.size(); ++i) {
        const QElement *child = children[i].get();
        if (IsStringWithBytes(child, key)) {
            if (child->CarriesInteger())
                return children[i].get();
            if (i + 1 < children.size() && !children[i + 1]->CarriesInteger())
                return children[i + 1].get();
            return nullptr;
        }
        if (!child->CarriesInteger())
            ++i; // pass over this key's value
    }
    return nullptr;
}

QElement *QMultiElement::FindElement(std::string_view bytes) const
{
    if (!valid)
        return nullptr;
    for (const auto &child : children) {
        if (IsStringWithBytes(child.get(), bytes))
            return child.get();
    }
    return nullptr;
}

QElement *QMultiElement::ItemAt(int64_t index) const
{
    if (!valid || index < 0 || index >= static_cast<int64_t>(children.size()))
        return nullptr;
    return children[static_cast<size_t>(index)].get();
}

QElement *QMultiElement::InsertAt(int64_t index, std::unique_ptr<QElement> &&element)
{
    if (!valid || !element || element->parent || index < 0 || index > static_cast<int64_t>(children.size()))
        return nullptr;
    if (element->EncodedLength() <= 0 || IsAncestorOrSelf(element.get()))
        return nullptr;
    QElement *added = element.get();
    added->parent = this;
    children.insert(children.begin() + index, std::move(element));
    Renumber(static_cast<size_t>(index));
    GrowEncodedLength(added->EncodedLength());
    return added;
}

QElement *QMultiElement::Append(std::unique_ptr<QElement> &&element)
{
    return InsertAt(static_cast<int64_t>(children.size()), std::move(element));
}

QElement *QMultiElement::InsertStringAt(int64_t index, std::string_view bytes, int64_t value, bool flag)
{
    if (bytes.empty() && (value != 0 || flag))
        return nullptr;
    return InsertAt(index, std::make_unique<QIntegerElement>(bytes, value, flag));
}

QElement *QMultiElement::AppendString(std::string_view bytes, int64_t value, bool flag)
{
    return InsertStringAt(static_cast<int64_t>(children.size()), bytes, value, flag);
}

std::unique_ptr<QElement> QMultiElement::DetachAt(int64_t index)
{
    if (index < 0 || index >= static_cast<int64_t>(children.size()))
        return nullptr;
    std::unique_ptr<QElement> taken = std::move(children[static_cast<size_t>(index)]);
    children.erase(children.begin() + index);
    Renumber(static_cast<size_t>(index));
    taken->parent = nullptr;
    taken->indexInParent = 0;
    GrowEncodedLength(-taken->EncodedLength());
    return taken;
}

std::unique_ptr<QElement> QMultiElement::Detach(QElement *child)
{
    if (!IsChild(child))
        return nullptr;
    return DetachAt(child->indexInParent);
}

bool QMultiElement::DeleteAt(int64_t index)
{
    return DetachAt(index) != nullptr;
}

bool QMultiElement::Delete(QElement *child)
{
    return Detach(child) != nullptr;
}

bool QMultiElement::Clear()
{
    if (!valid)
        return false;
    int64_t removed = 0;
    for (auto &child : children) {
        removed += child->EncodedLength();
        child->parent = nullptr;
    }
    children.clear();
    GrowEncodedLength(-removed);
    return true;
}

int64_t QMultiElement::Count() const
{
    return valid ? static_cast<int64_t>(children.size()) : 0;
}

std::string QMultiElement::Text(std::string_view separator) const
{
    std::string joined;
    if (!valid)
        return joined;
    for (size_t i = 0; i < children.size(); ++i) {
        if (i > 0)
            joined += separator;
        joined += children[i]->Text(separator);
    }
    return joined;
}

void QMultiElement::SetCodePage(int32_t page)
{
    QElement::SetCodePage(page);
    for (auto &child : children)
        child->SetCodePage(page);
}

bool QMultiElement::AppendEncoding(std::string &out) const
{
    if (!valid)
        return false;
    if (opener)
        out += opener;
    for (const auto &child : children) {
        if (!child->AppendEncoding(out))
            return false;
    }
    if (closer)
        out += closer;
    return true;
}

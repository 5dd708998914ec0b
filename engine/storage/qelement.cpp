#include "engine/storage/qelement.h"

#include <limits>

#include "engine/storage/qmulti_element.h"
#include "platform/code_page.h"

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Control characters, blank, punctuation up to '/' and digits: what the
// reader lets stand between a number and the ':' or 'e' that ends it.
bool IsNumberFiller(char c)
{
    return c >= 0x01 && c <= 0x39;
}

bool IsPrintableAscii(std::string_view bytes)
{
    for (char c : bytes) {
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

// Reads an attached integer's text (between 'i' and 'e'): blanks and tabs,
// an optional sign, then at most 32 digits. False when the value does not
// fit in 64 bits.
bool ReadInteger(std::string_view text, int64_t &value)
{
    size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const uint64_t limit = negative ? uint64_t{1} << 63 : static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    uint64_t magnitude = 0;
    for (int digits = 0; pos < text.size() && digits < 32 && IsDigit(text[pos]); ++pos, ++digits) {
        uint64_t digit = static_cast<uint64_t>(text[pos] - '0');
        if (magnitude > (limit - digit) / 10)
            return false;
        magnitude = magnitude * 10 + digit;
    }
    value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

std::string CanonicalInteger(int64_t value)
{
    return "i" + std::to_string(value) + "e";
}

} // namespace

QElement::~QElement() = default;

int64_t QElement::Parse(const char *text, int64_t length)
{
    if (parent)
        return PARSE_NOTHING;
    return ParseAt(text, length, 1);
}

QElement *QElement::Next(const QElement *) const
{
    return nullptr;
}

QElement *QElement::Previous(const QElement *) const
{
    return nullptr;
}

QElement *QElement::FindValue(std::string_view) const
{
    return nullptr;
}

QElement *QElement::FindElement(std::string_view) const
{
    return nullptr;
}

QElement *QElement::ItemAt(int64_t) const
{
    return nullptr;
}

QElement *QElement::Append(std::unique_ptr<QElement> &&)
{
    return nullptr;
}

QElement *QElement::InsertAt(int64_t, std::unique_ptr<QElement> &&)
{
    return nullptr;
}

QElement *QElement::AppendString(std::string_view, int64_t, bool)
{
    return nullptr;
}

QElement *QElement::InsertStringAt(int64_t, std::string_view, int64_t, bool)
{
    return nullptr;
}

bool QElement::DeleteAt(int64_t)
{
    return false;
}

bool QElement::Delete(QElement *)
{
    return false;
}

std::unique_ptr<QElement> QElement::DetachAt(int64_t)
{
    return nullptr;
}

std::unique_ptr<QElement> QElement::Detach(QElement *)
{
    return nullptr;
}

bool QElement::Clear()
{
    return false;
}

int64_t QElement::Count() const
{
    return 0;
}

std::string QElement::Text(std::string_view) const
{
    if (!valid || data.empty())
        return std::string();
    if (codePage == 0 || IsPrintableAscii(data))
        return data;
    std::string converted;
    platform::CodePageToUtf8(codePage, data, converted);
    return converted;
}

void QElement::SetCodePage(int32_t page)
{
    codePage = page;
}

void QElement::Reset()
{
    valid = false;
    hasInteger = false;
    codePage = 0;
    source = nullptr;
    data.clear();
    integer = 0;
    encodedLength = 0;
}

void QElement::GrowEncodedLength(int64_t delta)
{
    for (QElement *element = this; element; element = element->parent)
        element->encodedLength += delta;
}

QIntegerElement::QIntegerElement(std::string_view bytes, int64_t value, bool flag)
{
    valid = true;
    data.assign(bytes);
    integer = value;
    hasInteger = flag;
    encodedLength = ComputeEncodedLength();
}

void QIntegerElement::Reset()
{
    QElement::Reset();
    lengthSpelling.clear();
    integerSpelling.clear();
}

int64_t QIntegerElement::ComputeEncodedLength() const
{
    int64_t head = lengthSpelling.empty() ? static_cast<int64_t>(std::to_string(data.size()).size())
                                          : static_cast<int64_t>(lengthSpelling.size());
    int64_t total = head + 1 + static_cast<int64_t>(data.size());
    if (hasInteger || integer != 0) {
        total += integerSpelling.empty() ? static_cast<int64_t>(CanonicalInteger(integer).size())
                                         : static_cast<int64_t>(integerSpelling.size());
    }
    return total;
}

int64_t QIntegerElement::ParseAt(const char *text, int64_t length, int)
{
    Reset();
    if (!text || length <= 0 || !IsDigit(text[0]))
        return PARSE_NOTHING;

    // At most 12 digits of length: more cannot fit in any text we read.
    int64_t stringLength = 0;
    int64_t pos = 0;
    for (int digits = 0; pos < length && digits < 12 && IsDigit(text[pos]); ++pos, ++digits)
        stringLength = stringLength * 10 + (text[pos] - '0');
    while (pos < length && IsNumberFiller(text[pos]))
        ++pos;
    if (pos >= length || text[pos] != ':')
        return PARSE_SYNTAX;
    const int64_t dataStart = pos + 1;
    if (stringLength > length - dataStart)
        return PARSE_LENGTH;

    std::string_view head(text, static_cast<size_t>(pos));
    std::string_view bytes(text + dataStart, static_cast<size_t>(stringLength));
    int64_t end = dataStart + stringLength;
    bool flag = false;
    int64_t value = 0;
    std::string_view tail;
    if (end < length && (text[end] == 'i' || text[end] == 'I')) {
        int64_t close = end + 1;
        while (close < length && IsNumberFiller(text[close]))
            ++close;
        if (close >= length || text[close] != 'e')
            return PARSE_SYNTAX;
        if (!ReadInteger(std::string_view(text + end + 1, static_cast<size_t>(close - end - 1)), value))
            return PARSE_SYNTAX;
        flag = true;
        tail = std::string_view(text + end, static_cast<size_t>(close + 1 - end));
        end = close + 1;
    }

    data.assign(bytes);
    integer = value;
    hasInteger = flag;
    if (head != std::to_string(stringLength))
        lengthSpelling.assign(head);
    if (flag && tail != CanonicalInteger(value))
        integerSpelling.assign(tail);
    source = text;
    encodedLength = end;
    valid = true;
    return end;
}

bool QIntegerElement::AppendEncoding(std::string &out) const
{
    if (!valid)
        return false;
    if (lengthSpelling.empty())
        out += std::to_string(data.size());
    else
        out += lengthSpelling;
    out += ':';
    out += data;
    if (hasInteger || integer != 0)
        out += integerSpelling.empty() ? CanonicalInteger(integer) : integerSpelling;
    return true;
}

#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class QMultiElement;

// The kind an element is built as; its type equals the kind once it is valid
// and is 0 while it is empty or after a failed parse.
enum : int32_t {
    ELEMENT_CONTAINER = 1,
    ELEMENT_STRING = 2,
    ELEMENT_DICTIONARY = 3,
    ELEMENT_LIST = 4,
};

// Parse results other than a byte count: nothing recognised, a syntax error
// (missing ':' or 'e', a child that does not parse, nesting too deep), a
// length that is negative or runs past the end of the text.
constexpr int64_t PARSE_NOTHING = 0;
constexpr int64_t PARSE_SYNTAX = -1;
constexpr int64_t PARSE_LENGTH = -3;

// One node of the bencode tree. A byte string and an integer that directly
// follows it form one element ("6:lengthi1024e"), so a dictionary is a flat
// list in which a key carrying an integer is a whole entry and any other key
// is followed by its value.
//
// Ownership: a container owns its children. An element without a parent is
// owned by whoever holds it (a std::unique_ptr from CreateElement, Detach).
class QElement {
public:
    // Containers nested deeper than this do not parse: hostile input cannot
    // exhaust the stack.
    static constexpr int kMaxDepth = 64;

    virtual ~QElement();
    QElement(const QElement &) = delete;
    QElement &operator=(const QElement &) = delete;

    // Parses the element from the start of text, reading at most length
    // bytes; returns the bytes consumed or PARSE_NOTHING, PARSE_SYNTAX,
    // PARSE_LENGTH. The element is emptied first. Only an element without a
    // parent can be parsed.
    int64_t Parse(const char *text, int64_t length);

    // The kind this element is built as.
    virtual int32_t Kind() const = 0;
    // The kind while valid, else 0.
    int32_t Type() const { return valid ? Kind() : 0; }
    bool IsValid() const { return valid; }

    // Container operations; on a string element they find nothing and
    // change nothing.
    virtual QElement *Next(const QElement *child) const;
    virtual QElement *Previous(const QElement *child) const;
    // Pair-wise lookup: a child carrying an integer is a whole entry, any
    // other child a key whose value is the child after it.
    virtual QElement *FindValue(std::string_view key) const;
    // The first child, key or value alike, whose bytes equal the given ones.
    virtual QElement *FindElement(std::string_view bytes) const;
    virtual QElement *ItemAt(int64_t index) const;
    // Takes a valid element without a parent (and not an ancestor of this
    // one) as the last child. When refused, the caller keeps the element.
    virtual QElement *Append(std::unique_ptr<QElement> &&element);
    virtual QElement *InsertAt(int64_t index, std::unique_ptr<QElement> &&element);
    // Builds a string element. With hasInteger clear and integer 0 it carries
    // no integer and encodes as a bare string: the state file's form of a key
    // whose value is 0. An empty string cannot carry an integer.
    virtual QElement *AppendString(std::string_view bytes, int64_t integer = 0, bool hasInteger = false);
    virtual QElement *InsertStringAt(int64_t index, std::string_view bytes, int64_t integer = 0,
                                     bool hasInteger = false);
    virtual bool DeleteAt(int64_t index);
    virtual bool Delete(QElement *child);
    // Removes a child without destroying it and hands it to the caller.
    virtual std::unique_ptr<QElement> DetachAt(int64_t index);
    virtual std::unique_ptr<QElement> Detach(QElement *child);
    virtual bool Clear();
    virtual int64_t Count() const;

    // A string element's bytes in the system code page (converted from the
    // element's code page unless they are plain printable ASCII; empty when
    // they do not convert). A container joins its children's texts.
    virtual std::string Text(std::string_view separator = {}) const;
    // A container passes the code page on to every descendant.
    virtual void SetCodePage(int32_t page);

    // Raw bytes of a string element (empty when invalid), their count (-1
    // when invalid) and the attached integer (0 when invalid or absent).
    std::string_view Bytes() const { return valid ? std::string_view(data) : std::string_view(); }
    int64_t Length() const { return valid ? static_cast<int64_t>(data.size()) : -1; }
    int64_t Integer() const { return valid ? integer : 0; }
    bool HasIntegerFlag() const { return valid && hasInteger; }
    // Whether the element is a key and its integer in one: the flag is set or
    // the value is non-zero.
    bool CarriesInteger() const { return valid && (hasInteger || integer != 0); }
    int32_t CodePage() const { return codePage; }
    // First byte of the element inside the text it was parsed from; that text
    // must still exist. Null for built elements.
    const char *Source() const { return source; }
    // Bytes the element takes when encoded: for a parsed element exactly the
    // bytes it consumed. 0 when invalid.
    int64_t EncodedLength() const { return valid ? encodedLength : 0; }
    QMultiElement *Parent() const { return parent; }

    // Appends the encoding; false (nothing appended) for an invalid element.
    virtual bool AppendEncoding(std::string &out) const = 0;

protected:
    QElement() = default;

    virtual int64_t ParseAt(const char *text, int64_t length, int depth) = 0;
    // Empties the element: data, integer, code page and, for a container, its
    // children. The element must not be attached.
    virtual void Reset();
    // Adds delta to this element's encoded length and to every ancestor's.
    void GrowEncodedLength(int64_t delta);

    bool valid = false;
    bool hasInteger = false;
    int32_t codePage = 0;
    const char *source = nullptr;
    std::string data;
    int64_t integer = 0;
    int64_t encodedLength = 0;
    QMultiElement *parent = nullptr;
    int64_t indexInParent = 0;

    friend class QMultiElement;
};

// The byte-string element, with its optional attached integer. Lengths and
// integers spelt in a form the writer would not produce ("03:abc", "i+5e")
// are kept as read, so that a parsed element encodes to the same bytes.
class QIntegerElement : public QElement {
public:
    QIntegerElement() = default;
    // A valid string element built from bytes and an optional integer.
    QIntegerElement(std::string_view bytes, int64_t integer, bool hasInteger);

    int32_t Kind() const override { return ELEMENT_STRING; }
    bool AppendEncoding(std::string &out) const override;

protected:
    int64_t ParseAt(const char *text, int64_t length, int depth) override;
    void Reset() override;

private:
    int64_t ComputeEncodedLength() const;

    // The bytes before ':' and the bytes from 'i' through 'e', kept only when
    // they differ from the canonical decimal form.
    std::string lengthSpelling;
    std::string integerSpelling;
};

#pragma once
#include <memory>
#include <vector>

#include "engine/storage/qelement.h"

// A container: an ordered list of owned children between an opening 'd' or
// 'l' and a closing 'e'. A dictionary's children alternate key and value,
// except where a key carries its integer value itself.
class QMultiElement : public QElement {
public:
    int32_t Kind() const override { return ELEMENT_CONTAINER; }

    QElement *Next(const QElement *child) const override;
    QElement *Previous(const QElement *child) const override;
    QElement *FindValue(std::string_view key) const override;
    QElement *FindElement(std::string_view bytes) const override;
    QElement *ItemAt(int64_t index) const override;
    QElement *Append(std::unique_ptr<QElement> &&element) override;
    QElement *InsertAt(int64_t index, std::unique_ptr<QElement> &&element) override;
    QElement *AppendString(std::string_view bytes, int64_t integer = 0, bool hasInteger = false) override;
    QElement *InsertStringAt(int64_t index, std::string_view bytes, int64_t integer = 0,
                             bool hasInteger = false) override;
    bool DeleteAt(int64_t index) override;
    bool Delete(QElement *child) override;
    std::unique_ptr<QElement> DetachAt(int64_t index) override;
    std::unique_ptr<QElement> Detach(QElement *child) override;
    bool Clear() override;
    int64_t Count() const override;
    std::string Text(std::string_view separator = {}) const override;
    void SetCodePage(int32_t page) override;
    bool AppendEncoding(std::string &out) const override;

protected:
    // Only dictionaries and lists exist as objects.
    QMultiElement() = default;

    int64_t ParseAt(const char *text, int64_t length, int depth) override;
    void Reset() override;

private:
    // Parses children until the text ends or reaches a NUL, 'e' or 'E';
    // returns the bytes consumed, 0 when a child has an unknown first byte,
    // or PARSE_SYNTAX when a child fails.
    int64_t ParseChildren(const char *text, int64_t length, int depth);
    bool IsChild(const QElement *element) const;
    bool IsAncestorOrSelf(const QElement *element) const;
    void Renumber(size_t from);

    std::vector<std::unique_ptr<QElement>> children;
    // Bracket bytes as read ('d', 'D', 'l', 'L'; 'e', 'E'); 0 when the text
    // had none.
    char opener = 0;
    char closer = 0;
};

class QDictionaryElement : public QMultiElement {
public:
    QDictionaryElement() = default;
    int32_t Kind() const override { return ELEMENT_DICTIONARY; }
};

class QListElement : public QMultiElement {
public:
    QListElement() = default;
    int32_t Kind() const override { return ELEMENT_LIST; }
};

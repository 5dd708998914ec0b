#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/bencode.h"
#include "engine/storage/qmulti_element.h"

namespace {

// The text in a heap block of exactly its size, with no terminating NUL, so
// that any read past the end shows up under AddressSanitizer.
class ExactBuffer {
public:
    explicit ExactBuffer(std::string_view text) : bytes(new char[text.size() ? text.size() : 1]), size(text.size())
    {
        std::memcpy(bytes.get(), text.data(), text.size());
    }
    const char *data() const { return bytes.get(); }
    int64_t length() const { return static_cast<int64_t>(size); }

private:
    std::unique_ptr<char[]> bytes;
    size_t size;
};

std::unique_ptr<QElement> Create(std::string_view text)
{
    ExactBuffer buffer(text);
    return CreateElement(buffer.data(), buffer.length());
}

int64_t ParseString(std::string_view text)
{
    ExactBuffer buffer(text);
    QIntegerElement element;
    return element.Parse(buffer.data(), buffer.length());
}

int64_t ParseList(std::string_view text)
{
    ExactBuffer buffer(text);
    QListElement element;
    return element.Parse(buffer.data(), buffer.length());
}

std::string Encoded(const QElement *element)
{
    std::string out;
    EXPECT_TRUE(Encode(element, out));
    EXPECT_EQ(static_cast<int64_t>(out.size()), EncodedLength(element));
    return out;
}

std::string Nested(int depth)
{
    return std::string(static_cast<size_t>(depth), 'l') + std::string(static_cast<size_t>(depth), 'e');
}

} // namespace

TEST(BencodeString, KeyAndIntegerFormOneElement)
{
    auto element = Create("4:spami-5e");
    ASSERT_TRUE(element);
    EXPECT_EQ(element->Type(), ELEMENT_STRING);
    EXPECT_EQ(element->Bytes(), "spam");
    EXPECT_EQ(element->Integer(), -5);
    EXPECT_TRUE(element->HasIntegerFlag());
    EXPECT_EQ(element->EncodedLength(), 10);
    EXPECT_EQ(Encoded(element.get()), "4:spami-5e");
}

TEST(BencodeString, LengthsThatDoNotFitAreRefused)
{
    EXPECT_EQ(ParseString("4294967295:abc"), PARSE_LENGTH); // -1 in 32 bits
    EXPECT_EQ(ParseString("999999999999:abc"), PARSE_LENGTH);
    EXPECT_EQ(ParseString("5:abcd"), PARSE_LENGTH);
    EXPECT_EQ(ParseString("3:abc"), 5);
    EXPECT_EQ(ParseString("0:"), 2);
}

TEST(BencodeString, MalformedTextIsASyntaxError)
{
    EXPECT_EQ(ParseString("3abc"), PARSE_SYNTAX);
    EXPECT_EQ(ParseString("12"), PARSE_SYNTAX);          // runs out before ':'
    EXPECT_EQ(ParseString("1:ai5"), PARSE_SYNTAX);       // runs out before 'e'
    EXPECT_EQ(ParseString("1:ai5Xe"), PARSE_SYNTAX);     // junk inside the integer
    EXPECT_EQ(ParseString("1:ai5E"), PARSE_SYNTAX);      // the integer ends with a lowercase e
    EXPECT_EQ(ParseString("x:a"), PARSE_NOTHING);
    EXPECT_EQ(ParseString(""), PARSE_NOTHING);
    EXPECT_FALSE(Create("-1:a"));
}

TEST(BencodeString, IntegersAreRangeChecked)
{
    auto top = Create("1:ai9223372036854775807e");
    ASSERT_TRUE(top);
    EXPECT_EQ(top->Integer(), INT64_MAX);
    auto bottom = Create("1:ai-9223372036854775808e");
    ASSERT_TRUE(bottom);
    EXPECT_EQ(bottom->Integer(), INT64_MIN);
    EXPECT_EQ(ParseString("1:ai9223372036854775808e"), PARSE_SYNTAX);
    EXPECT_EQ(ParseString("1:ai-9223372036854775809e"), PARSE_SYNTAX);
    EXPECT_EQ(ParseString("1:ai99999999999999999999999e"), PARSE_SYNTAX);
}

TEST(BencodeString, UnusualSpellingsEncodeAsRead)
{
    for (const char *text : {"03:abc", "3 :abc", "3\t-:abc", "4:spami+5e", "4:spami 5e", "4:spamIe", "4:spami-0e",
                             "4:spami5-3e", "0000000000003:"}) {
        SCOPED_TRACE(text);
        auto element = Create(text);
        ASSERT_TRUE(element);
        EXPECT_EQ(element->EncodedLength(), static_cast<int64_t>(std::strlen(text)));
        EXPECT_EQ(Encoded(element.get()), text);
    }
    auto plus = Create("4:spami +7e");
    ASSERT_TRUE(plus);
    EXPECT_EQ(plus->Integer(), 7);
    // Only twelve digits make up a length; the rest is passed over.
    auto twelve = Create("0000000000003:");
    ASSERT_TRUE(twelve);
    EXPECT_EQ(twelve->Length(), 0);
}

TEST(BencodeContainer, ParsesNestedChildren)
{
    auto dict = Create("d4:spaml1:a1:bee");
    ASSERT_TRUE(dict);
    EXPECT_EQ(dict->Type(), ELEMENT_DICTIONARY);
    ASSERT_EQ(dict->Count(), 2);
    EXPECT_EQ(dict->ItemAt(0)->Bytes(), "spam");
    QElement *list = dict->ItemAt(1);
    EXPECT_EQ(list->Type(), ELEMENT_LIST);
    EXPECT_EQ(list->Count(), 2);
    EXPECT_EQ(list->Text(","), "a,b");
    EXPECT_EQ(list->Parent(), dict.get());
    EXPECT_EQ(dict->Next(dict->ItemAt(0)), list);
    EXPECT_EQ(dict->Previous(list), dict->ItemAt(0));
    EXPECT_EQ(dict->Next(list), nullptr);
    EXPECT_EQ(dict->Next(list->ItemAt(0)), nullptr); // not a direct child
    EXPECT_EQ(Encoded(dict.get()), "d4:spaml1:a1:bee");

    auto withInteger = Create("l4:spami42ee");
    ASSERT_TRUE(withInteger);
    ASSERT_EQ(withInteger->Count(), 1);
    EXPECT_EQ(withInteger->ItemAt(0)->Integer(), 42);
}

TEST(BencodeContainer, BareIntegersAndBrokenContainersFail)
{
    EXPECT_FALSE(Create("li1ei2ee"));
    EXPECT_FALSE(Create("d1:ai5Xe"));
    EXPECT_FALSE(Create("d"));
    EXPECT_FALSE(Create("d1:a"));      // no closing e
    EXPECT_FALSE(Create("l1:ax"));     // unknown byte where a child starts
    EXPECT_FALSE(Create(std::string("l1:a\0e", 6))); // NUL where a child starts
    EXPECT_FALSE(Create("l5:abce"));   // child runs into the closer
    EXPECT_FALSE(Create("x"));
}

TEST(BencodeContainer, EmptyContainersAndTrailingBytes)
{
    for (const char *text : {"de", "le", "DE", "lE"}) {
        SCOPED_TRACE(text);
        auto element = Create(text);
        ASSERT_TRUE(element);
        EXPECT_EQ(element->Count(), 0);
        EXPECT_EQ(element->EncodedLength(), 2);
        EXPECT_EQ(Encoded(element.get()), text);
    }
    ExactBuffer trailing("d1:a1:bexyz");
    QDictionaryElement dict;
    EXPECT_EQ(dict.Parse(trailing.data(), trailing.length()), 8);
    EXPECT_EQ(Encoded(&dict), "d1:a1:be");
}

TEST(BencodeContainer, UnbracketedTextParsesAsASequence)
{
    ExactBuffer text("1:a1:bi2e");
    QListElement list;
    EXPECT_EQ(list.Parse(text.data(), text.length()), 9);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(Encoded(&list), "1:a1:bi2e");
    EXPECT_EQ(ParseList("e1:a"), PARSE_SYNTAX);
}

TEST(BencodeContainer, NestingDepthIsCapped)
{
    auto deepest = Create(Nested(QElement::kMaxDepth));
    ASSERT_TRUE(deepest);
    EXPECT_EQ(Encoded(deepest.get()), Nested(QElement::kMaxDepth));
    EXPECT_EQ(ParseList(Nested(QElement::kMaxDepth + 1)), PARSE_SYNTAX);
    EXPECT_FALSE(Create(std::string(100000, 'l')));
}

TEST(BencodeContainer, ParsingRefusesAnAttachedElement)
{
    auto list = Create("l1:ae");
    ASSERT_TRUE(list);
    QElement *child = list->ItemAt(0);
    EXPECT_EQ(child->Parse("1:b", 3), PARSE_NOTHING);
    EXPECT_EQ(child->Bytes(), "a");
}

TEST(BencodeLookup, PairWiseKeyLookup)
{
    auto zero = Create("d3:keyi0ee");
    ASSERT_TRUE(zero);
    ASSERT_EQ(zero->Count(), 1);
    QElement *found = zero->FindValue("key");
    ASSERT_EQ(found, zero->ItemAt(0));
    EXPECT_TRUE(found->HasIntegerFlag());
    EXPECT_EQ(found->Integer(), 0);

    auto mixed = Create("d1:a1:b1:ci3ee");
    ASSERT_TRUE(mixed);
    EXPECT_EQ(mixed->FindValue("c"), mixed->ItemAt(2));
    EXPECT_EQ(mixed->FindValue("c")->Integer(), 3);
    EXPECT_EQ(mixed->FindValue("b"), nullptr); // b is a's value, never a key
    EXPECT_EQ(mixed->FindValue("a")->Bytes(), "b");
    EXPECT_EQ(mixed->FindElement("b"), mixed->ItemAt(1));

    // A key whose next element carries an integer has no value of its own.
    auto orphan = Create("d1:a1:bi1ee");
    ASSERT_TRUE(orphan);
    EXPECT_EQ(orphan->FindValue("a"), nullptr);

    // A container never matches a key, not even the empty one.
    auto containers = Create("dle1:x0:1:ye");
    ASSERT_TRUE(containers);
    EXPECT_EQ(containers->FindElement(""), containers->ItemAt(2));
    EXPECT_EQ(containers->FindValue("")->Bytes(), "y");
}

TEST(BencodeBuild, StringsWithAndWithoutIntegers)
{
    auto dict = Create("de");
    ASSERT_TRUE(dict);
    // The state file's record form: a zero value is written as the bare key.
    ASSERT_TRUE(dict->AppendString("Index"));
    ASSERT_TRUE(dict->AppendString("Part", 131072));
    ASSERT_TRUE(dict->AppendString("Size", -1));
    ASSERT_TRUE(dict->AppendString("Flag", 0, true));
    EXPECT_FALSE(dict->AppendString("", 5));
    EXPECT_FALSE(dict->AppendString("", 0, true));
    ASSERT_TRUE(dict->AppendString(""));
    const std::string text = Encoded(dict.get());
    EXPECT_EQ(text, "d5:Index4:Parti131072e4:Sizei-1e4:Flagi0e0:e");

    auto back = Create(text);
    ASSERT_TRUE(back);
    EXPECT_FALSE(back->ItemAt(0)->CarriesInteger());
    EXPECT_EQ(back->ItemAt(0)->Integer(), 0);
    // A bare key pairs with the next element, which here is a whole entry
    // itself: readers of such records walk them by position.
    EXPECT_EQ(back->FindValue("Index"), nullptr);
    EXPECT_EQ(back->ItemAt(1)->Integer(), 131072);
    EXPECT_EQ(back->ItemAt(2)->Integer(), -1);
    EXPECT_TRUE(back->ItemAt(3)->HasIntegerFlag());
}

TEST(BencodeBuild, ABareKeyTakesTheNextElementAsItsValue)
{
    auto dict = Create("de");
    ASSERT_TRUE(dict);
    ASSERT_TRUE(dict->AppendString("spam", 0, false));
    ASSERT_TRUE(dict->AppendString("value"));
    auto back = Create(Encoded(dict.get()));
    ASSERT_TRUE(back);
    EXPECT_EQ(Encoded(back.get()), "d4:spam5:valuee");
    EXPECT_FALSE(back->ItemAt(0)->CarriesInteger());
    EXPECT_EQ(back->FindValue("spam"), back->ItemAt(1));
}

TEST(BencodeBuild, EncodedLengthFollowsEveryChange)
{
    auto root = Create("d4:listle3:key5:valuee");
    ASSERT_TRUE(root);
    QElement *list = root->ItemAt(1);
    ASSERT_TRUE(list->AppendString("a", 7));
    ASSERT_TRUE(list->InsertStringAt(0, "first"));
    ASSERT_TRUE(list->Append(Create("l1:xe")));
    EXPECT_EQ(Encoded(root.get()), "d4:listl5:first1:ai7el1:xee3:key5:valuee");
    EXPECT_EQ(list->ItemAt(0)->Bytes(), "first");
    EXPECT_EQ(list->Next(list->ItemAt(0))->Bytes(), "a");

    std::unique_ptr<QElement> taken = list->DetachAt(1);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->Parent(), nullptr);
    EXPECT_EQ(Encoded(root.get()), "d4:listl5:firstl1:xee3:key5:valuee");
    EXPECT_EQ(list->Next(list->ItemAt(0)), list->ItemAt(1));

    // Moving an element: detach from one container, append to another.
    ASSERT_TRUE(root->InsertAt(0, std::move(taken)));
    EXPECT_EQ(Encoded(root.get()), "d1:ai7e4:listl5:firstl1:xee3:key5:valuee");

    EXPECT_TRUE(list->Delete(list->ItemAt(1)));
    EXPECT_FALSE(list->Delete(root->ItemAt(0))); // not its child
    EXPECT_TRUE(root->DeleteAt(0));
    EXPECT_FALSE(root->DeleteAt(5));
    EXPECT_EQ(Encoded(root.get()), "d4:listl5:firste3:key5:valuee");

    EXPECT_TRUE(list->Clear());
    EXPECT_EQ(Encoded(root.get()), "d4:listle3:key5:valuee");
    EXPECT_TRUE(root->Clear());
    EXPECT_EQ(Encoded(root.get()), "de");
}

TEST(BencodeBuild, RefusedAppendsLeaveTheElementWithTheCaller)
{
    auto root = Create("ll1:aee");
    ASSERT_TRUE(root);
    QElement *inner = root->ItemAt(0);

    std::unique_ptr<QElement> empty = std::make_unique<QListElement>(); // never parsed: invalid
    EXPECT_FALSE(root->Append(std::move(empty)));
    EXPECT_TRUE(empty);

    // Appending a tree into its own descendant would make a cycle.
    EXPECT_FALSE(inner->Append(std::move(root)));
    ASSERT_TRUE(root);
    EXPECT_EQ(Encoded(root.get()), "ll1:aee");

    EXPECT_FALSE(root->InsertAt(3, Create("1:b")));
    EXPECT_FALSE(root->InsertAt(-1, Create("1:b")));

    // Neither a string element nor an unparsed container takes children.
    auto text = Create("1:a");
    ASSERT_TRUE(text);
    EXPECT_FALSE(text->AppendString("b"));
    EXPECT_EQ(text->Count(), 0);
    QDictionaryElement unparsed;
    EXPECT_FALSE(unparsed.AppendString("b"));
    std::string out;
    EXPECT_FALSE(Encode(&unparsed, out));
    EXPECT_FALSE(Encode(nullptr, out));
    EXPECT_TRUE(out.empty());
}

TEST(BencodeBuild, AFailedParseEmptiesTheElement)
{
    ExactBuffer good("l1:ae");
    ExactBuffer bad("l1:a");
    QListElement list;
    ASSERT_EQ(list.Parse(good.data(), good.length()), 5);
    EXPECT_EQ(list.Parse(bad.data(), bad.length()), PARSE_SYNTAX);
    EXPECT_FALSE(list.IsValid());
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Length(), -1);
    EXPECT_EQ(list.Bytes(), "");
}

TEST(BencodeText, ConvertsFromTheElementsCodePage)
{
    // "你好" in GBK, then "中文" in Big5, with a plain ASCII name between.
    auto list = Create("l4:\xC4\xE3\xBA\xC3" "5:a.txt4:\xA4\xA4\xA4\xE5" "e");
    ASSERT_TRUE(list);
    EXPECT_EQ(list->ItemAt(0)->Text(), "\xC4\xE3\xBA\xC3"); // no code page: bytes as they are
    list->SetCodePage(936);
    EXPECT_EQ(list->ItemAt(0)->CodePage(), 936);
    EXPECT_EQ(list->ItemAt(0)->Text(), "你好");
    EXPECT_EQ(list->ItemAt(1)->Text(), "a.txt");
    EXPECT_EQ(list->Text("/"), "你好/a.txt/いゅ");
    list->ItemAt(2)->SetCodePage(950);
    EXPECT_EQ(list->ItemAt(2)->Text(), "中文");
}

TEST(BencodeText, ConversionFailureGivesEmptyText)
{
    auto bad = Create("2:\xFF\xFF");
    ASSERT_TRUE(bad);
    bad->SetCodePage(936);
    EXPECT_EQ(bad->Text(), "");
    bad->SetCodePage(12345); // no such code page
    EXPECT_EQ(bad->Text(), "");
    bad->SetCodePage(0);
    EXPECT_EQ(bad->Text(), "\xFF\xFF");
    QIntegerElement unparsed;
    EXPECT_EQ(unparsed.Text(), "");
}

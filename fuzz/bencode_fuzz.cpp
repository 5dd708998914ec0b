// Parses arbitrary bytes as bencode. Whatever parses must encode back to
// exactly the bytes it consumed, and reading it must stay in bounds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/storage/bencode.h"
#include "engine/storage/qmulti_element.h"

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckRoundTrip(const QElement &element, const char *text, int64_t consumed)
{
    Check(element.IsValid());
    Check(element.EncodedLength() == consumed);
    Check(element.Source() == text);
    std::string out;
    Check(Encode(&element, out));
    Check(static_cast<int64_t>(out.size()) == consumed);
    Check(std::memcmp(out.data(), text, out.size()) == 0);
}

void Walk(QElement &element)
{
    element.Text(",");
    element.FindValue("info");
    element.FindElement("announce");
    element.SetCodePage(936);
    element.Text();
    for (int64_t i = 0; i < element.Count(); ++i)
        element.Next(element.ItemAt(i));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A copy of exactly the input's size: no terminating NUL to lean on.
    std::unique_ptr<char[]> copy(new char[size ? size : 1]);
    std::memcpy(copy.get(), data, size);
    const char *text = copy.get();
    const int64_t length = static_cast<int64_t>(size);

    if (size > 0) {
        std::unique_ptr<QElement> element = NewElementFor(text[0]);
        if (element) {
            int64_t consumed = element->Parse(text, length);
            Check(consumed <= length);
            if (consumed > 0) {
                CheckRoundTrip(*element, text, consumed);
                Walk(*element);
            }
        }
    }

    // The same bytes as an unbracketed sequence of elements.
    QListElement sequence;
    int64_t consumed = sequence.Parse(text, length);
    Check(consumed <= length);
    if (consumed > 0)
        CheckRoundTrip(sequence, text, consumed);

    std::unique_ptr<QElement> created = CreateElement(text, length);
    if (created) {
        // Building on a parsed tree keeps its encoded length exact.
        created->AppendString("k", 0, false);
        created->InsertStringAt(0, "v", -7, true);
        std::string out;
        Check(Encode(created.get(), out));
        Check(static_cast<int64_t>(out.size()) == created->EncodedLength());
        created->DetachAt(0);
        created->Clear();
    }
    return 0;
}

#include "engine/storage/resume_record.h"

#include <climits>
#include <cstring>

#include "engine/storage/bencode.h"
#include "engine/storage/seeded_adler32.h"

namespace {
constexpr size_t kLengthLowAt = 20;
constexpr size_t kLengthHighAt = 24;

uint32_t Little32(const uint8_t *at)
{
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

// A key with its value attached; 0 goes as the bare key.
void AppendNumber(QElement &container, std::string_view key, int64_t value)
{
    container.AppendString(key, value, value != 0);
}

bool IsKey(const QElement *element, std::string_view key)
{
    return element != nullptr && element->Type() == ELEMENT_STRING && element->Bytes() == key;
}

bool IsPlainString(const QElement *element)
{
    return element != nullptr && element->Type() == ELEMENT_STRING && !element->CarriesInteger();
}
} // namespace

uint32_t ResumeEntryChecksum(int32_t index, const uint8_t *image)
{
    return SeededAdler32(static_cast<uint32_t>(index), image, TRunningSha1::kImageSize);
}

uint64_t ImageBitCount(const uint8_t *image)
{
    return static_cast<uint64_t>(Little32(image + kLengthHighAt)) << 32 | Little32(image + kLengthLowAt);
}

std::string EncodeResumeRecord(const TResumeRecordData &record)
{
    std::unique_ptr<QElement> root = CreateElement("de", 2);
    root->AppendString("infohash");
    root->AppendString(std::string_view(reinterpret_cast<const char *>(record.infoHash.data()), record.infoHash.size()));
    for (const TResumeFileState &file : record.files) {
        root->AppendString(file.path);
        AppendNumber(*root, "Low", file.timeLow);
        AppendNumber(*root, "High", file.timeHigh);
        AppendNumber(*root, "Size", file.size);
        AppendNumber(*root, "Priority", file.priority);
    }
    root->AppendString("PieceStatus");
    QElement *list = root->Append(CreateElement("le", 2));
    for (const TResumePieceState &piece : record.partialPieces) {
        std::unique_ptr<QElement> entry = CreateElement("de", 2);
        AppendNumber(*entry, "Index", piece.index);
        AppendNumber(*entry, "Part", piece.part);
        entry->AppendString("Status");
        entry->AppendString(std::string_view(reinterpret_cast<const char *>(piece.image.data()), piece.image.size()));
        AppendNumber(*entry, "CRC32", ResumeEntryChecksum(piece.index, piece.image.data()));
        list->Append(std::move(entry));
    }
    root->AppendString("BitField");
    root->AppendString(record.bitfield);
    std::string out;
    Encode(root.get(), out);
    return out;
}

TResumeRecordReader::TResumeRecordReader() = default;
TResumeRecordReader::~TResumeRecordReader() = default;

bool TResumeRecordReader::Parse(const std::string &bytes)
{
    root.reset();
    // The tree points into the text it was parsed from.
    text = bytes;
    if (text.empty())
        return false;
    root = CreateElement(text.data(), static_cast<int64_t>(text.size()));
    if (!root || root->Type() != ELEMENT_DICTIONARY) {
        root.reset();
        return false;
    }
    return true;
}

const QElement *TResumeRecordReader::After(const QElement *element) const
{
    return element != nullptr ? root->Next(element) : nullptr;
}

bool TResumeRecordReader::InfoHashMatches(const uint8_t *infoHash) const
{
    if (!root)
        return false;
    const QElement *value = After(root->FindElement("infohash"));
    if (!IsPlainString(value) || value->Bytes().size() != 20)
        return true;
    return std::memcmp(value->Bytes().data(), infoHash, 20) == 0;
}

bool TResumeRecordReader::FindFile(const std::string &path, const std::string &otherPath, TResumeFileState &out,
                                   bool &hasPriority) const
{
    hasPriority = false;
    if (!root || path.empty())
        return false;
    const QElement *key = root->FindElement(path);
    if (key == nullptr && !otherPath.empty())
        key = root->FindElement(otherPath);
    const QElement *low = After(key);
    const QElement *high = After(low);
    const QElement *size = After(high);
    if (!IsKey(low, "Low") || !IsKey(high, "High") || !IsKey(size, "Size"))
        return false;
    out.path = std::string(key->Bytes());
    out.timeLow = static_cast<uint32_t>(low->Integer());
    out.timeHigh = static_cast<uint32_t>(high->Integer());
    out.size = size->Integer();
    const QElement *priority = After(size);
    if (IsKey(priority, "Priority") && priority->Integer() >= INT32_MIN && priority->Integer() <= INT32_MAX) {
        hasPriority = true;
        out.priority = static_cast<int32_t>(priority->Integer());
    }
    return true;
}

bool TResumeRecordReader::BitField(std::string_view &out) const
{
    if (!root)
        return false;
    const QElement *value = After(root->FindElement("BitField"));
    if (!IsPlainString(value))
        return false;
    out = value->Bytes();
    return true;
}

std::vector<TResumePieceState> TResumeRecordReader::PieceEntries() const
{
    std::vector<TResumePieceState> entries;
    if (!root)
        return entries;
    const QElement *list = After(root->FindElement("PieceStatus"));
    if (list == nullptr || list->Type() != ELEMENT_LIST)
        return entries;
    for (int64_t i = 0; i < list->Count(); ++i) {
        const QElement *entry = list->ItemAt(i);
        if (entry->Type() != ELEMENT_DICTIONARY)
            continue;
        const QElement *index = entry->ItemAt(0);
        const QElement *part = entry->ItemAt(1);
        const QElement *status = entry->ItemAt(2);
        const QElement *image = entry->ItemAt(3);
        const QElement *checksum = entry->FindElement("CRC32");
        if (!IsKey(index, "Index") || !IsKey(part, "Part") || !IsKey(status, "Status") || !IsPlainString(image) ||
            checksum == nullptr)
            continue;
        if (index->Integer() < 0 || index->Integer() > INT32_MAX || part->Integer() <= 0 ||
            part->Integer() > INT32_MAX || image->Bytes().size() < TRunningSha1::kImageSize)
            continue;
        TResumePieceState state;
        state.index = static_cast<int32_t>(index->Integer());
        state.part = static_cast<int32_t>(part->Integer());
        std::memcpy(state.image.data(), image->Bytes().data(), state.image.size());
        // The stored value is the unsigned 32-bit checksum, nothing above it.
        if (checksum->Integer() != static_cast<int64_t>(ResumeEntryChecksum(state.index, state.image.data())))
            continue;
        entries.push_back(state);
    }
    return entries;
}

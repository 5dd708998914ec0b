#include "engine/storage/torrent.h"

#include <memory>
#include <string_view>

#include "engine/storage/bencode.h"
#include "engine/storage/task_phase.h"
#include "engine/storage/torrent_owner.h"
#include "platform/read_file.h"

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y)
            return false;
    }
    return true;
}

bool StartsWithFileScheme(const std::string &source)
{
    return source.size() >= 7 && EqualsIgnoringCase(std::string_view(source).substr(0, 7), "file://");
}

// The value a key names, when that value is a separate element rather than
// an integer carried by the key itself.
const QElement *SeparateValue(const QElement &dict, std::string_view key)
{
    const QElement *found = dict.FindValue(key);
    return found && !found->CarriesInteger() ? found : nullptr;
}

// A tracker URL starts at its scheme, so junk in front of it is dropped;
// trailing '|' separators go, and what is left must be at least two bytes.
std::string NormaliseTrackerUrl(std::string_view bytes)
{
    size_t start = bytes.find_first_of("hHuU");
    if (start == std::string_view::npos)
        return std::string();
    std::string_view url = bytes.substr(start);
    while (!url.empty() && url.back() == '|')
        url.remove_suffix(1);
    return url.size() < 2 ? std::string() : std::string(url);
}

bool IsBlankOrControl(char c)
{
    return c >= 0x01 && c <= 0x20;
}

std::string TrimBlanksAndControls(std::string text)
{
    size_t begin = 0;
    while (begin < text.size() && IsBlankOrControl(text[begin]))
        ++begin;
    size_t end = text.size();
    while (end > begin && IsBlankOrControl(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

int32_t CodePageOfEncoding(std::string_view name)
{
    if (EqualsIgnoringCase(name, "GBK"))
        return 936;
    if (EqualsIgnoringCase(name, "BIG5"))
        return 950;
    if (EqualsIgnoringCase(name, "KOR"))
        return 949;
    if (EqualsIgnoringCase(name, "Shift-JIS"))
        return 932;
    return 0;
}

} // namespace

TTorrent::TTorrent(std::string sourceText, TTorrentOwner *taskOwner)
    : source(std::move(sourceText)), owner(taskOwner)
{
}

void TTorrent::SetPhase(int32_t phase)
{
    if (owner)
        owner->SetMetainfoPhase(phase);
}

void TTorrent::ClearMetainfo()
{
    announce.clear();
    publisher.clear();
    publisherUrl.clear();
    comment.clear();
    creationDate = 0;
    infoHash = TInfoHash();
    infoHashPercent.clear();
    infoHashHex.clear();
    trackers.clear();
}

bool TTorrent::LoadMetainfo()
{
    if (!metainfo.empty())
        return ParseMetainfo(metainfo.data(), static_cast<int64_t>(metainfo.size()));
    if (!StartsWithFileScheme(source))
        return false;

    std::string content;
    platform::ReadFileStatus status = platform::ReadWholeFile(source.substr(7), kMaxMetainfoBytes, content);
    // A local torrent that is unreadable, or is no bencoded dictionary, will
    // never become one: the task gives up rather than wait for metadata.
    bool looksBencoded = status == platform::ReadFileStatus::Ok && content.size() > 2 &&
                         (content[0] == 'd' || content[0] == 'D');
    Outcome outcome = looksBencoded ? ParseWithPhases(content.data(), static_cast<int64_t>(content.size()))
                                    : Outcome::NotDictionary;
    if (outcome == Outcome::NotDictionary && owner)
        owner->OnBadLocalTorrent();
    return outcome == Outcome::Parsed;
}

bool TTorrent::ParseMetainfo(const char *bytes, int64_t length)
{
    if (!bytes || length <= 0)
        return false;
    return ParseWithPhases(bytes, length) == Outcome::Parsed;
}

TTorrent::Outcome TTorrent::ParseWithPhases(const char *bytes, int64_t length)
{
    SetPhase(TASK_PHASE_METAINFO);
    Outcome outcome = Interpret(bytes, length);
    SetPhase(TASK_PHASE_DOWNLOADING);
    return outcome;
}

TTorrent::Outcome TTorrent::Interpret(const char *bytes, int64_t length)
{
    ClearMetainfo();
    if (bytes[0] != 'd' && bytes[0] != 'D')
        return Outcome::NotDictionary;
    std::unique_ptr<QElement> root = CreateElement(bytes, length);
    if (!root || root->Type() != ELEMENT_DICTIONARY)
        return Outcome::NotDictionary;

    if (codePage == 0)
        ReadCodePage(*root);
    if (codePage != 0)
        root->SetCodePage(codePage);

    ReadTrackers(*root);
    const QElement *publisherValue = SeparateValue(*root, "publisher");
    const QElement *publisherUrlValue = SeparateValue(*root, "publisher-url");
    if (const QElement *value = SeparateValue(*root, "comment"))
        comment = value->Text();
    if (const QElement *date = root->FindValue("creation date"))
        creationDate = date->Integer();

    const QElement *info = SeparateValue(*root, "info");
    if (!info || info->Type() != ELEMENT_DICTIONARY) {
        ClearMetainfo();
        return Outcome::NoFileTable;
    }
    // The hash covers the info dictionary exactly as it stands in the
    // metainfo, so keys out of order or odd spellings hash as received.
    if (!TInfoHash::Compute(info->Source(), static_cast<size_t>(info->EncodedLength()), infoHash)) {
        ClearMetainfo();
        return Outcome::NoFileTable;
    }
    infoHashPercent = infoHash.Percent();
    infoHashHex = infoHash.Hex();
    if (!publisherValue)
        publisherValue = SeparateValue(*info, "publisher");
    if (!publisherUrlValue)
        publisherUrlValue = SeparateValue(*info, "publisher-url");
    if (publisherValue)
        publisher = publisherValue->Text();
    if (publisherUrlValue)
        publisherUrl = publisherUrlValue->Text();

    if (owner && !owner->BuildFileTable(*info)) {
        ClearMetainfo();
        return Outcome::NoFileTable;
    }
    // Kept without any bytes that trailed the dictionary.
    const size_t used = static_cast<size_t>(root->EncodedLength());
    if (bytes == metainfo.data())
        metainfo.resize(used);
    else
        metainfo.assign(bytes, used);
    return Outcome::Parsed;
}

void TTorrent::ReadCodePage(const QElement &root)
{
    const QElement *page = root.FindValue("codepage");
    // Windows code pages are 16-bit numbers; anything else names none.
    if (page && page->CarriesInteger() && page->Integer() > 0 && page->Integer() <= 65535) {
        codePage = static_cast<int32_t>(page->Integer());
        return;
    }
    if (const QElement *encoding = SeparateValue(root, "encoding"))
        codePage = CodePageOfEncoding(encoding->Bytes());
}

void TTorrent::ReadTrackers(const QElement &root)
{
    if (const QElement *value = SeparateValue(root, "announce"))
        announce = TrimBlanksAndControls(NormaliseTrackerUrl(value->Bytes()));
    trackers.push_back(announce);

    const QElement *list = SeparateValue(root, "announce-list");
    if (list && (list->Type() == ELEMENT_LIST || list->Type() == ELEMENT_DICTIONARY))
        WalkTrackerList(*list);
}

void TTorrent::WalkTrackerList(const QElement &level)
{
    // Nesting is bounded by the parser's depth limit.
    for (int64_t i = 0; i < level.Count(); ++i) {
        const QElement *child = level.ItemAt(i);
        if (child->Type() != ELEMENT_STRING) {
            WalkTrackerList(*child);
            continue;
        }
        std::string_view bytes = child->Bytes();
        if (bytes == "Tracker")
            continue;
        if (bytes == "Name")
            break; // ends this level only
        if (!bytes.empty())
            trackers.push_back(NormaliseTrackerUrl(bytes));
    }
}

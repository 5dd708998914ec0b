#include "engine/storage/file_table.h"

#include <string_view>

#include "engine/storage/bencode_lookup.h"
#include "engine/storage/qelement.h"

namespace {

constexpr size_t kHashLength = 20;
// A single-file torrent without a name is stored under this name.
constexpr const char kUnnamedFile[] = "strRecommend";

// A name or path element in the system code page; false when its bytes do
// not convert.
bool ElementText(const QElement &element, std::string &text)
{
    text = element.Text();
    return !(text.empty() && element.Length() > 0);
}

// Whether a name may become one component of a path below the save folder.
bool IsSafeComponent(std::string_view part)
{
    if (part.empty() || part == "." || part == "..")
        return false;
    return part.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

// '?' and line breaks cannot stand in a file name on the system the records
// come from; they become '_', so names stay the same on every platform.
std::string SanitisedPart(std::string_view relativeName)
{
    std::string path(relativeName);
    for (char &c : path) {
        if (c == '?' || c == '\r' || c == '\n')
            c = '_';
        else if (c == '\\')
            c = '/';
    }
    return path;
}

char FoldAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether the folder ends in the component name ("…/Game/"), letters compared
// without case; multi-byte characters are compared byte for byte.
bool EndsWithComponent(const std::string &folder, const std::string &component)
{
    const size_t tail = component.size() + 1;
    if (folder.size() < tail + 1 || folder.back() != '/' || folder[folder.size() - tail - 1] != '/')
        return false;
    for (size_t i = 0; i < component.size(); ++i) {
        if (FoldAscii(folder[folder.size() - tail + i]) != FoldAscii(component[i]))
            return false;
    }
    return true;
}

bool AddFile(TFileTableLayout &layout, std::string diskPath, std::string relativeName, int64_t length)
{
    TFileTableLayout::Entry entry;
    entry.diskPath = std::move(diskPath);
    entry.relativeName = std::move(relativeName);
    entry.length = length;
    entry.offset = layout.totalLength;
    if (__builtin_add_overflow(layout.totalLength, length, &layout.totalLength))
        return false;
    layout.files.push_back(std::move(entry));
    return true;
}

bool ReadPieces(const QElement &info, TFileTableLayout &layout)
{
    const QElement *pieceLength = IntegerEntry(info, "piece length");
    if (pieceLength == nullptr || pieceLength->Integer() <= 0 || pieceLength->Integer() > kMaxPieceLength ||
        pieceLength->Integer() % kBlockLength != 0)
        return false;
    layout.pieceLength = static_cast<int32_t>(pieceLength->Integer());
    const QElement *pieces = StringValue(info, "pieces");
    if (pieces == nullptr || pieces->Length() < static_cast<int64_t>(kHashLength) ||
        pieces->Length() % kHashLength != 0 || pieces->Length() / kHashLength > INT32_MAX)
        return false;
    layout.pieceHashes = std::string(pieces->Bytes());
    layout.pieceCount = static_cast<int32_t>(layout.pieceHashes.size() / kHashLength);
    return true;
}

bool ReadSingleFile(const QElement &lengthEntry, const std::string &targetPath, TFileTableLayout &layout)
{
    if (layout.name.empty())
        layout.name = kUnnamedFile;
    if (!IsSafeComponent(layout.name) || lengthEntry.Integer() <= 0)
        return false;
    std::string diskPath = targetPath.empty() ? layout.saveDirectory + SanitisedPart(layout.name) : targetPath;
    return AddFile(layout, std::move(diskPath), layout.name, lengthEntry.Integer());
}

// The path elements of one file entry joined by backslashes; an empty last
// element marks a folder entry (the result then ends in a backslash).
bool JoinPath(const QElement &path, std::string &joined)
{
    if (path.Type() != ELEMENT_LIST || path.Count() < 1)
        return false;
    const int64_t count = path.Count();
    for (int64_t i = 0; i < count; ++i) {
        const QElement *element = path.ItemAt(i);
        std::string part;
        if (element == nullptr || element->Type() != ELEMENT_STRING || element->CarriesInteger() ||
            !ElementText(*element, part))
            return false;
        const bool folderMark = part.empty() && i == count - 1;
        if (!folderMark && !IsSafeComponent(part))
            return false;
        if (i > 0)
            joined += '\\';
        joined += part;
    }
    return true;
}

bool ReadFileList(const QElement &info, TFileTableLayout &layout)
{
    if (!layout.name.empty() && !IsSafeComponent(layout.name))
        return false;
    const std::string folder = layout.name + '\\';
    // A save folder that already is the torrent's folder is not nested
    // again. Names differing only in case match, and the files then go into
    // the folder as the save folder spells it.
    std::string diskFolder = SanitisedPart(folder);
    if (!layout.name.empty() && EndsWithComponent(layout.saveDirectory, layout.name)) {
        const size_t cut = layout.saveDirectory.size() - layout.name.size() - 1;
        diskFolder = layout.saveDirectory.substr(cut);
        layout.saveDirectory.resize(cut);
    }

    const QElement *files = info.FindValue("files");
    if (files == nullptr || files->Type() != ELEMENT_LIST || files->Count() < 1)
        return false;
    for (int64_t i = 0; i < files->Count(); ++i) {
        const QElement *entry = files->ItemAt(i);
        if (entry == nullptr || entry->Type() != ELEMENT_DICTIONARY || entry->Count() < 1)
            return false;
        const QElement *length = IntegerEntry(*entry, "length");
        const QElement *path = entry->FindValue("path");
        std::string joined;
        if (length == nullptr || length->Integer() < 0 || path == nullptr || !JoinPath(*path, joined))
            return false;
        std::string relativeName = folder + joined;
        std::string diskPath = layout.saveDirectory + diskFolder + SanitisedPart(joined);
        if (relativeName.back() == '\\') {
            if (length->Integer() != 0)
                return false;
            layout.directories.push_back(std::move(diskPath));
            continue;
        }
        if (!AddFile(layout, std::move(diskPath), std::move(relativeName), length->Integer()))
            return false;
    }
    return true;
}

// The pieces must cover the files exactly, give or take the short last piece.
bool PiecesCoverFiles(TFileTableLayout &layout)
{
    int64_t covered = 0;
    if (__builtin_mul_overflow(static_cast<int64_t>(layout.pieceCount), layout.pieceLength, &covered))
        return false;
    if (covered < layout.totalLength || covered - layout.totalLength >= layout.pieceLength)
        return false;
    for (TFileTableLayout::Entry &entry : layout.files) {
        entry.firstPiece = static_cast<int32_t>(entry.offset / layout.pieceLength);
        entry.pieceCount = FilePieceCount(entry.offset, entry.length, layout.pieceLength);
    }
    return true;
}

} // namespace

int32_t FilePieceCount(int64_t offset, int64_t length, int32_t pieceLength)
{
    if (length <= 0 || pieceLength <= 0)
        return 0;
    const int64_t head = offset % pieceLength;
    const int64_t firstPart = head == 0 ? 0 : pieceLength - head;
    if (length <= firstPart)
        return 1;
    const int64_t rest = length - firstPart;
    return static_cast<int32_t>(rest / pieceLength + (rest % pieceLength != 0 ? 1 : 0) + (head != 0 ? 1 : 0));
}

bool BuildFileTable(const QElement *info, const std::string &saveDirectory, const std::string &targetPath,
                    TFileTableLayout &layout)
{
    layout = TFileTableLayout();
    if (info == nullptr || info->Type() != ELEMENT_DICTIONARY)
        return false;
    if (const QElement *name = StringValue(*info, "name")) {
        if (!ElementText(*name, layout.name))
            return false;
    }
    if (!ReadPieces(*info, layout))
        return false;
    layout.saveDirectory = saveDirectory;
    if (!layout.saveDirectory.empty() && layout.saveDirectory.back() != '/')
        layout.saveDirectory += '/';
    const QElement *length = IntegerEntry(*info, "length");
    const bool read = length != nullptr ? ReadSingleFile(*length, targetPath, layout) : ReadFileList(*info, layout);
    return read && PiecesCoverFiles(layout);
}

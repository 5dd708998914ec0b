// The file-table builder on hostile info dictionaries (or whole torrents):
// whatever it accepts must stay inside the save folder and add up.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/storage/bencode.h"
#include "engine/storage/file_table.h"
#include "engine/storage/qelement.h"

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

bool LeavesFolder(const std::string &path, const std::string &folder)
{
    if (path.compare(0, folder.size(), folder) != 0)
        return true;
    const std::string rest = "/" + path.substr(folder.size()) + "/";
    return rest.find("/../") != std::string::npos || rest.find("/./") != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::unique_ptr<QElement> root = CreateElement(reinterpret_cast<const char *>(data), static_cast<int64_t>(size));
    if (!root)
        return 0;
    const QElement *info = root->FindValue("info");
    if (info == nullptr || info->Type() != ELEMENT_DICTIONARY)
        info = root.get();
    const std::string save = "/save/";
    TFileTableLayout layout;
    if (!BuildFileTable(info, save, std::string(), layout))
        return 0;
    Check(layout.pieceLength > 0 && layout.pieceLength % kBlockLength == 0);
    Check(layout.pieceHashes.size() == static_cast<size_t>(layout.pieceCount) * 20);
    Check(static_cast<int64_t>(layout.pieceCount) * layout.pieceLength >= layout.totalLength);
    int64_t offset = 0;
    for (const TFileTableLayout::Entry &file : layout.files) {
        Check(file.offset == offset && file.length >= 0);
        Check(!LeavesFolder(file.diskPath, save));
        Check(file.diskPath.find('\0') == std::string::npos);
        offset += file.length;
    }
    Check(offset == layout.totalLength);
    for (const std::string &folder : layout.directories)
        Check(!LeavesFolder(folder, save));
    return 0;
}

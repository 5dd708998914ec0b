#include "app/package_ini.h"

#include "app/digest_text.h"
#include "app/package_paths.h"
#include "app/path_text.h"
#include "engine/core/engine_interface.h"
#include "platform/ini.h"

#include <cinttypes>
#include <cstdio>

namespace {

constexpr uint64_t kSizeSplit = 2147483648ULL;
constexpr uint32_t kSizeWriteGapMs = 1000;
// The engine appends this to a target path while the file is incomplete.
constexpr size_t kPartialSuffixBytes = 6;
constexpr size_t kMaxFileNameBytes = 255;

std::string Unsigned(uint64_t value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%" PRIu64, value);
    return text;
}

std::string Indexed(const char *format, int index)
{
    char text[96];
    std::snprintf(text, sizeof text, format, index);
    return text;
}

bool FitsEnginePath(const std::string &path)
{
    return path.size() + kPartialSuffixBytes < static_cast<size_t>(kEnginePathChars);
}

} // namespace

bool IsUsableSaveFolder(const std::string &folder, const PackageManifest &manifest)
{
    if (!IsAbsolutePath(folder))
        return false;
    for (const std::string &name : manifest.name) {
        if (!FitsEnginePath(JoinPath(folder, name)))
            return false;
    }
    return true;
}

CPackageIni::CPackageIni(IAppFileSystem &files, IAppClock &clock) : files(files), clock(clock) {}

void CPackageIni::SetPath(const std::string &newPath)
{
    QAutoLock hold(lock);
    path = newPath;
    sizeWritten = false;
    sizeWaiting = false;
}

std::string CPackageIni::Path()
{
    QAutoLock hold(lock);
    return path;
}

bool CPackageIni::Exists()
{
    QAutoLock hold(lock);
    return !path.empty() && files.Exists(path);
}

bool CPackageIni::Remove()
{
    QAutoLock hold(lock);
    sizeWritten = false;
    sizeWaiting = false;
    return !path.empty() && files.RemoveFile(path);
}

TPackageIniRecord CPackageIni::ReadRecord(const PackageManifest &manifest)
{
    QAutoLock hold(lock);
    TPackageIniRecord record;
    record.exists = !path.empty() && files.Exists(path);
    if (!record.exists)
        return record;
    auto read = [&](const std::string &key) { return platform::IniReadString(path, kPackageTaskSection, key, ""); };

    record.createTimeEmpty = read("QuarrowlightTaskCreateTime").empty();
    record.lastSizeHigh = platform::IniReadInt(path, kPackageTaskSection, "QuarrowlightTaskLastSizeHigh", 0);
    record.lastSizeLow = platform::IniReadInt(path, kPackageTaskSection, "QuarrowlightTaskLastSizeLow", 0);
    record.hash = read("QuarrowlightTaskHash");
    if (!IsMd5Text(record.hash, false))
        record.hash.clear();
    record.saveFolder = read("QuarrowlightTaskSavePath");
    if (!IsUsableSaveFolder(record.saveFolder, manifest))
        record.saveFolder.clear();
    record.complete = read("QuarrowlightTaskIsComplete") == "COMPLETE";
    record.installerName = read("QuarrowlightTaskEntrence");
    if (!IsPlainFileName(record.installerName) || record.installerName.size() > kMaxFileNameBytes)
        record.installerName.clear();
    for (int i = 0; i < kPackageFileCount; ++i) {
        record.resumePath[i] = read(Indexed("QuarrowlightDownloadInfo%d", i));
        if (!IsAbsolutePath(record.resumePath[i]) || !FitsEnginePath(record.resumePath[i]))
            record.resumePath[i].clear();
    }
    return record;
}

void CPackageIni::WriteStartKeys(TStartKeys &keys, const PackageManifest &manifest)
{
    std::vector<std::pair<std::string, std::string>> values;
    values.emplace_back("QuarrowlightTaskHash", keys.hash);
    values.emplace_back("QuarrowlightTaskCreateTimeStamp", Unsigned(clock.TickCount()));
    values.emplace_back("QuarrowlightTaskCreateTime", clock.LocalTimeText("%Y-%m-%d %X"));
    if (keys.withFiles) {
        for (int i = 0; i < kPackageFileCount; ++i) {
            values.emplace_back(Indexed("QuarrowlightHttpTaskUrl%d", i), manifest.url[i]);
            values.emplace_back(Indexed("QuarrowlightHttpTaskFile%d", i), manifest.name[i]);
        }
    }
    if (keys.saveFolder.empty())
        keys.saveFolder = ChooseDefaultSaveFolder(files);
    if (keys.entrance.empty())
        keys.entrance = manifest.installerName;
    values.emplace_back("QuarrowlightTaskEntrence", keys.entrance);
    if (keys.folderName.empty())
        keys.folderName = kPackageFolderName;
    values.emplace_back("QuarrowlightTaskFloder", keys.folderName);
    WriteValues(kPackageTaskSection, values, true);
}

void CPackageIni::WriteSavePath(const std::string &saveFolder)
{
    WriteValues(kPackageTaskSection, {{"QuarrowlightTaskSavePath", saveFolder}}, true);
}

void CPackageIni::WriteComplete()
{
    WriteValues(kPackageTaskSection, {{"QuarrowlightTaskIsComplete", "COMPLETE"}}, true);
}

void CPackageIni::WriteReopenedTask(int index, const std::string &name)
{
    WriteValues(kPackageTaskSection, {{Indexed("QuarrowlightTask%d", index), name}}, false);
}

bool CPackageIni::WriteSizeKeys(uint64_t bytes)
{
    return WriteValues(kPackageTaskSection,
                       {{"QuarrowlightTaskLastSizeHigh", Unsigned(bytes / kSizeSplit)},
                        {"QuarrowlightTaskLastSizeLow", Unsigned(bytes % kSizeSplit)}},
                       false);
}

void CPackageIni::NoteDownloadedBytes(uint64_t bytes)
{
    QAutoLock hold(lock);
    sizePending = bytes;
    sizeWaiting = true;
    const uint32_t now = clock.TickCount();
    if (sizeWritten && now - sizeWriteTick < kSizeWriteGapMs)
        return;
    WriteSizeKeys(bytes);
    sizeWritten = true;
    sizeWaiting = false;
    sizeWriteTick = now;
}

void CPackageIni::FlushDownloadedBytes()
{
    QAutoLock hold(lock);
    if (!sizeWaiting)
        return;
    WriteSizeKeys(sizePending);
    sizeWritten = true;
    sizeWaiting = false;
    sizeWriteTick = clock.TickCount();
}

void CPackageIni::CountDownloadSecond(uint32_t &totalSeconds)
{
    QAutoLock hold(lock);
    if (path.empty())
        return;
    const uint32_t stored =
        static_cast<uint32_t>(platform::IniReadInt(path, kPackageTaskSection, "QuarrowlightTaskDownloadTime", 0));
    const uint32_t counted = stored + 1;
    if (counted > totalSeconds) {
        totalSeconds = counted;
        WriteValues(kPackageTaskSection, {{"QuarrowlightTaskDownloadTime", Unsigned(counted)}}, false);
    }
}

int CPackageIni::ReadCloseSelection()
{
    QAutoLock hold(lock);
    if (path.empty() || !files.Exists(path))
        return -1;
    return platform::IniReadInt(path, kPackageTaskSection, "QuarrowlightCloseSelection", 0);
}

int CPackageIni::WriteCloseSelection(uint32_t choice)
{
    QAutoLock hold(lock);
    if (path.empty())
        return 0;
    WriteValues(kPackageTaskSection, {{"QuarrowlightCloseSelection", Unsigned(choice)}}, false);
    return 1;
}

std::string CPackageIni::ReadValue(const char *section, const std::string &key)
{
    QAutoLock hold(lock);
    if (path.empty())
        return std::string();
    return platform::IniReadString(path, section, key, "");
}

bool CPackageIni::WriteValues(const char *section, const std::vector<std::pair<std::string, std::string>> &values,
                              bool synced)
{
    QAutoLock hold(lock);
    if (path.empty())
        return false;
    bool ok = true;
    // Each write replaces the whole file, so syncing the last one makes all
    // of them durable.
    for (size_t i = 0; i < values.size(); ++i) {
        const bool last = i + 1 == values.size();
        ok = platform::IniWriteString(path, section, values[i].first, values[i].second,
                                      synced && last ? platform::IniDurability::Synced
                                                     : platform::IniDurability::Plain) &&
             ok;
    }
    return ok;
}

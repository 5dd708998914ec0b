#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/app_clock.h"
#include "app/app_file_system.h"
#include "app/manifest_block.h"
#include "app/package_manifest.h"
#include "engine/base/qmutex.h"

inline constexpr char kPackageTaskSection[] = "QuarrowlightTask";
inline constexpr char kFinishInfoSection[] = "QuarrowlightFinishInfo";

// What start-up reads from the package ini. Values that would not be safe
// to use are refused and read as missing (empty), so their defaults apply:
// a hash that is not 32 hex digits (it names a folder), a save folder that
// is not absolute or too long for a target path, an entrance that is not a
// plain file name, a resume path that is not absolute or too long for the
// engine's 4096-byte path fields.
struct TPackageIniRecord {
    bool exists = false;
    bool createTimeEmpty = true;
    int32_t lastSizeHigh = 0;
    int32_t lastSizeLow = 0;
    std::string hash;
    std::string saveFolder;
    bool complete = false;
    std::string installerName;
    std::string resumePath[kPackageFileCount];
};

// Whether a save folder can hold the package: absolute, and short enough
// that every target path (with the engine's partial-file suffix) fits the
// engine's 4096-byte path fields.
bool IsUsableSaveFolder(const std::string &folder, const PackageManifest &manifest);

// The start keys, written at every start of a download and every reopening
// of the tasks. Empty saveFolder, entrance and folderName are replaced by
// their defaults (the default save folder, the manifest's installer name,
// "VRNH10192") before anything is written; the caller keeps those values.
struct TStartKeys {
    std::string hash;
    bool withFiles = false; // the URL and name of each file (states 0 and 1)
    std::string saveFolder;
    std::string entrance;
    std::string folderName;
};

// The package ini: every read and write of the downloader's own state goes
// through here. One lock makes each operation, also the multi-key ones,
// whole with respect to the other threads; every write replaces the file
// atomically (platform/ini.h), so a torn write cannot make start-up see a
// package without its keys. Start keys, completion and stamps are also made
// durable; the downloaded size is written at most once a second.
class CPackageIni {
public:
    CPackageIni(IAppFileSystem &files, IAppClock &clock);

    void SetPath(const std::string &path);
    std::string Path();
    bool Exists();
    // Deletes the file (all target files were lost).
    bool Remove();

    TPackageIniRecord ReadRecord(const PackageManifest &manifest);

    void WriteStartKeys(TStartKeys &keys, const PackageManifest &manifest);
    void WriteSavePath(const std::string &saveFolder);
    void WriteComplete();
    // The name of a task reopened successfully, under "QuarrowlightTask%d".
    void WriteReopenedTask(int index, const std::string &name);

    // Records the downloaded total: written now when the last write is a
    // second old, otherwise kept for FlushDownloadedBytes (once a second,
    // and at exit). Stored split at 2^31 as the two size keys.
    void NoteDownloadedBytes(uint64_t bytes);
    void FlushDownloadedBytes();

    // One more second of downloading: reads the stored total, adds one, and
    // when that exceeds totalSeconds stores it there and writes it back.
    void CountDownloadSecond(uint32_t &totalSeconds);

    // -1 when the path is unset or the file does not exist, else the stored
    // choice (default 0).
    int ReadCloseSelection();
    // 1 when written, 0 when the path is unset.
    int WriteCloseSelection(uint32_t choice);

    // For the finished-file stamps: a value ("" when missing), and several
    // keys written under the lock, the last write synced when asked.
    std::string ReadValue(const char *section, const std::string &key);
    bool WriteValues(const char *section, const std::vector<std::pair<std::string, std::string>> &values,
                     bool synced);

private:
    bool WriteSizeKeys(uint64_t bytes);

    IAppFileSystem &files;
    IAppClock &clock;
    QTMutex lock;
    std::string path;
    bool sizeWritten = false; // since SetPath
    bool sizeWaiting = false; // sizePending not yet written
    uint64_t sizePending = 0;
    uint32_t sizeWriteTick = 0;
};

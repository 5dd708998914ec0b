// Reads arbitrary bytes as the package ini (and as the connection override)
// and checks that start-up only ever gets values it can use safely.
#include "app/connection_override.h"
#include "app/digest_text.h"
#include "app/finish_stamps.h"
#include "app/local_file_system.h"
#include "app/package_ini.h"
#include "app/path_text.h"
#include "app/system_clock.h"
#include "platform/atomic_replace.h"
#include "platform/private_temp_folder.h"

#include <cstdint>
#include <cstdlib>
#include <string>

static void Require(bool condition)
{
    if (!condition)
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static platform::PrivateTempFolder folder;
    if (folder.Path().empty() && !folder.Create("ql-package-state-fuzz-"))
        return 0;
    const std::string path = folder.Path() + "/package.qlconf";
    if (!platform::ReplaceFileAtomically(path, std::string(reinterpret_cast<const char *>(data), size), false))
        return 0;

    CLocalFileSystem files;
    CSystemClock clock;
    PackageManifest manifest;
    LoadManifest(manifest);
    CPackageIni ini(files, clock);
    ini.SetPath(path);
    const TPackageIniRecord record = ini.ReadRecord(manifest);
    Require(record.exists);
    Require(record.hash.empty() || IsMd5Text(record.hash, false));
    Require(record.saveFolder.empty() || IsUsableSaveFolder(record.saveFolder, manifest));
    Require(record.installerName.empty() || IsPlainFileName(record.installerName));
    for (const std::string &resume : record.resumePath)
        Require(resume.empty() || (IsAbsolutePath(resume) && resume.size() < 4096));
    ini.ReadCloseSelection();

    CFinishStamps stamps(ini, files);
    for (int i = 0; i < kPackageFileCount; ++i)
        Require(!stamps.CheckStamp(i, folder.Path() + "/absent"));

    const uint32_t budget = ReadConnectionBudget(path);
    Require(budget >= 10 && budget <= 200);
    return 0;
}

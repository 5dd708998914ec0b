#pragma once
#include <string>

#include "app/app_file_system.h"
#include "app/package_ini.h"
#include "app/recheck_list.h"

// The finished-file stamps: the size and last-write time of each file as it
// was when it finished, kept in section "QuarrowlightFinishInfo" of the
// package ini as four unsigned decimal 32-bit halves. A file that still
// matches its stamp is trusted at start-up without a new download.
class CFinishStamps {
public:
    CFinishStamps(CPackageIni &ini, IAppFileSystem &files);

    // Records the stamp of file index from the file at filePath. A file that
    // is not there gets no stamp (false).
    bool WriteStamp(int index, const std::string &filePath);

    // Whether the file still matches its stamp; a missing file or missing
    // keys never match. With recheck, a mismatching index is added to it.
    bool CheckStamp(int index, const std::string &filePath, TRecheckList *recheck = nullptr);

private:
    CPackageIni &ini;
    IAppFileSystem &files;
};

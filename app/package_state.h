#pragma once
#include <cstdint>

// The package-wide state the controller keeps and the front-ends poll.
enum TPackageState : uint32_t {
    PACKAGE_BACK = 0,           // not started; the save folder lacks space
    PACKAGE_READY = 1,          // not started; ready to start
    PACKAGE_PREPARING = 3,      // tasks created, no data flowing yet
    PACKAGE_DOWNLOADING = 4,    // data flowing
    PACKAGE_PAUSE = 5,          // all tasks stopped by the user or a disk shortage
    PACKAGE_RESUME = 6,         // resumed after a pause, not yet flowing
    PACKAGE_FAILED = 7,         // a fatal write error or a failed repair
    PACKAGE_FINISHED = 8,       // all six files complete
    PACKAGE_MD5_CHECKING = 10,  // MD5 verification running
    PACKAGE_CHECK_RECOVER = 11, // a damaged file is downloaded again
    PACKAGE_CHECK_FINISHED = 12,// all six files verified
    PACKAGE_INSTALLING = 13,    // transient while the installer is launched
    PACKAGE_RECOVER = 15,       // tasks reopened at start-up, download resumes
    PACKAGE_RELOAD = 16,        // tasks reopened; some finished files are checked again
    PACKAGE_EXITED = 17,        // window gone without a user exit or a launch
};

// The name the log gives a state; null for 13, 17 and unused codes.
const char *PackageStateLogName(uint32_t state);

#include "app/package_state.h"

const char *PackageStateLogName(uint32_t state)
{
    switch (state) {
    case PACKAGE_BACK:
        return "back";
    case PACKAGE_READY:
        return "ready";
    case PACKAGE_PREPARING:
        return "preparing";
    case PACKAGE_DOWNLOADING:
        return "downloading";
    case PACKAGE_PAUSE:
        return "pause";
    case PACKAGE_RESUME:
        return "resume";
    case PACKAGE_FAILED:
        return "failed";
    case PACKAGE_FINISHED:
        return "finished";
    case PACKAGE_MD5_CHECKING:
        return "md5checking";
    case PACKAGE_CHECK_RECOVER:
        return "checkrecover";
    case PACKAGE_CHECK_FINISHED:
        return "checkfinished";
    case PACKAGE_RECOVER:
        return "recover";
    case PACKAGE_RELOAD:
        return "reload";
    default:
        return nullptr;
    }
}

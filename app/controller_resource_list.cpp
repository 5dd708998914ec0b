#include "app/package_controller.h"

#include <set>
#include <utility>

#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"

namespace {
constexpr uint32_t kResourceListEvery = 600;
} // namespace

void CPackageController::ScheduleResourceList()
{
    // The first refresh in a downloading state reads at once; a read still
    // running when the next one is due is left to finish instead.
    if (speedRefreshes++ % kResourceListEvery == 0 && !exited)
        reader->Begin();
}

int CPackageController::ApplyResourceList(const TResourceList &list)
{
    QAutoLock hold(lock);
    if (exited)
        return -2;
    SetP2pEnabled(list.p2pEnabled);
    EngineLogWrite(list.p2pEnabled ? "启用P2P功能" : "禁用P2P功能", LOG_CHANNEL_PEERS);
    bool cleared[kPackageFileCount] = {};
    std::set<std::pair<int, std::string>> added;
    for (const TListedResource &resource : list.resources) {
        int i = 0;
        while (i < kPackageFileCount && manifest.url[i] != resource.task)
            ++i;
        // A finished file needs no mirrors, unless it is the one under repair.
        if (i == kPackageFileCount || task[i] == nullptr || (i != verification.checkIndex && IsDone(i)))
            continue;
        for (const TListedMirror &mirror : resource.mirrors) {
            if (!added.insert({i, mirror.url}).second)
                continue;
            // Each read replaces a file's mirrors rather than growing them.
            if (!cleared[i]) {
                services.engine.ClearTaskMirrors(task[i]);
                cleared[i] = true;
            }
            services.engine.AddTaskMirror(task[i], mirror.url, mirror.hostName);
        }
    }
    return added.empty() ? -2 : 0;
}

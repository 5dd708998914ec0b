#pragma once
#include "engine/core/engine_interface.h"
#include "engine/core/work_with_trans_statis.h"

// One download task: the worker thread and the operations the engine
// interface calls. Interface calls take the task's own lock around the
// settings and the published snapshot; the worker owns the live state.
class TWorkThread : public TWorkWithTransStatis {
public:
    TWorkThread();
    ~TWorkThread() override;

    void Run() override;
    void Refresh() override;

    int32_t StartDownload();
    int32_t ContinueDownload();
    int32_t ResumeDownload();
    int32_t StopDownload();
    int32_t PauseDownload();

    void GetInfo(TTaskInfo *info);
    bool IsComplete();
    int32_t SetSpeedLimit(int32_t kind, int32_t value);
    int32_t SetPeerLimits(int32_t servers, int32_t peers);
    int32_t GetPieceMap(void *buf, int32_t len);
    int32_t GetPieceMapSize();
    int32_t AddMirrors(const char *urls, const char *hosts);
    int32_t ClearMirrors();

    // Publishes the live status (and, when asked, the have-map) for the
    // interface queries. Without wait it does nothing if the lock is busy.
    void Flush(bool rebuild, bool wait);
};

#pragma once
#include <cstdint>
#include <string>

#include "engine/core/engine_interface.h"

// What verification and repair need from the controller. The verification
// thread calls these from its own thread.
class IVerificationHost {
public:
    virtual ~IVerificationHost() = default;

    virtual uint32_t State() = 0;
    virtual void SetState(uint32_t state) = 0;
    // Overall download progress, hundredths of a percent.
    virtual uint32_t OverallProgress() = 0;
    // saveFolder + "/" + the file's name.
    virtual std::string FilePath(int index) = 0;

    // Before a check starts: write the start keys and switch the HTTP
    // disguise on (EnableHttpWrap(1)).
    virtual void PrepareCheck() = 0;
    // StopDownloadTask(task[index], no reset).
    virtual void StopTask(int index) = 0;
    // Reopens the file's task with RecoverDownloadTask(force) as the
    // start-up reopening does; false when it failed.
    virtual bool ReopenTaskForRepair(int index) = 0;
    // GetTaskInfo of the file's task; false when the query failed.
    virtual bool QueryTask(int index, TTaskInfo &info) = 0;
    // Writes the file's finished-file stamp.
    virtual void WriteStamp(int index) = 0;

    // An asynchronous message box with the caption "Varnholm下载器".
    virtual void ShowMessage(const std::string &text) = 0;
    virtual void ReportFileEvent(const std::string &code, const std::string &fileName, const std::string &text) = 0;
    virtual void ReportEvent(const std::string &code, const std::string &text) = 0;

    // Launches the installer as verified.
    virtual void LaunchInstallerVerified() = 0;
    // Posts message 1128 to the front-end, whose handler runs Install.
    virtual void PostInstallAfterCheck() = 0;
};

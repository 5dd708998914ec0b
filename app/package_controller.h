#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/app_clock.h"
#include "app/app_file_system.h"
#include "app/connection_override.h"
#include "app/controller_front_end.h"
#include "app/finish_stamps.h"
#include "app/package_engine.h"
#include "app/package_ini.h"
#include "app/package_manifest.h"
#include "app/package_report.h"
#include "app/port_mapping.h"
#include "app/power_control.h"
#include "app/program_resources.h"
#include "app/recheck_list.h"
#include "app/resource_extractor.h"
#include "app/resource_list_reader.h"
#include "app/shell_launcher.h"
#include "app/verification_host.h"
#include "app/verification_status.h"
#include "app/verification_thread.h"
#include "engine/base/qmutex.h"

// Everything the controller works through. The references must outlive it.
struct TControllerServices {
    TControllerServices(IPackageEngine &engine, IPackageReport &report, IControllerFrontEnd &frontEnd,
                        IAppFileSystem &files, IAppClock &clock, IResourceSource &resources, IPowerControl &power,
                        IShellLauncher &shell)
        : engine(engine), report(report), frontEnd(frontEnd), files(files), clock(clock), resources(resources),
          power(power), shell(shell)
    {
    }

    IPackageEngine &engine;
    IPackageReport &report;
    IControllerFrontEnd &frontEnd;
    IAppFileSystem &files;
    IAppClock &clock;
    IResourceSource &resources;
    IPowerControl &power;
    IShellLauncher &shell;
    // Chooses the listen port and maps it on the Internet gateway. Without
    // one the engine listens on its default port.
    IPortMapper *mapPort = nullptr;
    // Where the mapping's workers send their notices, for a front-end that
    // wants them on its own thread. Without one they reach the controller
    // from the workers' threads.
    IPortMappingSink *portMappingNotices = nullptr;
    // Fetches the remote resource list's text on the reader's thread, while
    // downloading or repairing. Without one the list is never read.
    TResourceListFetch fetchResourceList;
    std::string connectionOverridePath = kConnectionOverrideFile;
};

// One file as a front-end shows it.
struct TFileView {
    std::string name;
    std::string statusText;
    bool done = false;  // complete and trusted
    bool known = false; // the engine answered for its task
    uint32_t progress = 0; // hundredths of a percent
    uint32_t speed = 0;    // bytes per second
    int32_t secondsLeft = 0;
    uint64_t doneBytes = 0;
    uint64_t httpBytes = 0; // from servers
    uint64_t peerBytes = 0; // from peers
};

// The whole package as a front-end shows it.
struct TPackageView {
    uint32_t state = 0;
    uint32_t progress = 0; // hundredths of a percent
    uint64_t downloaded = 0;
    uint64_t packageSize = 0;
    uint32_t speed = 0;       // the smoothed speed of the speed text
    int64_t secondsLeft = -1; // -1 while nothing flows
    uint64_t httpBytes = 0;
    uint64_t peerBytes = 0;
    bool spaceShort = false;
};

// Drives the six engine tasks of the package from the first start to the
// launched installer. A front-end calls StartUp once, PollState every
// 100 ms, Tick and GetSpeedText once a second, OnMainButton for its one
// button (and for kInstallAfterCheckMessage), and OnExit when it closes.
// Every operation may come from any thread; one lock orders them.
class CPackageController : public IVerificationHost, public IResourceListTarget, public IPortMappingSink {
public:
    static constexpr int32_t kNoLimit = 32767;

    CPackageController(const PackageManifest &manifest, const TControllerServices &services);
    ~CPackageController() override;
    CPackageController(const CPackageController &) = delete;
    CPackageController &operator=(const CPackageController &) = delete;

    // 1 when tasks were reopened, 0 when the package waits for the user,
    // negative on a fatal error (the front-end then quits without a word).
    int StartUp();
    // The state after the disk-space test.
    uint32_t PollState();
    // True when every unfinished file has a task whose worker ended without
    // completing it (no source left, a network failure, a long stall): no
    // byte arrives until the tasks are opened again.
    bool DownloadHasStopped();
    void Tick();
    // Also promotes the package to downloading once data flows.
    std::string GetSpeedText();
    // Start, Pause, Continue or Install, by state.
    void OnMainButton();
    // Verifies and repairs the finished package without installing it
    // afterwards (a front-end's verify-only command); only in state 8.
    void VerifyPackage();

    // Settings. A save folder is refused when the package's paths do not
    // fit it or no files can be made there.
    bool SetSaveFolder(const std::string &path);
    std::string GetSaveFolder();
    // KB/s, 0 for no limit.
    void ApplySpeedLimit(int32_t kbps);
    int32_t GetSpeedLimit();
    void SetShutdownWhenDone(bool on);
    bool GetShutdownWhenDone() const { return shutdownWhenDone; }
    void SetP2pEnabled(bool on);
    bool GetP2pEnabled() const { return p2pEnabled; }
    // Set before the window goes when the user chose to exit.
    void SetUserExit(bool on) { userExit = on; }

    std::string GetSizeText();
    std::string GetFileText(int index);
    std::string GetStatusText(int index);
    std::string GetInstallerPath();
    std::string GetVersionText() const;
    int ReadCloseSelection();
    int WriteCloseSelection(uint32_t choice);
    uint32_t GetCheckProgress();
    uint32_t GetRepairProgress() const { return verification.repairProgress; }
    // Bytes per second of the repair download.
    uint32_t GetRepairSpeed() const { return verification.repairSpeed; }
    uint32_t GetOverallProgress() const { return progress; }
    bool IsSpaceShort() const { return spaceShort; }
    bool MismatchSeen() const { return verification.mismatchSeen; }
    TFileView GetFileView(int index);
    TPackageView GetPackageView();

    void LaunchInstaller(bool verified);
    // The front-end's window is gone: the reason goes to the log and the
    // report, then the engine, the report and the log stop. Runs once.
    void OnExit();
    void ShutdownSoon();

    // Verification and repair.
    uint32_t State() override { return state; }
    void SetState(uint32_t value) override { state = value; }
    uint32_t OverallProgress() override { return progress; }
    std::string FilePath(int index) override;
    void PrepareCheck() override;
    void StopTask(int index) override;
    bool ReopenTaskForRepair(int index) override;
    bool QueryTask(int index, TTaskInfo &info) override;
    void WriteStamp(int index) override;
    void ShowMessage(const std::string &text) override;
    void ReportFileEvent(const std::string &code, const std::string &fileName, const std::string &text) override;
    void ReportEvent(const std::string &code, const std::string &text) override;
    void LaunchInstallerVerified() override { LaunchInstaller(true); }
    void PostInstallAfterCheck() override;

    // The remote resource list: its P2P switch and the mirrors of every file
    // still to be fetched reach the engine under the controller's lock.
    int ApplyResourceList(const TResourceList &list) override;
    bool IsReadingResourceList() { return reader->IsRunning(); }
    // The result of the last background read (CResourceListReader).
    int32_t ResourceListResult() const { return reader->LastResult(); }

    // The port mapping's workers report here (from their own threads).
    void OnPortMappingNotice(uint32_t step, int32_t status) override;

private:
    // Start-up.
    int ExtractReportConfig(std::string &configPath);
    void DecideStartMode();
    void UseDefaultResumePaths(bool onlyEmpty);
    void ChooseStorageMode();
    void WriteStartKeys();

    // Tasks.
    bool PrepareTask(int index, bool newTask);
    void CreateTasks();
    void ReopenTasks();
    bool ReopenTask(int index, bool force);
    void PauseTasks();
    void ContinueTasks();
    void Install();
    void StopAllTasks();

    // Polling.
    bool AskTask(int index, TTaskInfo &info);
    bool IsDone(int index) const { return param[index].userState != 0; }
    void UpdateProgress();
    uint64_t CountDownloaded();
    void TestRunningSpace();
    void NoteStateChange();
    void CheckFinished(int index);
    void FileFinished(int index);
    void HandleEngineCode(int32_t code);
    void ReportWithStats(const std::string &code, const std::string &text);
    // Starts a background read on the first speed refresh in the states
    // that download (4, 11) and on every 600th after it.
    void ScheduleResourceList();

    // Limits.
    int UnfinishedCount();
    // Each of so many tasks' part of the user's limit, 0 without one.
    int32_t LimitShare(int tasks) const;
    // The part a task gets at its creation: every unfinished file will have
    // one, though not all exist yet.
    int32_t NewTaskLimitShare() const;
    void ApplySpeedLimitLocked(int32_t kbps);
    void ReapplySpeedLimit();
    void SpreadConnectionBudgets();

    // A message box that never blocks the caller, with the report id when
    // reporting runs.
    void ShowBox(const std::string &text, const std::string &caption = kMessageCaption);
    std::string FinalPath(int index) const;

    const PackageManifest manifest;
    TControllerServices services;
    CPackageIni ini;
    CFinishStamps stamps;
    CResourceExtractor extractor;
    TVerificationStatus verification;
    std::unique_ptr<CVerificationThread> verifier;
    std::unique_ptr<CResourceListReader> reader;
    QTMutex lock;

    std::atomic<uint32_t> state{0};
    std::atomic<uint32_t> progress{0};
    std::atomic<uint64_t> downloaded{0};
    std::atomic<uint32_t> shownSpeed{0};
    std::atomic<bool> spaceShort{false};
    std::atomic<bool> userExit{false};
    std::atomic<bool> installerLaunched{false};
    std::atomic<bool> shutdownWhenDone{false};
    std::atomic<bool> p2pEnabled{true};
    std::atomic<bool> exited{false};

    bool anyTaskStarted = false;
    // Whether the port mapping found a gateway; set when it starts.
    bool gatewayFound = false;
    bool runningSpaceTest = false;
    uint32_t httpConnections = kDefaultHttpConnections;
    uint32_t peerConnections = 126;
    int32_t speedLimitKBps = 0;
    int32_t lastSizeHigh = 0;
    int32_t lastSizeLow = 0;
    uint32_t totalSpeed = 0;
    uint32_t totalSeconds = 0;
    uint32_t runSeconds = 0;
    TRecheckList recheckList;

    std::string dataFolder;
    std::string logBase;
    std::string iniPath;
    std::string infoFolder;
    std::string saveFolder;
    std::string versionText;
    std::string installerName;
    std::string hash;
    std::string resumePath[kPackageFileCount];
    TTaskHandle task[kPackageFileCount] = {};
    TTaskParam param[kPackageFileCount] = {};

    // Remembered between polls and ticks.
    uint64_t lastHttpBytes[kPackageFileCount] = {};
    uint64_t lastPeerBytes[kPackageFileCount] = {};
    int32_t lastTaskCode[kPackageFileCount] = {};
    int32_t lastHandledCode = 0;
    uint64_t lastCountedBytes = 0;
    uint32_t activeTicks = 0;
    uint32_t speedRefreshes = 0;
    uint32_t spreadHttp = 0;
    int spreadCount = -1;
    uint32_t seenState = 1; // the first poll always counts as a change
    bool seenShort = true;
};

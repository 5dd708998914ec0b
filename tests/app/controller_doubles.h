#pragma once
// Recording stand-ins for everything the package controller works through,
// and a fixture that builds a controller over them in a scratch folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/base64.h"
#include "app/package_controller.h"
#include "app/package_paths.h"
#include "app/path_text.h"
#include "engine/base/quarrowlight_log.h"
#include "platform/diagnostic_sink.h"
#include "platform/ini.h"
#include "platform/tick.h"
#include "tests/app/app_test_support.h"

// One list of calls shared by the doubles, so tests can check the order
// across them.
using TJournal = std::vector<std::string>;

struct FakeTask {
    TTaskParam param{};
    std::string sources;
    bool recovered = false;
    bool force = false;
    TTaskInfo info{};
    int32_t complete = 0;
    int32_t running = 1;
    int stops = 0;
    int resumes = 0;
    int32_t speedLimit = -1;
    int32_t maxServers = 0;
    int32_t maxPeers = 0;
};

class RecordingEngine : public IPackageEngine {
public:
    explicit RecordingEngine(TJournal &journal) : journal(journal) {}

    int32_t InitEngine() override
    {
        journal.push_back("InitEngine");
        return initResult;
    }
    int32_t UninitEngine() override
    {
        journal.push_back("UninitEngine");
        tasks.clear();
        return ENGINE_OK;
    }
    int32_t CreateDownloadTask(TTaskParam &param) override { return Make(param, false, false); }
    int32_t RecoverDownloadTask(TTaskParam &param, bool force) override { return Make(param, true, force); }
    int32_t StopDownloadTask(TTaskHandle handle, bool) override
    {
        FakeTask *task = Find(handle);
        if (task == nullptr)
            return ENGINE_UNKNOWN_TASK;
        ++task->stops;
        return ENGINE_OK;
    }
    int32_t StopDownloadTasks(const std::vector<TTaskHandle> &handles, bool) override
    {
        journal.push_back("StopDownloadTasks " + std::to_string(handles.size()));
        for (TTaskHandle handle : handles)
            StopDownloadTask(handle, false);
        return ENGINE_OK;
    }
    int32_t ResumeDownloadTask(TTaskHandle handle) override
    {
        FakeTask *task = Find(handle);
        if (task == nullptr)
            return ENGINE_UNKNOWN_TASK;
        ++task->resumes;
        return ENGINE_OK;
    }
    int32_t GetTaskInfo(TTaskHandle handle, TTaskInfo &info) override
    {
        FakeTask *task = Find(handle);
        if (task == nullptr)
            return ENGINE_UNKNOWN_TASK;
        info = task->info;
        return ENGINE_OK;
    }
    int32_t IsTaskComplete(TTaskHandle handle, int32_t &complete) override
    {
        FakeTask *task = Find(handle);
        if (task == nullptr)
            return ENGINE_UNKNOWN_TASK;
        complete = task->complete;
        return ENGINE_OK;
    }
    int32_t IsTaskRunning(TTaskHandle handle, int32_t &running) override
    {
        FakeTask *task = Find(handle);
        if (task == nullptr)
            return ENGINE_UNKNOWN_TASK;
        running = task->running;
        return ENGINE_OK;
    }
    int32_t SetTaskSpeedLimit(TTaskHandle handle, int32_t kind, int32_t value) override
    {
        FakeTask *task = Find(handle);
        if (task == nullptr || kind != 1)
            return ENGINE_UNKNOWN_TASK;
        task->speedLimit = value;
        return ENGINE_OK;
    }
    int32_t SetTaskPeerLimits(TTaskHandle handle, int32_t maxServers, int32_t maxPeers) override
    {
        FakeTask *task = Find(handle);
        if (task == nullptr)
            return ENGINE_UNKNOWN_TASK;
        task->maxServers = maxServers;
        task->maxPeers = maxPeers;
        ++peerLimitCalls;
        return ENGINE_OK;
    }
    int32_t AddTaskMirror(TTaskHandle handle, const std::string &mirrorUrl, const std::string &hostName) override
    {
        FakeTask *task = Find(handle);
        if (task == nullptr)
            return ENGINE_UNKNOWN_TASK;
        journal.push_back("AddTaskMirror " + std::string(task->param.targetPath) + " " + mirrorUrl + " " + hostName);
        return ENGINE_OK;
    }
    int32_t ClearTaskMirrors(TTaskHandle handle) override
    {
        FakeTask *task = Find(handle);
        if (task == nullptr)
            return ENGINE_UNKNOWN_TASK;
        journal.push_back("ClearTaskMirrors " + std::string(task->param.targetPath));
        return ENGINE_OK;
    }
    void EnableHttpWrap(int32_t on) override { httpWrap = on; }
    int32_t SetListenPort(int32_t port) override
    {
        listenPort = port;
        return ENGINE_OK;
    }
    int32_t EnableListen(bool on) override
    {
        listening = on;
        return ENGINE_OK;
    }
    int32_t EnableLanDiscovery(bool on) override
    {
        lanDiscovery = on;
        return ENGINE_OK;
    }
    uint64_t GetDiskFreeBytes(const std::string &) override { return freeBytes; }
    int64_t GetFileDiskSize(const std::string &path) override
    {
        auto found = diskSizes.find(path);
        return found == diskSizes.end() ? 0 : found->second;
    }

    FakeTask *Find(TTaskHandle handle)
    {
        auto found = tasks.find(reinterpret_cast<uintptr_t>(handle));
        return found == tasks.end() ? nullptr : &found->second;
    }
    // The task whose target ends in name (the last one made for it).
    FakeTask *ForFile(const std::string &name)
    {
        FakeTask *last = nullptr;
        for (auto &[id, task] : tasks) {
            const std::string target = task.param.targetPath;
            if (target.size() >= name.size() && target.compare(target.size() - name.size(), name.size(), name) == 0)
                last = &task;
        }
        return last;
    }
    int Count(const std::string &entryPrefix) const
    {
        return static_cast<int>(std::count_if(journal.begin(), journal.end(), [&](const std::string &entry) {
            return entry.rfind(entryPrefix, 0) == 0;
        }));
    }

    TJournal &journal;
    std::map<uintptr_t, FakeTask> tasks;
    uintptr_t nextHandle = 1;
    int32_t initResult = ENGINE_OK;
    int32_t recoverResult = ENGINE_OK;
    std::vector<std::string> failingTargets; // names whose creation fails
    uint64_t freeBytes = 1ULL << 50;
    std::map<std::string, int64_t> diskSizes;
    int32_t httpWrap = 0;
    int32_t listenPort = -1;
    bool listening = false;
    bool lanDiscovery = false;
    int peerLimitCalls = 0;
    // Read by tests while the verification worker may be reopening a task.
    std::atomic<int> recoverCalls{0};

private:
    int32_t Make(TTaskParam &param, bool recover, bool force)
    {
        const std::string target = param.targetPath;
        journal.push_back(std::string(recover ? "Recover " : "Create ") + target);
        if (recover)
            ++recoverCalls;
        if (recover && recoverResult != ENGINE_OK)
            return recoverResult;
        for (const std::string &name : failingTargets) {
            if (target.size() >= name.size() && target.compare(target.size() - name.size(), name.size(), name) == 0)
                return ENGINE_DUPLICATE_TASK;
        }
        const uintptr_t id = nextHandle++;
        param.hTask = reinterpret_cast<TTaskHandle>(id);
        FakeTask &task = tasks[id];
        task.param = param;
        task.sources = param.sourceList != nullptr ? param.sourceList : "";
        task.recovered = recover;
        task.force = force;
        return ENGINE_OK;
    }
};

struct ReportRecord {
    std::string code;
    std::string file;
    std::string text;
    int32_t flags = 0;
    bool withStats = false;
    TStatsReport stats;
};

class RecordingReport : public IPackageReport {
public:
    explicit RecordingReport(TJournal &journal) : journal(journal) {}
    void Collect(const std::string &config, const std::string &gameId, const std::string &, const std::string &,
                 const std::string &) override
    {
        configPath = config;
        collectedGameId = gameId;
    }
    void EventWithStats(const TStatsReport &report) override
    {
        ReportRecord record;
        record.code = report.code;
        record.text = report.errorMsg;
        record.withStats = true;
        record.stats = report;
        Add(record);
    }
    void Event(const std::string &code, const std::string &text, int32_t flags) override
    {
        ReportRecord record;
        record.code = code;
        record.text = text;
        record.flags = flags;
        Add(record);
    }
    void FileEvent(const std::string &code, const std::string &fileName, const std::string &text) override
    {
        ReportRecord record;
        record.code = code;
        record.file = fileName;
        record.text = text;
        Add(record);
    }
    void Stop() override { journal.push_back("ReportStop"); }
    std::string Identification() override { return identification; }
    std::string identification;

    int Count(const std::string &code) const
    {
        return static_cast<int>(
            std::count_if(records.begin(), records.end(), [&](const ReportRecord &r) { return r.code == code; }));
    }
    const ReportRecord *Last(const std::string &code) const
    {
        for (auto it = records.rbegin(); it != records.rend(); ++it) {
            if (it->code == code)
                return &*it;
        }
        return nullptr;
    }

    TJournal &journal;
    std::vector<ReportRecord> records;
    std::string configPath = "(not collected)";
    std::string collectedGameId;

private:
    void Add(const ReportRecord &record)
    {
        journal.push_back("Report " + record.code);
        records.push_back(record);
    }
};

class RecordingFrontEnd : public IControllerFrontEnd {
public:
    // Both may come from the verification worker.
    void ShowMessage(const std::string &text, const std::string &caption) override
    {
        std::lock_guard<std::mutex> hold(guard);
        messages.push_back(text);
        captions.push_back(caption);
    }
    void ShowModalMessage(const std::string &text, const std::string &) override { modal.push_back(text); }
    bool AskYesNo(const std::string &text, const std::string &) override
    {
        questions.push_back(text);
        return answer;
    }
    void PostFrontEndMessage(uint32_t message) override
    {
        std::lock_guard<std::mutex> hold(guard);
        posted.push_back(message);
    }
    std::vector<uint32_t> Posted()
    {
        std::lock_guard<std::mutex> hold(guard);
        return posted;
    }
    void DestroyMainWindow() override { ++destroyed; }

    int Count(const std::string &text)
    {
        std::lock_guard<std::mutex> hold(guard);
        return static_cast<int>(std::count(messages.begin(), messages.end(), text));
    }

    std::mutex guard;
    std::vector<std::string> messages;
    std::vector<std::string> captions;
    std::vector<std::string> modal;
    std::vector<std::string> questions;
    std::vector<uint32_t> posted;
    bool answer = false;
    int destroyed = 0;
};

class RecordingPower : public IPowerControl {
public:
    bool OpenToken() override
    {
        calls.push_back("OpenToken");
        return tokenOk;
    }
    bool SetShutdownPrivilege(bool enable) override
    {
        calls.push_back(enable ? "Enable" : "Disable");
        return enable ? enableOk : disableOk;
    }
    bool RequestShutdown(uint32_t delaySeconds, const std::string &message) override
    {
        calls.push_back("Shutdown " + std::to_string(delaySeconds) + " " + message);
        return requestOk;
    }
    std::vector<std::string> calls;
    bool tokenOk = true, enableOk = true, requestOk = true, disableOk = true;
};

class RecordingShell : public IShellLauncher {
public:
    int Open(const std::string &path, const std::string &workFolder) override
    {
        opened.push_back(path + " in " + workFolder);
        return result;
    }
    std::vector<std::string> opened;
    int result = 42;
};

// Torrents for ids 301 to 306 and a report configuration.
class MapResources : public IResourceSource {
public:
    ResourceLoad Load(std::string_view type, int32_t id, std::string &bytes) override
    {
        auto found = items.find(std::string(type) + "#" + std::to_string(id));
        if (found == items.end())
            return ResourceLoad::NotFound;
        bytes = found->second;
        return ResourceLoad::Loaded;
    }
    std::map<std::string, std::string> items;
};

class ControllerFileSystem : public ScratchFileSystem {
public:
    using ScratchFileSystem::ScratchFileSystem;
    TStorageMode StorageMode(const std::string &) override { return mode; }
    TStorageMode mode = TStorageMode::Preallocated;
};

inline constexpr uint64_t kMiB = 1048576;

// A controller over recording doubles in a scratch folder. The package has
// six files of 2 to 7 MiB (by manifest) named f0.exe and f1.v to f5.v.
class ControllerTest : public ::testing::Test {
protected:
    ControllerTest() : engine(journal), report(journal), files(scratch)
    {
        for (int i = 0; i < kPackageFileCount; ++i) {
            manifest.name[i] = i == 0 ? "f0.exe" : "f" + std::to_string(i) + ".v";
            manifest.url[i] = "http://127.0.0.1:9/10192/" + manifest.name[i];
            manifest.size[i] = (2 + i) * kMiB;
            manifest.md5[i] = std::string(31, 'a') + static_cast<char>('0' + i);
            manifest.torrentId[i] = 301 + i;
            resources.items["TORRENT#" + std::to_string(301 + i)] = "d4:infod6:lengthi1eee";
        }
        manifest.installerName = manifest.name[0];
        manifest.packageKey = manifest.md5[0];
        resources.items["DUCONF#181"] = Base64Encode("[DataUpload]\nx=1\n");
        std::filesystem::create_directories(scratch.Path("home"));
        std::filesystem::create_directories(scratch.Path("tmp"));
        platform::SetDiagnosticCapture([this](const std::string &line) { logLines.push_back(line); });
    }
    ~ControllerTest() override
    {
        controller.reset();
        platform::SetDiagnosticCapture(nullptr);
    }

    CPackageController &Make()
    {
        TControllerServices services{engine, report, frontEnd, files, clock, resources, power, shell};
        services.connectionOverridePath = scratch.Path("link.ini");
        services.mapPort = portMapper;
        services.fetchResourceList = [this](std::string &text, const std::function<bool()> &cancelled) {
            ++resourceListFetches;
            while (holdResourceList && !cancelled())
                platform::SleepMs(1);
            if (cancelled())
                journal.push_back("resource list read cancelled");
            text = resourceListText;
            return !resourceListText.empty() && !cancelled();
        };
        controller = std::make_unique<CPackageController>(manifest, services);
        return *controller;
    }
    CPackageController &Started()
    {
        Make();
        EXPECT_GE(controller->StartUp(), 0);
        return *controller;
    }

    std::string SaveFolder() const { return scratch.Path("home") + "/VRNH10192"; }
    std::string DataFolder() const { return scratch.Path("data") + "/Pivh/Quarrowlight/Quarrowlight" + manifest.packageKey; }
    std::string IniPath() const { return DataFolder() + "/" + manifest.packageKey + ".qlconf"; }
    std::string FinalPath(int i) const { return SaveFolder() + "/" + manifest.name[i]; }
    std::string IniValue(const char *section, const std::string &key) const
    {
        return platform::IniReadString(IniPath(), section, key, "");
    }
    void WriteIni(const std::string &key, const std::string &value, const char *section = kPackageTaskSection)
    {
        std::filesystem::create_directories(DataFolder());
        platform::IniWriteString(IniPath(), section, key, value);
    }
    // An ini as a download that started earlier leaves it.
    void WriteStartedIni()
    {
        WriteIni("QuarrowlightTaskHash", manifest.packageKey);
        WriteIni("QuarrowlightTaskCreateTime", "2024-01-01 10:00:00");
        WriteIni("QuarrowlightTaskSavePath", SaveFolder());
        WriteIni("QuarrowlightTaskEntrence", manifest.installerName);
    }
    void WriteFile(const std::string &path, const std::string &bytes = "data")
    {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    // Runs the controller from Start to its six tasks.
    void StartDownload()
    {
        Started();
        controller->OnMainButton();
        ASSERT_EQ(controller->State(), 3u);
    }
    FakeTask &Task(int i)
    {
        FakeTask *task = engine.ForFile(manifest.name[i]);
        EXPECT_NE(task, nullptr) << i;
        static FakeTask none;
        return task != nullptr ? *task : none;
    }
    void SetFlowing(int i, int32_t speed, uint32_t progress = 100)
    {
        Task(i).info.speed = speed;
        Task(i).info.progress = progress;
        Task(i).info.totalKB = static_cast<uint32_t>(manifest.size[i] / 1024);
    }
    // The engine finishes file i: complete, and the data file under its name.
    void Finish(int i)
    {
        Task(i).complete = 1;
        Task(i).info.progress = 10000;
        WriteFile(FinalPath(i));
    }
    bool Logged(const std::string &text) const
    {
        for (const std::string &line : logLines) {
            if (line.find(text) != std::string::npos)
                return true;
        }
        return false;
    }

    ScratchFolder scratch;
    TJournal journal;
    // Set before Make to have the port chosen and mapped.
    IPortMapper *portMapper = nullptr;
    RecordingEngine engine;
    RecordingReport report;
    RecordingFrontEnd frontEnd;
    ControllerFileSystem files;
    FakeAppClock clock;
    MapResources resources;
    RecordingPower power;
    RecordingShell shell;
    PackageManifest manifest;
    std::vector<std::string> logLines;
    // Counted on the reader's thread.
    std::atomic<int> resourceListFetches{0};
    // What the fetch answers; empty: the fetch fails.
    std::string resourceListText;
    // While set, the fetch waits until it is cancelled or the flag drops.
    std::atomic<bool> holdResourceList{false};
    std::unique_ptr<CPackageController> controller;
};

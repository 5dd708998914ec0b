#pragma once
#include <atomic>
#include <filesystem>
#include <fstream>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/package_manifest.h"
#include "app/path_text.h"
#include "app/verification_host.h"
#include "tests/platform/scratch_folder.h"

// A package of six small files in a scratch save folder, and a controller
// stand-in that records what verification asks of it. A repair download is
// played by rewriting the file: with the right bytes once `badRepairs` of
// them have written wrong ones.
class RecordingVerificationHost : public IVerificationHost {
public:
    struct Event {
        std::string code;
        std::string file;
        std::string text;
        bool operator==(const Event &other) const
        {
            return code == other.code && file == other.file && text == other.text;
        }
    };
    struct Repair {
        int reopenFailures = 0;  // reopen attempts that fail before one succeeds
        int badRepairs = 0;      // repairs that bring wrong bytes
        int queriesUntilDone = 1;// task queries before progress 10000
        int queriesUntilRenamed = 0; // further queries before the final name exists
    };

    explicit RecordingVerificationHost(const ScratchFolder &scratch) : folder(scratch.Path("save"))
    {
        std::filesystem::create_directories(folder);
        for (int i = 0; i < kPackageFileCount; ++i) {
            good[i] = "contents of file " + std::to_string(i) + std::string(5000 * i, static_cast<char>('a' + i));
            manifest.name[i] = "f" + std::to_string(i) + ".bin";
            manifest.size[i] = good[i].size();
            WriteFile(i, good[i]);
        }
    }

    // The manifest's digests come from the caller (they need an MD5).
    PackageManifest manifest;
    std::string good[kPackageFileCount];
    Repair repair[kPackageFileCount];

    void WriteFile(int index, const std::string &bytes)
    {
        std::ofstream out(JoinPath(folder, manifest.name[index]), std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    void RemoveFile(int index) { std::filesystem::remove(JoinPath(folder, manifest.name[index])); }

    uint32_t State() override { return state.load(); }
    void SetState(uint32_t value) override
    {
        std::lock_guard<std::mutex> hold(lock);
        state = value;
        states.push_back(value);
    }
    uint32_t OverallProgress() override { return overallProgress.load(); }
    std::string FilePath(int index) override { return JoinPath(folder, manifest.name[index]); }
    void PrepareCheck() override { ++prepared; }
    void StopTask(int index) override
    {
        std::lock_guard<std::mutex> hold(lock);
        stopped.push_back(index);
    }
    bool ReopenTaskForRepair(int index) override
    {
        std::lock_guard<std::mutex> hold(lock);
        ++reopenAttempts;
        Repair &r = repair[index];
        if (r.reopenFailures > 0) {
            --r.reopenFailures;
            return false;
        }
        queries = 0;
        RemoveFile(index);
        pendingBytes = r.badRepairs > 0 ? std::string(good[index].size(), 'X') : good[index];
        if (r.badRepairs > 0)
            --r.badRepairs;
        return true;
    }
    bool QueryTask(int index, TTaskInfo &info) override
    {
        std::lock_guard<std::mutex> hold(lock);
        ++queries;
        const Repair &r = repair[index];
        info.progress = queries >= r.queriesUntilDone ? 10000 : 5000;
        info.speed = 2048;
        if (queries >= r.queriesUntilDone + r.queriesUntilRenamed && !pendingBytes.empty()) {
            WriteFile(index, pendingBytes);
            pendingBytes.clear();
        }
        return true;
    }
    void WriteStamp(int index) override
    {
        std::lock_guard<std::mutex> hold(lock);
        stamped.push_back(index);
    }
    void ShowMessage(const std::string &text) override
    {
        std::lock_guard<std::mutex> hold(lock);
        messages.push_back(text);
    }
    void ReportFileEvent(const std::string &code, const std::string &fileName, const std::string &text) override
    {
        std::lock_guard<std::mutex> hold(lock);
        events.push_back({code, fileName, text});
    }
    void ReportEvent(const std::string &code, const std::string &text) override
    {
        std::lock_guard<std::mutex> hold(lock);
        events.push_back({code, "", text});
    }
    void LaunchInstallerVerified() override { ++launches; }
    void PostInstallAfterCheck() override { ++installPosts; }

    std::string folder;
    std::mutex lock;
    std::atomic<uint32_t> state{8};
    std::atomic<uint32_t> overallProgress{10000};
    std::vector<uint32_t> states;
    std::vector<int> stopped;
    std::vector<int> stamped;
    std::vector<std::string> messages;
    std::vector<Event> events;
    std::atomic<int> prepared{0};
    std::atomic<int> launches{0};
    std::atomic<int> installPosts{0};
    int reopenAttempts = 0;
    int queries = 0;
    std::string pendingBytes;
};

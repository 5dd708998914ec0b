#pragma once
// Shared pieces of the end-to-end download tests: a folder with a file of
// known content, its MD5, and a task driven through the flat engine
// interface until it ends.
#include <openssl/evp.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/core/engine_interface.h"
#include "platform/child_process.h"
#include "platform/child_wait.h"
#include "platform/tick.h"

namespace fs = std::filesystem;

inline std::string Md5Hex(const std::string &bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(hex[digest[i] >> 4]);
        text.push_back(hex[digest[i] & 15]);
    }
    return text;
}

inline std::string ReadAll(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const fs::path &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A torrent of the file, made by mktorrent, with pieces of 2^pieceBits bytes
// and a tracker nobody answers.
inline void MakeTorrent(const fs::path &file, const fs::path &torrent, int pieceBits = 16)
{
    platform::ChildResult result;
    int pid = platform::StartChildProcess({"/usr/bin/mktorrent", "-l", std::to_string(pieceBits), "-a",
                                           "http://127.0.0.1:9/announce", "-o", torrent.string(), file.string()});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(platform::WaitChild(pid, result));
    ASSERT_EQ(result.exitCode, 0);
}

// Bytes that differ at every offset, so a block stored at a wrong place
// shows in the digest.
inline std::string PatternBytes(size_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char &c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

inline bool Complete(const TTaskInfo &info)
{
    return info.progress >= 10000;
}

// What a failed wait shows of the task.
inline std::string Describe(const TTaskInfo &info)
{
    return "progress " + std::to_string(info.progress) + " state " + std::to_string(info.state) + " http " +
           std::to_string(info.httpBytes);
}

// A scratch folder removed with the object.
class TScratch {
public:
    TScratch()
    {
        path = fs::temp_directory_path() / ("ql-e2e-" + std::to_string(platform::TickCount()) + "-" +
                                            std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::create_directories(path);
    }
    ~TScratch()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

// A task made through the engine interface; stopped when the object goes.
class TEngineTask {
public:
    ~TEngineTask()
    {
        if (handle != nullptr)
            StopDownloadTask(handle, false);
    }

    // An HTTP task (no torrent) writing to target from the source lines.
    int32_t CreateHttp(const fs::path &target, const std::string &sourceLines)
    {
        return Create("", target, sourceLines, TASK_FLAG_FILE_PATH);
    }
    // A BitTorrent task; its first source line is where its torrent comes from.
    int32_t CreateBt(const fs::path &target, const std::string &sourceLines)
    {
        return Create("", target, sourceLines, TASK_FLAG_FILE_PATH | TASK_FLAG_BT);
    }
    // A P2SP task whose metainfo is a local torrent file.
    int32_t CreateP2sp(const fs::path &torrent, const fs::path &target, const std::string &sourceLines)
    {
        return Create("file://" + torrent.string(), target, sourceLines, TASK_FLAG_FILE_PATH | TASK_FLAG_P2SP);
    }

    TTaskInfo Info() const
    {
        TTaskInfo info;
        std::memset(&info, 0, sizeof info);
        GetTaskInfo(handle, &info);
        return info;
    }

    // Polls until done() holds or the wait runs out; true when it held.
    bool WaitUntil(const std::function<bool(const TTaskInfo &)> &done, uint32_t ms = 60000) const
    {
        for (uint32_t waited = 0; waited < ms; waited += 20) {
            if (done(Info()))
                return true;
            platform::SleepMs(20);
        }
        return done(Info());
    }

    TTaskHandle handle = nullptr;

private:
    int32_t Create(const std::string &main, const fs::path &target, const std::string &sourceLines, uint32_t flags)
    {
        sources = sourceLines;
        std::memset(&param, 0, sizeof param);
        std::strncpy(param.p2spUrl, main.c_str(), sizeof param.p2spUrl - 1);
        param.sourceList = sources.c_str();
        std::strncpy(param.targetPath, target.string().c_str(), sizeof param.targetPath - 1);
        std::strncpy(param.resumePath, (target.string() + ".qlinfo").c_str(), sizeof param.resumePath - 1);
        param.flags = flags;
        int32_t status = CreateDownloadTask(&param);
        handle = param.hTask;
        return status;
    }

    std::string sources;
    TTaskParam param;
};

// Waits for the task to complete and checks the file under its final name.
inline void ExpectTaskDelivered(const TEngineTask &task, const fs::path &target, const std::string &content)
{
    ASSERT_TRUE(task.WaitUntil(Complete)) << Describe(task.Info());
    ASSERT_TRUE(task.WaitUntil([&](const TTaskInfo &) { return fs::exists(target); }, 5000));
    EXPECT_EQ(Md5Hex(ReadAll(target)), Md5Hex(content));
    EXPECT_FALSE(fs::exists(target.string() + ".qltmp"));
}

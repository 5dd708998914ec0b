#pragma once
// A task whose layers the tests drive directly, on the test's thread, with a
// real data file in a scratch folder, and peers whose transport is scripted.
#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/work_thread.h"
#include "platform/tick.h"
#include "tests/engine/core/scripted_peer.h"

namespace fs = std::filesystem;

class THarnessTask : public TWorkThread {
public:
    using TWorkWithPieces::OnServerSize;

    THarnessTask()
    {
        folder = fs::temp_directory_path() /
                 ("ql-task-" + std::to_string(platform::TickCount()) + "-" +
                  std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::create_directories(folder);
        targetFile = (folder / "data.bin").string();
        TBaseWork::folder = folder.string() + "/";
    }
    ~THarnessTask() override
    {
        Stop();
        Reset(true, true);
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    // Builds the data file of an HTTP task as the first server's size would.
    bool MakeDataFile(int64_t size)
    {
        auto address = TRef<TPeerId>::Adopt(new TPeerId);
        address->Parts().serverSize = size;
        OnServerSize(*address);
        return FileSize() == size;
    }

    // A candidate server address (parsed, 127.0.0.1); addresses on one host
    // and port count as one server.
    TPeerId *AddServer(int port)
    {
        auto address = TRef<TPeerId>::Adopt(new TPeerId);
        bool parsed = address->Parse("http://127.0.0.1:" + std::to_string(port) + "/file");
        address->origin = ORIGIN_SOURCE;
        bool added = parsed && AddCandidate(address, false, false);
        // The list holds the record now.
        return added ? address.Get() : nullptr;
    }

    // A peer on the connection list, held by the list.
    TScriptedPeer *AddPeer(int32_t kind, int32_t downRate = 0)
    {
        auto *peer = new TScriptedPeer(this, kind);
        peer->period.downRate = downRate;
        connections.push_back(TRef<TPeerObject>::Adopt(peer));
        return peer;
    }

    void SaveResumeRecord() override { ++saves; }
    bool IsStopping() override { return windingDown || TWorkThread::IsStopping(); }

    fs::path folder;
    bool windingDown = false;
    int saves = 0;
};

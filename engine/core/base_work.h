#pragma once
#include <string>
#include <vector>

#include "engine/base/qthread.h"
#include "engine/core/engine_interface.h"
#include "engine/core/source_list.h"
#include "engine/core/task_settings.h"
#include "engine/core/task_status.h"

// The bottom layer of a task: settings, identity, source list and status,
// and the registration that starts the engine for the first task.
class TBaseWork : public QThread {
public:
    TBaseWork();
    ~TBaseWork() override;

    TTaskHandle Handle() const { return handle; }

    // Task identity, set by task creation.
    bool isP2sp = false;
    bool isBt = false;
    bool hasFilePath = false;
    std::string mainSource;
    std::vector<TSourceEntry> sources;
    std::string targetFile;
    std::string folder;
    std::string resumePath;
    std::string secondResumePath;

    bool IsHttpTask() const { return !isP2sp && !isBt; }
    const char *KindText() const;

    TTaskSettings settings;
    TTaskStatus live;
    TTaskStatus snapshot;

protected:
    // Leaves the registry; the last task out tears the engine down. Called by
    // the outermost destructor while the whole object still exists.
    void Unregister();

private:
    TTaskHandle handle = nullptr;
    bool registered = false;
};

#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "app/resource_list.h"
#include "engine/base/qthread.h"

// Fetches the resource list's text; cancelled() turns true when the read
// must end at once. False when no text came.
using TResourceListFetch = std::function<bool(std::string &text, const std::function<bool()> &cancelled)>;

// Receives a read list; returns 0 when mirrors were added, -2 otherwise.
class IResourceListTarget {
public:
    virtual ~IResourceListTarget() = default;
    virtual int ApplyResourceList(const TResourceList &list) = 0;
};

// The background read of the resource list: one at a time, so slow reads
// never pile up; Stop (also the destructor) cancels the fetch and joins.
class CResourceListReader : public QThread {
public:
    CResourceListReader(TResourceListFetch fetch, IResourceListTarget &target);
    ~CResourceListReader() override;

    // Starts a read; false while one runs or when no thread can be made.
    bool Begin();
    // 0 when mirrors were added, -1 no text, -2 nothing usable, -3 a
    // failure inside the read; 1 before the first read ends.
    int32_t LastResult() const { return lastResult; }

    void Run() override;
    void Refresh() override {}

private:
    int32_t Read();

    TResourceListFetch fetch;
    IResourceListTarget &target;
    std::atomic<int32_t> lastResult{1};
};

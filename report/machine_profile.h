#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include <json/value.h>

#include "engine/base/qmutex.h"
#include "report/profile_sources.h"

// Event flags that add the hardware groups to an event's record.
inline constexpr int32_t kProfileCpuFlag = 1;
inline constexpr int32_t kProfileMemoryFlag = 2;
inline constexpr int32_t kProfileVideoFlag = 4;

// The machine's description in each event record: identifier, adapter
// addresses, operating-system code and, on request, processor, memory and
// video card. The hardware groups and the operating-system code are collected
// once per object (the process keeps one) and reused.
class CMachineProfile {
public:
    explicit CMachineProfile(TProfileSources sources);

    // Takes a fresh snapshot of the system (kernel names, interfaces, locale)
    // for the records that follow; false when there is no source for it.
    bool ConnectWmi();

    // "CPU": one object per processor package.
    void CollectCpu(Json::Value &record);
    // "Memory": one object per module, and "Memory_Total_Capacity" beside it.
    void CollectMemory(Json::Value &record);
    // "Video_Card": one object per display device.
    void CollectVideoCard(Json::Value &record);
    std::string CollectOsCode();
    // "MachId".
    void CollectMachId(Json::Value &record);
    // Adapter addresses "%02x-…" and first IPv4 addresses, each joined by ";";
    // both empty when the interface list cannot be read.
    void CollectAdapters(std::string &addresses, std::string &ipAddresses);

    // The groups the flags ask for, then "MachId", "Mac" and "OS".
    void FillRecord(int32_t flags, Json::Value &record);

private:
    QTMutex guard;
    TProfileSources sources;
    TSystemSnapshot snapshot;
    bool connected = false;
    std::optional<Json::Value> cpuGroup;
    std::optional<Json::Value> memoryGroup;
    std::optional<Json::Value> memoryTotal; // stays empty when /proc/meminfo says nothing
    std::optional<Json::Value> videoGroup;
    std::optional<std::string> osCode;
};

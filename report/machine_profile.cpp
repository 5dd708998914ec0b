#include "report/machine_profile.h"

#include <cstdio>
#include <utility>

#include "report/machine_id.h"
#include "report/os_code.h"
#include "report/proc_facts.h"
#include "report/profile_tables.h"
#include "report/smbios_memory.h"
#include "report/video_cards.h"

namespace {
constexpr size_t kProcTextBytes = 4 * 1024 * 1024;
constexpr size_t kSmbiosBytes = 1024 * 1024;

Json::Value CpuGroup(const TProfileSources &sources, const std::string &machine)
{
    Json::Value group(Json::arrayValue);
    std::string cpuinfo;
    if (!sources.ReadFact("/proc/cpuinfo", kProcTextBytes, cpuinfo))
        return group;
    for (const TCpuPackage &package : ParseCpuPackages(cpuinfo)) {
        Json::Value cpu(Json::objectValue);
        if (package.name)
            cpu["CPU_Name"] = *package.name;
        if (package.vendor)
            cpu["CPU_Manufacturer"] = *package.vendor;
        cpu["CPU_Type"] = CpuTypeName(kCentralProcessorType);
        if (!machine.empty())
            cpu["CPU_Architecture"] = CpuArchitectureName(CpuArchitectureOfMachine(machine));
        group.append(cpu);
    }
    return group;
}

Json::Value MemoryGroup(const TProfileSources &sources)
{
    Json::Value group(Json::arrayValue);
    std::string table;
    // The table is readable by root only; otherwise the group stays empty.
    if (!sources.ReadFact("/sys/firmware/dmi/tables/DMI", kSmbiosBytes, table))
        return group;
    for (const TMemoryModule &module : ParseSmbiosMemoryModules(table)) {
        Json::Value memory(Json::objectValue);
        if (module.smbiosType)
            memory["Memory_Type"] = MemoryTypeName(MemoryTypeCodeOfSmbios(*module.smbiosType));
        if (module.capacity)
            memory["Memory_Capacity"] = Json::UInt64(*module.capacity);
        if (module.speed)
            memory["Memory_Frequency"] = Json::UInt(*module.speed);
        group.append(memory);
    }
    return group;
}

std::optional<Json::Value> MemoryTotal(const TProfileSources &sources)
{
    std::string meminfo;
    if (!sources.ReadFact("/proc/meminfo", kProcTextBytes, meminfo))
        return std::nullopt;
    std::optional<uint64_t> total = ParseMemTotalBytes(meminfo);
    if (!total)
        return std::nullopt;
    return Json::Value(Json::UInt64(*total));
}

Json::Value VideoGroup(const TProfileSources &sources)
{
    Json::Value group(Json::arrayValue);
    for (const TVideoCard &card : CollectVideoCards(sources)) {
        Json::Value video(Json::objectValue);
        if (card.name)
            video["Video_Card_Name"] = *card.name;
        if (card.memoryBytes)
            video["Video_Card_Memory_Capacity"] = Json::UInt64(*card.memoryBytes);
        if (card.driverVersion)
            video["Video_Card_Driver_Version"] = *card.driverVersion;
        group.append(video);
    }
    return group;
}

std::string FormatHardware(const uint8_t (&a)[6])
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x-%02x-%02x-%02x-%02x-%02x", a[0], a[1], a[2], a[3], a[4], a[5]);
    return text;
}
} // namespace

CMachineProfile::CMachineProfile(TProfileSources from) : sources(std::move(from)) {}

bool CMachineProfile::ConnectWmi()
{
    QAutoLock hold(guard);
    if (!sources.readSystem)
        return false;
    snapshot = sources.readSystem();
    connected = true;
    return true;
}

void CMachineProfile::CollectCpu(Json::Value &record)
{
    QAutoLock hold(guard);
    if (!cpuGroup)
        cpuGroup = CpuGroup(sources, snapshot.kernel.machine);
    record["CPU"] = *cpuGroup;
}

void CMachineProfile::CollectMemory(Json::Value &record)
{
    QAutoLock hold(guard);
    if (!memoryGroup) {
        memoryGroup = MemoryGroup(sources);
        memoryTotal = MemoryTotal(sources);
    }
    record["Memory"] = *memoryGroup;
    if (memoryTotal)
        record["Memory_Total_Capacity"] = *memoryTotal;
}

void CMachineProfile::CollectVideoCard(Json::Value &record)
{
    QAutoLock hold(guard);
    if (!videoGroup)
        videoGroup = VideoGroup(sources);
    record["Video_Card"] = *videoGroup;
}

std::string CMachineProfile::CollectOsCode()
{
    QAutoLock hold(guard);
    if (!osCode) {
        if (!connected)
            ConnectWmi();
        osCode = ComposeOsCode(snapshot);
    }
    return *osCode;
}

void CMachineProfile::CollectMachId(Json::Value &record)
{
    record["MachId"] = CollectMachineId(sources);
}

void CMachineProfile::CollectAdapters(std::string &addresses, std::string &ipAddresses)
{
    QAutoLock hold(guard);
    addresses.clear();
    ipAddresses.clear();
    if (!snapshot.adaptersReadable)
        return;
    for (const auto &adapter : snapshot.adapters) {
        if (adapter.loopback)
            continue;
        if (!addresses.empty()) {
            addresses += ';';
            ipAddresses += ';';
        }
        addresses += FormatHardware(adapter.hardware);
        ipAddresses += adapter.firstIpv4.empty() ? "0.0.0.0" : adapter.firstIpv4;
    }
}

void CMachineProfile::FillRecord(int32_t flags, Json::Value &record)
{
    if ((flags & kProfileCpuFlag) != 0)
        CollectCpu(record);
    if ((flags & kProfileMemoryFlag) != 0)
        CollectMemory(record);
    if ((flags & kProfileVideoFlag) != 0)
        CollectVideoCard(record);
    CollectMachId(record);
    std::string addresses, ipAddresses;
    CollectAdapters(addresses, ipAddresses);
    record["Mac"] = addresses;
    record["OS"] = CollectOsCode();
}

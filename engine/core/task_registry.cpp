#include "engine/core/task_registry.h"

#include <algorithm>
#include <cstdint>

#include "engine/base/engine_locks.h"

namespace {
struct TRegistryEntry {
    TBaseWork *task;
    uintptr_t id;
};

std::vector<TRegistryEntry> &Entries()
{
    static std::vector<TRegistryEntry> entries;
    return entries;
}

uintptr_t nextId = 1;

TTaskHandle ToHandle(uintptr_t id)
{
    return reinterpret_cast<TTaskHandle>(id);
}
} // namespace

TTaskHandle RegistryAdd(TBaseWork *task, bool *wasEmpty)
{
    QAutoLock hold(RegistryLock());
    auto &entries = Entries();
    *wasEmpty = entries.empty();
    for (const auto &entry : entries) {
        if (entry.task == task)
            return ToHandle(entry.id);
    }
    if (entries.capacity() == 0)
        entries.reserve(15);
    else if (entries.size() == entries.capacity())
        entries.reserve(entries.capacity() + 256);
    entries.push_back({task, nextId++});
    return ToHandle(entries.back().id);
}

bool RegistryRemove(TBaseWork *task)
{
    QAutoLock hold(RegistryLock());
    auto &entries = Entries();
    auto removed = std::remove_if(entries.begin(), entries.end(), [task](const TRegistryEntry &e) { return e.task == task; });
    bool found = removed != entries.end();
    entries.erase(removed, entries.end());
    return found && entries.empty();
}

TBaseWork *RegistryFind(TTaskHandle handle)
{
    QAutoLock hold(RegistryLock());
    uintptr_t id = reinterpret_cast<uintptr_t>(handle);
    for (const auto &entry : Entries()) {
        if (entry.id == id)
            return entry.task;
    }
    return nullptr;
}

std::vector<TBaseWork *> RegistryTasks()
{
    QAutoLock hold(RegistryLock());
    std::vector<TBaseWork *> tasks;
    for (const auto &entry : Entries())
        tasks.push_back(entry.task);
    return tasks;
}

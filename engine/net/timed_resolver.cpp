#include "engine/net/timed_resolver.h"

#include <memory>
#include <unordered_map>

#include "engine/base/qmutex.h"
#include "engine/net/host_lookup.h"
#include "platform/os_event.h"
#include "platform/os_thread.h"
#include "platform/winsock_codes.h"

namespace {
// One look-up in progress. Slots are keyed by an id that is never reused, so
// a worker that finishes late can only find its own slot, or none.
struct Slot {
    std::shared_ptr<platform::OsEvent> finished;
    bool done = false;
    bool answered = false;
    int32_t error = 0;
    std::vector<uint32_t> addresses;
};

struct SlotTable {
    QSMutex guard;
    std::unordered_map<uint64_t, Slot> slots;
    uint64_t nextId = 1;
};

// Workers may outlive every caller, so the table is never destroyed.
SlotTable &TheTable()
{
    static SlotTable *table = new SlotTable;
    return *table;
}

void LookUpInto(uint64_t id, const std::string &host)
{
    std::vector<uint32_t> found;
    int32_t error = LookupHost(host, found);
    SlotTable &table = TheTable();
    QAutoLock hold(table.guard);
    auto slot = table.slots.find(id);
    if (slot == table.slots.end())
        return; // the caller gave up; the result goes nowhere
    slot->second.answered = true;
    slot->second.error = error;
    if (error == 0) {
        if (found.size() > kMostResolvedAddresses)
            found.resize(kMostResolvedAddresses);
        slot->second.addresses = std::move(found);
        slot->second.done = true;
    }
    // A failure wakes the caller too: waiting longer would not change it.
    slot->second.finished->Set();
}
} // namespace

bool ResolveWithTimeout(const std::string &host, TResolveResult &result, uint32_t timeoutMs)
{
    result = TResolveResult{};
    if (host.empty() || timeoutMs == 0) {
        result.error = platform::WSA_INVALID_PARAMETER;
        return false;
    }
    SlotTable &table = TheTable();
    auto finished = std::make_shared<platform::OsEvent>();
    uint64_t id;
    {
        QAutoLock hold(table.guard);
        id = table.nextId++;
        table.slots[id].finished = finished;
    }
    bool started = platform::StartDetachedThread([id, host] { LookUpInto(id, host); });
    if (started)
        finished->Wait(timeoutMs);
    Slot slot;
    {
        QAutoLock hold(table.guard);
        auto found = table.slots.find(id);
        slot = std::move(found->second);
        table.slots.erase(found);
    }
    if (!started) {
        result.error = platform::WSA_NOT_ENOUGH_MEMORY;
        return false;
    }
    if (!slot.answered) {
        result.error = platform::WSAETIMEDOUT;
        return false;
    }
    result.error = slot.error;
    if (!slot.done)
        return false;
    result.addressLength = static_cast<int32_t>(sizeof(uint32_t));
    result.addresses = std::move(slot.addresses);
    return true;
}

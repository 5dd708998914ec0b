#include "engine/core/engine_state.h"

#include <cstring>

#include "engine/base/engine_locks.h"
#include "platform/random_bytes.h"

std::atomic<int32_t> halfOpenLimit{64};
std::atomic<bool> engineIdle{true};
std::atomic<bool> outsideReachable{false};

namespace {
std::atomic<bool> httpWrap{false};
}

void SetHttpWrap(bool on)
{
    httpWrap = on;
}

bool IsHttpWrap()
{
    return httpWrap.load();
}

namespace {
uint8_t engineId[16];
}

const uint8_t *EngineId()
{
    return engineId;
}

void EnsureEngineId()
{
    QAutoLock hold(RegistryLock());
    static const uint8_t zero[16] = {};
    if (std::memcmp(engineId, zero, sizeof engineId) != 0)
        return;
    if (!platform::RandomBytes(engineId, sizeof engineId))
        engineId[1] = 1;
    // Bytes 0-7 are this host's UDP identity, which never begins 00 00 (that
    // is the address form of a tag): byte 0 becomes 1, byte 1 becomes 2.
    if (engineId[0] == 0)
        engineId[0] = 1;
    if (engineId[1] == 0)
        engineId[1] = 2;
}

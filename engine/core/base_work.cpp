#include "engine/core/base_work.h"

#include "engine/base/engine_locks.h"
#include "engine/core/engine_startup.h"
#include "engine/core/task_registry.h"

TBaseWork::TBaseWork()
{
    QAutoLock hold(RegistryLock());
    bool first = false;
    handle = RegistryAdd(this, &first);
    registered = true;
    if (first)
        EngineStartUp();
}

TBaseWork::~TBaseWork()
{
    Unregister();
}

void TBaseWork::Unregister()
{
    QAutoLock hold(RegistryLock());
    if (!registered)
        return;
    registered = false;
    if (RegistryRemove(this))
        EngineTearDown();
}

const char *TBaseWork::KindText() const
{
    if (isP2sp)
        return "P2SP Task";
    if (isBt)
        return "BT Task";
    return "HTTP Task";
}

#pragma once
#include "engine/base/qmutex.h"

// The engine-wide locks, in the order in which they may be nested: engine
// lock, registry lock, a task's own lock, then the socket and disk locks.
// They live for the whole process, so no late writer finds one destroyed.
QTMutex &EngineLock();
QTMutex &RegistryLock();
QTMutex &SocketLock();
QTMutex &DiskLock();

#pragma once
#include <vector>

#include "engine/core/engine_interface.h"

class TBaseWork;

// The engine-wide list of live tasks, guarded by the registry lock. Each task
// gets a handle id that is never reused.

// Adds the task unless present; returns its handle. wasEmpty tells whether it
// is the first task (the caller then runs the engine start-up).
TTaskHandle RegistryAdd(TBaseWork *task, bool *wasEmpty);
// Removes every occurrence; true when the registry is empty afterwards and the
// task had been registered.
bool RegistryRemove(TBaseWork *task);
// The live task a handle names, or null.
TBaseWork *RegistryFind(TTaskHandle handle);
std::vector<TBaseWork *> RegistryTasks();

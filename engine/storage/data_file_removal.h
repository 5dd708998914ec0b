#pragma once
#include <string>

// Deletes what a task leaves on disk, for a restart from nothing: the target
// file, its temporary form (".qltmp" appended), the task state file and the
// block spill file beside it ("df" appended). Empty paths are passed over.
// True when none of them remains.
bool RemoveTaskFiles(const std::string &targetPath, const std::string &statePath);

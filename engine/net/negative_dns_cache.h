#pragma once
#include <string>

// Host names the resolver failed to find; they are not asked for again until
// the cache is cleared (when a task's run ends). Names compare ignoring case.
void AddToNegativeDnsCache(const std::string &host);
bool IsInNegativeDnsCache(const std::string &host);
void ClearNegativeDnsCache();

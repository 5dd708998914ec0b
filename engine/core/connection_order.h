#pragma once
#include <vector>

#include "engine/base/ref_handle.h"

class TPeerObject;

// Sorts connections best first, the worst last, so that dropping walks from
// the end: connected before unconnected; while downloading by download rate,
// socket download speed, upload rate and received total; once complete by
// choke state and piece count, then upload rate and socket upload speed.
// Rates and speeds compare in 2048-byte steps.
void SortConnections(std::vector<TRef<TPeerObject>> &connections, bool complete);

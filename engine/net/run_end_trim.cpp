#include "engine/net/run_end_trim.h"

#include "engine/base/engine_buffer_pools.h"
#include "engine/net/negative_dns_cache.h"

void TrimEngineBufferPoolsAtRunEnd()
{
    TrimBufferPoolsAtRunEnd();
    ClearNegativeDnsCache();
}

#include "engine/net/lan_group.h"

#include <atomic>

namespace {
std::atomic<QLanGroup *> registered{nullptr};
}

void SetLanGroup(QLanGroup *group)
{
    registered = group;
}

QLanGroup *LanGroup()
{
    return registered.load();
}

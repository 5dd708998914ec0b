#pragma once
#include <cstdint>
#include <vector>

// This host's IPv4 (network order) as the engine publishes it: among the first
// maxCount addresses of the interfaces that are up and not loopback (-1 means
// 65535), the first one that is not private, else the first one; kNoAddress
// when there is none.
uint32_t PickLocalAddress(int32_t maxCount = -1);

// The choice itself, over a given list.
uint32_t ChooseLocalAddress(const std::vector<uint32_t> &candidates, int32_t maxCount);

#pragma once
#include <cstdint>
#include <functional>

// The listen port is drawn from this range so that a router's forwarding
// rules and a user's firewall exceptions can name it.
inline constexpr int32_t kFirstListenPort = 40000;
inline constexpr int32_t kLastListenPort = 50000;

// Ports that other programs are known to use; never chosen.
bool IsExcludedListenPort(int32_t port);

// The first candidate for a random value: random % 10000 + 40000, moved on by
// one at least once and past excluded ports.
int32_t FirstListenPortCandidate(uint32_t random);

// The first port from start on (wrapping from 50000 to 40000) for which
// inUse is false; 0 when every port of the range is in use.
int32_t ChooseListenPort(int32_t start, const std::function<bool(int32_t)> &inUse);

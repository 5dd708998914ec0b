#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "report/profile_sources.h"

// The machine identifier: 16 upper-case hex digits mixed from a 32-bit serial
// (s0 its least significant byte) and a 6-byte hardware address m:
// m0+s2, m1, m2+s3, m3+s0, m4, m5+s2, s0, s1, each sum modulo 256.
std::string ComposeMachineId(uint32_t serial, const std::array<uint8_t, 6> &mac);

// "02:fc:00:00:00:01" as six bytes.
std::optional<std::array<uint8_t, 6>> ParseMacText(const std::string &text);

// The serial is the number the first eight hex digits of /etc/machine-id
// write (0 when unreadable); the address is that of the first physical
// interface, the one with the lowest index among those with a "device" link in
// /sys/class/net (zeros when there is none).
std::string CollectMachineId(const TProfileSources &sources);

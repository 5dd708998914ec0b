#pragma once
#include <cstddef>
#include <string>
#include <string_view>

// The gateway's root description comes from whatever answered on the LAN:
// only this much of it is read, and only this much of its name is kept.
inline constexpr size_t kMaxIgdDescriptionBytes = 64 * 1024;
inline constexpr size_t kMaxFriendlyNameBytes = 256;

// The friendlyName of the root device of a UPnP root description
// (root/device/friendlyName), cut to kMaxFriendlyNameBytes on a character
// boundary and without control characters, so that it can be logged as it
// is. Empty when the text is longer than kMaxIgdDescriptionBytes, is no XML
// of that form, or names no device.
std::string ReadFriendlyName(std::string_view description);

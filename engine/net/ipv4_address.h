#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// IPv4 addresses travel in network order through the engine; these helpers
// convert, print and parse them (platform/network_interfaces.h classifies).

constexpr uint32_t kNoAddress = 0xFFFFFFFFu;

uint32_t HostToNetwork32(uint32_t value);
uint32_t NetworkToHost32(uint32_t value);

// "a.b.c.d" of an address in network order.
std::string DottedText(uint32_t networkOrder);

// Dotted decimal text: one to four parts of at most 255 each fill the bytes
// from the most significant one, missing parts are 0 ("10.0.0" is 10.0.0.0).
// Returns the address in host order, or kNoAddress for anything else and for
// an address of 0.
uint32_t DottedParse(std::string_view text);

// Whether text holds only digits and dots (and is not empty).
bool IsDigitsAndDots(std::string_view text);

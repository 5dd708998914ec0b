#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The value of one hexadecimal digit (either case), or -1.
int HexDigitValue(char c);
// Appends each byte as two lower-case hexadecimal digits.
void AppendLowerHex(std::string &out, const uint8_t *bytes, size_t length);
// Tracker-query escaping of binary values: ASCII letters and digits as they
// are, every other byte '%' and two lower-case hexadecimal digits.
std::string PercentEscapeBinary(const uint8_t *bytes, size_t length);

#pragma once
#include <cstddef>
#include <cstdint>

// Adler-32 (modulus 65,521) continued from a starting value whose low 16
// bits are the sum A and high 16 bits the sum B. The state file's records
// start it from a piece index instead of 1, so a record moved to another
// piece no longer matches.
uint32_t SeededAdler32(uint32_t start, const uint8_t *bytes, size_t length);

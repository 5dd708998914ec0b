#pragma once
#include <cstddef>
#include <string>

// Inflates a gzip-coded body into out. False when the data is not gzip,
// is cut short, or would inflate to more than limit bytes: a small hostile
// answer cannot make us hold gigabytes.
bool InflateGzip(const std::string &in, size_t limit, std::string &out);

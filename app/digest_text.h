#pragma once
#include <string_view>

// 32 hexadecimal digits; with lowerOnly, lower-case ones (the form the
// manifest and the MD5 computation use).
bool IsMd5Text(std::string_view text, bool lowerOnly);

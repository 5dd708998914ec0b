#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The iconv name of a Windows code page ("CP936", "UTF-8", ...).
std::string CodePageCharset(int32_t codePage);

// Decodes bytes written in a Windows code page and re-encodes them in the
// system code page, UTF-8. False, with out emptied, when the code page is
// unknown or the bytes are not valid in it.
bool CodePageToUtf8(int32_t codePage, std::string_view bytes, std::string &out);

} // namespace platform

#pragma once
#include <string>

#include <json/value.h>

// The report's JSON texts: compact (no blanks, no line breaks), members in
// name order, non-ASCII characters written as UTF-8 rather than \u escapes.
std::string WriteCompactJson(const Json::Value &value);

// The inside of a JSON string literal for text: quotes, backslashes and
// control characters escaped; valid UTF-8 kept byte for byte; a byte that is
// not part of a valid UTF-8 sequence becomes U+FFFD, so the result always
// belongs to a valid JSON text.
std::string EscapeJsonString(const std::string &text);

#pragma once
#include <string_view>

#include "engine/storage/qelement.h"

// Type-checked look-ups in a bencoded dictionary: a key names what the
// reader expects or nothing, so a value of the wrong type is never read as
// the right one.

// The entry whose key carries its integer ("8:intervali1800e"), or null.
const QElement *IntegerEntry(const QElement &dictionary, std::string_view key);
// A byte-string value, or null (also for a key carrying an integer).
const QElement *StringValue(const QElement &dictionary, std::string_view key);
// A list value, or null.
const QElement *ListValue(const QElement &dictionary, std::string_view key);

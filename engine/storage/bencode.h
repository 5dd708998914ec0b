#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "engine/storage/qelement.h"

// A new, empty element of the kind a bencoded text's first byte announces:
// 'd'/'D' a dictionary, 'l'/'L' a list, a decimal digit a string; none for
// any other byte.
std::unique_ptr<QElement> NewElementFor(char lead);

// Parses the element at the start of text (at most length bytes); none when
// the text is empty, starts with an unknown byte or does not parse. Bytes
// after the element are ignored. "de" and "le" give empty containers to
// build on.
std::unique_ptr<QElement> CreateElement(const char *text, int64_t length);

// Appends the element's encoding to out; false, with out unchanged, when the
// element is missing or invalid.
bool Encode(const QElement *element, std::string &out);

// The size of the element's encoding; 0 when it is missing or invalid.
int64_t EncodedLength(const QElement *element);

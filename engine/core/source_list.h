#pragma once
#include <string>
#include <vector>

// One source of a task: its URL text and the pool's small state mark.
struct TSourceEntry {
    std::string text;
    int mark = 0;
};

// Splits at every CR or LF (CR LF counting as one break); every piece,
// including an empty one between two breaks, is an entry, a last piece only
// when it is not empty. Entries are trimmed of characters 1..32 at both ends.
std::vector<TSourceEntry> SplitSourceList(const char *text);

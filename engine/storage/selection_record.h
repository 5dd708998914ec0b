#pragma once
#include <set>
#include <string>
#include <vector>

// The file selection record ("part" in the task state file): a list with, for
// each file in table order, its relative name (carrying the integer 1 when
// the file is deselected, bare when selected) followed by an empty
// dictionary.
struct TSelectionEntry {
    std::string name;
    bool deselected = false;
};

std::string EncodeSelectionRecord(const std::vector<TSelectionEntry> &entries);

// The names the record marks deselected (a non-zero integer). False when the
// bytes are empty or not a list with elements: the record says nothing.
bool DecodeSelectionRecord(const std::string &bytes, std::set<std::string> &deselected);

#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/system_facts.h"

// What the machine profile reads besides files: the kernel's names, the
// interface list and the character locale, taken anew for every batch.
struct TSystemSnapshot {
    platform::KernelIdentity kernel; // empty texts when unknown
    bool adaptersReadable = false;
    std::vector<platform::NetworkAdapterFact> adapters;
    std::string localeName;
};

// Where the machine profile reads from: a root folder that holds the system's
// fact files (/proc, /sys, /etc, /usr/share) and a source of the rest, so
// tests run the collectors on fixture trees.
struct TProfileSources {
    std::string root = "/";
    std::function<TSystemSnapshot()> readSystem;

    // The file under the root for an absolute system path.
    std::string PathOf(const std::string &systemPath) const;
    // Reads a fact file under the root; false when missing or unreadable.
    bool ReadFact(const std::string &systemPath, size_t maxBytes, std::string &out) const;
};

// The running machine.
TProfileSources LiveProfileSources();

// Leading and trailing blanks and line breaks removed (sysfs values end in "\n").
std::string TrimFact(const std::string &text);

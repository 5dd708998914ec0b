#pragma once
// The publisher's resource list read from its XML text: the P2P switch, the
// expiry notice and extra HTTP mirrors per package file. Pure functions of
// the text; every text that later reaches a URL or a header is checked here.
#include <cstddef>
#include <string>
#include <vector>

struct TListedMirror {
    std::string url;      // "http://" + address + middle-dir + file-name
    std::string hostName; // "null" when the list names none
};

struct TListedResource {
    std::string task; // the file's download URL as the manifest has it
    std::vector<TListedMirror> mirrors;
};

struct TResourceList {
    bool p2pEnabled = false;
    std::vector<TListedResource> resources; // in document order
};

inline constexpr size_t kMaxExpiryTextBytes = 4095;

// 0 with the list; -2 when the text is no XML, its root is not "project" or
// it has no p2p-switch.
int ReadResourceList(const std::string &text, TResourceList &list);

// True when the list marks this build expired, with its message and page
// (each at most kMaxExpiryTextBytes; the page only when it is http or https).
bool ReadExpiryText(const std::string &text, std::string &message, std::string &page);

#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// One network interface as the kernel lists it.
struct NetworkAdapterFact {
    std::string name;
    uint8_t hardware[6] = {}; // link-level address, zero-filled when shorter or absent
    std::string firstIpv4;    // dotted text, empty when the interface has none
    bool loopback = false;
};

// Every interface in the kernel's order (by interface index); false when the
// list cannot be read.
bool ListNetworkAdapters(std::vector<NetworkAdapterFact> &out);

struct KernelIdentity {
    std::string release; // "6.1.0-18-amd64"
    std::string machine; // "x86_64"
};

bool QueryKernelIdentity(KernelIdentity &out);

// The locale name that decides the character set: LC_ALL, else LC_CTYPE, else
// LANG; empty when none is set.
std::string CharacterLocaleName();

} // namespace platform

#pragma once
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/qlrendezvous/rendezvous_table.h"

// "A.B.C.D:PORT" with a port of 1 to 65535 ("0.0.0.0" listens everywhere).
std::optional<TRendezvousEndpoint> ParseListenAddress(std::string_view text);

// The qlrendezvous command line (args without the program name): serves
// until SIGINT or SIGTERM. Returns the exit code: 0 stopped, 1 the address
// could not be had, 2 bad usage.
int RunQlrendezvous(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

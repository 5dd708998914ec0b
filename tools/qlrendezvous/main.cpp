// qlrendezvous: the rendezvous server engines register with to learn their
// public address and to be introduced to each other across NAT routers; see
// rendezvous_server.h.
#include "tools/qlrendezvous/rendezvous_command.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunQlrendezvous(args, std::cout, std::cerr);
}

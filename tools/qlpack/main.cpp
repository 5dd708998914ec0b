// qlpack: the publisher's stamper. Writes a package description (files,
// URLs, digests, torrents, report configuration) into a built Quarrowlight
// program; see qlpack_command.h.
#include "tools/qlpack/qlpack_command.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunQlpack(args, std::cout, std::cerr);
}

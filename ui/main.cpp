#include "engine/net/udp_server.h"
#include "ui/quarrowlight_app.h"

int main(int argc, char **argv)
{
    // Before the first task starts the engine, which then runs the UDP server.
    InstallUdpServerFactory();
    CpvhQuarrowlightUIApp program(argc, argv);
    return program.Run();
}

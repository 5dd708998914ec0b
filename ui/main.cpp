#include "ui/quarrowlight_app.h"

int main(int argc, char **argv)
{
    CpvhQuarrowlightUIApp program(argc, argv);
    return program.Run();
}

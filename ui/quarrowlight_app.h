#pragma once
// The program: one window per package over the download controller, from
// the single-instance check to the window's end.
#include <string>

class CpvhQuarrowlightUIApp {
public:
    CpvhQuarrowlightUIApp(int &argc, char **argv) : argc(argc), argv(argv) {}
    // The exit status: 0 done (or handed to the running instance), 2 bad
    // arguments, 3 another instance holds the package and does not answer,
    // 4 start-up failed or the build expired, 11 no package stamped in.
    int Run();

private:
    bool ParseArguments(std::string &saveDir);

    int &argc;
    char **argv;
};

#include "Startup.h"
#include "marlin-version.h"

#include <cstdio>
#include <cstring>

namespace {

// --help and --version answer before the window, the log or the bus are touched; every other argument is Qt's.
bool answeredArgument(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("marlin-recovery-live %s\n", MARLIN_VERSION);
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs("Usage: marlin-recovery-live [-platform NAME[:OPTIONS]] [QT OPTIONS] | --help | --version\n"
                       "Full-screen system recovery of the recovery live environment; see marlin-recovery-live(1).\n",
                       stdout);
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    if (answeredArgument(argc, argv)) {
        return 0;
    }
    return Startup::run(argc, argv);
}

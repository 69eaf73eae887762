#include "marlin-version.h"
#include "tasks/ArchiveExtract.h"

#include <QFile>

#include <cstdio>
#include <cstring>

// The service's extraction of one opt or var archive, in a process of its own: it works in the staging directory
// as its working directory, which no other thread of the service may see change.
int main(int argc, char* argv[])
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("marlin-archive-extract %s\n", MARLIN_VERSION);
        return 0;
    }
    if (argc != 5 || std::strcmp(argv[1], "--") != 0) {
        std::fputs("Usage: marlin-archive-extract -- ARCHIVE PARENT DIRECTORY\n"
                   "Extracts DIRECTORY (opt or var) of ARCHIVE below PARENT; run by marlin-recovery-service.\n",
                   stderr);
        return 2;
    }
    QString why;
    if (!ArchiveExtract::extract(QFile::decodeName(argv[2]), QFile::decodeName(argv[3]), QFile::decodeName(argv[4]),
                                 why)) {
        std::fprintf(stderr, "marlin-archive-extract: %s\n", why.toLocal8Bit().constData());
        return 1;
    }
    return 0;
}

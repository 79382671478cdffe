// Holds the single-instance lock at the path given as its argument, says "held" on standard
// output and keeps it until standard input closes or the process is killed.
#include "app/single_instance.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: lock_holder PATH\n");
        return 2;
    }
    app::SingleInstanceLock lock(QString::fromLocal8Bit(argv[1]));
    if (!lock.tryAcquire()) {
        std::printf("refused\n");
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}

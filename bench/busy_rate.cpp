// "BUSY?" queries per second through Quorix -> Lumetra -> simulator on loopback, against the
// bare blocking client on the same simulator in the same run. Rounds alternate so that a
// change in machine load hits both sides alike.
#include "bench/bare_client.h"
#include "bench/bench_support.h"
#include "platform/quorix/quorix.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const double roundSeconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;

    bench::LoopbackInstrument instrument;
    quorix::Quorix control(lumetra::ResourceManager({instrument.resourcesFile()}));
    control.setSetting(14, 300);
    control.setResourceName(control.ResourceList()->first());
    control.Write("HEAD 0");
    bench::BareClient bare(instrument.port());

    bool mismatch = false;
    double bareTotal = 0, quorixTotal = 0;
    for (int round = 0; round < rounds; ++round) {
        const double bareRate =
            bench::callsPerSecond([&] { mismatch |= bare.query("BUSY?") != "0"; }, roundSeconds);
        const double quorixRate = bench::callsPerSecond(
            [&] { mismatch |= control.Query("BUSY?") != QLatin1String("0"); }, roundSeconds);
        std::printf("round %d: bare %.0f/s, Quorix %.0f/s\n", round + 1, bareRate, quorixRate);
        bareTotal += bareRate;
        quorixTotal += quorixRate;
    }
    std::printf("BUSY? queries per second: bare socket %.0f, Quorix %.0f, ratio %.3f\n",
                bareTotal / rounds, quorixTotal / rounds, quorixTotal / bareTotal);
    if (mismatch) {
        std::fprintf(stderr, "unexpected reply to BUSY?\n");
        return 1;
    }
    return 0;
}

// "BUSY?" queries per second through Quorix -> Lumetra -> simulator on loopback, against the
// bare blocking client on the same simulator in the same run. Rounds interleave the two sides
// and alternate which goes first, so that a change in machine load hits both alike.
#include "bench/bare_client.h"
#include "bench/bench_support.h"
#include "platform/quorix/quorix.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const double roundSeconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const int rounds = std::max(5, argc > 2 ? std::atoi(argv[2]) : 5);

    bench::LoopbackInstrument instrument;
    quorix::Quorix control(lumetra::ResourceManager({instrument.resourcesFile()}));
    control.setSetting(14, 300);
    control.setResourceName(control.ResourceList()->first());
    control.Write("HEAD 0");
    bench::BareClient bare(instrument.port());

    bool mismatch = false;
    auto bareRound = [&] {
        return bench::runRound([&] { mismatch |= bare.query("BUSY?") != "0"; }, roundSeconds);
    };
    auto quorixRound = [&] {
        return bench::runRound([&] { mismatch |= control.Query("BUSY?") != QLatin1String("0"); },
                               roundSeconds);
    };
    std::vector<double> bareRates, quorixRates, ratios;
    for (int round = 0; round < rounds; ++round) {
        bench::RoundSample bareSample, quorixSample;
        if (round % 2 == 0) {
            bareSample = bareRound();
            quorixSample = quorixRound();
        } else {
            quorixSample = quorixRound();
            bareSample = bareRound();
        }
        std::printf("round %d (%s first): bare %.0f/s, Quorix %.0f/s, ratio %.3f\n", round + 1,
                    round % 2 == 0 ? "bare" : "Quorix", bareSample.rate(), quorixSample.rate(),
                    quorixSample.rate() / bareSample.rate());
        bareRates.push_back(bareSample.rate());
        quorixRates.push_back(quorixSample.rate());
        ratios.push_back(quorixSample.rate() / bareSample.rate());
    }
    const bench::Spread ratio = bench::spreadOf(ratios);
    std::printf("BUSY? queries per second, median of %d rounds: bare socket %.0f, Quorix %.0f; "
                "ratio Quorix/bare min %.3f, median %.3f, max %.3f\n",
                rounds, bench::spreadOf(bareRates).median, bench::spreadOf(quorixRates).median,
                ratio.min, ratio.median, ratio.max);
    if (mismatch) {
        std::fprintf(stderr, "unexpected reply to BUSY?\n");
        return 1;
    }
    return 0;
}

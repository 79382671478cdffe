// "BUSY?" queries per second through Quorix -> Lumetra -> simulator on loopback, against the
// bare blocking client on the same simulator in the same run. Rounds interleave the sides and
// reverse their order every other round, so that a change in machine load hits all alike. A
// second, identical bare client runs as a third side: how far it lands from the first is the
// comparison's own noise, the margin within which no figure of these benchmarks tells apart.
#include "bench/bare_client.h"
#include "bench/bench_support.h"
#include "platform/quorix/quorix.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bench::Arguments arguments(argc, argv, {{"seconds-per-round", 2}, {"rounds", 5}});
    const double roundSeconds = arguments[0];
    const int rounds = std::max(5, int(arguments[1]));

    bench::LoopbackInstrument instrument;
    quorix::Quorix control(lumetra::ResourceManager({instrument.resourcesFile()}));
    control.setSetting(14, 300);
    control.setResourceName(control.ResourceList()->first());
    control.Write("HEAD 0");
    bench::BareClient bare(instrument.port());

    bench::BareClient secondBare(instrument.port());

    bool mismatch = false;
    auto bareRate = [&](bench::BareClient& client) {
        return bench::runRound([&] { mismatch |= client.query("BUSY?") != "0"; }, roundSeconds)
            .rate();
    };
    auto quorixRate = [&] {
        return bench::runRound([&] { mismatch |= control.Query("BUSY?") != QLatin1String("0"); },
                               roundSeconds)
            .rate();
    };
    const auto rates = bench::interleavedRounds(
        {[&] { return bareRate(bare); }, quorixRate, [&] { return bareRate(secondBare); }}, rounds);
    std::printf("BUSY? queries per second, median of %d interleaved rounds: bare socket %.0f, "
                "Quorix %.0f, second bare socket %.0f\n",
                rounds, bench::spreadOf(rates[0]).median, bench::spreadOf(rates[1]).median,
                bench::spreadOf(rates[2]).median);
    bench::printSpread("Quorix / bare", bench::spreadOf(bench::ratios(rates[1], rates[0])), "%.3f");
    bench::printSpread("second bare / bare (the comparison's own noise)",
                       bench::spreadOf(bench::ratios(rates[2], rates[0])), "%.3f");
    if (mismatch) {
        std::fprintf(stderr, "unexpected reply to BUSY?\n");
        return 1;
    }
    return 0;
}

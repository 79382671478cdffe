// The application shell under load, with the real main window offscreen:
//  (a) processor time used during a 5-second waitSeconds, as a share of one core;
//  (b) "BUSY?" polls per second of a trigger-wait loop (queryInstrument, then a progress dot
//      with its repaint and yield) against a simulated instrument that never triggers, next to
//      the bare blocking client on the same instrument in the same run, and the processor time
//      each spends per poll; a second bare client beside the first shows the comparison's own
//      noise. Rounds interleave the sides and alternate which goes first, so that a change in
//      machine load hits all alike.
#include "app/application.h"
#include "app/frm_main.h"
#include "bench/bare_client.h"
#include "bench/bench_support.h"
#include "platform/quorix/quorix.h"
#include "platform/windowing/message_boxes.h"
#include "tests/app/frm_main_probe.h"

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sys/resource.h>

namespace {

using bench::Clock;

double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    app::configureApplication(application);
    const bench::Arguments arguments(
        argc, argv, {{"wait-seconds", 5}, {"seconds-per-round", 2}, {"rounds", 5}});
    const double waitLength = arguments[0];
    const double roundSeconds = arguments[1];
    const int rounds = std::max(5, int(arguments[2]));

    bench::LoopbackInstrument instrument;
    quorix::Quorix quorix(lumetra::ResourceManager({instrument.resourcesFile()}));
    windowing::QtMessageBoxes messageBoxes;
    frmMain window(quorix, messageBoxes);
    if (!instrument.startMainWindow(window)) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    frmMainProbe shell(window);

    // (a)
    shell.setStatus("1: Waiting");
    const double cpuBefore = processorSeconds();
    const auto waitStart = Clock::now();
    shell.waitSeconds(waitLength);
    const double waited = bench::secondsSince(waitStart);
    const double cpu = processorSeconds() - cpuBefore;
    std::printf("waitSeconds(%.1f): lasted %.3f s, processor %.3f s = %.2f %% of one core\n",
                waitLength, waited, cpu, 100.0 * cpu / waited);

    // (b)
    shell.sendCommand("ACQ:STOPA SEQ;STATE 1");
    instrument.server().setTriggerNever(true);
    shell.setRunningButtons();
    shell.setStatus("1: Waiting for Acquisition");
    bench::BareClient bare(instrument.port());
    bench::BareClient secondBare(instrument.port());
    bool mismatch = false;
    auto bareRound = [&](bench::BareClient& client) {
        return bench::runRound([&] { mismatch |= client.query("BUSY?") != "1"; }, roundSeconds);
    };
    // As the cycle asks it: a literal, not a string converted on every poll.
    const QString busy = QStringLiteral("BUSY?");
    auto shellRound = [&] {
        return bench::runRound(
            [&] {
                mismatch |= shell.queryInstrument(busy) != QLatin1String("1");
                shell.addProgressDot();
            },
            roundSeconds);
    };
    // The second bare client is the third side: how far it lands from the first is the
    // comparison's own noise.
    std::vector<bench::RoundSample> samples[3];
    auto side = [&](int k, std::function<bench::RoundSample()> round) {
        return [&samples, k, round] {
            samples[k].push_back(round());
            return samples[k].back().processorPerCall();
        };
    };
    const auto processor =
        bench::interleavedRounds({side(0, [&] { return bareRound(bare); }), side(1, shellRound),
                                  side(2, [&] { return bareRound(secondBare); })},
                                 rounds);
    std::vector<double> rates[3];
    for (int k = 0; k < 3; ++k) {
        for (const bench::RoundSample& sample : samples[k]) {
            rates[k].push_back(sample.rate());
        }
    }
    for (int round = 0; round < rounds; ++round) {
        std::printf("round %d: processor per poll: bare %.1f us, trigger wait %.1f us, second "
                    "bare %.1f us\n",
                    round + 1, processor[0][round] * 1e6, processor[1][round] * 1e6,
                    processor[2][round] * 1e6);
    }
    // Where the time of one poll goes: the two halves of the loop, each on its own.
    const double queryRate =
        bench::callsPerSecond([&] { shell.queryInstrument(busy); }, roundSeconds);
    const double dotRate = bench::callsPerSecond([&] { shell.addProgressDot(); }, roundSeconds);
    std::printf("alone: queryInstrument %.0f/s (%.1f us), addProgressDot %.0f/s (%.1f us)\n",
                queryRate, 1e6 / queryRate, dotRate, 1e6 / dotRate);
    std::printf("BUSY? polls per second, median of %d rounds: bare socket %.0f, trigger wait in "
                "frmMain %.0f\n",
                rounds, bench::spreadOf(rates[0]).median, bench::spreadOf(rates[1]).median);
    bench::printSpread("polls per second, trigger wait / bare",
                       bench::spreadOf(bench::ratios(rates[1], rates[0])), "%.3f");
    std::printf("processor time per poll (the polling thread), median: bare %.1f us, trigger "
                "wait %.1f us, second bare %.1f us\n",
                bench::spreadOf(processor[0]).median * 1e6,
                bench::spreadOf(processor[1]).median * 1e6,
                bench::spreadOf(processor[2]).median * 1e6);
    bench::printSpread("processor time per poll, trigger wait / bare (target <= 1.2)",
                       bench::spreadOf(bench::ratios(processor[1], processor[0])), "%.2f");
    bench::printSpread("processor time per poll, second bare / bare (the comparison's own noise)",
                       bench::spreadOf(bench::ratios(processor[2], processor[0])), "%.2f");
    shell.setIdleButtons();
    if (mismatch) {
        std::fprintf(stderr, "unexpected reply to BUSY?\n");
        return 1;
    }
    return 0;
}

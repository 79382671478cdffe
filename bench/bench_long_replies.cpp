// The messages of one ISF cycle (arm, poll, format, save, poll, listing) sent through Quorix1
// without a window, beside the bare blocking client that reads to the line feed, to an
// instrument that answers at once and whose "FILES:DIR?" listing holds 1,000, 10,000 and
// 100,000 names. What it shows: the work Lumetra does per reply byte, against the least a
// client can do. Interleaved rounds, the order reversed every other round.
#include "bench/bare_client.h"
#include "bench/bench_support.h"
#include "bench/fast_instrument.h"
#include "platform/quorix/quorix.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <vector>

namespace {

// Cycles per second; `cpuPerCycle` receives the processor time the client spent per cycle,
// a figure that other load on the machine does not change.
template <typename Client>
double cyclesPerSecond(Client& client, double seconds, std::vector<double>& cpuPerCycle) {
    int cycle = 0;
    const double cpuStart = bench::threadProcessorSeconds();
    const double rate = bench::callsPerSecond(
        [&] {
            ++cycle;
            client.write("ACQ:STATE 1");
            client.query("BUSY?");
            client.write("SAV:WAVE:FILEF INTERNAL");
            client.write("SAV:WAVE ALL, \"D:\\WFM" + std::to_string(cycle) + "\"");
            client.query("BUSY?");
            client.query("FILES:DIR?");
        },
        seconds);
    cpuPerCycle.push_back((bench::threadProcessorSeconds() - cpuStart) / cycle);
    return rate;
}

// Quorix1 as the program drives it, with the bare client's two calls.
struct QuorixClient {
    quorix::Quorix& control;
    void write(const std::string& line) { control.Write(QString::fromStdString(line)); }
    QString query(const std::string& line) { return control.Query(QString::fromStdString(line)); }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bench::Arguments arguments(
        argc, argv, {{"seconds-per-round", 1}, {"rounds", 7}, {"names", 0, "all three sizes"}});
    const double roundSeconds = arguments[0];
    const int rounds = std::max(5, int(arguments[1]));
    std::printf("ISF cycles per second through Quorix1 and the bare client, %d interleaved "
                "rounds of %.1f s\n",
                rounds, roundSeconds);
    std::vector<int> sizes{1000, 10000, 100000};
    if (arguments.given(2)) { // one listing size alone, e.g. to profile it
        sizes = {int(arguments[2])};
    }
    for (int names : sizes) {
        bench::FastInstrument instrument(names);
        QTemporaryDir folder;
        const std::string resources = folder.filePath("resources.conf").toStdString();
        std::ofstream(resources) << "TCPIP0::127.0.0.1::" << instrument.port() << "::SOCKET\n";
        quorix::Quorix control(lumetra::ResourceManager({resources}));
        control.setSetting(14, 300);
        control.setResourceName(control.ResourceList()->at(0));
        QuorixClient program{control};
        bench::BareClient bare(instrument.port());
        std::vector<double> programCpu;
        std::vector<double> bareCpu;
        const auto figures = bench::interleavedRounds(
            {[&] { return cyclesPerSecond(program, roundSeconds, programCpu); },
             [&] { return cyclesPerSecond(bare, roundSeconds, bareCpu); }},
            rounds);
        const auto programRate = bench::spreadOf(figures[0]);
        const auto bareRate = bench::spreadOf(figures[1]);
        std::printf("%6d names (%7zu bytes): Quorix1 %.0f/s, bare %.0f/s (medians)\n", names,
                    instrument.listingBytes(), programRate.median, bareRate.median);
        bench::printSpread("  Quorix1 / bare (target >= " +
                               std::string(names <= 1000 ? "0.8" : "0.5 at 100,000") + ")",
                           bench::spreadOf(bench::ratios(figures[0], figures[1])), "%.3f");
        std::printf("  processor time per cycle (medians): Quorix1 %.1f us, bare %.1f us\n",
                    bench::spreadOf(programCpu).median * 1e6,
                    bench::spreadOf(bareCpu).median * 1e6);
        if (control.LastStatus() < 0) {
            std::fprintf(stderr, "the last query failed\n");
            return 1;
        }
    }
    return 0;
}

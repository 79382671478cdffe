// "BUSY?" queries per second, and system calls per query, over each link against the same
// simulated instrument in one run: Quorix over the raw socket beside the bare blocking client,
// and Quorix over VXI-11 beside liblxi (when it is installed). Rounds interleave the sides and
// reverse their order every other round; the figures are the spread of the per-round ratios.
// System calls are counted with strace, when it is there, in a child process that runs only
// the client side.
#include "bench/bare_client.h"
#include "bench/bench_support.h"
#include "platform/quorix/quorix.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#ifdef VARNOLT_HAVE_LIBLXI
#include <lxi.h>
#endif

namespace {

constexpr std::uint16_t PortmapperPort = 111; // where liblxi asks for the VXI-11 port

// One client side: `query` sends "BUSY?" once and tells whether the reply was "0".
struct Side {
    std::string name;
    std::function<bool()> query;
    std::shared_ptr<void> keep;
};

Side quorixSide(const std::string& name, const std::string& resourcesFile, int entry) {
    auto control = std::make_shared<quorix::Quorix>(lumetra::ResourceManager({resourcesFile}));
    control->setSetting(14, 300);
    control->setResourceName(control->ResourceList()->at(entry));
    control->Write("HEAD 0");
    return {name, [c = control.get()] { return c->Query("BUSY?") == QLatin1String("0"); }, control};
}

Side bareSide(std::uint16_t port) {
    auto client = std::make_shared<bench::BareClient>(port);
    return {"bare socket", [c = client.get()] { return c->query("BUSY?") == "0"; }, client};
}

#ifdef VARNOLT_HAVE_LIBLXI
Side liblxiSide() {
    lxi_init();
    const int device = lxi_connect("127.0.0.1", 0, "inst0", 1000, VXI11);
    if (device < 0) {
        throw std::runtime_error("liblxi cannot connect");
    }
    return {"liblxi VXI-11",
            [device] {
                char reply[64];
                lxi_send(device, "BUSY?", 5, 1000);
                const int n = lxi_receive(device, reply, sizeof reply, 1000);
                return n >= 1 && reply[0] == '0';
            },
            nullptr};
}
#endif

Side makeSide(const std::string& which, const std::string& resourcesFile, std::uint16_t port) {
    if (which == "quorix-socket") {
        return quorixSide("Quorix raw socket", resourcesFile, 0);
    }
    if (which == "bare-socket") {
        return bareSide(port);
    }
    if (which == "quorix-vxi11") {
        return quorixSide("Quorix VXI-11", resourcesFile, 1);
    }
#ifdef VARNOLT_HAVE_LIBLXI
    if (which == "liblxi-vxi11") {
        return liblxiSide();
    }
#endif
    throw std::runtime_error("no such side: " + which);
}

// Child process: set the side up, then run `count` queries.
int runClient(const std::string& which, const std::string& resourcesFile, std::uint16_t port,
              long count) {
    Side side = makeSide(which, resourcesFile, port);
    bool ok = true;
    for (long k = 0; k < count; ++k) {
        ok &= side.query();
    }
    return ok ? 0 : 1;
}

// The system calls of `count` queries in a child under strace, or -1 when that cannot be had.
long syscallsOf(const QString& self, const std::string& which, const std::string& resourcesFile,
                std::uint16_t port, long count) {
    QTemporaryFile summary;
    summary.open();
    QProcess strace;
    strace.start("strace", {"-f", "-c", "-q", "-o", summary.fileName(), self, "--client",
                            QString::fromStdString(which), QString::fromStdString(resourcesFile),
                            QString::number(port), QString::number(count)});
    if (!strace.waitForFinished(120000) || strace.exitCode() != 0) {
        return -1;
    }
    for (const QByteArray& line : summary.readAll().split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() >= 5 && words.back() == "total") {
            return words[3].toLong();
        }
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::string(argv[1]) == "--client") {
        QCoreApplication app(argc, argv);
        return runClient(argv[2], argv[3], static_cast<std::uint16_t>(std::atoi(argv[4])),
                         std::atol(argv[5]));
    }
    QCoreApplication app(argc, argv);
    const bench::Arguments arguments(argc, argv, {{"seconds-per-round", 1}, {"rounds", 7}});
    const double roundSeconds = arguments[0];
    const int rounds = std::max(5, int(arguments[1]));

    sim::SimConfig config;
    config.vxi11Port = 0;
    config.portmapperPort = PortmapperPort;
    std::unique_ptr<bench::LoopbackInstrument> instrument;
    bool portmapper = true;
    try {
        instrument = std::make_unique<bench::LoopbackInstrument>(config);
    } catch (const std::exception& error) {
        std::printf("no portmapper on port %u (%s): liblxi cannot find the instrument\n",
                    PortmapperPort, error.what());
        config.portmapperPort = 0;
        portmapper = false;
        instrument = std::make_unique<bench::LoopbackInstrument>(config);
    }
    const std::string resourcesFile = instrument->resourcesFile();
    const std::uint16_t port = instrument->port();

    std::vector<std::string> which{"quorix-socket", "bare-socket", "quorix-vxi11"};
#ifdef VARNOLT_HAVE_LIBLXI
    if (portmapper) {
        which.push_back("liblxi-vxi11");
    }
#else
    (void)portmapper;
    std::printf("liblxi is not installed (Debian: liblxi-dev): VXI-11 has no outside "
                "reference in this run\n");
#endif
    std::vector<Side> sides;
    std::vector<std::function<double()>> rates;
    bool mismatch = false;
    for (const std::string& name : which) {
        sides.push_back(makeSide(name, resourcesFile, port));
    }
    for (Side& side : sides) {
        rates.push_back([&side, &mismatch, roundSeconds] {
            return bench::callsPerSecond([&] { mismatch |= !side.query(); }, roundSeconds);
        });
    }
    const auto figures = bench::interleavedRounds(rates, rounds);
    std::printf("BUSY? queries per second, %d interleaved rounds of %.1f s:\n", rounds,
                roundSeconds);
    for (std::size_t k = 0; k < sides.size(); ++k) {
        bench::printSpread("  " + sides[k].name, bench::spreadOf(figures[k]), "%.0f/s");
    }
    bench::printSpread("Quorix raw socket / bare socket (target >= 0.97)",
                       bench::spreadOf(bench::ratios(figures[0], figures[1])), "%.3f");
    if (sides.size() > 3) {
        bench::printSpread("Quorix VXI-11 / liblxi VXI-11 (target >= 1.0)",
                           bench::spreadOf(bench::ratios(figures[2], figures[3])), "%.3f");
    }

    const QString self = QCoreApplication::applicationFilePath();
    if (QStandardPaths::findExecutable("strace").isEmpty()) {
        std::printf("strace is not installed: no system-call counts\n");
    } else {
        constexpr long Queries = 5000;
        std::printf("system calls per query (strace, %ld queries beyond set-up):\n", Queries);
        for (const std::string& name : which) {
            const long base = syscallsOf(self, name, resourcesFile, port, 0);
            const long loaded = syscallsOf(self, name, resourcesFile, port, Queries);
            if (base < 0 || loaded < 0) {
                std::printf("  %s: strace failed\n", name.c_str());
                continue;
            }
            std::printf("  %s: %.2f\n", name.c_str(), double(loaded - base) / Queries);
        }
    }
    if (mismatch) {
        std::fprintf(stderr, "unexpected reply to BUSY?\n");
        return 1;
    }
    return 0;
}

// "BUSY?" queries per second through Quorix -> Lumetra -> simulator on loopback, against the
// bare blocking client on the same simulator in the same run. Rounds alternate so that a
// change in machine load hits both sides alike.
#include "bench/bare_client.h"
#include "platform/quorix/quorix.h"
#include "sim/scope_server.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <fstream>

namespace {

using Clock = std::chrono::steady_clock;

template <typename Query> double queriesPerSecond(Query&& query, double seconds) {
    long count = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        for (int k = 0; k < 100; ++k) {
            query();
        }
        count += 100;
    }
    return count / std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const double roundSeconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;

    QTemporaryDir root;
    sim::SimConfig config;
    config.root = root.path().toStdString();
    sim::ScopeServer server(config);
    server.start();
    const auto port = server.ports().at(0);
    const std::string resource = "TCPIP0::127.0.0.1::" + std::to_string(port) + "::SOCKET";
    const std::string resourcesFile = root.filePath("resources.conf").toStdString();
    std::ofstream(resourcesFile) << resource << "\n";

    quorix::Quorix control(lumetra::ResourceManager({resourcesFile}));
    control.setSetting(14, 300);
    control.setResourceName(control.ResourceList()->first());
    control.Write("HEAD 0");
    bench::BareClient bare(port);

    bool mismatch = false;
    double bareTotal = 0, quorixTotal = 0;
    for (int round = 0; round < rounds; ++round) {
        const double bareRate =
            queriesPerSecond([&] { mismatch |= bare.query("BUSY?") != "0"; }, roundSeconds);
        const double quorixRate = queriesPerSecond(
            [&] { mismatch |= control.Query("BUSY?") != QLatin1String("0"); }, roundSeconds);
        std::printf("round %d: bare %.0f/s, Quorix %.0f/s\n", round + 1, bareRate, quorixRate);
        bareTotal += bareRate;
        quorixTotal += quorixRate;
    }
    std::printf("BUSY? queries per second: bare socket %.0f, Quorix %.0f, ratio %.3f\n",
                bareTotal / rounds, quorixTotal / rounds, quorixTotal / bareTotal);
    server.stop();
    if (mismatch) {
        std::fprintf(stderr, "unexpected reply to BUSY?\n");
        return 1;
    }
    return 0;
}

// "BUSY?" queries per second through Quorix over each link the simulator serves on this machine,
// against one simulator in one run: the raw socket and VXI-11. Rounds alternate so that a change
// in machine load hits every link alike.
#include "platform/quorix/quorix.h"
#include "sim/scope_server.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

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

struct Link {
    const char* name;
    std::unique_ptr<quorix::Quorix> control;
    double total = 0;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const double roundSeconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;

    QTemporaryDir root;
    sim::SimConfig config;
    config.root = root.path().toStdString();
    config.vxi11Port = 0;
    sim::ScopeServer server(config);
    server.start();
    const std::string resourcesFile = root.filePath("resources.conf").toStdString();
    std::ofstream(resourcesFile) << "TCPIP0::127.0.0.1::" << server.ports().at(0) << "::SOCKET\n"
                                 << "TCPIP0::127.0.0.1::inst0::INSTR vxi11-port="
                                 << server.vxi11Port() << "\n";

    std::vector<Link> links;
    links.push_back({"raw socket", nullptr});
    links.push_back({"VXI-11", nullptr});
    const auto names = quorix::Quorix(lumetra::ResourceManager({resourcesFile})).ResourceList();
    if (!names || names->size() != 2) {
        std::fprintf(stderr, "the resources file did not list both links\n");
        return 1;
    }
    for (std::size_t k = 0; k < links.size(); ++k) {
        // One Quorix1 per link, as the program would have after choosing that resource.
        links[k].control =
            std::make_unique<quorix::Quorix>(lumetra::ResourceManager({resourcesFile}));
        links[k].control->setSetting(14, 300);
        links[k].control->setResourceName(names->at(static_cast<qsizetype>(k)));
        links[k].control->Write("HEAD 0");
    }

    bool mismatch = false;
    for (int round = 0; round < rounds; ++round) {
        std::printf("round %d:", round + 1);
        for (Link& link : links) {
            const double rate = queriesPerSecond(
                [&] { mismatch |= link.control->Query("BUSY?") != QLatin1String("0"); },
                roundSeconds);
            link.total += rate;
            std::printf(" %s %.0f/s", link.name, rate);
        }
        std::printf("\n");
    }
    std::printf("BUSY? queries per second through Quorix: raw socket %.0f, VXI-11 %.0f, "
                "VXI-11/raw %.3f\n",
                links[0].total / rounds, links[1].total / rounds, links[1].total / links[0].total);
    server.stop();
    if (mismatch) {
        std::fprintf(stderr, "unexpected reply to BUSY?\n");
        return 1;
    }
    return 0;
}

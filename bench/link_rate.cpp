// "BUSY?" queries per second through Quorix over each link the simulator serves on this machine,
// against one simulator in one run: the raw socket and VXI-11. Rounds alternate so that a change
// in machine load hits every link alike.
#include "bench/bench_support.h"
#include "platform/quorix/quorix.h"

#include <QCoreApplication>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

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

    sim::SimConfig config;
    config.vxi11Port = 0;
    bench::LoopbackInstrument instrument(config);
    const std::string resourcesFile = instrument.resourcesFile();

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
            const double rate = bench::callsPerSecond(
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
    if (mismatch) {
        std::fprintf(stderr, "unexpected reply to BUSY?\n");
        return 1;
    }
    return 0;
}

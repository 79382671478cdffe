// The cost of "FILES:DIR?" as the folder grows: at 1,000, 10,000 and 100,000 files, the
// simulator's processor time per listing beside its time per "*IDN?" whose reply is just as
// long, so that what is left is the listing's own work beyond writing the reply. Rounds alternate
// which query goes first; the figures are medians.
#include "bench/bare_client.h"
#include "bench/bench_support.h"
#include "sim/scope_server.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

double threadSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Sample {
    double serverSeconds = 0; // the simulator's processor time per query
    double wallSeconds = 0;   // per query, as the client sees it
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bench::Arguments arguments(argc, argv,
                                     {{"rounds", 5}, {"names-listed-per-round", 2'000'000}});
    const int rounds = std::max(5, int(arguments[0]));
    const int budget = std::max(1, int(arguments[1]));

    std::printf("files    FILES:DIR? wall   simulator processor time per query     beyond "
                "the reply\n");
    std::printf("         (median)          FILES:DIR?   *IDN? as long           per name "
                "(target <= 0.1 us)\n");
    for (int files : {1000, 10000, 100000}) {
        QTemporaryDir root;
        const std::string drive = root.filePath("D").toStdString();
        ::mkdir(drive.c_str(), 0755);
        std::string listing;
        for (int k = 0; k < files; ++k) {
            char name[32];
            std::snprintf(name, sizeof name, "run_%06d.isf", k);
            ::close(::open((drive + "/" + name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
            listing += (k == 0 ? "\"" : ",\"") + std::string(name) + "\"";
        }
        sim::SimConfig config;
        config.root = root.path().toStdString();
        config.instruments = {sim::InstrumentConfig{0, sim::DefaultIdn, ""},
                              sim::InstrumentConfig{0, listing, ""}};
        sim::ScopeServer server(config);
        clockid_t serverClock{};
        std::atomic<bool> clockKnown{false};
        std::thread serving([&] {
            pthread_getcpuclockid(pthread_self(), &serverClock);
            clockKnown = true;
            server.run();
        });
        while (!clockKnown || server.ports().size() < 2) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        bench::BareClient lister(server.ports()[0]);
        bench::BareClient identity(server.ports()[1]);
        lister.write("HEAD 0");
        bool mismatch = lister.query("FILES:DIR?") != listing; // builds the index

        const int queries = std::max(5, budget / files);
        auto measure = [&](bench::BareClient& client, const std::string& query) {
            const double cpuBefore = threadSeconds(serverClock);
            const auto start = bench::Clock::now();
            for (int k = 0; k < queries; ++k) {
                mismatch |= client.query(query) != listing;
            }
            return Sample{(threadSeconds(serverClock) - cpuBefore) / queries,
                          bench::secondsSince(start) / queries};
        };
        std::vector<double> dirCpu, idnCpu, dirWall, beyond;
        for (int round = 0; round < rounds; ++round) {
            Sample dir, idn;
            if (round % 2 == 0) {
                dir = measure(lister, "FILES:DIR?");
                idn = measure(identity, "*IDN?");
            } else {
                idn = measure(identity, "*IDN?");
                dir = measure(lister, "FILES:DIR?");
            }
            dirCpu.push_back(dir.serverSeconds);
            idnCpu.push_back(idn.serverSeconds);
            dirWall.push_back(dir.wallSeconds);
            beyond.push_back((dir.serverSeconds - idn.serverSeconds) / files);
        }
        server.stop();
        serving.join();
        std::printf("%6d   %8.3f ms       %8.1f us   %8.1f us             %6.3f us "
                    "(min %.3f, max %.3f)\n",
                    files, median(dirWall) * 1e3, median(dirCpu) * 1e6, median(idnCpu) * 1e6,
                    median(beyond) * 1e6, *std::min_element(beyond.begin(), beyond.end()) * 1e6,
                    *std::max_element(beyond.begin(), beyond.end()) * 1e6);
        if (mismatch) {
            std::fprintf(stderr, "unexpected reply\n");
            return 1;
        }
    }
    return 0;
}

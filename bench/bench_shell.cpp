// The application shell under load, with the real main window offscreen:
//  (a) processor time used during a 5-second waitSeconds, as a share of one core;
//  (b) "BUSY?" polls per second of a trigger-wait loop (queryInstrument, then a progress dot
//      with its repaint and yield) against a simulated instrument that never triggers, next to
//      the bare blocking client on the same instrument in the same run. Rounds alternate so
//      that a change in machine load hits both sides alike.
#include "app/application.h"
#include "app/frm_main.h"
#include "bench/bare_client.h"
#include "platform/quorix/quorix.h"
#include "platform/windowing/message_boxes.h"
#include "sim/scope_server.h"
#include "tests/app/frm_main_probe.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;

double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

template <typename Poll> double pollsPerSecond(Poll&& poll, double seconds) {
    long count = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        for (int k = 0; k < 20; ++k) {
            poll();
        }
        count += 20;
    }
    return double(count) / secondsSince(start);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    app::configureApplication(application);
    const double waitLength = argc > 1 ? std::atof(argv[1]) : 5.0;
    const double roundSeconds = argc > 2 ? std::atof(argv[2]) : 2.0;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;

    QTemporaryDir root;
    sim::SimConfig config;
    config.root = root.path().toStdString();
    sim::ScopeServer server(config);
    server.start();
    const auto port = server.ports().at(0);
    const std::string resourcesFile = root.filePath("resources.conf").toStdString();
    std::ofstream(resourcesFile) << "TCPIP0::127.0.0.1::" << port << "::SOCKET\n";

    quorix::Quorix quorix(lumetra::ResourceManager({resourcesFile}));
    windowing::QtMessageBoxes messageBoxes;
    frmMain window(quorix, messageBoxes);
    window.setInstanceLockPath(root.filePath("Varnolt.lock"));
    window.setSettingsFilePath(root.filePath("Varnolt.ini"));
    if (window.Form_Load() != frmMain::LoadResult::Ready) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "the main window was not exposed\n");
        return 1;
    }
    frmMainProbe shell(window);

    // (a)
    shell.setStatus("1: Waiting");
    const double cpuBefore = processorSeconds();
    const auto waitStart = Clock::now();
    shell.waitSeconds(waitLength);
    const double waited = secondsSince(waitStart);
    const double cpu = processorSeconds() - cpuBefore;
    std::printf("waitSeconds(%.1f): lasted %.3f s, processor %.3f s = %.2f %% of one core\n",
                waitLength, waited, cpu, 100.0 * cpu / waited);

    // (b)
    shell.sendCommand("ACQ:STOPA SEQ;STATE 1");
    server.setTriggerNever(true);
    shell.setRunningButtons();
    shell.setStatus("1: Waiting for Acquisition");
    bench::BareClient bare(port);
    bool mismatch = false;
    double bareTotal = 0, shellTotal = 0;
    for (int round = 0; round < rounds; ++round) {
        const double bareRate =
            pollsPerSecond([&] { mismatch |= bare.query("BUSY?") != "1"; }, roundSeconds);
        const double shellRate = pollsPerSecond(
            [&] {
                mismatch |= shell.queryInstrument("BUSY?") != QLatin1String("1");
                shell.addProgressDot();
            },
            roundSeconds);
        std::printf("round %d: bare %.0f/s, trigger wait %.0f/s\n", round + 1, bareRate, shellRate);
        bareTotal += bareRate;
        shellTotal += shellRate;
    }
    // Where the time of one poll goes: the two halves of the loop, each on its own.
    const double queryRate = pollsPerSecond([&] { shell.queryInstrument("BUSY?"); }, roundSeconds);
    const double dotRate = pollsPerSecond([&] { shell.addProgressDot(); }, roundSeconds);
    std::printf("alone: queryInstrument %.0f/s (%.1f us), addProgressDot %.0f/s (%.1f us)\n",
                queryRate, 1e6 / queryRate, dotRate, 1e6 / dotRate);
    std::printf("BUSY? polls per second: bare socket %.0f, trigger wait in frmMain %.0f, "
                "ratio %.3f\n",
                bareTotal / rounds, shellTotal / rounds, shellTotal / bareTotal);
    shell.setIdleButtons();
    server.stop();
    if (mismatch) {
        std::fprintf(stderr, "unexpected reply to BUSY?\n");
        return 1;
    }
    return 0;
}

// Complete acquisition cycles per second with one ISF save, the real windows offscreen, against
// a simulated instrument that triggers and saves at once; beside it the bound that the link's
// round-trip time sets: the same messages per cycle sent by the bare blocking client. Each side
// of each round gets a simulator of its own with an empty drive, so that both list folders of
// the same size; rounds alternate which side goes first.
#include "app/application.h"
#include "app/frm_main.h"
#include "bench/bare_client.h"
#include "bench/bench_support.h"
#include "platform/quorix/quorix.h"
#include "platform/windowing/message_boxes.h"

#include <QApplication>
#include <QPushButton>
#include <QSettings>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

namespace {

sim::SimConfig instantInstrument() {
    sim::SimConfig config;
    config.triggerPeriod = std::chrono::milliseconds(0);
    config.saveDuration = std::chrono::milliseconds(0);
    return config;
}

// Cycles per second of a whole run of the program; nothing when it could not start.
std::optional<double> programRate(int cycles) {
    bench::LoopbackInstrument instrument(instantInstrument());
    {
        QSettings settings(instrument.filePath("Varnolt.ini"), QSettings::IniFormat);
        settings.beginGroup("Prefs");
        for (const auto& [key, value] : {std::pair{"chkUseTimestamps", "0"},
                                         {"chkWFM", "1"},
                                         {"chkStopAfter", "1"},
                                         {"chkRestoreRun", "0"}}) {
            settings.setValue(key, value);
        }
        settings.setValue("txtAcqLimit", QString::number(cycles));
    }
    quorix::Quorix quorix(lumetra::ResourceManager({instrument.resourcesFile()}));
    windowing::QtMessageBoxes messageBoxes;
    frmMain window(quorix, messageBoxes);
    if (!instrument.startMainWindow(window)) {
        return std::nullopt;
    }
    auto* start = window.findChild<QPushButton*>("cbStart");
    const auto runStart = bench::Clock::now();
    start->click();
    return cycles / bench::secondsSince(runStart);
}

// The same messages per cycle over the bare client: arm, one poll, format, save, one poll,
// directory. Writes are not answered, so only the three queries wait for the link.
double bareRate(int cycles) {
    bench::LoopbackInstrument instrument(instantInstrument());
    bench::BareClient bare(instrument.port());
    bare.write("HEAD 0;VERB 0");
    bare.write("ACQ:STOPA SEQ;STATE 0");
    const auto start = bench::Clock::now();
    for (int k = 1; k <= cycles; ++k) {
        bare.write("ACQ:STATE 1");
        while (bare.query("BUSY?") != "0") {
        }
        bare.write("SAV:WAVE:FILEF INTERNAL");
        bare.write("SAV:WAVE ALL, \"D:\\bare_" + std::to_string(k) + "\"");
        while (bare.query("BUSY?") != "0") {
        }
        bare.query("FILES:DIR?");
    }
    return cycles / bench::secondsSince(start);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    app::configureApplication(application);
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 500;
    const int rounds = std::max(5, argc > 2 ? std::atoi(argv[2]) : 5);

    std::vector<double> programRates, bareRates, ratios;
    for (int round = 0; round < rounds; ++round) {
        std::optional<double> program;
        double bare = 0;
        if (round % 2 == 0) {
            program = programRate(cycles);
            bare = bareRate(cycles);
        } else {
            bare = bareRate(cycles);
            program = programRate(cycles);
        }
        if (!program) {
            std::fprintf(stderr, "start-up failed\n");
            return 1;
        }
        std::printf("round %d (%s first): program %.0f, bare %.0f cycles/s, ratio %.3f\n",
                    round + 1, round % 2 == 0 ? "program" : "bare", *program, bare,
                    *program / bare);
        programRates.push_back(*program);
        bareRates.push_back(bare);
        ratios.push_back(*program / bare);
    }
    const bench::Spread ratio = bench::spreadOf(ratios);
    std::printf("acquisition cycles per second with one ISF save (%d cycles, %d rounds, a fresh "
                "drive each): program median %.0f, bare link bound median %.0f; ratio "
                "program/bare min %.3f, median %.3f, max %.3f (target >= 0.9)\n",
                cycles, rounds, bench::spreadOf(programRates).median,
                bench::spreadOf(bareRates).median, ratio.min, ratio.median, ratio.max);
    return 0;
}

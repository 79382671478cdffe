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
#include <stdexcept>

namespace {

sim::SimConfig instantInstrument() {
    sim::SimConfig config;
    config.triggerPeriod = std::chrono::milliseconds(0);
    config.saveDuration = std::chrono::milliseconds(0);
    return config;
}

// What one side did over a whole run.
struct RunFigures {
    double cyclesPerSecond = 0;
    double processorPerCycle = 0; // of the side's own thread, which the simulator does not share
};

// A whole run of the program; nothing when it could not start.
std::optional<RunFigures> programRun(int cycles) {
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
    const double processorStart = bench::threadProcessorSeconds();
    const auto runStart = bench::Clock::now();
    start->click();
    return RunFigures{cycles / bench::secondsSince(runStart),
                      (bench::threadProcessorSeconds() - processorStart) / cycles};
}

// The same messages per cycle over the bare client: arm, one poll, format, save, one poll, the
// save check, directory. Writes are not answered, so only the four queries wait for the link.
RunFigures bareRun(int cycles) {
    bench::LoopbackInstrument instrument(instantInstrument());
    bench::BareClient bare(instrument.port());
    bare.write("HEAD 0;VERB 0");
    bare.write("ACQ:STOPA SEQ;STATE 0");
    bare.write("DESE 56");
    bare.write("*CLS");
    const double processorStart = bench::threadProcessorSeconds();
    const auto start = bench::Clock::now();
    for (int k = 1; k <= cycles; ++k) {
        bare.write("ACQ:STATE 1");
        while (bare.query("BUSY?") != "0") {
        }
        bare.write("SAV:WAVE:FILEF INTERNAL");
        bare.write("SAV:WAVE ALL, \"D:\\bare_" + std::to_string(k) + "\"");
        while (bare.query("BUSY?") != "0") {
        }
        if (bare.query("*ESR?") != "0") {
            throw std::runtime_error("bare client: the save failed");
        }
        bare.query("FILES:DIR?");
    }
    return RunFigures{cycles / bench::secondsSince(start),
                      (bench::threadProcessorSeconds() - processorStart) / cycles};
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    app::configureApplication(application);
    const bench::Arguments arguments(argc, argv, {{"cycles", 500}, {"rounds", 5}});
    const int cycles = std::max(1, int(arguments[0]));
    const int rounds = std::max(5, int(arguments[1]));

    std::vector<double> programRates, bareRates, ratios, programProcessor, bareProcessor;
    for (int round = 0; round < rounds; ++round) {
        std::optional<RunFigures> program;
        RunFigures bare;
        if (round % 2 == 0) {
            program = programRun(cycles);
            bare = bareRun(cycles);
        } else {
            bare = bareRun(cycles);
            program = programRun(cycles);
        }
        if (!program) {
            std::fprintf(stderr, "start-up failed\n");
            return 1;
        }
        const double ratio = program->cyclesPerSecond / bare.cyclesPerSecond;
        std::printf("round %d (%s first): program %.0f, bare %.0f cycles/s, ratio %.3f\n",
                    round + 1, round % 2 == 0 ? "program" : "bare", program->cyclesPerSecond,
                    bare.cyclesPerSecond, ratio);
        programRates.push_back(program->cyclesPerSecond);
        bareRates.push_back(bare.cyclesPerSecond);
        ratios.push_back(ratio);
        programProcessor.push_back(program->processorPerCycle);
        bareProcessor.push_back(bare.processorPerCycle);
    }
    const bench::Spread ratio = bench::spreadOf(ratios);
    std::printf("acquisition cycles per second with one ISF save (%d cycles, %d rounds, a fresh "
                "drive each): program median %.0f, bare link bound median %.0f; ratio "
                "program/bare min %.3f, median %.3f, max %.3f (target >= 0.9)\n",
                cycles, rounds, bench::spreadOf(programRates).median,
                bench::spreadOf(bareRates).median, ratio.min, ratio.median, ratio.max);
    std::printf("processor time per cycle of the client's thread (medians): program %.1f us, "
                "bare %.1f us\n",
                bench::spreadOf(programProcessor).median * 1e6,
                bench::spreadOf(bareProcessor).median * 1e6);
    return 0;
}

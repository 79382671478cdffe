// Complete acquisition cycles per second with one ISF save, the real windows offscreen, against
// a simulated instrument that triggers and saves at once; beside it the bound that the link's
// round-trip time sets: the same messages per cycle sent by the bare blocking client, measured
// in the same run.
#include "app/application.h"
#include "app/frm_main.h"
#include "bench/bare_client.h"
#include "bench/bench_support.h"
#include "platform/quorix/quorix.h"
#include "platform/windowing/message_boxes.h"

#include <QApplication>
#include <QPushButton>
#include <QSettings>
#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    app::configureApplication(application);
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 500;

    sim::SimConfig config;
    config.triggerPeriod = std::chrono::milliseconds(0);
    config.saveDuration = std::chrono::milliseconds(0);
    bench::LoopbackInstrument instrument(config);
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
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }

    auto* start = window.findChild<QPushButton*>("cbStart");
    const auto runStart = bench::Clock::now();
    start->click();
    const double runSeconds = bench::secondsSince(runStart);
    const double programRate = cycles / runSeconds;

    // The same messages per cycle over the bare client: arm, one poll, format, save, one poll,
    // directory. Writes are not answered, so only the three queries wait for the link.
    bench::BareClient bare(instrument.port());
    bare.write("HEAD 0;VERB 0");
    bare.write("ACQ:STOPA SEQ;STATE 0");
    const auto bareStart = bench::Clock::now();
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
    const double bareRate = cycles / bench::secondsSince(bareStart);
    std::printf("acquisition cycles per second with one ISF save: program %.0f, "
                "bare link bound %.0f, ratio %.3f\n",
                programRate, bareRate, programRate / bareRate);
    return 0;
}

// Complete acquisition cycles per second with one ISF save, the real windows offscreen, against
// a simulated instrument that triggers and saves at once; beside it the bound that the link's
// round-trip time sets: the same messages per cycle sent by the bare blocking client, measured
// in the same run.
#include "app/application.h"
#include "app/frm_main.h"
#include "bench/bare_client.h"
#include "platform/quorix/quorix.h"
#include "platform/windowing/message_boxes.h"
#include "sim/scope_server.h"

#include <QApplication>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <fstream>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    app::configureApplication(application);
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 500;

    QTemporaryDir root;
    sim::SimConfig config;
    config.root = root.path().toStdString();
    config.triggerPeriod = std::chrono::milliseconds(0);
    config.saveDuration = std::chrono::milliseconds(0);
    sim::ScopeServer server(config);
    server.start();
    const auto port = server.ports().at(0);
    const std::string resourcesFile = root.filePath("resources.conf").toStdString();
    std::ofstream(resourcesFile) << "TCPIP0::127.0.0.1::" << port << "::SOCKET\n";
    {
        QSettings settings(root.filePath("Varnolt.ini"), QSettings::IniFormat);
        settings.beginGroup("Prefs");
        for (const auto& [key, value] : {std::pair{"chkUseTimestamps", "0"},
                                         {"chkWFM", "1"},
                                         {"chkStopAfter", "1"},
                                         {"chkRestoreRun", "0"}}) {
            settings.setValue(key, value);
        }
        settings.setValue("txtAcqLimit", QString::number(cycles));
    }

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

    auto* start = window.findChild<QPushButton*>("cbStart");
    const auto runStart = Clock::now();
    start->click();
    const double runSeconds = secondsSince(runStart);
    const double programRate = cycles / runSeconds;

    // The same messages per cycle over the bare client: arm, one poll, format, save, one poll,
    // directory. Writes are not answered, so only the three queries wait for the link.
    bench::BareClient bare(port);
    bare.write("HEAD 0;VERB 0");
    bare.write("ACQ:STOPA SEQ;STATE 0");
    const auto bareStart = Clock::now();
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
    const double bareRate = cycles / secondsSince(bareStart);
    std::printf("acquisition cycles per second with one ISF save: program %.0f, "
                "bare link bound %.0f, ratio %.3f\n",
                programRate, bareRate, programRate / bareRate);
    server.stop();
    return 0;
}

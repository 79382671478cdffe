#include "bench/bench_support.h"

#include "app/frm_main.h"

#include <QtTest>
#include <algorithm>
#include <ctime>
#include <fstream>

namespace bench {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double threadProcessorSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

Spread spreadOf(std::vector<double> values) {
    if (values.empty()) {
        return {};
    }
    std::sort(values.begin(), values.end());
    return {values.front(), values[(values.size() - 1) / 2], values.back()};
}

LoopbackInstrument::LoopbackInstrument(sim::SimConfig config) {
    config.root = root_.path().toStdString();
    server_ = std::make_unique<sim::ScopeServer>(config);
    server_->start();
    port_ = server_->ports().at(0);
    std::ofstream resources(resourcesFile());
    resources << "TCPIP0::127.0.0.1::" << port_ << "::SOCKET\n";
    if (config.vxi11Port >= 0) {
        resources << "TCPIP0::127.0.0.1::inst0::INSTR vxi11-port=" << server_->vxi11Port() << "\n";
    }
}

LoopbackInstrument::~LoopbackInstrument() {
    server_->stop();
}

std::string LoopbackInstrument::resourcesFile() const {
    return filePath(QStringLiteral("resources.conf")).toStdString();
}

bool LoopbackInstrument::startMainWindow(frmMain& window) {
    window.setInstanceLockPath(filePath(QStringLiteral("Varnolt.lock")));
    window.setSettingsFilePath(filePath(QStringLiteral("Varnolt.ini")));
    if (window.Form_Load() != frmMain::LoadResult::Ready) {
        return false;
    }
    window.show();
    return QTest::qWaitForWindowExposed(&window);
}

} // namespace bench

#include "bench/bench_support.h"

#include "app/frm_main.h"

#include <QtTest>
#include <algorithm>
#include <cstdio>
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

std::vector<std::vector<double>>
interleavedRounds(const std::vector<std::function<double()>>& sides, int rounds) {
    std::vector<std::vector<double>> figures(sides.size());
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t k = 0; k < sides.size(); ++k) {
            const std::size_t side = round % 2 == 0 ? k : sides.size() - 1 - k;
            figures[side].push_back(sides[side]());
        }
    }
    return figures;
}

std::vector<double> ratios(const std::vector<double>& over, const std::vector<double>& under) {
    std::vector<double> result;
    for (std::size_t k = 0; k < over.size() && k < under.size(); ++k) {
        result.push_back(under[k] > 0 ? over[k] / under[k] : 0);
    }
    return result;
}

void printSpread(const std::string& what, const Spread& spread, const char* format) {
    std::printf("%s: min ", what.c_str());
    std::printf(format, spread.min);
    std::printf(", median ");
    std::printf(format, spread.median);
    std::printf(", max ");
    std::printf(format, spread.max);
    std::printf("\n");
}

} // namespace bench

#include "bench/bench_support.h"

#include "app/frm_main.h"

#include <QtTest>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>

namespace bench {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

Arguments::Arguments(int argc, char** argv, std::vector<Number> numbers) {
    std::string usage = std::string("usage: ") + (argc > 0 ? argv[0] : "bench");
    for (const Number& number : numbers) {
        char fallback[32];
        std::snprintf(fallback, sizeof fallback, "%.10g", number.fallback);
        usage += " [" + number.name + "=" +
                 (number.shownFallback.empty() ? fallback : number.shownFallback) + "]";
        values_.push_back(number.fallback);
    }
    for (int k = 1; k < argc; ++k) {
        const std::string word = argv[k];
        if (word == "--help" || word == "-h") {
            std::printf("%s\n", usage.c_str());
            std::exit(0);
        }
        char* end = nullptr;
        const double value = std::strtod(word.c_str(), &end);
        const char* refusal = nullptr;
        if (std::size_t(k) > numbers.size()) {
            refusal = "is one argument too many";
        } else if (word.empty() || *end != '\0' || !std::isfinite(value) || value < 0) {
            refusal = "is not a number of 0 or more";
        }
        if (refusal) {
            std::fprintf(stderr, "%s: \"%s\" %s\n%s\n", argv[0], word.c_str(), refusal,
                         usage.c_str());
            std::exit(2);
        }
        values_[std::size_t(k - 1)] = value;
        given_ = std::size_t(k);
    }
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

#pragma once

#include "sim/scope_server.h"

#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class frmMain;

namespace bench {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start);

// A benchmark's positional arguments: numbers, each with a name and a default. "--help" prints
// the usage line and ends the program; so does anything that is not a number, or one too many,
// with status 2, rather than run with a figure nobody asked for.
class Arguments {
public:
    struct Number {
        std::string name;
        double fallback;
        std::string shownFallback = {}; // for the usage line, when the number alone says little
    };
    Arguments(int argc, char** argv, std::vector<Number> numbers);
    double operator[](std::size_t index) const { return values_.at(index); }
    // Whether the index'th number was given rather than left at its default.
    bool given(std::size_t index) const { return index < given_; }

private:
    std::vector<double> values_;
    std::size_t given_ = 0;
};

// How often `call` runs per second when it runs back to back for `seconds`.
template <typename Call> double callsPerSecond(Call&& call, double seconds) {
    long count = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        for (int k = 0; k < 20; ++k) {
            call();
        }
        count += 20;
    }
    return double(count) / secondsSince(start);
}

// The processor time the calling thread has used so far.
double threadProcessorSeconds();

// One side of a comparison, measured over a round.
struct RoundSample {
    long calls = 0;
    double wallSeconds = 0;
    double processorSeconds = 0; // of the calling thread only
    double rate() const { return double(calls) / wallSeconds; }
    double processorPerCall() const { return processorSeconds / double(calls); }
};

// Runs `call` back to back for `seconds` on this thread.
template <typename Call> RoundSample runRound(Call&& call, double seconds) {
    RoundSample sample;
    const double processorStart = threadProcessorSeconds();
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        for (int k = 0; k < 20; ++k) {
            call();
        }
        sample.calls += 20;
    }
    sample.wallSeconds = secondsSince(start);
    sample.processorSeconds = threadProcessorSeconds() - processorStart;
    return sample;
}

// The smallest, middle and largest of a set of figures (the lower middle for an even count).
struct Spread {
    double min = 0;
    double median = 0;
    double max = 0;
};
Spread spreadOf(std::vector<double> values);

// Runs every side once per round, the order reversed every other round so that a drift in the
// machine's load hits all sides alike; returns each side's figures, round by round.
std::vector<std::vector<double>>
interleavedRounds(const std::vector<std::function<double()>>& sides, int rounds);

// The ratio of two sides round by round: what a drift between rounds cannot distort.
std::vector<double> ratios(const std::vector<double>& over, const std::vector<double>& under);

// "what: min X, median Y, max Z", each figure printed with `format`.
void printSpread(const std::string& what, const Spread& spread, const char* format);

// A simulated instrument on loopback, with a resources.conf that names it (its raw socket, then
// its VXI-11 link when the configuration serves one) and room for the program's lock and
// settings files.
class LoopbackInstrument {
public:
    explicit LoopbackInstrument(sim::SimConfig config = {});
    ~LoopbackInstrument();

    sim::ScopeServer& server() { return *server_; }
    std::uint16_t port() const { return port_; }
    std::string resourcesFile() const;
    QString filePath(const QString& name) const { return root_.filePath(name); }
    // Points the window's lock and settings at this folder, runs Form_Load and shows it.
    bool startMainWindow(frmMain& window);

private:
    QTemporaryDir root_;
    std::unique_ptr<sim::ScopeServer> server_;
    std::uint16_t port_ = 0;
};

} // namespace bench

#include "record/stop_signals.h"

#include "record/exit_codes.h"

#include <csignal>
#include <unistd.h>

namespace record {

namespace {

volatile std::sig_atomic_t firstSignal = 0;

extern "C" void onStopSignal(int signal) {
    if (firstSignal != 0) {
        ::_exit(ExitSignalBase + firstSignal);
    }
    firstSignal = signal;
}

} // namespace

void installStopSignals() {
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted reads and waits go on: every one of them is bounded by its own deadline.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int pendingStopSignal() {
    return firstSignal;
}

void ignoreBrokenPipes() {
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace record

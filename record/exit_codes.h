#pragma once

namespace record {

// Exit codes of varnolt-record, stable for scripts and service managers.
enum ExitCode : int {
    ExitLimitReached = 0, // the run saved its number of acquisitions and ended
    ExitSaveFailed = 1,   // the instrument did not save a file
    ExitBadOption = 2,    // bad command line, or nothing selected to save
    ExitNoInstrument = 3, // no resource known, or none answered as an instrument
    // Stopped by a signal: 128 + the signal's number, as a shell reports it.
    ExitSignalBase = 128, // SIGINT 130, SIGTERM 143
};

} // namespace record

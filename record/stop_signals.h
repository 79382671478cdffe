#pragma once

namespace record {

// SIGINT and SIGTERM ask the run to stop: the handler only notes the signal, and the recorder
// runs the stop procedure at its next yield. A second signal while the first is still being
// handled ends the program at once, with the exit status of the first.
void installStopSignals();

// The signal received first, or 0.
int pendingStopSignal();

// Ignores SIGPIPE: a closed output pipe is an error of the write, not the program's end.
void ignoreBrokenPipes();

} // namespace record

// Stands in for a web browser in the tests of the help viewer launcher. It appends to the log
// named by its first argument, one line each:
//   start PID            then "arg TEXT" for every argument, then "ready"
//   end PID              when asked to end (SIGTERM); then it exits
//   term PID             when asked to end with --ignore-term; it goes on running
//   exit PID             with --exit-at-once, right before it ends by itself
// Usage: fake_viewer ARGS... with --log=FILE among them and maybe --ignore-term or
// --exit-at-once; the --log argument itself is not recorded.
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

int logFd = -1;
std::string endLine;
std::string termLine;

void writeLine(const std::string& line) {
    // One write per line: O_APPEND keeps lines of several viewers whole.
    [[maybe_unused]] const auto written = ::write(logFd, line.data(), line.size());
}

extern "C" void onEnd(int) {
    [[maybe_unused]] const auto written = ::write(logFd, endLine.data(), endLine.size());
    ::_exit(0);
}

extern "C" void onTermIgnored(int) {
    [[maybe_unused]] const auto written = ::write(logFd, termLine.data(), termLine.size());
}

} // namespace

int main(int argc, char** argv) {
    const char* logPath = nullptr;
    bool ignoreTerm = false;
    bool exitAtOnce = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--log=", 6) == 0) {
            logPath = argv[i] + 6;
        }
        ignoreTerm = ignoreTerm || std::strcmp(argv[i], "--ignore-term") == 0;
        exitAtOnce = exitAtOnce || std::strcmp(argv[i], "--exit-at-once") == 0;
    }
    if (logPath == nullptr) {
        return 2;
    }
    logFd = ::open(logPath, O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (logFd < 0) {
        return 2;
    }

    const std::string pid = std::to_string(::getpid());
    endLine = "end " + pid + "\n";
    termLine = "term " + pid + "\n";
    if (!exitAtOnce) {
        struct sigaction action = {};
        action.sa_handler = ignoreTerm ? onTermIgnored : onEnd;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGTERM, &action, nullptr);
    }

    std::string start = "start " + pid + "\n";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--log=", 6) == 0) {
            continue;
        }
        start += "arg ";
        start += argv[i];
        start += "\n";
    }
    start += "ready\n";
    writeLine(start);

    if (exitAtOnce) {
        writeLine("exit " + pid + "\n");
        return 0;
    }
    for (;;) {
        ::pause();
    }
}

#include "sim/scope_server.h"

#include <QCoreApplication>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <limits>
#include <optional>
#include <pthread.h>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* Usage = R"(Usage: scopesim [OPTION]...
Simulated ORVANE NQX8 oscilloscope on 127.0.0.1 (loopback only): raw SCPI sockets and,
when asked, VXI-11.

  --port PORT              port of the first instrument (default 5025; 0 picks a free one)
  --root DIR               folder whose subfolders are the drives, "D" is made at start
                           (default: ./scopesim-root)
  --log FILE               traffic log of the first instrument, appended to (default: none):
                           one line per message (>), reply (<), message dropped while
                           muted (x) and event (*: connections, VXI-11 links, device
                           clears, triggers, locks), with the time and the link
  --idn TEXT               *IDN? reply of the first instrument
  --instrument PORT|IDN[|LOGFILE]
                           one more instrument with its own port, identity and log;
                           repeatable
  --vxi11-port PORT        also serve VXI-11 on this port (0 picks a free one); LAN device
                           names inst0, inst1... are the instruments in order. Served:
                           create_link, device_write, device_read, device_readstb (the
                           status byte of *STB?, with MAV for an unread reply),
                           device_trigger (*TRG), device_clear, device_lock and
                           device_unlock (one link at a time; the others wait their
                           lock_timeout or fail with error 11), destroy_link, and
                           device_abort on the abort channel (ends a call in progress)
  --portmapper             also run a small portmapper on port 111 (TCP and UDP, every
                           address) that tells the VXI-11 port; for a test's own network
                           namespace
  --serial                 also serve the first instrument on a pseudo-terminal (a serial
                           line, line feed terminated); its path is printed
  --trigger-period-ms N    an armed single sequence completes N ms after arming (default 100)
  --save-ms N              BUSY? stays 1 for N ms after a save (default 50)
  --points N               samples per channel (default 1000)

Fault switches; each applies to every link it makes sense for:
  --reply-delay-ms N       send every reply N ms late (all links)
  --close-after N          close a connection after it sent N messages (raw sockets; VXI-11:
                           the RPC connection whose links carried them, once their replies
                           are read; not the serial line, which has no connection)
  --mute                   start muted: messages are dropped unanswered (all links; VXI-11
                           calls are still answered, so a device_read times out)
  --refuse                 start refusing connections (raw sockets, VXI-11 core and abort
                           channels; not the portmapper or the serial line)
  --malformed-reply N      send the N-th reply with a block header that promises too much
                           (all links)
  --split-replies BYTES    send replies in chunks of BYTES, about 1 ms apart (raw sockets,
                           serial line; VXI-11: a device_read returns at most BYTES)
  --trigger-never          only a forced trigger (TRIGGER, *TRG, device_trigger) completes
                           an acquisition
  -h, --help               show this help

Prints "scopesim: listening on 127.0.0.1:PORT" for each instrument once it listens, and
"scopesim: VXI-11 on 127.0.0.1:PORT" when it serves VXI-11, and "scopesim: serial on PATH"
when it serves a pseudo-terminal.
Signals: SIGUSR1 toggles muting, SIGUSR2 toggles refusing, SIGTERM and SIGINT end it.
)";

struct UsageError {
    std::string message;
};

std::optional<long long> parseInteger(std::string_view text, long long low, long long high) {
    long long value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || value < low ||
        value > high) {
        return std::nullopt;
    }
    return value;
}

long long integerOption(std::string_view name, std::string_view value, long long low,
                        long long high) {
    const auto number = parseInteger(value, low, high);
    if (!number) {
        throw UsageError{std::string(name) + " needs a whole number from " + std::to_string(low) +
                         " to " + std::to_string(high) + ", not '" + std::string(value) + "'"};
    }
    return *number;
}

sim::InstrumentConfig parseInstrument(std::string_view value) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= value.size(); ++i) {
        if (i == value.size() || value[i] == '|') {
            parts.push_back(value.substr(start, i - start));
            start = i + 1;
        }
    }
    if (parts.size() < 2 || parts.size() > 3 || parts[1].empty()) {
        throw UsageError{"--instrument needs PORT|IDN or PORT|IDN|LOGFILE, not '" +
                         std::string(value) + "'"};
    }
    sim::InstrumentConfig instrument;
    instrument.port =
        static_cast<std::uint16_t>(integerOption("--instrument port", parts[0], 0, 65535));
    instrument.idn = std::string(parts[1]);
    if (parts.size() == 3) {
        instrument.logFile = std::string(parts[2]);
    }
    return instrument;
}

struct Options {
    sim::SimConfig config;
    bool help = false;
};

Options parseOptions(int argc, char** argv) {
    Options options;
    sim::SimConfig& config = options.config;
    config.instruments.front().port = 5025;
    std::string root = "scopesim-root";
    std::vector<sim::InstrumentConfig> more;

    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::optional<std::string_view> inlineValue;
        if (arg.starts_with("--")) {
            if (const auto eq = arg.find('='); eq != std::string_view::npos) {
                inlineValue = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
            }
        }
        auto value = [&]() -> std::string_view {
            if (inlineValue) {
                return *inlineValue;
            }
            if (i + 1 >= argc) {
                throw UsageError{std::string(arg) + " needs a value"};
            }
            return argv[++i];
        };
        auto flag = [&]() {
            if (inlineValue) {
                throw UsageError{std::string(arg) + " takes no value"};
            }
        };
        constexpr long long maxMs = 24LL * 3600 * 1000;
        constexpr long long maxInt = std::numeric_limits<int>::max();

        if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--port") {
            config.instruments.front().port =
                static_cast<std::uint16_t>(integerOption(arg, value(), 0, 65535));
        } else if (arg == "--root") {
            root = std::string(value());
            if (root.empty()) {
                throw UsageError{"--root needs a folder"};
            }
        } else if (arg == "--log") {
            config.instruments.front().logFile = std::string(value());
        } else if (arg == "--idn") {
            config.instruments.front().idn = std::string(value());
        } else if (arg == "--instrument") {
            more.push_back(parseInstrument(value()));
        } else if (arg == "--vxi11-port") {
            config.vxi11Port = static_cast<int>(integerOption(arg, value(), 0, 65535));
        } else if (arg == "--serial") {
            flag();
            config.serialPty = true;
        } else if (arg == "--portmapper") {
            flag();
            config.portmapperPort = 111;
        } else if (arg == "--trigger-period-ms") {
            config.triggerPeriod = std::chrono::milliseconds(integerOption(arg, value(), 0, maxMs));
        } else if (arg == "--trigger-never") {
            flag();
            config.triggerNever = true;
        } else if (arg == "--save-ms") {
            config.saveDuration = std::chrono::milliseconds(integerOption(arg, value(), 0, maxMs));
        } else if (arg == "--points") {
            config.points = static_cast<int>(integerOption(arg, value(), 1, 10'000'000));
        } else if (arg == "--reply-delay-ms") {
            config.faults.replyDelay =
                std::chrono::milliseconds(integerOption(arg, value(), 0, maxMs));
        } else if (arg == "--close-after") {
            config.faults.closeAfterMessages =
                static_cast<int>(integerOption(arg, value(), 0, maxInt));
        } else if (arg == "--mute") {
            flag();
            config.faults.muted = true;
        } else if (arg == "--refuse") {
            flag();
            config.faults.refusing = true;
        } else if (arg == "--malformed-reply") {
            config.faults.malformedReply = static_cast<int>(integerOption(arg, value(), 0, maxInt));
        } else if (arg == "--split-replies") {
            config.faults.splitReplyChunk =
                static_cast<int>(integerOption(arg, value(), 0, maxInt));
        } else {
            throw UsageError{"unknown argument '" + std::string(arg) + "'"};
        }
    }
    config.instruments.insert(config.instruments.end(), more.begin(), more.end());
    if (config.portmapperPort != 0 && config.vxi11Port < 0) {
        throw UsageError{"--portmapper needs --vxi11-port"};
    }
    config.root = std::filesystem::absolute(root).lexically_normal().string();
    return options;
}

} // namespace

int main(int argc, char** argv) {
    // A client that resets its connection must not end the instrument.
    std::signal(SIGPIPE, SIG_IGN);
    // Signals are taken by sigwait on this thread. Blocking them before any other thread exists
    // keeps them off every thread, the serving one included.
    sigset_t handled;
    sigemptyset(&handled);
    for (int s : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2}) {
        sigaddset(&handled, s);
    }
    pthread_sigmask(SIG_BLOCK, &handled, nullptr);

    // Image format plugins (TIFF) are found through the application's library paths.
    QCoreApplication app(argc, argv);

    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "scopesim: %s\nTry 'scopesim --help'.\n", error.message.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(Usage, stdout);
        return 0;
    }

    sim::ScopeServer server(options.config);
    try {
        server.start();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    std::fprintf(stderr, "scopesim: drives under %s\n", options.config.root.c_str());
    for (std::uint16_t port : server.ports()) {
        std::printf("scopesim: listening on 127.0.0.1:%u\n", static_cast<unsigned>(port));
    }
    if (server.vxi11Port() != 0) {
        std::printf("scopesim: VXI-11 on 127.0.0.1:%u\n",
                    static_cast<unsigned>(server.vxi11Port()));
    }
    if (!server.serialPath().empty()) {
        std::printf("scopesim: serial on %s\n", server.serialPath().c_str());
    }
    std::fflush(stdout);

    for (;;) {
        int received = 0;
        if (sigwait(&handled, &received) != 0) {
            continue;
        }
        if (received == SIGUSR1) {
            server.setMuted(!server.faults().muted);
        } else if (received == SIGUSR2) {
            server.setRefusing(!server.faults().refusing);
        } else {
            break;
        }
    }
    server.stop();
    return 0;
}

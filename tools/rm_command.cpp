#include "tools/rm_command.h"

#include "platform/lumetra/resource_manager.h"
#include "platform/lumetra/session.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <unistd.h>

namespace lumetra::rm {

namespace {

constexpr int DefaultProbeTimeoutMs = 2000;
constexpr int DefaultDiscoveryTimeoutMs = 1000;
constexpr int MaxDiscoveryTimeoutMs = 600000;

const char* const Usage = R"(usage: lumetra-rm COMMAND [ARGUMENTS]

The Lumetra Resource Manager: the instrument resources that programs using Lumetra can find.

commands:
  list                     print the known resources, one per line, in search order
  probe [RESOURCE...]      ask each resource (default: every known one) for *IDN? and print
                           its reply or its error; --timeout MS sets the timeout (default 2000)
  add RESOURCE [KEY=VALUE...]
                           add a resource, with its link settings, to the user's
                           configuration file
  remove RESOURCE          remove a resource from the user's configuration file
  discover [--interface NAME]... [--timeout MS] [--add | --yes] [--pin-port]
                           look for VXI-11 instruments on the LAN: a portmapper broadcast on
                           each interface that is up and can broadcast (or on the ones named;
                           name lo to search this machine), answers waited for MS ms (default
                           1000); prints each instrument found as a resource with its
                           vxi11-port and its *IDN? reply. --add asks, for each, whether to
                           add it to the user's configuration file; --yes adds them all.
                           The line is written without the port, which the portmapper is
                           asked for at each connection, unless --pin-port is given; a line
                           whose pinned port no longer answers is updated
  links                    print the kinds of link this build carries
  help                     print this text (also --help); --version prints the version

Resources are read from $XDG_CONFIG_HOME/lumetra/resources.conf (default
~/.config/lumetra/resources.conf), then /etc/lumetra/resources.conf: one resource per line,
'#' starts a comment. USBTMC devices that are present are listed too, without a line.

resource classes:
%LINKS%
Link settings may follow the resource on its line, as key=value words:
%ATTRIBUTES%
examples:
  TCPIP0::192.0.2.10::4000::SOCKET
  TCPIP0::192.0.2.11::inst0::INSTR vxi11-port=9024
  ASRL/dev/ttyUSB0::INSTR baud=115200 data-bits=8 parity=none stop-bits=1 termination=lf

exit codes: 0 done, 1 a probe failed, remove found nothing or discover found nothing,
            2 usage error, 3 no resource is known, 4 the configuration file could not be written
)";

// How each link of this build is written as a resource, and what it is.
struct LinkForm {
    const char* link; // as supportedLinks() names it
    const char* form;
    const char* description;
};

constexpr LinkForm LinkForms[] = {
    {"TCPIP::SOCKET", "TCPIP[board]::host::port::SOCKET", "raw SCPI socket"},
    {"TCPIP::INSTR", "TCPIP[board]::host[::LAN device name]::INSTR", "VXI-11 (device name inst0)"},
    {"USB::INSTR", "USB[board]::vendor::product::serial[::interface]::INSTR",
     "USBTMC, Linux usbtmc driver"},
    {"ASRL::INSTR", "ASRL<number or device path>::INSTR", "serial line (ASRL1 = /dev/ttyS0)"},
};

// One line per link this build carries: its resource form and what it is.
std::string linksTable(const char* indent) {
    std::ostringstream table;
    for (const auto& link : supportedLinks()) {
        const LinkForm* known = nullptr;
        for (const LinkForm& form : LinkForms) {
            if (link == form.link) {
                known = &form;
            }
        }
        if (!known) {
            table << indent << link << '\n';
            continue;
        }
        std::string form = known->form;
        form.resize(std::max<std::size_t>(form.size() + 2, 57), ' ');
        table << indent << form << known->description << '\n';
    }
    return table.str();
}

std::string usage() {
    std::string text = Usage;
    const std::string links = "%LINKS%";
    text.replace(text.find(links), links.size(), linksTable("  "));
    const std::string marker = "%ATTRIBUTES%\n";
    text.replace(text.find(marker), marker.size(), resourceAttributesHelp());
    return text;
}

// A failure's text without the resource's name in front: the line names it already.
std::string withoutName(std::string text, const std::string& name) {
    const std::string prefix = name + ": ";
    while (text.rfind(prefix, 0) == 0) {
        text.erase(0, prefix.size());
    }
    return text;
}

int list(std::ostream& out, std::ostream& err, const Environment& environment) {
    ResourceManager manager(environment.configFiles);
    manager.setDiagnostics(&err);
    const auto resources = manager.listResources();
    for (const auto& name : resources) {
        out << name << '\n';
    }
    if (resources.empty()) {
        err << "lumetra-rm: no resource is known; add one with: lumetra-rm add RESOURCE\n";
        return ExitNothingConfigured;
    }
    return ExitOk;
}

int probe(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
          const Environment& environment) {
    int timeoutMs = DefaultProbeTimeoutMs;
    std::vector<std::string> names;
    for (std::size_t k = 1; k < args.size(); ++k) {
        if (args[k] == "--timeout") {
            if (k + 1 >= args.size()) {
                err << "lumetra-rm: --timeout needs a value in milliseconds\n";
                return ExitUsage;
            }
            const std::string& value = args[++k];
            auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), timeoutMs);
            if (ec != std::errc() || end != value.data() + value.size() || timeoutMs < 0) {
                err << "lumetra-rm: --timeout needs a value in milliseconds, not " << value << '\n';
                return ExitUsage;
            }
        } else {
            names.push_back(args[k]);
        }
    }
    if (names.empty()) {
        ResourceManager manager(environment.configFiles);
        manager.setDiagnostics(&err);
        names = manager.listResources();
        if (names.empty()) {
            err << "lumetra-rm: no resource is known; add one with: lumetra-rm add RESOURCE\n";
            return ExitNothingConfigured;
        }
    }
    ResourceManager settings(environment.configFiles);
    settings.setDiagnostics(nullptr);
    auto settingsOf = [&](const std::string& canonical) {
        return settings.attributesOf(canonical);
    };
    bool allAnswered = true;
    for (const auto& name : names) {
        std::string error;
        auto resource = ResourceName::tryParse(name, &error);
        if (!resource) {
            err << "lumetra-rm: " << error << '\n';
            return ExitUsage;
        }
        try {
            Session session(*resource, std::chrono::milliseconds(timeoutMs), makeTransport,
                            settingsOf(resource->canonical()));
            // Asked before anything of the line is written: a failure writes a line of its own.
            const std::string reply = session.query("*IDN?");
            out << resource->canonical() << ": " << reply << '\n';
        } catch (const Error& failure) {
            allAnswered = false;
            out << resource->canonical() << ": error " << statusName(failure.code()) << " ("
                << failure.code() << "): " << withoutName(failure.what(), resource->canonical())
                << '\n';
        }
    }
    return allAnswered ? ExitOk : ExitFailed;
}

// Adds a resource with its settings to the user's file, or removes it, keeping every other line.
int editUserFile(const std::string& name, const ResourceAttributes& settings, bool adding,
                 std::ostream& out, std::ostream& err, const Environment& environment) {
    std::string error;
    const std::string& path = environment.userConfigFile;
    const ConfigEdit outcome = editConfigFile(
        path,
        [&](std::string& text, bool exists) {
            if (!exists && adding) {
                text = "# Instrument resources for Lumetra, one per line, in search order.\n";
            }
            return adding ? addResourceToConfig(text, name, settings)
                          : removeResourceFromConfig(text, name);
        },
        error);
    if (outcome == ConfigEdit::Unchanged) {
        if (adding) {
            out << name << " is already in " << path << '\n';
            return ExitOk;
        }
        err << "lumetra-rm: " << name << " is not in " << path << '\n';
        return ExitFailed;
    }
    if (outcome == ConfigEdit::Failed) {
        err << "lumetra-rm: cannot write " << error << '\n';
        return ExitFileError;
    }
    out << (adding ? "added " : "removed ") << name << (adding ? " to " : " from ") << path << '\n';
    return ExitOk;
}

int edit(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
         const Environment& environment) {
    const bool adding = args[0] == "add";
    if (args.size() < 2 || (!adding && args.size() != 2)) {
        err << "lumetra-rm: usage: lumetra-rm " << args[0]
            << (adding ? " RESOURCE [KEY=VALUE...]\n" : " RESOURCE\n");
        return ExitUsage;
    }
    std::string error;
    auto resource = ResourceName::tryParse(args[1], &error);
    if (!resource) {
        err << "lumetra-rm: " << error << '\n';
        return ExitUsage;
    }
    std::string settingsText;
    for (std::size_t k = 2; k < args.size(); ++k) {
        settingsText += args[k] + " ";
    }
    const auto settings = parseResourceAttributes(*resource, settingsText, &error);
    if (!settings) {
        err << "lumetra-rm: " << error << '\n';
        return ExitUsage;
    }
    return editUserFile(resource->canonical(), *settings, adding, out, err, environment);
}

// The pinned port of the user's line for `name`, when it differs from the port found now and
// no longer answers; such a line is updated instead of being kept as "already there".
std::optional<std::string> stalePin(const std::string& name, const ResourceAttributes& found,
                                    std::chrono::milliseconds timeout,
                                    const Environment& environment) {
    std::ifstream file(environment.userConfigFile, std::ios::binary);
    const auto resource = ResourceName::tryParse(name);
    if (!file || !resource) {
        return std::nullopt;
    }
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    for (const ResourceEntry& entry :
         parseResourceEntries(text, environment.userConfigFile, nullptr)) {
        const auto pinned = entry.attributes.find("vxi11-port");
        if (entry.name != name || pinned == entry.attributes.end() ||
            pinned->second == found.at("vxi11-port")) {
            continue;
        }
        try {
            Session session(*resource, timeout, makeTransport, entry.attributes);
            session.query("*IDN?");
            return std::nullopt;
        } catch (const Error&) {
            return pinned->second;
        }
    }
    return std::nullopt;
}

// Replaces the user's line for `name` in place by one with `settings`.
int updateUserFile(const std::string& name, const std::string& stalePort,
                   const ResourceAttributes& settings, std::ostream& out, std::ostream& err,
                   const Environment& environment) {
    const std::string& path = environment.userConfigFile;
    std::string error;
    const ConfigEdit outcome = editConfigFile(
        path,
        [&](std::string& text, bool) {
            std::string updated;
            std::istringstream lines(text);
            std::string line;
            while (std::getline(lines, line)) {
                std::istringstream words(line);
                std::string first;
                words >> first;
                const auto resource = ResourceName::tryParse(first);
                if (resource && resource->canonical() == name) {
                    line = name +
                           (settings.empty() ? "" : " " + formatResourceAttributes(settings)) +
                           (line.size() && line.back() == '\r' ? "\r" : "");
                }
                updated += line;
                if (!lines.eof()) {
                    updated += '\n';
                }
            }
            const bool changed = updated != text;
            text = std::move(updated);
            return changed;
        },
        error);
    if (outcome == ConfigEdit::Failed) {
        err << "lumetra-rm: cannot write " << error << '\n';
        return ExitFileError;
    }
    out << "updated " << name << " in " << path << ": vxi11-port=" << stalePort
        << " no longer answers; "
        << (settings.empty() ? "the portmapper is asked at each connection"
                             : "now " + formatResourceAttributes(settings))
        << '\n';
    return ExitOk;
}

bool parseDiscoveryTimeout(const std::string& text, int& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value > 0 &&
           value <= MaxDiscoveryTimeoutMs;
}

bool isYes(std::string answer) {
    const auto first = answer.find_first_not_of(" \t\r");
    const auto last = answer.find_last_not_of(" \t\r");
    answer = first == std::string::npos ? "" : answer.substr(first, last - first + 1);
    for (char& c : answer) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return answer == "y" || answer == "yes";
}

int discover(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             const Environment& environment) {
    discovery::Options options;
    options.timeout = std::chrono::milliseconds(DefaultDiscoveryTimeoutMs);
    bool ask = false;
    bool yes = false;
    bool pinPort = false;
    for (std::size_t k = 1; k < args.size(); ++k) {
        const std::string& arg = args[k];
        if (arg == "--interface" || arg == "--timeout") {
            if (k + 1 >= args.size()) {
                err << "lumetra-rm: " << arg << " needs a value\n";
                return ExitUsage;
            }
            const std::string& value = args[++k];
            int timeoutMs = 0;
            if (arg == "--interface") {
                options.interfaces.push_back(value);
            } else if (parseDiscoveryTimeout(value, timeoutMs)) {
                options.timeout = std::chrono::milliseconds(timeoutMs);
            } else {
                err << "lumetra-rm: --timeout needs a value in milliseconds from 1 to "
                    << MaxDiscoveryTimeoutMs << ", not " << value << '\n';
                return ExitUsage;
            }
        } else if (arg == "--add") {
            ask = true;
        } else if (arg == "--yes") {
            yes = true;
        } else if (arg == "--pin-port") {
            pinPort = true;
        } else {
            err << "lumetra-rm: usage: lumetra-rm discover [--interface NAME]... [--timeout MS] "
                   "[--add | --yes] [--pin-port]\n";
            return ExitUsage;
        }
    }
    if (!environment.discover) {
        err << "lumetra-rm: discovery is not available here\n";
        return ExitFailed;
    }
    const discovery::Result result = environment.discover(options);
    for (const auto& name : result.unknownInterfaces) {
        err << "lumetra-rm: no IPv4 interface is named " << name << '\n';
    }
    if (!result.unknownInterfaces.empty()) {
        return ExitUsage;
    }
    for (const auto& problem : result.problems) {
        err << "lumetra-rm: " << problem << '\n';
    }
    if (result.searched.empty()) {
        err << "lumetra-rm: "
            << (options.interfaces.empty()
                    ? "no interface that is up can broadcast; name one with --interface NAME"
                    : "none of the interfaces named can be searched")
            << '\n';
        return ExitFailed;
    }
    if (result.found.empty()) {
        err << "lumetra-rm: no VXI-11 instrument answered within " << options.timeout.count()
            << " ms on";
        for (const auto& searched : result.searched) {
            err << ' ' << searched;
        }
        err << '\n';
        return ExitFailed;
    }

    struct Offer {
        std::string name;
        ResourceAttributes found;    // the port the portmapper told
        ResourceAttributes settings; // what the line gets
    };
    std::vector<Offer> offers;
    for (const auto& instrument : result.found) {
        const auto resource =
            ResourceName::tryParse("TCPIP0::" + instrument.address + "::inst0::INSTR");
        const auto found =
            resource ? parseResourceAttributes(*resource,
                                               "vxi11-port=" + std::to_string(instrument.port))
                     : std::nullopt;
        if (!resource || !found) {
            continue;
        }
        offers.push_back({resource->canonical(), *found, pinPort ? *found : ResourceAttributes{}});
        out << offers.back().name << "  " << formatResourceAttributes(*found) << "  "
            << (instrument.error.empty() && !instrument.identity.empty()
                    ? instrument.identity
                    : "(no *IDN? reply" +
                          (instrument.error.empty()
                               ? ""
                               : ": " + withoutName(instrument.error, offers.back().name)) +
                          ")")
            << '\n';
    }
    if (!ask && !yes) {
        return ExitOk;
    }
    if (!yes && (!environment.input || !environment.inputIsTerminal)) {
        err << "lumetra-rm: nothing was added, as standard input is not a terminal to answer; "
               "--yes adds every instrument found\n";
        return ExitOk;
    }
    int code = ExitOk;
    for (const auto& offer : offers) {
        const auto stalePort = stalePin(offer.name, offer.found, options.timeout, environment);
        if (!yes) {
            out << (stalePort ? "update " : "add ") << offer.name
                << (offer.settings.empty() ? "" : " " + formatResourceAttributes(offer.settings))
                << (stalePort ? " in " : " to ") << environment.userConfigFile << "? [y/N] "
                << std::flush;
            std::string answer;
            if (!std::getline(*environment.input, answer)) {
                out << '\n';
                break;
            }
            if (!isYes(answer)) {
                continue;
            }
        }
        const int done =
            stalePort
                ? updateUserFile(offer.name, *stalePort, offer.settings, out, err, environment)
                : editUserFile(offer.name, offer.settings, true, out, err, environment);
        if (done != ExitOk) {
            code = done;
        }
    }
    return code;
}

} // namespace

Environment defaultEnvironment() {
    Environment environment{ResourceManager::defaultConfigFiles(),
                            ResourceManager::userConfigFile()};
    environment.discover = discovery::discover;
    return environment;
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const Environment& environment) {
    if (args.empty()) {
        err << usage();
        return ExitUsage;
    }
    const std::string& command = args[0];
    if (command == "help" || command == "--help" || command == "-h") {
        out << usage();
        return ExitOk;
    }
    if (command == "--version" && args.size() == 1) {
        out << "lumetra-rm " << VARNOLT_VERSION << '\n';
        return ExitOk;
    }
    if (command == "list" && args.size() == 1) {
        return list(out, err, environment);
    }
    if (command == "probe") {
        return probe(args, out, err, environment);
    }
    if (command == "add" || command == "remove") {
        return edit(args, out, err, environment);
    }
    if (command == "discover") {
        return discover(args, out, err, environment);
    }
    if (command == "links" && args.size() == 1) {
        out << linksTable("");
        return ExitOk;
    }
    err << "lumetra-rm: unknown command line: " << command << (args.size() > 1 ? " ..." : "")
        << "\n\n"
        << usage();
    return ExitUsage;
}

} // namespace lumetra::rm

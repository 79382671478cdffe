#pragma once

#include "platform/lumetra/discovery.h"

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace lumetra::rm {

// Exit codes of lumetra-rm, stable for scripts.
enum ExitCode : int {
    ExitOk = 0,
    ExitFailed = 1,            // probe: at least one resource did not answer; remove: not found;
                               // discover: nothing found
    ExitUsage = 2,             // bad command line or malformed resource name
    ExitNothingConfigured = 3, // list/probe: no resource is known
    ExitFileError = 4,         // add/remove: the configuration file could not be written
};

struct Environment {
    std::vector<std::string> configFiles; // read in this order
    std::string userConfigFile;           // the file that add and remove edit
    // What `discover` runs. Unset, `discover` sends nothing and fails.
    std::function<discovery::Result(const discovery::Options&)> discover = nullptr;
    // Where `discover --add` reads its answers; when it is not a terminal, nothing is added
    // without --yes.
    std::istream* input = nullptr;
    bool inputIsTerminal = false;
};

// The user's files and real discovery; no input.
Environment defaultEnvironment();

// Runs one lumetra-rm command line (without the program name).
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const Environment& environment);

} // namespace lumetra::rm

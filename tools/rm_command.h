#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace lumetra::rm {

// Exit codes of lumetra-rm, stable for scripts.
enum ExitCode : int {
    ExitOk = 0,
    ExitFailed = 1,            // probe: at least one resource did not answer; remove: not found
    ExitUsage = 2,             // bad command line or malformed resource name
    ExitNothingConfigured = 3, // list/probe: no resource is known
    ExitFileError = 4,         // add/remove: the configuration file could not be written
};

struct Environment {
    std::vector<std::string> configFiles; // read in this order
    std::string userConfigFile;           // the file that add and remove edit
};

Environment defaultEnvironment();

// Runs one lumetra-rm command line (without the program name).
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const Environment& environment);

} // namespace lumetra::rm

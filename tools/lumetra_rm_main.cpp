#include "tools/rm_command.h"

#include <csignal>
#include <iostream>
#include <unistd.h>

int main(int argc, char** argv) {
    // A reset link or a closed output pipe ends in an error, not in a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args(argv + 1, argv + argc);
    auto environment = lumetra::rm::defaultEnvironment();
    environment.input = &std::cin;
    environment.inputIsTerminal = ::isatty(STDIN_FILENO) == 1;
    return lumetra::rm::run(args, std::cout, std::cerr, environment);
}

#include "tools/rm_command.h"

#include <iostream>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return lumetra::rm::run(args, std::cout, std::cerr, lumetra::rm::defaultEnvironment());
}

#pragma once

#include "fuzz/fuzz_check.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

// A new empty folder for a target's files, removed at exit. In memory (/dev/shm) when there is
// one and TMPDIR does not say otherwise: on disk, making and removing folders for every input
// costs twenty times as much.
inline std::filesystem::path makeScratchFolder(const std::string& name) {
    std::string parent = "/tmp";
    std::error_code ec;
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp) {
        parent = tmp;
    } else if (std::filesystem::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0) {
        parent = "/dev/shm";
    }
    std::string pattern = parent + "/" + name + ".XXXXXX";
    FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
    static std::filesystem::path made;
    made = std::filesystem::canonical(pattern);
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(made, ignored);
    });
    return made;
}

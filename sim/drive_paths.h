#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// A file name on the instrument: a drive letter and the folders and name below it.
struct DrivePath {
    char drive = 'D';
    std::vector<std::string> parts;
    bool endsWithSeparator = false;

    std::string display() const; // "D:/dir/name"; a folder ends with '/'
    std::filesystem::path host(const std::filesystem::path& root) const;
};

struct PathResolution {
    DrivePath path;
    int errorCode = 0; // nonzero: the name is not usable
};

// Resolves "D:\dir\name", "D:/dir/name" or a name relative to `cwd` (itself like "D:/dir/").
// Only the form of the name is checked here, not what exists on the host.
PathResolution resolveDrivePath(std::string_view name, std::string_view cwd);

enum class PathUse {
    NewFile,   // its folder must exist and it must name a file, not a folder
    NewFolder, // like NewFile, for a folder to be made
    ExistingFolder,
    ExistingEntry,
};

// The event code that using `path` this way on the host would raise, or 0.
int checkDrivePath(const DrivePath& path, const std::filesystem::path& root, PathUse use);

} // namespace sim

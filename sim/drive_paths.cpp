#include "sim/drive_paths.h"

#include "sim/scpi_events.h"

#include <cctype>
#include <system_error>

namespace sim {

namespace {

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

bool isForbidden(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) {
        return true;
    }
    switch (c) {
    case '<':
    case '>':
    case ':':
    case '"':
    case '|':
    case '?':
    case '*':
        return true;
    default:
        return false;
    }
}

bool hasDrive(std::string_view name) {
    return name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) != 0 &&
           name[1] == ':';
}

// Appends the components of `text` to `parts`; false when one of them is not allowed.
bool appendParts(std::string_view text, std::vector<std::string>& parts) {
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isSeparator(text[i])) {
            continue;
        }
        const std::string_view part = text.substr(start, i - start);
        start = i + 1;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == ".." || part.size() > 255) {
            return false;
        }
        for (char c : part) {
            if (isForbidden(c)) {
                return false;
            }
        }
        parts.emplace_back(part);
    }
    return true;
}

} // namespace

std::string DrivePath::display() const {
    std::string text{drive, ':', '/'};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        text += parts[i];
        if (i + 1 < parts.size() || endsWithSeparator) {
            text += '/';
        }
    }
    return text;
}

std::filesystem::path DrivePath::host(const std::filesystem::path& root) const {
    std::filesystem::path result = root / std::string(1, drive);
    for (const std::string& part : parts) {
        result /= part;
    }
    return result;
}

PathResolution resolveDrivePath(std::string_view name, std::string_view cwd) {
    PathResolution result;
    if (name.empty()) {
        result.errorCode = EventCode::FileNameError;
        return result;
    }
    std::string_view rest;
    if (hasDrive(name)) {
        result.path.drive = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
        rest = name.substr(2);
    } else if (isSeparator(name.front()) || !hasDrive(cwd)) {
        result.errorCode = EventCode::FileNameError;
        return result;
    } else {
        result.path.drive = static_cast<char>(std::toupper(static_cast<unsigned char>(cwd[0])));
        if (!appendParts(cwd.substr(2), result.path.parts)) {
            result.errorCode = EventCode::FileNameError;
            return result;
        }
        rest = name;
    }
    if (!appendParts(rest, result.path.parts)) {
        result.errorCode = EventCode::FileNameError;
        return result;
    }
    result.path.endsWithSeparator = rest.empty() || isSeparator(rest.back());
    return result;
}

int checkDrivePath(const DrivePath& path, const std::filesystem::path& root, PathUse use) {
    std::error_code ec;
    const std::filesystem::path drive = root / std::string(1, path.drive);
    if (!std::filesystem::is_directory(drive, ec)) {
        return EventCode::MassStorageError;
    }
    const std::filesystem::path target = path.host(root);
    switch (use) {
    case PathUse::NewFile:
    case PathUse::NewFolder: {
        if (path.parts.empty() || (use == PathUse::NewFile && path.endsWithSeparator)) {
            return EventCode::FileNameError;
        }
        if (!std::filesystem::is_directory(target.parent_path(), ec)) {
            return EventCode::FileNameNotFound;
        }
        if (std::filesystem::is_directory(target, ec)) {
            return use == PathUse::NewFile ? EventCode::FileNameError : EventCode::MassStorageError;
        }
        if (use == PathUse::NewFolder && std::filesystem::exists(target, ec)) {
            return EventCode::MassStorageError;
        }
        return 0;
    }
    case PathUse::ExistingFolder:
        return std::filesystem::is_directory(target, ec) ? 0 : EventCode::FileNameNotFound;
    case PathUse::ExistingEntry:
        if (path.parts.empty()) {
            return EventCode::FileNameError;
        }
        return std::filesystem::exists(std::filesystem::symlink_status(target, ec))
                   ? 0
                   : EventCode::FileNameNotFound;
    }
    return 0;
}

} // namespace sim

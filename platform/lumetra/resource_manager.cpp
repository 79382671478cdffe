#include "platform/lumetra/resource_manager.h"

#include "platform/files/replace_file.h"
#include "platform/lumetra/resource_name.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <optional>
#include <pwd.h>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace lumetra {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string homeDirectory() {
    std::string home = environment("HOME");
    if (!home.empty()) {
        return home;
    }
    passwd entry{};
    passwd* found = nullptr;
    std::string buffer(16384, '\0');
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir) {
        return found->pw_dir;
    }
    return {};
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// One line of a configuration file: `text` without its line break, `end` just past the break.
struct Line {
    std::string_view text;
    std::size_t begin;
    std::size_t end;
};

std::vector<Line> splitLines(std::string_view text) {
    std::vector<Line> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t newline = text.find('\n', begin);
        const std::size_t textEnd = newline == std::string_view::npos ? text.size() : newline;
        const std::size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
        std::string_view line = text.substr(begin, textEnd - begin);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back({line, begin, end});
        begin = end;
    }
    return lines;
}

// The resource text of a line: before any '#', without surrounding blanks.
std::string_view entryOf(std::string_view line) {
    line = line.substr(0, line.find('#'));
    const auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
    };
    while (!line.empty() && blank(line.front())) {
        line.remove_prefix(1);
    }
    while (!line.empty() && blank(line.back())) {
        line.remove_suffix(1);
    }
    return line;
}

// A line's entry split into the resource text and the settings after it.
std::pair<std::string_view, std::string_view> splitEntry(std::string_view entry) {
    const std::size_t blank = entry.find_first_of(" \t\v\f\r");
    if (blank == std::string_view::npos) {
        return {entry, {}};
    }
    return {entry.substr(0, blank), entry.substr(blank)};
}

std::optional<ResourceName> resourceOfLine(std::string_view line) {
    return ResourceName::tryParse(splitEntry(entryOf(line)).first);
}

std::string usbResourceName(const UsbInstrAddress& address) {
    char ids[32];
    std::snprintf(ids, sizeof ids, "0x%04X::0x%04X", static_cast<unsigned>(address.vendorId),
                  static_cast<unsigned>(address.productId));
    return "USB" + std::to_string(address.board) + "::" + ids + "::" + address.serialNumber +
           "::" + std::to_string(address.interfaceNumber) + "::INSTR";
}

// POSIX reads because a stream throws from inside its buffer when the path is a directory.
bool readFile(const std::string& path, std::string& contents) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            contents.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            ::close(fd);
            return n == 0;
        }
    }
}

} // namespace

std::string ResourceManager::userConfigFile() {
    std::string base = environment("XDG_CONFIG_HOME");
    // Relative values are invalid for this variable and are ignored, as the convention asks.
    if (base.empty() || base.front() != '/') {
        const std::string home = homeDirectory();
        if (home.empty()) {
            return {};
        }
        base = withoutTrailingSlashes(home) + "/.config";
    }
    return withoutTrailingSlashes(base) + "/lumetra/resources.conf";
}

std::vector<std::string> ResourceManager::defaultConfigFiles() {
    std::vector<std::string> files;
    if (std::string user = userConfigFile(); !user.empty()) {
        files.push_back(std::move(user));
    }
    files.push_back("/etc/lumetra/resources.conf");
    return files;
}

ResourceManager::ResourceManager(std::vector<std::string> configFiles)
    : configFiles_(std::move(configFiles)), diagnostics_(&std::cerr) {}

std::vector<std::string> ResourceManager::listResources() const {
    std::vector<std::string> names;
    for (ResourceEntry& entry : listEntries()) {
        names.push_back(std::move(entry.name));
    }
    return names;
}

std::vector<ResourceEntry> ResourceManager::listEntries() const {
    std::vector<ResourceEntry> resources;
    std::set<std::string> seen;
    for (const std::string& file : configFiles_) {
        std::string text;
        if (!readFile(file, text)) {
            continue;
        }
        for (ResourceEntry& entry : parseResourceEntries(text, file, diagnostics_)) {
            if (seen.insert(entry.name).second) {
                resources.push_back(std::move(entry));
            }
        }
    }
    if (usbtmcRoots_) {
        for (UsbtmcDevice& device : findUsbtmcDevices(*usbtmcRoots_)) {
            if (auto name = ResourceName::tryParse(usbResourceName(device.address));
                name && seen.insert(name->canonical()).second) {
                resources.push_back({name->canonical(), {}});
            }
        }
    }
    return resources;
}

ResourceAttributes ResourceManager::attributesOf(const std::string& name) const {
    const auto resource = ResourceName::tryParse(name);
    if (!resource) {
        return {};
    }
    const std::string canonical = resource->canonical();
    ResourceManager quiet(configFiles_);
    quiet.setDiagnostics(nullptr);
    quiet.setUsbtmcRoots(std::nullopt);
    for (ResourceEntry& entry : quiet.listEntries()) {
        if (entry.name == canonical) {
            return std::move(entry.attributes);
        }
    }
    return {};
}

std::vector<std::string> parseResourceConfig(const std::string& text, const std::string& origin,
                                             std::ostream* diagnostics) {
    std::vector<std::string> names;
    for (ResourceEntry& entry : parseResourceEntries(text, origin, diagnostics)) {
        names.push_back(std::move(entry.name));
    }
    return names;
}

std::vector<ResourceEntry> parseResourceEntries(const std::string& text, const std::string& origin,
                                                std::ostream* diagnostics) {
    std::vector<ResourceEntry> entries;
    std::size_t number = 0;
    for (const Line& line : splitLines(text)) {
        ++number;
        const std::string_view entry = entryOf(line.text);
        if (entry.empty()) {
            continue;
        }
        const auto [resourceText, attributeText] = splitEntry(entry);
        std::string error;
        auto name = ResourceName::tryParse(resourceText, &error);
        std::optional<ResourceAttributes> attributes;
        if (name) {
            attributes = parseResourceAttributes(*name, attributeText, &error);
        }
        if (name && attributes) {
            entries.push_back({name->canonical(), std::move(*attributes)});
        } else if (diagnostics) {
            *diagnostics << origin << ':' << number << ": " << error << '\n';
        }
    }
    return entries;
}

bool addResourceToConfig(std::string& text, const std::string& canonicalName,
                         const ResourceAttributes& attributes) {
    const ResourceName resource = ResourceName::parse(canonicalName);
    for (const Line& line : splitLines(text)) {
        if (auto name = resourceOfLine(line.text); name && *name == resource) {
            return false;
        }
    }
    // Follow the file's line breaks so that a CRLF file stays one.
    const std::string_view lineBreak =
        text.find("\r\n") != std::string::npos ? std::string_view("\r\n") : "\n";
    if (!text.empty() && text.back() != '\n') {
        text += lineBreak;
    }
    text += resource.canonical();
    if (!attributes.empty()) {
        text += ' ' + formatResourceAttributes(attributes);
    }
    text += lineBreak;
    return true;
}

bool removeResourceFromConfig(std::string& text, const std::string& canonicalName) {
    const auto resource = ResourceName::tryParse(canonicalName);
    if (!resource) {
        return false;
    }
    std::string kept;
    bool removed = false;
    for (const Line& line : splitLines(text)) {
        if (auto name = resourceOfLine(line.text); name && *name == *resource) {
            removed = true;
        } else {
            kept.append(text, line.begin, line.end - line.begin);
        }
    }
    if (removed) {
        text = std::move(kept);
    }
    return removed;
}

ConfigEdit editConfigFile(const std::string& path,
                          const std::function<bool(std::string& text, bool exists)>& edit,
                          std::string& error, std::chrono::milliseconds lockTimeout) {
    const files::EditLock lock(path, lockTimeout);
    if (!lock.locked()) {
        error = lock.error();
        return ConfigEdit::Failed;
    }
    struct stat info {};
    const bool exists = ::stat(path.c_str(), &info) == 0;
    std::string text;
    if (exists && !readFile(path, text)) {
        error = path + ": cannot read: " + std::strerror(errno);
        return ConfigEdit::Failed;
    }
    if (!edit(text, exists)) {
        return ConfigEdit::Unchanged;
    }
    return files::replaceFile(path, text, error) ? ConfigEdit::Changed : ConfigEdit::Failed;
}

} // namespace lumetra

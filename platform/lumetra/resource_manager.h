#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace lumetra {

// The resources Lumetra knows, read from configuration files: one resource string per line,
// blank lines and '#' comments ignored, order kept, repeats (by canonical form) dropped.
class ResourceManager {
public:
    // $XDG_CONFIG_HOME/lumetra/resources.conf (default ~/.config/...) then /etc/lumetra/resources.conf
    static std::vector<std::string> defaultConfigFiles();
    static std::string userConfigFile();

    // Malformed lines are skipped and named on `diagnostics` (file, line number, reason).
    explicit ResourceManager(std::vector<std::string> configFiles = defaultConfigFiles());
    void setDiagnostics(std::ostream* diagnostics) { diagnostics_ = diagnostics; }

    // Canonical resource names in configuration order. Missing files count as empty.
    std::vector<std::string> listResources() const;

    const std::vector<std::string>& configFiles() const { return configFiles_; }

private:
    std::vector<std::string> configFiles_;
    std::ostream* diagnostics_;
};

// Parses the text of one configuration file; `origin` names it in diagnostics.
// Entries are canonical resource names in file order (repeats kept).
std::vector<std::string> parseResourceConfig(const std::string& text, const std::string& origin,
                                             std::ostream* diagnostics);

// Edits the text of a configuration file, keeping comments and other lines.
// Returns false (text unchanged) when the resource is already present / not present.
bool addResourceToConfig(std::string& text, const std::string& canonicalName);
bool removeResourceFromConfig(std::string& text, const std::string& canonicalName);

} // namespace lumetra

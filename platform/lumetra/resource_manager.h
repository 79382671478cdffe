#pragma once

#include "platform/lumetra/resource_attributes.h"
#include "platform/lumetra/usbtmc_transport.h"

#include <chrono>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace lumetra {

// One configured resource: its canonical name and the link settings written after it.
struct ResourceEntry {
    std::string name;
    ResourceAttributes attributes;
    bool operator==(const ResourceEntry&) const = default;
};

// The resources Lumetra knows, read from configuration files: one resource string per line,
// optionally followed by key=value link settings (see resource_attributes.h), blank lines and
// '#' comments ignored, order kept, repeats (by canonical form) dropped: the first one counts.
class ResourceManager {
public:
    // $XDG_CONFIG_HOME/lumetra/resources.conf (default ~/.config/...) then
    // /etc/lumetra/resources.conf
    static std::vector<std::string> defaultConfigFiles();
    static std::string userConfigFile();

    // Malformed lines are skipped and named on `diagnostics` (file, line number, reason).
    explicit ResourceManager(std::vector<std::string> configFiles = defaultConfigFiles());
    void setDiagnostics(std::ostream* diagnostics) { diagnostics_ = diagnostics; }
    // USBTMC devices present now are listed after the configured resources, without needing a
    // line of their own; no roots: list none.
    void setUsbtmcRoots(std::optional<UsbtmcRoots> roots) { usbtmcRoots_ = std::move(roots); }

    // Canonical resource names in configuration order. Missing files count as empty.
    std::vector<std::string> listResources() const;
    // The same resources with their link settings.
    std::vector<ResourceEntry> listEntries() const;
    // The link settings configured for a resource (any spelling of its name); empty when it has
    // none or is not configured.
    ResourceAttributes attributesOf(const std::string& name) const;

    const std::vector<std::string>& configFiles() const { return configFiles_; }

private:
    std::vector<std::string> configFiles_;
    std::ostream* diagnostics_;
    std::optional<UsbtmcRoots> usbtmcRoots_ = UsbtmcRoots{};
};

// Parses the text of one configuration file; `origin` names it in diagnostics.
// Entries are canonical resource names in file order (repeats kept).
std::vector<std::string> parseResourceConfig(const std::string& text, const std::string& origin,
                                             std::ostream* diagnostics);
std::vector<ResourceEntry> parseResourceEntries(const std::string& text, const std::string& origin,
                                                std::ostream* diagnostics);

// Edits the text of a configuration file, keeping comments and other lines.
// Returns false (text unchanged) when the resource is already present / not present.
// Settings given to add are written after the name.
bool addResourceToConfig(std::string& text, const std::string& canonicalName,
                         const ResourceAttributes& attributes = {});
bool removeResourceFromConfig(std::string& text, const std::string& canonicalName);

enum class ConfigEdit { Changed, Unchanged, Failed };

// One read-modify-write of a configuration file, locked against every other edit of it:
// `edit` gets the file's text (empty when the file does not exist yet, `exists` false) and
// returns whether it changed it; a changed text replaces the file as a whole, keeping its
// link, its mode and its being read-only. Failed: `error` says why; the file is as it was.
ConfigEdit editConfigFile(const std::string& path,
                          const std::function<bool(std::string& text, bool exists)>& edit,
                          std::string& error,
                          std::chrono::milliseconds lockTimeout = std::chrono::seconds(10));

} // namespace lumetra

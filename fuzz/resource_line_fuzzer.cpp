// Resource names and resources.conf text. Properties: a name that parses has a canonical form
// that parses again to the same resource and the same text; parse() throws exactly when
// tryParse() fails; every entry read from a file, written back with its settings by the
// resource manager's own editing, reads back the same; removing an entry removes only it.
#include "fuzz/fuzz_check.h"
#include "platform/lumetra/resource_attributes.h"
#include "platform/lumetra/resource_manager.h"
#include "platform/lumetra/resource_name.h"
#include "platform/lumetra/status.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using lumetra::ResourceEntry;
using lumetra::ResourceName;

void checkName(std::string_view text) {
    std::string error;
    const auto name = ResourceName::tryParse(text, &error);
    bool threw = false;
    try {
        (void)ResourceName::parse(text);
    } catch (const lumetra::Error& e) {
        threw = true;
        FUZZ_CHECK(e.code() == lumetra::status::ErrorInvalidResourceName);
        FUZZ_CHECK(!name && e.what() == error);
    }
    FUZZ_CHECK(threw != name.has_value());
    if (!name) {
        FUZZ_CHECK(!error.empty());
        return;
    }
    const std::string canonical = name->canonical();
    const auto again = ResourceName::tryParse(canonical);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(*again == *name);
    FUZZ_CHECK(again->canonical() == canonical);
    FUZZ_CHECK(again->interfaceAndClass() == name->interfaceAndClass());
}

std::vector<ResourceEntry> read(const std::string& text) {
    std::ostringstream diagnostics;
    return lumetra::parseResourceEntries(text, "resources.conf", &diagnostics);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    checkName(text);

    const std::vector<ResourceEntry> entries = read(text);
    std::string rebuilt;
    std::vector<ResourceEntry> firstOfEach;
    std::set<std::string> seen;
    for (const ResourceEntry& entry : entries) {
        checkName(entry.name);
        const ResourceName name = ResourceName::parse(entry.name);
        FUZZ_CHECK(name.canonical() == entry.name);

        const std::string settings = lumetra::formatResourceAttributes(entry.attributes);
        std::string error;
        const auto attributes = lumetra::parseResourceAttributes(name, " " + settings, &error);
        FUZZ_CHECK(attributes.has_value());
        FUZZ_CHECK(*attributes == entry.attributes);
        (void)lumetra::serialSettings(entry.attributes);
        (void)lumetra::vxi11Port(entry.attributes);

        const bool first = seen.insert(entry.name).second;
        FUZZ_CHECK(lumetra::addResourceToConfig(rebuilt, entry.name, entry.attributes) == first);
        if (first) {
            firstOfEach.push_back(entry);
        }
    }
    FUZZ_CHECK(read(rebuilt) == firstOfEach);

    if (!entries.empty()) {
        const std::string removed = entries.front().name;
        std::string edited = text;
        FUZZ_CHECK(lumetra::removeResourceFromConfig(edited, removed));
        std::vector<ResourceEntry> kept;
        for (const ResourceEntry& entry : entries) {
            if (entry.name != removed) {
                kept.push_back(entry);
            }
        }
        FUZZ_CHECK(read(edited) == kept);
    }
    return 0;
}

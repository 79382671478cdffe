#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

namespace sim {

// Writes `target` through a temporary file in the same folder that is renamed over it, so a
// reader sees either no file or the whole file. `write` fills the temporary file.
bool replaceFileAtomically(const std::filesystem::path& target,
                           const std::function<bool(const std::filesystem::path&)>& write);

bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes);

} // namespace sim

#include "sim/atomic_file.h"

#include <atomic>
#include <fstream>
#include <string>
#include <system_error>
#include <unistd.h>

namespace sim {

bool replaceFileAtomically(const std::filesystem::path& target,
                           const std::function<bool(const std::filesystem::path&)>& write) {
    static std::atomic<unsigned> counter{0};
    // A leading dot keeps the half-written file out of directory listings on the host.
    const std::string tempName = "." + target.filename().string() + "." +
                                 std::to_string(::getpid()) + "-" +
                                 std::to_string(counter.fetch_add(1)) + ".partial";
    const std::filesystem::path temp = target.parent_path() / tempName;
    std::error_code ec;
    if (!write(temp)) {
        std::filesystem::remove(temp, ec);
        return false;
    }
    std::filesystem::rename(temp, target, ec);
    if (ec) {
        std::filesystem::remove(temp, ec);
        return false;
    }
    return true;
}

bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes) {
    return replaceFileAtomically(target, [bytes](const std::filesystem::path& temp) {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) {
            return false;
        }
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        return !out.fail();
    });
}

} // namespace sim

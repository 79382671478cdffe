// Whole messages executed by the simulated instrument on a real root folder, one message per
// line of the input. Property: whatever the messages save, make, delete or change folder to,
// nothing outside the root changes: the folder that holds the root keeps exactly its entries
// and their contents, and nothing under the root is a link that could lead out of it.
#include "fuzz/fuzz_check.h"
#include "fuzz/scratch_folder.h"
#include "sim/instrument.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

namespace {

fs::path top; // holds the root and the entries that must stay as they are
fs::path root;

constexpr std::string_view KeptText = "must not change";

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void makeRoot() {
    fs::remove_all(root);
    fs::create_directories(root / "D" / "waves" / "old");
    fs::create_directories(root / "E");
    std::ofstream(root / "D" / "waves" / "tek0000.isf") << "data";
}

void checkOutsideUnchanged() {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(top)) {
        names.insert(entry.path().filename().string());
    }
    FUZZ_CHECK((names == std::set<std::string>{"root", "outside", "kept.txt"}));
    FUZZ_CHECK(contents(top / "kept.txt") == KeptText);
    names.clear();
    for (const fs::directory_entry& entry : fs::directory_iterator(top / "outside")) {
        names.insert(entry.path().filename().string());
    }
    FUZZ_CHECK((names == std::set<std::string>{"kept.txt"}));
    FUZZ_CHECK(contents(top / "outside" / "kept.txt") == KeptText);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        FUZZ_CHECK(!entry.is_symlink());
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    top = makeScratchFolder("instrument_message_fuzzer");
    root = top / "root";
    fs::create_directories(top / "outside");
    std::ofstream(top / "kept.txt") << KeptText;
    std::ofstream(top / "outside" / "kept.txt") << KeptText;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    makeRoot();
    sim::InstrumentSetup setup;
    setup.root = root;
    setup.points = 100;
    sim::SimClock::time_point now{};
    sim::Instrument instrument(setup, now);
    std::string_view input(reinterpret_cast<const char*>(data), size);
    while (!input.empty()) {
        const std::size_t end = std::min(input.find('\n'), input.size());
        now += std::chrono::milliseconds(20);
        (void)instrument.execute(input.substr(0, end), now);
        input.remove_prefix(std::min(end + 1, input.size()));
    }
    checkOutsideUnchanged();
    return 0;
}

// The simulated instrument's reading of a message: program units, headers, arguments, and file
// names given as arguments. Properties: the units put back together with ';' are the message;
// a parsed unit has well-formed nodes, and a quoted argument quoted again parses back to the
// same text; a file name that resolves shows as a name that resolves to the same place, and
// every name the instrument would accept stays under its drive's folder in the root.
#include "fuzz/fuzz_check.h"
#include "fuzz/scratch_folder.h"
#include "sim/drive_paths.h"
#include "sim/scpi_events.h"
#include "sim/scpi_parser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

namespace {

fs::path root;

bool isUnder(const fs::path& path, const fs::path& folder) {
    const fs::path relative = path.lexically_normal().lexically_relative(folder.lexically_normal());
    return !relative.empty() && *relative.begin() != "..";
}

// A drive's top folder shows as "D:/" whether it was named "D:" or "D:/.".
bool samePath(const sim::DrivePath& a, const sim::DrivePath& b) {
    return a.drive == b.drive && a.parts == b.parts &&
           (a.parts.empty() || a.endsWithSeparator == b.endsWithSeparator);
}

void checkFileName(const std::string& name, const std::string& cwd) {
    const sim::PathResolution resolution = sim::resolveDrivePath(name, cwd);
    if (resolution.errorCode != 0) {
        FUZZ_CHECK(resolution.errorCode == sim::EventCode::FileNameError);
        return;
    }
    const sim::DrivePath& path = resolution.path;
    FUZZ_CHECK(path.drive >= 'A' && path.drive <= 'Z');
    for (const std::string& part : path.parts) {
        FUZZ_CHECK(!part.empty() && part != "." && part != "..");
        for (char c : part) {
            const auto u = static_cast<unsigned char>(c);
            FUZZ_CHECK(u >= 0x20 && u != 0x7f);
            FUZZ_CHECK(std::string_view("/\\<>:\"|?*").find(c) == std::string_view::npos);
        }
    }
    const sim::PathResolution shown = sim::resolveDrivePath(path.display(), "Q:/elsewhere/");
    FUZZ_CHECK(shown.errorCode == 0 && samePath(shown.path, path));

    const fs::path driveFolder = root / std::string(1, path.drive);
    const fs::path host = path.host(root);
    FUZZ_CHECK(isUnder(host, driveFolder));
    for (sim::PathUse use : {sim::PathUse::NewFile, sim::PathUse::NewFolder,
                             sim::PathUse::ExistingFolder, sim::PathUse::ExistingEntry}) {
        if (sim::checkDrivePath(path, root, use) == 0) {
            std::error_code ec;
            const fs::path real = fs::weakly_canonical(host, ec);
            FUZZ_CHECK(!ec && isUnder(real, fs::weakly_canonical(driveFolder)));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    root = makeScratchFolder("scpi_message_fuzzer");
    fs::create_directories(root / "D" / "waves" / "old");
    fs::create_directories(root / "E");
    std::ofstream(root / "D" / "waves" / "tek0000.isf") << "data";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view message(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string_view> units = sim::scpi::splitUnits(message);
    FUZZ_CHECK(!units.empty());
    std::string joined;
    for (std::size_t i = 0; i < units.size(); ++i) {
        joined += i == 0 ? "" : ";";
        joined += units[i];
    }
    FUZZ_CHECK(joined == message);

    std::string cwd = "D:/";
    for (std::string_view text : units) {
        const sim::scpi::ProgramUnit unit = sim::scpi::parseUnit(text);
        if (unit.errorCode != 0) {
            continue;
        }
        for (const std::string& node : unit.nodes) {
            FUZZ_CHECK(!node.empty());
            FUZZ_CHECK(node.find_first_of(": \t") == std::string::npos);
            FUZZ_CHECK(sim::scpi::matchesForm(node, node));
            FUZZ_CHECK(sim::scpi::matchesForm(sim::scpi::shortForm(node), node));
        }
        for (const sim::scpi::Argument& arg : unit.args) {
            if (arg.quoted) {
                const sim::scpi::ProgramUnit again =
                    sim::scpi::parseUnit("X " + sim::scpi::quoted(arg.text));
                FUZZ_CHECK(again.errorCode == 0 && again.args.size() == 1);
                FUZZ_CHECK(again.args[0].quoted && again.args[0].text == arg.text);
            } else {
                FUZZ_CHECK(!arg.text.empty());
            }
            checkFileName(arg.text, cwd);
        }
        // A working folder given by the message is where later relative names start, as on
        // the instrument.
        if (!unit.args.empty()) {
            sim::PathResolution folder = sim::resolveDrivePath(unit.args[0].text, cwd);
            if (folder.errorCode == 0 &&
                sim::checkDrivePath(folder.path, root, sim::PathUse::ExistingFolder) == 0) {
                folder.path.endsWithSeparator = true;
                cwd = folder.path.display();
            }
        }
    }
    return 0;
}

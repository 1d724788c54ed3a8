// Fuzz target of kwd-export's readers of a trajectory folder. The first byte
// chooses the reader, the rest is its input:
//   0 a grid file, 1 the run log, 2 the footprint table, 3 the surface
//   table, 4 the rest of a grid file's name after its prefix,
//   5 a trajectory folder of one file: the first line names it (letters,
//     digits and " ._-" kept, others "_"), the rest is its content; the
//     folder is scanned and its latest output or measurement time loaded.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "FuzzInput.h"
#include "export/u_TrajectoryFolder.h"
#include "platform/KwdError.h"

using kwd::exporter::parseGridFileName;
using kwd::exporter::readFootprintTable;
using kwd::exporter::readGridFile;
using kwd::exporter::readRunLog;
using kwd::exporter::readSurfaceTable;
using kwd::exporter::tGridFile;
using kwd::exporter::tRunLog;
using kwd::exporter::tSurfaceShares;
using kwd::exporter::tTrajectoryFolder;

namespace {

std::string safeName(std::string_view text) {
    std::string name;
    for (char c : text.substr(0, 96)) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '.' || c == '_' || c == '-' || c == ' ';
        name += ok ? c : '_';
    }
    if (name.find_first_not_of('.') == std::string::npos) name += "_";
    return name;
}

void readFolder(std::string_view input) {
    const std::string folder = kwdfuzz::scratchFolder() + "/trajectory";
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::filesystem::create_directories(folder);
    const size_t eol = input.find('\n');
    const std::string name = safeName(input.substr(0, eol));
    const std::string_view content =
        eol == std::string_view::npos ? std::string_view() : input.substr(eol + 1);
    kwdfuzz::writeInput("trajectory/" + name, content);
    const tTrajectoryFolder t(folder);
    if (t.hasDensities())
        (void)t.loadDensities(t.selectMeasurement(std::nullopt));
    else
        (void)t.load(t.select(std::nullopt));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kwdfuzz::silenceMessages();
    if (size == 0) return 0;
    const std::string_view input = kwdfuzz::asText(data + 1, size - 1);
    try {
        switch (data[0] % 6) {
            case 0: {
                const tGridFile g = readGridFile(kwdfuzz::writeInput("grid.csv", input));
                if (g.values.size() != size_t(g.nI) * size_t(g.nJ)) __builtin_trap();
                break;
            }
            case 1: {
                const tRunLog log = readRunLog(kwdfuzz::writeInput("logFile.log", input));
                for (const auto& [time, count] : log.released) (void)log.releasedAt(time);
                break;
            }
            case 2:
                (void)readFootprintTable(kwdfuzz::writeInput("Footprints_P.csv", input));
                break;
            case 3: {
                const tSurfaceShares s = readSurfaceTable(kwdfuzz::writeInput("FootprintSurfaces_P.csv", input));
                for (const auto& [time, shares] : s.rows)
                    if (shares.size() != s.codes.size()) __builtin_trap();
                break;
            }
            case 4: {
                kwd::tDateTime time = 0;
                std::string project;
                (void)parseGridFileName(std::string(input), time, project);
                break;
            }
            default:
                readFolder(input);
        }
    } catch (const kwd::KwdError&) {
        return 0;  // refused with the project's own error: what a bad file should get
    }
    return 0;
}

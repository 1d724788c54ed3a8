#pragma once
// Helpers of the front-end tests: tiny example simulations, and running
// the built program with piped answers.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "../tools/ExampleSimulation.h"
#include "support/TempFolder.h"
#include "support/TextFiles.h"

namespace kwd::test {

// A result file's content with what depends on the wall clock taken out
// (the container header's revision date, the elapsed time of the run log).
inline std::string comparable(const std::string& name, const std::string& text) {
    if (name.ends_with(".ZDT") || name.ends_with(".csv")) return text;
    std::string kept;
    for (const std::string& line : lines(text)) {
        if (line.find("<revisiondate>") != std::string::npos) continue;
        if (line.find("elapsed since start of the simulation") != std::string::npos) continue;
        kept += line + "\n";
    }
    return kept;
}

// Every result file of an output folder but the run record (wall-clock
// times, threads), by name, as comparable() gives it.
inline std::map<std::string, std::string> resultFiles(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const std::string& name : fileNames(folder))
        if (name != "run.json") files[name] = comparable(name, readText(folder + "/" + name));
    return files;
}

struct tProgramRun {
    int status = -1;
    std::string output;
    std::vector<std::string> lines;
};

// Runs the built program in `workDir` with `answers` on standard input.
// `env` is put in front of the program as "NAME=value ..." (through env(1));
// KWD_SEED is removed from the environment unless `env` sets it.
inline tProgramRun runProgram(const std::string& workDir, const std::string& answers,
                              const std::string& env = "") {
    const std::string in = workDir + "/answers.txt", out = workDir + "/console.txt";
    writeText(in, answers);
    const std::string cmd = "cd '" + workDir + "' && env -u KWD_SEED " + env + " '" +
                            std::string(KWD_PROGRAM) + "' < '" + in + "' > '" + out + "' 2>&1";
    const int raw = std::system(cmd.c_str());
    tProgramRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.output = readText(out);
    run.lines = lines(run.output);
    return run;
}

// A tiny simulation: an 8 x 8 x 4 grid of 2 m x 2 m x 1 m cells and outputs
// two minutes apart, so that a run has few steps.
inline example::tOptions tinyOptions(const std::string& folder, int32_t outputs = 2) {
    example::tOptions o;
    o.folder = folder;
    o.nI = 8, o.nJ = 8, o.nK = 4;
    o.outputs = outputs;
    o.outputSpacing = 120;
    o.particles = 1000;
    o.initialisation = false;
    return o;
}

// A detector box in the lowest layer that lies almost wholly in a building
// cell and reaches a centimetre into a neighbouring lawn cell along x: every
// particle ends in its first sub-step (absorbed in the building, or reaching
// the lawn), and about 1 % of them reach the emitter. Keeps a run of a full
// release batch quick while its result files still hold hits.
inline bool buildingLawnDetector(const example::tScene& s, double out[6]) {
    for (int32_t j = 1; j < s.nJ - 1; ++j) {
        for (int32_t i = 1; i + 1 < s.nI - 1; ++i) {
            if (s.code(i, j, 0) == example::kObjectBuilding &&
                s.code(i + 1, j, 0) == example::kObjectLawn) {
                const double face = (i + 1) * s.dx;
                out[0] = face - 1.0, out[1] = face + 0.01;
                out[2] = (j + 0.25) * s.dy, out[3] = (j + 0.75) * s.dy;
                out[4] = 0.2 * s.dz, out[5] = 0.8 * s.dz;
                return true;
            }
        }
    }
    return false;
}

}  // namespace kwd::test

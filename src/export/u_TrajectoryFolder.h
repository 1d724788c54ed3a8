#pragma once
// What a run of kwd-footprint left in its trajectory folder, as the export
// program reads it: the output times (from the names of the grid files
// "FlxFootprintIJ_", "ConFootprintIJ_" and "SourceStrengthIJ_" + time text +
// project + ".csv"), the grid files themselves, the run log "logFile.log"
// (detector box and particles released per output) and a data set with the
// cell sizes and object codes of the grid (the run's output data set of that
// time, another one of the folder, or an atmosphere data set of the
// simulation beside the folder).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "export/u_FootprintStats.h"
#include "export/u_PlanGrid.h"
#include "platform/DateTime.h"

// A grid file: one line per j, values for every i separated by ";".
struct tGridFile {
    int32_t nI = 0, nJ = 0;
    std::vector<double> values;  // i fastest
};

// Reads a grid file. Raises kwd::InputError naming the file (and line and
// field) when it is missing, empty, ragged or holds a text that is not a
// number; kwd::FileError when it cannot be read.
tGridFile readGridFile(const std::string& path);

// The time text and project of a grid file's name after its prefix
// ("01.07.2018 12.00.00Park.csv", or "02.07.2018Park.csv" at midnight);
// false when the rest does not have that form.
bool parseGridFileName(const std::string& rest, kwd::tDateTime& time, std::string& project);

struct tRunLog {
    tDetectorBox detector;
    // Particles released since the run start at each output, in log order.
    std::vector<std::pair<kwd::tDateTime, int64_t>> released;
    // The last count logged at `time` (a time is logged again by every batch).
    std::optional<int64_t> releasedAt(kwd::tDateTime time) const;
};

// Reads the run log. Raises kwd::InputError when it is missing or its first
// line is not the detector line.
tRunLog readRunLog(const std::string& path);

struct tOutputTime {
    kwd::tDateTime time = 0;
    std::string project;  // as the file names spell it
};

// The plan-view results of one output time.
struct tOutputData {
    tOutputTime output;
    tPlanGrid grid;
    std::vector<double> flux;            // FlxFootprintIJ, i fastest
    std::vector<double> concentration;   // ConFootprintIJ
    std::vector<double> sourceStrength;  // SourceStrengthIJ: hits per column
    std::vector<uint8_t> obstacle;       // 1 where the ground-level object code is 1
    std::string dataSetPath;             // the data set the grid and objects came from
};

class tTrajectoryFolder {
public:
    // Scans the folder. Raises kwd::InputError when it does not exist, holds
    // no grid files, or holds those of several projects.
    explicit tTrajectoryFolder(std::string folder);

    const std::string& folder() const { return fFolder; }
    const std::string& project() const { return fProject; }
    // The output times, earliest first.
    const std::vector<tOutputTime>& outputs() const { return fOutputs; }

    // The output at `time` (to the millisecond), or the latest without one.
    // Raises kwd::InputError listing the times there are when none matches.
    const tOutputTime& select(std::optional<kwd::tDateTime> time) const;

    std::string gridFilePath(const std::string& prefix, const tOutputTime& output) const;
    std::string logPath() const;

    // Reads the three grid files of an output and finds its data set.
    tOutputData load(const tOutputTime& output) const;

    // The data set for a grid of nI x nJ columns, in the order of preference
    // given at the top; raises kwd::InputError naming the folders searched.
    std::string findDataSet(const tOutputTime& output, int32_t nI, int32_t nJ) const;

private:
    std::string fFolder;
    std::string fProject;
    std::vector<tOutputTime> fOutputs;
};

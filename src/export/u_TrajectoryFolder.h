#pragma once
// What a run of kwd-footprint left in its trajectory folder, as the export
// program reads it: the output times (from the names of the grid files
// "FlxFootprintIJ_", "ConFootprintIJ_" and "SourceStrengthIJ_" + time text +
// project + ".csv"), the grid files themselves, the run log "logFile.log"
// (detector box and particles released per output) and a data set with the
// cell sizes and object codes of the grid (the run's output data set of that
// time, another one of the folder, or an atmosphere data set of the
// simulation beside the folder).
//
// Newer runs also leave the footprints normalised per measurement time (the
// model time the particles were released at): the densities
// "FluxFootprintDensityIJ_" (m^-2), "ConFootprintDensityIJ_" (s m^-3) and
// the hits "HitsIJ_" + time text + project + ".csv", the flux climatology
// "FluxFootprintDensityIJ_Mean_" + project + ".csv", and the tables
// "Footprints_" + project + ".csv" (particles, hits and flux share per
// measurement time) and "FootprintSurfaces_" + project + ".csv" (the shares
// of the flux footprint by surface code). Older folders lack them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "export/u_FootprintStats.h"
#include "export/u_PlanGrid.h"
#include "platform/DateTime.h"

namespace kwd::exporter {

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

// An output time or a measurement time.
struct tOutputTime {
    kwd::tDateTime time = 0;
    std::string project;  // as the file names spell it
};

// The grid and the ground of a footprint, from a data set.
struct tGroundPlan {
    tPlanGrid grid;
    std::vector<uint8_t> obstacle;  // 1 where the ground-level object code is 1
    std::vector<int32_t> groundCode;  // the object code at ground level (k = 0), i fastest
    std::string dataSetPath;        // the data set the grid and objects came from
    std::string dataFilePath;       // its data file
};

// The plan-view results of one output time.
struct tOutputData : tGroundPlan {
    tOutputTime output;
    std::vector<double> flux;            // FlxFootprintIJ, i fastest
    std::vector<double> concentration;   // ConFootprintIJ
    std::vector<double> sourceStrength;  // SourceStrengthIJ: hits per column
};

// The normalised footprints of one measurement time, or the climatology.
struct tDensityData : tGroundPlan {
    tOutputTime measurement;           // for the climatology: the latest measurement time
    bool mean = false;                 // the climatology: flux only
    std::vector<double> flux;          // F (m^-2), i fastest
    std::vector<double> concentration;  // C (s m^-3); empty for the climatology
    std::vector<double> hits;          // H, hits per column; empty for the climatology
};

// The horizontal wind (u, v in m/s, blocks 1 and 2) of the data set
// `zdxPath` averaged over the cells whose centres lie in the detector box, or
// of the cell holding the box's centre when no centre lies in it; none when
// the data set has fewer than 3 variables or the box lies outside the grid.
std::optional<std::pair<double, double>> meanWindInBox(const std::string& zdxPath,
                                                       const tDetectorBox& box);

// A row of "Footprints_<project>.csv".
struct tFootprintRow {
    kwd::tDateTime time = 0;
    int64_t released = 0;         // particles released at the measurement time
    int64_t hits = 0;             // of them, those that reached an emitter
    double fluxShare = 0;         // sum of F x cell area
    int64_t negativeTakeOff = 0;  // hits with a downward take-off velocity
};

// Reads the footprint table; kwd::InputError naming the file, the line and
// the field for content of another form (header, field count, a date, time
// or number that does not read, times not increasing).
std::vector<tFootprintRow> readFootprintTable(const std::string& path);

// "FootprintSurfaces_<project>.csv": shares of F x area by surface code.
struct tSurfaceShares {
    std::vector<int64_t> codes;  // ascending
    std::vector<std::pair<kwd::tDateTime, std::vector<double>>> rows;  // one share per code
    std::vector<double> mean;    // the shares of the climatology
};

// Reads the surface table; kwd::InputError as for the footprint table, and
// when the last row is not the "Mean" row.
tSurfaceShares readSurfaceTable(const std::string& path);

class tTrajectoryFolder {
public:
    // Scans the folder. Raises kwd::InputError when it does not exist, holds
    // no grid files, or holds those of several projects.
    explicit tTrajectoryFolder(std::string folder);

    const std::string& folder() const { return fFolder; }
    const std::string& project() const { return fProject; }
    // The output times, earliest first (none in a folder of normalised
    // footprints alone).
    const std::vector<tOutputTime>& outputs() const { return fOutputs; }
    // The measurement times of the normalised footprints, earliest first.
    const std::vector<tOutputTime>& measurements() const { return fMeasurements; }
    bool hasDensities() const { return !fMeasurements.empty(); }

    // The output at `time` (to the millisecond), or the latest without one.
    // Raises kwd::InputError listing the times there are when none matches.
    const tOutputTime& select(std::optional<kwd::tDateTime> time) const;
    // The same among the measurement times.
    const tOutputTime& selectMeasurement(std::optional<kwd::tDateTime> time) const;

    std::string gridFilePath(const std::string& prefix, const tOutputTime& output) const;
    std::string logPath() const;
    std::string meanDensityPath() const;  // FluxFootprintDensityIJ_Mean_<project>.csv
    std::string footprintTablePath() const;
    std::string surfaceTablePath() const;

    // Reads the three grid files of an output and finds its data set.
    tOutputData load(const tOutputTime& output) const;
    // Reads the three normalised grid files of a measurement time and finds
    // the data set of the grid.
    tDensityData loadDensities(const tOutputTime& measurement) const;
    // Reads the flux climatology; kwd::InputError when the folder has none.
    tDensityData loadMeanDensity() const;

    // The data set for a grid of nI x nJ columns, in the order of preference
    // given at the top; raises kwd::InputError naming the folders searched.
    std::string findDataSet(const tOutputTime& output, int32_t nI, int32_t nJ) const;

    // The simulation's atmosphere data set (in "atmosphere" beside the
    // folder) of the model time `time`; empty when there is none.
    std::string atmosphereDataSetAt(kwd::tDateTime time) const;

private:
    // The grid, ground and paths of the data set for an nI x nJ grid.
    void loadGround(const tOutputTime& time, int32_t nI, int32_t nJ, tGroundPlan& plan) const;

    std::string fFolder;
    std::string fProject;
    std::vector<tOutputTime> fOutputs;
    std::vector<tOutputTime> fMeasurements;
};

}  // namespace kwd::exporter

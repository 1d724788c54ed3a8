#pragma once
// Export of a data set (ZDX descriptor + ZDT data file) to a CF-1.8
// NetCDF-4 file: dimensions time (length 1, so that the files of several
// data sets concatenate along it), z, y, x; cell-centre coordinates and cell
// bounds (horizontal ones as u_NcGrid.h writes them, georeferenced with a
// reference system), one variable (time, z, y, x) per ZDT block and the
// descriptor's metadata as global attributes.
//
// The run's output data sets are tidied on the way: the blocks that repeat
// the concentration footprint ("Footprint Vertical Sum", "Footprint 3d") are
// left out, the vertical sums are (time, y, x) (only layer k = 0 holds them),
// and -999, which the run writes where a value is exactly 0, is 0 again.

#include <cstdint>
#include <string>
#include <vector>

namespace kwd::exporter {

class tMapCrs;

// The value the run writes into its output data sets where a value is 0.
constexpr float kZeroMarker = -999.0f;

// A valid NetCDF name made from a variable name: every run of characters
// other than ASCII letters, digits and "_" becomes one "_", leading and
// trailing "_" are dropped, a leading digit gets a "v_" in front, and an
// empty result is "var". "Flow u " gives "Flow_u".
std::string netcdfVariableName(const std::string& name);

// A unit text UDUNITS reads: the unit in brackets of a data set, trimmed;
// "1" for none, "degree" for "deg" (which UDUNITS does not know).
std::string udunitsUnit(const std::string& unit);

// True for the variables of the footprint model's output data sets that it
// writes as -999 where a value is 0 (all but the object codes and the wind).
// `name` is a name as the descriptor holds it after reading (without the unit).
bool isZeroMarkedOutputVariable(const std::string& name);

struct tNetCDFVariableInfo {
    std::string ncName;    // the variable's NetCDF name
    std::string longName;  // the name in the data set (trimmed); the NetCDF name when blank
    std::string units;     // UDUNITS text of the unit in brackets; "1" when blank
    int32_t block = 0;     // its ZDT block
    bool zeroRestored = false;  // -999 written as 0
    bool plan = false;          // a vertical sum: (time, y, x), layer k = 0
};

struct tNetCDFExportResult {
    int32_t nI = 0, nJ = 0, nK = 0;
    std::vector<tNetCDFVariableInfo> variables;  // in ZDT block order, duplicates left out
    bool hasTime = false;                        // the model time read: the time coordinate holds it
};

// Reads the data set `zdxPath` (its ZDT file is the descriptor's data file)
// and writes `ncPath`, georeferenced in `crs` when not null. The file is
// written under a temporary name beside `ncPath` and renamed into place when
// complete. Raises kwd::InputError for an output path that names the
// descriptor or its data file, for a file that is not a data-set descriptor,
// a grid without cells or cell sizes, or a data file too short for its
// variables, and kwd::FileError when the NetCDF file cannot be written
// (message with path and reason).
tNetCDFExportResult exportDataSetToNetCDF(const std::string& zdxPath, const std::string& ncPath,
                                          const tMapCrs* crs = nullptr);

// The time coordinate's unit of every file kwd-export writes, and a model
// time in it.
extern const char* const kNcTimeUnits;  // "seconds since 1970-01-01 00:00:00"
double ncTimeValue(double modelTime);

class tNcFile;
// Defines and writes the time coordinate of the dimension `dim`: the model
// times `times` in kNcTimeUnits.
void writeNcTime(tNcFile& nc, int dim, const std::string& longName, const std::vector<double>& times);

}  // namespace kwd::exporter

#pragma once
// Export of a data set (ZDX descriptor + ZDT data file) to a CF-1.8
// NetCDF-4 file: dimensions x, y, z with cell-centre coordinates and cell
// bounds in model metres, one variable (z, y, x) per ZDT block, the
// descriptor's metadata as global attributes and, where the model time reads,
// a scalar time coordinate.

#include <cstdint>
#include <string>
#include <vector>

// Fill value of the blocks the footprint model marks as "no value".
constexpr float kExportFillValue = -999.0f;

// A valid NetCDF name made from a variable name: every run of characters
// other than ASCII letters, digits and "_" becomes one "_", leading and
// trailing "_" are dropped, a leading digit gets a "v_" in front, and an
// empty result is "var". "Flow u " gives "Flow_u".
std::string netcdfVariableName(const std::string& name);

// True for the variables of the footprint model's output data sets that it
// writes as -999 where a cell has no value (all but the object codes and the
// wind). `name` is a name as the descriptor holds it after reading (without
// the unit).
bool isFilledOutputVariable(const std::string& name);

struct tNetCDFVariableInfo {
    std::string ncName;    // the variable's NetCDF name
    std::string longName;  // the name in the data set (trimmed); the NetCDF name when blank
    std::string units;     // the unit in brackets (trimmed); "1" when blank
    bool filled = false;   // -999 declared as _FillValue
};

struct tNetCDFExportResult {
    int32_t nI = 0, nJ = 0, nK = 0;
    std::vector<tNetCDFVariableInfo> variables;  // in ZDT block order
    bool hasTime = false;                        // a scalar time coordinate was written
};

// Reads the data set `zdxPath` (its ZDT file is the descriptor's data file)
// and writes `ncPath`. The file is written under a temporary name beside
// `ncPath` and renamed into place when complete. Raises kwd::InputError for
// an output path that names the descriptor or its data file, for a file
// that is not a data-set descriptor, a grid without cells or cell
// sizes, or a data file too short for its variables, and kwd::FileError
// when the NetCDF file cannot be written (message with path and reason).
tNetCDFExportResult exportDataSetToNetCDF(const std::string& zdxPath, const std::string& ncPath);

#pragma once
// The kwd-export program behind main():
//   kwd-export netcdf DATASET.ZDX OUT.nc [--epsg CODE]
//   kwd-export footprints TRAJECTORY_FOLDER OUT.nc [--epsg CODE]
//   kwd-export geotiff TRAJECTORY_FOLDER OUT.tif [--time "dd.mm.yyyy hh:mm:ss" | --mean] [--epsg CODE]
//   kwd-export map TRAJECTORY_FOLDER [--time "dd.mm.yyyy hh:mm:ss" | --mean] [--levels 50,80,90]
//                  [--epsg CODE] OUT.png|.pdf|.svg
//   kwd-export summary TRAJECTORY_FOLDER
// Where a trajectory folder holds the normalised footprints, map and summary
// show them (per measurement time, or the climatology); otherwise the
// footprints of the grid files per output time. footprints and geotiff need
// the normalised footprints. --epsg CODE georeferences what is written
// (u_Georef.h); the map then draws an arrow to grid north.
// An error, a usage error too, is written as one line "<TypeName>: <message>"
// on `aOut` and gives the exit status 1; success gives 0.

#include <iosfwd>
#include <string>
#include <vector>

#include "export/u_FootprintMap.h"
#include "export/u_TrajectoryFolder.h"

namespace kwd::exporter {

extern const char* const kExportUsage;

// `aArgs` are the arguments after the program name.
int runKwdExport(const std::vector<std::string>& aArgs, std::ostream& aOut);

// The lines of the summary of a trajectory folder: the project, the detector,
// a header and one line per measurement time and one for the climatology
// (normalised footprints), or one line per output time (older folders).
std::vector<std::string> summaryLines(const tTrajectoryFolder& aFolder);

// The map of one output time of a trajectory folder (the grid files).
tFootprintMap footprintMapOf(const tTrajectoryFolder& aFolder, const tOutputData& aData,
                             const tRunLog& aLog);
// The map of the normalised footprints of a measurement time (flux and
// concentration) or of the climatology (flux).
tFootprintMap densityMapOf(const tTrajectoryFolder& aFolder, const tDensityData& aData,
                           const tRunLog& aLog);

}  // namespace kwd::exporter

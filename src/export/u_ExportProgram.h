#pragma once
// The kwd-export program behind main():
//   kwd-export netcdf DATASET.ZDX OUT.nc
//   kwd-export map TRAJECTORY_FOLDER [--time "dd.mm.yyyy hh:mm:ss"] OUT.png
//   kwd-export summary TRAJECTORY_FOLDER
// An error, a usage error too, is written as one line "<TypeName>: <message>"
// on `aOut` and gives the exit status 1; success gives 0.

#include <iosfwd>
#include <string>
#include <vector>

#include "export/u_FootprintMap.h"
#include "export/u_TrajectoryFolder.h"

extern const char* const kExportUsage;

// `aArgs` are the arguments after the program name.
int runKwdExport(const std::vector<std::string>& aArgs, std::ostream& aOut);

// The lines of the summary of a trajectory folder: the project, the detector,
// a header and one line per output time.
std::vector<std::string> summaryLines(const tTrajectoryFolder& aFolder);

// The map of one output time of a trajectory folder.
tFootprintMap footprintMapOf(const tTrajectoryFolder& aFolder, const tOutputData& aData,
                             const tRunLog& aLog);

#pragma once
// The normalised footprints of a trajectory folder as one CF-1.8 NetCDF-4
// file (kwd-export footprints):
//   time(time)                       measurement times, seconds since 1970-01-01
//   flux_footprint(time, y, x)       F, m-2
//   concentration_footprint(time, y, x)  C, s m-3
//   hits(time, y, x)                 particles that reached an emitter in the column
//   released(time), negative_take_off(time), flux_share(time)   from Footprints_<project>.csv
//   flux_footprint_mean(y, x)        the climatology, m-2
//   surface(surface)                 the object codes of the emitter surfaces
//   surface_share(time, surface), surface_share_mean(surface)   from FootprintSurfaces_<project>.csv
//   ground_object(y, x)              the object code at ground level (flag_values, flag_meanings)
// with the horizontal coordinates of u_NcGrid.h and the global attributes of
// the run record (run.json, where the folder has one) and the history.

#include <cstdint>
#include <string>

#include "export/u_TrajectoryFolder.h"

namespace kwd::exporter {

class tMapCrs;

struct tFootprintsExportResult {
    size_t times = 0;
    int32_t nI = 0, nJ = 0;
};

// Raises kwd::InputError for a folder without normalised footprints, files
// that disagree (grid sizes, a measurement time missing from a table) or a
// run record that is not JSON; kwd::FileError when the file cannot be written.
tFootprintsExportResult exportFootprintsToNetCDF(const tTrajectoryFolder& folder,
                                                 const std::string& ncPath, const tMapCrs* crs,
                                                 const std::string& history);

// The flag meaning of a ground-level object code: "free_air" (0),
// "obstacle" (1), "building" (2), "emitting_surface_<code>" above 10,
// "object_<code>" otherwise.
std::string objectCodeMeaning(int32_t code);

}  // namespace kwd::exporter

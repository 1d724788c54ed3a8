#pragma once
// The horizontal coordinates of a plan grid in a NetCDF file of kwd-export,
// shared by every file it writes (dimensions y and x):
// - without a reference system: x and y of the cell centres in model metres
//   (coordinate variables with bounds) and the global attribute
//   "georeference" saying that the file is not georeferenced;
// - with one and an unrotated grid: x and y are the projected coordinates
//   of the cell centres (standard names projection_x_coordinate and
//   projection_y_coordinate, bounds), the model metres in model_x, model_y;
// - with one and a rotated grid: no x and y coordinate variables (no 1-D
//   map coordinate fits a rotated grid); model_x(x), model_y(y) in model
//   metres, easting(y, x) and northing(y, x) of the cell centres, and, where
//   the cells are of one width along each axis, the affine transform as the
//   attribute GeoTransform of the grid mapping (GDAL reads it, rotation
//   included).
// With a reference system every file also has the grid mapping variable
// "crs" (crs_wkt, spatial_ref, the CF grid-mapping name and parameters where
// the projection has them) and the 2-D auxiliary coordinates lat and lon.

#include <string>

#include "export/u_Georef.h"
#include "export/u_NcFile.h"
#include "export/u_PlanGrid.h"

namespace kwd::exporter {

struct tNcGrid {
    int dimX = -1, dimY = -1;
    std::string gridMapping;  // "crs", or empty
    std::string coordinates;  // auxiliary coordinates of a field on the grid
};

// Defines and writes the coordinates; `boundsDim` is the file's dimension of
// length 2 for cell bounds. `crs` may be null (not georeferenced).
tNcGrid writeNcGrid(tNcFile& nc, const tPlanGrid& grid, const tModelPlacement& placement,
                    const tMapCrs* crs, int boundsDim);

// Sets the grid_mapping and coordinates attributes of a field on the grid;
// `more` are further coordinates ("time"), put first.
void markOnGrid(tNcFile& nc, int var, const tNcGrid& grid, const std::string& more = "");

// The cell centres and the bounds (two per cell) of faces.
std::vector<double> cellCentres(const std::vector<double>& faces);
std::vector<double> cellBounds(const std::vector<double>& faces);

}  // namespace kwd::exporter

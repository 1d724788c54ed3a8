#pragma once
// A footprint as a single-band Float32 GeoTIFF (GDAL): north-up rows (the
// first row is the model's top, j = nJ - 1), the affine transform of the
// model placement (rotation included) and, with a reference system, its CRS;
// without one the transform is in model metres and the metadata item
// GEOREFERENCE says so. The grid must have one cell width along each axis.

#include <string>
#include <vector>

#include "export/u_Georef.h"
#include "export/u_PlanGrid.h"

namespace kwd::exporter {

struct tGeoTiffContent {
    tPlanGrid grid;
    std::vector<double> values;  // i fastest, j = 0 first
    tModelPlacement placement;
    std::string description;  // the band's description: "flux footprint density"
    std::string units;        // the band's unit: "m-2"
    std::vector<std::pair<std::string, std::string>> metadata;  // dataset metadata items
};

// Writes `path` under a temporary name beside it, renamed into place when
// complete. kwd::InputError for a grid of uneven widths, kwd::FileError when
// GDAL cannot write the file (with GDAL's message).
void writeGeoTiff(const tGeoTiffContent& content, const tMapCrs* crs, const std::string& path);

}  // namespace kwd::exporter

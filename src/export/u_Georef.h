#pragma once
// Where the model grid lies on a map, and the map's coordinate reference
// system.
//
// A data set places its grid with `Georef_x`, `Georef_y` and
// `ModelRotation`. kwd-export reads them as follows:
// - (`Georef_x`, `Georef_y`) are the map coordinates (easting, northing, in
//   the metres of a projected reference system) of the model origin, the
//   lower-left corner of cell (0, 0): the corner at model x = 0, y = 0, where
//   i and j start;
// - `ModelRotation` is the angle in degrees, clockwise, from grid north (the
//   reference system's northing axis) to the model's y axis (j growing); the
//   model's x axis (i growing) points 90 degrees clockwise of it. 0 puts y
//   north and x east.
// So the model point (x, y) lies at
//   E = Georef_x + x cos(r) + y sin(r),  N = Georef_y - x sin(r) + y cos(r).
// The descriptor stores the values as 32-bit floats, but its file holds them
// as text with five decimals; they are read from that text in double
// precision (5812345.67 stays 5812345.67).
//
// The reference system comes from an EPSG code through PROJ; it must be
// projected with axes in metres, since the model's cells are metres.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "export/u_PlanGrid.h"

namespace kwd::exporter {

struct tModelPlacement {
    double georefX = 0;   // easting of the model origin, m
    double georefY = 0;   // northing of the model origin, m
    double rotation = 0;  // degrees, clockwise from grid north to the model's y axis

    bool rotated() const { return rotation != 0.0; }
    // The map coordinates of the model point (x, y).
    std::pair<double, double> toMap(double x, double y) const;
    // The direction of grid north in model coordinates (a unit vector).
    std::pair<double, double> northInModel() const;
};

// The placement of the data set `zdxPath` (its "modeldescription" tags);
// 0 for a tag that is missing. Raises kwd::InputError when the file is not a
// data-set descriptor.
tModelPlacement readModelPlacement(const std::string& zdxPath);

// A projected reference system of the EPSG registry.
class tMapCrs {
public:
    // Raises kwd::InputError for a code PROJ does not know, a system that is
    // not projected, or one whose axes are not in metres.
    explicit tMapCrs(int epsg);
    ~tMapCrs();
    tMapCrs(const tMapCrs&) = delete;
    tMapCrs& operator=(const tMapCrs&) = delete;

    int epsg() const { return fEpsg; }
    std::string code() const { return "EPSG:" + std::to_string(fEpsg); }
    const std::string& name() const { return fName; }
    const std::string& wkt() const { return fWkt; }         // WKT2 (2019)
    const std::string& wktGdal() const { return fWktGdal; }  // WKT1 as GDAL reads and writes it

    // The grid-mapping name of the CF conventions and its parameters, for
    // the projections that have one (transverse Mercator, oblique
    // stereographic, Lambert conformal conic with two parallels); an empty
    // name otherwise (the WKT alone then describes the system).
    const std::string& cfName() const { return fCfName; }
    const std::vector<std::pair<std::string, std::vector<double>>>& cfParameters() const {
        return fCfParameters;
    }

    // Longitude and latitude (degrees, WGS 84) of the map point (e, n).
    std::pair<double, double> toLonLat(double e, double n) const;

private:
    struct tProj;
    int fEpsg;
    std::unique_ptr<tProj> fProj;
    std::string fName, fWkt, fWktGdal, fCfName;
    std::vector<std::pair<std::string, std::vector<double>>> fCfParameters;
};

// Reads "--epsg CODE"'s value: a positive decimal integer; kwd::InputError
// otherwise.
int parseEpsgCode(const std::string& text);

// The cell width of an axis when every cell has it; 0 when they differ.
double uniformWidth(const std::vector<double>& faces);

// The affine transform of GDAL (x0, dx_col, dx_row, y0, dy_col, dy_row) that
// takes pixel (column i, row r) to map coordinates. `bottomUp`: row r is j = r
// (the first row at the model origin), else j = nJ - 1 - r (north-up, the
// first row at the top). Only for grids of uniform widths along each axis;
// kwd::InputError naming the axis otherwise.
std::vector<double> geoTransform(const tPlanGrid& grid, const tModelPlacement& placement,
                                 bool bottomUp);

}  // namespace kwd::exporter

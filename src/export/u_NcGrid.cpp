#include "export/u_NcGrid.h"

#include <netcdf.h>

#include <tuple>

#include "export/u_ExportText.h"

namespace kwd::exporter {

namespace {

std::vector<double> shifted(std::vector<double> v, double by) {
    for (double& x : v) x += by;
    return v;
}

struct tAxisText {
    const char* name;
    const char* axis;
    const char* modelLongName;
};
const tAxisText kAxes[2] = {
    {"x", "X", "x of the cell centre in model coordinates (from the lower-left corner of cell (0, 0))"},
    {"y", "Y", "y of the cell centre in model coordinates (from the lower-left corner of cell (0, 0))"},
};

}  // namespace

std::vector<double> cellCentres(const std::vector<double>& faces) {
    std::vector<double> c(faces.size() - 1);
    for (size_t n = 0; n + 1 < faces.size(); ++n) c[n] = 0.5 * (faces[n] + faces[n + 1]);
    return c;
}

std::vector<double> cellBounds(const std::vector<double>& faces) {
    std::vector<double> b;
    b.reserve(2 * (faces.size() - 1));
    for (size_t n = 0; n + 1 < faces.size(); ++n) {
        b.push_back(faces[n]);
        b.push_back(faces[n + 1]);
    }
    return b;
}

tNcGrid writeNcGrid(tNcFile& nc, const tPlanGrid& grid, const tModelPlacement& placement,
                    const tMapCrs* crs, int boundsDim) {
    tNcGrid g;
    g.dimY = nc.defineDim("y", size_t(grid.nJ));
    g.dimX = nc.defineDim("x", size_t(grid.nI));
    const int dims[2] = {g.dimX, g.dimY};
    const std::vector<double>* faces[2] = {&grid.xFace, &grid.yFace};

    // A 1-D coordinate per axis: `name` (x, y or model_x, model_y), the
    // faces shifted by `offset`.
    auto axis = [&](int a, const std::string& name, double offset, bool projected, bool dimension) {
        const int var = nc.defineVar(name, NC_DOUBLE, {dims[a]});
        nc.text(var, "units", "m");
        if (projected) {
            nc.text(var, "standard_name", a == 0 ? "projection_x_coordinate" : "projection_y_coordinate");
            nc.text(var, "long_name", a == 0 ? "easting of the cell centre" : "northing of the cell centre");
        } else {
            nc.text(var, "long_name", kAxes[a].modelLongName);
        }
        if (dimension) {
            nc.text(var, "axis", kAxes[a].axis);
            const std::string bounds = name + "_bnds";
            nc.text(var, "bounds", bounds);
            const int b = nc.defineVar(bounds, NC_DOUBLE, {dims[a], boundsDim});
            nc.putDoubles(b, shifted(cellBounds(*faces[a]), offset), bounds);
        }
        nc.putDoubles(var, shifted(cellCentres(*faces[a]), offset), name);
    };

    if (crs == nullptr) {
        axis(0, "x", 0.0, false, true);
        axis(1, "y", 0.0, false, true);
        nc.text(NC_GLOBAL, "georeference",
                "none: x and y are model metres from the lower-left corner of cell (0, 0); "
                "kwd-export --epsg CODE places the grid on a map");
        return g;
    }

    g.gridMapping = "crs";
    const int crsVar = nc.defineVar("crs", NC_INT, {});
    if (!crs->cfName().empty()) nc.text(crsVar, "grid_mapping_name", crs->cfName());
    for (const auto& [name, values] : crs->cfParameters()) nc.doubleAtt(crsVar, name, values);
    nc.text(crsVar, "long_name", crs->name());
    nc.text(crsVar, "crs_wkt", crs->wkt());
    nc.text(crsVar, "spatial_ref", crs->wktGdal());
    nc.text(crsVar, "epsg_code", crs->code());

    const size_t nI = size_t(grid.nI), nJ = size_t(grid.nJ);
    std::vector<double> east(nI * nJ), north(nI * nJ), lon(nI * nJ), lat(nI * nJ);
    for (int32_t j = 0; j < grid.nJ; ++j)
        for (int32_t i = 0; i < grid.nI; ++i) {
            const size_t c = grid.index(i, j);
            std::tie(east[c], north[c]) = placement.toMap(grid.centreX(i), grid.centreY(j));
            std::tie(lon[c], lat[c]) = crs->toLonLat(east[c], north[c]);
        }
    auto field = [&](const char* name, const char* standardName, const char* longName,
                     const char* units, const std::vector<double>& values) {
        const int var = nc.defineVar(name, NC_DOUBLE, {g.dimY, g.dimX});
        nc.text(var, "standard_name", standardName);
        nc.text(var, "long_name", longName);
        nc.text(var, "units", units);
        nc.putDoubles(var, values, name);
    };
    field("lat", "latitude", "latitude of the cell centre", "degrees_north", lat);
    field("lon", "longitude", "longitude of the cell centre", "degrees_east", lon);
    if (!placement.rotated()) {
        axis(0, "x", placement.georefX, true, true);
        axis(1, "y", placement.georefY, true, true);
        axis(0, "model_x", 0.0, false, false);
        axis(1, "model_y", 0.0, false, false);
        g.coordinates = "lat lon";
    } else {
        axis(0, "model_x", 0.0, false, false);
        axis(1, "model_y", 0.0, false, false);
        field("easting", "projection_x_coordinate", "easting of the cell centre", "m", east);
        field("northing", "projection_y_coordinate", "northing of the cell centre", "m", north);
        g.coordinates = "lat lon easting northing";
        if (uniformWidth(grid.xFace) != 0.0 && uniformWidth(grid.yFace) != 0.0) {
            std::string text;
            for (const double v : geoTransform(grid, placement, true))
                text += (text.empty() ? "" : " ") + export_text::shortNumber(v);
            nc.text(crsVar, "GeoTransform", text);
        }
    }
    nc.text(NC_GLOBAL, "georeference",
            crs->code() + " (" + crs->name() +
                "): the model origin, the lower-left corner of cell (0, 0), lies at easting " +
                export_text::shortNumber(placement.georefX) + " m, northing " +
                export_text::shortNumber(placement.georefY) + " m; the model's y axis points " +
                export_text::shortNumber(placement.rotation) +
                " degrees clockwise of grid north");
    return g;
}

void markOnGrid(tNcFile& nc, int var, const tNcGrid& grid, const std::string& more) {
    if (!grid.gridMapping.empty()) nc.text(var, "grid_mapping", grid.gridMapping);
    std::string coordinates = more;
    if (!grid.coordinates.empty())
        coordinates += (coordinates.empty() ? "" : " ") + grid.coordinates;
    if (!coordinates.empty()) nc.text(var, "coordinates", coordinates);
}

}  // namespace kwd::exporter

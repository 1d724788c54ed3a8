#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "support/ExportFixtures.h"
#include "support/ExportReaders.h"
#include "export/u_ExportProgram.h"
#include "export/u_Georef.h"
#include "export/u_NetCDFExport.h"
#include "platform/DateTime.h"
#include "platform/FileIO.h"
#include "platform/KwdError.h"

using kwd::exporter::readModelPlacement;
using kwd::exporter::runKwdExport;
using kwd::exporter::tMapCrs;
using kwd::exporter::tModelPlacement;

namespace {

using kwd::test::tGdalRaster;
using kwd::test::tNcReader;

constexpr double kMetre = 1e-6;  // agreement of map coordinates, m

// The placement by the rule of the README: the model point (8, 15) for
// rotations computed by hand.
TEST(ModelPlacement, ModelPointsOnTheMap) {
    struct Case {
        double rotation;
        double east, north;  // of model (8, 15), relative to the origin
    };
    const double c30 = std::sqrt(3.0) / 2;
    const Case cases[] = {
        {0, 8, 15},                                // y north, x east
        {90, 15, -8},                              // y east, x south
        {-90, -15, 8},                             // y west, x north
        {180, -8, -15},                            // y south, x west
        {30, 8 * c30 + 15 * 0.5, -8 * 0.5 + 15 * c30},
    };
    for (const Case& c : cases) {
        const tModelPlacement p{1000.5, 2000.25, c.rotation};
        const auto [e, n] = p.toMap(8, 15);
        EXPECT_NEAR(e, 1000.5 + c.east, 1e-9) << c.rotation;
        EXPECT_NEAR(n, 2000.25 + c.north, 1e-9) << c.rotation;
        EXPECT_EQ(p.toMap(0, 0), (std::pair{1000.5, 2000.25})) << c.rotation;
        // Grid north in model coordinates goes to a point due north.
        const auto [nx, ny] = p.northInModel();
        const auto [e1, n1] = p.toMap(nx, ny);
        EXPECT_NEAR(e1, 1000.5, 1e-12) << c.rotation;
        EXPECT_NEAR(n1, 2001.25, 1e-12) << c.rotation;
    }
}

TEST(ModelPlacement, ReadInDoublePrecisionFromTheDescriptorText) {
    kwd::test::tRotatedFixture f;
    const tModelPlacement p = readModelPlacement(f.dataSet);
    EXPECT_EQ(p.georefX, 500000.25);
    EXPECT_EQ(p.georefY, 5800000.75);  // 5800001 as a 32-bit float
    EXPECT_EQ(p.rotation, 30.0);
    kwd::test::setZdxTag(f.dataSet, "location_georef_y", "5812345.67000");
    EXPECT_EQ(readModelPlacement(f.dataSet).georefY, 5812345.67);
}

TEST(MapCrs, ProjectedSystemsInMetresOnly) {
    const tMapCrs utm(25833);
    EXPECT_EQ(utm.name(), "ETRS89 / UTM zone 33N");
    EXPECT_EQ(utm.cfName(), "transverse_mercator");
    EXPECT_NE(utm.wkt().find("PROJCRS[\"ETRS89 / UTM zone 33N\""), std::string::npos) << utm.wkt();
    EXPECT_NE(utm.wktGdal().find("PROJCS[\"ETRS89 / UTM zone 33N\""), std::string::npos);
    double meridian = 0;
    for (const auto& [name, values] : utm.cfParameters())
        if (name == "longitude_of_central_meridian") meridian = values.at(0);
    EXPECT_NEAR(meridian, 15.0, 1e-12);
    // On the central meridian the longitude is the meridian's; on the
    // equator at the false northing 0 the latitude is 0.
    EXPECT_NEAR(utm.toLonLat(500000, 5800000).first, 15.0, 1e-12);
    EXPECT_NEAR(utm.toLonLat(500000, 0).second, 0.0, 1e-12);
    // Gauss-Krueger zone 4 declares northing before easting: the order of
    // (easting, northing) is kept all the same (its central meridian, 12
    // degrees on its own datum, moves by about 100 m on WGS 84's).
    EXPECT_NEAR(tMapCrs(31468).toLonLat(4500000, 5800000).first, 12.0, 0.01);

    const std::pair<int, std::string> refused[] = {
        {4326, "InputError: reference system EPSG:4326 (WGS 84) is not a projected reference "
               "system; the model grid needs one with axes in metres"},
        {2249, "InputError: reference system EPSG:2249 (NAD83 / Massachusetts Mainland (ftUS)) does "
               "not measure in metres; the model grid needs a system in metres"},
        {999999, "InputError: reference system EPSG:999999 is not in PROJ's EPSG registry ("},
    };
    for (const auto& [code, message] : refused) {
        try {
            tMapCrs crs(code);
            ADD_FAILURE() << code << " accepted";
        } catch (const kwd::KwdError& e) {
            EXPECT_EQ(kwd::errorLine(e).substr(0, message.size()), message) << code;
        }
    }
    for (const char* text : {"", "abc", "0", "-5", "25833x"}) {
        std::ostringstream out;
        EXPECT_EQ(runKwdExport({"netcdf", "a.ZDX", "b.nc", "--epsg", text}, out), 1);
        EXPECT_EQ(out.str(), "InputError: --epsg \"" + std::string(text) +
                                 "\" is not an EPSG code (a positive integer)\n");
    }
}

// The corners and cells of the hand-made rotated grid where GDAL reads them:
// the GeoTIFF north-up (its first row is j = 2), the NetCDF variable as it
// lies (its first row is j = 0).
TEST(GeoTiff, RotatedGridLandsOnItsMapCoordinates) {
    kwd::test::tRotatedFixture f;
    const std::string tif = f.root.file("f.tif");
    std::ostringstream out;
    ASSERT_EQ(runKwdExport({"geotiff", f.folder, tif, "--epsg", "25833"}, out), 0) << out.str();
    EXPECT_EQ(out.str(), "Wrote \"" + tif + "\": flux footprint density of 01.07.2018 12:00:00\n");
    const tGdalRaster r(tif);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.width(), 4);
    EXPECT_EQ(r.height(), 3);
    EXPECT_EQ(r.type(), GDT_Float32);
    EXPECT_NE(r.projection().find("UTM zone 33N"), std::string::npos) << r.projection();
    struct Corner {
        double column, row;  // pixel position
        double x, y;         // model position
    };
    const Corner corners[] = {{0, 3, 0, 0}, {0, 0, 0, 15}, {4, 0, 8, 15}, {4, 3, 8, 0}, {1.5, 2.5, 3, 2.5}};
    for (const Corner& c : corners) {
        const auto [e, n] = r.at(c.column, c.row);
        EXPECT_NEAR(e, f.map(c.x, c.y).first, kMetre) << c.x << ", " << c.y;
        EXPECT_NEAR(n, f.map(c.x, c.y).second, kMetre) << c.x << ", " << c.y;
    }
    EXPECT_EQ(r.value(0, 0), 201);  // cell (0, 2), the top left
    EXPECT_EQ(r.value(3, 2), 4);    // cell (3, 0), the bottom right
    EXPECT_EQ(r.metadata("MEASUREMENT_TIME"), "01.07.2018 12:00:00");

    ASSERT_EQ(runKwdExport({"geotiff", f.folder, tif, "--mean"}, out), 0) << out.str();
    const tGdalRaster mean(tif);
    EXPECT_EQ(mean.value(0, 0), 100.5);
    EXPECT_EQ(mean.projection(), "");  // no code: model metres
    EXPECT_EQ(mean.transform(), (std::vector<double>{0, 2, 0, 15, 0, -5}));
    EXPECT_NE(mean.metadata("GEOREFERENCE").find("none"), std::string::npos);
    EXPECT_EQ(kwd::test::temporaryFiles(f.root.path()), std::vector<std::string>{});
}

TEST(GeoTiff, UnevenCellsAreRefused) {
    kwd::test::tDensityFixture f;  // cells 1, 2 and 3 m wide along x
    const std::string tif = f.root.file("f.tif");
    std::ostringstream out;
    EXPECT_EQ(runKwdExport({"geotiff", f.folder, tif}, out), 1);
    EXPECT_EQ(out.str(), "InputError: the cells differ in width along x; a raster with one pixel "
                         "size cannot hold the grid\n");
    EXPECT_FALSE(kwd::fileExists(tif));
}

TEST(Footprints, OneFileWithATimeAxis) {
    kwd::test::tRotatedFixture f;
    const std::string nc = f.root.file("f.nc");
    std::ostringstream out;
    ASSERT_EQ(runKwdExport({"footprints", f.folder, nc}, out), 0) << out.str();
    EXPECT_EQ(out.str(), "Wrote \"" + nc + "\": the normalised footprints of 2 measurement times on "
                         "4 x 3 columns\n");
    tNcReader r(nc);
    EXPECT_EQ(r.dimLength("time"), 2u);
    EXPECT_EQ(r.dimLength("y"), 3u);
    EXPECT_EQ(r.dimLength("x"), 4u);
    const int time = r.var("time");
    EXPECT_EQ(r.text(time, "units"), "seconds since 1970-01-01 00:00:00");
    const double at1100 = 1530442800;  // 01.07.2018 11:00 after 01.01.1970, in seconds
    EXPECT_EQ(r.doubles("time", 2), (std::vector<double>{at1100, at1100 + 3600}));
    EXPECT_EQ(r.dimsOf("flux_footprint"), (std::vector<std::string>{"time", "y", "x"}));
    std::vector<double> flux(12, 0.0);
    flux.insert(flux.end(), f.flux.begin(), f.flux.end());
    EXPECT_EQ(r.doubles("flux_footprint", 24), flux);
    EXPECT_EQ(r.doubles("concentration_footprint", 24)[12 + 5], f.con[5]);
    EXPECT_EQ(r.doubles("hits", 24)[12 + 11], 5);
    EXPECT_EQ(r.typeOf("released"), NC_INT64);
    EXPECT_EQ(r.doubles("released", 2), (std::vector<double>{3e9, 1000}));
    EXPECT_EQ(r.doubles("flux_share", 2), (std::vector<double>{0, 0.75}));
    EXPECT_EQ(r.doubles("negative_take_off", 2), (std::vector<double>{0, 7}));
    EXPECT_EQ(r.doubles("flux_footprint_mean", 12)[11], 102.0);
    EXPECT_EQ(r.doubles("surface", 2), (std::vector<double>{11, 12}));
    EXPECT_EQ(r.doubles("surface_share", 4), (std::vector<double>{0, 0, 0.9, 0.1}));
    EXPECT_EQ(r.doubles("surface_share_mean", 2), (std::vector<double>{0.9, 0.1}));
    const int ground = r.var("ground_object");
    EXPECT_EQ(r.doubles("ground_object", 12)[5], 1);
    EXPECT_EQ(r.doubleAtt(ground, "flag_values"), (std::vector<double>{0, 1, 11, 12}));
    EXPECT_EQ(r.text(ground, "flag_meanings"), "free_air obstacle emitting_surface_11 emitting_surface_12");
    const int F = r.var("flux_footprint");
    EXPECT_EQ(r.text(F, "units"), "m-2");
    EXPECT_EQ(r.text(r.var("concentration_footprint"), "units"), "s m-3");
    // Without a code: model metres and a note.
    EXPECT_FALSE(r.hasAtt(F, "grid_mapping"));
    EXPECT_EQ(r.doubles("x", 4), (std::vector<double>{1, 3, 5, 7}));
    EXPECT_EQ(r.text(NC_GLOBAL, "georeference").substr(0, 5), "none:");
    EXPECT_EQ(r.text(NC_GLOBAL, "Conventions"), "CF-1.8");
    EXPECT_EQ(r.text(NC_GLOBAL, "source"), "kwd-footprint 1.0.0 (commit abc)");
    EXPECT_EQ(r.text(NC_GLOBAL, "run_seed"), "7");
    EXPECT_EQ(r.text(NC_GLOBAL, "run_state"), "finished");
    EXPECT_EQ(r.text(NC_GLOBAL, "run_record"), kwd::readWholeFile(f.folder + "/run.json"));
    const std::string history = r.text(NC_GLOBAL, "history");
    EXPECT_EQ(history.substr(19), " kwd-export footprints " + f.folder + " " + nc) << history;
}

TEST(Footprints, RotatedGridThroughGdalAndNetCDF) {
    kwd::test::tRotatedFixture f;
    const std::string nc = f.root.file("f.nc");
    std::ostringstream out;
    ASSERT_EQ(runKwdExport({"footprints", f.folder, nc, "--epsg", "25833"}, out), 0) << out.str();
    {
        tNcReader r(nc);
        const int F = r.var("flux_footprint");
        EXPECT_EQ(r.text(F, "grid_mapping"), "crs");
        EXPECT_EQ(r.text(F, "coordinates"), "lat lon easting northing");
        EXPECT_FALSE(r.hasVar("x"));  // no 1-D map coordinate fits a rotated grid
        EXPECT_EQ(r.doubles("model_y", 3), (std::vector<double>{2.5, 7.5, 12.5}));
        const int crs = r.var("crs");
        EXPECT_EQ(r.text(crs, "grid_mapping_name"), "transverse_mercator");
        EXPECT_NE(r.text(crs, "crs_wkt").find("UTM zone 33N"), std::string::npos);
        EXPECT_NE(r.text(crs, "spatial_ref").find("UTM zone 33N"), std::string::npos);
        // Cell centres: (0, 0) at model (1, 2.5), (3, 2) at (7, 12.5).
        const std::vector<double> east = r.doubles("easting", 12), north = r.doubles("northing", 12);
        EXPECT_NEAR(east[0], f.map(1, 2.5).first, kMetre);
        EXPECT_NEAR(north[0], f.map(1, 2.5).second, kMetre);
        EXPECT_NEAR(east[11], f.map(7, 12.5).first, kMetre);
        EXPECT_NEAR(north[11], f.map(7, 12.5).second, kMetre);
        const tMapCrs utm(25833);
        const std::vector<double> lon = r.doubles("lon", 12), lat = r.doubles("lat", 12);
        EXPECT_EQ(std::pair(lon[11], lat[11]), utm.toLonLat(east[11], north[11]));
    }
    const tGdalRaster r("NETCDF:\"" + nc + "\":flux_footprint");
    ASSERT_TRUE(r.ok());
    EXPECT_NE(r.projection().find("UTM zone 33N"), std::string::npos) << r.projection();
    const struct {
        double column, row, x, y;
    } corners[] = {{0, 0, 0, 0}, {4, 0, 8, 0}, {0, 3, 0, 15}, {4, 3, 8, 15}};
    for (const auto& c : corners) {
        const auto [e, n] = r.at(c.column, c.row);
        EXPECT_NEAR(e, f.map(c.x, c.y).first, kMetre) << c.x << ", " << c.y;
        EXPECT_NEAR(n, f.map(c.x, c.y).second, kMetre) << c.x << ", " << c.y;
    }
}

// An unrotated grid: x and y are map coordinates GDAL and xarray take as
// they are.
TEST(Footprints, UnrotatedGridHasMapCoordinates) {
    kwd::test::tRotatedFixture f;
    kwd::test::setZdxTag(f.dataSet, "model_rotation", "0.00000");
    const std::string nc = f.root.file("f.nc");
    std::ostringstream out;
    ASSERT_EQ(runKwdExport({"footprints", f.folder, nc, "--epsg", "25833"}, out), 0) << out.str();
    {
        tNcReader r(nc);
        EXPECT_EQ(r.doubles("x", 4), (std::vector<double>{500001.25, 500003.25, 500005.25, 500007.25}));
        EXPECT_EQ(r.doubles("y_bnds", 6)[5], 5800015.75);
        EXPECT_EQ(r.text(r.var("x"), "standard_name"), "projection_x_coordinate");
    }
    const tGdalRaster r("NETCDF:\"" + nc + "\":flux_footprint");
    ASSERT_TRUE(r.ok());
    const auto [e, n] = r.at(0, 0);
    EXPECT_NEAR(e, 500000.25, kMetre);
    EXPECT_NEAR(n, 5800015.75, kMetre);  // GDAL shows it north-up
    EXPECT_EQ(r.transform()[1], 2.0);
    EXPECT_EQ(r.transform()[5], -5.0);

    // gdalinfo, as a user would run it, reports the system and the pixel size.
    const std::string tif = f.root.file("f.tif");
    ASSERT_EQ(runKwdExport({"geotiff", f.folder, tif, "--epsg", "25833"}, out), 0) << out.str();
    for (const std::string& name : {tif, "NETCDF:\"" + nc + "\":flux_footprint"}) {
        const auto [status, text] =
            kwd::test::runCommand("gdalinfo '" + name + "'", f.root.file("info.txt"));
        ASSERT_EQ(status, 0) << text;
        EXPECT_NE(text.find("ETRS89 / UTM zone 33N"), std::string::npos) << text;
        EXPECT_NE(text.find("Pixel Size = (2.000000000000000,-5.000000000000000)"), std::string::npos)
            << text;
    }
}

TEST(Footprints, FolderWithoutNormalisedFootprintsIsRefused) {
    kwd::test::tTrajectoryFixture f(2, 2, 1, {1, 1}, {1, 1}, {1});
    f.writeGrids(kwd::encodeDateTime(2018, 7, 1, 12), {1, 0, 0, 0}, {1, 0, 0, 0}, {1, 0, 0, 0});
    std::ostringstream out;
    EXPECT_EQ(runKwdExport({"footprints", f.folder, f.root.file("f.nc")}, out), 1);
    EXPECT_EQ(out.str(), "InputError: trajectory folder \"" + f.folder +
                             "\" holds no normalised footprints (FluxFootprintDensityIJ_...csv); "
                             "the run was made before kwd-footprint wrote them\n");
}

}  // namespace

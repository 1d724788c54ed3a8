#include <gtest/gtest.h>
#include <netcdf.h>

#include <cstdio>
#include <cstdlib>
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

using kwd::exporter::exportDataSetToNetCDF;
using kwd::exporter::kExportUsage;
using kwd::exporter::netcdfVariableName;
using kwd::exporter::runKwdExport;
using kwd::exporter::tMapCrs;
using kwd::exporter::tNetCDFExportResult;
using kwd::exporter::udunitsUnit;

using kwd::dataset::ckAtmosphere;
using kwd::dataset::TZDXFile;

namespace {

using kwd::test::tNcReader;

TEST(NetCDFNames, SanitisedFromTheVariableNames) {
    const std::pair<std::string, std::string> cases[] = {
        {"Flow u ", "Flow_u"},
        {"Ratio wDet/wTakeOff Vertical Sum ", "Ratio_wDet_wTakeOff_Vertical_Sum"},
        {"Vapor Flux ", "Vapor_Flux"},
        {"2m air temperature", "v_2m_air_temperature"},
        {"__a  __ b__", "a_b"},
        {"Gr\xc3\xb6\xc3\x9f" "e", "Gr_e"},
        {" ( ) ", "var"},
        {"", "var"},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(netcdfVariableName(name), expected) << name;
}

TEST(NetCDFUnits, UdunitsTexts) {
    const std::pair<std::string, std::string> cases[] = {
        {" ", "1"}, {"", "1"}, {"-", "1"}, {"deg", "degree"}, {" m/s ", "m/s"}, {"g/kg*m/s", "g/kg*m/s"},
        {"%", "%"}, {"degC", "degC"},
    };
    for (const auto& [unit, expected] : cases) EXPECT_EQ(udunitsUnit(unit), expected) << unit;
}

// A 3 x 2 x 2 output data set with uneven cells: values, coordinates,
// bounds, zeros and metadata survive the export; the copies of the
// concentration footprint are left out, the vertical sums are plan fields.
TEST(NetCDFExport, WritesCoordinatesValuesZerosAndMetadata) {
    kwd::test::tTempFolder dir;
    TZDXFile d = kwd::test::descriptor(3, 2, 2, {1.0f, 2.0f, 4.0f}, {3.0f, 5.0f}, {0.5f, 1.5f});
    d.nameVars = {"Objects ( )", "Flow u (m/s)", "Flux 3d ( )", "Flux 3d ( )", "x",
                  "Flux Vertical Sum ( )", "Footprint Vertical Sum ( )", "Footprint 3d ( )",
                  "Wind Direction (deg)"};
    const size_t n = 12;
    std::vector<std::vector<float>> blocks(9, std::vector<float>(n));
    for (size_t v = 0; v < 9; ++v)
        for (size_t c = 0; c < n; ++c) blocks[v][c] = float(100 * v + c);
    blocks[2][4] = -999.0f;  // the run's mark of a 0
    blocks[1][4] = -999.0f;  // a wind of -999 is a value
    for (size_t c = 6; c < n; ++c) blocks[5][c] = -999.0f;  // layer 1 of a vertical sum
    kwd::test::writeDataSet(dir.file("VirtPart_Park"), d, blocks);
    kwd::test::setZdxTag(dir.file("VirtPart_Park.ZDX"), "location_georef_y", "5812345.67000");

    const tNetCDFExportResult r =
        exportDataSetToNetCDF(dir.file("VirtPart_Park.ZDX"), dir.file("out.nc"));
    ASSERT_EQ(r.variables.size(), 7u);
    EXPECT_EQ(r.variables[3].ncName, "Flux_3d_2");
    EXPECT_EQ(r.variables[4].ncName, "x_2");  // "x" is the coordinate
    EXPECT_EQ(r.variables[6].ncName, "Wind_Direction");
    EXPECT_EQ(r.variables[6].block, 8);
    EXPECT_EQ(kwd::test::temporaryFiles(dir.path()), std::vector<std::string>{});

    tNcReader nc(dir.file("out.nc"));
    EXPECT_EQ(nc.dimLength("time"), 1u);
    EXPECT_EQ(nc.dimLength("x"), 3u);
    EXPECT_EQ(nc.dimLength("y"), 2u);
    EXPECT_EQ(nc.dimLength("z"), 2u);
    EXPECT_EQ(nc.doubles("x", 3), (std::vector<double>{0.5, 2.0, 5.0}));
    EXPECT_EQ(nc.doubles("x_bnds", 6), (std::vector<double>{0, 1, 1, 3, 3, 7}));
    EXPECT_EQ(nc.doubles("y", 2), (std::vector<double>{1.5, 5.5}));
    EXPECT_EQ(nc.doubles("z", 2), (std::vector<double>{0.25, 1.25}));
    EXPECT_EQ(nc.doubles("z_bnds", 4), (std::vector<double>{0, 0.5, 0.5, 2.0}));
    EXPECT_EQ(nc.doubles("time", 1)[0], 1530446400.0);  // 01.07.2018 12:00 in seconds since 1970
    EXPECT_EQ(nc.text(nc.var("time"), "units"), "seconds since 1970-01-01 00:00:00");
    EXPECT_EQ(nc.text(nc.var("z"), "positive"), "up");
    EXPECT_EQ(nc.text(nc.var("x"), "bounds"), "x_bnds");
    EXPECT_FALSE(nc.hasVar("Footprint_Vertical_Sum"));
    EXPECT_FALSE(nc.hasVar("Footprint_3d"));

    // (time, z, y, x): cell (i, j, k) at [0][k][j][i], the ZDT order.
    EXPECT_EQ(nc.dimsOf("Flow_u"), (std::vector<std::string>{"time", "z", "y", "x"}));
    EXPECT_EQ(nc.floats("Flow_u", n), blocks[1]);
    std::vector<float> flux = blocks[2];
    flux[4] = 0.0f;
    EXPECT_EQ(nc.floats("Flux_3d", n), flux);
    EXPECT_EQ(nc.floats("x_2", n), blocks[4]);
    EXPECT_EQ(nc.dimsOf("Flux_Vertical_Sum"), (std::vector<std::string>{"time", "y", "x"}));
    EXPECT_EQ(nc.floats("Flux_Vertical_Sum", 6),
              std::vector<float>(blocks[5].begin(), blocks[5].begin() + 6));

    const int objects = nc.var("Objects"), flow = nc.var("Flow_u"), fluxVar = nc.var("Flux_3d");
    for (const int v : {objects, flow, fluxVar}) EXPECT_FALSE(nc.hasAtt(v, "_FillValue"));
    EXPECT_EQ(nc.text(flow, "long_name"), "Flow u");
    EXPECT_EQ(nc.text(flow, "units"), "m/s");
    EXPECT_EQ(nc.text(objects, "units"), "1");
    EXPECT_EQ(nc.text(nc.var("Wind_Direction"), "units"), "degree");
    EXPECT_FALSE(nc.hasAtt(fluxVar, "grid_mapping"));
    EXPECT_EQ(nc.text(NC_GLOBAL, "georeference").substr(0, 5), "none:");

    EXPECT_EQ(nc.text(NC_GLOBAL, "Conventions"), "CF-1.8");
    EXPECT_EQ(nc.text(NC_GLOBAL, "title"), "Virtual Particles");
    EXPECT_EQ(nc.text(NC_GLOBAL, "project"), "Park");
    EXPECT_EQ(nc.text(NC_GLOBAL, "simulation_date"), "01.07.2018");
    EXPECT_EQ(nc.text(NC_GLOBAL, "simulation_time"), "12:00:00");
    EXPECT_EQ(nc.text(NC_GLOBAL, "location_name"), "Old Town");
    EXPECT_EQ(nc.doubleAtt(NC_GLOBAL, "model_rotation"), std::vector<double>{12.5});
    EXPECT_EQ(nc.doubleAtt(NC_GLOBAL, "location_georef_x"), std::vector<double>{512000.5});
    EXPECT_EQ(nc.doubleAtt(NC_GLOBAL, "location_georef_y"), std::vector<double>{5812345.67});
    EXPECT_EQ(nc.doubleAtt(NC_GLOBAL, "wind_inflow"), std::vector<double>{270.0});
    EXPECT_FALSE(nc.hasAtt(NC_GLOBAL, "sun_position"));  // -999: not given
}

// With a reference system the fields carry the grid mapping; the rotated
// grid's cell centres lie where the placement puts them.
TEST(NetCDFExport, GeoreferencedWithACode) {
    kwd::test::tTempFolder dir;
    TZDXFile d = kwd::test::descriptor(2, 2, 1, {10.0f, 10.0f}, {10.0f, 10.0f}, {1.0f});
    d.nameVars = {"Flux Vertical Sum ( )"};
    kwd::test::writeDataSet(dir.file("ds"), d, {{0.5f, -999.0f, 1.0f, 2.0f}});
    kwd::test::setZdxTag(dir.file("ds.ZDX"), "model_rotation", "90.00000");
    const tMapCrs crs(25832);
    exportDataSetToNetCDF(dir.file("ds.ZDX"), dir.file("ds.nc"), &crs);
    tNcReader nc(dir.file("ds.nc"));
    const int v = nc.var("Flux_Vertical_Sum");
    EXPECT_EQ(nc.text(v, "grid_mapping"), "crs");
    EXPECT_EQ(nc.text(nc.var("crs"), "epsg_code"), "EPSG:25832");
    // Rotated by 90 degrees: model y points east, x south. Cell (1, 0) has
    // its centre at model (15, 5): 5 m east and 15 m south of the origin.
    EXPECT_EQ(nc.doubles("easting", 4)[1], 512000.5 + 5);
    EXPECT_EQ(nc.doubles("northing", 4)[1], 5400000.0 - 15);
}

// Only the run's own output data sets mark zeros with -999; an atmosphere
// data set keeps every value as it is.
TEST(NetCDFExport, InputDataSetsGetNoFillValue) {
    kwd::test::tTempFolder dir;
    TZDXFile d = kwd::test::descriptor(2, 1, 1, {1.0f, 1.0f}, {1.0f}, {1.0f});
    d.filetype = 1;
    d.fileContent = ckAtmosphere;
    d.Title = "Atmosphere";
    d.simtime = "noon";  // no model time: no time coordinate
    d.nameVars = {"Vapor Flux (g/kg*m/s)"};
    kwd::test::writeDataSet(dir.file("atmo"), d, {{-999.0f, 2.0f}});
    const tNetCDFExportResult r = exportDataSetToNetCDF(dir.file("atmo.ZDX"), dir.file("a.nc"));
    EXPECT_FALSE(r.hasTime);
    tNcReader nc(dir.file("a.nc"));
    EXPECT_EQ(nc.dimLength("time"), 1u);  // without a coordinate
    EXPECT_FALSE(nc.hasVar("time"));
    const int v = nc.var("Vapor_Flux");
    EXPECT_FALSE(nc.hasAtt(v, "_FillValue"));
    EXPECT_EQ(nc.text(v, "units"), "g/kg*m/s");
    EXPECT_EQ(nc.floats("Vapor_Flux", 2), (std::vector<float>{-999.0f, 2.0f}));
}

TEST(NetCDFExport, FileOpensInNcdump) {
    kwd::test::tTempFolder dir;
    TZDXFile d = kwd::test::descriptor(2, 2, 1, {1.0f, 1.0f}, {1.0f, 1.0f}, {1.0f});
    d.nameVars = {"Flux Vertical Sum ( )"};
    kwd::test::writeDataSet(dir.file("ds"), d, {{0.5f, -999.0f, 1.0f, 2.0f}});
    exportDataSetToNetCDF(dir.file("ds.ZDX"), dir.file("ds.nc"));
    const std::string cmd = "ncdump -h '" + dir.file("ds.nc") + "' > '" + dir.file("dump.txt") + "' 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string dump = kwd::readWholeFile(dir.file("dump.txt"));
    EXPECT_NE(dump.find(":Conventions = \"CF-1.8\" ;"), std::string::npos) << dump;
    EXPECT_NE(dump.find("float Flux_Vertical_Sum(time, y, x) ;"), std::string::npos) << dump;
}

struct tCommandCase {
    const char* what;
    std::vector<std::string> args;  // "@" stands for the temporary folder
    std::string expected;           // likewise
};

std::string withDir(std::string s, const std::string& dir) {
    for (size_t p; (p = s.find('@')) != std::string::npos;) s.replace(p, 1, dir);
    return s;
}

TEST(NetCDFExport, ErrorsAreOneLineAndLeaveNoFile) {
    kwd::test::tTempFolder dir;
    kwd::writeWholeFile(dir.file("plain.ZDX"), "not a descriptor\r\n");
    TZDXFile d = kwd::test::descriptor(2, 2, 1, {1.0f, 1.0f}, {1.0f, 1.0f}, {1.0f});
    d.nameVars = {"a", "b"};
    kwd::test::writeDataSet(dir.file("short"), d, {{1, 2, 3, 4}});  // one block for two names
    d.GridsI = 0;
    d.sizedx.clear();
    kwd::test::writeDataSet(dir.file("empty"), d, {{}});

    const tCommandCase cases[] = {
        {"not a descriptor", {"netcdf", "@/plain.ZDX", "@/o.nc"},
         "InputError: data set \"@/plain.ZDX\": the file is missing or not a ZDX descriptor\n"},
        {"missing", {"netcdf", "@/none.ZDX", "@/o.nc"},
         "InputError: data set \"@/none.ZDX\": the file is missing or not a ZDX descriptor\n"},
        {"short data file", {"netcdf", "@/short.ZDX", "@/o.nc"},
         "InputError: data set \"@/short.ZDX\": its data file \"@/short.ZDT\" holds 16 bytes; 2 "
         "variables of 2 x 2 x 1 cells need 32\n"},
        {"no cells", {"netcdf", "@/empty.ZDX", "@/o.nc"},
         "InputError: data set \"@/empty.ZDX\": no cells along x\n"},
        {"arguments", {"netcdf", "@/short.ZDX"},
         std::string("InputError: the netcdf command takes a data set and an output file; ") +
             kExportUsage + "\n"},
    };
    for (const tCommandCase& c : cases) {
        std::vector<std::string> args;
        for (const auto& a : c.args) args.push_back(withDir(a, dir.path()));
        std::ostringstream out;
        EXPECT_EQ(runKwdExport(args, out), 1) << c.what;
        EXPECT_EQ(out.str(), withDir(c.expected, dir.path())) << c.what;
        EXPECT_FALSE(kwd::fileExists(dir.file("o.nc"))) << c.what;
    }
}

TEST(NetCDFExport, UnwritableOutputIsAFileError) {
    kwd::test::tTempFolder dir;
    TZDXFile d = kwd::test::descriptor(1, 1, 1, {1.0f}, {1.0f}, {1.0f});
    d.nameVars = {"a"};
    kwd::test::writeDataSet(dir.file("one"), d, {{1}});
    std::ostringstream out;
    EXPECT_EQ(runKwdExport({"netcdf", dir.file("one.ZDX"), dir.file("no/such/o.nc")}, out), 1);
    EXPECT_EQ(out.str().rfind("FileError: NetCDF file \"" + dir.file("no/such/o.nc") +
                                  "\": cannot create the file (",
                              0),
              0u)
        << out.str();
    std::ostringstream ok;
    EXPECT_EQ(runKwdExport({"netcdf", dir.file("one.ZDX"), dir.file("o.nc")}, ok), 0);
    EXPECT_EQ(ok.str(), "Wrote \"" + dir.file("o.nc") + "\": 1 variable on 1 x 1 x 1 cells\n");
}

}  // namespace

#include <gtest/gtest.h>
#include <netcdf.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "ExportTestUtil.h"
#include "export/u_ExportProgram.h"
#include "export/u_NetCDFExport.h"
#include "platform/DateTime.h"
#include "platform/FileIO.h"

namespace {

// Read access to a NetCDF file for the checks.
class tNcReader {
public:
    explicit tNcReader(const std::string& path) {
        const int s = nc_open(path.c_str(), NC_NOWRITE, &fId);
        if (s != NC_NOERR) ADD_FAILURE() << "cannot open " << path << ": " << nc_strerror(s);
    }
    ~tNcReader() { nc_close(fId); }

    size_t dimLength(const char* name) const {
        int dim = -1;
        size_t len = 0;
        EXPECT_EQ(nc_inq_dimid(fId, name, &dim), NC_NOERR) << name;
        EXPECT_EQ(nc_inq_dimlen(fId, dim, &len), NC_NOERR) << name;
        return len;
    }
    int var(const char* name) const {
        int v = -1;
        EXPECT_EQ(nc_inq_varid(fId, name, &v), NC_NOERR) << name;
        return v;
    }
    std::vector<std::string> dimsOf(const char* name) const {
        const int v = var(name);
        int n = 0;
        nc_inq_varndims(fId, v, &n);
        std::vector<int> ids(size_t(n) + 1);
        nc_inq_vardimid(fId, v, ids.data());
        std::vector<std::string> names;
        for (int k = 0; k < n; ++k) {
            char buf[NC_MAX_NAME + 1];
            nc_inq_dimname(fId, ids[size_t(k)], buf);
            names.push_back(buf);
        }
        return names;
    }
    std::vector<double> doubles(const char* name, size_t count) const {
        std::vector<double> out(count);
        EXPECT_EQ(nc_get_var_double(fId, var(name), out.data()), NC_NOERR) << name;
        return out;
    }
    std::vector<float> floats(const char* name, size_t count) const {
        std::vector<float> out(count);
        EXPECT_EQ(nc_get_var_float(fId, var(name), out.data()), NC_NOERR) << name;
        return out;
    }
    bool hasAtt(int v, const char* att) const {
        size_t len = 0;
        return nc_inq_attlen(fId, v, att, &len) == NC_NOERR;
    }
    std::string text(int v, const char* att) const {
        size_t len = 0;
        if (nc_inq_attlen(fId, v, att, &len) != NC_NOERR) return "<missing>";
        std::string s(len, '\0');
        nc_get_att_text(fId, v, att, s.data());
        return s;
    }
    float floatAtt(int v, const char* att) const {
        float f = 0;
        EXPECT_EQ(nc_get_att_float(fId, v, att, &f), NC_NOERR) << att;
        return f;
    }

private:
    int fId = -1;
};

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

// A 3 x 2 x 2 output data set with uneven cells: values, coordinates,
// bounds, fill values and metadata survive the export.
TEST(NetCDFExport, WritesCoordinatesValuesFillValuesAndMetadata) {
    exptest::TempDir dir;
    TZDXFile d = exptest::descriptor(3, 2, 2, {1.0f, 2.0f, 4.0f}, {3.0f, 5.0f}, {0.5f, 1.5f});
    d.nameVars = {"Objects ( )", "Flow u (m/s)", "Flux 3d ( )", "Flux 3d ( )", "x"};
    const size_t n = 12;
    std::vector<std::vector<float>> blocks(5, std::vector<float>(n));
    for (size_t v = 0; v < 5; ++v)
        for (size_t c = 0; c < n; ++c) blocks[v][c] = float(100 * v + c);
    blocks[2][4] = -999.0f;
    exptest::writeDataSet(dir.file("VirtPart_Park"), d, blocks);

    const tNetCDFExportResult r =
        exportDataSetToNetCDF(dir.file("VirtPart_Park.ZDX"), dir.file("out.nc"));
    ASSERT_EQ(r.variables.size(), 5u);
    EXPECT_EQ(r.variables[3].ncName, "Flux_3d_2");
    EXPECT_EQ(r.variables[4].ncName, "x_2");  // "x" is the coordinate
    EXPECT_EQ(exptest::temporaryFiles(dir.path()), std::vector<std::string>{});

    tNcReader nc(dir.file("out.nc"));
    EXPECT_EQ(nc.dimLength("x"), 3u);
    EXPECT_EQ(nc.dimLength("y"), 2u);
    EXPECT_EQ(nc.dimLength("z"), 2u);
    EXPECT_EQ(nc.doubles("x", 3), (std::vector<double>{0.5, 2.0, 5.0}));
    EXPECT_EQ(nc.doubles("x_bnds", 6), (std::vector<double>{0, 1, 1, 3, 3, 7}));
    EXPECT_EQ(nc.doubles("y", 2), (std::vector<double>{1.5, 5.5}));
    EXPECT_EQ(nc.doubles("z", 2), (std::vector<double>{0.25, 1.25}));
    EXPECT_EQ(nc.doubles("z_bnds", 4), (std::vector<double>{0, 0.5, 0.5, 2.0}));
    EXPECT_EQ(nc.doubles("time", 1)[0], kwd::encodeDateTime(2018, 7, 1, 12));
    EXPECT_EQ(nc.text(nc.var("time"), "units"), "days since 1899-12-30 00:00:00");
    EXPECT_EQ(nc.text(nc.var("z"), "positive"), "up");
    EXPECT_EQ(nc.text(nc.var("x"), "bounds"), "x_bnds");

    // (z, y, x): cell (i, j, k) at [k][j][i], the ZDT order.
    EXPECT_EQ(nc.dimsOf("Flow_u"), (std::vector<std::string>{"z", "y", "x"}));
    EXPECT_EQ(nc.floats("Flow_u", n), blocks[1]);
    EXPECT_EQ(nc.floats("Flux_3d", n), blocks[2]);
    EXPECT_EQ(nc.floats("x_2", n), blocks[4]);

    const int objects = nc.var("Objects"), flow = nc.var("Flow_u"), flux = nc.var("Flux_3d");
    EXPECT_FALSE(nc.hasAtt(objects, "_FillValue"));
    EXPECT_FALSE(nc.hasAtt(flow, "_FillValue"));
    EXPECT_EQ(nc.floatAtt(flux, "_FillValue"), -999.0f);
    EXPECT_EQ(nc.text(flow, "long_name"), "Flow u");
    EXPECT_EQ(nc.text(flow, "units"), "m/s");
    EXPECT_EQ(nc.text(objects, "units"), "1");
    EXPECT_EQ(nc.text(flux, "coordinates"), "time");

    EXPECT_EQ(nc.text(NC_GLOBAL, "Conventions"), "CF-1.8");
    EXPECT_EQ(nc.text(NC_GLOBAL, "title"), "Virtual Particles");
    EXPECT_EQ(nc.text(NC_GLOBAL, "project"), "Park");
    EXPECT_EQ(nc.text(NC_GLOBAL, "simulation_date"), "01.07.2018");
    EXPECT_EQ(nc.text(NC_GLOBAL, "simulation_time"), "12:00:00");
    EXPECT_EQ(nc.text(NC_GLOBAL, "location_name"), "Old Town");
    EXPECT_EQ(nc.floatAtt(NC_GLOBAL, "model_rotation"), 12.5f);
    EXPECT_EQ(nc.floatAtt(NC_GLOBAL, "location_georef_x"), 512000.5f);
    EXPECT_EQ(nc.floatAtt(NC_GLOBAL, "location_georef_y"), 5400000.0f);
    EXPECT_EQ(nc.floatAtt(NC_GLOBAL, "wind_inflow"), 270.0f);
    EXPECT_FALSE(nc.hasAtt(NC_GLOBAL, "sun_position"));  // -999: not given
}

// Only the run's own output data sets mark missing values with -999; an
// atmosphere data set keeps every value as it is.
TEST(NetCDFExport, InputDataSetsGetNoFillValue) {
    exptest::TempDir dir;
    TZDXFile d = exptest::descriptor(2, 1, 1, {1.0f, 1.0f}, {1.0f}, {1.0f});
    d.filetype = 1;
    d.fileContent = ckAtmosphere;
    d.Title = "Atmosphere";
    d.simtime = "noon";  // no model time: no time coordinate
    d.nameVars = {"Vapor Flux (g/kg*m/s)"};
    exptest::writeDataSet(dir.file("atmo"), d, {{-999.0f, 2.0f}});
    const tNetCDFExportResult r = exportDataSetToNetCDF(dir.file("atmo.ZDX"), dir.file("a.nc"));
    EXPECT_FALSE(r.hasTime);
    tNcReader nc(dir.file("a.nc"));
    const int v = nc.var("Vapor_Flux");
    EXPECT_FALSE(nc.hasAtt(v, "_FillValue"));
    EXPECT_FALSE(nc.hasAtt(v, "coordinates"));
    EXPECT_EQ(nc.text(v, "units"), "g/kg*m/s");
    EXPECT_EQ(nc.floats("Vapor_Flux", 2), (std::vector<float>{-999.0f, 2.0f}));
}

TEST(NetCDFExport, FileOpensInNcdump) {
    exptest::TempDir dir;
    TZDXFile d = exptest::descriptor(2, 2, 1, {1.0f, 1.0f}, {1.0f, 1.0f}, {1.0f});
    d.nameVars = {"Flux Vertical Sum ( )"};
    exptest::writeDataSet(dir.file("ds"), d, {{0.5f, -999.0f, 1.0f, 2.0f}});
    exportDataSetToNetCDF(dir.file("ds.ZDX"), dir.file("ds.nc"));
    const std::string cmd = "ncdump -h '" + dir.file("ds.nc") + "' > '" + dir.file("dump.txt") + "' 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string dump = kwd::readWholeFile(dir.file("dump.txt"));
    EXPECT_NE(dump.find(":Conventions = \"CF-1.8\" ;"), std::string::npos) << dump;
    EXPECT_NE(dump.find("float Flux_Vertical_Sum(z, y, x) ;"), std::string::npos) << dump;
    EXPECT_NE(dump.find("Flux_Vertical_Sum:_FillValue = -999.f ;"), std::string::npos) << dump;
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
    exptest::TempDir dir;
    kwd::writeWholeFile(dir.file("plain.ZDX"), "not a descriptor\r\n");
    TZDXFile d = exptest::descriptor(2, 2, 1, {1.0f, 1.0f}, {1.0f, 1.0f}, {1.0f});
    d.nameVars = {"a", "b"};
    exptest::writeDataSet(dir.file("short"), d, {{1, 2, 3, 4}});  // one block for two names
    d.GridsI = 0;
    d.sizedx.clear();
    exptest::writeDataSet(dir.file("empty"), d, {{}});

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
    exptest::TempDir dir;
    TZDXFile d = exptest::descriptor(1, 1, 1, {1.0f}, {1.0f}, {1.0f});
    d.nameVars = {"a"};
    exptest::writeDataSet(dir.file("one"), d, {{1}});
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

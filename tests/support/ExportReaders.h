#pragma once
// Reading kwd-export's files back through the libraries for the tests: a
// NetCDF reader and a GDAL raster (GeoTIFF, or a NetCDF variable as
// "NETCDF:file:variable"), and a hand-made folder of normalised footprints on
// a grid of even cells that lies rotated on a map.

#include <gdal.h>
#include <gtest/gtest.h>
#include <netcdf.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/ExportFixtures.h"
#include "platform/FileIO.h"

namespace kwd::test {

// Read access to a NetCDF file for the checks.
class tNcReader {
public:
    explicit tNcReader(const std::string& path) {
        const int s = nc_open(path.c_str(), NC_NOWRITE, &fId);
        if (s != NC_NOERR) ADD_FAILURE() << "cannot open " << path << ": " << nc_strerror(s);
    }
    ~tNcReader() { nc_close(fId); }
    tNcReader(const tNcReader&) = delete;
    tNcReader& operator=(const tNcReader&) = delete;

    bool hasDim(const char* name) const {
        int dim = -1;
        return nc_inq_dimid(fId, name, &dim) == NC_NOERR;
    }
    size_t dimLength(const char* name) const {
        int dim = -1;
        size_t len = 0;
        EXPECT_EQ(nc_inq_dimid(fId, name, &dim), NC_NOERR) << name;
        EXPECT_EQ(nc_inq_dimlen(fId, dim, &len), NC_NOERR) << name;
        return len;
    }
    bool hasVar(const char* name) const {
        int v = -1;
        return nc_inq_varid(fId, name, &v) == NC_NOERR;
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
    std::vector<double> doubleAtt(int v, const char* att) const {
        size_t len = 0;
        EXPECT_EQ(nc_inq_attlen(fId, v, att, &len), NC_NOERR) << att;
        std::vector<double> out(len);
        EXPECT_EQ(nc_get_att_double(fId, v, att, out.data()), NC_NOERR) << att;
        return out;
    }
    nc_type typeOf(const char* name) const {
        nc_type t = NC_NAT;
        nc_inq_vartype(fId, var(name), &t);
        return t;
    }

private:
    int fId = -1;
};

// A raster opened through GDAL.
class tGdalRaster {
public:
    explicit tGdalRaster(const std::string& name) {
        GDALAllRegister();
        fDs = GDALOpen(name.c_str(), GA_ReadOnly);
        if (fDs == nullptr) ADD_FAILURE() << "GDAL cannot open " << name;
    }
    ~tGdalRaster() {
        if (fDs) GDALClose(fDs);
    }
    tGdalRaster(const tGdalRaster&) = delete;
    tGdalRaster& operator=(const tGdalRaster&) = delete;

    bool ok() const { return fDs != nullptr; }
    int width() const { return GDALGetRasterXSize(fDs); }
    int height() const { return GDALGetRasterYSize(fDs); }
    std::vector<double> transform() const {
        std::vector<double> t(6, 0.0);
        EXPECT_EQ(GDALGetGeoTransform(fDs, t.data()), CE_None);
        return t;
    }
    std::string projection() const { return GDALGetProjectionRef(fDs); }
    // Map coordinates of the pixel position (column, row).
    std::pair<double, double> at(double column, double row) const {
        const std::vector<double> t = transform();
        return {t[0] + column * t[1] + row * t[2], t[3] + column * t[4] + row * t[5]};
    }
    double value(int column, int row) const {
        double v = 0;
        EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(fDs, 1), GF_Read, column, row, 1, 1, &v, 1, 1,
                               GDT_Float64, 0, 0),
                  CE_None);
        return v;
    }
    GDALDataType type() const { return GDALGetRasterDataType(GDALGetRasterBand(fDs, 1)); }
    std::string metadata(const char* key) const {
        const char* v = GDALGetMetadataItem(fDs, key, nullptr);
        return v ? v : "<missing>";
    }

private:
    GDALDatasetH fDs = nullptr;
};

// Writes `text` as the value of the tag `tag` of a ZDX file ("<tag> text </tag>").
inline void setZdxTag(const std::string& zdx, const std::string& tag, const std::string& text) {
    std::string s = kwd::readWholeFile(zdx);
    const std::string open = "<" + tag + ">", close = "</" + tag + ">";
    const size_t a = s.find(open), b = s.find(close);
    ASSERT_NE(a, std::string::npos) << tag;
    ASSERT_NE(b, std::string::npos) << tag;
    s.replace(a + open.size(), b - a - open.size(), " " + text + " ");
    kwd::writeWholeFile(zdx, s);
}

// Normalised footprints on 4 x 3 columns of 2 m x 5 m (8 m x 15 m), whose
// model origin lies at easting 500000.25, northing 5800000.75 (too precise
// for a 32-bit float) and whose y axis points 30 degrees east of grid north.
// F(12:00) = 100 j + i + 1 (so every cell tells where it is), F(11:00) = 0;
// ground codes 0, a building at (1, 1), lawn (11) along j = 0 and water (12)
// at (3, 2). Wind u = 1.5, v = -2 m/s everywhere.
struct tRotatedFixture : tTrajectoryFixture {
    const kwd::tDateTime t1100 = kwd::encodeDateTime(2018, 7, 1, 11);
    const kwd::tDateTime t1200 = kwd::encodeDateTime(2018, 7, 1, 12);
    const double georefX = 500000.25, georefY = 5800000.75, rotation = 30.0;
    std::vector<double> flux = std::vector<double>(12, 0.0);
    std::vector<double> con = std::vector<double>(12, 0.0);
    std::vector<double> hits = std::vector<double>(12, 0.0);
    std::vector<float> ground = std::vector<float>(12, 0.0f);
    std::string dataSet;

    tRotatedFixture() : tTrajectoryFixture(4, 3, 2, {2, 2, 2, 2}, {5, 5, 5}, {1, 1}) {
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 4; ++i) {
                flux[size_t(i + 4 * j)] = 100 * j + i + 1;
                con[size_t(i + 4 * j)] = 0.5 * (100 * j + i + 1);
                hits[size_t(i + 4 * j)] = i + j;
            }
        const std::vector<double> zero(12, 0.0);
        writeDensities(t1100, zero, zero, zero);
        writeDensities(t1200, flux, con, hits);
        std::vector<double> mean = flux;
        for (double& v : mean) v /= 2;
        kwd::writeWholeFile(folder + "/FluxFootprintDensityIJ_Mean_Park.csv", gridText(mean, 4, 3));
        writeLines("Footprints_Park.csv", {"Date;Time;Released;Hits;FluxShare;NegativeTakeOff",
                                           "01.07.2018;11:00:00;3000000000;0;0.00000000000000000;0",
                                           "01.07.2018;12:00:00;1000;66;0.75000000000000000;7"});
        writeLines(
            "FootprintSurfaces_Park.csv",
            {"Date;Time;11;12", "01.07.2018;11:00:00;0.00000000000000000;0.00000000000000000",
             "01.07.2018;12:00:00;0.90000000000000000;0.10000000000000000",
             "Mean;;0.90000000000000000;0.10000000000000000"});
        ground[1 + 4 * 1] = 1;
        for (int i = 0; i < 4; ++i) ground[size_t(i)] = 11;
        ground[3 + 4 * 2] = 12;
        kwd::dataset::TZDXFile d = descriptor(nI, nJ, nK, dx, dy, dz);
        d.simdate = "01.07.2018";
        d.simtime = "12:00:00";
        d.nameVars = {"Objects ( )", "Flow u (m/s)", "Flow v (m/s)"};
        std::vector<float> objects(24, 0.0f);
        std::copy(ground.begin(), ground.end(), objects.begin());
        const std::string base = folder + "/VirtPart_Park_01.07.2018 12.00.00";
        writeDataSet(base, d,
                     {objects, std::vector<float>(24, 1.5f), std::vector<float>(24, -2.0f)});
        dataSet = base + ".ZDX";
        setZdxTag(dataSet, "location_georef_x", "500000.25000");
        setZdxTag(dataSet, "location_georef_y", "5800000.75000");
        setZdxTag(dataSet, "model_rotation", "30.00000");
        writeLog(
            {"Detector xMin: 3 Detector xMax: 5 Detector yMin: 6 Detector yMax: 9 Detector "
             "zMin: 0 Detector zMax: 2",
             "Particle Factor: 1000", "Date;Time;TotalParticles", "01.07.2018;12:00:00;2000"});
        kwd::writeWholeFile(folder + "/run.json",
                            "{\"program\": \"kwd-footprint\", \"version\": \"1.0.0\", \"commit\": "
                            "\"abc\", \"settings\": {\"seed\": 7, \"particlesPerPeriod\": 1000}, "
                            "\"state\": \"finished\"}\n");
    }

    // The map coordinates of the model point (x, y), computed by hand:
    // E = X + x cos 30 + y sin 30, N = Y - x sin 30 + y cos 30.
    std::pair<double, double> map(double x, double y) const {
        const double c = std::sqrt(3.0) / 2, s = 0.5;
        return {georefX + x * c + y * s, georefY - x * s + y * c};
    }
};

}  // namespace kwd::test

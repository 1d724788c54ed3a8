#include "export/u_GeoTiffExport.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>

#include "export/u_OutputFile.h"
#include "platform/KwdError.h"

namespace kwd::exporter {

namespace {

// GDAL's messages go to the caller's error, not to standard error.
struct tQuietGdal {
    tQuietGdal() {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~tQuietGdal() { CPLPopErrorHandler(); }
    static std::string reason() {
        const char* m = CPLGetLastErrorMsg();
        return m && *m ? m : "GDAL gave no reason";
    }
};

}  // namespace

void writeGeoTiff(const tGeoTiffContent& content, const tMapCrs* crs, const std::string& path) {
    const tPlanGrid& g = content.grid;
    std::vector<double> transform = geoTransform(g, crs ? content.placement : tModelPlacement{}, false);
    if (content.values.size() != g.cellCount())
        throw kwd::GeneralError("GeoTIFF of a " + std::to_string(g.nI) + " x " + std::to_string(g.nJ) +
                                " grid with " + std::to_string(content.values.size()) + " values");
    std::vector<float> rows(g.cellCount());
    for (int32_t r = 0; r < g.nJ; ++r)
        for (int32_t i = 0; i < g.nI; ++i)
            rows[size_t(r) * size_t(g.nI) + size_t(i)] = float(content.values[g.index(i, g.nJ - 1 - r)]);

    tReplacingFile file(path, "GeoTIFF file");
    file.close();  // GDAL writes the file itself
    const tQuietGdal quiet;
    GDALAllRegister();
    GDALDriverH driver = GDALGetDriverByName("GTiff");
    if (driver == nullptr) file.fail("write the file", "GDAL has no GTiff driver");
    const char* options[] = {"COMPRESS=DEFLATE", nullptr};
    GDALDatasetH ds = GDALCreate(driver, file.tempPath().c_str(), g.nI, g.nJ, 1, GDT_Float32,
                                 const_cast<char**>(options));
    if (ds == nullptr) file.fail("create the file", tQuietGdal::reason());
    bool ok = GDALSetGeoTransform(ds, transform.data()) == CE_None;
    if (ok && crs) ok = GDALSetProjection(ds, crs->wktGdal().c_str()) == CE_None;
    for (const auto& [key, value] : content.metadata)
        ok = ok && GDALSetMetadataItem(ds, key.c_str(), value.c_str(), nullptr) == CE_None;
    if (ok && !crs)
        ok = GDALSetMetadataItem(ds, "GEOREFERENCE",
                                 "none: model metres from the lower-left corner of cell (0, 0); "
                                 "kwd-export --epsg CODE places the grid on a map",
                                 nullptr) == CE_None;
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    if (ok) {
        GDALSetDescription(band, content.description.c_str());
        ok = GDALSetRasterUnitType(band, content.units.c_str()) == CE_None &&
             GDALRasterIO(band, GF_Write, 0, 0, g.nI, g.nJ, rows.data(), g.nI, g.nJ, GDT_Float32, 0,
                          0) == CE_None;
    }
    if (!ok) {
        const std::string reason = tQuietGdal::reason();
        GDALClose(ds);
        file.fail("write the file", reason);
    }
    // Closing writes what GDAL still holds; a failure there is an error too.
    CPLErrorReset();
    GDALClose(ds);
    if (CPLGetLastErrorType() >= CE_Failure) file.fail("write the file", tQuietGdal::reason());
    file.commit();
}

}  // namespace kwd::exporter

#include "export/u_FootprintNetCDF.h"

#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <set>

#include "export/u_ExportText.h"
#include "export/u_Georef.h"
#include "export/u_NcFile.h"
#include "export/u_NcGrid.h"
#include "export/u_NetCDFExport.h"
#include "export/u_OutputFile.h"
#include "platform/FileIO.h"
#include "platform/KwdError.h"

namespace kwd::exporter {

namespace {

bool sameTime(kwd::tDateTime a, kwd::tDateTime b) {
    return kwd::dateTimeToMilliseconds(a) == kwd::dateTimeToMilliseconds(b);
}

// The run record's figures as global attributes, and its whole text.
void runRecordAttributes(tNcFile& nc, const std::string& folder) {
    const std::string path = folder + "/run.json";
    if (!kwd::fileExists(path)) {
        nc.text(NC_GLOBAL, "source", "kwd-footprint (the folder holds no run record run.json)");
        return;
    }
    const std::string text = kwd::readWholeFile(path);
    nlohmann::json record;
    try {
        record = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        throw kwd::InputError("run record \"" + path + "\" is not JSON (" + e.what() + ")");
    }
    auto textOf = [&](const nlohmann::json& j) {
        return j.is_string() ? j.get<std::string>() : j.dump();
    };
    std::string source = "kwd-footprint";
    if (record.contains("version")) source += " " + textOf(record["version"]);
    if (record.contains("commit")) source += " (commit " + textOf(record["commit"]) + ")";
    nc.text(NC_GLOBAL, "source", source);
    for (const char* key : {"state", "start", "end"})
        if (record.contains(key)) nc.text(NC_GLOBAL, std::string("run_") + key, textOf(record[key]));
    if (record.contains("settings") && record["settings"].is_object())
        for (const char* key : {"seed", "particlesPerPeriod", "model", "outputInterval"})
            if (record["settings"].contains(key))
                nc.text(NC_GLOBAL, std::string("run_") + key, textOf(record["settings"][key]));
    nc.text(NC_GLOBAL, "run_record", text);
}

}  // namespace

std::string objectCodeMeaning(int32_t code) {
    if (code == 0) return "free_air";
    if (code == 1) return "obstacle";
    if (code == 2) return "building";
    if (code > 10) return "emitting_surface_" + std::to_string(code);
    return "object_" + (code < 0 ? "minus_" + std::to_string(-int64_t(code)) : std::to_string(code));
}

tFootprintsExportResult exportFootprintsToNetCDF(const tTrajectoryFolder& folder,
                                                 const std::string& ncPath, const tMapCrs* crs,
                                                 const std::string& history) {
    if (!folder.hasDensities())
        throw kwd::InputError("trajectory folder \"" + folder.folder() +
                              "\" holds no normalised footprints (FluxFootprintDensityIJ_...csv); "
                              "the run was made before kwd-footprint wrote them");
    const std::vector<tFootprintRow> table = readFootprintTable(folder.footprintTablePath());
    const tSurfaceShares surfaces = readSurfaceTable(folder.surfaceTablePath());
    const tDensityData mean = folder.loadMeanDensity();
    const tPlanGrid& grid = mean.grid;
    refuseOutputOverInputs(ncPath, {mean.dataSetPath, mean.dataFilePath}, {folder.folder()});

    const std::vector<tOutputTime>& times = folder.measurements();
    const size_t nT = times.size();
    std::vector<double> flux, con, modelTimes, fluxShare;
    std::vector<int64_t> hits, released, negative;
    std::vector<double> shares;
    for (const tOutputTime& m : times) {
        const tDensityData data = folder.loadDensities(m);
        if (data.grid.nI != grid.nI || data.grid.nJ != grid.nJ)
            throw kwd::InputError("trajectory folder \"" + folder.folder() +
                                  "\": the footprints of " + export_text::fullDateTimeText(m.time) +
                                  " and the climatology differ in size");
        flux.insert(flux.end(), data.flux.begin(), data.flux.end());
        con.insert(con.end(), data.concentration.begin(), data.concentration.end());
        for (const double h : data.hits) hits.push_back(int64_t(std::llround(h)));
        modelTimes.push_back(m.time);
        const auto row = std::find_if(table.begin(), table.end(),
                                      [&](const tFootprintRow& r) { return sameTime(r.time, m.time); });
        const auto share = std::find_if(surfaces.rows.begin(), surfaces.rows.end(),
                                        [&](const auto& r) { return sameTime(r.first, m.time); });
        if (row == table.end() || share == surfaces.rows.end())
            throw kwd::InputError(std::string(row == table.end() ? "footprint table \"" + folder.footprintTablePath()
                                                                 : "surface table \"" + folder.surfaceTablePath()) +
                                  "\" has no line for " + export_text::fullDateTimeText(m.time));
        released.push_back(row->released);
        negative.push_back(row->negativeTakeOff);
        fluxShare.push_back(row->fluxShare);
        shares.insert(shares.end(), share->second.begin(), share->second.end());
    }

    tNcFile nc(ncPath);
    const int dt = nc.defineRecordDim("time", nT);
    const int db = nc.defineDim("bnds", 2);
    const tNcGrid g = writeNcGrid(nc, grid, readModelPlacement(mean.dataSetPath), crs, db);

    writeNcTime(nc, dt, "measurement time: the model time the particles were released at",
                modelTimes);

    auto field = [&](const char* name, int type, const std::vector<int>& dims, const char* longName,
                     const char* units, bool onGrid) {
        const int var = nc.defineVar(name, type, dims);
        nc.text(var, "long_name", longName);
        nc.text(var, "units", units);
        if (onGrid) markOnGrid(nc, var, g);
        return var;
    };
    const std::vector<int> timeGrid = {dt, g.dimY, g.dimX};
    nc.putDoubles(field("flux_footprint", NC_DOUBLE, timeGrid,
                        "flux footprint density: (2 / N) sum(w_Detector / |w_TakeOff|) / cell area",
                        "m-2", true),
                  flux, "flux_footprint");
    nc.putDoubles(field("concentration_footprint", NC_DOUBLE, timeGrid,
                        "concentration footprint density: (2 / N) sum(1 / |w_TakeOff|) / cell area",
                        "s m-3", true),
                  con, "concentration_footprint");
    nc.putInt64s(field("hits", NC_INT64, timeGrid,
                       "particles of the measurement time that reached an emitter in the column", "1",
                       true),
                 hits, "hits");
    nc.putInt64s(field("released", NC_INT64, {dt}, "particles released at the measurement time", "1",
                       false),
                 released, "released");
    nc.putInt64s(field("negative_take_off", NC_INT64, {dt},
                       "hits whose vertical velocity at the emitter points downwards", "1", false),
                 negative, "negative_take_off");
    nc.putDoubles(field("flux_share", NC_DOUBLE, {dt},
                        "share of the measured flux from the model's emitters: sum of F x cell area",
                        "1", false),
                  fluxShare, "flux_share");
    nc.putDoubles(field("flux_footprint_mean", NC_DOUBLE, {g.dimY, g.dimX},
                        "flux footprint climatology: the mean of flux_footprint over the measurement times",
                        "m-2", true),
                  mean.flux, "flux_footprint_mean");

    // A run whose grid has no emitter has no surface columns (and a
    // dimension of length 0 would be an unlimited one).
    if (!surfaces.codes.empty()) {
    const int ds = nc.defineDim("surface", surfaces.codes.size());
    std::vector<int> codes;
    for (const int64_t c : surfaces.codes) codes.push_back(int(c));
    const int surfaceVar = nc.defineVar("surface", NC_INT, {ds});
    nc.text(surfaceVar, "long_name", "object code of the emitting surface");
    nc.putInts(surfaceVar, codes, "surface");
    nc.putDoubles(field("surface_share", NC_DOUBLE, {dt, ds},
                        "share of sum(F x cell area) from the emitter cells of the surface", "1", false),
                  shares, "surface_share");
    nc.putDoubles(field("surface_share_mean", NC_DOUBLE, {ds},
                        "the shares of the climatology by surface", "1", false),
                  surfaces.mean, "surface_share_mean");
    }

    // The object codes at ground level, with a meaning for each code present.
    const std::set<int32_t> present(mean.groundCode.begin(), mean.groundCode.end());
    const int objectVar = nc.defineVar("ground_object", NC_INT, {g.dimY, g.dimX});
    nc.text(objectVar, "long_name", "object code at ground level (k = 0)");
    std::string meanings;
    for (const int32_t c : present) meanings += (meanings.empty() ? "" : " ") + objectCodeMeaning(c);
    nc.intAtt(objectVar, "flag_values", std::vector<int>(present.begin(), present.end()));
    nc.text(objectVar, "flag_meanings", meanings);
    markOnGrid(nc, objectVar, g);
    nc.putInts(objectVar, std::vector<int>(mean.groundCode.begin(), mean.groundCode.end()),
               "ground_object");

    nc.text(NC_GLOBAL, "Conventions", "CF-1.8");
    nc.text(NC_GLOBAL, "title", "Normalised footprints of " + folder.project());
    nc.text(NC_GLOBAL, "project", folder.project());
    nc.text(NC_GLOBAL, "grid_data_set", mean.dataSetPath);
    runRecordAttributes(nc, folder.folder());
    nc.text(NC_GLOBAL, "history", history);
    nc.commit();
    tFootprintsExportResult r;
    r.times = nT;
    r.nI = grid.nI;
    r.nJ = grid.nJ;
    return r;
}

}  // namespace kwd::exporter

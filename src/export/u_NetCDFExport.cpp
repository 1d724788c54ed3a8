#include "export/u_NetCDFExport.h"

#include <netcdf.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include "dataset/u_ZDTFile.h"
#include "dataset/u_ZDXFile.h"
#include "export/u_Georef.h"
#include "export/u_NcFile.h"
#include "export/u_NcGrid.h"
#include "export/u_OutputFile.h"
#include "export/u_PlanGrid.h"
#include "platform/DateTime.h"
#include "platform/KwdError.h"

namespace kwd::exporter {

using kwd::dataset::ReadZDTBlock;
using kwd::dataset::TZDXFile;
using kwd::dataset::ZDTBlockValueCount;

const char* const kNcTimeUnits = "seconds since 1970-01-01 00:00:00";

namespace {

// Names of the output data set's blocks that hold -999 where a value is 0,
// as a descriptor holds them after reading (the unit split off).
const char* const kZeroMarkedNames[] = {
    "Vapor Flux ",
    "Current position of Particles ",
    "Origin of Particles in Detector Vertical Sum ",
    "Origin of Particles in Detector 3d ",
    "Concentration footprint Vertical Sum ",
    "Concentration footprint 3d ",
    "Ratio wDet/wTakeOff Vertical Sum ",
    "Ratio wDet/wTakeOff footprint 3d ",
    "Flux Vertical Sum ",
    "Flux 3d ",
    "Footprint Vertical Sum ",
    "Footprint 3d ",
};

// The output data set's copies of the concentration footprint.
const char* const kDuplicateNames[] = {"Footprint Vertical Sum ", "Footprint 3d "};

std::string trimmed(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    const size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

bool isOutputDataSet(const TZDXFile& d) { return d.filetype == 2 && d.Title == "Virtual Particles"; }

bool isVerticalSum(const std::string& name) { return name.find("Vertical Sum") != std::string::npos; }

}  // namespace

double ncTimeValue(double modelTime) {
    const int64_t unixEpoch = kwd::dateTimeToMilliseconds(kwd::encodeDateTime(1970, 1, 1));
    return double(kwd::dateTimeToMilliseconds(modelTime) - unixEpoch) / 1000.0;
}

void writeNcTime(tNcFile& nc, int dim, const std::string& longName, const std::vector<double>& times) {
    const int var = nc.defineVar("time", NC_DOUBLE, {dim});
    nc.text(var, "standard_name", "time");
    nc.text(var, "long_name", longName);
    nc.text(var, "units", kNcTimeUnits);
    nc.text(var, "calendar", "standard");
    nc.text(var, "axis", "T");
    std::vector<double> values;
    for (const double t : times) values.push_back(ncTimeValue(t));
    nc.putDoubles(var, values, "time");
}

std::string netcdfVariableName(const std::string& name) {
    std::string out;
    bool pendingUnderscore = false;
    for (const char ch : name) {
        const unsigned char c = static_cast<unsigned char>(ch);
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!ok) {
            pendingUnderscore = true;  // "_" itself too: runs collapse into one
            continue;
        }
        if (pendingUnderscore && !out.empty()) out += '_';
        pendingUnderscore = false;
        out += ch;
    }
    if (out.empty()) return "var";
    if (out[0] >= '0' && out[0] <= '9') out = "v_" + out;
    return out;
}

std::string udunitsUnit(const std::string& unit) {
    const std::string u = trimmed(unit);
    if (u.empty() || u == "-") return "1";
    if (u == "deg" || u == "Deg" || u == "degrees") return "degree";
    return u;
}

bool isZeroMarkedOutputVariable(const std::string& name) {
    return std::any_of(std::begin(kZeroMarkedNames), std::end(kZeroMarkedNames),
                       [&](const char* n) { return name == n; });
}

tNetCDFExportResult exportDataSetToNetCDF(const std::string& zdxPath, const std::string& ncPath,
                                          const tMapCrs* crs) {
    TZDXFile d;
    const int32_t read = d.ReadFile(zdxPath);
    if (read == -1)
        throw kwd::InputError("data set \"" + zdxPath +
                              "\": the file is missing or not a ZDX descriptor");
    if (read != 0)
        throw kwd::InputError("data set \"" + zdxPath + "\": the file vanished while it was read");
    refuseOutputOverInputs(ncPath, {zdxPath, d.DataFilename}, {});
    const std::string where = "data set \"" + zdxPath + "\"";
    if (d.DataPerVariable != 1)
        throw kwd::InputError(where + ": " + std::to_string(d.DataPerVariable) +
                              " values per cell and variable; only 1 can be exported");
    if (d.numberVars <= 0) throw kwd::InputError(where + ": the data set holds no variables");

    const tPlanGrid plan = tPlanGrid::fromDescriptor(d, where);
    const std::vector<double> zFace = cellFaces(d.sizedz, d.GridsK, where, "z");
    const int32_t nI = d.GridsI, nJ = d.GridsJ, nK = d.GridsK;
    const int64_t blockValues = ZDTBlockValueCount(nI, nJ, nK);
    const tModelPlacement placement = readModelPlacement(zdxPath);

    // The data file must hold every block before anything is written.
    std::error_code ec;
    const auto have = std::filesystem::file_size(d.DataFilename, ec);
    if (ec)
        throw kwd::InputError(where + ": cannot read its data file \"" + d.DataFilename + "\" (" +
                              ec.message() + ")");
    const uint64_t need = uint64_t(4) * uint64_t(blockValues) * uint64_t(d.numberVars);
    if (have < need)
        throw kwd::InputError(where + ": its data file \"" + d.DataFilename + "\" holds " +
                              std::to_string(have) + " bytes; " + std::to_string(d.numberVars) +
                              " variables of " + std::to_string(nI) + " x " + std::to_string(nJ) +
                              " x " + std::to_string(nK) + " cells need " + std::to_string(need));

    tNetCDFExportResult result;
    result.nI = nI;
    result.nJ = nJ;
    result.nK = nK;
    const bool outputDataSet = isOutputDataSet(d);
    std::set<std::string> used = {"x",   "y",       "z",       "x_bnds",  "y_bnds",   "z_bnds",
                                  "time", "bnds",   "crs",     "lat",     "lon",      "easting",
                                  "northing", "model_x", "model_y", "model_x_bnds", "model_y_bnds"};
    for (int32_t n = 0; n < d.numberVars; ++n) {
        const std::string& rawName = n < int32_t(d.nameVars.size()) ? d.nameVars[size_t(n)] : "";
        if (outputDataSet && std::any_of(std::begin(kDuplicateNames), std::end(kDuplicateNames),
                                         [&](const char* dup) { return rawName == dup; }))
            continue;
        tNetCDFVariableInfo v;
        v.block = n;
        v.longName = trimmed(rawName);
        v.units = udunitsUnit(n < int32_t(d.UnitVars.size()) ? d.UnitVars[size_t(n)] : "");
        v.zeroRestored = outputDataSet && isZeroMarkedOutputVariable(rawName);
        v.plan = outputDataSet && isVerticalSum(rawName);
        const std::string base = netcdfVariableName(rawName);
        v.ncName = base;
        for (int suffix = 2; used.count(v.ncName) != 0; ++suffix)
            v.ncName = base + "_" + std::to_string(suffix);
        used.insert(v.ncName);
        if (v.longName.empty()) v.longName = v.ncName;
        result.variables.push_back(v);
    }

    kwd::tDateTime modelTime = 0.0;
    result.hasTime = kwd::tryParseModelDateTime(d.simdate, d.simtime, modelTime);

    tNcFile nc(ncPath);
    const int dt = nc.defineRecordDim("time", 1);
    const int dz = nc.defineDim("z", size_t(nK));
    const int db = nc.defineDim("bnds", 2);
    const tNcGrid grid = writeNcGrid(nc, plan, placement, crs, db);

    const int zVar = nc.defineVar("z", NC_DOUBLE, {dz});
    nc.text(zVar, "standard_name", "height");
    nc.text(zVar, "long_name", "height of the cell centre above ground");
    nc.text(zVar, "units", "m");
    nc.text(zVar, "axis", "Z");
    nc.text(zVar, "positive", "up");
    nc.text(zVar, "bounds", "z_bnds");
    nc.putDoubles(zVar, cellCentres(zFace), "z");
    nc.putDoubles(nc.defineVar("z_bnds", NC_DOUBLE, {dz, db}), cellBounds(zFace), "z_bnds");
    if (result.hasTime) writeNcTime(nc, dt, "model time of the data set", {modelTime});

    // Global attributes: the descriptor's metadata.
    nc.text(NC_GLOBAL, "Conventions", "CF-1.8");
    nc.text(NC_GLOBAL, "title", d.Title);
    nc.text(NC_GLOBAL, "source", "ZAKO-rin " + d.Modelversion);
    nc.text(NC_GLOBAL, "project", d.projectname);
    nc.text(NC_GLOBAL, "simulation_basename", d.SimBaseID);
    nc.text(NC_GLOBAL, "simulation_date", d.simdate);
    nc.text(NC_GLOBAL, "simulation_time", d.simtime);
    nc.text(NC_GLOBAL, "location_name", d.Locationname);
    nc.doubleAtt(NC_GLOBAL, "model_rotation", {placement.rotation});
    nc.doubleAtt(NC_GLOBAL, "location_georef_x", {placement.georefX});
    nc.doubleAtt(NC_GLOBAL, "location_georef_y", {placement.georefY});
    nc.text(NC_GLOBAL, "model_version", d.Modelversion);
    nc.text(NC_GLOBAL, "simulation_guid", d.SimGUID);
    nc.intAtt(NC_GLOBAL, "data_type", {d.filetype});
    nc.intAtt(NC_GLOBAL, "data_content", {d.fileContent});
    nc.intAtt(NC_GLOBAL, "data_health_status", {d.SimFileState});
    nc.intAtt(NC_GLOBAL, "data_zorientation", {d.zZeroAtTop ? 1 : 0});
    // -999 means "not given" for these two.
    if (d.Sunposition != -999.0f) nc.floatAtt(NC_GLOBAL, "sun_position", d.Sunposition);
    if (d.WindInflow != -999.0f) nc.floatAtt(NC_GLOBAL, "wind_inflow", d.WindInflow);

    // The ZDT block order (i fastest, then j, then k) is the C order of
    // (time, z, y, x); a vertical sum is the first layer.
    std::vector<float> block(static_cast<size_t>(blockValues));
    const size_t layer = plan.cellCount();
    for (const tNetCDFVariableInfo& v : result.variables) {
        const std::vector<int> dims = v.plan ? std::vector<int>{dt, grid.dimY, grid.dimX}
                                             : std::vector<int>{dt, dz, grid.dimY, grid.dimX};
        const int var = nc.defineVar(v.ncName, NC_FLOAT, dims);
        nc.text(var, "long_name", v.longName);
        nc.text(var, "units", v.units);
        markOnGrid(nc, var, grid);
        nc.intAtt(var, "zdt_block", {int(v.block)});
        ReadZDTBlock(d.DataFilename, v.block, nI, nJ, nK, block);
        if (v.zeroRestored) std::replace(block.begin(), block.end(), kZeroMarker, 0.0f);
        if (v.plan) block.resize(layer);
        nc.putFloats(var, block, "the variable " + v.ncName);
        block.resize(static_cast<size_t>(blockValues));
    }
    nc.commit();
    return result;
}

}  // namespace kwd::exporter

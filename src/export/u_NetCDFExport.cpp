#include "export/u_NetCDFExport.h"

#include <netcdf.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>

#include "dataset/u_ZDTFile.h"
#include "dataset/u_ZDXFile.h"
#include "export/u_ExportText.h"
#include "export/u_OutputFile.h"
#include "export/u_PlanGrid.h"
#include "platform/DateTime.h"
#include "platform/FileIO.h"
#include "platform/KwdError.h"

namespace {

// Names of the output data set's blocks that hold -999 where a cell has no
// value, as a descriptor holds them after reading (the unit split off).
const char* const kFilledOutputNames[] = {
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

std::string trimmed(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    const size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

bool isOutputDataSet(const TZDXFile& d) { return d.filetype == 2 && d.Title == "Virtual Particles"; }

// An open NetCDF file under a temporary name: every call is checked, and the
// file is removed unless commit() renamed it into place.
class tNcFile {
public:
    tNcFile(const std::string& finalPath) : fFile(finalPath, "NetCDF file") {
        // The library opens the file itself; the name stays reserved for it.
        fFile.close();
        check(nc_create(fFile.tempPath().c_str(), NC_NETCDF4 | NC_CLOBBER, &fId), "create the file");
        fOpen = true;
        int oldMode = 0;
        check(nc_set_fill(fId, NC_NOFILL, &oldMode), "set the fill mode");
    }
    ~tNcFile() {
        if (fOpen) nc_close(fId);
    }
    tNcFile(const tNcFile&) = delete;
    tNcFile& operator=(const tNcFile&) = delete;

    int id() const { return fId; }

    void check(int status, const std::string& what) const {
        if (status != NC_NOERR) fFile.fail(what, nc_strerror(status));
    }

    int defineDim(const std::string& name, size_t length) {
        int dim = -1;
        check(nc_def_dim(fId, name.c_str(), length, &dim), "define the dimension " + name);
        return dim;
    }
    int defineVar(const std::string& name, nc_type type, std::vector<int> dims) {
        int var = -1;
        check(nc_def_var(fId, name.c_str(), type, int(dims.size()), dims.data(), &var),
              "define the variable " + name);
        return var;
    }
    void text(int var, const std::string& name, const std::string& value) {
        check(nc_put_att_text(fId, var, name.c_str(), value.size(), value.c_str()),
              "write the attribute " + name);
    }
    void floatAtt(int var, const std::string& name, float value) {
        check(nc_put_att_float(fId, var, name.c_str(), NC_FLOAT, 1, &value),
              "write the attribute " + name);
    }
    void intAtt(int var, const std::string& name, int value) {
        check(nc_put_att_int(fId, var, name.c_str(), NC_INT, 1, &value),
              "write the attribute " + name);
    }

    void commit() {
        fOpen = false;
        check(nc_close(fId), "close the file");
        fFile.commit();
    }

private:
    tReplacingFile fFile;
    int fId = -1;
    bool fOpen = false;
};

std::vector<double> centres(const std::vector<double>& faces) {
    std::vector<double> c(faces.size() - 1);
    for (size_t n = 0; n + 1 < faces.size(); ++n) c[n] = 0.5 * (faces[n] + faces[n + 1]);
    return c;
}

std::vector<double> bounds(const std::vector<double>& faces) {
    std::vector<double> b;
    b.reserve(2 * (faces.size() - 1));
    for (size_t n = 0; n + 1 < faces.size(); ++n) {
        b.push_back(faces[n]);
        b.push_back(faces[n + 1]);
    }
    return b;
}

}  // namespace

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

bool isFilledOutputVariable(const std::string& name) {
    return std::any_of(std::begin(kFilledOutputNames), std::end(kFilledOutputNames),
                       [&](const char* n) { return name == n; });
}

tNetCDFExportResult exportDataSetToNetCDF(const std::string& zdxPath, const std::string& ncPath) {
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
    std::set<std::string> used = {"x", "y", "z", "x_bnds", "y_bnds", "z_bnds", "time", "bnds"};
    for (int32_t n = 0; n < d.numberVars; ++n) {
        const std::string& rawName = n < int32_t(d.nameVars.size()) ? d.nameVars[size_t(n)] : "";
        tNetCDFVariableInfo v;
        v.longName = trimmed(rawName);
        const std::string unit = n < int32_t(d.UnitVars.size()) ? trimmed(d.UnitVars[size_t(n)]) : "";
        v.units = unit.empty() ? "1" : unit;
        v.filled = outputDataSet && isFilledOutputVariable(rawName);
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
    const int id = nc.id();
    const int dx = nc.defineDim("x", size_t(nI));
    const int dy = nc.defineDim("y", size_t(nJ));
    const int dz = nc.defineDim("z", size_t(nK));
    const int db = nc.defineDim("bnds", 2);

    struct Axis {
        const char* name;
        const char* boundsName;
        int dim;
        const char* axis;
        const char* longName;
        std::vector<double> faces;
        int var = -1, boundsVar = -1;
    };
    Axis axes[3] = {
        {"x", "x_bnds", dx, "X", "x of the cell centre in model coordinates", plan.xFace},
        {"y", "y_bnds", dy, "Y", "y of the cell centre in model coordinates", plan.yFace},
        {"z", "z_bnds", dz, "Z", "height of the cell centre above ground", zFace},
    };
    for (Axis& a : axes) {
        a.var = nc.defineVar(a.name, NC_DOUBLE, {a.dim});
        nc.text(a.var, "long_name", a.longName);
        nc.text(a.var, "units", "m");
        nc.text(a.var, "axis", a.axis);
        nc.text(a.var, "bounds", a.boundsName);
        if (a.axis[0] == 'Z') {
            nc.text(a.var, "standard_name", "height");
            nc.text(a.var, "positive", "up");
        }
        a.boundsVar = nc.defineVar(a.boundsName, NC_DOUBLE, {a.dim, db});
    }
    int timeVar = -1;
    if (result.hasTime) {
        timeVar = nc.defineVar("time", NC_DOUBLE, {});
        nc.text(timeVar, "standard_name", "time");
        nc.text(timeVar, "long_name", "model time of the data set");
        nc.text(timeVar, "units", "days since 1899-12-30 00:00:00");
        nc.text(timeVar, "calendar", "standard");
    }

    std::vector<int> dataVars;
    for (size_t n = 0; n < result.variables.size(); ++n) {
        const tNetCDFVariableInfo& v = result.variables[n];
        const int var = nc.defineVar(v.ncName, NC_FLOAT, {dz, dy, dx});
        nc.check(nc_def_var_deflate(id, var, 1, 1, 2), "set the compression of " + v.ncName);
        if (v.filled) {
            const float fill = kExportFillValue;
            nc.check(nc_def_var_fill(id, var, 0, &fill), "set the fill value of " + v.ncName);
        }
        nc.text(var, "long_name", v.longName);
        nc.text(var, "units", v.units);
        if (result.hasTime) nc.text(var, "coordinates", "time");
        nc.intAtt(var, "zdt_block", int(n));
        dataVars.push_back(var);
    }

    // Global attributes: the descriptor's metadata.
    nc.text(NC_GLOBAL, "Conventions", "CF-1.8");
    nc.text(NC_GLOBAL, "title", d.Title);
    nc.text(NC_GLOBAL, "source", "ZAKO-rin " + d.Modelversion);
    nc.text(NC_GLOBAL, "project", d.projectname);
    nc.text(NC_GLOBAL, "simulation_basename", d.SimBaseID);
    nc.text(NC_GLOBAL, "simulation_date", d.simdate);
    nc.text(NC_GLOBAL, "simulation_time", d.simtime);
    nc.text(NC_GLOBAL, "location_name", d.Locationname);
    nc.floatAtt(NC_GLOBAL, "model_rotation", d.ModelRotation);
    nc.floatAtt(NC_GLOBAL, "location_georef_x", d.Georef_x);
    nc.floatAtt(NC_GLOBAL, "location_georef_y", d.Georef_y);
    nc.text(NC_GLOBAL, "model_version", d.Modelversion);
    nc.text(NC_GLOBAL, "simulation_guid", d.SimGUID);
    nc.intAtt(NC_GLOBAL, "data_type", d.filetype);
    nc.intAtt(NC_GLOBAL, "data_content", d.fileContent);
    nc.intAtt(NC_GLOBAL, "data_health_status", d.SimFileState);
    nc.intAtt(NC_GLOBAL, "data_zorientation", d.zZeroAtTop ? 1 : 0);
    // -999 means "not given" for these two.
    if (d.Sunposition != -999.0f) nc.floatAtt(NC_GLOBAL, "sun_position", d.Sunposition);
    if (d.WindInflow != -999.0f) nc.floatAtt(NC_GLOBAL, "wind_inflow", d.WindInflow);
    nc.check(nc_enddef(id), "finish the definitions");

    for (const Axis& a : axes) {
        const std::vector<double> c = centres(a.faces);
        const std::vector<double> b = bounds(a.faces);
        nc.check(nc_put_var_double(id, a.var, c.data()), std::string("write ") + a.name);
        nc.check(nc_put_var_double(id, a.boundsVar, b.data()), std::string("write ") + a.boundsName);
    }
    if (result.hasTime) nc.check(nc_put_var_double(id, timeVar, &modelTime), "write time");

    // The ZDT block order (i fastest, then j, then k) is the C order of (z, y, x).
    std::vector<float> block(static_cast<size_t>(blockValues));
    for (size_t n = 0; n < dataVars.size(); ++n) {
        ReadZDTBlock(d.DataFilename, int32_t(n), nI, nJ, nK, block);
        nc.check(nc_put_var_float(id, dataVars[n], block.data()),
                 "write the variable " + result.variables[n].ncName);
    }
    nc.commit();
    return result;
}

#include "export/u_Georef.h"

#include <proj.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

#include "container/UDataXStorage.h"
#include "export/u_ExportText.h"
#include "platform/KwdError.h"

namespace kwd::exporter {

using kwd::container::TDataXStorage;

namespace {

double radians(double degrees) { return degrees * std::numbers::pi / 180.0; }

// The value of a float tag from its text, in double precision; 0 when the
// tag is missing (as the descriptor reads it).
double doubleTag(TDataXStorage& x, const char* tag) {
    const std::string text = x.GetTagValueAsString(0, tag, "");
    return text.empty() ? 0.0 : TDataXStorage::ReadDoubleText(text);
}

// A CF grid mapping: the EPSG method code, its CF name, and the CF names of
// the EPSG parameters it uses (several parameters may fill one attribute).
struct tCfMapping {
    const char* methodCode;
    const char* name;
    std::vector<std::pair<const char*, const char*>> parameters;  // EPSG code, CF attribute
};

const tCfMapping kCfMappings[] = {
    {"9807", "transverse_mercator",
     {{"8801", "latitude_of_projection_origin"}, {"8802", "longitude_of_central_meridian"},
      {"8805", "scale_factor_at_central_meridian"}, {"8806", "false_easting"},
      {"8807", "false_northing"}}},
    {"9809", "oblique_stereographic",
     {{"8801", "latitude_of_projection_origin"}, {"8802", "longitude_of_projection_origin"},
      {"8805", "scale_factor_at_projection_origin"}, {"8806", "false_easting"},
      {"8807", "false_northing"}}},
    {"9802", "lambert_conformal_conic",
     {{"8821", "latitude_of_projection_origin"}, {"8822", "longitude_of_central_meridian"},
      {"8823", "standard_parallel"}, {"8824", "standard_parallel"}, {"8826", "false_easting"},
      {"8827", "false_northing"}}},
};

}  // namespace

std::pair<double, double> tModelPlacement::toMap(double x, double y) const {
    const double r = radians(rotation);
    const double c = std::cos(r), s = std::sin(r);
    return {georefX + x * c + y * s, georefY - x * s + y * c};
}

std::pair<double, double> tModelPlacement::northInModel() const {
    const double r = radians(rotation);
    return {-std::sin(r), std::cos(r)};
}

tModelPlacement readModelPlacement(const std::string& zdxPath) {
    TDataXStorage x;
    if (x.InitXFileReader(zdxPath) != 1)
        throw kwd::InputError("data set \"" + zdxPath + "\": the file is missing");
    x.Collectelements("modeldescription");
    tModelPlacement p;
    p.georefX = doubleTag(x, "location_georef_x");
    p.georefY = doubleTag(x, "location_georef_y");
    p.rotation = doubleTag(x, "model_rotation");
    if (!std::isfinite(p.georefX) || !std::isfinite(p.georefY) || !std::isfinite(p.rotation))
        throw kwd::InputError("data set \"" + zdxPath +
                              "\": the georeference or the rotation is not a finite number");
    return p;
}

struct tMapCrs::tProj {
    PJ_CONTEXT* ctx = nullptr;
    PJ* crs = nullptr;
    PJ* toLonLat = nullptr;
    ~tProj() {
        if (toLonLat) proj_destroy(toLonLat);
        if (crs) proj_destroy(crs);
        if (ctx) proj_context_destroy(ctx);
    }
    std::string error() const {
        const char* e = proj_context_errno_string(ctx, proj_context_errno(ctx));
        return e ? e : "unknown reason";
    }
};

tMapCrs::tMapCrs(int epsg) : fEpsg(epsg), fProj(std::make_unique<tProj>()) {
    const std::string where = "reference system " + code();
    tProj& p = *fProj;
    p.ctx = proj_context_create();
    if (p.ctx == nullptr) throw kwd::GeneralError(where + ": PROJ cannot start");
    proj_log_level(p.ctx, PJ_LOG_NONE);  // errors reach the caller as messages
    p.crs = proj_create_from_database(p.ctx, "EPSG", std::to_string(epsg).c_str(), PJ_CATEGORY_CRS,
                                      0, nullptr);
    if (p.crs == nullptr)
        throw kwd::InputError(where + " is not in PROJ's EPSG registry (" + p.error() + ")");
    fName = proj_get_name(p.crs) ? proj_get_name(p.crs) : code();
    if (proj_get_type(p.crs) != PJ_TYPE_PROJECTED_CRS)
        throw kwd::InputError(where + " (" + fName +
                              ") is not a projected reference system; the model grid needs one "
                              "with axes in metres");
    PJ* cs = proj_crs_get_coordinate_system(p.ctx, p.crs);
    bool metres = cs != nullptr && proj_cs_get_axis_count(p.ctx, cs) == 2;
    for (int a = 0; metres && a < 2; ++a) {
        double factor = 0;
        metres = proj_cs_get_axis_info(p.ctx, cs, a, nullptr, nullptr, nullptr, &factor, nullptr,
                                       nullptr, nullptr) != 0 &&
                 factor == 1.0;
    }
    if (cs) proj_destroy(cs);
    if (!metres)
        throw kwd::InputError(where + " (" + fName +
                              ") does not measure in metres; the model grid needs a system in metres");

    const char* const wktOptions[] = {"MULTILINE=NO", nullptr};
    const char* wkt2 = proj_as_wkt(p.ctx, p.crs, PJ_WKT2_2019, wktOptions);
    if (wkt2 == nullptr) throw kwd::GeneralError(where + ": PROJ cannot write it as WKT");
    fWkt = wkt2;
    const char* wkt1 = proj_as_wkt(p.ctx, p.crs, PJ_WKT1_GDAL, wktOptions);
    fWktGdal = wkt1 ? wkt1 : fWkt;

    // Longitude and latitude of WGS 84 from (easting, northing), whatever
    // axis order either system declares.
    PJ* op = proj_create_crs_to_crs(p.ctx, code().c_str(), "EPSG:4326", nullptr);
    if (op != nullptr) {
        p.toLonLat = proj_normalize_for_visualization(p.ctx, op);
        proj_destroy(op);
    }
    if (p.toLonLat == nullptr)
        throw kwd::GeneralError(where + ": PROJ finds no way to longitude and latitude (" +
                                p.error() + ")");

    // The CF grid mapping, where the method has one.
    PJ* conversion = proj_crs_get_coordoperation(p.ctx, p.crs);
    const char* methodCode = nullptr;
    if (conversion != nullptr &&
        proj_coordoperation_get_method_info(p.ctx, conversion, nullptr, nullptr, &methodCode) &&
        methodCode != nullptr) {
        for (const tCfMapping& m : kCfMappings) {
            if (std::string(methodCode) != m.methodCode) continue;
            fCfName = m.name;
            const int count = proj_coordoperation_get_param_count(p.ctx, conversion);
            for (const auto& parameter : m.parameters)
                for (int n = 0; n < count; ++n) {
                    // Named, not bound: lambdas of clang 14 capture no structured binding.
                    const auto& epsgParameter = parameter.first;
                    const auto& cfAttribute = parameter.second;
                    const char* parameterCode = nullptr;
                    double value = 0, factor = 1;
                    const char* unitCategory = nullptr;
                    proj_coordoperation_get_param(p.ctx, conversion, n, nullptr, nullptr,
                                                  &parameterCode, &value, nullptr, &factor, nullptr,
                                                  nullptr, nullptr, &unitCategory);
                    if (parameterCode == nullptr || std::string(parameterCode) != epsgParameter)
                        continue;
                    // Angles in degrees, lengths in metres, scales as they are.
                    if (unitCategory && std::string(unitCategory) == "angular")
                        value = value * factor * 180.0 / std::numbers::pi;
                    else if (unitCategory && std::string(unitCategory) == "linear")
                        value *= factor;
                    auto found = std::find_if(fCfParameters.begin(), fCfParameters.end(),
                                              [&](const auto& q) { return q.first == cfAttribute; });
                    if (found == fCfParameters.end()) fCfParameters.push_back({cfAttribute, {value}});
                    else found->second.push_back(value);
                }
        }
    }
    if (conversion) proj_destroy(conversion);
    PJ* ellipsoid = proj_get_ellipsoid(p.ctx, p.crs);
    double a = 0, b = 0, inverseFlattening = 0;
    int computed = 0;
    if (ellipsoid && proj_ellipsoid_get_parameters(p.ctx, ellipsoid, &a, &b, &computed,
                                                   &inverseFlattening)) {
        if (!fCfName.empty()) {
            fCfParameters.push_back({"semi_major_axis", {a}});
            fCfParameters.push_back({"inverse_flattening", {inverseFlattening}});
            fCfParameters.push_back({"longitude_of_prime_meridian", {0.0}});
        }
    }
    if (ellipsoid) proj_destroy(ellipsoid);
}

tMapCrs::~tMapCrs() = default;

std::pair<double, double> tMapCrs::toLonLat(double e, double n) const {
    const PJ_COORD out = proj_trans(fProj->toLonLat, PJ_FWD, proj_coord(e, n, 0, 0));
    if (!std::isfinite(out.lp.lam) || !std::isfinite(out.lp.phi) || out.v[0] == HUGE_VAL)
        throw kwd::InputError("reference system " + code() + ": the point (" +
                              export_text::shortNumber(e) + ", " + export_text::shortNumber(n) +
                              ") has no longitude and latitude (" + fProj->error() + ")");
    return {out.v[0], out.v[1]};
}

int parseEpsgCode(const std::string& text) {
    int code = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), code);
    if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size() || code <= 0)
        throw kwd::InputError("--epsg \"" + text + "\" is not an EPSG code (a positive integer)");
    return code;
}

double uniformWidth(const std::vector<double>& faces) {
    const double w = faces[1] - faces[0];
    for (size_t n = 1; n + 1 < faces.size(); ++n)
        if (faces[n + 1] - faces[n] != w) return 0.0;
    return w;
}

std::vector<double> geoTransform(const tPlanGrid& grid, const tModelPlacement& placement,
                                 bool bottomUp) {
    const double dx = uniformWidth(grid.xFace), dy = uniformWidth(grid.yFace);
    for (const auto& [width, axis] : {std::pair{dx, "x"}, std::pair{dy, "y"}})
        if (width == 0.0)
            throw kwd::InputError(std::string("the cells differ in width along ") + axis +
                                  "; a raster with one pixel size cannot hold the grid");
    const double r = radians(placement.rotation), c = std::cos(r), s = std::sin(r);
    // Column i moves by dx along the model's x axis; row r by dy along its y
    // axis, up from the origin or down from the top edge.
    const double rowY = bottomUp ? dy : -dy;
    const auto [x0, y0] = placement.toMap(0.0, bottomUp ? 0.0 : grid.yMax());
    return {x0, dx * c, rowY * s, y0, -dx * s, rowY * c};
}

}  // namespace kwd::exporter

#pragma once
// The bundled example simulation: a small urban scene written as a finished
// simulation folder that kwd-footprint can run on.
//
// The scene: a street running along y through the middle of the model,
// lined by buildings (object code 1); on the west side a perimeter block
// around a courtyard lawn and a tower block with a green lane between them,
// on the east side two blocks; a lawn verge along the west side of the
// street, and a park with a lawn and a pond along the west edge. Lawn
// (code 11) and water (code 12) cells in the lowest layer are the emitting
// surfaces.
//
// The flow: a logarithmic wind profile over a roughness length of 0.1 m,
// slowed down below the roofs in the street canyons, with a little up- and
// downwash at the building faces; turbulence from a simple parametrisation
// (k = u*^2 / sqrt(Cmu), eps = Cmu^(3/4) k^(3/2) / l with the mixing length
// l = kappa z / (1 + kappa z / lambda)), positive in every cell outside the
// buildings. Each output has its own friction velocity and a wind direction
// that turns by 15 degrees per output.
//
// Each output is a data set of 23 variables at the positions the engine
// reads (0 objects, 1-3 wind u, v, w, 13 TKE, 14 dissipation, 22 vapour
// flux) and plausible other fields, written as a ZDX descriptor and a ZDT
// data file in <folder>/atmosphere. A run configuration file <folder>/
// <project>.tra names the outputs, the detector and the particle count.
//
// Used by the program tools/kwd_make_example.cpp and by the tests, which make
// tiny simulations with it.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "dataset/u_ZDTFile.h"
#include "dataset/u_ZDXFile.h"
#include "frontend/u_tTRAFile.h"
#include "platform/DateTime.h"
#include "platform/FileIO.h"
#include "platform/KwdError.h"
#include "platform/RegionalSettings.h"

namespace example {

constexpr int32_t kObjectAir = 0;
constexpr int32_t kObjectBuilding = 1;
constexpr int32_t kObjectLawn = 11;
constexpr int32_t kObjectWater = 12;
constexpr int32_t kNumberOfVariables = 23;

struct tOptions {
    std::string folder = "example";  // root folder of the simulation
    std::string project = "KWDExample";
    int32_t nI = 40, nJ = 40, nK = 16;  // cells along x, y, z
    double dx = 2.0, dy = 2.0, dz = 1.0;  // cell sizes, metres
    int32_t outputs = 3;                  // atmosphere outputs
    int32_t outputSpacing = 3600;         // seconds between outputs
    int32_t particles = 1000000;          // particles per data-set period (.tra)
    double minHeight = 0.0001;            // metres (.tra)
    std::string firstDate = "21.06.2018";  // model time of the first output
    std::string firstTime = "10:00:00";
    bool initialisation = true;  // also write the state at initialisation
    // The detector box in model metres; all zero: above the middle of the
    // street at sensor height.
    double detector[6] = {0, 0, 0, 0, 0, 0};
};

// What was written.
struct tWritten {
    std::string traPath;                // <folder>/<project>.tra
    std::vector<std::string> zdxPaths;  // the outputs, in time order
    std::string initialisationPath;     // empty when none was written
    double detector[6] = {0, 0, 0, 0, 0, 0};
};

// ---- the scene ---------------------------------------------------------------

struct tScene {
    int32_t nI = 0, nJ = 0, nK = 0;
    double dx = 0, dy = 0, dz = 0;
    std::vector<int32_t> object;       // ZDT order: i fastest, then j, then k
    std::vector<double> roofHeight;    // per column, metres (0: no building)

    size_t index(int32_t i, int32_t j, int32_t k) const {
        return size_t(i) + size_t(nI) * (size_t(j) + size_t(nJ) * size_t(k));
    }
    int32_t code(int32_t i, int32_t j, int32_t k) const { return object[index(i, j, k)]; }
    double lengthX() const { return nI * dx; }
    double lengthY() const { return nJ * dy; }
    double lengthZ() const { return nK * dz; }
    double height(int32_t i, int32_t j) const { return roofHeight[size_t(i) + size_t(nI) * size_t(j)]; }
};

inline tScene makeScene(const tOptions& o) {
    if (o.nI < 3 || o.nJ < 3 || o.nK < 4) {
        throw kwd::InputError("the example grid needs at least 3 x 3 x 4 cells, not " +
                              std::to_string(o.nI) + " x " + std::to_string(o.nJ) + " x " +
                              std::to_string(o.nK));
    }
    if (!(o.dx > 0) || !(o.dy > 0) || !(o.dz > 0)) {
        throw kwd::InputError("the example cell sizes must be positive");
    }
    tScene s;
    s.nI = o.nI, s.nJ = o.nJ, s.nK = o.nK;
    s.dx = o.dx, s.dy = o.dy, s.dz = o.dz;
    s.object.assign(size_t(o.nI) * size_t(o.nJ) * size_t(o.nK), kObjectAir);
    s.roofHeight.assign(size_t(o.nI) * size_t(o.nJ), 0.0);

    const double lz = s.lengthZ();
    // Buildings as boxes in fractions of the model's extent; heights in
    // metres, at most 70 % of the model height so that air stays above.
    struct tBox { double x0, x1, y0, y1, h; };
    const double hMax = 0.7 * lz;
    const tBox buildings[] = {
        {0.14, 0.40, 0.52, 0.90, std::min(10.0, hMax)},  // perimeter block (courtyard cut out below)
        {0.16, 0.40, 0.10, 0.40, std::min(14.0, hMax)},  // tower block
        {0.60, 0.88, 0.08, 0.44, std::min(9.0, hMax)},   // east block, south
        {0.60, 0.80, 0.56, 0.92, std::min(12.0, hMax)},  // east block, north
    };
    const tBox courtyard{0.20, 0.34, 0.60, 0.82, 0.0};
    const tBox park{0.02, 0.12, 0.04, 0.96, 0.0};
    const tBox pond{0.04, 0.10, 0.40, 0.60, 0.0};
    const tBox lane{0.12, 0.45, 0.41, 0.51, 0.0};   // green lane between the west blocks
    const tBox verge{0.41, 0.45, 0.04, 0.96, 0.0};  // lawn verge along the street
    const auto inside = [](const tBox& b, double fx, double fy) {
        return fx >= b.x0 && fx < b.x1 && fy >= b.y0 && fy < b.y1;
    };

    for (int32_t j = 0; j < s.nJ; ++j) {
        for (int32_t i = 0; i < s.nI; ++i) {
            const double fx = (i + 0.5) / s.nI, fy = (j + 0.5) / s.nJ;
            double h = 0.0;
            for (const tBox& b : buildings)
                if (inside(b, fx, fy)) h = std::max(h, b.h);
            const bool inCourtyard = inside(courtyard, fx, fy);
            if (inCourtyard) h = 0.0;
            // A building fills whole layers, at least the lowest one.
            int32_t levels = h > 0 ? std::max(1, int32_t(std::lround(h / s.dz))) : 0;
            levels = std::min(levels, s.nK - 2);
            s.roofHeight[size_t(i) + size_t(s.nI) * size_t(j)] = levels * s.dz;
            for (int32_t k = 0; k < levels; ++k) s.object[s.index(i, j, k)] = kObjectBuilding;
            if (levels == 0 && (inCourtyard || inside(park, fx, fy) || inside(lane, fx, fy) ||
                                inside(verge, fx, fy))) {
                s.object[s.index(i, j, 0)] = inside(pond, fx, fy) ? kObjectWater : kObjectLawn;
            }
        }
    }
    return s;
}

// ---- the flow ------------------------------------------------------------------

constexpr double kKarman = 0.4;
constexpr double kZ0 = 0.1;       // roughness length, m
constexpr double kCmu = 0.09;
constexpr double kLambda = 20.0;  // asymptotic mixing length, m

// Friction velocity and wind direction (where the wind comes from, degrees)
// of output n.
inline double frictionVelocity(int32_t n) {
    const double u[] = {0.32, 0.38, 0.30, 0.35};
    return u[n % 4];
}
inline double windDirection(int32_t n) { return std::fmod(240.0 + 15.0 * n, 360.0); }

// The undisturbed log-profile speed at height z.
inline double profileSpeed(double ustar, double z) {
    return ustar / kKarman * std::log(std::max(z, 2.0 * kZ0) / kZ0);
}

// Tallest roof within `reach` cells of (i, j), metres.
inline double nearbyRoof(const tScene& s, int32_t i, int32_t j, int32_t reach) {
    double h = 0.0;
    for (int32_t jj = std::max(0, j - reach); jj <= std::min(s.nJ - 1, j + reach); ++jj)
        for (int32_t ii = std::max(0, i - reach); ii <= std::min(s.nI - 1, i + reach); ++ii)
            h = std::max(h, s.height(ii, jj));
    return h;
}

// The 23 blocks of output n, in ZDT order.
inline std::vector<std::vector<float>> makeFields(const tScene& s, int32_t n) {
    const size_t cells = s.object.size();
    std::vector<std::vector<float>> var(kNumberOfVariables, std::vector<float>(cells, 0.0f));
    const double ustar = frictionVelocity(n);
    const double dir = windDirection(n) * std::numbers::pi / 180.0;
    const double ex = -std::sin(dir), ey = -std::cos(dir);  // unit vector the wind blows towards
    const int32_t sx = std::abs(ex) > 0.38 ? (ex > 0 ? 1 : -1) : 0;
    const int32_t sy = std::abs(ey) > 0.38 ? (ey > 0 ? 1 : -1) : 0;
    const double kFree = ustar * ustar / std::sqrt(kCmu);
    const double theta0 = 294.0 + 0.8 * n;  // potential temperature, K
    const double direct = 620.0 + 40.0 * n, diffuse = 120.0;
    constexpr float kNoValue = -999.0f;

    for (int32_t k = 0; k < s.nK; ++k) {
        const double z = (k + 0.5) * s.dz;
        for (int32_t j = 0; j < s.nJ; ++j) {
            for (int32_t i = 0; i < s.nI; ++i) {
                const size_t c = s.index(i, j, k);
                const int32_t code = s.code(i, j, k);
                var[0][c] = float(code);
                if (code == kObjectBuilding) {
                    // Wind, turbulence and vapour flux are 0 inside buildings,
                    // the other fields carry no value there.
                    for (int v : {4, 5, 6, 7, 8, 9, 10, 11, 12, 15, 16, 17, 18, 19, 20, 21})
                        var[size_t(v)][c] = kNoValue;
                    continue;
                }
                const double uRef = profileSpeed(ustar, z);
                const double hNear = nearbyRoof(s, i, j, 3);
                // Canopy slow-down below the surrounding roofs.
                const double f = z < hNear ? 0.25 + 0.75 * std::pow(z / hNear, 1.5) : 1.0;
                const double speed = uRef * f;
                const double u = speed * ex, v = speed * ey;
                // Up- and downwash where the roofs rise or fall along the wind.
                double w = 0.0;
                if (z < hNear + 2.0 * s.dz) {
                    const auto roofAt = [&](int32_t di, int32_t dj) {
                        const int32_t ii = std::clamp(i + di, 0, s.nI - 1);
                        const int32_t jj = std::clamp(j + dj, 0, s.nJ - 1);
                        return s.height(ii, jj);
                    };
                    const double rise = roofAt(sx, sy) - roofAt(-sx, -sy);
                    w = std::clamp(0.15 * uRef * rise / std::max(hNear, s.dz), -0.6, 0.6);
                }
                const double kTurb = kFree * (1.0 + 0.8 * (1.0 - f));
                const double mixing = kKarman * z / (1.0 + kKarman * z / kLambda);
                const double eps = std::pow(kCmu, 0.75) * std::pow(kTurb, 1.5) / mixing;
                const double total = std::sqrt(u * u + v * v + w * w);
                const bool nearSurface = k <= 1;
                const bool wetSurface = s.code(i, j, 0) == kObjectLawn || s.code(i, j, 0) == kObjectWater;
                const double theta = theta0 - (nearSurface && wetSurface ? 0.6 : 0.0) + 0.2 * (1.0 - f);
                const double tC = theta - 273.15 - 0.0098 * z;
                const double q = 7.5 + (nearSurface && wetSurface ? 0.6 : 0.0) - 0.02 * z;  // g/kg
                const double es = 6.112 * std::exp(17.67 * tC / (tC + 243.5));           // hPa
                const double e = q / 1000.0 * 1013.0 / 0.622;
                const double shaded = z < hNear && f < 0.6 ? 1.0 : 0.0;

                var[1][c] = float(u);
                var[2][c] = float(v);
                var[3][c] = float(w);
                var[4][c] = float(total);
                var[5][c] = float(100.0 * (total / uRef - 1.0));
                var[6][c] = float(std::fmod(270.0 - std::atan2(v, u) * 180.0 / std::numbers::pi + 360.0, 360.0));
                var[7][c] = float(-0.5 * 1.2 * (total * total - uRef * uRef));
                var[8][c] = float(theta);
                var[9][c] = float(tC);
                var[10][c] = float(q);
                var[11][c] = float(std::min(100.0, 100.0 * e / es));
                var[12][c] = 0.8f;
                var[13][c] = float(kTurb);
                var[14][c] = float(eps);
                var[15][c] = float(kCmu * kTurb * kTurb / eps);
                var[16][c] = float(kCmu * kTurb * kTurb / eps);
                var[17][c] = float(q * 1.2);
                var[18][c] = float(tC + 273.15 + 3.0 + 27.0 * (1.0 - shaded));
                var[19][c] = float(direct * (1.0 - shaded));
                var[20][c] = float(diffuse);
                var[21][c] = float(0.2 * (direct * (1.0 - shaded) + diffuse));
                if (code == kObjectLawn) var[22][c] = float(0.04 + 0.01 * n);
                if (code == kObjectWater) var[22][c] = float(0.08 + 0.01 * n);
            }
        }
    }
    return var;
}

inline const std::vector<std::string>& variableNames() {
    static const std::vector<std::string> names = {
        "Objects ( )",
        "Flow u (m/s)",
        "Flow v (m/s)",
        "Flow w (m/s)",
        "Wind Speed (m/s)",
        "Wind Speed Change (%)",
        "Wind Direction (deg)",
        "Pressure Perturbation (Pa)",
        "Potential Air Temperature (K)",
        "Air Temperature (degC)",
        "Spec. Humidity (g/kg)",
        "Relative Humidity (%)",
        "Air Temperature Change (K/h)",
        "Turbulent Kinetic Energy (m2/s2)",
        "Dissipation (m2/s3)",
        "Vertical Exchange Coef. Momentum (m2/s)",
        "Horizontal Exchange Coef. Momentum (m2/s)",
        "Absolute Humidity (g/m3)",
        "Mean Radiant Temperature (K)",
        "Direct Shortwave Radiation (W/m2)",
        "Diffuse Shortwave Radiation (W/m2)",
        "Reflected Shortwave Radiation (W/m2)",
        "Vapor Flux (g/kg*m/s)",
    };
    return names;
}

// ---- writing ---------------------------------------------------------------------

inline void writeDataSet(const tScene& s, const tOptions& o, int32_t n, kwd::tDateTime when,
                         kwd::dataset::tSimFileState state, const std::string& zdxPath) {
    kwd::dataset::TZDXFile d;
    d.filetype = 2;
    d.fileContent = kwd::dataset::ckAtmosphere;
    d.SimFileState = state;
    d.SpatialDimensions = 3;
    d.GridsI = s.nI;
    d.GridsJ = s.nJ;
    d.GridsK = s.nK;
    d.sizedx.assign(size_t(s.nI), float(s.dx));
    d.sizedy.assign(size_t(s.nJ), float(s.dy));
    d.sizedz.assign(size_t(s.nK), float(s.dz));
    d.DataPerVariable = 1;
    d.numberVars = kNumberOfVariables;
    d.nameVars = variableNames();
    d.Title = "Example street and courtyard";
    d.SimBaseID = o.project;
    d.simdate = kwd::regional::shortDate(when);
    d.simtime = kwd::regional::longTime(when);
    d.projectname = o.project;
    d.Modelversion = "example";
    d.SimGUID = "00000000-0000-0000-0000-000000000000";
    d.LicenseHolder = "kwd-footprint example";
    d.Locationname = "Example town";
    d.Sunposition = -999.0f;
    d.WindInflow = float(windDirection(n));
    d.WriteFile(zdxPath);

    const std::vector<std::vector<float>> fields = makeFields(s, n);
    kwd::dataset::tZDTWriter zdt(zdxPath.substr(0, zdxPath.size() - 4) + ".ZDT");
    for (const std::vector<float>& block : fields) zdt.WriteBlock(block);
    zdt.Close();
}

// "<project>_AT_hh.mm.ss_dd.mm.yyyy.ZDX"
inline std::string outputFileName(const std::string& project, kwd::tDateTime when,
                                  const std::string& tag = "") {
    return project + "_AT_" + tag + kwd::regional::fileNameSafe(kwd::regional::longTime(when)) +
           "_" + kwd::regional::shortDate(when) + ".ZDX";
}

// The default detector: above the middle of the street at sensor height.
inline void defaultDetector(const tScene& s, double out[6]) {
    const double zTop = s.lengthZ();
    out[0] = 0.47 * s.lengthX();
    out[1] = 0.53 * s.lengthX();
    out[2] = 0.47 * s.lengthY();
    out[3] = 0.53 * s.lengthY();
    out[4] = std::min(1.5, 0.3 * zTop);
    out[5] = std::min(2.5, 0.5 * zTop);
}

inline tWritten writeExample(const tOptions& o) {
    if (o.outputs < 2) throw kwd::InputError("the example needs at least two outputs");
    if (o.outputSpacing < 1) throw kwd::InputError("the example's output spacing must be positive");
    kwd::tDateTime first = 0;
    if (!kwd::tryParseModelDateTime(o.firstDate, o.firstTime, first)) {
        throw kwd::InputError("\"" + o.firstDate + " " + o.firstTime +
                              "\" is not a date and time (dd.mm.yyyy hh:mm:ss)");
    }
    const tScene s = makeScene(o);
    const std::string root = std::filesystem::absolute(o.folder).lexically_normal().string();
    const std::string atmosphere = root + "/atmosphere";
    kwd::createFolders(atmosphere);

    tWritten written;
    if (o.initialisation) {
        const kwd::tDateTime start = kwd::incMilliseconds(first, -int64_t(o.outputSpacing) * 1000);
        written.initialisationPath = atmosphere + "/" + outputFileName(o.project, start, "(initialisation)_");
        writeDataSet(s, o, 0, start, kwd::dataset::fsInitialisation, written.initialisationPath);
    }
    for (int32_t n = 0; n < o.outputs; ++n) {
        const kwd::tDateTime when = kwd::incMilliseconds(first, int64_t(n) * o.outputSpacing * 1000);
        const std::string path = atmosphere + "/" + outputFileName(o.project, when);
        writeDataSet(s, o, n, when, kwd::dataset::fsNormal, path);
        written.zdxPaths.push_back(path);
    }

    const bool detectorGiven = std::any_of(std::begin(o.detector), std::end(o.detector),
                                           [](double v) { return v != 0.0; });
    if (detectorGiven) std::copy(std::begin(o.detector), std::end(o.detector), written.detector);
    else defaultDetector(s, written.detector);

    kwd::frontend::tTRAFile tra;
    tra.fRootPath = root;
    const double* d = written.detector;
    tra.setDetectorValues(float(d[0]), float(d[1]), float(d[2]), float(d[3]), float(d[4]), float(d[5]));
    tra.setParticleMultiplier(o.particles);
    tra.setMinHeight(o.minHeight);
    tra.fZDXFileList = written.zdxPaths;
    tra.SaveToFile(root + "/" + o.project);
    written.traPath = root + "/" + o.project + ".tra";
    return written;
}

}  // namespace example

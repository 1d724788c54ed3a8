#pragma once
// The virtual particle: the detector box it is released in, the release's
// rule for the box, and the particle record with its cell location. The
// positions, cells, field arrays and grid geometry are in u_Grid.h.

#include <cstdint>
#include <optional>
#include <vector>

#include "dataset/u_ZDXFile.h"
#include "engine/u_Grid.h"
#include "platform/LargeMemory.h"

namespace kwd::engine {

// The detector box in model metres.
struct tDetector {
    double xMin = 0.0;
    double xMax = 0.0;
    double yMin = 0.0;
    double yMax = 0.0;
    double zMin = 0.0;
    double zMax = 0.0;
};

// A 64-bit float that has not been set yet; tested as "less than the threshold".
constexpr double kUnsetValue = -99999999.0;
constexpr double kUnsetThreshold = -99999990.0;
inline bool isUnsetValue(double v) { return v < kUnsetThreshold; }

// Cell marker of a particle that has finished (kPosGridOutside: outside the
// model box).
constexpr tPosGrid kPosGridFinished{-1, -1, -1};

// The release's rule for a detector bound: the bound in whole millimetres,
// rounded to the nearest (ties to even); none for a bound that is not finite,
// not below 3.0e6 m in magnitude or beyond 32-bit millimetres (the release
// refuses such a box with kwd::RunSetupError).
std::optional<int32_t> releaseMillimetres(double aMetres);

// The detector box as the release draws from it: each axis' bounds in
// whole millimetres (releaseMillimetres), the lower one first. A bound the
// release refuses raises kwd::RunSetupError; the bounds are taken in the
// order xMin, xMax, yMin, yMax, zMin, zMax.
struct tReleaseBox {
    int32_t first[3] = {0, 0, 0};
    int32_t last[3] = {0, 0, 0};
    explicit tReleaseBox(const tDetector& aDetector);
};

// One virtual particle. A plain record owned by the engine's particle list.
class tParticle {
public:
    // The fields a pass reads for every particle come first, in one cache
    // line, so that a visit of a particle that no longer moves stays cheap.
    int64_t fLoopIdx = -1;                     // main-loop interval that moves this particle
    bool fInModel = true;                      // alive and inside the model box
    bool fMetTarget = false;
    bool fInObstacle = false;                  // last result of CheckObstacle
    double fdt_sum = 0.0;                      // time advanced in the current call, s
    double fStartTime = 0.0;                   // release time (date-time)
    tPosMeter fTargetPosMeter{-1.0, -1.0, -1.0};  // where the target was met
    tPosGrid fTargetPosGrid{-1, -1, -1};       // cell where the target was met
    tPosGrid fOriginPosGrid{};                 // release cell
    tPosMeter fOriginPosMeter{};               // release position
    tPosGrid fPosGrid{};                       // current cell; markers above
    tPosMeter fPosMeter{};                     // current position, metres
    double fTimeUntilHit = 0.0;                // the particle's own clock (date-time)
    double fTravelDistance = 0.0;              // path length, metres
    double fWEmitter = kUnsetValue;            // total w at the emitter end, m/s
    double fWDetector = kUnsetValue;           // total w at the detector end, m/s
    double fdt = -1.0;                         // last sub-step, s
    double fAge = kUnsetValue;                 // sum of sub-steps; < 0: velocity not set up
    double fAge_m = 0.0;                       // fAge before the last sub-step
    double frVar1 = kUnsetValue;               // sub-grid velocity along x, m/s
    double frVar2 = kUnsetValue;               // along y
    double frVar3 = kUnsetValue;               // along z
    double fRG_u = kUnsetValue;                // standard normal numbers of the last sub-step
    double fRG_v = kUnsetValue;
    double fRG_w = kUnsetValue;
    double fRG_u_old = 0.0;                    // those of the sub-step before
    double fRG_v_old = 0.0;
    double fRG_w_old = 0.0;
    double fe_m = kUnsetValue;                 // kinetic energy at the particle in the last sub-step

    // Random streams: the particle's serial number in the run and the number
    // of words it has drawn from its velocity stream.
    int64_t fSerialNr = 0;
    uint64_t fRandCounter = 0;
    // Sub-steps made in the particle's life (for diagnostics and benchmarks).
    int64_t fSubSteps = 0;

    // A particle at the origin with the field values of a fresh particle
    // (for building particles by hand).
    tParticle() = default;
    // Every field equal (doubles by value: 0.0 equals -0.0).
    bool operator==(const tParticle&) const = default;

    // Release inside the detector box: with midPoint the middle of the box,
    // otherwise a position of millimetre resolution drawn from the release
    // stream of (aSeed, aSerialNr), x, y, z in turn; each axis from
    // [min(a, b), max(a, b)) with a, b the rounded bounds in mm (a when equal).
    // A bound that does not fit 32-bit millimetres raises kwd::RunSetupError.
    tParticle(const tDetector& aDetector, bool midPoint, const kwd::dataset::TZDXFile& aZDXFile,
              double aDateTime, uint64_t aSeed, int64_t aSerialNr);
    // The same, locating the cell with the precomputed faces of the data set.
    tParticle(const tDetector& aDetector, bool midPoint, const tGridGeometry& aGeometry,
              double aDateTime, uint64_t aSeed, int64_t aSerialNr);
    // The same drawn from a box whose bounds are converted already (a batch
    // of particles converts them once).
    tParticle(const tReleaseBox& aBox, const tGridGeometry& aGeometry, double aDateTime,
              uint64_t aSeed, int64_t aSerialNr);

    // fPosGrid from fPosMeter; outside the box (-999, -999, -999) and fInModel false.
    void calcGridFromMeters(const kwd::dataset::TZDXFile& aZDXFile);
    void calcGridFromMeters(const tGridGeometry& aGeometry) {
        if (!aGeometry.locate(fPosMeter, fPosGrid)) {
            fPosGrid = kPosGridOutside;
            fInModel = false;
        }
    }
    // fPosMeter := centre of cell fPosGrid. An index outside the width arrays
    // raises kwd::GeneralError and leaves the particle unchanged.
    void calcMeterFromGrid(const kwd::dataset::TZDXFile& aZDXFile);
    // fTravelDistance / whole seconds between fStartTime and fTimeUntilHit; 0 below 1 s.
    double getMeanVelocity() const;

private:
    void drawPosition(const tDetector& aDetector, bool midPoint, uint64_t aSeed);
    void drawPosition(const tReleaseBox& aBox, uint64_t aSeed);
    void finishRelease(double aDateTime);
};

// The engine's list of particles: a large one on whole huge pages; the
// release grows it and writes each new particle in its place on the workers
// (tLargeRoomAllocator). resize() adds particles unwritten: particles of the
// default values come from assign(n, tParticle{}), insert or push_back.
using tParticleList = std::vector<tParticle, kwd::tLargeRoomAllocator<tParticle>>;

}  // namespace kwd::engine

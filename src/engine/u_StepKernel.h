#pragma once
// Inside the engine: the field sampling and the sub-step loop of one
// particle, written once and compiled twice, for the x86-64 baseline (SSE2)
// and for processors with AVX2, and chosen when the program starts. The
// operations of each variant are in u_StepIsa.h, the Gaussian numbers in
// u_StepGaussians.h.
//
// The model: a Lagrangian stochastic model of the sub-grid velocity that
// meets the well-mixed condition (Thomson, J. Fluid Mech. 180, 1987), in the
// sub-grid form of Weil, Sullivan and Moeng (J. Atmos. Sci. 61, 2004): the
// resolved wind plus a Langevin velocity whose forcing is scaled by the
// sub-grid share fs of the velocity variance (langevin below).
//
// Both variants do exactly the same floating-point operations in the same
// order: the vector code only computes independent values side by side (27
// distances, square roots and reciprocals; eight weighted sums, each in its
// own lane, each added up in the order of the cells; the three Gaussian
// numbers' divisions and roots), where BENCHMARKS.md shows that it pays;
// everything else is scalar. Nothing is fused into multiply-adds
// (-ffp-contract=off, and the AVX2 variant does not enable FMA). The
// described model moves several particles side by side (u_StepLanes.h)
// with the operations of this one-particle step, lane by lane.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/u_Random.h"
#include "engine/u_StepGaussians.h"
#include "engine/u_StepIsa.h"
#include "engine/u_Touchdowns.h"
#include "engine/u_tParticleManager.h"
#include "platform/DateTime.h"
#include "platform/LargeMemory.h"

namespace kwd::engine {

namespace kwdstep {

constexpr double kC0 = 3.0;                  // Kolmogorov constant before scaling by fs
constexpr double kTimeStepFraction = 0.025;  // sub-step as a fraction of T_L
constexpr double kGrowthLimit = 2.0;         // a sub-step is at most twice the one before
constexpr double kEndTolerance = 1e-8;       // s left below which the call ends
constexpr double kRegulariser = 1e-20;       // keeps ratios of energies and rates finite
constexpr double kTruncation = 5.0;          // bound of the Gaussian numbers
constexpr double kWThreshold = 0.001;        // m/s, least |w| for a weight and for a hit
constexpr double kRoughnessLength = 0.01;    // m, of the wind profile below the lowest node

// What sampling and the step read during a pass; fixed while it runs.
struct tStepContext {
    const tSampleCell* cells = nullptr;
    const uint8_t* cellClass = nullptr;
    const uint8_t* freeAround = nullptr;  // no obstacle around the cell (tParticleManager)
    const double* X = nullptr;   // nodes along x, y, z and the level tops
    const double* Y = nullptr;
    const double* Zm = nullptr;
    const double* Zt = nullptr;
    const double* Kv = nullptr;  // level means of k, and the resolved variances
    const double* U2 = nullptr;
    const double* V2 = nullptr;
    const double* W2 = nullptr;
    int32_t nI = 0, nJ = 0, nK = 0;
    double lowestNode = 0.0;     // sizedz[0] / 2
    const tGridGeometry* geometry = nullptr;
    double dtMinPart = 0.0;
    double minHeight = 0.0;
    uint64_t seed = 0;
    // The touchdown model only: the object codes [i][j][k], the measurement
    // times (release times) whose slots the touchdown sums use, and whether
    // each touchdown is recorded for the touchdown list.
    const int64_t* objects = nullptr;
    const double* slotTimes = nullptr;
    size_t slotCount = 0;
    bool keepRecords = false;

    size_t index(int32_t i, int32_t j, int32_t k) const {
        return (size_t(i) * size_t(nJ) + size_t(j)) * size_t(nK) + size_t(k);
    }
};

tStepContext stepContext(const tParticleManager& e);

// Sorts keys (cell << 32 | list index), cells below 2^cellBits, by cell,
// keeping the order of keys of the same cell; scratch is working space.
void sortByCell(kwd::tLargeVector<uint64_t>& keys, kwd::tLargeVector<uint64_t>& scratch,
                int cellBits);

// One cell's part of the weighted sums: its weight wn, and wn times the
// eight values of its record.
KWD_ALWAYS_INLINE void addCell(double wn, const tSampleCell& rec, tV4& lo, tV4& hi, double& sw) {
    tV4 r0, r1;
    load4(r0, rec.v);
    load4(r1, rec.v + 4);
    sw += wn;
    lo += wn * r0;
    hi += wn * r1;
}

// The weighted sums over the L layers of the 3 x 3 columns from the cell
// records at base (column i - 1, row j - 1, first layer), in the order
// column, row, layer; cells that are obstacles are left out except the
// particle's own (the middle column, layer 1 of three, else layer 0).
template <int L>
KWD_ALWAYS_INLINE void accumulate(const tStepContext& c, size_t base, const double* w, tV4& lo,
                                  tV4& hi, double& sw) {
    const size_t strideI = size_t(c.nJ) * size_t(c.nK), strideJ = size_t(c.nK);
    constexpr int ownLayer = L == 3 ? 1 : 0;
#pragma GCC unroll 3
    for (int a = 0; a < 3; ++a) {
#pragma GCC unroll 3
        for (int b = 0; b < 3; ++b) {
            const size_t at = base + size_t(a) * strideI + size_t(b) * strideJ;
            const tSampleCell* rec = c.cells + at;
            const uint8_t* cls = c.cellClass + at;
#pragma GCC unroll 3
            for (int l = 0; l < L; ++l) {
                const bool own = a == 1 && b == 1 && l == ownLayer;
                if (!own && cls[l] == kCellObstacle) continue;
                addCell(w[(a * 3 + b) * 3 + l], rec[l], lo, hi, sw);
            }
        }
    }
}

// The same sums over three layers where no cell of the block is an obstacle
// (freeAround): no class is read, and the columns are taken in a loop,
// which keeps the weights in memory and the sums in registers (unrolled
// in full, the compiler keeps the 27 addresses and weights in registers and
// spills them).
KWD_ALWAYS_INLINE void accumulateFree(const tStepContext& c, size_t base, const double* w,
                                      tV4& lo, tV4& hi, double& sw) {
    const size_t strideI = size_t(c.nJ) * size_t(c.nK), strideJ = size_t(c.nK);
    const tSampleCell* column = c.cells + base;
#pragma GCC unroll 1
    for (int a = 0; a < 3; ++a, column += strideI, w += 9) {
#pragma GCC unroll 3
        for (int b = 0; b < 3; ++b) {
            const tSampleCell* rec = column + size_t(b) * strideJ;
#pragma GCC unroll 3
            for (int l = 0; l < 3; ++l) addCell(w[b * 3 + l], rec[l], lo, hi, sw);
        }
    }
}

// 2. Inverse-distance weighting (power 1) over the neighbourhood of a
// particle at pos in column (i, j), inside the grid: the layers kFirst ..
// kFirst + layers - 1 of the 3 x 3 columns around it, the particle's own cell
// always, the others unless they are obstacles. Squared distance to a node:
// (dx^2 + dy^2) + dz^2, as calc_Distance. The weighted means of u, v, w, k go
// to mean0, those of eps and the three gradients to mean1.
template <class Isa>
KWD_ALWAYS_INLINE void neighbourhoodMeans(const tStepContext& c, const tPosMeter& pos, int32_t i,
                                          int32_t j, int32_t kFirst, int32_t layers, tV4& mean0,
                                          tV4& mean1) {
    double dx2[3], dy2[3], dz2[3] = {0.0, 0.0, 0.0};
    for (int32_t n = 0; n < 3; ++n) {
        const double dx = pos.x - c.X[i - 1 + n];
        const double dy = pos.y - c.Y[j - 1 + n];
        dx2[n] = dx * dx;
        dy2[n] = dy * dy;
    }
    for (int32_t l = 0; l < layers; ++l) {
        const double dz = pos.z - c.Zm[kFirst + l];
        dz2[l] = dz * dz;
    }
    double dxy[9];
    for (int32_t a = 0; a < 3; ++a)
        for (int32_t b = 0; b < 3; ++b) dxy[a * 3 + b] = dx2[a] + dy2[b];
    alignas(32) double w[28];
    Isa::weights(dxy, dz2, w);
    tV4 lo = {0.0, 0.0, 0.0, 0.0}, hi = {0.0, 0.0, 0.0, 0.0};
    double sw = 0.0;
    const size_t base = c.index(i - 1, j - 1, kFirst);
    if (layers == 3) {
        if (c.freeAround[base + c.index(1, 1, 1)] != 0)
            accumulateFree(c, base, w, lo, hi, sw);
        else
            accumulate<3>(c, base, w, lo, hi, sw);
    } else if (layers == 2) {
        accumulate<2>(c, base, w, lo, hi, sw);
    } else {
        accumulate<1>(c, base, w, lo, hi, sw);
    }
    // Each sum divided by the sum of the weights.
    const tV4 sums = {sw, sw, sw, sw};
    mean0 = lo / sums;
    mean1 = hi / sums;
}

// 3. The layer profiles at height z in a layer k with layers below and
// above it (0 < k < nK - 1): linear between the nodes of this layer and the
// next (k and the u, v variances), the w variance between the level tops.
// at(a, n, v) sets v to a[k + n]. T is a double, or a register of particles
// side by side (each lane with its own k).
template <class T, class At>
KWD_ALWAYS_INLINE void interiorProfiles(const tStepContext& c, const T& z, At at, T& kMean, T& su,
                                        T& sv, T& sw) {
    T zm0, zm1, kv0, kv1, u0, u1, v0, v1, wBelow, w0, ztBelow, zt0;
    at(c.Zm, 0, zm0), at(c.Zm, 1, zm1), at(c.Kv, 0, kv0), at(c.Kv, 1, kv1);
    at(c.U2, 0, u0), at(c.U2, 1, u1), at(c.V2, 0, v0), at(c.V2, 1, v1);
    at(c.W2, -1, wBelow), at(c.W2, 0, w0), at(c.Zt, -1, ztBelow), at(c.Zt, 0, zt0);
    const T dZm = zm1 - zm0;
    const T above = z - zm0;
    kMean = kv0 + (kv1 - kv0) / dZm * above;
    su = u0 + (u1 - u0) * above / dZm;
    sv = v0 + (v1 - v0) * above / dZm;
    sw = wBelow + (w0 - wBelow) * (z - ztBelow) / (zt0 - ztBelow);
}

// 4. Sub-grid fraction, from the profiles as they stand. They can
// extrapolate below 0 near the bottom of a layer, and the fraction may then
// leave 0..1: only there is it clamped (a value that is not a number, which
// finite profiles never give, counts as 0). No division where the total is 0.
template <class T>
KWD_ALWAYS_INLINE void subgridFraction(const T& kMean, const T& su, const T& sv, const T& sw,
                                       T& fsOut) {
    const T resolvedVariance = (su + sv + sw) * (1.0 / 3.0);
    const T subgridVariance = kMean * (2.0 / 3.0);
    const T total = subgridVariance + resolvedVariance;
    const T fs = total == 0.0 ? 1.0 : subgridVariance / (total == 0.0 ? 1.0 : total);
    fsOut = fs >= 0.0 ? (1.0 < fs ? 1.0 : fs) : 0.0;
}

// The flow at a live particle at aPos in aCell: mean wind, k, eps, the
// gradient of (2/3) k and the sub-grid fraction fs. The touchdown model has
// no wind below the roughness length (the described profile reverses it).
template <class Isa, tFootprintModel M = tFootprintModel::Described>
KWD_ALWAYS_INLINE tFieldSample sampleAt(const tStepContext& c, const tPosMeter& pos,
                                        const tPosGrid& cell) {
    tFieldSample s;
    s.fs = 0.0;
    const int32_t i = cell.i, j = cell.j, k = cell.k;
    const double z = pos.z;
    const double* Zm = c.Zm;
    const double* Zt = c.Zt;

    // 1. Case selection.
    const bool boundary = i == 0 || i == c.nI - 1 || j == 0 || j == c.nJ - 1 || k == c.nK - 1;
    if (boundary) {
        const double* r = c.cells[c.index(i, j, k)].v;
        s.u = r[0], s.v = r[1], s.w = r[2], s.k = r[3], s.eps = r[4];
        s.gx = r[5], s.gy = r[6], s.gz = r[7];
    } else {
        const bool logProfile = k == 0 && c.lowestNode > z;
        const int32_t kFirst = k == 0 ? 0 : k - 1;
        const int32_t kLast = logProfile ? 0 : k + 1;
        tV4 mean0, mean1;
        neighbourhoodMeans<Isa>(c, pos, i, j, kFirst, kLast - kFirst + 1, mean0, mean1);
        s.k = mean0[3];
        s.eps = mean1[0];
        s.gx = mean1[1];
        s.gy = mean1[2];
        s.gz = mean1[3];
        if (logProfile) {
            // Logarithmic profile from the cell's own wind. On the ground
            // itself (z = 0) the profile has no value; the wind there is 0.
            // Each component is multiplied by ln(z / z0) before it is divided
            // by ln(node / z0), in that order.
            if (M == tFootprintModel::Described ? z > 0.0 : z > kRoughnessLength) {
                const double lnZ = std::log(z / kRoughnessLength);
                const double lnNode = std::log(c.lowestNode / kRoughnessLength);
                const double* r = c.cells[c.index(i, j, 0)].v;
                s.u = r[0] * lnZ / lnNode;
                s.v = r[1] * lnZ / lnNode;
                s.w = r[2] * lnZ / lnNode;
            }
        } else {
            s.u = mean0[0];
            s.v = mean0[1];
            s.w = mean0[2];
        }
    }

    // 3. Layer profiles at height z.
    const double* Kv = c.Kv;
    const double* U2 = c.U2;
    const double* V2 = c.V2;
    const double* W2 = c.W2;
    double kMean, su, sv, sw;
    if (k == 0) {
        // Linear from 0 at the ground: u and v variances up to the node of
        // layer 1's half-way point, w variance up to the layer top.
        kMean = Kv[0];
        const double d = (Zm[1] - Zm[0]) * 0.5;
        su = U2[1] * z / d;
        sv = V2[1] * z / d;
        sw = W2[0] * z / Zt[0];
    } else if (k == c.nK - 1) {
        kMean = 0.0;
        // No layer above to interpolate towards: the top layer's own values.
        su = U2[k];
        sv = V2[k];
        sw = W2[k - 1] + (W2[k] - W2[k - 1]) * (z - Zt[k - 1]) / (Zt[k] - Zt[k - 1]);
    } else {
        interiorProfiles(
            c, z, [k](const double* a, int32_t n, double& v) { v = a[k + n]; }, kMean, su, sv, sw);
    }
    subgridFraction(kMean, su, sv, sw, s.fs);
    return s;
}

// The shortest sub-step: the end tolerance, or the time still to go when
// that is shorter. Sub-steps of ordinary particles (T_L above 4e-7 s) are
// longer and keep their length.
// dt := that length where dt is shorter; T as for interiorProfiles.
template <class T>
KWD_ALWAYS_INLINE void atLeastEndTolerance(T& dt, const T& r) {
    const T least = r < kEndTolerance ? r : kEndTolerance;
    dt = dt < least ? least : dt;
}

// The Langevin update of one component u' of the sub-grid velocity
// (Thomson 1987; the sub-grid form of Weil, Sullivan and Moeng 2004):
// u' := u' + [memory + drift + forcing] with
//   memory  = -B u' dt / ((4/3) k + 1e-20)   (relaxation with T_L),
//   drift   = 0.5 (D u' / k + g) dt           (change of k along the path,
//                                              gradient g of sigma^2),
//   forcing = sqrt(max(B, 1e-20)) xi sqrt(dt) (random forcing, xi standard
//                                              normal).
// B = fs C0 eps is the forcing's rate, D = dk/dt along the path; the
// regulariser keeps the ratios finite where k vanishes.
// T is a double, or a register of particles side by side.
template <class T>
struct tLangevinStep {
    T dt;           // sub-step, s
    T rate;         // B, m2/s3
    T kChange;      // D, m2/s3
    T k;            // sub-grid energy, m2/s2
    T memoryScale;  // (4/3) k + 1e-20
    T sqrtRate;     // sqrt(max(B, 1e-20))
    T sqrtDt;
};

KWD_ALWAYS_INLINE tLangevinStep<double> langevinStep(double B, double D, double k, double dt) {
    return {dt, B, D, k, (4.0 / 3.0) * k + kRegulariser,
            std::sqrt(B > kRegulariser ? B : kRegulariser), std::sqrt(dt)};
}

// velocity := the updated velocity.
template <class T>
KWD_ALWAYS_INLINE void langevin(const tLangevinStep<T>& s, T& velocity, const T& gradient,
                                const T& xi) {
    const T memory = -s.rate * velocity * s.dt / s.memoryScale;
    const T drift = 0.5 * (s.kChange * velocity / s.k + gradient) * s.dt;
    const T forcing = s.sqrtRate * xi * s.sqrtDt;
    velocity = velocity + (memory + drift + forcing);
}

// The three components, each on its own.
KWD_ALWAYS_INLINE void langevin(double& r1, double& r2, double& r3, double xu, double xv,
                                double xw, double gx, double gy, double gz, double B, double D,
                                double k, double dt) {
    const tLangevinStep<double> s = langevinStep(B, D, k, dt);
    langevin(s, r1, gx, xu);
    langevin(s, r2, gy, xv);
    langevin(s, r3, gz, xw);
}

// Dates whose clock the step keeps in whole milliseconds through a call:
// below 2^19 days (the year 3335) a date-time converts to milliseconds and
// back without change, so moving the millisecond count and converting once
// gives what converting after every sub-step gives.
constexpr double kMillisecondClockLimit = 524288.0;

// Touchdown model: a particle that moved from aFrom (in cell aFromCell) into
// the obstacle cell aCell at aPos is mirrored at the faces it crossed into
// the obstacle (the crossed components of the sub-grid velocity reversed);
// should it cross an edge, it is mirrored at every face it crossed. Where the
// mirrored position is still in an obstacle it goes back to aFrom (the
// velocity stays reversed). A particle that was in an obstacle before ends
// there. Returns whether it was mirrored at the top face of an obstacle.
KWD_ALWAYS_INLINE bool reflectAtObstacle(const tStepContext& c, const tPosMeter& aFrom,
                                         const tPosGrid& aFromCell, tPosMeter& aPos,
                                         tPosGrid& aCell, double& r1, double& r2, double& r3,
                                         bool& aInModel) {
    const tPosGrid hit = aCell;
    auto obstacle = [&c](int32_t i, int32_t j, int32_t k) {
        return c.cellClass[c.index(i, j, k)] == kCellObstacle;
    };
    if (aFromCell.i < 0 || obstacle(aFromCell.i, aFromCell.j, aFromCell.k)) {
        aCell = kPosGridFinished;
        aInModel = false;
        return false;
    }
    bool mx = hit.i != aFromCell.i && obstacle(hit.i, aFromCell.j, aFromCell.k);
    bool my = hit.j != aFromCell.j && obstacle(aFromCell.i, hit.j, aFromCell.k);
    bool mz = hit.k != aFromCell.k && obstacle(aFromCell.i, aFromCell.j, hit.k);
    if (!mx && !my && !mz) {
        mx = hit.i != aFromCell.i;
        my = hit.j != aFromCell.j;
        mz = hit.k != aFromCell.k;
    }
    const tGridGeometry& g = *c.geometry;
    if (mx) {
        const double face = g.facesX()[size_t(hit.i > aFromCell.i ? hit.i : hit.i + 1)];
        aPos.x = 2.0 * face - aPos.x;
        r1 = -r1;
    }
    if (my) {
        const double face = g.facesY()[size_t(hit.j > aFromCell.j ? hit.j : hit.j + 1)];
        aPos.y = 2.0 * face - aPos.y;
        r2 = -r2;
    }
    const bool top = mz && hit.k < aFromCell.k;
    if (mz) {
        const double face = g.facesZ()[size_t(hit.k > aFromCell.k ? hit.k : hit.k + 1)];
        aPos.z = 2.0 * face - aPos.z;
        r3 = -r3;
    }
    if (!g.locateFrom(aPos, aCell)) {
        aCell = kPosGridOutside;
        aInModel = false;
        return false;
    }
    if (obstacle(aCell.i, aCell.j, aCell.k)) {
        aPos = aFrom;
        aCell = aFromCell;
        return false;
    }
    return top;
}

// The part of a particle the step changes, held in locals for a call:
// loaded from the particle at its start and stored back at its end.
struct tMovingState {
    tPosMeter pos;
    tPosGrid cell;
    bool inModel;
    bool metTarget;
    double dt;                // the last sub-step, s
    double age, ageM, eM;     // age, age before the last sub-step, k in it
    double r1, r2, r3;        // sub-grid velocity, m/s
    double gU, gV, gW;        // the Gaussian numbers of the last sub-step
    double travel;            // path length, m
    double wDetector;         // total w at the detector end, m/s
    int64_t subSteps;

    static KWD_ALWAYS_INLINE tMovingState load(const tParticle& p) {
        return {p.fPosMeter, p.fPosGrid, p.fInModel, p.fMetTarget, p.fdt,
                p.fAge,      p.fAge_m,   p.fe_m,     p.frVar1,     p.frVar2,
                p.frVar3,    p.fRG_u,    p.fRG_v,    p.fRG_w,      p.fTravelDistance,
                p.fWDetector, p.fSubSteps};
    }
    // Stores the state and the time stepped in the call; after a call with
    // sub-steps the Gaussian numbers are also the "old" ones.
    KWD_ALWAYS_INLINE void store(tParticle& p, double dtSum) const {
        p.fPosMeter = pos;
        p.fPosGrid = cell;
        p.fInModel = inModel;
        p.fMetTarget = metTarget;
        p.fdt_sum = dtSum;
        p.fdt = dt;
        p.fAge = age;
        p.fAge_m = ageM;
        p.fe_m = eM;
        p.frVar1 = r1, p.frVar2 = r2, p.frVar3 = r3;
        p.fRG_u = gU, p.fRG_v = gV, p.fRG_w = gW;
        if (subSteps != p.fSubSteps) {
            p.fRG_u_old = gU, p.fRG_v_old = gV, p.fRG_w_old = gW;
        }
        p.fTravelDistance = travel;
        p.fWDetector = wDetector;
        p.fSubSteps = subSteps;
    }
};

// One particle through one call of dt_3d seconds (the particle is alive and
// belongs to the current interval): its state held for the call
// (tMovingState) and stored at the end, the time stepped so far and its
// clock. The touchdown model adds its touchdowns to aSums (the particle at
// aListIndex of the list). subStep is one whole sub-step; locate and
// endSubStep are the parts of it after the move that the particles moved
// side by side (u_StepLanes.h) share with it.
template <class Isa, tFootprintModel M = tFootprintModel::Described>
struct tParticleCall : tMovingState {
    static constexpr bool kTouchdown = M == tFootprintModel::Touchdown;
    const tStepContext& c;
    tParticle& p;
    tTouchdownSums* aSums;
    int64_t aListIndex;
    size_t slot = 0;  // touchdown model: the slot of the particle's measurement time
    double dtSum = 0.0;
    // The particle's clock, in whole milliseconds while it runs.
    bool msClock;
    int64_t clockMs;
    bool clockMoved = false;
    double clock;

    KWD_ALWAYS_INLINE tParticleCall(const tStepContext& aContext, tParticle& aParticle,
                                    tTouchdownSums* sums, int64_t listIndex)
        : tMovingState(tMovingState::load(aParticle)),
          c(aContext),
          p(aParticle),
          aSums(sums),
          aListIndex(listIndex),
          msClock(std::fabs(aParticle.fTimeUntilHit) < kMillisecondClockLimit),
          clockMs(msClock ? kwd::dateTimeToMilliseconds(aParticle.fTimeUntilHit) : 0),
          clock(aParticle.fTimeUntilHit) {
        if constexpr (kTouchdown) {
            slot = c.slotCount;
            for (size_t n = c.slotCount; n-- > 0;)
                if (c.slotTimes[n] == p.fStartTime) {
                    slot = n;
                    break;
                }
        }
    }

    KWD_ALWAYS_INLINE bool moving(double dt_3d) const {
        return inModel && dt_3d - dtSum > kEndTolerance;
    }

    // The clock runs back by whole milliseconds (ties to even).
    KWD_ALWAYS_INLINE void moveClock(double aDt) {
        const int64_t ms = int64_t(std::nearbyint(aDt * 1000.0));
        if (msClock)
            clockMs -= ms;
        else
            clock = kwd::incMilliseconds(clock, -ms);
        clockMoved = true;
    }

    KWD_ALWAYS_INLINE void finish(const tRandomStream& stream) {
        store(p, dtSum);
        if (clockMoved) p.fTimeUntilHit = msClock ? kwd::millisecondsToDateTime(clockMs) : clock;
        p.fRandCounter = stream.position();
    }

    KWD_ALWAYS_INLINE void subStep(tRandomStream& stream, double dt_3d, int64_t& hits) {
        // 1. The flow at the particle.
        const tFieldSample s = sampleAt<Isa, M>(c, pos, cell);
        double k = s.k;
        const double eps = s.eps;
        const double fs = s.fs;

        // 2. Lagrangian time scale.
        const double TL = (4.0 * k + kRegulariser) / (3.0 * kC0 * fs * eps + kRegulariser);

        // 3. Sub-step length.
        const double r = dt_3d - dtSum;
        dt = kTimeStepFraction * TL;
        if (dt > dt_3d) dt = dt_3d;
        if (!(r > dt)) dt = r;
        if (dt < c.dtMinPart && r > c.dtMinPart) dt = c.dtMinPart;
        // Never shorter than the end tolerance (or the time still to go): in
        // the last fdt_min_part of a call a cell with k ~ 0 and eps > 0 has
        // T_L ~ 1e-21 s and would otherwise take ~1e19 sub-steps.
        atLeastEndTolerance(dt, r);

        // 4. Standard normal numbers truncated at +-5.
        threeGaussians<Isa>(stream, kTruncation, gU, gV, gW);

        // 5. Sub-grid velocity.
        if (age < 0.0) {
            // First sub-step of the particle's life: a velocity drawn from the
            // local variance, without a Langevin update.
            age = 0.0;
            const double sigma = std::sqrt((2.0 / 3.0) * k + kRegulariser);
            r1 = sigma * gU;
            r2 = sigma * gV;
            r3 = sigma * gW;
        } else {
            const double lastStep = age - ageM;
            if (dt > kGrowthLimit * lastStep) dt = kGrowthLimit * lastStep;
            atLeastEndTolerance(dt, r);
            // Rate of change of k along the path, bounded so that k cannot
            // fall below 0 within the sub-step.
            double kChange = (k - eM) / lastStep;
            if (-k / dt > kChange) kChange = -k / dt;
            if (!(k > kRegulariser)) k = kRegulariser;
            const double forcingRate = kC0 * fs * eps;
            if constexpr (kTouchdown) {
                // Backward in time the gradient of sigma^2 drives the other way.
                langevin(r1, r2, r3, gU, gV, gW, -s.gx, -s.gy, -s.gz, forcingRate, kChange, k,
                         dt);
            } else {
                langevin(r1, r2, r3, gU, gV, gW, s.gx, s.gy, s.gz, forcingRate, kChange, k, dt);
            }
        }

        // 6. Move backwards along the velocity.
        const tPosMeter p0 = pos;
        pos.x -= (s.u + r1) * dt;
        pos.y -= (s.v + r2) * dt;
        pos.z -= (s.w + r3) * dt;
        const double wTotal = s.w + r3;
        // Touchdown model: mirrored at a face below the particle (the
        // ground, the top of an obstacle) in this sub-step.
        bool fromBelow = false;
        if constexpr (kTouchdown) {
            // 7. Below the ground: reflected, the vertical sub-grid velocity reversed.
            if (pos.z < 0.0) {
                pos.z = -pos.z;
                r3 = -r3;
                fromBelow = true;
            }
            // 8. Cell; into an obstacle: reflected at its faces.
            const tPosGrid from = cell;
            if (!c.geometry->locateFrom(pos, cell)) {
                cell = kPosGridOutside;
                inModel = false;
            } else if (c.cellClass[c.index(cell.i, cell.j, cell.k)] == kCellObstacle) {
                if (reflectAtObstacle(c, p0, from, pos, cell, r1, r2, r3, inModel))
                    fromBelow = true;
            }
        } else {
            // 7. Below the ground: back to the minimum height, nothing else changes.
            if (pos.z < 0.0) pos.z = c.minHeight;
            locate();
        }
        // 9. Path.
        const double ddx = pos.x - p0.x, ddy = pos.y - p0.y, ddz = pos.z - p0.z;
        travel += std::sqrt(ddx * ddx + ddy * ddy + ddz * ddz);
        endSubStep(wTotal, fromBelow, k, hits);
    }

    // 8. Cell (the described model).
    KWD_ALWAYS_INLINE void locate() {
        if (!c.geometry->locateFrom(pos, cell)) {
            cell = kPosGridOutside;
            inModel = false;
        }
    }

    // The end of a sub-step after the move: wTotal the total vertical
    // velocity, fromBelow whether the particle was mirrored at a face below
    // it, k the energy of the sub-step.
    KWD_ALWAYS_INLINE void endSubStep(double wTotal, bool fromBelow, double k, int64_t& hits) {
        // 10. Target, obstacle and clock.
        const bool wLargeEnough = std::fabs(wTotal) > kWThreshold;
        if (isUnsetValue(wDetector) && wLargeEnough) wDetector = wTotal;
        if constexpr (kTouchdown) {
            if (inModel) {
                moveClock(dt);
                // A touchdown: mirrored at the bottom face of an emitter cell.
                const size_t at = c.index(cell.i, cell.j, cell.k);
                if (fromBelow && wLargeEnough && slot < c.slotCount &&
                    c.cellClass[at] == kCellTarget) {
                    const double wAbs = std::fabs(wTotal);
                    const size_t columns = size_t(c.nI) * size_t(c.nJ);
                    const size_t column = size_t(cell.j) * size_t(c.nI) + size_t(cell.i);
                    aSums->add(slot, columns, column, c.objects[at], wDetector / wAbs, 1.0 / wAbs);
                    ++hits;
                    if (c.keepRecords) {
                        tTouchdownRecord r;
                        r.listIndex = aListIndex;
                        r.cell = cell;
                        r.pos = pos;
                        r.wTouchdown = wTotal;
                        r.travel = travel;
                        r.clock = msClock ? kwd::millisecondsToDateTime(clockMs) : clock;
                        aSums->records.push_back(r);
                    }
                }
            }
        } else if (inModel && !metTarget) {
            const uint8_t cls = c.cellClass[c.index(cell.i, cell.j, cell.k)];
            if (cls == kCellTarget && wLargeEnough) {
                p.fWEmitter = wTotal;
                p.fTargetPosMeter = pos;
                p.fTargetPosGrid = cell;
                cell = kPosGridFinished;
                inModel = false;
                ++hits;
                metTarget = true;
            } else if (cls == kCellObstacle) {
                cell = kPosGridFinished;
                inModel = false;
            } else {
                moveClock(dt);
            }
        }

        // 11. Bookkeeping.
        dtSum += dt;
        ageM = age;
        age += dt;
        eM = k;
        ++subSteps;
    }
};

// One particle through one call of dt_3d seconds, one sub-step after the
// other (tParticleCall).
template <class Isa, tFootprintModel M = tFootprintModel::Described>
KWD_ALWAYS_INLINE void stepParticle(const tStepContext& c, tParticle& p, double dt_3d,
                                    int64_t& hits, tTouchdownSums* aSums = nullptr,
                                    int64_t aListIndex = 0) {
    tRandomStream stream(c.seed, p.fSerialNr, tRandomPurpose::Velocity, p.fRandCounter);
    tParticleCall<Isa, M> call(c, p, aSums, aListIndex);
    while (call.moving(dt_3d)) call.subStep(stream, dt_3d, hits);
    call.finish(stream);
}

}  // namespace kwdstep

}  // namespace kwd::engine

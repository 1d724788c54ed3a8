#pragma once
// Inside the engine: the described model's particle step with several
// particles side by side, one per lane of a register (four with AVX2, the
// variant that uses it: in the baseline variant two lanes were slower than
// one particle at a time). Each lane holds one particle's call
// (tParticleCall) and takes the next particle of the chunk as soon as that
// call ends. The common sub-step (past the first of the particle's life, in
// the grid's interior above the lowest layer: 27 cells, no logarithmic
// profile) is made by all lanes that have it at once; any other sub-step is
// made on its own by tParticleCall::subStep. Every lane does the same
// floating-point operations in the same order as the one-particle step, so
// each particle ends exactly as it would there; lanes without the common
// sub-step compute with the values of a lane that has it and keep nothing,
// so they raise no floating-point flag of their own.
//
// What stays per particle: the weighted means over the 27 cells (already
// vector code across the cells and fields: in lanes the records of four
// cells would have to be transposed), the Gaussian numbers (each lane its
// own stream and its own number of rejected pairs), the cell search, the
// target and the clock. In lanes: the layer profiles, the sub-grid
// fraction, the time scale, the sub-step length, the Langevin update, the
// move and the path, with their divisions and square roots.

#include <cstdint>
#include <cstring>
#include <optional>

#include "engine/u_StepKernel.h"

namespace kwd::engine {

namespace kwdstep {

// Whether a particle's next sub-step is the common one.
template <class Isa>
KWD_ALWAYS_INLINE bool commonSubStep(const tStepContext& c, const tParticleCall<Isa>& p) {
    return p.age >= 0.0 && p.cell.i > 0 && p.cell.i < c.nI - 1 && p.cell.j > 0 &&
           p.cell.j < c.nJ - 1 && p.cell.k > 0 && p.cell.k < c.nK - 1;
}

// One lane: the call of the particle at position m of the visit order.
template <class Isa>
struct tLane {
    tParticleCall<Isa> call;
    tRandomStream stream;
    int64_t m;

    tLane(const tStepContext& c, tParticle& p, int64_t listIndex, int64_t at)
        : call(c, p, nullptr, listIndex),
          stream(c.seed, p.fSerialNr, tRandomPurpose::Velocity, p.fRandCounter),
          m(at) {}
};

template <class Isa>
constexpr int kLaneCount = int(sizeof(typename Isa::tLanes) / sizeof(double));

// The common sub-step of the lanes whose bit is set in `common` (at least
// one), as tParticleCall::subStep makes it, step by step.
template <class Isa>
KWD_ALWAYS_INLINE void commonSubSteps(const tStepContext& c, std::optional<tLane<Isa>>* lanes,
                                      unsigned common, double dt_3d, int64_t& hits) {
    using V = typename Isa::tLanes;
    constexpr int W = kLaneCount<Isa>;
    // The call each lane computes with: its own, else that of the first
    // lane with the common sub-step.
    const int firstLane = __builtin_ctz(common);
    tParticleCall<Isa>* at[W];
    for (int l = 0; l < W; ++l)
        at[l] = &lanes[(common >> l & 1u) != 0 ? l : firstLane]->call;

    // 4. The Gaussian numbers, each lane from its own stream (first: the
    // weighted means fill the time their logarithms and roots take).
    for (int l = 0; l < W; ++l) {
        if ((common >> l & 1u) == 0) continue;
        tParticleCall<Isa>& p = *at[l];
        threeGaussians<Isa>(lanes[l]->stream, kTruncation, p.gU, p.gV, p.gW);
    }
    // 1. The flow at each particle (the weighted means; the profiles below).
    alignas(32) double means[W][8];
    for (int l = 0; l < W; ++l) {
        if ((common >> l & 1u) == 0) continue;
        const tParticleCall<Isa>& p = *at[l];
        tV4 mean0, mean1;
        neighbourhoodMeans<Isa>(c, p.pos, p.cell.i, p.cell.j, p.cell.k - 1, 3, mean0, mean1);
        std::memcpy(means[l], &mean0, sizeof mean0);
        std::memcpy(means[l] + 4, &mean1, sizeof mean1);
    }
    V u{}, v{}, w{}, k{}, eps{}, gx{}, gy{}, gz{}, x{}, y{}, z{}, age{}, ageM{}, eM{}, r1{}, r2{},
        r3{}, dtSum{}, travel{}, xu{}, xv{}, xw{};
    for (int l = 0; l < W; ++l) {
        const double* m = means[(common >> l & 1u) != 0 ? l : firstLane];
        const tParticleCall<Isa>& p = *at[l];
        u[l] = m[0], v[l] = m[1], w[l] = m[2], k[l] = m[3];
        eps[l] = m[4], gx[l] = m[5], gy[l] = m[6], gz[l] = m[7];
        x[l] = p.pos.x, y[l] = p.pos.y, z[l] = p.pos.z;
        age[l] = p.age, ageM[l] = p.ageM, eM[l] = p.eM;
        r1[l] = p.r1, r2[l] = p.r2, r3[l] = p.r3;
        xu[l] = p.gU, xv[l] = p.gV, xw[l] = p.gW;
        dtSum[l] = p.dtSum, travel[l] = p.travel;
    }
    // 3., 4. Layer profiles and sub-grid fraction.
    V kMean, su, sv, sw, fs;
    interiorProfiles(
        c, z,
        [&at](const double* a, int32_t n, V& value) {
            for (int l = 0; l < W; ++l) value[l] = a[at[l]->cell.k + n];
        },
        kMean, su, sv, sw);
    subgridFraction(kMean, su, sv, sw, fs);

    // 2. Lagrangian time scale.
    const V TL = (4.0 * k + kRegulariser) / (3.0 * kC0 * fs * eps + kRegulariser);

    // 3. Sub-step length.
    const V r = dt_3d - dtSum;
    V dt = kTimeStepFraction * TL;
    dt = dt > dt_3d ? dt_3d : dt;
    dt = r > dt ? dt : r;
    dt = ((dt < c.dtMinPart) & (r > c.dtMinPart)) ? c.dtMinPart : dt;
    atLeastEndTolerance(dt, r);

    // 5. Sub-grid velocity.
    const V lastStep = age - ageM;
    dt = dt > kGrowthLimit * lastStep ? kGrowthLimit * lastStep : dt;
    atLeastEndTolerance(dt, r);
    V kChange = (k - eM) / lastStep;
    const V fall = -k / dt;
    kChange = fall > kChange ? fall : kChange;
    k = k > kRegulariser ? k : kRegulariser;
    const V forcingRate = kC0 * fs * eps;
    tLangevinStep<V> s;
    s.dt = dt, s.rate = forcingRate, s.kChange = kChange, s.k = k;
    s.memoryScale = (4.0 / 3.0) * k + kRegulariser;
    Isa::sqrtLanes(forcingRate > kRegulariser ? forcingRate : kRegulariser, s.sqrtRate);
    Isa::sqrtLanes(dt, s.sqrtDt);
    langevin(s, r1, gx, xu);
    langevin(s, r2, gy, xv);
    langevin(s, r3, gz, xw);

    // 6. Move backwards along the velocity; 7. below the ground: back to the
    // minimum height.
    const V px = x - (u + r1) * dt;
    const V py = y - (v + r2) * dt;
    V pz = z - (w + r3) * dt;
    const V wTotal = w + r3;
    pz = pz < 0.0 ? c.minHeight : pz;
    // 9. Path.
    const V ddx = px - x, ddy = py - y, ddz = pz - z;
    V path;
    Isa::sqrtLanes(ddx * ddx + ddy * ddy + ddz * ddz, path);
    travel = travel + path;

    // 8. Cell, 10. target, obstacle and clock, 11. bookkeeping: each lane.
    for (int l = 0; l < W; ++l) {
        if ((common >> l & 1u) == 0) continue;
        tParticleCall<Isa>& p = *at[l];
        p.dt = dt[l];
        p.r1 = r1[l], p.r2 = r2[l], p.r3 = r3[l];
        p.pos = {px[l], py[l], pz[l]};
        p.travel = travel[l];
        p.locate();
        p.endSubStep(wTotal[l], false, k[l], hits);
    }
}

// The least number of lanes with the common sub-step for which it is made
// side by side; a single one costs less on its own.
constexpr int kSideBySideFrom = 2;

// The particles order[0 .. n) of the list, each through one call of dt_3d
// seconds, side by side; ended(m) is called once the call of order[m] is
// stored.
template <class Isa, class Ended>
KWD_ALWAYS_INLINE void stepSideBySide(const tStepContext& c, tParticle* particles,
                                      const int64_t* order, int64_t n, double dt_3d,
                                      int64_t& hits, Ended&& ended) {
    constexpr int W = kLaneCount<Isa>;
    std::optional<tLane<Isa>> lanes[W];
    int64_t next = 0;
    // Lane l takes the next particle that moves in this call.
    auto take = [&](int l) {
        while (next < n) {
            const int64_t m = next++;
            tLane<Isa>& lane = lanes[l].emplace(c, particles[order[m]], order[m], m);
            if (lane.call.moving(dt_3d)) return;
            lane.call.finish(lane.stream);
            ended(m);
        }
        lanes[l].reset();
    };
    for (int l = 0; l < W; ++l) take(l);
    for (;;) {
        unsigned common = 0;
        bool any = false;
        for (int l = 0; l < W; ++l) {
            if (!lanes[l]) continue;
            any = true;
            tLane<Isa>& lane = *lanes[l];
            if (commonSubStep(c, lane.call))
                common |= 1u << l;
            else
                lane.call.subStep(lane.stream, dt_3d, hits);
        }
        if (!any) return;
        if (__builtin_popcount(common) >= kSideBySideFrom) {
            commonSubSteps<Isa>(c, lanes, common, dt_3d, hits);
        } else if (common != 0) {
            tLane<Isa>& alone = *lanes[__builtin_ctz(common)];
            alone.call.subStep(alone.stream, dt_3d, hits);
        }
        for (int l = 0; l < W; ++l) {
            if (lanes[l] && !lanes[l]->call.moving(dt_3d)) {
                lanes[l]->call.finish(lanes[l]->stream);
                ended(lanes[l]->m);
                take(l);
            }
        }
    }
}

}  // namespace kwdstep

}  // namespace kwd::engine

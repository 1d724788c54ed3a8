// The particle step: one particle through one update interval, in sub-steps
// that follow the local Lagrangian time scale, with a Langevin sub-grid
// velocity; and the parallel pass over the particle list.

#include <atomic>
#include <cfenv>
#include <cmath>
#include <exception>
#include <string>

#include "engine/u_tParticleManager.h"
#include "platform/DateTime.h"
#include "platform/FpControl.h"
#include "platform/KwdError.h"

namespace {

constexpr double kC0 = 3.0;                 // Kolmogorov constant before scaling by fs
constexpr double kTimeStepFraction = 0.025; // sub-step as a fraction of T_L
constexpr double kGrowthLimit = 2.0;        // a sub-step is at most twice the one before
constexpr double kEndTolerance = 1e-8;      // s left below which the call ends
constexpr double kRegulariser = 1e-20;      // keeps ratios of energies and rates finite
constexpr double kTruncation = 5.0;         // bound of the Gaussian numbers
constexpr double kWThreshold = 0.001;       // m/s, least |w| for a weight and for a hit
constexpr int kWatchedFlags = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

// One Langevin update of a sub-grid velocity component:
// memory term (relaxation with T_L) + drift (change of k along the path and
// gradient of sigma^2) + random forcing.
inline double langevin(double uPrime, double xi, double g, double B, double D, double k,
                       double dt) {
    const double memory = -B * uPrime * dt / ((4.0 / 3.0) * k + kRegulariser);
    const double drift = 0.5 * (D * uPrime / k + g) * dt;
    const double forcing = std::sqrt(B > kRegulariser ? B : kRegulariser) * xi * std::sqrt(dt);
    return uPrime + (memory + drift + forcing);
}

// The shortest sub-step: the end tolerance, or the time still to go when
// that is shorter. Sub-steps of ordinary particles (T_L above 4e-7 s) are
// longer and keep their length.
inline double atLeastEndTolerance(double dt, double r) {
    const double least = r < kEndTolerance ? r : kEndTolerance;
    return dt < least ? least : dt;
}

}  // namespace

void tParticleManager::moveParticle(tParticle& p, double dt_3d, int64_t& hits) const {
    if (p.fLoopIdx != fMainLoopIdx) return;  // belongs to another interval
    p.fdt_sum = 0.0;
    if (!p.fInModel) return;

    tRandomStream stream(fSeed, p.fSerialNr, tRandomPurpose::Velocity, p.fRandCounter);
    while (p.fInModel && dt_3d - p.fdt_sum > kEndTolerance) {
        // 1. The flow at the particle.
        const tFieldSample s = sampleFields(p);
        double k = s.k;
        const double eps = s.eps;
        const double fs = s.fs;

        // 2. Lagrangian time scale.
        const double TL = (4.0 * k + kRegulariser) / (3.0 * kC0 * fs * eps + kRegulariser);

        // 3. Sub-step length.
        const double r = dt_3d - p.fdt_sum;
        double dt = kTimeStepFraction * TL;
        if (dt > dt_3d) dt = dt_3d;
        if (!(r > dt)) dt = r;
        if (dt < fdt_min_part && r > fdt_min_part) dt = fdt_min_part;
        // Never shorter than the end tolerance (or the time still to go): in
        // the last fdt_min_part of a call a cell with k ~ 0 and eps > 0 has
        // T_L ~ 1e-21 s and would otherwise take ~1e19 sub-steps.
        dt = atLeastEndTolerance(dt, r);

        // 4. Standard normal numbers truncated at +-5.
        p.fRG_u = randGauss(kTruncation, stream) - 1.0;
        p.fRG_v = randGauss(kTruncation, stream) - 1.0;
        p.fRG_w = randGauss(kTruncation, stream) - 1.0;

        // 5. Sub-grid velocity.
        if (p.fAge < 0.0) {
            // First sub-step of the particle's life: a velocity drawn from the
            // local variance, without a Langevin update.
            p.fAge = 0.0;
            const double sigma = std::sqrt((2.0 / 3.0) * k + kRegulariser);
            p.frVar1 = sigma * p.fRG_u;
            p.frVar2 = sigma * p.fRG_v;
            p.frVar3 = sigma * p.fRG_w;
        } else {
            const double lastStep = p.fAge - p.fAge_m;
            if (dt > kGrowthLimit * lastStep) dt = kGrowthLimit * lastStep;
            dt = atLeastEndTolerance(dt, r);
            // Rate of change of k along the path, bounded so that k cannot
            // fall below 0 within the sub-step.
            double D = (k - p.fe_m) / lastStep;
            if (-k / dt > D) D = -k / dt;
            if (!(k > kRegulariser)) k = kRegulariser;
            const double B = kC0 * fs * eps;
            p.frVar1 = langevin(p.frVar1, p.fRG_u, s.gx, B, D, k, dt);
            p.frVar2 = langevin(p.frVar2, p.fRG_v, s.gy, B, D, k, dt);
            p.frVar3 = langevin(p.frVar3, p.fRG_w, s.gz, B, D, k, dt);
        }
        p.fdt = dt;

        // 6. Move backwards along the velocity.
        const tPosMeter p0 = p.fPosMeter;
        p.fPosMeter.x -= (s.u + p.frVar1) * dt;
        p.fPosMeter.y -= (s.v + p.frVar2) * dt;
        p.fPosMeter.z -= (s.w + p.frVar3) * dt;
        // 7. Below the ground: back to the minimum height, nothing else changes.
        if (p.fPosMeter.z < 0.0) p.fPosMeter.z = fMinHeight;
        // 8. Cell.
        if (!fGeometry.locate(p.fPosMeter, p.fPosGrid)) {
            p.fPosGrid = kPosGridOutside;
            p.fInModel = false;
        }
        // 9. Path.
        const double ddx = p.fPosMeter.x - p0.x, ddy = p.fPosMeter.y - p0.y,
                     ddz = p.fPosMeter.z - p0.z;
        p.fTravelDistance += std::sqrt(ddx * ddx + ddy * ddy + ddz * ddz);

        // 10. Target, obstacle and clock.
        const double wTotal = s.w + p.frVar3;
        const bool wLargeEnough = std::fabs(wTotal) > kWThreshold;
        if (isUnsetValue(p.fWDetector) && wLargeEnough) p.fWDetector = wTotal;
        if (p.fInModel && !p.fMetTarget) {
            const uint8_t cell = CheckEmitter(p);
            if (cell == kCellTarget && wLargeEnough) {
                p.fWEmitter = wTotal;
                p.fTargetPosMeter = p.fPosMeter;
                p.fTargetPosGrid = p.fPosGrid;
                p.fPosGrid = kPosGridFinished;
                p.fInModel = false;
                ++hits;
                p.fMetTarget = true;
            } else if (cell == kCellObstacle) {
                p.fPosGrid = kPosGridFinished;
                p.fInModel = false;
            } else {
                // The clock runs back by whole milliseconds (ties to even).
                p.fTimeUntilHit =
                    kwd::incMilliseconds(p.fTimeUntilHit, -int64_t(std::nearbyint(dt * 1000.0)));
            }
        }

        // 11. Bookkeeping.
        p.fdt_sum += dt;
        p.fAge_m = p.fAge;
        p.fAge += dt;
        p.fe_m = k;
        p.fRG_u_old = p.fRG_u;
        p.fRG_v_old = p.fRG_v;
        p.fRG_w_old = p.fRG_w;
        ++p.fSubSteps;
    }
    p.fRandCounter = stream.position();
}

void tParticleManager::moveParticlesParallel(int64_t aParticleIdx, double dt_3d) {
    if (aParticleIdx < 0 || aParticleIdx >= int64_t(fParticleList.size())) {
        throw kwd::GeneralError("particle index " + std::to_string(aParticleIdx) +
                                " is outside the particle list of " +
                                std::to_string(fParticleList.size()) + " particles");
    }
    int64_t hits = 0;
    moveParticle(fParticleList[size_t(aParticleIdx)], dt_3d, hits);
    if (hits != 0)
        std::atomic_ref<int64_t>(fTotalParticlesInTarget).fetch_add(hits, std::memory_order_relaxed);
}

void tParticleManager::moveAllParticlesParallel(double dt_3d) {
    const int64_t count = int64_t(fParticleList.size());
    tParticle* particles = fParticleList.data();
    std::exception_ptr firstError;
    std::atomic<bool> failed{false};
    int64_t passHits = 0;
    auto keep = [&](std::exception_ptr e) {
#pragma omp critical(kwd_particle_step_error)
        {
            if (!firstError) firstError = e;
        }
        failed.store(true, std::memory_order_relaxed);
    };

#pragma omp parallel reduction(+ : passHits)
    {
        kwd::clearFpFlags();
        int64_t hits = 0;
#pragma omp for schedule(dynamic, 64) nowait
        for (int64_t idx = 0; idx < count; ++idx) {
            if (failed.load(std::memory_order_relaxed)) continue;
            tParticle& p = particles[idx];
            // Particles of other intervals and finished ones return at once
            // (a finished one of this interval only has its call time reset).
            if (p.fLoopIdx != fMainLoopIdx) continue;
            if (!p.fInModel) {
                if (p.fdt_sum != 0.0) p.fdt_sum = 0.0;
                continue;
            }
            try {
                moveParticle(p, dt_3d, hits);
                if (std::fetestexcept(kWatchedFlags)) {
                    kwd::checkFpFlags(("the particle step of particle " + std::to_string(idx) +
                                       " (serial number " + std::to_string(p.fSerialNr) + ")")
                                          .c_str());
                }
            } catch (...) {
                keep(std::current_exception());
            }
        }
        try {
            kwd::checkFpFlags("the particle step");
        } catch (...) {
            keep(std::current_exception());
        }
        passHits += hits;
    }
    fTotalParticlesInTarget += passHits;
    if (firstError) std::rethrow_exception(firstError);
}

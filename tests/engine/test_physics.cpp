// Known answers of the particle model: deterministic advection, Taylor
// diffusion in homogeneous turbulence, and the same particles whatever the
// number of threads.

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>

#include "support/EngineFixtures.h"
#include "platform/DateTime.h"

using kwd::engine::footprintModelName;
using kwd::engine::tFootprintModel;
using kwd::engine::tParticle;
using kwd::engine::tParticleManager;

namespace {

using kwd::test::tCellValues;

// 2 m/s along x, 1 cm/s upwards, negligible turbulence (eps = 0: one
// sub-step per call). Emitter plane at i = 3.
std::unique_ptr<tParticleManager> advectionEngine() {
    return kwd::test::makeEngine(kwd::test::uniformGrid(12, 6, 6),
                                 [](int32_t i, int32_t, int32_t k) {
                                     tCellValues c;
                                     c.u = 2.0f;
                                     c.w = 0.01f;
                                     c.tke = 1e-14f;
                                     if (i == 3 && k < 5) c.obj = 11, c.vapor = 1.0f;
                                     return c;
                                 });
}

TEST(Physics, DeterministicAdvectionHitsTheEmitterByHand) {
    // Particles go back against the wind: x 9.5 -> 7.5 -> 5.5 -> 3.5 (hit
    // in the third call).
    auto e = advectionEngine();
    for (double y : {1.5, 2.5, 4.5})
        for (double z : {1.5, 2.5, 3.5})
            e->fParticleList.push_back(
                kwd::test::particleAt(*e, 9.5, y, z, int64_t(e->fParticleList.size())));
    for (int call = 1; call <= 3; ++call) {
        e->moveAllParticlesParallel(1.0);
        EXPECT_EQ(e->fTotalParticlesInTarget, call < 3 ? 0 : 9);
    }
    for (const tParticle& p : e->fParticleList) {
        ASSERT_TRUE(p.fMetTarget);
        EXPECT_EQ(p.fTargetPosGrid.i, 3);
        EXPECT_EQ(p.fTargetPosGrid.j, p.fOriginPosGrid.j);
        EXPECT_EQ(p.fTargetPosGrid.k, p.fOriginPosGrid.k);
        EXPECT_NEAR(p.fTargetPosMeter.x, 3.5, 1e-4);
        EXPECT_NEAR(p.fTargetPosMeter.z, p.fOriginPosMeter.z - 0.03, 1e-4);
        EXPECT_NEAR(p.fTravelDistance, 3.0 * std::hypot(2.0, 0.01), 1e-4);
        // Two sub-steps of 1 s before the hit; the hit does not move the clock.
        EXPECT_EQ(kwd::secondsBetween(p.fStartTime, p.fTimeUntilHit), 2);
        EXPECT_NEAR(p.getMeanVelocity(), 1.5 * std::hypot(2.0, 0.01), 1e-4);
        EXPECT_NEAR(p.fWEmitter, 0.01, 1e-4);
        EXPECT_NEAR(p.fWDetector, 0.01, 1e-4);
        EXPECT_EQ(p.fAge, 3.0);
    }
}

TEST(Physics, DeterministicAdvectionCarriesTouchdownParticlesThroughTheEmitter) {
    // The case above in the touchdown model: no reflection on the way, so no
    // touchdown; the particles go on through the emitter plane at 2 m/s.
    auto e = advectionEngine();
    e->fFootprintModel = tFootprintModel::Touchdown;
    for (double z : {1.5, 2.5, 3.5})
        e->fParticleList.push_back(
            kwd::test::particleAt(*e, 9.5, 2.5, z, int64_t(e->fParticleList.size())));
    for (int call = 1; call <= 4; ++call) e->moveAllParticlesParallel(1.0);
    EXPECT_EQ(e->fTotalParticlesInTarget, 0);
    for (const tParticle& p : e->fParticleList) {
        ASSERT_TRUE(p.fInModel);
        EXPECT_FALSE(p.fMetTarget);
        EXPECT_NEAR(p.fPosMeter.x, 1.5, 1e-4);
        EXPECT_NEAR(p.fPosMeter.z, p.fOriginPosMeter.z - 0.04, 1e-4);
        EXPECT_EQ(kwd::secondsBetween(p.fStartTime, p.fTimeUntilHit), 4);
    }
}

TEST(Physics, TaylorDiffusionInHomogeneousTurbulence) {
    for (const tFootprintModel model : {tFootprintModel::Described, tFootprintModel::Touchdown}) {
        SCOPED_TRACE(footprintModelName(model));
        // No wind, k = 1.5 (sigma^2 = 1), eps = 1/15: T_L = 4k / (3 C0 eps) = 10 s.
        const float k = 1.5f, eps = 1.0f / 15.0f;
        auto e = kwd::test::makeEngine(kwd::test::uniformGrid(40, 40, 40, 10.0f, 10.0f, 10.0f),
                                       [=](int32_t, int32_t, int32_t) {
                                           tCellValues c;
                                           c.tke = k;
                                           c.eps = eps;
                                           return c;
                                       });
        e->fFootprintModel = model;
        const int n = 3000;
        for (int m = 0; m < n; ++m)
            e->fParticleList.push_back(kwd::test::particleAt(*e, 200, 200, 200, m));
        const double t = 60.0;
        e->moveAllParticlesParallel(t);
        double sum2 = 0.0;
        for (const tParticle& p : e->fParticleList) {
            ASSERT_TRUE(p.fInModel);
            ASSERT_NEAR(p.fAge, t, 1e-8);
            sum2 += (p.fPosMeter.x - 200) * (p.fPosMeter.x - 200) +
                    (p.fPosMeter.y - 200) * (p.fPosMeter.y - 200) +
                    (p.fPosMeter.z - 200) * (p.fPosMeter.z - 200);
        }
        const double var = sum2 / (3.0 * n);
        const double sigma2 = (2.0 / 3.0) * double(k);
        const double TL = 4.0 * double(k) / (3.0 * 3.0 * double(eps));
        const double expected = 2.0 * sigma2 * TL * (t - TL * (1.0 - std::exp(-t / TL)));
        EXPECT_NEAR(var / expected, 1.0, 0.05) << "variance " << var << " expected " << expected;
    }
}

// A turbulent, sheared flow with obstacles and emitters, for the thread test.
std::unique_ptr<tParticleManager> turbulentEngine() {
    auto e = kwd::test::makeEngine(
        kwd::test::uniformGrid(16, 12, 10, 2.0f, 2.0f, 1.0f),
        [](int32_t i, int32_t j, int32_t k) {
            tCellValues c;
            c.u = 1.5f + 0.2f * float(k) + 0.1f * float(j % 3);
            c.v = 0.3f * std::sin(float(i));
            c.w = 0.05f * float((i + k) % 5) - 0.1f;
            c.tke = 0.2f + 0.05f * float(k) + 0.02f * float(i % 4);
            c.eps = 0.01f + 0.002f * float(j);
            if (i == 6 && j > 3 && j < 8 && k < 3) c.obj = 1;
            if (i <= 4 && i >= 1 && j >= 1 && j <= 10 && k <= 1) c.obj = 11, c.vapor = 1.0f;
            return c;
        },
        kwd::test::detectorBox(20.0, 30.0, 4.0, 20.0, 0.5, 6.0), 0.1, 987654321);
    e->releaseParticles(1500);
    return e;
}

TEST(Physics, ASeededPassGivesTheSameParticlesOnAnyNumberOfThreads) {
    auto one = turbulentEngine();
    auto many = turbulentEngine();
    const int saved = omp_get_max_threads();
    omp_set_num_threads(1);
    for (int call = 0; call < 3; ++call) one->moveAllParticlesParallel(5.0);
    omp_set_num_threads(4);
    for (int call = 0; call < 3; ++call) many->moveAllParticlesParallel(5.0);
    omp_set_num_threads(saved);

    int64_t hits = 0;
    ASSERT_EQ(one->fParticleList.size(), many->fParticleList.size());
    for (size_t n = 0; n < one->fParticleList.size(); ++n) {
        const tParticle& a = one->fParticleList[n];
        const tParticle& b = many->fParticleList[n];
        // Every field: positions, velocities, clock, weights, streams.
        ASSERT_TRUE(a == b) << "particle " << n;
        hits += b.fMetTarget ? 1 : 0;
    }
    // Every hit counted exactly once on many threads.
    EXPECT_GT(hits, 20);
    EXPECT_EQ(many->fTotalParticlesInTarget, hits);
    EXPECT_EQ(one->fTotalParticlesInTarget, hits);
    // Some particles also ended otherwise, and some still move.
    int64_t moving = many->getNumberOfParticlesInModel();
    EXPECT_GT(moving, 0);
    EXPECT_LT(moving + hits, int64_t(many->fParticleList.size()));
}

}  // namespace

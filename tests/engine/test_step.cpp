// The particle step on small hand-made fields: sub-step lengths, the first
// sub-step, the ground, obstacles, emitters, leaving the box and the clock.

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>

#include "support/EngineFixtures.h"
#include "platform/DateTime.h"
#include "platform/FpControl.h"
#include "platform/KwdError.h"

using kwd::engine::tDetector;
using kwd::engine::tParticle;
using kwd::engine::tParticleManager;
using kwd::engine::tPosGrid;
using kwd::engine::tRandomPurpose;
using kwd::engine::tRandomStream;

using kwd::dataset::TZDXFile;

namespace {

using kwd::test::tCellValues;

// A uniform flow over 12 x 12 x 12 cells of 1 m. With eps = 0 the Lagrangian
// time scale is enormous, so every call is one sub-step of dt_3d; with tiny
// k the sub-grid velocity is negligible. Column i = obstacleColumn holds
// obstacles, column i = emitterColumn emitters (code 11, emitter field 1),
// both below the top level.
struct tFlow {
    float u = 0, v = 0, w = 0, tke = 1e-12f, eps = 0;
    int32_t obstacleColumn = -1, emitterColumn = -1;
};

std::unique_ptr<tParticleManager> engineWith(const tFlow& f, double minHeight = 0.25) {
    return kwd::test::makeEngine(
        kwd::test::uniformGrid(12, 12, 12),
        [f](int32_t i, int32_t, int32_t k) {
            tCellValues c;
            c.u = f.u, c.v = f.v, c.w = f.w, c.tke = f.tke, c.eps = f.eps;
            if (k < 11 && i == f.obstacleColumn) c.obj = 1;
            if (k < 11 && i == f.emitterColumn) c.obj = 11, c.vapor = 1.0f;
            return c;
        },
        {}, minHeight);
}

tParticle& addParticle(tParticleManager& e, double x, double y, double z) {
    e.fParticleList.push_back(kwd::test::particleAt(e, x, y, z, int64_t(e.fParticleList.size())));
    return e.fParticleList.back();
}

int64_t msMoved(const tParticle& p) {
    return kwd::dateTimeToMilliseconds(p.fStartTime) - kwd::dateTimeToMilliseconds(p.fTimeUntilHit);
}

TEST(ParticleStep, OtherIntervalsAndFinishedParticlesAreLeftAlone) {
    auto e = engineWith({1.0f, 0, 0});
    addParticle(*e, 5.5, 5.5, 5.5);
    addParticle(*e, 6.5, 5.5, 5.5);
    tParticle& other = e->fParticleList[0];
    other.fLoopIdx = 1;
    other.fdt_sum = 3.0;
    tParticle& done = e->fParticleList[1];
    done.fInModel = false;
    done.fdt_sum = 3.0;
    const tParticle otherBefore = other, doneBefore = done;
    e->moveParticlesParallel(0, 60.0);
    e->moveAllParticlesParallel(60.0);
    EXPECT_TRUE(e->fParticleList[0] == otherBefore);
    tParticle doneExpected = doneBefore;
    doneExpected.fdt_sum = 0.0;
    EXPECT_TRUE(e->fParticleList[1] == doneExpected);
    try {
        e->moveParticlesParallel(2, 60.0);
        FAIL() << "no error";
    } catch (const kwd::GeneralError& err) {
        EXPECT_STREQ(err.what(), "particle index 2 is outside the particle list of 2 particles");
    }
}

TEST(ParticleStep, FirstSubStepDrawsTheVelocityFromTheLocalVarianceWithoutLangevinUpdate) {
    auto e = engineWith({1.0f, -2.0f, 0.5f, 0.06f, 1e-12f});
    tParticle& p = addParticle(*e, 5.5, 5.5, 5.5);
    p.fSerialNr = 17;
    e->moveParticlesParallel(0, 0.5);
    const tParticle& q = e->fParticleList[0];
    // The same draws from the particle's own stream.
    tRandomStream s(e->fSeed, 17, tRandomPurpose::Velocity);
    const double gu = e->randGauss(5.0, s) - 1.0;
    const double gv = e->randGauss(5.0, s) - 1.0;
    const double gw = e->randGauss(5.0, s) - 1.0;
    EXPECT_EQ(q.fRG_u, gu);
    EXPECT_EQ(q.fRG_v, gv);
    EXPECT_EQ(q.fRG_w, gw);
    EXPECT_EQ(q.fRandCounter, s.position());
    const double sigma = std::sqrt((2.0 / 3.0) * double(0.06f) + 1e-20);
    EXPECT_DOUBLE_EQ(q.frVar1, sigma * gu);
    EXPECT_DOUBLE_EQ(q.frVar2, sigma * gv);
    EXPECT_DOUBLE_EQ(q.frVar3, sigma * gw);
    EXPECT_EQ(q.fdt, 0.5);
    EXPECT_EQ(q.fAge, 0.5);
    EXPECT_EQ(q.fAge_m, 0.0);
    EXPECT_EQ(q.fdt_sum, 0.5);
    EXPECT_DOUBLE_EQ(q.fPosMeter.x, 5.5 - (1.0 + q.frVar1) * 0.5);
    EXPECT_DOUBLE_EQ(q.fPosMeter.y, 5.5 - (-2.0 + q.frVar2) * 0.5);
    EXPECT_DOUBLE_EQ(q.fPosMeter.z, 5.5 - (0.5 + q.frVar3) * 0.5);
    EXPECT_EQ(q.fRG_u_old, gu);
    EXPECT_DOUBLE_EQ(q.fe_m, double(0.06f));
    EXPECT_NEAR(q.fTravelDistance,
                std::hypot(5.5 - q.fPosMeter.x, 5.5 - q.fPosMeter.y, 5.5 - q.fPosMeter.z), 1e-12);
    EXPECT_EQ(msMoved(q), 500);
}

TEST(ParticleStep, SubStepsGrowByAtMostTwice) {
    auto e = engineWith({0.0f, 0, 0, 0.01f});
    e->fParticleList.reserve(2);  // references below stay valid
    auto prepared = [&](double x) -> tParticle& {
        tParticle& p = addParticle(*e, x, 5.5, 5.5);
        p.fAge = 1.0;
        p.fAge_m = 0.999;  // the last sub-step was 1 ms
        p.frVar1 = p.frVar2 = p.frVar3 = 0.0;
        p.fe_m = double(0.01f);
        return p;
    };
    prepared(5.5);
    e->moveParticlesParallel(0, 0.003);  // 2 ms (limited), then the 1 ms left
    const tParticle& a = e->fParticleList[0];
    EXPECT_NEAR(a.fAge_m, 1.002, 1e-12);
    EXPECT_NEAR(a.fdt, 0.001, 1e-12);
    EXPECT_NEAR(a.fAge, 1.003, 1e-12);
    prepared(6.5);
    e->moveParticlesParallel(1, 1.0);  // 2, 4, ..., 256 ms, then the 490 ms left
    const tParticle& b = e->fParticleList[1];
    EXPECT_NEAR(b.fAge_m, 1.0 + 0.510, 1e-12);
    EXPECT_NEAR(b.fdt, 0.490, 1e-12);
    EXPECT_NEAR(b.fdt_sum, 1.0, 1e-8);
    EXPECT_EQ(a.fSubSteps, 2);
    EXPECT_EQ(b.fSubSteps, 9);
}

TEST(ParticleStep, ShortTimeScalesAreRaisedToTheMinimumSubStepButNotTheLastOne) {
    // k = 0.009, eps = 1, fs = 1: T_L = 0.004 s, 0.025 T_L = 0.1 ms < 0.2 ms.
    auto e = engineWith({0.0f, 0, 0, 0.009f, 1.0f});
    addParticle(*e, 5.5, 5.5, 5.5);
    e->moveParticlesParallel(0, 0.0003);
    const tParticle& p = e->fParticleList[0];
    EXPECT_EQ(p.fAge_m, 0.0002);
    EXPECT_LT(p.fdt, 0.0002);
    EXPECT_NEAR(p.fdt, 0.0001, 1e-9);
    EXPECT_NEAR(p.fAge, 0.0003, 1e-10);
}

TEST(ParticleStep, BelowTheGroundTheParticleContinuesAtTheMinimumHeight) {
    auto e = engineWith({1.0f, 0, 10.0f}, 0.25);
    addParticle(*e, 5.5, 5.5, 0.6);
    e->moveParticlesParallel(0, 0.1);
    const tParticle& p = e->fParticleList[0];
    EXPECT_EQ(p.fPosMeter.z, 0.25);
    EXPECT_DOUBLE_EQ(p.fPosMeter.x, 5.5 - (1.0 + p.frVar1) * 0.1);
    EXPECT_EQ(p.fPosMeter.y, 5.5 - p.frVar2 * 0.1);
    EXPECT_EQ(p.fPosGrid, (tPosGrid{5, 5, 0}));
    // The velocity is not reflected.
    const double sigma = std::sqrt((2.0 / 3.0) * double(1e-12f) + 1e-20);
    EXPECT_DOUBLE_EQ(p.frVar3, sigma * p.fRG_w);
    EXPECT_NEAR(p.fTravelDistance, std::hypot(5.5 - p.fPosMeter.x, 0.6 - 0.25), 1e-9);
    EXPECT_TRUE(p.fInModel);
}

TEST(ParticleStep, ObstacleCellsAbsorbAndLeavingTheBoxEnds) {
    tFlow f{10.0f, 0, 0.5f};
    f.obstacleColumn = 4;
    auto e = engineWith(f);
    addParticle(*e, 5.5, 5.5, 5.5);  // moves 1 m back along x into the obstacle
    addParticle(*e, 0.5, 5.5, 5.5);  // moves out of the box
    e->moveAllParticlesParallel(0.1);
    const tParticle& absorbed = e->fParticleList[0];
    EXPECT_FALSE(absorbed.fInModel);
    EXPECT_FALSE(absorbed.fMetTarget);
    EXPECT_EQ(absorbed.fPosGrid, (tPosGrid{-1, -1, -1}));
    EXPECT_EQ(absorbed.fTargetPosGrid, (tPosGrid{-1, -1, -1}));
    EXPECT_EQ(msMoved(absorbed), 0);  // no clock in the sub-step of the end
    const tParticle& out = e->fParticleList[1];
    EXPECT_FALSE(out.fInModel);
    EXPECT_FALSE(out.fMetTarget);
    EXPECT_EQ(out.fPosGrid, (tPosGrid{-999, -999, -999}));
    EXPECT_NEAR(out.fPosMeter.x, -0.5, 1e-5);
    EXPECT_NEAR(out.fTravelDistance, std::hypot(1.0, 0.05), 1e-5);
    EXPECT_EQ(msMoved(out), 0);
    EXPECT_EQ(e->fTotalParticlesInTarget, 0);
}

TEST(ParticleStep, EmitterHitRecordsTheTargetAndTheVerticalVelocities) {
    tFlow f{10.0f, 0, 0.5f};
    f.emitterColumn = 5;
    auto e = engineWith(f);
    addParticle(*e, 7.5, 5.5, 5.5);
    e->fTotalParticlesInTarget = 4;
    e->moveAllParticlesParallel(0.1);  // to x = 6.5, free air
    const tParticle& p = e->fParticleList[0];
    ASSERT_TRUE(p.fInModel);
    const double wDetector = p.fWDetector;
    EXPECT_DOUBLE_EQ(wDetector, 0.5 + p.frVar3);
    EXPECT_EQ(msMoved(p), 100);
    e->moveAllParticlesParallel(0.1);  // to x = 5.5: emitter
    EXPECT_TRUE(p.fMetTarget);
    EXPECT_FALSE(p.fInModel);
    EXPECT_EQ(p.fWDetector, wDetector);
    EXPECT_DOUBLE_EQ(p.fWEmitter, 0.5 + p.frVar3);
    EXPECT_EQ(p.fTargetPosGrid, (tPosGrid{5, 5, 5}));
    EXPECT_EQ(p.fTargetPosMeter, p.fPosMeter);
    EXPECT_EQ(p.fPosGrid, (tPosGrid{-1, -1, -1}));
    EXPECT_EQ(msMoved(p), 100);  // the hit sub-step does not move the clock
    EXPECT_EQ(e->fTotalParticlesInTarget, 5);
}

TEST(ParticleStep, NoHitAtOrBelowOneMillimetrePerSecond) {
    tFlow f{10.0f, 0, 0.0f};
    f.emitterColumn = 5;
    auto e = engineWith(f);
    addParticle(*e, 7.5, 5.5, 5.5);
    for (int call = 0; call < 3; ++call) e->moveAllParticlesParallel(0.1);
    const tParticle& p = e->fParticleList[0];
    EXPECT_TRUE(p.fInModel);
    EXPECT_FALSE(p.fMetTarget);
    EXPECT_EQ(p.fPosGrid, (tPosGrid{4, 5, 5}));  // went through the emitter column
    EXPECT_EQ(p.fWDetector, -99999999.0);
    EXPECT_EQ(p.fWEmitter, -99999999.0);
    EXPECT_EQ(msMoved(p), 300);
    EXPECT_EQ(e->fTotalParticlesInTarget, 0);
}

TEST(ParticleStep, TheClockMovesInWholeMilliseconds) {
    struct Case {
        double dt;
        int64_t ms;
    } cases[] = {{0.0004, 0}, {0.0015, 2}, {0.0025, 2}, {0.0035, 4}};
    for (const Case& c : cases) {
        auto e = engineWith({1.0f, 0, 0});
        addParticle(*e, 5.5, 5.5, 5.5);
        e->moveParticlesParallel(0, c.dt);
        const tParticle& p = e->fParticleList[0];
        EXPECT_EQ(msMoved(p), c.ms) << c.dt;
        EXPECT_EQ(p.fAge, c.dt);
        EXPECT_EQ(p.fdt, c.dt);
    }
}

TEST(ParticleStep, AFloatingPointFaultEndsThePass) {
    // A negative energy has no standard deviation.
    auto e = engineWith({0.0f, 0, 0, -1.0f});
    addParticle(*e, 5.5, 5.5, 5.5);
    addParticle(*e, 6.5, 5.5, 5.5);
    e->fParticleList[0].fInModel = false;
    try {
        e->moveAllParticlesParallel(0.001);
        FAIL() << "no error";
    } catch (const kwd::FloatingPointError& err) {
        EXPECT_STREQ(err.what(),
                     "floating-point invalid operation in the particle step of particle 1 "
                     "(serial number 1)");
    }
}

TEST(ParticleStep, TheOneParticleCallTestsTheFlagsLikeThePass) {
    // A negative energy has no standard deviation: the call ends with the
    // error the pass would give, and leaves no flag raised behind it.
    auto e = engineWith({0.0f, 0, 0, -1.0f});
    addParticle(*e, 5.5, 5.5, 5.5);
    addParticle(*e, 6.5, 5.5, 5.5);
    try {
        e->moveParticlesParallel(1, 0.001);
        FAIL() << "no error";
    } catch (const kwd::FloatingPointError& err) {
        EXPECT_STREQ(err.what(),
                     "floating-point invalid operation in the particle step of particle 1 "
                     "(serial number 1)");
    }
    EXPECT_EQ(kwd::raisedFpFlags(), "");
    // A flag raised before the call is not the call's fault.
    auto calm = engineWith({1.0f, 0, 0});
    addParticle(*calm, 5.5, 5.5, 5.5);
    std::feraiseexcept(FE_OVERFLOW);
    EXPECT_NO_THROW(calm->moveParticlesParallel(0, 0.5));
    EXPECT_EQ(calm->fParticleList[0].fAge, 0.5);
}

TEST(ParticleStep, TheCellRecordsAreBuiltBeforeAnyCall) {
    // Calls for several indices may run at once: none of them builds the
    // records. They stand from the field allocation on.
    std::vector<TZDXFile> list;
    list.push_back(kwd::test::makeDescriptor(kwd::test::uniformGrid(4, 4, 4), "/d", "A",
                                             "01.07.2018", "12:00:00"));
    tParticleManager e(true, tDetector{}, std::move(list), "/out", 0.1, 10, 100);
    EXPECT_TRUE(e.fSampleCells.empty());
    e.allocateFields();
    EXPECT_EQ(e.fSampleCells.size(), 64u);
    EXPECT_EQ(e.fCellClass.size(), 64u);
}

}  // namespace

// The shortest sub-step: in the last fdt_min_part of a call the sub-steps
// follow 0.025 T_L, but never fall below the end tolerance of 1e-8 s, so a
// cell with k ~ 0 and eps > 0 (T_L down to ~1e-21 s) cannot hold a particle
// in ~1e19 sub-steps.

#include <gtest/gtest.h>

#include "support/EngineFixtures.h"

using kwd::engine::kPosGridOutside;
using kwd::engine::tParticle;

namespace {

using kwd::test::tCellValues;

struct tShortCase {
    const char* name;
    float eps;        // dissipation in every cell; k = 0 and no wind, so fs = 1
    bool staysInModel;  // whether the particle is still moving after the call
};

TEST(ShortSubSteps, TheLastWindowOfACallTakesABoundedNumberOfSubSteps) {
    const tShortCase cases[] = {
        // T_L = 1e-20 / (9 eps) ~ 1.1e-21 s: the sub-steps of 1e-8 s fling
        // the particle out of the box within a few of them.
        {"k 0, eps 1", 1.0f, false},
        // T_L ~ 1.1e-7 s, 0.025 T_L ~ 2.8e-9 s: raised to 1e-8 s, 1e4 sub-steps.
        {"k 0, eps 1e-14", 1e-14f, true},
    };
    const double dt3d = 1e-4;  // the whole call lies in the last fdt_min_part
    for (const tShortCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto e = kwd::test::makeEngine(kwd::test::uniformGrid(12, 12, 12),
                                       [&c](int32_t, int32_t, int32_t) {
                                           tCellValues v;
                                           v.eps = c.eps;
                                           return v;
                                       });
        e->fParticleList.push_back(kwd::test::particleAt(*e, 5.5, 5.5, 5.5));
        e->moveParticlesParallel(0, dt3d);
        const tParticle& p = e->fParticleList[0];
        EXPECT_LE(p.fSubSteps, 10001);
        EXPECT_GE(p.fdt, 1e-8);
        EXPECT_EQ(p.fInModel, c.staysInModel);
        if (c.staysInModel) {
            EXPECT_GE(p.fSubSteps, 10000);
            EXPECT_NEAR(p.fdt_sum, dt3d, 1e-8);
        } else {
            EXPECT_EQ(p.fPosGrid, kPosGridOutside);
            EXPECT_LT(p.fSubSteps, 10);
        }
    }
}

TEST(ShortSubSteps, ACallOfLittleMoreThanTheToleranceIsOneSubStepOfIt) {
    // T_L ~ 1.1e-21 s; 1.5e-8 s to go: one sub-step of 1e-8 s, and the 5e-9 s
    // left lie within the end tolerance.
    auto e =
        kwd::test::makeEngine(kwd::test::uniformGrid(12, 12, 12), [](int32_t, int32_t, int32_t) {
            tCellValues v;
            v.eps = 1.0f;
            return v;
        });
    e->fParticleList.push_back(kwd::test::particleAt(*e, 5.5, 5.5, 5.5));
    e->moveParticlesParallel(0, 1.5e-8);
    const tParticle& p = e->fParticleList[0];
    EXPECT_EQ(p.fSubSteps, 1);
    EXPECT_EQ(p.fdt, 1e-8);
    EXPECT_EQ(p.fdt_sum, 1e-8);
    EXPECT_TRUE(p.fInModel);
}

}  // namespace

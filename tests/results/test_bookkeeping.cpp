// Accumulation of the particles that met their target and the reset of the
// accumulators.

#include <gtest/gtest.h>
#include <omp.h>

#include <string>
#include <vector>

#include "support/ResultsFixtures.h"
#include "platform/KwdError.h"
#include "results/u_EngineOutputs.h"

using kwd::results::clearOutputArrays;
using kwd::results::saveCurrentData;

using kwd::engine::t3DArrayDouble;
using kwd::engine::tParticle;
using kwd::engine::tParticleManager;

using namespace kwd::test;

namespace {

class Bookkeeping : public ::testing::Test {
protected:
    tTempFolder fOut{"kwd_res_"};
    std::unique_ptr<tParticleManager> fEngine = accumulatorEngine(uniformGrid(3, 3, 4), fOut.path());
};

TEST_F(Bookkeeping, AddsHitsByTargetCellWithSignedContributions) {
    tParticleManager& e = *fEngine;
    e.fParticleList.push_back(hitParticle({1, 2, 3}, 0.5, 0.25));   // r = 0.5, d = 2
    e.fParticleList.push_back(hitParticle({1, 2, 3}, -0.25, 0.5));  // r = -2, d = -4
    tParticle moving = hitParticle({0, 0, 0}, 1.0, 1.0);
    moving.fMetTarget = false;  // still moving: ignored whatever its target fields hold
    moving.fInModel = true;
    e.fParticleList.push_back(moving);
    e.fParticleList.push_back(hitParticle({2, 0, 1}, 2.0, 1.0));  // r = 0.5, d = 0.5

    saveCurrentData(e);

    EXPECT_EQ(e.SourceStrengthIJ(1, 2, 0), 2.0);
    EXPECT_EQ(e.SourceStrengthIJK(1, 2, 3), 2.0);
    EXPECT_EQ(e.ratioDetEmitterIJ(1, 2, 0), -1.5);
    EXPECT_EQ(e.ratioDetEmitterIJK(1, 2, 3), -1.5);
    EXPECT_EQ(e.ddw_EmitterIJ(1, 2, 0), -2.0);
    EXPECT_EQ(e.ddw_EmitterIJK(1, 2, 3), -2.0);
    EXPECT_EQ(e.SourceStrengthIJ(2, 0, 0), 1.0);
    EXPECT_EQ(e.SourceStrengthIJK(2, 0, 1), 1.0);
    EXPECT_EQ(e.ratioDetEmitterIJK(2, 0, 1), 0.5);
    EXPECT_EQ(e.ddw_EmitterIJ(2, 0, 0), 0.5);
    // Nothing anywhere else: the column sums sit in layer 0 only.
    EXPECT_EQ(total(e.SourceStrengthIJ), 3.0);
    EXPECT_EQ(total(e.SourceStrengthIJK), 3.0);
    EXPECT_EQ(total(e.ratioDetEmitterIJ), -1.0);
    EXPECT_EQ(total(e.ddw_EmitterIJK), -1.5);
    EXPECT_EQ(e.SourceStrengthIJK(1, 2, 0), 0.0);
    // The derived arrays are left to writeOutput.
    EXPECT_EQ(total(e.CurrPosIJK), 0.0);
    EXPECT_EQ(total(e.FlxFootprintIJ) + total(e.ConFootprintIJK), 0.0);
    ASSERT_EQ(e.fParticleList.size(), 4u);

    // The list is not changed, so a second call adds the same particles again.
    saveCurrentData(e);
    EXPECT_EQ(e.SourceStrengthIJ(1, 2, 0), 4.0);
    EXPECT_EQ(e.ddw_EmitterIJK(1, 2, 3), -4.0);
}

TEST_F(Bookkeeping, ListWithoutHitsChangesNothing) {
    tParticleManager& e = *fEngine;
    e.SourceStrengthIJ(1, 1, 0) = 5.0;
    tParticle p = hitParticle({1, 1, 1}, 1.0, 1.0);
    p.fMetTarget = false;
    e.fParticleList.assign(3, p);
    saveCurrentData(e);
    EXPECT_EQ(total(e.SourceStrengthIJ), 5.0);
    EXPECT_EQ(total(e.SourceStrengthIJK) + total(e.ratioDetEmitterIJK) + total(e.ddw_EmitterIJ), 0.0);
}

TEST_F(Bookkeeping, ClearResetsAllElevenArrays) {
    tParticleManager& e = *fEngine;
    t3DArrayDouble* arrays[] = {&e.CurrPosIJK,     &e.SourceStrengthIJ,  &e.SourceStrengthIJK,
                                &e.ratioDetEmitterIJ, &e.ratioDetEmitterIJK, &e.ddw_EmitterIJ,
                                &e.ddw_EmitterIJK,  &e.FlxFootprintIJ,    &e.FlxFootprintIJK,
                                &e.ConFootprintIJ,  &e.ConFootprintIJK};
    for (t3DArrayDouble* a : arrays) a->fill(7.0);
    clearOutputArrays(e);
    for (t3DArrayDouble* a : arrays) {
        EXPECT_EQ(a->size(), 36u);
        EXPECT_EQ(total(*a), 0.0);
    }
}

TEST_F(Bookkeeping, TargetCellOutsideTheGridIsAnError) {
    tParticleManager& e = *fEngine;
    e.fParticleList.push_back(hitParticle({1, 1, 1}, 1.0, 1.0));
    e.fParticleList.push_back(hitParticle({-1, -1, -1}, 1.0, 1.0));
    try {
        saveCurrentData(e);
        FAIL() << "no error";
    } catch (const kwd::GeneralError& err) {
        EXPECT_STREQ(err.what(),
                     "particle 1: target cell (-1, -1, -1) lies outside the result grid 3 x 3 x 4");
    }
}

// A list long enough to be cut into chunks: on any number of threads the
// error names the first bad particle in list order, and the sums hold the
// hits before it, as on one thread.
TEST_F(Bookkeeping, TargetCellOutsideTheGridFailsAtTheSameParticleOnAnyThreads) {
    tParticleManager& e = *fEngine;
    for (int n = 0; n < 60000; ++n)
        e.fParticleList.push_back(hitParticle({n % 3, (n / 3) % 3, n % 4}, 1.0 + n % 7, 2.0));
    e.fParticleList[45000] = hitParticle({3, 0, 0}, 1.0, 1.0);
    e.fParticleList[50000] = hitParticle({0, 0, -1}, 1.0, 1.0);
    const int saved = omp_get_max_threads();
    std::vector<std::vector<double>> sums;
    for (const int threads : {1, 2}) {
        omp_set_num_threads(threads);
        clearOutputArrays(e);
        try {
            saveCurrentData(e);
            ADD_FAILURE() << "no error on " << threads << " threads";
        } catch (const kwd::GeneralError& err) {
            EXPECT_STREQ(err.what(),
                         "particle 45000: target cell (3, 0, 0) lies outside the result grid "
                         "3 x 3 x 4");
        }
        std::vector<double> all;
        for (t3DArrayDouble* a : e.footprintAccumulators())
            all.insert(all.end(), a->data(), a->data() + a->size());
        sums.push_back(all);
    }
    omp_set_num_threads(saved);
    EXPECT_EQ(total(e.SourceStrengthIJK), 45000.0);
    EXPECT_TRUE(sums[0] == sums[1]) << "the sums before the error differ";
}

// The room for the hits, kept from one output to the next, grows with the
// list: each output adds every hit of the longer list, on two threads as on
// one.
TEST_F(Bookkeeping, AListThatGrowsBetweenOutputsIsAddedWhole) {
    tParticleManager& e = *fEngine;
    const int saved = omp_get_max_threads();
    std::vector<std::vector<double>> sums;
    for (const int threads : {1, 2}) {
        omp_set_num_threads(threads);
        e.fParticleList.clear();
        for (const int length : {40000, 100000}) {
            for (int n = int(e.fParticleList.size()); n < length; ++n)
                e.fParticleList.push_back(
                    hitParticle({n % 3, (n / 7) % 3, n % 4}, 1.0 + n % 11, 0.5 + n % 5));
            clearOutputArrays(e);
            saveCurrentData(e);
            EXPECT_EQ(total(e.SourceStrengthIJ), double(length)) << threads << " threads";
        }
        std::vector<double> all;
        for (t3DArrayDouble* a : e.footprintAccumulators())
            all.insert(all.end(), a->data(), a->data() + a->size());
        sums.push_back(all);
    }
    omp_set_num_threads(saved);
    EXPECT_TRUE(sums[0] == sums[1]) << "the sums differ between one and two threads";
}

TEST_F(Bookkeeping, EmitterVelocityOfZeroEndsWithFloatingPointError) {
    tParticleManager& e = *fEngine;
    e.fParticleList.push_back(hitParticle({1, 1, 1}, 0.0, 1.0));
    try {
        saveCurrentData(e);
        FAIL() << "no error";
    } catch (const kwd::FloatingPointError& err) {
        EXPECT_STREQ(err.what(),
                     "floating-point division by zero in accumulation of the particles that met "
                     "their target");
    }
}

}  // namespace

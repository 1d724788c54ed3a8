// Engine construction, the run-log head, the particle list and the release.

#include <gtest/gtest.h>
#include <omp.h>

#include <memory>

#include "support/EngineFixtures.h"
#include "platform/DateTime.h"
#include "platform/KwdError.h"

using kwd::engine::t3DArrayDouble;
using kwd::engine::tDetector;
using kwd::engine::tParticle;
using kwd::engine::tParticleList;
using kwd::engine::tParticleManager;
using kwd::engine::tPosGrid;

using kwd::dataset::TZDXFile;

namespace {

using kwd::test::makeDescriptor;
using kwd::test::uniformGrid;

std::vector<TZDXFile> threeOutputs() {
    std::vector<TZDXFile> list;
    for (const char* t : {"06:00:00", "07:00:00", "08:00:00"})
        list.push_back(makeDescriptor(uniformGrid(5, 4, 6), "/d", std::string("A_") + t,
                                      "01.07.2018", t));
    return list;
}

TEST(EngineState, ConstructionTakesTheDataSetsLatestFirstAndWritesTheLogHead) {
    const tDetector box = kwd::test::detectorBox(10.0, 20.5, -3.25, 4.0, 0.0, 1e-3);
    tParticleManager e(true, box, threeOutputs(), "/out/run", 1.5, 250000, 500);
    ASSERT_EQ(e.fZDXFileList.size(), 3u);
    EXPECT_EQ(e.fZDXFileList[0].simtime, "08:00:00");
    EXPECT_EQ(e.fZDXFileList[1].simtime, "07:00:00");
    EXPECT_EQ(e.fZDXFileList[2].simtime, "06:00:00");
    ASSERT_EQ(e.fCurrZDXFile, &e.fZDXFileList[0]);
    EXPECT_EQ(e.fNextZDXFile, nullptr);
    EXPECT_EQ(e.fLogFile,
              (std::vector<std::string>{
                  "Detector xMin: 10 Detector xMax: 20.5 Detector yMin: -3.25 Detector yMax: 4 "
                  "Detector zMin: 0 Detector zMax: 0.001",
                  "Particle Factor: 250000", "Date;Time;TotalParticles"}));
    EXPECT_TRUE(e.fBackwardsMode);
    EXPECT_EQ(e.fdt_min_part, 0.0002);
    EXPECT_EQ(e.fOutputDir, "/out/run");
    EXPECT_EQ(e.fMinHeight, 1.5);
    EXPECT_EQ(e.fPartPerIntervalTarget, 250000);
    EXPECT_EQ(e.fBatchSize, 500);
    EXPECT_EQ(e.fMainLoopIdx, -1);
    EXPECT_EQ(e.fTotalEmittedParticles, 0);
    EXPECT_EQ(e.fTotalParticlesInTarget, 0);
    for (const t3DArrayDouble* a :
         {&e.CurrPosIJK, &e.SourceStrengthIJ, &e.SourceStrengthIJK, &e.ratioDetEmitterIJ,
          &e.ratioDetEmitterIJK, &e.ddw_EmitterIJ, &e.ddw_EmitterIJK, &e.FlxFootprintIJ,
          &e.FlxFootprintIJK, &e.ConFootprintIJ, &e.ConFootprintIJK}) {
        EXPECT_EQ(a->sizeI(), 5);
        EXPECT_EQ(a->sizeJ(), 4);
        EXPECT_EQ(a->sizeK(), 6);
        for (size_t n = 0; n < a->size(); ++n) ASSERT_EQ(a->data()[n], 0.0);
    }
    // The build's batch size: 1,000,000 for a run; sanitizer builds lower it.
    tParticleManager batch(true, box, threeOutputs(), "/out", 0.0, 1);
    EXPECT_EQ(batch.fBatchSize, KWD_BATCH_SIZE);
}

TEST(EngineState, NoDataSetIsASetupError) {
    try {
        tParticleManager e(true, tDetector{}, {}, "/out", 0.0, 10);
        FAIL() << "no error";
    } catch (const kwd::RunSetupError& err) {
        EXPECT_STREQ(err.what(), "the dispersion engine needs at least one data set; the run has none");
    }
}

TEST(EngineState, UpdateEntriesRemovesFinishedParticlesAndKeepsTheOrder) {
    tParticleManager e(true, tDetector{}, threeOutputs(), "/out", 0.0, 10);
    auto particle = [](int64_t serial, bool inModel, bool metTarget) {
        tParticle p;
        p.fSerialNr = serial;
        p.fInModel = inModel;
        p.fMetTarget = metTarget;
        return p;
    };
    e.fParticleList = {particle(0, true, false), particle(1, false, true), particle(2, false, false),
                       particle(3, true, false), particle(4, true, true), particle(5, true, false)};
    EXPECT_EQ(e.getNumberOfParticlesInModel(), 4);
    e.UpdateEntries();
    ASSERT_EQ(e.fParticleList.size(), 3u);
    EXPECT_EQ(e.fParticleList[0].fSerialNr, 0);
    EXPECT_EQ(e.fParticleList[1].fSerialNr, 3);
    EXPECT_EQ(e.fParticleList[2].fSerialNr, 5);
    e.UpdateEntries();  // all still moving: nothing changes
    EXPECT_EQ(e.fParticleList.size(), 3u);
    for (tParticle& p : e.fParticleList) p.fInModel = false, p.fMetTarget = true;
    e.UpdateEntries();
    EXPECT_TRUE(e.fParticleList.empty());
    EXPECT_EQ(e.getNumberOfParticlesInModel(), 0);
}

// An engine ready to release in interval 0: the box of 5 x 4 x 6 m, the
// detector reaching 1 m past it along x.
std::unique_ptr<tParticleManager> releasingEngine() {
    auto e = std::make_unique<tParticleManager>(
        true, kwd::test::detectorBox(3.0, 6.0, 1.0, 2.0, 0.5, 1.5), threeOutputs(), "/out", 0.0, 10,
        100);
    e->fSeed = 3;
    e->fMainLoopIdx = 0;
    e->allocateFields();
    return e;
}

TEST(EngineState, ReleaseAppendsParticlesOfTheCurrentDataSet) {
    const auto engine = releasingEngine();
    tParticleManager& e = *engine;
    e.releaseParticles(300);
    ASSERT_EQ(e.fParticleList.size(), 300u);
    EXPECT_EQ(e.fTotalEmittedParticles, 300);
    EXPECT_EQ(e.fPartGen_InLoop, 300);
    const double t = kwd::encodeDateTime(2018, 7, 1, 8, 0, 0);
    int outside = 0;
    for (size_t n = 0; n < e.fParticleList.size(); ++n) {
        const tParticle& p = e.fParticleList[n];
        EXPECT_EQ(p.fSerialNr, int64_t(n));
        EXPECT_EQ(p.fLoopIdx, 0);
        EXPECT_EQ(p.fStartTime, t);
        if (p.fPosMeter.x > 5.0) {
            ++outside;
            EXPECT_FALSE(p.fInModel);
            EXPECT_EQ(p.fPosGrid, (tPosGrid{-999, -999, -999}));
        } else {
            EXPECT_TRUE(p.fInModel);
        }
    }
    EXPECT_GT(outside, 50);
    EXPECT_LT(outside, 150);
    // The next batch goes on with the serial numbers.
    e.releaseParticles(2);
    EXPECT_EQ(e.fParticleList.back().fSerialNr, 301);
}

// A box the release cannot draw from fails before the batch changes anything.
TEST(EngineState, ARefusedBoxLeavesTheListAsItWas) {
    const auto engine = releasingEngine();
    tParticleManager& e = *engine;
    e.releaseParticles(20);
    const tParticleList before = e.fParticleList;
    e.fDetector.yMax = 4.0e6;
    try {
        e.releaseParticles(10000);
        FAIL() << "no error";
    } catch (const kwd::RunSetupError& err) {
        EXPECT_STREQ(err.what(),
                     "detector bound yMax = 4000000 m is outside the range of whole millimetres "
                     "the release can draw");
    }
    EXPECT_TRUE(e.fParticleList == before);
    EXPECT_EQ(e.fTotalEmittedParticles, 20);
    EXPECT_EQ(e.fPartGen_InLoop, 20);
}

// A batch large enough to be built by several workers, and the scan of the
// moving particles over it: the same on one and on two threads.
TEST(EngineState, LargeReleaseAndScanAreTheSameOnOneAndTwoThreads) {
    const int saved = omp_get_max_threads();
    auto releaseOn = [](int threads) {
        omp_set_num_threads(threads);
        auto e = releasingEngine();
        e->releaseParticles(30000);
        e->fMainLoopIdx = 1;
        e->releaseParticles(30000);
        // Interval 1 moves the second batch; of the first, those in the
        // model count as others.
        e->findMovingParticles();
        return e;
    };
    const auto one = releaseOn(1);
    const auto two = releaseOn(2);
    omp_set_num_threads(saved);
    ASSERT_EQ(one->fParticleList.size(), 60000u);
    EXPECT_TRUE(one->fParticleList == two->fParticleList);
    EXPECT_EQ(one->fParticleList[45000].fSerialNr, 45000);
    EXPECT_EQ(one->fParticleList[45000].fLoopIdx, 1);
    const int64_t inModel = one->getNumberOfParticlesInModel();
    EXPECT_GT(inModel, 30000);
    EXPECT_LT(inModel, 50000);
    EXPECT_EQ(one->particlesInModel(), inModel);
    EXPECT_EQ(two->particlesInModel(), inModel);
}

TEST(EngineState, ModelTimeOfADataSet) {
    TZDXFile z = makeDescriptor(uniformGrid(3, 3, 4), "/d", "A", "01.07.2018", "12:30:15");
    EXPECT_EQ(tParticleManager::getModelTime(z), kwd::encodeDateTime(2018, 7, 1, 12, 30, 15));
    z.simtime = "12:3x:15";
    try {
        tParticleManager::getModelTime(z);
        FAIL() << "no error";
    } catch (const kwd::ConversionError& err) {
        EXPECT_STREQ(err.what(),
                     "data set /d/A.ZDX: model time \"01.07.2018 12:3x:15\" does not read as "
                     "dd.mm.yyyy hh:mm:ss");
    }
}

}  // namespace

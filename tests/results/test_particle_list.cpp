// The particle list file.

#include <gtest/gtest.h>

#include "support/ResultsFixtures.h"
#include "platform/KwdError.h"
#include "results/u_EngineOutputs.h"

using kwd::results::saveCurrentParticlesInTargetToFile;

using kwd::engine::tParticle;
using kwd::engine::tParticleManager;

using namespace kwd::test;

namespace {

const std::string kHeader =
    "ParticleNr;OriginI;OriginJ;OriginK;OriginX;OriginY;OriginZ;TravelDistance[m];"
    "TimeElapsed[s];MeanVelocity[m/s];w_TakeOff;w_Detector;DetecDivTakeOff;TargetI;TargetJ;"
    "TargetK;TargetX;TargetY;TargetZ\r\n";

// A particle that met its target after `travelMs` milliseconds of model time.
tParticle listed(int64_t travelMs, double distance, double wEmitter, double wDetector) {
    tParticle p = hitParticle({2, 1, 0}, wEmitter, wDetector);
    p.fOriginPosGrid = {1, 0, 2};
    p.fOriginPosMeter = {1.5, 0.25, 2.125};
    p.fTargetPosMeter = {2.5, 1.75, 0.375};
    p.fTravelDistance = distance;
    p.fStartTime = noon();
    p.fTimeUntilHit = kwd::incMilliseconds(noon(), -travelMs);
    return p;
}

class ParticleList : public ::testing::Test {
protected:
    tTempFolder fOut{"kwd_res_"};
    std::unique_ptr<tParticleManager> fEngine = accumulatorEngine(uniformGrid(3, 3, 4), fOut.path());
    std::string fFile = fOut.file("ParticleList_01.07.2018 12.00.00_P.csv");
};

TEST_F(ParticleList, OneRowPerHitWithListPositionAndWholeSeconds) {
    tParticleManager& e = *fEngine;
    tParticle moving;
    moving.fTravelDistance = 99.0;
    e.fParticleList.push_back(moving);                           // not listed, but counted
    e.fParticleList.push_back(listed(999, 3.75, 0.5, -0.25));    // below 1 s: 0 s, velocity 0
    e.fParticleList.push_back(listed(1900, 3.75, -2.0, 1.0));    // 1.9 s: 1 s; negative w_TakeOff
    // 12.2 is 12.19999999999999928946...: 17 significant digits, then zeros.
    e.fParticleList.push_back(listed(61000, 12.2, 0.25, 0.125));
    saveCurrentParticlesInTargetToFile(e);

    const std::string common = ";1;0;2;1.50000000000000000;0.25000000000000000;2.12500000000000000;";
    const std::string target = ";2;1;0;2.50000000000000000;1.75000000000000000;0.37500000000000000\r\n";
    EXPECT_EQ(readText(fFile),
              kHeader +
                  "1" + common + "3.75000000000000000;0;0.00000000000000000;0.50000000000000000;"
                  "-0.25000000000000000;-0.50000000000000000" + target +
                  "2" + common + "3.75000000000000000;1;3.75000000000000000;-2.00000000000000000;"
                  "1.00000000000000000;-0.50000000000000000" + target +
                  "3" + common + "12.19999999999999900;61;0.19999999999999998;0.25000000000000000;"
                  "0.12500000000000000;0.50000000000000000" + target);
    EXPECT_EQ(e.fParticleList.size(), 4u);  // the list is only read
}

// A list that several calls extend (the batches of a period, a later period
// at the same time) keeps one header line, so it stays one CSV table.
TEST_F(ParticleList, CallsAtOneTimeAppendToOneHeader) {
    tParticleManager& e = *fEngine;
    saveCurrentParticlesInTargetToFile(e);  // no hits: the header alone
    EXPECT_EQ(readText(fFile), kHeader);
    e.fParticleList.push_back(listed(2000, 4.0, 1.0, 1.0));
    saveCurrentParticlesInTargetToFile(e);
    const std::string row =
        "0;1;0;2;1.50000000000000000;0.25000000000000000;2.12500000000000000;4.00000000000000000;2;"
        "2.00000000000000000;1.00000000000000000;1.00000000000000000;1.00000000000000000;2;1;0;"
        "2.50000000000000000;1.75000000000000000;0.37500000000000000\r\n";
    EXPECT_EQ(readText(fFile), kHeader + row);
    saveCurrentParticlesInTargetToFile(e);
    EXPECT_EQ(readText(fFile), kHeader + row + row);
    EXPECT_EQ(fileNames(fOut.path()), std::vector<std::string>{"ParticleList_01.07.2018 12.00.00_P.csv"});
}

TEST_F(ParticleList, ALinkUnderTheListsNameIsRefused) {
    const std::string input = fOut.file("input.ZDT");
    kwd::writeWholeFile(input, "input");
    std::filesystem::create_symlink(input, fFile);
    try {
        saveCurrentParticlesInTargetToFile(*fEngine);
        ADD_FAILURE() << "no error";
    } catch (const kwd::FileError& e) {
        EXPECT_EQ(std::string(e.what()), "cannot open file for appending \"" + fFile +
                                             "\": it is a symbolic link; result files are never "
                                             "written through links");
    }
    EXPECT_EQ(readText(input), "input");
}

TEST_F(ParticleList, MidnightFileNameHasTheDateOnly) {
    fEngine->fActSimTime = kwd::encodeDateTime(2018, 7, 2);
    saveCurrentParticlesInTargetToFile(*fEngine);
    EXPECT_EQ(fileNames(fOut.path()), std::vector<std::string>{"ParticleList_02.07.2018_P.csv"});
}

TEST_F(ParticleList, MissingFolderIsAFileError) {
    fEngine->fOutputDir = fOut.file("missing");
    try {
        saveCurrentParticlesInTargetToFile(*fEngine);
        FAIL() << "no error";
    } catch (const kwd::FileError& err) {
        EXPECT_EQ(std::string(err.what()),
                  "cannot open file for appending \"" + fOut.file("missing") +
                      "/ParticleList_01.07.2018 12.00.00_P.csv\": No such file or directory");
    }
}

}  // namespace

// Footprint normalisation, the particle count and the five grid files.

#include <gtest/gtest.h>
#include <omp.h>

#include <vector>

#include "support/ResultsFixtures.h"
#include "platform/KwdError.h"
#include "results/u_EngineOutputs.h"

using kwd::results::writeOutput;

using kwd::engine::tParticle;
using kwd::engine::tParticleList;

using namespace kwd::test;

namespace {

const char* const kGridPrefixes[] = {"ConFootprintIJ_", "FlxFootprintIJ_", "SourceStrengthIJ_",
                                     "Sum_1_BY_WEmitter_IJ_", "Sum_WDetec_BY_WEmitter_IJ_"};

std::vector<std::string> gridFileNames(const std::string& timeText, const std::string& project) {
    std::vector<std::string> names;
    for (const char* p : kGridPrefixes) names.push_back(p + timeText + project + ".csv");
    return names;
}

const std::string kZero = "0.00000000000000000";

TEST(GridFiles, NormalisesAndWritesTheVerticalSums) {
    tTempFolder out("kwd_res_");
    auto e = accumulatorEngine(uniformGrid(3, 3, 4), out.path());
    e->fTotalEmittedParticles = 8;  // factor 2 / 8
    e->SourceStrengthIJ(1, 2, 0) = 2.0;
    e->ratioDetEmitterIJ(1, 2, 0) = -1.5;
    e->ddw_EmitterIJ(1, 2, 0) = -2.0;
    e->SourceStrengthIJK(1, 2, 3) = 2.0;
    e->ratioDetEmitterIJK(1, 2, 3) = 3.0;
    e->ddw_EmitterIJK(1, 2, 3) = 6.0;
    e->FlxFootprintIJ(0, 0, 0) = 9.0;  // recomputed: no sums there

    writeOutput(*e, *e->fCurrZDXFile, out.file("unused"));

    EXPECT_EQ(e->FlxFootprintIJ(1, 2, 0), -0.75);
    EXPECT_EQ(e->ConFootprintIJ(1, 2, 0), -1.0);
    EXPECT_EQ(e->FlxFootprintIJK(1, 2, 3), 1.5);
    EXPECT_EQ(e->ConFootprintIJK(1, 2, 3), 3.0);
    EXPECT_EQ(e->FlxFootprintIJ(0, 0, 0), 0.0);
    EXPECT_EQ(total(e->FlxFootprintIJ), -0.75);
    EXPECT_EQ(total(e->ConFootprintIJK), 3.0);

    EXPECT_EQ(fileNames(out.path()), gridFileNames("01.07.2018 12.00.00", "P"));
    const std::string row0 = kZero + ";" + kZero + ";" + kZero + "\r\n";
    EXPECT_EQ(readText(out.file("FlxFootprintIJ_01.07.2018 12.00.00P.csv")),
              row0 + row0 + kZero + ";-0.75000000000000000;" + kZero + "\r\n");
    EXPECT_EQ(readText(out.file("ConFootprintIJ_01.07.2018 12.00.00P.csv")),
              row0 + row0 + kZero + ";-1.00000000000000000;" + kZero + "\r\n");
    EXPECT_EQ(readText(out.file("SourceStrengthIJ_01.07.2018 12.00.00P.csv")),
              row0 + row0 + kZero + ";2.00000000000000000;" + kZero + "\r\n");
    EXPECT_EQ(readText(out.file("Sum_1_BY_WEmitter_IJ_01.07.2018 12.00.00P.csv")),
              row0 + row0 + kZero + ";-2.00000000000000000;" + kZero + "\r\n");
    EXPECT_EQ(readText(out.file("Sum_WDetec_BY_WEmitter_IJ_01.07.2018 12.00.00P.csv")),
              row0 + row0 + kZero + ";-1.50000000000000000;" + kZero + "\r\n");
}

TEST(GridFiles, LinesRunOverJValuesOverI) {
    tTempFolder out("kwd_res_");
    auto e = accumulatorEngine(uniformGrid(3, 2, 1), out.path());
    for (int32_t i = 0; i < 3; ++i)
        for (int32_t j = 0; j < 2; ++j) e->SourceStrengthIJ(i, j, 0) = i + 10 * j;
    writeOutput(*e, *e->fCurrZDXFile, out.file("unused"));
    EXPECT_EQ(readText(out.file("SourceStrengthIJ_01.07.2018 12.00.00P.csv")),
              "0.00000000000000000;1.00000000000000000;2.00000000000000000\r\n"
              "10.00000000000000000;11.00000000000000000;12.00000000000000000\r\n");
}

TEST(GridFiles, OneByOneGridHasOneNumberAndNoSeparator) {
    tTempFolder out("kwd_res_");
    auto e = accumulatorEngine(uniformGrid(1, 1, 1), out.path());
    e->SourceStrengthIJ(0, 0, 0) = 4.0;
    writeOutput(*e, *e->fCurrZDXFile, out.file("unused"));
    EXPECT_EQ(readText(out.file("SourceStrengthIJ_01.07.2018 12.00.00P.csv")),
              "4.00000000000000000\r\n");
}

TEST(GridFiles, WithoutEmittedParticlesFootprintsAreKeptAndFilesWritten) {
    tTempFolder out("kwd_res_");
    auto e = accumulatorEngine(uniformGrid(1, 1, 1), out.path());
    e->fTotalEmittedParticles = 0;
    e->SourceStrengthIJ(0, 0, 0) = 2.0;
    e->ratioDetEmitterIJ(0, 0, 0) = 1.0;
    e->FlxFootprintIJ(0, 0, 0) = 3.5;
    e->ConFootprintIJK(0, 0, 0) = -1.25;
    writeOutput(*e, *e->fCurrZDXFile, out.file("unused"));
    EXPECT_EQ(e->FlxFootprintIJ(0, 0, 0), 3.5);
    EXPECT_EQ(e->ConFootprintIJK(0, 0, 0), -1.25);
    EXPECT_EQ(fileNames(out.path()), gridFileNames("01.07.2018 12.00.00", "P"));
    EXPECT_EQ(readText(out.file("FlxFootprintIJ_01.07.2018 12.00.00P.csv")),
              "3.50000000000000000\r\n");
}

TEST(GridFiles, MidnightNamesCarryTheDateOnly) {
    tTempFolder out("kwd_res_");
    auto e = accumulatorEngine(uniformGrid(1, 1, 1), out.path());
    e->fActSimTime = kwd::encodeDateTime(2018, 7, 2);
    writeOutput(*e, *e->fCurrZDXFile, out.file("unused"));
    EXPECT_EQ(fileNames(out.path()), gridFileNames("02.07.2018", "P"));
}

TEST(GridFiles, CountsOnlyParticlesInTheModel) {
    tTempFolder out("kwd_res_");
    auto e = accumulatorEngine(uniformGrid(3, 3, 4), out.path());
    e->CurrPosIJK(2, 2, 2) = 5.0;  // from an earlier output: recounted from 0
    tParticle p;
    p.fPosGrid = {0, 0, 0};
    e->fParticleList.push_back(p);
    e->fParticleList.push_back(p);
    p.fPosGrid = {2, 1, 3};
    e->fParticleList.push_back(p);
    p.fPosGrid = {1, 1, 1};
    p.fInModel = false;  // left the model, ended or met its target
    e->fParticleList.push_back(p);
    writeOutput(*e, *e->fCurrZDXFile, out.file("unused"));
    EXPECT_EQ(e->CurrPosIJK(0, 0, 0), 2.0);
    EXPECT_EQ(e->CurrPosIJK(2, 1, 3), 1.0);
    EXPECT_EQ(total(e->CurrPosIJK), 3.0);
}

// A list long enough to be counted in chunks on two threads: every cell's
// count is whole, and the first particle outside the grid fails.
TEST(GridFiles, ALongListIsCountedAlikeOnOneAndTwoThreads) {
    tTempFolder out("kwd_res_");
    auto e = accumulatorEngine(uniformGrid(3, 3, 4), out.path());
    for (int32_t n = 0; n < 72000; ++n) {
        tParticle p;
        p.fPosGrid = {n % 3, (n / 3) % 3, (n / 9) % 4};  // 2,000 in each cell
        p.fInModel = (n / 36) % 2 == 0;  // 1,000 of them in the model
        e->fParticleList.push_back(p);
    }
    const int saved = omp_get_max_threads();
    for (const int threads : {1, 2}) {
        SCOPED_TRACE(threads);
        omp_set_num_threads(threads);
        writeOutput(*e, *e->fCurrZDXFile, out.file("unused"));
        for (const double count : std::vector<double>(e->CurrPosIJK.data(),
                                                      e->CurrPosIJK.data() + e->CurrPosIJK.size()))
            EXPECT_EQ(count, 1000.0);
        const tParticleList kept = e->fParticleList;
        // Both in the model, at the end of the first half and the start of
        // the second.
        e->fParticleList[35000].fPosGrid = {3, 0, 0};
        e->fParticleList[36504].fPosGrid = {0, 0, -1};
        try {
            writeOutput(*e, *e->fCurrZDXFile, out.file("unused"));
            ADD_FAILURE() << "no error";
        } catch (const kwd::GeneralError& err) {
            EXPECT_STREQ(err.what(),
                         "particle 35000 in the model has the cell (3, 0, 0) outside the grid "
                         "3 x 3 x 4");
        }
        e->fParticleList = kept;
    }
    omp_set_num_threads(saved);
}

TEST(GridFiles, MissingOutputFolderIsAFileError) {
    tTempFolder out("kwd_res_");
    const std::string gone = out.file("missing");
    auto e = accumulatorEngine(uniformGrid(1, 1, 1), gone);
    try {
        writeOutput(*e, *e->fCurrZDXFile, gone + "/unused");
        FAIL() << "no error";
    } catch (const kwd::FileError& err) {
        EXPECT_EQ(std::string(err.what()), "cannot create file \"" + gone +
                                               "/SourceStrengthIJ_01.07.2018 12.00.00P.csv\": "
                                               "No such file or directory");
    }
}

TEST(GridFiles, NotVerboseWritesNoDataSet) {
    tTempFolder out("kwd_res_");
    auto e = makeEngine(uniformGrid(3, 3, 4), [](int32_t, int32_t, int32_t) { return tCellValues{}; });
    e->fOutputDir = out.path();
    e->fActSimTime = noon();
    e->fverboseLog = false;
    writeOutput(*e, *e->fCurrZDXFile, out.file("TMP_VirtPart_X"));
    EXPECT_EQ(fileNames(out.path()), gridFileNames("01.07.2018 12.00.00", "TestProject"));
}

}  // namespace

// The output data set: descriptor fields and the 17 blocks of the ZDT file.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/ResultsFixtures.h"
#include "dataset/u_ZDTFile.h"
#include "results/u_EngineOutputs.h"

using kwd::results::writeOutput;

using kwd::engine::tParticle;
using kwd::engine::tParticleManager;

using kwd::dataset::ckRadiation;
using kwd::dataset::fsCheck;
using kwd::dataset::ReadZDTBlock;
using kwd::dataset::TZDXFile;
using kwd::dataset::ZDTValueIndex;

using namespace kwd::test;

namespace {

const char* const kNames[17] = {
    "Objects ( )",
    "Flow u (m/s)",
    "Flow v (m/s)",
    "Flow w (m/s)",
    "Wind Speed (m/s)",
    "Vapor Flux (g/kg*m/s)",
    "Current position of Particles ( )",
    "Origin of Particles in Detector Vertical Sum ( )",
    "Origin of Particles in Detector 3d ( )",
    "Concentration footprint Vertical Sum ( )",
    "Concentration footprint 3d ( )",
    "Ratio wDet/wTakeOff Vertical Sum ( )",
    "Ratio wDet/wTakeOff footprint 3d ( )",
    "Flux Vertical Sum ( )",
    "Flux 3d ( )",
    "Footprint Vertical Sum ( )",
    "Footprint 3d ( )",
};

constexpr int32_t I = 3, J = 3, K = 4;

class OutputDataSet : public ::testing::Test {
protected:
    void SetUp() override {
        fEngine = makeEngine(uniformGrid(I, J, K, 2.0f, 3.0f, 1.5f), [](int32_t i, int32_t j, int32_t k) {
            tCellValues c;
            if (i == 1 && j == 1 && k == 0) c.obj = 11, c.vapor = 0.5f;
            if (i == 2 && j == 2 && k == 3) c.obj = 1;
            if (i == 1 && j == 1 && k == 1) c.u = 3.0f, c.v = -4.0f;
            if (i == 0 && j == 1 && k == 2) c.w = 0.1f;
            return c;
        });
        tParticleManager& e = *fEngine;
        e.fOutputDir = fOut.path();
        e.fActSimTime = kwd::encodeDateTime(2018, 7, 2);  // midnight
        e.fverboseLog = true;
        TZDXFile& in = *e.fCurrZDXFile;
        in.SimFileState = fsCheck;
        in.SimBaseID = "Base";
        in.WindInflow = 225.0f;
        in.Georef_x = 12.5f;
        in.Georef_y = -3.25f;
        in.Locationname = "Town";
        in.ModelRotation = 15.0f;
        in.Modelversion = "V5";
        in.SimGUID = "{GUID}";
        in.Sunposition = 42.0f;
        in.LicenseHolder = "Someone";
        e.fTotalEmittedParticles = 4;  // factor 0.5
        e.SourceStrengthIJ(1, 1, 0) = 2.0;
        e.SourceStrengthIJK(1, 1, 0) = 2.0;
        e.ratioDetEmitterIJ(1, 1, 0) = 3.0;
        e.ratioDetEmitterIJK(1, 1, 0) = 3.0;
        e.ddw_EmitterIJ(1, 1, 0) = 5.0;
        e.ddw_EmitterIJK(1, 1, 0) = 5.0;
        tParticle p;
        p.fPosGrid = {0, 2, 1};
        e.fParticleList.push_back(p);
        writeOutput(e, in, fOut.file("VirtPart_TestProject_02.07.2018"));
    }

    float value(int32_t block, int32_t i, int32_t j, int32_t k) {
        if (fBlocks.empty())
            for (int32_t b = 0; b < 17; ++b) fBlocks.push_back(ReadZDTBlock(fZdt, b, I, J, K));
        return fBlocks[size_t(block)][size_t(ZDTValueIndex(i, j, k, I, J))];
    }

    tTempFolder fOut{"kwd_res_"};
    std::unique_ptr<tParticleManager> fEngine;
    std::string fZdt = fOut.file("VirtPart_TestProject_02.07.2018.ZDT");
    std::vector<std::vector<float>> fBlocks;
};

TEST_F(OutputDataSet, ZdtHoldsSeventeenBlocks) {
    EXPECT_EQ(std::filesystem::file_size(fZdt), uintmax_t(17 * I * J * K * 4));
}

TEST_F(OutputDataSet, FlowBlocksAndWindSpeedWithoutMissingRule) {
    EXPECT_EQ(value(0, 1, 1, 0), 11.0f);
    EXPECT_EQ(value(0, 2, 2, 3), 1.0f);
    EXPECT_EQ(value(0, 0, 0, 0), 0.0f);
    EXPECT_EQ(value(1, 1, 1, 1), 3.0f);
    EXPECT_EQ(value(2, 1, 1, 1), -4.0f);
    EXPECT_EQ(value(3, 0, 1, 2), 0.1f);
    EXPECT_EQ(value(4, 1, 1, 1), 5.0f);
    EXPECT_EQ(value(4, 0, 1, 2), 0.1f);
    EXPECT_EQ(value(4, 0, 0, 0), 0.0f);  // calm cell: 0, not -999
    EXPECT_EQ(value(5, 1, 1, 0), 0.5f);
    EXPECT_EQ(value(5, 1, 1, 1), -999.0f);  // vapour flux of exactly 0
}

TEST_F(OutputDataSet, ResultBlocksWithMissingValues) {
    EXPECT_EQ(value(6, 0, 2, 1), 1.0f);
    EXPECT_EQ(value(6, 0, 0, 0), -999.0f);
    EXPECT_EQ(value(7, 1, 1, 0), 2.0f);
    EXPECT_EQ(value(7, 1, 1, 1), -999.0f);  // vertical sums live in layer 0 only
    EXPECT_EQ(value(8, 1, 1, 0), 2.0f);
    EXPECT_EQ(value(9, 1, 1, 0), 5.0f);    // (0.5 x 5) x 2
    EXPECT_EQ(value(10, 1, 1, 0), 5.0f);
    EXPECT_EQ(value(11, 1, 1, 0), 3.0f);
    EXPECT_EQ(value(12, 1, 1, 0), 3.0f);
    EXPECT_EQ(value(13, 1, 1, 0), 3.0f);   // (0.5 x 3) x 2
    EXPECT_EQ(value(14, 1, 1, 0), 3.0f);
    EXPECT_EQ(value(14, 2, 0, 3), -999.0f);
    for (int32_t k = 0; k < K; ++k)
        for (int32_t j = 0; j < J; ++j)
            for (int32_t i = 0; i < I; ++i) {
                EXPECT_EQ(value(15, i, j, k), value(9, i, j, k));
                EXPECT_EQ(value(16, i, j, k), value(10, i, j, k));
            }
}

TEST_F(OutputDataSet, DescriptorFields) {
    const std::string zdx = fOut.file("VirtPart_TestProject_02.07.2018.ZDX");
    TZDXFile d;
    ASSERT_EQ(d.ReadFile(zdx), 0);
    EXPECT_EQ(d.SimFileState, fsCheck);
    EXPECT_EQ(d.filetype, 2);
    EXPECT_EQ(d.fileContent, ckRadiation);
    EXPECT_FALSE(d.zZeroAtTop);
    EXPECT_EQ(d.SpatialDimensions, 3);
    EXPECT_EQ(d.DataPerVariable, 1);
    EXPECT_EQ(d.Title, "Virtual Particles");
    EXPECT_EQ(d.SimBaseID, "Base");
    EXPECT_EQ(d.GridsI, I);
    EXPECT_EQ(d.GridsJ, J);
    EXPECT_EQ(d.GridsK, K);
    EXPECT_EQ(d.simdate, "02.07.2018");
    EXPECT_EQ(d.simtime, "00:00:00");
    ASSERT_EQ(d.numberVars, 17);
    ASSERT_EQ(d.nameVars.size(), 17u);
    for (size_t n = 0; n < 17; ++n)  // the reader splits each name at its unit
        EXPECT_EQ(d.nameVars[n] + "(" + d.UnitVars[n] + ")", kNames[n]);
    EXPECT_EQ(d.sizedx, std::vector<float>(3, 2.0f));
    EXPECT_EQ(d.sizedy, std::vector<float>(3, 3.0f));
    EXPECT_EQ(d.sizedz, std::vector<float>(4, 1.5f));
    EXPECT_EQ(d.Sunposition, -999.0f);
    EXPECT_EQ(d.WindInflow, 225.0f);
    EXPECT_EQ(d.Georef_x, 12.5f);
    EXPECT_EQ(d.Georef_y, -3.25f);
    EXPECT_EQ(d.Locationname, "Town");
    EXPECT_EQ(d.ModelRotation, 15.0f);
    EXPECT_EQ(d.Modelversion, "V5");
    EXPECT_EQ(d.SimGUID, "{GUID}");
    EXPECT_EQ(d.projectname, "TestProject");
    // The reader does not keep the licence holder; the text holds the producer.
    const std::string text = readText(zdx);
    EXPECT_NE(text.find("KWD_PLR"), std::string::npos);
    EXPECT_EQ(text.find("Someone"), std::string::npos);
}

}  // namespace

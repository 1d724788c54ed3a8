#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/u_Touchdowns.h"
#include "frontend/u_tTRAFile.h"
#include "platform/FileIO.h"
#include "platform/KwdError.h"

namespace {

const std::string kDir = std::string(KWD_TEST_DATA_DIR) + "/frontend";
using Paths = std::vector<std::string>;

class TRAFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        fDir = (std::filesystem::temp_directory_path() /
                ("kwd_tra_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                   .string();
        std::filesystem::remove_all(fDir);
        std::filesystem::create_directories(fDir);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(fDir, ec);
    }
    std::string file(const std::string& name) const { return fDir + "/" + name; }

    std::string fDir;
};

void expectDetector(const tSensor& s, float xMin, float xMax, float yMin, float yMax, float zMin,
                    float zMax) {
    EXPECT_EQ(s.fxMin, xMin);
    EXPECT_EQ(s.fxMax, xMax);
    EXPECT_EQ(s.fyMin, yMin);
    EXPECT_EQ(s.fyMax, yMax);
    EXPECT_EQ(s.fzMin, zMin);
    EXPECT_EQ(s.fzMax, zMax);
}

}  // namespace

TEST_F(TRAFileTest, FreshObjectHoldsZerosAndAnEmptyList) {
    const tTRAFile t;
    EXPECT_EQ(t.fRootPath, "");
    EXPECT_EQ(t.fFiletype, "");
    EXPECT_EQ(t.fVersion, 0);
    EXPECT_EQ(t.fEncryptionLevel, 0);
    expectDetector(t.fSensor, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(t.getParticleMultiplier(), 0);
    EXPECT_EQ(t.getMinHeight(), 0.0);
    EXPECT_TRUE(t.fZDXFileList.empty());
}

TEST_F(TRAFileTest, MissingFileGivesEveryDefault) {
    tTRAFile t;
    EXPECT_TRUE(t.LoadFromFile(file("absent.tra")));
    EXPECT_EQ(t.fRootPath, "-");
    expectDetector(t.fSensor, -999, -999, -999, -999, -999, -999);
    EXPECT_EQ(t.getParticleMultiplier(), -999);
    EXPECT_EQ(t.getMinHeight(), -999.0);
    EXPECT_TRUE(t.fZDXFileList.empty());
    EXPECT_EQ(t.fFiletype, "ParticleDispersionInput");
    EXPECT_EQ(t.fVersion, 1);
}

TEST_F(TRAFileTest, ThreePathElementsInFileOrderAndLenientNumbers) {
    tTRAFile t;
    EXPECT_TRUE(t.LoadFromFile(kDir + "/three_paths.tra"));
    EXPECT_EQ(t.fZDXFileList, (Paths{"/data/sim/atmosphere/a_12.00.00_01.07.2018.ZDX", "-",
                                     "/data/sim/atmosphere/c_13.00.00_01.07.2018.ZDX"}));
    EXPECT_EQ(t.fVersion, 3);
    EXPECT_EQ(t.fFiletype, "ParticleDispersionInput");
    // "10,75" reads only its integer part.
    expectDetector(t.fSensor, 10.0f, 20.5f, -5.25f, 5.25f, 0.0f, 3.0f);
    EXPECT_EQ(t.fRootPath, "/data/sim");
    EXPECT_EQ(t.getMinHeight(), 0.25);
    EXPECT_EQ(t.getParticleMultiplier(), -999);  // tag absent

    // A second load into the same object appends its paths again.
    t.LoadFromFile(kDir + "/three_paths.tra");
    ASSERT_EQ(t.fZDXFileList.size(), 6u);
    EXPECT_EQ(t.fZDXFileList[3], t.fZDXFileList[0]);
    EXPECT_EQ(t.fZDXFileList[5], t.fZDXFileList[2]);
}

TEST_F(TRAFileTest, MissingElementDefaultsOnlyItsOwnTags) {
    tTRAFile t;
    t.fZDXFileList = {"kept.ZDX"};
    EXPECT_TRUE(t.LoadFromFile(kDir + "/no_detector.tra"));
    expectDetector(t.fSensor, -999, -999, -999, -999, -999, -999);
    EXPECT_EQ(t.getParticleMultiplier(), 5000);
    EXPECT_EQ(t.getMinHeight(), 1.5);
    EXPECT_EQ(t.fRootPath, "/data/other");
    EXPECT_EQ(t.fFiletype, "SomethingElse");
    EXPECT_EQ(t.fVersion, 7);
    EXPECT_EQ(t.fZDXFileList, Paths{"kept.ZDX"});
}

TEST_F(TRAFileTest, SaveAddsTheExtensionAndLoadRestoresTheValues) {
    tTRAFile t;
    t.fRootPath = "/data/My Simulation";
    t.setDetectorValues(100.5f, 120.25f, -40.125f, -20.0f, 1.5f, 2.75f);
    t.setParticleMultiplier(250000);
    t.setMinHeight(0.01);
    t.fZDXFileList = {"/data/a.ZDX", "/data/b, c.ZDX", "/data/d.ZDX"};
    const std::string base = file("run1");
    t.SaveToFile(base);
    ASSERT_TRUE(kwd::fileExists(base + ".tra"));
    EXPECT_FALSE(kwd::fileExists(base));

    const std::string text = kwd::readWholeFile(base + ".tra");
    EXPECT_NE(text.find("\r\n  <TrajectoryInfo>\r\n"
                        "     <ParticleMultiplier> 250000 </ParticleMultiplier>\r\n"
                        "     <MinHeight> 0.01000 </MinHeight>\r\n"
                        "     <RootPath> /data/My Simulation </RootPath>\r\n"
                        "  </TrajectoryInfo>\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("<filetype>ParticleDispersionInput</filetype>\r\n<version>1</version>"),
              std::string::npos);
    EXPECT_NE(text.find("<encryptionlevel>2</encryptionlevel>"), std::string::npos);

    // The path is taken exactly as given: without the extension there is no file.
    tTRAFile none;
    none.LoadFromFile(base);
    EXPECT_EQ(none.fRootPath, "-");

    tTRAFile back;
    EXPECT_TRUE(back.LoadFromFile(base + ".tra"));
    EXPECT_EQ(back.fRootPath, t.fRootPath);
    expectDetector(back.fSensor, 100.5f, 120.25f, -40.125f, -20.0f, 1.5f, 2.75f);
    EXPECT_EQ(back.getParticleMultiplier(), 250000);
    EXPECT_EQ(back.getMinHeight(), double(0.01f));
    EXPECT_EQ(back.fZDXFileList, t.fZDXFileList);
    EXPECT_EQ(back.fFiletype, "ParticleDispersionInput");
    EXPECT_EQ(back.fVersion, 1);
}

TEST_F(TRAFileTest, FootprintModelTagIsOptionalAndSavedOnlyWhenSet) {
    tTRAFile t;
    t.fRootPath = "/data/sim";
    t.fZDXFileList = {"/data/a.ZDX"};
    const std::string plain = file("plain");
    t.SaveToFile(plain);
    EXPECT_EQ(kwd::readWholeFile(plain + ".tra").find("FootprintModel"), std::string::npos);
    tTRAFile back;
    back.LoadFromFile(plain + ".tra");
    EXPECT_EQ(back.fFootprintModel, "");

    t.fFootprintModel = "touchdown";
    const std::string chosen = file("chosen");
    t.SaveToFile(chosen);
    EXPECT_NE(kwd::readWholeFile(chosen + ".tra")
                  .find("     <FootprintModel> touchdown </FootprintModel>\r\n  </TrajectoryInfo>"),
              std::string::npos);
    tTRAFile again;
    again.LoadFromFile(chosen + ".tra");
    tFootprintModel model = tFootprintModel::Described;
    EXPECT_TRUE(parseFootprintModel(again.fFootprintModel, model));
    EXPECT_EQ(model, tFootprintModel::Touchdown);
    // Names: exact words, blanks around them allowed.
    EXPECT_TRUE(parseFootprintModel(" described ", model));
    EXPECT_EQ(model, tFootprintModel::Described);
    for (const char* bad : {"", "Touchdown", "touch down", "forward"})
        EXPECT_FALSE(parseFootprintModel(bad, model)) << bad;
}

TEST_F(TRAFileTest, SaveIntoMissingFolderRaisesFileError) {
    tTRAFile t;
    EXPECT_THROW(t.SaveToFile(file("no/such/folder/run")), kwd::FileError);
}

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/u_Touchdowns.h"
#include "frontend/u_tTRAFile.h"
#include "platform/FileIO.h"
#include "platform/KwdError.h"
#include "support/TempFolder.h"

using kwd::engine::parseFootprintModel;
using kwd::engine::tFootprintModel;

using kwd::frontend::tSensor;
using kwd::frontend::tTRAFile;

namespace {

const std::string kDir = std::string(KWD_TEST_DATA_DIR) + "/frontend";
using Paths = std::vector<std::string>;

class TRAFileTest : public ::testing::Test {
protected:
    std::string file(const std::string& name) const { return fFolder.file(name); }

    kwd::test::tTempFolder fFolder{"kwd_tra_"};
};

}  // namespace

TEST_F(TRAFileTest, FreshObjectHoldsZerosAndAnEmptyList) {
    const tTRAFile t;
    EXPECT_EQ(t.fRootPath, "");
    EXPECT_EQ(t.fFiletype, "");
    EXPECT_EQ(t.fVersion, 0);
    EXPECT_EQ(t.fEncryptionLevel, 0);
    EXPECT_EQ(t.fSensor, (tSensor{0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(t.getParticleMultiplier(), 0);
    EXPECT_EQ(t.getMinHeight(), 0.0);
    EXPECT_TRUE(t.fZDXFileList.empty());
}

TEST_F(TRAFileTest, MissingFileGivesEveryDefault) {
    tTRAFile t;
    EXPECT_TRUE(t.LoadFromFile(file("absent.tra")));
    EXPECT_EQ(t.fRootPath, "-");
    EXPECT_EQ(t.fSensor, (tSensor{-999, -999, -999, -999, -999, -999}));
    EXPECT_EQ(t.getParticleMultiplier(), -999);
    EXPECT_EQ(t.getMinHeight(), -999.0);
    EXPECT_TRUE(t.fZDXFileList.empty());
    EXPECT_EQ(t.fFiletype, "ParticleDispersionInput");
    EXPECT_EQ(t.fVersion, 1);
}

TEST_F(TRAFileTest, ThreePathElementsInFileOrder) {
    tTRAFile t;
    EXPECT_TRUE(t.LoadFromFile(kDir + "/three_paths.tra"));
    EXPECT_EQ(t.fZDXFileList, (Paths{"/data/sim/atmosphere/a_12.00.00_01.07.2018.ZDX",
                                     "/data/sim/atmosphere/b_12.30.00_01.07.2018.ZDX",
                                     "/data/sim/atmosphere/c_13.00.00_01.07.2018.ZDX"}));
    EXPECT_EQ(t.fVersion, 3);
    EXPECT_EQ(t.fFiletype, "ParticleDispersionInput");
    EXPECT_EQ(t.fSensor, (tSensor{10.75f, 20.5f, -5.25f, 5.25f, 0.0f, 3.0f}));
    EXPECT_EQ(t.fRootPath, "/data/sim");
    EXPECT_EQ(t.getMinHeight(), 0.25);
    EXPECT_EQ(t.getParticleMultiplier(), -999);  // tag absent: one batch

    // A second load into the same object appends its paths again.
    t.LoadFromFile(kDir + "/three_paths.tra");
    ASSERT_EQ(t.fZDXFileList.size(), 6u);
    EXPECT_EQ(t.fZDXFileList[3], t.fZDXFileList[0]);
    EXPECT_EQ(t.fZDXFileList[5], t.fZDXFileList[2]);
}

TEST_F(TRAFileTest, MissingHeightAndParticleCountTakeTheirDefaults) {
    const std::string path = file("optional.tra");
    std::string text = kwd::readWholeFile(kDir + "/three_paths.tra");
    text.erase(text.find("     <MinHeight>"), text.find("     <RootPath>") - text.find("     <MinHeight>"));
    kwd::writeWholeFile(path, text);
    tTRAFile t;
    t.LoadFromFile(path);
    EXPECT_EQ(t.getMinHeight(), -999.0);
    EXPECT_EQ(t.getParticleMultiplier(), -999);
    EXPECT_EQ(t.fRootPath, "/data/sim");
}

TEST_F(TRAFileTest, LenientNumbersAndMissingRequiredTagsAreInputErrors) {
    // Each case changes one piece of a good file.
    const std::string good = kwd::readWholeFile(kDir + "/three_paths.tra");
    const std::string pm = "     <MinHeight> 0.25000 </MinHeight>";
    const std::string xMin = "<xMin> 10.75 </xMin>";
    const std::string path = file("bad.tra");
    const std::string lacks = "the run configuration file \"" + path + "\" lacks the tag ";
    const std::string holds = "the run configuration file \"" + path + "\" has the tag ";
    const std::string notFloat =
        "\", which does not read completely as a decimal number in the 32-bit float range "
        "(decimal point \".\")";
    const std::string notInt = "\", which does not read completely as a 32-bit integer";
    const auto multiplier = [&](const std::string& v) {
        return "<ParticleMultiplier> " + v + " </ParticleMultiplier>\r\n" + pm;
    };
    struct Case {
        std::string from, to, message;
    } cases[] = {
        {pm, multiplier("1e7"), holds + "\"ParticleMultiplier\" with \"1e7" + notInt},
        {pm, multiplier("2.5e6"), holds + "\"ParticleMultiplier\" with \"2.5e6" + notInt},
        {pm, multiplier("3,000,000"), holds + "\"ParticleMultiplier\" with \"3,000,000" + notInt},
        {pm, multiplier("1000000000000"), holds + "\"ParticleMultiplier\" with \"1000000000000" + notInt},
        {pm, multiplier(""), holds + "\"ParticleMultiplier\" with \"" + notInt},
        {xMin, "<xMin> nan </xMin>", holds + "\"xMin\" with \"nan" + notFloat},
        {xMin, "<xMin> abc </xMin>", holds + "\"xMin\" with \"abc" + notFloat},
        {xMin, "<xMin> inf </xMin>", holds + "\"xMin\" with \"inf" + notFloat},
        {xMin, "<xMin> 30,25 </xMin>", holds + "\"xMin\" with \"30,25" + notFloat},
        {xMin, "<xMin> 1e39 </xMin>", holds + "\"xMin\" with \"1e39" + notFloat},
        {xMin, "<xMin> 0x10 </xMin>", holds + "\"xMin\" with \"0x10" + notFloat},
        {"<MinHeight> 0.25000 </MinHeight>", "<MinHeight> 0.25m </MinHeight>",
         holds + "\"MinHeight\" with \"0.25m" + notFloat},
        {xMin, "", lacks + "\"xMin\" (element \"DetectorInfo\")"},
        {"<zMax> 3.00000 </zMax>", "<zmax> 3.00000 </zmax>", lacks + "\"zMax\" (element \"DetectorInfo\")"},
        {"<RootPath> /data/sim </RootPath>", "<Rootpath> /data/sim </Rootpath>",
         lacks + "\"RootPath\" (element \"TrajectoryInfo\")"},
        {"<RootPath> /data/sim </RootPath>", "<RootPath></RootPath>",
         "the run configuration file \"" + path +
             "\" has an empty tag \"RootPath\" (element \"TrajectoryInfo\")"},
        {"<ZDXPath> /data/sim/atmosphere/b_12.30.00_01.07.2018.ZDX </ZDXPath>",
         "<Remark> no path here </Remark>", lacks + "\"ZDXPath\" (element \"ZDXPaths\" number 1)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to);
        std::string text = good;
        ASSERT_NE(text.find(c.from), std::string::npos);
        text.replace(text.find(c.from), c.from.size(), c.to);
        kwd::writeWholeFile(path, text);
        tTRAFile t;
        try {
            t.LoadFromFile(path);
            ADD_FAILURE() << "no error";
        } catch (const kwd::InputError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
    // A file without the detector element names its first tag.
    tTRAFile t;
    try {
        t.LoadFromFile(kDir + "/no_detector.tra");
        ADD_FAILURE() << "no error";
    } catch (const kwd::InputError& e) {
        EXPECT_EQ(std::string(e.what()), "the run configuration file \"" + kDir +
                                             "/no_detector.tra\" lacks the tag \"xMin\" (element "
                                             "\"DetectorInfo\")");
    }
}

TEST_F(TRAFileTest, StrictNumbersStillReadEveryWellFormedValue) {
    const std::string path = file("good.tra");
    std::string text = kwd::readWholeFile(kDir + "/three_paths.tra");
    const auto put = [&](const std::string& from, const std::string& to) {
        text.replace(text.find(from), from.size(), to);
    };
    put("<xMin> 10.75 </xMin>", "<xMin> +1.5e1 </xMin>");
    put("<xMax> 20.50000 </xMax>", "<xMax> 20 </xMax>");
    put("<yMin> -5.25000 </yMin>", "<yMin> -.5 </yMin>");
    put("     <MinHeight>", "     <ParticleMultiplier> +2147483647 </ParticleMultiplier>\r\n     <MinHeight>");
    kwd::writeWholeFile(path, text);
    tTRAFile t;
    t.LoadFromFile(path);
    EXPECT_EQ(t.fSensor, (tSensor{15.0f, 20.0f, -0.5f, 5.25f, 0.0f, 3.0f}));
    EXPECT_EQ(t.getParticleMultiplier(), 2147483647);
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
    EXPECT_EQ(back.fSensor, (tSensor{100.5f, 120.25f, -40.125f, -20.0f, 1.5f, 2.75f}));
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

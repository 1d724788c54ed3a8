#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dataset/u_ZDXFile.h"
#include "support/TempFolder.h"
#include "platform/FileIO.h"
#include "platform/KwdError.h"

using kwd::dataset::ckAtmosphere;
using kwd::dataset::ckComfort;
using kwd::dataset::ckFacade;
using kwd::dataset::ckFacadeSolarAccess;
using kwd::dataset::ckFacadeStatic;
using kwd::dataset::ckPollutants;
using kwd::dataset::ckSoil;
using kwd::dataset::ckSolarAccess;
using kwd::dataset::ckSurface;
using kwd::dataset::ckUnknown;
using kwd::dataset::ckVegetation;
using kwd::dataset::fsCheck;
using kwd::dataset::fsInitialisation;
using kwd::dataset::fsNormal;
using kwd::dataset::fsPanicDump;
using kwd::dataset::tSimFileContent;
using kwd::dataset::tSimFileState;
using kwd::dataset::TZDXFile;

namespace {

const std::string kDir = std::string(KWD_TEST_DATA_DIR) + "/dataset";

using Floats = std::vector<float>;
using Names = std::vector<std::string>;

}  // namespace

TEST(ZDIImport, ReadsGridNamesSectionsAndTheNameStamp) {
    TZDXFile d;
    // The extension of the name passed in is replaced by ".ZDI" for reading.
    const std::string name = kDir + "/Park_AT_12.30.15_01.07.2018.ZDX";
    ASSERT_EQ(d.ImportZDIFile(name), 0);
    EXPECT_EQ(d.InfoFilename, name);
    EXPECT_EQ(d.DataFilename, kDir + "/Park_AT_12.30.15_01.07.2018.ZDT");
    EXPECT_EQ(d.filetype, 2);
    EXPECT_EQ(d.fileversion, 4);
    EXPECT_EQ(d.DataPerVariable, 1);
    EXPECT_EQ(d.Title, "Park in summer");
    EXPECT_EQ(d.GridsI, 3);
    EXPECT_EQ(d.GridsJ, 2);
    EXPECT_EQ(d.GridsK, 2);
    EXPECT_EQ(d.numberVars, 2);
    EXPECT_EQ(d.nameVars, (Names{"Flow u ", "Temp "}));
    EXPECT_EQ(d.UnitVars, (Names{"m/s", "K"}));
    EXPECT_EQ(d.sizedx, (Floats{1.5f, 2.0f, 2.5f}));
    EXPECT_EQ(d.sizedy, (Floats{4.0f, 3.0f}));  // stored from the top row down
    EXPECT_EQ(d.sizedz, (Floats{0.5f, 1.25f}));
    EXPECT_EQ(d.simdate, "01.07.2018");
    EXPECT_EQ(d.simtime, "12:30:15");
    EXPECT_EQ(d.TimeInfo.timevalue, 15 + 60 * 30 + 3600 * 12 + 86400 * 1 + 2592000 * 7);
    EXPECT_EQ(d.fileContent, ckAtmosphere);
    EXPECT_EQ(d.SimFileState, fsNormal);
    EXPECT_TRUE(d.canBuiltTimeSeries);
    EXPECT_EQ(d.SimBaseID, "Park_AT_");
    EXPECT_EQ(d.Georef_x, 10.5f);
    EXPECT_EQ(d.Georef_y, 20.25f);
    EXPECT_EQ(d.Locationname, "Old Town");  // marker matched in any letter case
    EXPECT_EQ(d.ModelRotation, 15.0f);
    EXPECT_EQ(d.Sunposition, 30.5f);
    EXPECT_EQ(d.WindInflow, 270.0f);
    EXPECT_EQ(d.projectname, "unknown");
    EXPECT_EQ(d.Modelversion, "3.1");
    EXPECT_EQ(d.SimGUID, "0-not_defined");
}

TEST(ZDIImport, InvalidDateFallsBackAndKeepsTheNameDigitsInTheTimeKey) {
    TZDXFile d;
    ASSERT_EQ(d.ImportZDIFile(kDir + "/Old_AT_06.15.00_29.02.2016.ZDI"), 0);
    EXPECT_EQ(d.simdate, "23.06.2015");  // 29.02 is no date of 2015
    EXPECT_EQ(d.simtime, "23:00:00");
    EXPECT_EQ(d.TimeInfo.timevalue, 60 * 15 + 3600 * 6 + 86400 * 29 + 2592000 * 2);
    // A type line without "F_" is the title.
    EXPECT_EQ(d.filetype, -1);
    EXPECT_EQ(d.fileversion, 1);
    EXPECT_EQ(d.Title, "Leap day output");
    EXPECT_EQ(d.nameVars, (Names{"Objects "}));
    EXPECT_EQ(d.UnitVars, (Names{" "}));
    EXPECT_EQ(d.sizedx, Floats{2.0f});
    EXPECT_EQ(d.sizedy, Floats{3.0f});
    EXPECT_EQ(d.sizedz, Floats{4.0f});
    // No section markers: the values set before them stay.
    EXPECT_EQ(d.projectname, "unknown");
    EXPECT_EQ(d.Modelversion, "3.1");
    EXPECT_EQ(d.Locationname, "");
    EXPECT_EQ(d.ModelRotation, -999.0f);
    EXPECT_EQ(d.Sunposition, -999.0f);
    EXPECT_EQ(d.WindInflow, -999.0f);
    EXPECT_EQ(d.Georef_x, 0.0f);
}

TEST(ZDIImport, SolarAccessOutputGetsTheEveningTime) {
    TZDXFile d;
    ASSERT_EQ(d.ImportZDIFile(kDir + "/Roof_SA_14.00.00_21.06.2018.ZDI"), 0);
    EXPECT_EQ(d.simdate, "21.06.2018");
    EXPECT_EQ(d.simtime, "23:00:00");
    EXPECT_EQ(d.TimeInfo.timevalue, 3600 * 14 + 86400 * 21 + 2592000 * 6);
    EXPECT_EQ(d.fileContent, ckSolarAccess);
    EXPECT_FALSE(d.canBuiltTimeSeries);
    EXPECT_EQ(d.SimBaseID, "Roof_SA_14.00.00_");
    EXPECT_EQ(d.filetype, 1);
    EXPECT_EQ(d.fileversion, 2);
    // The first slot's line is no marker and is passed over; the second
    // slot's marker follows.
    EXPECT_EQ(d.Locationname, "Roof");
    EXPECT_EQ(d.Georef_x, 0.0f);
    EXPECT_EQ(d.ModelRotation, -999.0f);
}

TEST(ZDIImport, FacadeStaticDataHasThreeValuesPerVariable) {
    TZDXFile d;
    ASSERT_EQ(d.ImportZDIFile(kDir + "/Wall_BLDG_StaticData_10.00.00_05.05.2018.ZDI"), 0);
    EXPECT_EQ(d.filetype, 3);
    EXPECT_EQ(d.fileversion, 1);
    EXPECT_EQ(d.DataPerVariable, 3);
    EXPECT_EQ(d.fileContent, ckFacadeStatic);  // the later row beats "_BLDG_"
    EXPECT_FALSE(d.canBuiltTimeSeries);
    EXPECT_EQ(d.SimBaseID, "Wall_BLDG_StaticData_10.00.00_05.05.2018");
    EXPECT_EQ(d.simtime, "10:00:00");
    EXPECT_EQ(d.GridsI, 2);
    EXPECT_EQ(d.GetLayerSize(), 6);
}

TEST(ZDIImport, WordsOfTheNameGiveStateAndContent) {
    struct Case {
        const char* prefix;
        tSimFileState state;
        tSimFileContent content;
        bool series;
    };
    const Case cases[] = {
        {"Plain_", fsNormal, ckUnknown, false},
        {"x_at_check_", fsCheck, ckAtmosphere, true},
        {"PANIC_check_FX_", fsPanicDump, ckSurface, true},
        {"a(Initialisation)_PHFX_", fsInitialisation, ckSurface, true},
        {"a_SO_", fsNormal, ckSoil, true},
        {"a_POLU_", fsNormal, ckPollutants, true},
        {"a_VEG_", fsNormal, ckVegetation, true},
        {"a_BIO_", fsNormal, ckComfort, true},
        {"a_BLDG_", fsNormal, ckFacade, true},
        {"a_SAFAC_", fsNormal, ckFacadeSolarAccess, false},
        {"a_AT_SO_", fsNormal, ckSoil, true},  // later rows win
    };
    kwd::test::tTempFolder dir;
    for (const Case& c : cases) {
        const std::string name = dir.file(std::string(c.prefix) + "12.00.00_01.07.2018.ZDI");
        kwd::writeWholeFile(name, "Title\r\n1\r\n1\r\n1\r\n1\r\nV (x)\r\n-\r\n1\r\n1\r\n1\r\n");
        TZDXFile d;
        ASSERT_EQ(d.ImportZDIFile(name), 0) << c.prefix;
        EXPECT_EQ(d.SimFileState, c.state) << c.prefix;
        EXPECT_EQ(d.fileContent, c.content) << c.prefix;
        EXPECT_EQ(d.canBuiltTimeSeries, c.series) << c.prefix;
    }
}

TEST(ZDIImport, EmptyMissingAndShortNames) {
    TZDXFile d;
    EXPECT_EQ(d.ImportZDIFile(""), -1);
    EXPECT_EQ(d.DataFilename, "");
    kwd::test::tTempFolder dir;
    const std::string missing = dir.file("None_AT_12.00.00_01.07.2018.ZDX");
    EXPECT_EQ(d.ImportZDIFile(missing), -2);
    EXPECT_EQ(d.DataFilename, dir.file("None_AT_12.00.00_01.07.2018.ZDT"));
    EXPECT_EQ(d.InfoFilename, "");
    EXPECT_EQ(d.filetype, -1);

    // A short name needs a short path: work inside the temporary folder.
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    kwd::writeWholeFile("short.ZDI", "Title\r\n");
    try {
        d.ImportZDIFile("short.ZDI");
        ADD_FAILURE() << "no error";
    } catch (const kwd::InputError& e) {
        EXPECT_STREQ(e.what(),
                     "ZDI file name \"short.ZDI\" is too short: it must end in "
                     "hh?mm?ss?dd?mm?yyyy and a four-character extension (23 characters)");
    }
    std::filesystem::current_path(previous);
}

TEST(ZDIImport, MissingLinesReadAsEmptyAndAbsurdCountsAreRefused) {
    kwd::test::tTempFolder dir;
    const std::string cut = dir.file("Cut_AT_12.00.00_01.07.2018.ZDI");
    kwd::writeWholeFile(cut, "F_3D+1\nCut\n4\n1\n1\n1\nV (x)\n-\n7\n8");
    TZDXFile d;
    ASSERT_EQ(d.ImportZDIFile(cut), 0);
    EXPECT_EQ(d.GridsI, 4);
    EXPECT_EQ(d.sizedx, (Floats{7.0f, 8.0f, 0.0f, 0.0f}));
    EXPECT_EQ(d.sizedy, Floats{0.0f});

    const std::string huge = dir.file("Huge_AT_12.00.00_01.07.2018.ZDI");
    kwd::writeWholeFile(huge, "F_3D+1\nHuge\n2000000000\n1\n1\n1\nV (x)\n-\n1\n1\n1\n");
    try {
        d.ImportZDIFile(huge);
        ADD_FAILURE() << "no error";
    } catch (const kwd::InputError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "ZDI file \"" + huge +
                      "\": cell count along x 2000000000 is more than the 3 lines left in the file");
    }
}

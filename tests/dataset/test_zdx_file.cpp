#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataset/u_ZDXFile.h"
#include "support/TempFolder.h"
#include "platform/FileIO.h"

using kwd::dataset::ckAtmosphere;
using kwd::dataset::ckFacade;
using kwd::dataset::ckFacadeSolarAccess;
using kwd::dataset::ckFacadeStatic;
using kwd::dataset::ckRadiation;
using kwd::dataset::ckSolarAccess;
using kwd::dataset::ckUnknown;
using kwd::dataset::ckViewAnalysis;
using kwd::dataset::fsCheck;
using kwd::dataset::fsInitialisation;
using kwd::dataset::fsNormal;
using kwd::dataset::fsPanicDump;
using kwd::dataset::tSimFileContent;
using kwd::dataset::tSimFileState;
using kwd::dataset::TZDXFile;

namespace {

using Floats = std::vector<float>;
using Names = std::vector<std::string>;

// A ZDX file with the given content description and element lines.
std::string zdxText(const std::string& contentInfo, const std::string& body) {
    return "<ZAKO-RIN_Datafile>\r\n<Header>\r\n<filetype>" + contentInfo +
           "</filetype>\r\n<version>101</version>\r\n<revisiondate>01.07.2018 "
           "12:00:00</revisiondate>\r\n<remark></remark>\r\n<encryptionlevel>0</encryptionlevel>"
           "\r\n</Header>\r\n" +
           body + "</ZAKO-RIN_Datafile>\r\n";
}

std::string element(const std::string& name, const std::vector<std::string>& tags) {
    std::string s = "  <" + name + ">\r\n";
    for (const auto& t : tags) s += "     " + t + "\r\n";
    return s + "  </" + name + ">\r\n";
}

TZDXFile sampleDescriptor() {
    TZDXFile d;
    d.filetype = 2;
    d.fileContent = ckAtmosphere;
    d.SimFileState = fsCheck;
    d.SpatialDimensions = 3;
    d.GridsI = 3;
    d.GridsJ = 2;
    d.GridsK = 4;
    d.sizedx = {1.5f, 2.0f, 2.5f};
    d.sizedy = {3.0f, 3.25f};
    d.sizedz = {0.1f, 0.2f, 0.4f, 0.8f};
    d.numberVars = 3;
    d.DataPerVariable = 1;
    d.nameVars = {"Flow u (m/s)", "Temp [K]", "Objects ( )"};
    d.zZeroAtTop = true;
    d.Title = "Park study";
    d.SimBaseID = "Park";
    d.simdate = "01.07.2018";
    d.simtime = "12:00:00";
    d.projectname = "Park project";
    d.Modelversion = "5.0.1";
    d.SimGUID = "1234-ABCD";
    d.LicenseHolder = "Some Licensee";
    d.Georef_x = 512345.12345f;
    d.Georef_y = -12.5f;
    d.Locationname = "Old Town";
    d.ModelRotation = 12.000004f;
    d.Sunposition = 45.5f;
    d.WindInflow = 270.0f;
    return d;
}

}  // namespace

TEST(ZDXFile, FreshDescriptorHoldsTheConstructionValues) {
    const TZDXFile d;
    EXPECT_EQ(d.filetype, -1);
    EXPECT_EQ(d.fileContent, ckUnknown);
    EXPECT_EQ(d.SimFileState, fsNormal);
    EXPECT_EQ(d.fileversion, 0);
    EXPECT_EQ(d.GridsI + d.GridsJ + d.GridsK + d.numberVars + d.DataPerVariable, 0);
    EXPECT_FALSE(d.zZeroAtTop);
    EXPECT_FALSE(d.canBuiltTimeSeries);
    EXPECT_TRUE(d.sizedx.empty() && d.nameVars.empty() && d.UnitVars.empty());
    EXPECT_EQ(d.Title, "");
    EXPECT_EQ(d.Sunposition, 0.0f);
    EXPECT_EQ(d.TimeInfo.timevalue, 0);
}

TEST(ZDXFile, WrittenFileHasTheHeaderAndTheFiveElementsInOrder) {
    kwd::test::tTempFolder dir;
    const std::string path = dir.file("fresh.ZDX");
    TZDXFile d;
    d.nameVars = {"unused"};  // numberVars 0: no name written
    d.WriteFile(path);
    std::string text = kwd::readWholeFile(path);
    // The revision date is the time of writing.
    const size_t a = text.find("<revisiondate>"), b = text.find("</revisiondate>");
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    text.replace(a, b - a, "<revisiondate>");
    EXPECT_EQ(text,
              "<ZAKO-RIN_Datafile>\r\n"
              "<Header>\r\n"
              "<filetype>ZDX ZAKO-rin Simulation Data Definition</filetype>\r\n"
              "<version>101</version>\r\n"
              "<revisiondate></revisiondate>\r\n"
              "<remark>This file links to the ZDT file of the same name</remark>\r\n"
              "<encryptionlevel>0</encryptionlevel>\r\n"
              "</Header>\r\n"
              "  <datadescription>\r\n"
              "     <data_type> -1 </data_type>\r\n"
              "     <data_content> 0 </data_content>\r\n"
              "     <data_zorientation> 0 </data_zorientation>\r\n"
              "     <data_health_status> 0 </data_health_status>\r\n"
              "     <data_spatial_dim> 0 </data_spatial_dim>\r\n"
              "     <nr_xdata> 0 </nr_xdata>\r\n"
              "     <nr_ydata> 0 </nr_ydata>\r\n"
              "     <nr_zdata> 0 </nr_zdata>\r\n"
              "     <spacing_x>  </spacing_x>\r\n"
              "     <spacing_y>  </spacing_y>\r\n"
              "     <spacing_z>  </spacing_z>\r\n"
              "  </datadescription>\r\n"
              "  <variables>\r\n"
              "     <Data_per_variable> 0 </Data_per_variable>\r\n"
              "     <nr_variables> 0 </nr_variables>\r\n"
              "     <name_variables>  </name_variables>\r\n"
              "  </variables>\r\n"
              "  <modeldescription>\r\n"
              "     <title>  </title>\r\n"
              "     <simulation_basename>  </simulation_basename>\r\n"
              "     <simulation_date>  </simulation_date>\r\n"
              "     <simulation_time>  </simulation_time>\r\n"
              "     <projectname>  </projectname>\r\n"
              "     <locationname>  </locationname>\r\n"
              "     <model_rotation> 0.00000 </model_rotation>\r\n"
              "     <location_georef_x> 0.00000 </location_georef_x>\r\n"
              "     <location_georef_y> 0.00000 </location_georef_y>\r\n"
              "  </modeldescription>\r\n"
              "  <zako-rin_reference>\r\n"
              "     <zako-rin_version>  </zako-rin_version>\r\n"
              "     <zako-rin_GUID>  </zako-rin_GUID>\r\n"
              "     <licenseholder>  </licenseholder>\r\n"
              "  </zako-rin_reference>\r\n"
              "  <additional_info>\r\n"
              "     <sunposition> 0.00000 </sunposition>\r\n"
              "     <windinflow> 0.00000 </windinflow>\r\n"
              "  </additional_info>\r\n"
              "</ZAKO-RIN_Datafile>\r\n");
}

TEST(ZDXFile, WriteThenReadKeepsGridNamesAndMetadata) {
    kwd::test::tTempFolder dir;
    const std::string path = dir.file("Park_12.00.00_01.07.2018.ZDX");
    const TZDXFile out = sampleDescriptor();
    out.WriteFile(path);
    EXPECT_FALSE(kwd::fileExists(dir.file("Park_12.00.00_01.07.2018.ZDT")));

    TZDXFile in;
    ASSERT_EQ(in.ReadFile(path), 0);
    EXPECT_EQ(in.InfoFilename, path);
    EXPECT_EQ(in.DataFilename, dir.file("Park_12.00.00_01.07.2018.ZDT"));
    EXPECT_EQ(in.filetype, 2);
    EXPECT_EQ(in.fileContent, ckAtmosphere);
    EXPECT_TRUE(in.canBuiltTimeSeries);
    EXPECT_EQ(in.SimFileState, fsCheck);
    EXPECT_EQ(in.SpatialDimensions, 3);
    EXPECT_TRUE(in.zZeroAtTop);
    EXPECT_EQ(in.GridsI, 3);
    EXPECT_EQ(in.GridsJ, 2);
    EXPECT_EQ(in.GridsK, 4);
    EXPECT_EQ(in.sizedx, out.sizedx);
    EXPECT_EQ(in.sizedy, out.sizedy);
    EXPECT_EQ(in.sizedz, (Floats{0.1f, 0.2f, 0.4f, 0.8f}));  // five decimals keep these
    EXPECT_EQ(in.DataPerVariable, 1);
    EXPECT_EQ(in.numberVars, 3);
    EXPECT_EQ(in.nameVars, (Names{"Flow u ", "Temp ", "Objects "}));
    EXPECT_EQ(in.UnitVars, (Names{"m/s", "K", " "}));
    EXPECT_EQ(in.Title, "Park study");
    EXPECT_EQ(in.SimBaseID, "Park");
    EXPECT_EQ(in.simdate, "01.07.2018");
    EXPECT_EQ(in.simtime, "12:00:00");
    EXPECT_EQ(in.TimeInfo.timevalue, 18878400);
    EXPECT_EQ(in.TimeInfo.day, 0);
    EXPECT_EQ(in.projectname, "Park project");
    EXPECT_EQ(in.Locationname, "Old Town");
    EXPECT_EQ(in.Modelversion, "5.0.1");
    EXPECT_EQ(in.SimGUID, "1234-ABCD");
    EXPECT_EQ(in.LicenseHolder, "");  // written, never read back
    EXPECT_EQ(in.Georef_x, 512345.125f);  // as far as five decimals of a float keep it
    EXPECT_EQ(in.Georef_y, -12.5f);
    EXPECT_EQ(in.ModelRotation, 12.0f);
    EXPECT_EQ(in.Sunposition, 45.5f);
    EXPECT_EQ(in.WindInflow, 270.0f);
    EXPECT_EQ(in.fileversion, 0);
    EXPECT_EQ(in.GetLayerSize(), 24);
    EXPECT_NE(kwd::readWholeFile(path).find("<licenseholder> Some Licensee </licenseholder>"),
              std::string::npos);
}

TEST(ZDXFile, GridAndNameCountsFollowTheValuesFound) {
    struct Case {
        int nrX;
        std::string spacing;
        int nrVars;
        std::string names;
        int gridsI;
        Floats sizedx;
        int vars;
        Names nameVars;
    };
    const Case cases[] = {
        {10, "1,2,3,4,5,6,7,8", 3, "a,b,c,d,e", 8, {1, 2, 3, 4, 5, 6, 7, 8, 0, 0}, 3,
         {"a", "b", "c"}},
        {8, "1,2,3,4,5,6,7,8,9,10", 5, "a,b,c", 8, {1, 2, 3, 4, 5, 6, 7, 8}, 3,
         {"a", "b", "c", "", ""}},
        {2, "", 1, "", 0, {0, 0}, 1, {"VAR"}},
        {-4, "1,2", -1, "a", 0, {}, 0, {}},
    };
    kwd::test::tTempFolder dir;
    for (const Case& c : cases) {
        std::vector<std::string> dd = {"<nr_xdata> " + std::to_string(c.nrX) + " </nr_xdata>"};
        if (!c.spacing.empty()) dd.push_back("<spacing_x> " + c.spacing + " </spacing_x>");
        std::vector<std::string> vars = {"<nr_variables> " + std::to_string(c.nrVars) +
                                         " </nr_variables>"};
        if (!c.names.empty()) vars.push_back("<name_variables> " + c.names + " </name_variables>");
        const std::string path = dir.file("counts.ZDX");
        kwd::writeWholeFile(path, zdxText("ZDX", element("datadescription", dd) +
                                                     element("variables", vars)));
        TZDXFile d;
        ASSERT_EQ(d.ReadFile(path), 0);
        SCOPED_TRACE(std::to_string(c.nrX) + " " + c.spacing + " / " + std::to_string(c.nrVars) +
                     " " + c.names);
        EXPECT_EQ(d.GridsI, c.gridsI);
        EXPECT_EQ(d.sizedx, c.sizedx);
        EXPECT_EQ(d.GridsJ, 0);
        EXPECT_TRUE(d.sizedy.empty());
        EXPECT_EQ(d.numberVars, c.vars);
        EXPECT_EQ(d.nameVars, c.nameVars);
        EXPECT_EQ(d.UnitVars.size(), size_t(c.vars));
    }
}

TEST(ZDXFile, NamesSplitAtTheLastBracket) {
    kwd::test::tTempFolder dir;
    const std::string path = dir.file("names.ZDX");
    kwd::writeWholeFile(
        path, zdxText("ZDX", element("variables",
                                     {"<nr_variables> 6 </nr_variables>",
                                      "<name_variables> Temp [K],a (b) (c),Vapor Flux (g/kg*m/s),"
                                      "VAR,Odd(,x [y) </name_variables>"})));
    TZDXFile d;
    ASSERT_EQ(d.ReadFile(path), 0);
    EXPECT_EQ(d.nameVars, (Names{"Temp ", "a (b) ", "Vapor Flux ", "VAR", "Odd", "x "}));
    EXPECT_EQ(d.UnitVars, (Names{"K", "c", "g/kg*m/s", "", "", "y"}));
}

TEST(ZDXFile, MissingElementsAndTagsTakeTheDefaults) {
    kwd::test::tTempFolder dir;
    const std::string path = dir.file("bare.ZDX");
    kwd::writeWholeFile(path, zdxText("zdx lower case", element("other", {"<x> 1 </x>"})));
    TZDXFile d;
    ASSERT_EQ(d.ReadFile(path), 0);  // "zdx" in any letter case is accepted
    EXPECT_EQ(d.filetype, 0);
    EXPECT_EQ(d.fileContent, ckUnknown);
    EXPECT_TRUE(d.canBuiltTimeSeries);
    EXPECT_EQ(d.GridsI, 0);
    EXPECT_EQ(d.DataPerVariable, 1);
    EXPECT_EQ(d.numberVars, 0);
    EXPECT_EQ(d.Title, "(unknown title)");
    EXPECT_EQ(d.SimBaseID, "");
    EXPECT_EQ(d.simdate, "UNKNOWN_DATE");
    EXPECT_EQ(d.simtime, "UNKNOWN_TIME");
    EXPECT_EQ(d.TimeInfo.timevalue, 0);
    EXPECT_EQ(d.projectname, "UNKNOWN_PROJECT");
    EXPECT_EQ(d.Locationname, "UNKNOWN_LOCATION");
    EXPECT_EQ(d.Modelversion, "UNKNOWN_VERSION");
    EXPECT_EQ(d.SimGUID, "UNKNOWN_SIMGUID");
    EXPECT_EQ(d.ModelRotation, 0.0f);
    EXPECT_EQ(d.Sunposition, -999.0f);
    EXPECT_EQ(d.WindInflow, -999.0f);
}

TEST(ZDXFile, EightBitFieldsKeepTheLowBitsAndContentDecidesTimeSeries) {
    struct Case {
        int type, content, health;
        int8_t filetype;
        tSimFileContent fileContent;
        tSimFileState state;
        bool series;
    };
    const Case cases[] = {
        {258, 265, 259, 2, ckFacadeStatic, fsPanicDump, false},
        {-1, 8, 1, -1, ckSolarAccess, fsCheck, false},
        {255, 10, 2, -1, ckFacadeSolarAccess, fsInitialisation, false},
        {127, 12, 0, 127, ckViewAnalysis, fsNormal, false},
        {128, 11, 0, -128, ckRadiation, fsNormal, true},
        {1, 7, 0, 1, ckFacade, fsNormal, true},
    };
    kwd::test::tTempFolder dir;
    for (const Case& c : cases) {
        const std::string path = dir.file("bits.ZDX");
        kwd::writeWholeFile(
            path, zdxText("ZDX", element("datadescription",
                                         {"<data_type> " + std::to_string(c.type) + " </data_type>",
                                          "<data_content> " + std::to_string(c.content) +
                                              " </data_content>",
                                          "<data_health_status> " + std::to_string(c.health) +
                                              " </data_health_status>"})));
        TZDXFile d;
        ASSERT_EQ(d.ReadFile(path), 0);
        EXPECT_EQ(d.filetype, c.filetype) << c.type;
        EXPECT_EQ(d.fileContent, c.fileContent) << c.content;
        EXPECT_EQ(d.SimFileState, c.state) << c.health;
        EXPECT_EQ(d.canBuiltTimeSeries, c.series) << c.content;
    }
}

TEST(ZDXFile, FileThatIsNoDescriptorLeavesTheDescriptorUntouched) {
    kwd::test::tTempFolder dir;
    const std::string other = dir.file("run.tra");
    kwd::writeWholeFile(other, zdxText("ParticleDispersionInput", element("x", {"<a> 1 </a>"})));
    const std::string notContainer = dir.file("plain.ZDX");
    kwd::writeWholeFile(notContainer, "a\r\nb\r\nc\r\nd\r\ne\r\nf\r\n");
    TZDXFile d = sampleDescriptor();
    for (const std::string& path : {other, notContainer, dir.file("missing.ZDX")}) {
        EXPECT_EQ(d.ReadFile(path), -1) << path;
        EXPECT_EQ(d.DataFilename, "");
        EXPECT_EQ(d.InfoFilename, "");
        EXPECT_EQ(d.Title, "Park study");
        EXPECT_EQ(d.GridsI, 3);
    }
}

TEST(ZDXFile, LayerSizeUsesThirtyTwoBitArithmetic) {
    struct Case {
        int32_t i, j, k, perVar, size;
    };
    const Case cases[] = {
        {3, 2, 4, 1, 24},
        {10, 10, 10, 3, 3000},
        {65536, 65536, 1, 1, 0},
        {46341, 46341, 1, 1, int32_t(46341LL * 46341LL - 4294967296LL)},
        {-2, 3, 1, 1, -6},
    };
    for (const Case& c : cases) {
        TZDXFile d;
        d.GridsI = c.i;
        d.GridsJ = c.j;
        d.GridsK = c.k;
        d.DataPerVariable = c.perVar;
        EXPECT_EQ(d.GetLayerSize(), c.size) << c.i << " " << c.j << " " << c.k;
    }
}

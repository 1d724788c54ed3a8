// The example simulation generator: what it writes reads back as a
// simulation the program can run on, with fields the engine can use.

#include <gtest/gtest.h>

#include <cmath>

#include "dataset/u_ZDTFile.h"
#include "frontend/u_Dialogue.h"
#include "frontend/u_tTRAFile.h"
#include "support/FrontendFixtures.h"
#include "platform/KwdError.h"

using kwd::frontend::buildOutputsListing;
using kwd::frontend::tOutputEntry;
using kwd::frontend::tTRAFile;

using kwd::dataset::ckAtmosphere;
using kwd::dataset::ReadZDTBlock;
using kwd::dataset::TZDXFile;

namespace {

using kwd::test::tTempFolder;

example::tOptions smallOptions(const std::string& folder) {
    example::tOptions o;
    o.folder = folder;
    o.nI = 20, o.nJ = 16, o.nK = 8;
    return o;
}

TEST(Example, WritesOutputsInitialisationAndRunConfiguration) {
    tTempFolder dir;
    const example::tOptions o = smallOptions(dir.file("sim"));
    const example::tWritten w = example::writeExample(o);
    const std::string atmosphere = dir.file("sim/atmosphere");
    ASSERT_EQ(w.zdxPaths.size(), 3u);
    EXPECT_EQ(w.zdxPaths[0], atmosphere + "/KWDExample_AT_10.00.00_21.06.2018.ZDX");
    EXPECT_EQ(w.zdxPaths[2], atmosphere + "/KWDExample_AT_12.00.00_21.06.2018.ZDX");
    EXPECT_EQ(w.initialisationPath, atmosphere + "/KWDExample_AT_(initialisation)_09.00.00_21.06.2018.ZDX");
    EXPECT_EQ(w.traPath, dir.file("sim/KWDExample.tra"));

    const char* times[] = {"10:00:00", "11:00:00", "12:00:00"};
    for (size_t n = 0; n < 3; ++n) {
        TZDXFile d;
        ASSERT_EQ(d.ReadFile(w.zdxPaths[n]), 0);
        EXPECT_EQ(d.simdate, "21.06.2018");
        EXPECT_EQ(d.simtime, times[n]);
        EXPECT_EQ(d.fileContent, ckAtmosphere);
        EXPECT_EQ(d.GridsI, 20);
        EXPECT_EQ(d.GridsJ, 16);
        EXPECT_EQ(d.GridsK, 8);
        ASSERT_EQ(d.numberVars, 23);
        EXPECT_EQ(d.nameVars[0], "Objects ");
        EXPECT_EQ(d.nameVars[13], "Turbulent Kinetic Energy ");
        EXPECT_EQ(d.UnitVars[14], "m2/s3");
        EXPECT_EQ(d.nameVars[22], "Vapor Flux ");
        for (size_t v = 0; v < 23; ++v) EXPECT_FALSE(d.UnitVars[v].empty()) << v;
        EXPECT_EQ(std::filesystem::file_size(d.DataFilename), 4u * 23 * 20 * 16 * 8);
    }

    // The listing of the console path leaves the initialisation out.
    const std::vector<tOutputEntry> listing = buildOutputsListing(dir.file("sim"));
    ASSERT_EQ(listing.size(), 3u);
    EXPECT_EQ(listing[0].key, "2018/06/21;10:00:00");

    tTRAFile t;
    t.LoadFromFile(w.traPath);
    EXPECT_EQ(t.fRootPath, dir.file("sim"));
    EXPECT_EQ(t.fZDXFileList, w.zdxPaths);
    EXPECT_EQ(t.getParticleMultiplier(), 1000000);
    EXPECT_FLOAT_EQ(float(t.getMinHeight()), 0.0001f);
    // Default detector: above the middle of the street at sensor height.
    EXPECT_FLOAT_EQ(t.fSensor.fxMin, 0.47f * 40.0f);
    EXPECT_FLOAT_EQ(t.fSensor.fxMax, 0.53f * 40.0f);
    EXPECT_FLOAT_EQ(t.fSensor.fzMin, 1.5f);
    EXPECT_FLOAT_EQ(t.fSensor.fzMax, 2.5f);
}

TEST(Example, FieldsTheEngineReads) {
    tTempFolder dir;
    const example::tOptions o = smallOptions(dir.file("sim"));
    const example::tWritten w = example::writeExample(o);
    const example::tScene s = example::makeScene(o);
    double direction[3];
    for (size_t n = 0; n < 3; ++n) {
        const std::string zdt = w.zdxPaths[n].substr(0, w.zdxPaths[n].size() - 4) + ".ZDT";
        const auto block = [&](int32_t v) { return ReadZDTBlock(zdt, v, s.nI, s.nJ, s.nK); };
        const std::vector<float> obj = block(0), u = block(1), v = block(2), w3 = block(3),
                                 tke = block(13), eps = block(14), vap = block(22);
        int buildings = 0, emitters = 0;
        for (int32_t k = 0; k < s.nK; ++k)
            for (int32_t j = 0; j < s.nJ; ++j)
                for (int32_t i = 0; i < s.nI; ++i) {
                    const size_t c = s.index(i, j, k);
                    ASSERT_EQ(int32_t(obj[c]), s.code(i, j, k));
                    if (obj[c] == 1.0f) {
                        ++buildings;
                        EXPECT_EQ(u[c], 0.0f);
                        EXPECT_EQ(v[c], 0.0f);
                        EXPECT_EQ(w3[c], 0.0f);
                        EXPECT_EQ(tke[c], 0.0f);
                        EXPECT_EQ(eps[c], 0.0f);
                        continue;
                    }
                    EXPECT_GT(tke[c], 0.0f);
                    EXPECT_GT(eps[c], 0.0f);
                    EXPECT_TRUE(std::isfinite(u[c]) && std::isfinite(v[c]) && std::isfinite(w3[c]));
                    const bool inner = i > 0 && i < s.nI - 1 && j > 0 && j < s.nJ - 1 && k < s.nK - 1;
                    if (obj[c] > 10.0f) {
                        EXPECT_EQ(k, 0);
                        EXPECT_GT(vap[c], 0.0f);
                        if (inner) ++emitters;
                    } else {
                        EXPECT_EQ(vap[c], 0.0f);
                    }
                }
        EXPECT_GT(buildings, 0);
        EXPECT_GT(emitters, 0);
        // No level is made of buildings only; the top level has none.
        for (int32_t k = 0; k < s.nK; ++k) {
            int free = 0;
            for (int32_t j = 0; j < s.nJ; ++j)
                for (int32_t i = 0; i < s.nI; ++i) free += s.code(i, j, k) != 1;
            EXPECT_GT(free, 0) << k;
        }
        // The wind grows with height above a free corner column, and turns
        // by 15 degrees from one output to the next.
        const size_t low = s.index(0, 0, 1), high = s.index(0, 0, s.nK - 1);
        EXPECT_GT(std::hypot(u[high], v[high]), std::hypot(u[low], v[low]));
        direction[n] = std::atan2(v[high], u[high]) * 180.0 / std::numbers::pi;
        // k and eps follow the parametrisation above the canopy.
        const double ustar = example::frictionVelocity(int32_t(n));
        EXPECT_NEAR(tke[high], ustar * ustar / 0.3, 1e-5);
    }
    EXPECT_NEAR(direction[0] - direction[1], 15.0, 1e-3);
    EXPECT_NEAR(direction[1] - direction[2], 15.0, 1e-3);
}

TEST(Example, RejectsGridsTheEngineCannotUse) {
    tTempFolder dir;
    example::tOptions o = smallOptions(dir.file("sim"));
    o.nK = 3;
    try {
        example::writeExample(o);
        ADD_FAILURE() << "no error";
    } catch (const kwd::InputError& e) {
        EXPECT_EQ(std::string(e.what()), "the example grid needs at least 3 x 3 x 4 cells, not 20 x 16 x 3");
    }
    o.nK = 8;
    o.outputs = 1;
    EXPECT_THROW(example::writeExample(o), kwd::InputError);
}

}  // namespace

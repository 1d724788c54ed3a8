// Normalised footprints per measurement time, worked out by hand on a few
// particles: densities per column area, hits counted once by release time,
// the climatology, the table of measurement times and the surface shares.

#include <gtest/gtest.h>

#include "support/ResultsFixtures.h"
#include "platform/KwdError.h"
#include "results/u_FootprintDensity.h"
#include "results/u_ResultText.h"

using kwd::results::numberText;
using kwd::results::tFootprintDensities;

using kwd::engine::t3DArrayInt64;
using kwd::engine::tParticle;
using kwd::engine::tParticleList;
using kwd::engine::tPosGrid;
using kwd::engine::tTouchdownSums;

using namespace kwd::test;

namespace {


tParticle hitAt(kwd::tDateTime released, tPosGrid cell, double wTakeOff, double wDetector) {
    tParticle p = hitParticle(cell, wTakeOff, wDetector);
    p.fStartTime = released;
    return p;
}

tParticle movingSince(kwd::tDateTime released) {
    tParticle p;
    p.fStartTime = released;
    return p;
}

// "v;v;v\r\n" lines of number text, one per j.
std::string gridText(const std::vector<std::vector<double>>& rows) {
    std::string text;
    for (const auto& row : rows) {
        for (size_t i = 0; i < row.size(); ++i) {
            if (i > 0) text += ';';
            text += numberText(row[i]);
        }
        text += "\r\n";
    }
    return text;
}

class FootprintDensity : public ::testing::Test {
protected:
    // 3 x 2 columns: widths 2, 4, 5 m along x and 1, 10 m along y; two
    // levels. Surface codes 11 (lawn) and 12 (water).
    FootprintDensity() : fObjects(3, 2, 2, 11) {
        fObjects(0, 0, 1) = 12;
        fObjects(1, 0, 0) = 12;
        fBook.addSurfaceCode(11);
        fBook.addSurfaceCode(12);
        fBook.addSurfaceCode(14);  // an emitter surface no particle reaches
    }
    std::string file(const std::string& name) const { return readText(fOut.file(name)); }

    const kwd::tDateTime kNoon = noon();
    const kwd::tDateTime kEleven = kwd::encodeDateTime(2018, 7, 1, 11, 0, 0);

    tTempFolder fOut{"kwd_density_"};
    t3DArrayInt64 fObjects;
    tFootprintDensities fBook{3, 2, {2.0f, 4.0f, 5.0f}, {1.0f, 10.0f}, "P"};
};

TEST_F(FootprintDensity, HandWorkedDensitiesTablesAndSurfaces) {
    fBook.addReleased(kNoon, "P", 3);
    fBook.addReleased(kNoon, "P", 1);  // a second batch: N = 4
    fBook.addReleased(kEleven, "P", 2);
    tParticleList list = {
        hitAt(kNoon, {0, 0, 0}, 0.5, 1.0),     // flux 2, concentration 2, lawn
        hitAt(kNoon, {0, 0, 1}, -0.25, 0.5),   // flux 2, concentration 4, water; take-off < 0
        movingSince(kNoon),                    // still moving: not counted
        hitAt(kNoon, {2, 1, 0}, 1.0, 2.0),     // flux 2, concentration 1, lawn
        hitAt(kEleven, {1, 0, 0}, 2.0, 1.0),   // flux 0.5, concentration 0.5, water
    };
    fBook.addHits(list, fObjects);
    fBook.closeFinished({movingSince(kNoon)});  // 11:00 is complete, noon is not
    fBook.write(fOut.path());

    // Noon: (2 / 4) x sum / area; column (0, 0) has 2 m2, (2, 1) 50 m2.
    EXPECT_EQ(file("FluxFootprintDensityIJ_01.07.2018 12.00.00P.csv"),
              gridText({{1.0, 0.0, 0.0}, {0.0, 0.0, 0.02}}));
    EXPECT_EQ(file("ConFootprintDensityIJ_01.07.2018 12.00.00P.csv"),
              gridText({{1.5, 0.0, 0.0}, {0.0, 0.0, 0.01}}));
    EXPECT_EQ(file("HitsIJ_01.07.2018 12.00.00P.csv"), gridText({{2.0, 0.0, 0.0}, {0.0, 0.0, 1.0}}));
    // 11:00: (2 / 2) x 0.5 / 4 m2.
    EXPECT_EQ(file("FluxFootprintDensityIJ_01.07.2018 11.00.00P.csv"),
              gridText({{0.0, 0.125, 0.0}, {0.0, 0.0, 0.0}}));
    EXPECT_EQ(file("FluxFootprintDensityIJ_Mean_P.csv"),
              gridText({{0.5, 0.0625, 0.0}, {0.0, 0.0, 0.01}}));

    // Flux shares: noon 1 x 2 + 0.02 x 50 = 3, 11:00 0.125 x 4 = 0.5.
    EXPECT_EQ(file("Footprints_P.csv"),
              "Date;Time;Released;Hits;FluxShare;NegativeTakeOff\r\n"
              "01.07.2018;11:00:00;2;1;0.50000000000000000;0\r\n"
              "01.07.2018;12:00:00;4;3;3.00000000000000000;1\r\n");
    // Noon: lawn 4 of 6, water 2 of 6; the mean footprint: lawn 2 of 3.5.
    EXPECT_EQ(file("FootprintSurfaces_P.csv"),
              "Date;Time;11;12;14\r\n"
              "01.07.2018;11:00:00;0.00000000000000000;1.00000000000000000;0.00000000000000000\r\n"
              "01.07.2018;12:00:00;" + numberText(4.0 / 6.0) + ";" + numberText(2.0 / 6.0) +
                  ";0.00000000000000000\r\n"
                  "Mean;;" + numberText(2.0 / 3.5) + ";" + numberText(1.5 / 3.5) +
                  ";0.00000000000000000\r\n");
    const tFootprintDensities::tFigures noon = fBook.figures(kNoon);
    EXPECT_EQ(noon.released, 4);
    EXPECT_EQ(noon.hits, 3);
    EXPECT_EQ(noon.negativeTakeOff, 1);
    EXPECT_EQ(noon.fluxShare, 3.0);
}

TEST_F(FootprintDensity, TouchdownsWeighTwoOverTheirVerticalVelocityEachTime) {
    // Touchdown model: F = (1 / N) sum(2 w_Detector / |w_td|) / A, every
    // touchdown of a particle counted. N = 4 at noon, 2 at 11:00 (slot 1).
    fBook.addReleased(kNoon, "P", 4);
    fBook.addReleased(kEleven, "P", 2);
    tTouchdownSums sums;
    const size_t columns = 6;
    sums.add(0, columns, 0, 11, 1.0 / 0.5, 1.0 / 0.5);  // w_Det 1, w_td 0.5: weights 4 and 4
    sums.add(0, columns, 0, 11, 1.0 / 0.5, 1.0 / 0.5);  // the same particle again
    sums.add(0, columns, 5, 12, -0.5 / 0.25, 1.0 / 0.25);  // w_Det -0.5, w_td 0.25: -4 and 8
    sums.add(1, columns, 1, 11, 0.5 / 2.0, 1.0 / 2.0);  // 11:00: 0.5 and 1
    fBook.addTouchdowns({kNoon, kEleven}, sums);
    EXPECT_TRUE(sums.slots().empty());
    fBook.write(fOut.path());
    // Noon: (1 / 4) x (4 + 4) / 2 m2 = 1 in (0, 0); (1 / 4) x -4 / 50 m2 in (2, 1).
    EXPECT_EQ(file("FluxFootprintDensityIJ_01.07.2018 12.00.00P.csv"),
              gridText({{1.0, 0.0, 0.0}, {0.0, 0.0, -0.02}}));
    EXPECT_EQ(file("ConFootprintDensityIJ_01.07.2018 12.00.00P.csv"),
              gridText({{1.0, 0.0, 0.0}, {0.0, 0.0, 0.04}}));
    EXPECT_EQ(file("HitsIJ_01.07.2018 12.00.00P.csv"), gridText({{2.0, 0.0, 0.0}, {0.0, 0.0, 1.0}}));
    // 11:00: (1 / 2) x 0.5 / 4 m2.
    EXPECT_EQ(file("FluxFootprintDensityIJ_01.07.2018 11.00.00P.csv"),
              gridText({{0.0, 0.0625, 0.0}, {0.0, 0.0, 0.0}}));
    EXPECT_EQ(fBook.figures(kNoon).hits, 3);
    EXPECT_EQ(fBook.figures(kNoon).fluxShare, 1.0);  // 1 x 2 - 0.02 x 50

    // Slots of unknown measurement times are refused.
    sums.add(2, columns, 0, 11, 1.0, 1.0);
    EXPECT_THROW(fBook.addTouchdowns({kNoon, kEleven}, sums), kwd::GeneralError);
}

TEST_F(FootprintDensity, LaterHitsJoinTheirMeasurementTimeOnly) {
    fBook.addReleased(kNoon, "P", 2);
    fBook.addReleased(kEleven, "P", 2);
    tParticleList list = {hitAt(kNoon, {0, 0, 0}, 1.0, 1.0), movingSince(kNoon),
                          hitAt(kEleven, {0, 0, 0}, 1.0, 1.0)};
    fBook.addHits(list, fObjects);
    fBook.closeFinished({movingSince(kNoon)});
    fBook.write(fOut.path());
    const std::string elevenBefore = file("FluxFootprintDensityIJ_01.07.2018 11.00.00P.csv");

    // The carried-over particle of noon hits in the next period: it counts
    // at noon, where the file is written again; 11:00 stays as it was.
    fBook.addHits({hitAt(kNoon, {2, 1, 0}, 1.0, 1.0)}, fObjects);
    fBook.closeFinished({});
    fBook.write(fOut.path());
    EXPECT_EQ(file("HitsIJ_01.07.2018 12.00.00P.csv"), gridText({{1.0, 0.0, 0.0}, {0.0, 0.0, 1.0}}));
    EXPECT_EQ(file("FluxFootprintDensityIJ_01.07.2018 11.00.00P.csv"), elevenBefore);
    EXPECT_EQ(fBook.figures(kNoon).hits, 2);
    EXPECT_EQ(fBook.figures(kEleven).hits, 1);
    EXPECT_EQ(fBook.figures(kNoon).fluxShare, 2.0);  // (2 / 2) x (1 + 1)

    // A closed measurement time takes no more hits, and a particle released
    // at no measurement time is a fault, not a silent loss.
    EXPECT_THROW(fBook.addHits({hitAt(kEleven, {0, 0, 0}, 1.0, 1.0)}, fObjects), kwd::GeneralError);
    EXPECT_THROW(fBook.addHits({hitAt(kNoon + 0.5, {0, 0, 0}, 1.0, 1.0)}, fObjects),
                 kwd::GeneralError);
}

TEST_F(FootprintDensity, ATimeWithoutHitsStillHasItsFilesAndRow) {
    fBook.addReleased(kNoon, "P", 10);
    fBook.write(fOut.path());
    EXPECT_EQ(file("FluxFootprintDensityIJ_01.07.2018 12.00.00P.csv"), gridText({{0, 0, 0}, {0, 0, 0}}));
    EXPECT_EQ(file("HitsIJ_01.07.2018 12.00.00P.csv"), gridText({{0, 0, 0}, {0, 0, 0}}));
    EXPECT_EQ(file("Footprints_P.csv"),
              "Date;Time;Released;Hits;FluxShare;NegativeTakeOff\r\n"
              "01.07.2018;12:00:00;10;0;0.00000000000000000;0\r\n");
    EXPECT_EQ(file("FootprintSurfaces_P.csv"),
              "Date;Time;11;12;14\r\n"
              "01.07.2018;12:00:00;0.00000000000000000;0.00000000000000000;0.00000000000000000\r\n"
              "Mean;;0.00000000000000000;0.00000000000000000;0.00000000000000000\r\n");
}

}  // namespace

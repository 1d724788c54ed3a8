#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "export/u_FootprintStats.h"
#include "platform/KwdError.h"

using kwd::exporter::footprintIntegral;
using kwd::exporter::footprintLevels;
using kwd::exporter::footprintPeak;
using kwd::exporter::footprintTotal;
using kwd::exporter::tDetectorBox;
using kwd::exporter::tFootprintLevel;
using kwd::exporter::tFootprintValues;
using kwd::exporter::tPlanGrid;

namespace {

// A 4 x 2 grid with widths 1, 2, 3, 4 along x and 10, 20 along y.
tPlanGrid grid4x2() {
    tPlanGrid g;
    g.nI = 4;
    g.nJ = 2;
    g.xFace = {0, 1, 3, 6, 10};
    g.yFace = {0, 10, 30};
    return g;
}

// Values i fastest: row j = 0, then row j = 1. Positive total 100; the
// highest cells 50 (3, 1), 30 (0, 0), 10 (1, 1), then two of 5.
const std::vector<double> kFootprint = {30, 0, 5, -20,  // j = 0
                                        0, 10, 5, 50};  // j = 1

TEST(FootprintLevels, RegionsEncloseTheGivenFractions) {
    const double fractions[] = {0.5, 0.8, 0.9, 0.95, 1.0, 0.3};
    const std::vector<tFootprintLevel> levels = footprintLevels(kFootprint, grid4x2(), fractions);
    ASSERT_EQ(levels.size(), 6u);
    struct Expected {
        double level, enclosed;
        int64_t cells;
        double area;
    };
    const Expected expected[] = {
        {50, 0.5, 1, 80},                    // (3, 1): 4 x 20
        {30, 0.8, 2, 80 + 10},               // + (0, 0): 1 x 10
        {10, 0.9, 3, 80 + 10 + 40},          // + (1, 1): 2 x 20
        {5, 1.0, 5, 130 + 30 + 60},          // both 5s: (2, 0) 3 x 10, (2, 1) 3 x 20
        {5, 1.0, 5, 220},                    // the negative cell belongs to no region
        {50, 0.5, 1, 80},                    // a fraction below the peak's share
    };
    for (size_t n = 0; n < levels.size(); ++n) {
        EXPECT_EQ(levels[n].fraction, fractions[n]) << n;
        EXPECT_EQ(levels[n].level, expected[n].level) << n;
        EXPECT_DOUBLE_EQ(levels[n].enclosedFraction, expected[n].enclosed) << n;
        EXPECT_EQ(levels[n].cells, expected[n].cells) << n;
        EXPECT_DOUBLE_EQ(levels[n].area, expected[n].area) << n;
    }
    EXPECT_EQ(footprintTotal(kFootprint), 100.0);
}

// Densities on the same grid (areas 10, 20, 30, 40 and 20, 40, 60, 80 m²):
// value x area 20 at (0, 0), 30 at (2, 0), 10 at (1, 1) and 40 at (3, 1), 100
// in all. Highest density first: 2 (0, 0), 1 (2, 0), 0.5 (3, 1), 0.25 (1, 1).
TEST(FootprintLevels, DensitiesWeighEachCellByItsArea) {
    const std::vector<double> density = {2, 0, 1, 0,       // j = 0
                                         0, 0.25, 0, 0.5};  // j = 1
    const double fractions[] = {0.2, 0.5, 0.8, 0.95};
    const std::vector<tFootprintLevel> levels =
        footprintLevels(density, grid4x2(), fractions, tFootprintValues::densities);
    ASSERT_EQ(levels.size(), 4u);
    struct Expected {
        double level, enclosed;
        int64_t cells;
        double area;
    };
    const Expected expected[] = {
        {2, 0.2, 1, 10},      // (0, 0) alone
        {1, 0.5, 2, 40},      // + (2, 0)
        {0.5, 0.9, 3, 120},   // + (3, 1)
        {0.25, 1.0, 4, 160},  // + (1, 1)
    };
    for (size_t n = 0; n < levels.size(); ++n) {
        EXPECT_EQ(levels[n].level, expected[n].level) << n;
        EXPECT_DOUBLE_EQ(levels[n].enclosedFraction, expected[n].enclosed) << n;
        EXPECT_EQ(levels[n].cells, expected[n].cells) << n;
        EXPECT_DOUBLE_EQ(levels[n].area, expected[n].area) << n;
    }
    // Taken as totals per cell, 2 of 3.75 would hold half alone.
    const double half[] = {0.5};
    EXPECT_EQ(footprintLevels(density, grid4x2(), half).at(0).area, 10.0);
    EXPECT_DOUBLE_EQ(footprintIntegral(density, grid4x2()), 100.0);
}

TEST(FootprintLevels, NoPositiveValueGivesNoLevels) {
    const double fractions[] = {0.5};
    EXPECT_TRUE(footprintLevels(std::vector<double>{0, 0, -1, 0, 0, 0, 0, 0}, grid4x2(), fractions).empty());
}

TEST(FootprintLevels, BadInputIsRefused) {
    std::vector<double> v = kFootprint;
    v[5] = std::nan("");
    const double half[] = {0.5};
    try {
        footprintLevels(v, grid4x2(), half);
        FAIL() << "no error";
    } catch (const kwd::InputError& e) {
        EXPECT_STREQ(e.what(), "footprint value NaN in cell (1, 1) is not a number");
    }
    const double zero[] = {0.0};
    try {
        footprintLevels(kFootprint, grid4x2(), zero);
        FAIL() << "no error";
    } catch (const kwd::InputError& e) {
        EXPECT_STREQ(e.what(), "footprint fraction 0 is not within (0, 1]");
    }
    EXPECT_THROW(footprintLevels(std::vector<double>(3, 1.0), grid4x2(), half), kwd::GeneralError);
}

TEST(FootprintPeak, HighestCellAndItsDistanceFromTheDetectorCentre) {
    tDetectorBox d;
    d.xMin = 0;  // centre (1, 5)
    d.xMax = 2;
    d.yMin = 4;
    d.yMax = 6;
    const auto peak = footprintPeak(kFootprint, grid4x2(), d);
    ASSERT_TRUE(peak.has_value());
    EXPECT_EQ(peak->i, 3);
    EXPECT_EQ(peak->j, 1);
    EXPECT_EQ(peak->value, 50.0);
    EXPECT_EQ(peak->x, 8.0);
    EXPECT_EQ(peak->y, 20.0);
    EXPECT_DOUBLE_EQ(peak->distance, std::hypot(7.0, 15.0));

    // Equal values: the first in i-fastest order.
    const auto tie = footprintPeak(std::vector<double>{0, 2, 0, 0, 2, 0, 0, 0}, grid4x2(), d);
    ASSERT_TRUE(tie.has_value());
    EXPECT_EQ(tie->i, 1);
    EXPECT_EQ(tie->j, 0);
    EXPECT_FALSE(footprintPeak(std::vector<double>(8, 0.0), grid4x2(), d).has_value());
}

}  // namespace

// Field allocation, period loading from ZDT files, rates towards the next data
// set, batch reset, field advance and the derived fields.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/EngineFixtures.h"
#include "platform/KwdError.h"

using kwd::engine::t3DArraySingle;
using kwd::engine::tDetector;
using kwd::engine::tParticleManager;

using kwd::dataset::TZDXFile;

namespace {

using kwd::test::tCellValues;
using kwd::test::tTestGrid;

// Grid 5 x 4 x 5 with irregular widths.
tTestGrid testGrid() {
    return {5, 4, 5, {1.0f, 2.0f, 1.0f, 3.0f, 1.0f}, {2.0f, 1.0f, 1.0f, 2.0f},
            {0.5f, 1.0f, 1.5f, 2.0f, 3.0f}};
}

// Values that differ from cell to cell.
tCellValues currentCell(int32_t i, int32_t j, int32_t k) {
    tCellValues c;
    c.u = float(i) + 0.25f * float(k);
    c.v = float(j) - 0.5f * float(i);
    c.w = 0.1f * float(k) - 0.05f * float(j);
    c.tke = 0.5f + 0.1f * float(i) + 0.2f * float(j * j) + 0.3f * float(k * k);
    c.eps = 0.01f * float(1 + i + j + k);
    c.vapor = 0.0f;
    return c;
}

class PeriodLoading : public ::testing::Test {
protected:
    // Data sets at 12:00 (current) and 11:00 (next), one hour apart.
    std::unique_ptr<tParticleManager> load(const kwd::test::tCellFn& current,
                                           const kwd::test::tCellFn& next,
                                           tTestGrid nextGrid = testGrid()) {
        std::vector<TZDXFile> list;
        list.push_back(kwd::test::writeDataSet(fFolder.path(), "B", nextGrid, "01.07.2018",
                                               "11:00:00", kwd::test::flowVariables(next)));
        list.push_back(kwd::test::writeDataSet(fFolder.path(), "A", testGrid(), "01.07.2018",
                                               "12:00:00", kwd::test::flowVariables(current)));
        auto e = std::make_unique<tParticleManager>(true, tDetector{}, std::move(list),
                                                    fFolder.path(), 0.1, 10, 100);
        e->fCurrZDXFile = &e->fZDXFileList[0];
        e->fNextZDXFile = &e->fZDXFileList[1];
        e->allocateFields();
        e->loadPeriodFields(3600);
        return e;
    }
    kwd::test::tTempFolder fFolder;
};

TEST_F(PeriodLoading, ObjectCodesRoundedAndCodeTwoIsAnObstacle) {
    const double codes[] = {2.0, 2.5, 3.5, 1.4999, 0.0, 11.0, -0.5};
    const int64_t stored[] = {1, 1, 4, 1, 0, 11, 0};
    auto cells = [&](int32_t i, int32_t j, int32_t k) {
        tCellValues c = currentCell(i, j, k);
        c.obj = k == 2 && j == 1 ? codes[i] : (k == 2 && j == 2 ? codes[5 + i % 2] : 0.0);
        return c;
    };
    auto e = load(cells, cells);
    for (int32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(e->fObject_Ar(i, 1, 2), stored[i]) << "code " << codes[i];
        EXPECT_EQ(e->fObject_Ar_OLD(i, 1, 2), stored[i]);
    }
    EXPECT_EQ(e->fObject_Ar(1, 2, 2), 0);  // -0.5 rounds to 0
    EXPECT_EQ(e->fObject_Ar(0, 2, 2), 11);
}

TEST_F(PeriodLoading, EmitterFieldAtLoadTimeInInnerCellsWithCodesAboveTen) {
    // Every cell has code 11, except cells (2, 1, k) with code 10.
    auto cells = [](int32_t i, int32_t j, int32_t k) {
        tCellValues c = currentCell(i, j, k);
        c.obj = i == 2 && j == 1 ? 10 : 11;
        c.vapor = 7.0f;  // variable 22 of the current data set is not used
        return c;
    };
    auto e = load(cells, cells);
    for (int32_t i = 0; i < 5; ++i)
        for (int32_t j = 0; j < 4; ++j)
            for (int32_t k = 0; k < 5; ++k) {
                const bool inner = i > 0 && i < 4 && j > 0 && j < 3 && k < 4;
                const float expected = inner && !(i == 2 && j == 1) ? 1.0f : 0.0f;
                EXPECT_EQ(e->fVaporFlx_Ar(i, j, k), expected) << i << " " << j << " " << k;
                EXPECT_EQ(e->fVaporFlx_Ar_OLD(i, j, k), expected);
            }
}

TEST_F(PeriodLoading, WindAndTurbulenceAsStoredAndRatesTowardsTheNextDataSet) {
    auto next = [](int32_t i, int32_t j, int32_t k) {
        tCellValues c = currentCell(i, j, k);
        c.u += 3.6f;
        c.v -= 7.2f;
        c.w += 0.36f * float(i);
        c.tke *= 2.0f;
        c.eps += 0.036f;
        c.vapor = 1.8f;
        c.obj = 1;  // object codes of the next data set are not read
        return c;
    };
    auto current = [](int32_t i, int32_t j, int32_t k) {
        tCellValues c = currentCell(i, j, k);
        c.obj = i == 2 && j == 2 && k == 1 ? 11 : 0;
        return c;
    };
    auto e = load(current, next);
    for (int32_t i = 0; i < 5; ++i)
        for (int32_t j = 0; j < 4; ++j)
            for (int32_t k = 0; k < 5; ++k) {
                const tCellValues c = currentCell(i, j, k), n = next(i, j, k);
                EXPECT_EQ(e->fuvwX_Ar(i, j, k), c.u);
                EXPECT_EQ(e->fuvwY_Ar_OLD(i, j, k), c.v);
                EXPECT_EQ(e->fTKE_Ar(i, j, k), c.tke);
                EXPECT_EQ(e->fDissipation_Ar(i, j, k), c.eps);
                // rate = -(current - next) / dt, in double, stored as float
                EXPECT_EQ(e->fRateU_Ar(i, j, k), float(-(double(c.u) - double(n.u)) / 3600.0));
                EXPECT_EQ(e->fRateW_Ar(i, j, k), float(-(double(c.w) - double(n.w)) / 3600.0));
                EXPECT_EQ(e->fRateTKE_Ar(i, j, k),
                          float(-(double(c.tke) - double(n.tke)) / 3600.0));
                // Emitter field: towards the next vapour flux in the inner
                // columns (all levels), nothing on the side boundary.
                const bool innerColumn = i > 0 && i < 4 && j > 0 && j < 3;
                const double vap = e->fVaporFlx_Ar(i, j, k);
                EXPECT_EQ(e->fRateVaporFlx_Ar(i, j, k),
                          innerColumn ? float(-(vap - double(n.vapor)) / 3600.0) : 0.0f);
            }
    EXPECT_FLOAT_EQ(e->fRateU_Ar(1, 1, 1), 0.001f);
    EXPECT_FLOAT_EQ(e->fRateV_Ar(1, 1, 1), -0.002f);
    EXPECT_FLOAT_EQ(e->fRateVaporFlx_Ar(2, 2, 1), (1.8f - 1.0f) / 3600.0f);

    // An hour of advance reaches the next data set; the batch reset goes back.
    for (int step = 0; step < 60; ++step) e->advanceFields(60.0);
    EXPECT_NEAR(e->fuvwX_Ar(3, 2, 4), next(3, 2, 4).u, 1e-4);
    EXPECT_NEAR(e->fTKE_Ar(3, 2, 4), next(3, 2, 4).tke, 1e-4);
    EXPECT_NEAR(e->fVaporFlx_Ar(2, 1, 4), 1.8, 1e-5);  // top level of an inner column
    EXPECT_EQ(e->fVaporFlx_Ar(0, 1, 2), 0.0f);
    EXPECT_EQ(e->fObject_Ar(2, 2, 1), 11);
    e->resetBatchFields();
    EXPECT_EQ(e->fuvwX_Ar(3, 2, 4), currentCell(3, 2, 4).u);
    EXPECT_EQ(e->fVaporFlx_Ar(2, 1, 4), 0.0f);
    EXPECT_EQ(e->fVaporFlx_Ar(2, 2, 1), 1.0f);
}

TEST_F(PeriodLoading, EqualDataSetsGiveZeroRatesAndFieldsStayAsLoaded) {
    auto e = load(currentCell, currentCell);
    for (const t3DArraySingle* r : {&e->fRateU_Ar, &e->fRateV_Ar, &e->fRateW_Ar, &e->fRateTKE_Ar,
                                    &e->fRateDissipation_Ar, &e->fRateVaporFlx_Ar})
        for (size_t n = 0; n < r->size(); ++n) ASSERT_EQ(r->data()[n], 0.0f);
    const t3DArraySingle before = e->fuvwZ_Ar;
    e->advanceFields(60.0);
    for (size_t n = 0; n < before.size(); ++n) ASSERT_EQ(e->fuvwZ_Ar.data()[n], before.data()[n]);
}

TEST_F(PeriodLoading, NodesAddTheFullWidthOfEachCell) {
    auto e = load(currentCell, currentCell);
    EXPECT_EQ(e->fXMidPoint_Ar, (std::vector<double>{0.5, 2.5, 3.5, 6.5, 7.5}));
    EXPECT_EQ(e->fYMidPoint_Ar, (std::vector<double>{1.0, 2.0, 3.0, 5.0}));
    EXPECT_EQ(e->fZTopBorder_Ar, (std::vector<double>{0.5, 1.5, 3.0, 5.0, 8.0}));
    EXPECT_EQ(e->fZMidPoint_Ar, (std::vector<double>{0.25, 1.0, 2.25, 4.0, 6.5}));
}

TEST_F(PeriodLoading, ADataSetWithAnotherGridIsRejected) {
    tTestGrid other = testGrid();
    other.dx[3] = 2.5f;
    try {
        load(currentCell, currentCell, other);
        FAIL() << "no error";
    } catch (const kwd::InputError& err) {
        EXPECT_EQ(std::string(err.what()),
                  "data set " + fFolder.path() +
                      "/B.ZDX: its grid (5 x 4 x 5 cells and their widths) differs from the run's "
                      "grid (5 x 4 x 5 cells)");
    }
}

TEST_F(PeriodLoading, AShortDataFileIsAnInputError) {
    std::vector<TZDXFile> list;
    list.push_back(kwd::test::writeDataSet(fFolder.path(), "B", testGrid(), "01.07.2018",
                                           "11:00:00", kwd::test::flowVariables(currentCell), 22));
    list.push_back(kwd::test::writeDataSet(fFolder.path(), "A", testGrid(), "01.07.2018",
                                           "12:00:00", kwd::test::flowVariables(currentCell)));
    tParticleManager e(true, tDetector{}, std::move(list), fFolder.path(), 0.1, 10, 100);
    e.fNextZDXFile = &e.fZDXFileList[1];
    e.allocateFields();
    EXPECT_THROW(e.loadPeriodFields(3600), kwd::InputError);  // variable 22 is missing
}

TEST_F(PeriodLoading, ValuesTheStepCannotWorkWithAreRefusedAtTheirFirstCell) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // Cell (1, 2, 3) holds the bad value; (3, 1, 0) and (0, 0, 4) an earlier and a later
    // one in some cases. Cells (4, k, 0) are obstacles.
    struct Case {
        bool inNext;
        int32_t var;
        float value;
        bool alsoEarlier;
        std::string message;  // empty: accepted
    } cases[] = {
        {false, 1, nan, false, "A.ZDX: variable 1 (\"Var1 ( )\") holds nan in cell (1, 2, 3), which is not a finite number"},
        {false, 3, -inf, false, "A.ZDX: variable 3 (\"Var3 ( )\") holds -inf in cell (1, 2, 3), which is not a finite number"},
        {false, 13, nan, true, "A.ZDX: variable 13 (\"Var13 ( )\") holds nan in cell (3, 1, 0), which is not a finite number"},
        {false, 0, nan, false, "A.ZDX: object code nan of cell (1, 2, 3) is not a whole number"},
        {false, 14, -1e-12f, false,
         "A.ZDX: variable 14 (\"Var14 ( )\") holds -9.99999996e-13 in cell (1, 2, 3), a cell outside the "
         "obstacles; the dissipation must not be negative"},
        {true, 14, -2.0f, false,
         "B.ZDX: variable 14 (\"Var14 ( )\") holds -2 in cell (1, 2, 3), a cell outside the obstacles; "
         "the dissipation must not be negative"},
        {true, 2, inf, false, "B.ZDX: variable 2 (\"Var2 ( )\") holds inf in cell (1, 2, 3), which is not a finite number"},
        {true, 22, nan, false, "B.ZDX: variable 22 (\"Var22 ( )\") holds nan in cell (1, 2, 3), which is not a finite number"},
        {false, 13, 0.0f, false, ""},    // no energy: legal
        {false, 14, 0.0f, false, ""},    // no dissipation: legal
        {false, 4, nan, false, ""},      // a variable the engine does not read
        {false, 22, nan, false, ""},     // vapour flux of the current data set is not read
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.empty() ? "accepted, variable " + std::to_string(c.var) : c.message);
        const auto good = [](int32_t var, int32_t i, int32_t j, int32_t k) {
            tCellValues v = currentCell(i, j, k);
            v.obj = i == 4 ? 1.0 : 0.0;
            return kwd::test::flowVariables([v](int32_t, int32_t, int32_t) { return v; })(var, i, j,
                                                                                          k);
        };
        const auto spoilt = [&](int32_t var, int32_t i, int32_t j, int32_t k) {
            const bool bad = (i == 1 && j == 2 && k == 3) || (c.alsoEarlier && i == 3 && j == 1 && k == 0);
            return var == c.var && bad ? c.value : good(var, i, j, k);
        };
        std::vector<TZDXFile> list;
        list.push_back(kwd::test::writeDataSet(fFolder.path(), "B", testGrid(), "01.07.2018",
                                               "11:00:00",
                                               c.inNext ? kwd::test::tVariableFn(spoilt) : good));
        list.push_back(kwd::test::writeDataSet(fFolder.path(), "A", testGrid(), "01.07.2018",
                                               "12:00:00",
                                               c.inNext ? kwd::test::tVariableFn(good) : spoilt));
        tParticleManager e(true, tDetector{}, std::move(list), fFolder.path(), 0.1, 10, 100);
        e.fCurrZDXFile = &e.fZDXFileList[0];
        e.fNextZDXFile = &e.fZDXFileList[1];
        e.allocateFields();
        if (c.message.empty()) {
            EXPECT_NO_THROW(e.loadPeriodFields(3600));
            continue;
        }
        try {
            e.loadPeriodFields(3600);
            ADD_FAILURE() << "no error";
        } catch (const kwd::InputError& err) {
            EXPECT_EQ(std::string(err.what()), "data set " + fFolder.path() + "/" + c.message);
        }
    }
    // A negative dissipation inside an obstacle is never sampled: accepted.
    auto obstacle = [](int32_t i, int32_t j, int32_t k) {
        tCellValues v = currentCell(i, j, k);
        v.obj = i == 4 ? 2.0 : 0.0;
        if (i == 4) v.eps = -999.0f;
        return v;
    };
    EXPECT_NO_THROW(load(obstacle, obstacle));
}

TEST(FieldAllocation, GridsTheEngineCannotServeAreRejected) {
    struct Case {
        tTestGrid grid;
        const char* message;
    } cases[] = {
        {kwd::test::uniformGrid(3, 3, 3),
         "data set /d/A.ZDX: grid of 3 x 3 x 3 cells; the engine needs at least 3 columns, 3 rows "
         "and 4 levels"},
        {kwd::test::uniformGrid(2, 5, 5),
         "data set /d/A.ZDX: grid of 2 x 5 x 5 cells; the engine needs at least 3 columns, 3 rows "
         "and 4 levels"},
        {{3, 3, 4, {1, 1, 1}, {1, 0, 1}, {1, 1, 1, 1}},
         "data set /d/A.ZDX: cell width 0 m at index 1 along y is not a positive length"},
        {{3, 3, 4, {1, 1}, {1, 1, 1}, {1, 1, 1, 1}},
         "data set /d/A.ZDX: 2 cell widths along x for 3 cells"},
        {{3, 3, 4, {1, 1, 1}, {1, 1, 1}, {0.02f, 1, 1, 1}},
         "data set /d/A.ZDX: the lowest level is 0.0199999996 m thick; the wind profile near the "
         "ground needs more than 0.02 m"},
    };
    for (const Case& c : cases) {
        std::vector<TZDXFile> list;
        list.push_back(kwd::test::makeDescriptor(c.grid, "/d", "A", "01.07.2018", "12:00:00"));
        tParticleManager e(true, tDetector{}, std::move(list), "/out", 0.1, 10, 100);
        try {
            e.allocateFields();
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const kwd::InputError& err) {
            EXPECT_STREQ(err.what(), c.message);
        }
    }
}

// Derived fields on directly filled live fields.
TEST(DerivedFields, LevelStatisticsLeaveObstaclesOut) {
    auto e =
        kwd::test::makeEngine(kwd::test::uniformGrid(3, 3, 4), [](int32_t i, int32_t j, int32_t k) {
            tCellValues c;
            c.obj = (i == 0 && j == 0) ? 1 : (i == 1 && j == 0 ? 2 : 0);  // two obstacle columns
            c.u = float(i + j) + (c.obj ? 100.0f : 0.0f);
            c.v = float(k);
            c.w = j == 1 ? -1.0f : 2.0f;
            c.tke = float(i * j + k);
            return c;
        });
    // Level cells without obstacles: 7 per level.
    for (int32_t k = 0; k < 4; ++k) {
        EXPECT_EQ(e->fLevelCellCount[size_t(k)], 7);
        // u over (2,0),(0,1),(1,1),(2,1),(0,2),(1,2),(2,2): 2,1,2,3,2,3,4 -> mean 17/7
        EXPECT_DOUBLE_EQ(e->fVerticalMeanU_Ar[size_t(k)], 17.0 / 7.0);
        EXPECT_DOUBLE_EQ(e->fVerticalMeanV_Ar[size_t(k)], double(k));
        EXPECT_DOUBLE_EQ(e->fVerticalMeanV2_Ar[size_t(k)], 0.0);
        double s2 = 0.0;
        for (double u : {2.0, 1.0, 2.0, 3.0, 2.0, 3.0, 4.0}) s2 += (u - 17.0 / 7.0) * (u - 17.0 / 7.0);
        EXPECT_DOUBLE_EQ(e->fVerticalMeanU2_Ar[size_t(k)], s2 / 7.0);
        // w: 2 in (2,0),(0,2),(1,2),(2,2), -1 in row 1: mean 5/7; W2 is the mean of w^2
        EXPECT_DOUBLE_EQ(e->fVerticalMeanW_Ar[size_t(k)], 5.0 / 7.0);
        EXPECT_DOUBLE_EQ(e->fVerticalMeanW2_Ar[size_t(k)], 19.0 / 7.0);
        // tke i*j + k over the 7 cells: 0,0,1,2,0,2,4 -> 9/7 + k
        EXPECT_DOUBLE_EQ(e->fVerticalMeanTKE_Ar[size_t(k)], 9.0 / 7.0 + k);
    }
}

TEST(DerivedFields, AnObstaclesHugeVerticalWindIsNeverSquared) {
    // Its square (9e38) would overflow a float; an odd number of levels
    // takes both the paired and the single-level sums.
    auto e =
        kwd::test::makeEngine(kwd::test::uniformGrid(3, 3, 5), [](int32_t i, int32_t j, int32_t) {
            tCellValues c;
            c.obj = i == 0 && j == 0 ? 1 : 0;
            c.w = c.obj == 1 ? 3.0e19f : float(i + j);
            c.tke = 1.0f;
            c.eps = 0.01f;
            return c;
        });
    // w over the eight other columns: 1,2,1,2,3,2,3,4 -> squares sum to 48.
    for (size_t k = 0; k < 5; ++k) {
        EXPECT_DOUBLE_EQ(e->fVerticalMeanW_Ar[k], 18.0 / 8.0);
        EXPECT_DOUBLE_EQ(e->fVerticalMeanW2_Ar[k], 48.0 / 8.0);
    }
}

TEST(DerivedFields, GradientsOfTwoThirdsTke) {
    // Grid 4 x 4 x 6, x widths 1, 2, 1, 1 (nodes 0.5, 2.5, 3.5, 4.5), z
    // widths 1, 1, 2, 2, 1, 1 (nodes 0.5, 1.5, 3, 5, 6.5, 7.5).
    tTestGrid g{4, 4, 6, {1, 2, 1, 1}, {1, 1, 1, 1}, {1, 1, 2, 2, 1, 1}};
    auto tke = [](int32_t i, int32_t j, int32_t k) {
        return float(i * i) + 2.0f * float(j) + float(k * k * k);
    };
    auto e = kwd::test::makeEngine(g, [&](int32_t i, int32_t j, int32_t k) {
        tCellValues c;
        c.tke = tke(i, j, k);
        return c;
    });
    const double tt = 2.0 / 3.0;
    for (int32_t i = 0; i < 4; ++i)
        for (int32_t j = 0; j < 4; ++j)
            for (int32_t k = 0; k < 6; ++k) {
                const bool inner = i >= 1 && i <= 2 && j >= 1 && j <= 2;
                if (!inner) {
                    EXPECT_EQ(e->fde_dx_Ar(i, j, k), 0.0);
                    EXPECT_EQ(e->fde_dy_Ar(i, j, k), 0.0);
                    EXPECT_EQ(e->fde_dz_Ar(i, j, k), 0.0);
                    continue;
                }
                const double X[] = {0.5, 2.5, 3.5, 4.5};
                EXPECT_DOUBLE_EQ(e->fde_dx_Ar(i, j, k),
                                 tt * (tke(i + 1, j, k) - tke(i - 1, j, k)) / (X[i + 1] - X[i - 1]));
                EXPECT_DOUBLE_EQ(e->fde_dy_Ar(i, j, k), tt * 4.0 / 2.0);
            }
    const double Z[] = {0.5, 1.5, 3.0, 5.0, 6.5, 7.5};
    EXPECT_EQ(e->fde_dz_Ar(1, 1, 0), 0.0);
    // Level 1: one-sided between levels 2 and 3 (27 - 8 over 2 m), not 0 and 2.
    EXPECT_DOUBLE_EQ(e->fde_dz_Ar(1, 1, 1), tt * (27.0 - 8.0) / (Z[3] - Z[2]));
    EXPECT_DOUBLE_EQ(e->fde_dz_Ar(2, 2, 3), tt * (64.0 - 8.0) / (Z[4] - Z[2]));
    EXPECT_DOUBLE_EQ(e->fde_dz_Ar(2, 1, 4), tt * (125.0 - 27.0) / (Z[5] - Z[3]));
    EXPECT_EQ(e->fde_dz_Ar(1, 2, 5), 0.0);
}

TEST(DerivedFields, ALevelOfObstaclesOnlyEndsTheRun) {
    std::vector<TZDXFile> list;
    list.push_back(kwd::test::makeDescriptor(kwd::test::uniformGrid(3, 3, 4), "/d", "A",
                                             "01.07.2018", "12:00:00"));
    tParticleManager e(true, tDetector{}, std::move(list), "/out", 0.1, 10, 100);
    e.allocateFields();
    e.computeNodePositions();
    for (int32_t i = 0; i < 3; ++i)
        for (int32_t j = 0; j < 3; ++j) e.fObject_Ar(i, j, 2) = 1;
    try {
        e.updateDerivedFields();
        FAIL() << "no error";
    } catch (const kwd::FloatingPointError& err) {
        EXPECT_STREQ(err.what(),
                     "floating-point division by zero in the derived-field update: level 2 of "
                     "data set /d/A.ZDX holds only obstacle cells");
    }
}

}  // namespace

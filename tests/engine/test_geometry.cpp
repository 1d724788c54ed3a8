// Particle and grid geometry: cells from metres and back, the release in the
// detector box, the mean velocity, and the geometric helpers of the engine.

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "support/EngineFixtures.h"
#include "platform/DateTime.h"
#include "platform/KwdError.h"

using kwd::engine::tDetector;
using kwd::engine::tGridGeometry;
using kwd::engine::tParticle;
using kwd::engine::tPosGrid;
using kwd::engine::tPosMeter;
using kwd::engine::tRandomPurpose;
using kwd::engine::tRandomStream;

using kwd::dataset::TZDXFile;

namespace {

using kwd::test::makeDescriptor;
using kwd::test::tTestGrid;

// Widths 1, 2, 3 along x (faces 0, 1, 3, 6), 0.5 x 4 along y, 2, 1, 1, 4 along z.
TZDXFile smallGrid() {
    tTestGrid g{3, 4, 4, {1.0f, 2.0f, 3.0f}, {0.5f, 0.5f, 0.5f, 0.5f}, {2.0f, 1.0f, 1.0f, 4.0f}};
    return makeDescriptor(g, "/d", "A", "01.07.2018", "12:00:00");
}

tPosGrid cellOf(const TZDXFile& z, double x, double y, double zz, bool* inModel = nullptr) {
    tParticle p;
    p.fPosMeter = {x, y, zz};
    p.calcGridFromMeters(z);
    tParticle q;
    q.fPosMeter = {x, y, zz};
    q.calcGridFromMeters(tGridGeometry(z));
    EXPECT_EQ(p.fPosGrid, q.fPosGrid) << "walk and faces disagree at " << x << " " << y << " " << zz;
    EXPECT_EQ(p.fInModel, q.fInModel);
    if (inModel) *inModel = p.fInModel;
    return p.fPosGrid;
}

TEST(Geometry, CellFacesBelongToTheLowerCell) {
    const TZDXFile z = smallGrid();
    struct Case {
        double x, y, z;
        tPosGrid cell;
        bool inModel;
    } cases[] = {
        {0.0, 0.0, 0.0, {0, 0, 0}, true},          // origin
        {1.0, 0.5, 2.0, {0, 0, 0}, true},          // faces: lower cells
        {1.0000001, 0.5000001, 2.0000001, {1, 1, 1}, true},
        {3.0, 1.5, 4.0, {1, 2, 2}, true},
        {6.0, 2.0, 8.0, {2, 3, 3}, true},          // far faces: last cells
        {5.9, 1.9, 7.9, {2, 3, 3}, true},
        {-0.001, 1.0, 1.0, {-999, -999, -999}, false},
        {1.0, -0.001, 1.0, {-999, -999, -999}, false},
        {1.0, 1.0, -0.001, {-999, -999, -999}, false},
        {6.001, 1.0, 1.0, {-999, -999, -999}, false},
        {1.0, 2.001, 1.0, {-999, -999, -999}, false},
        {1.0, 1.0, 8.001, {-999, -999, -999}, false},
    };
    for (const Case& c : cases) {
        bool inModel = true;
        EXPECT_EQ(cellOf(z, c.x, c.y, c.z, &inModel), c.cell) << c.x << " " << c.y << " " << c.z;
        EXPECT_EQ(inModel, c.inModel);
    }
}

TEST(Geometry, FacesByBisectionMatchTheWalkOnIrregularWidths) {
    // Random widths, some of them 0 (faces that coincide), and random
    // positions, many exactly on faces.
    tRandomStream s(99, 0, tRandomPurpose::Velocity);
    tTestGrid g{37, 5, 23, {}, {}, {}};
    for (int n = 0; n < g.I; ++n) g.dx.push_back(n % 7 == 3 ? 0.0f : float(s.Random(1000)) / 97.0f);
    for (int n = 0; n < g.J; ++n) g.dy.push_back(0.3f);
    for (int n = 0; n < g.K; ++n) g.dz.push_back(n == 0 ? 0.0f : float(s.Random(500)) / 33.0f);
    const TZDXFile z = makeDescriptor(g, "/d", "A", "01.07.2018", "12:00:00");
    const tGridGeometry geo(z);
    for (int n = 0; n < 20000; ++n) {
        double x = geo.lengthX() * s.Random(1000001) / 1000000.0;
        double zz = geo.lengthZ() * s.Random(1000001) / 1000000.0;
        if (n % 3 == 0) x = geo.facesX()[s.Random(uint32_t(g.I + 1))];
        if (n % 5 == 0) zz = geo.facesZ()[s.Random(uint32_t(g.K + 1))];
        cellOf(z, x, 0.7, zz);
    }
}

TEST(Geometry, CellCentreAndBackGivesTheSameCell) {
    const TZDXFile z = smallGrid();
    for (int32_t i = 0; i < z.GridsI; ++i)
        for (int32_t j = 0; j < z.GridsJ; ++j)
            for (int32_t k = 0; k < z.GridsK; ++k) {
                tParticle p;
                p.fPosGrid = {i, j, k};
                p.calcMeterFromGrid(z);
                p.calcGridFromMeters(z);
                EXPECT_EQ(p.fPosGrid, (tPosGrid{i, j, k}));
            }
    tParticle p;
    p.fPosGrid = {2, 1, 3};
    p.calcMeterFromGrid(z);
    EXPECT_EQ(p.fPosMeter, (tPosMeter{4.5, 0.75, 6.0}));
    // A marker cell has no centre: an error, and the position stays.
    struct Case {
        tPosGrid cell;
        const char* message;
    } cases[] = {
        {{-1, -1, -1},
         "cell (-1, -1, -1) has no centre in data set /d/A.ZDX: index -1 along x is outside its "
         "3 cell widths"},
        {{2, 1, 4},
         "cell (2, 1, 4) has no centre in data set /d/A.ZDX: index 4 along z is outside its 4 "
         "cell widths"},
    };
    for (const Case& c : cases) {
        p.fPosGrid = c.cell;
        try {
            p.calcMeterFromGrid(z);
            ADD_FAILURE() << "no error for " << c.message;
        } catch (const kwd::GeneralError& err) {
            EXPECT_STREQ(err.what(), c.message);
        }
        EXPECT_EQ(p.fPosMeter, (tPosMeter{4.5, 0.75, 6.0}));
    }
}

TEST(Release, FieldsAfterConstruction) {
    const TZDXFile z = smallGrid();
    const double t = 43282.5;
    const tParticle p(kwd::test::detectorBox(1.5, 2.5, 0.5, 1.0, 3.0, 5.0), true, z, t, 1, 0);
    EXPECT_EQ(p.fPosMeter, (tPosMeter{2.0, 0.75, 4.0}));
    EXPECT_EQ(p.fPosGrid, (tPosGrid{1, 1, 2}));
    EXPECT_EQ(p.fOriginPosGrid, p.fPosGrid);
    EXPECT_EQ(p.fOriginPosMeter, p.fPosMeter);
    EXPECT_EQ(p.fTargetPosMeter, (tPosMeter{-1.0, -1.0, -1.0}));
    EXPECT_EQ(p.fTargetPosGrid, (tPosGrid{-1, -1, -1}));
    EXPECT_TRUE(p.fInModel);
    EXPECT_FALSE(p.fInObstacle);
    EXPECT_FALSE(p.fMetTarget);
    EXPECT_EQ(p.fStartTime, t);
    EXPECT_EQ(p.fTimeUntilHit, t);
    EXPECT_EQ(p.fTravelDistance, 0.0);
    EXPECT_EQ(p.fdt, -1.0);
    EXPECT_EQ(p.fdt_sum, 0.0);
    EXPECT_EQ(p.fAge_m, 0.0);
    EXPECT_EQ(p.fLoopIdx, -1);
    for (double unset : {p.fWEmitter, p.fWDetector, p.fAge, p.frVar1, p.frVar2, p.frVar3, p.fRG_u,
                         p.fRG_v, p.fRG_w, p.fe_m})
        EXPECT_EQ(unset, -99999999.0);
    EXPECT_EQ(p.fRG_u_old, 0.0);
    // Outside the box: the outside marker, but still "in model" until the
    // releasing loop locates the cell again.
    const tParticle out(kwd::test::detectorBox(7, 7, 1, 1, 1, 1), true, z, t, 1, 0);
    EXPECT_EQ(out.fPosGrid, (tPosGrid{-999, -999, -999}));
    EXPECT_EQ(out.fOriginPosGrid, (tPosGrid{-999, -999, -999}));
    EXPECT_TRUE(out.fInModel);
}

TEST(Release, MillimetreResolutionUpperBoundExcluded) {
    const TZDXFile z = smallGrid();
    std::set<double> xs, ys;
    for (int64_t serial = 0; serial < 400; ++serial) {
        // x from [0, 3) mm; y given with swapped bounds, same range; z fixed.
        const tParticle p(kwd::test::detectorBox(0.0, 0.003, 1.003, 1.0, 2.5, 2.5), false, z, 0.0,
                          77, serial);
        xs.insert(p.fPosMeter.x);
        ys.insert(p.fPosMeter.y);
        EXPECT_EQ(p.fPosMeter.z, 2.5);
    }
    EXPECT_EQ(xs, (std::set<double>{0.0, 0.001, 0.002}));
    EXPECT_EQ(ys, (std::set<double>{1.0, 1.001, 1.002}));
    // Bounds are rounded to whole millimetres with ties to even.
    const tParticle tie(kwd::test::detectorBox(0.0025, 0.0025, 0.0015, 0.0015, 1, 1), false, z, 0.0,
                        77, 0);
    EXPECT_EQ(tie.fPosMeter.x, 0.002);
    EXPECT_EQ(tie.fPosMeter.y, 0.002);
}

TEST(Release, SameSeedAndSerialSamePositionWhateverTheOrder) {
    const TZDXFile z = smallGrid();
    const tDetector box = kwd::test::detectorBox(0.0, 6.0, 0.0, 2.0, 0.0, 8.0);
    const tParticle a(box, false, z, 0.0, 5, 11);
    const tParticle b(box, false, z, 0.0, 5, 12);
    const tParticle a2(box, false, z, 0.0, 5, 11);
    const tParticle c(box, false, z, 0.0, 6, 11);
    EXPECT_EQ(a.fPosMeter, a2.fPosMeter);
    EXPECT_NE(a.fPosMeter, b.fPosMeter);
    EXPECT_NE(a.fPosMeter, c.fPosMeter);
    EXPECT_EQ(a.fSerialNr, 11);
}

TEST(Release, BoundBeyondWholeMillimetresIsASetupError) {
    const TZDXFile z = smallGrid();
    try {
        tParticle p(kwd::test::detectorBox(0.0, 3.0e6, 0, 1, 0, 1), false, z, 0.0, 1, 0);
        FAIL() << "no error";
    } catch (const kwd::RunSetupError& e) {
        EXPECT_STREQ(e.what(),
                     "detector bound xMax = 3000000 m is outside the range of whole millimetres "
                     "the release can draw");
    }
}

TEST(Particle, MeanVelocityUsesWholeSecondsOfTheAbsoluteDifference) {
    tParticle p;
    p.fStartTime = kwd::encodeDateTime(2018, 7, 1, 12, 0, 0);
    p.fTravelDistance = 10.0;
    p.fTimeUntilHit = kwd::incMilliseconds(p.fStartTime, -999);
    EXPECT_EQ(p.getMeanVelocity(), 0.0);
    p.fTimeUntilHit = kwd::incMilliseconds(p.fStartTime, -1900);
    EXPECT_EQ(p.getMeanVelocity(), 10.0);
    p.fTimeUntilHit = kwd::incMilliseconds(p.fStartTime, -4000);
    EXPECT_EQ(p.getMeanVelocity(), 2.5);
}

TEST(Helpers, DistanceSmallestCellAndTimeStep) {
    auto e = kwd::test::makeEngine(
        kwd::test::uniformGrid(4, 3, 5, 2.0f, 3.0f, 0.5f),
        [](int32_t, int32_t, int32_t) { return kwd::test::tCellValues{}; },
        kwd::test::detectorBox(10.0, 4.0, 0.0, 1.0, 0.0, 0.25));
    // Nodes: x 1, 3, 5, 7; y 1.5, 4.5, 7.5; z 0.25, 0.75, ...
    EXPECT_EQ(e->calc_Distance({1.0, 1.5, 0.25}, 0, 0, 0), 0.00001);
    EXPECT_EQ(e->calc_Distance({4.0, 5.5, 0.25}, 0, 0, 0), 5.0);
    TZDXFile z = e->fZDXFileList[0];
    z.sizedx[2] = 1.25f;
    const tPosMeter smallest = e->getSmallestCellSize(z);
    EXPECT_EQ(smallest, (tPosMeter{1.25, 3.0, 0.5}));
    // Entries beyond the cell count (a descriptor whose spacing tag held
    // fewer values than its array) are no cells and are not searched.
    TZDXFile padded = z;
    padded.sizedx.push_back(0.0f);
    padded.sizedz.push_back(0.0f);
    EXPECT_EQ(e->getSmallestCellSize(padded), (tPosMeter{1.25, 3.0, 0.5}));
    z.sizedy.assign(3, 1500.0f);
    EXPECT_EQ(e->getSmallestCellSize(z).y, 999.0);
    // x: cell 1.25 m over 2.5 m/s; z: the detector (0.25 m) over 1 m/s; y
    // has no wind and sets no bound. Swapped x bounds count by their extent.
    EXPECT_EQ(e->calc_dt_3d(2.5, 0.0, -1.0, z), 0.25);
    EXPECT_EQ(e->calc_dt_3d(-0.5, 0.0, 0.0, z), 2.5);
}

TEST(Helpers, EmitterAndObstacleClasses) {
    auto e =
        kwd::test::makeEngine(kwd::test::uniformGrid(4, 4, 4), [](int32_t i, int32_t, int32_t k) {
            kwd::test::tCellValues c;
            c.obj = i == 1 ? 0 : i == 2 ? 1 : 11;  // free air, obstacle, other kind
            c.vapor = k == 0 ? 1.0f : 0.0f;
            return c;
        });
    auto classOf = [&](double x, double y, double z) {
        tParticle p = kwd::test::particleAt(*e, x, y, z);
        return int(e->CheckEmitter(p));
    };
    EXPECT_EQ(classOf(1.5, 1.5, 0.5), 0);  // free air with an emitter value
    EXPECT_EQ(classOf(2.5, 1.5, 0.5), 1);
    EXPECT_EQ(classOf(3.5, 1.5, 0.5), 2);
    EXPECT_EQ(classOf(3.5, 1.5, 1.5), 0);  // other kind without an emitter value
    tParticle p = kwd::test::particleAt(*e, 1.5, 1.5, 1.5);
    p.fPosMeter.x = 2.5;
    EXPECT_TRUE(e->CheckObstacle(p));
    EXPECT_TRUE(p.fInObstacle);
    EXPECT_EQ(p.fPosGrid, (tPosGrid{2, 1, 1}));
    p.fPosMeter.x = -1.0;
    EXPECT_FALSE(e->CheckObstacle(p));
    EXPECT_FALSE(p.fInObstacle);
    EXPECT_FALSE(p.fInModel);
    EXPECT_EQ(p.fPosGrid, (tPosGrid{-999, -999, -999}));
}

}  // namespace

// The touchdown model against known answers: the well-mixed condition in a
// column with turbulence varying with height (where the described model
// fails it), a touchdown weighed and placed by hand on an obstacle roof, the
// nodes at the cell centres, and a seeded run whose files are the same on
// one and two threads and in both variants of the step.

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "EngineFixtures.h"
#include "engine/u_MainLoop.h"
#include "platform/FileIO.h"

namespace {

using kwdtest::tCellValues;

// ---- well-mixed column --------------------------------------------------------

// Turbulence of a column without wind: k(z) at the layer centres, eps such
// that T_L = 4 k / (3 C0 eps) = 10 s everywhere.
struct tProfile {
    const char* name;
    double (*k)(double z);
};

double kSine(double z) { return 1.5 * (1.0 + 0.5 * std::sin(2.0 * M_PI * z / 80.0)); }
double kLinear(double z) { return 0.5 + 2.0 * z / 300.0; }

// Least squares of y = a + s x: s.
double slope(const std::vector<double>& x, const std::vector<double>& y) {
    double mx = 0, my = 0;
    for (size_t n = 0; n < x.size(); ++n) mx += x[n], my += y[n];
    mx /= double(x.size()), my /= double(y.size());
    double sxy = 0, sxx = 0;
    for (size_t n = 0; n < x.size(); ++n) {
        sxy += (x[n] - mx) * (y[n] - my);
        sxx += (x[n] - mx) * (x[n] - mx);
    }
    return sxy / sxx;
}

// Releases particles uniformly over a column of 300 m (layers of 5 m, three
// columns of 2 km: the particles stay in the middle one), moves them 100 s
// (ten T_L) and returns s of c / c_mean - 1 = a + s (k / k_mean - 1) over the
// interior layers (75 to 225 m): 0 is well mixed, -1 follows 1 / sigma^2.
double mixingSlope(tFootprintModel model, const tProfile& profile, int n) {
    auto e = kwdtest::makeEngine(
        kwdtest::uniformGrid(3, 3, 60, 2000.0f, 2000.0f, 5.0f),
        [&](int32_t, int32_t, int32_t k) {
            tCellValues c;
            const double tke = profile.k(5.0 * k + 2.5);
            c.tke = float(tke);
            c.eps = float(4.0 * tke / (9.0 * 10.0));
            return c;
        },
        kwdtest::detectorBox(2999.0, 3001.0, 2999.0, 3001.0, 0.0, 300.0), 0.1, 4242);
    e->fFootprintModel = model;
    e->releaseParticles(n);
    e->moveAllParticlesParallel(100.0);
    std::vector<double> count(60, 0.0);
    for (const tParticle& p : e->fParticleList)
        if (p.fInModel) count[size_t(p.fPosGrid.k)] += 1.0;
    std::vector<double> x, y;
    double cMean = 0, kMean = 0;
    for (int k = 15; k < 45; ++k) cMean += count[size_t(k)], kMean += profile.k(5.0 * k + 2.5);
    cMean /= 30.0, kMean /= 30.0;
    for (int k = 15; k < 45; ++k) {
        x.push_back(profile.k(5.0 * k + 2.5) / kMean - 1.0);
        y.push_back(count[size_t(k)] / cMean - 1.0);
    }
    return slope(x, y);
}

TEST(TouchdownModel, KeepsAColumnWellMixedWhereTheDescribedStepDoesNot) {
    // 10,000 particles, about 170 per layer: the standard error of s is
    // about 0.04 (sine) and 0.08 (linear, a narrower range of k). The
    // described model gives s near -1 on the sine profile; on the linear one
    // its constant drift shifts the whole column, which the interior shows
    // only after the column has mixed (thousands of seconds).
    const tProfile sine{"sine", kSine}, linear{"linear", kLinear};
    const double tdSine = mixingSlope(tFootprintModel::Touchdown, sine, 10000);
    const double tdLinear = mixingSlope(tFootprintModel::Touchdown, linear, 10000);
    const double described = mixingSlope(tFootprintModel::Described, sine, 10000);
    EXPECT_LT(std::fabs(tdSine), 0.2) << "touchdown, sine: s = " << tdSine;
    EXPECT_LT(std::fabs(tdLinear), 0.3) << "touchdown, linear: s = " << tdLinear;
    EXPECT_LT(described, -0.6) << "described, sine: s = " << described;
}

// ---- a touchdown by hand ----------------------------------------------------------

// 8 x 8 x 8 cells of 1 m; an obstacle block (columns 2..4, layers 0 and 1)
// with emitting cells on its roof (layer 2); a downward backward motion of
// 1 m/s (w = +1 m/s), no turbulence to speak of (eps = 0: one sub-step per call).
std::unique_ptr<tParticleManager> roofEngine(tFootprintModel model) {
    // Equal widths: both models have the same nodes.
    auto e = kwdtest::makeEngine(kwdtest::uniformGrid(8, 8, 8), [](int32_t i, int32_t j, int32_t k) {
        tCellValues c;
        c.w = 1.0f;
        c.tke = 1e-14f;
        const bool block = i >= 2 && i <= 4 && j >= 2 && j <= 4;
        if (block && k <= 1) c.obj = 1, c.w = 0.0f;
        if (block && k == 2) c.obj = 11, c.vapor = 1.0f;
        return c;
    });
    e->fFootprintModel = model;
    for (double x : {2.5, 3.5, 4.5})
        e->fParticleList.push_back(
            kwdtest::particleAt(*e, x, 3.5, 4.5, int64_t(e->fParticleList.size())));
    return e;
}

TEST(TouchdownModel, ReflectsOnARoofAndWeighsEveryTouchdown) {
    // z: 4.5 -> 3.5 -> 2.5 -> 1.5, mirrored at the roof (2 m) to 2.5: a
    // touchdown in every call from the third on, each with w_td = 1 m/s and
    // w_Detector = 1 m/s.
    auto e = roofEngine(tFootprintModel::Touchdown);
    for (int call = 1; call <= 5; ++call) e->moveAllParticlesParallel(1.0);
    EXPECT_EQ(e->fTotalParticlesInTarget, 9);
    ASSERT_EQ(e->fMeasurementTimes.size(), 1u);
    ASSERT_EQ(e->fTouchdowns.slots().size(), 1u);
    const tTouchdownColumns& t = e->fTouchdowns.slots()[0];
    for (int32_t i : {2, 3, 4}) {
        const size_t col = size_t(3 * 8 + i);
        EXPECT_EQ(t.count[col], 3) << i;
        EXPECT_NEAR(fromExactSum(t.flux[col]), 3.0, 1e-6) << i;
        EXPECT_NEAR(fromExactSum(t.con[col]), 3.0, 1e-6) << i;
    }
    ASSERT_EQ(t.fluxByCode.size(), 1u);
    EXPECT_EQ(t.fluxByCode[0].first, 11);
    for (const tParticle& p : e->fParticleList) {
        EXPECT_TRUE(p.fInModel);
        EXPECT_FALSE(p.fMetTarget);
        EXPECT_NEAR(p.fPosMeter.z, 2.5, 1e-6);
        EXPECT_EQ(p.fPosGrid.k, 2);
        // The clock runs on through the touchdowns.
        EXPECT_EQ(kwd::secondsBetween(p.fStartTime, p.fTimeUntilHit), 5);
    }
    // The described model ends them at the first hit of the emitter layer.
    auto d = roofEngine(tFootprintModel::Described);
    for (int call = 1; call <= 5; ++call) d->moveAllParticlesParallel(1.0);
    EXPECT_EQ(d->fTotalParticlesInTarget, 3);
}

TEST(TouchdownModel, PutsTheNodesAtTheCellCentres) {
    kwdtest::tTestGrid g = kwdtest::uniformGrid(4, 4, 4, 2.0f, 2.0f, 1.0f);
    g.dx = {1.0f, 2.0f, 4.0f, 8.0f};
    g.dy = {8.0f, 4.0f, 2.0f, 1.0f};
    auto e = kwdtest::makeEngine(g, [](int32_t, int32_t, int32_t) { return tCellValues{}; });
    // Described: the previous node plus the full width.
    EXPECT_EQ(e->fXMidPoint_Ar, (std::vector<double>{0.5, 2.5, 6.5, 14.5}));
    e->fFootprintModel = tFootprintModel::Touchdown;
    e->computeNodePositions();
    EXPECT_EQ(e->fXMidPoint_Ar, (std::vector<double>{0.5, 2.0, 5.0, 11.0}));
    EXPECT_EQ(e->fYMidPoint_Ar, (std::vector<double>{4.0, 10.0, 13.0, 14.5}));
}

TEST(TouchdownModel, HasNoWindBelowTheRoughnessLength) {
    auto make = [](tFootprintModel model) {
        auto e = kwdtest::makeEngine(kwdtest::uniformGrid(5, 5, 5), [](int32_t, int32_t, int32_t) {
            tCellValues c;
            c.u = 2.0f;
            c.tke = 0.1f;
            c.eps = 0.01f;
            return c;
        });
        e->fFootprintModel = model;
        return e;
    };
    auto d = make(tFootprintModel::Described);
    auto t = make(tFootprintModel::Touchdown);
    // Described: 2 ln(0.001 / 0.01) / ln(0.5 / 0.01), reversed below z0.
    const tParticle low = kwdtest::particleAt(*d, 2.5, 2.5, 0.001);
    EXPECT_NEAR(d->sampleFields(low).u, 2.0 * std::log(0.1) / std::log(50.0), 1e-12);
    // The sampling of the touchdown model is that of its step.
    for (double z : {0.0, 0.001, 0.01}) {
        tParticle p = kwdtest::particleAt(*t, 2.5, 2.5, z);
        t->fParticleList = {p};
        t->fdt_min_part = 0.0002;
        t->moveAllParticlesParallel(1e-4);
        // Moved by the sub-grid velocity alone along x: no mean wind.
        const tParticle& q = t->fParticleList[0];
        EXPECT_NEAR(q.fPosMeter.x - 2.5, -q.frVar1 * 1e-4, 1e-12) << z;
    }
}

// ---- a seeded run through the main loop ---------------------------------------------

tCellValues runCell(int32_t n, int32_t i, int32_t j, int32_t k) {
    tCellValues c;
    if (i >= 5 && i <= 6 && j >= 4 && j <= 6 && k <= 1) c.obj = 1;
    if (k == 2 && i >= 5 && i <= 6 && j >= 4 && j <= 6) c.obj = 12;
    if (k == 0 && (i < 5 || i > 6) && i >= 1 && i <= 10 && j >= 1 && j <= 8) c.obj = 11;
    c.vapor = c.obj > 10 ? 1.0f : 0.0f;
    c.u = float(0.3 + 0.05 * k + 0.05 * n);
    c.v = float(0.05 * std::sin(0.5 * i));
    c.tke = float(0.08 + 0.01 * k);
    c.eps = float(0.01 + 0.001 * k);
    if (c.obj == 1) c.u = c.v = 0.0f, c.tke = c.eps = 0.0f;
    return c;
}

std::map<std::string, std::string> touchdownRun(int threads, bool avx2, const std::string& in,
                                                const std::string& out) {
    std::vector<TZDXFile> list;
    const char* times[] = {"12:00:00", "12:02:00", "12:04:00"};
    for (int32_t n = 0; n < 3; ++n)
        list.push_back(kwdtest::writeDataSet(
            in, "TD_" + std::to_string(n), kwdtest::uniformGrid(12, 10, 8, 2.0f, 2.0f, 1.0f),
            "01.07.2018", times[n],
            kwdtest::flowVariables([n](int32_t i, int32_t j, int32_t k) { return runCell(n, i, j, k); }),
            23, "Touch"));
    tParticleManager e(true, kwdtest::detectorBox(14.0, 20.0, 6.0, 14.0, 0.5, 4.0), std::move(list),
                       out, 0.05, 300, 150);
    e.fSeed = 77;
    e.fStepAvx2 = avx2;
    e.fFootprintModel = tFootprintModel::Touchdown;
    e.fTouchdownList = true;
    std::ostringstream progress;
    e.fProgressOut = &progress;
    const int saved = omp_get_max_threads();
    omp_set_num_threads(threads);
    e.startCalculation(60, 60, true);
    omp_set_num_threads(saved);
    std::map<std::string, std::string> files;
    for (const std::string& path : kwd::listFiles(out)) {
        const std::string name = std::filesystem::path(path).filename().string();
        if (name == "logFile.log" || name.find(".ZDX") != std::string::npos) continue;  // clock
        files[name] = kwd::readWholeFile(path);
    }
    files["progress"] = progress.str();
    return files;
}

TEST(TouchdownModel, SeededRunGivesTheSameFilesOnAnyThreadsAndVariant) {
    std::vector<std::pair<int, bool>> variants = {{1, false}, {2, false}};
    if (stepVariantAvx2Available()) variants.push_back({2, true});
    std::vector<std::map<std::string, std::string>> runs;
    for (const auto& [threads, avx2] : variants) {
        kwdtest::tTempFolder in("kwd_td_in_"), out("kwd_td_out_");
        runs.push_back(touchdownRun(threads, avx2, in.path(), out.path()));
    }
    const auto& one = runs[0];
    // The normalised footprints and the touchdown list, no described grid
    // files and no particle list.
    int densities = 0, lists = 0;
    for (const auto& [name, text] : one) {
        EXPECT_EQ(name.find("SourceStrengthIJ_"), std::string::npos) << name;
        EXPECT_EQ(name.find("FlxFootprintIJ_"), std::string::npos) << name;
        EXPECT_EQ(name.find("ParticleList_"), std::string::npos) << name;
        if (name.rfind("FluxFootprintDensityIJ_01", 0) == 0) ++densities;
        if (name.rfind("TouchdownList_", 0) == 0) {
            ++lists;
            EXPECT_GT(std::count(text.begin(), text.end(), '\n'), 20) << name;
        }
    }
    EXPECT_EQ(densities, 2);
    EXPECT_EQ(lists, 2);
    ASSERT_TRUE(one.count("Footprints_Touch.csv"));
    for (size_t r = 1; r < runs.size(); ++r) {
        ASSERT_EQ(runs[r].size(), one.size());
        for (const auto& [name, text] : one) EXPECT_TRUE(runs[r].at(name) == text) << name << " run " << r;
    }
}

}  // namespace

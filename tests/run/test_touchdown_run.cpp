// The touchdown model through the main loop: a seeded run whose files are
// the same on one and two threads and in both variants of the step.

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/EngineFixtures.h"
#include "platform/DateTime.h"
#include "platform/FileIO.h"
#include "run/u_MainLoop.h"

using kwd::run::startCalculation;

using kwd::engine::stepVariantAvx2Available;
using kwd::engine::tFootprintModel;
using kwd::engine::tParticleManager;

using kwd::dataset::TZDXFile;

namespace {

using kwd::test::tCellValues;

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
        list.push_back(kwd::test::writeDataSet(
            in, "TD_" + std::to_string(n), kwd::test::uniformGrid(12, 10, 8, 2.0f, 2.0f, 1.0f),
            "01.07.2018", times[n], kwd::test::flowVariables([n](int32_t i, int32_t j, int32_t k) {
                return runCell(n, i, j, k);
            }),
            23, "Touch"));
    tParticleManager e(true, kwd::test::detectorBox(14.0, 20.0, 6.0, 14.0, 0.5, 4.0),
                       std::move(list), out, 0.05, 300, 150);
    e.fSeed = 77;
    e.fStepAvx2 = avx2;
    e.fFootprintModel = tFootprintModel::Touchdown;
    e.fTouchdownList = true;
    std::ostringstream progress;
    e.fProgressOut = &progress;
    const int saved = omp_get_max_threads();
    omp_set_num_threads(threads);
    startCalculation(e, 60, 60, true, kwd::nowLocal());
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
        kwd::test::tTempFolder in("kwd_td_in_"), out("kwd_td_out_");
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

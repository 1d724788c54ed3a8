// The result work that runs on the worker threads (accumulation, particle
// positions, grid files, output data set, particle list, footprint hits)
// gives the same files and sums on one and on two threads, on a list long
// enough to be cut into chunks and windows: many hits per cell, of weights
// so different in size that another order of the additions would change
// the sums.

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <map>
#include <random>
#include <regex>
#include <string>

#include "support/ResultsFixtures.h"
#include "results/u_EngineOutputs.h"
#include "results/u_FootprintDensity.h"

using kwd::engine::kPosGridOutside;
using kwd::engine::t3DArrayDouble;
using kwd::engine::tParticle;
using kwd::results::clearOutputArrays;
using kwd::results::saveCurrentData;
using kwd::results::saveCurrentParticlesInTargetToFile;
using kwd::results::tFootprintDensities;
using kwd::results::writeOutput;

using namespace kwd::test;

namespace {

constexpr int32_t kI = 300, kJ = 230, kK = 4;  // grid files of two bands on two threads

tCellValues field(int32_t i, int32_t j, int32_t k) {
    tCellValues c;
    c.u = 0.1f * float(i % 7), c.v = 0.2f * float(j % 5), c.w = 0.01f * float(k);
    c.obj = (i + j) % 5 == 0 ? 11 + (i % 3) : 0;
    c.vapor = c.obj > 10 ? 1.0f : 0.0f;
    return c;
}

// Every file of the output folder by name, and the accumulators' bits.
struct tResults {
    std::map<std::string, std::string> files;
    std::string sums;
};

tResults runOn(int threads) {
    const int saved = omp_get_max_threads();
    omp_set_num_threads(threads);
    tTempFolder out("kwd_par_res_");
    auto e = makeEngine(uniformGrid(kI, kJ, kK, 2.0f, 2.0f, 1.0f), field);
    e->fOutputDir = out.path();
    e->fverboseLog = true;
    e->fTotalEmittedParticles = 150000;
    e->fActSimTime = noon();
    // 150,000 particles (two windows of the particle list): hits crowded
    // into a few columns on both sides of the grid (two owners of columns),
    // particles still moving, finished ones.
    std::mt19937_64 gen(5);
    std::uniform_int_distribution<int32_t> col(0, 9), row(0, 9), level(0, kK - 1);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    e->fParticleList.assign(150000, tParticle{});
    for (size_t n = 0; n < e->fParticleList.size(); ++n) {
        tParticle& p = e->fParticleList[n];
        p.fStartTime = noon();
        p.fTimeUntilHit = kwd::incMilliseconds(noon(), -int64_t(n % 600) * 1000);
        p.fSerialNr = int64_t(n);
        if (n % 3 != 2) {
            p = hitParticle({col(gen) * 33, row(gen) * 2, level(gen)},
                            (unit(gen) - 0.3) * std::pow(10.0, double(n % 9) - 4.0),
                            unit(gen) * std::pow(10.0, double(n % 7) - 3.0));
            p.fStartTime = noon();
            p.fTravelDistance = 1000.0 * unit(gen);
            p.fOriginPosMeter = {unit(gen) * 600.0, unit(gen) * 460.0, unit(gen) * 2.0};
            p.fTargetPosMeter = {unit(gen) * 600.0, unit(gen) * 460.0, 0.5};
        } else if (n % 2 == 0) {
            p.fPosGrid = {int32_t(n % kI), int32_t(n / kI % kJ), int32_t(n % kK)};
        } else {
            p.fInModel = false;
            p.fPosGrid = kPosGridOutside;
        }
    }
    clearOutputArrays(*e);
    saveCurrentData(*e);
    writeOutput(*e, *e->fCurrZDXFile, out.file("VirtPart_P"));
    saveCurrentParticlesInTargetToFile(*e);
    tFootprintDensities densities(kI, kJ, e->fCurrZDXFile->sizedx, e->fCurrZDXFile->sizedy, "P");
    densities.addReleased(noon(), "P", 150000);
    densities.addHits(e->fParticleList, e->fObject_Ar);
    densities.write(out.path());

    tResults r;
    // The descriptor's revision date is the time of writing.
    for (const std::string& name : fileNames(out.path())) {
        r.files[name] = readText(out.file(name));
        if (name.ends_with(".ZDX"))
            r.files[name] = std::regex_replace(r.files[name],
                                               std::regex("<revisiondate>[^<\r\n]*</revisiondate>"),
                                               "<revisiondate>-</revisiondate>");
    }
    for (t3DArrayDouble* a : e->footprintAccumulators())
        r.sums.append(reinterpret_cast<const char*>(a->data()), a->size() * sizeof(double));
    omp_set_num_threads(saved);
    return r;
}

}  // namespace

TEST(ParallelResults, SameFilesAndSumsOnOneAndTwoThreads) {
    const tResults one = runOn(1);
    const tResults two = runOn(2);
    ASSERT_GE(one.files.size(), 10u);
    // The particle list holds every hit: 100,000 rows and the header.
    const auto list = one.files.find("ParticleList_01.07.2018 12.00.00_TestProject.csv");
    ASSERT_NE(list, one.files.end());
    size_t rows = 0;
    for (const char c : list->second) rows += c == '\n';
    EXPECT_EQ(rows, 100001u);
    for (const auto& [name, text] : one.files) {
        const auto other = two.files.find(name);
        ASSERT_NE(other, two.files.end()) << name;
        EXPECT_TRUE(other->second == text) << name << " differs between one and two threads";
    }
    EXPECT_EQ(one.files.size(), two.files.size());
    EXPECT_TRUE(one.sums == two.sums) << "the accumulators differ";
}

// Speed of the result writers: the number text, the particle list and the
// grid files.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/EngineFixtures.h"
#include "engine/u_tParticleManager.h"
#include "platform/DateTime.h"
#include "results/u_EngineOutputs.h"
#include "results/u_ResultText.h"

using kwd::results::appendNumberText;
using kwd::results::saveCurrentParticlesInTargetToFile;
using kwd::results::writeOutput;

using kwd::engine::tDetector;
using kwd::engine::tParticle;
using kwd::engine::tParticleManager;

using kwd::dataset::TZDXFile;

namespace {

std::vector<double> mixedValues(size_t n) {
    std::mt19937_64 gen(42);
    std::uniform_real_distribution<double> mant(-1.0, 1.0);
    std::uniform_int_distribution<int> exp10(-20, 18);
    std::vector<double> v(n);
    for (double& x : v) x = mant(gen) * std::pow(10.0, exp10(gen));
    for (size_t k = 0; k < n; k += 7) v[k] = 0.0;  // grids are mostly empty
    return v;
}

void BM_NumberText(benchmark::State& state) {
    const std::vector<double> values = mixedValues(4096);
    std::string out;
    out.reserve(values.size() * 40);
    for (auto _ : state) {
        out.clear();
        for (double x : values) appendNumberText(out, x);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(values.size()));
}
BENCHMARK(BM_NumberText);

struct tBenchFolder {
    std::string path = (std::filesystem::temp_directory_path() /
                        ("kwd_bench_res_" + std::to_string(::getpid())))
                           .string();
    tBenchFolder() { std::filesystem::create_directories(path); }
    ~tBenchFolder() { std::filesystem::remove_all(path); }
};

std::unique_ptr<tParticleManager> benchEngine(int32_t nI, int32_t nJ, int32_t nK,
                                              const std::string& dir) {
    TZDXFile z;
    z.GridsI = nI;
    z.GridsJ = nJ;
    z.GridsK = nK;
    z.sizedx.assign(size_t(nI), 2.0f);
    z.sizedy.assign(size_t(nJ), 2.0f);
    z.sizedz.assign(size_t(nK), 2.0f);
    z.simdate = "01.07.2018";
    z.simtime = "12:00:00";
    z.projectname = "Bench";
    std::vector<TZDXFile> list{z};
    auto e = std::make_unique<tParticleManager>(true, tDetector{}, std::move(list), dir, 0.1, 1, 1);
    e->fActSimTime = kwd::encodeDateTime(2018, 7, 1, 12);
    return e;
}

void BM_ParticleListRows(benchmark::State& state) {
    tBenchFolder folder;
    auto e = benchEngine(10, 10, 10, folder.path);
    std::mt19937_64 gen(1);
    std::uniform_real_distribution<double> pos(0.0, 20.0), w(-1.0, 1.0);
    e->fParticleList.assign(size_t(state.range(0)), tParticle{});
    for (tParticle& p : e->fParticleList) {
        p.fMetTarget = true;
        p.fInModel = false;
        p.fOriginPosGrid = {3, 4, 5};
        p.fOriginPosMeter = {pos(gen), pos(gen), pos(gen)};
        p.fTargetPosGrid = {1, 2, 0};
        p.fTargetPosMeter = {pos(gen), pos(gen), pos(gen)};
        p.fTravelDistance = 100.0 * pos(gen);
        p.fStartTime = e->fActSimTime;
        p.fTimeUntilHit = kwd::incMilliseconds(e->fActSimTime, -int64_t(1000 * pos(gen) * 60));
        p.fWEmitter = w(gen);
        p.fWDetector = w(gen);
    }
    const std::string file = folder.path + "/ParticleList_01.07.2018 12.00.00_Bench.csv";
    for (auto _ : state) {
        saveCurrentParticlesInTargetToFile(*e);
        state.PauseTiming();
        std::remove(file.c_str());
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ParticleListRows)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_GridFiles(benchmark::State& state) {
    tBenchFolder folder;
    const int32_t n = int32_t(state.range(0));
    auto e = benchEngine(n, n, 4, folder.path);
    e->fTotalEmittedParticles = 1000000;
    const std::vector<double> values = mixedValues(size_t(n) * size_t(n));
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j < n; ++j) {
            const double v = std::fabs(values[size_t(i) * size_t(n) + size_t(j)]);
            e->SourceStrengthIJ(i, j, 0) = std::floor(v);
            e->ratioDetEmitterIJ(i, j, 0) = v;
            e->ddw_EmitterIJ(i, j, 0) = -v;
        }
    for (auto _ : state) writeOutput(*e, *e->fCurrZDXFile, folder.path + "/unused");
    state.SetItemsProcessed(int64_t(state.iterations()) * 5 * n * n);  // values written
}
BENCHMARK(BM_GridFiles)->Arg(200)->Unit(benchmark::kMillisecond);

// An interval output with its output data set (five grid files, the ZDX
// descriptor and 17 blocks of the ZDT file), grid of range(0)^2 x range(1).
void BM_OutputDataSet(benchmark::State& state) {
    tBenchFolder folder;
    const int32_t n = int32_t(state.range(0)), nK = int32_t(state.range(1));
    auto e = kwd::test::makeEngine(
        kwd::test::uniformGrid(n, n, nK, 2.0f, 2.0f, 1.0f), [](int32_t i, int32_t j, int32_t k) {
            kwd::test::tCellValues c;
            c.u = 0.1f * float(i), c.v = 0.2f * float(j), c.w = 0.01f * float(k);
            c.obj = (i + j) % 7 == 0 ? 11 : 0;
            c.vapor = c.obj > 10 ? 1.0f : 0.0f;
            return c;
        });
    e->fOutputDir = folder.path;
    e->fverboseLog = true;
    e->fTotalEmittedParticles = 1000000;
    e->fActSimTime = kwd::encodeDateTime(2018, 7, 1, 12);
    const std::vector<double> values = mixedValues(size_t(n) * size_t(n) * size_t(nK));
    for (size_t c = 0; c < values.size(); ++c) {
        e->SourceStrengthIJK.data()[c] = std::floor(std::fabs(values[c]));
        e->ratioDetEmitterIJK.data()[c] = values[c];
    }
    const std::string base = folder.path + "/VirtPart_Bench";
    writeOutput(*e, *e->fCurrZDXFile, base);
    double bytes = 0;
    for (const auto& f : std::filesystem::directory_iterator(folder.path))
        bytes += double(std::filesystem::file_size(f.path()));
    for (auto _ : state) writeOutput(*e, *e->fCurrZDXFile, base);
    state.SetBytesProcessed(int64_t(bytes * double(state.iterations())));
}
BENCHMARK(BM_OutputDataSet)->Args({100, 30})->Args({200, 40})->Unit(benchmark::kMillisecond);

}  // namespace

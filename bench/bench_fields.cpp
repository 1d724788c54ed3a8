// The grid work of the main loop: the field advance and the derived-field
// update after every step with particles, the batch reset, and the period
// loading from ZDT files (read from the page cache: a second read of the
// same files), for grids from 50 x 50 x 20 to 400 x 400 x 40 cells.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "BenchScenes.h"

using kwd::engine::tDetector;
using kwd::engine::tParticleManager;

using kwd::dataset::TZDXFile;

namespace {

std::unique_ptr<tParticleManager> gridEngine(int32_t n, int32_t nK) {
    return kwd::test::makeEngine(kwd::test::uniformGrid(n, n, nK, 2.0f, 2.0f, 1.0f),
                                 kwd::bench::benchFlow, {}, 0.1, 1, 1);
}

void setCells(benchmark::State& state, int64_t cells) {
    state.counters["cells"] = double(cells);
    state.counters["ns_per_cell"] = benchmark::Counter(
        double(cells) * double(state.iterations()) / 1e9,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

#define GRID_SIZES ->Args({50, 20})->Args({100, 30})->Args({200, 40})->Args({400, 40})

void BM_FieldAdvance(benchmark::State& state) {
    auto e = gridEngine(int32_t(state.range(0)), int32_t(state.range(1)));
    e->fRateU_Ar.fill(1e-4f);
    e->fRateTKE_Ar.fill(-1e-6f);
    for (auto _ : state) e->advanceFields(1e-3);
    setCells(state, int64_t(e->fuvwX_Ar.size()));
}
BENCHMARK(BM_FieldAdvance)->ArgNames({"n", "k"}) GRID_SIZES->Unit(benchmark::kMillisecond);

void BM_DerivedFields(benchmark::State& state) {
    auto e = gridEngine(int32_t(state.range(0)), int32_t(state.range(1)));
    for (auto _ : state) e->updateDerivedFields();
    setCells(state, int64_t(e->fuvwX_Ar.size()));
}
BENCHMARK(BM_DerivedFields)->ArgNames({"n", "k"}) GRID_SIZES->Unit(benchmark::kMillisecond);

void BM_BatchReset(benchmark::State& state) {
    auto e = gridEngine(int32_t(state.range(0)), int32_t(state.range(1)));
    for (auto _ : state) e->resetBatchFields();
    setCells(state, int64_t(e->fuvwX_Ar.size()));
}
BENCHMARK(BM_BatchReset)->ArgNames({"n", "k"}) GRID_SIZES->Unit(benchmark::kMillisecond);

// Period loading: 12 blocks of nI x nJ x nK values from two data sets.
void BM_PeriodLoading(benchmark::State& state) {
    const int32_t n = int32_t(state.range(0)), nK = int32_t(state.range(1));
    kwd::test::tTempFolder folder("kwd_bench_zdt_");
    const kwd::test::tTestGrid g = kwd::test::uniformGrid(n, n, nK, 2.0f, 2.0f, 1.0f);
    auto values = kwd::test::flowVariables(kwd::bench::benchFlow);
    std::vector<TZDXFile> list;
    list.push_back(
        kwd::test::writeDataSet(folder.path(), "A", g, "01.07.2018", "12:00:00", values));
    list.push_back(
        kwd::test::writeDataSet(folder.path(), "B", g, "01.07.2018", "13:00:00", values));
    tParticleManager e(true, tDetector{}, std::move(list), folder.path(), 0.1, 1, 1);
    e.allocateFields();
    e.fCurrZDXFile = &e.fZDXFileList[0];
    e.fNextZDXFile = &e.fZDXFileList[1];
    e.loadPeriodFields(3600);  // the files are in the page cache from here on
    for (auto _ : state) e.loadPeriodFields(3600);
    const double bytes = 12.0 * 4.0 * double(g.I) * double(g.J) * double(g.K);
    state.SetBytesProcessed(int64_t(bytes * double(state.iterations())));
    setCells(state, int64_t(g.I) * g.J * g.K);
}
BENCHMARK(BM_PeriodLoading)->ArgNames({"n", "k"})->Args({100, 30})->Args({200, 40})->Unit(benchmark::kMillisecond);

}  // namespace

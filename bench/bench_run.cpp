// A whole run through the main loop: homogeneous turbulence over a floor of
// emitters, one batch of a million particles released in a box, one period
// of two minutes with an interval output after the first and the period
// output after the second (grid files, output data sets, particle list).
// Wall time on one and on two threads: the share of a run that does not
// scale with the threads shows in their ratio.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "BenchScenes.h"
#include "support/EngineFixtures.h"
#include "platform/DateTime.h"
#include "run/u_MainLoop.h"

using kwd::dataset::TZDXFile;
using kwd::engine::tParticle;
using kwd::engine::tParticleList;
using kwd::engine::tParticleManager;
using kwd::run::startCalculation;

namespace {

using kwd::test::tCellValues;

// Uniform wind, turbulence and dissipation everywhere (T_L of about 200 s, sub-steps of about 5 s);
// the lowest layer is an emitter.
tCellValues homogeneous(int32_t, int32_t, int32_t k) {
    tCellValues c;
    c.u = 0.5f;
    c.v = 0.2f;
    c.tke = 0.3f;
    c.eps = 0.0008f;
    if (k == 0) {
        c.obj = 11;
        c.vapor = 1.0f;
    }
    return c;
}

void BM_HomogeneousRun(benchmark::State& state) {
    kwd::bench::tThreads threads(int(state.range(0)));
    const int64_t particles = 1000000;
    const kwd::test::tTestGrid grid = kwd::test::uniformGrid(60, 60, 20, 2.0f, 2.0f, 1.0f);
    std::list<kwd::test::tTempFolder> folders;
    for (auto _ : state) {
        state.PauseTiming();
        // The folders outlive the loop's body: their removal (a particle list
        // of some 100 MB) is not part of the run.
        folders.emplace_back("kwd_bench_run_in_");
        const kwd::test::tTempFolder& in = folders.back();
        folders.emplace_back("kwd_bench_run_out_");
        const kwd::test::tTempFolder& out = folders.back();
        std::vector<TZDXFile> list;
        list.push_back(kwd::test::writeDataSet(in.path(), "DS_0", grid, "01.07.2018", "12:00:00",
                                             kwd::test::flowVariables(homogeneous)));
        list.push_back(kwd::test::writeDataSet(in.path(), "DS_1", grid, "01.07.2018", "12:02:00",
                                             kwd::test::flowVariables(homogeneous)));
        tParticleManager e(true, kwd::test::detectorBox(50, 70, 50, 70, 4, 12), std::move(list),
                           out.path(), 0.1, particles, particles);
        e.fSeed = 11;
        std::ostringstream progress;
        e.fProgressOut = &progress;
        state.ResumeTiming();
        const int64_t hits = startCalculation(e, 60, 60, true, kwd::nowLocal());
        state.PauseTiming();
        state.counters["hits"] = double(hits);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_HomogeneousRun)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

namespace {

// The release of a batch of a million particles into an empty list.
void BM_Release(benchmark::State& state) {
    kwd::bench::tThreads threads(int(state.range(0)));
    auto e = kwd::test::makeEngine(kwd::test::uniformGrid(60, 60, 20, 2.0f, 2.0f, 1.0f), homogeneous,
                                 kwd::test::detectorBox(50, 70, 50, 70, 4, 12));
    for (auto _ : state) {
        state.PauseTiming();
        tParticleList().swap(e->fParticleList);
        state.ResumeTiming();
        e->releaseParticles(1000000);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 1000000);
}
BENCHMARK(BM_Release)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

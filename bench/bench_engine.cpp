// The particle step: sub-steps per second in each sampling case (grid
// interior with 27 cells, lowest layer above its node with 18 cells, lowest
// layer below its node with the logarithmic wind profile, side boundary with
// the cell's own values), on one and on two threads; particles spread over
// the whole grid (visited in an order unrelated to their cells) and held in
// a small box; the cost of visiting finished particles; a pass over a batch
// in which only a few thousand particles still move; and the core clock, to
// turn times into cycles.
//
// Every pass starts from the same particle state (restored untimed) and is
// timed in wall-clock time (the workers' time is not the main thread's CPU
// time). The machine is shared: run with repetitions and read the medians.

#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdint>
#include <vector>

#include "../tools/ExampleSimulation.h"
#include "BenchScenes.h"

using kwd::engine::kPosGridFinished;
using kwd::engine::tParticle;
using kwd::engine::tParticleList;
using kwd::engine::tParticleManager;
using kwd::engine::tRandomPurpose;
using kwd::engine::tRandomStream;

using kwd::dataset::TZDXFile;

namespace {

using kwd::bench::benchEngine;
using kwd::bench::subStepsOf;
using kwd::bench::tThreads;

constexpr double kPass = 0.5;  // seconds of model time per pass

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// Times passes over the engine's particles, restoring them before each one:
// the pass of the main loop (mainLoop: the moving particles known from the
// last change of the list, as between two steps) or the public pass over
// the whole list. Reports wall-clock and CPU time (all threads) per sub-step.
void timePasses(benchmark::State& state, tParticleManager& e, double pass = kPass,
                bool mainLoop = false) {
    const tParticleList start = e.fParticleList;
    const int64_t before = subStepsOf(e);
    int64_t subSteps = 0;
    double cpu = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        e.fParticleList = start;
        if (mainLoop) e.findMovingParticles();
        const double cpu0 = processCpuSeconds();
        state.ResumeTiming();
        if (mainLoop)
            e.movingPass(pass);
        else
            e.moveAllParticlesParallel(pass);
        state.PauseTiming();
        cpu += processCpuSeconds() - cpu0;
        subSteps += subStepsOf(e) - before;
        state.ResumeTiming();
    }
    state.counters["substeps_per_s"] = benchmark::Counter(double(subSteps), benchmark::Counter::kIsRate);
    state.counters["ns_per_substep"] = benchmark::Counter(
        double(subSteps) / 1e9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["cpu_ns_per_substep"] = subSteps > 0 ? 1e9 * cpu / double(subSteps) : 0.0;
    state.counters["substeps_per_particle"] =
        benchmark::Counter(double(subSteps) / double(state.iterations()) / double(e.fParticleList.size()));
}

// Interior (27 cells), particles spread over a grid of range(1) x range(1) x
// 30 cells: the pass visits them in release order, which is unrelated to
// their cells.
void BM_Interior27Spread(benchmark::State& state) {
    tThreads threads(int(state.range(0)));
    const int32_t n = int32_t(state.range(1));
    const double L = 2.0 * n;
    auto e = benchEngine(n, n, 30, kwd::test::detectorBox(4.0, L - 4.0, 4.0, L - 4.0, 2.0, 27.0),
                         200000);
    timePasses(state, *e);
}
BENCHMARK(BM_Interior27Spread)
    ->ArgNames({"threads", "cells"})
    ->Args({1, 100})->Args({2, 100})->Args({1, 300})->Args({2, 300})
    ->Unit(benchmark::kMillisecond)->UseRealTime();

// Interior, one whole step of 60 s (as in a run: hundreds of sub-steps a
// call) for particles starting in a box in the middle of the grid.
void BM_Interior27Step60(benchmark::State& state) {
    tThreads threads(int(state.range(0)));
    auto e = benchEngine(100, 100, 30, kwd::test::detectorBox(90.0, 110.0, 90.0, 110.0, 8.0, 20.0),
                         2000);
    timePasses(state, *e, 60.0);
}
BENCHMARK(BM_Interior27Step60)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Interior (27 cells), particles in a box of 20 x 20 x 10 m (as after a
// release in a detector): the cells they read stay in the cache.
void BM_Interior27Box(benchmark::State& state) {
    tThreads threads(int(state.range(0)));
    auto e = benchEngine(100, 100, 30, kwd::test::detectorBox(90.0, 110.0, 90.0, 110.0, 5.0, 15.0),
                         50000);
    timePasses(state, *e);
}
BENCHMARK(BM_Interior27Box)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Lowest layer (4 m thick, node at 2 m), above the node: 18 cells.
void BM_Layer0Above18(benchmark::State& state) {
    tThreads threads(int(state.range(0)));
    auto e = benchEngine(100, 100, 30, kwd::test::detectorBox(4.0, 196.0, 4.0, 196.0, 2.4, 3.6),
                         100000, 4.0f);
    timePasses(state, *e);
}
BENCHMARK(BM_Layer0Above18)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Lowest layer below the node: logarithmic wind, 9 cells for the rest.
void BM_Layer0LogProfile(benchmark::State& state) {
    tThreads threads(int(state.range(0)));
    auto e = benchEngine(100, 100, 30, kwd::test::detectorBox(4.0, 196.0, 4.0, 196.0, 0.4, 1.6),
                         100000, 4.0f);
    timePasses(state, *e);
}
BENCHMARK(BM_Layer0LogProfile)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Side boundary: the last column (x from 198 to 200 m), the cell's own values.
void BM_Boundary(benchmark::State& state) {
    tThreads threads(int(state.range(0)));
    auto e = benchEngine(100, 100, 30, kwd::test::detectorBox(198.6, 199.6, 4.0, 196.0, 2.0, 27.0),
                         100000);
    timePasses(state, *e);
}
BENCHMARK(BM_Boundary)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// A pass over a batch of 1,000,000 particles that have all finished.
void BM_VisitFinished(benchmark::State& state) {
    tThreads threads(int(state.range(0)));
    auto e =
        benchEngine(20, 20, 10, kwd::test::detectorBox(10.0, 30.0, 10.0, 30.0, 2.0, 8.0), 1000);
    tParticle done = e->fParticleList.front();
    done.fInModel = false;
    done.fMetTarget = true;
    done.fPosGrid = kPosGridFinished;
    e->fParticleList.assign(1000000, done);
    // The public pass (the main loop scans the list like this once after
    // each change of it, and then visits only the moving particles).
    for (auto _ : state) e->moveAllParticlesParallel(60.0);
    state.counters["ns_per_visit"] = benchmark::Counter(
        double(state.iterations()) * double(e->fParticleList.size()) / 1e9,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_VisitFinished)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// A batch of 1,000,000 particles of which range(1) still move (spread
// through the list), against those particles on their own (range(2) = 0).
void BM_FewMoving(benchmark::State& state) {
    tThreads threads(int(state.range(0)));
    const int64_t moving = state.range(1);
    auto e = benchEngine(100, 100, 30, kwd::test::detectorBox(90.0, 110.0, 90.0, 110.0, 5.0, 15.0),
                         moving);
    if (state.range(2) != 0) {
        tParticleList list;
        list.reserve(1000000);
        tParticle done = e->fParticleList.front();
        done.fInModel = false;
        done.fMetTarget = true;
        done.fPosGrid = kPosGridFinished;
        done.fdt_sum = 0.0;  // as after the pass that followed its end
        const int64_t every = 1000000 / moving;
        for (int64_t n = 0; n < 1000000; ++n) {
            if (n % every == 0 && n / every < moving)
                list.push_back(e->fParticleList[size_t(n / every)]);
            else
                list.push_back(done);
        }
        e->fParticleList = std::move(list);
    }
    timePasses(state, *e, kPass, true);
}
BENCHMARK(BM_FewMoving)
    ->ArgNames({"threads", "moving", "in_batch"})
    ->Args({1, 5000, 0})->Args({1, 5000, 1})->Args({2, 5000, 0})->Args({2, 5000, 1})
    ->Unit(benchmark::kMillisecond)->UseRealTime();

// The first step (60 s) of the bundled example's first batch: particles
// released in its detector above the street, traced back through the
// street canyon until they reach a lawn, leave or end in a building.
void BM_ExampleFirstStep(benchmark::State& state) {
    tThreads threads(int(state.range(0)));
    kwd::test::tTempFolder folder("kwd_bench_example_");
    example::tOptions o;
    o.folder = folder.path();
    const example::tWritten written = example::writeExample(o);
    std::vector<TZDXFile> list;
    for (const std::string& path : written.zdxPaths) {
        TZDXFile z;
        z.ReadFile(path);
        list.push_back(z);
    }
    const double* d = written.detector;
    tParticleManager e(true, kwd::test::detectorBox(d[0], d[1], d[2], d[3], d[4], d[5]),
                       std::move(list), folder.path(), o.minHeight, 20000, 20000);
    e.fSeed = 4242;
    e.fCurrZDXFile = &e.fZDXFileList[0];
    e.fNextZDXFile = &e.fZDXFileList[1];
    e.allocateFields();
    e.loadPeriodFields(o.outputSpacing);
    e.resetBatchFields();
    e.updateDerivedFields();
    e.fMainLoopIdx = 0;
    e.releaseParticles(20000);
    timePasses(state, e, 60.0);
}
BENCHMARK(BM_ExampleFirstStep)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The parts of an interior sub-step on their own: one sampling over 27
// cells (cache-resident), and the three truncated Gaussian numbers.
void BM_Sampling27(benchmark::State& state) {
    auto e = benchEngine(100, 100, 30, kwd::test::detectorBox(90.0, 110.0, 90.0, 110.0, 5.0, 15.0),
                         4096);
    const tParticleList& list = e->fParticleList;
    size_t n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(e->sampleFields(list[n]));
        n = (n + 1) & 4095;
    }
    state.counters["ns_per_sampling"] = benchmark::Counter(
        double(state.iterations()) / 1e9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Sampling27);

void BM_ThreeGaussians(benchmark::State& state) {
    auto e = benchEngine(20, 20, 10, kwd::test::detectorBox(10.0, 30.0, 10.0, 30.0, 2.0, 8.0), 1);
    tRandomStream stream(1, 2, tRandomPurpose::Velocity);
    for (auto _ : state) {
        benchmark::DoNotOptimize(e->randGauss(5.0, stream));
        benchmark::DoNotOptimize(e->randGauss(5.0, stream));
        benchmark::DoNotOptimize(e->randGauss(5.0, stream));
    }
    state.counters["ns_per_3"] = benchmark::Counter(
        double(state.iterations()) / 1e9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ThreeGaussians);

// The core clock: a chain of dependent additions, one per cycle.
void BM_CoreClock(benchmark::State& state) {
    constexpr int64_t kChain = 50000000;
    for (auto _ : state) {
        uint64_t x = 0;
        for (int64_t n = 0; n < kChain; n += 8) {
            asm volatile(
                "add $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\t"
                "add $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0"
                : "+r"(x));
        }
        benchmark::DoNotOptimize(x);
    }
    state.counters["GHz"] =
        benchmark::Counter(double(kChain) * double(state.iterations()) / 1e9, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CoreClock)->Unit(benchmark::kMillisecond);

}  // namespace

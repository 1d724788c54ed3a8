// The particle step: sub-steps per second for particles inside the grid
// interior, and the cost of visiting particles that no longer move.

#include <benchmark/benchmark.h>
#include <omp.h>

#include <cmath>

#include "../tests/engine/EngineFixtures.h"

namespace {

using kwdtest::tCellValues;

// 60 x 60 x 30 cells of 2 x 2 x 1 m with a sheared, turbulent flow and no
// emitters or obstacles: particles released in the middle stay in the
// interior for the whole pass.
std::unique_ptr<tParticleManager> interiorEngine(int64_t particles) {
    auto e = kwdtest::makeEngine(
        kwdtest::uniformGrid(60, 60, 30, 2.0f, 2.0f, 1.0f),
        [](int32_t i, int32_t j, int32_t k) {
            tCellValues c;
            c.u = 0.3f + 0.01f * float(k) + 0.05f * std::sin(0.3f * float(i + j));
            c.v = 0.1f * std::cos(0.2f * float(i));
            c.w = 0.02f * std::sin(0.5f * float(j + k));
            c.tke = 0.3f + 0.01f * float(k);
            c.eps = 0.03f;
            return c;
        },
        kwdtest::detectorBox(50.0, 70.0, 50.0, 70.0, 10.0, 20.0), 0.1, 12345, particles);
    e->releaseParticles(particles);
    return e;
}

// One pass of dt = 1 s over particles inside the interior; the list is
// restored before every pass (not timed). Reports sub-steps per second.
void BM_SubStepsInterior(benchmark::State& state) {
    const int saved = omp_get_max_threads();
    omp_set_num_threads(int(state.range(0)));
    auto e = interiorEngine(20000);
    const std::vector<tParticle> start = e->fParticleList;
    int64_t subSteps = 0;
    for (auto _ : state) {
        state.PauseTiming();
        e->fParticleList = start;
        state.ResumeTiming();
        e->moveAllParticlesParallel(1.0);
        state.PauseTiming();
        for (const tParticle& p : e->fParticleList) subSteps += p.fSubSteps;
        state.ResumeTiming();
    }
    omp_set_num_threads(saved);
    state.counters["substeps_per_s"] =
        benchmark::Counter(double(subSteps), benchmark::Counter::kIsRate);
    state.counters["substeps_per_pass"] =
        benchmark::Counter(double(subSteps) / double(state.iterations()));
}
BENCHMARK(BM_SubStepsInterior)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// A pass over a batch of 1,000,000 particles that have all finished.
void BM_VisitFinishedParticles(benchmark::State& state) {
    const int saved = omp_get_max_threads();
    omp_set_num_threads(int(state.range(0)));
    auto e = interiorEngine(1000);
    tParticle done = e->fParticleList.front();
    done.fInModel = false;
    done.fMetTarget = true;
    e->fParticleList.assign(1000000, done);
    for (auto _ : state) e->moveAllParticlesParallel(60.0);
    omp_set_num_threads(saved);
    state.counters["visits_per_s"] = benchmark::Counter(
        double(state.iterations()) * double(e->fParticleList.size()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_VisitFinishedParticles)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

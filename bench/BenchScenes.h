#pragma once
// Engines with fields for the benchmarks: a sheared, turbulent flow without
// obstacles or emitters over a grid of the chosen size, and particles
// released where one sampling case of the particle step applies.

#include <omp.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "support/EngineFixtures.h"

namespace kwd::bench {

using kwd::test::tCellValues;

// Sheared wind of about 0.3 m/s with turbulence: T_L of a few seconds, so a
// pass of 0.5 s is about ten sub-steps and a particle moves a few
// centimetres in it.
inline tCellValues benchFlow(int32_t i, int32_t j, int32_t k) {
    tCellValues c;
    c.u = 0.2f + 0.01f * float(k) + 0.05f * std::sin(0.3f * float(i + j));
    c.v = 0.1f * std::cos(0.2f * float(i));
    c.w = 0.02f * std::sin(0.5f * float(j + k));
    c.tke = 0.05f + 0.002f * float(k) + 0.01f * std::cos(0.7f * float(i * j));
    c.eps = 0.01f + 0.001f * std::sin(float(i + 2 * j + 3 * k));
    return c;
}

// An engine over nI x nJ x nK cells of 2 x 2 x 1 m (the lowest layer
// `dz0` m thick) with the bench flow, `particles` released at random in the
// box, and one warming pass made so that the particles have their velocity.
inline std::unique_ptr<kwd::engine::tParticleManager> benchEngine(int32_t nI, int32_t nJ,
                                                                  int32_t nK,
                                                                  const kwd::engine::tDetector& box,
                                                                  int64_t particles,
                                                                  float dz0 = 1.0f) {
    kwd::test::tTestGrid g = kwd::test::uniformGrid(nI, nJ, nK, 2.0f, 2.0f, 1.0f);
    g.dz[0] = dz0;
    auto e = kwd::test::makeEngine(g, benchFlow, box, 0.1, 12345, particles);
    e->releaseParticles(particles);
    e->moveAllParticlesParallel(0.5);
    return e;
}

inline int64_t subStepsOf(const kwd::engine::tParticleManager& e) {
    int64_t n = 0;
    for (const kwd::engine::tParticle& p : e.fParticleList) n += p.fSubSteps;
    return n;
}

// Sets the OpenMP thread count for the life of the object.
class tThreads {
public:
    explicit tThreads(int n) : fSaved(omp_get_max_threads()) { omp_set_num_threads(n); }
    ~tThreads() { omp_set_num_threads(fSaved); }

private:
    int fSaved;
};

}  // namespace kwd::bench

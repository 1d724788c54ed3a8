#pragma once
// Helpers for the result tests: engines whose accumulators are filled by
// hand, particles that met their target, and reading what was written.

#include <memory>
#include <string>
#include <vector>

#include "engine/u_tParticleManager.h"
#include "platform/DateTime.h"
#include "support/EngineFixtures.h"
#include "support/TextFiles.h"

namespace kwd::test {

// Noon on 1 July 2018.
inline kwd::tDateTime noon() { return kwd::encodeDateTime(2018, 7, 1, 12, 0, 0); }

// An engine over one in-memory data set of grid g (project "P") writing into
// outDir; only the accumulators are allocated. fActSimTime is noon.
inline std::unique_ptr<kwd::engine::tParticleManager> accumulatorEngine(const tTestGrid& g,
                                                                        const std::string& outDir) {
    std::vector<kwd::dataset::TZDXFile> list;
    list.push_back(makeDescriptor(g, outDir, "IN", "01.07.2018", "12:00:00", 23, "P"));
    auto e = std::make_unique<kwd::engine::tParticleManager>(true, kwd::engine::tDetector{},
                                                             std::move(list), outDir, 0.1, 100, 10);
    e->fActSimTime = noon();
    return e;
}

// A particle that met its target in `cell` with the two vertical velocities.
inline kwd::engine::tParticle hitParticle(kwd::engine::tPosGrid cell, double wEmitter,
                                          double wDetector) {
    kwd::engine::tParticle p;
    p.fMetTarget = true;
    p.fInModel = false;
    p.fPosGrid = kwd::engine::kPosGridFinished;
    p.fTargetPosGrid = cell;
    p.fWEmitter = wEmitter;
    p.fWDetector = wDetector;
    return p;
}

// Sum of every element of an array.
inline double total(const kwd::engine::t3DArrayDouble& a) {
    double s = 0;
    for (size_t n = 0; n < a.size(); ++n) s += a.data()[n];
    return s;
}

}  // namespace kwd::test

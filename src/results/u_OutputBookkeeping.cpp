// Accumulation of the particles that met their target into the per-cell sums,
// and the reset of every accumulator.

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "dataset/DatasetText.h"
#include "engine/u_tParticleManager.h"
#include "platform/FpControl.h"
#include "platform/KwdError.h"
#include "platform/LargeMemory.h"
#include "platform/ParallelChunks.h"
#include "results/u_EngineOutputs.h"

namespace dataset_text = kwd::dataset::dataset_text;

namespace kwd::results {

using kwd::engine::t3DArrayDouble;
using kwd::engine::tParticle;
using kwd::engine::tParticleManager;
using kwd::engine::tPosGrid;

namespace {

void checkCell(const t3DArrayDouble& a, const tPosGrid& c, size_t particleNr) {
    if (c.i < 0 || c.j < 0 || c.k < 0 || c.i >= a.sizeI() || c.j >= a.sizeJ() || c.k >= a.sizeK())
        throw kwd::GeneralError("particle " + std::to_string(particleNr) + ": target cell (" +
                                std::to_string(c.i) + ", " + std::to_string(c.j) + ", " +
                                std::to_string(c.k) + ") lies outside the result grid " +
                                dataset_text::gridText(a.sizeI(), a.sizeJ(), a.sizeK()));
}

}  // namespace

void clearOutputArrays(tParticleManager& e) {
    // Every accumulator has the engine's grid; the whole of each is cleared,
    // which covers every cell below GridsI x GridsJ x GridsK of fCurrZDXFile.
    for (t3DArrayDouble* a : e.footprintAccumulators()) a->fill(0.0);
}

void saveCurrentData(tParticleManager& e) {
    kwd::clearFpFlags();
    auto add = [&e](const tParticle& p) {
        const tPosGrid c = p.fTargetPosGrid;
        const double r = p.fWDetector / p.fWEmitter, d = 1.0 / p.fWEmitter;
        e.SourceStrengthIJ(c.i, c.j, 0) += 1.0;
        e.SourceStrengthIJK(c.i, c.j, c.k) += 1.0;
        e.ratioDetEmitterIJ(c.i, c.j, 0) += r;
        e.ratioDetEmitterIJK(c.i, c.j, c.k) += r;
        e.ddw_EmitterIJ(c.i, c.j, 0) += d;
        e.ddw_EmitterIJK(c.i, c.j, c.k) += d;
    };
    // Each worker owns a range of columns (of i) and adds the hits in them,
    // reading the whole list in order: every cell's sums are added in list
    // order on any number of threads, and no buffer of hits is needed. Every
    // worker checks every hit, so a target cell outside the grid fails at the
    // particle the loop on one thread would stop at, with the same sums.
    const std::vector<tParticle>& list = e.fParticleList;
    const int32_t columns = e.SourceStrengthIJK.sizeI();
    const int chunks = std::min(kwd::chunkCount(int64_t(list.size()), 16384), std::max(columns, 1));
    kwd::forEachChunk(columns, chunks, [&](int, int64_t iBegin, int64_t iEnd) {
        for (size_t n = 0; n < list.size(); ++n) {
            kwd::prefetchAhead(list.data(), n, list.size());
            const tParticle& p = list[n];
            if (!p.fMetTarget) continue;
            checkCell(e.SourceStrengthIJK, p.fTargetPosGrid, n);
            if (p.fTargetPosGrid.i >= iBegin && p.fTargetPosGrid.i < iEnd) add(p);
        }
    });
    kwd::checkFpFlags("accumulation of the particles that met their target");
}

}  // namespace kwd::results

// Accumulation of the particles that met their target into the per-cell sums,
// and the reset of every accumulator.

#include <string>
#include <utility>
#include <vector>

#include "dataset/DatasetText.h"
#include "engine/u_tParticleManager.h"
#include "platform/FpControl.h"
#include "platform/KwdError.h"
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
    // The hits of each chunk of the list, in list order, on the workers.
    struct tHit {
        tPosGrid cell;
        double r, d;
    };
    auto hitOf = [](const tParticle& p) -> tHit {
        return {p.fTargetPosGrid, p.fWDetector / p.fWEmitter, 1.0 / p.fWEmitter};
    };
    auto add = [&e](const tHit& h) {
        const tPosGrid c = h.cell;
        e.SourceStrengthIJ(c.i, c.j, 0) += 1.0;
        e.SourceStrengthIJK(c.i, c.j, c.k) += 1.0;
        e.ratioDetEmitterIJ(c.i, c.j, 0) += h.r;
        e.ratioDetEmitterIJK(c.i, c.j, c.k) += h.r;
        e.ddw_EmitterIJ(c.i, c.j, 0) += h.d;
        e.ddw_EmitterIJK(c.i, c.j, c.k) += h.d;
    };
    const std::vector<tParticle>& list = e.fParticleList;
    const int chunks = kwd::chunkCount(int64_t(list.size()), 16384);
    if (chunks == 1) {
        // One thread: added as the list is read.
        for (size_t n = 0; n < list.size(); ++n) {
            if (!list[n].fMetTarget) continue;
            checkCell(e.SourceStrengthIJK, list[n].fTargetPosGrid, n);
            add(hitOf(list[n]));
        }
    } else {
        std::vector<std::vector<tHit>> hits(static_cast<size_t>(chunks));
        kwd::forEachChunk(int64_t(list.size()), chunks,
                          [&](int chunk, int64_t begin, int64_t end) {
                              std::vector<tHit> mine;  // moved into its slot at the end
                              for (int64_t n = begin; n < end; ++n) {
                                  const tParticle& p = list[size_t(n)];
                                  if (!p.fMetTarget) continue;
                                  checkCell(e.SourceStrengthIJK, p.fTargetPosGrid, size_t(n));
                                  mine.push_back(hitOf(p));
                              }
                              hits[size_t(chunk)] = std::move(mine);
                          });
        // Each worker adds to the columns it owns (a range of i), every
        // hit of them in list order: each cell's sums are added in the same
        // order on any number of threads.
        kwd::forEachChunk(e.SourceStrengthIJK.sizeI(), chunks, [&](int, int64_t iBegin, int64_t iEnd) {
            for (const std::vector<tHit>& chunk : hits)
                for (const tHit& h : chunk)
                    if (h.cell.i >= iBegin && h.cell.i < iEnd) add(h);
        });
    }
    kwd::checkFpFlags("accumulation of the particles that met their target");
}

}  // namespace kwd::results

// Accumulation of the particles that met their target into the per-cell sums,
// and the reset of every accumulator.

#include <algorithm>
#include <exception>
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
using kwd::engine::tParticleList;
using kwd::engine::tParticleManager;
using kwd::engine::tPosGrid;
using tHit = tParticleManager::tTargetHit;

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
    const tParticleList& list = e.fParticleList;
    const int32_t columns = e.SourceStrengthIJK.sizeI();
    const int chunks = kwd::chunkCount(int64_t(list.size()), 16384);
    const int owners = std::min(chunks, std::max(columns, 1));
    const auto hitOf = [](const tParticle& p) {
        return tHit{p.fTargetPosGrid, p.fWDetector / p.fWEmitter, 1.0 / p.fWEmitter};
    };
    const auto add = [&e](const tHit& h) {
        const tPosGrid c = h.cell;
        e.SourceStrengthIJ(c.i, c.j, 0) += 1.0;
        e.SourceStrengthIJK(c.i, c.j, c.k) += 1.0;
        e.ratioDetEmitterIJ(c.i, c.j, 0) += h.ratio;
        e.ratioDetEmitterIJK(c.i, c.j, c.k) += h.ratio;
        e.ddw_EmitterIJ(c.i, c.j, 0) += h.inverse;
        e.ddw_EmitterIJK(c.i, c.j, c.k) += h.inverse;
    };
    if (owners <= 1) {  // one thread (or one column): each hit added as it is read
        for (size_t n = 0; n < list.size(); ++n) {
            kwd::prefetchAhead(list.data(), n, list.size());
            const tParticle& p = list[n];
            if (!p.fMetTarget) continue;
            checkCell(e.SourceStrengthIJK, p.fTargetPosGrid, n);
            add(hitOf(p));
        }
        kwd::checkFpFlags("accumulation of the particles that met their target");
        return;
    }
    // Each worker owns a range of columns (of i). The list is first cut into
    // chunks, each of which lists its hits in order in the engine's room for
    // them (cells and weights, a tenth of the bytes of their particles, so
    // that no owner reads the whole list); each owner then reads the hits of
    // chunk after chunk and adds those in its columns: every cell's sums are
    // added in list order on any number of threads. A chunk stops at its
    // first target cell outside the grid; the hits before the first such
    // cell in list order are added and then its error is raised, as on one
    // thread.
    const int64_t count = int64_t(list.size());
    e.fTargetHitScratch.ensure(list.size());
    tHit* const hits = e.fTargetHitScratch.data();
    std::vector<int64_t> listed(static_cast<size_t>(chunks), 0);
    std::vector<std::exception_ptr> errors(static_cast<size_t>(chunks));
    kwd::forEachChunk(count, chunks, [&](int c, int64_t begin, int64_t end) {
        tHit* out = hits + begin;
        try {
            for (int64_t n = begin; n < end; ++n) {
                kwd::prefetchAhead(list.data(), size_t(n), size_t(end));
                const tParticle& p = list[size_t(n)];
                if (!p.fMetTarget) continue;
                checkCell(e.SourceStrengthIJK, p.fTargetPosGrid, size_t(n));
                *out++ = hitOf(p);
            }
        } catch (...) {
            errors[size_t(c)] = std::current_exception();
        }
        listed[size_t(c)] = out - (hits + begin);
    });
    int lastChunk = chunks - 1;
    for (int c = 0; c < chunks; ++c)
        if (errors[size_t(c)]) {
            lastChunk = c;
            break;
        }
    kwd::forEachChunk(columns, owners, [&](int, int64_t iBegin, int64_t iEnd) {
        for (int c = 0; c <= lastChunk; ++c) {
            const tHit* h = hits + kwd::chunkBegin(count, chunks, c);
            for (const tHit* end = h + listed[size_t(c)]; h != end; ++h)
                if (h->cell.i >= iBegin && h->cell.i < iEnd) add(*h);
        }
    });
    if (errors[size_t(lastChunk)]) std::rethrow_exception(errors[size_t(lastChunk)]);
    kwd::checkFpFlags("accumulation of the particles that met their target");
}

}  // namespace kwd::results

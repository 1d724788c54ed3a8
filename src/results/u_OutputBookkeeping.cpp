// Accumulation of the particles that met their target into the per-cell sums,
// and the reset of every accumulator.

#include <string>

#include "dataset/DatasetText.h"
#include "engine/u_tParticleManager.h"
#include "platform/FpControl.h"
#include "platform/KwdError.h"
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
    for (size_t n = 0; n < e.fParticleList.size(); ++n) {
        const tParticle& p = e.fParticleList[n];
        if (!p.fMetTarget) continue;
        const tPosGrid c = p.fTargetPosGrid;
        checkCell(e.SourceStrengthIJK, c, n);
        const double r = p.fWDetector / p.fWEmitter;
        const double d = 1.0 / p.fWEmitter;
        e.SourceStrengthIJ(c.i, c.j, 0) += 1.0;
        e.SourceStrengthIJK(c.i, c.j, c.k) += 1.0;
        e.ratioDetEmitterIJ(c.i, c.j, 0) += r;
        e.ratioDetEmitterIJK(c.i, c.j, c.k) += r;
        e.ddw_EmitterIJ(c.i, c.j, 0) += d;
        e.ddw_EmitterIJK(c.i, c.j, c.k) += d;
    }
    kwd::checkFpFlags("accumulation of the particles that met their target");
}

}  // namespace kwd::results

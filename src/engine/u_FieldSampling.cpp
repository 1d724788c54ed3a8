// The flow as seen by a particle: mean wind, sub-grid energy and its
// dissipation, the gradient of the sub-grid variance (inverse-distance
// weighting over the neighbouring cells that are not obstacles) and the
// sub-grid share of the velocity variance at the particle's height. The
// sampling itself is in u_StepKernel.h, where the particle step uses it.

#include "engine/u_StepKernel.h"
#include "engine/u_tParticleManager.h"
#include "platform/KwdError.h"

namespace kwd::engine {

namespace {

tFieldSample sampleBaseline(const kwdstep::tStepContext& c, const tPosMeter& pos,
                            const tPosGrid& cell) {
    return kwdstep::sampleAt<kwdstep::tIsaBaseline>(c, pos, cell);
}

__attribute__((target("avx2"))) tFieldSample sampleAvx2(const kwdstep::tStepContext& c,
                                                        const tPosMeter& pos,
                                                        const tPosGrid& cell) {
    return kwdstep::sampleAt<kwdstep::tIsaAvx2>(c, pos, cell);
}

}  // namespace

tFieldSample tParticleManager::sampleFields(const tParticle& aParticle) const {
    if (!sampleCellsMatchGrid())
        throw kwd::GeneralError(
            "field sampling before the cell records were built (derived-field update)");
    const kwdstep::tStepContext c = kwdstep::stepContext(*this);
    return fStepAvx2 ? sampleAvx2(c, aParticle.fPosMeter, aParticle.fPosGrid)
                     : sampleBaseline(c, aParticle.fPosMeter, aParticle.fPosGrid);
}

}  // namespace kwd::engine

// Accumulation of the particles that met their target into the per-cell sums,
// and the reset of every accumulator.

#include <string>

#include "engine/u_tParticleManager.h"
#include "platform/FpControl.h"
#include "platform/KwdError.h"

namespace {

void checkCell(const t3DArrayDouble& a, const tPosGrid& c, size_t particleNr) {
    if (c.i < 0 || c.j < 0 || c.k < 0 || c.i >= a.sizeI() || c.j >= a.sizeJ() || c.k >= a.sizeK())
        throw kwd::GeneralError("particle " + std::to_string(particleNr) + ": target cell (" +
                                std::to_string(c.i) + ", " + std::to_string(c.j) + ", " +
                                std::to_string(c.k) + ") lies outside the result grid " +
                                std::to_string(a.sizeI()) + " x " + std::to_string(a.sizeJ()) +
                                " x " + std::to_string(a.sizeK()));
}

}  // namespace

void tParticleManager::clearOutputArrays() {
    // Every accumulator has the engine's grid; the whole of each is cleared,
    // which covers every cell below GridsI x GridsJ x GridsK of fCurrZDXFile.
    for (t3DArrayDouble* a :
         {&CurrPosIJK, &SourceStrengthIJ, &SourceStrengthIJK, &ratioDetEmitterIJ,
          &ratioDetEmitterIJK, &ddw_EmitterIJ, &ddw_EmitterIJK, &FlxFootprintIJ, &FlxFootprintIJK,
          &ConFootprintIJ, &ConFootprintIJK})
        a->fill(0.0);
}

void tParticleManager::saveCurrentData() {
    kwd::clearFpFlags();
    for (size_t n = 0; n < fParticleList.size(); ++n) {
        const tParticle& p = fParticleList[n];
        if (!p.fMetTarget) continue;
        const tPosGrid c = p.fTargetPosGrid;
        checkCell(SourceStrengthIJK, c, n);
        const double r = p.fWDetector / p.fWEmitter;
        const double d = 1.0 / p.fWEmitter;
        SourceStrengthIJ(c.i, c.j, 0) += 1.0;
        SourceStrengthIJK(c.i, c.j, c.k) += 1.0;
        ratioDetEmitterIJ(c.i, c.j, 0) += r;
        ratioDetEmitterIJK(c.i, c.j, c.k) += r;
        ddw_EmitterIJ(c.i, c.j, 0) += d;
        ddw_EmitterIJK(c.i, c.j, c.k) += d;
    }
    kwd::checkFpFlags("accumulation of the particles that met their target");
}

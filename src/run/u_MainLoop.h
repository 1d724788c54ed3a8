#pragma once
// The main loop of a run (`startCalculation`): it drives the engine through
// the run's data-set periods and hands its state to the results at every
// output. It sits above both: the engine knows nothing of the result files.

#include <cstdint>
#include <string>

#include "engine/u_tParticleManager.h"
#include "platform/DateTime.h"

namespace kwd::run {

// Runs the engine e through every data-set period of its descriptor list
// (latest first) and returns the number of particles that met their target.
// aRunStart is the wall-clock time the run started (recorded by the run
// start); the closing block of the run log gives the time elapsed since.
// Output or update interval below 1 s, fewer than two data sets or a period
// that cannot be stepped: kwd::RunSetupError before anything is released.
int64_t startCalculation(kwd::engine::tParticleManager& e, int32_t outputInterval,
                         int32_t updateInterval, bool verboseLog, kwd::tDateTime aRunStart);

// "<h> hour(s), <m> minute(s), <s> second(s) elapsed since start of the
// simulation": whole hours (not reduced), minutes and seconds modulo 60.
std::string elapsedTimeLine(int64_t aElapsedSeconds);

}  // namespace kwd::run

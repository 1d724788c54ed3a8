#pragma once
// What the results make of the engine's state: the accumulation of the
// particles that met their target into the per-cell sums, the reset of
// those sums, the footprint grid files with the output data set, the
// particle list and the touchdown list. The main loop (src/run/) calls them
// at its outputs; the engine itself writes no result file.

#include <string>

#include "dataset/u_ZDXFile.h"
#include "engine/u_tParticleManager.h"

namespace kwd::results {

// Adds every particle of e's list that met its target to the source
// strength and weight sums of its target cell (both the level-0 "IJ" and
// the 3-D "IJK" accumulators). A target cell outside the accumulators:
// kwd::GeneralError naming the particle.
void saveCurrentData(kwd::engine::tParticleManager& e);
// Sets all 11 accumulators of e to zero.
void clearOutputArrays(kwd::engine::tParticleManager& e);
// Appends the particles of e's list that met their target to the particle
// list of e's current model time (ParticleList_<time>_<project>.csv in e's
// output folder); creates the file with its header line when it is missing.
void saveCurrentParticlesInTargetToFile(const kwd::engine::tParticleManager& e);
// Touchdown model: appends the touchdowns of e.fTouchdowns.records to the
// touchdown list of the current period (TouchdownList_<model time of
// fCurrZDXFile>_<project>.csv, the particle list's columns, ParticleNr the
// serial number, the touchdown as the target) and clears them.
void saveTouchdownList(kwd::engine::tParticleManager& e);
// Turns e's sums into footprints (CurrPosIJK and the four footprint
// accumulators), writes the five grid files of the vertical sums and, when
// e.fverboseLog, the output data set aFileName + ".ZDX"/".ZDT" over the grid
// of aZDXFile with its metadata.
void writeOutput(kwd::engine::tParticleManager& e, const kwd::dataset::TZDXFile& aZDXFile,
                 const std::string& aFileName);

}  // namespace kwd::results

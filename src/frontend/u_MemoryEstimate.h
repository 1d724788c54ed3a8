#pragma once
// The memory a run needs, estimated before it starts from the engine's own
// structures: the fields and accumulators per grid cell, and the particles a
// data-set period can hold at once (its batches, the particles of earlier
// batches that are still moving being carried over), with what the particle
// step keeps per moving particle. A run that cannot fit the machine's
// physical memory is refused before anything is allocated.

#include <cstdint>
#include <string>

#include "dataset/u_ZDXFile.h"

namespace kwd::frontend {

struct tMemoryEstimate {
    int64_t cells = 0;          // grid cells of the run
    int64_t fieldBytes = 0;     // fields, derived fields, accumulators, cell records
    int64_t particles = 0;      // particles a period can hold at once
    int64_t particleBytes = 0;  // the particle list, its growth, the step's indices
    int64_t totalBytes = 0;     // the sum (saturates at the largest 64-bit value)
};

// Bytes the engine keeps per grid cell while a run lasts.
int64_t engineBytesPerCell();
// Bytes per particle held: the particle, and the moving particle's index
// and sort keys in the particle step.
int64_t engineBytesPerParticle();

// The estimate for a run over the grid of aGrid that releases
// aParticlesPerPeriod particles per period (0 or less: one batch) in
// batches of aBatchSize.
tMemoryEstimate estimateRunMemory(const kwd::dataset::TZDXFile& aGrid, int64_t aParticlesPerPeriod,
                                  int64_t aBatchSize);

// The machine's physical memory in bytes (0 when the system does not say).
int64_t physicalMemoryBytes();

// A size as text: "512 bytes", "37.5 MB", "27.1 GB" (powers of 1000, one
// decimal).
std::string byteSizeText(int64_t aBytes);

// "3.2 GB (fields of 8 x 8 x 4 cells 68.5 kB, 1000000 particles 3.2 GB)"
std::string memoryEstimateText(const tMemoryEstimate& aEstimate,
                               const kwd::dataset::TZDXFile& aGrid);

// Refuses (kwd::RunSetupError giving the estimate and the grid) a run whose
// estimate is more than aAvailableBytes; 0 available means unknown (no check).
void checkRunMemory(const tMemoryEstimate& aEstimate, const kwd::dataset::TZDXFile& aGrid,
                    int64_t aAvailableBytes);

}  // namespace kwd::frontend

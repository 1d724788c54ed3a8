#include "frontend/u_MemoryEstimate.h"

#include <unistd.h>

#include <cstdio>
#include <limits>

#include "dataset/DatasetText.h"
#include "engine/u_tParticleManager.h"
#include "platform/KwdError.h"

using kwd::engine::t3DArray;
using kwd::engine::tParticle;
using kwd::engine::tParticleManager;
using kwd::engine::tSampleCell;

namespace kwd::frontend {

using kwd::dataset::TZDXFile;

namespace {

using kwd::dataset::dataset_text::gridText;

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

int64_t saturatingProduct(int64_t a, int64_t b) {
    int64_t r = 0;
    return __builtin_mul_overflow(a, b, &r) ? kMax : r;
}

int64_t saturatingSum(int64_t a, int64_t b) {
    int64_t r = 0;
    return __builtin_add_overflow(a, b, &r) ? kMax : r;
}

// The element size of one of the engine's per-cell arrays.
template <typename A>
struct tElementOf;
template <typename T>
struct tElementOf<t3DArray<T>> {
    static constexpr int64_t size = int64_t(sizeof(T));
};
template <typename A>
constexpr int64_t kCellBytes = tElementOf<A>::size;

}  // namespace

int64_t engineBytesPerCell() {
    using E = tParticleManager;
    return 2 * kCellBytes<decltype(E::fObject_Ar)>        // object codes, live and snapshot
           + 2 * 6 * kCellBytes<decltype(E::fuvwX_Ar)>    // u, v, w, TKE, emitter, dissipation
           + 6 * kCellBytes<decltype(E::fRateU_Ar)>       // their rates over the period
           + 3 * kCellBytes<decltype(E::fde_dx_Ar)>       // the TKE gradients
           + E::kFootprintAccumulatorCount * kCellBytes<decltype(E::CurrPosIJK)>  // accumulators
           + int64_t(sizeof(tSampleCell))                 // the particle step's cell record
           + int64_t(sizeof(decltype(E::fCellClass)::value_type))  // and the cell's class
           + int64_t(sizeof(decltype(E::fFreeAround)::value_type))  // no obstacle around it
           + 2 * int64_t(sizeof(float));                  // a data block read or written
}

int64_t engineBytesPerParticle() {
    // The moving particle's list index and its two sort keys; on several
    // threads, its record as a hit the accumulation adds (at most one per
    // particle).
    return int64_t(sizeof(tParticle) + sizeof(int64_t) + 2 * sizeof(uint64_t) +
                   sizeof(tParticleManager::tTargetHit));
}

tMemoryEstimate estimateRunMemory(const TZDXFile& aGrid, int64_t aParticlesPerPeriod,
                                  int64_t aBatchSize) {
    tMemoryEstimate e;
    const int64_t i = aGrid.GridsI > 0 ? aGrid.GridsI : 0;
    const int64_t j = aGrid.GridsJ > 0 ? aGrid.GridsJ : 0;
    const int64_t k = aGrid.GridsK > 0 ? aGrid.GridsK : 0;
    e.cells = saturatingProduct(saturatingProduct(i, j), k);
    e.fieldBytes = saturatingProduct(e.cells, engineBytesPerCell());

    // A period releases whole batches until its target is reached; the
    // particles of a batch that are still moving at its end stay in the list
    // while the next batches run.
    const int64_t batch = aBatchSize > 0 ? aBatchSize : 1;
    const int64_t batches =
        aParticlesPerPeriod <= batch ? 1 : (aParticlesPerPeriod - 1) / batch + 1;
    e.particles = saturatingProduct(batches, batch);
    const int64_t carried = e.particles - batch;
    // When the list grows, the particles still moving are copied to a block
    // of their own first, so the old and the new block hold them twice.
    e.particleBytes =
        saturatingSum(saturatingProduct(e.particles, engineBytesPerParticle()),
                      saturatingProduct(carried, int64_t(sizeof(tParticle))));
    e.totalBytes = saturatingSum(e.fieldBytes, e.particleBytes);
    return e;
}

int64_t physicalMemoryBytes() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return saturatingProduct(int64_t(pages), int64_t(pageSize));
}

std::string byteSizeText(int64_t aBytes) {
    if (aBytes < 1000) return std::to_string(aBytes) + " bytes";
    const char* const units[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
    double value = double(aBytes) / 1000.0;
    size_t unit = 0;
    while (value >= 999.95 && unit + 1 < std::size(units)) {
        value /= 1000.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string memoryEstimateText(const tMemoryEstimate& aEstimate, const TZDXFile& aGrid) {
    return byteSizeText(aEstimate.totalBytes) + " (fields of " + gridText(aGrid) + " cells " +
           byteSizeText(aEstimate.fieldBytes) + ", " + std::to_string(aEstimate.particles) +
           " particles " + byteSizeText(aEstimate.particleBytes) + ")";
}

void checkRunMemory(const tMemoryEstimate& aEstimate, const TZDXFile& aGrid,
                    int64_t aAvailableBytes) {
    if (aAvailableBytes <= 0 || aEstimate.totalBytes <= aAvailableBytes) return;
    throw kwd::RunSetupError("the run needs about " + memoryEstimateText(aEstimate, aGrid) +
                             "; the machine has " + byteSizeText(aAvailableBytes) +
                             " of memory (data set " + aGrid.InfoFilename + ")");
}

}  // namespace kwd::frontend

// The particle step: one particle through one update interval, in sub-steps
// that follow the local Lagrangian time scale, with a Langevin sub-grid
// velocity; and the parallel pass over the particles that still move,
// visited in the order of their cells (that order: u_MovingParticles.cpp).

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cfenv>
#include <cstring>
#include <exception>
#include <string>
#include <type_traits>
#include <vector>

#include "engine/u_StepLanes.h"
#include "engine/u_tParticleManager.h"
#include "platform/FpControl.h"
#include "platform/Interrupt.h"
#include "platform/KwdError.h"
#include "platform/LargeMemory.h"
#include "platform/ParallelChunks.h"

namespace kwd::engine {

namespace {

constexpr int kWatchedFlags = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

// Moves the particles order[0 .. n) of the list and writes the sort key
// of each (cell << 32 | list index, kNoKey once it has finished) to
// keys[0 .. n); stops after the first one whose call raised a watched
// floating-point flag and returns its position in order (-1 when none did).
// The touchdown model adds its touchdowns to the worker's sums.
using tChunkFn = int64_t (*)(const kwdstep::tStepContext&, tParticle*, const int64_t*, int64_t,
                             double, int64_t&, uint64_t*, tTouchdownSums*);

constexpr uint64_t kNoKey = ~uint64_t(0);

KWD_ALWAYS_INLINE uint64_t cellKey(const kwdstep::tStepContext& c, const tPosGrid& g,
                                   int64_t index) {
    const uint64_t cell = (uint64_t(uint32_t(g.i)) * uint64_t(c.nJ) + uint64_t(uint32_t(g.j))) *
                              uint64_t(c.nK) + uint64_t(uint32_t(g.k));
    return cell << 32 | uint64_t(index);
}

KWD_ALWAYS_INLINE void prefetchParticle(const tParticle* p) {
    const char* bytes = reinterpret_cast<const char*>(p);
    for (size_t at = 0; at < sizeof(tParticle); at += 64) __builtin_prefetch(bytes + at, 1);
}

template <class Isa, tFootprintModel M>
KWD_ALWAYS_INLINE int64_t chunkBody(const kwdstep::tStepContext& c, tParticle* particles,
                                    const int64_t* order, int64_t n, double dt_3d,
                                    int64_t& hits, uint64_t* keys, tTouchdownSums* sums) {
    // The particles of a chunk lie anywhere in the list (the visit follows
    // their cells): the one after next is fetched while this one moves.
    constexpr int64_t kAhead = 2;
    for (int64_t m = 0; m < std::min(kAhead, n); ++m) prefetchParticle(particles + order[m]);
    for (int64_t m = 0; m < n; ++m) {
        if (m + kAhead < n) prefetchParticle(particles + order[m + kAhead]);
        tParticle& p = particles[order[m]];
        kwdstep::stepParticle<Isa, M>(c, p, dt_3d, hits, sums, order[m]);
        keys[m] = p.fInModel ? cellKey(c, p.fPosGrid, order[m]) : kNoKey;
        if (std::fetestexcept(kWatchedFlags)) return m;
    }
    return -1;
}

// The described model moves the particles of a chunk side by side
// (u_StepLanes.h) in the AVX2 variant; in the baseline variant two lanes
// were slower than one particle at a time. Should a watched floating-point
// flag be raised, the run ends naming the particle that raised it: the
// chunk's particles are put back as they were and moved again one at a
// time, which stops there.
template <class Isa>
KWD_ALWAYS_INLINE int64_t chunkSideBySide(const kwdstep::tStepContext& c, tParticle* particles,
                                          const int64_t* order, int64_t n, double dt_3d,
                                          int64_t& hits, uint64_t* keys, tTouchdownSums* sums) {
    static_assert(std::is_trivially_copyable_v<tParticle>);
    constexpr int64_t kBatch = 16;
    alignas(64) unsigned char saved[kBatch * sizeof(tParticle)];
    for (int64_t first = 0; first < n; first += kBatch) {
        const int64_t count = std::min(kBatch, n - first);
        const int64_t* batch = order + first;
        // The particles lie anywhere in the list (the visit follows their
        // cells): all are fetched at once.
        for (int64_t m = 0; m < count; ++m) prefetchParticle(particles + batch[m]);
        for (int64_t m = 0; m < count; ++m)
            std::memcpy(saved + m * int64_t(sizeof(tParticle)), particles + batch[m],
                        sizeof(tParticle));
        int64_t batchHits = 0;
        kwdstep::stepSideBySide<Isa>(c, particles, batch, count, dt_3d, batchHits,
                                     [&](int64_t m) {
                                         const tParticle& p = particles[batch[m]];
                                         keys[first + m] = p.fInModel
                                                               ? cellKey(c, p.fPosGrid, batch[m])
                                                               : kNoKey;
                                     });
        if (!std::fetestexcept(kWatchedFlags)) {
            hits += batchHits;
            continue;
        }
        for (int64_t m = 0; m < count; ++m)
            std::memcpy(particles + batch[m], saved + m * int64_t(sizeof(tParticle)),
                        sizeof(tParticle));
        kwd::clearFpFlags();
        const int64_t at = chunkBody<Isa, tFootprintModel::Described>(
            c, particles, batch, count, dt_3d, hits, keys + first, sums);
        if (at >= 0) return first + at;
    }
    return -1;
}

template <class Isa, tFootprintModel M>
KWD_ALWAYS_INLINE int64_t chunkOf(const kwdstep::tStepContext& c, tParticle* particles,
                                  const int64_t* order, int64_t n, double dt_3d, int64_t& hits,
                                  uint64_t* keys, tTouchdownSums* sums) {
    if constexpr (M == tFootprintModel::Described && std::is_same_v<Isa, kwdstep::tIsaAvx2>)
        return chunkSideBySide<Isa>(c, particles, order, n, dt_3d, hits, keys, sums);
    else
        return chunkBody<Isa, M>(c, particles, order, n, dt_3d, hits, keys, sums);
}

template <tFootprintModel M>
int64_t chunkBaseline(const kwdstep::tStepContext& c, tParticle* particles, const int64_t* order,
                      int64_t n, double dt_3d, int64_t& hits, uint64_t* keys,
                      tTouchdownSums* sums) {
    return chunkOf<kwdstep::tIsaBaseline, M>(c, particles, order, n, dt_3d, hits, keys, sums);
}

template <tFootprintModel M>
__attribute__((target("avx2"))) int64_t chunkAvx2(const kwdstep::tStepContext& c,
                                                  tParticle* particles, const int64_t* order,
                                                  int64_t n, double dt_3d, int64_t& hits,
                                                  uint64_t* keys, tTouchdownSums* sums) {
    return chunkOf<kwdstep::tIsaAvx2, M>(c, particles, order, n, dt_3d, hits, keys, sums);
}

// The model is chosen once per pass, so that the described step keeps its
// code as it was.
tChunkFn chunkFunction(bool avx2, tFootprintModel model) {
    if (model == tFootprintModel::Touchdown)
        return avx2 ? chunkAvx2<tFootprintModel::Touchdown>
                    : chunkBaseline<tFootprintModel::Touchdown>;
    return avx2 ? chunkAvx2<tFootprintModel::Described> : chunkBaseline<tFootprintModel::Described>;
}

std::string particleText(int64_t idx, const tParticle& p) {
    return "the particle step of particle " + std::to_string(idx) + " (serial number " +
           std::to_string(p.fSerialNr) + ")";
}

}  // namespace

bool stepVariantAvx2Available() {
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
}

kwdstep::tStepContext kwdstep::stepContext(const tParticleManager& e) {
    tStepContext c;
    c.cells = e.fSampleCells.data();
    c.cellClass = e.fCellClass.data();
    c.freeAround = e.fFreeAround.data();
    c.X = e.fXMidPoint_Ar.data();
    c.Y = e.fYMidPoint_Ar.data();
    c.Zm = e.fZMidPoint_Ar.data();
    c.Zt = e.fZTopBorder_Ar.data();
    c.Kv = e.fVerticalMeanTKE_Ar.data();
    c.U2 = e.fVerticalMeanU2_Ar.data();
    c.V2 = e.fVerticalMeanV2_Ar.data();
    c.W2 = e.fVerticalMeanW2_Ar.data();
    c.nI = e.fGridI;
    c.nJ = e.fGridJ;
    c.nK = e.fGridK;
    c.lowestNode = double(e.fCurrZDXFile->sizedz[0]) / 2.0;
    c.geometry = &e.fGeometry;
    c.dtMinPart = e.fdt_min_part;
    c.minHeight = e.fMinHeight;
    c.seed = e.fSeed;
    c.objects = e.fObject_Ar.data();
    c.slotTimes = e.fMeasurementTimes.data();
    c.slotCount = e.fMeasurementTimes.size();
    c.keepRecords = e.fTouchdownList;
    return c;
}

void tParticleManager::requireSampleCells() {
    if (!sampleCellsMatchGrid())
        buildSampleCells();
}

void tParticleManager::moveParticle(int64_t aIndex, double dt_3d, int64_t& hits,
                                    tTouchdownSums* sums) {
    tParticle& p = fParticleList[size_t(aIndex)];
    if (p.fLoopIdx != fMainLoopIdx) return;  // belongs to another interval
    p.fdt_sum = 0.0;
    if (!p.fInModel) return;
    const kwdstep::tStepContext c = kwdstep::stepContext(*this);
    uint64_t key = 0;
    chunkFunction(fStepAvx2, fFootprintModel)(c, fParticleList.data(), &aIndex, 1, dt_3d, hits,
                                              &key, sums);
}

void tParticleManager::registerMeasurementTime(double aTime) {
    for (const double t : fMeasurementTimes)
        if (t == aTime) return;
    fMeasurementTimes.push_back(aTime);
}

void tParticleManager::prepareTouchdownSums() {
    const size_t threads = size_t(std::max(omp_get_max_threads(), 1));
    if (fTouchdownPerThread.size() < threads) fTouchdownPerThread.resize(threads);
}

void tParticleManager::gatherTouchdowns() {
    const size_t before = fTouchdowns.records.size();
    for (tTouchdownSums& s : fTouchdownPerThread) fTouchdowns.take(s);
    // Records in list order; those of one particle in the order they happened
    // (one worker moved it through the whole pass).
    std::stable_sort(fTouchdowns.records.begin() + std::ptrdiff_t(before),
                     fTouchdowns.records.end(),
                     [](const tTouchdownRecord& a, const tTouchdownRecord& b) {
                         return a.listIndex < b.listIndex;
                     });
}

void tParticleManager::moveParticlesParallel(int64_t aParticleIdx, double dt_3d) {
    if (aParticleIdx < 0 || aParticleIdx >= int64_t(fParticleList.size())) {
        throw kwd::GeneralError("particle index " + std::to_string(aParticleIdx) +
                                " is outside the particle list of " +
                                std::to_string(fParticleList.size()) + " particles");
    }
    // Calls for several indices may run at once: the cell records stand from
    // the field allocation on and are rebuilt only by the derived-field
    // update on the main thread, never here.
    if (!sampleCellsMatchGrid() || fSampleCells.empty()) {
        throw kwd::GeneralError("the particle step needs the fields: they are not allocated");
    }
    // The flags are per thread: cleared before the call and tested after it,
    // as the parallel pass does for its chunks.
    kwd::clearFpFlags();
    tParticle& p = fParticleList[size_t(aParticleIdx)];
    int64_t hits = 0;
    tTouchdownSums* sums = nullptr;
    if (fFootprintModel == tFootprintModel::Touchdown) {
        if (!omp_in_parallel()) {
            prepareTouchdownSums();
            registerMeasurementTime(fParticleList[size_t(aParticleIdx)].fStartTime);
        }
        if (fTouchdownPerThread.empty())
            throw kwd::GeneralError("touchdown sums not prepared before a parallel particle step");
        sums = &fTouchdownPerThread[size_t(omp_get_thread_num()) % fTouchdownPerThread.size()];
    }
    moveParticle(aParticleIdx, dt_3d, hits, sums);
    if (sums != nullptr && !omp_in_parallel()) gatherTouchdowns();
    if (hits != 0)
        std::atomic_ref<int64_t>(fTotalParticlesInTarget).fetch_add(hits, std::memory_order_relaxed);
    kwd::checkFpFlags(particleText(aParticleIdx, p).c_str());
}

void tParticleManager::runMovingPass(double dt_3d) {
    requireSampleCells();
    tParticle* particles = fParticleList.data();
    // What a visit does to a particle that has finished: its call time is reset.
    const int64_t finished = int64_t(fJustFinished.size());
    kwd::forEachChunk(finished, kwd::chunkCount(finished, 16384),
                      [&](int, int64_t begin, int64_t end) {
                          for (int64_t m = begin; m < end; ++m)
                              particles[fJustFinished[size_t(m)]].fdt_sum = 0.0;
                      });
    fJustFinished.clear();

    // Cell order: neighbouring particles read the same cell records. The
    // keys (cell, list index) of the moving particles come from the pass
    // before, which wrote them as each particle ended its call; after a scan
    // they are made here.
    const kwdstep::tStepContext c = kwdstep::stepContext(*this);
    const int64_t count = int64_t(fMoving.size());
    kwd::reserveLarge(fSortKeys, size_t(count));
    kwd::reserveLarge(fSortScratch, size_t(count));
    kwd::reserveLarge(fJustFinished, size_t(count));
    const bool keyed = fParticleList.size() < (size_t(1) << 32);
    if (count > 1 && keyed) {
        if (!fSortKeysKnown) {
            fSortKeys.resize(size_t(count));
            kwd::forEachChunk(count, kwd::chunkCount(count, 16384),
                              [&](int, int64_t begin, int64_t end) {
                                  for (int64_t m = begin; m < end; ++m) {
                                      const int64_t n = fMoving[size_t(m)];
                                      fSortKeys[size_t(m)] = cellKey(c, particles[n].fPosGrid, n);
                                  }
                              });
        }
        const uint64_t cells = uint64_t(fGridI) * uint64_t(fGridJ) * uint64_t(fGridK);
        kwdstep::sortByCell(fSortKeys, fSortScratch, cells > 1 ? std::bit_width(cells - 1) : 0);
        movingFromKeys();
    }
    fSortKeysKnown = false;
    // The sort's second buffer takes the keys the pass writes.
    fSortScratch.resize(size_t(count));
    uint64_t* nextKeys = fSortScratch.data();

    const tChunkFn chunk = chunkFunction(fStepAvx2, fFootprintModel);
    const bool touchdown = fFootprintModel == tFootprintModel::Touchdown;
    if (touchdown) prepareTouchdownSums();
    const int64_t* order = fMoving.data();
    constexpr int64_t kChunk = 16;
    const int64_t chunks = (count + kChunk - 1) / kChunk;
    std::exception_ptr firstError;
    std::atomic<bool> failed{false};
    int64_t passHits = 0;
    const bool meter = fRunProgress.enabled();
    std::atomic<int64_t> chunksDone{0};
    auto subStepsOf = [&](int64_t first, int64_t n) {
        int64_t sum = 0;
        for (int64_t m = first; m < first + n; ++m) sum += particles[order[m]].fSubSteps;
        return sum;
    };
    auto keep = [&](std::exception_ptr e) {
#pragma omp critical(kwd_particle_step_error)
        {
            if (!firstError) firstError = e;
        }
        failed.store(true, std::memory_order_relaxed);
    };

#pragma omp parallel reduction(+ : passHits) if (count > 1)
    {
        kwd::clearFpFlags();
        int64_t hits = 0;
        tTouchdownSums* sums =
            touchdown ? &fTouchdownPerThread[size_t(omp_get_thread_num())] : nullptr;
#pragma omp for schedule(dynamic, 1) nowait
        for (int64_t b = 0; b < chunks; ++b) {
            // After an error, or when the run is asked to stop, the rest is skipped.
            if (failed.load(std::memory_order_relaxed) || kwd::interruptSignal() != 0) continue;
            const int64_t first = b * kChunk;
            const int64_t n = std::min(kChunk, count - first);
            try {
                const int64_t subStepsBefore = meter ? subStepsOf(first, n) : 0;
                const int64_t at =
                    chunk(c, particles, order + first, n, dt_3d, hits, nextKeys + first, sums);
                if (at >= 0) {
                    const int64_t idx = order[first + at];
                    kwd::checkFpFlags(particleText(idx, particles[idx]).c_str());
                }
                if (meter) {
                    fRunProgress.addSubSteps(subStepsOf(first, n) - subStepsBefore);
                    const int64_t done = chunksDone.fetch_add(1, std::memory_order_relaxed) + 1;
                    if (omp_get_thread_num() == 0) fRunProgress.report(count, double(done) / double(chunks));
                }
            } catch (...) {
                keep(std::current_exception());
            }
        }
        try {
            kwd::checkFpFlags("the particle step");
        } catch (...) {
            keep(std::current_exception());
        }
        passHits += hits;
    }
    fTotalParticlesInTarget += passHits;
    if (touchdown) gatherTouchdowns();

    if (firstError) {
        // Some particles were not visited: the next pass scans the list.
        fMovingKnown = false;
        std::rethrow_exception(firstError);
    }
    if (kwd::interruptSignal() != 0) {
        // Cut short: the run ends (the main loop looks at the signal next).
        fMovingKnown = false;
        return;
    }

    // The particles that finished leave the moving ones; the keys of the
    // others are those of the next pass.
    if (keyed) {
        keepMoving(nextKeys, count);
    } else {
        int64_t kept = 0;
        for (int64_t m = 0; m < count; ++m) {
            const int64_t n = fMoving[size_t(m)];
            if (particles[n].fInModel)
                fMoving[size_t(kept++)] = n;
            else
                fJustFinished.push_back(n);
        }
        fMoving.resize(size_t(kept));
    }
    fSortKeysKnown = keyed;
}

void tParticleManager::keepMoving(const uint64_t* aNextKeys, int64_t aCount) {
    // On the workers, a chunk of the moving particles each: how many of a
    // chunk go on, then where each goes (its place in the order of before).
    const int chunks = kwd::chunkCount(aCount, 16384);
    std::vector<int64_t> keptBefore(size_t(chunks) + 1, 0);
    kwd::forEachChunk(aCount, chunks, [&](int chunk, int64_t begin, int64_t end) {
        int64_t kept = 0;
        for (int64_t m = begin; m < end; ++m) kept += aNextKeys[m] != kNoKey ? 1 : 0;
        keptBefore[size_t(chunk) + 1] = kept;
    });
    for (size_t c = 1; c < keptBefore.size(); ++c) keptBefore[c] += keptBefore[c - 1];
    const int64_t kept = keptBefore.back();
    fSortKeys.resize(size_t(kept));
    fJustFinished.resize(size_t(aCount - kept));
    kwd::forEachChunk(aCount, chunks, [&](int chunk, int64_t begin, int64_t end) {
        int64_t k = keptBefore[size_t(chunk)], f = begin - k;
        for (int64_t m = begin; m < end; ++m) {
            if (aNextKeys[m] != kNoKey)
                fSortKeys[size_t(k++)] = aNextKeys[m];
            else
                fJustFinished[size_t(f++)] = fMoving[size_t(m)];
        }
    });
    movingFromKeys();
}

void tParticleManager::movingFromKeys() {
    // A key holds its particle's list index.
    const int64_t count = int64_t(fSortKeys.size());
    fMoving.resize(size_t(count));
    kwd::forEachChunk(count, kwd::chunkCount(count, 16384), [&](int, int64_t begin, int64_t end) {
        for (int64_t m = begin; m < end; ++m)
            fMoving[size_t(m)] = int64_t(fSortKeys[size_t(m)] & 0xFFFFFFFFu);
    });
}

void tParticleManager::moveAllParticlesParallel(double dt_3d) {
    // The list may have been changed in any way since the last pass.
    findMovingParticles();
    runMovingPass(dt_3d);
    fMovingKnown = false;
}

void tParticleManager::movingPass(double dt_3d) {
    if (!fMovingKnown || fMovingLoopIdx != fMainLoopIdx ||
        fMovingListSize != int64_t(fParticleList.size()))
        findMovingParticles();
    runMovingPass(dt_3d);
}

}  // namespace kwd::engine

// The visit order of the particle step: which particles of the list still
// move (found by one scan after each change of the list) and their order by
// cell, so that neighbouring particles read the same cell records.

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/u_StepKernel.h"
#include "engine/u_tParticleManager.h"
#include "platform/LargeMemory.h"
#include "platform/ParallelChunks.h"

namespace kwd::engine {

// Sorts keys (cell << 32 | list index), cells below 2^cellBits, by their
// cell, keeping the order of keys of the same cell: least significant digit
// first, in as few passes of at most 11 bits as the cells need (two for a
// grid of up to four million cells). The particles move little between two
// passes, but any order of the particles gives the same particles.
void kwdstep::sortByCell(std::vector<uint64_t>& keys, std::vector<uint64_t>& scratch,
                         int cellBits) {
    const int passes = (cellBits + 10) / 11;
    if (passes == 0 || keys.size() < 2) return;
    const int width = (cellBits + passes - 1) / passes;
    const size_t buckets = size_t(1) << width;
    const uint64_t mask = buckets - 1;
    std::vector<size_t> start(buckets);
    scratch.resize(keys.size());
    const size_t count = keys.size();
    for (int p = 0; p < passes; ++p) {
        const int shift = 32 + p * width;
        std::fill(start.begin(), start.end(), size_t(0));
        for (size_t n = 0; n < count; ++n) ++start[(keys[n] >> shift) & mask];
        size_t at = 0;
        for (size_t& s : start) {
            const size_t here = s;
            s = at;
            at += here;
        }
        for (size_t n = 0; n < count; ++n) scratch[start[(keys[n] >> shift) & mask]++] = keys[n];
        keys.swap(scratch);
    }
}

void tParticleManager::findMovingParticles() {
    fSortKeysKnown = false;
    fMoving.clear();
    fJustFinished.clear();
    fInModelOthers = 0;
    const int64_t count = int64_t(fParticleList.size());
    const bool touchdown = fFootprintModel == tFootprintModel::Touchdown;
    // Each chunk of the list is scanned on a worker; its findings are joined
    // in list order.
    struct tFound {
        std::vector<int64_t> moving, justFinished;
        std::vector<double> startTimes;  // of the moving ones, as first met
        int64_t inModelOthers = 0;
    };
    kwd::reserveLarge(fMoving, size_t(count));
    const int chunks = kwd::chunkCount(count, 16384);
    std::vector<tFound> found(static_cast<size_t>(chunks));
    kwd::forEachChunk(count, chunks, [&](int chunk, int64_t begin, int64_t end) {
        // Filled here and moved into place at the end: the slots of
        // neighbouring chunks share cache lines.
        tFound f;
        std::vector<int64_t>& moving = chunks == 1 ? fMoving : f.moving;
        if (chunks > 1) moving.reserve(size_t(end - begin));  // never moves while it fills
        for (int64_t n = begin; n < end; ++n) {
            const tParticle& p = fParticleList[size_t(n)];
            if (p.fLoopIdx == fMainLoopIdx) {
                if (p.fInModel) {
                    // With the run shared between processes, the others
                    // step the rest.
                    if (stepsHere(p))
                        moving.push_back(n);
                    else
                        ++f.inModelOthers;
                    // The measurement time of its touchdowns needs a slot
                    // (on every process alike).
                    if (touchdown && (f.startTimes.empty() || p.fStartTime != f.startTimes.back()))
                        f.startTimes.push_back(p.fStartTime);
                }
                else if (p.fdt_sum != 0.0)
                    f.justFinished.push_back(n);  // its visit resets the call time
            } else if (p.fInModel) {
                ++f.inModelOthers;
            }
        }
        found[size_t(chunk)] = std::move(f);
    });
    for (const tFound& f : found) {
        fMoving.insert(fMoving.end(), f.moving.begin(), f.moving.end());
        fJustFinished.insert(fJustFinished.end(), f.justFinished.begin(), f.justFinished.end());
        for (const double t : f.startTimes) registerMeasurementTime(t);
        fInModelOthers += f.inModelOthers;
    }
    fMovingKnown = true;
    fMovingLoopIdx = fMainLoopIdx;
    fMovingListSize = count;
}

int64_t tParticleManager::particlesInModel() const {
    if (fMovingKnown && fMovingLoopIdx == fMainLoopIdx &&
        fMovingListSize == int64_t(fParticleList.size()))
        return int64_t(fMoving.size()) + fInModelOthers;
    return getNumberOfParticlesInModel();
}

}  // namespace kwd::engine

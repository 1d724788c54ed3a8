// The visit order of the particle step: which particles of the list still
// move (found by one scan after each change of the list) and their order by
// cell, so that neighbouring particles read the same cell records.

#include <algorithm>
#include <array>
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
void kwdstep::sortByCell(kwd::tLargeVector<uint64_t>& keys, kwd::tLargeVector<uint64_t>& scratch,
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
    // What the scan finds in [begin, end), in list order: found(kMoving or
    // kJustFinished, n) for the particles that move and for those whose
    // visit resets the call time; returns the number of the others in the
    // model and adds the measurement times the moving ones need a slot for
    // (on every process alike) to startTimes where it is given, as first met.
    constexpr int kMoving = 0, kJustFinished = 1;
    auto scan = [&](int64_t begin, int64_t end, std::vector<double>* startTimes, auto&& found) {
        int64_t inModelOthers = 0;
        for (int64_t n = begin; n < end; ++n) {
            const tParticle& p = fParticleList[size_t(n)];
            if (p.fLoopIdx == fMainLoopIdx) {
                if (p.fInModel) {
                    // With the run shared between processes, the others
                    // step the rest.
                    if (stepsHere(p))
                        found(kMoving, n);
                    else
                        ++inModelOthers;
                    if (touchdown && startTimes != nullptr &&
                        (startTimes->empty() || p.fStartTime != startTimes->back()))
                        startTimes->push_back(p.fStartTime);
                } else if (p.fdt_sum != 0.0) {
                    found(kJustFinished, n);
                }
            } else if (p.fInModel) {
                ++inModelOthers;
            }
        }
        return inModelOthers;
    };
    kwd::reserveLarge(fMoving, size_t(count));
    const int chunks = kwd::chunkCount(count, 16384);
    std::vector<std::vector<double>> startTimes(static_cast<size_t>(chunks));
    if (chunks == 1) {
        fInModelOthers = scan(0, count, &startTimes[0], [this](int kind, int64_t n) {
            (kind == kMoving ? fMoving : fJustFinished).push_back(n);
        });
    } else {
        // On the workers, a chunk of the list each: how many of each kind
        // the chunk holds, then each in its place, so that the lists come
        // out in list order with no list of a chunk's own to join.
        std::vector<std::array<int64_t, 2>> before(size_t(chunks) + 1, {0, 0});
        std::vector<int64_t> others(size_t(chunks), 0);
        kwd::forEachChunk(count, chunks, [&](int chunk, int64_t begin, int64_t end) {
            std::array<int64_t, 2> found = {0, 0};
            others[size_t(chunk)] = scan(begin, end, &startTimes[size_t(chunk)],
                                         [&found](int kind, int64_t) { ++found[size_t(kind)]; });
            before[size_t(chunk) + 1] = found;
        });
        for (size_t c = 1; c < before.size(); ++c)
            for (size_t kind = 0; kind < 2; ++kind) before[c][kind] += before[c - 1][kind];
        fMoving.resize(size_t(before.back()[kMoving]));
        fJustFinished.resize(size_t(before.back()[kJustFinished]));
        kwd::forEachChunk(count, chunks, [&](int chunk, int64_t begin, int64_t end) {
            std::array<int64_t, 2> at = before[size_t(chunk)];
            scan(begin, end, nullptr, [&](int kind, int64_t n) {
                (kind == kMoving ? fMoving : fJustFinished)[size_t(at[size_t(kind)]++)] = n;
            });
        });
        for (const int64_t n : others) fInModelOthers += n;
    }
    for (const std::vector<double>& times : startTimes)
        for (const double t : times) registerMeasurementTime(t);
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

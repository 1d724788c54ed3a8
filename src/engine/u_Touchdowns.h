#pragma once
// The footprint models of a run, and what the touchdown model collects in a
// pass: exact per-column sums of the touchdown weights, and (on request) one
// record per touchdown.
//
// Described model: a particle ends at its first hit of an emitter cell and
// counts once (the original step, kept as it is).
// Touchdown model: drift consistent with backward time, reflection at the
// ground and at obstacle faces, and every reflection at the bottom face of an
// emitter cell is a touchdown that adds 2 w_Detector / |w_td| (flux) and
// 2 / |w_td| (concentration) to the footprint of the particle's measurement
// time; the particle goes on until it leaves the model or the run ends.
//
// The sums are fixed-point integers (2^-64 units, 128 bits), so that adding
// the sums of several threads gives the same bits in any order: the files
// are the same at any thread count.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/u_tParticle.h"

namespace kwd::engine {

enum class tFootprintModel : uint8_t { Described, Touchdown };

// "described" or "touchdown".
const char* footprintModelName(tFootprintModel aModel);
// The model of a name ("described", "touchdown", exact after trimming blanks);
// false for any other text.
bool parseFootprintModel(std::string_view aText, tFootprintModel& aModel);

__extension__ typedef __int128 tExactSum;  // g++ and clang: 128-bit integers

// A weight as an exact sum term (truncated to 2^-64), and back.
inline tExactSum toExactSum(double aWeight) { return tExactSum(std::ldexp(aWeight, 64)); }
inline double fromExactSum(tExactSum aSum) { return std::ldexp(double(aSum), -64); }

// One touchdown, for the touchdown list.
struct tTouchdownRecord {
    int64_t listIndex = 0;    // the particle's place in the list during the pass
    tPosGrid cell;            // the emitter cell above the reflecting face
    tPosMeter pos;            // position after the reflection
    double wTouchdown = 0.0;  // total vertical velocity before the reflection, m/s
    double travel = 0.0;      // path length so far, m
    double clock = 0.0;       // the particle's clock (date-time)
};

// Touchdown sums of one measurement time: per column (i fastest) the sums of
// w_Detector / |w_td| and of 1 / |w_td| and the touchdowns; per object code
// of the touchdown cell the sum of w_Detector / |w_td|.
struct tTouchdownColumns {
    std::vector<tExactSum> flux, con;
    std::vector<int64_t> count;
    std::vector<std::pair<int64_t, tExactSum>> fluxByCode;
    bool empty() const { return flux.empty(); }
};

// What one worker (or the engine, after a pass) holds: the sums of every
// measurement time slot and the touchdown records when they are wanted.
class tTouchdownSums {
public:
    // One touchdown of a particle of slot aSlot in column aColumn (of
    // aColumns) whose cell has object code aCode.
    void add(size_t aSlot, size_t aColumns, size_t aColumn, int64_t aCode, double aFlux,
             double aCon) {
        if (fSlots.size() <= aSlot) fSlots.resize(aSlot + 1);
        tTouchdownColumns& s = fSlots[aSlot];
        if (s.empty()) {
            s.flux.assign(aColumns, 0);
            s.con.assign(aColumns, 0);
            s.count.assign(aColumns, 0);
        }
        const tExactSum f = toExactSum(aFlux);
        s.flux[aColumn] += f;
        s.con[aColumn] += toExactSum(aCon);
        ++s.count[aColumn];
        for (auto& [code, sum] : s.fluxByCode)
            if (code == aCode) {
                sum += f;
                return;
            }
        s.fluxByCode.emplace_back(aCode, f);
    }
    // Adds every sum of aOther and empties it (exact: any order gives the same).
    void take(tTouchdownSums& aOther);
    // Adds the sums of one slot (exact), for sums gathered from elsewhere.
    void addColumns(size_t aSlot, tTouchdownColumns&& aFrom);
    void clear() { fSlots.clear(); }
    const std::vector<tTouchdownColumns>& slots() const { return fSlots; }

    std::vector<tTouchdownRecord> records;  // filled only when the list is wanted

private:
    std::vector<tTouchdownColumns> fSlots;
};

}  // namespace kwd::engine

#pragma once
// Normalised footprints per measurement time, written beside the grid files
// of the outputs.
//
// The measurement time of a particle is the model time of the data set it
// was released at (the start of its period). Every particle that reaches an
// emitter counts once, in the footprint of its measurement time, whenever it
// hits: in a later batch of its period or after it was carried over into a
// later period. With N_t the particles released at t (all batches) and A the
// area of a column (dx x dy, m2), per column (i, j):
//
//   flux footprint density    F_t = (2 / N_t) sum(w_Detector / |w_TakeOff|) / A   [m-2]
//   concentration footprint   C_t = (2 / N_t) sum(1 / |w_TakeOff|) / A            [s m-3]
//   hits                      H_t                                                   [count]
//
// In the touchdown model the sums run over the touchdowns instead (w_td the
// total vertical velocity at the touchdown): each touchdown weighs
// 2 w_Detector / |w_td| (flux) and 2 / |w_td| (concentration), so that
// F_t = (1 / N_t) sum(2 w_Detector / |w_td|) / A: the same formula with
// w_TakeOff := w_td, a particle counting at each of its touchdowns. H_t and
// Hits count the touchdowns.
//
// sum(F_t A) over the grid is the share of the measured flux that comes from
// the model's emitters. Files (T the file-name time text of t, P the project):
//   FluxFootprintDensityIJ_<T><P>.csv, ConFootprintDensityIJ_<T><P>.csv,
//   HitsIJ_<T><P>.csv                 grid files, one per measurement time;
//   FluxFootprintDensityIJ_Mean_<P>.csv  the mean of F_t over the measurement times;
//   Footprints_<P>.csv                 Date;Time;Released;Hits;FluxShare;NegativeTakeOff;
//   FootprintSurfaces_<P>.csv          the share of sum(F A) by surface (object) code.
//
// Everything runs between particle passes; sums are taken on the main thread
// in particle-list order (touchdowns: from the exact sums of the pass), so
// the files are the same at any thread count.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/u_Touchdowns.h"
#include "engine/u_tParticle.h"

namespace kwd::results {

class tFootprintDensities {
public:
    // The columns of the run's grid and their widths (m); the project name
    // of the run-wide files.
    tFootprintDensities(int32_t nI, int32_t nJ, const std::vector<float>& dx,
                        const std::vector<float>& dy, std::string aProject);

    // aCount particles released at measurement time aTime (a date-time) of
    // the data set of project aProject.
    void addReleased(double aTime, const std::string& aProject, int64_t aCount);
    // The object codes of the emitter cells: a column each in the surface file.
    void addSurfaceCode(int64_t aCode) { fSurfaceCodes.insert(aCode); }
    // Counts every particle of the list that met its target, in the
    // footprint of its release time, with the object code of its target cell.
    // The caller removes them from the list afterwards, so each counts once.
    // A particle released at no known measurement time or with a target
    // outside the grid raises kwd::GeneralError.
    void addHits(const kwd::engine::tParticleList& aParticles,
                 const kwd::engine::t3DArrayInt64& aObjects);
    // Adds the touchdown sums of every slot (slot n: measurement time
    // aSlotTimes[n]) and empties them. A slot of an unknown or closed
    // measurement time, or of another grid, raises kwd::GeneralError.
    void addTouchdowns(const std::vector<double>& aSlotTimes, kwd::engine::tTouchdownSums& aSums);
    // Measurement times none of whose particles still moves (none in
    // aParticles) are complete: written one last time, their column sums
    // dropped.
    void closeFinished(const kwd::engine::tParticleList& aParticles);
    // Writes the files of every measurement time that changed since the last
    // call, the mean, the table and the surface shares, each whole
    // (temporary file and rename).
    void write(const std::string& aOutputDir);

    // Figures of one measurement time (for the table and for tests).
    struct tFigures {
        int64_t released = 0;
        int64_t hits = 0;
        int64_t negativeTakeOff = 0;  // hits whose w_TakeOff < 0
        double fluxShare = 0.0;       // sum of F_t A
    };
    tFigures figures(double aTime) const;

private:
    struct tMeasurement {
        std::string project;
        int64_t released = 0;
        int64_t hits = 0;
        int64_t negativeTakeOff = 0;
        // Per column, i fastest: sums of w_Detector / |w_TakeOff| and of
        // 1 / |w_TakeOff|, and hits. Empty once the measurement time is closed.
        std::vector<double> fluxSum, conSum, hitCount;
        // Per object code: sum of w_Detector / |w_TakeOff|.
        std::map<int64_t, double> fluxSumByCode;
        double fluxShare = 0.0;  // sum of F_t A, when last computed
        bool changed = true;     // files not written since the last change
        bool closed = false;
    };

    tMeasurement& measurementOf(double aTime);
    // F_t, C_t or H_t of a measurement time, i fastest.
    std::vector<double> density(const tMeasurement& m, const std::vector<double>& sums) const;
    void writeMeasurement(const std::string& aOutputDir, double aTime, tMeasurement& m);
    void writeTables(const std::string& aOutputDir) const;

    int32_t fI, fJ;
    std::vector<double> fArea;  // dx[i] dy[j], i fastest
    std::string fProject;
    std::map<double, tMeasurement> fMeasurements;  // by time, earliest first
    std::set<int64_t> fSurfaceCodes;
    // Sum of F_t of the closed measurement times, i fastest.
    std::vector<double> fClosedFluxSum;
};

}  // namespace kwd::results

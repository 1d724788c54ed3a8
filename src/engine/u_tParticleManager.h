#pragma once
// The dispersion engine: one object per run. It owns the run's data-set
// descriptors (latest first: the run goes backwards in time), the particles,
// the wind and turbulence fields with their derived quantities, the
// footprint accumulators and the lines of the run log.
//
// Threads: the particle step runs in parallel (moveAllParticlesParallel);
// every other operation is called from the main thread between passes, and
// the release and the scan of the list split their work among the OpenMP
// workers in chunks of the list whose results join in list order
// (platform/ParallelChunks.h), so the list is the same on any number of
// threads.
//
// The main loop that drives it (`startCalculation`, src/run/u_MainLoop.h) and
// the result files made from its state (src/results/u_EngineOutputs.h) sit
// above it: the engine writes no result file.

#include <array>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "dataset/u_ZDXFile.h"
#include "engine/u_Random.h"
#include "engine/u_RunProgress.h"
#include "engine/u_Touchdowns.h"
#include "engine/u_tParticle.h"
#include "platform/LargeMemory.h"

namespace kwd::engine {

#ifndef KWD_BATCH_SIZE
#define KWD_BATCH_SIZE 1000000
#endif

// Positions of the variables the engine reads in the data file of a data
// set of the simulation; a data set the engine uses holds at least
// kEngineVariableCount variables (up to the vapour flux).
constexpr int32_t kVarObjects = 0;
constexpr int32_t kVarU = 1;
constexpr int32_t kVarV = 2;
constexpr int32_t kVarW = 3;
constexpr int32_t kVarTKE = 13;
constexpr int32_t kVarDissipation = 14;
constexpr int32_t kVarVaporFlux = 22;
constexpr int32_t kEngineVariableCount = kVarVaporFlux + 1;

// Class of a cell for a particle (CheckEmitter).
constexpr uint8_t kCellNothing = 0;
constexpr uint8_t kCellObstacle = 1;
constexpr uint8_t kCellTarget = 2;

// What sampling reads of one cell, next to each other: u, v, w, k, eps (the
// live 32-bit fields widened to 64 bits) and the three gradients of (2/3) k.
// A derived copy of the live fields, rebuilt by updateDerivedFields.
struct alignas(64) tSampleCell {
    double v[8];  // u, v, w, k, eps, gx, gy, gz
};

// The flow as seen by a particle at the start of a sub-step.
struct tFieldSample {
    double u = 0.0, v = 0.0, w = 0.0;  // resolved mean wind, m/s
    double k = 0.0;                    // sub-grid turbulent kinetic energy, m2/s2
    double eps = 0.0;                  // its dissipation rate, m2/s3
    double gx = 0.0, gy = 0.0, gz = 0.0;  // gradient of (2/3) k, m/s2
    double fs = 1.0;                   // sub-grid share of the velocity variance, 0..1
};

// Whether the processor runs the AVX2 variant of the particle step.
bool stepVariantAvx2Available();

class tParticleManager {
public:
    // ---- state, in declaration order of the engine ------------------------
    bool fBackwardsMode = true;
    double fdt_min_part = 0.0002;  // shortest regular sub-step, s
    dataset::TZDXFile* fCurrZDXFile = nullptr;  // data set of the current period (item of fZDXFileList)
    dataset::TZDXFile* fNextZDXFile = nullptr;  // the next earlier data set (set by the main loop)
    tParticleList fParticleList;  // release order
    std::vector<dataset::TZDXFile> fZDXFileList;    // latest first
    int64_t fTotalParticlesInTarget = 0;   // raised atomically by the particle step
    int64_t fMainLoopIdx = -1;
    int64_t fTotalEmittedParticles = 0;
    tDetector fDetector;
    double fActSimTime = 0.0;  // current model time (date-time)
    std::string fOutputDir;    // without a trailing separator
    double fMinHeight = 0.0;   // height a particle below the ground is put back to, m
    int64_t fPartGen_InLoop = 0;
    int64_t fPartPerIntervalTarget = 0;

    // Live fields of the current model time, [i][j][k].
    t3DArrayInt64 fObject_Ar;  // 0 free air, 1 obstacle, other codes other cells
    t3DArraySingle fuvwX_Ar, fuvwY_Ar, fuvwZ_Ar;
    t3DArraySingle fTKE_Ar;
    t3DArraySingle fVaporFlx_Ar;  // emitter field
    t3DArraySingle fDissipation_Ar;
    // The same as loaded at the start of the period; every batch starts from them.
    t3DArrayInt64 fObject_Ar_OLD;
    t3DArraySingle fuvwX_Ar_OLD, fuvwY_Ar_OLD, fuvwZ_Ar_OLD;
    t3DArraySingle fTKE_Ar_OLD;
    t3DArraySingle fVaporFlx_Ar_OLD;
    t3DArraySingle fDissipation_Ar_OLD;
    // Gradients of (2/3) TKE.
    t3DArrayDouble fde_dx_Ar, fde_dy_Ar, fde_dz_Ar;
    // Per-level statistics over the cells that are not obstacles.
    std::vector<double> fVerticalMeanU_Ar, fVerticalMeanV_Ar, fVerticalMeanW_Ar;
    std::vector<double> fVerticalMeanU2_Ar, fVerticalMeanV2_Ar, fVerticalMeanW2_Ar;
    std::vector<double> fVerticalMeanTKE_Ar;
    // Interpolation nodes and level tops, metres.
    std::vector<double> fXMidPoint_Ar, fYMidPoint_Ar, fZMidPoint_Ar, fZTopBorder_Ar;

    std::vector<std::string> fLogFile;  // the run log, saved whole at every output
    bool fverboseLog = false;
    int64_t fParticleDetectorCnt = 0;   // declared counter; nothing uses it

    // Footprint accumulators [I][J][K]; the "IJ" arrays use level 0 only.
    t3DArrayDouble CurrPosIJK;
    t3DArrayDouble SourceStrengthIJ, SourceStrengthIJK;
    t3DArrayDouble ratioDetEmitterIJ, ratioDetEmitterIJK;
    t3DArrayDouble ddw_EmitterIJ, ddw_EmitterIJK;
    t3DArrayDouble FlxFootprintIJ, FlxFootprintIJK;
    t3DArrayDouble ConFootprintIJ, ConFootprintIJK;
    // The accumulators above, in their order: the one list of them.
    static constexpr int kFootprintAccumulatorCount = 11;
    std::array<t3DArrayDouble*, kFootprintAccumulatorCount> footprintAccumulators() {
        return {&CurrPosIJK,         &SourceStrengthIJ, &SourceStrengthIJK, &ratioDetEmitterIJ,
                &ratioDetEmitterIJK, &ddw_EmitterIJ,    &ddw_EmitterIJK,    &FlxFootprintIJ,
                &FlxFootprintIJK,    &ConFootprintIJ,   &ConFootprintIJK};
    }

    // A particle that met its target as the accumulation adds it: its target
    // cell and the weights fWDetector / fWEmitter and 1 / fWEmitter; the
    // accumulation's room for them, kept from one output to the next.
    struct tTargetHit {
        tPosGrid cell;
        double ratio, inverse;
    };
    kwd::tScratchArray<tTargetHit> fTargetHitScratch;

    // ---- working state of the run -----------------------------------------
    // Rates of change per second over the current period (period loading).
    t3DArraySingle fRateU_Ar, fRateV_Ar, fRateW_Ar, fRateTKE_Ar, fRateDissipation_Ar,
        fRateVaporFlx_Ar;
    std::vector<int64_t> fLevelCellCount;  // cells per level that are not obstacles
    tGridGeometry fGeometry;               // cell faces of the current data set
    // The grid the fields were allocated for (first data set of the run);
    // every data set of the run must have it.
    int32_t fGridI = 0, fGridJ = 0, fGridK = 0;
    std::vector<float> fGridDx, fGridDy, fGridDz;
    uint64_t fSeed = 0;                    // run seed of the random streams
    int64_t fBatchSize = KWD_BATCH_SIZE;   // particles released per batch
    std::ostream* fProgressOut = nullptr;  // progress lines of the main loop; null: standard output
    tRunProgress fRunProgress;             // the progress line on standard error, where wanted
    // The cells as the particle step reads them (updateDerivedFields builds
    // them from the live fields and the gradients): the sampled values of
    // each cell in one record, and its class for a particle (CheckEmitter:
    // kCellNothing, kCellObstacle, kCellTarget), both [i][j][k].
    std::vector<tSampleCell> fSampleCells;
    std::vector<uint8_t> fCellClass;
    // 1 where the cell is inside the grid's side columns and below its top
    // layer, and no cell of the 3 x 3 x 3 block around it (layers 0 and 1
    // in layer 0) is an obstacle: the weighted means over that block then
    // need no test of the classes. 0 elsewhere. [i][j][k], built with them.
    std::vector<uint8_t> fFreeAround;
    // The particle step runs its AVX2 variant (where the processor has AVX2)
    // or the baseline one; both give the same particles bit for bit.
    bool fStepAvx2 = stepVariantAvx2Available();
    // The footprint model of the run (set by the run start before the main
    // loop; src/engine/u_Touchdowns.h). The described model is
    // the default.
    tFootprintModel fFootprintModel = tFootprintModel::Described;
    // Touchdown model: every touchdown is also written to a touchdown list
    // (TouchdownList_<period start>_<project>.csv); off by default.
    bool fTouchdownList = false;
    // Touchdown model: the measurement times (release times) of the
    // particles moved so far, in the order they were first met; the slots
    // of the touchdown sums.
    std::vector<double> fMeasurementTimes;
    // Touchdown model: the touchdowns gathered from the workers after each
    // pass (sums per slot, and the records of the touchdown list in list
    // order); the main loop takes them over.
    tTouchdownSums fTouchdowns;
    // A run split between processes (src/run/u_Ranks.h): this process steps
    // the moving particles whose serial number modulo fShareCount is
    // fShareIndex; the others are stepped elsewhere and copied in after each
    // pass. One process (the default) steps them all.
    int64_t fShareIndex = 0;
    int64_t fShareCount = 1;
    bool stepsHere(const tParticle& aParticle) const {
        return fShareCount == 1 || uint64_t(aParticle.fSerialNr) % uint64_t(fShareCount) ==
                                       uint64_t(fShareIndex);
    }

    // ---- construction -------------------------------------------------------
    // Takes the descriptors over in reverse order (latest first), writes the
    // run-log head and allocates the accumulators from the first descriptor.
    // No descriptor: kwd::RunSetupError. The seed comes from runSeed().
    tParticleManager(bool backwardsMode, const tDetector& aDetectorPos,
                     std::vector<kwd::dataset::TZDXFile> ZDXList, const std::string& aOutputDir,
                     double aMinHeight, int64_t partCntPerInterval,
                     int64_t batchSize = KWD_BATCH_SIZE);
    virtual ~tParticleManager();
    tParticleManager(const tParticleManager&) = delete;
    tParticleManager& operator=(const tParticleManager&) = delete;

    // ---- particle list --------------------------------------------------------
    int64_t getNumberOfParticlesInModel() const;
    // Removes every particle that left the model or met its target; order kept.
    void UpdateEntries();
    // Appends aCount particles released at random in the detector box at the
    // model time of fCurrZDXFile, fLoopIdx = fMainLoopIdx, cell located
    // against fCurrZDXFile; raises fTotalEmittedParticles and fPartGen_InLoop.
    void releaseParticles(int64_t aCount);

    // ---- fields (main thread, between passes) -------------------------------------
    // Allocates every field, the rates and the level counts for the grid of
    // fCurrZDXFile. A grid with fewer than 3 columns or rows or fewer than 4
    // levels, missing or non-positive widths raise kwd::InputError. The cell
    // records of the particle step are built as well (from the zero fields).
    void allocateFields();
    // Nodes (fX/fY/fZMidPoint_Ar) and level tops from fCurrZDXFile's widths.
    void computeNodePositions();
    // Period loading from fCurrZDXFile towards fNextZDXFile, aDeltaSeconds
    // apart: nodes, object codes, wind and turbulence, emitter field, rates.
    // A data set whose grid differs from the allocated one: kwd::InputError.
    void loadPeriodFields(int32_t aDeltaSeconds);
    // Copies the period snapshot back into the live fields.
    void resetBatchFields();
    // The live fields as they stand become the period snapshot.
    void takePeriodSnapshot();
    // Calls f(live, snapshot) for each live field and its _OLD snapshot:
    // the one list of the pairs.
    template <typename F>
    void forEachSnapshotPair(F&& f) {
        f(fObject_Ar, fObject_Ar_OLD);
        f(fuvwX_Ar, fuvwX_Ar_OLD);
        f(fuvwY_Ar, fuvwY_Ar_OLD);
        f(fuvwZ_Ar, fuvwZ_Ar_OLD);
        f(fTKE_Ar, fTKE_Ar_OLD);
        f(fVaporFlx_Ar, fVaporFlx_Ar_OLD);
        f(fDissipation_Ar, fDissipation_Ar_OLD);
    }
    // Per-level statistics and TKE gradients from the live fields, then the
    // cell records of the particle step (buildSampleCells).
    void updateDerivedFields();
    // fSampleCells and fCellClass from the live fields and the gradients.
    void buildSampleCells();
    // Builds them where they do not match the grid (fields allocated or
    // filled without a derived-field update).
    void requireSampleCells();
    bool sampleCellsMatchGrid() const {
        const size_t n = fuvwX_Ar.size();
        return fSampleCells.size() == n && fCellClass.size() == n && fFreeAround.size() == n;
    }
    // Moves the live fields by rate x dt_3d.
    void advanceFields(double dt_3d);

    // ---- particle step ---------------------------------------------------------
    // One particle through one update interval of dt_3d seconds; calls for
    // different indices may run at once on several threads. An index outside
    // the list raises kwd::GeneralError; a floating-point fault of the call,
    // kwd::FloatingPointError naming the particle (as the parallel pass).
    void moveParticlesParallel(int64_t aParticleIdx, double dt_3d);
    // Every index of the particle list on the worker threads; the first
    // error of the pass is raised after it (floating-point faults included).
    // The particles that still move are visited in the order of their cells;
    // every particle ends as a visit in list order would leave it.
    void moveAllParticlesParallel(double dt_3d);

    // ---- sampler and helpers -------------------------------------------------
    // randGauss, calc_Distance, CheckEmitter and sampleFields are the
    // reference versions of rules the particle step applies in its own code
    // (src/engine/u_StepKernel.h); the step does not call them. Tests and
    // benchmarks hold the step to them.
    // Normal number of mean 1 and deviation 1, truncated to 1 -+ aUpperLimit
    // (the step: kwdstep::gauss, three drawn side by side).
    double randGauss(double aUpperLimit, tRandomStream& aStream) const;
    // Distance from a position to the node of a cell; kwdstep::kNodeDistance
    // at the node itself (the step: the weights of its sampling).
    double calc_Distance(const tPosMeter& posMeter, int32_t iGrid, int32_t jGrid,
                         int32_t kGrid) const;
    // Class of the particle's cell (kCellNothing, kCellObstacle, kCellTarget)
    // from the object codes (the step: fCellClass, built by buildSampleCells).
    uint8_t CheckEmitter(const tParticle& aParticle) const;
    bool CheckObstacle(tParticle& aParticle) const;
    tPosMeter getSmallestCellSize(const kwd::dataset::TZDXFile& aZDXFile) const;
    double calc_dt_3d(double vMax_u, double vMax_v, double vMax_w,
                      const kwd::dataset::TZDXFile& aZDXFile) const;
    // The flow at a live particle (its fPosMeter and fPosGrid): the step's
    // own sampling (kwdstep::sampleAt) with a context built for the call.
    tFieldSample sampleFields(const tParticle& aParticle) const;

    // Model time of a data set: simdate "dd.mm.yyyy" + simtime "hh:mm:ss";
    // text that does not read raises kwd::ConversionError naming the data set.
    static double getModelTime(const kwd::dataset::TZDXFile& aZDXFile);

    // ---- the main loop's view of the particle list ------------------------------
    // The particles of interval fMainLoopIdx that still move, kept between the
    // passes of the main loop so that a pass visits only them. The main loop
    // calls forgetMovingParticles whenever it changes the list (release,
    // carry-over, UpdateEntries); movingPass then rescans it once.
    void forgetMovingParticles() { fMovingKnown = false; }
    // Scans the list for the moving particles of fMainLoopIdx that this
    // process steps (resetting the call time of its finished ones, as their
    // visit would).
    void findMovingParticles();
    // A pass over the moving particles (as moveAllParticlesParallel).
    void movingPass(double dt_3d);
    // Particles with fInModel true, from the moving particles when they are
    // known (the step changes fInModel of no other particle), else a scan.
    int64_t particlesInModel() const;

private:
    void checkSameGrid(const kwd::dataset::TZDXFile& aZDXFile) const;
    // The cell records, with the TKE gradients of the inner columns computed
    // on the way when `gradients`.
    void buildSampleCells(bool gradients);
    void moveParticle(int64_t aIndex, double dt_3d, int64_t& hits, tTouchdownSums* sums);
    void registerMeasurementTime(double aTime);
    // One touchdown sum per worker thread, for the touchdown model.
    void prepareTouchdownSums();
    // Adds the workers' touchdown sums to fTouchdowns (exact) and puts the
    // new records in list order.
    void gatherTouchdowns();
    // Runs the step over fMoving in the order of the particles' cells and
    // drops those that finished.
    void runMovingPass(double dt_3d);
    // After a pass: the moving particles whose key for the next pass
    // (aNextKeys, in the order of fMoving) is that of a particle still moving
    // stay in fMoving, their keys in fSortKeys; the others go to
    // fJustFinished. Both keep the order of fMoving.
    void keepMoving(const uint64_t* aNextKeys, int64_t aCount);
    // fMoving := the list indices of fSortKeys, in their order.
    void movingFromKeys();

    kwd::tLargeVector<int64_t> fMoving;        // list indices of the moving particles
    kwd::tLargeVector<int64_t> fJustFinished;  // finished in the last pass: call time reset due
    kwd::tLargeVector<uint64_t> fSortKeys;     // the cell-order sort: keys (cell, list index)
    kwd::tLargeVector<uint64_t> fSortScratch;  // its second buffer; the keys the pass writes
    bool fSortKeysKnown = false;         // fSortKeys holds the keys of fMoving
    bool fMovingKnown = false;
    int64_t fMovingLoopIdx = -1;   // fMainLoopIdx and list size when they were found
    int64_t fMovingListSize = -1;
    int64_t fInModelOthers = 0;  // particles in the model that are not in fMoving
    std::vector<tTouchdownSums> fTouchdownPerThread;  // by OpenMP thread number
};

}  // namespace kwd::engine

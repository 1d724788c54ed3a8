// The main loop of a run: data-set periods, batches of released particles,
// parallel time steps, interval and period outputs, progress lines and the
// run log.

#include "run/u_MainLoop.h"

#include <cmath>
#include <cstdint>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "engine/u_tParticleManager.h"
#include "platform/DateTime.h"
#include "platform/Interrupt.h"
#include "platform/ParallelChunks.h"
#include "platform/KwdError.h"
#include "platform/RegionalSettings.h"
#include "results/u_EngineOutputs.h"
#include "results/u_FootprintDensity.h"
#include "results/u_ResultText.h"
#include "run/u_Ranks.h"

namespace kwd::run {

using kwd::results::clearOutputArrays;
using kwd::results::resultFilePath;
using kwd::results::saveCurrentData;
using kwd::results::saveCurrentParticlesInTargetToFile;
using kwd::results::saveTextLines;
using kwd::results::saveTouchdownList;
using kwd::results::tFootprintDensities;
using kwd::results::writeOutput;

using kwd::engine::kCellTarget;
using kwd::engine::tFootprintModel;
using kwd::engine::tParticle;
using kwd::engine::tParticleManager;

using kwd::dataset::TZDXFile;

namespace {

const std::string kHyphens54(54, '-');
const std::string kAsterisks54(54, '*');
const std::string kAsterisks65(65, '*');

std::string dataSetText(const TZDXFile& aZDXFile, kwd::tDateTime aTime) {
    return aZDXFile.InfoFilename + " (" + kwd::regional::dateTimeText(aTime) + ")";
}

// Every period must be steppable: two different model times, whole seconds
// that fit 32 bits, and at least half an update interval. Refused before
// anything is released, naming both data sets.
void checkPeriods(const std::vector<TZDXFile>& aList, int32_t aUpdateInterval) {
    for (size_t p = 0; p + 1 < aList.size(); ++p) {
        const kwd::tDateTime later = tParticleManager::getModelTime(aList[p]);
        const kwd::tDateTime earlier = tParticleManager::getModelTime(aList[p + 1]);
        const int64_t seconds = kwd::secondsBetween(later, earlier);
        const std::string pair = "data sets " + dataSetText(aList[p], later) + " and " +
                                 dataSetText(aList[p + 1], earlier);
        if (seconds == 0)
            throw kwd::RunSetupError(pair + " have the same model time: a period needs two");
        if (seconds > int64_t(INT32_MAX))
            throw kwd::RunSetupError(pair + " are " + std::to_string(seconds) +
                                     " s apart, more than a period can hold (68 years)");
        if (2 * seconds < int64_t(aUpdateInterval))
            throw kwd::RunSetupError(pair + " are " + std::to_string(seconds) +
                                     " s apart, less than half the update interval of " +
                                     std::to_string(aUpdateInterval) +
                                     " s: the period cannot be stepped");
    }
}

}  // namespace

std::string elapsedTimeLine(int64_t aElapsedSeconds) {
    return std::to_string(aElapsedSeconds / 3600) + " hour(s), " +
           std::to_string(aElapsedSeconds / 60 % 60) + " minute(s), " +
           std::to_string(aElapsedSeconds % 60) +
           " second(s) elapsed since start of the simulation";
}

int64_t startCalculation(tParticleManager& e, int32_t outputInterval, int32_t updateInterval,
                         bool verboseLog, kwd::tDateTime aRunStart) {
    using kwd::regional::dateTimeText;
    using kwd::regional::fileNameTimeText;

    // Settings that cannot work are refused before anything is released.
    if (outputInterval <= 0)
        throw kwd::RunSetupError("the output interval must be at least 1 second, got " +
                                 std::to_string(outputInterval) + " s");
    if (updateInterval <= 0)
        throw kwd::RunSetupError("the update interval must be at least 1 second, got " +
                                 std::to_string(updateInterval) + " s");
    if (e.fZDXFileList.size() < 2)
        throw kwd::RunSetupError("a run needs at least two data sets (one data-set period), got " +
                                 std::to_string(e.fZDXFileList.size()));

    std::ostream& progress = e.fProgressOut != nullptr ? *e.fProgressOut : std::cout;
    auto progressLine = [&progress](const std::string& aLine) { progress << aLine << '\n'; };

    e.fverboseLog = verboseLog;
    if (outputInterval <= updateInterval) updateInterval = outputInterval;
    const int64_t firstSpacing =
        kwd::secondsBetween(tParticleManager::getModelTime(e.fZDXFileList[0]),
                            tParticleManager::getModelTime(e.fZDXFileList[1]));
    const int32_t interval = firstSpacing < outputInterval ? int32_t(firstSpacing) : outputInterval;
    const int64_t intervalMs = int64_t(interval) * 1000;
    checkPeriods(e.fZDXFileList, updateInterval);

    // A run on several processes: process 0 alone writes the files; every
    // process keeps the same state (u_Ranks.h).
    const bool writer = kwd::run::ranks::writesFiles();
    const std::string logPath = resultFilePath(e.fOutputDir, "logFile.log");
    auto saveLog = [&]() {
        if (writer) saveTextLines(logPath, e.fLogFile);
    };
    auto logOutputLine = [&]() {
        e.fLogFile.push_back(kwd::regional::shortDate(e.fActSimTime) + ";" +
                             kwd::regional::longTime(e.fActSimTime) + ";" +
                             std::to_string(e.fTotalEmittedParticles));
        saveLog();
    };
    auto modeLine = [&]() {
        progressLine("Backwards mode: Total amount of particles through emitter: " +
                     std::to_string(e.fTotalParticlesInTarget));
    };

    e.fCurrZDXFile = &e.fZDXFileList[0];
    e.allocateFields();
    // The normalised footprints of every measurement time, beside the
    // described outputs.
    tFootprintDensities densities(e.fCurrZDXFile->GridsI, e.fCurrZDXFile->GridsJ,
                                  e.fCurrZDXFile->sizedx, e.fCurrZDXFile->sizedy,
                                  e.fCurrZDXFile->projectname);
    const bool touchdown = e.fFootprintModel == tFootprintModel::Touchdown;
    auto countHits = [&]() {
        densities.addHits(e.fParticleList, e.fObject_Ar);
        if (touchdown) {
            kwd::run::ranks::combineTouchdowns(e);
            densities.addTouchdowns(e.fMeasurementTimes, e.fTouchdowns);
        }
    };
    // The particle list holds the particles that met an emitter: the
    // touchdown model has none (its touchdowns go to the touchdown list).
    auto saveParticleList = [&]() {
        if (!touchdown && writer) saveCurrentParticlesInTargetToFile(e);
    };

    // SIGINT and SIGTERM stop the run between pieces of work: the files
    // stay whole, and the log says where the run stopped. The signal is
    // one that every process of the run has agreed on.
    kwd::tInterruptGuard interruptGuard;
    auto stopIfInterrupted = [&](int signal) {
        if (signal == 0) return;
        e.fLogFile.push_back("Run interrupted by " + kwd::signalName(signal) + " at model time " +
                             dateTimeText(e.fActSimTime));
        saveLog();
        throw kwd::Interrupted(signal);
    };
    const int64_t batchesPerPeriod =
        e.fPartPerIntervalTarget > e.fBatchSize
            ? (e.fPartPerIntervalTarget + e.fBatchSize - 1) / e.fBatchSize
            : 1;
    e.fRunProgress.startRun(int64_t(e.fZDXFileList.size()) - 1, batchesPerPeriod);

    const size_t periods = e.fZDXFileList.size() - 1;
    for (size_t p = 0; p < periods; ++p) {
        e.fPartGen_InLoop = 0;
        e.fMainLoopIdx = int64_t(p);
        clearOutputArrays(e);
        const double periodStart = tParticleManager::getModelTime(e.fZDXFileList[p]);
        e.fActSimTime = periodStart;
        double nextOutputTime = kwd::incMilliseconds(e.fActSimTime, -intervalMs);
        const int32_t deltaT = int32_t(kwd::secondsBetween(
            periodStart, tParticleManager::getModelTime(e.fZDXFileList[p + 1])));
        e.fCurrZDXFile = &e.fZDXFileList[p];
        e.fNextZDXFile = &e.fZDXFileList[p + 1];
        e.loadPeriodFields(deltaT);
        bool firstBatch = true;

        for (int64_t batch = 0;; ++batch) {
            stopIfInterrupted(kwd::run::ranks::agree(nullptr, kwd::interruptSignal()));
            e.fActSimTime = periodStart;
            nextOutputTime = kwd::incMilliseconds(e.fActSimTime, -intervalMs);
            e.resetBatchFields();
            e.updateDerivedFields();
            if (firstBatch) {
                // The surface codes of the period's emitter cells.
                for (size_t c = 0; c < e.fCellClass.size(); ++c)
                    if (e.fCellClass[c] == kCellTarget)
                        densities.addSurfaceCode(e.fObject_Ar.data()[c]);
                firstBatch = false;
            }
            const int64_t releasedBefore = e.fTotalEmittedParticles;
            e.releaseParticles(e.fBatchSize);
            densities.addReleased(periodStart, e.fCurrZDXFile->projectname,
                                  e.fTotalEmittedParticles - releasedBefore);

            progressLine(kHyphens54);
            progressLine("Accessing ZAKO-rin simulation output " + e.fCurrZDXFile->simdate + " " +
                         e.fCurrZDXFile->simtime);
            progressLine("Current number of particles in model area: " +
                         std::to_string(e.particlesInModel()));
            progressLine("Total amount of particles simulated: " +
                         std::to_string(e.fTotalEmittedParticles));
            modeLine();
            progressLine(kHyphens54);
            progress.flush();

            // Steps of the update interval; a period that is not a whole
            // number of them ends with a shorter step, exactly at the
            // earlier data set.
            const int32_t lastStep = deltaT % updateInterval;
            const int64_t steps = deltaT / updateInterval + (lastStep > 0 ? 1 : 0);
            for (int64_t s = 0; s < steps; ++s) {
                const int32_t stepSeconds =
                    s == steps - 1 && lastStep > 0 ? lastStep : updateInterval;
                const double dt_3d = double(stepSeconds);
                const int64_t stepMs = int64_t(stepSeconds) * 1000;
                const int64_t inModel = e.particlesInModel();
                e.fRunProgress.setStep(int64_t(p), batch, s, steps);
                if (inModel > 0) {
                    // The pass is where the processes of a run differ:
                    // they agree on how it ended before going on.
                    const kwd::run::ranks::tPassShare share = kwd::run::ranks::beforePass(e);
                    std::exception_ptr failure;
                    try {
                        e.movingPass(dt_3d);
                    } catch (...) {
                        failure = std::current_exception();
                    }
                    stopIfInterrupted(kwd::run::ranks::afterPass(e, share, failure));
                    if (touchdown && e.fTouchdownList) {
                        if (writer)
                            saveTouchdownList(e);
                        else
                            e.fTouchdowns.records.clear();
                    }
                    progressLine("********");
                    progressLine("Updating resolved scale parameters...");
                    progressLine("Current model time: " + dateTimeText(e.fActSimTime));
                    progressLine("Current number of particles in model area: " +
                                 std::to_string(e.particlesInModel()));
                    progressLine("Total amount of particles simulated so far: " +
                                 std::to_string(e.fTotalEmittedParticles));
                    modeLine();
                    e.advanceFields(dt_3d);
                    e.updateDerivedFields();
                    e.fRunProgress.report(e.particlesInModel(), 1.0);
                }
                e.fActSimTime = kwd::incMilliseconds(e.fActSimTime, -stepMs);
                if (kwd::secondsBetween(e.fActSimTime, nextOutputTime) <= interval) {
                    // Interval output.
                    saveCurrentData(e);
                    progressLine("Writing verbose output: " + dateTimeText(e.fActSimTime));
                    if (writer)
                        writeOutput(e, *e.fCurrZDXFile,
                                    resultFilePath(e.fOutputDir,
                                                   "TMP_VirtPart_" + e.fCurrZDXFile->projectname +
                                                       "_" + fileNameTimeText(e.fActSimTime)));
                    progressLine("Done!");
                    progressLine("Writing output: " + dateTimeText(e.fActSimTime));
                    logOutputLine();
                    nextOutputTime = kwd::incMilliseconds(nextOutputTime, -intervalMs);
                    clearOutputArrays(e);
                }
            }

            // Carry-over: particles still moving go on in the next period.
            const int64_t listSize = int64_t(e.fParticleList.size());
            kwd::forEachChunk(listSize, kwd::chunkCount(listSize, 16384),
                              [&e](int, int64_t begin, int64_t end) {
                                  for (int64_t n = begin; n < end; ++n) {
                                      tParticle& particle = e.fParticleList[size_t(n)];
                                      if (particle.fLoopIdx == e.fMainLoopIdx)
                                          particle.fLoopIdx = e.fMainLoopIdx + 1;
                                  }
                              });
            e.forgetMovingParticles();

            if (e.fPartGen_InLoop >= e.fPartPerIntervalTarget) break;
            progressLine(kAsterisks65);
            progressLine("Target number of particles not met yet, additional batch of");
            progressLine("particles will be created for this simulation period");
            progressLine(kAsterisks65);
            saveCurrentData(e);
            saveParticleList();
            // The next batch's first output holds only its own hits.
            clearOutputArrays(e);
            progressLine("Freeing up memory for the next batch");
            progressLine("removing paricles out of domain or target");
            countHits();
            e.UpdateEntries();
            progressLine("Done freeing up memory!");
        }

        // Period end.
        clearOutputArrays(e);
        saveCurrentData(e);
        saveParticleList();
        progressLine("Writing output: " + dateTimeText(e.fActSimTime));
        logOutputLine();
        progressLine("Writing output: " + dateTimeText(e.fActSimTime));
        if (writer)
            writeOutput(e, *e.fCurrZDXFile,
                        resultFilePath(e.fOutputDir, "VirtPart_" + e.fCurrZDXFile->projectname +
                                                         "_" + fileNameTimeText(e.fActSimTime)));
        progressLine("Done!");
        progressLine(kAsterisks65);
        progressLine("Mainloop of ZAKO-rin output ended!");
        progressLine("Freeing up memory, removing paricles out of domain or target...");
        progressLine(kAsterisks65);
        countHits();
        e.UpdateEntries();
        densities.closeFinished(e.fParticleList);
        if (writer) densities.write(e.fOutputDir);
        progressLine("Done freeing up memory!");
        progress.flush();
    }

    // Closing block of the run log.
    const int64_t elapsed = kwd::secondsBetween(kwd::nowLocal(), aRunStart);
    e.fLogFile.push_back(kAsterisks54);
    e.fLogFile.push_back("Simulation finished!");
    e.fLogFile.push_back(elapsedTimeLine(elapsed));
    e.fLogFile.push_back("Total amount of particles through emitter: " +
                         std::to_string(e.fTotalParticlesInTarget));
    e.fLogFile.push_back("Total amount of particles simulated: " +
                         std::to_string(e.fTotalEmittedParticles));
    e.fLogFile.push_back(kAsterisks54);
    saveLog();
    // The run has ended on every process before it counts as finished.
    (void)kwd::run::ranks::agree();
    return e.fTotalParticlesInTarget;
}

}  // namespace kwd::run

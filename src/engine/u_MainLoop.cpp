// The main loop of a run: data-set periods, batches of released particles,
// parallel time steps, interval and period outputs, progress lines and the
// run log.

#include "engine/u_MainLoop.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "engine/u_tParticleManager.h"
#include "platform/DateTime.h"
#include "platform/Interrupt.h"
#include "platform/KwdError.h"
#include "platform/RegionalSettings.h"
#include "results/u_FootprintDensity.h"
#include "results/u_ResultText.h"

namespace {

std::atomic<kwd::tDateTime>& runStartSlot() {
    static std::atomic<kwd::tDateTime> slot{kwd::nowLocal()};
    return slot;
}

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

void setRunStartTime(kwd::tDateTime aStartTime) { runStartSlot().store(aStartTime); }

kwd::tDateTime runStartTime() { return runStartSlot().load(); }

int64_t tParticleManager::startCalculation(int32_t outputInterval, int32_t updateInterval,
                                           bool verboseLog) {
    using kwd::regional::dateTimeText;
    using kwd::regional::fileNameTimeText;

    // Settings that cannot work are refused before anything is released.
    if (outputInterval <= 0)
        throw kwd::RunSetupError("the output interval must be at least 1 second, got " +
                                 std::to_string(outputInterval) + " s");
    if (updateInterval <= 0)
        throw kwd::RunSetupError("the update interval must be at least 1 second, got " +
                                 std::to_string(updateInterval) + " s");
    if (fZDXFileList.size() < 2)
        throw kwd::RunSetupError("a run needs at least two data sets (one data-set period), got " +
                                 std::to_string(fZDXFileList.size()));

    std::ostream& progress = fProgressOut != nullptr ? *fProgressOut : std::cout;
    auto progressLine = [&progress](const std::string& aLine) { progress << aLine << '\n'; };

    fverboseLog = verboseLog;
    if (outputInterval <= updateInterval) updateInterval = outputInterval;
    const int64_t firstSpacing =
        kwd::secondsBetween(getModelTime(fZDXFileList[0]), getModelTime(fZDXFileList[1]));
    const int32_t interval =
        firstSpacing < outputInterval ? int32_t(firstSpacing) : outputInterval;
    const int64_t intervalMs = int64_t(interval) * 1000;
    checkPeriods(fZDXFileList, updateInterval);

    const std::string logPath = resultFilePath(fOutputDir, "logFile.log");
    auto logOutputLine = [&]() {
        fLogFile.push_back(kwd::regional::shortDate(fActSimTime) + ";" +
                           kwd::regional::longTime(fActSimTime) + ";" +
                           std::to_string(fTotalEmittedParticles));
        saveTextLines(logPath, fLogFile);
    };
    auto modeLine = [&]() {
        progressLine("Backwards mode: Total amount of particles through emitter: " +
                     std::to_string(fTotalParticlesInTarget));
    };

    fCurrZDXFile = &fZDXFileList[0];
    allocateFields();
    // The normalised footprints of every measurement time, beside the
    // described outputs.
    tFootprintDensities densities(fCurrZDXFile->GridsI, fCurrZDXFile->GridsJ, fCurrZDXFile->sizedx,
                                  fCurrZDXFile->sizedy, fCurrZDXFile->projectname);
    const bool touchdown = fFootprintModel == tFootprintModel::Touchdown;
    auto countHits = [&]() {
        densities.addHits(fParticleList, fObject_Ar);
        if (touchdown) densities.addTouchdowns(fMeasurementTimes, fTouchdowns);
    };
    // The particle list holds the particles that met an emitter: the
    // touchdown model has none (its touchdowns go to the touchdown list).
    auto saveParticleList = [&]() {
        if (!touchdown) saveCurrentParticlesInTargetToFile();
    };

    // SIGINT and SIGTERM stop the run between pieces of work: the files
    // stay whole, and the log says where the run stopped.
    kwd::tInterruptGuard interruptGuard;
    auto stopIfInterrupted = [&]() {
        const int signal = kwd::interruptSignal();
        if (signal == 0) return;
        fLogFile.push_back("Run interrupted by " + kwd::signalName(signal) + " at model time " +
                           dateTimeText(fActSimTime));
        saveTextLines(logPath, fLogFile);
        throw kwd::Interrupted(signal);
    };
    const int64_t batchesPerPeriod =
        fPartPerIntervalTarget > fBatchSize ? (fPartPerIntervalTarget + fBatchSize - 1) / fBatchSize : 1;
    fRunProgress.startRun(int64_t(fZDXFileList.size()) - 1, batchesPerPeriod);

    const size_t periods = fZDXFileList.size() - 1;
    for (size_t p = 0; p < periods; ++p) {
        fPartGen_InLoop = 0;
        fMainLoopIdx = int64_t(p);
        clearOutputArrays();
        const double periodStart = getModelTime(fZDXFileList[p]);
        fActSimTime = periodStart;
        double nextOutputTime = kwd::incMilliseconds(fActSimTime, -intervalMs);
        const int32_t deltaT =
            int32_t(kwd::secondsBetween(periodStart, getModelTime(fZDXFileList[p + 1])));
        fCurrZDXFile = &fZDXFileList[p];
        fNextZDXFile = &fZDXFileList[p + 1];
        loadPeriodFields(deltaT);
        bool firstBatch = true;

        for (int64_t batch = 0;; ++batch) {
            stopIfInterrupted();
            fActSimTime = periodStart;
            nextOutputTime = kwd::incMilliseconds(fActSimTime, -intervalMs);
            resetBatchFields();
            updateDerivedFields();
            if (firstBatch) {
                // The surface codes of the period's emitter cells.
                for (size_t c = 0; c < fCellClass.size(); ++c)
                    if (fCellClass[c] == kCellTarget) densities.addSurfaceCode(fObject_Ar.data()[c]);
                firstBatch = false;
            }
            const int64_t releasedBefore = fTotalEmittedParticles;
            releaseParticles(fBatchSize);
            densities.addReleased(periodStart, fCurrZDXFile->projectname,
                                  fTotalEmittedParticles - releasedBefore);

            progressLine(kHyphens54);
            progressLine("Accessing ZAKO-rin simulation output " + fCurrZDXFile->simdate + " " +
                         fCurrZDXFile->simtime);
            progressLine("Current number of particles in model area: " +
                         std::to_string(particlesInModel()));
            progressLine("Total amount of particles simulated: " +
                         std::to_string(fTotalEmittedParticles));
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
                const int64_t inModel = particlesInModel();
                fRunProgress.setStep(int64_t(p), batch, s, steps);
                if (inModel > 0) {
                    movingPass(dt_3d);
                    stopIfInterrupted();
                    if (touchdown && fTouchdownList) saveTouchdownList();
                    progressLine("********");
                    progressLine("Updating resolved scale parameters...");
                    progressLine("Current model time: " + dateTimeText(fActSimTime));
                    progressLine("Current number of particles in model area: " +
                                 std::to_string(particlesInModel()));
                    progressLine("Total amount of particles simulated so far: " +
                                 std::to_string(fTotalEmittedParticles));
                    modeLine();
                    advanceFields(dt_3d);
                    updateDerivedFields();
                    fRunProgress.report(particlesInModel(), 1.0);
                }
                fActSimTime = kwd::incMilliseconds(fActSimTime, -stepMs);
                if (kwd::secondsBetween(fActSimTime, nextOutputTime) <= interval) {
                    // Interval output.
                    saveCurrentData();
                    progressLine("Writing verbose output: " + dateTimeText(fActSimTime));
                    writeOutput(*fCurrZDXFile,
                                resultFilePath(fOutputDir, "TMP_VirtPart_" +
                                                               fCurrZDXFile->projectname + "_" +
                                                               fileNameTimeText(fActSimTime)));
                    progressLine("Done!");
                    progressLine("Writing output: " + dateTimeText(fActSimTime));
                    logOutputLine();
                    nextOutputTime = kwd::incMilliseconds(nextOutputTime, -intervalMs);
                    clearOutputArrays();
                }
            }

            // Carry-over: particles still moving go on in the next period.
            for (tParticle& particle : fParticleList)
                if (particle.fLoopIdx == fMainLoopIdx) particle.fLoopIdx = fMainLoopIdx + 1;
            forgetMovingParticles();

            if (fPartGen_InLoop >= fPartPerIntervalTarget) break;
            progressLine(kAsterisks65);
            progressLine("Target number of particles not met yet, additional batch of");
            progressLine("particles will be created for this simulation period");
            progressLine(kAsterisks65);
            saveCurrentData();
            saveParticleList();
            // The next batch's first output holds only its own hits.
            clearOutputArrays();
            progressLine("Freeing up memory for the next batch");
            progressLine("removing paricles out of domain or target");
            countHits();
            UpdateEntries();
            progressLine("Done freeing up memory!");
        }

        // Period end.
        clearOutputArrays();
        saveCurrentData();
        saveParticleList();
        progressLine("Writing output: " + dateTimeText(fActSimTime));
        logOutputLine();
        progressLine("Writing output: " + dateTimeText(fActSimTime));
        writeOutput(*fCurrZDXFile,
                    resultFilePath(fOutputDir, "VirtPart_" + fCurrZDXFile->projectname + "_" +
                                                   fileNameTimeText(fActSimTime)));
        progressLine("Done!");
        progressLine(kAsterisks65);
        progressLine("Mainloop of ZAKO-rin output ended!");
        progressLine("Freeing up memory, removing paricles out of domain or target...");
        progressLine(kAsterisks65);
        countHits();
        UpdateEntries();
        densities.closeFinished(fParticleList);
        densities.write(fOutputDir);
        progressLine("Done freeing up memory!");
        progress.flush();
    }

    // Closing block of the run log.
    const int64_t elapsed = kwd::secondsBetween(kwd::nowLocal(), runStartTime());
    fLogFile.push_back(kAsterisks54);
    fLogFile.push_back("Simulation finished!");
    fLogFile.push_back(std::to_string(elapsed / 3600) + " hour(s), " +
                       std::to_string(elapsed / 60 % 60) + " minute(s), " +
                       std::to_string(elapsed % 60) +
                       " second(s) elapsed since start of the simulation");
    fLogFile.push_back("Total amount of particles through emitter: " +
                       std::to_string(fTotalParticlesInTarget));
    fLogFile.push_back("Total amount of particles simulated: " +
                       std::to_string(fTotalEmittedParticles));
    fLogFile.push_back(kAsterisks54);
    saveTextLines(logPath, fLogFile);
    return fTotalParticlesInTarget;
}

#include "frontend/u_RunStart.h"

#include <omp.h>
#include <sys/stat.h>

#include <cerrno>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

#include "dataset/DatasetText.h"
#include "engine/u_tParticle.h"
#include "engine/u_tParticleManager.h"
#include "frontend/u_OutputFolder.h"
#include "frontend/u_RunRecord.h"
#include "platform/DateTime.h"
#include "platform/FileIO.h"
#include "platform/Interrupt.h"
#include "platform/KwdError.h"
#include "platform/RegionalSettings.h"
#include "run/u_MainLoop.h"
#include "run/u_Ranks.h"

using kwd::run::elapsedTimeLine;
using kwd::run::startCalculation;

using kwd::engine::footprintModelName;
using kwd::engine::kEngineVariableCount;
using kwd::engine::releaseMillimetres;
using kwd::engine::tDetector;
using kwd::engine::tGridGeometry;
using kwd::engine::tParticleManager;
using kwd::engine::tPosGrid;
using kwd::engine::tPosMeter;

namespace kwd::frontend {

using kwd::dataset::TZDXFile;

const char* const kAsteriskLine = "******************************************************";

namespace {

using kwd::dataset::dataset_text::gridText;

// The engine reads the data file's variables up to the vapour flux.
constexpr int64_t kEngineVariableBlocks = kEngineVariableCount;

// The shortest text that reads back as the value; a value that came from a
// 32-bit float (a run configuration's detector) in float precision.
std::string metresText(double aValue) {
    char text[32];
    const float narrow = float(aValue);
    const auto res = double(narrow) == aValue
                         ? std::to_chars(text, text + sizeof text, narrow)
                         : std::to_chars(text, text + sizeof text, aValue);
    return std::string(text, res.ptr);
}

std::string rangeText(const char* aAxis, double aLow, double aHigh) {
    return std::string(aAxis) + " " + metresText(aLow) + " to " + metresText(aHigh);
}

// Whether a release along one axis, drawn at millimetre resolution from
// [min, max) of the two bounds (or at the bound itself when they agree), can
// give a position in [0, aLength]. Bounds the release cannot draw from
// count as reachable: the release itself refuses them.
bool axisReachable(double aBound1, double aBound2, double aLength) {
    const std::optional<int32_t> mm1 = releaseMillimetres(aBound1);
    const std::optional<int32_t> mm2 = releaseMillimetres(aBound2);
    if (!mm1 || !mm2) return true;
    const double a = double(std::min(*mm1, *mm2));
    const double b = double(std::max(*mm1, *mm2));
    const double highest = b > a ? b - 1.0 : a;
    return highest / 1000.0 >= 0.0 && a / 1000.0 <= aLength;
}

}  // namespace

void checkDataFiles(const std::vector<TZDXFile>& aDescriptors) {
    for (const TZDXFile& z : aDescriptors) {
        // Grids that cannot work at all are refused by the engine with its
        // own message, before it sizes anything from them.
        if (z.GridsI <= 0 || z.GridsJ <= 0 || z.GridsK <= 0) continue;
        const int64_t cells = int64_t(z.GridsI) * int64_t(z.GridsJ);
        if (cells > std::numeric_limits<int32_t>::max() ||
            cells * int64_t(z.GridsK) > std::numeric_limits<int32_t>::max()) {
            throw kwd::InputError("data set " + z.InfoFilename + ": its grid of " + gridText(z) +
                                  " cells is larger than a data file can hold (at most " +
                                  std::to_string(std::numeric_limits<int32_t>::max()) +
                                  " values per variable)");
        }
        // Every data file before the run starts, not when its period comes.
        struct stat st{};
        if (::stat(z.DataFilename.c_str(), &st) != 0) {
            throw kwd::InputError("data set " + z.InfoFilename + ": ZDT file \"" +
                                  z.DataFilename + "\" cannot be read: " +
                                  kwd::systemReason(errno));
        }
        const int64_t needed = 4 * kEngineVariableBlocks * cells * int64_t(z.GridsK);
        if (int64_t(st.st_size) < needed) {
            throw kwd::InputError("data set " + z.InfoFilename + ": ZDT file \"" + z.DataFilename +
                                  "\" holds " + std::to_string(int64_t(st.st_size)) +
                                  " bytes; its grid of " + gridText(z) + " cells needs at least " +
                                  std::to_string(needed) + " (" +
                                  std::to_string(kEngineVariableBlocks) + " variables)");
        }
    }
}

void checkDetectorInModel(const tDetector& aDetector, const TZDXFile& aFirst) {
    if (aFirst.GridsI <= 0 || aFirst.GridsJ <= 0 || aFirst.GridsK <= 0 ||
        aFirst.sizedx.size() < size_t(aFirst.GridsI) ||
        aFirst.sizedy.size() < size_t(aFirst.GridsJ) ||
        aFirst.sizedz.size() < size_t(aFirst.GridsK))
        return;  // the engine refuses such a grid with its own message
    const tGridGeometry model(aFirst);
    const tDetector& d = aDetector;
    if (axisReachable(d.xMin, d.xMax, model.lengthX()) &&
        axisReachable(d.yMin, d.yMax, model.lengthY()) &&
        axisReachable(d.zMin, d.zMax, model.lengthZ()))
        return;
    throw kwd::RunSetupError(
        "the detector box (" + rangeText("x", d.xMin, d.xMax) + ", " +
        rangeText("y", d.yMin, d.yMax) + ", " + rangeText("z", d.zMin, d.zMax) +
        " m) lies outside the model area of data set " + aFirst.InfoFilename + " (" +
        rangeText("x", 0.0, model.lengthX()) + ", " + rangeText("y", 0.0, model.lengthY()) +
        ", " + rangeText("z", 0.0, model.lengthZ()) +
        " m): every particle would be released outside the model");
}

std::vector<std::string> detectorWarnings(const tDetector& aDetector,
                                          const tParticleManager& aEngine) {
    std::vector<std::string> warnings;
    const TZDXFile& z = *aEngine.fCurrZDXFile;
    const tGridGeometry model(z);
    const tDetector& d = aDetector;
    const double low[3] = {std::min(d.xMin, d.xMax), std::min(d.yMin, d.yMax),
                           std::min(d.zMin, d.zMax)};
    const double high[3] = {std::max(d.xMin, d.xMax), std::max(d.yMin, d.yMax),
                            std::max(d.zMin, d.zMax)};
    const double length[3] = {model.lengthX(), model.lengthY(), model.lengthZ()};
    const std::string box = "the detector box (" + rangeText("x", d.xMin, d.xMax) + ", " +
                            rangeText("y", d.yMin, d.yMax) + ", " +
                            rangeText("z", d.zMin, d.zMax) + " m)";
    bool partlyOutside = false;
    for (int a = 0; a < 3; ++a) partlyOutside |= low[a] < 0.0 || high[a] > length[a];
    if (partlyOutside) {
        warnings.push_back("Warning: " + box + " reaches outside the model area of data set " +
                           z.InfoFilename + " (" + rangeText("x", 0.0, length[0]) + ", " +
                           rangeText("y", 0.0, length[1]) + ", " +
                           rangeText("z", 0.0, length[2]) +
                           " m): particles released there leave the model at once");
    }
    // The cells of the part of the box inside the model.
    tPosGrid first, last;
    const tPosMeter a{std::clamp(low[0], 0.0, length[0]), std::clamp(low[1], 0.0, length[1]),
                      std::clamp(low[2], 0.0, length[2])};
    const tPosMeter b{std::clamp(high[0], 0.0, length[0]), std::clamp(high[1], 0.0, length[1]),
                      std::clamp(high[2], 0.0, length[2])};
    if (!model.locate(a, first) || !model.locate(b, last)) return warnings;
    constexpr size_t kNamed = 10;
    int64_t cells = 0;
    std::vector<std::string> obstacles;
    size_t obstacleCount = 0;
    for (int32_t k = first.k; k <= last.k; ++k)
        for (int32_t j = first.j; j <= last.j; ++j)
            for (int32_t i = first.i; i <= last.i; ++i) {
                ++cells;
                if (aEngine.fObject_Ar(i, j, k) != 1) continue;
                if (++obstacleCount <= kNamed)
                    obstacles.push_back("(" + std::to_string(i) + ", " + std::to_string(j) +
                                        ", " + std::to_string(k) + ")");
            }
    if (obstacleCount == 0) return warnings;
    std::string named;
    for (const std::string& c : obstacles) named += (named.empty() ? "" : " ") + c;
    if (obstacleCount > kNamed) named += " and " + std::to_string(obstacleCount - kNamed) + " more";
    warnings.push_back("Warning: " + box + " reaches into " + std::to_string(obstacleCount) +
                       " obstacle cell(s) of data set " + z.InfoFilename + " (" +
                       std::to_string(cells) +
                       " cell(s) in all), where released particles end at once: " + named);
    return warnings;
}

tMemoryEstimate checkRunStart(const tRunRequest& aRequest, int64_t aBatchSize) {
    checkDataFiles(aRequest.descriptorList);
    if (aRequest.descriptorList.empty()) return tMemoryEstimate();
    const TZDXFile& first = aRequest.descriptorList.back();  // the run starts with the latest
    checkDetectorInModel(aRequest.detector, first);
    const tMemoryEstimate estimate =
        estimateRunMemory(first, aRequest.partCntPerInterval, aBatchSize);
    checkRunMemory(estimate, first, physicalMemoryBytes());
    return estimate;
}

namespace {

tRunRecord runRecordOf(const tRunRequest& aRequest, const tRunControl& aControl,
                       const tParticleManager& aEngine) {
    tRunRecord r;
    r.commandLine = aControl.commandLine;
    if (aRequest.fromConfiguration) r.configurationPath = aRequest.configurationPath;
    r.rootFolder = aRequest.rootFolder;
    r.outputFolder = aRequest.outputDir;
    // The engine holds the data sets latest first; the record lists them in time order.
    for (auto it = aEngine.fZDXFileList.rbegin(); it != aEngine.fZDXFileList.rend(); ++it)
        r.dataSets.push_back({it->InfoFilename, it->DataFilename, it->simdate + " " + it->simtime});
    r.detector = aRequest.detector;
    r.particlesPerPeriod = aRequest.partCntPerInterval;
    r.batchSize = aEngine.fBatchSize;
    r.minHeight = aRequest.minHeight;
    r.outputInterval = aRequest.outputInterval;
    r.updateInterval = aRequest.updateInterval;
    r.model = footprintModelName(aRequest.footprintModel);
    r.seed = aEngine.fSeed;
    r.threads = omp_get_max_threads();
    return r;
}

}  // namespace

void runSimulation(tRunRequest& aRequest, tConsole& aConsole, const tRunControl& aControl) {
    // Refused before the engine sizes its fields from the descriptors and
    // before the output folder is made.
    (void)checkRunStart(aRequest, aControl.batchSize);

    auto engine = std::make_unique<tParticleManager>(
        aRequest.backwardsMode, aRequest.detector, std::move(aRequest.descriptorList),
        aRequest.outputDir, aRequest.minHeight, aRequest.partCntPerInterval, aControl.batchSize);
    aRequest.descriptorList.clear();
    engine->fProgressOut = &aConsole.out();
    if (aControl.seed) engine->fSeed = *aControl.seed;
    engine->fFootprintModel = aRequest.footprintModel;
    engine->fTouchdownList = aRequest.touchdownList;
    // A run on several processes: the seed of process 0, and each its share
    // of the particles to step (u_Ranks.h).
    engine->fSeed = kwd::run::ranks::sharedSeed(engine->fSeed);
    kwd::run::ranks::shareParticles(*engine);
    const bool writer = kwd::run::ranks::writesFiles();

    // The output folder only now, after the engine has been created; it
    // belongs to this run until the run ends. Only the process that writes
    // the files has it.
    std::optional<tOutputFolderLock> lock;
    if (writer) {
        kwd::createFolders(aRequest.outputDir);
        lock.emplace(aRequest.outputDir);
        if (aControl.folderUse == tOutputFolderUse::RefuseResults)
            requireNoEarlierResults(aRequest.outputDir);
        if (aControl.folderUse == tOutputFolderUse::Emptied)
            removeEarlierResults(aRequest.outputDir);
    }

    const kwd::tDateTime start = kwd::nowLocal();
    tRunRecord record = runRecordOf(aRequest, aControl, *engine);
    record.start = start;
    if (writer) writeRunRecord(aRequest.outputDir, record);

    aConsole.writeLine(kAsteriskLine);
    aConsole.writeLine("Simulation started: " + kwd::regional::dateTimeText(start));
    aConsole.writeLine(kAsteriskLine);
    aConsole.writeLine("");

    try {
        (void)startCalculation(*engine, aRequest.outputInterval, aRequest.updateInterval,
                               aRequest.verboseLog, start);
    } catch (const std::exception& e) {
        record.end = kwd::nowLocal();
        record.state = dynamic_cast<const kwd::Interrupted*>(&e) != nullptr ? "interrupted" : "failed";
        record.error = kwd::errorLine(e);
        record.particlesSimulated = engine->fTotalEmittedParticles;
        record.particlesThroughEmitter = engine->fTotalParticlesInTarget;
        try {
            if (writer) writeRunRecord(aRequest.outputDir, record);
        } catch (const std::exception&) {
            // The run's own error is the one to report.
        }
        throw;
    }

    const kwd::tDateTime finish = kwd::nowLocal();
    record.end = finish;
    record.state = "finished";
    record.particlesSimulated = engine->fTotalEmittedParticles;
    record.particlesThroughEmitter = engine->fTotalParticlesInTarget;
    if (writer) writeRunRecord(aRequest.outputDir, record);

    aConsole.writeLine("");
    aConsole.writeLine(kAsteriskLine);
    aConsole.writeLine("Simulation finished: " + kwd::regional::dateTimeText(finish));
    aConsole.writeLine(elapsedTimeLine(kwd::secondsBetween(start, finish)));
    aConsole.writeLine("Total amount of particles through emitter: " +
                       std::to_string(engine->fTotalParticlesInTarget));
    aConsole.writeLine("Total amount of particles simulated: " +
                       std::to_string(engine->fTotalEmittedParticles));
    aConsole.writeLine(kAsteriskLine);
    if (aControl.finalPrompt) {
        aConsole.writeLine("Press ENTER to end program");
        aConsole.waitForEnter();
    }

    // The engine frees the run's descriptors, then the listing goes.
    engine.reset();
    aRequest.outputsListing.clear();
}

}  // namespace kwd::frontend

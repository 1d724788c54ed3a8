#include "frontend/u_RunStart.h"

#include <memory>
#include <utility>

#include "engine/u_MainLoop.h"
#include "engine/u_tParticleManager.h"
#include "platform/DateTime.h"
#include "platform/FileIO.h"
#include "platform/RegionalSettings.h"

const char* const kAsteriskLine = "******************************************************";

std::string elapsedTimeLine(int64_t aElapsedSeconds) {
    const int64_t hours = aElapsedSeconds / 3600;
    const int64_t minutes = (aElapsedSeconds / 60) % 60;
    const int64_t seconds = aElapsedSeconds % 60;
    return std::to_string(hours) + " hour(s), " + std::to_string(minutes) + " minute(s), " +
           std::to_string(seconds) + " second(s) elapsed since start of the simulation";
}

void runSimulation(tRunRequest& aRequest, tConsole& aConsole) {
    auto engine = std::make_unique<tParticleManager>(
        aRequest.backwardsMode, aRequest.detector, std::move(aRequest.descriptorList),
        aRequest.outputDir, aRequest.minHeight, aRequest.partCntPerInterval);
    aRequest.descriptorList.clear();
    engine->fProgressOut = &aConsole.out();

    // The output folder only now, after the engine has been created.
    kwd::createFolders(aRequest.outputDir);

    const kwd::tDateTime start = kwd::nowLocal();
    setRunStartTime(start);
    aConsole.writeLine(kAsteriskLine);
    aConsole.writeLine("Simulation started: " + kwd::regional::dateTimeText(start));
    aConsole.writeLine(kAsteriskLine);
    aConsole.writeLine("");

    (void)engine->startCalculation(aRequest.outputInterval, aRequest.updateInterval,
                                   aRequest.verboseLog);

    const kwd::tDateTime finish = kwd::nowLocal();
    aConsole.writeLine("");
    aConsole.writeLine(kAsteriskLine);
    aConsole.writeLine("Simulation finished: " + kwd::regional::dateTimeText(finish));
    aConsole.writeLine(elapsedTimeLine(kwd::secondsBetween(runStartTime(), finish)));
    aConsole.writeLine("Total amount of particles through emitter: " +
                       std::to_string(engine->fTotalParticlesInTarget));
    aConsole.writeLine("Total amount of particles simulated: " +
                       std::to_string(engine->fTotalEmittedParticles));
    aConsole.writeLine(kAsteriskLine);
    aConsole.writeLine("Press ENTER to end program");
    aConsole.waitForEnter();

    // The engine frees the run's descriptors, then the listing goes.
    engine.reset();
    aRequest.outputsListing.clear();
}

#pragma once
// The run start and summary: creates the engine from the run request,
// creates the output folder, records the run start time, runs the main loop,
// prints the elapsed time and the totals, waits for ENTER and destroys the
// engine.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/u_tParticleManager.h"
#include "frontend/u_Console.h"
#include "frontend/u_Dialogue.h"
#include "frontend/u_MemoryEstimate.h"

namespace kwd::frontend {

// The line of 54 asterisks that frames the start and the summary.
extern const char* const kAsteriskLine;

// Refuses a run whose data files cannot hold what the engine reads: a data
// file that is missing, or holds fewer than the engine's 23 variable blocks
// of its descriptor's grid, or a grid of more cells than a data file can
// hold, raises kwd::InputError naming the data set. Checked for every data
// set before the engine sizes its fields from the grid (so a corrupt
// descriptor cannot ask for more memory than its data file backs) and
// before the first period runs.
void checkDataFiles(const std::vector<kwd::dataset::TZDXFile>& aDescriptors);

// Refuses (kwd::RunSetupError) a detector box from which no particle could
// be released inside the model box of aFirst, the data set the run starts
// with: along some axis the box lies wholly below 0 or beyond the model's
// length. A box that reaches into the model in part is fine.
void checkDetectorInModel(const kwd::engine::tDetector& aDetector,
                          const kwd::dataset::TZDXFile& aFirst);

// Warnings about a detector box that a run can start with but that loses
// particles at once, against the fields of the engine's current data set
// (loaded): one line when the box reaches outside the model area, one that
// names the obstacle cells (object code 1) the box reaches into. None for a
// box wholly in free cells of the model.
std::vector<std::string> detectorWarnings(const kwd::engine::tDetector& aDetector,
                                          const kwd::engine::tParticleManager& aEngine);

// Every check of the run start before the engine is created: the data
// files, the detector and the memory the run needs (checkRunMemory against
// the machine's physical memory), for particles released in batches of
// aBatchSize. Returns the memory estimate.
tMemoryEstimate checkRunStart(const tRunRequest& aRequest, int64_t aBatchSize);

// How a run treats the files it finds in its output folder.
enum class tOutputFolderUse {
    AsFound,        // used as it is (the dialogue)
    RefuseResults,  // a folder that holds files ends the run at once
    Emptied         // its files are deleted first
};

// What a run started from the command line sets beyond the request; the
// defaults are the dialogue's.
struct tRunControl {
    std::vector<std::string> commandLine;  // for the run record; empty: the dialogue
    bool finalPrompt = true;               // "Press ENTER to end program" and wait
    std::optional<uint64_t> seed;          // nothing: runSeed() (KWD_SEED or the clock)
    int64_t batchSize = KWD_BATCH_SIZE;    // particles released per batch
    tOutputFolderUse folderUse = tOutputFolderUse::AsFound;
};

// Carries out the run. The engine takes the request's descriptor list over;
// the request (with the outputs listing) must outlive the call. The main
// loop's progress lines go to the console's output as well. The output
// folder is locked for the whole run (tOutputFolderLock) and receives the
// run record (run.json). Errors pass on.
void runSimulation(tRunRequest& aRequest, tConsole& aConsole,
                   const tRunControl& aControl = tRunControl());

}  // namespace kwd::frontend

#pragma once
// The run start and summary: creates the engine from the run request,
// creates the output folder, records the run start time, runs the main loop,
// prints the elapsed time and the totals, waits for ENTER and destroys the
// engine.

#include <cstdint>
#include <string>
#include <vector>

#include "frontend/u_Console.h"
#include "frontend/u_Dialogue.h"

// The line of 54 asterisks that frames the start and the summary.
extern const char* const kAsteriskLine;

// hours + " hour(s), " + minutes + " minute(s), " + seconds +
// " second(s) elapsed since start of the simulation": whole hours (not
// reduced), minutes and seconds modulo 60.
std::string elapsedTimeLine(int64_t aElapsedSeconds);

// Refuses a run whose data files cannot hold what the engine reads: a data
// file that is there but holds fewer than the engine's 23 variable blocks of
// its descriptor's grid, or a grid of more cells than a data file can hold,
// raises kwd::InputError naming the data set. Checked before the engine
// sizes its fields from the grid, so a corrupt descriptor cannot ask for
// more memory than its data file backs. A missing data file is left to the
// run, which reports it when it reads it.
void checkDataFiles(const std::vector<TZDXFile>& aDescriptors);

// Refuses (kwd::RunSetupError) a detector box from which no particle could
// be released inside the model box of aFirst, the data set the run starts
// with: along some axis the box lies wholly below 0 or beyond the model's
// length. A box that reaches into the model in part is fine.
void checkDetectorInModel(const tDetector& aDetector, const TZDXFile& aFirst);

// Carries out the run. The engine takes the request's descriptor list over;
// the request (with the outputs listing) must outlive the call. The main
// loop's progress lines go to the console's output as well. Errors pass on.
void runSimulation(tRunRequest& aRequest, tConsole& aConsole);

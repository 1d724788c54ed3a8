#pragma once
// The run start and summary: creates the engine from the run request,
// creates the output folder, records the run start time, runs the main loop,
// prints the elapsed time and the totals, waits for ENTER and destroys the
// engine.

#include <cstdint>
#include <string>

#include "frontend/u_Console.h"
#include "frontend/u_Dialogue.h"

// The line of 54 asterisks that frames the start and the summary.
extern const char* const kAsteriskLine;

// hours + " hour(s), " + minutes + " minute(s), " + seconds +
// " second(s) elapsed since start of the simulation": whole hours (not
// reduced), minutes and seconds modulo 60.
std::string elapsedTimeLine(int64_t aElapsedSeconds);

// Carries out the run. The engine takes the request's descriptor list over;
// the request (with the outputs listing) must outlive the call. The main
// loop's progress lines go to the console's output as well. Errors pass on.
void runSimulation(tRunRequest& aRequest, tConsole& aConsole);

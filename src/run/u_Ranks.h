#pragma once
// One run on several processes (`mpirun -np R kwd-footprint run RUN.tra`):
// every process reads the data sets, releases every particle and runs the
// whole main loop on its own copy of the particle list; in each pass it
// steps only its share of the moving particles (by serial number, see
// tParticleManager::stepsHere), and after the pass the processes copy each
// other's stepped particles in. Every process then holds the list one
// process would hold, so that accumulation, outputs, removal and carry-over
// run unchanged; process 0 alone writes files and console lines. The
// touchdown sums are exact integers: they are added over the processes
// before they are counted.
//
// Errors: a process that fails ends every process with the same error. The
// processes agree at fixed points (the start of a batch, after each pass,
// before the touchdowns are counted, the end of the main loop and the end
// of the run command); a process that fails between two points joins the
// next one through failTogether. The error every process ends with is that
// of the lowest process that failed.
//
// One process (the default build, or a build with KWD_MPI started without
// mpirun) takes none of these paths: every call below is then a plain pass
// through, and the run is exactly the run of one process.

#include <cstdint>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "engine/u_tParticleManager.h"
#include "platform/KwdError.h"

namespace kwd::run::ranks {

// The processes' communication for the life of the program (main).
class tRankSession {
public:
    tRankSession(int& argc, char**& argv);
    ~tRankSession();
    tRankSession(const tRankSession&) = delete;
    tRankSession& operator=(const tRankSession&) = delete;
};

// This process and the number of processes of the run.
int rank();
int count();
// Whether this process writes the run's files and console lines (process 0).
inline bool writesFiles() { return rank() == 0; }

// Collective: every process says whether it failed (aLocal) and which
// signal asked it to stop (0: none). Where any failed, every process throws
// the error of the lowest that did (its own error there, the same type name
// and message elsewhere); else returns the highest signal. One process:
// rethrows aLocal, else returns aSignal.
int agree(std::exception_ptr aLocal = nullptr, int aSignal = 0);
// For a catch block: joins the next agreement with aLocal and throws what
// it gives, unless an agreement raised the error being handled (every
// process has it already): then rethrows aLocal.
[[noreturn]] void failTogether(std::exception_ptr aLocal);

// Collective: the seed of process 0 on every process.
uint64_t sharedSeed(uint64_t aSeed);
// Gives the engine this process's share of the particles; the processes
// other than 0 draw no progress line.
void shareParticles(engine::tParticleManager& e);

// What a pass of this process stepped: the list indices of its moving
// particles before the pass and the hit count then.
struct tPassShare {
    std::vector<int64_t> stepped;
    int64_t hitsBefore = 0;
    size_t recordsBefore = 0;
};
// Before a pass (none on one process).
tPassShare beforePass(const engine::tParticleManager& e);
// Collective, after a pass that ended with aFailure (null: none): agrees on
// errors and signals (as agree), copies every process's stepped particles
// into the list, adds the hits of all processes and puts the touchdown
// records of the pass in list order. Returns the signal that asked the run
// to stop (0: none).
int afterPass(engine::tParticleManager& e, const tPassShare& aShare, std::exception_ptr aFailure);
// Collective: adds the touchdown sums of every process (exact) so that each
// holds the sums of all.
void combineTouchdowns(engine::tParticleManager& e);

// The error of another process: its type name and message, as the line
// "<TypeName>: <message>" gives them.
class tRankError : public kwd::KwdError {
public:
    tRankError(std::string aTypeName, const std::string& aMessage)
        : KwdError(aMessage), fTypeName(std::move(aTypeName)) {}
    const char* typeName() const noexcept override { return fTypeName.c_str(); }

private:
    std::string fTypeName;
};

// An error as bytes and back (another process's error: the same line, and
// an interruption stays an interruption with its signal).
std::string encodeError(std::exception_ptr aError);
[[noreturn]] void throwEncodedError(const std::string& aBytes);

// What the exchanges of this process cost so far: the time spent waiting
// for the other processes at the agreements (their passes take longer), the
// time spent copying particles, hits, touchdowns and errors between the
// processes, and the bytes received.
struct tExchangeTotals {
    double waitSeconds = 0.0;
    double exchangeSeconds = 0.0;
    int64_t bytes = 0;
};
tExchangeTotals exchangeTotals();

}  // namespace kwd::run::ranks

#pragma once
// The few collective operations a run split between processes needs, over
// the processes of the run (MPI ranks in the build with KWD_MPI; one process
// otherwise). The run's rules on top of them are in u_Ranks.h; nothing else
// sees how the processes talk.
//
// Every call below except rank() and count() is collective: every process
// of the run makes it, in the same order.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kwd::run::ranks::transport {

// Starts the processes' communication (argc and argv as main has them) and
// ends it; start() before any other call, finish() at the very end.
void start(int& argc, char**& argv);
void finish();

// This process (0 .. count() - 1) and the number of processes; 0 and 1
// where the communication was not started.
int rank();
int count();

// What every process said: the lowest process that failed (count() where
// none did) and the highest signal number (0 where none came).
struct tStatus {
    int lowestFailed = 0;
    int signal = 0;
};
tStatus agreeStatus(bool aFailed, int aSignal);

// aBytes of process aRoot, on every process.
void broadcast(std::string& aBytes, int aRoot);

// The items of every process one after another, in process order (items of
// aItemSize bytes, aItems of them here); aItemsPerProcess receives the
// number each process gave.
std::vector<char> allGather(const void* aData, size_t aItems, size_t aItemSize,
                            std::vector<size_t>& aItemsPerProcess);

// The sum of aValue over the processes.
int64_t sum(int64_t aValue);

}  // namespace kwd::run::ranks::transport

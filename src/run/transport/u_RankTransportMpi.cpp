// The run on several processes: the collective operations of
// u_RankTransport.h over MPI_COMM_WORLD (Open MPI). Only the main thread
// calls MPI (the OpenMP workers never do): MPI_THREAD_FUNNELED.

#include <mpi.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/KwdError.h"
#include "run/u_RankTransport.h"

namespace kwd::run::ranks::transport {

namespace {

bool started() {
    int initialised = 0, finalised = 0;
    MPI_Initialized(&initialised);
    MPI_Finalized(&finalised);
    return initialised != 0 && finalised == 0;
}

// An MPI count: items of one call stay below 2^31.
int countOf(size_t aItems, const char* aWhat) {
    if (aItems > size_t(INT_MAX))
        throw kwd::GeneralError(std::string("too many items to exchange between processes (") +
                                aWhat + "): " + std::to_string(aItems));
    return int(aItems);
}

}  // namespace

void start(int& argc, char**& argv) {
    int provided = 0;
    MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
    // Errors end the whole job (the default); the run agrees on its own
    // errors before they could leave a process waiting.
}

void finish() {
    if (started()) MPI_Finalize();
}

int rank() {
    if (!started()) return 0;
    int r = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &r);
    return r;
}

int count() {
    if (!started()) return 1;
    int n = 1;
    MPI_Comm_size(MPI_COMM_WORLD, &n);
    return n;
}

tStatus agreeStatus(bool aFailed, int aSignal) {
    if (count() == 1) return {aFailed ? 0 : 1, aSignal};
    // One reduction: the lowest failing process, and the highest signal.
    int mine[2] = {aFailed ? rank() : count(), -aSignal};
    int all[2] = {0, 0};
    MPI_Allreduce(mine, all, 2, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
    return {all[0], -all[1]};
}

void broadcast(std::string& aBytes, int aRoot) {
    if (count() == 1) return;
    unsigned long long size = aBytes.size();
    MPI_Bcast(&size, 1, MPI_UNSIGNED_LONG_LONG, aRoot, MPI_COMM_WORLD);
    aBytes.resize(size_t(size));
    MPI_Bcast(aBytes.data(), countOf(aBytes.size(), "broadcast"), MPI_BYTE, aRoot,
              MPI_COMM_WORLD);
}

std::vector<char> allGather(const void* aData, size_t aItems, size_t aItemSize,
                            std::vector<size_t>& aItemsPerProcess) {
    const int n = count();
    if (n == 1) {
        aItemsPerProcess.assign(1, aItems);
        std::vector<char> all(aItems * aItemSize);
        if (!all.empty()) std::memcpy(all.data(), aData, all.size());
        return all;
    }
    unsigned long long mine = aItems;
    std::vector<unsigned long long> counts(size_t(n), 0);
    MPI_Allgather(&mine, 1, MPI_UNSIGNED_LONG_LONG, counts.data(), 1, MPI_UNSIGNED_LONG_LONG,
                  MPI_COMM_WORLD);
    aItemsPerProcess.assign(counts.begin(), counts.end());
    size_t total = 0;
    std::vector<int> itemCounts(static_cast<size_t>(n)), offsets(static_cast<size_t>(n));
    for (int r = 0; r < n; ++r) {
        offsets[size_t(r)] = countOf(total, "offsets");
        itemCounts[size_t(r)] = countOf(size_t(counts[size_t(r)]), "items");
        total += size_t(counts[size_t(r)]);
    }
    (void)countOf(total, "items");
    // Items of one datatype, so that the counts stay items, not bytes.
    MPI_Datatype item;
    MPI_Type_contiguous(countOf(aItemSize, "item size"), MPI_BYTE, &item);
    MPI_Type_commit(&item);
    std::vector<char> all(total * aItemSize);
    MPI_Allgatherv(aData, itemCounts[size_t(rank())], item, all.data(), itemCounts.data(),
                   offsets.data(), item, MPI_COMM_WORLD);
    MPI_Type_free(&item);
    return all;
}

int64_t sum(int64_t aValue) {
    if (count() == 1) return aValue;
    long long mine = aValue, total = 0;
    MPI_Allreduce(&mine, &total, 1, MPI_LONG_LONG, MPI_SUM, MPI_COMM_WORLD);
    return int64_t(total);
}

}  // namespace kwd::run::ranks::transport

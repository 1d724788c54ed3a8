// The run on one process: the collective operations of u_RankTransport.h
// with nobody to talk to (the default build).

#include <cstring>

#include "run/u_RankTransport.h"

namespace kwd::run::ranks::transport {

void start(int&, char**&) {}
void finish() {}
int rank() { return 0; }
int count() { return 1; }

tStatus agreeStatus(bool aFailed, int aSignal) { return {aFailed ? 0 : 1, aSignal}; }

void broadcast(std::string&, int) {}

std::vector<char> allGather(const void* aData, size_t aItems, size_t aItemSize,
                            std::vector<size_t>& aItemsPerProcess) {
    aItemsPerProcess.assign(1, aItems);
    std::vector<char> all(aItems * aItemSize);
    if (!all.empty()) std::memcpy(all.data(), aData, all.size());
    return all;
}

int64_t sum(int64_t aValue) { return aValue; }

}  // namespace kwd::run::ranks::transport

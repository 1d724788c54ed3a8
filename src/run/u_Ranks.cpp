// One run on several processes: agreement on errors and signals, the copy
// of the stepped particles after each pass, the sums of the touchdowns.

#include "run/u_Ranks.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

#include "platform/Interrupt.h"
#include "run/u_RankTransport.h"

namespace kwd::run::ranks {

using engine::tParticle;
using engine::tParticleManager;
using engine::tExactSum;
using engine::tFootprintModel;
using engine::tTouchdownColumns;
using engine::tTouchdownRecord;

namespace {

static_assert(std::is_trivially_copyable_v<tParticle>, "particles are copied as bytes");
static_assert(std::is_trivially_copyable_v<tTouchdownRecord>, "records are copied as bytes");

// An agreement has raised the error being handled on every process.
bool gAgreedFailure = false;
tExchangeTotals gTotals;

using tClock = std::chrono::steady_clock;
double secondsSince(tClock::time_point aStart) {
    return std::chrono::duration<double>(tClock::now() - aStart).count();
}

// Test hook of the agreement: KWD_TEST_FAIL_RANK=R makes process R of a run
// of several fail in its first pass, as a floating-point fault would.
bool failsForTest() {
    static const char* const value = std::getenv("KWD_TEST_FAIL_RANK");
    static bool done = false;
    if (done || value == nullptr || std::to_string(rank()) != value) return false;
    done = true;
    return true;
}

template <typename T>
void put(std::string& aBytes, const T* aValues, size_t aCount) {
    aBytes.append(reinterpret_cast<const char*>(aValues), aCount * sizeof(T));
}
template <typename T>
void put(std::string& aBytes, T aValue) {
    put(aBytes, &aValue, 1);
}

// Reads what put wrote, in the same order.
class tReader {
public:
    tReader(const char* aData, size_t aSize) : fAt(aData), fEnd(aData + aSize) {}
    template <typename T>
    void get(T* aValues, size_t aCount) {
        const size_t size = aCount * sizeof(T);
        if (size_t(fEnd - fAt) < size)
            throw kwd::GeneralError("touchdown sums of another process end early");
        std::memcpy(static_cast<void*>(aValues), fAt, size);
        fAt += size;
    }
    template <typename T>
    T get() {
        T value{};
        get(&value, 1);
        return value;
    }
    bool done() const { return fAt == fEnd; }

private:
    const char* fAt;
    const char* fEnd;
};

}  // namespace

tRankSession::tRankSession(int& argc, char**& argv) {
    transport::start(argc, argv);
    gAgreedFailure = false;
}

tRankSession::~tRankSession() { transport::finish(); }

int rank() { return transport::rank(); }
int count() { return transport::count(); }

std::string encodeError(std::exception_ptr aError) {
    std::string type = "InternalError", message = "an unknown error ended the program";
    int signal = 0;
    try {
        std::rethrow_exception(aError);
    } catch (const std::exception& e) {
        const std::string line = kwd::errorLine(e);
        const size_t colon = line.find(": ");
        type = line.substr(0, colon);
        message = colon == std::string::npos ? std::string() : line.substr(colon + 2);
        if (const auto* i = dynamic_cast<const kwd::Interrupted*>(&e)) signal = i->signalNumber();
    } catch (...) {
    }
    return std::to_string(signal) + "\n" + type + "\n" + message;
}

void throwEncodedError(const std::string& aBytes) {
    const size_t first = aBytes.find('\n');
    const size_t second = first == std::string::npos ? first : aBytes.find('\n', first + 1);
    if (second == std::string::npos)
        throw tRankError("InternalError", "an unreadable error came from another process");
    const int signal = std::atoi(aBytes.substr(0, first).c_str());
    const std::string type = aBytes.substr(first + 1, second - first - 1);
    if (type == "Interrupted" && signal > 0) throw kwd::Interrupted(signal);
    throw tRankError(type, aBytes.substr(second + 1));
}

int agree(std::exception_ptr aLocal, int aSignal) {
    if (count() == 1) {
        if (aLocal) std::rethrow_exception(aLocal);
        return aSignal;
    }
    const tClock::time_point start = tClock::now();
    const transport::tStatus status = transport::agreeStatus(aLocal != nullptr, aSignal);
    gTotals.waitSeconds += secondsSince(start);
    if (status.lowestFailed >= count()) return status.signal;
    std::string error = rank() == status.lowestFailed ? encodeError(aLocal) : std::string();
    transport::broadcast(error, status.lowestFailed);
    gAgreedFailure = true;
    if (rank() == status.lowestFailed) std::rethrow_exception(aLocal);
    throwEncodedError(error);
}

void failTogether(std::exception_ptr aLocal) {
    if (count() > 1 && !gAgreedFailure) (void)agree(aLocal);
    std::rethrow_exception(aLocal);
}

uint64_t sharedSeed(uint64_t aSeed) {
    if (count() == 1) return aSeed;
    (void)agree();
    std::string bytes(sizeof aSeed, '\0');
    std::memcpy(bytes.data(), &aSeed, sizeof aSeed);
    transport::broadcast(bytes, 0);
    std::memcpy(&aSeed, bytes.data(), sizeof aSeed);
    return aSeed;
}

void shareParticles(tParticleManager& e) {
    e.fShareIndex = rank();
    e.fShareCount = count();
    if (rank() != 0) e.fRunProgress.disable();
}

tPassShare beforePass(const tParticleManager& e) {
    tPassShare share;
    if (count() == 1) return share;
    for (size_t n = 0; n < e.fParticleList.size(); ++n) {
        const tParticle& p = e.fParticleList[n];
        if (p.fLoopIdx == e.fMainLoopIdx && p.fInModel && e.stepsHere(p))
            share.stepped.push_back(int64_t(n));
    }
    share.hitsBefore = e.fTotalParticlesInTarget;
    share.recordsBefore = e.fTouchdowns.records.size();
    return share;
}

int afterPass(tParticleManager& e, const tPassShare& aShare, std::exception_ptr aFailure) {
    if (count() == 1) {
        if (aFailure) std::rethrow_exception(aFailure);
        return kwd::interruptSignal();
    }
    if (!aFailure && failsForTest())
        aFailure = std::make_exception_ptr(kwd::FloatingPointError(
            "invalid operation in the particle step of process " + std::to_string(rank()) +
            " (test)"));
    const int signal = agree(aFailure, kwd::interruptSignal());
    const tClock::time_point start = tClock::now();

    // The particles every process stepped, copied into the list by index.
    std::vector<tParticle> mine;
    mine.reserve(aShare.stepped.size());
    for (const int64_t n : aShare.stepped) mine.push_back(e.fParticleList[size_t(n)]);
    std::vector<size_t> perProcess;
    const std::vector<char> indexBytes = transport::allGather(
        aShare.stepped.data(), aShare.stepped.size(), sizeof(int64_t), perProcess);
    const std::vector<char> particleBytes =
        transport::allGather(mine.data(), mine.size(), sizeof(tParticle), perProcess);
    size_t item = 0;
    for (int r = 0; r < count(); ++r) {
        for (size_t m = 0; m < perProcess[size_t(r)]; ++m, ++item) {
            if (r == rank()) continue;
            int64_t n = 0;
            std::memcpy(&n, indexBytes.data() + item * sizeof n, sizeof n);
            std::memcpy(static_cast<void*>(&e.fParticleList[size_t(n)]),
                        particleBytes.data() + item * sizeof(tParticle), sizeof(tParticle));
        }
    }
    gTotals.bytes += int64_t(indexBytes.size() + particleBytes.size());

    e.fTotalParticlesInTarget =
        aShare.hitsBefore + transport::sum(e.fTotalParticlesInTarget - aShare.hitsBefore);

    // The touchdown records of the pass, in list order (those of a particle
    // come from the one process that stepped it, in the order they happened).
    if (e.fFootprintModel == tFootprintModel::Touchdown && e.fTouchdownList) {
        std::vector<tTouchdownRecord>& records = e.fTouchdowns.records;
        const size_t before = std::min(aShare.recordsBefore, records.size());
        const std::vector<char> all = transport::allGather(
            records.data() + before, records.size() - before, sizeof(tTouchdownRecord),
            perProcess);
        records.resize(before + all.size() / sizeof(tTouchdownRecord));
        if (!all.empty())
            std::memcpy(static_cast<void*>(records.data() + before), all.data(), all.size());
        std::stable_sort(records.begin() + std::ptrdiff_t(before), records.end(),
                         [](const tTouchdownRecord& a, const tTouchdownRecord& b) {
                             return a.listIndex < b.listIndex;
                         });
        gTotals.bytes += int64_t(all.size());
    }
    // The moving particles of this process are found anew: the list changed.
    e.forgetMovingParticles();
    gTotals.exchangeSeconds += secondsSince(start);
    return signal;
}

void combineTouchdowns(tParticleManager& e) {
    if (count() == 1) return;
    (void)agree();
    const tClock::time_point start = tClock::now();
    std::string bytes;
    const std::vector<tTouchdownColumns>& slots = e.fTouchdowns.slots();
    put(bytes, uint64_t(slots.size()));
    for (const tTouchdownColumns& s : slots) {
        put(bytes, uint64_t(s.flux.size()));
        if (s.empty()) continue;
        put(bytes, s.flux.data(), s.flux.size());
        put(bytes, s.con.data(), s.con.size());
        put(bytes, s.count.data(), s.count.size());
        put(bytes, uint64_t(s.fluxByCode.size()));
        for (const auto& [code, sum] : s.fluxByCode) {
            put(bytes, code);
            put(bytes, sum);
        }
    }
    e.fTouchdowns.clear();
    std::vector<size_t> perProcess;
    const std::vector<char> all = transport::allGather(bytes.data(), bytes.size(), 1, perProcess);
    size_t at = 0;
    for (const size_t size : perProcess) {
        tReader in(all.data() + at, size);
        at += size;
        const uint64_t slotCount = in.get<uint64_t>();
        for (uint64_t slot = 0; slot < slotCount; ++slot) {
            const uint64_t columns = in.get<uint64_t>();
            if (columns == 0) continue;
            tTouchdownColumns c;
            c.flux.resize(columns);
            c.con.resize(columns);
            c.count.resize(columns);
            in.get(c.flux.data(), columns);
            in.get(c.con.data(), columns);
            in.get(c.count.data(), columns);
            const uint64_t codes = in.get<uint64_t>();
            for (uint64_t n = 0; n < codes; ++n) {
                const int64_t code = in.get<int64_t>();
                c.fluxByCode.emplace_back(code, in.get<tExactSum>());
            }
            e.fTouchdowns.addColumns(size_t(slot), std::move(c));
        }
        if (!in.done()) throw kwd::GeneralError("touchdown sums of another process run on");
    }
    gTotals.bytes += int64_t(all.size());
    gTotals.exchangeSeconds += secondsSince(start);
}

tExchangeTotals exchangeTotals() { return gTotals; }

}  // namespace kwd::run::ranks

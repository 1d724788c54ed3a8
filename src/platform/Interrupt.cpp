#include "platform/Interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace kwd {

namespace {

// Lock-free, so the handler may set it and every worker thread read it.
std::atomic<int> gSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> gGuards{0};
struct sigaction gOldInt, gOldTerm;

extern "C" void onInterrupt(int aSignal) {
    if (gSignal.exchange(aSignal) == aSignal) _exit(128 + aSignal);  // asked twice: at once
}

}  // namespace

Interrupted::Interrupted(int aSignal)
    : KwdError("the run was stopped by " + signalName(aSignal) +
               "; the files written so far are whole"),
      fSignal(aSignal) {}

tInterruptGuard::tInterruptGuard() {
    if (gGuards.fetch_add(1) != 0) return;
    gSignal.store(0);
    struct sigaction sa{};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;  // a write under way goes on to its end
    sigaction(SIGINT, &sa, &gOldInt);
    sigaction(SIGTERM, &sa, &gOldTerm);
}

tInterruptGuard::~tInterruptGuard() {
    if (gGuards.fetch_sub(1) != 1) return;
    sigaction(SIGINT, &gOldInt, nullptr);
    sigaction(SIGTERM, &gOldTerm, nullptr);
}

int interruptSignal() { return gSignal.load(std::memory_order_relaxed); }

std::string signalName(int aSignal) {
    if (aSignal == SIGINT) return "SIGINT";
    if (aSignal == SIGTERM) return "SIGTERM";
    return "signal " + std::to_string(aSignal);
}

void throwIfInterrupted() {
    if (const int s = interruptSignal(); s != 0) throw Interrupted(s);
}

int exitStatusOf(const std::exception& e) {
    if (const auto* i = dynamic_cast<const Interrupted*>(&e)) return 128 + i->signalNumber();
    return 1;
}

}  // namespace kwd

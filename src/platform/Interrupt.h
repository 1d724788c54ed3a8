#pragma once
// Interruption of a run by SIGINT or SIGTERM. While a tInterruptGuard lives,
// the two signals only record that they came; the run looks at
// interruptSignal() between pieces of work (never in the middle of a file it
// writes) and ends with an Interrupted error, so every file stays whole. A
// second signal of the same kind ends the process at once. Outside a guard
// the signals keep their usual effect.

#include <string>

#include "platform/KwdError.h"

namespace kwd {

// The run was interrupted by a signal; the program's entry ends with status
// 128 + the signal's number (130 for SIGINT, 143 for SIGTERM).
class Interrupted : public KwdError {
public:
    explicit Interrupted(int aSignal);
    const char* typeName() const noexcept override { return "Interrupted"; }
    int signalNumber() const noexcept { return fSignal; }

private:
    int fSignal;
};

class tInterruptGuard {
public:
    tInterruptGuard();
    ~tInterruptGuard();
    tInterruptGuard(const tInterruptGuard&) = delete;
    tInterruptGuard& operator=(const tInterruptGuard&) = delete;
};

// The signal that asked the run to stop, 0 while none did.
int interruptSignal();
// "SIGINT", "SIGTERM" or "signal N".
std::string signalName(int aSignal);
// Throws Interrupted when a signal asked the run to stop.
void throwIfInterrupted();
// The exit status of a program ended by this error: 128 + the signal for an
// interruption, 1 for every other error.
int exitStatusOf(const std::exception& e);

}  // namespace kwd

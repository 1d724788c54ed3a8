#pragma once
// A progress line for long runs, on standard error, at most every 2 s: where
// the run stands (period, batch, step), the particles still moving, the
// sub-steps per second and an estimate of the time left. Only when standard
// error is a terminal or KWD_PROGRESS=1 is set; the progress text of standard
// output is not touched.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace kwd::engine {

class tRunProgress {
public:
    using tClock = std::chrono::steady_clock;

    // Enabled from the environment (terminal or KWD_PROGRESS=1).
    tRunProgress();
    // Enabled or not, writing to `out` (for tests).
    tRunProgress(bool aEnabled, std::ostream* aOut);

    bool enabled() const { return fEnabled; }
    // No line from here on (the processes of a run beside the one that prints).
    void disable() { fEnabled = false; }
    void startRun(int64_t aPeriods, int64_t aBatchesPerPeriod);
    void setStep(int64_t aPeriod, int64_t aBatch, int64_t aStep, int64_t aSteps);
    // Sub-steps made by a worker (any thread).
    void addSubSteps(int64_t aCount) { fSubSteps.fetch_add(aCount, std::memory_order_relaxed); }
    // Writes the line when 2 s have passed since the last one; `stepDone` is
    // the share of the current step that is done (0..1). Main thread only.
    void report(int64_t aMoving, double aStepDone, tClock::time_point aNow = tClock::now());

    // The line for the given position and rates (without the line end).
    std::string line(int64_t aMoving, double aStepDone, double aSubStepsPerSecond,
                     double aSecondsElapsed) const;

private:
    bool fEnabled = false;
    std::ostream* fOut = nullptr;
    int64_t fPeriods = 1, fBatches = 1;
    int64_t fPeriod = 0, fBatch = 0, fStep = 0, fSteps = 1;
    tClock::time_point fStart{}, fLast{};
    std::atomic<int64_t> fSubSteps{0};
};

}  // namespace kwd::engine

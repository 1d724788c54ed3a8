#include "engine/u_RunProgress.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace kwd::engine {

namespace {

constexpr auto kEvery = std::chrono::seconds(2);

// "3 min 20 s", "2 h 05 min", "45 s".
std::string durationText(double seconds) {
    const int64_t s = int64_t(std::llround(std::max(0.0, seconds)));
    char buf[64];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%lld h %02lld min", (long long)(s / 3600),
                      (long long)(s / 60 % 60));
    else if (s >= 60)
        std::snprintf(buf, sizeof buf, "%lld min %lld s", (long long)(s / 60), (long long)(s % 60));
    else
        std::snprintf(buf, sizeof buf, "%lld s", (long long)s);
    return buf;
}

bool enabledByEnvironment() {
    const char* v = std::getenv("KWD_PROGRESS");
    if (v != nullptr && std::strcmp(v, "1") == 0) return true;
    if (v != nullptr && std::strcmp(v, "0") == 0) return false;
    return ::isatty(STDERR_FILENO) == 1;
}

}  // namespace

tRunProgress::tRunProgress() : tRunProgress(enabledByEnvironment(), &std::cerr) {}

tRunProgress::tRunProgress(bool aEnabled, std::ostream* aOut) : fEnabled(aEnabled), fOut(aOut) {}

void tRunProgress::startRun(int64_t aPeriods, int64_t aBatchesPerPeriod) {
    fPeriods = std::max<int64_t>(aPeriods, 1);
    fBatches = std::max<int64_t>(aBatchesPerPeriod, 1);
    fStart = fLast = tClock::now();
    fSubSteps.store(0);
}

void tRunProgress::setStep(int64_t aPeriod, int64_t aBatch, int64_t aStep, int64_t aSteps) {
    fPeriod = aPeriod;
    fBatch = aBatch;
    fStep = aStep;
    fSteps = std::max<int64_t>(aSteps, 1);
}

std::string tRunProgress::line(int64_t aMoving, double aStepDone, double aSubStepsPerSecond,
                               double aSecondsElapsed) const {
    // The share of the run done, counting every step of every batch alike.
    const double stepDone = std::clamp(aStepDone, 0.0, 1.0);
    const double batchDone = (double(fStep) + stepDone) / double(fSteps);
    const double periodDone = (double(std::min(fBatch, fBatches - 1)) + batchDone) / double(fBatches);
    const double runDone = (double(fPeriod) + periodDone) / double(fPeriods);
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.3g", aSubStepsPerSecond);
    std::string text = "kwd-footprint: period " + std::to_string(fPeriod + 1) + " of " +
                       std::to_string(fPeriods) + ", batch " + std::to_string(fBatch + 1) +
                       ", step " + std::to_string(fStep + 1) + " of " + std::to_string(fSteps) +
                       ", " + std::to_string(aMoving) + " particles moving, " + rate +
                       " sub-steps/s, ";
    if (runDone > 0.0)
        text += "about " + durationText(aSecondsElapsed * (1.0 - runDone) / runDone) + " left";
    else
        text += "time left not known yet";
    return text;
}

void tRunProgress::report(int64_t aMoving, double aStepDone, tClock::time_point aNow) {
    if (!fEnabled || aNow - fLast < kEvery) return;
    const double sinceLast = std::chrono::duration<double>(aNow - fLast).count();
    const double elapsed = std::chrono::duration<double>(aNow - fStart).count();
    const double rate = double(fSubSteps.exchange(0, std::memory_order_relaxed)) / sinceLast;
    fLast = aNow;
    *fOut << line(aMoving, aStepDone, rate, elapsed) << std::endl;
}

}  // namespace kwd::engine

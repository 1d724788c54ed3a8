// The progress line of long runs: what it says and how often.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "engine/u_RunProgress.h"

using kwd::engine::tRunProgress;

namespace {

using namespace std::chrono_literals;

TEST(RunProgress, LineGivesPositionRateAndTimeLeft) {
    std::ostringstream out;
    tRunProgress p(true, &out);
    p.startRun(4, 2);
    // Period 2 of 4, second batch, step 30 of 60 half done: the run is
    // (1 + (1 + 29.5 / 60) / 2) / 4 = 43.6 % done, so 100 s took that share.
    p.setStep(1, 1, 29, 60);
    EXPECT_EQ(p.line(812345, 0.5, 4.2e6, 100.0),
              "kwd-footprint: period 2 of 4, batch 2, step 30 of 60, 812345 particles moving, "
              "4.2e+06 sub-steps/s, about 2 min 9 s left");
    p.setStep(0, 0, 0, 60);
    const std::string first = p.line(10, 0.0, 0.0, 0.0);
    EXPECT_TRUE(first.ends_with(", 0 sub-steps/s, time left not known yet")) << first;
}

TEST(RunProgress, AtMostEveryTwoSecondsAndOnlyWhenEnabled) {
    std::ostringstream out;
    tRunProgress p(true, &out);
    p.startRun(1, 1);
    p.setStep(0, 0, 0, 10);
    const auto t0 = tRunProgress::tClock::now();
    p.addSubSteps(5000);
    p.report(100, 0.5, t0 + 1s);
    EXPECT_EQ(out.str(), "");
    p.report(100, 0.5, t0 + 2500ms);  // 5000 sub-steps in 2.5 s
    EXPECT_NE(out.str().find(", 2e+03 sub-steps/s, "), std::string::npos) << out.str();
    p.report(100, 0.6, t0 + 3s);
    const std::string text = out.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);

    std::ostringstream quiet;
    tRunProgress off(false, &quiet);
    off.startRun(1, 1);
    off.report(1, 1.0, t0 + 10s);
    EXPECT_EQ(quiet.str(), "");
}

}  // namespace

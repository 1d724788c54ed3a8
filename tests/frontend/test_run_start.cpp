// The run start's summary texts and the program's error handler.

#include <gtest/gtest.h>

#include <sstream>

#include "support/FrontendFixtures.h"
#include "frontend/u_Program.h"
#include "frontend/u_RunStart.h"
#include "run/u_MainLoop.h"

using kwd::run::elapsedTimeLine;

using kwd::frontend::runKwdFootprint;

namespace {

TEST(RunStart, ElapsedTimeLine) {
    struct Case { int64_t seconds; const char* line; } cases[] = {
        {0, "0 hour(s), 0 minute(s), 0 second(s) elapsed since start of the simulation"},
        {59, "0 hour(s), 0 minute(s), 59 second(s) elapsed since start of the simulation"},
        {3599, "0 hour(s), 59 minute(s), 59 second(s) elapsed since start of the simulation"},
        {3 * 3600 + 5 * 60 + 7, "3 hour(s), 5 minute(s), 7 second(s) elapsed since start of the simulation"},
        {26 * 3600, "26 hour(s), 0 minute(s), 0 second(s) elapsed since start of the simulation"},
    };
    for (const Case& c : cases) EXPECT_EQ(elapsedTimeLine(c.seconds), c.line);
}

TEST(Program, AnErrorIsOneLineAndStatusOne) {
    std::istringstream in("7\n");
    std::ostringstream out;
    EXPECT_EQ(runKwdFootprint(in, out), 1);
    const std::vector<std::string> l = kwd::test::lines(out.str());
    ASSERT_GE(l.size(), 2u);
    EXPECT_EQ(l[l.size() - 2], "2: Input using console");
    EXPECT_EQ(l.back(), "InputError: end of input while waiting for the input type (1 or 2)");
}

TEST(Program, MissingRootOfARunConfigurationEndsWithStatusOneAndNoLine) {
    kwd::test::tTempFolder dir;
    std::istringstream in("1\n" + dir.file("none.tra") + "\n");
    std::ostringstream out;
    EXPECT_EQ(runKwdFootprint(in, out), 1);
    EXPECT_EQ(kwd::test::lines(out.str()).back(), "Please enter the path to the *.tra file");
}

TEST(Program, EngineErrorsReachTheErrorHandler) {
    // A data set whose model time does not read: the engine's error ends the
    // run after the start lines, without the final prompt.
    kwd::test::tTempFolder dir;
    const example::tWritten w = example::writeExample(kwd::test::tinyOptions(dir.file("sim")));
    std::string zdx = kwd::test::readText(w.zdxPaths[0]);
    zdx.replace(zdx.find("<simulation_time> 10:00:00 "), 27, "<simulation_time> 10:00:0x ");
    kwd::test::writeText(w.zdxPaths[0], zdx);
    std::istringstream in("1\n" + w.traPath + "\n\n");
    std::ostringstream out;
    EXPECT_EQ(runKwdFootprint(in, out), 1);
    const std::vector<std::string> l = kwd::test::lines(out.str());
    EXPECT_TRUE(kwd::test::contains(l, "******************************************************"));
    EXPECT_EQ(l.back(), "ConversionError: data set " + w.zdxPaths[0] +
                            ": model time \"21.06.2018 10:00:0x\" does not read as dd.mm.yyyy hh:mm:ss");
    EXPECT_FALSE(kwd::test::contains(l, "Press ENTER to end program"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("sim/trajectory")));
}

TEST(Program, AMissingDataFileIsRefusedBeforeTheRunStarts) {
    // The data file of the earlier data set, needed only in the last period.
    kwd::test::tTempFolder dir;
    const example::tWritten w = example::writeExample(kwd::test::tinyOptions(dir.file("sim"), 3));
    const std::string zdt = w.zdxPaths[0].substr(0, w.zdxPaths[0].size() - 4) + ".ZDT";
    std::filesystem::remove(zdt);
    std::istringstream in("1\n" + w.traPath + "\n\n");
    std::ostringstream out;
    EXPECT_EQ(runKwdFootprint(in, out), 1);
    const std::vector<std::string> l = kwd::test::lines(out.str());
    EXPECT_EQ(l.back(), "InputError: data set " + w.zdxPaths[0] + ": ZDT file \"" + zdt +
                            "\" cannot be read: No such file or directory");
    EXPECT_FALSE(kwd::test::contains(l, "******************************************************"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("sim/trajectory")));
}

}  // namespace

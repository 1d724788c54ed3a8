// The built program with piped answers on tiny generated simulations.
//
// A run releases a full batch of particles per data-set period, so the
// simulations are tiny (8 x 8 x 4 cells, outputs two minutes apart) and the
// detector lies in a building next to a lawn: every particle ends in its
// first sub-step, about 1 % of them on the lawn. One run takes about a second.

#include <gtest/gtest.h>

#include <map>

#include "support/FrontendFixtures.h"
#include "platform/FileIO.h"

namespace {

using kwd::test::contains;
using kwd::test::countStartingWith;
using kwd::test::fileNames;
using kwd::test::runProgram;
using kwd::test::tTempFolder;

const std::string kBatch = std::to_string(KWD_BATCH_SIZE);
const std::string kAsterisks = "******************************************************";

struct Simulation {
    tTempFolder dir;
    example::tWritten written;
    std::string root;
    explicit Simulation(int32_t outputs = 2) {
        example::tOptions o = kwd::test::tinyOptions(dir.file("sim"), outputs);
        const example::tScene scene = example::makeScene(o);
        EXPECT_TRUE(kwd::test::buildingLawnDetector(scene, o.detector));
        written = example::writeExample(o);
        root = dir.file("sim");
    }
    std::string trajectory() const { return root + "/trajectory"; }
    std::string detectorAnswers() const {
        std::string a;
        for (double v : written.detector) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.3f\n", v);
            a += buf;
        }
        return a;
    }
};

// Checks the closing block of a finished run and returns the two totals.
void expectSummary(const kwd::test::tProgramRun& run, const std::string& emitted) {
    ASSERT_GE(run.lines.size(), 8u) << run.output;
    const auto& l = run.lines;
    const size_t n = l.size();
    EXPECT_EQ(l[n - 1], "Press ENTER to end program");
    EXPECT_EQ(l[n - 2], kAsterisks);
    EXPECT_EQ(l[n - 3], "Total amount of particles simulated: " + emitted);
    EXPECT_EQ(l[n - 4].rfind("Total amount of particles through emitter: ", 0), 0u) << l[n - 4];
    EXPECT_NE(l[n - 5].find(" second(s) elapsed since start of the simulation"), std::string::npos);
    EXPECT_EQ(l[n - 6].rfind("Simulation finished: ", 0), 0u) << l[n - 6];
    EXPECT_EQ(l[n - 7], kAsterisks);
    EXPECT_EQ(l[n - 8], "");
    // The start block.
    const auto start = std::find(l.begin(), l.end(), "Press any key to start the simulation");
    ASSERT_NE(start, l.end());
    ASSERT_GE(l.end() - start, 5);
    EXPECT_EQ(start[1], kAsterisks);
    EXPECT_EQ(start[2].rfind("Simulation started: ", 0), 0u) << start[2];
    EXPECT_EQ(start[3], kAsterisks);
    EXPECT_EQ(start[4], "");
}

void expectResultFiles(const std::string& trajectory, size_t periods) {
    const std::vector<std::string> names = fileNames(trajectory);
    EXPECT_TRUE(contains(names, "logFile.log"));
    EXPECT_EQ(countStartingWith(names, "ParticleList_"), periods);
    EXPECT_EQ(countStartingWith(names, "VirtPart_"), 2 * periods);  // ZDX + ZDT per period end
    for (const char* prefix : {"SourceStrengthIJ_", "Sum_1_BY_WEmitter_IJ_",
                               "Sum_WDetec_BY_WEmitter_IJ_", "FlxFootprintIJ_", "ConFootprintIJ_"}) {
        EXPECT_GE(countStartingWith(names, prefix), periods) << prefix;
    }
}

TEST(EndToEnd, ConfigurationFileRunFinishes) {
    Simulation sim(3);
    const kwd::test::tProgramRun run =
        runProgram(sim.dir.path(), "1\n" + sim.written.traPath + "\n\n\n");
    EXPECT_EQ(run.status, 0) << run.output;
    expectSummary(run, std::to_string(2 * int64_t(KWD_BATCH_SIZE)));
    expectResultFiles(sim.trajectory(), 2);
    // The run log's closing block matches the console's totals.
    const std::vector<std::string> log =
        kwd::test::lines(kwd::test::readText(sim.trajectory() + "/logFile.log"));
    EXPECT_TRUE(contains(log, "Simulation finished!"));
    EXPECT_TRUE(contains(log, run.lines[run.lines.size() - 4]));
}

TEST(EndToEnd, ConsoleRunFinishesWithoutTheEnterLines) {
    Simulation sim(3);
    // Entries 1..2 of the listing; no ENTER lines at all: end of input counts as ENTER.
    const kwd::test::tProgramRun run = runProgram(
        sim.dir.path(), "2\n" + sim.root + "\n1..2\n" + sim.detectorAnswers() + "1000\n120\n");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(contains(run.lines, "[0]: 2018/06/21;10:00:00"));
    EXPECT_TRUE(contains(run.lines, "[1]: 2018/06/21;10:02:00"));
    EXPECT_TRUE(contains(run.lines, "[2]: 2018/06/21;10:04:00"));
    expectSummary(run, kBatch);
    expectResultFiles(sim.trajectory(), 1);
    // The run covered 10:04 back to 10:02 only.
    const std::vector<std::string> names = fileNames(sim.trajectory());
    EXPECT_TRUE(contains(names, "VirtPart_KWDExample_21.06.2018 10.02.00.ZDX"));
    EXPECT_EQ(countStartingWith(names, "VirtPart_KWDExample_21.06.2018 10.00.00"), 0u);
}

TEST(EndToEnd, MenuRetryAndClosedInput) {
    Simulation sim;
    const kwd::test::tProgramRun run =
        runProgram(sim.dir.path(), "3\n2\n" + sim.dir.file("nowhere") + "\n1\n");
    EXPECT_EQ(run.status, 1);
    const auto& l = run.lines;
    ASSERT_GE(l.size(), 6u);
    EXPECT_TRUE(contains(l, "Unknown command;"));
    EXPECT_EQ(l[l.size() - 4], "Folder Directory has to be the root directory of a simulation output.");
    EXPECT_EQ(l[l.size() - 3], "Retype the path selection (1) or go back to start (2)");
    EXPECT_EQ(l[l.size() - 2], "Please enter root path of ZAKO-rin simulation outputs");
    EXPECT_EQ(l.back(),
              "InputError: end of input while waiting for the root path of the simulation outputs");

    const kwd::test::tProgramRun empty = runProgram(sim.dir.path(), "");
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.lines.back(), "InputError: end of input while waiting for the input type (1 or 2)");
}

TEST(EndToEnd, ErrorLinesEndTheProgramWithStatusOne) {
    Simulation sim;
    const std::string start = "2\n" + sim.root + "\n";
    const std::string det = sim.detectorAnswers();
    struct Case { std::string answers; std::string line; } cases[] = {
        {start + "0..2\n", "InputError: the span 0..2 lies outside the outputs listing (the outputs listing runs from 0 to 1)"},
        {start + "1..0\n", "RunSetupError: the span 1..0 selects no data set: its start index is above its end index"},
        {start + "1..1\n", "RunSetupError: the span 1..1 selects a single data set; a run needs at least two"},
        {start + "0..1\n0\n12,5\n", "ConversionError: \"12,5\" is not a decimal number (xMax of the detector; the decimal separator is \".\")"},
        {start + "0..1\n" + det + "many\n", "ConversionError: \"many\" is not an integer (the number of particles)"},
    };
    for (const Case& c : cases) {
        const kwd::test::tProgramRun run = runProgram(sim.dir.path(), c.answers);
        EXPECT_EQ(run.status, 1) << c.line;
        ASSERT_FALSE(run.lines.empty());
        EXPECT_EQ(run.lines.back(), c.line);
    }
    EXPECT_FALSE(std::filesystem::exists(sim.trajectory()));

    // A run configuration whose root folder does not exist: no further line.
    std::filesystem::rename(sim.root, sim.root + "-moved");
    const kwd::test::tProgramRun run =
        runProgram(sim.dir.path(), "1\n" + sim.root + "-moved/KWDExample.tra\n\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.lines.back(), "Please enter the path to the *.tra file");
}

TEST(EndToEnd, SeededRunGivesTheSameFilesAtOneAndTwoThreads) {
    std::map<std::string, std::string> results[2];
    for (int threads = 1; threads <= 2; ++threads) {
        Simulation sim;
        const kwd::test::tProgramRun run =
            runProgram(sim.dir.path(), "1\n" + sim.written.traPath + "\n\n\n",
                       "KWD_SEED=20240611 OMP_NUM_THREADS=" + std::to_string(threads));
        ASSERT_EQ(run.status, 0) << run.output;
        results[threads - 1] = kwd::test::resultFiles(sim.trajectory());
    }
    ASSERT_FALSE(results[0].empty());
    EXPECT_EQ(results[0].size(), results[1].size());
    for (const auto& [name, text] : results[0]) {
        ASSERT_TRUE(results[1].count(name)) << name;
        EXPECT_TRUE(text == results[1].at(name)) << name << " differs";
    }
    // The particle list holds hits (more than its header line).
    const auto list = std::find_if(results[0].begin(), results[0].end(), [](const auto& f) {
        return f.first.rfind("ParticleList_", 0) == 0;
    });
    ASSERT_NE(list, results[0].end());
    EXPECT_GT(kwd::test::lines(list->second).size(), 10u);
}

}  // namespace

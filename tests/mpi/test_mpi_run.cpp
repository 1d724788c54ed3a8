// `kwd-footprint run` on several processes (the build with KWD_MPI): the
// same seeded run through mpirun on two and three processes and as one
// process gives the same result files byte for byte, for both footprint
// models; a process that fails ends every process with the one error line,
// printed once, and status 1, without any process left waiting.
//
// The runs are tiny (8 x 8 x 4 cells, three data sets two minutes apart, a
// few thousand particles), oversubscribed where the machine has fewer cores.

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "support/FrontendFixtures.h"

namespace fs = std::filesystem;

namespace {

using TempDir = kwd::test::tTempFolder;

struct tRun {
    int status = -1;
    std::string output;
};

// Runs a shell command in aDir with its output (both streams) captured,
// stopped after two minutes: a process left waiting fails the test
// instead of hanging it.
tRun shell(const std::string& aDir, const std::string& aCommand) {
    const std::string out = aDir + "/output.txt";
    const std::string cmd = "cd '" + aDir + "' && env -u KWD_SEED timeout 120 " + aCommand +
                            " > '" + out + "' 2>&1";
    const int raw = std::system(cmd.c_str());
    tRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.output = kwd::test::readText(out);
    return run;
}

std::string mpirun(int aProcesses, const std::string& aExtra = "") {
    std::string line = "mpirun -np " + std::to_string(aProcesses) + " --oversubscribe";
    if (geteuid() == 0) line += " --allow-run-as-root";
    return line + " " + aExtra + " ";
}

struct tSimulation {
    TempDir dir;
    std::string tra;
    tSimulation() {
        example::tOptions o = kwd::test::tinyOptions(dir.file("sim"), 3);
        tra = example::writeExample(o).traPath;
    }
    // The program's run command with the given output folder and options.
    std::string run(const std::string& aOut, const std::string& aOptions) const {
        return "'" + std::string(KWD_PROGRAM) + "' run '" + tra + "' --out '" + dir.file(aOut) +
               "' --seed 20241210 --particles 3000 --threads 1 --quiet " + aOptions;
    }
};

struct tCase {
    const char* name;
    const char* options;
    const char* expectedFile;  // a file of the model that must hold more than a header
};

void PrintTo(const tCase& aCase, std::ostream* aOut) { *aOut << aCase.name; }

class MpiRun : public ::testing::TestWithParam<tCase> {};

TEST_P(MpiRun, SameFilesOnOneTwoAndThreeProcesses) {
    const tCase& c = GetParam();
    tSimulation sim;
    const tRun one = shell(sim.dir.path(), sim.run("one", c.options));
    ASSERT_EQ(one.status, 0) << one.output;
    const std::map<std::string, std::string> reference = kwd::test::resultFiles(sim.dir.file("one"));
    ASSERT_GT(reference.size(), 5u);
    const auto list = std::find_if(reference.begin(), reference.end(), [&](const auto& f) {
        return f.first.rfind(c.expectedFile, 0) == 0;
    });
    ASSERT_NE(list, reference.end()) << c.expectedFile;
    EXPECT_GT(kwd::test::lines(list->second).size(), 10u) << list->first;

    for (int processes : {2, 3}) {
        const std::string out = "ranks" + std::to_string(processes);
        const tRun many = shell(sim.dir.path(), mpirun(processes) + sim.run(out, c.options));
        ASSERT_EQ(many.status, 0) << many.output;
        const std::map<std::string, std::string> files = kwd::test::resultFiles(sim.dir.file(out));
        EXPECT_EQ(files.size(), reference.size()) << processes << " processes";
        for (const auto& [name, text] : reference) {
            ASSERT_TRUE(files.count(name)) << name << " missing on " << processes;
            EXPECT_TRUE(text == files.at(name)) << name << " differs on " << processes;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Models, MpiRun,
                         ::testing::Values(tCase{"Described", "", "ParticleList_"},
                                           tCase{"Touchdown",
                                                 "--model touchdown --touchdown-list",
                                                 "TouchdownList_"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Process 1 fails in its first pass (the test hook of the agreement); the
// other goes on to the agreement after its pass and ends with the same error.
TEST(MpiRunFailure, AFailingProcessEndsEveryProcessWithOneLine) {
    tSimulation sim;
    const tRun run = shell(sim.dir.path(), "env KWD_TEST_FAIL_RANK=1 " +
                                               mpirun(2, "-x KWD_TEST_FAIL_RANK") +
                                               sim.run("failed", ""));
    EXPECT_EQ(run.status, 1) << run.output;
    const std::string line =
        "FloatingPointError: invalid operation in the particle step of process 1 (test)";
    size_t lines = 0;
    for (const std::string& l : kwd::test::lines(run.output)) lines += l == line ? 1 : 0;
    EXPECT_EQ(lines, 1u) << run.output;
    // The run record says how the run ended, with the same line.
    const std::string record = kwd::test::readText(sim.dir.file("failed") + "/run.json");
    EXPECT_NE(record.find("\"failed\""), std::string::npos) << record;
    EXPECT_NE(record.find(line), std::string::npos) << record;
}

// A process that fails on its own outside a pass (here process 0 and its
// output folder, which another run holds) ends the others, which wait at
// the next agreement, with its error.
TEST(MpiRunFailure, AnErrorOfTheWritingProcessEndsTheOthers) {
    tSimulation sim;
    const std::string folder = sim.dir.file("held");
    fs::create_directories(folder);
    const tRun run = shell(sim.dir.path(), "flock '" + folder + "/.kwd-footprint.lock' " +
                                               mpirun(2) + sim.run("held", ""));
    EXPECT_EQ(run.status, 1) << run.output;
    size_t lines = 0;
    for (const std::string& l : kwd::test::lines(run.output))
        lines += l.rfind("FileError: the output folder", 0) == 0 ? 1 : 0;
    EXPECT_EQ(lines, 1u) << run.output;
    EXPECT_NE(run.output.find("is in use"), std::string::npos) << run.output;
}

}  // namespace

// The main loop on small synthetic simulations: periods, steps, batches,
// interval and period outputs, progress lines and the run log.

#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <sstream>

#include "platform/KwdError.h"
#include "support/ResultsFixtures.h"
#include "run/u_MainLoop.h"

using kwd::run::startCalculation;

using kwd::engine::tDetector;
using kwd::engine::tParticle;
using kwd::engine::tParticleManager;

using kwd::dataset::TZDXFile;

using namespace kwd::test;

namespace {

const std::string kHyphens(54, '-');
const std::string kStars54(54, '*');
const std::string kStars65(65, '*');

struct tModelTime {
    std::string date, time;
};

// Nearly still air: one sub-step per step, particles stay close to their release point.
tCellValues stillAir(int32_t, int32_t, int32_t) {
    tCellValues c;
    c.tke = 1e-8f;
    c.eps = 1e-12f;
    return c;
}

// A simulation of 4 x 4 x 4 cells of 10 m, one data set per model time (given
// in time order, as the run start hands them over), and its engine.
class MainLoop : public ::testing::Test {
protected:
    void makeRun(const std::vector<tModelTime>& times, int64_t target, int64_t batchSize,
                 const tCellFn& cells = stillAir,
                 tDetector detector = detectorBox(15, 25, 15, 25, 15, 25)) {
        std::vector<TZDXFile> list;
        for (size_t n = 0; n < times.size(); ++n)
            list.push_back(writeDataSet(fIn.path(), "DS_" + std::to_string(n), uniformGrid(4, 4, 4, 10, 10, 10),
                                        times[n].date, times[n].time, flowVariables(cells)));
        fEngine = std::make_unique<tParticleManager>(true, detector, std::move(list), fOut.path(), 0.1,
                                                     target, batchSize);
        fEngine->fSeed = 7;
        fEngine->fProgressOut = &fProgress;
    }

    std::vector<std::string> progressLines() const {
        std::vector<std::string> lines;
        std::istringstream in(fProgress.str());
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }
    // The rest of every progress line that starts with `prefix`.
    std::vector<std::string> after(const std::string& prefix) const {
        std::vector<std::string> rest;
        for (const std::string& l : progressLines())
            if (l.rfind(prefix, 0) == 0) rest.push_back(l.substr(prefix.size()));
        return rest;
    }
    size_t count(const std::string& line) const {
        size_t n = 0;
        for (const std::string& l : progressLines()) n += l == line;
        return n;
    }
    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        const std::string text = readText(fOut.file("logFile.log"));
        size_t pos = 0;
        for (size_t e; (e = text.find("\r\n", pos)) != std::string::npos; pos = e + 2)
            lines.push_back(text.substr(pos, e - pos));
        EXPECT_EQ(pos, text.size()) << "the log ends with CR LF";
        return lines;
    }

    tTempFolder fIn{"kwd_res_in_"};
    tTempFolder fOut{"kwd_res_out_"};
    std::ostringstream fProgress;
    std::unique_ptr<tParticleManager> fEngine;
};

const std::string kLogHead[3] = {
    "Detector xMin: 15 Detector xMax: 25 Detector yMin: 15 Detector yMax: 25 Detector zMin: 15 "
    "Detector zMax: 25",
    "", "Date;Time;TotalParticles"};

TEST_F(MainLoop, ShortRunProgressAndLogWordForWord) {
    makeRun({{"01.07.2018", "12:00:00"}, {"01.07.2018", "12:02:00"}}, 2, 2);
    // An older, longer log in the folder is replaced as a whole.
    kwd::writeWholeFile(fOut.file("logFile.log"), std::string(5000, 'x') + "\r\n");
    const kwd::tDateTime start = kwd::incMilliseconds(kwd::nowLocal(), -3723000);

    EXPECT_EQ(startCalculation(*fEngine, 60, 60, false, start), 0);

    auto step = [](const std::string& time) {
        return std::vector<std::string>{"********",
                                        "Updating resolved scale parameters...",
                                        "Current model time: 01.07.2018 " + time,
                                        "Current number of particles in model area: 2",
                                        "Total amount of particles simulated so far: 2",
                                        "Backwards mode: Total amount of particles through emitter: 0"};
    };
    std::vector<std::string> expected = {
        kHyphens,
        "Accessing ZAKO-rin simulation output 01.07.2018 12:02:00",
        "Current number of particles in model area: 2",
        "Total amount of particles simulated: 2",
        "Backwards mode: Total amount of particles through emitter: 0",
        kHyphens};
    for (const std::string& l : step("12:02:00")) expected.push_back(l);
    for (const char* l : {"Writing verbose output: 01.07.2018 12:01:00", "Done!",
                          "Writing output: 01.07.2018 12:01:00"})
        expected.push_back(l);
    for (const std::string& l : step("12:01:00")) expected.push_back(l);
    for (const std::string& l :
         {std::string("Writing verbose output: 01.07.2018 12:00:00"), std::string("Done!"),
          std::string("Writing output: 01.07.2018 12:00:00"),
          // period end
          std::string("Writing output: 01.07.2018 12:00:00"),
          std::string("Writing output: 01.07.2018 12:00:00"), std::string("Done!"), kStars65,
          std::string("Mainloop of ZAKO-rin output ended!"),
          std::string("Freeing up memory, removing paricles out of domain or target..."), kStars65,
          std::string("Done freeing up memory!")})
        expected.push_back(l);
    EXPECT_EQ(progressLines(), expected);

    const std::vector<std::string> log = logLines();
    ASSERT_EQ(log.size(), 12u);
    EXPECT_EQ(log[0], kLogHead[0]);
    EXPECT_EQ(log[1], "Particle Factor: 2");
    EXPECT_EQ(log[2], kLogHead[2]);
    EXPECT_EQ(log[3], "01.07.2018;12:01:00;2");
    EXPECT_EQ(log[4], "01.07.2018;12:00:00;2");
    EXPECT_EQ(log[5], "01.07.2018;12:00:00;2");
    EXPECT_EQ(log[6], kStars54);
    EXPECT_EQ(log[7], "Simulation finished!");
    EXPECT_TRUE(std::regex_match(
        log[8], std::regex("1 hour\\(s\\), 2 minute\\(s\\), [3-9] second\\(s\\) elapsed since "
                           "start of the simulation")))
        << log[8];
    EXPECT_EQ(log[9], "Total amount of particles through emitter: 0");
    EXPECT_EQ(log[10], "Total amount of particles simulated: 2");
    EXPECT_EQ(log[11], kStars54);
}

TEST_F(MainLoop, HourApartWith1800SecondsOutputsAfterSteps1_30And60) {
    makeRun({{"01.07.2018", "07:00:00"}, {"01.07.2018", "08:00:00"}}, 3, 3);
    startCalculation(*fEngine, 1800, 60, true, kwd::nowLocal());

    EXPECT_EQ(after("Writing verbose output: "),
              (std::vector<std::string>{"01.07.2018 07:59:00", "01.07.2018 07:30:00",
                                        "01.07.2018 07:00:00"}));
    EXPECT_EQ(after("Writing output: "),
              (std::vector<std::string>{"01.07.2018 07:59:00", "01.07.2018 07:30:00",
                                        "01.07.2018 07:00:00", "01.07.2018 07:00:00",
                                        "01.07.2018 07:00:00"}));
    const std::vector<std::string> times = after("Current model time: ");
    ASSERT_EQ(times.size(), 60u);  // update interval 60 s
    EXPECT_EQ(times.front(), "01.07.2018 08:00:00");
    EXPECT_EQ(times[1], "01.07.2018 07:59:00");
    EXPECT_EQ(times.back(), "01.07.2018 07:01:00");

    const std::vector<std::string> log = logLines();
    ASSERT_EQ(log.size(), 13u);
    EXPECT_EQ(std::vector<std::string>(log.begin() + 3, log.begin() + 7),
              (std::vector<std::string>{"01.07.2018;07:59:00;3", "01.07.2018;07:30:00;3",
                                        "01.07.2018;07:00:00;3", "01.07.2018;07:00:00;3"}));

    std::vector<std::string> files;
    for (const char* t : {"07.00.00", "07.30.00", "07.59.00"})
        for (const char* p : {"ConFootprintIJ_", "FlxFootprintIJ_", "SourceStrengthIJ_",
                              "Sum_1_BY_WEmitter_IJ_", "Sum_WDetec_BY_WEmitter_IJ_"})
            files.push_back(std::string(p) + "01.07.2018 " + t + "TestProject.csv");
    files.push_back("ParticleList_01.07.2018 07.00.00_TestProject.csv");
    for (const char* t : {"07.00.00", "07.30.00", "07.59.00"})
        for (const char* ext : {".ZDT", ".ZDX"})
            files.push_back(std::string("TMP_VirtPart_TestProject_01.07.2018 ") + t + ext);
    files.push_back("VirtPart_TestProject_01.07.2018 07.00.00.ZDT");
    files.push_back("VirtPart_TestProject_01.07.2018 07.00.00.ZDX");
    files.push_back("logFile.log");
    // The normalised footprints, filed under the measurement time 08:00.
    for (const char* p : {"ConFootprintDensityIJ_", "FluxFootprintDensityIJ_", "HitsIJ_"})
        files.push_back(std::string(p) + "01.07.2018 08.00.00TestProject.csv");
    for (const char* f : {"FluxFootprintDensityIJ_Mean_", "FootprintSurfaces_", "Footprints_"})
        files.push_back(std::string(f) + "TestProject.csv");
    std::sort(files.begin(), files.end());
    EXPECT_EQ(fileNames(fOut.path()), files);
}

TEST_F(MainLoop, OutputIntervalLoweredToTheDataSetSpacing) {
    makeRun({{"01.07.2018", "07:30:00"}, {"01.07.2018", "08:00:00"}}, 1, 1);
    startCalculation(*fEngine, 3600, 60, false, kwd::nowLocal());
    EXPECT_EQ(after("Writing verbose output: "),
              (std::vector<std::string>{"01.07.2018 07:59:00", "01.07.2018 07:30:00"}));
    EXPECT_EQ(after("Current model time: ").size(), 30u);  // the update interval stays 60 s
}

TEST_F(MainLoop, OutputIntervalOf30SecondsGivesSteps30SecondsLong) {
    makeRun({{"01.07.2018", "12:00:00"}, {"01.07.2018", "12:02:00"}}, 1, 1);
    startCalculation(*fEngine, 30, 60, false, kwd::nowLocal());
    EXPECT_EQ(after("Current model time: "),
              (std::vector<std::string>{"01.07.2018 12:02:00", "01.07.2018 12:01:30",
                                        "01.07.2018 12:01:00", "01.07.2018 12:00:30"}));
    EXPECT_EQ(after("Writing verbose output: ").size(), 4u);
    // A particle that moved all the way aged 4 x 30 s.
    ASSERT_EQ(fEngine->fParticleList.size(), 1u);
    EXPECT_EQ(fEngine->fParticleList[0].fAge, 120.0);
}

TEST_F(MainLoop, PeriodsOf150And90SecondsEndWithAShorterStepAndParticlesCarryOver) {
    makeRun({{"01.07.2018", "12:00:00"}, {"01.07.2018", "12:01:30"}, {"01.07.2018", "12:04:00"}}, 3, 3);
    startCalculation(*fEngine, 3600, 60, false, kwd::nowLocal());
    // 150 s are two steps of 60 s and one of 30 s, 90 s one of 60 s and one
    // of 30 s: each period ends exactly at the earlier data set, and the
    // second period starts at its own data set's time.
    EXPECT_EQ(after("Current model time: "),
              (std::vector<std::string>{"01.07.2018 12:04:00", "01.07.2018 12:03:00",
                                        "01.07.2018 12:02:00", "01.07.2018 12:01:30",
                                        "01.07.2018 12:00:30"}));
    EXPECT_EQ(after("Accessing ZAKO-rin simulation output "),
              (std::vector<std::string>{"01.07.2018 12:04:00", "01.07.2018 12:01:30"}));
    EXPECT_EQ(after("Writing output: ").back(), "01.07.2018 12:00:00");
    // The three particles of period 0 go on in period 1 beside its three new ones.
    EXPECT_EQ(after("Current number of particles in model area: "),
              (std::vector<std::string>{"3", "3", "3", "3", "6", "6", "6"}));
    ASSERT_EQ(fEngine->fParticleList.size(), 6u);
    for (const tParticle& p : fEngine->fParticleList) {
        EXPECT_EQ(p.fLoopIdx, 2);
        EXPECT_EQ(p.fAge, p.fSerialNr < 3 ? 240.0 : 90.0) << "particle " << p.fSerialNr;
    }
}

TEST_F(MainLoop, PeriodsThatCannotBeSteppedAreRefusedBeforeAnyRelease) {
    struct tCase {
        std::vector<tModelTime> times;
        std::string message;  // after "data sets <first> (<time>) and <second> (<time>) "
    };
    const std::vector<tCase> cases = {
        {{{"01.07.2018", "12:00:00"}, {"01.07.2018", "12:00:00"}},
         "have the same model time: a period needs two"},
        {{{"01.07.2018", "12:00:00"}, {"01.07.2018", "12:01:31"}, {"01.07.2018", "12:02:00"}},
         "are 29 s apart, less than half the update interval of 60 s: the period cannot be stepped"},
        {{{"01.01.1900", "12:00:00"}, {"01.07.2018", "12:00:00"}},
         "are 3739392000 s apart, more than a period can hold (68 years)"},
    };
    for (const tCase& c : cases) {
        makeRun(c.times, 2, 2);
        const size_t n = c.times.size();
        const std::string later = fIn.file("DS_" + std::to_string(n - 1) + ".ZDX");
        const std::string earlier = fIn.file("DS_" + std::to_string(n - 2) + ".ZDX");
        try {
            startCalculation(*fEngine, 60, 60, false, kwd::nowLocal());
            ADD_FAILURE() << "no error for " << c.message;
        } catch (const kwd::RunSetupError& e) {
            const std::string expected = "data sets " + later + " (" + c.times[n - 1].date + " " +
                                         c.times[n - 1].time + ") and " + earlier + " (" +
                                         c.times[n - 2].date + " " + c.times[n - 2].time + ") ";
            EXPECT_EQ(std::string(e.what()), expected + c.message);
        }
        EXPECT_EQ(fEngine->fTotalEmittedParticles, 0);
        EXPECT_TRUE(fileNames(fOut.path()).empty());
    }
}

TEST_F(MainLoop, LaterBatchesLeaveCarriedParticlesAlone) {
    makeRun({{"01.07.2018", "12:00:00"}, {"01.07.2018", "12:02:00"}, {"01.07.2018", "12:04:00"}}, 6, 3);
    startCalculation(*fEngine, 60, 60, false, kwd::nowLocal());
    EXPECT_EQ(fEngine->fTotalEmittedParticles, 12);
    ASSERT_EQ(fEngine->fParticleList.size(), 12u);
    for (const tParticle& p : fEngine->fParticleList)  // two steps in each period it was moved in
        EXPECT_EQ(p.fAge, p.fSerialNr < 6 ? 240.0 : 120.0) << "particle " << p.fSerialNr;
}

TEST_F(MainLoop, BatchesUntilThePeriodTargetIsMet) {
    struct tCase {
        int64_t target;
        size_t batches;
    };
    for (const tCase c : {tCase{9, 3}, tCase{12, 3}, tCase{13, 4}, tCase{8, 2}, tCase{4, 1},
                          tCase{1, 1}, tCase{0, 1}, tCase{-5, 1}}) {
        fProgress.str("");
        makeRun({{"01.07.2018", "12:00:00"}, {"01.07.2018", "12:01:00"}}, c.target, 4);
        startCalculation(*fEngine, 60, 60, false, kwd::nowLocal());
        EXPECT_EQ(after("Accessing ZAKO-rin simulation output ").size(), c.batches) << c.target;
        EXPECT_EQ(count("Target number of particles not met yet, additional batch of"), c.batches - 1);
        EXPECT_EQ(count("Freeing up memory for the next batch"), c.batches - 1);
        EXPECT_EQ(fEngine->fTotalEmittedParticles, int64_t(4 * c.batches));
    }
}

TEST_F(MainLoop, NextBatchBlockAndCleanUpLines) {
    makeRun({{"01.07.2018", "12:00:00"}, {"01.07.2018", "12:01:00"}}, 2, 1);
    startCalculation(*fEngine, 60, 60, false, kwd::nowLocal());
    const std::vector<std::string> lines = progressLines();
    const auto it = std::find(lines.begin(), lines.end(), kStars65);
    ASSERT_GE(lines.end() - it, 8);
    EXPECT_EQ(std::vector<std::string>(it, it + 8),
              (std::vector<std::string>{kStars65,
                                        "Target number of particles not met yet, additional batch of",
                                        "particles will be created for this simulation period",
                                        kStars65, "Freeing up memory for the next batch",
                                        "removing paricles out of domain or target",
                                        "Done freeing up memory!", kHyphens}));
}

TEST_F(MainLoop, StepsWithoutParticlesInTheModelWriteNoStepBlockNorAdvanceFields) {
    // The next data set's wind differs, so an advance would change the live field.
    std::vector<TZDXFile> list;
    list.push_back(writeDataSet(fIn.path(), "DS_0", uniformGrid(4, 4, 4, 10, 10, 10), "01.07.2018",
                                "12:00:00", flowVariables([](int32_t i, int32_t j, int32_t k) {
                                    tCellValues c = stillAir(i, j, k);
                                    c.u = 2.0f;
                                    return c;
                                })));
    list.push_back(writeDataSet(fIn.path(), "DS_1", uniformGrid(4, 4, 4, 10, 10, 10), "01.07.2018",
                                "12:02:00", flowVariables(stillAir)));
    fEngine = std::make_unique<tParticleManager>(true, detectorBox(100, 101, 15, 25, 15, 25),
                                                 std::move(list), fOut.path(), 0.1, 2, 2);
    fEngine->fProgressOut = &fProgress;
    startCalculation(*fEngine, 60, 60, false, kwd::nowLocal());
    EXPECT_EQ(after("Current number of particles in model area: "), std::vector<std::string>{"0"});
    EXPECT_EQ(count("********"), 0u);
    EXPECT_EQ(after("Writing verbose output: ").size(), 2u);  // outputs go on
    EXPECT_EQ(fEngine->fuvwX_Ar(1, 1, 1), fEngine->fuvwX_Ar_OLD(1, 1, 1));
    // Particles outside the model box are counted but dropped at the period end.
    EXPECT_EQ(fEngine->fTotalEmittedParticles, 2);
    EXPECT_TRUE(fEngine->fParticleList.empty());
}

TEST_F(MainLoop, HitsAreAccumulatedListedAndRemoved) {
    // Upward wind over an emitting ground layer: traced backwards, every
    // particle sinks from the detector into the emitter cells below it.
    makeRun({{"01.07.2018", "12:00:00"}, {"01.07.2018", "12:10:00"}}, 5, 5,
            [](int32_t i, int32_t j, int32_t k) {
                tCellValues c = stillAir(i, j, k);
                c.w = 0.05f;
                if (k == 0) c.obj = 11;
                return c;
            });
    EXPECT_EQ(startCalculation(*fEngine, 300, 60, false, kwd::nowLocal()), 5);
    EXPECT_EQ(fEngine->fTotalParticlesInTarget, 5);
    EXPECT_TRUE(fEngine->fParticleList.empty());
    EXPECT_EQ(total(fEngine->SourceStrengthIJ), 5.0);
    const std::string list = readText(fOut.file("ParticleList_01.07.2018 12.00.00_TestProject.csv"));
    EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 6);  // header and five rows
    EXPECT_EQ(after("Backwards mode: Total amount of particles through emitter: ").back(), "5");
    const std::vector<std::string> log = logLines();
    EXPECT_EQ(log[log.size() - 3], "Total amount of particles through emitter: 5");
}

TEST_F(MainLoop, OutputAtMidnightNamesFilesByDateAlone) {
    makeRun({{"02.07.2018", "00:00:00"}, {"02.07.2018", "00:02:00"}}, 1, 1);
    startCalculation(*fEngine, 60, 60, true, kwd::nowLocal());
    EXPECT_EQ(after("Writing output: ").back(), "02.07.2018");
    const std::vector<std::string> names = fileNames(fOut.path());
    for (const char* name : {"ParticleList_02.07.2018_TestProject.csv", "SourceStrengthIJ_02.07.2018TestProject.csv",
                             "VirtPart_TestProject_02.07.2018.ZDX", "TMP_VirtPart_TestProject_02.07.2018.ZDT"})
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    const std::vector<std::string> log = logLines();
    EXPECT_EQ(log[4], "02.07.2018;00:00:00;1");
}

TEST_F(MainLoop, BadIntervalsAndTooFewDataSetsAreRefusedBeforeAnyRelease) {
    struct tCase {
        int32_t output, update;
        size_t dataSets;
        const char* message;
    };
    for (const tCase c :
         {tCase{0, 60, 2, "the output interval must be at least 1 second, got 0 s"},
          tCase{-5, 60, 2, "the output interval must be at least 1 second, got -5 s"},
          tCase{60, 0, 2, "the update interval must be at least 1 second, got 0 s"},
          tCase{1800, 60, 1, "a run needs at least two data sets (one data-set period), got 1"}}) {
        std::vector<tModelTime> times = {{"01.07.2018", "12:00:00"}, {"01.07.2018", "12:02:00"}};
        times.resize(c.dataSets);
        makeRun(times, 2, 2);
        try {
            startCalculation(*fEngine, c.output, c.update, false, kwd::nowLocal());
            ADD_FAILURE() << "no error for " << c.message;
        } catch (const kwd::RunSetupError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_EQ(fEngine->fTotalEmittedParticles, 0);
        EXPECT_TRUE(fileNames(fOut.path()).empty());
        EXPECT_TRUE(fProgress.str().empty());
    }
}

TEST_F(MainLoop, ModelTimeThatDoesNotReadIsAConversionError) {
    makeRun({{"01.07.2018", "12:00:00"}, {"32.07.2018", "12:02:00"}}, 1, 1);
    try {
        startCalculation(*fEngine, 60, 60, false, kwd::nowLocal());
        FAIL() << "no error";
    } catch (const kwd::ConversionError& e) {
        EXPECT_EQ(std::string(e.what()), "data set " + fIn.file("DS_1.ZDX") +
                                             ": model time \"32.07.2018 12:02:00\" does not read "
                                             "as dd.mm.yyyy hh:mm:ss");
    }
    EXPECT_EQ(fEngine->fTotalEmittedParticles, 0);
}

// ---- normalised footprints per measurement time ------------------------------

// The fields of every line of a ";" file with CR LF line ends.
std::vector<std::vector<std::string>> csvRows(const std::string& path) {
    std::vector<std::vector<std::string>> rows;
    const std::string text = readText(path);
    size_t pos = 0;
    for (size_t e; (e = text.find("\r\n", pos)) != std::string::npos; pos = e + 2) {
        std::vector<std::string> fields;
        std::istringstream line(text.substr(pos, e - pos));
        for (std::string f; std::getline(line, f, ';');) fields.push_back(f);
        rows.push_back(fields);
    }
    EXPECT_EQ(pos, text.size()) << path << " ends with CR LF";
    return rows;
}

double number(const std::string& text) { return std::stod(text); }

// Turbulent air rising over an emitting ground layer: traced backwards, the
// particles sink from the detector into the emitter cells, over several
// columns, with take-off velocities of both signs. `sink` sets how fast.
tCellFn risingAir(float sink, float tke = 0.02f) {
    return [sink, tke](int32_t i, int32_t j, int32_t k) {
        tCellValues c = stillAir(i, j, k);
        c.w = sink;
        c.tke = tke;
        c.eps = 0.1f * tke;
        if (k == 0) c.obj = 11;
        return c;
    };
}

TEST_F(MainLoop, FootprintDensitiesCountEveryHitOfAllBatchesOnce) {
    // One period of 10 minutes, two batches of 40.
    makeRun({{"01.07.2018", "12:00:00"}, {"01.07.2018", "12:10:00"}}, 80, 40, risingAir(0.05f));
    const int64_t hits = startCalculation(*fEngine, 300, 60, false, kwd::nowLocal());
    ASSERT_GT(hits, 20);

    // The period's particle list holds one header and a row per hit.
    const auto rows = csvRows(fOut.file("ParticleList_01.07.2018 12.00.00_TestProject.csv"));
    ASSERT_EQ(rows.size(), size_t(hits) + 1);
    EXPECT_EQ(rows[0][0], "ParticleNr");
    std::vector<double> flux(16, 0.0), con(16, 0.0), count(16, 0.0);
    int64_t negative = 0;
    for (size_t r = 1; r < rows.size(); ++r) {
        const size_t col = size_t(std::stoi(rows[r][14])) * 4 + size_t(std::stoi(rows[r][13]));
        const double takeOff = number(rows[r][10]), detector = number(rows[r][11]);
        flux[col] += detector / std::fabs(takeOff);
        con[col] += 1.0 / std::fabs(takeOff);
        count[col] += 1.0;
        negative += takeOff < 0.0;
    }
    ASSERT_GT(negative, 0);  // the absolute take-off velocity matters here

    // Every column: (2 / 80) x sum / 100 m2, to 1e-12 relative.
    const std::string suffix = "01.07.2018 12.10.00TestProject.csv";
    const auto F = csvRows(fOut.file("FluxFootprintDensityIJ_" + suffix));
    const auto C = csvRows(fOut.file("ConFootprintDensityIJ_" + suffix));
    const auto H = csvRows(fOut.file("HitsIJ_" + suffix));
    double share = 0.0;
    int columnsHit = 0;
    for (size_t j = 0; j < 4; ++j)
        for (size_t i = 0; i < 4; ++i) {
            const size_t col = j * 4 + i;
            EXPECT_NEAR(number(F[j][i]), 2.0 / 80 * flux[col] / 100.0, 1e-12 * std::fabs(flux[col]));
            EXPECT_NEAR(number(C[j][i]), 2.0 / 80 * con[col] / 100.0, 1e-12 * std::fabs(con[col]));
            EXPECT_EQ(number(H[j][i]), count[col]);
            share += number(F[j][i]) * 100.0;
            columnsHit += count[col] > 0;
        }
    EXPECT_GT(columnsHit, 1);
    const auto table = csvRows(fOut.file("Footprints_TestProject.csv"));
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[1][0] + " " + table[1][1], "01.07.2018 12:10:00");
    EXPECT_EQ(table[1][2], "80");
    EXPECT_EQ(table[1][3], std::to_string(hits));
    EXPECT_NEAR(number(table[1][4]), share, 1e-12 * std::fabs(share));
    EXPECT_EQ(table[1][5], std::to_string(negative));

    // The second batch's first output (12:09, before any particle reached
    // the ground) holds none of the first batch's hits.
    for (const auto& line : csvRows(fOut.file("SourceStrengthIJ_01.07.2018 12.09.00TestProject.csv")))
        for (const std::string& v : line) EXPECT_EQ(number(v), 0.0);
}

TEST_F(MainLoop, CarriedOverHitsCountAtTheirMeasurementTime) {
    // Slow sinking: many particles released at 12:04 reach the ground only
    // in the next period (12:02 to 12:00).
    makeRun({{"01.07.2018", "12:00:00"}, {"01.07.2018", "12:02:00"}, {"01.07.2018", "12:04:00"}},
            40, 40, risingAir(0.06f));
    const int64_t hits = startCalculation(*fEngine, 60, 60, false, kwd::nowLocal());
    const size_t listedFirst =
        csvRows(fOut.file("ParticleList_01.07.2018 12.02.00_TestProject.csv")).size() - 1;
    const size_t listedSecond =
        csvRows(fOut.file("ParticleList_01.07.2018 12.00.00_TestProject.csv")).size() - 1;
    EXPECT_EQ(int64_t(listedFirst + listedSecond), hits);

    const auto table = csvRows(fOut.file("Footprints_TestProject.csv"));
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[1][1], "12:02:00");
    EXPECT_EQ(table[2][1], "12:04:00");
    const int64_t at1202 = std::stoll(table[1][3]), at1204 = std::stoll(table[2][3]);
    EXPECT_EQ(at1202 + at1204, hits);
    EXPECT_GT(at1204, int64_t(listedFirst)) << "the carried-over hits of 12:04";
    for (size_t r = 1; r < 3; ++r) EXPECT_EQ(table[r][2], "40");
}

}  // namespace

TEST_F(MainLoop, FluxShareDoesNotDependOnParticleCountOrPeriod) {
    // Steady fields (three equal data sets); nearly every particle reaches
    // the ground within its own period, with take-off velocities far from 0
    // (weak turbulence), so the sampling noise of the shares stays well
    // below 3 %.
    // The original footprints double with the particle count and halve in
    // the second period; the flux share of the normalised ones stays put.
    auto shares = [this](int64_t target, int64_t batch) {
        fProgress.str("");
        tTempFolder out("kwd_res_share_");
        std::vector<TZDXFile> list;
        for (const char* t : {"12:00:00", "12:10:00", "12:20:00"})
            list.push_back(writeDataSet(fIn.path(), std::string("S_") + t[3], uniformGrid(4, 4, 4, 10, 10, 10),
                                        "01.07.2018", t, flowVariables(risingAir(0.2f, 0.002f))));
        tParticleManager e(true, detectorBox(15, 25, 15, 25, 15, 25), std::move(list), out.path(), 0.1,
                           target, batch);
        e.fSeed = 11;
        e.fProgressOut = &fProgress;
        // Nearly all hit.
        EXPECT_GT(startCalculation(e, 600, 60, false, kwd::nowLocal()), 2 * target * 99 / 100);
        std::vector<double> s;
        const auto table = csvRows(out.file("Footprints_TestProject.csv"));
        for (size_t r = 1; r < table.size(); ++r) s.push_back(number(table[r][4]));
        return s;
    };
    const std::vector<double> one = shares(3000, 3000), two = shares(6000, 3000);
    ASSERT_EQ(one.size(), 2u);
    ASSERT_EQ(two.size(), 2u);
    for (size_t t = 0; t < 2; ++t) EXPECT_NEAR(two[t] / one[t], 1.0, 0.03) << "period " << t;
    EXPECT_NEAR(one[0] / one[1], 1.0, 0.03);
    EXPECT_NEAR(two[0] / two[1], 1.0, 0.03);
}

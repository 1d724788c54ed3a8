// The command line: the option table and its usage errors, `check` on good
// and bad runs, `run` with its run record, the output folder's lock and the
// refusal of a folder that holds results, and the seeded files at one and
// two threads against the dialogue's.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "frontend/u_CommandLine.h"
#include "frontend/u_OutputFolder.h"
#include "frontend/u_RunRecord.h"
#include "frontend/u_tTRAFile.h"
#include "support/FrontendFixtures.h"
#include "platform/KwdError.h"

using kwd::engine::tFootprintModel;

using kwd::frontend::filesBesideLock;
using kwd::frontend::kLockFileName;
using kwd::frontend::kRunRecordName;
using kwd::frontend::parseCommandLine;
using kwd::frontend::runCommandLine;
using kwd::frontend::tCommand;
using kwd::frontend::tCommandLine;
using kwd::frontend::tOutputFolderLock;
using kwd::frontend::tTRAFile;

namespace {

namespace fs = std::filesystem;
using kwd::test::contains;
using kwd::test::fileNames;
using kwd::test::tTempFolder;

const std::string kBatch = std::to_string(KWD_BATCH_SIZE);

// ---- the option table -----------------------------------------------------------

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> w;
    for (std::string s; in >> s;) w.push_back(s);
    return w;
}

TEST(CommandLine, OptionsAreRead) {
    const tCommandLine all = parseCommandLine(
        words("run a.tra --out results --interval 600 --threads 2 --seed -1 --particles 1500 "
              "--model touchdown --touchdown-list --overwrite --quiet"));
    EXPECT_EQ(all.command, tCommand::Run);
    EXPECT_EQ(all.configurationPath, "a.tra");
    EXPECT_EQ(all.outputFolder, "results");
    EXPECT_EQ(all.outputInterval, 600);
    EXPECT_EQ(all.threads, 2);
    EXPECT_EQ(all.seed, ~uint64_t(0));  // as KWD_SEED reads it
    EXPECT_EQ(all.particles, 1500);
    EXPECT_EQ(all.model, tFootprintModel::Touchdown);
    EXPECT_TRUE(all.touchdownList);
    EXPECT_TRUE(all.overwrite);
    EXPECT_TRUE(all.quiet);

    const tCommandLine plain = parseCommandLine(words("check --seed=7 b.tra --out=o"));
    EXPECT_EQ(plain.command, tCommand::Check);
    EXPECT_EQ(plain.configurationPath, "b.tra");
    EXPECT_EQ(plain.seed, 7u);
    EXPECT_EQ(plain.outputFolder, "o");
    EXPECT_FALSE(plain.outputInterval || plain.threads || plain.particles);
    EXPECT_FALSE(plain.overwrite || plain.quiet);
    EXPECT_FALSE(plain.model);  // the file's choice
    EXPECT_FALSE(plain.touchdownList);
    EXPECT_EQ(parseCommandLine(words("run a.tra --model described")).model, tFootprintModel::Described);

    EXPECT_EQ(parseCommandLine(words("--help")).command, tCommand::Help);
    EXPECT_EQ(parseCommandLine(words("run a.tra -h")).command, tCommand::Help);
    EXPECT_EQ(parseCommandLine(words("--version")).command, tCommand::Version);
    EXPECT_EQ(parseCommandLine({"run", "--", "-odd.tra"}).configurationPath, "-odd.tra");
}

TEST(CommandLine, UsageErrorsAreOneLineAndStatusTwo) {
    const std::string see = " (kwd-footprint --help shows the usage)";
    struct Case { std::vector<std::string> args; std::string line; } cases[] = {
        {words("start a.tra"), "unknown command \"start\""},
        {words("--out x run a.tra"), "unknown option \"--out\"; a command (run or check) comes first"},
        {words("run"), "run needs a run configuration file (RUN.tra)"},
        {words("check a.tra b.tra"), "check takes one run configuration file, got also \"b.tra\""},
        {words("run a.tra --frobnicate"), "unknown option \"--frobnicate\""},
        {words("run a.tra --out"), "option --out needs a value"},
        {words("run a.tra --out="), "option --out needs a value"},
        {words("run a.tra --interval 0"), "option --interval needs a whole number of seconds of at least 1, not \"0\""},
        {words("run a.tra --interval 1.5"), "option --interval needs a whole number of seconds of at least 1, not \"1.5\""},
        {words("run a.tra --interval 99999999999"), "option --interval needs a whole number of seconds of at least 1, not \"99999999999\""},
        {words("run a.tra --threads -2"), "option --threads needs a whole number of threads of at least 1, not \"-2\""},
        {words("run a.tra --particles 0"), "option --particles needs a whole number of particles of at least 1, not \"0\""},
        {words("run a.tra --particles 1e6"), "option --particles needs a whole number of particles of at least 1, not \"1e6\""},
        {words("run a.tra --seed x1"), "option --seed needs a decimal integer, not \"x1\""},
        {words("run a.tra --seed 1 --seed 2"), "option --seed is given twice"},
        {words("run a.tra --quiet --quiet"), "option --quiet is given twice"},
        {words("run a.tra --overwrite=yes"), "option --overwrite takes no value"},
        {words("run a.tra --model fast"), "unknown model \"fast\"; --model takes described or touchdown"},
        {words("run a.tra --model described --touchdown-list"), "--touchdown-list goes with the touchdown model"},
    };
    for (const Case& c : cases) {
        std::ostringstream out, err;
        EXPECT_EQ(runCommandLine(c.args, out, err), 2) << c.line;
        EXPECT_EQ(out.str(), "");
        EXPECT_EQ(err.str(), "UsageError: " + c.line + see + "\n");
    }
}

TEST(CommandLine, HelpAndVersion) {
    std::ostringstream out, err;
    EXPECT_EQ(runCommandLine({"--help"}, out, err), 0);
    EXPECT_EQ(out.str().rfind("usage: kwd-footprint", 0), 0u);
    EXPECT_NE(out.str().find("--overwrite"), std::string::npos);
    std::ostringstream vout;
    EXPECT_EQ(runCommandLine({"--version"}, vout, err), 0);
    const std::string v = vout.str();
    EXPECT_EQ(v.rfind("kwd-footprint 1.0.0 (commit ", 0), 0u) << v;
    const std::string commit = v.substr(28, v.size() - 28 - 2);
    EXPECT_TRUE(commit == "unknown" ||
                (commit.size() == 40 && commit.find_first_not_of("0123456789abcdef") == std::string::npos))
        << commit;
    EXPECT_EQ(err.str(), "");
}

// ---- the built program -------------------------------------------------------------

struct tRun {
    int status = -1;
    std::string out, err;
};

// Runs the built program with arguments (and an empty standard input) in
// workDir; `env` goes in front as "NAME=value ...". KWD_SEED is removed from
// the environment unless `env` sets it.
tRun runWith(const std::string& workDir, const std::vector<std::string>& args,
             const std::string& env = "") {
    std::string cmd = "cd '" + workDir + "' && env -u KWD_SEED " + env + " '" + KWD_PROGRAM + "'";
    for (const std::string& a : args) cmd += " '" + a + "'";
    cmd += " < /dev/null > '" + workDir + "/out.txt' 2> '" + workDir + "/err.txt'";
    const int raw = std::system(cmd.c_str());
    tRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = kwd::test::readText(workDir + "/out.txt");
    run.err = kwd::test::readText(workDir + "/err.txt");
    return run;
}

// A tiny simulation whose run configuration asks for one full batch per
// period, with the detector in a building beside a lawn (a quick run).
struct Simulation {
    tTempFolder dir;
    std::string root = dir.file("sim");
    example::tWritten written;
    std::string tra;
    explicit Simulation(int32_t outputs = 2) {
        example::tOptions o = kwd::test::tinyOptions(root, outputs);
        o.particles = KWD_BATCH_SIZE;
        EXPECT_TRUE(kwd::test::buildingLawnDetector(example::makeScene(o), o.detector));
        written = example::writeExample(o);
        tra = written.traPath;
    }
    std::string zdt(size_t n) const {
        const std::string& z = written.zdxPaths[n];
        return z.substr(0, z.size() - 4) + ".ZDT";
    }
};

// A result file without what depends on the wall clock; the run record
// (times, command line) is compared on its own.
std::map<std::string, std::string> resultFiles(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const std::string& name : fileNames(folder)) {
        if (name == kRunRecordName) continue;
        const std::string text = kwd::test::readText(folder + "/" + name);
        if (name.ends_with(".ZDT") || name.ends_with(".csv")) {
            files[name] = text;
            continue;
        }
        std::string kept;
        for (const std::string& line : kwd::test::lines(text))
            if (line.find("<revisiondate>") == std::string::npos &&
                line.find("elapsed since start of the simulation") == std::string::npos)
                kept += line + "\n";
        files[name] = kept;
    }
    return files;
}

void expectSameFiles(const std::map<std::string, std::string>& a,
                     const std::map<std::string, std::string>& b, const std::string& what) {
    SCOPED_TRACE(what);
    ASSERT_GT(a.size(), 5u);
    EXPECT_EQ(a.size(), b.size());
    for (const auto& [name, text] : a) {
        ASSERT_TRUE(b.count(name)) << name;
        EXPECT_TRUE(text == b.at(name)) << name << " differs";
    }
}

nlohmann::json readRecord(const std::string& folder) {
    return nlohmann::json::parse(kwd::test::readText(folder + "/" + kRunRecordName));
}

TEST(CommandLineRun, SeededFilesAreTheSameAtOneAndTwoThreadsAndInTheDialogue) {
    Simulation sim;
    // Unseeded: the record says which seed the clock gave.
    const tRun first = runWith(sim.dir.path(), {"run", sim.tra, "--out", "a", "--threads", "1"});
    ASSERT_EQ(first.status, 0) << first.err;
    const uint64_t seed = readRecord(sim.dir.file("a"))["settings"]["seed"].get<uint64_t>();
    const std::string s = std::to_string(seed);
    const tRun one = runWith(sim.dir.path(), {"run", sim.tra, "--out", "b", "--seed", s, "--threads", "1"});
    const tRun two = runWith(sim.dir.path(), {"run", sim.tra, "--out", "c", "--seed", s, "--threads", "2"});
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_EQ(two.status, 0) << two.err;
    EXPECT_EQ(readRecord(sim.dir.file("c"))["settings"]["threads"], 2);
    const kwd::test::tProgramRun dialogue = kwd::test::runProgram(
        sim.dir.path(), "1\n" + sim.tra + "\n\n\n", "KWD_SEED=" + s + " OMP_NUM_THREADS=2");
    ASSERT_EQ(dialogue.status, 0) << dialogue.output;

    const auto a = resultFiles(sim.dir.file("a"));
    expectSameFiles(a, resultFiles(sim.dir.file("b")), "the recorded seed again, one thread");
    expectSameFiles(a, resultFiles(sim.dir.file("c")), "two threads");
    expectSameFiles(a, resultFiles(sim.root + "/trajectory"), "the dialogue");
    // The console text is the dialogue's from the start lines on, without the final prompt.
    const std::vector<std::string> out = kwd::test::lines(one.out);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.front(), "******************************************************");
    EXPECT_EQ(out.back(), "******************************************************");
    EXPECT_TRUE(contains(out, "Total amount of particles simulated: " + kBatch));
    EXPECT_EQ(one.err, "");
}

TEST(CommandLineRun, RunRecord) {
    Simulation sim(3);
    const std::vector<std::string> args = {"run", sim.tra, "--out", "res", "--seed", "42",
                                           "--interval", "60", "--particles", "1500", "--quiet"};
    const tRun run = runWith(sim.dir.path(), args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");  // --quiet
    EXPECT_EQ(run.err, "");
    const std::string res = sim.dir.file("res");
    const nlohmann::json r = readRecord(res);
    EXPECT_EQ(r["program"], "kwd-footprint");
    EXPECT_EQ(r["version"], "1.0.0");
    EXPECT_TRUE(r["commit"].is_string());
    std::vector<std::string> line{"kwd-footprint"};
    line.insert(line.end(), args.begin(), args.end());
    EXPECT_EQ(r["commandLine"].get<std::vector<std::string>>(), line);
    const nlohmann::json& st = r["settings"];
    EXPECT_EQ(st["configuration"], sim.tra);
    EXPECT_EQ(st["rootFolder"], sim.root);
    EXPECT_EQ(st["outputFolder"], "res");
    ASSERT_EQ(st["dataSets"].size(), 3u);
    const char* times[] = {"21.06.2018 10:00:00", "21.06.2018 10:02:00", "21.06.2018 10:04:00"};
    for (size_t n = 0; n < 3; ++n) {
        EXPECT_EQ(st["dataSets"][n]["descriptor"], sim.written.zdxPaths[n]);
        EXPECT_EQ(st["dataSets"][n]["dataFile"], sim.zdt(n));
        EXPECT_EQ(st["dataSets"][n]["modelTime"], times[n]);
    }
    EXPECT_EQ(st["detector"]["xMin"].get<double>(), double(float(sim.written.detector[0])));
    EXPECT_EQ(st["detector"]["zMax"].get<double>(), double(float(sim.written.detector[5])));
    EXPECT_EQ(st["particlesPerPeriod"], 1500);
    EXPECT_EQ(st["batchSize"], 1500);  // below a full batch: one batch of that size
    EXPECT_EQ(st["minHeight"].get<double>(), double(0.0001f));
    EXPECT_EQ(st["outputInterval"], 60);
    EXPECT_EQ(st["updateInterval"], 60);
    EXPECT_EQ(st["model"], "described");
    EXPECT_EQ(st["seed"], 42u);
    EXPECT_GE(st["threads"].get<int>(), 1);
    EXPECT_EQ(r["state"], "finished");
    EXPECT_FALSE(r.contains("error"));
    const std::string start = r["start"], end = r["end"];
    EXPECT_EQ(start.size(), 19u);
    EXPECT_LE(start, end);
    EXPECT_EQ(r["totals"]["particlesSimulated"], 3000);  // two periods of 1500
    // The run log agrees.
    const std::vector<std::string> log =
        kwd::test::lines(kwd::test::readText(res + "/logFile.log"));
    EXPECT_TRUE(contains(log, "Particle Factor: 1500"));
    EXPECT_TRUE(contains(log, "Total amount of particles simulated: 3000"));
    EXPECT_TRUE(contains(log, "Total amount of particles through emitter: " +
                                  std::to_string(r["totals"]["particlesThroughEmitter"].get<int64_t>())));
    // An output every 60 s: 10:03 and 10:02 in the first period, 10:01 and 10:00 in the second.
    EXPECT_EQ(kwd::test::countStartingWith(fileNames(res), "TMP_VirtPart_"), 2u * 4u);

    // A run that fails records its error line.
    const std::string zdx = sim.written.zdxPaths[1];
    std::string text = kwd::test::readText(zdx);
    text.replace(text.find("<simulation_time> 10:02:00 "), 27, "<simulation_time> 25:02:00 ");
    kwd::test::writeText(zdx, text);
    const tRun bad = runWith(sim.dir.path(), {"run", sim.tra, "--out", "res2"});
    EXPECT_EQ(bad.status, 1);
    const std::string errorLine = "ConversionError: data set " + zdx +
                                  ": model time \"21.06.2018 25:02:00\" does not read as dd.mm.yyyy hh:mm:ss";
    EXPECT_EQ(bad.err, errorLine + "\n");
    const nlohmann::json f = readRecord(sim.dir.file("res2"));
    EXPECT_EQ(f["state"], "failed");
    EXPECT_EQ(f["error"], errorLine);
    EXPECT_TRUE(f["end"].is_string());
}

TEST(CommandLineRun, FolderWithResultsIsRefusedUnlessOverwritten) {
    Simulation sim;
    const std::string out = sim.dir.file("out");
    ASSERT_EQ(runWith(sim.dir.path(), {"run", sim.tra, "--out", out, "--seed", "5"}).status, 0);
    const auto before = resultFiles(out);
    fs::create_directory(out + "/notes");
    kwd::test::writeText(out + "/notes/keep.txt", "mine");

    const tRun refused = runWith(sim.dir.path(), {"run", sim.tra, "--out", out, "--seed", "5"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err.rfind("FileError: the output folder \"" + out + "\" already holds results (", 0), 0u)
        << refused.err;
    EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1);
    EXPECT_TRUE(resultFiles(out) == before);

    // Emptied first: the same files again, not the particle lists twice over.
    kwd::test::writeText(out + "/stray.csv", "x");
    const tRun again = runWith(sim.dir.path(), {"run", sim.tra, "--out", out, "--seed", "5", "--overwrite"});
    ASSERT_EQ(again.status, 0) << again.err;
    expectSameFiles(before, resultFiles(out), "overwritten");
    EXPECT_FALSE(fs::exists(out + "/stray.csv"));
    EXPECT_EQ(kwd::test::readText(out + "/notes/keep.txt"), "mine");
}

// ---- the output folder's lock ------------------------------------------------------

TEST(OutputFolderLock, OneHolderAtATime) {
    tTempFolder dir;
    const std::string inUse = "the output folder \"" + dir.path() +
                              "\" is in use: another run holds its lock file \"" +
                              dir.file(kLockFileName) + "\"";
    {
        const tOutputFolderLock first(dir.path());
        try {
            const tOutputFolderLock second(dir.path());
            ADD_FAILURE() << "a second holder got the lock";
        } catch (const kwd::FileError& e) {
            EXPECT_EQ(std::string(e.what()), inUse);
        }
    }
    // Free again once the first holder has gone; the file stays.
    EXPECT_NO_THROW(tOutputFolderLock again(dir.path()));
    EXPECT_TRUE(fs::exists(dir.file(kLockFileName)));
    EXPECT_TRUE(filesBesideLock(dir.path()).empty());
}

TEST(OutputFolderLock, ASecondRunOnTheFolderEndsAtOnce) {
    Simulation sim;
    const std::string trajectory = sim.root + "/trajectory";
    fs::create_directories(trajectory);
    const tOutputFolderLock held(trajectory);  // another run, as far as the program can tell
    const std::string line = "FileError: the output folder \"" + trajectory +
                             "\" is in use: another run holds its lock file \"" + trajectory +
                             "/" + kLockFileName + "\"";
    const tRun run = runWith(sim.dir.path(), {"run", sim.tra});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, line + "\n");
    const kwd::test::tProgramRun dialogue =
        kwd::test::runProgram(sim.dir.path(), "1\n" + sim.tra + "\n\n\n");
    EXPECT_EQ(dialogue.status, 1);
    EXPECT_EQ(dialogue.lines.back(), line);
    const tRun check = runWith(sim.dir.path(), {"check", sim.tra});
    EXPECT_EQ(check.status, 1);
    EXPECT_EQ(check.err, line + "\n");
    EXPECT_TRUE(filesBesideLock(trajectory).empty());  // nothing written
}

// ---- check -----------------------------------------------------------------------------

TEST(CommandLineCheck, AGoodRunCanStart) {
    Simulation sim;
    const tRun run = runWith(sim.dir.path(), {"check", sim.tra});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::vector<std::string> l = kwd::test::lines(run.out);
    ASSERT_FALSE(l.empty());
    EXPECT_EQ(l.front(), "Run configuration: " + sim.tra);
    EXPECT_TRUE(contains(l, "Data sets: 2, from 21.06.2018 10:00:00 to 21.06.2018 10:02:00"));
    EXPECT_TRUE(contains(l, "Grid: 8 x 8 x 4 cells"));
    EXPECT_TRUE(contains(l, "Particles per period: " + kBatch + ", in batches of " + kBatch));
    EXPECT_TRUE(contains(l, "Output folder: " + sim.root + "/trajectory"));
    const auto memory = std::find_if(l.begin(), l.end(), [](const std::string& s) {
        return s.rfind("Memory estimate: ", 0) == 0;
    });
    ASSERT_NE(memory, l.end());
    EXPECT_NE(memory->find("(fields of 8 x 8 x 4 cells "), std::string::npos) << *memory;
    // The detector lies in a building and reaches a centimetre into the lawn.
    const auto obstacle = std::find_if(l.begin(), l.end(), [](const std::string& s) {
        return s.find("obstacle cell(s)") != std::string::npos;
    });
    ASSERT_NE(obstacle, l.end()) << run.out;
    EXPECT_NE(obstacle->find("reaches into 1 obstacle cell(s) of data set " + sim.written.zdxPaths[1] +
                             " (2 cell(s) in all), where released particles end at once: ("),
              std::string::npos) << *obstacle;
    EXPECT_EQ(l.back(), "The run can start.");
    EXPECT_FALSE(fs::exists(sim.root + "/trajectory"));  // check writes nothing
}

TEST(CommandLineCheck, BadRunsEndWithTheirErrorLine) {
    struct Case {
        const char* what;
        std::function<void(const Simulation&)> spoil;
        std::vector<std::string> extra;
        std::function<std::string(const Simulation&)> line;
        bool beforeStart = true;  // the run refuses it before the output folder is made
    } cases[] = {
        {"missing data file of the last period",
         [](const Simulation& s) { fs::remove(s.zdt(0)); },
         {},
         [](const Simulation& s) {
             return "InputError: data set " + s.written.zdxPaths[0] + ": ZDT file \"" + s.zdt(0) +
                    "\" cannot be read: No such file or directory";
         }},
        {"short data file",
         [](const Simulation& s) { fs::resize_file(s.zdt(1), 100); },
         {},
         [](const Simulation& s) {
             return "InputError: data set " + s.written.zdxPaths[1] + ": ZDT file \"" + s.zdt(1) +
                    "\" holds 100 bytes; its grid of 8 x 8 x 4 cells needs at least 23552 (23 variables)";
         }},
        {"object code that is not a number, found when the fields are loaded",
         [](const Simulation& s) {
             std::fstream f(s.zdt(1), std::ios::in | std::ios::out | std::ios::binary);
             const float code = std::nanf("");
             f.write(reinterpret_cast<const char*>(&code), 4);
         },
         {},
         [](const Simulation& s) {
             return "InputError: data set " + s.written.zdxPaths[1] +
                    ": object code nan of cell (0, 0, 0) is not a whole number";
         },
         false},
        {"more particles than the machine can hold",
         {},
         {"--particles", "1000000000000000"},
         [](const Simulation&) { return std::string("RunSetupError: the run needs about "); }},
        {"missing run configuration",
         [](const Simulation& s) { fs::remove(s.tra); },
         {},
         [](const Simulation& s) {
             return "InputError: the run configuration file \"" + s.tra + "\" is missing or not a file";
         }},
        {"root folder that is not there",
         [](const Simulation& s) {
             std::string t = kwd::test::readText(s.tra);
             t.replace(t.find("<RootPath> " + s.root), 11 + s.root.size(), "<RootPath> " + s.root + "-gone");
             kwd::test::writeText(s.tra, t);
         },
         {},
         [](const Simulation& s) {
             return "InputError: the root folder \"" + s.root + "-gone\" of the run configuration file \"" +
                    s.tra + "\" (RootPath) is not a folder";
         }},
        {"output folder with results",
         [](const Simulation& s) {
             fs::create_directories(s.root + "/trajectory");
             kwd::test::writeText(s.root + "/trajectory/logFile.log", "x");
         },
         {},
         [](const Simulation& s) {
             return "FileError: the output folder \"" + s.root + "/trajectory\" already holds results (1 file(s), "
                    "for instance \"logFile.log\"); a run would add to them: choose an empty folder or "
                    "give --overwrite to empty it first";
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Simulation sim;
        if (c.spoil) c.spoil(sim);
        std::vector<std::string> args{"check", sim.tra};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const tRun check = runWith(sim.dir.path(), args);
        EXPECT_EQ(check.status, 1);
        EXPECT_EQ(check.out, "");
        EXPECT_EQ(check.err.rfind(c.line(sim), 0), 0u) << check.err;
        EXPECT_EQ(check.err.find("\n"), check.err.size() - 1);
        // The run refuses the same way before it starts.
        args[0] = "run";
        const tRun run = runWith(sim.dir.path(), args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, check.err);
        if (c.beforeStart) {
            EXPECT_EQ(run.out, "");
            EXPECT_FALSE(fs::exists(sim.root + "/trajectory"));
        }
    }
}

TEST(CommandLineCheck, DetectorPartlyOutsideIsAWarning) {
    Simulation sim;
    tTRAFile t;
    t.LoadFromFile(sim.tra);
    t.setDetectorValues(-1.0f, 1.0f, 1.0f, 2.0f, 0.5f, 1.0f);
    t.SaveToFile(sim.tra.substr(0, sim.tra.size() - 4));
    const tRun run = runWith(sim.dir.path(), {"check", sim.tra});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(
        contains(kwd::test::lines(run.out),
                 "Warning: the detector box (x -1 to 1, y 1 to 2, z 0.5 to 1 m) reaches outside "
                 "the model area of data set " +
                     sim.written.zdxPaths[1] +
                     " (x 0 to 16, y 0 to 16, z 0 to 4 m): particles released there leave the "
                     "model at once"))
        << run.out;
}

}  // namespace

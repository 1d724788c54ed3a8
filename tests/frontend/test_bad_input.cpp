// Bad input, end to end: the built program on tiny simulations spoilt one way
// at a time. Each run ends with one error line and status 1, or does what the
// program is documented to do with such input; none crashes, hangs (each run
// has a time limit) or asks for more memory than its input backs (each run
// has an address-space limit outside sanitizer builds).
//
// Also: output that stays whole when a write fails or the program is killed
// while writing, and inputs that are never opened for writing. The program is
// run in a child process with limits of its own: a file size limit stands in
// for a full disk, and when the tests run as root the child drops to the user
// nobody, so that read-only folders mean what they say.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>

#include "frontend/u_RunStart.h"
#include "frontend/u_tTRAFile.h"
#include "support/FrontendFixtures.h"
#include "platform/KwdError.h"

using kwd::engine::tDetector;

using kwd::frontend::checkDetectorInModel;
using kwd::frontend::tTRAFile;

using kwd::dataset::TZDXFile;

extern char** environ;

namespace {

namespace fs = std::filesystem;
using kwd::test::contains;
using kwd::test::tTempFolder;

// g++ defines the first two, clang answers __has_feature.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KWD_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KWD_TEST_SANITIZED 1
#endif
#endif
#ifdef KWD_TEST_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
// A run of the tiny simulation takes about a second (a minute in sanitizer builds).
constexpr unsigned kTimeLimitSeconds = kSanitized ? 600 : 120;
constexpr rlim_t kAddressSpace = rlim_t(6) << 30;
constexpr uid_t kNobody = 65534;

struct tLimits {
    bool otherUser = false;           // run as the user nobody when the tests run as root
    rlim_t fileSize = RLIM_INFINITY;  // largest file the program may write
    bool killOnFileSize = false;      // a write beyond it kills the program (else it fails)
    std::vector<std::string> env;     // NAME=value
};

struct tRun {
    int status = -1;  // exit status; -1 when a signal ended the program
    int signal = 0;
    std::string output;
    std::vector<std::string> lines;
};

// Runs the built program in `workDir` with `answers` on standard input and
// standard output and error in one file. KWD_SEED is taken out of the
// environment unless `limits.env` sets it.
tRun runProgram(const std::string& workDir, const std::string& answers,
                const tLimits& limits = {}) {
    const std::string in = workDir + "/answers.txt", out = workDir + "/console.txt";
    kwd::test::writeText(in, answers);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::string(*e).rfind("KWD_SEED=", 0) != 0) env.emplace_back(*e);
    env.insert(env.end(), limits.env.begin(), limits.env.end());
    std::vector<char*> envp;
    for (std::string& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string program = KWD_PROGRAM;
    char* argv[] = {program.data(), nullptr};
    struct sigaction onFileSize{};
    onFileSize.sa_handler = limits.killOnFileSize ? SIG_DFL : SIG_IGN;
    rlimit fileSize{}, addressSpace{};
    getrlimit(RLIMIT_FSIZE, &fileSize);
    getrlimit(RLIMIT_AS, &addressSpace);
    fileSize.rlim_cur = std::min(limits.fileSize, fileSize.rlim_max);
    addressSpace.rlim_cur = std::min(kAddressSpace, addressSpace.rlim_max);
    const bool dropToNobody = limits.otherUser && geteuid() == 0;

    const int fdIn = ::open(in.c_str(), O_RDONLY | O_CLOEXEC);
    const int fdOut = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    tRun run;
    if (fdIn < 0 || fdOut < 0) {
        ADD_FAILURE() << "cannot open the console files in " << workDir;
        return run;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here to the program.
        if (dup2(fdIn, 0) < 0 || dup2(fdOut, 1) < 0 || dup2(fdOut, 2) < 0) _exit(125);
        if (chdir(workDir.c_str()) != 0) _exit(125);
        setrlimit(RLIMIT_FSIZE, &fileSize);
        if (!kSanitized) setrlimit(RLIMIT_AS, &addressSpace);
        sigaction(SIGXFSZ, &onFileSize, nullptr);
        if (dropToNobody && (syscall(SYS_setgroups, 0, nullptr) != 0 ||
                             syscall(SYS_setgid, kNobody) != 0 || syscall(SYS_setuid, kNobody) != 0))
            _exit(126);
        alarm(kTimeLimitSeconds);
        execve(argv[0], argv, envp.data());
        _exit(127);
    }
    ::close(fdIn);
    ::close(fdOut);
    int raw = 0;
    if (pid < 0 || waitpid(pid, &raw, 0) != pid) {
        ADD_FAILURE() << "cannot run " << KWD_PROGRAM;
        return run;
    }
    if (WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) run.signal = WTERMSIG(raw);
    run.output = kwd::test::readText(out);
    run.lines = kwd::test::lines(run.output);
    return run;
}

std::string tail(const tRun& run) {
    if (run.signal == SIGALRM) return "(the program hung and was stopped)";
    if (run.signal != 0) return "(ended by signal " + std::to_string(run.signal) + ")";
    return run.lines.empty() ? std::string("(no output)") : run.lines.back();
}

// Replaces the first `from` of a text file by `to`.
void replaceIn(const std::string& path, const std::string& from, const std::string& to) {
    std::string text = kwd::test::readText(path);
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << "\"" << from << "\" not in " << path;
    text.replace(at, from.size(), to);
    kwd::test::writeText(path, text);
}

// Drops the lines of a text file that contain `what`.
void dropLinesWith(const std::string& path, const std::string& what) {
    std::string kept;
    for (const std::string& line : kwd::test::lines(kwd::test::readText(path)))
        if (line.find(what) == std::string::npos) kept += line + "\r\n";
    kwd::test::writeText(path, kept);
}

// Writes one value of a variable of the tiny simulation's data file (8 x 8 x 4 cells).
void putValue(const std::string& zdt, int var, int i, int j, int k, float value) {
    std::fstream f(zdt, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(4 * (var * 256 + (k * 8 + j) * 8 + i)));
    f.write(reinterpret_cast<const char*>(&value), 4);
    ASSERT_TRUE(f.good()) << zdt;
}

std::string repeated(const std::string& piece, int n) {
    std::string s;
    for (int k = 0; k < n; ++k) s += (k ? "," : "") + piece;
    return s;
}

// A tiny simulation of two outputs (10:00 and 10:02), whose detector lies in
// a building next to a lawn, so that a run takes about a second.
struct Simulation {
    tTempFolder dir;
    std::string root = dir.file("sim");
    example::tWritten written;
    std::string zdx[2], zdt[2];  // 10:00 and 10:02; the run starts with [1]
    std::string tra;

    Simulation() {
        example::tOptions o = kwd::test::tinyOptions(root);
        EXPECT_TRUE(kwd::test::buildingLawnDetector(example::makeScene(o), o.detector));
        written = example::writeExample(o);
        for (int n = 0; n < 2; ++n) {
            zdx[n] = written.zdxPaths[size_t(n)];
            zdt[n] = zdx[n].substr(0, zdx[n].size() - 4) + ".ZDT";
        }
        tra = written.traPath;
    }
    std::string trajectory() const { return root + "/trajectory"; }
    std::string traAnswers() const { return "1\n" + tra + "\n\n\n"; }
    std::string consoleStart() const { return "2\n" + root + "\n"; }
    void setDetector(float x0, float x1, float y0, float y1, float z0, float z1) const {
        tTRAFile t;
        t.LoadFromFile(tra);
        t.setDetectorValues(x0, x1, y0, y1, z0, z1);
        t.SaveToFile(tra.substr(0, tra.size() - 4));
    }
    void bothDescriptors(const std::function<void(const std::string&)>& edit) const {
        for (const std::string& z : zdx) edit(z);
    }
    // Gives every axis of both descriptors n cells of 1 m.
    void grid(int n) const {
        bothDescriptors([n](const std::string& z) {
            std::string text = kwd::test::readText(z);
            for (const char* axis : {"x", "y", "z"}) {
                const std::string nr = std::string("<nr_") + axis + "data>";
                const std::string sp = std::string("<spacing_") + axis + ">";
                const size_t a = text.find(nr) + nr.size(), b = text.find("</", a);
                text.replace(a, b - a, " " + std::to_string(n) + " ");
                const size_t c = text.find(sp) + sp.size(), d = text.find("</", c);
                text.replace(c, d - c, " " + repeated("1.00000", n) + " ");
            }
            kwd::test::writeText(z, text);
        });
    }
};

const std::string kNotAGrid = " cells; the engine needs at least 3 columns, 3 rows and 4 levels";
const std::string kOutside = " m): every particle would be released outside the model";

struct ErrorCase {
    const char* what;
    std::function<void(const Simulation&)> spoil;
    std::function<std::string(const Simulation&)> answers;  // empty: the run configuration path
    std::function<std::string(const Simulation&)> line;     // the last line of the output
    bool beforeRun;  // refused before the run starts: no output folder
};

TEST(BadInput, EachEndsWithOneErrorLineAndStatusOne) {
    const std::string longLine(1 << 20, 'a');
    const ErrorCase cases[] = {
        // Data files.
        {"truncated data file of the first data set of the run",
         [](const Simulation& s) { fs::resize_file(s.zdt[1], 1000); },
         {},
         [](const Simulation& s) {
             return "InputError: data set " + s.zdx[1] + ": ZDT file \"" + s.zdt[1] +
                    "\" holds 1000 bytes; its grid of 8 x 8 x 4 cells needs at least 23552 (23 variables)";
         },
         true},
        {"empty data file of the second data set",
         [](const Simulation& s) { fs::resize_file(s.zdt[0], 0); },
         {},
         [](const Simulation& s) {
             return "InputError: data set " + s.zdx[0] + ": ZDT file \"" + s.zdt[0] +
                    "\" holds 0 bytes; its grid of 8 x 8 x 4 cells needs at least 23552 (23 variables)";
         },
         true},
        {"negative dissipation in an air cell of the first data set of the run",
         [](const Simulation& s) { putValue(s.zdt[1], 14, 1, 2, 3, -1e-12f); },
         {},
         [](const Simulation& s) {
             return "InputError: data set " + s.zdx[1] + ": variable 14 (\"Dissipation\") holds "
                    "-9.99999996e-13 in cell (1, 2, 3), a cell outside the obstacles; the dissipation "
                    "must not be negative";
         },
         false},
        {"NaN in the vertical wind of the second data set",
         [](const Simulation& s) { putValue(s.zdt[0], 3, 7, 7, 0, std::nanf("")); },
         {},
         [](const Simulation& s) {
             return "InputError: data set " + s.zdx[0] + ": variable 3 (\"Flow w\") holds nan in "
                    "cell (7, 7, 0), which is not a finite number";
         },
         false},
        // Grid counts and spacings.
        {"negative grid count",
         [](const Simulation& s) {
             s.bothDescriptors(
                 [](const std::string& z) { replaceIn(z, "<nr_xdata> 8 ", "<nr_xdata> -5 "); });
         },
         {},
         [](const Simulation& s) {
             return "InputError: data set " + s.zdx[1] + ": grid of 0 x 8 x 4" + kNotAGrid;
         },
         false},
        {"zero grid count",
         [](const Simulation& s) {
             s.bothDescriptors(
                 [](const std::string& z) { replaceIn(z, "<nr_ydata> 8 ", "<nr_ydata> 0 "); });
         },
         {},
         [](const Simulation& s) {
             return "InputError: data set " + s.zdx[1] + ": grid of 8 x 0 x 4" + kNotAGrid;
         },
         false},
        {"missing spacings",
         [](const Simulation& s) {
             s.bothDescriptors([](const std::string& z) { dropLinesWith(z, "<spacing_z>"); });
         },
         {},
         [](const Simulation& s) {
             return "InputError: data set " + s.zdx[1] + ": grid of 8 x 8 x 0" + kNotAGrid;
         },
         false},
        {"spacings of one data set disagree with the grid",
         [](const Simulation& s) { replaceIn(s.zdx[0], "<spacing_x> 2.00000,", "<spacing_x> "); },
         {},
         [](const Simulation& s) {
             return "InputError: data set " + s.zdx[0] +
                    ": its grid (7 x 8 x 4 cells and their widths) differs from the run's grid (8 x 8 x 4 cells)";
         },
         false},
        {"grid far larger than the data file",
         [](const Simulation& s) { s.grid(600); },
         {},
         [](const Simulation& s) {
             return "InputError: data set " + s.zdx[0] + ": ZDT file \"" + s.zdt[0] +
                    "\" holds 23552 bytes; its grid of 600 x 600 x 600 cells needs at least 19872000000 (23 variables)";
         },
         true},
        {"grid larger than any data file",
         [](const Simulation& s) { s.grid(2000); },
         {},
         [](const Simulation& s) {
             return "InputError: data set " + s.zdx[0] +
                    ": its grid of 2000 x 2000 x 2000 cells is larger than a data file can hold (at most 2147483647 values per variable)";
         },
         true},
        // Dates and times.
        {"empty date",
         [](const Simulation& s) {
             replaceIn(s.zdx[1], "<simulation_date> 21.06.2018 ", "<simulation_date>  ");
         },
         {},
         [](const Simulation& s) {
             return "ConversionError: data set " + s.zdx[1] +
                    ": model time \"UNKNOWN_DATE 10:02:00\" does not read as dd.mm.yyyy hh:mm:ss";
         },
         false},
        {"non-numeric date",
         [](const Simulation& s) {
             replaceIn(s.zdx[0], "<simulation_date> 21.06.2018 ", "<simulation_date> 21.O6.2018 ");
         },
         {},
         [](const Simulation& s) {
             return "ConversionError: data set " + s.zdx[0] +
                    ": model time \"21.O6.2018 10:00:00\" does not read as dd.mm.yyyy hh:mm:ss";
         },
         false},
        {"hour out of range",
         [](const Simulation& s) {
             replaceIn(s.zdx[0], "<simulation_time> 10:00:00 ", "<simulation_time> 25:00:00 ");
         },
         {},
         [](const Simulation& s) {
             return "ConversionError: data set " + s.zdx[0] +
                    ": model time \"21.06.2018 25:00:00\" does not read as dd.mm.yyyy hh:mm:ss";
         },
         false},
        {"missing time",
         [](const Simulation& s) { dropLinesWith(s.zdx[0], "<simulation_time>"); },
         {},
         [](const Simulation& s) {
             return "ConversionError: data set " + s.zdx[0] +
                    ": model time \"21.06.2018 UNKNOWN_TIME\" does not read as dd.mm.yyyy hh:mm:ss";
         },
         false},
        // The run configuration file.
        {"run configuration without a detector",
         [](const Simulation& s) {
             dropLinesWith(s.tra, "Min>");
             dropLinesWith(s.tra, "Max>");
         },
         {},
         [](const Simulation& s) {
             return "InputError: the run configuration file \"" + s.tra +
                    "\" lacks the tag \"xMin\" (element \"DetectorInfo\")";
         },
         true},
        {"run configuration without a root folder",
         [](const Simulation& s) { dropLinesWith(s.tra, "<RootPath>"); },
         {},
         [](const Simulation& s) {
             return "InputError: the run configuration file \"" + s.tra +
                    "\" lacks the tag \"RootPath\" (element \"TrajectoryInfo\")";
         },
         true},
        {"run configuration cut short after its header",
         [](const Simulation& s) { fs::resize_file(s.tra, 200); },
         {},
         [](const Simulation& s) {
             return "InputError: the run configuration file \"" + s.tra +
                    "\" lacks the tag \"xMin\" (element \"DetectorInfo\")";
         },
         true},
        {"run configuration of binary junk",
         [](const Simulation& s) {
             std::string junk;
             for (int n = 0; n < 3000; ++n) junk += char((n * 7919 + 13) % 256);
             kwd::test::writeText(s.tra, junk);
         },
         {},
         [](const Simulation& s) {
             return "InputError: the run configuration file \"" + s.tra +
                    "\" lacks the tag \"xMin\" (element \"DetectorInfo\")";
         },
         true},
        {"run configuration with a particle count in exponent notation",
         [](const Simulation& s) {
             replaceIn(s.tra, "<ParticleMultiplier> 1000 ", "<ParticleMultiplier> 1e7 ");
         },
         {},
         [](const Simulation& s) {
             return "InputError: the run configuration file \"" + s.tra +
                    "\" has the tag \"ParticleMultiplier\" with \"1e7\", which does not read completely "
                    "as a 32-bit integer";
         },
         true},
        {"run configuration with a detector value nan",
         [](const Simulation& s) {
             dropLinesWith(s.tra, "<zMin>");
             replaceIn(s.tra, "<DetectorInfo>", "<DetectorInfo>\r\n     <zMin> nan </zMin>");
         },
         {},
         [](const Simulation& s) {
             return "InputError: the run configuration file \"" + s.tra +
                    "\" has the tag \"zMin\" with \"nan\", which does not read completely as a decimal "
                    "number in the 32-bit float range (decimal point \".\")";
         },
         true},
        {"detector above the model",
         [](const Simulation& s) { s.setDetector(3.0f, 4.0f, 3.0f, 4.0f, 4.5f, 6.25f); },
         {},
         [](const Simulation& s) {
             return "RunSetupError: the detector box (x 3 to 4, y 3 to 4, z 4.5 to 6.25 m) "
                    "lies outside the model area of data set " + s.zdx[1] +
                    " (x 0 to 16, y 0 to 16, z 0 to 4" + kOutside;
         },
         true},
        {"run configuration listing the data sets latest first",
         [](const Simulation& s) {
             replaceIn(s.tra, s.zdx[0], "@first@");
             replaceIn(s.tra, s.zdx[1], s.zdx[0]);
             replaceIn(s.tra, "@first@", s.zdx[1]);
         },
         {},
         [](const Simulation& s) {
             return "RunSetupError: the run configuration file \"" + s.tra +
                    "\" lists its data sets out of time order: " + s.zdx[1] +
                    " (21.06.2018 10:02:00) stands before " + s.zdx[0] +
                    " (21.06.2018 10:00:00); the data sets must be listed in strictly increasing model time";
         },
         true},
        {"run configuration without data sets",
         [](const Simulation& s) { dropLinesWith(s.tra, "ZDXPath"); },
         {},
         [](const Simulation& s) {
             return "RunSetupError: the run configuration file \"" + s.tra +
                    "\" lists 0 data set(s); a run needs at least two";
         },
         true},
        {"run configuration without a minimum height",
         [](const Simulation& s) { dropLinesWith(s.tra, "<MinHeight>"); },
         {},
         [](const Simulation& s) {
             return "RunSetupError: the minimum height in the run configuration file \"" + s.tra +
                    "\" is -999 m; it must be above 0 (the height at which a particle that went "
                    "below the ground is put back)";
         },
         true},
        {"run configuration with an unknown footprint model",
         [](const Simulation& s) {
             replaceIn(s.tra, "<MinHeight>", "<FootprintModel> forward </FootprintModel>\r\n<MinHeight>");
         },
         {},
         [](const Simulation& s) {
             return "InputError: run configuration file \"" + s.tra +
                    "\": TrajectoryInfo tag FootprintModel is \"forward\"; it must be described or "
                    "touchdown";
         },
         true},
        {"data set path to a missing file",
         [](const Simulation& s) { replaceIn(s.tra, s.zdx[0], s.zdx[0] + "-gone"); },
         {},
         [](const Simulation& s) {
             return "InputError: cannot read the data-set descriptor \"" + s.zdx[0] +
                    "-gone\": the file is missing or not a ZDX descriptor";
         },
         true},
        {"data set path to a data file",
         [](const Simulation& s) { replaceIn(s.tra, s.zdx[1], s.zdt[1]); },
         {},
         [](const Simulation& s) {
             return "InputError: cannot read the data-set descriptor \"" + s.zdt[1] +
                    "\": the file is missing or not a ZDX descriptor";
         },
         true},
        // The output folder.
        {"output folder is a file",
         [](const Simulation& s) { kwd::test::writeText(s.trajectory(), "x"); },
         {},
         [](const Simulation& s) {
             return "FileError: cannot create folder \"" + s.trajectory() + "\": Not a directory";
         },
         false},
        {"a link named like the particle list, to an input data file",
         [](const Simulation& s) {
             fs::create_directory(s.trajectory());
             fs::create_symlink(s.zdt[0], s.trajectory() + "/ParticleList_21.06.2018 10.00.00_KWDExample.csv");
         },
         {},
         [](const Simulation& s) {
             return "FileError: cannot open file for appending \"" + s.trajectory() +
                    "/ParticleList_21.06.2018 10.00.00_KWDExample.csv\": it is a symbolic link; result "
                    "files are never written through links";
         },
         false},
        {"project name too long for a file name",
         [](const Simulation& s) {
             s.bothDescriptors([](const std::string& z) {
                 replaceIn(z, "<projectname> KWDExample ", "<projectname> " + std::string(300, 'P') + " ");
             });
         },
         {},
         [](const Simulation& s) {
             return "FileError: cannot create file \"" + s.trajectory() +
                    "/SourceStrengthIJ_21.06.2018 10.01.00" + std::string(300, 'P') +
                    ".csv\": File name too long";
         },
         false},
        // Console answers.
        {"detector beside the model, typed at the console",
         {},
         [](const Simulation& s) {
             return s.consoleStart() + "0..1\n-5\n-1\n2\n3\n0\n1\n1000\n120\n";
         },
         [](const Simulation& s) {
             return "RunSetupError: the detector box (x -5 to -1, y 2 to 3, z 0 to 1 m) lies outside "
                    "the model area of data set " + s.zdx[1] + " (x 0 to 16, y 0 to 16, z 0 to 4" + kOutside;
         },
         true},
        {"menu answer with a trailing blank",
         {},
         [](const Simulation&) { return std::string("1 \n"); },
         [](const Simulation&) {
             return std::string(
                 "InputError: end of input while waiting for the input type (1 or 2)");
         },
         true},
        {"detector value with a trailing blank",
         {},
         [](const Simulation& s) { return s.consoleStart() + "0..1\n3.5 \n"; },
         [](const Simulation&) {
             return std::string("ConversionError: \"3.5 \" is not a decimal number (xMin of the detector; "
                                "the decimal separator is \".\")");
         },
         true},
        {"span with a trailing blank",
         {},
         [](const Simulation& s) { return s.consoleStart() + "0..1 \n"; },
         [](const Simulation&) {
             return std::string("ConversionError: \"0..1 \" is not a span of simulation outputs (start..end, e.g. 1..5)");
         },
         true},
        {"span answer of a megabyte",
         {},
         [&](const Simulation& s) { return s.consoleStart() + longLine + "\n"; },
         [&](const Simulation&) {
             return "ConversionError: \"" + longLine + "\" is not a span of simulation outputs (start..end, e.g. 1..5)";
         },
         true},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.what);
        Simulation sim;
        if (c.spoil) c.spoil(sim);
        const tRun run = runProgram(sim.dir.path(), c.answers ? c.answers(sim) : sim.traAnswers());
        EXPECT_EQ(run.status, 1) << tail(run);
        EXPECT_EQ(tail(run), c.line(sim));
        EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(), tail(run)), 1);
        EXPECT_FALSE(contains(run.lines, "Press ENTER to end program"));
        if (c.beforeRun) {
            EXPECT_FALSE(fs::exists(sim.trajectory()));
        }
    }
}

TEST(BadInput, UnusableRunConfigurationsEndWithoutAFurtherLine) {
    // Documented: a run configuration whose root folder is not there (so also
    // a file that is not there) ends the program at once, with status 1.
    const std::function<void(const Simulation&)> spoils[] = {
        [](const Simulation& s) { fs::remove(s.tra); },
        [](const Simulation& s) { replaceIn(s.tra, "<RootPath> " + s.root, "<RootPath> " + s.root + "-gone"); },
        [](const Simulation& s) { replaceIn(s.tra, "<RootPath> " + s.root, "<RootPath> " + s.root + std::string(1 << 20, '/')); },
    };
    for (const auto& spoil : spoils) {
        Simulation sim;
        spoil(sim);
        const tRun run = runProgram(sim.dir.path(), sim.traAnswers());
        EXPECT_EQ(run.status, 1) << tail(run);
        EXPECT_EQ(tail(run), "Please enter the path to the *.tra file");
    }
    // The same for a path answer of a megabyte.
    Simulation sim;
    const tRun run = runProgram(sim.dir.path(), "1\n" + std::string(1 << 20, 'a') + "\n\n");
    EXPECT_EQ(run.status, 1) << tail(run);
    EXPECT_EQ(tail(run), "Please enter the path to the *.tra file");
}

TEST(BadInput, TolerableOdditiesStillRun) {
    // Documented: values beyond the blocks are not read, a grid count above
    // the spacings given becomes their number, unused texts may be long, and
    // a CR before the line end is not part of an answer.
    struct Case {
        const char* what;
        std::function<void(const Simulation&)> spoil;
        bool crlf;
    } cases[] = {
        {"data file with values beyond its blocks",
         [](const Simulation& s) { std::ofstream(s.zdt[1], std::ios::app) << std::string(4096, '\x7f'); }, false},
        {"grid count of 10^9 with eight spacings and a title of a megabyte",
         [](const Simulation& s) {
             s.bothDescriptors([](const std::string& z) {
                 replaceIn(z, "<nr_xdata> 8 ", "<nr_xdata> 1000000000 ");
                 replaceIn(z, "<title> ", "<title> " + std::string(1 << 20, 'T'));
             });
         }, false},
        {"answers with CR LF line ends", {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Simulation sim;
        if (c.spoil) c.spoil(sim);
        const std::string eol = c.crlf ? "\r\n" : "\n";
        const tRun run = runProgram(sim.dir.path(), "1" + eol + sim.tra + eol + eol + eol);
        EXPECT_EQ(run.status, 0) << tail(run);
        EXPECT_EQ(tail(run), "Press ENTER to end program");
        EXPECT_TRUE(fs::exists(sim.trajectory() + "/VirtPart_KWDExample_21.06.2018 10.00.00.ZDT"));
    }
}

TEST(BadInput, DetectorWhollyOutsideTheModelIsRefused) {
    // A model of 16 m x 16 m x 4 m; the release draws whole millimetres from
    // [min, max), or the bound itself when both agree.
    TZDXFile z;
    z.InfoFilename = "/sim/atmosphere/A.ZDX";
    z.GridsI = 8, z.GridsJ = 8, z.GridsK = 4;
    z.sizedx.assign(8, 2.0f), z.sizedy.assign(8, 2.0f), z.sizedz.assign(4, 1.0f);
    const double nan = std::nan("");
    struct Case { tDetector d; bool refused; } cases[] = {
        {{1, 2, 1, 2, 0.5, 1}, false},
        {{-1, 1, 1, 2, 0.5, 1}, false},       // partly outside
        {{5, 3, 2, 1, 1, 0.5}, false},        // bounds in either order
        {{0, 0, 16, 16, 4, 4}, false},        // points on the model's faces
        {{1, 2, 1, 2, 4, 9}, false},          // only z = 4 m lies in the model
        {{nan, 2, 1, 2, 0.5, 1}, false},      // left to the release
        {{-5, -1, 1, 2, 0.5, 1}, true},
        {{-1, 0, 1, 2, 0.5, 1}, true},        // draws stop 1 mm short of x = 0
        {{1, 2, 16.001, 17, 0.5, 1}, true},
        {{1, 2, 1, 2, -0.5, -0.5}, true},
        {{-999, -999, -999, -999, -999, -999}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.d.xMin << " " << c.d.xMax << " " << c.d.yMin << " "
                                        << c.d.yMax << " " << c.d.zMin << " " << c.d.zMax);
        bool refused = false;
        try {
            checkDetectorInModel(c.d, z);
        } catch (const kwd::RunSetupError&) {
            refused = true;
        }
        EXPECT_EQ(refused, c.refused);
    }
    try {
        checkDetectorInModel({-1, 0, 1, 2.5, 0.125, 1}, z);
        FAIL() << "no error";
    } catch (const kwd::RunSetupError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "the detector box (x -1 to 0, y 1 to 2.5, z 0.125 to 1 m) lies outside the model "
                  "area of data set /sim/atmosphere/A.ZDX (x 0 to 16, y 0 to 16, z 0 to 4 m): "
                  "every particle would be released outside the model");
    }
}

// ---- output that stays whole -------------------------------------------------

// A result file's content without what depends on the wall clock.
std::string comparable(const std::string& name, const std::string& text) {
    if (name.ends_with(".ZDT") || name.ends_with(".csv")) return text;
    std::string kept;
    for (const std::string& line : kwd::test::lines(text))
        if (line.find("<revisiondate>") == std::string::npos &&
            line.find("elapsed since start of the simulation") == std::string::npos)
            kept += line + "\n";
    return kept;
}

std::map<std::string, std::string> resultFiles(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const std::string& name : kwd::test::fileNames(folder))
        if (name != "run.json")  // the run record: rewritten by every run
            files[name] = comparable(name, kwd::test::readText(folder + "/" + name));
    return files;
}

// Every file of a folder with its bytes.
std::map<std::string, std::string> rawFiles(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const std::string& name : kwd::test::fileNames(folder))
        files[name] = kwd::test::readText(folder + "/" + name);
    return files;
}

// Every file of an earlier run is still there, whole: the same as before
// (the run is seeded), or, for the appended particle list, what it held
// before followed by more.
void expectEarlierFilesWhole(const std::map<std::string, std::string>& before,
                             const std::string& folder) {
    const std::map<std::string, std::string> after = resultFiles(folder);
    for (const auto& [name, text] : before) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(after.count(name));
        if (name.rfind("ParticleList_", 0) == 0)
            EXPECT_EQ(after.at(name).substr(0, text.size()), text);
        else
            EXPECT_TRUE(after.at(name) == text);
    }
}

TEST(BadInput, FailingOrInterruptedWritesLeaveEarlierOutputsWhole) {
    Simulation sim;
    const tLimits seeded{false, RLIM_INFINITY, false, {"KWD_SEED=20240611"}};
    const tRun first = runProgram(sim.dir.path(), sim.traAnswers(), seeded);
    ASSERT_EQ(first.status, 0) << tail(first);
    const std::map<std::string, std::string> before = resultFiles(sim.trajectory());
    const std::string zdt = sim.trajectory() + "/TMP_VirtPart_KWDExample_21.06.2018 10.01.00.ZDT";
    ASSERT_GT(fs::file_size(zdt), 10000u);  // the first file of the run that does not fit below

    // A full disk: the write fails and the program says so.
    tLimits full = seeded;
    full.fileSize = 10000;
    const tRun failed = runProgram(sim.dir.path(), sim.traAnswers(), full);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(tail(failed), "FileError: cannot write file \"" + zdt + "\": File too large");
    expectEarlierFilesWhole(before, sim.trajectory());

    // Killed while writing that file.
    full.killOnFileSize = true;
    const tRun killed = runProgram(sim.dir.path(), sim.traAnswers(), full);
    EXPECT_EQ(killed.signal, SIGXFSZ) << tail(killed);
    expectEarlierFilesWhole(before, sim.trajectory());
}

// ---- folders the program cannot write ------------------------------------------

// Whether the program's user is kept from writing where permissions say so:
// not root, or root that can run the program as nobody. Otherwise `why` says
// what stands in the way.
bool permissionsHold(const Simulation& sim, std::string& why) {
    if (geteuid() != 0) return true;
    const tRun probe = runProgram(sim.dir.path(), "", tLimits{true, RLIM_INFINITY, false, {}});
    if (probe.status == 126) {
        why = "cannot run the program as another user";
        return false;
    }
    if (probe.status == 127) {
        // The checkout lies below a folder that other users cannot enter
        // (a clone under a mktemp -d folder, for instance).
        why = std::string("the user nobody cannot run ") + KWD_PROGRAM +
              ": a folder above it is closed to other users";
        return false;
    }
    return true;
}

TEST(BadInput, ReadOnlyOutputFoldersAreFileErrors) {
    {
        Simulation sim;
        if (std::string why; !permissionsHold(sim, why)) GTEST_SKIP() << why;
        fs::create_directory(sim.trajectory());
        fs::permissions(sim.trajectory(), fs::perms(0555));
        const tRun run = runProgram(sim.dir.path(), sim.traAnswers(), tLimits{true, RLIM_INFINITY, false, {}});
        EXPECT_EQ(run.status, 1);
        // The run's lock file is the first file it creates there.
        EXPECT_EQ(tail(run), "FileError: cannot create file \"" + sim.trajectory() +
                                 "/.kwd-footprint.lock\": Permission denied");
        fs::permissions(sim.trajectory(), fs::perms(0755));
    }
    {
        // No output folder, and none can be made.
        Simulation sim;
        fs::permissions(sim.root, fs::perms(0555));
        const tRun run = runProgram(sim.dir.path(), sim.traAnswers(), tLimits{true, RLIM_INFINITY, false, {}});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(tail(run), "FileError: cannot create folder \"" + sim.trajectory() + "\": Permission denied");
        fs::permissions(sim.root, fs::perms(0755));
    }
}

TEST(BadInput, InputsAreNeverOpenedForWriting) {
    Simulation sim;
    if (std::string why; !permissionsHold(sim, why)) GTEST_SKIP() << why;
    // A project name that would lead outside the output folder, onto an
    // input, if file names could name folders.
    const std::string project = "../atmosphere/KWDExample_AT_10.02.00_21.06.2018";
    sim.bothDescriptors([&](const std::string& z) {
        replaceIn(z, "<projectname> KWDExample ", "<projectname> " + project + " ");
    });
    const std::string atmosphere = sim.root + "/atmosphere";
    const std::map<std::string, std::string> inputs = rawFiles(atmosphere);
    for (const auto& [name, text] : inputs) fs::permissions(atmosphere + "/" + name, fs::perms(0444));
    fs::permissions(atmosphere, fs::perms(0555));
    fs::permissions(sim.tra, fs::perms(0444));
    fs::create_directory(sim.trajectory());
    fs::permissions(sim.trajectory(), fs::perms(0777));

    const tRun run = runProgram(sim.dir.path(), sim.traAnswers(), tLimits{true, RLIM_INFINITY, false, {}});
    EXPECT_EQ(run.status, 0) << tail(run);
    fs::permissions(atmosphere, fs::perms(0755));
    EXPECT_TRUE(rawFiles(atmosphere) == inputs);
    // The run wrote as the user the permissions above hold for.
    struct stat log{};
    ASSERT_EQ(::stat((sim.trajectory() + "/logFile.log").c_str(), &log), 0);
    EXPECT_EQ(log.st_uid, geteuid() == 0 ? kNobody : geteuid());
    const std::vector<std::string> outputs = kwd::test::fileNames(sim.trajectory());
    EXPECT_TRUE(contains(outputs, "VirtPart_...atmosphere.KWDExample_AT_10.02.00_21.06.2018_21.06.2018 10.00.00.ZDX"));
    for (const std::string& name : outputs) EXPECT_FALSE(inputs.count(name)) << name;
    // Nothing beside the simulation's own folders and files either.
    std::vector<std::string> top;
    for (const auto& e : fs::directory_iterator(sim.root)) top.push_back(e.path().filename().string());
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"KWDExample.tra", "atmosphere", "trajectory"}));
}

}  // namespace

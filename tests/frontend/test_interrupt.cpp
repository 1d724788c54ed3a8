// A run stopped by SIGINT or SIGTERM: status 128 + the signal, one error
// line, the stop in the run log and the run record, and every file whole.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "frontend/u_RunRecord.h"
#include "support/FrontendFixtures.h"

using kwd::frontend::kRunRecordName;

namespace {

using kwd::test::tTempFolder;

// Starts the built program with arguments, standard output and error to
// files in workDir; returns its process id.
pid_t startProgram(const std::string& workDir, const std::vector<std::string>& args) {
    std::string cmd = "cd '" + workDir + "' && exec env -u KWD_SEED '" + KWD_PROGRAM + "'";
    for (const std::string& a : args) cmd += " '" + a + "'";
    cmd += " < /dev/null > out.txt 2> err.txt";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

// Waits until `path` holds `text` (at most a minute).
bool waitFor(const std::string& path, const std::string& text) {
    for (int n = 0; n < 600; ++n) {
        if (std::filesystem::exists(path) &&
            kwd::test::readText(path).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

TEST(Interrupt, RunStopsCleanlyWithTheSignalsStatus) {
    struct tCase {
        int signal;
        int status;
        const char* name;
    };
    for (const tCase c : {tCase{SIGTERM, 143, "SIGTERM"}, tCase{SIGINT, 130, "SIGINT"}}) {
        SCOPED_TRACE(c.name);
        // Many periods of particles that move in open air: far longer than
        // the moment the signal comes.
        tTempFolder dir;
        example::tOptions o = kwd::test::tinyOptions(dir.file("sim"), 40);
        o.particles = KWD_BATCH_SIZE;
        const example::tWritten w = example::writeExample(o);
        const pid_t pid = startProgram(dir.path(), {"run", w.traPath, "--out", "out", "--seed", "5"});
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(waitFor(dir.file("out.txt"), "Accessing ZAKO-rin simulation output"));
        ::kill(pid, c.signal);
        int raw = 0;
        ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
        ASSERT_TRUE(WIFEXITED(raw)) << "ended by a signal, not by the program";
        EXPECT_EQ(WEXITSTATUS(raw), c.status);
        EXPECT_EQ(kwd::test::readText(dir.file("err.txt")),
                  std::string("Interrupted: the run was stopped by ") + c.name +
                      "; the files written so far are whole\n");

        const std::string out = dir.file("out");
        const std::vector<std::string> log =
            kwd::test::lines(kwd::test::readText(out + "/logFile.log"));
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back().rfind(std::string("Run interrupted by ") + c.name + " at model time ", 0), 0u)
            << log.back();
        const auto record = nlohmann::json::parse(kwd::test::readText(out + "/" + kRunRecordName));
        EXPECT_EQ(record["state"], "interrupted");
        // Whole files: text files end with a line end, and every data set
        // descriptor has its data file.
        for (const std::string& name : kwd::test::fileNames(out)) {
            const std::string text = kwd::test::readText(out + "/" + name);
            if (name.ends_with(".csv") || name.ends_with(".log")) {
                EXPECT_TRUE(text.ends_with("\r\n")) << name;
            }
            if (name.ends_with(".ZDX")) {
                const std::string data = out + "/" + name.substr(0, name.size() - 4) + ".ZDT";
                EXPECT_TRUE(std::filesystem::exists(data)) << name;
            }
        }
    }
}

}  // namespace

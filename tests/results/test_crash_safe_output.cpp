// Output that survives failing writes: every file written in one piece goes
// to a temporary name and is renamed into place, so a write that fails (a
// full disk, a file size limit) leaves the complete file of an earlier output
// where it stood and no stray file beside it; the appended particle list
// keeps every complete line written before the error.
//
// A full disk is imitated with the process's file size limit: a write beyond
// it fails with EFBIG ("File too large"), SIGXFSZ being ignored while the
// limit holds. No test output is written while it holds.

#include <gtest/gtest.h>
#include <omp.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <map>
#include <string>

#include "support/ResultsFixtures.h"
#include "dataset/u_ZDTFile.h"
#include "dataset/u_ZDXFile.h"
#include "platform/KwdError.h"
#include "results/u_EngineOutputs.h"
#include "results/u_ResultText.h"

using kwd::results::saveCurrentParticlesInTargetToFile;
using kwd::results::saveTextLines;
using kwd::results::writeOutput;

using kwd::engine::tParticleManager;

using kwd::dataset::tZDTWriter;
using kwd::dataset::TZDXFile;

using namespace kwd::test;

namespace {

// Runs `write` under a file size limit of `bytes` and returns the message of
// the kwd::FileError it raised, or "no error".
std::string failingWrite(rlim_t bytes, const std::function<void()>& write) {
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limited = old;
    limited.rlim_cur = std::min(bytes, old.rlim_max);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limited);
    std::string message = "no error";
    try {
        write();
    } catch (const kwd::FileError& e) {
        message = e.what();
    } catch (const std::exception& e) {
        message = std::string("not a FileError: ") + e.what();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    return message;
}

// Every file of a folder with its bytes.
std::map<std::string, std::string> snapshot(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const std::string& name : fileNames(folder)) files[name] = readText(folder + "/" + name);
    return files;
}

std::vector<std::string> manyLines(size_t n) {
    std::vector<std::string> lines;
    for (size_t k = 0; k < n; ++k) lines.push_back("01.07.2018;12:00:00;" + std::to_string(k));
    return lines;
}

TZDXFile descriptor(const std::string& title) {
    TZDXFile z = makeDescriptor(uniformGrid(3, 3, 4), "/nonexistent", "IN", "01.07.2018",
                                "12:00:00", 23, "P");
    z.Title = title;
    return z;
}

void writeBlocks(const std::string& path, size_t blocks, float value) {
    tZDTWriter writer(path);
    const std::vector<float> block(1024, value);
    for (size_t b = 0; b < blocks; ++b) writer.WriteBlock(block);
    writer.Close();
}

TEST(CrashSafeOutput, WholeFileWritersKeepTheCompleteFileWhenAWriteFails) {
    struct Case {
        const char* what;
        const char* name;
        std::function<void(const std::string&)> complete;  // fits under the limit
        std::function<void(const std::string&)> larger;    // does not
    } cases[] = {
        {"run log", "logFile.log",
         [](const std::string& p) { saveTextLines(p, manyLines(3)); },
         [](const std::string& p) { saveTextLines(p, manyLines(2000)); }},
        {"descriptor", "VirtPart_P_01.07.2018 12.00.00.ZDX",
         [](const std::string& p) { descriptor("Virtual Particles").WriteFile(p); },
         [](const std::string& p) { descriptor(std::string(20000, 'T')).WriteFile(p); }},
        {"data file", "VirtPart_P_01.07.2018 12.00.00.ZDT",
         [](const std::string& p) { writeBlocks(p, 1, 1.0f); },
         [](const std::string& p) { writeBlocks(p, 8, 2.0f); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tTempFolder out("kwd_res_");
        const std::string path = out.file(c.name);
        c.complete(path);
        const std::string before = readText(path);
        ASSERT_LT(before.size(), 8192u);

        const std::string message = failingWrite(8192, [&] { c.larger(path); });
        EXPECT_EQ(message, "cannot write file \"" + path + "\": File too large");
        EXPECT_EQ(readText(path), before);
        EXPECT_EQ(fileNames(out.path()), std::vector<std::string>{c.name});  // no temporary file left
    }
}

class FailingOutput : public ::testing::Test {
protected:
    void SetUp() override {
        fEngine = makeEngine(uniformGrid(8, 8, 4), [](int32_t i, int32_t j, int32_t k) {
            tCellValues c;
            c.u = float(i + j + k);
            return c;
        });
        tParticleManager& e = *fEngine;
        e.fOutputDir = fOut.path();
        e.fActSimTime = noon();
        e.fverboseLog = true;
        e.fTotalEmittedParticles = 4;
        e.SourceStrengthIJ(3, 4, 0) = e.SourceStrengthIJK(3, 4, 0) = 1.0;
        writeOutput(e, *e.fCurrZDXFile, fBase);
        fBefore = snapshot(fOut.path());
        ASSERT_EQ(fBefore.size(), 7u);  // five grid files, ZDX, ZDT

        // The next output of the same time differs in every file.
        e.SourceStrengthIJ(5, 2, 0) = e.SourceStrengthIJK(5, 2, 0) = 1.0;
        e.fCurrZDXFile->Locationname = "Elsewhere";
    }

    std::string retry(rlim_t limit) {
        return failingWrite(limit, [&] { writeOutput(*fEngine, *fEngine->fCurrZDXFile, fBase); });
    }

    tTempFolder fOut{"kwd_res_"};
    std::unique_ptr<tParticleManager> fEngine;
    std::string fBase = fOut.file("VirtPart_TestProject_01.07.2018 12.00.00");
    std::map<std::string, std::string> fBefore;
};

TEST_F(FailingOutput, AFailingGridFileLeavesEveryEarlierFileWhole) {
    // Smaller than one grid file of 8 x 8 numbers.
    EXPECT_EQ(retry(512), "cannot write file \"" + fOut.path() +
                              "/SourceStrengthIJ_01.07.2018 12.00.00TestProject.csv\": "
                              "File too large");
    EXPECT_TRUE(snapshot(fOut.path()) == fBefore);
}

TEST_F(FailingOutput, AFailingDataFileKeepsTheEarlierDescriptorAndDataFile) {
    // The grid files and the descriptor fit, the 17 blocks of the data file do not.
    ASSERT_LT(fBefore.at("VirtPart_TestProject_01.07.2018 12.00.00.ZDX").size(), 6000u);
    EXPECT_EQ(retry(6000), "cannot write file \"" + fBase + ".ZDT\": File too large");
    const std::map<std::string, std::string> after = snapshot(fOut.path());
    ASSERT_EQ(after.size(), 7u);
    // Neither a new descriptor beside the old data nor a partial data file.
    for (const char* ext : {".ZDX", ".ZDT"}) {
        const std::string name = "VirtPart_TestProject_01.07.2018 12.00.00" + std::string(ext);
        EXPECT_TRUE(after.at(name) == fBefore.at(name)) << name;
    }
    // The grid files were written in full before the failure.
    EXPECT_NE(after.at("SourceStrengthIJ_01.07.2018 12.00.00TestProject.csv"),
              fBefore.at("SourceStrengthIJ_01.07.2018 12.00.00TestProject.csv"));
}

std::vector<std::string> crlfLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "the text does not end with a whole line";
    return lines;
}

TEST(CrashSafeOutput, AFailingAppendKeepsEveryCompleteLineOfTheParticleList) {
    // The failing call's rows are written a block at a time (4,096 rows on
    // one thread, 16,384 on several): the limit falls in the first block,
    // or in a later one after whole blocks were written.
    struct Case {
        int threads;
        int rows;         // of the failing call
        rlim_t room;      // bytes the limit leaves after the earlier contents
    } cases[] = {
        {1, 200, 3000},          // a dozen rows, not 200
        {1, 10000, 1500000},     // into the second block
        {2, 40000, 6000000},     // into the second block, on two threads
    };
    const int threads = omp_get_max_threads();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rows) + " rows on " + std::to_string(c.threads) +
                     " thread(s)");
        omp_set_num_threads(c.threads);
        // The same two calls without a limit give the whole text.
        tTempFolder out("kwd_res_"), whole("kwd_res_");
        auto e = accumulatorEngine(uniformGrid(3, 3, 4), out.path());
        auto w = accumulatorEngine(uniformGrid(3, 3, 4), whole.path());
        const std::string name = "ParticleList_01.07.2018 12.00.00_P.csv";
        for (auto* engine : {e.get(), w.get()}) {
            for (int n = 0; n < 3; ++n)
                engine->fParticleList.push_back(hitParticle({1, 1, 0}, 0.5, 0.25));
            saveCurrentParticlesInTargetToFile(*engine);
            for (int n = 0; n < c.rows; ++n)
                engine->fParticleList.push_back(
                    hitParticle({n % 3, 1, 0}, -0.5 - n * 1e-3, 0.25 + n * 1e-4));
        }
        const std::string earlier = readText(out.file(name));
        ASSERT_EQ(crlfLines(earlier).size(), 4u);
        saveCurrentParticlesInTargetToFile(*w);
        const std::string full = readText(whole.file(name));
        const rlim_t limit = earlier.size() + c.room;
        ASSERT_GT(full.size(), limit);

        EXPECT_EQ(failingWrite(limit, [&] { saveCurrentParticlesInTargetToFile(*e); }),
                  "cannot write file \"" + out.file(name) + "\": File too large");
        // Every complete line that fits under the limit, none cut off.
        const std::string after = readText(out.file(name));
        const size_t lastLine = full.rfind('\n', limit - 1);
        ASSERT_NE(lastLine, std::string::npos);
        EXPECT_GT(after.size(), earlier.size());
        EXPECT_TRUE(after == full.substr(0, lastLine + 1))
            << after.size() << " bytes, expected " << lastLine + 1;
        (void)crlfLines(after);
    }
    omp_set_num_threads(threads);
}

}  // namespace

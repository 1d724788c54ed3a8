#include <fcntl.h>
#include <gtest/gtest.h>
#include <omp.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/DateTime.h"
#include "platform/FileIO.h"
#include "platform/FpControl.h"
#include "platform/KwdError.h"
#include "platform/LargeMemory.h"
#include "platform/MessageSink.h"
#include "platform/ParallelChunks.h"
#include "platform/RegionalSettings.h"

using namespace kwd;

TEST(DateTime, EncodeDecodeRoundTrip) {
    const tDateTime t = encodeDateTime(2018, 7, 1, 12, 34, 56, 789);
    const DateTimeParts p = decodeDateTime(t);
    EXPECT_EQ(p.year, 2018);
    EXPECT_EQ(p.month, 7);
    EXPECT_EQ(p.day, 1);
    EXPECT_EQ(p.hour, 12);
    EXPECT_EQ(p.minute, 34);
    EXPECT_EQ(p.second, 56);
    EXPECT_EQ(p.millisecond, 789);
    // The epoch and a known serial number.
    EXPECT_EQ(encodeDateTime(1899, 12, 30), 0.0);
    EXPECT_EQ(encodeDateTime(2000, 1, 1), 36526.0);
    EXPECT_EQ(decodeDateTime(encodeDateTime(2000, 2, 29)).day, 29);
}

TEST(DateTime, SecondsBetweenTruncatesAbsoluteMilliseconds) {
    const tDateTime a = encodeDateTime(2018, 7, 1, 12, 0, 0);
    EXPECT_EQ(secondsBetween(a, incMilliseconds(a, -1900)), 1);
    EXPECT_EQ(secondsBetween(incMilliseconds(a, -999), a), 0);
    EXPECT_EQ(secondsBetween(a, encodeDateTime(2018, 7, 1, 11, 0, 0)), 3600);
    EXPECT_EQ(secondsBetween(a, encodeDateTime(2018, 7, 2, 12, 0, 0)), 86400);
}

TEST(DateTime, ModelTimesReadWithFixedPatterns) {
    tDateTime t = 0;
    ASSERT_TRUE(tryParseModelDateTime("01.07.2018", "12:00:00", t));
    EXPECT_EQ(t, encodeDateTime(2018, 7, 1, 12));
    for (const char* bad : {"2018-07-01", "32.01.2018", "01.13.2018", "", "01.07.18"})
        EXPECT_FALSE(tryParseModelDateTime(bad, "12:00:00", t)) << bad;
    for (const char* bad : {"25:00:00", "12-00-00", "", "12:00:00 PM"})
        EXPECT_FALSE(tryParseModelDateTime("01.07.2018", bad, t)) << bad;
}

TEST(Regional, DateTimeTextLeavesOutMidnight) {
    EXPECT_EQ(regional::dateTimeText(encodeDateTime(2018, 7, 1, 9, 5, 3)), "01.07.2018 09:05:03");
    EXPECT_EQ(regional::dateTimeText(encodeDateTime(2018, 7, 1)), "01.07.2018");
    EXPECT_EQ(regional::fileNameTimeText(encodeDateTime(2018, 7, 1, 23, 30, 0)),
              "01.07.2018 23.30.00");
    EXPECT_EQ(regional::fileNameSafe("a/b\\c:d"), "a.b.c.d");
}

TEST(Regional, DecimalAndIntegerParsing) {
    struct Case {
        const char* text;
        bool ok;
        double value;
    };
    for (const Case& c : {Case{"12.5", true, 12.5}, Case{"-3", true, -3}, Case{"+0.25", true, 0.25},
                          Case{"1e3", true, 1000}, Case{"12,5", false, 0}, Case{"", false, 0},
                          Case{" 1", false, 0}, Case{"1 ", false, 0}, Case{"inf", false, 0},
                          Case{"nan", false, 0}, Case{".", false, 0}, Case{"1e", false, 0}}) {
        double v = -1;
        EXPECT_EQ(regional::tryParseDecimal(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
    int i = 0;
    EXPECT_TRUE(regional::tryParseInteger("-42", i));
    EXPECT_EQ(i, -42);
    for (const char* bad : {"", "1.5", "x", "99999999999", "+-1", " 1"})
        EXPECT_FALSE(regional::tryParseInteger(bad, i)) << bad;
}

TEST(FpControl, WatchedFlagsRaiseUnderflowDoesNot) {
    clearFpFlags();
    volatile double tiny = 1e-300;
    volatile double r = tiny * tiny;  // underflow only
    (void)r;
    EXPECT_NO_THROW(checkFpFlags("underflow test"));
    volatile double zero = 0.0;
    r = 1.0 / zero;
    try {
        checkFpFlags("division test");
        FAIL() << "no error";
    } catch (const FloatingPointError& e) {
        EXPECT_STREQ(e.what(), "floating-point division by zero in division test");
        EXPECT_EQ(errorLine(e), "FloatingPointError: floating-point division by zero in division test");
    }
    EXPECT_NO_THROW(checkFpFlags("after clear"));
}

TEST(MessageSink, CaptureAndRestore) {
    {
        ScopedMessageCapture capture;
        showMessage("first");
        showMessage("second");
        ASSERT_EQ(capture.messages().size(), 2u);
        EXPECT_EQ(capture.messages()[1], "second");
    }
    testing::internal::CaptureStderr();
    showMessage("to stderr");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "to stderr\n");
}

TEST(FileIO, WriteReadAppendAndErrors) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("kwd_fileio_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    createFolders((dir / "a" / "b").string());
    EXPECT_TRUE(folderExists((dir / "a" / "b").string()));
    const std::string f = (dir / "a" / "x.txt").string();
    writeWholeFile(f, "one\r\n");
    appendToFile(f, "two\r\n");
    EXPECT_EQ(readWholeFile(f), "one\r\ntwo\r\n");
    EXPECT_TRUE(fileExists(f));
    EXPECT_FALSE(fileExists((dir / "a").string()));
    EXPECT_EQ(listFiles((dir / "a").string()), std::vector<std::string>{f});
    try {
        readWholeFile((dir / "missing").string());
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find("missing\": No such file or directory"), std::string::npos)
            << e.what();
    }
    if (fs::exists("/dev/full")) {
        EXPECT_THROW(appendToFile("/dev/full", "x"), FileError);
    }
    // A failing replacement keeps the old file whole.
    EXPECT_THROW(writeWholeFile((dir / "nofolder" / "y.txt").string(), "z"), FileError);
    fs::remove_all(dir);
}

TEST(FileIO, ResultFilesAreNeverWrittenThroughLinks) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("kwd_links_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    createFolders(dir.string());
    const std::string input = (dir / "input.ZDT").string();
    const std::string result = (dir / "result.csv").string();
    const std::string linkMessage = "\": it is a symbolic link; result files are never written through links";
    struct Case {
        const char* what;
        std::function<void()> write;
        std::string message;
    } cases[] = {
        {"replace", [&] { writeWholeFile(result, "new"); }, "cannot replace file \"" + result + linkMessage},
        {"append", [&] { appendToFile(result, "new"); }, "cannot open file for appending \"" + result + linkMessage},
        {"open", [&] { ::close(openResultFile(result, O_WRONLY | O_CREAT | O_TRUNC, "cannot create file")); },
         "cannot create file \"" + result + linkMessage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeWholeFile(input, "input");
        fs::create_symlink(input, result);
        try {
            c.write();
            ADD_FAILURE() << "no error";
        } catch (const FileError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
        EXPECT_EQ(readWholeFile(input), "input");
        EXPECT_TRUE(fs::is_symlink(result));
        fs::remove(result);
    }
    // A link (or a file left by a killed run) under the temporary name is
    // removed, not written through: the result is a file of its own.
    writeWholeFile(input, "input");
    fs::create_symlink(input, result + ".tmp~");
    writeWholeFile(result, "new");
    EXPECT_EQ(readWholeFile(input), "input");
    EXPECT_EQ(readWholeFile(result), "new");
    EXPECT_FALSE(fs::is_symlink(result));
    EXPECT_FALSE(fs::exists(result + ".tmp~"));
    fs::remove_all(dir);
}

TEST(ParallelChunks, ChunksCoverTheRangeInOrderAndFirstErrorWins) {
    const int threads = omp_get_max_threads();
    omp_set_num_threads(2);
    const int chunks = chunkCount(100000, 1000);
    EXPECT_EQ(chunks, 2);
    EXPECT_EQ(chunkCount(1500, 1000), 1) << "a short range stays on the calling thread";
    std::vector<int64_t> firsts(static_cast<size_t>(chunks)), lasts(static_cast<size_t>(chunks));
    forEachChunk(100000, chunks, [&](int c, int64_t first, int64_t last) {
        firsts[size_t(c)] = first;
        lasts[size_t(c)] = last;
    });
    EXPECT_EQ(firsts, (std::vector<int64_t>{0, 50000}));
    EXPECT_EQ(lasts, (std::vector<int64_t>{50000, 100000}));

    // Both chunks fail: the error of the lower chunk is the one raised.
    try {
        forEachChunk(100, 2, [](int c, int64_t, int64_t) {
            throw GeneralError("chunk " + std::to_string(c));
        });
        FAIL() << "no error";
    } catch (const GeneralError& e) {
        EXPECT_STREQ(e.what(), "chunk 0");
    }

    // Flags raised on a worker reach the calling thread, joined.
    clearFpFlags();
    forEachChunk(100, 2, [](int c, int64_t, int64_t) {
        volatile double zero = 0.0;
        volatile double r = c == 0 ? 1.0 / zero : zero / zero;
        (void)r;
    });
    EXPECT_EQ(raisedFpFlags(), "invalid operation, division by zero");
    clearFpFlags();
    omp_set_num_threads(threads);
}

TEST(ParallelChunks, BlocksAreHandedOnInBlockOrderWithTheirWorkersState) {
    const int threads = omp_get_max_threads();
    omp_set_num_threads(2);
    // Each worker's state holds what it made of its blocks so far, so the
    // state a block is handed on with shows whose it was; the blocks made
    // in any order are handed on in block order.
    struct tWork {
        std::string made;
    };
    std::vector<std::string> handedOn;
    forEachBlockInOrder<tWork>(
        7, 2, [](tWork& w, int64_t b) { w.made += char('a' + b); },
        [&](const tWork& w, int64_t) { handedOn.push_back(w.made); });
    EXPECT_EQ(handedOn, (std::vector<std::string>{"a", "b", "ac", "bd", "ace", "bdf", "aceg"}));

    // One thread: the same hand-on in order.
    handedOn.clear();
    forEachBlockInOrder<tWork>(
        3, 1, [](tWork& w, int64_t b) { w.made += char('a' + b); },
        [&](const tWork& w, int64_t) { handedOn.push_back(w.made); });
    EXPECT_EQ(handedOn, (std::vector<std::string>{"a", "ab", "abc"}));

    // Blocks 2 and 4 fail (block 4 in its work, block 2 when handed on):
    // blocks 0 and 1 are handed on, none after block 2, whose error is raised.
    for (const int workers : {1, 2}) {
        std::vector<int64_t> blocks;
        try {
            forEachBlockInOrder<tWork>(
                6, workers,
                [](tWork&, int64_t b) {
                    if (b == 4) throw GeneralError("work of block 4");
                },
                [&](const tWork&, int64_t b) {
                    if (b == 2) throw GeneralError("hand-on of block 2");
                    blocks.push_back(b);
                });
            ADD_FAILURE() << "no error";
        } catch (const GeneralError& e) {
            EXPECT_STREQ(e.what(), "hand-on of block 2");
        }
        EXPECT_EQ(blocks, (std::vector<int64_t>{0, 1})) << workers << " worker(s)";
    }

    // Flags raised on a worker reach the calling thread.
    clearFpFlags();
    forEachBlockInOrder<tWork>(
        2, 2,
        [](tWork&, int64_t b) {
            volatile double zero = 0.0;
            volatile double r = b == 1 ? 1.0 / zero : 1.0;
            (void)r;
        },
        [](const tWork&, int64_t) {});
    EXPECT_EQ(raisedFpFlags(), "division by zero");
    clearFpFlags();
    omp_set_num_threads(threads);
}

// A large working list lives on whole huge pages (its block starts on one),
// a small one on the heap; the elements survive a move from the one to the
// other as the list grows, and the scratch room grows with its records.
TEST(LargeMemory, LargeListsStartOnHugePagesAndKeepTheirElements) {
    constexpr uintptr_t kHugePage = kwd::kHugePageBytes;
    kwd::tLargeVector<int64_t> list;
    for (int64_t n = 0; n < 1000; ++n) list.push_back(n * 3);
    kwd::reserveLarge(list, size_t(1) << 20);  // 8 MiB
    EXPECT_EQ(reinterpret_cast<uintptr_t>(list.data()) % kHugePage, 0u);
    for (int64_t n = 1000; n < (int64_t(1) << 20); ++n) list.push_back(n * 3);
    ASSERT_EQ(list.size(), size_t(1) << 20);
    for (int64_t n = 0; n < int64_t(list.size()); n += 4099) ASSERT_EQ(list[size_t(n)], n * 3);
    list.resize(10);
    list.shrink_to_fit();  // back onto the heap
    EXPECT_EQ(list.back(), 27);

    struct tRecord {
        int64_t a;
        double b;
    };
    kwd::tScratchArray<tRecord> room;
    for (const size_t count : {size_t(10), size_t(600000), size_t(100)}) {
        room.ensure(count);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(room.data()) % kHugePage, 0u);
        for (size_t n = 0; n < count; ++n) room.data()[n] = {int64_t(n), double(n)};
        EXPECT_EQ(room.data()[count - 1].a, int64_t(count - 1));
    }
}

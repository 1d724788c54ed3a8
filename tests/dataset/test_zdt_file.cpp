#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dataset/u_ZDTFile.h"
#include "platform/FileIO.h"
#include "platform/KwdError.h"
#include "support/TempFolder.h"

using kwd::dataset::ReadZDTBlock;
using kwd::dataset::tZDTWriter;
using kwd::dataset::ZDTBlockValueCount;
using kwd::dataset::ZDTValueIndex;

namespace {

// Distinct values per variable and cell: 1000 * var + index.
std::vector<float> blockValues(int var, int64_t count) {
    std::vector<float> v(static_cast<size_t>(count));
    for (int64_t n = 0; n < count; ++n) v[size_t(n)] = float(1000 * var) + float(n) * 0.5f;
    return v;
}

template <class F>
std::string inputErrorText(F&& f) {
    try {
        f();
    } catch (const kwd::InputError& e) {
        return e.what();
    }
    return "(no InputError)";
}

}  // namespace

TEST(ZDTFile, BlocksWrittenAreReadBackByPosition) {
    kwd::test::tTempFolder dir;
    const std::string path = dir.file("data.ZDT");
    const int32_t nI = 4, nJ = 3, nK = 2;
    const int64_t count = ZDTBlockValueCount(nI, nJ, nK);
    ASSERT_EQ(count, 24);
    {
        tZDTWriter w(path);
        for (int var = 0; var < 3; ++var) w.WriteBlock(blockValues(var, count));
        EXPECT_FALSE(kwd::fileExists(path));  // not in place before Close
        w.Close();
        EXPECT_EQ(w.bytesWritten(), 3 * 4 * count);
    }
    EXPECT_EQ(std::filesystem::file_size(path), uintmax_t(3 * 4 * count));
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp~"));
    for (int var = 2; var >= 0; --var) {
        EXPECT_EQ(ReadZDTBlock(path, var, nI, nJ, nK), blockValues(var, count)) << var;
    }
    std::vector<float> into(static_cast<size_t>(count));
    ReadZDTBlock(path, 1, nI, nJ, nK, into);
    // i fastest, then j, then k.
    EXPECT_EQ(into[size_t(ZDTValueIndex(3, 2, 1, nI, nJ))], 1000.0f + 23 * 0.5f);
    EXPECT_EQ(into[size_t(ZDTValueIndex(1, 0, 1, nI, nJ))], 1000.0f + 13 * 0.5f);
    EXPECT_EQ(into[size_t(ZDTValueIndex(0, 1, 0, nI, nJ))], 1000.0f + 4 * 0.5f);
}

TEST(ZDTFile, ValuesAreLittleEndianIeeeFloats) {
    kwd::test::tTempFolder dir;
    const std::string path = dir.file("le.ZDT");
    tZDTWriter w(path);
    const std::vector<float> v = {1.0f, -999.0f};
    w.WriteBlock(v);
    w.Close();
    const std::string bytes = kwd::readWholeFile(path);
    const std::string expected("\x00\x00\x80\x3f\x00\xc0\x79\xc4", 8);
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(ReadZDTBlock(path, 1, 1, 1, 1), std::vector<float>{-999.0f});
}

TEST(ZDTFile, UnfinishedWriteKeepsThePreviousFile) {
    kwd::test::tTempFolder dir;
    const std::string path = dir.file("keep.ZDT");
    {
        tZDTWriter w(path);
        w.WriteBlock(std::vector<float>{1, 2, 3, 4});
        w.Close();
    }
    {
        tZDTWriter w(path);
        w.WriteBlock(std::vector<float>{9});
    }  // destroyed without Close
    EXPECT_EQ(ReadZDTBlock(path, 0, 2, 2, 1), (std::vector<float>{1, 2, 3, 4}));
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp~"));
}

TEST(ZDTFile, WriterNeverWritesThroughLinks) {
    kwd::test::tTempFolder dir;
    const std::string input = dir.file("input.ZDT"), out = dir.file("out.ZDT");
    const std::vector<float> values = {1.0f, 2.0f};
    kwd::writeWholeFile(input, "input");
    // Under the temporary name: removed, and the data set written as a file of its own.
    std::filesystem::create_symlink(input, out + ".tmp~");
    {
        tZDTWriter w(out);
        w.WriteBlock(values);
        w.Close();
    }
    EXPECT_EQ(kwd::readWholeFile(input), "input");
    EXPECT_EQ(std::filesystem::file_size(out), 8u);
    EXPECT_FALSE(std::filesystem::is_symlink(out));
    // Under the data file's own name: refused.
    std::filesystem::remove(out);
    std::filesystem::create_symlink(input, out);
    try {
        tZDTWriter w(out);
        ADD_FAILURE() << "no error";
    } catch (const kwd::FileError& e) {
        EXPECT_EQ(std::string(e.what()), "cannot replace file \"" + out +
                                             "\": it is a symbolic link; result files are never "
                                             "written through links");
    }
    EXPECT_EQ(kwd::readWholeFile(input), "input");
}

TEST(ZDTFile, WriterThatCannotCreateRaisesFileError) {
    kwd::test::tTempFolder dir;
    EXPECT_THROW(tZDTWriter(dir.file("no_such_folder/x.ZDT")), kwd::FileError);
}

TEST(ZDTFile, ShortFileNamesFilePositionAndSizes) {
    kwd::test::tTempFolder dir;
    const std::string path = dir.file("short.ZDT");
    kwd::writeWholeFile(path, std::string(100, '\0'));
    // Block 2 of a 3 x 2 x 2 grid ends at byte 3 * 48 = 144.
    EXPECT_EQ(inputErrorText([&] { ReadZDTBlock(path, 2, 3, 2, 2); }),
              "ZDT file \"" + path +
                  "\", variable position 2, grid 3 x 2 x 2: file too short: expected at least "
                  "144 bytes, found 100");
    // Block 1 ends at byte 96 and is still complete.
    EXPECT_EQ(ReadZDTBlock(path, 1, 3, 2, 2), std::vector<float>(12, 0.0f));
}

TEST(ZDTFile, MissingFileNamesFileAndPosition) {
    kwd::test::tTempFolder dir;
    const std::string path = dir.file("missing.ZDT");
    std::vector<float> out(8);
    EXPECT_EQ(inputErrorText([&] { ReadZDTBlock(path, 0, 2, 2, 2, out); }),
              "ZDT file \"" + path +
                  "\", variable position 0, grid 2 x 2 x 2: cannot open file (No such file or "
                  "directory); expected at least 32 bytes");
}

TEST(ZDTFile, BadCountsAndPositionsAreInputErrors) {
    struct Case {
        int32_t pos, nI, nJ, nK;
    };
    const Case cases[] = {{0, 0, 1, 1},          {0, 1, -1, 1},     {0, 1, 1, 0},
                          {0, 65536, 65536, 1},  {0, 2147483647, 2, 1},
                          {-1, 1, 1, 1}};
    kwd::test::tTempFolder dir;
    const std::string path = dir.file("one.ZDT");
    kwd::writeWholeFile(path, std::string(4, '\0'));
    for (const Case& c : cases) {
        EXPECT_THROW(ReadZDTBlock(path, c.pos, c.nI, c.nJ, c.nK), kwd::InputError)
            << c.pos << " " << c.nI << " " << c.nJ << " " << c.nK;
    }
    EXPECT_EQ(inputErrorText([&] { ReadZDTBlock(path, 0, 0, 5, 5); }),
              "ZDT file \"" + path + "\": invalid grid 0 x 5 x 5 for variable position 0");
    EXPECT_THROW(ZDTBlockValueCount(46341, 46341, 1), kwd::InputError);
    // Counts whose product of three overflows 64 bits (2^63, 2^64, 2^93).
    const int32_t big[][3] = {{1 << 21, 1 << 21, 1 << 21}, {1 << 22, 1 << 21, 1 << 21},
                              {2147483647, 2147483647, 2147483647}, {1, 1 << 30, 1 << 30}};
    for (const auto& b : big) {
        EXPECT_THROW(ZDTBlockValueCount(b[0], b[1], b[2]), kwd::InputError) << b[0] << " " << b[1];
        EXPECT_THROW(ReadZDTBlock(path, 0, b[0], b[1], b[2]), kwd::InputError) << b[0] << " " << b[1];
    }
    EXPECT_EQ(ZDTBlockValueCount(46340, 46340, 1), 46340LL * 46340LL);
}

TEST(ZDTFile, BufferOfWrongSizeIsRejected) {
    kwd::test::tTempFolder dir;
    const std::string path = dir.file("two.ZDT");
    kwd::writeWholeFile(path, std::string(8, '\0'));
    std::vector<float> out(3);
    EXPECT_THROW(ReadZDTBlock(path, 0, 2, 1, 1, out), kwd::GeneralError);
}

// Block tags as the reader finds them, and malformed input: bad line counts,
// truncated files, lines without ">", unterminated tags.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ContainerFixtures.h"
#include "container/UDataXStorage.h"

using kwd::container::TDataXData;
using kwd::container::TDataXInfo;
using kwd::container::TDataXStorage;
using kwd::container::TElement;
using kwd::container::TElementIndex;

using kwd::test::ScratchFolder;
using Lines = std::vector<std::string>;

namespace {

// Header (lines 0..7), the given element lines from line 8, closing line.
Lines fileWith(const Lines& elements) {
    Lines all = {"<ZAKO-RIN_Datafile>",       "<Header>",
                 "<filetype>ZDX</filetype>",  "<version>1</version>",
                 "<revisiondate>x</revisiondate>", "<remark></remark>",
                 "<encryptionlevel>0</encryptionlevel>", "</Header>"};
    all.insert(all.end(), elements.begin(), elements.end());
    all.push_back("</ZAKO-RIN_Datafile>");
    return all;
}

const Lines kBlocks = {
    "  <E>",                                                                                 // 8
    "     <m type=\"matrix-data\" dataI=\"2\" dataJ=\"3\" signcount=\"4\">",                    // 9
    "         1.0000,    2.0000",                                                            // 10
    "         3.0000,    4.0000",                                                            // 11
    "         5.0000,    6.0000",                                                            // 12
    "     </m>",                                                                             // 13
    "     <r type=\"matrix-data\" rows=\"3\" columns=\"1\">",                                   // 14
    "     7,8,9</r>",                                                                        // 15
    "     <s type=\"sparematrix-3D\" dataI=\"2\" dataJ=\"3\" zlayers=\"4\" defaultValue=\"7\">",  // 16
    "     0,0,0,1.5",                                                                        // 17
    "     1,2,3,2.5",                                                                        // 18
    "     </s>",                                                                             // 19
    "     <bm type=\"bitmap\" width=\"2\" height=\"2\" rle_compression=\"1\">",                 // 20
    "      2 FF0000",                                                                        // 21
    "      2 00FF00",                                                                        // 22
    "     </bm>",                                                                            // 23
    "     <q type=\"sparematrix-2D\" rows=\"1\">",                                            // 24
    "     1,2",                                                                              // 25
    "     </q>",                                                                             // 26
    "     <p type=\"other\"> v </p>",                                                        // 27
    "     <after> 5 </after>",                                                               // 28
    "  </E>",                                                                                // 29
};

// Invariants every load must keep, whatever the input.
void expectSoundPositions(const TDataXStorage& x) {
    const auto count = int32_t(x.DataXStream().size());
    EXPECT_GE(x.DataXStreamPointer(), 0);
    EXPECT_LE(x.DataXStreamPointer(), count);
    EXPECT_LE(x.NrElementIndex(), 10000);
    for (const TElementIndex& e : x.ElementIndex()) {
        EXPECT_LT(e.StreamStartPos, count);
        EXPECT_LT(e.StreamEndPos, count);
        if (e.StreamEndPos >= 0) {
            EXPECT_GT(e.StreamEndPos, e.StreamStartPos);
        }
    }
    for (int32_t k = 0; k < x.NrElements(); ++k) {
        const TElement& el = x.Elements()[size_t(k)];
        EXPECT_LE(el.NrTags, 100);
        for (const TDataXData& t : el.Tags) {
            EXPECT_LE(t.DataStartStreamPos, count);
            EXPECT_LE(t.DataEndStreamPos, count);
            EXPECT_FALSE(t.DataLines.has_value());
        }
    }
}

}  // namespace

class ContainerBlocks : public ScratchFolder {
protected:
    int32_t load(const Lines& lines, const std::string& name) {
        EXPECT_EQ(x.InitXFileReader(writeLines("b.zdx", lines)), 1);
        const int32_t n = x.Collectelements(name);
        expectSoundPositions(x);
        return n;
    }
    TDataXStorage x;
};

TEST_F(ContainerBlocks, RecordsOfBlockTags) {
    ASSERT_EQ(load(fileWith(kBlocks), "E"), 1);
    struct Expected {
        std::string tag;
        int32_t type, dimI, dimJ, dimK, start, end;
        std::string data;
    };
    const std::vector<Expected> expected = {
        {"m", 2, 2, 3, 0, 10, 12, "0"},
        {"/m", 2, 0, 0, 0, -1, -1, ""},
        {"r", 2, 3, 1, 0, 15, 15, "0"},
        {"/r", 2, 0, 0, 0, -1, -1, ""},
        {"s", 5, -1, -1, 4, 17, 18, "0"},
        {"bm", 3, 2, 2, 0, 21, 23, "0"},
        {"q type=\"sparematrix-2D\" rows=\"1\"", 1, 0, 0, 0, 25, 25, "1,2"},
        {"p type=\"other\"", 1, 0, 0, 0, 28, 28, "v"},
        {"after", 1, 0, 0, 0, 29, 29, "5"},
    };
    const TElement& element = x.Elements()[0];
    ASSERT_EQ(element.NrTags, int32_t(expected.size()));
    for (size_t k = 0; k < expected.size(); ++k) {
        const TDataXData& t = element.Tags[k];
        const Expected& e = expected[k];
        EXPECT_EQ(t.Tag, e.tag) << k;
        EXPECT_EQ(t.DimI, e.dimI) << e.tag;
        EXPECT_EQ(t.dimJ, e.dimJ) << e.tag;
        EXPECT_EQ(t.dimK, e.dimK) << e.tag;
        EXPECT_EQ(t.DataStartStreamPos, e.start) << e.tag;
        EXPECT_EQ(t.DataEndStreamPos, e.end) << e.tag;
        EXPECT_EQ(t.Data, e.data) << e.tag;
        // A closing record keeps the type the reused record had.
        EXPECT_EQ(t.TagType, e.type) << e.tag;
    }
    EXPECT_EQ(element.Tags[0].LineCount, 3);
    EXPECT_EQ(element.Tags[4].ValueA, 7.0f);
    EXPECT_EQ(element.Tags[5].Compression, 1);
    EXPECT_EQ(element.Tags[5].LineCount, 2);
    EXPECT_EQ(x.GetTagValueAsString(0, "p type=\"other\"", ""), "v");
    EXPECT_EQ(x.GetTagValueAsInt(0, "after", 0), 5);
    EXPECT_EQ(x.ElementIndex()[1].StreamEndPos, 29);
}

TEST_F(ContainerBlocks, BadMatrixLineCountsAreSkippedForward) {
    for (const std::string count : {"", " dataJ=\"0\"", " dataJ=\"-5\"", " dataJ=\"abc\""}) {
        const Lines lines = fileWith({"  <E>", "     <m type=\"matrix-data\" dataI=\"2\"" + count + ">",
                                      "     </m>", "     <after> 5 </after>", "  </E>"});
        ASSERT_EQ(load(lines, "E"), 1) << count;
        EXPECT_EQ(x.GetTagValueAsInt(0, "after", 0), 5) << count;
        EXPECT_EQ(x.Elements()[0].Tags[0].DataStartStreamPos, 10) << count;
        EXPECT_EQ(x.Elements()[0].Tags[0].DataEndStreamPos, 10) << count;
        EXPECT_EQ(x.ElementIndex()[1].StreamEndPos, 12) << count;
    }
}

TEST_F(ContainerBlocks, BlocksRunningPastTheEndStopThere) {
    const std::vector<std::string> tags = {
        "     <m type=\"matrix-data\" dataI=\"2\" dataJ=\"2147483647\">",
        "     <m type=\"matrix-data\" rows=\"2\" columns=\"99\">",
        "     <b type=\"bitmap\" width=\"2\" height=\"2147483647\" rle_compression=\"0\">",
        "     <b type=\"bitmap\" width=\"2\" height=\"-3\" rle_compression=\"0\">",
        "     <s type=\"sparematrix-3D\" rows=\"1\" columns=\"1\" zlayers=\"1\" defaultValue=\"0\">",
    };
    for (const std::string& tag : tags) {
        // With and without the closing line of the file.
        for (bool closed : {true, false}) {
            Lines lines = fileWith({"  <E>", tag, "     1,1,1,1", "     2,2,2,2"});
            if (!closed) lines.pop_back();
            ASSERT_EQ(load(lines, "E"), 1) << tag;
            const TDataXData& t = x.Elements()[0].Tags[0];
            EXPECT_EQ(t.DataStartStreamPos, 10) << tag;
            EXPECT_LE(t.DataEndStreamPos, int32_t(lines.size())) << tag;
            EXPECT_EQ(x.ElementIndex()[1].StreamEndPos, -1) << tag;
        }
    }
    // A block tag on the very last line.
    ASSERT_EQ(load({"<ZAKO-RIN_Datafile>", "  <E>", "     <m type=\"matrix-data\" dataI=\"1\" dataJ=\"5\">"}, "E"), 1);
    EXPECT_EQ(x.Elements()[0].Tags[0].DataStartStreamPos, 3);
}

TEST_F(ContainerBlocks, NamesWithWordsCloseWithTheFirstWord) {
    const Lines lines = fileWith({"  <Elem more words>", "     <a> 1 </a>", "  </Elem>",
                                  "  <Next>", "     <b> 2 </b>", "  </Next>"});
    ASSERT_EQ(load(lines, "Elem more words"), 1);
    EXPECT_EQ(x.Elements()[0].NrTags, 1);
    EXPECT_EQ(x.GetTagValueAsInt(0, "a", 0), 1);
    ASSERT_EQ(x.Collectelements("Next"), 1);
    EXPECT_EQ(x.GetTagValueAsInt(0, "b", 0), 2);
}

TEST_F(ContainerBlocks, UnterminatedTagsAndLinesWithoutBrackets) {
    // An unterminated plain tag takes the lines up to the last one.
    ASSERT_EQ(load(fileWith({"  <E>", "     <a> value", "  </E>", "  <F>", "     <b> 2 </b>", "  </F>"}), "E"), 1);
    EXPECT_EQ(x.GetTagValueAsString(0, "a", ""), "value  </E>  <F>     <b> 2 </b>");
    ASSERT_EQ(x.NrElementIndex(), 2);
    EXPECT_EQ(x.ElementIndex()[1].StreamEndPos, -1);
    EXPECT_EQ(x.Collectelements("F"), 0);

    ASSERT_EQ(load(fileWith({"  <E", "     <a 1", "     plain text", "  </E"}), "E"), 1);
    EXPECT_EQ(x.Collectelements("F"), 0);
}

TEST_F(ContainerBlocks, MangledFilesNeverCrashOrHang) {
    const Lines good = fileWith(kBlocks);
    std::vector<Lines> variants;
    for (size_t k = 1; k < good.size(); ++k) {  // one line missing
        Lines v = good;
        v.erase(v.begin() + std::ptrdiff_t(k));
        variants.push_back(v);
    }
    for (const std::string cut : {">", "</", "<", "\""}) {  // a mark removed everywhere
        Lines v = good;
        for (std::string& line : v)
            for (size_t p = line.find(cut); p != std::string::npos; p = line.find(cut, p)) line.erase(p, cut.size());
        variants.push_back(v);
    }
    for (const Lines& v : variants) {
        TDataXStorage r;
        r.GetDataXFileMetadata(writeLines("v.zdx", v));
        ASSERT_EQ(r.InitXFileReader(path("v.zdx")), 1);
        for (const std::string name : {"Header", "E"}) {
            const int32_t n = r.Collectelements(name);
            expectSoundPositions(r);
            for (int32_t e = 0; e < n; ++e) r.GetTagValueAsString(e, "after", "");
        }
    }

    // Every prefix of the file's bytes.
    std::string bytes;
    for (const std::string& line : good) bytes += line + "\r\n";
    for (size_t length = 0; length <= bytes.size(); ++length) {
        TDataXStorage r;
        const std::string file = writeBytes("cut.zdx", bytes.substr(0, length));
        const TDataXInfo h = r.GetDataXFileMetadata(file);
        EXPECT_EQ(h.ContentInfo.empty(), r.DataXFileState() != 0) << length;
        ASSERT_EQ(r.InitXFileReader(file), 1);
        const int32_t n = r.Collectelements("E");
        expectSoundPositions(r);
        if (length == bytes.size()) {
            ASSERT_EQ(n, 1);
            EXPECT_EQ(r.GetTagValueAsInt(0, "after", 0), 5);
        }
    }
}

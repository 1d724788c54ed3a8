// The container reader: header check, older layouts, element index, tag
// records, getters, encodings and malformed input.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/ContainerFixtures.h"
#include "container/UDataXStorage.h"
#include "platform/FileIO.h"
#include "platform/KwdError.h"

using kwd::container::TDataXData;
using kwd::container::TDataXInfo;
using kwd::container::TDataXStorage;
using kwd::container::TDataXTextEncoding;

using kwd::test::ScratchFolder;
using Lines = std::vector<std::string>;

namespace {

const Lines kHeader = {"<ZAKO-RIN_Datafile>",
                       "<Header>",
                       "<filetype>ZDX</filetype>",
                       "<version>3</version>",
                       "<revisiondate>01.07.2018 12:00:00</revisiondate>",
                       "<remark>a remark</remark>",
                       "<encryptionlevel>4</encryptionlevel>",
                       "</Header>"};

// The header lines, the given element lines and the closing line.
Lines fileWith(const Lines& elements) {
    Lines all = kHeader;
    all.insert(all.end(), elements.begin(), elements.end());
    all.push_back("</ZAKO-RIN_Datafile>");
    return all;
}

}  // namespace

class ContainerReader : public ScratchFolder {
protected:
    // Loads lines into x and collects `name`; returns the count.
    int32_t load(const Lines& lines, const std::string& name) {
        EXPECT_EQ(x.InitXFileReader(writeLines("f.zdx", lines)), 1);
        return x.Collectelements(name);
    }
    TDataXStorage x;
};

TEST_F(ContainerReader, RoundTripOfEveryPlainValue) {
    const std::string file = path("round.zdx");
    const std::vector<float> floats = {1.5f, -0.125f, 1e-6f, 12345.678f};
    const std::vector<std::string> strings = {"one", "two words", ""};
    {
        TDataXStorage w;
        TDataXInfo h;
        h.ContentInfo = "Trajectory";
        h.Version = 7;
        h.Remark = "remark with blanks";
        h.EncryptionLevel = 3;
        w.SetDataXFileMetadata(h);
        ASSERT_EQ(w.InitXFileWriter(file), 1);
        w.InitNewElement("Values");
        w.AddTagAsString("s", "inner  blanks, comma | bar");
        w.AddTagAsString("odd", "a</b>c>");
        w.AddTagAsString("empty", "");
        w.AddTagAsInt("i", -2147483647);
        w.AddTagAsFloat("f", 0.1f);
        w.AddTagAsBool("b", true);
        w.AddTagAsFloatCollection("fc", 4, floats);
        w.AddTagAsStringCollection("sc", 3, strings);
        w.FinalizeElement();
        w.InitNewElement("Other");
        w.AddTagAsInt("n", 5);
        w.FinalizeElement();
        w.FinalizeXDataFile();
    }
    TDataXStorage r;
    const TDataXInfo h = r.GetDataXFileMetadata(file);
    EXPECT_EQ(r.DataXFileState(), 0);
    EXPECT_EQ(h.ContentInfo, "Trajectory");
    EXPECT_EQ(h.Version, 7);
    EXPECT_EQ(h.Remark, "remark with blanks");
    EXPECT_EQ(h.EncryptionLevel, 3);
    EXPECT_EQ(h.RevisionDate.size(), std::string("dd.mm.yyyy hh:mm:ss").size());

    ASSERT_EQ(r.InitXFileReader(file), 1);
    ASSERT_EQ(r.Collectelements("Values"), 1);
    EXPECT_EQ(r.GetTagValueAsString(0, "s", "?"), "inner  blanks, comma | bar");
    EXPECT_EQ(r.GetTagValueAsString(0, "odd", "?"), "a</b>c>");
    EXPECT_EQ(r.GetTagValueAsString(0, "empty", "?"), "?");
    EXPECT_EQ(r.GetTagValueAsInt(0, "i", 0), -2147483647);
    EXPECT_EQ(r.GetTagValueAsFloat(0, "f", 0), 0.1f);
    EXPECT_TRUE(r.GetTagValueAsBool(0, "b", false));
    float back[4] = {};
    int32_t count = -1;
    r.GetTagValueAsFloatCollection(0, "fc", "", count, back);
    ASSERT_EQ(count, 4);
    EXPECT_EQ(back[0], 1.5f);
    EXPECT_EQ(back[1], -0.125f);
    EXPECT_EQ(back[2], 0.0f);  // five decimals
    EXPECT_EQ(back[3], 12345.67773f);
    std::string items[5];
    r.GetTagValueAsStringCollection(0, "sc", "", count, items);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(items[1], "two words");
    EXPECT_EQ(items[2], "");
    ASSERT_EQ(r.Collectelements("Other"), 1);
    EXPECT_EQ(r.GetTagValueAsInt(0, "n", 0), 5);
    EXPECT_EQ(r.GetTagValueAsInt(0, "s", -9), -9);  // collected elements were replaced
}

TEST_F(ContainerReader, ElementIndexOfTheTwelveLineFile) {
    load(fileWith({"  <DetectorInfo>", "     <xMin> 100.00000 </xMin>", "  </DetectorInfo>"}), "DetectorInfo");
    ASSERT_EQ(x.NrElementIndex(), 2);
    EXPECT_EQ(x.ElementIndex()[0].ElementName, "Header");
    EXPECT_EQ(x.ElementIndex()[0].StreamStartPos, 1);
    EXPECT_EQ(x.ElementIndex()[0].StreamEndPos, 7);
    EXPECT_EQ(x.ElementIndex()[1].ElementName, "DetectorInfo");
    EXPECT_EQ(x.ElementIndex()[1].StreamStartPos, 8);
    EXPECT_EQ(x.ElementIndex()[1].StreamEndPos, 10);
    EXPECT_EQ(x.GetTagValueAsFloat(0, "xMin", 0), 100.0f);
    const TDataXData& tag = x.Elements()[0].Tags[0];
    EXPECT_EQ(tag.TagType, 1);
    EXPECT_EQ(tag.DataStartStreamPos, 10);
    EXPECT_EQ(tag.DataEndStreamPos, 10);
}

TEST_F(ContainerReader, MagicLines) {
    struct Case {
        std::string first;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"<ZAKO-RIN_Datafile>", true},
        {"<zako-rin_DATAFILE> and more text", true},
        {"<ZML ZAKO-RIN_Datafile>", true},
        {"<zml zako-rin_datafile>", true},
        {"<ZAKO-RIN_Data>", false},
        {"ZAKO-RIN_Datafile", false},
        {" <ZAKO-RIN_Datafile>", false},
        {"", false},
    };
    for (const auto& c : cases) {
        Lines lines = fileWith({});
        lines[0] = c.first;
        TDataXStorage r;
        const TDataXInfo h = r.GetDataXFileMetadata(writeLines("m.zdx", lines));
        EXPECT_EQ(h.ContentInfo, c.accepted ? "ZDX" : "") << c.first;
        EXPECT_EQ(r.DataXFileState(), c.accepted ? 0 : -2) << c.first;
    }
}

TEST_F(ContainerReader, MagicLinesOfLargeFiles) {
    // Files of more than 4096 bytes are judged by their first bytes: the same
    // answers as for small files, UTF-16 included.
    const std::string padding(6000, 'p');
    struct Case {
        std::string first;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"<ZAKO-RIN_Datafile>", true}, {"<zml zako-rin_datafile>", true},
        {"<ZAKO-RIN_Data>", false},    {" <ZAKO-RIN_Datafile>", false},
        {std::string(5000, 'x'), false},
    };
    for (const auto& c : cases) {
        Lines lines = fileWith({"<Pad>", "<text> " + padding + " </text>", "</Pad>"});
        lines[0] = c.first;
        TDataXStorage r;
        const TDataXInfo h = r.GetDataXFileMetadata(writeLines("big.zdx", lines));
        EXPECT_EQ(h.ContentInfo, c.accepted ? "ZDX" : "") << c.first.substr(0, 30);
        EXPECT_EQ(r.DataXFileState(), c.accepted ? 0 : -2) << c.first.substr(0, 30);
    }
    std::string text;
    for (const std::string& l : fileWith({"<Pad>", "<text> " + padding + " </text>", "</Pad>"}))
        text += l + "\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char ch : text) utf16 += std::string{ch, '\0'};
    const std::string wide = path("wide.zdx");
    kwd::writeWholeFile(wide, utf16);
    TDataXStorage r;
    EXPECT_EQ(r.GetDataXFileMetadata(wide).ContentInfo, "ZDX");
}

TEST_F(ContainerReader, ALargeFileThatIsNoContainerIsNotReadWhole) {
    // A data file of 1 GiB (sparse) named in place of a descriptor: refused
    // from its first bytes, without the memory a whole read would take.
    const std::string data = path("data.ZDT");
    kwd::writeWholeFile(data, "");
    std::filesystem::resize_file(data, std::uintmax_t(1) << 30);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    TDataXStorage r;
    EXPECT_EQ(r.GetDataXFileMetadata(data).ContentInfo, "");
    EXPECT_EQ(r.DataXFileState(), -2);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256L * 1024);  // KiB
}

TEST_F(ContainerReader, OlderHeaderLayoutIsRepaired) {
    const Lines legacy = {"<ZAKO-RIN_Datafile>",
                          "<filetype>ZDX</filetype>",
                          "<version>3</version>",
                          "<revisiondate>01.07.2018 12:00:00</revisiondate>",
                          "<remark>a remark</remark>",
                          "<encryptionlevel>4</encryptionlevel>",
                          "  <E>",
                          "     <a> 1 </a>",
                          "  </E>",
                          "</ZAKO-RIN_Datafile>"};
    TDataXStorage current, older;
    const TDataXInfo a = current.GetDataXFileMetadata(writeLines("current.zdx", fileWith({})));
    const TDataXInfo b = older.GetDataXFileMetadata(writeLines("legacy.zdx", legacy));
    EXPECT_EQ(b.ContentInfo, a.ContentInfo);
    EXPECT_EQ(b.Version, a.Version);
    EXPECT_EQ(b.RevisionDate, a.RevisionDate);
    EXPECT_EQ(b.Remark, a.Remark);
    EXPECT_EQ(b.EncryptionLevel, 4);

    ASSERT_EQ(x.InitXFileReader(path("legacy.zdx")), 1);
    EXPECT_EQ(x.DataXStream()[1], "<Header>");
    EXPECT_EQ(x.DataXStream()[7], "</Header>");
    ASSERT_EQ(x.Collectelements("E"), 1);
    EXPECT_EQ(x.GetTagValueAsInt(0, "a", 0), 1);

    // Without the encryptionlevel line the header closes one line earlier.
    Lines noLevel = legacy;
    noLevel.erase(noLevel.begin() + 5);
    TDataXStorage r;
    const TDataXInfo c = r.GetDataXFileMetadata(writeLines("nolevel.zdx", noLevel));
    EXPECT_EQ(c.ContentInfo, "ZDX");
    EXPECT_EQ(c.EncryptionLevel, 0);
    EXPECT_EQ(r.DataXStream()[6], "</Header>");

    // A file of five lines gets "</Header>" as its last line.
    TDataXStorage five;
    five.GetDataXFileMetadata(writeLines("five.zdx", Lines(legacy.begin(), legacy.begin() + 5)));
    ASSERT_EQ(five.DataXStream().size(), 7u);
    EXPECT_EQ(five.DataXStream()[6], "</Header>");
}

TEST_F(ContainerReader, MetadataFailures) {
    TDataXStorage r;
    EXPECT_EQ(r.GetDataXFileMetadata(path("absent.zdx")).ContentInfo, "");
    EXPECT_EQ(r.DataXFileState(), -1);

    const Lines four(kHeader.begin(), kHeader.begin() + 4);
    EXPECT_EQ(r.GetDataXFileMetadata(writeLines("four.zdx", four)).ContentInfo, "");
    EXPECT_EQ(r.DataXFileState(), -1);

    // Whatever stands in line 1, the older-layout repair gives the file a
    // "Header" element; two of them are refused.
    EXPECT_EQ(r.GetDataXFileMetadata(writeLines("two.zdx", fileWith(Lines(kHeader.begin() + 1, kHeader.end()))))
                  .ContentInfo,
              "");
    EXPECT_EQ(r.DataXFileState(), -3);

    // The object is left closed: elements cannot be collected.
    EXPECT_EQ(r.GetDataXFileMetadata(writeLines("ok.zdx", fileWith({}))).ContentInfo, "ZDX");
    EXPECT_EQ(r.Collectelements("Header"), -1);
}

TEST_F(ContainerReader, InitOnMissingFile) {
    EXPECT_EQ(x.InitXFileReader(path("absent.zdx")), -1);
    EXPECT_EQ(x.DataXFileState(), 0);
    EXPECT_EQ(x.Collectelements("Header"), -1);
}

TEST_F(ContainerReader, UnreadableFileRaises) {
    // A regular file that cannot be read: locked for an ordinary user; for
    // root, whom no lock stops, the process's own memory file (reading its
    // first page fails).
    std::string file = writeLines("locked.zdx", fileWith({}));
    std::filesystem::permissions(file, std::filesystem::perms::none);
    if (::geteuid() == 0) file = "/proc/self/mem";
    ASSERT_TRUE(kwd::fileExists(file));
    try {
        x.InitXFileReader(file);
        FAIL() << "no error";
    } catch (const kwd::FileError& e) {
        EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
    }
    EXPECT_EQ(x.DataXFileState(), 0);
    EXPECT_THROW(x.GetDataXFileMetadata(file), kwd::FileError);
    std::filesystem::permissions(path("locked.zdx"), std::filesystem::perms::owner_all);
}

TEST_F(ContainerReader, ElementsByName) {
    const Lines lines = fileWith({"  <ZDXPaths>", "     <path> a </path>", "  </ZDXPaths>",
                                  "  <DetectorInfo>", "     <xMin> 1 </xMin>", "  </DetectorInfo>",
                                  "", "stray text between elements",
                                  "  <ZDXPaths>", "     <path> b </path>", "  </ZDXPaths>"});
    ASSERT_EQ(load(lines, "ZDXPaths"), 2);
    EXPECT_EQ(x.GetTagValueAsString(0, "path", ""), "a");
    EXPECT_EQ(x.GetTagValueAsString(1, "path", ""), "b");
    EXPECT_EQ(x.GetTagValueAsString(2, "path", "none"), "none");
    EXPECT_EQ(x.GetTagValueAsString(-1, "path", "none"), "none");
    EXPECT_EQ(x.Collectelements("detectorinfo"), 0);
    EXPECT_EQ(x.Collectelements("DetectorInfo"), 1);
    EXPECT_EQ(x.NrElementIndex(), 4);
}

TEST_F(ContainerReader, ScalarGetters) {
    struct Case {
        std::string text;
        std::string asString;
        int32_t asInt;
        float asFloat;
        bool asBool;
    };
    const std::vector<Case> cases = {
        {"", "dflt", 0, 0.0f, false},
        {"12abc", "12abc", 12, 12.0f, false},
        {"1.5e2", "1.5e2", 1, 150.0f, true},
        {"1,5", "1,5", 1, 1.0f, true},
        {"$1F", "$1F", 31, 0.0f, false},
        {"1", "1", 1, 1.0f, true},
        {"0", "0", 0, 0.0f, false},
        {"2", "2", 2, 2.0f, false},
        {"true", "true", 0, 0.0f, false},
        {"\"  quoted  text \"", "  quoted  text ", 0, 0.0f, false},
    };
    Lines tags = {"  <E>"};
    for (size_t k = 0; k < cases.size(); ++k)
        tags.push_back("     <t" + std::to_string(k) + ">  " + cases[k].text + "  </t" + std::to_string(k) + ">");
    tags.push_back("  </E>");
    ASSERT_EQ(load(fileWith(tags), "E"), 1);
    for (size_t k = 0; k < cases.size(); ++k) {
        const std::string id = "t" + std::to_string(k);
        const Case& c = cases[k];
        EXPECT_EQ(x.GetTagValueAsString(0, id, "dflt"), c.asString) << c.text;
        EXPECT_EQ(x.GetTagValueAsInt(0, id, -5), c.asInt) << c.text;
        EXPECT_EQ(x.GetTagValueAsFloat(0, id, -5.0f), c.asFloat) << c.text;
        EXPECT_EQ(x.GetTagValueAsBool(0, id, true), c.asBool) << c.text;
    }
    // A missing tag or element gives the defaults.
    EXPECT_EQ(x.GetTagValueAsString(0, "T0", "d"), "d");
    EXPECT_EQ(x.GetTagValueAsInt(0, "missing", -5), -5);
    EXPECT_EQ(x.GetTagValueAsFloat(1, "t1", -5.0f), -5.0f);
    EXPECT_TRUE(x.GetTagValueAsBool(0, "missing", true));
}

TEST_F(ContainerReader, TagSlots) {
    Lines tags = {"  <E>", "     <dup> first </dup>", "     <dup> second </dup>"};
    for (int k = 3; k <= 120; ++k) tags.push_back("     <t" + std::to_string(k) + "> " + std::to_string(k) + " </t" + std::to_string(k) + ">");
    tags.push_back("  </E>");
    ASSERT_EQ(load(fileWith(tags), "E"), 1);
    EXPECT_EQ(x.GetTagValueAsString(0, "dup", ""), "first");
    EXPECT_EQ(x.Elements()[0].NrTags, 100);
    EXPECT_EQ(x.Elements()[0].Tags.size(), 100u);
    EXPECT_EQ(x.GetTagValueAsInt(0, "t99", 0), 99);
    EXPECT_EQ(x.GetTagValueAsInt(0, "t100", 0), 0);
    EXPECT_EQ(x.GetTagValueAsInt(0, "t120", 0), 120);
    EXPECT_EQ(x.Elements()[0].Tags[99].Tag, "t120");
}

TEST_F(ContainerReader, PlainTagOverSeveralLines) {
    ASSERT_EQ(load(fileWith({"  <E>", "     <a> first", "second </a>", "     <b> 2 </b>", "", "  </E>"}), "E"), 1);
    EXPECT_EQ(x.GetTagValueAsString(0, "a", ""), "firstsecond");
    EXPECT_EQ(x.GetTagValueAsInt(0, "b", 0), 2);
    // The empty line inside the element is stored as a tag without name.
    ASSERT_EQ(x.Elements()[0].NrTags, 3);
    EXPECT_EQ(x.Elements()[0].Tags[2].Tag, "");
    EXPECT_EQ(x.Elements()[0].Tags[2].Data, "");
}

TEST_F(ContainerReader, Collections) {
    ASSERT_EQ(load(fileWith({"  <E>", "     <sc> a,,b, </sc>", "     <fc> 1.5,2,3e1 </fc>", "  </E>"}), "E"), 1);
    std::string s[6];
    int32_t count = -1;
    x.GetTagValueAsStringCollection(0, "sc", "", count, s);
    ASSERT_EQ(count, 4);
    EXPECT_EQ((Lines{s[0], s[1], s[2], s[3]}), (Lines{"a", "", "b", ""}));

    float two[2] = {};
    x.GetTagValueAsFloatCollection(0, "fc", "", count, two);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(two[0], 1.5f);
    EXPECT_EQ(two[1], 2.0f);

    count = -1;
    x.GetTagValueAsFloatCollection(0, "missing", "7,8", count, two);
    EXPECT_EQ(count, 0);
    x.GetTagValueAsStringCollection(0, "missing", "x,\"y,z\"", count, s);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(s[0], "x");
    EXPECT_EQ(s[1], "y,z");

    // An element number out of range leaves count and array untouched.
    count = 42;
    s[0] = "keep";
    x.GetTagValueAsStringCollection(3, "sc", "d", count, s);
    x.GetTagValueAsFloatCollection(-1, "fc", "", count, two);
    EXPECT_EQ(count, 42);
    EXPECT_EQ(s[0], "keep");
    EXPECT_EQ(two[0], 1.5f);
}

TEST_F(ContainerReader, MandatoryElement) {
    const std::string file = writeLines("mand.zdx", fileWith({"  <E>", "     <a> 1 </a>", "  </E>"}));
    ASSERT_EQ(x.InitXFileReader(file), 1);
    x.SetElementMandatory(true);
    ASSERT_EQ(x.Collectelements("E"), 1);
    try {
        x.Collectelements("DetectorInfo");
        FAIL() << "no error";
    } catch (const kwd::GeneralError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Exception: Missing ZML-Element\rTrying to get mandatory element <DetectorInfo> from file " +
                      file + "\rTag not found. This file is corrupted and reading will result in unexpected results");
    }
    EXPECT_EQ(x.NrElements(), 0);
    EXPECT_EQ(x.DataXFileState(), 1);
    // Loading again resets the flag.
    ASSERT_EQ(x.InitXFileReader(file), 1);
    EXPECT_EQ(x.Collectelements("DetectorInfo"), 0);
}

TEST_F(ContainerReader, AtMostTenThousandElementsAreIndexed) {
    Lines elements;
    for (int k = 0; k < 10005; ++k) {
        const std::string name = k < 9998 ? "A" : "B" + std::to_string(k);
        elements.insert(elements.end(), {"  <" + name + ">", "     <v> " + std::to_string(k) + " </v>", "  </" + name + ">"});
    }
    EXPECT_EQ(load(fileWith(elements), "A"), 9998);  // "Header" takes one entry
    EXPECT_EQ(x.NrElementIndex(), 10000);
    EXPECT_EQ(x.GetTagValueAsInt(9997, "v", -1), 9997);
    EXPECT_EQ(x.Collectelements("B9998"), 1);
    EXPECT_EQ(x.Collectelements("B9999"), 0);
}

TEST_F(ContainerReader, FilesWithoutElements) {
    EXPECT_EQ(load({"<ZAKO-RIN_Datafile>", "</ZAKO-RIN_Datafile>"}, "Header"), -2);
    EXPECT_EQ(load({"<ZAKO-RIN_Datafile>", "just", "text", "</ZAKO-RIN_Datafile>"}, "Header"), -2);
    EXPECT_EQ(load({}, "Header"), -2);
}

TEST_F(ContainerReader, ReadFromStreamStopsAtTheEnd) {
    ASSERT_EQ(x.InitXFileReader(writeLines("s.zdx", {"a", "b"})), 1);
    EXPECT_EQ(x.ReadFromStream(), "a");
    EXPECT_EQ(x.ReadFromStream(), "b");
    EXPECT_EQ(x.ReadFromStream(), "");
    EXPECT_EQ(x.DataXStreamPointer(), 2);
    TDataXData record;
    record.Tag = "old";
    TDataXStorage closed;
    EXPECT_EQ(closed.GetNextTagData(record).Tag, "");
    EXPECT_EQ(record.DataStartStreamPos, -1);
}

TEST_F(ContainerReader, EncodingsAndLineEnds) {
    const Lines lines = fileWith({"  <E>", "     <s> Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC </s>", "     <n> 5 </n>", "  </E>"});
    struct Case {
        TDataXTextEncoding encoding;
        std::string lineEnd;
        bool finalBreak;
    };
    const std::vector<Case> cases = {
        {TDataXTextEncoding::Ansi, "\r\n", true},    {TDataXTextEncoding::Ansi, "\n", true},
        {TDataXTextEncoding::Ansi, "\r", false},     {TDataXTextEncoding::Utf8, "\r\n", true},
        {TDataXTextEncoding::Utf8, "\n", false},     {TDataXTextEncoding::Utf16LE, "\r\n", true},
        {TDataXTextEncoding::Utf16BE, "\n", true},   {TDataXTextEncoding::Utf16LE, "\r", false},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (size_t k = 0; k < lines.size(); ++k)
            if (k + 1 < lines.size() || c.finalBreak) joined += lines[k] + c.lineEnd;
            else joined += lines[k];
        // Encoded as one "line" whose own CR LF is cut off again.
        const bool wide = c.encoding == TDataXTextEncoding::Utf16LE || c.encoding == TDataXTextEncoding::Utf16BE;
        std::string bytes = TDataXStorage::EncodeTextLines({joined}, c.encoding);
        bytes.resize(bytes.size() - (wide ? 4 : 2));
        const std::string file = writeBytes("enc.zdx", bytes);
        TDataXStorage r;
        ASSERT_EQ(r.GetDataXFileMetadata(file).ContentInfo, "ZDX");
        ASSERT_EQ(r.InitXFileReader(file), 1);
        EXPECT_EQ(r.TextEncoding(), c.encoding);
        EXPECT_EQ(r.DataXStream(), lines);
        ASSERT_EQ(r.Collectelements("E"), 1);
        EXPECT_EQ(r.GetTagValueAsString(0, "s", ""), "Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC");
        EXPECT_EQ(r.GetTagValueAsInt(0, "n", 0), 5);
    }
    // 8-bit text keeps its bytes.
    ASSERT_EQ(load(fileWith({"  <E>", "     <s> \xE4\xF6 </s>", "  </E>"}), "E"), 1);
    EXPECT_EQ(x.GetTagValueAsString(0, "s", ""), "\xE4\xF6");
    EXPECT_EQ(x.TextEncoding(), TDataXTextEncoding::Ansi);
}

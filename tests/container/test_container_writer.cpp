// The container writer: file layout, value texts, limits and misuse.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/ContainerFixtures.h"
#include "container/UDataXStorage.h"
#include "platform/DateTime.h"
#include "platform/FileIO.h"
#include "platform/KwdError.h"
#include "platform/MessageSink.h"
#include "platform/RegionalSettings.h"

using kwd::container::TDataXInfo;
using kwd::container::TDataXStorage;

using kwd::test::ScratchFolder;
using Lines = std::vector<std::string>;

namespace {

TDataXInfo header(const std::string& content = "ZDX") {
    TDataXInfo info;
    info.ContentInfo = content;
    info.Version = 2;
    info.Remark = "test run";
    info.EncryptionLevel = 0;
    return info;
}

// A writer in the writing state with header() as its header.
struct Writer {
    TDataXStorage x;
    explicit Writer(const std::string& path = "unused.zdx") {
        x.SetDataXFileMetadata(header());
        EXPECT_EQ(x.InitXFileWriter(path), 1);
    }
    Lines finish() {
        Lines out;
        x.FinalizeXDataFile2List(out);
        return out;
    }
};

// The element lines of a finished list (between "</Header>" and the closing line).
Lines body(const Lines& all) {
    EXPECT_GE(all.size(), 9u);
    return Lines(all.begin() + 8, all.end() - 1);
}

}  // namespace

class ContainerWriter : public ScratchFolder {};

TEST_F(ContainerWriter, TwelveLineFileByteForByte) {
    const std::string file = path("detector.zdx");
    const std::string before = kwd::regional::dateTimeText(kwd::nowLocal());
    {
        TDataXStorage x;
        x.SetDataXFileMetadata(header());
        ASSERT_EQ(x.InitXFileWriter(file), 1);
        x.InitNewElement("DetectorInfo");
        EXPECT_EQ(x.AddTagAsFloat("xMin", 100.0f), 1);
        EXPECT_EQ(x.FinalizeElement(), 0);
        EXPECT_FALSE(kwd::fileExists(file));  // nothing touches the disk before the end
        x.FinalizeXDataFile();
        EXPECT_EQ(x.DataXFileState(), 0);
        EXPECT_EQ(x.DataXStreamFilename(), "");
    }
    const std::string after = kwd::regional::dateTimeText(kwd::nowLocal());
    const std::string bytes = kwd::readWholeFile(file);
    auto expected = [](const std::string& revision) {
        return std::string(
                   "<ZAKO-RIN_Datafile>\r\n"
                   "<Header>\r\n"
                   "<filetype>ZDX</filetype>\r\n"
                   "<version>2</version>\r\n"
                   "<revisiondate>") +
               revision +
               "</revisiondate>\r\n"
               "<remark>test run</remark>\r\n"
               "<encryptionlevel>0</encryptionlevel>\r\n"
               "</Header>\r\n"
               "  <DetectorInfo>\r\n"
               "     <xMin> 100.00000 </xMin>\r\n"
               "  </DetectorInfo>\r\n"
               "</ZAKO-RIN_Datafile>\r\n";
    };
    EXPECT_TRUE(bytes == expected(before) || bytes == expected(after)) << bytes;
}

TEST_F(ContainerWriter, CreateDefaults) {
    TDataXStorage x;
    EXPECT_EQ(x.DataXFileState(), 0);
    EXPECT_EQ(x.DataXStreamPointer(), 0);
    EXPECT_TRUE(x.DataXStream().empty());
    EXPECT_EQ(x.DataXStreamFilename(), "");
    EXPECT_EQ(x.ThisElementTag(), "");
    EXPECT_FALSE(x.ElementMustExist());
    EXPECT_EQ(x.NrElements(), 0);
    EXPECT_EQ(x.NrElementIndex(), 0);
    const TDataXInfo& h = x.HeaderData();
    EXPECT_EQ(h.ContentInfo, "");
    EXPECT_EQ(h.Version, -1);
    EXPECT_EQ(h.RevisionDate, "23.06.1969");
    EXPECT_EQ(h.Remark, "");
    EXPECT_EQ(h.EncryptionLevel, 0);
    EXPECT_EQ(h.CheckSum, 0);
}

TEST_F(ContainerWriter, ValueTexts) {
    Writer w;
    const std::vector<float> floats = {1.5f, -0.25f, 3.0f};
    const std::vector<std::string> strings = {"a", "b c", ""};
    w.x.InitNewElement("E");
    EXPECT_EQ(w.x.AddTagAsBool("f", false), 1);
    EXPECT_EQ(w.x.AddTagAsBool("t", true), 2);
    EXPECT_EQ(w.x.AddTagAsFloat("neg", -2.0f), 3);
    EXPECT_EQ(w.x.AddTagAsInt("i", -17), 4);
    EXPECT_EQ(w.x.AddTagAsFloatCollection("fc", 3, floats), 5);
    EXPECT_EQ(w.x.AddTagAsFloatCollection("empty", 0, floats), 6);
    EXPECT_EQ(w.x.AddTagAsStringCollection("sc", 3, strings), 7);
    EXPECT_EQ(w.x.AddTagAsStringCollection("first", 1, strings), 8);
    EXPECT_EQ(w.x.AddTagAsStringCollection("bounded", 99, strings), 9);
    EXPECT_EQ(w.x.AddTagAsString("raw", "a</b>c> \"q\" "), 10);
    EXPECT_EQ(w.x.AddTagAsInt("min", INT32_MIN), 11);
    EXPECT_EQ(w.x.FinalizeElement(), 0);
    EXPECT_EQ(body(w.finish()), (Lines{
                                    "  <E>",
                                    "     <f> 0 </f>",
                                    "     <t> 1 </t>",
                                    "     <neg> -2.00000 </neg>",
                                    "     <i> -17 </i>",
                                    "     <fc> 1.50000,-0.25000,3.00000 </fc>",
                                    "     <empty>  </empty>",
                                    "     <sc> a,b c, </sc>",
                                    "     <first> a </first>",
                                    "     <bounded> a,b c, </bounded>",
                                    "     <raw> a</b>c> \"q\"  </raw>",
                                    "     <min> -2147483648 </min>",
                                    "  </E>",
                                }));
}

TEST_F(ContainerWriter, HeaderLinesAndClosingLine) {
    Writer w;
    const Lines all = w.finish();
    ASSERT_EQ(all.size(), 9u);
    EXPECT_EQ(all[0], "<ZAKO-RIN_Datafile>");
    EXPECT_EQ(all[1], "<Header>");
    EXPECT_EQ(all[2], "<filetype>ZDX</filetype>");
    EXPECT_EQ(all[3], "<version>2</version>");
    EXPECT_EQ(all[4].rfind("<revisiondate>", 0), 0u);
    EXPECT_EQ(all[5], "<remark>test run</remark>");
    EXPECT_EQ(all[6], "<encryptionlevel>0</encryptionlevel>");
    EXPECT_EQ(all[7], "</Header>");
    EXPECT_EQ(all[8], "</ZAKO-RIN_Datafile>");
    EXPECT_EQ(w.x.DataXFileState(), 0);
}

TEST_F(ContainerWriter, HundredAndFirstTagOverwritesSlotHundred) {
    Writer w;
    w.x.InitNewElement("Many");
    int32_t last = 0;
    for (int k = 1; k <= 101; ++k) last = w.x.AddTagAsInt("t" + std::to_string(k), k);
    EXPECT_EQ(last, 100);
    EXPECT_EQ(w.x.FinalizeElement(), 0);
    const Lines lines = body(w.finish());
    ASSERT_EQ(lines.size(), 102u);  // opening, 100 tags, closing
    EXPECT_EQ(lines[99], "     <t99> 99 </t99>");
    EXPECT_EQ(lines[100], "     <t101> 101 </t101>");
}

TEST_F(ContainerWriter, TagWithoutOpenElementIsRefused) {
    Writer w;
    kwd::ScopedMessageCapture capture;
    EXPECT_EQ(w.x.AddTagAsString("a", "1"), -1);
    EXPECT_EQ(w.x.AddTagAsFloat("b", 1.0f), -1);
    EXPECT_EQ(w.x.FinalizeElement(), -1);
    EXPECT_EQ(capture.messages(), (Lines{"XFile: No open element to write to file"}));
    EXPECT_TRUE(body(w.finish()).empty());
}

TEST_F(ContainerWriter, SecondInitNewElementDropsTheFirst) {
    Writer w;
    w.x.InitNewElement("First");
    w.x.AddTagAsString("a", "1");
    w.x.InitNewElement("Second");
    EXPECT_EQ(w.x.AddTagAsString("b", "2"), 1);
    EXPECT_EQ(w.x.FinalizeElement(), 0);
    EXPECT_EQ(body(w.finish()), (Lines{"  <Second>", "     <b> 2 </b>", "  </Second>"}));
}

TEST_F(ContainerWriter, ElementWithoutTagsStaysOpen) {
    Writer w;
    kwd::ScopedMessageCapture capture;
    w.x.InitNewElement("Empty");
    EXPECT_EQ(w.x.FinalizeElement(), -3);
    EXPECT_EQ(capture.messages(), (Lines{"XFILE: Element Empty has no attribute tags"}));
    EXPECT_EQ(w.x.ThisElementTag(), "Empty");
    EXPECT_EQ(w.x.AddTagAsString("a", "x"), 1);
    EXPECT_EQ(w.x.FinalizeElement(), 0);
    EXPECT_EQ(w.x.ThisElementTag(), "");
    EXPECT_EQ(body(w.finish()), (Lines{"  <Empty>", "     <a> x </a>", "  </Empty>"}));
    EXPECT_EQ(capture.messages().size(), 1u);
}

TEST_F(ContainerWriter, FailedInitWritesNothing) {
    const std::string file = path("never.zdx");
    TDataXStorage x;
    kwd::ScopedMessageCapture capture;
    EXPECT_EQ(x.InitXFileWriter(file), -1);
    EXPECT_EQ(capture.messages(),
              (Lines{"XFILE: You have not specified metadata for the file. Use SetDataXFileMetadata()"}));
    EXPECT_EQ(x.DataXFileState(), 0);
    EXPECT_EQ(x.DataXStreamFilename(), "");
    EXPECT_TRUE(x.DataXStream().empty());
    x.InitNewElement("E");
    EXPECT_EQ(x.AddTagAsString("a", "1"), 1);
    EXPECT_EQ(x.FinalizeElement(), -2);
    EXPECT_EQ(x.ThisElementTag(), "E");  // kept open
    x.FinalizeXDataFile();
    Lines list = {"kept"};
    x.FinalizeXDataFile2List(list);
    EXPECT_EQ(list, Lines{"kept"});
    EXPECT_FALSE(kwd::fileExists(file));
    EXPECT_EQ(capture.messages().size(), 1u);  // -2 shows nothing
}

TEST_F(ContainerWriter, FinalizeTwiceWritesOnce) {
    const std::string file = path("twice.zdx");
    Writer w(file);
    w.x.InitNewElement("E");
    w.x.AddTagAsInt("a", 1);
    w.x.FinalizeElement();
    w.x.FinalizeXDataFile();
    const std::string first = kwd::readWholeFile(file);
    std::filesystem::remove(file);
    w.x.FinalizeXDataFile();
    EXPECT_FALSE(kwd::fileExists(file));
    EXPECT_EQ(first.find("</ZAKO-RIN_Datafile>"), first.rfind("</ZAKO-RIN_Datafile>"));
    EXPECT_EQ(first.substr(first.size() - 22), "</ZAKO-RIN_Datafile>\r\n");
}

TEST_F(ContainerWriter, ClosingLineUsesFirstWordOfNames) {
    Writer w;
    w.x.InitNewElement("Elem more words");
    w.x.AddTagAsString("tag extra", "v");
    w.x.FinalizeElement();
    EXPECT_EQ(body(w.finish()),
              (Lines{"  <Elem more words>", "     <tag extra> v </tag>", "  </Elem>"}));
}

TEST_F(ContainerWriter, ListHandsOverTheLines) {
    const std::string file = path("list.zdx");
    Writer w(file);
    w.x.InitNewElement("E");
    w.x.AddTagAsInt("a", 1);
    w.x.FinalizeElement();
    Lines list = {"old content"};
    w.x.FinalizeXDataFile2List(list);
    ASSERT_EQ(list.size(), 12u);
    EXPECT_EQ(list, w.x.DataXStream());
    EXPECT_EQ(list.back(), "</ZAKO-RIN_Datafile>");
    EXPECT_EQ(w.x.DataXFileState(), 0);
    EXPECT_EQ(w.x.DataXStreamFilename(), "");
    EXPECT_FALSE(kwd::fileExists(file));
}

TEST_F(ContainerWriter, FailedSaveRaisesAndKeepsEverything) {
    const std::string file = path("missing/sub/out.zdx");
    Writer w(file);
    w.x.InitNewElement("E");
    w.x.AddTagAsInt("a", 1);
    w.x.FinalizeElement();
    try {
        w.x.FinalizeXDataFile();
        FAIL() << "no error";
    } catch (const kwd::FileError& e) {
        EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
    }
    EXPECT_EQ(w.x.DataXFileState(), 2);
    EXPECT_EQ(w.x.DataXStreamFilename(), file);
    ASSERT_EQ(w.x.DataXStream().size(), 12u);
    EXPECT_EQ(w.x.DataXStream().back(), "</ZAKO-RIN_Datafile>");

    // Once the folder exists, a retry (even after one more element) writes a
    // sound file with one closing line at the end.
    kwd::createFolders(path("missing/sub"));
    w.x.InitNewElement("F");
    w.x.AddTagAsInt("b", 2);
    EXPECT_EQ(w.x.FinalizeElement(), 0);
    w.x.FinalizeXDataFile();
    const std::string bytes = kwd::readWholeFile(file);
    EXPECT_EQ(bytes.find("</ZAKO-RIN_Datafile>"), bytes.size() - 22);
    EXPECT_NE(bytes.find("  </E>\r\n  <F>\r\n     <b> 2 </b>\r\n  </F>\r\n</ZAKO-RIN_Datafile>\r\n"),
              std::string::npos);
}

TEST_F(ContainerWriter, ClosedObjectStartsANewFileWithTheSameHeader) {
    Writer w;
    w.x.InitNewElement("E");
    w.x.AddTagAsInt("a", 1);
    w.x.FinalizeElement();
    w.finish();
    ASSERT_EQ(w.x.InitXFileWriter("second.zdx"), 1);
    const Lines second = w.finish();
    ASSERT_EQ(second.size(), 9u);
    EXPECT_EQ(second[2], "<filetype>ZDX</filetype>");
}

TEST_F(ContainerWriter, ReaderStateIsNotWrittenBack) {
    const std::string file = writeLines("read.zdx", {"<ZAKO-RIN_Datafile>", "<Header>", "<filetype>x</filetype>",
                                                     "</Header>", "</ZAKO-RIN_Datafile>"});
    const std::string before = kwd::readWholeFile(file);
    TDataXStorage x;
    ASSERT_EQ(x.InitXFileReader(file), 1);
    x.FinalizeXDataFile();
    EXPECT_EQ(x.DataXFileState(), 1);
    EXPECT_EQ(kwd::readWholeFile(file), before);
}

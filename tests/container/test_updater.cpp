// The container updater: appending elements to an existing file, refreshing
// its header, keeping its text encoding; and stripping elements by name.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ContainerFixtures.h"
#include "container/UDataXStorage.h"
#include "platform/DateTime.h"
#include "platform/FileIO.h"
#include "platform/RegionalSettings.h"

using kwd::container::TDataXInfo;
using kwd::container::TDataXStorage;
using kwd::container::TDataXTextEncoding;
using kwd::container::TElementIndex;

using kwd::test::ScratchFolder;
using Lines = std::vector<std::string>;

namespace {

const Lines kHeader = {"<ZAKO-RIN_Datafile>",
                       "<Header>",
                       "<filetype>ZDX</filetype>",
                       "<version>2</version>",
                       "<revisiondate>01.01.2000 10:00:00</revisiondate>",
                       "<remark>test run</remark>",
                       "<encryptionlevel>3</encryptionlevel>",
                       "</Header>"};

const Lines kElements = {"  <A>", "     <a> 1 </a>", "  </A>",
                         "  <B>", "     <b> 2 </b>", "     <m type=\"matrix-data\" dataI=\"1\" dataJ=\"1\">",
                         "     7", "     </m>", "  </B>",
                         "  <A>", "     <a> 3 </a>", "  </A>"};

Lines concat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// The seven header lines the updater writes for kHeader's values.
Lines freshHeader(const std::string& revision, const std::string& filetype = "ZDX",
                  const std::string& version = "2", const std::string& remark = "test run",
                  const std::string& level = "3") {
    return {"<Header>",
            "<filetype>" + filetype + "</filetype>",
            "<version>" + version + "</version>",
            "<revisiondate>" + revision + "</revisiondate>",
            "<remark>" + remark + "</remark>",
            "<encryptionlevel>" + level + "</encryptionlevel>",
            "</Header>"};
}

Lines decodedFile(const std::string& path, TDataXTextEncoding& encoding) {
    return TDataXStorage::DecodeTextLines(kwd::readWholeFile(path), encoding);
}

}  // namespace

class ContainerUpdater : public ScratchFolder {
protected:
    // Updates the file with one new element "C" and returns its lines; the
    // revision date written must be the time of the update.
    Lines updateWithC(const std::string& file, TDataXTextEncoding& encoding,
                      const std::string& value = "new") {
        TDataXStorage u;
        TDataXInfo mine;
        mine.ContentInfo = "OTHER";
        u.SetDataXFileMetadata(mine);
        fBefore = kwd::regional::dateTimeText(kwd::nowLocal());
        EXPECT_EQ(u.InitXFileUpdater(file), 1);
        EXPECT_EQ(u.DataXFileState(), 3);
        u.InitNewElement("C");
        u.AddTagAsString("c", value);
        EXPECT_EQ(u.FinalizeElement(), 0);
        u.FinalizeXDataFile();
        fAfter = kwd::regional::dateTimeText(kwd::nowLocal());
        EXPECT_EQ(u.DataXFileState(), 0);
        EXPECT_EQ(u.HeaderData().ContentInfo, "OTHER");  // neither used nor changed
        Lines lines = decodedFile(file, encoding);
        if (lines.size() > 4) {
            const std::string revision = lines[4];
            EXPECT_TRUE(revision == "<revisiondate>" + fBefore + "</revisiondate>" ||
                        revision == "<revisiondate>" + fAfter + "</revisiondate>")
                << revision;
            lines[4] = "<revisiondate>now</revisiondate>";
        }
        return lines;
    }
    const Lines kNewElement = {"  <C>", "     <c> new </c>", "  </C>"};
    std::string fBefore, fAfter;
};

TEST_F(ContainerUpdater, NewElementGoesBehindTheOldOnes) {
    const std::string file =
        writeLines("u.zdx", concat({kHeader, kElements, {"</ZAKO-RIN_Datafile>"}}));
    TDataXTextEncoding encoding;
    const Lines result = updateWithC(file, encoding);
    EXPECT_EQ(encoding, TDataXTextEncoding::Ansi);
    EXPECT_EQ(result, concat({{"<ZAKO-RIN_Datafile>"}, freshHeader("now"), kElements, kNewElement,
                              {"</ZAKO-RIN_Datafile>"}}));
    EXPECT_NE(fBefore, "01.01.2000 10:00:00");

    // The updated file reads back with every old value and the new one.
    TDataXStorage r;
    EXPECT_EQ(r.GetDataXFileMetadata(file).Version, 2);
    ASSERT_EQ(r.InitXFileReader(file), 1);
    ASSERT_EQ(r.Collectelements("A"), 2);
    EXPECT_EQ(r.GetTagValueAsInt(1, "a", 0), 3);
    ASSERT_EQ(r.Collectelements("C"), 1);
    EXPECT_EQ(r.GetTagValueAsString(0, "c", ""), "new");
}

TEST_F(ContainerUpdater, ElementIndexFollowsTheLines) {
    const std::string file =
        writeLines("u.zdx", concat({kHeader, kElements, {"</ZAKO-RIN_Datafile>"}}));
    TDataXStorage u;
    ASSERT_EQ(u.InitXFileUpdater(file), 1);
    ASSERT_EQ(u.NrElementIndex(), 3);  // the old header has left the index
    const Lines& lines = u.DataXStream();
    for (const TElementIndex& entry : u.ElementIndex()) {
        ASSERT_GE(entry.StreamStartPos, 0);
        ASSERT_LT(entry.StreamEndPos, int32_t(lines.size()));
        EXPECT_EQ(lines[size_t(entry.StreamStartPos)], "  <" + entry.ElementName + ">");
        EXPECT_EQ(lines[size_t(entry.StreamEndPos)], "  </" + entry.ElementName + ">");
    }
    EXPECT_EQ(u.StripElements("A"), 2);
    EXPECT_EQ(Lines(lines.begin() + 8, lines.end()), Lines(kElements.begin() + 3, kElements.begin() + 9));
}

TEST_F(ContainerUpdater, OlderHeaderLayoutBecomesTheCurrentOne) {
    const std::string file = writeLines(
        "old.zdx", {"<ZAKO-RIN_Datafile>", "<filetype>ZDX</filetype>", "<version>1</version>",
                    "<revisiondate>x</revisiondate>", "<remark>old</remark>",
                    "<encryptionlevel>4</encryptionlevel>", "  <A>", "     <a> 1 </a>", "  </A>",
                    "</ZAKO-RIN_Datafile>"});
    TDataXTextEncoding encoding;
    EXPECT_EQ(updateWithC(file, encoding),
              concat({{"<ZAKO-RIN_Datafile>"}, freshHeader("now", "ZDX", "1", "old", "4"),
                      {"  <A>", "     <a> 1 </a>", "  </A>"}, kNewElement,
                      {"</ZAKO-RIN_Datafile>"}}));
}

TEST_F(ContainerUpdater, EncodingAndByteOrderMarkAreKept) {
    struct Case {
        TDataXTextEncoding encoding;
        std::string bom;
    };
    const std::vector<Case> cases = {{TDataXTextEncoding::Utf16LE, "\xFF\xFE"},
                                     {TDataXTextEncoding::Utf16BE, "\xFE\xFF"},
                                     {TDataXTextEncoding::Utf8, "\xEF\xBB\xBF"}};
    const std::string greeting = "Gr\xC3\xBC\xC3\x9F" "e";  // UTF-8 inside
    Lines original = concat({kHeader, kElements, {"</ZAKO-RIN_Datafile>"}});
    original[5] = "<remark>" + greeting + "</remark>";
    for (const Case& c : cases) {
        const std::string file =
            writeBytes("w.zdx", TDataXStorage::EncodeTextLines(original, c.encoding));
        TDataXTextEncoding found = TDataXTextEncoding::Ansi;
        const Lines result = updateWithC(file, found, "\xC2\xB5m");
        EXPECT_EQ(found, c.encoding);
        EXPECT_EQ(kwd::readWholeFile(file).substr(0, c.bom.size()), c.bom);
        EXPECT_EQ(result, concat({{"<ZAKO-RIN_Datafile>"}, freshHeader("now", "ZDX", "2", greeting),
                                  kElements, {"  <C>", "     <c> \xC2\xB5m </c>", "  </C>"},
                                  {"</ZAKO-RIN_Datafile>"}}));
    }
    // 8-bit text without a mark keeps its bytes and gets no mark.
    original[5] = "<remark>Gr\xFC\xDF" "e</remark>";
    const std::string file = writeLines("a.zdx", original);
    TDataXTextEncoding found;
    const Lines result = updateWithC(file, found);
    EXPECT_EQ(found, TDataXTextEncoding::Ansi);
    EXPECT_EQ(kwd::readWholeFile(file).substr(0, 19), "<ZAKO-RIN_Datafile>");
    EXPECT_EQ(result[5], "<remark>Gr\xFC\xDF" "e</remark>");
}

TEST_F(ContainerUpdater, MissingFile) {
    TDataXStorage u;
    EXPECT_EQ(u.InitXFileUpdater(path("none.zdx")), -1);
    EXPECT_EQ(u.DataXFileState(), 0);
    EXPECT_EQ(u.DataXStreamFilename(), "");
    u.InitNewElement("C");
    u.AddTagAsInt("c", 1);
    EXPECT_EQ(u.FinalizeElement(), -2);
    u.FinalizeXDataFile();
    EXPECT_FALSE(kwd::fileExists(path("none.zdx")));
}

TEST_F(ContainerUpdater, FileWithoutHeaderGetsDefaults) {
    const std::string file = writeLines("h.zdx", {"<ZAKO-RIN_Datafile>", "  <A>", "  </A>", "</ZAKO-RIN_Datafile>"});
    TDataXTextEncoding encoding;
    EXPECT_EQ(updateWithC(file, encoding),
              concat({{"<ZAKO-RIN_Datafile>"}, freshHeader("now", "", "0", "", "0"),
                      {"  <A>", "  </A>"}, kNewElement, {"</ZAKO-RIN_Datafile>"}}));
}

TEST_F(ContainerUpdater, OnlyTheClosingLineMakesRoomForTheNewElements) {
    // Removing an empty line instead of the closing line would leave the old
    // closing line in front of the new element, where readers stop; removing
    // the last line of a file without its closing line would remove the last
    // element's closing tag, and the new element would be swallowed by it.
    const Lines endings[] = {
        {"</ZAKO-RIN_Datafile>", "", "  "},  // empty lines behind it
        {},                                   // no closing line
        {"  </ZAKO-RIN_Datafile> "},          // blanks around it
        {"</zako-rin_datafile>"},             // letter case, as the magic line's
    };
    for (const Lines& ending : endings) {
        SCOPED_TRACE(ending.empty() ? std::string("(none)") : ending.front());
        const std::string file = writeLines("e.zdx", concat({kHeader, kElements, ending}));
        TDataXTextEncoding encoding;
        EXPECT_EQ(updateWithC(file, encoding), concat({{"<ZAKO-RIN_Datafile>"}, freshHeader("now"),
                                                      kElements, kNewElement, {"</ZAKO-RIN_Datafile>"}}));
        TDataXStorage r;
        ASSERT_EQ(r.InitXFileReader(file), 1);
        ASSERT_EQ(r.Collectelements("A"), 2);
        EXPECT_EQ(r.GetTagValueAsInt(1, "a", 0), 3);
        ASSERT_EQ(r.Collectelements("C"), 1);
        EXPECT_EQ(r.GetTagValueAsString(0, "c", ""), "new");
    }
}

TEST_F(ContainerUpdater, StripElementsOfANameThatOccursThreeTimes) {
    const Lines c = {"  <C>", "     <c> 9 </c>", "  </C>"};
    const Lines a = {"  <A>", "     <a> 1 </a>", "  </A>"};
    const Lines b = {"  <B>", "     <b> 2 </b>", "  </B>"};
    const std::string file =
        writeLines("s.zdx", concat({kHeader, a, b, a, c, a, {"</ZAKO-RIN_Datafile>"}}));
    TDataXStorage x;
    ASSERT_EQ(x.InitXFileReader(file), 1);
    EXPECT_EQ(x.StripElements("A"), 3);
    EXPECT_EQ(x.DataXStream(), concat({kHeader, b, c, {"</ZAKO-RIN_Datafile>"}}));
    ASSERT_EQ(x.NrElementIndex(), 3);
    EXPECT_EQ(x.ElementIndex()[2].ElementName, "C");
    EXPECT_EQ(x.ElementIndex()[2].StreamStartPos, 11);
    EXPECT_EQ(x.ElementIndex()[2].StreamEndPos, 13);
    // The removed elements are gone for good; what follows them still reads.
    EXPECT_EQ(x.StripElements("A"), 0);
    EXPECT_EQ(x.Collectelements("A"), 0);
    ASSERT_EQ(x.Collectelements("C"), 1);
    EXPECT_EQ(x.GetTagValueAsInt(0, "c", 0), 9);
    EXPECT_EQ(x.StripElements("Z"), 0);
    EXPECT_EQ(x.StripElements("a"), 0);  // names are compared exactly

    // An element whose closing line is never found stays.
    ASSERT_EQ(x.InitXFileReader(writeLines("o.zdx", concat({kHeader, a, b, {"  <A>", "     <a> 5 </a>"}}))), 1);
    EXPECT_EQ(x.StripElements("A"), 1);
    EXPECT_EQ(x.DataXStream(), concat({kHeader, b, {"  <A>", "     <a> 5 </a>"}}));

    // Loaded lines without any element.
    ASSERT_EQ(x.InitXFileReader(writeLines("n.zdx", {"<ZAKO-RIN_Datafile>", "</ZAKO-RIN_Datafile>"})), 1);
    EXPECT_EQ(x.StripElements("A"), -1);
}

// The console dialogue on string streams: banner and menu texts, both input
// paths, the outputs listing and the span, detector and count answers.

#include <gtest/gtest.h>

#include <sstream>

#include "support/FrontendFixtures.h"
#include "frontend/u_Dialogue.h"
#include "frontend/u_tTRAFile.h"
#include "platform/FileIO.h"
#include "platform/KwdError.h"

using kwd::frontend::buildOutputsListing;
using kwd::frontend::checkSpan;
using kwd::frontend::isListedOutput;
using kwd::frontend::outputKey;
using kwd::frontend::parseDecimalAnswer;
using kwd::frontend::parseIntegerAnswer;
using kwd::frontend::parseSpan;
using kwd::frontend::readMenuChoice;
using kwd::frontend::runDialogue;
using kwd::frontend::sortOutputsListing;
using kwd::frontend::tConsole;
using kwd::frontend::tOutputEntry;
using kwd::frontend::tRunRequest;
using kwd::frontend::tSpan;
using kwd::frontend::tTRAFile;
using kwd::frontend::writeOutputsListing;

using kwd::dataset::TZDXFile;

namespace {

using kwd::test::lines;
using kwd::test::tTempFolder;

const std::vector<std::string> kMenu = {"Select input type for simulation (1,2)",
                                        "1: Input with *.tra file", "2: Input using console"};

// Runs the dialogue on the answers; the request (if any) and the console text.
struct tDialogueRun {
    std::optional<tRunRequest> request;
    std::vector<std::string> lines;
};

tDialogueRun dialogue(const std::string& answers) {
    std::istringstream in(answers);
    std::ostringstream out;
    tConsole console(in, out);
    tDialogueRun run;
    run.request = runDialogue(console);
    run.lines = lines(out.str());
    return run;
}

// Expects the dialogue to fail with exactly this error line and returns
// the console text written before the error.
template <typename Error>
std::vector<std::string> dialogueError(const std::string& answers, const std::string& message) {
    std::istringstream in(answers);
    std::ostringstream out;
    tConsole console(in, out);
    try {
        (void)runDialogue(console);
        ADD_FAILURE() << "no error; expected " << message;
    } catch (const Error& e) {
        EXPECT_EQ(kwd::errorLine(e), message);
    }
    return lines(out.str());
}

std::vector<std::string> after(const std::vector<std::string>& all, size_t first) {
    return std::vector<std::string>(all.begin() + std::ptrdiff_t(std::min(first, all.size())),
                                    all.end());
}

void writeDescriptor(const std::string& path, const std::string& date, const std::string& time) {
    TZDXFile d;
    d.simdate = date;
    d.simtime = time;
    d.projectname = "P";
    d.WriteFile(path);
}

// A root folder with an atmosphere folder holding descriptors only.
struct tRoot {
    tTempFolder dir;
    std::string root() const { return dir.file("sim"); }
    std::string atmosphere() const { return root() + "/atmosphere"; }
    tRoot() { kwd::createFolders(atmosphere()); }
    void add(const std::string& name, const std::string& date, const std::string& time) const {
        writeDescriptor(atmosphere() + "/" + name, date, time);
    }
};

const size_t kBannerLines = 1 + 15 + 2;

TEST(Banner, TitleCubesAndTwoEmptyLinesThenMenu) {
    const std::vector<std::string> out = dialogueError<kwd::InputError>(
        "", "InputError: end of input while waiting for the input type (1 or 2)");
    ASSERT_EQ(out.size(), kBannerLines + 3);
    EXPECT_EQ(out[0], "       KWD Footprint Simulation");
    for (size_t n = 1; n <= 15; ++n) {
        EXPECT_FALSE(out[n].empty()) << n;
        EXPECT_EQ(out[n].find_first_not_of("/\\_ "), std::string::npos) << out[n];
    }
    EXPECT_EQ(out[16], "");
    EXPECT_EQ(out[17], "");
    EXPECT_EQ(after(out, kBannerLines), kMenu);
}

TEST(Menu, OnlyExactAnswersAreTakenAndTheBannerIsNotRepeated) {
    // " 1", "1 ", "3" and "" are unknown; "2\r" is "2" (the CR belongs to the line end).
    std::istringstream in(" 1\n1 \n3\n\n2\r\n");
    std::ostringstream out;
    tConsole console(in, out);
    EXPECT_EQ(readMenuChoice(console), 2);
    std::vector<std::string> expected;
    for (int n = 0; n < 4; ++n) {
        expected.insert(expected.end(), kMenu.begin(), kMenu.end());
        expected.push_back("Unknown command;");
    }
    expected.insert(expected.end(), kMenu.begin(), kMenu.end());
    EXPECT_EQ(lines(out.str()), expected);
}

TEST(Menu, ClosedInputEndsWithAnErrorInsteadOfRepeating) {
    const std::vector<std::string> out = dialogueError<kwd::InputError>(
        "x\n", "InputError: end of input while waiting for the input type (1 or 2)");
    std::vector<std::string> expected = kMenu;
    expected.push_back("Unknown command;");
    expected.insert(expected.end(), kMenu.begin(), kMenu.end());
    EXPECT_EQ(after(out, kBannerLines), expected);
}

TEST(Listing, FileSelectionByName) {
    struct Case { const char* path; bool listed; } cases[] = {
        {"/r/atmosphere/P_AT_12.00.00_01.07.2018.ZDX", true},
        {"/r/atmosphere/P.ZDX.bak", true},            // containment, not the ending
        {"/r/atmosphere/P_AT_12.00.00_01.07.2018.zdx", false},
        {"/r/atmosphere/P_AT_12.00.00_01.07.2018.ZDT", false},
        {"/r/atmosphere/P_AT_(initialisation)_01.07.2018.ZDX", false},
        {"/r/atmosphere/P(initialisation).ZDX.old", false},
        // Only the file's own name counts, not the folders above it.
        {"/r/run.ZDX/atmosphere/P_AT_12.00.00_01.07.2018.ZDT", false},
        {"/r/run (initialisation)/atmosphere/P_AT_12.00.00_01.07.2018.ZDX", true},
    };
    for (const Case& c : cases) EXPECT_EQ(isListedOutput(c.path), c.listed) << c.path;
}

TEST(Listing, KeyFromDateAndTime) {
    TZDXFile d;
    d.simdate = "01.07.2018";
    d.simtime = "12:00:00";
    EXPECT_EQ(outputKey(d), "2018/07/01;12:00:00");
    d.simdate = "UNKNOWN_DATE";  // fewer than three pieces: the missing ones are empty
    d.simtime = "UNKNOWN_TIME";
    EXPECT_EQ(outputKey(d), "//UNKNOWN_DATE;UNKNOWN_TIME");
}

TEST(Listing, SortIsCaseInsensitiveAndKeepsEqualKeys) {
    std::vector<tOutputEntry> listing(5);
    const char* keys[] = {"2018/07/01;b", "2018/07/01;A", "2018/06/30;23:00:00", "2018/07/01;B",
                          "2018/07/01;a"};
    for (size_t n = 0; n < 5; ++n) {
        listing[n].key = keys[n];
        listing[n].descriptor.InfoFilename = std::to_string(n);
    }
    sortOutputsListing(listing);
    std::vector<std::string> order;
    for (const tOutputEntry& e : listing) order.push_back(e.descriptor.InfoFilename);
    EXPECT_EQ(order, (std::vector<std::string>{"2", "1", "4", "0", "3"}));
}

TEST(Listing, ReadsTheAtmosphereFolderInTimeOrder) {
    tRoot r;
    r.add("P_AT_13.00.00_01.07.2018.ZDX", "01.07.2018", "13:00:00");
    r.add("P_AT_23.00.00_30.06.2018.ZDX", "30.06.2018", "23:00:00");
    r.add("P_AT_12.00.00_01.07.2018.ZDX", "01.07.2018", "12:00:00");
    r.add("copy_of_12.ZDX.bak", "01.07.2018", "12:00:00");  // same time: both listed
    r.add("P_AT_(initialisation)_01.07.2018.ZDX", "01.07.2018", "06:00:00");
    r.add("lower.zdx", "01.07.2018", "05:00:00");
    kwd::createFolders(r.atmosphere() + "/sub.ZDX");  // a folder is not a file
    const std::vector<tOutputEntry> listing = buildOutputsListing(r.root());
    ASSERT_EQ(listing.size(), 4u);
    EXPECT_EQ(listing[0].key, "2018/06/30;23:00:00");
    EXPECT_EQ(listing[1].key, "2018/07/01;12:00:00");
    EXPECT_EQ(listing[2].key, "2018/07/01;12:00:00");
    EXPECT_EQ(listing[3].key, "2018/07/01;13:00:00");
    // The two outputs of the same time keep the folder listing's order.
    std::vector<std::string> sameTime;
    for (const std::string& p : kwd::listFiles(r.atmosphere()))
        if (p.find("12.00.00") != std::string::npos || p.find(".bak") != std::string::npos)
            sameTime.push_back(p);
    ASSERT_EQ(sameTime.size(), 2u);
    EXPECT_EQ(listing[1].descriptor.InfoFilename, sameTime[0]);
    EXPECT_EQ(listing[2].descriptor.InfoFilename, sameTime[1]);

    std::ostringstream out;
    std::istringstream in;
    tConsole console(in, out);
    writeOutputsListing(console, listing);
    EXPECT_EQ(lines(out.str()), (std::vector<std::string>{
                                    "[0]: 2018/06/30;23:00:00", "[1]: 2018/07/01;12:00:00",
                                    "[2]: 2018/07/01;12:00:00", "[3]: 2018/07/01;13:00:00"}));
}

TEST(Listing, MissingAtmosphereFolderIsAnError) {
    tTempFolder dir;
    EXPECT_THROW(buildOutputsListing(dir.path()), kwd::FileError);
}

TEST(Listing, UnreadableDescriptorIsListedAndRefusedOnlyWhenChosen) {
    tRoot r;
    r.add("P_AT_11.00.00_01.07.2018.ZDX", "01.07.2018", "11:00:00");
    r.add("P_AT_12.00.00_01.07.2018.ZDX", "01.07.2018", "12:00:00");
    const std::string broken = r.atmosphere() + "/broken.ZDX";
    kwd::test::writeText(broken, "not a descriptor\r\n");
    const std::vector<tOutputEntry> listing = buildOutputsListing(r.root());
    ASSERT_EQ(listing.size(), 3u);
    EXPECT_EQ(listing[0].key, "//;");  // no date: sorted first
    EXPECT_EQ(listing[0].descriptor.InfoFilename, broken);
    EXPECT_EQ(listing[1].key, "2018/07/01;11:00:00");

    // A span without it runs; one that takes it in is refused, naming the file.
    const std::string start = "2\n" + r.root() + "\n";
    const std::string rest = "10\n20\n10\n20\n0\n2\n5\n60\n\n";
    std::istringstream in(start + "1..2\n" + rest);
    std::ostringstream out;
    tConsole console(in, out);
    const std::optional<tRunRequest> request = runDialogue(console);
    ASSERT_TRUE(request);
    ASSERT_EQ(request->descriptorList.size(), 2u);
    EXPECT_EQ(request->descriptorList[0].simtime, "11:00:00");
    dialogueError<kwd::InputError>(start + "0..1\n" + rest,
        "InputError: cannot read the data-set descriptor \"" + broken +
            "\": the file is missing or not a ZDX descriptor");
}

TEST(Span, Parsing) {
    struct Case { const char* answer; int32_t start, end; } good[] = {
        {"1..5", 1, 5}, {"0..12", 0, 12}, {"-1..2", -1, 2}, {"2..1", 2, 1}, {"1..5..9", 1, 5},
    };
    for (const Case& c : good) {
        const tSpan s = parseSpan(c.answer);
        EXPECT_EQ(s.startIndex, c.start) << c.answer;
        EXPECT_EQ(s.endIndex, c.end) << c.answer;
    }
    for (const char* bad : {"1.5", "15", "", "1...5", "a..5", "1..b", " 1..5", "1..5 ", "1,,5"}) {
        try {
            parseSpan(bad);
            ADD_FAILURE() << "accepted " << bad;
        } catch (const kwd::ConversionError& e) {
            EXPECT_EQ(std::string(e.what()), "\"" + std::string(bad) +
                                                 "\" is not a span of simulation outputs "
                                                 "(start..end, e.g. 1..5)");
        }
    }
}

TEST(Span, Checks) {
    EXPECT_NO_THROW(checkSpan({0, 1}, 2));
    EXPECT_NO_THROW(checkSpan({1, 4}, 5));
    struct Case { tSpan span; size_t size; const char* line; } cases[] = {
        {{0, 5}, 5, "InputError: the span 0..5 lies outside the outputs listing (the outputs listing runs from 0 to 4)"},
        {{-1, 2}, 5, "InputError: the span -1..2 lies outside the outputs listing (the outputs listing runs from 0 to 4)"},
        {{0, 1}, 0, "InputError: the span 0..1 lies outside the outputs listing (the outputs listing is empty)"},
        {{3, 1}, 5, "RunSetupError: the span 3..1 selects no data set: its start index is above its end index"},
        {{2, 2}, 5, "RunSetupError: the span 2..2 selects a single data set; a run needs at least two"},
    };
    for (const Case& c : cases) {
        try {
            checkSpan(c.span, c.size);
            ADD_FAILURE() << c.line;
        } catch (const kwd::KwdError& e) {
            EXPECT_EQ(kwd::errorLine(e), c.line);
        }
    }
}

TEST(Answers, DecimalAndIntegerParsing) {
    EXPECT_DOUBLE_EQ(parseDecimalAnswer("12.5", "xMin of the detector"), 12.5);
    EXPECT_DOUBLE_EQ(parseDecimalAnswer("-3", "xMin of the detector"), -3.0);
    EXPECT_DOUBLE_EQ(parseDecimalAnswer("1e2", "xMin of the detector"), 100.0);
    for (const char* bad : {"12,5", "", " 1", "1.5.", "nan", "inf", "1e400"}) {
        try {
            parseDecimalAnswer(bad, "xMin of the detector");
            ADD_FAILURE() << "accepted " << bad;
        } catch (const kwd::ConversionError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "\"" + std::string(bad) +
                          "\" is not a decimal number (xMin of the detector; the decimal "
                          "separator is \".\")");
        }
    }
    EXPECT_EQ(parseIntegerAnswer("1000000", "the number of particles"), 1000000);
    EXPECT_EQ(parseIntegerAnswer("-5", "the number of particles"), -5);
    for (const char* bad : {"1,000,000", "1.0", "3000000000", "", "12 "}) {
        try {
            parseIntegerAnswer(bad, "the number of particles");
            ADD_FAILURE() << "accepted " << bad;
        } catch (const kwd::ConversionError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "\"" + std::string(bad) + "\" is not an integer (the number of particles)");
        }
    }
}

// ---- the console path ----------------------------------------------------------

struct ConsolePath : ::testing::Test {
    tRoot r;
    void SetUp() override {
        r.add("P_AT_11.00.00_01.07.2018.ZDX", "01.07.2018", "11:00:00");
        r.add("P_AT_10.00.00_01.07.2018.ZDX", "01.07.2018", "10:00:00");
        r.add("P_AT_12.00.00_01.07.2018.ZDX", "01.07.2018", "12:00:00");
    }
    std::string answers(const std::string& span, const std::string& detector,
                        const std::string& count = "1000000", const std::string& interval = "1800") {
        return "2\n" + r.root() + "\n" + span + "\n" + detector + count + "\n" + interval + "\n\n";
    }
};

const char* const kDetector = "10\n20.5\n-1\n1e1\n0.25\n2\n";

TEST_F(ConsolePath, CompleteRunRequest) {
    const tDialogueRun run = dialogue(answers("1..2", kDetector, "250000", "900"));
    ASSERT_TRUE(run.request);
    const tRunRequest& q = *run.request;
    EXPECT_FALSE(q.fromConfiguration);
    EXPECT_EQ(q.rootFolder, r.root());
    EXPECT_EQ(q.span.startIndex, 1);
    EXPECT_EQ(q.span.endIndex, 2);
    EXPECT_EQ(q.detector.xMin, 10.0);
    EXPECT_EQ(q.detector.xMax, 20.5);
    EXPECT_EQ(q.detector.yMin, -1.0);
    EXPECT_EQ(q.detector.yMax, 10.0);
    EXPECT_EQ(q.detector.zMin, 0.25);
    EXPECT_EQ(q.detector.zMax, 2.0);
    EXPECT_EQ(q.particleCount, 250000);
    EXPECT_EQ(q.partCntPerInterval, 250000);
    EXPECT_EQ(q.outputInterval, 900);
    EXPECT_EQ(q.updateInterval, 60);
    EXPECT_TRUE(q.backwardsMode);
    EXPECT_TRUE(q.verboseLog);
    EXPECT_EQ(q.minHeight, 0.0001);
    EXPECT_EQ(q.outputDir, r.root() + "/trajectory");
    EXPECT_EQ(q.outputsListing.size(), 3u);
    // Fresh descriptors of entries 1 and 2, in ascending time order.
    ASSERT_EQ(q.descriptorList.size(), 2u);
    EXPECT_EQ(q.descriptorList[0].simtime, "11:00:00");
    EXPECT_EQ(q.descriptorList[1].simtime, "12:00:00");
    EXPECT_EQ(q.descriptorList[1].InfoFilename, r.atmosphere() + "/P_AT_12.00.00_01.07.2018.ZDX");

    const std::vector<std::string> expected = {
        "Select input type for simulation (1,2)",
        "1: Input with *.tra file",
        "2: Input using console",
        "Please enter root path of ZAKO-rin simulation outputs",
        "[0]: 2018/07/01;10:00:00",
        "[1]: 2018/07/01;11:00:00",
        "[2]: 2018/07/01;12:00:00",
        "Please select the start and end simulation outputs for the simulation:",
        "e.g.: 1..5",
        "Please enter the location of the detector (float in meters)",
        "xMin:", "xMax:", "yMin:", "yMax:", "zMin:", "zMax:",
        "Please enter the number of particles that should reach the targets (integer):",
        "(min: 1,000,000)",
        "Please enter the output interval (integer and larger > 60 s):",
        "Press any key to start the simulation",
    };
    EXPECT_EQ(after(run.lines, kBannerLines), expected);
}

TEST_F(ConsolePath, EndOfInputAtTheStartPromptCountsAsEnter) {
    std::string a = answers("0..2", kDetector);
    a.pop_back();  // no ENTER after the output interval's line
    const tDialogueRun run = dialogue(a);
    ASSERT_TRUE(run.request);
    EXPECT_EQ(run.request->descriptorList.size(), 3u);
}

TEST_F(ConsolePath, MissingRootFolderRetypeOrBackToTheMenu) {
    const std::string missing = r.dir.file("nowhere");
    // Retype (1) after a missing folder, then the menu again after "2".
    const std::vector<std::string> out = dialogueError<kwd::InputError>(
        "2\n" + missing + "\n1\n" + missing + "\n2\n",
        "InputError: end of input while waiting for the input type (1 or 2)");
    const std::vector<std::string> expected = {
        "Select input type for simulation (1,2)",
        "1: Input with *.tra file",
        "2: Input using console",
        "Please enter root path of ZAKO-rin simulation outputs",
        "Folder Directory has to be the root directory of a simulation output.",
        "Retype the path selection (1) or go back to start (2)",
        "Please enter root path of ZAKO-rin simulation outputs",
        "Folder Directory has to be the root directory of a simulation output.",
        "Retype the path selection (1) or go back to start (2)",
        "Select input type for simulation (1,2)",
        "1: Input with *.tra file",
        "2: Input using console",
    };
    EXPECT_EQ(after(out, kBannerLines), expected);

    // Retyping leads on to a good folder.
    const tDialogueRun run =
        dialogue("2\n" + missing + "\n1\n" + r.root() + "\n0..1\n" + kDetector + "5\n60\n\n");
    ASSERT_TRUE(run.request);
    EXPECT_EQ(run.request->rootFolder, r.root());
}

TEST_F(ConsolePath, AnswerErrors) {
    dialogueError<kwd::InputError>(answers("0..3", kDetector),
        "InputError: the span 0..3 lies outside the outputs listing (the outputs listing runs from 0 to 2)");
    dialogueError<kwd::RunSetupError>(answers("2..0", kDetector),
        "RunSetupError: the span 2..0 selects no data set: its start index is above its end index");
    dialogueError<kwd::RunSetupError>(answers("1..1", kDetector),
        "RunSetupError: the span 1..1 selects a single data set; a run needs at least two");
    dialogueError<kwd::ConversionError>(answers("0..2", "10\n12,5\n"),
        "ConversionError: \"12,5\" is not a decimal number (xMax of the detector; the decimal separator is \".\")");
    dialogueError<kwd::ConversionError>(answers("0..2", kDetector, "lots"),
        "ConversionError: \"lots\" is not an integer (the number of particles)");
    dialogueError<kwd::RunSetupError>(answers("0..2", kDetector, "10", "0"),
        "RunSetupError: the output interval must be a positive number of seconds, not 0");
    dialogueError<kwd::InputError>("2\n" + r.root() + "\n0..2\n10\n20\n",
        "InputError: end of input while waiting for yMin of the detector");
    dialogueError<kwd::InputError>("2\n" + r.root() + "\n0..2\n" + kDetector + "10\n",
        "InputError: end of input while waiting for the output interval");
    dialogueError<kwd::InputError>("2\n",
        "InputError: end of input while waiting for the root path of the simulation outputs");
    dialogueError<kwd::InputError>("2\n/nowhere/at/all\n",
        "InputError: end of input while waiting for the choice to retype the path (1) or go back to start (2)");
}

TEST_F(ConsolePath, ParticleCountAndIntervalLimitsAreNotEnforced) {
    const tDialogueRun run = dialogue(answers("0..1", kDetector, "0", "30"));
    ASSERT_TRUE(run.request);
    EXPECT_EQ(run.request->partCntPerInterval, 0);
    EXPECT_EQ(run.request->outputInterval, 30);
}

// ---- the configuration path ------------------------------------------------------

struct ConfigurationPath : ::testing::Test {
    tRoot r;
    std::string tra() const { return r.dir.file("run1.tra"); }
    void save(const std::string& root, const std::vector<std::string>& zdx) const {
        tTRAFile t;
        t.fRootPath = root;
        t.setDetectorValues(1.5f, 2.25f, 3.0f, 4.0f, 0.5f, 1.75f);
        t.setParticleMultiplier(1234);
        t.setMinHeight(0.01);
        t.fZDXFileList = zdx;
        t.SaveToFile(r.dir.file("run1"));
    }
    void SetUp() override {
        r.add("P_AT_12.00.00_01.07.2018.ZDX", "01.07.2018", "12:00:00");
        r.add("P_AT_11.00.00_01.07.2018.ZDX", "01.07.2018", "11:00:00");
    }
    std::string zdx(const std::string& name) const { return r.atmosphere() + "/" + name; }
};

TEST_F(ConfigurationPath, CompleteRunRequestInFileOrder) {
    // File order is kept (the file lists the data sets in time order).
    save(r.root(), {zdx("P_AT_11.00.00_01.07.2018.ZDX"), zdx("P_AT_12.00.00_01.07.2018.ZDX")});
    const tDialogueRun run = dialogue("1\n" + tra() + "\n\n");
    ASSERT_TRUE(run.request);
    const tRunRequest& q = *run.request;
    EXPECT_TRUE(q.fromConfiguration);
    EXPECT_EQ(q.configurationPath, tra());
    EXPECT_EQ(q.rootFolder, r.root());
    EXPECT_EQ(q.detector.xMin, 1.5);
    EXPECT_EQ(q.detector.xMax, 2.25);
    EXPECT_EQ(q.detector.yMin, 3.0);
    EXPECT_EQ(q.detector.yMax, 4.0);
    EXPECT_EQ(q.detector.zMin, 0.5);
    EXPECT_EQ(q.detector.zMax, 1.75);
    EXPECT_EQ(q.outputInterval, 1800);
    EXPECT_EQ(q.updateInterval, 60);
    EXPECT_EQ(q.minHeight, double(0.01f));
    EXPECT_EQ(q.partCntPerInterval, 1234);
    EXPECT_EQ(q.outputDir, r.root() + "/trajectory");
    ASSERT_EQ(q.descriptorList.size(), 2u);
    EXPECT_EQ(q.descriptorList[0].simtime, "11:00:00");
    EXPECT_EQ(q.descriptorList[1].simtime, "12:00:00");
    EXPECT_TRUE(q.outputsListing.empty());
    EXPECT_EQ(after(run.lines, kBannerLines),
              (std::vector<std::string>{kMenu[0], kMenu[1], kMenu[2],
                                        "Please enter the path to the *.tra file",
                                        "Press any key to start the simulation"}));
    // End of input at the start prompt counts as ENTER.
    EXPECT_TRUE(dialogue("1\n" + tra()).request);
}

TEST_F(ConfigurationPath, MissingRootFolderEndsWithoutAFurtherLine) {
    save(r.dir.file("gone"), {zdx("P_AT_11.00.00_01.07.2018.ZDX"), zdx("P_AT_12.00.00_01.07.2018.ZDX")});
    for (const std::string& path : {tra(), r.dir.file("no-such-file.tra")}) {
        const tDialogueRun run = dialogue("1\n" + path + "\n\n");
        EXPECT_FALSE(run.request);
        ASSERT_FALSE(run.lines.empty());
        EXPECT_EQ(run.lines.back(), "Please enter the path to the *.tra file");
    }
}

TEST_F(ConfigurationPath, TooFewOrUnreadableDataSets) {
    save(r.root(), {zdx("P_AT_11.00.00_01.07.2018.ZDX")});
    dialogueError<kwd::RunSetupError>("1\n" + tra() + "\n\n",
        "RunSetupError: the run configuration file \"" + tra() +
            "\" lists 1 data set(s); a run needs at least two");
    save(r.root(), {zdx("P_AT_11.00.00_01.07.2018.ZDX"), zdx("missing.ZDX")});
    dialogueError<kwd::InputError>("1\n" + tra() + "\n\n",
        "InputError: cannot read the data-set descriptor \"" + zdx("missing.ZDX") +
            "\": the file is missing or not a ZDX descriptor");
    dialogueError<kwd::InputError>("1\n",
        "InputError: end of input while waiting for the path to the *.tra file");
}

TEST_F(ConfigurationPath, DataSetsMustBeListedInStrictlyIncreasingModelTime) {
    r.add("P_AT_13.00.00_01.07.2018.ZDX", "01.07.2018", "13:00:00");
    const std::string h11 = zdx("P_AT_11.00.00_01.07.2018.ZDX"), h12 = zdx("P_AT_12.00.00_01.07.2018.ZDX"),
                      h13 = zdx("P_AT_13.00.00_01.07.2018.ZDX");
    const auto refusal = [&](const std::string& earlier, const std::string& t1,
                             const std::string& later, const std::string& t2) {
        return "RunSetupError: the run configuration file \"" + tra() +
               "\" lists its data sets out of time order: " + earlier + " (01.07.2018 " + t1 +
               ") stands before " + later + " (01.07.2018 " + t2 +
               "); the data sets must be listed in strictly increasing model time";
    };
    struct Case {
        std::vector<std::string> listed;
        std::string line;
    } cases[] = {
        {{h12, h11}, refusal(h12, "12:00:00", h11, "11:00:00")},
        {{h11, h13, h12}, refusal(h13, "13:00:00", h12, "12:00:00")},  // the first pair out of order
        {{h13, h12, h11}, refusal(h13, "13:00:00", h12, "12:00:00")},
        {{h11, h12, h12}, refusal(h12, "12:00:00", h12, "12:00:00")},  // one file listed twice
    };
    for (const Case& c : cases) {
        save(r.root(), c.listed);
        dialogueError<kwd::RunSetupError>("1\n" + tra() + "\n\n", c.line);
    }
    save(r.root(), {h11, h12, h13});
    EXPECT_TRUE(dialogue("1\n" + tra() + "\n\n").request);
}

TEST_F(ConfigurationPath, MinimumHeightMustBeAboveTheGround) {
    const std::vector<std::string> two = {zdx("P_AT_11.00.00_01.07.2018.ZDX"),
                                          zdx("P_AT_12.00.00_01.07.2018.ZDX")};
    struct Case { double height; const char* text; } cases[] = {{-999.0, "-999"}, {0.0, "0"}};
    for (const Case& c : cases) {
        save(r.root(), two);
        tTRAFile t;
        t.LoadFromFile(tra());
        t.setMinHeight(c.height);
        t.SaveToFile(r.dir.file("run1"));
        dialogueError<kwd::RunSetupError>("1\n" + tra() + "\n\n",
            "RunSetupError: the minimum height in the run configuration file \"" + tra() + "\" is " +
                c.text + " m; it must be above 0 (the height at which a particle that went below "
                "the ground is put back)");
    }
}

}  // namespace

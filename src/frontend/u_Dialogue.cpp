#include "frontend/u_Dialogue.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <utility>

#include "frontend/u_tTRAFile.h"
#include "platform/DateTime.h"
#include "platform/FileIO.h"
#include "platform/KwdError.h"
#include "platform/RegionalSettings.h"

using kwd::engine::parseFootprintModel;
using kwd::engine::tDetector;

namespace kwd::frontend {

using kwd::dataset::TZDXFile;

namespace {

const char* const kBannerCubes[] = {
    "           ___________",
    "          /\\          \\",
    "         /  \\          \\",
    "        /    \\          \\",
    "       /      \\__________\\",
    "       \\      /          /",
    "        \\    /          /",
    "         \\  /          /",
    "    ______\\/__________/_______",
    "   /\\        \\      /\\        \\",
    "  /  \\        \\    /  \\        \\",
    " /    \\________\\  /    \\________\\",
    " \\    /        /  \\    /        /",
    "  \\  /        /    \\  /        /",
    "   \\/________/      \\/________/",
};

// Splits at every occurrence of aSeparator, keeping empty pieces.
std::vector<std::string> splitKeepEmpty(const std::string& aText, char aSeparator) {
    std::vector<std::string> pieces;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type pos = aText.find(aSeparator, start);
        if (pos == std::string::npos) {
            pieces.push_back(aText.substr(start));
            return pieces;
        }
        pieces.push_back(aText.substr(start, pos - start));
        start = pos + 1;
    }
}

// Case-insensitive text order (ASCII letters), as the listing is sorted.
bool keyLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](unsigned char x, unsigned char y) {
                                            return std::tolower(x) < std::tolower(y);
                                        });
}

// The shortest text that reads back as the same 32-bit float (the file
// stores the height as one).
std::string shortNumber(double aValue) {
    char text[32];
    const auto res = std::to_chars(text, text + sizeof text, float(aValue));
    return std::string(text, res.ptr);
}

std::string spanText(const tSpan& aSpan) {
    return std::to_string(aSpan.startIndex) + ".." + std::to_string(aSpan.endIndex);
}

}  // namespace

void writeBanner(tConsole& aConsole) {
    aConsole.writeLine("       KWD Footprint Simulation");
    for (const char* line : kBannerCubes) aConsole.writeLine(line);
    aConsole.writeLine("");
    aConsole.writeLine("");
}

int readMenuChoice(tConsole& aConsole) {
    for (;;) {
        aConsole.writeLine("Select input type for simulation (1,2)");
        aConsole.writeLine("1: Input with *.tra file");
        aConsole.writeLine("2: Input using console");
        const std::string answer = aConsole.readAnswer("the input type (1 or 2)");
        if (answer == "1") return 1;
        if (answer == "2") return 2;
        aConsole.writeLine("Unknown command;");
    }
}

std::optional<tRunRequest> runDialogue(tConsole& aConsole) {
    writeBanner(aConsole);
    for (;;) {
        if (readMenuChoice(aConsole) == 1) return readConfigurationPath(aConsole);
        std::optional<tRunRequest> request = readConsolePath(aConsole);
        if (request) return request;
        // Back to the menu (the banner is not repeated).
    }
}

std::optional<tRunRequest> readConfigurationPath(tConsole& aConsole) {
    aConsole.writeLine("Please enter the path to the *.tra file");
    const std::string path = aConsole.readAnswer("the path to the *.tra file");

    std::optional<tRunRequest> request = configurationRequest(path);
    if (!request) return std::nullopt;

    aConsole.writeLine("Press any key to start the simulation");
    aConsole.waitForEnter();
    return request;
}

std::optional<tRunRequest> configurationRequest(const std::string& path) {
    tTRAFile configuration;
    configuration.LoadFromFile(path);
    // A root folder that does not exist (also what an unreadable file gives)
    // ends the program at once.
    if (!kwd::folderExists(configuration.fRootPath)) return std::nullopt;

    tRunRequest request;
    request.fromConfiguration = true;
    request.configurationPath = path;
    request.rootFolder = configuration.fRootPath;
    const tSensor& s = configuration.fSensor;
    request.detector = tDetector{double(s.fxMin), double(s.fxMax), double(s.fyMin),
                                 double(s.fyMax), double(s.fzMin), double(s.fzMax)};
    request.descriptorList = readConfiguredDataSets(configuration, path);
    // A particle that goes below the ground is put back at the minimum
    // height: at 0 the wind profile of the lowest layer is undefined, and a
    // negative height (-999 when the file lacks it) would throw every such
    // particle out of the model and bias the footprint without a word.
    const double minHeight = configuration.getMinHeight();
    if (!(minHeight > 0.0) || !std::isfinite(minHeight)) {
        throw kwd::RunSetupError("the minimum height in the run configuration file \"" + path +
                                 "\" is " + shortNumber(minHeight) +
                                 " m; it must be above 0 (the height at which a particle that "
                                 "went below the ground is put back)");
    }
    request.outputInterval = kConfigurationOutputInterval;
    request.outputDir = joinPath(request.rootFolder, "trajectory");
    request.minHeight = minHeight;
    request.partCntPerInterval = int64_t(configuration.getParticleMultiplier());
    if (!configuration.fFootprintModel.empty() &&
        !parseFootprintModel(configuration.fFootprintModel, request.footprintModel)) {
        throw kwd::InputError("run configuration file \"" + path +
                              "\": TrajectoryInfo tag FootprintModel is \"" +
                              configuration.fFootprintModel +
                              "\"; it must be described or touchdown");
    }
    return request;
}

std::optional<tRunRequest> readConsolePath(tConsole& aConsole) {
    tRunRequest request;
    for (;;) {
        aConsole.writeLine("Please enter root path of ZAKO-rin simulation outputs");
        request.rootFolder = aConsole.readAnswer("the root path of the simulation outputs");
        if (kwd::folderExists(request.rootFolder)) break;
        aConsole.writeLine("Folder Directory has to be the root directory of a simulation output.");
        aConsole.writeLine("Retype the path selection (1) or go back to start (2)");
        const std::string answer =
            aConsole.readAnswer("the choice to retype the path (1) or go back to start (2)");
        if (answer != "1") return std::nullopt;
    }

    request.outputsListing = buildOutputsListing(request.rootFolder);
    writeOutputsListing(aConsole, request.outputsListing);

    aConsole.writeLine("Please select the start and end simulation outputs for the simulation:");
    aConsole.writeLine("e.g.: 1..5");
    request.span = parseSpan(aConsole.readAnswer("the span of simulation outputs"));
    checkSpan(request.span, request.outputsListing.size());

    request.backwardsMode = true;

    aConsole.writeLine("Please enter the location of the detector (float in meters)");
    double* const fields[] = {&request.detector.xMin, &request.detector.xMax,
                              &request.detector.yMin, &request.detector.yMax,
                              &request.detector.zMin, &request.detector.zMax};
    const char* const names[] = {"xMin", "xMax", "yMin", "yMax", "zMin", "zMax"};
    for (int n = 0; n < 6; ++n) {
        const std::string what = std::string(names[n]) + " of the detector";
        aConsole.writeLine(std::string(names[n]) + ":");
        *fields[n] = parseDecimalAnswer(aConsole.readAnswer(what), what);
    }

    aConsole.writeLine("Please enter the number of particles that should reach the targets (integer):");
    aConsole.writeLine("(min: 1,000,000)");
    request.particleCount =
        parseIntegerAnswer(aConsole.readAnswer("the number of particles"), "the number of particles");

    aConsole.writeLine("Please enter the output interval (integer and larger > 60 s):");
    request.outputInterval =
        parseIntegerAnswer(aConsole.readAnswer("the output interval"), "the output interval");
    if (request.outputInterval <= 0) {
        throw kwd::RunSetupError("the output interval must be a positive number of seconds, not " +
                                 std::to_string(request.outputInterval));
    }

    aConsole.writeLine("Press any key to start the simulation");
    aConsole.waitForEnter();

    // The run gets descriptors of its own, read afresh; the listing stays
    // with the request until the run has ended.
    for (int32_t idx = request.span.startIndex; idx <= request.span.endIndex; ++idx) {
        request.descriptorList.push_back(
            readDescriptor(request.outputsListing[size_t(idx)].descriptor.InfoFilename));
    }
    request.outputDir = joinPath(request.rootFolder, "trajectory");
    request.minHeight = kConsoleMinHeight;
    request.partCntPerInterval = int64_t(request.particleCount);
    return request;
}

std::string joinPath(const std::string& aFolder, const std::string& aName) {
    if (aFolder.empty()) return aName;
    if (aFolder.back() == '/') return aFolder + aName;
    return aFolder + "/" + aName;
}

bool isListedOutput(const std::string& aPath) {
    // Only the file's own name counts: a root folder whose path happens to
    // contain ".ZDX" or "(initialisation)" must not change the listing.
    const std::string::size_type slash = aPath.rfind('/');
    const std::string name = slash == std::string::npos ? aPath : aPath.substr(slash + 1);
    return name.find(".ZDX") != std::string::npos &&
           name.find("(initialisation)") == std::string::npos;
}

std::string outputKey(const TZDXFile& aDescriptor) {
    std::vector<std::string> date = splitKeepEmpty(aDescriptor.simdate, '.');
    date.resize(std::max<size_t>(date.size(), 3));
    return date[2] + "/" + date[1] + "/" + date[0] + ";" + aDescriptor.simtime;
}

std::vector<tOutputEntry> buildOutputsListing(const std::string& aRootFolder) {
    std::vector<tOutputEntry> listing;
    for (const std::string& path : kwd::listFiles(joinPath(aRootFolder, "atmosphere"))) {
        if (!isListedOutput(path)) continue;
        tOutputEntry entry;
        // A file that does not read as a descriptor is listed all the same,
        // under the key of its empty date; only a run that chooses it is
        // refused (the run reads its descriptors afresh, readDescriptor).
        (void)entry.descriptor.ReadFile(path);
        entry.descriptor.InfoFilename = path;
        entry.key = outputKey(entry.descriptor);
        listing.push_back(std::move(entry));
    }
    sortOutputsListing(listing);
    return listing;
}

void sortOutputsListing(std::vector<tOutputEntry>& aListing) {
    std::stable_sort(aListing.begin(), aListing.end(),
                     [](const tOutputEntry& a, const tOutputEntry& b) { return keyLess(a.key, b.key); });
}

void writeOutputsListing(tConsole& aConsole, const std::vector<tOutputEntry>& aListing) {
    for (size_t n = 0; n < aListing.size(); ++n) {
        aConsole.writeLine("[" + std::to_string(n) + "]" + ": " + aListing[n].key);
    }
}

tSpan parseSpan(const std::string& aAnswer) {
    const std::vector<std::string> pieces = splitKeepEmpty(aAnswer, '.');
    if (pieces.size() < 3) {
        throw kwd::ConversionError("\"" + aAnswer +
                                   "\" is not a span of simulation outputs (start..end, e.g. 1..5)");
    }
    tSpan span;
    if (!kwd::regional::tryParseInteger(pieces[0], span.startIndex) ||
        !kwd::regional::tryParseInteger(pieces[2], span.endIndex)) {
        throw kwd::ConversionError("\"" + aAnswer +
                                   "\" is not a span of simulation outputs (start..end, e.g. 1..5)");
    }
    return span;
}

void checkSpan(const tSpan& aSpan, size_t aListingSize) {
    const auto outside = [&](int32_t idx) { return idx < 0 || size_t(idx) >= aListingSize; };
    if (outside(aSpan.startIndex) || outside(aSpan.endIndex)) {
        const std::string listed =
            aListingSize == 0 ? std::string("the outputs listing is empty")
                              : "the outputs listing runs from 0 to " + std::to_string(aListingSize - 1);
        throw kwd::InputError("the span " + spanText(aSpan) + " lies outside the outputs listing (" +
                              listed + ")");
    }
    if (aSpan.startIndex > aSpan.endIndex) {
        throw kwd::RunSetupError("the span " + spanText(aSpan) +
                                 " selects no data set: its start index is above its end index");
    }
    if (aSpan.startIndex == aSpan.endIndex) {
        throw kwd::RunSetupError("the span " + spanText(aSpan) +
                                 " selects a single data set; a run needs at least two");
    }
}

TZDXFile readDescriptor(const std::string& aPath) {
    TZDXFile descriptor;
    if (descriptor.ReadFile(aPath) != 0) {
        throw kwd::InputError("cannot read the data-set descriptor \"" + aPath +
                              "\": the file is missing or not a ZDX descriptor");
    }
    return descriptor;
}

std::vector<TZDXFile> readConfiguredDataSets(const tTRAFile& aConfiguration,
                                             const std::string& aPath) {
    std::vector<TZDXFile> dataSets;
    for (const std::string& zdxPath : aConfiguration.fZDXFileList)
        dataSets.push_back(readDescriptor(zdxPath));
    if (dataSets.size() < 2) {
        throw kwd::RunSetupError("the run configuration file \"" + aPath + "\" lists " +
                                 std::to_string(dataSets.size()) +
                                 " data set(s); a run needs at least two");
    }
    const auto timeText = [](const TZDXFile& z) { return z.simdate + " " + z.simtime; };
    for (size_t n = 0; n + 1 < dataSets.size(); ++n) {
        const TZDXFile& earlier = dataSets[n];
        const TZDXFile& later = dataSets[n + 1];
        // A model time that does not read is the engine's to report (it
        // ends the run as it starts); such a pair has no order to check.
        kwd::tDateTime t1 = 0.0, t2 = 0.0;
        if (!kwd::tryParseModelDateTime(earlier.simdate, earlier.simtime, t1) ||
            !kwd::tryParseModelDateTime(later.simdate, later.simtime, t2) || t1 < t2)
            continue;
        throw kwd::RunSetupError(
            "the run configuration file \"" + aPath + "\" lists its data sets out of time order: " +
            earlier.InfoFilename + " (" + timeText(earlier) + ") stands before " +
            later.InfoFilename + " (" + timeText(later) +
            "); the data sets must be listed in strictly increasing model time");
    }
    return dataSets;
}

double parseDecimalAnswer(const std::string& aAnswer, const std::string& aWhat) {
    double value = 0.0;
    if (!kwd::regional::tryParseDecimal(aAnswer, value)) {
        throw kwd::ConversionError("\"" + aAnswer + "\" is not a decimal number (" + aWhat +
                                   "; the decimal separator is \".\")");
    }
    return value;
}

int32_t parseIntegerAnswer(const std::string& aAnswer, const std::string& aWhat) {
    int value = 0;
    if (!kwd::regional::tryParseInteger(aAnswer, value)) {
        throw kwd::ConversionError("\"" + aAnswer + "\" is not an integer (" + aWhat + ")");
    }
    return int32_t(value);
}

}  // namespace kwd::frontend

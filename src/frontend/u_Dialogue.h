#pragma once
// The console dialogue: banner, menu, and the two ways of setting up a run
// (a run configuration file, or the console prompts). Its result is the run
// request, everything the run start needs to create the engine and start
// the main loop.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "dataset/u_ZDXFile.h"
#include "engine/u_Touchdowns.h"
#include "engine/u_tParticle.h"
#include "frontend/u_Console.h"

namespace kwd::frontend {

// Output interval of a run set up from a run configuration file, seconds.
constexpr int32_t kConfigurationOutputInterval = 1800;
// Update interval of the wind and turbulence fields, seconds.
constexpr int32_t kUpdateInterval = 60;
// Minimum height of a run set up at the console, metres.
constexpr double kConsoleMinHeight = 0.0001;

// One atmosphere output of a simulation: its sort key
// (year/month/day;time) and its descriptor.
struct tOutputEntry {
    std::string key;
    kwd::dataset::TZDXFile descriptor;
};

// The chosen span of the outputs listing, both ends inclusive.
struct tSpan {
    int32_t startIndex = 0;
    int32_t endIndex = 0;
};

struct tRunRequest {
    bool fromConfiguration = false;  // set up from a ".tra" file
    std::string rootFolder;
    std::string configurationPath;     // configuration path only
    tSpan span;                        // console path only
    kwd::engine::tDetector detector;
    int32_t particleCount = 0;         // console path only
    int32_t outputInterval = 0;        // seconds
    std::vector<tOutputEntry> outputsListing;  // console path only; kept until the run ends
    std::vector<kwd::dataset::TZDXFile> descriptorList;  // handed to the engine

    // The engine's arguments.
    bool backwardsMode = true;
    std::string outputDir;       // root folder + "/trajectory"
    double minHeight = kConsoleMinHeight;
    int64_t partCntPerInterval = 0;
    int32_t updateInterval = kUpdateInterval;
    bool verboseLog = true;
    kwd::engine::tFootprintModel footprintModel = kwd::engine::tFootprintModel::Described;
    bool touchdownList = false;  // touchdown model: write the touchdown list
};

// The title line, the three cubes and two empty lines.
void writeBanner(tConsole& aConsole);

// Shows the menu until the answer is exactly "1" or "2" and returns it as a
// number; every other answer writes "Unknown command;" and shows it again.
int readMenuChoice(tConsole& aConsole);

// The whole dialogue. Nothing when the run configuration names a root folder
// that does not exist: the program then ends at once without a further line.
std::optional<tRunRequest> runDialogue(tConsole& aConsole);

// The configuration path, from its first prompt to "Press any key ...".
std::optional<tRunRequest> readConfigurationPath(tConsole& aConsole);
// The run request of the run configuration file `path` (its descriptors
// read, its values checked), without a prompt. Nothing when the file's root
// folder does not exist (also what a file that cannot be read gives).
std::optional<tRunRequest> configurationRequest(const std::string& path);
// The console path, from its first prompt to "Press any key ...". Nothing
// when the user goes back to the menu.
std::optional<tRunRequest> readConsolePath(tConsole& aConsole);

// ---- pieces of the console path ----------------------------------------------

// A folder path joined with a name below it, without a doubled "/".
std::string joinPath(const std::string& aFolder, const std::string& aName);

// Whether a file found in the atmosphere folder is an atmosphere output: its
// name contains ".ZDX" (case-sensitive) and not "(initialisation)".
bool isListedOutput(const std::string& aPath);

// year + "/" + month + "/" + day + ";" + simtime, from simdate "dd.mm.yyyy".
// Missing pieces of the date count as empty.
std::string outputKey(const kwd::dataset::TZDXFile& aDescriptor);

// Reads every atmosphere output directly inside aRootFolder + "/atmosphere"
// and sorts them by key (case-insensitive; equal keys keep their order).
// A missing folder raises kwd::FileError. A listed file that does not read
// as a ZDX descriptor stays in the listing with the fields it has (its key
// starts "//;"); choosing it for a run raises kwd::InputError naming it.
std::vector<tOutputEntry> buildOutputsListing(const std::string& aRootFolder);
void sortOutputsListing(std::vector<tOutputEntry>& aListing);

// "[index]: key", one line per entry, the index counting from 0.
void writeOutputsListing(tConsole& aConsole, const std::vector<tOutputEntry>& aListing);

// A span answer such as "1..5": split at every ".", piece 0 is the start and
// piece 2 the end index. An answer of fewer than three pieces or with pieces
// that are not integers raises kwd::ConversionError.
tSpan parseSpan(const std::string& aAnswer);
// An index outside the listing raises kwd::InputError; a start above the end
// (no data set) or equal to it (one data set) raises kwd::RunSetupError.
void checkSpan(const tSpan& aSpan, size_t aListingSize);

// Reads a ZDX descriptor; a file that is missing or not a ZDX descriptor
// raises kwd::InputError naming it.
kwd::dataset::TZDXFile readDescriptor(const std::string& aPath);

// The data sets a loaded run configuration file lists, read in list order.
// Fewer than two, or two neighbours not in strictly increasing model time
// (the run would go back from the earliest into a span without data), raise
// kwd::RunSetupError naming the file and, for the order, the first pair out
// of order with their times (a model time that does not read is left to the
// engine, which refuses it as the run starts). Every way of running a
// configuration file takes its data sets from here.
class tTRAFile;
std::vector<kwd::dataset::TZDXFile> readConfiguredDataSets(const tTRAFile& aConfiguration,
                                                           const std::string& aPath);

// A decimal number with the regional decimal separator "."; other text
// raises kwd::ConversionError naming aWhat.
double parseDecimalAnswer(const std::string& aAnswer, const std::string& aWhat);
// A 32-bit decimal integer; other text raises kwd::ConversionError naming aWhat.
int32_t parseIntegerAnswer(const std::string& aAnswer, const std::string& aWhat);

}  // namespace kwd::frontend

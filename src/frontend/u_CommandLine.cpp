#include "frontend/u_CommandLine.h"

#include <omp.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <istream>
#include <ostream>
#include <sstream>

#include "engine/u_Random.h"
#include "engine/u_tParticleManager.h"
#include "frontend/u_Console.h"
#include "frontend/u_Dialogue.h"
#include "frontend/u_MemoryEstimate.h"
#include "frontend/u_OutputFolder.h"
#include "frontend/u_RunStart.h"
#include "frontend/u_Version.h"
#include "frontend/u_tTRAFile.h"
#include "platform/DateTime.h"
#include "platform/FileIO.h"
#include "platform/Interrupt.h"
#include "platform/RegionalSettings.h"
#include "run/u_Ranks.h"

using kwd::engine::parseFootprintModel;
using kwd::engine::tDetector;
using kwd::engine::tFootprintModel;
using kwd::engine::tParticleManager;
using kwd::engine::tryParseSeed;

namespace kwd::frontend {

using kwd::dataset::TZDXFile;

namespace {

const char* const kSeeHelp = " (kwd-footprint --help shows the usage)";

[[noreturn]] void usageError(const std::string& aWhat) { throw tUsageError(aWhat + kSeeHelp); }

// The value of an option: the text after "=" or the next argument.
std::string optionValue(const std::vector<std::string>& aArgs, size_t& aAt,
                        const std::string& aName, const std::optional<std::string>& aInline) {
    if (aInline) {
        if (aInline->empty()) usageError("option " + aName + " needs a value");
        return *aInline;
    }
    if (aAt + 1 >= aArgs.size()) usageError("option " + aName + " needs a value");
    return aArgs[++aAt];
}

// A whole number of at least aMin that fits T.
template <typename T>
T countValue(const std::string& aName, const std::string& aText, T aMin,
             const std::string& aWhat) {
    T value = 0;
    const char* end = aText.data() + aText.size();
    const auto res = std::from_chars(aText.data(), end, value);
    if (aText.empty() || res.ec != std::errc() || res.ptr != end || value < aMin) {
        usageError("option " + aName + " needs " + aWhat + ", not \"" + aText + "\"");
    }
    return value;
}

template <typename T>
void setOnce(std::optional<T>& aSlot, T aValue, const std::string& aName) {
    if (aSlot) usageError("option " + aName + " is given twice");
    aSlot = std::move(aValue);
}

}  // namespace

std::string commandLineUsage() {
    return "usage: kwd-footprint                          the console dialogue\n"
           "       kwd-footprint run RUN.tra [options]    run a run configuration file\n"
           "       kwd-footprint check RUN.tra [options]  check it without running\n"
           "       kwd-footprint --help | --version\n"
           "options of run and check:\n"
           "  --out DIR           output folder (default: RootPath/trajectory)\n"
           "  --interval SECONDS  output interval (default: 1800)\n"
           "  --particles N       particles per data-set period, N >= 1 (default: the\n"
           "                      file's ParticleMultiplier), in batches of at most " +
           std::to_string(KWD_BATCH_SIZE) +
           "\n"
           "  --seed S            seed of the random numbers (default: KWD_SEED, else\n"
           "                      the clock); run.json records the seed used\n"
           "  --threads N         threads of the particle step (default: OMP_NUM_THREADS,\n"
           "                      else one per core)\n"
           "  --model M           the dispersion model: described (the default) or\n"
           "                      touchdown (default: the file's FootprintModel)\n"
           "  --touchdown-list    touchdown model: also list every touchdown\n"
           "  --overwrite         delete the files in the output folder first; without it\n"
           "                      a folder that holds files is refused\n"
           "  --quiet             print nothing but errors\n"
           "Errors: one line on standard error; status 1 (run) or 2 (usage).\n";
}

tCommandLine parseCommandLine(const std::vector<std::string>& aArgs) {
    tCommandLine cl;
    for (const std::string& a : aArgs) {
        if (a == "--help" || a == "-h") return cl;  // tCommand::Help
    }
    for (const std::string& a : aArgs) {
        if (a == "--version") {
            cl.command = tCommand::Version;
            return cl;
        }
    }
    if (aArgs.empty()) usageError("no command given");
    if (aArgs[0] == "run") {
        cl.command = tCommand::Run;
    } else if (aArgs[0] == "check") {
        cl.command = tCommand::Check;
    } else if (aArgs[0].rfind("-", 0) == 0) {
        usageError("unknown option \"" + aArgs[0] + "\"; a command (run or check) comes first");
    } else {
        usageError("unknown command \"" + aArgs[0] + "\"");
    }

    std::vector<std::string> positional;
    std::optional<std::string> model;
    bool overwrite = false, quiet = false, touchdownList = false;
    for (size_t n = 1; n < aArgs.size(); ++n) {
        const std::string& arg = aArgs[n];
        if (arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            positional.insert(positional.end(), aArgs.begin() + std::ptrdiff_t(n) + 1, aArgs.end());
            break;
        }
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        // A count option: a whole number of at least 1.
        const auto count = [&]<typename T>(std::optional<T>& aSlot, const std::string& aUnit) {
            const std::string text = optionValue(aArgs, n, name, inlineValue);
            const std::string what = "a whole number of " + aUnit + " of at least 1";
            setOnce(aSlot, countValue<T>(name, text, T(1), what), name);
        };
        if (name == "--overwrite" || name == "--quiet" || name == "--touchdown-list") {
            if (inlineValue) usageError("option " + name + " takes no value");
            bool& flag = name == "--overwrite" ? overwrite : name == "--quiet" ? quiet : touchdownList;
            if (flag) usageError("option " + name + " is given twice");
            flag = true;
        } else if (name == "--out") {
            setOnce(cl.outputFolder, optionValue(aArgs, n, name, inlineValue), name);
        } else if (name == "--interval") {
            count(cl.outputInterval, "seconds");
        } else if (name == "--threads") {
            count(cl.threads, "threads");
        } else if (name == "--particles") {
            count(cl.particles, "particles");
        } else if (name == "--seed") {
            const std::string text = optionValue(aArgs, n, name, inlineValue);
            uint64_t seed = 0;
            if (!tryParseSeed(text, seed))
                usageError("option --seed needs a decimal integer, not \"" + text + "\"");
            setOnce(cl.seed, seed, name);
        } else if (name == "--model") {
            setOnce(model, optionValue(aArgs, n, name, inlineValue), name);
        } else {
            usageError("unknown option \"" + arg + "\"");
        }
    }
    cl.overwrite = overwrite;
    cl.quiet = quiet;
    cl.touchdownList = touchdownList;
    if (model) {
        tFootprintModel chosen = tFootprintModel::Described;
        if (!parseFootprintModel(*model, chosen))
            usageError("unknown model \"" + *model + "\"; --model takes described or touchdown");
        cl.model = chosen;
    }
    if (touchdownList && cl.model == tFootprintModel::Described)
        usageError("--touchdown-list goes with the touchdown model");
    const std::string verb = aArgs[0];
    if (positional.empty()) usageError(verb + " needs a run configuration file (RUN.tra)");
    if (positional.size() > 1)
        usageError(verb + " takes one run configuration file, got also \"" + positional[1] + "\"");
    cl.configurationPath = positional[0];
    return cl;
}

namespace {

// The run request of the command line's run configuration file, with the
// options applied; the batch size of the run goes to aBatchSize.
tRunRequest commandLineRequest(const tCommandLine& aCl, int64_t& aBatchSize) {
    const std::string& path = aCl.configurationPath;
    if (!kwd::fileExists(path))
        throw kwd::InputError("the run configuration file \"" + path +
                              "\" is missing or not a file");
    std::optional<tRunRequest> request = configurationRequest(path);
    if (!request) {
        tTRAFile configuration;
        configuration.LoadFromFile(path);
        throw kwd::InputError("the root folder \"" + configuration.fRootPath +
                              "\" of the run configuration file \"" + path +
                              "\" (RootPath) is not a folder");
    }
    if (aCl.outputFolder) request->outputDir = *aCl.outputFolder;
    if (aCl.outputInterval) request->outputInterval = *aCl.outputInterval;
    if (aCl.particles) request->partCntPerInterval = *aCl.particles;
    if (aCl.model) request->footprintModel = *aCl.model;
    if (aCl.touchdownList && request->footprintModel != tFootprintModel::Touchdown)
        throw kwd::RunSetupError("--touchdown-list goes with the touchdown model; the run "
                                 "configuration file \"" + aCl.configurationPath +
                                 "\" chooses the described one");
    request->touchdownList = aCl.touchdownList;
    // A count below one batch is released as one batch of that count.
    const int64_t n = request->partCntPerInterval;
    aBatchSize = n >= 1 ? std::min<int64_t>(n, KWD_BATCH_SIZE) : int64_t(KWD_BATCH_SIZE);
    return *request;
}

std::vector<std::string> fullCommandLine(const std::vector<std::string>& aArgs) {
    std::vector<std::string> line{"kwd-footprint"};
    line.insert(line.end(), aArgs.begin(), aArgs.end());
    return line;
}

void runRequest(const tCommandLine& aCl, const std::vector<std::string>& aArgs,
                std::ostream& aOut) {
    int64_t batchSize = 0;
    tRunRequest request = commandLineRequest(aCl, batchSize);
    tRunControl control;
    control.commandLine = fullCommandLine(aArgs);
    control.finalPrompt = false;
    control.seed = aCl.seed;
    control.batchSize = batchSize;
    control.folderUse =
        aCl.overwrite ? tOutputFolderUse::Emptied : tOutputFolderUse::RefuseResults;
    tNullBuffer nothing;
    std::ostream quiet(&nothing);
    std::istringstream noInput;
    tConsole console(noInput, aCl.quiet ? quiet : aOut);
    runSimulation(request, console, control);
    aOut.flush();
}

// The run; on several processes (u_Ranks.h) every one of them ends with the
// same outcome: finished, or the error of the lowest process that failed.
int runCommand(const tCommandLine& aCl, const std::vector<std::string>& aArgs,
               std::ostream& aOut) {
    try {
        runRequest(aCl, aArgs, aOut);
    } catch (...) {
        kwd::run::ranks::failTogether(std::current_exception());
    }
    (void)kwd::run::ranks::agree();
    return 0;
}

std::string modelTimeText(const TZDXFile& z) { return z.simdate + " " + z.simtime; }

int checkCommand(const tCommandLine& aCl, std::ostream& aOut) {
    int64_t batchSize = 0;
    tRunRequest request = commandLineRequest(aCl, batchSize);
    const tMemoryEstimate estimate = checkRunStart(request, batchSize);
    const std::vector<TZDXFile> dataSets = request.descriptorList;

    // The fields of every period, loaded as the main loop loads them: the
    // grid, the widths, the model times and the fields themselves.
    tParticleManager engine(request.backwardsMode, request.detector,
                            std::move(request.descriptorList), request.outputDir,
                            request.minHeight, request.partCntPerInterval, batchSize);
    engine.fCurrZDXFile = &engine.fZDXFileList[0];
    engine.allocateFields();
    std::vector<std::string> warnings;
    for (size_t p = 0; p + 1 < engine.fZDXFileList.size(); ++p) {
        engine.fMainLoopIdx = int64_t(p);
        engine.fCurrZDXFile = &engine.fZDXFileList[p];
        engine.fNextZDXFile = &engine.fZDXFileList[p + 1];
        const int64_t deltaT =
            kwd::secondsBetween(tParticleManager::getModelTime(*engine.fCurrZDXFile),
                                tParticleManager::getModelTime(*engine.fNextZDXFile));
        engine.loadPeriodFields(int32_t(deltaT));
        if (p == 0) warnings = detectorWarnings(request.detector, engine);
    }

    // The output folder: free, and empty unless it is to be emptied.
    if (kwd::folderExists(request.outputDir)) {
        { const tOutputFolderLock probe(request.outputDir); }
        if (!aCl.overwrite) requireNoEarlierResults(request.outputDir);
    }

    if (aCl.quiet) return 0;
    const tDetector& d = request.detector;
    aOut << "Run configuration: " << aCl.configurationPath << '\n';
    aOut << "Data sets: " << dataSets.size() << ", from " << modelTimeText(dataSets.front())
         << " to " << modelTimeText(dataSets.back()) << '\n';
    const TZDXFile& first = dataSets.back();
    aOut << "Grid: " << first.GridsI << " x " << first.GridsJ << " x " << first.GridsK
         << " cells\n";
    aOut << "Detector: xMin " << d.xMin << ", xMax " << d.xMax << ", yMin " << d.yMin
         << ", yMax " << d.yMax << ", zMin " << d.zMin << ", zMax " << d.zMax << " m\n";
    aOut << "Particles per period: " << request.partCntPerInterval << ", in batches of "
         << batchSize << '\n';
    aOut << "Output interval: " << request.outputInterval << " s\n";
    aOut << "Output folder: " << request.outputDir << '\n';
    aOut << "Memory estimate: " << memoryEstimateText(estimate, first) << "; the machine has "
         << byteSizeText(physicalMemoryBytes()) << '\n';
    for (const std::string& w : warnings) aOut << w << '\n';
    aOut << "The run can start." << std::endl;
    return 0;
}

}  // namespace

int runCommandLine(const std::vector<std::string>& aArgs, std::ostream& aOut,
                   std::ostream& aErr) {
    try {
        const tCommandLine cl = parseCommandLine(aArgs);
        switch (cl.command) {
            case tCommand::Help:
                aOut << commandLineUsage() << std::flush;
                return 0;
            case tCommand::Version:
                aOut << versionLine() << std::endl;
                return 0;
            case tCommand::Run:
            case tCommand::Check:
                break;
        }
        if (cl.threads) omp_set_num_threads(*cl.threads);
        return cl.command == tCommand::Run ? runCommand(cl, aArgs, aOut) : checkCommand(cl, aOut);
    } catch (const tUsageError& e) {
        aOut.flush();
        aErr << kwd::errorLine(e) << std::endl;
        return 2;
    } catch (const std::exception& e) {
        aOut.flush();
        aErr << kwd::errorLine(e) << std::endl;
        return kwd::exitStatusOf(e);  // 128 + the signal for an interrupted run
    } catch (...) {
        aOut.flush();
        aErr << "InternalError: an unknown error ended the program" << std::endl;
        return 1;
    }
}

}  // namespace kwd::frontend

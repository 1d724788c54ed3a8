#include "export/u_ExportProgram.h"

#include <cmath>
#include <exception>
#include <optional>
#include <ostream>

#include "export/u_ExportText.h"
#include "export/u_FootprintMap.h"
#include "export/u_FootprintStats.h"
#include "export/u_NetCDFExport.h"
#include "platform/KwdError.h"
#include "platform/RegionalSettings.h"

const char* const kExportUsage =
    "usage: kwd-export netcdf DATASET.ZDX OUT.nc | kwd-export map TRAJECTORY_FOLDER "
    "[--time \"dd.mm.yyyy hh:mm:ss\"] OUT.png | kwd-export summary TRAJECTORY_FOLDER";

namespace {

using export_text::fixedNumber;

[[noreturn]] void usageError(const std::string& what) {
    throw kwd::InputError(what + "; " + kExportUsage);
}

int netcdfCommand(const std::vector<std::string>& args, std::ostream& out) {
    if (args.size() != 3) usageError("the netcdf command takes a data set and an output file");
    const tNetCDFExportResult r = exportDataSetToNetCDF(args[1], args[2]);
    out << "Wrote \"" << args[2] << "\": " << r.variables.size()
        << (r.variables.size() == 1 ? " variable on " : " variables on ") << r.nI
        << " x " << r.nJ << " x " << r.nK << " cells" << std::endl;
    return 0;
}

int mapCommand(const std::vector<std::string>& args, std::ostream& out) {
    std::vector<std::string> positional;
    std::optional<kwd::tDateTime> time;
    for (size_t n = 1; n < args.size(); ++n) {
        if (args[n] == "--time") {
            if (n + 1 >= args.size()) usageError("--time needs a date and time");
            kwd::tDateTime t = 0;
            if (!export_text::tryParseDateTimeArgument(args[n + 1], t))
                throw kwd::ConversionError("\"" + args[n + 1] +
                                           "\" is not a time of the form dd.mm.yyyy hh:mm:ss");
            time = t;
            ++n;
        } else if (args[n].size() > 1 && args[n][0] == '-') {
            usageError("unknown option \"" + args[n] + "\"");
        } else {
            positional.push_back(args[n]);
        }
    }
    if (positional.size() != 2) usageError("the map command takes a trajectory folder and an output file");
    const tTrajectoryFolder folder(positional[0]);
    const tRunLog log = readRunLog(folder.logPath());
    const tOutputData data = folder.load(folder.select(time));
    renderFootprintMap(footprintMapOf(folder, data, log), positional[1]);
    out << "Wrote \"" << positional[1] << "\": footprint map of "
        << export_text::fullDateTimeText(data.output.time) << std::endl;
    return 0;
}

int summaryCommand(const std::vector<std::string>& args, std::ostream& out) {
    if (args.size() != 2) usageError("the summary command takes a trajectory folder");
    const tTrajectoryFolder folder(args[1]);
    for (const std::string& line : summaryLines(folder)) out << line << '\n';
    out.flush();
    return 0;
}

// Peak cell, its distance and the 80 % source area of one footprint.
std::string footprintFields(const std::vector<double>& values, const tPlanGrid& grid,
                            const tDetectorBox& detector) {
    const std::optional<tFootprintPeak> peak = footprintPeak(values, grid, detector);
    if (!peak) return "-999;-999;-999;-999";
    const double fraction[1] = {0.8};
    const std::vector<tFootprintLevel> levels = footprintLevels(values, grid, fraction);
    return std::to_string(peak->i) + ";" + std::to_string(peak->j) + ";" +
           fixedNumber(peak->distance, 2) + ";" + fixedNumber(levels.at(0).area, 2);
}

}  // namespace

tFootprintMap footprintMapOf(const tTrajectoryFolder& aFolder, const tOutputData& aData,
                             const tRunLog& aLog) {
    tFootprintMap map;
    map.title = aFolder.project() + ", " + export_text::fullDateTimeText(aData.output.time);
    map.grid = aData.grid;
    map.flux = aData.flux;
    map.concentration = aData.concentration;
    map.obstacle = aData.obstacle;
    map.detector = aLog.detector;
    return map;
}

std::vector<std::string> summaryLines(const tTrajectoryFolder& aFolder) {
    const tRunLog log = readRunLog(aFolder.logPath());
    const tDetectorBox& d = log.detector;
    std::vector<std::string> lines;
    lines.push_back("Project: " + aFolder.project());
    using export_text::floatNumber;
    lines.push_back("Detector: x " + floatNumber(d.xMin) + " to " + floatNumber(d.xMax) + " m, y " +
                    floatNumber(d.yMin) + " to " + floatNumber(d.yMax) + " m, z " +
                    floatNumber(d.zMin) + " to " + floatNumber(d.zMax) + " m");
    lines.push_back(
        "Date;Time;ParticlesReleased;Hits;FlxPeakI;FlxPeakJ;FlxPeakDistance[m];FlxSourceArea80[m2];"
        "ConPeakI;ConPeakJ;ConPeakDistance[m];ConSourceArea80[m2]");
    for (const tOutputTime& o : aFolder.outputs()) {
        const tOutputData data = aFolder.load(o);
        double hits = 0;
        for (const double v : data.sourceStrength) hits += v;
        const std::optional<int64_t> released = log.releasedAt(o.time);
        lines.push_back(kwd::regional::shortDate(o.time) + ";" + kwd::regional::longTime(o.time) +
                        ";" + (released ? std::to_string(*released) : std::string("-999")) + ";" +
                        fixedNumber(hits, 0) + ";" + footprintFields(data.flux, data.grid, d) +
                        ";" + footprintFields(data.concentration, data.grid, d));
    }
    return lines;
}

int runKwdExport(const std::vector<std::string>& aArgs, std::ostream& aOut) {
    try {
        if (aArgs.empty()) usageError("no command given");
        const std::string& command = aArgs[0];
        if (command == "netcdf") return netcdfCommand(aArgs, aOut);
        if (command == "map") return mapCommand(aArgs, aOut);
        if (command == "summary") return summaryCommand(aArgs, aOut);
        if (command == "help" || command == "--help" || command == "-h") {
            aOut << kExportUsage << std::endl;
            return 0;
        }
        usageError("unknown command \"" + command + "\"");
    } catch (const std::exception& e) {
        aOut << kwd::errorLine(e) << std::endl;
        return 1;
    }
}

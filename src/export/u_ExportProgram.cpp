#include "export/u_ExportProgram.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string_view>

#include "export/u_ExportText.h"
#include "dataset/u_ZDXFile.h"
#include "export/u_FootprintMap.h"
#include "export/u_FootprintNetCDF.h"
#include "export/u_FootprintStats.h"
#include "export/u_GeoTiffExport.h"
#include "export/u_Georef.h"
#include "export/u_NetCDFExport.h"
#include "export/u_OutputFile.h"
#include "platform/KwdError.h"
#include "platform/RegionalSettings.h"

namespace kwd::exporter {

using kwd::dataset::TZDXFile;

const char* const kExportUsage =
    "usage: kwd-export netcdf DATASET.ZDX OUT.nc [--epsg CODE] | "
    "kwd-export footprints TRAJECTORY_FOLDER OUT.nc [--epsg CODE] | "
    "kwd-export geotiff TRAJECTORY_FOLDER OUT.tif [--time \"dd.mm.yyyy hh:mm:ss\" | --mean] "
    "[--epsg CODE] | kwd-export map TRAJECTORY_FOLDER [--time \"dd.mm.yyyy hh:mm:ss\" | --mean] "
    "[--levels 50,80,90] [--epsg CODE] OUT.png|OUT.pdf|OUT.svg | "
    "kwd-export summary TRAJECTORY_FOLDER";

namespace {

using export_text::fixedNumber;

[[noreturn]] void usageError(const std::string& what) {
    throw kwd::InputError(what + "; " + kExportUsage);
}

// `count` fields of -999 (no value), joined by ";".
std::string missingFields(size_t count) {
    std::string s;
    for (size_t n = 0; n < count; ++n) s += n == 0 ? "-999" : ";-999";
    return s;
}

// What a map of normalised footprints shows: its measurement time or "the
// mean of 3 measurement times".
std::string mapSubject(const tTrajectoryFolder& folder, const tDensityData& data) {
    if (!data.mean) return export_text::fullDateTimeText(data.measurement.time);
    const size_t n = folder.measurements().size();
    if (n == 0) return "the mean of the measurement times";
    return "the mean of " + std::to_string(n) + (n == 1 ? " measurement time" : " measurement times");
}

// The options of a command: those of `allowed` may be given.
struct tArguments {
    std::vector<std::string> positional;
    std::optional<kwd::tDateTime> time;
    bool mean = false;
    std::optional<int> epsg;
    std::optional<std::vector<double>> levels;
};

tArguments parseArguments(const std::vector<std::string>& args,
                          std::initializer_list<std::string_view> allowed) {
    tArguments a;
    auto isAllowed = [&](const std::string& o) {
        return std::find(allowed.begin(), allowed.end(), o) != allowed.end();
    };
    auto value = [&](size_t& n, const char* what) -> const std::string& {
        if (n + 1 >= args.size()) usageError(args[n] + " needs " + what);
        return args[++n];
    };
    for (size_t n = 1; n < args.size(); ++n) {
        const std::string& arg = args[n];
        if (arg.size() > 1 && arg[0] == '-' && !isAllowed(arg)) usageError("unknown option \"" + arg + "\"");
        if (arg == "--time") {
            const std::string& text = value(n, "a date and time");
            kwd::tDateTime t = 0;
            if (!export_text::tryParseDateTimeArgument(text, t))
                throw kwd::ConversionError("\"" + text + "\" is not a time of the form dd.mm.yyyy hh:mm:ss");
            a.time = t;
        } else if (arg == "--mean") {
            a.mean = true;
        } else if (arg == "--epsg") {
            a.epsg = parseEpsgCode(value(n, "a code"));
        } else if (arg == "--levels") {
            a.levels = parseMapLevels(value(n, "percentages"));
        } else {
            a.positional.push_back(arg);
        }
    }
    if (a.time && a.mean) usageError("--time and --mean exclude each other");
    return a;
}

std::unique_ptr<tMapCrs> crsOf(const tArguments& a) {
    return a.epsg ? std::make_unique<tMapCrs>(*a.epsg) : nullptr;
}

// The history line of a file: the wall-clock time and the command.
std::string historyLine(const std::vector<std::string>& args) {
    const kwd::DateTimeParts t = kwd::decodeDateTime(kwd::nowLocal());
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    std::string line = std::string(stamp) + " kwd-export";
    for (const std::string& a : args)
        line += a.find_first_of(" \"'") == std::string::npos ? " " + a : " \"" + a + "\"";
    return line;
}

int netcdfCommand(const std::vector<std::string>& args, std::ostream& out) {
    const tArguments a = parseArguments(args, {"--epsg"});
    if (a.positional.size() != 2) usageError("the netcdf command takes a data set and an output file");
    const std::unique_ptr<tMapCrs> crs = crsOf(a);
    const tNetCDFExportResult r = exportDataSetToNetCDF(a.positional[0], a.positional[1], crs.get());
    out << "Wrote \"" << a.positional[1] << "\": " << r.variables.size()
        << (r.variables.size() == 1 ? " variable on " : " variables on ") << r.nI
        << " x " << r.nJ << " x " << r.nK << " cells" << std::endl;
    return 0;
}

int footprintsCommand(const std::vector<std::string>& args, std::ostream& out) {
    const tArguments a = parseArguments(args, {"--epsg"});
    if (a.positional.size() != 2)
        usageError("the footprints command takes a trajectory folder and an output file");
    const std::unique_ptr<tMapCrs> crs = crsOf(a);
    const tTrajectoryFolder folder(a.positional[0]);
    const tFootprintsExportResult r =
        exportFootprintsToNetCDF(folder, a.positional[1], crs.get(), historyLine(args));
    out << "Wrote \"" << a.positional[1] << "\": the normalised footprints of " << r.times
        << (r.times == 1 ? " measurement time on " : " measurement times on ") << r.nI << " x "
        << r.nJ << " columns" << std::endl;
    return 0;
}

int geotiffCommand(const std::vector<std::string>& args, std::ostream& out) {
    const tArguments a = parseArguments(args, {"--time", "--mean", "--epsg"});
    if (a.positional.size() != 2)
        usageError("the geotiff command takes a trajectory folder and an output file");
    const std::unique_ptr<tMapCrs> crs = crsOf(a);
    const tTrajectoryFolder folder(a.positional[0]);
    const tDensityData data = a.mean ? folder.loadMeanDensity()
                                     : folder.loadDensities(folder.selectMeasurement(a.time));
    const std::string& path = a.positional[1];
    refuseOutputOverInputs(path, {data.dataSetPath, data.dataFilePath}, {folder.folder()});
    tGeoTiffContent tiff;
    tiff.grid = data.grid;
    tiff.values = data.flux;
    tiff.placement = readModelPlacement(data.dataSetPath);
    tiff.description = a.mean ? "flux footprint climatology" : "flux footprint density";
    tiff.units = "m-2";
    const std::string subject = mapSubject(folder, data);
    tiff.metadata = {{"PROJECT", folder.project()},
                     {a.mean ? "MEASUREMENT_TIMES" : "MEASUREMENT_TIME", subject},
                     {"QUANTITY", tiff.description + " (m-2)"}};
    writeGeoTiff(tiff, crs.get(), path);
    out << "Wrote \"" << path << "\": " << tiff.description << " of " << subject << std::endl;
    return 0;
}

// The mean wind at the detector of the data set at `time`: the simulation's
// atmosphere data set of that time, else the grid's data set when it is of
// that time (an output data set holds the wind of its moment).
std::optional<std::pair<double, double>> windAt(const tTrajectoryFolder& folder, kwd::tDateTime time,
                                                const std::string& gridDataSet,
                                                const tDetectorBox& detector) {
    std::string dataSet = folder.atmosphereDataSetAt(time);
    if (dataSet.empty()) {
        TZDXFile d;
        kwd::tDateTime t = 0;
        if (d.ReadFile(gridDataSet) == 0 && kwd::tryParseModelDateTime(d.simdate, d.simtime, t) &&
            kwd::dateTimeToMilliseconds(t) == kwd::dateTimeToMilliseconds(time))
            dataSet = gridDataSet;
    }
    if (dataSet.empty()) return std::nullopt;
    return meanWindInBox(dataSet, detector);
}

int mapCommand(const std::vector<std::string>& args, std::ostream& out) {
    const tArguments a = parseArguments(args, {"--time", "--mean", "--levels", "--epsg"});
    if (a.positional.size() != 2) usageError("the map command takes a trajectory folder and an output file");
    const std::string& path = a.positional[1];
    mapFormatOf(path);  // an unknown format is refused before anything is read
    const std::unique_ptr<tMapCrs> crs = crsOf(a);
    const tTrajectoryFolder folder(a.positional[0]);
    const tRunLog log = readRunLog(folder.logPath());
    tFootprintMap map;
    std::string subject;
    std::vector<std::string> dataSet;  // may lie outside the trajectory folder
    // The wind of each time shown (the climatology: of every measurement time).
    std::vector<std::pair<double, double>> winds;
    if (folder.hasDensities() || a.mean) {
        const tDensityData data =
            a.mean ? folder.loadMeanDensity() : folder.loadDensities(folder.selectMeasurement(a.time));
        map = densityMapOf(folder, data, log);
        subject = mapSubject(folder, data);
        dataSet = {data.dataSetPath, data.dataFilePath};
        const std::vector<tOutputTime> shown =
            a.mean ? folder.measurements() : std::vector<tOutputTime>{data.measurement};
        for (const tOutputTime& t : shown)
            if (const auto w = windAt(folder, t.time, data.dataSetPath, log.detector)) winds.push_back(*w);
        if (winds.size() != shown.size()) winds.clear();
    } else {
        const tOutputData data = folder.load(folder.select(a.time));
        map = footprintMapOf(folder, data, log);
        subject = export_text::fullDateTimeText(data.output.time);
        dataSet = {data.dataSetPath, data.dataFilePath};
        if (const auto w = windAt(folder, data.output.time, data.dataSetPath, log.detector))
            winds.push_back(*w);
    }
    if (!winds.empty()) {
        tMapWind w;
        for (const auto& [u, v] : winds) {
            w.u += u / double(winds.size());
            w.v += v / double(winds.size());
        }
        map.wind = w;
    }
    if (a.levels) map.levels = *a.levels;
    const tModelPlacement placement = readModelPlacement(dataSet[0]);
    if (crs || placement.rotated() || placement.georefX != 0.0 || placement.georefY != 0.0)
        map.north = placement.northInModel();
    refuseOutputOverInputs(path, dataSet, {folder.folder()});
    renderFootprintMap(map, path);
    out << "Wrote \"" << path << "\": footprint map of " << subject << std::endl;
    return 0;
}

int summaryCommand(const std::vector<std::string>& args, std::ostream& out) {
    if (args.size() != 2) usageError("the summary command takes a trajectory folder");
    const tTrajectoryFolder folder(args[1]);
    for (const std::string& line : summaryLines(folder)) out << line << '\n';
    out.flush();
    return 0;
}

// Peak cell (with its value when `withValue`), its distance and the areas of
// the regions of `fractions`; -999 for each when the footprint is empty.
std::string footprintFields(const std::vector<double>& values, const tPlanGrid& grid,
                            const tDetectorBox& detector, tFootprintValues kind,
                            std::span<const double> fractions, bool withValue) {
    const std::optional<tFootprintPeak> peak = footprintPeak(values, grid, detector);
    if (!peak) return missingFields(3 + (withValue ? 1 : 0) + fractions.size());
    std::string s = std::to_string(peak->i) + ";" + std::to_string(peak->j);
    if (withValue) s += ";" + export_text::floatNumber(peak->value);
    s += ";" + fixedNumber(peak->distance, 2);
    for (const tFootprintLevel& l : footprintLevels(values, grid, fractions, kind))
        s += ";" + fixedNumber(l.area, 2);
    return s;
}

std::string detectorLine(const tDetectorBox& d) {
    using export_text::floatNumber;
    return "Detector: x " + floatNumber(d.xMin) + " to " + floatNumber(d.xMax) + " m, y " +
           floatNumber(d.yMin) + " to " + floatNumber(d.yMax) + " m, z " + floatNumber(d.zMin) +
           " to " + floatNumber(d.zMax) + " m";
}

// The table of a folder without normalised footprints: one line per output time.
std::vector<std::string> outputTable(const tTrajectoryFolder& folder, const tRunLog& log) {
    std::vector<std::string> lines = {
        "Date;Time;ParticlesReleased;Hits;FlxPeakI;FlxPeakJ;FlxPeakDistance[m];FlxSourceArea80[m2];"
        "ConPeakI;ConPeakJ;ConPeakDistance[m];ConSourceArea80[m2]"};
    const double fraction[1] = {0.8};
    for (const tOutputTime& o : folder.outputs()) {
        const tOutputData data = folder.load(o);
        double hits = 0;
        for (const double v : data.sourceStrength) hits += v;
        const std::optional<int64_t> released = log.releasedAt(o.time);
        auto fields = [&](const std::vector<double>& values) {
            return footprintFields(values, data.grid, log.detector, tFootprintValues::cellTotals,
                                   fraction, false);
        };
        lines.push_back(kwd::regional::shortDate(o.time) + ";" + kwd::regional::longTime(o.time) +
                        ";" + (released ? std::to_string(*released) : std::string("-999")) + ";" +
                        fixedNumber(hits, 0) + ";" + fields(data.flux) + ";" +
                        fields(data.concentration));
    }
    return lines;
}

std::string sharesText(const std::vector<double>& shares) {
    std::string s;
    for (const double v : shares) s += ";" + fixedNumber(v, 4);
    return s;
}

// The table of the normalised footprints: one line per measurement time and
// the line "Mean" of the climatology.
std::vector<std::string> densityTable(const tTrajectoryFolder& folder, const tRunLog& log) {
    const std::vector<tFootprintRow> table = readFootprintTable(folder.footprintTablePath());
    const tSurfaceShares surfaces = readSurfaceTable(folder.surfaceTablePath());
    std::string header =
        "Date;Time;Released;Hits;NegativeTakeOff;FluxShare;FlxPeakI;FlxPeakJ;FlxPeak[m^-2];"
        "FlxPeakDistance[m];FlxArea50[m2];FlxArea80[m2];FlxArea90[m2];ConPeakI;ConPeakJ;"
        "ConPeak[s m^-3];ConPeakDistance[m];ConArea50[m2];ConArea80[m2];ConArea90[m2]";
    for (const int64_t code : surfaces.codes) header += ";Surface" + std::to_string(code);
    std::vector<std::string> lines = {header};

    const std::span<const double> fractions(kMapContourFractions);
    auto fields = [&](const tDensityData& data, const std::vector<double>& values) {
        return footprintFields(values, data.grid, log.detector, tFootprintValues::densities,
                               fractions, true);
    };
    auto noLine = [](const std::string& what, const std::string& path, kwd::tDateTime t) {
        return kwd::InputError(what + " \"" + path + "\" has no line for " +
                               export_text::fullDateTimeText(t));
    };
    tFootprintRow total;
    for (const tOutputTime& m : folder.measurements()) {
        const int64_t ms = kwd::dateTimeToMilliseconds(m.time);
        auto sameTime = [&](kwd::tDateTime t) { return kwd::dateTimeToMilliseconds(t) == ms; };
        const auto row = std::find_if(table.begin(), table.end(),
                                      [&](const tFootprintRow& r) { return sameTime(r.time); });
        if (row == table.end()) throw noLine("footprint table", folder.footprintTablePath(), m.time);
        const auto shares = std::find_if(surfaces.rows.begin(), surfaces.rows.end(),
                                         [&](const auto& r) { return sameTime(r.first); });
        if (shares == surfaces.rows.end())
            throw noLine("surface table", folder.surfaceTablePath(), m.time);
        const tDensityData data = folder.loadDensities(m);
        total.released += row->released;
        total.hits += row->hits;
        total.negativeTakeOff += row->negativeTakeOff;
        lines.push_back(kwd::regional::shortDate(m.time) + ";" + kwd::regional::longTime(m.time) +
                        ";" + std::to_string(row->released) + ";" + std::to_string(row->hits) +
                        ";" + std::to_string(row->negativeTakeOff) + ";" +
                        fixedNumber(row->fluxShare, 4) + ";" + fields(data, data.flux) + ";" +
                        fields(data, data.concentration) + sharesText(shares->second));
    }
    // The climatology has no concentration footprint.
    const tDensityData mean = folder.loadMeanDensity();
    lines.push_back("Mean;;" + std::to_string(total.released) + ";" + std::to_string(total.hits) +
                    ";" + std::to_string(total.negativeTakeOff) + ";" +
                    fixedNumber(footprintIntegral(mean.flux, mean.grid), 4) + ";" +
                    fields(mean, mean.flux) + ";" + missingFields(7) + sharesText(surfaces.mean));
    return lines;
}

}  // namespace

tFootprintMap footprintMapOf(const tTrajectoryFolder& aFolder, const tOutputData& aData,
                             const tRunLog& aLog) {
    tFootprintMap map;
    map.title = aFolder.project() + ", " + export_text::fullDateTimeText(aData.output.time);
    map.grid = aData.grid;
    map.panels = {
        {"Flux footprint (vertical sum)", "flux footprint (vertical sum)", aData.flux,
         tFootprintValues::cellTotals},
        {"Concentration footprint (vertical sum)", "concentration footprint (vertical sum)",
         aData.concentration, tFootprintValues::cellTotals},
    };
    map.obstacle = aData.obstacle;
    map.groundCode = aData.groundCode;
    map.detector = aLog.detector;
    return map;
}

tFootprintMap densityMapOf(const tTrajectoryFolder& aFolder, const tDensityData& aData,
                           const tRunLog& aLog) {
    tFootprintMap map;
    map.grid = aData.grid;
    if (aData.mean) {
        map.title = aFolder.project() + ", " + mapSubject(aFolder, aData);
        map.panels = {{"Flux footprint climatology", "flux footprint (m^-2)", aData.flux,
                       tFootprintValues::densities}};
    } else {
        map.title = aFolder.project() + ", measurement time " + mapSubject(aFolder, aData);
        map.panels = {
            {"Flux footprint", "flux footprint (m^-2)", aData.flux, tFootprintValues::densities},
            {"Concentration footprint", "concentration footprint (s m^-3)", aData.concentration,
             tFootprintValues::densities},
        };
    }
    map.obstacle = aData.obstacle;
    map.groundCode = aData.groundCode;
    map.detector = aLog.detector;
    return map;
}

std::vector<std::string> summaryLines(const tTrajectoryFolder& aFolder) {
    const tRunLog log = readRunLog(aFolder.logPath());
    std::vector<std::string> lines = {"Project: " + aFolder.project(), detectorLine(log.detector)};
    const std::vector<std::string> table =
        aFolder.hasDensities() ? densityTable(aFolder, log) : outputTable(aFolder, log);
    lines.insert(lines.end(), table.begin(), table.end());
    return lines;
}

int runKwdExport(const std::vector<std::string>& aArgs, std::ostream& aOut) {
    try {
        if (aArgs.empty()) usageError("no command given");
        const std::string& command = aArgs[0];
        if (command == "netcdf") return netcdfCommand(aArgs, aOut);
        if (command == "footprints") return footprintsCommand(aArgs, aOut);
        if (command == "geotiff") return geotiffCommand(aArgs, aOut);
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

}  // namespace kwd::exporter

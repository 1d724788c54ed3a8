#include "export/u_TrajectoryFolder.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "dataset/u_ZDTFile.h"
#include "dataset/u_ZDXFile.h"
#include "export/u_ExportText.h"
#include "platform/FileIO.h"
#include "platform/KwdError.h"
#include "platform/RegionalSettings.h"

namespace kwd::exporter {

using kwd::dataset::ReadZDTBlock;
using kwd::dataset::TZDXFile;

namespace {

const char* const kGridPrefixes[] = {"FlxFootprintIJ_", "ConFootprintIJ_", "SourceStrengthIJ_"};
const char* const kFluxDensityPrefix = "FluxFootprintDensityIJ_";
const char* const kConDensityPrefix = "ConFootprintDensityIJ_";
const char* const kHitsPrefix = "HitsIJ_";
const char* const kMeanPrefix = "FluxFootprintDensityIJ_Mean_";
const char* const kFootprintHeader = "Date;Time;Released;Hits;FluxShare;NegativeTakeOff";

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool endsWithNoCase(const std::string& s, const std::string& suffix) {
    if (s.size() < suffix.size()) return false;
    for (size_t n = 0; n < suffix.size(); ++n) {
        const char a = s[s.size() - suffix.size() + n], b = suffix[n];
        if (std::tolower(static_cast<unsigned char>(a)) != std::tolower(static_cast<unsigned char>(b)))
            return false;
    }
    return true;
}

std::string fileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// The lines of a text file without their CR LF; a last empty line is dropped.
std::vector<std::string> textLines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

bool parseDouble(const std::string& text, double& out) {
    if (text.empty()) return false;
    const char* b = text.data();
    const char* e = b + text.size();
    if (*b == '+') ++b;
    const auto res = std::from_chars(b, e, out, std::chars_format::general);
    return res.ec == std::errc() && res.ptr == e;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string timeList(const std::vector<tOutputTime>& outputs) {
    std::string s;
    for (const tOutputTime& o : outputs) {
        if (!s.empty()) s += ", ";
        s += export_text::fullDateTimeText(o.time);
    }
    return s;
}

std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t end = std::min(line.find(';', start), line.size());
        fields.push_back(line.substr(start, end - start));
        if (end == line.size()) return fields;
        start = end + 1;
    }
}

// A line of a table file, for the messages about its fields.
struct tTableLine {
    std::string where;  // "footprint table \"<path>\", line <n>"
    std::vector<std::string> fields;

    [[noreturn]] void fail(const std::string& what) const { throw kwd::InputError(where + ": " + what); }
    [[noreturn]] void failField(size_t n, const std::string& name, const std::string& what) const {
        throw kwd::InputError(where + ", field " + std::to_string(n + 1) + " (" + name + "): \"" +
                              fields[n] + "\" " + what);
    }
    void expectFields(size_t count) const {
        if (fields.size() != count)
            fail(std::to_string(fields.size()) + " fields, " + std::to_string(count) + " expected");
    }
    int64_t count(size_t n, const std::string& name) const {
        int64_t v = 0;
        const std::string& f = fields[n];
        const auto res = std::from_chars(f.data(), f.data() + f.size(), v);
        if (f.empty() || res.ec != std::errc() || res.ptr != f.data() + f.size() || v < 0)
            failField(n, name, "is not a count");
        return v;
    }
    double number(size_t n, const std::string& name) const {
        double v = 0;
        if (!parseDouble(fields[n], v) || !std::isfinite(v)) failField(n, name, "is not a number");
        return v;
    }
    // Fields 1 and 2, "dd.mm.yyyy" and "hh:mm:ss"; the time must follow `previous`.
    kwd::tDateTime time(std::optional<kwd::tDateTime> previous) const {
        kwd::tDateTime t = 0;
        if (!kwd::tryParseModelDateTime(fields[0], "00:00:00", t)) failField(0, "Date", "is not a date");
        if (!kwd::tryParseModelDateTime(fields[0], fields[1], t)) failField(1, "Time", "is not a time");
        if (previous && kwd::dateTimeToMilliseconds(t) <= kwd::dateTimeToMilliseconds(*previous))
            fail(export_text::fullDateTimeText(t) + " does not follow the time of the line before");
        return t;
    }
};

// The lines of a table file; `what` names it in messages ("footprint table").
std::vector<std::string> tableLines(const std::string& what, const std::string& path) {
    if (!kwd::fileExists(path)) throw kwd::InputError(what + " \"" + path + "\" not found");
    std::vector<std::string> lines = textLines(kwd::readWholeFile(path));
    if (lines.empty()) throw kwd::InputError(what + " \"" + path + "\" is empty");
    return lines;
}

tTableLine tableLine(const std::string& what, const std::string& path,
                     const std::vector<std::string>& lines, size_t n) {
    return {what + " \"" + path + "\", line " + std::to_string(n + 1), splitFields(lines[n])};
}

// The descriptor at `path` when it describes a grid of nI x nJ columns whose
// data file holds at least the object codes.
bool fitsGrid(const std::string& path, int32_t nI, int32_t nJ) {
    TZDXFile d;
    try {
        if (d.ReadFile(path) != 0) return false;
    } catch (const kwd::KwdError&) {
        return false;
    }
    return d.GridsI == nI && d.GridsJ == nJ && d.GridsK > 0 && d.numberVars >= 1 &&
           d.DataPerVariable == 1 && kwd::fileExists(d.DataFilename);
}

std::vector<std::string> descriptorsIn(const std::string& folder) {
    std::vector<std::string> found;
    if (!kwd::folderExists(folder)) return found;
    for (const std::string& p : kwd::listFiles(folder))
        if (endsWithNoCase(p, ".ZDX")) found.push_back(p);
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

tGridFile readGridFile(const std::string& path) {
    if (!kwd::fileExists(path)) throw kwd::InputError("grid file \"" + path + "\" not found");
    const std::vector<std::string> lines = textLines(kwd::readWholeFile(path));
    if (lines.empty()) throw kwd::InputError("grid file \"" + path + "\" is empty");
    tGridFile g;
    g.nJ = int32_t(lines.size());
    for (size_t j = 0; j < lines.size(); ++j) {
        const std::string& line = lines[j];
        const std::string where = "grid file \"" + path + "\", line " + std::to_string(j + 1);
        const std::vector<std::string> texts = splitFields(line);
        const int32_t fields = int32_t(texts.size());
        for (size_t n = 0; n < texts.size(); ++n) {
            double v = 0;
            if (!parseDouble(texts[n], v))
                throw kwd::InputError(where + ", field " + std::to_string(n + 1) + ": \"" +
                                      texts[n] + "\" is not a number");
            if (!std::isfinite(v))
                throw kwd::InputError(where + ", field " + std::to_string(n + 1) + ": \"" +
                                      texts[n] + "\" is not a finite number");
            g.values.push_back(v);
        }
        if (j == 0) g.nI = fields;
        if (fields != g.nI)
            throw kwd::InputError(where + ": " + std::to_string(fields) + " values, line 1 has " +
                                  std::to_string(g.nI));
    }
    return g;
}

bool parseGridFileName(const std::string& rest, kwd::tDateTime& time, std::string& project) {
    if (rest.size() < 14 || rest.compare(rest.size() - 4, 4, ".csv") != 0) return false;
    const std::string stem = rest.substr(0, rest.size() - 4);
    if (!kwd::tryParseModelDateTime(stem.substr(0, 10), "00:00:00", time)) return false;
    // " hh.mm.ss" after the date, unless the output was at midnight.
    const bool hasTime = stem.size() >= 19 && stem[10] == ' ' && isDigit(stem[11]) &&
                         isDigit(stem[12]) && stem[13] == '.' && isDigit(stem[14]) &&
                         isDigit(stem[15]) && stem[16] == '.' && isDigit(stem[17]) &&
                         isDigit(stem[18]);
    if (hasTime) {
        const std::string t =
            stem.substr(11, 2) + ":" + stem.substr(14, 2) + ":" + stem.substr(17, 2);
        if (!kwd::tryParseModelDateTime(stem.substr(0, 10), t, time)) return false;
        project = stem.substr(19);
    } else {
        project = stem.substr(10);
    }
    return true;
}

std::optional<int64_t> tRunLog::releasedAt(kwd::tDateTime time) const {
    const int64_t ms = kwd::dateTimeToMilliseconds(time);
    std::optional<int64_t> found;
    for (const auto& [t, n] : released)
        if (kwd::dateTimeToMilliseconds(t) == ms) found = n;
    return found;
}

tRunLog readRunLog(const std::string& path) {
    if (!kwd::fileExists(path))
        throw kwd::InputError("run log \"" + path + "\" not found (the detector box is read from it)");
    const std::vector<std::string> lines = textLines(kwd::readWholeFile(path));
    tRunLog log;
    // "Detector xMin: 30 Detector xMax: 34 ... Detector zMax: 3"
    const char* const keys[6] = {"xMin:", "xMax:", "yMin:", "yMax:", "zMin:", "zMax:"};
    double* const slots[6] = {&log.detector.xMin, &log.detector.xMax, &log.detector.yMin,
                              &log.detector.yMax, &log.detector.zMin, &log.detector.zMax};
    std::istringstream head(lines.empty() ? std::string() : lines[0]);
    for (int n = 0; n < 6; ++n) {
        std::string word, key, value;
        head >> word >> key >> value;
        double v = 0;
        if (word != "Detector" || key != keys[n] || !parseDouble(value, v) || !std::isfinite(v))
            throw kwd::InputError("run log \"" + path +
                                  "\": the first line is not the detector line \"Detector xMin: "
                                  "... Detector zMax: ...\"");
        *slots[n] = v;
    }
    // Output lines "dd.mm.yyyy;hh:mm:ss;TotalParticles".
    for (size_t n = 1; n < lines.size(); ++n) {
        const std::string& line = lines[n];
        const size_t a = line.find(';');
        const size_t b = a == std::string::npos ? a : line.find(';', a + 1);
        if (b == std::string::npos) continue;
        kwd::tDateTime t = 0;
        if (!kwd::tryParseModelDateTime(line.substr(0, a), line.substr(a + 1, b - a - 1), t))
            continue;
        int64_t count = 0;
        const std::string c = line.substr(b + 1);
        const auto res = std::from_chars(c.data(), c.data() + c.size(), count);
        if (res.ec != std::errc() || res.ptr != c.data() + c.size()) continue;
        log.released.emplace_back(t, count);
    }
    return log;
}

tTrajectoryFolder::tTrajectoryFolder(std::string folder) : fFolder(std::move(folder)) {
    while (fFolder.size() > 1 && fFolder.back() == '/') fFolder.pop_back();
    if (!kwd::folderExists(fFolder))
        throw kwd::InputError("trajectory folder \"" + fFolder + "\" not found");
    std::map<std::pair<int64_t, std::string>, tOutputTime> found;
    std::set<std::string> projects;
    std::map<int64_t, tOutputTime> measured;
    for (const std::string& path : kwd::listFiles(fFolder)) {
        const std::string name = fileName(path);
        for (const char* prefix : kGridPrefixes) {
            if (!startsWith(name, prefix)) continue;
            tOutputTime o;
            if (!parseGridFileName(name.substr(std::string(prefix).size()), o.time, o.project))
                continue;
            projects.insert(o.project);
            found.emplace(std::make_pair(kwd::dateTimeToMilliseconds(o.time), o.project), o);
        }
        // The climatology's name holds no time and does not read as one.
        tOutputTime m;
        if (startsWith(name, kFluxDensityPrefix) && !startsWith(name, kMeanPrefix) &&
            parseGridFileName(name.substr(std::string(kFluxDensityPrefix).size()), m.time, m.project)) {
            projects.insert(m.project);
            measured.emplace(kwd::dateTimeToMilliseconds(m.time), m);
        }
    }
    if (found.empty() && measured.empty())
        throw kwd::InputError("trajectory folder \"" + fFolder +
                              "\" holds no footprint grid files (FlxFootprintIJ_...csv)");
    if (projects.size() > 1) {
        std::string list;
        for (const std::string& p : projects) list += (list.empty() ? "\"" : ", \"") + p + "\"";
        throw kwd::InputError("trajectory folder \"" + fFolder +
                              "\" holds the grid files of several projects (" + list + ")");
    }
    fProject = *projects.begin();
    for (const auto& [key, o] : found) fOutputs.push_back(o);
    for (const auto& [key, m] : measured) fMeasurements.push_back(m);
}

namespace {

// `kind` names the times in messages: "output", "measurement time".
const tOutputTime& selectTime(const std::vector<tOutputTime>& times, std::optional<kwd::tDateTime> time,
                              const std::string& folder, const std::string& kind) {
    if (times.empty())
        throw kwd::InputError("trajectory folder \"" + folder + "\" has no " + kind + "s");
    if (!time) return times.back();
    const int64_t ms = kwd::dateTimeToMilliseconds(*time);
    for (const tOutputTime& o : times)
        if (kwd::dateTimeToMilliseconds(o.time) == ms) return o;
    throw kwd::InputError("trajectory folder \"" + folder + "\" has no " + kind + " at " +
                          export_text::fullDateTimeText(*time) + "; its " + kind + "s are at " +
                          timeList(times));
}

}  // namespace

const tOutputTime& tTrajectoryFolder::select(std::optional<kwd::tDateTime> time) const {
    return selectTime(fOutputs, time, fFolder, "output");
}

const tOutputTime& tTrajectoryFolder::selectMeasurement(std::optional<kwd::tDateTime> time) const {
    return selectTime(fMeasurements, time, fFolder, "measurement time");
}

std::string tTrajectoryFolder::gridFilePath(const std::string& prefix, const tOutputTime& output) const {
    return fFolder + "/" + prefix + kwd::regional::fileNameTimeText(output.time) + output.project +
           ".csv";
}

std::string tTrajectoryFolder::logPath() const { return fFolder + "/logFile.log"; }

std::string tTrajectoryFolder::meanDensityPath() const {
    return fFolder + "/" + kMeanPrefix + fProject + ".csv";
}

std::string tTrajectoryFolder::footprintTablePath() const {
    return fFolder + "/Footprints_" + fProject + ".csv";
}

std::string tTrajectoryFolder::surfaceTablePath() const {
    return fFolder + "/FootprintSurfaces_" + fProject + ".csv";
}

std::string tTrajectoryFolder::findDataSet(const tOutputTime& output, int32_t nI, int32_t nJ) const {
    const std::string stem = output.project + "_" + kwd::regional::fileNameTimeText(output.time) + ".ZDX";
    std::vector<std::string> candidates = {fFolder + "/VirtPart_" + stem,
                                           fFolder + "/TMP_VirtPart_" + stem};
    for (const std::string& p : descriptorsIn(fFolder)) candidates.push_back(p);
    const std::string atmosphere =
        (std::filesystem::path(fFolder) / ".." / "atmosphere").lexically_normal().string();
    for (const std::string& p : descriptorsIn(atmosphere)) candidates.push_back(p);
    for (const std::string& p : candidates)
        if (kwd::fileExists(p) && fitsGrid(p, nI, nJ)) return p;
    throw kwd::InputError("no data set with the cell sizes of the " + std::to_string(nI) + " x " +
                          std::to_string(nJ) + " grid found in \"" + fFolder + "\" or \"" +
                          atmosphere + "\"");
}

namespace {

// Raises the error for grid files of one time that differ in size.
void expectSameSize(const std::vector<const tGridFile*>& grids, const std::string& what) {
    const tGridFile& first = *grids.front();
    for (const tGridFile* g : grids)
        if (g->nI != first.nI || g->nJ != first.nJ)
            throw kwd::InputError(what + " differ in size (" + std::to_string(first.nI) + " x " +
                                  std::to_string(first.nJ) + " and " + std::to_string(g->nI) +
                                  " x " + std::to_string(g->nJ) + ")");
}

}  // namespace

void tTrajectoryFolder::loadGround(const tOutputTime& time, int32_t nI, int32_t nJ,
                                   tGroundPlan& plan) const {
    plan.dataSetPath = findDataSet(time, nI, nJ);
    TZDXFile d;
    d.ReadFile(plan.dataSetPath);
    plan.dataFilePath = d.DataFilename;
    plan.grid = tPlanGrid::fromDescriptor(d, "data set \"" + plan.dataSetPath + "\"");
    // Object codes: block 0; its first layer is k = 0, the ground.
    const std::vector<float> objects = ReadZDTBlock(d.DataFilename, 0, d.GridsI, d.GridsJ, d.GridsK);
    plan.obstacle.resize(plan.grid.cellCount());
    plan.groundCode.resize(plan.grid.cellCount());
    for (size_t n = 0; n < plan.obstacle.size(); ++n) {
        plan.obstacle[n] = objects[n] == 1.0f ? 1 : 0;
        // Codes are small integers stored as floats; anything else counts as free air.
        const float c = objects[n];
        plan.groundCode[n] = std::isfinite(c) && std::abs(c) < 1e6f ? int32_t(std::lround(c)) : 0;
    }
}

tOutputData tTrajectoryFolder::load(const tOutputTime& output) const {
    tOutputData data;
    data.output = output;
    const tGridFile flux = readGridFile(gridFilePath("FlxFootprintIJ_", output));
    const tGridFile con = readGridFile(gridFilePath("ConFootprintIJ_", output));
    const tGridFile source = readGridFile(gridFilePath("SourceStrengthIJ_", output));
    expectSameSize({&flux, &con, &source}, "the grid files of " +
                                               export_text::fullDateTimeText(output.time) +
                                               " in \"" + fFolder + "\"");
    data.flux = flux.values;
    data.concentration = con.values;
    data.sourceStrength = source.values;
    loadGround(output, flux.nI, flux.nJ, data);
    return data;
}

tDensityData tTrajectoryFolder::loadDensities(const tOutputTime& measurement) const {
    tDensityData data;
    data.measurement = measurement;
    const tGridFile flux = readGridFile(gridFilePath(kFluxDensityPrefix, measurement));
    const tGridFile con = readGridFile(gridFilePath(kConDensityPrefix, measurement));
    const tGridFile hits = readGridFile(gridFilePath(kHitsPrefix, measurement));
    expectSameSize({&flux, &con, &hits}, "the normalised footprint files of " +
                                             export_text::fullDateTimeText(measurement.time) +
                                             " in \"" + fFolder + "\"");
    data.flux = flux.values;
    data.concentration = con.values;
    data.hits = hits.values;
    loadGround(measurement, flux.nI, flux.nJ, data);
    return data;
}

tDensityData tTrajectoryFolder::loadMeanDensity() const {
    if (!kwd::fileExists(meanDensityPath()))
        throw kwd::InputError("trajectory folder \"" + fFolder + "\" holds no climatology \"" +
                              fileName(meanDensityPath()) + "\"");
    tDensityData data;
    data.mean = true;
    if (!fMeasurements.empty()) data.measurement = fMeasurements.back();
    else data.measurement.project = fProject;
    const tGridFile flux = readGridFile(meanDensityPath());
    data.flux = flux.values;
    loadGround(data.measurement, flux.nI, flux.nJ, data);
    return data;
}

std::string tTrajectoryFolder::atmosphereDataSetAt(kwd::tDateTime time) const {
    const std::string atmosphere =
        (std::filesystem::path(fFolder) / ".." / "atmosphere").lexically_normal().string();
    const int64_t ms = kwd::dateTimeToMilliseconds(time);
    for (const std::string& p : descriptorsIn(atmosphere)) {
        TZDXFile d;
        kwd::tDateTime t = 0;
        try {
            if (d.ReadFile(p) != 0) continue;
        } catch (const kwd::KwdError&) {
            continue;
        }
        if (kwd::tryParseModelDateTime(d.simdate, d.simtime, t) && kwd::dateTimeToMilliseconds(t) == ms)
            return p;
    }
    return "";
}

std::optional<std::pair<double, double>> meanWindInBox(const std::string& zdxPath,
                                                       const tDetectorBox& box) {
    TZDXFile d;
    if (d.ReadFile(zdxPath) != 0 || d.numberVars < 3 || d.DataPerVariable != 1) return std::nullopt;
    const std::string where = "data set \"" + zdxPath + "\"";
    const tPlanGrid g = tPlanGrid::fromDescriptor(d, where);
    const std::vector<double> zFace = cellFaces(d.sizedz, d.GridsK, where, "z");
    auto centre = [](const std::vector<double>& f, size_t n) { return 0.5 * (f[n] + f[n + 1]); };
    auto inside = [](double v, double lo, double hi) { return v >= lo && v <= hi; };
    // The cell holding a position along an axis; -1 outside.
    auto cellOf = [](const std::vector<double>& f, double v) {
        for (size_t n = 0; n + 1 < f.size(); ++n)
            if (v >= f[n] && v < f[n + 1]) return int32_t(n);
        return int32_t(-1);
    };
    std::vector<std::array<int32_t, 3>> cells;
    for (int32_t k = 0; k < d.GridsK; ++k)
        for (int32_t j = 0; j < d.GridsJ; ++j)
            for (int32_t i = 0; i < d.GridsI; ++i)
                if (inside(centre(g.xFace, size_t(i)), box.xMin, box.xMax) &&
                    inside(centre(g.yFace, size_t(j)), box.yMin, box.yMax) &&
                    inside(centre(zFace, size_t(k)), box.zMin, box.zMax))
                    cells.push_back({i, j, k});
    if (cells.empty()) {
        const int32_t i = cellOf(g.xFace, box.centreX()), j = cellOf(g.yFace, box.centreY());
        const int32_t k = cellOf(zFace, 0.5 * (box.zMin + box.zMax));
        if (i < 0 || j < 0 || k < 0) return std::nullopt;
        cells.push_back({i, j, k});
    }
    const std::vector<float> u = ReadZDTBlock(d.DataFilename, 1, d.GridsI, d.GridsJ, d.GridsK);
    const std::vector<float> v = ReadZDTBlock(d.DataFilename, 2, d.GridsI, d.GridsJ, d.GridsK);
    double su = 0, sv = 0;
    for (const auto& [i, j, k] : cells) {
        const size_t n = size_t(i) + size_t(d.GridsI) * (size_t(j) + size_t(d.GridsJ) * size_t(k));
        su += u[n];
        sv += v[n];
    }
    if (!std::isfinite(su) || !std::isfinite(sv)) return std::nullopt;
    return std::make_pair(su / double(cells.size()), sv / double(cells.size()));
}

std::vector<tFootprintRow> readFootprintTable(const std::string& path) {
    const std::string what = "footprint table";
    const std::vector<std::string> lines = tableLines(what, path);
    if (lines[0] != kFootprintHeader)
        throw kwd::InputError(what + " \"" + path + "\", line 1: the header is not \"" +
                              kFootprintHeader + "\"");
    std::vector<tFootprintRow> rows;
    for (size_t n = 1; n < lines.size(); ++n) {
        const tTableLine line = tableLine(what, path, lines, n);
        line.expectFields(6);
        tFootprintRow r;
        r.time = line.time(rows.empty() ? std::nullopt : std::optional(rows.back().time));
        r.released = line.count(2, "Released");
        r.hits = line.count(3, "Hits");
        r.fluxShare = line.number(4, "FluxShare");
        r.negativeTakeOff = line.count(5, "NegativeTakeOff");
        rows.push_back(r);
    }
    return rows;
}

tSurfaceShares readSurfaceTable(const std::string& path) {
    const std::string what = "surface table";
    const std::vector<std::string> lines = tableLines(what, path);
    const tTableLine header = tableLine(what, path, lines, 0);
    if (header.fields.size() < 2 || header.fields[0] != "Date" || header.fields[1] != "Time")
        header.fail("the header does not start with \"Date;Time\"");
    tSurfaceShares shares;
    for (size_t n = 2; n < header.fields.size(); ++n) {
        shares.codes.push_back(header.count(n, "surface code"));
        if (shares.codes.size() > 1 && shares.codes.back() <= shares.codes[shares.codes.size() - 2])
            header.failField(n, "surface code", "does not follow the code before in ascending order");
    }
    const size_t columns = header.fields.size();
    auto sharesOf = [&](const tTableLine& line) {
        std::vector<double> v;
        for (size_t n = 2; n < columns; ++n) v.push_back(line.number(n, header.fields[n]));
        return v;
    };
    bool meanSeen = false;
    for (size_t n = 1; n < lines.size(); ++n) {
        const tTableLine line = tableLine(what, path, lines, n);
        line.expectFields(columns);
        if (meanSeen) line.fail("a line after the \"Mean\" line");
        if (line.fields[0] == "Mean") {
            if (!line.fields[1].empty()) line.failField(1, "Time", "is not empty in the Mean line");
            shares.mean = sharesOf(line);
            meanSeen = true;
            continue;
        }
        const kwd::tDateTime t =
            line.time(shares.rows.empty() ? std::nullopt : std::optional(shares.rows.back().first));
        shares.rows.emplace_back(t, sharesOf(line));
    }
    if (!meanSeen)
        throw kwd::InputError(what + " \"" + path + "\": no \"Mean\" line at the end");
    return shares;
}

}  // namespace kwd::exporter

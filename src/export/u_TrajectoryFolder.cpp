#include "export/u_TrajectoryFolder.h"

#include <algorithm>
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

namespace {

const char* const kGridPrefixes[] = {"FlxFootprintIJ_", "ConFootprintIJ_", "SourceStrengthIJ_"};

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
        int32_t fields = 0;
        size_t start = 0;
        for (;;) {
            const size_t end = std::min(line.find(';', start), line.size());
            const std::string field = line.substr(start, end - start);
            double v = 0;
            if (!parseDouble(field, v))
                throw kwd::InputError(where + ", field " + std::to_string(fields + 1) + ": \"" +
                                      field + "\" is not a number");
            if (!std::isfinite(v))
                throw kwd::InputError(where + ", field " + std::to_string(fields + 1) + ": \"" +
                                      field + "\" is not a finite number");
            g.values.push_back(v);
            ++fields;
            if (end == line.size()) break;
            start = end + 1;
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
    }
    if (found.empty())
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
}

const tOutputTime& tTrajectoryFolder::select(std::optional<kwd::tDateTime> time) const {
    if (!time) return fOutputs.back();
    const int64_t ms = kwd::dateTimeToMilliseconds(*time);
    for (const tOutputTime& o : fOutputs)
        if (kwd::dateTimeToMilliseconds(o.time) == ms) return o;
    throw kwd::InputError("trajectory folder \"" + fFolder + "\" has no output at " +
                          export_text::fullDateTimeText(*time) + "; its outputs are at " +
                          timeList(fOutputs));
}

std::string tTrajectoryFolder::gridFilePath(const std::string& prefix, const tOutputTime& output) const {
    return fFolder + "/" + prefix + kwd::regional::fileNameTimeText(output.time) + output.project +
           ".csv";
}

std::string tTrajectoryFolder::logPath() const { return fFolder + "/logFile.log"; }

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

tOutputData tTrajectoryFolder::load(const tOutputTime& output) const {
    tOutputData data;
    data.output = output;
    const tGridFile flux = readGridFile(gridFilePath("FlxFootprintIJ_", output));
    const tGridFile con = readGridFile(gridFilePath("ConFootprintIJ_", output));
    const tGridFile source = readGridFile(gridFilePath("SourceStrengthIJ_", output));
    for (const tGridFile* g : {&con, &source})
        if (g->nI != flux.nI || g->nJ != flux.nJ)
            throw kwd::InputError("the grid files of " + export_text::fullDateTimeText(output.time) +
                                  " in \"" + fFolder + "\" differ in size (" +
                                  std::to_string(flux.nI) + " x " + std::to_string(flux.nJ) +
                                  " and " + std::to_string(g->nI) + " x " + std::to_string(g->nJ) + ")");
    data.flux = flux.values;
    data.concentration = con.values;
    data.sourceStrength = source.values;

    data.dataSetPath = findDataSet(output, flux.nI, flux.nJ);
    TZDXFile d;
    d.ReadFile(data.dataSetPath);
    data.grid = tPlanGrid::fromDescriptor(d, "data set \"" + data.dataSetPath + "\"");
    // Object codes: block 0; its first layer is k = 0, the ground.
    const std::vector<float> objects = ReadZDTBlock(d.DataFilename, 0, d.GridsI, d.GridsJ, d.GridsK);
    data.obstacle.resize(data.grid.cellCount());
    for (size_t n = 0; n < data.obstacle.size(); ++n) data.obstacle[n] = objects[n] == 1.0f ? 1 : 0;
    return data;
}

// Import of a legacy ZDI descriptor: a line-by-line text file with the grid
// and the variable names; date, time and content kind are taken from the
// file name.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/DatasetText.h"
#include "dataset/u_ZDXFile.h"
#include "platform/FileIO.h"
#include "platform/KwdError.h"

namespace kwd::dataset {

using namespace dataset_text;

namespace {

// The lines of a text file; a line past the end reads as empty text.
class tLineReader {
public:
    explicit tLineReader(const std::string& bytes) {
        const size_t n = bytes.size();
        size_t start = 0;
        while (start < n) {
            size_t p = start;
            while (p < n && bytes[p] != '\r' && bytes[p] != '\n') ++p;
            fLines.push_back(bytes.substr(start, p - start));
            if (p < n && bytes[p] == '\r' && p + 1 < n && bytes[p + 1] == '\n') ++p;
            start = p + 1;
        }
    }

    std::string next() { return fPos < fLines.size() ? fLines[fPos++] : std::string(); }
    size_t linesLeft() const { return fLines.size() - fPos; }

private:
    std::vector<std::string> fLines;
    size_t fPos = 0;
};

bool isValidDate2015(int32_t day, int32_t month) {
    static const int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month >= 1 && month <= 12 && day >= 1 && day <= kDays[month - 1];
}

bool contains(const std::string& upperText, const char* upperWord) {
    return upperText.find(upperWord) != std::string::npos;
}

// Array length for a count read from the file. A negative count gives an
// empty array. Lines missing at the end read as empty, so a count may exceed
// the lines left; but a count far beyond them (and beyond any real grid) is
// refused, so a corrupt number cannot ask for unbounded memory.
constexpr size_t kPlausibleCount = 65536;

size_t checkedCount(int32_t count, const tLineReader& lines, const std::string& file,
                    const char* what) {
    if (count <= 0) return 0;
    if (size_t(count) > lines.linesLeft() && size_t(count) > kPlausibleCount)
        throw kwd::InputError("ZDI file \"" + file + "\": " + what + " " + std::to_string(count) +
                              " is more than the " + std::to_string(lines.linesLeft()) +
                              " lines left in the file");
    return size_t(count);
}

}  // namespace

int32_t TZDXFile::ImportZDIFile(const std::string& filename) {
    if (filename.empty()) return -1;
    const std::string zdiName = changeFileExt(filename, ".ZDI");
    DataFilename = changeFileExt(zdiName, ".ZDT");
    std::string bytes;
    try {
        bytes = kwd::readWholeFile(zdiName);
    } catch (const kwd::FileError&) {
        return -2;
    }
    if (filename.size() < 23)
        throw kwd::InputError("ZDI file name \"" + filename +
                              "\" is too short: it must end in hh?mm?ss?dd?mm?yyyy and a "
                              "four-character extension (23 characters)");
    tLineReader lines(bytes);

    InfoFilename = filename;
    const std::string typeLine = lines.next();
    const std::string kind(part(typeLine, 0, 5));
    if (typeLine.rfind("F_", 0) == 0) {
        if (kind == "F_FAC")
            filetype = 3;
        else if (kind == "F_3D+")
            filetype = 2;
        else if (kind == "F_2DD")
            filetype = 1;
        fileversion = leadingInt(part(typeLine, 5, std::string::npos));
        if (filetype != -1) Title = lines.next();
    } else {
        filetype = -1;
        fileversion = 1;
        Title = typeLine;
    }
    DataPerVariable = kind == "F_FAC" ? 3 : 1;

    // hh?mm?ss?dd?mm?yyyy and a four-character extension end the name.
    const std::string_view stamp = std::string_view(filename).substr(filename.size() - 23);
    const std::string hh(stamp.substr(0, 2)), mi(stamp.substr(3, 2)), ss(stamp.substr(6, 2));
    const std::string dd(stamp.substr(9, 2)), mo(stamp.substr(12, 2)), yyyy(stamp.substr(15, 4));
    const std::string baseName = extractFileName(filename);
    const std::string upperBase = upperCase(baseName);
    simdate = dd + "." + mo + "." + yyyy;
    if (!isValidDate2015(leadingInt(dd), leadingInt(mo))) {
        simdate = "23.06.2015";
        simtime = "23:00:00";
    } else if (contains(upperBase, "_SA_") || contains(upperBase, "_SAFAC_")) {
        simtime = "23:00:00";
    } else {
        simtime = hh + ":" + mi + ":" + ss;
    }
    // 32-bit arithmetic, wrapping like the stored value would.
    const uint32_t tv = uint32_t(leadingInt(ss)) + 60u * uint32_t(leadingInt(mi)) +
                        3600u * uint32_t(leadingInt(hh)) + 86400u * uint32_t(leadingInt(dd)) +
                        2592000u * uint32_t(leadingInt(mo));
    TimeInfo.timevalue = int64_t(int32_t(tv));

    SimFileState = fsNormal;
    if (contains(upperBase, "CHECK")) SimFileState = fsCheck;
    if (contains(upperBase, "PANIC")) SimFileState = fsPanicDump;
    if (contains(upperBase, "(INITIALISATION)")) SimFileState = fsInitialisation;
    static const struct {
        const char* word;
        tSimFileContent content;
    } kContentWords[] = {
        {"_AT_", ckAtmosphere},      {"_FX_", ckSurface},
        {"_PHFX_", ckSurface},       {"_SO_", ckSoil},
        {"_SA_", ckSolarAccess},     {"_POLU_", ckPollutants},
        {"_VEG_", ckVegetation},     {"_BIO_", ckComfort},
        {"_BLDG_", ckFacade},        {"_BLDG_STATICDATA", ckFacadeStatic},
        {"_SAFAC_", ckFacadeSolarAccess},
    };
    fileContent = ckUnknown;
    for (const auto& w : kContentWords)
        if (contains(upperBase, w.word)) fileContent = w.content;
    canBuiltTimeSeries = fileContent >= ckAtmosphere && fileContent <= ckFacade;

    size_t cut = 23;
    if (fileContent == ckSolarAccess || fileContent == ckFacadeSolarAccess) cut = 14;
    if (fileContent == ckFacadeStatic) cut = 4;
    SimBaseID = baseName.size() > cut ? baseName.substr(0, baseName.size() - cut) : std::string();

    GridsI = leadingInt(lines.next());
    GridsJ = leadingInt(lines.next());
    GridsK = leadingInt(lines.next());
    numberVars = leadingInt(lines.next());
    nameVars.assign(checkedCount(numberVars, lines, zdiName, "variable count"), std::string());
    for (auto& name : nameVars) name = lines.next();
    SplitNamesAndUnits();
    lines.next();
    sizedx.assign(checkedCount(GridsI, lines, zdiName, "cell count along x"), 0.0f);
    for (auto& v : sizedx) v = leadingFloat(lines.next());
    sizedy.assign(checkedCount(GridsJ, lines, zdiName, "cell count along y"), 0.0f);
    for (size_t n = sizedy.size(); n > 0; --n) sizedy[n - 1] = leadingFloat(lines.next());
    sizedz.assign(checkedCount(GridsK, lines, zdiName, "cell count along z"), 0.0f);
    for (auto& v : sizedz) v = leadingFloat(lines.next());

    Georef_x = 0.0f;
    Georef_y = 0.0f;
    Locationname.clear();
    projectname = "unknown";
    Modelversion = "3.1";
    SimGUID = "0-not_defined";
    ModelRotation = -999.0f;
    Sunposition = -999.0f;
    WindInflow = -999.0f;

    if (upperCase(lines.next()) == "%GEOREF") {
        Georef_x = leadingFloat(lines.next());
        Georef_y = leadingFloat(lines.next());
    }
    if (upperCase(lines.next()) == "%LOCATION") Locationname = lines.next();
    if (upperCase(lines.next()) == "%ROTATION") ModelRotation = leadingFloat(lines.next());
    if (upperCase(lines.next()) == "%SUNPOSITION") Sunposition = leadingFloat(lines.next());
    if (upperCase(lines.next()) == "%WINDINFLOW") WindInflow = leadingFloat(lines.next());
    return 0;
}

}  // namespace kwd::dataset

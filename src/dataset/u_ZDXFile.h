#pragma once
// The descriptor of one simulation output: grid, cell sizes, variables and
// the descriptive metadata of a data set. It reads and writes the ZDX file
// (a container file) and can import a legacy ZDI file; the values themselves
// live in the ZDT file of the same base name (see u_ZDTFile.h).

#include <cstdint>
#include <string>
#include <vector>

namespace kwd::dataset {

// Health status of an output (tag data_health_status).
enum tSimFileState : uint8_t {
    fsNormal = 0,          // regular output
    fsCheck = 1,           // check output
    fsInitialisation = 2,  // state at initialisation
    fsPanicDump = 3        // emergency dump
};

// Kind of content of a data set (tag data_content).
enum tSimFileContent : uint8_t {
    ckUnknown = 0,
    ckAtmosphere = 1,
    ckSurface = 2,
    ckSoil = 3,
    ckPollutants = 4,
    ckComfort = 5,
    ckVegetation = 6,
    ckFacade = 7,
    ckSolarAccess = 8,
    ckFacadeStatic = 9,
    ckFacadeSolarAccess = 10,
    ckRadiation = 11,
    ckViewAnalysis = 12,
    ckPhotocatalysis = 13,
    ckCertification = 14,
    ckNestingData = 15
};

// Numeric time key of a data set; ReadFile sets only `timevalue`.
struct TTimeInfo {
    int64_t timevalue = 0;
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t day = 0;
    int32_t month = 0;
    int32_t year = 0;
};

class TZDXFile {
public:
    std::string DataFilename;  // full path of the ZDT file
    std::string InfoFilename;  // full path of the ZDX file as passed to ReadFile
    int8_t filetype = -1;      // tag data_type; the output data set uses 2
    tSimFileContent fileContent = ckUnknown;
    int32_t fileversion = 0;   // from a legacy import file only
    bool canBuiltTimeSeries = false;
    std::string SimBaseID;
    tSimFileState SimFileState = fsNormal;
    int32_t SpatialDimensions = 0;
    int32_t GridsI = 0;
    int32_t GridsJ = 0;
    int32_t GridsK = 0;
    std::vector<float> sizedx;  // cell widths along x (index i), metres
    std::vector<float> sizedy;  // along y (index j)
    std::vector<float> sizedz;  // along z (index k)
    int32_t numberVars = 0;
    int32_t DataPerVariable = 0;
    std::vector<std::string> nameVars;  // variable names, in ZDT block order
    std::vector<std::string> UnitVars;  // parallel to nameVars
    bool zZeroAtTop = false;            // metadata only; never changes the layer order
    std::string Title;
    std::string simdate;  // "dd.mm.yyyy"
    std::string simtime;  // "hh:mm:ss"
    TTimeInfo TimeInfo;
    std::string projectname;
    std::string Modelversion;
    std::string SimGUID;
    std::string LicenseHolder;
    float Georef_x = 0.0f;
    float Georef_y = 0.0f;
    std::string Locationname;
    float LocationLatitude = 0.0f;
    float LocationLongitude = 0.0f;
    float ModelRotation = 0.0f;
    float Sunposition = 0.0f;
    float WindInflow = 0.0f;

    // An empty descriptor.
    TZDXFile() = default;

    // Fills the descriptor from the ZDX file `afilename` and derives the ZDT
    // name. 0 when read; -1 when the file is missing or not a ZDX descriptor
    // (nothing changed); -2 when the file vanished after its header was read
    // (only DataFilename and InfoFilename set). Container file errors
    // propagate as exceptions.
    int32_t ReadFile(const std::string& afilename);

    // Writes the descriptor as the ZDX file `afilename` (name used unchanged).
    // The ZDT file is not touched.
    void WriteFile(const std::string& afilename) const;

    // GridsI * GridsJ * GridsK * DataPerVariable in 32-bit arithmetic (wraps
    // like the stored 32-bit value would).
    int32_t GetLayerSize() const;

    // Fills the descriptor from a legacy ZDI file (filename with its
    // extension replaced by ".ZDI"); date, time and content kind come from
    // the name. 0 when imported, -1 for an empty name, -2 when the ZDI file
    // cannot be opened. A name too short to hold the date and time raises
    // kwd::InputError.
    int32_t ImportZDIFile(const std::string& filename);

private:
    // Splits every entry of nameVars at its last "(" or "[" into the name
    // and the unit (into UnitVars).
    void SplitNamesAndUnits();
};

}  // namespace kwd::dataset

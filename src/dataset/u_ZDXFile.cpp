#include "dataset/u_ZDXFile.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "container/UDataXStorage.h"
#include "dataset/DatasetText.h"
#include "platform/FileIO.h"

namespace kwd::dataset {

using kwd::container::TDataXInfo;
using kwd::container::TDataXStorage;

using namespace dataset_text;

namespace {

const char* const kZDXContentInfo = "ZDX ZAKO-rin Simulation Data Definition";
constexpr int32_t kZDXVersion = 101;
const char* const kZDXRemark = "This file links to the ZDT file of the same name";

// Length of an array that a collection tag fills: the count read, but never
// more than a collection can hold (a corrupt count cannot ask for unbounded
// memory; the count that comes back is the same either way).
size_t collectionLength(int32_t count) {
    if (count <= 0) return 0;
    return std::min<size_t>(size_t(count), size_t(TDataXStorage::kMaxListItems));
}

}  // namespace

void TZDXFile::WriteFile(const std::string& afilename) const {
    TDataXStorage x;
    TDataXInfo header;
    header.ContentInfo = kZDXContentInfo;
    header.Version = kZDXVersion;
    header.Remark = kZDXRemark;
    header.EncryptionLevel = 0;
    x.SetDataXFileMetadata(header);
    x.InitXFileWriter(afilename);

    x.InitNewElement("datadescription");
    x.AddTagAsInt("data_type", int32_t(filetype));  // sign-extended: a fresh descriptor writes -1
    x.AddTagAsInt("data_content", int32_t(fileContent));
    x.AddTagAsBool("data_zorientation", zZeroAtTop);
    x.AddTagAsInt("data_health_status", int32_t(SimFileState));
    x.AddTagAsInt("data_spatial_dim", SpatialDimensions);
    x.AddTagAsInt("nr_xdata", GridsI);
    x.AddTagAsInt("nr_ydata", GridsJ);
    x.AddTagAsInt("nr_zdata", GridsK);
    x.AddTagAsFloatCollection("spacing_x", int32_t(sizedx.size()), sizedx);
    x.AddTagAsFloatCollection("spacing_y", int32_t(sizedy.size()), sizedy);
    x.AddTagAsFloatCollection("spacing_z", int32_t(sizedz.size()), sizedz);
    x.FinalizeElement();

    x.InitNewElement("variables");
    x.AddTagAsInt("Data_per_variable", DataPerVariable);
    x.AddTagAsInt("nr_variables", numberVars);
    x.AddTagAsStringCollection("name_variables", numberVars, nameVars);
    x.FinalizeElement();

    x.InitNewElement("modeldescription");
    x.AddTagAsString("title", Title);
    x.AddTagAsString("simulation_basename", SimBaseID);
    x.AddTagAsString("simulation_date", simdate);
    x.AddTagAsString("simulation_time", simtime);
    x.AddTagAsString("projectname", projectname);
    x.AddTagAsString("locationname", Locationname);
    x.AddTagAsFloat("model_rotation", ModelRotation);
    x.AddTagAsFloat("location_georef_x", Georef_x);
    x.AddTagAsFloat("location_georef_y", Georef_y);
    x.FinalizeElement();

    x.InitNewElement("zako-rin_reference");
    x.AddTagAsString("zako-rin_version", Modelversion);
    x.AddTagAsString("zako-rin_GUID", SimGUID);
    x.AddTagAsString("licenseholder", LicenseHolder);
    x.FinalizeElement();

    x.InitNewElement("additional_info");
    x.AddTagAsFloat("sunposition", Sunposition);
    x.AddTagAsFloat("windinflow", WindInflow);
    x.FinalizeElement();

    x.FinalizeXDataFile();
}

int32_t TZDXFile::ReadFile(const std::string& afilename) {
    TDataXStorage x;
    const TDataXInfo header = x.GetDataXFileMetadata(afilename);
    if (upperCase(header.ContentInfo.substr(0, 3)) != "ZDX") return -1;
    DataFilename = changeFileExt(afilename, ".ZDT");
    InfoFilename = afilename;
    if (!kwd::fileExists(afilename)) return -2;
    x.InitXFileReader(afilename);

    x.Collectelements("datadescription");
    // The 8-bit fields keep the low 8 bits of the stored integer.
    filetype = int8_t(x.GetTagValueAsInt(0, "data_type", 0));
    fileContent = tSimFileContent(uint8_t(x.GetTagValueAsInt(0, "data_content", 0)));
    zZeroAtTop = x.GetTagValueAsBool(0, "data_zorientation", false);
    canBuiltTimeSeries = !(fileContent == ckSolarAccess || fileContent == ckFacadeStatic ||
                           fileContent == ckFacadeSolarAccess || fileContent == ckViewAnalysis);
    SimFileState = tSimFileState(uint8_t(x.GetTagValueAsInt(0, "data_health_status", 0)));
    SpatialDimensions = x.GetTagValueAsInt(0, "data_spatial_dim", 0);
    GridsI = x.GetTagValueAsInt(0, "nr_xdata", 0);
    GridsJ = x.GetTagValueAsInt(0, "nr_ydata", 0);
    GridsK = x.GetTagValueAsInt(0, "nr_zdata", 0);
    // Each grid count becomes the number of spacings found, at most itself;
    // entries beyond the spacings found stay 0.
    sizedx.assign(collectionLength(GridsI), 0.0f);
    sizedy.assign(collectionLength(GridsJ), 0.0f);
    sizedz.assign(collectionLength(GridsK), 0.0f);
    x.GetTagValueAsFloatCollection(0, "spacing_x", "", GridsI, sizedx);
    x.GetTagValueAsFloatCollection(0, "spacing_y", "", GridsJ, sizedy);
    x.GetTagValueAsFloatCollection(0, "spacing_z", "", GridsK, sizedz);

    x.Collectelements("variables");
    DataPerVariable = x.GetTagValueAsInt(0, "Data_per_variable", 1);
    numberVars = x.GetTagValueAsInt(0, "nr_variables", 0);
    nameVars.assign(collectionLength(numberVars), std::string());
    x.GetTagValueAsStringCollection(0, "name_variables", "VAR", numberVars, nameVars);
    SplitNamesAndUnits();

    x.Collectelements("modeldescription");
    Title = x.GetTagValueAsString(0, "title", "(unknown title)");
    SimBaseID = x.GetTagValueAsString(0, "simulation_basename", "");
    simdate = x.GetTagValueAsString(0, "simulation_date", "UNKNOWN_DATE");
    simtime = x.GetTagValueAsString(0, "simulation_time", "UNKNOWN_TIME");
    projectname = x.GetTagValueAsString(0, "projectname", "UNKNOWN_PROJECT");
    Locationname = x.GetTagValueAsString(0, "locationname", "UNKNOWN_LOCATION");
    ModelRotation = x.GetTagValueAsFloat(0, "model_rotation", 0.0f);
    Georef_x = x.GetTagValueAsFloat(0, "location_georef_x", 0.0f);
    Georef_y = x.GetTagValueAsFloat(0, "location_georef_y", 0.0f);

    // A month counts as 31 days and the year is not used; 32-bit arithmetic
    // that wraps like the stored value would.
    const uint32_t day = uint32_t(leadingInt(part(simdate, 0, 2)));
    const uint32_t month = uint32_t(leadingInt(part(simdate, 3, 2)));
    const uint32_t hour = uint32_t(leadingInt(part(simtime, 0, 2)));
    const uint32_t minute = uint32_t(leadingInt(part(simtime, 3, 2)));
    const uint32_t second = uint32_t(leadingInt(part(simtime, 6, 2)));
    TimeInfo.timevalue =
        int64_t(int32_t(second + 60u * minute + 3600u * hour + 86400u * day + 2678400u * month));

    x.Collectelements("zako-rin_reference");
    Modelversion = x.GetTagValueAsString(0, "zako-rin_version", "UNKNOWN_VERSION");
    SimGUID = x.GetTagValueAsString(0, "zako-rin_GUID", "UNKNOWN_SIMGUID");

    x.Collectelements("additional_info");
    Sunposition = x.GetTagValueAsFloat(0, "sunposition", -999.0f);
    WindInflow = x.GetTagValueAsFloat(0, "windinflow", -999.0f);
    return 0;
}

int32_t TZDXFile::GetLayerSize() const {
    // 32-bit arithmetic as the stored value has it: unsigned multiplication
    // wraps without undefined behaviour, the conversion back is modular.
    const uint32_t size = uint32_t(GridsI) * uint32_t(GridsJ) * uint32_t(GridsK) *
                          uint32_t(DataPerVariable);
    return int32_t(size);
}

void TZDXFile::SplitNamesAndUnits() {
    const size_t count = numberVars > 0 ? size_t(numberVars) : 0;
    UnitVars.assign(count, std::string());
    const size_t names = std::min(count, nameVars.size());
    for (size_t n = 0; n < names; ++n) {
        std::string& name = nameVars[n];
        const size_t bracket = name.find_last_of("([");
        if (bracket == std::string::npos) continue;
        // The unit runs behind the bracket up to the last character (the
        // closing bracket), whatever that character is.
        const size_t unitLength = name.size() - bracket >= 2 ? name.size() - bracket - 2 : 0;
        UnitVars[n] = name.substr(bracket + 1, unitLength);
        name.erase(bracket);
    }
}

}  // namespace kwd::dataset

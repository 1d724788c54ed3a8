#include "frontend/u_tTRAFile.h"

#include <limits>

#include "container/UDataXStorage.h"

namespace {

const char* const kTRAContentInfo = "ParticleDispersionInput";
constexpr float kMissing = -999.0f;

// The height as the file stores it (32 bits); values beyond the float range
// saturate instead of overflowing.
float narrowHeight(double value) {
    constexpr double kMax = std::numeric_limits<float>::max();
    if (value > kMax) return std::numeric_limits<float>::max();
    if (value < -kMax) return -std::numeric_limits<float>::max();
    return float(value);
}

}  // namespace

void tTRAFile::setDetectorValues(float xMin, float xMax, float yMin, float yMax, float zMin,
                                 float zMax) {
    fSensor = {xMin, xMax, yMin, yMax, zMin, zMax};
}

bool tTRAFile::LoadFromFile(const std::string& aFilename) {
    TDataXStorage x;
    // A missing file leaves the container closed: every collection then
    // fails and every value takes its default.
    x.InitXFileReader(aFilename);
    x.SetElementMandatory(false);

    x.Collectelements("Header");
    fFiletype = x.GetTagValueAsString(0, "filetype", kTRAContentInfo);
    fVersion = x.GetTagValueAsInt(0, "version", 1);

    x.Collectelements("DetectorInfo");
    fSensor.fxMin = x.GetTagValueAsFloat(0, "xMin", kMissing);
    fSensor.fxMax = x.GetTagValueAsFloat(0, "xMax", kMissing);
    fSensor.fyMin = x.GetTagValueAsFloat(0, "yMin", kMissing);
    fSensor.fyMax = x.GetTagValueAsFloat(0, "yMax", kMissing);
    fSensor.fzMin = x.GetTagValueAsFloat(0, "zMin", kMissing);
    fSensor.fzMax = x.GetTagValueAsFloat(0, "zMax", kMissing);

    x.Collectelements("TrajectoryInfo");
    fRootPath = x.GetTagValueAsString(0, "RootPath", "-");
    fParticleMultiplier = x.GetTagValueAsInt(0, "ParticleMultiplier", -999);
    fMinHeight = double(x.GetTagValueAsFloat(0, "MinHeight", kMissing));
    fFootprintModel = x.GetTagValueAsString(0, "FootprintModel", "");

    // The list is not cleared: a second load appends its paths.
    const int32_t n = x.Collectelements("ZDXPaths");
    for (int32_t k = 0; k < n; ++k) fZDXFileList.push_back(x.GetTagValueAsString(k, "ZDXPath", "-"));
    return true;
}

void tTRAFile::SaveToFile(const std::string& aFilename) const {
    TDataXStorage x;
    TDataXInfo header;
    header.ContentInfo = kTRAContentInfo;
    header.Version = 1;
    header.EncryptionLevel = 2;
    header.Remark = "";
    x.SetDataXFileMetadata(header);
    x.InitXFileWriter(aFilename + ".tra");

    x.InitNewElement("DetectorInfo");
    x.AddTagAsFloat("xMin", fSensor.fxMin);
    x.AddTagAsFloat("xMax", fSensor.fxMax);
    x.AddTagAsFloat("yMin", fSensor.fyMin);
    x.AddTagAsFloat("yMax", fSensor.fyMax);
    x.AddTagAsFloat("zMin", fSensor.fzMin);
    x.AddTagAsFloat("zMax", fSensor.fzMax);
    x.FinalizeElement();

    x.InitNewElement("TrajectoryInfo");
    x.AddTagAsInt("ParticleMultiplier", fParticleMultiplier);
    x.AddTagAsFloat("MinHeight", narrowHeight(fMinHeight));
    x.AddTagAsString("RootPath", fRootPath);
    if (!fFootprintModel.empty()) x.AddTagAsString("FootprintModel", fFootprintModel);
    x.FinalizeElement();

    for (const std::string& path : fZDXFileList) {
        x.InitNewElement("ZDXPaths");
        x.AddTagAsString("ZDXPath", path);
        x.FinalizeElement();
    }
    x.FinalizeXDataFile();
}

#include "frontend/u_tTRAFile.h"

#include <cmath>
#include <limits>
#include <optional>

#include "container/UDataXStorage.h"
#include "platform/KwdError.h"
#include "platform/RegionalSettings.h"

namespace kwd::frontend {

using kwd::container::TDataXInfo;
using kwd::container::TDataXStorage;

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

// Reads the values of one loaded run configuration file strictly: a number
// must read completely as what its tag holds, and a required tag must be
// there. A file that could not be loaded gives every default instead.
class tStrictTags {
public:
    tStrictTags(TDataXStorage& x, const std::string& file, bool loaded)
        : fX(x), fFile(file), fLoaded(loaded) {}

    // The text of a required string tag; a missing or empty one is refused.
    std::string requiredText(const std::string& element, int32_t k, const std::string& tag,
                             const std::string& dflt) const {
        if (!fLoaded) return fX.GetTagValueAsString(k, tag, dflt);
        if (!fX.HasTag(k, tag)) refuse("lacks the tag \"" + tag + "\" (" + where(element, k) + ")");
        const std::string text = fX.GetTagValueAsString(k, tag, "");
        if (text.empty()) refuse("has an empty tag \"" + tag + "\" (" + where(element, k) + ")");
        return text;
    }

    // A 32-bit float; `required` false: a missing tag gives dflt.
    float floatValue(const std::string& element, const std::string& tag, float dflt,
                     bool required) const {
        const std::optional<std::string> text = numberText(element, tag, required);
        if (!text) return dflt;
        double value = 0.0;
        if (!kwd::regional::tryParseDecimal(*text, value) ||
            std::fabs(value) > double(std::numeric_limits<float>::max())) {
            refuse(badNumber(tag, *text) + "a decimal number in the 32-bit float range "
                                           "(decimal point \".\")");
        }
        return float(value);
    }

    // A 32-bit signed integer; a missing tag gives dflt.
    int32_t integerValue(const std::string& element, const std::string& tag, int32_t dflt) const {
        const std::optional<std::string> text = numberText(element, tag, false);
        if (!text) return dflt;
        int value = 0;
        if (!kwd::regional::tryParseInteger(*text, value))
            refuse(badNumber(tag, *text) + "a 32-bit integer");
        return int32_t(value);
    }

private:
    static std::string where(const std::string& element, int32_t k) {
        return "element \"" + element + "\"" + (k > 0 ? " number " + std::to_string(k) : "");
    }
    std::string badNumber(const std::string& tag, const std::string& text) const {
        return "has the tag \"" + tag + "\" with \"" + text + "\", which does not read completely as ";
    }
    // The text of a number tag of element 0; nothing when it is missing and
    // may be.
    std::optional<std::string> numberText(const std::string& element, const std::string& tag,
                                          bool required) const {
        if (!fX.HasTag(0, tag)) {
            if (required && fLoaded) refuse("lacks the tag \"" + tag + "\" (" + where(element, 0) + ")");
            return std::nullopt;
        }
        return fX.GetTagValueAsString(0, tag, "");
    }
    [[noreturn]] void refuse(const std::string& what) const {
        throw kwd::InputError("the run configuration file \"" + fFile + "\" " + what);
    }

    TDataXStorage& fX;
    const std::string& fFile;
    bool fLoaded;
};

}  // namespace

void tTRAFile::setDetectorValues(float xMin, float xMax, float yMin, float yMax, float zMin,
                                 float zMax) {
    fSensor = {xMin, xMax, yMin, yMax, zMin, zMax};
}

bool tTRAFile::LoadFromFile(const std::string& aFilename) {
    TDataXStorage x;
    // A missing file leaves the container closed: every collection then
    // fails and every value takes its default.
    const bool loaded = x.InitXFileReader(aFilename) == 1;
    x.SetElementMandatory(false);
    const tStrictTags tags(x, aFilename, loaded);

    // The header is not looked at by a run; it stays as lenient as it was.
    x.Collectelements("Header");
    fFiletype = x.GetTagValueAsString(0, "filetype", kTRAContentInfo);
    fVersion = x.GetTagValueAsInt(0, "version", 1);

    x.Collectelements("DetectorInfo");
    float* const sides[] = {&fSensor.fxMin, &fSensor.fxMax, &fSensor.fyMin,
                            &fSensor.fyMax, &fSensor.fzMin, &fSensor.fzMax};
    const char* const names[] = {"xMin", "xMax", "yMin", "yMax", "zMin", "zMax"};
    for (int n = 0; n < 6; ++n) *sides[n] = tags.floatValue("DetectorInfo", names[n], kMissing, true);

    x.Collectelements("TrajectoryInfo");
    fRootPath = tags.requiredText("TrajectoryInfo", 0, "RootPath", "-");
    // Missing, the particle count gives one batch and the height is refused
    // by the dialogue with its own message.
    fParticleMultiplier = tags.integerValue("TrajectoryInfo", "ParticleMultiplier", -999);
    fMinHeight = double(tags.floatValue("TrajectoryInfo", "MinHeight", kMissing, false));
    fFootprintModel = x.GetTagValueAsString(0, "FootprintModel", "");

    // The list is not cleared: a second load appends its paths.
    const int32_t n = x.Collectelements("ZDXPaths");
    for (int32_t k = 0; k < n; ++k)
        fZDXFileList.push_back(tags.requiredText("ZDXPaths", k, "ZDXPath", "-"));
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

}  // namespace kwd::frontend

#pragma once
// The run configuration file (".tra"): a container file naming the root folder
// of a simulation, the detector box, the particles per output interval, the
// minimum height and the ZDX descriptor files that make up the run.

#include <cstdint>
#include <string>
#include <vector>

namespace kwd::frontend {

// The detector box in model metres, as the run configuration file holds it.
struct tSensor {
    float fxMin = 0.0f;
    float fxMax = 0.0f;
    float fyMin = 0.0f;
    float fyMax = 0.0f;
    float fzMin = 0.0f;
    float fzMax = 0.0f;

    bool operator==(const tSensor&) const = default;
};

class tTRAFile {
public:
    std::string fRootPath;           // root folder of the simulation outputs
    std::string fFiletype;           // header "filetype" of the file read
    int32_t fVersion = 0;            // header "version" of the file read
    int32_t fEncryptionLevel = 0;    // carried only
    tSensor fSensor;                 // detector box in model metres
    int32_t fParticleMultiplier = 0; // particles per output interval
    double fMinHeight = 0.0;         // height a particle below the ground is put at
    std::vector<std::string> fZDXFileList;  // ZDX descriptor paths, in time order
    std::string fFootprintModel;     // TrajectoryInfo "FootprintModel" as written; empty: absent

    tTRAFile() = default;

    // Reads the file `aFilename` (used exactly as given); the listed paths are
    // appended to fZDXFileList. A missing file gives every default ("-" root
    // path, -999 for the numbers). In a file that is there, the detector
    // tags, "RootPath" and the "ZDXPath" of every "ZDXPaths" element must be
    // present (and the texts not empty), and every number must read
    // completely as what its tag holds (a 32-bit float with the decimal
    // point ".", or a 32-bit integer); "ParticleMultiplier" and "MinHeight"
    // may be missing (-999). Anything else raises kwd::InputError naming the
    // file, the tag and its text. The header stays lenient. Always true.
    bool LoadFromFile(const std::string& aFilename);
    // Writes the file aFilename + ".tra". A file that cannot be created
    // raises kwd::FileError.
    void SaveToFile(const std::string& aFilename) const;

    int32_t getParticleMultiplier() const { return fParticleMultiplier; }
    double getMinHeight() const { return fMinHeight; }
    void setParticleMultiplier(int32_t Value) { fParticleMultiplier = Value; }
    void setMinHeight(double Value) { fMinHeight = Value; }
    void setDetectorValues(float xMin, float xMax, float yMin, float yMax, float zMin, float zMax);
};

}  // namespace kwd::frontend

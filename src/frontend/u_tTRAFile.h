#pragma once
// The run configuration file (".tra"): a container file naming the root folder
// of a simulation, the detector box, the particles per output interval, the
// minimum height and the ZDX descriptor files that make up the run.

#include <cstdint>
#include <string>
#include <vector>

// The detector box in model metres, as the run configuration file holds it.
struct tSensor {
    float fxMin = 0.0f;
    float fxMax = 0.0f;
    float fyMin = 0.0f;
    float fyMax = 0.0f;
    float fzMin = 0.0f;
    float fzMax = 0.0f;
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

    // Reads the file `aFilename` (used exactly as given). Every value missing
    // from the file, or the whole file, takes its default ("-" root path,
    // -999 for the numbers); the listed paths are appended to fZDXFileList.
    // Always true.
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

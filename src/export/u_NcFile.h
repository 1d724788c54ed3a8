#pragma once
// A NetCDF-4 file that kwd-export writes: created under a temporary name
// beside its final path (tReplacingFile), every library call checked, and
// renamed into place by commit(); a file not committed is removed. Errors are
// kwd::FileError "NetCDF file \"<path>\": cannot <what> (<library reason>)".
//
// NetCDF-4 files switch between definition and data mode by themselves, so
// variables may be written as soon as they are defined.

#include <cstdint>
#include <string>
#include <vector>

#include "export/u_OutputFile.h"

namespace kwd::exporter {

class tNcFile {
public:
    explicit tNcFile(const std::string& finalPath);
    ~tNcFile();
    tNcFile(const tNcFile&) = delete;
    tNcFile& operator=(const tNcFile&) = delete;

    int id() const { return fId; }
    void check(int status, const std::string& what) const;

    int defineDim(const std::string& name, size_t length);
    // The record (unlimited) dimension, which NCO's ncrcat concatenates
    // along; `length` records are written.
    int defineRecordDim(const std::string& name, size_t length);
    // A variable of the given dimensions (ids); deflated when it has any.
    int defineVar(const std::string& name, int type, const std::vector<int>& dims);

    void text(int var, const std::string& name, const std::string& value);
    void doubleAtt(int var, const std::string& name, const std::vector<double>& values);
    void intAtt(int var, const std::string& name, const std::vector<int>& values);
    void floatAtt(int var, const std::string& name, float value);
    // The fill value of a variable, of its own type (double or float).
    void fillValue(int var, double value);

    void putDoubles(int var, const std::vector<double>& values, const std::string& name);
    void putFloats(int var, const std::vector<float>& values, const std::string& name);
    void putInts(int var, const std::vector<int>& values, const std::string& name);
    void putInt64s(int var, const std::vector<int64_t>& values, const std::string& name);

    // Closes the file and renames it into place.
    void commit();

private:
    // Start and count of a whole variable, the records included.
    void extent(int var, std::vector<size_t>& start, std::vector<size_t>& count) const;

    tReplacingFile fFile;
    int fRecordDim = -1;
    size_t fRecords = 0;
    int fId = -1;
    bool fOpen = false;
};

}  // namespace kwd::exporter

#pragma once
// Hand-made data sets and trajectory folders for the export tests: a data set
// written with TZDXFile::WriteFile and tZDTWriter, grid files as the run
// writes them (a line per j, values for every i, ";" between, CR LF) and a
// run log.

#include <unistd.h>

#include <atomic>
#include <charconv>
#include <filesystem>
#include <string>
#include <vector>

#include "dataset/u_ZDTFile.h"
#include "dataset/u_ZDXFile.h"
#include "platform/FileIO.h"
#include "platform/RegionalSettings.h"

#include "TestTempFolder.h"

namespace exptest {

struct TempDir : kwdtest::tTempFolder {
    TempDir() : tTempFolder("kwd_exp_") {}
};

// Writes base + ".ZDX" and base + ".ZDT" (one block per entry of `blocks`).
inline void writeDataSet(const std::string& base, TZDXFile d,
                         const std::vector<std::vector<float>>& blocks) {
    d.numberVars = int32_t(d.nameVars.size());
    d.WriteFile(base + ".ZDX");
    tZDTWriter zdt(base + ".ZDT");
    for (const auto& b : blocks) zdt.WriteBlock(b);
    zdt.Close();
}

inline TZDXFile descriptor(int32_t nI, int32_t nJ, int32_t nK, std::vector<float> dx,
                           std::vector<float> dy, std::vector<float> dz) {
    TZDXFile d;
    d.filetype = 2;
    d.fileContent = ckRadiation;
    d.SpatialDimensions = 3;
    d.DataPerVariable = 1;
    d.Title = "Virtual Particles";
    d.GridsI = nI;
    d.GridsJ = nJ;
    d.GridsK = nK;
    d.sizedx = std::move(dx);
    d.sizedy = std::move(dy);
    d.sizedz = std::move(dz);
    d.simdate = "01.07.2018";
    d.simtime = "12:00:00";
    d.projectname = "Park";
    d.Locationname = "Old Town";
    d.Modelversion = "5.1";
    d.SimGUID = "GUID-1";
    d.Georef_x = 512000.5f;
    d.Georef_y = 5400000.0f;
    d.ModelRotation = 12.5f;
    d.Sunposition = -999.0f;
    d.WindInflow = 270.0f;
    return d;
}

// A grid file's text: values i fastest, a line per j.
inline std::string gridText(const std::vector<double>& values, int32_t nI, int32_t nJ) {
    std::string s;
    for (int32_t j = 0; j < nJ; ++j) {
        for (int32_t i = 0; i < nI; ++i) {
            if (i > 0) s += ';';
            char buf[64];
            const auto r = std::to_chars(buf, buf + sizeof buf, values[size_t(i + nI * j)],
                                         std::chars_format::fixed, 17);
            s.append(buf, r.ptr);
        }
        s += "\r\n";
    }
    return s;
}

// A trajectory folder <root>/trajectory of a run over an nI x nJ x nK grid.
struct tTrajectoryFixture {
    TempDir root;
    std::string folder = root.file("trajectory");
    int32_t nI, nJ, nK;
    std::vector<float> dx, dy, dz;
    std::string project = "Park";

    tTrajectoryFixture(int32_t i, int32_t j, int32_t k, std::vector<float> sx, std::vector<float> sy,
                       std::vector<float> sz)
        : nI(i), nJ(j), nK(k), dx(std::move(sx)), dy(std::move(sy)), dz(std::move(sz)) {
        kwd::createFolders(folder);
    }

    size_t cells() const { return size_t(nI) * size_t(nJ); }

    // The three grid files the export reads, for the output at `time`.
    void writeGrids(kwd::tDateTime time, const std::vector<double>& flux,
                    const std::vector<double>& con, const std::vector<double>& source) const {
        const std::string suffix = kwd::regional::fileNameTimeText(time) + project + ".csv";
        kwd::writeWholeFile(folder + "/FlxFootprintIJ_" + suffix, gridText(flux, nI, nJ));
        kwd::writeWholeFile(folder + "/ConFootprintIJ_" + suffix, gridText(con, nI, nJ));
        kwd::writeWholeFile(folder + "/SourceStrengthIJ_" + suffix, gridText(source, nI, nJ));
    }

    // The output data set "VirtPart_" of `time`, holding the object codes
    // (ground layer `groundObjects`, code 0 above) and a wind block.
    std::string writeOutputDataSet(kwd::tDateTime time, const std::vector<float>& groundObjects,
                                   const std::string& prefix = "VirtPart_") const {
        TZDXFile d = descriptor(nI, nJ, nK, dx, dy, dz);
        d.projectname = project;
        d.simdate = kwd::regional::shortDate(time);
        d.simtime = kwd::regional::longTime(time);
        d.nameVars = {"Objects ( )", "Flow u (m/s)"};
        std::vector<float> objects(cells() * size_t(nK), 0.0f);
        std::copy(groundObjects.begin(), groundObjects.end(), objects.begin());
        const std::string base =
            folder + "/" + prefix + project + "_" + kwd::regional::fileNameTimeText(time);
        writeDataSet(base, d, {objects, std::vector<float>(objects.size(), 1.5f)});
        return base + ".ZDX";
    }

    void writeLog(const std::vector<std::string>& lines) const {
        std::string s;
        for (const auto& l : lines) s += l + "\r\n";
        kwd::writeWholeFile(folder + "/logFile.log", s);
    }
};

}  // namespace exptest

#pragma once
// Hand-made data sets and trajectory folders for the export tests: a data set
// written with TZDXFile::WriteFile and tZDTWriter, grid files as the run
// writes them (a line per j, values for every i, ";" between, CR LF) and a
// run log.

#include <charconv>
#include <string>
#include <vector>

#include "dataset/u_ZDTFile.h"
#include "dataset/u_ZDXFile.h"
#include "platform/DateTime.h"
#include "platform/FileIO.h"
#include "platform/RegionalSettings.h"

#include "support/TempFolder.h"
#include "support/TextFiles.h"

namespace kwd::test {

// Writes base + ".ZDX" and base + ".ZDT" (one block per entry of `blocks`).
inline void writeDataSet(const std::string& base, kwd::dataset::TZDXFile d,
                         const std::vector<std::vector<float>>& blocks) {
    d.numberVars = int32_t(d.nameVars.size());
    d.WriteFile(base + ".ZDX");
    kwd::dataset::tZDTWriter zdt(base + ".ZDT");
    for (const auto& b : blocks) zdt.WriteBlock(b);
    zdt.Close();
}

inline kwd::dataset::TZDXFile descriptor(int32_t nI, int32_t nJ, int32_t nK, std::vector<float> dx,
                                         std::vector<float> dy, std::vector<float> dz) {
    kwd::dataset::TZDXFile d;
    d.filetype = 2;
    d.fileContent = kwd::dataset::ckRadiation;
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
    tTempFolder root{"kwd_exp_"};
    std::string folder = root.file("trajectory");
    int32_t nI, nJ, nK;
    std::vector<float> dx, dy, dz;
    std::string project = "Park";

    tTrajectoryFixture(int32_t i, int32_t j, int32_t k, std::vector<float> sx,
                       std::vector<float> sy, std::vector<float> sz)
        : nI(i), nJ(j), nK(k), dx(std::move(sx)), dy(std::move(sy)), dz(std::move(sz)) {
        kwd::createFolders(folder);
    }

    size_t cells() const { return size_t(nI) * size_t(nJ); }

    // The grid file prefix + time text + project + ".csv".
    void writeGrid(const std::string& prefix, kwd::tDateTime time,
                   const std::vector<double>& values) const {
        kwd::writeWholeFile(
            folder + "/" + prefix + kwd::regional::fileNameTimeText(time) + project + ".csv",
            gridText(values, nI, nJ));
    }

    // The three grid files the export reads, for the output at `time`.
    void writeGrids(kwd::tDateTime time, const std::vector<double>& flux,
                    const std::vector<double>& con, const std::vector<double>& source) const {
        writeGrid("FlxFootprintIJ_", time, flux);
        writeGrid("ConFootprintIJ_", time, con);
        writeGrid("SourceStrengthIJ_", time, source);
    }

    // The normalised footprints of the measurement time `time`.
    void writeDensities(kwd::tDateTime time, const std::vector<double>& flux,
                        const std::vector<double>& con, const std::vector<double>& hits) const {
        writeGrid("FluxFootprintDensityIJ_", time, flux);
        writeGrid("ConFootprintDensityIJ_", time, con);
        writeGrid("HitsIJ_", time, hits);
    }

    // A text file of the folder from its lines (CR LF after each).
    void writeLines(const std::string& name, const std::vector<std::string>& lines) const {
        kwd::test::writeLines(folder + "/" + name, lines);
    }

    // The output data set "VirtPart_" of `time`, holding the object codes
    // (ground layer `groundObjects`, code 0 above) and a wind block.
    std::string writeOutputDataSet(kwd::tDateTime time, const std::vector<float>& groundObjects,
                                   const std::string& prefix = "VirtPart_") const {
        kwd::dataset::TZDXFile d = descriptor(nI, nJ, nK, dx, dy, dz);
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

    void writeLog(const std::vector<std::string>& lines) const { writeLines("logFile.log", lines); }
};

// A folder of normalised footprints on a 3 x 3 grid of cells 1, 2 and 3 m
// wide along x and 2 m along y (areas 2, 4 and 6 m² per column), detector
// centre (5, 5). Measurement times 11:00 (no hit) and 11:30; the grid files
// of the output 12:00 hold other values (a peak at (0, 0)).
//   F(11:30), m^-2: 0.05 (1, 1), 0.04 (0, 1), 0.025 (2, 1), 0.0175 (1, 2):
//     F x A = 0.2, 0.08, 0.15, 0.07, in all 0.5
//   C(11:30), s m^-3: 0.2 (2, 2), 0.1 (1, 1): C x A = 1.2, 0.4
//   the climatology is half of F(11:30)
struct tDensityFixture : tTrajectoryFixture {
    const kwd::tDateTime t1100 = kwd::encodeDateTime(2018, 7, 1, 11);
    const kwd::tDateTime t1130 = kwd::encodeDateTime(2018, 7, 1, 11, 30);
    const kwd::tDateTime t1200 = kwd::encodeDateTime(2018, 7, 1, 12);
    std::vector<double> flux = std::vector<double>(9, 0.0);
    std::vector<double> con = std::vector<double>(9, 0.0);

    tDensityFixture() : tTrajectoryFixture(3, 3, 1, {1, 2, 3}, {2, 2, 2}, {1}) {
        flux[4] = 0.05;
        flux[3] = 0.04;
        flux[5] = 0.025;
        flux[7] = 0.0175;
        con[8] = 0.2;
        con[4] = 0.1;
        std::vector<double> hits(9, 0.0);
        hits[4] = 3;
        hits[3] = 2;
        hits[5] = 2;
        hits[7] = 1;
        const std::vector<double> zero(9, 0.0);
        writeDensities(t1100, zero, zero, zero);
        writeDensities(t1130, flux, con, hits);
        std::vector<double> mean = flux;
        for (double& v : mean) v /= 2;
        kwd::writeWholeFile(folder + "/FluxFootprintDensityIJ_Mean_Park.csv", gridText(mean, 3, 3));
        writeLines("Footprints_Park.csv", {"Date;Time;Released;Hits;FluxShare;NegativeTakeOff",
                                           "01.07.2018;11:00:00;1000;0;0.00000000000000000;0",
                                           "01.07.2018;11:30:00;1000;8;0.50000000000000000;2"});
        writeLines(
            "FootprintSurfaces_Park.csv",
            {"Date;Time;11;12", "01.07.2018;11:00:00;0.00000000000000000;0.00000000000000000",
             "01.07.2018;11:30:00;0.60000000000000000;0.40000000000000000",
             "Mean;;0.60000000000000000;0.40000000000000000"});
        std::vector<double> described(9, 0.0);
        described[0] = 1;
        writeGrids(t1200, described, described, described);
        std::vector<float> ground(9, 0.0f);
        ground[6] = 1;  // an obstacle at (0, 2)
        writeOutputDataSet(t1200, ground);
        writeLog(
            {"Detector xMin: 4 Detector xMax: 6 Detector yMin: 4 Detector yMax: 6 Detector "
             "zMin: 0 Detector zMax: 1",
             "Particle Factor: 1000", "Date;Time;TotalParticles", "01.07.2018;12:00:00;2000"});
    }
};

}  // namespace kwd::test

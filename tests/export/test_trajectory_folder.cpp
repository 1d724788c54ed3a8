#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/ExportFixtures.h"
#include "export/u_ExportProgram.h"
#include "export/u_TrajectoryFolder.h"
#include "platform/DateTime.h"
#include "platform/FileIO.h"
#include "platform/KwdError.h"

using kwd::exporter::parseGridFileName;
using kwd::exporter::readFootprintTable;
using kwd::exporter::readGridFile;
using kwd::exporter::readRunLog;
using kwd::exporter::readSurfaceTable;
using kwd::exporter::runKwdExport;
using kwd::exporter::summaryLines;
using kwd::exporter::tDensityData;
using kwd::exporter::tFootprintRow;
using kwd::exporter::tGridFile;
using kwd::exporter::tOutputData;
using kwd::exporter::tRunLog;
using kwd::exporter::tSurfaceShares;
using kwd::exporter::tTrajectoryFolder;

using kwd::dataset::TZDXFile;

namespace {

using kwd::encodeDateTime;

const std::string kDetectorLine =
    "Detector xMin: 2 Detector xMax: 4 Detector yMin: 3 Detector yMax: 6 Detector zMin: "
    "0.300000011920929 "
    "Detector zMax: 1.5";

template <typename F>
std::string errorOf(F f) {
    try {
        f();
    } catch (const kwd::KwdError& e) {
        return std::string(e.typeName()) + ": " + e.what();
    }
    return "no error";
}

TEST(GridFileNames, TimeAndProjectFromTheName) {
    struct Case {
        std::string rest;
        bool ok;
        kwd::tDateTime time;
        std::string project;
    };
    const Case cases[] = {
        {"01.07.2018 12.00.00Park.csv", true, encodeDateTime(2018, 7, 1, 12), "Park"},
        {"02.07.2018Park.csv", true, encodeDateTime(2018, 7, 2), "Park"},  // midnight
        {"01.07.2018 06.30.15 Old town.csv", true, encodeDateTime(2018, 7, 1, 6, 30, 15), " Old town"},
        {"02.07.2018.csv", true, encodeDateTime(2018, 7, 2), ""},
        {"31.02.2018 12.00.00Park.csv", false, 0, ""},
        {"01.07.2018 12.00.00Park.txt", false, 0, ""},
        {"Park.csv", false, 0, ""},
    };
    for (const Case& c : cases) {
        kwd::tDateTime t = 0;
        std::string project;
        EXPECT_EQ(parseGridFileName(c.rest, t, project), c.ok) << c.rest;
        if (!c.ok) continue;
        EXPECT_EQ(t, c.time) << c.rest;
        EXPECT_EQ(project, c.project) << c.rest;
    }
}

TEST(GridFiles, ReadAndRefused) {
    kwd::test::tTempFolder dir;
    kwd::writeWholeFile(dir.file("ok.csv"), "0.00000000000000000;1.50000000000000000\r\n"
                                            "-0.25000000000000000;1E17\r\n");
    const tGridFile g = readGridFile(dir.file("ok.csv"));
    EXPECT_EQ(g.nI, 2);
    EXPECT_EQ(g.nJ, 2);
    EXPECT_EQ(g.values, (std::vector<double>{0, 1.5, -0.25, 1e17}));

    const std::pair<std::string, std::string> bad[] = {
        {"1;2\r\n3\r\n", "InputError: grid file \"@\", line 2: 1 values, line 1 has 2"},
        {"1;x\r\n", "InputError: grid file \"@\", line 1, field 2: \"x\" is not a number"},
        {"1;;2\r\n", "InputError: grid file \"@\", line 1, field 2: \"\" is not a number"},
        {"NAN;1\r\n", "InputError: grid file \"@\", line 1, field 1: \"NAN\" is not a finite number"},
        {"", "InputError: grid file \"@\" is empty"},
    };
    for (const auto& [text, expected] : bad) {
        const std::string path = dir.file("bad.csv");
        kwd::writeWholeFile(path, text);
        std::string e = expected;
        e.replace(e.find('@'), 1, path);
        EXPECT_EQ(errorOf([&] { readGridFile(path); }), e) << text;
    }
}

TEST(RunLog, DetectorAndTheLastCountOfEachOutput) {
    kwd::test::tTempFolder dir;
    kwd::writeWholeFile(dir.file("logFile.log"),
                        kDetectorLine + "\r\nParticle Factor: 2000\r\nDate;Time;TotalParticles\r\n"
                        "01.07.2018;12:00:00;1000\r\n01.07.2018;12:00:00;2000\r\n"
                        "02.07.2018;00:00:00;2500\r\n" +
                            std::string(54, '*') + "\r\nSimulation finished!\r\n");
    const tRunLog log = readRunLog(dir.file("logFile.log"));
    EXPECT_EQ(log.detector.xMin, 2);
    EXPECT_EQ(log.detector.xMax, 4);
    EXPECT_EQ(log.detector.yMin, 3);
    EXPECT_EQ(log.detector.yMax, 6);
    EXPECT_EQ(log.detector.zMin, 0.300000011920929);
    EXPECT_EQ(log.detector.zMax, 1.5);
    EXPECT_EQ(log.releasedAt(encodeDateTime(2018, 7, 1, 12)), 2000);
    EXPECT_EQ(log.releasedAt(encodeDateTime(2018, 7, 2)), 2500);
    EXPECT_FALSE(log.releasedAt(encodeDateTime(2018, 7, 1, 11)).has_value());

    kwd::writeWholeFile(dir.file("other.log"), "Particle Factor: 2000\r\n");
    EXPECT_EQ(errorOf([&] { readRunLog(dir.file("other.log")); }),
              "InputError: run log \"" + dir.file("other.log") +
                  "\": the first line is not the detector line \"Detector xMin: ... Detector zMax: ...\"");
    EXPECT_EQ(errorOf([&] { readRunLog(dir.file("none.log")); }),
              "InputError: run log \"" + dir.file("none.log") +
                  "\" not found (the detector box is read from it)");
}

// A 4 x 3 grid of 2 m x 3 m cells with outputs at 11:30 and 12:00.
struct tTwoOutputs : kwd::test::tTrajectoryFixture {
    const kwd::tDateTime t1130 = encodeDateTime(2018, 7, 1, 11, 30);
    const kwd::tDateTime t1200 = encodeDateTime(2018, 7, 1, 12);
    tTwoOutputs() : tTrajectoryFixture(4, 3, 2, {2, 2, 2, 2}, {3, 3, 3}, {1, 1}) {
        std::vector<double> flux(12, 0.0), source(12, 0.0);
        flux[0] = 20;   // (0, 0)
        flux[1] = 20;   // (1, 0)
        flux[11] = 60;  // (3, 2)
        source[0] = 3;
        source[11] = 4;
        writeGrids(t1130, flux, std::vector<double>(12, 0.0), source);
        std::vector<double> one(12, 0.0);
        one[0] = 1;
        writeGrids(t1200, one, one, one);
        writeOutputDataSet(t1200, std::vector<float>(12, 0.0f));
        writeLog({kDetectorLine, "Particle Factor: 1000", "Date;Time;TotalParticles",
                  "01.07.2018;11:30:00;1000", "01.07.2018;11:30:00;2000"});
    }
};

TEST(TrajectoryFolder, OutputsInTimeOrderAndSelection) {
    tTwoOutputs f;
    const tTrajectoryFolder folder(f.folder + "/");
    EXPECT_EQ(folder.project(), "Park");
    ASSERT_EQ(folder.outputs().size(), 2u);
    EXPECT_EQ(folder.outputs()[0].time, f.t1130);
    EXPECT_EQ(folder.outputs()[1].time, f.t1200);
    EXPECT_EQ(folder.select(std::nullopt).time, f.t1200);
    EXPECT_EQ(folder.select(f.t1130).time, f.t1130);
    EXPECT_EQ(errorOf([&] { folder.select(encodeDateTime(2018, 7, 1, 11)); }),
              "InputError: trajectory folder \"" + f.folder +
                  "\" has no output at 01.07.2018 11:00:00; its outputs are at 01.07.2018 "
                  "11:30:00, 01.07.2018 12:00:00");
}

TEST(TrajectoryFolder, FolderErrors) {
    kwd::test::tTempFolder dir;
    EXPECT_EQ(errorOf([&] { tTrajectoryFolder(dir.file("none")); }),
              "InputError: trajectory folder \"" + dir.file("none") + "\" not found");
    EXPECT_EQ(errorOf([&] { tTrajectoryFolder(dir.path()); }),
              "InputError: trajectory folder \"" + dir.path() +
                  "\" holds no footprint grid files (FlxFootprintIJ_...csv)");
    tTwoOutputs f;
    f.project = "Lake";
    f.writeGrids(f.t1200, std::vector<double>(12, 0.0), std::vector<double>(12, 0.0),
                 std::vector<double>(12, 0.0));
    EXPECT_EQ(errorOf([&] { tTrajectoryFolder(f.folder); }),
              "InputError: trajectory folder \"" + f.folder +
                  "\" holds the grid files of several projects (\"Lake\", \"Park\")");
}

// The data set of the output's own time first, then any of the folder, then
// the simulation's atmosphere data sets.
TEST(TrajectoryFolder, DataSetOfTheOutputIsPreferred) {
    tTwoOutputs f;
    const std::string tmp = f.writeOutputDataSet(f.t1130, std::vector<float>(12, 0.0f), "TMP_VirtPart_");
    const tTrajectoryFolder folder(f.folder);
    EXPECT_EQ(folder.findDataSet(folder.outputs()[0], 4, 3), tmp);
    EXPECT_EQ(folder.findDataSet(folder.outputs()[1], 4, 3),
              f.folder + "/VirtPart_Park_01.07.2018 12.00.00.ZDX");
    EXPECT_EQ(errorOf([&] { folder.findDataSet(folder.outputs()[1], 5, 3); }),
              "InputError: no data set with the cell sizes of the 5 x 3 grid found in \"" + f.folder +
                  "\" or \"" + f.root.file("atmosphere") + "\"");

    // Only an atmosphere data set beside the folder.
    kwd::test::tTrajectoryFixture g(2, 2, 1, {5, 5}, {5, 5}, {1});
    g.writeGrids(encodeDateTime(2018, 7, 1, 12), std::vector<double>(4, 0.0),
                 std::vector<double>(4, 0.0), std::vector<double>(4, 0.0));
    kwd::createFolders(g.root.file("atmosphere"));
    TZDXFile d = kwd::test::descriptor(2, 2, 1, {5, 5}, {5, 5}, {1});
    d.nameVars = {"Objects ( )"};
    kwd::test::writeDataSet(g.root.file("atmosphere/Park_AT_2018-07-01_12.00.00"), d,
                            {{1, 0, 0, 0}});
    const tTrajectoryFolder only(g.folder);
    const tOutputData data = only.load(only.outputs()[0]);
    EXPECT_EQ(data.dataSetPath, g.root.file("atmosphere/Park_AT_2018-07-01_12.00.00.ZDX"));
    EXPECT_EQ(data.obstacle, (std::vector<uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(data.grid.xFace, (std::vector<double>{0, 5, 10}));
}

TEST(Summary, OneLinePerOutputTime) {
    tTwoOutputs f;
    const std::vector<std::string> expected = {
        "Project: Park",
        "Detector: x 2 to 4 m, y 3 to 6 m, z 0.3 to 1.5 m",  // 7 digits of the float
        "Date;Time;ParticlesReleased;Hits;FlxPeakI;FlxPeakJ;FlxPeakDistance[m];FlxSourceArea80[m2];"
        "ConPeakI;ConPeakJ;ConPeakDistance[m];ConSourceArea80[m2]",
        // Peak (3, 2) at (7, 7.5), 5 m from the detector centre (3, 4.5); the
        // 80 % region holds the peak and both cells of 20 (ties): 3 x 6 m².
        "01.07.2018;11:30:00;2000;7;3;2;5.00;18.00;-999;-999;-999;-999",
        // Not in the log: -999; peak (0, 0) at (1, 1.5), sqrt(13) m away.
        "01.07.2018;12:00:00;-999;1;0;0;3.61;6.00;0;0;3.61;6.00",
    };
    EXPECT_EQ(summaryLines(tTrajectoryFolder(f.folder)), expected);

    std::ostringstream out;
    EXPECT_EQ(runKwdExport({"summary", f.folder}, out), 0);
    std::string joined;
    for (const auto& l : expected) joined += l + "\n";
    EXPECT_EQ(out.str(), joined);
}

std::string missing(int n) {
    std::string s;
    for (int k = 0; k < n; ++k) s += k == 0 ? "-999" : ";-999";
    return s;
}

TEST(DensityFolder, MeasurementTimesBesideTheOutputTimes) {
    kwd::test::tDensityFixture f;
    const tTrajectoryFolder folder(f.folder);
    ASSERT_TRUE(folder.hasDensities());
    ASSERT_EQ(folder.measurements().size(), 2u);  // the Mean file is no time
    EXPECT_EQ(folder.measurements()[0].time, f.t1100);
    EXPECT_EQ(folder.measurements()[1].time, f.t1130);
    ASSERT_EQ(folder.outputs().size(), 1u);
    EXPECT_EQ(folder.outputs()[0].time, f.t1200);
    EXPECT_EQ(folder.selectMeasurement(std::nullopt).time, f.t1130);
    EXPECT_EQ(errorOf([&] { folder.selectMeasurement(f.t1200); }),
              "InputError: trajectory folder \"" + f.folder +
                  "\" has no measurement time at 01.07.2018 12:00:00; its measurement times are "
                  "at 01.07.2018 11:00:00, 01.07.2018 11:30:00");

    const tDensityData d = folder.loadDensities(folder.measurements()[1]);
    EXPECT_EQ(d.flux, f.flux);
    EXPECT_EQ(d.concentration, f.con);
    EXPECT_EQ(d.hits[4], 3.0);
    EXPECT_EQ(d.grid.xFace, (std::vector<double>{0, 1, 3, 6}));
    EXPECT_EQ(d.obstacle[6], 1);
    const tDensityData mean = folder.loadMeanDensity();
    EXPECT_TRUE(mean.mean);
    EXPECT_EQ(mean.flux[4], 0.025);
    EXPECT_TRUE(mean.concentration.empty());

    // Normalised footprints alone make a folder too; the older one has no climatology.
    for (const char* prefix : {"FlxFootprintIJ_", "ConFootprintIJ_", "SourceStrengthIJ_"})
        std::filesystem::remove(f.folder + "/" + prefix + "01.07.2018 12.00.00Park.csv");
    EXPECT_EQ(tTrajectoryFolder(f.folder).measurements().size(), 2u);
    tTwoOutputs old;
    EXPECT_FALSE(tTrajectoryFolder(old.folder).hasDensities());
    EXPECT_EQ(errorOf([&] { tTrajectoryFolder(old.folder).loadMeanDensity(); }),
              "InputError: trajectory folder \"" + old.folder +
                  "\" holds no climatology \"FluxFootprintDensityIJ_Mean_Park.csv\"");
}

// Areas by hand (tDensityFixture): F x A of the cells highest density first
// 0.2 (4 m²), 0.08 (2 m²), 0.15 (6 m²), 0.07 (4 m²) of 0.5: half needs two
// cells (6 m²), 80 % three (12 m²), 90 % all (16 m²). C x A: 1.2 (6 m²) is
// 75 % of 1.6, then 0.4 (4 m²). Peaks: F at (1, 1), centre (2, 3), sqrt(13)
// m from the detector centre (5, 5); C at (2, 2), centre (4.5, 5), 0.5 m.
TEST(DensityFolder, SummaryPerMeasurementTimeAndMean) {
    kwd::test::tDensityFixture f;
    const std::vector<std::string> expected = {
        "Project: Park",
        "Detector: x 4 to 6 m, y 4 to 6 m, z 0 to 1 m",
        "Date;Time;Released;Hits;NegativeTakeOff;FluxShare;FlxPeakI;FlxPeakJ;FlxPeak[m^-2];"
        "FlxPeakDistance[m];FlxArea50[m2];FlxArea80[m2];FlxArea90[m2];ConPeakI;ConPeakJ;"
        "ConPeak[s m^-3];ConPeakDistance[m];ConArea50[m2];ConArea80[m2];ConArea90[m2];Surface11;"
        "Surface12",
        "01.07.2018;11:00:00;1000;0;0;0.0000;" + missing(7) + ";" + missing(7) + ";0.0000;0.0000",
        "01.07.2018;11:30:00;1000;8;2;0.5000;1;1;0.05;3.61;6.00;12.00;16.00;2;2;0.2;0.50;6.00;"
        "10.00;10.00;0.6000;0.4000",
        // Totals of the counts; the flux share of the climatology is its F x A.
        "Mean;;2000;8;2;0.2500;1;1;0.025;3.61;6.00;12.00;16.00;" + missing(7) + ";0.6000;0.4000",
    };
    EXPECT_EQ(summaryLines(tTrajectoryFolder(f.folder)), expected);
}

TEST(DensityFolder, SummaryNamesTheFaultyFile) {
    struct Case {
        std::string file, text, expected;  // "@" is the folder
    };
    const std::string grid = "ConFootprintDensityIJ_01.07.2018 11.30.00Park.csv";
    const Case cases[] = {
        {"Footprints_Park.csv",
         "Date;Time;Released;Hits;FluxShare;NegativeTakeOff\r\n01.07.2018;11:00:00;1000;0;0;0\r\n",
         "InputError: footprint table \"@/Footprints_Park.csv\" has no line for 01.07.2018 11:30:00"},
        {"FootprintSurfaces_Park.csv", "Date;Time;11\r\n01.07.2018;11:00:00;0\r\n01.07.2018;11:30:00;1\r\n",
         "InputError: surface table \"@/FootprintSurfaces_Park.csv\": no \"Mean\" line at the end"},
        {grid, "0;0;0\r\n0;x;0\r\n0;0;0\r\n",
         "InputError: grid file \"@/" + grid + "\", line 2, field 2: \"x\" is not a number"},
        {grid, "0;0;0\r\n0;0;0\r\n",
         "InputError: the normalised footprint files of 01.07.2018 11:30:00 in \"@\" differ in size "
         "(3 x 3 and 3 x 2)"},
    };
    for (const Case& c : cases) {
        kwd::test::tDensityFixture f;
        kwd::writeWholeFile(f.folder + "/" + c.file, c.text);
        std::string e = c.expected;
        for (size_t p; (p = e.find('@')) != std::string::npos;) e.replace(p, 1, f.folder);
        EXPECT_EQ(errorOf([&] { summaryLines(tTrajectoryFolder(f.folder)); }), e) << c.file;
    }
}

TEST(FootprintTables, ReadAndRefused) {
    kwd::test::tTempFolder dir;
    const std::string table = dir.file("Footprints_P.csv");
    kwd::writeWholeFile(table, "Date;Time;Released;Hits;FluxShare;NegativeTakeOff\r\n"
                               "01.07.2018;00:00:00;1000000;8123;0.51234000000000000;412\r\n"
                               "01.07.2018;11:00:00;5;0;0.00000000000000000;0\r\n");
    const std::vector<tFootprintRow> rows = readFootprintTable(table);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].time, encodeDateTime(2018, 7, 1));
    EXPECT_EQ(rows[0].released, 1000000);
    EXPECT_EQ(rows[0].hits, 8123);
    EXPECT_EQ(rows[0].fluxShare, 0.51234);
    EXPECT_EQ(rows[0].negativeTakeOff, 412);
    EXPECT_EQ(rows[1].time, encodeDateTime(2018, 7, 1, 11));

    const std::string surfaces = dir.file("FootprintSurfaces_P.csv");
    kwd::writeWholeFile(surfaces, "Date;Time;11;12\r\n01.07.2018;11:00:00;0.25;0.75\r\nMean;;0.5;0.5\r\n");
    const tSurfaceShares s = readSurfaceTable(surfaces);
    EXPECT_EQ(s.codes, (std::vector<int64_t>{11, 12}));
    ASSERT_EQ(s.rows.size(), 1u);
    EXPECT_EQ(s.rows[0].first, encodeDateTime(2018, 7, 1, 11));
    EXPECT_EQ(s.rows[0].second, (std::vector<double>{0.25, 0.75}));
    EXPECT_EQ(s.mean, (std::vector<double>{0.5, 0.5}));

    const std::string head = "Date;Time;Released;Hits;FluxShare;NegativeTakeOff\r\n";
    const std::string row = "01.07.2018;11:00:00;1000;8;0.5;2\r\n";
    struct Case {
        bool footprints;  // else the surface table
        std::string text, expected;  // "@" is the file, "#" its kind and path
    };
    const Case cases[] = {
        {true, "Date;Time;Released;Hits;FluxShare\r\n" + row,
         "# line 1: the header is not \"Date;Time;Released;Hits;FluxShare;NegativeTakeOff\""},
        {true, head + "01.07.2018;11:00:00;1000;8;0.5\r\n", "# line 2: 5 fields, 6 expected"},
        {true, head + "32.07.2018;11:00:00;1000;8;0.5;2\r\n",
         "# line 2, field 1 (Date): \"32.07.2018\" is not a date"},
        {true, head + "01.07.2018;25:00:00;1000;8;0.5;2\r\n",
         "# line 2, field 2 (Time): \"25:00:00\" is not a time"},
        {true, head + "01.07.2018;11:00:00;-5;8;0.5;2\r\n",
         "# line 2, field 3 (Released): \"-5\" is not a count"},
        {true, head + "01.07.2018;11:00:00;1000;8;x;2\r\n",
         "# line 2, field 5 (FluxShare): \"x\" is not a number"},
        {true, head + "01.07.2018;11:00:00;1000;8;0.5;2.5\r\n",
         "# line 2, field 6 (NegativeTakeOff): \"2.5\" is not a count"},
        {true, head + row + row, "# line 3: 01.07.2018 11:00:00 does not follow the time of the line before"},
        {true, "", "InputError: footprint table \"@\" is empty"},
        {false, "Date;Time;12;11\r\nMean;;0;0\r\n",
         "# line 1, field 4 (surface code): \"11\" does not follow the code before in ascending order"},
        {false, "Date;Code;11\r\nMean;;0\r\n", "# line 1: the header does not start with \"Date;Time\""},
        {false, "Date;Time;11\r\n01.07.2018;11:00:00;0.5;0.5\r\nMean;;0\r\n", "# line 2: 4 fields, 3 expected"},
        {false, "Date;Time;11\r\nMean;;0\r\n01.07.2018;11:00:00;0.5\r\n",
         "# line 3: a line after the \"Mean\" line"},
        {false, "Date;Time;11\r\n01.07.2018;11:00:00;NaN\r\nMean;;0\r\n",
         "# line 2, field 3 (11): \"NaN\" is not a number"},
        {false, "Date;Time;11\r\n01.07.2018;11:00:00;0.5\r\n",
         "InputError: surface table \"@\": no \"Mean\" line at the end"},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file("bad.csv");
        kwd::writeWholeFile(path, c.text);
        std::string e = c.expected;
        const std::string kind = c.footprints ? "footprint table" : "surface table";
        if (e[0] == '#') e.replace(0, 1, "InputError: " + kind + " \"" + path + "\",");
        if (const size_t at = e.find('@'); at != std::string::npos) e.replace(at, 1, path);
        EXPECT_EQ(errorOf([&] {
                      if (c.footprints) readFootprintTable(path);
                      else readSurfaceTable(path);
                  }),
                  e)
            << c.text;
    }
    EXPECT_EQ(errorOf([&] { readFootprintTable(dir.file("none.csv")); }),
              "InputError: footprint table \"" + dir.file("none.csv") + "\" not found");
}

TEST(Summary, ProgramReportsErrorsOnStandardOutput) {
    kwd::test::tTempFolder dir;
    const std::string cmd = std::string("'") + KWD_EXPORT_PROGRAM + "' summary '" + dir.file("none") +
                            "' > '" + dir.file("out.txt") + "'";
    const int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(kwd::readWholeFile(dir.file("out.txt")),
              "InputError: trajectory folder \"" + dir.file("none") + "\" not found\n");
}

}  // namespace

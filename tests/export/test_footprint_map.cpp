#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/ExportFixtures.h"
#include "support/ExportReaders.h"
#include "export/u_ExportProgram.h"
#include "export/u_FootprintMap.h"
#include "export/u_Georef.h"
#include "export/u_TrajectoryFolder.h"
#include "platform/DateTime.h"
#include "platform/FileIO.h"

using kwd::exporter::colourScaleOf;
using kwd::exporter::densityMapOf;
using kwd::exporter::footprintMapOf;
using kwd::exporter::kDetectorColour;
using kwd::exporter::kEmptyColour;
using kwd::exporter::kExportUsage;
using kwd::exporter::kObstacleColour;
using kwd::exporter::mapLayout;
using kwd::exporter::meanWindInBox;
using kwd::exporter::parseMapLevels;
using kwd::exporter::readModelPlacement;
using kwd::exporter::readRunLog;
using kwd::exporter::runKwdExport;
using kwd::exporter::scaleColour;
using kwd::exporter::surfaceColour;
using kwd::exporter::tColourScale;
using kwd::exporter::tFootprintMap;
using kwd::exporter::tFootprintValues;
using kwd::exporter::tMapLayout;
using kwd::exporter::tModelPlacement;
using kwd::exporter::tRgb;
using kwd::exporter::tRunLog;
using kwd::exporter::tTrajectoryFolder;
using kwd::exporter::valueColour;

// Fontconfig, which cairo uses to find its fonts, keeps caches for the life
// of the process; the leak checker of sanitizer builds is told so.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

namespace {

using kwd::encodeDateTime;

struct tPixel {
    int r, g, b;
};

// A PNG read back through cairo.
class tPng {
public:
    explicit tPng(const std::string& path)
        : fSurface(cairo_image_surface_create_from_png(path.c_str())) {}
    ~tPng() { cairo_surface_destroy(fSurface); }
    bool ok() const { return cairo_surface_status(fSurface) == CAIRO_STATUS_SUCCESS; }
    int width() const { return cairo_image_surface_get_width(fSurface); }
    int height() const { return cairo_image_surface_get_height(fSurface); }
    tPixel at(double x, double y) const {
        cairo_surface_flush(fSurface);
        const unsigned char* data = cairo_image_surface_get_data(fSurface);
        const int stride = cairo_image_surface_get_stride(fSurface);
        uint32_t v = 0;
        std::memcpy(&v, data + int(y) * stride + 4 * int(x), 4);
        return {int(v >> 16 & 0xff), int(v >> 8 & 0xff), int(v & 0xff)};
    }

private:
    cairo_surface_t* fSurface;
};

::testing::AssertionResult near(const tPixel& p, const tRgb& c) {
    const int r = int(std::lround(c.r * 255)), g = int(std::lround(c.g * 255)),
              b = int(std::lround(c.b * 255));
    if (std::abs(p.r - r) <= 1 && std::abs(p.g - g) <= 1 && std::abs(p.b - b) <= 1)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << p.r << ", " << p.g << ", " << p.b
                                         << ") is not (" << r << ", " << g << ", " << b << ")";
}

// A 10 x 8 grid of 2 m cells (20 m x 16 m) with a footprint around (6, 5),
// obstacles in the lower left and a lawn cell that is no obstacle.
struct tMapFixture : kwd::test::tTrajectoryFixture {
    const kwd::tDateTime t = encodeDateTime(2018, 7, 1, 12);
    std::vector<double> flux = std::vector<double>(80, 0.0);
    tMapFixture()
        : tTrajectoryFixture(10, 8, 2, std::vector<float>(10, 2.0f), std::vector<float>(8, 2.0f),
                             {1, 1}) {
        auto at = [&](int i, int j) -> double& { return flux[size_t(i + 10 * j)]; };
        at(6, 5) = 1.0;  // alone 50 % of the total 2.0
        at(5, 5) = 0.4;
        at(7, 5) = 0.3;
        at(6, 4) = 0.2;
        at(6, 6) = 0.1;
        std::vector<double> con = flux;
        for (double& v : con) v *= 3;
        writeGrids(t, flux, con, flux);
        std::vector<float> ground(80, 0.0f);
        ground[1 + 10 * 1] = 1;
        ground[2 + 10 * 1] = 1;
        ground[1 + 10 * 2] = 1;
        ground[8 + 10 * 1] = 11;  // lawn
        writeOutputDataSet(t, ground);
        writeLog({"Detector xMin: 2 Detector xMax: 4 Detector yMin: 12 Detector yMax: 14 Detector "
                  "zMin: 0 Detector zMax: 1",
                  "Particle Factor: 10", "Date;Time;TotalParticles", "01.07.2018;12:00:00;10"});
    }
};

TEST(FootprintMap, ObstaclesFootprintAndDetectorWhereTheyBelong) {
    tMapFixture f;
    const std::string png = f.root.file("map.png");
    std::ostringstream out;
    ASSERT_EQ(runKwdExport({"map", f.folder, png}, out), 0) << out.str();
    EXPECT_EQ(out.str(), "Wrote \"" + png + "\": footprint map of 01.07.2018 12:00:00\n");

    const tPng image(png);
    ASSERT_TRUE(image.ok());
    const tFootprintMap map =
        footprintMapOf(tTrajectoryFolder(f.folder), tTrajectoryFolder(f.folder).load(
                                                        tTrajectoryFolder(f.folder).outputs()[0]),
                       readRunLog(f.folder + "/logFile.log"));
    const tMapLayout layout = mapLayout(map);
    EXPECT_EQ(image.width(), layout.width);
    EXPECT_EQ(image.height(), layout.height);
    EXPECT_EQ(layout.scale, 26.0);  // the longer side, 20 m, over 520 pixels
    EXPECT_EQ(layout.plotWidth, 520.0);
    EXPECT_EQ(layout.plotHeight, 416.0);

    // The peak has the top colour of the scale in both panels.
    const tRgb top = scaleColour(1.0);
    for (int p = 0; p < 2; ++p) {
        auto cell = [&](int i, int j) {
            return image.at(layout.pixelX(p, 2.0 * i + 1.0), layout.pixelY(2.0 * j + 1.0));
        };
        EXPECT_TRUE(near(cell(6, 5), top)) << "panel " << p;
        EXPECT_TRUE(near(cell(1, 1), kObstacleColour)) << "panel " << p;
        EXPECT_TRUE(near(cell(2, 1), kObstacleColour)) << "panel " << p;
        EXPECT_TRUE(near(cell(1, 2), kObstacleColour)) << "panel " << p;
        EXPECT_TRUE(near(cell(8, 1), surfaceColour(11))) << "panel " << p;  // lawn, no footprint
        EXPECT_TRUE(near(cell(3, 3), kEmptyColour)) << "panel " << p;
        // The lowest value (0.1 at (6, 6)) sits one decade below the peak.
        const tColourScale scale = colourScaleOf(map.panels[size_t(p)].values);
        EXPECT_TRUE(near(cell(6, 6), valueColour(0.1 * (p == 0 ? 1 : 3), scale))) << "panel " << p;
        EXPECT_TRUE(near(cell(6, 6), scaleColour(0.0))) << "panel " << p;
        // The left side of the detector box, x = 2 m, between y = 12 and 14 m.
        EXPECT_TRUE(near(image.at(layout.pixelX(p, 2.0) - 0.5, layout.pixelY(13.0)), kDetectorColour))
            << "panel " << p;
        // The 50 % outline runs along the faces of the peak cell.
        const tPixel edge = image.at(layout.pixelX(p, 13.0), layout.pixelY(12.0));
        EXPECT_LT(edge.r + edge.g + edge.b, 60) << "panel " << p;
    }
}

TEST(FootprintMap, TimeSelectionAndUsageErrors) {
    tMapFixture f;
    const std::string png = f.root.file("m.png");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    const std::string usage = std::string("; ") + kExportUsage;
    const Case cases[] = {
        {{"map", f.folder, "--time", "01.07.2018 12:00:00", png}, 0,
         "Wrote \"" + png + "\": footprint map of 01.07.2018 12:00:00\n"},
        {{"map", f.folder, "--time", "01.07.2018 11:00:00", png}, 1,
         "InputError: trajectory folder \"" + f.folder +
             "\" has no output at 01.07.2018 11:00:00; its outputs are at 01.07.2018 12:00:00\n"},
        {{"map", f.folder, "--time", "noon", png}, 1,
         "ConversionError: \"noon\" is not a time of the form dd.mm.yyyy hh:mm:ss\n"},
        {{"map", f.folder, "--time"}, 1, "InputError: --time needs a date and time" + usage + "\n"},
        {{"map", f.folder}, 1,
         "InputError: the map command takes a trajectory folder and an output file" + usage + "\n"},
        {{"map", f.folder, "--colour", png}, 1, "InputError: unknown option \"--colour\"" + usage + "\n"},
        {{"draw", f.folder}, 1, "InputError: unknown command \"draw\"" + usage + "\n"},
        {{}, 1, "InputError: no command given" + usage + "\n"},
    };
    for (const Case& c : cases) {
        std::ostringstream out;
        EXPECT_EQ(runKwdExport(c.args, out), c.status) << c.out;
        EXPECT_EQ(out.str(), c.out);
    }
    EXPECT_TRUE(kwd::fileExists(png));
    EXPECT_EQ(kwd::test::temporaryFiles(f.root.path()), std::vector<std::string>{});
}

TEST(FootprintMap, EmptyFootprintStillDraws) {
    tMapFixture f;
    f.writeGrids(f.t, std::vector<double>(80, 0.0), std::vector<double>(80, 0.0),
                 std::vector<double>(80, 0.0));
    const std::string png = f.root.file("empty.png");
    std::ostringstream out;
    ASSERT_EQ(runKwdExport({"map", f.folder, png}, out), 0) << out.str();
    const tPng image(png);
    ASSERT_TRUE(image.ok());
    const tTrajectoryFolder folder(f.folder);
    const tMapLayout layout = mapLayout(
        footprintMapOf(folder, folder.load(folder.outputs()[0]), readRunLog(folder.logPath())));
    EXPECT_TRUE(near(image.at(layout.pixelX(0, 13.0), layout.pixelY(11.0)), kEmptyColour));
    EXPECT_TRUE(near(image.at(layout.pixelX(1, 3.0), layout.pixelY(3.0)), kObstacleColour));
}

// The normalised footprints: flux and concentration of the latest
// measurement time by default, coloured by density; the climatology alone.
TEST(DensityMap, MeasurementTimeAndClimatology) {
    kwd::test::tDensityFixture f;
    const tTrajectoryFolder folder(f.folder);
    const tRunLog log = readRunLog(folder.logPath());
    const tFootprintMap map = densityMapOf(folder, folder.loadDensities(folder.measurements()[1]), log);
    ASSERT_EQ(map.panels.size(), 2u);
    EXPECT_EQ(map.title, "Park, measurement time 01.07.2018 11:30:00");
    EXPECT_EQ(map.panels[0].barLabel, "flux footprint (m^-2)");
    EXPECT_EQ(map.panels[1].barLabel, "concentration footprint (s m^-3)");
    EXPECT_EQ(map.panels[0].kind, tFootprintValues::densities);
    EXPECT_EQ(map.panels[1].values, f.con);
    const tFootprintMap mean = densityMapOf(folder, folder.loadMeanDensity(), log);
    ASSERT_EQ(mean.panels.size(), 1u);
    EXPECT_EQ(mean.title, "Park, the mean of 2 measurement times");
    EXPECT_EQ(mean.panels[0].barLabel, "flux footprint (m^-2)");

    const std::string png = f.root.file("map.png");
    std::ostringstream out;
    ASSERT_EQ(runKwdExport({"map", f.folder, png}, out), 0) << out.str();
    EXPECT_EQ(out.str(), "Wrote \"" + png + "\": footprint map of 01.07.2018 11:30:00\n");
    const tPng image(png);
    ASSERT_TRUE(image.ok());
    const tMapLayout layout = mapLayout(map);
    EXPECT_EQ(image.width(), layout.width);
    const double xCentre[3] = {0.5, 2, 4.5}, yCentre[3] = {1, 3, 5};
    auto cell = [&](int p, int i, int j) {
        return image.at(layout.pixelX(p, xCentre[i]), layout.pixelY(yCentre[j]));
    };
    EXPECT_TRUE(near(cell(0, 1, 1), scaleColour(1.0)));  // F peak 0.05
    EXPECT_TRUE(near(cell(0, 1, 2), valueColour(0.0175, colourScaleOf(f.flux))));
    EXPECT_TRUE(near(cell(1, 2, 2), scaleColour(1.0)));  // C peak 0.2
    EXPECT_TRUE(near(cell(0, 0, 2), kObstacleColour));
    // The 50 % region, (0, 1) and (1, 1), ends at x = 3 m.
    const tPixel edge = image.at(layout.pixelX(0, 3.0), layout.pixelY(3.0));
    EXPECT_LT(edge.r + edge.g + edge.b, 60);

    struct Case {
        std::vector<std::string> args;
        std::string out;
        int panels;
    };
    const std::string usage = std::string("; ") + kExportUsage;
    const Case cases[] = {
        {{"map", f.folder, "--mean", png}, "Wrote \"" + png + "\": footprint map of the mean of 2 measurement times\n", 1},
        {{"map", f.folder, "--time", "01.07.2018 11:00:00", png},
         "Wrote \"" + png + "\": footprint map of 01.07.2018 11:00:00\n", 2},
        {{"map", f.folder, "--time", "01.07.2018 12:00:00", png},
         "InputError: trajectory folder \"" + f.folder + "\" has no measurement time at 01.07.2018 "
         "12:00:00; its measurement times are at 01.07.2018 11:00:00, 01.07.2018 11:30:00\n", 0},
        {{"map", f.folder, "--mean", "--time", "01.07.2018 11:00:00", png},
         "InputError: --time and --mean exclude each other" + usage + "\n", 0},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(png);
        std::ostringstream o;
        EXPECT_EQ(runKwdExport(c.args, o), c.panels > 0 ? 0 : 1) << c.out;
        EXPECT_EQ(o.str(), c.out);
        if (c.panels == 0) {
            EXPECT_FALSE(kwd::fileExists(png)) << c.out;
            continue;
        }
        const tPng drawn(png);
        ASSERT_TRUE(drawn.ok()) << c.out;
        EXPECT_EQ(drawn.width(), mapLayout(c.panels == 1 ? mean : map).width) << c.out;
    }
}

TEST(DensityMap, FormatFromTheExtension) {
    kwd::test::tDensityFixture f;
    struct Case {
        std::string name;
        std::string start;  // of the file; empty: refused
    };
    const Case cases[] = {
        {"m.png", "\x89PNG\r\n"},
        {"m.PNG", "\x89PNG\r\n"},
        {"m.pdf", "%PDF-"},
        {"m.svg", "<?xml"},
        {"m.jpg", ""},
        {"m", ""},
    };
    for (const Case& c : cases) {
        const std::string path = f.root.file(c.name);
        std::ostringstream out;
        const int status = runKwdExport({"map", f.folder, path}, out);
        if (c.start.empty()) {
            EXPECT_EQ(status, 1) << c.name;
            EXPECT_EQ(out.str(), "InputError: footprint map \"" + path +
                                     "\": the name must end in .png, .pdf or .svg (the format is "
                                     "chosen by it)\n");
            EXPECT_FALSE(std::filesystem::exists(path)) << c.name;
            continue;
        }
        ASSERT_EQ(status, 0) << out.str();
        const std::string bytes = kwd::readWholeFile(path);
        EXPECT_EQ(bytes.substr(0, c.start.size()), c.start) << c.name;
        if (c.name == "m.svg") {
            EXPECT_NE(bytes.find("<svg"), std::string::npos);
        }
    }
    EXPECT_EQ(kwd::test::temporaryFiles(f.root.path()), std::vector<std::string>{});
}

// The vector formats hold the words of the map: the PDF as text (read back
// with pdftotext), the SVG in its title and description. The wind, the
// surfaces, the scale bar, north and the regions asked for are among them.
TEST(DensityMap, VectorFormatsHoldTheLabels) {
    kwd::test::tRotatedFixture f;
    const std::string pdf = f.root.file("m.pdf"), svg = f.root.file("m.svg");
    std::ostringstream out;
    ASSERT_EQ(runKwdExport({"map", f.folder, "--levels", "95,60", pdf}, out), 0) << out.str();
    ASSERT_EQ(runKwdExport({"map", f.folder, "--levels", "95,60", svg}, out), 0) << out.str();
    const auto [status, extracted] =
        kwd::test::runCommand("pdftotext '" + pdf + "' -", f.root.file("pdf.txt"));
    ASSERT_EQ(status, 0) << extracted;
    // pdftotext guesses the blanks between words from their spacing.
    auto unblanked = [](std::string t) {
        std::erase(t, ' ');
        return t;
    };
    const std::string text = unblanked(extracted);
    for (const std::string label :
         {"Park, measurement time 01.07.2018 12:00:00", "flux footprint (m^-2)",
          "concentration footprint (s m^-3)", "wind 2.5 m/s", "2 m", "N", "60 % of the total",
          "95 % of the total", "emitting surface 11", "emitting surface 12", "detector"})
        EXPECT_NE(text.find(unblanked(label)), std::string::npos) << label << " not in\n" << extracted;
    EXPECT_EQ(text.find(unblanked("50 % of the total")), std::string::npos) << extracted;

    const std::string bytes = kwd::readWholeFile(svg);
    EXPECT_NE(bytes.find("<title>Park, measurement time 01.07.2018 12:00:00</title>"), std::string::npos);
    const size_t desc = bytes.find("<desc>"), end = bytes.find("</desc>");
    ASSERT_LT(desc, end);
    EXPECT_EQ(bytes.substr(desc + 6, end - desc - 6),
              "Flux footprint: flux footprint (m^-2). Concentration footprint: concentration "
              "footprint (s m^-3). Legend: obstacle (ground level), detector, 60 % of the total, "
              "95 % of the total, emitting surface 11, emitting surface 12.");
}

TEST(DensityMap, LevelsAreRefusedUnlessPercentages) {
    kwd::test::tDensityFixture f;
    const std::string png = f.root.file("m.png");
    const std::pair<std::string, std::string> cases[] = {
        {"50,abc", "\"abc\" is not a number"},
        {"0", "0 is not a percentage above 0 and below 100"},
        {"100", "100 is not a percentage above 0 and below 100"},
        {"80,80", "80 is given twice"},
        {"10,20,30,40,50,60", "at most 5 levels"},
        {"", "\"\" is not a number"},
    };
    for (const auto& [levels, why] : cases) {
        std::ostringstream out;
        EXPECT_EQ(runKwdExport({"map", f.folder, "--levels", levels, png}, out), 1) << levels;
        EXPECT_EQ(out.str(), "InputError: --levels \"" + levels + "\": " + why + "\n");
    }
    EXPECT_EQ(parseMapLevels("90,50,80.5"), (std::vector<double>{0.5, 0.805, 0.9}));
    EXPECT_FALSE(kwd::fileExists(png));
}

// The wind arrow points where the air goes, and the north arrow to grid
// north: on the rotated grid (y 30 degrees east of north) north points up
// and 30 degrees to the left.
TEST(DensityMap, WindAndNorthArrows) {
    kwd::test::tRotatedFixture f;
    const tTrajectoryFolder folder(f.folder);
    const auto wind = meanWindInBox(f.dataSet, readRunLog(folder.logPath()).detector);
    ASSERT_TRUE(wind.has_value());
    EXPECT_EQ(*wind, (std::pair{1.5, -2.0}));
    const tModelPlacement p = readModelPlacement(f.dataSet);
    EXPECT_NEAR(p.northInModel().first, -0.5, 1e-12);
    EXPECT_NEAR(p.northInModel().second, std::sqrt(3.0) / 2, 1e-12);
    // A data set of fewer than three variables has no wind.
    kwd::test::tDensityFixture g;
    EXPECT_FALSE(meanWindInBox(tTrajectoryFolder(g.folder).loadMeanDensity().dataSetPath,
                               readRunLog(g.folder + "/logFile.log").detector));
}

}  // namespace

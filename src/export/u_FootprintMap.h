#pragma once
// A footprint map: one or two coloured panels side by side (the flux and the
// concentration footprint of a time, or the flux climatology alone), each
// with its colour bar (logarithmic, three decades at most below the peak,
// labelled with the quantity and its unit), the emitting surfaces (ground
// object codes above 10) in light colours by code under the footprint, the
// obstacles (object code 1 at ground level) in grey, the detector box
// outlined in red, the regions enclosing the chosen fractions (50 %, 80 % and
// 90 % unless told otherwise) of the footprint's total outlined along the
// cell faces and labelled, a scale bar, the mean wind at the detector's
// height as an arrow and, when the grid is georeferenced or rotated, an arrow
// to grid north. Axes in model metres; the title names the project and the
// time. Drawn with cairo into a PNG, PDF or SVG file; the vector formats
// carry the title and labels as text (PDF) or as the SVG's title and
// description.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "export/u_FootprintStats.h"
#include "export/u_PlanGrid.h"

namespace kwd::exporter {

struct tMapPanel {
    std::string title;           // above the panel: "Flux footprint density"
    std::string barLabel;        // beside the colour bar: "flux footprint (m^-2)"
    std::vector<double> values;  // i fastest
    tFootprintValues kind = tFootprintValues::cellTotals;
};

// The most panels a map has.
constexpr int kMaxMapPanels = 2;

// The fractions of the total whose regions are outlined unless told otherwise.
constexpr std::array<double, 3> kMapContourFractions = {0.5, 0.8, 0.9};
// The most regions a map outlines.
constexpr size_t kMaxMapLevels = 5;

// The horizontal wind averaged over the cells of the detector box.
struct tMapWind {
    double u = 0, v = 0;  // m/s along the model's x and y axes
};

struct tFootprintMap {
    std::string title;  // "<project>, dd.mm.yyyy hh:mm:ss"
    tPlanGrid grid;
    std::vector<tMapPanel> panels;  // 1 or 2
    std::vector<uint8_t> obstacle;  // 1 for an obstacle cell
    std::vector<int32_t> groundCode;  // object code at ground level; empty: no surfaces drawn
    tDetectorBox detector;
    // Fractions (0 to 1, ascending, at most kMaxMapLevels) of the outlined regions.
    std::vector<double> levels = {kMapContourFractions.begin(), kMapContourFractions.end()};
    std::optional<tMapWind> wind;
    // Grid north in model coordinates (a unit vector): drawn when set.
    std::optional<std::pair<double, double>> north;
};

// Reads "--levels 50,80,90": percentages above 0 and below 100, at most
// kMaxMapLevels, each once; the fractions in ascending order. kwd::InputError
// for anything else.
std::vector<double> parseMapLevels(const std::string& text);


// Where things lie in the picture, in pixels from its top-left corner.
struct tMapLayout {
    int width = 0, height = 0;
    double scale = 0;           // pixels per model metre, the same along x and y
    int panels = 0;
    double plotLeft[kMaxMapPanels] = {0, 0};  // left edge of the plot area of each panel
    double plotTop = 0;
    double plotWidth = 0, plotHeight = 0;
    double modelWidth = 0, modelHeight = 0;  // metres

    // The pixel of the model position (x, y) in a panel; y grows upwards.
    double pixelX(int panel, double x) const { return plotLeft[panel] + x * scale; }
    double pixelY(double y) const { return plotTop + (modelHeight - y) * scale; }
};

tMapLayout mapLayout(const tFootprintMap& map);

struct tRgb {
    double r = 1, g = 1, b = 1;  // 0 to 1
};

// Colours of the map.
constexpr tRgb kObstacleColour = {0.6, 0.6, 0.6};
constexpr tRgb kEmptyColour = {1.0, 1.0, 1.0};
constexpr tRgb kDetectorColour = {0.85, 0.1, 0.1};
// The light colour of an emitting surface's object code (above 10).
tRgb surfaceColour(int32_t code);

// The colour scale of a panel: t = 0 at `low`, 1 at `high`, logarithmic.
struct tColourScale {
    double low = 0, high = 0;
    bool valid = false;  // false when the footprint has no positive value
};

tColourScale colourScaleOf(const std::vector<double>& values);
// The colour at position t in [0, 1] of the scale (clamped).
tRgb scaleColour(double t);
// The colour of a positive value on a valid scale.
tRgb valueColour(double value, const tColourScale& scale);

enum class tMapFormat { png, pdf, svg };

// The format named by the extension of `path` (".png", ".pdf", ".svg", in
// any case); kwd::InputError naming the path for any other.
tMapFormat mapFormatOf(const std::string& path);

// Renders the map into `path`, in the format of its extension (written under
// a temporary name beside it and renamed into place). Raises kwd::InputError
// for an unknown extension, kwd::GeneralError when drawing fails and
// kwd::FileError when the file cannot be written.
void renderFootprintMap(const tFootprintMap& map, const std::string& path);

}  // namespace kwd::exporter

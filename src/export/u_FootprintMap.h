#pragma once
// A footprint map: one or two coloured panels side by side (the flux and the
// concentration footprint of a time, or the flux climatology alone), each
// with its colour bar (logarithmic, three decades at most below the peak,
// labelled with the quantity and its unit), the obstacles (object code 1 at
// ground level) in grey, the detector box outlined in red and the regions
// enclosing 50 %, 80 % and 90 % of the footprint's total outlined along the
// cell faces and labelled. Axes in model metres; the title names the project
// and the time. Drawn with cairo into a PNG, PDF or SVG file.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "export/u_FootprintStats.h"
#include "export/u_PlanGrid.h"

struct tMapPanel {
    std::string title;           // above the panel: "Flux footprint density"
    std::string barLabel;        // beside the colour bar: "flux footprint (m^-2)"
    std::vector<double> values;  // i fastest
    tFootprintValues kind = tFootprintValues::cellTotals;
};

// The most panels a map has.
constexpr int kMaxMapPanels = 2;

struct tFootprintMap {
    std::string title;  // "<project>, dd.mm.yyyy hh:mm:ss"
    tPlanGrid grid;
    std::vector<tMapPanel> panels;  // 1 or 2
    std::vector<uint8_t> obstacle;  // 1 for an obstacle cell
    tDetectorBox detector;
};

// The fractions of the total whose regions are outlined.
constexpr std::array<double, 3> kMapContourFractions = {0.5, 0.8, 0.9};

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

tMapLayout mapLayout(const tPlanGrid& grid, int panels);

struct tRgb {
    double r = 1, g = 1, b = 1;  // 0 to 1
};

// Colours of the map.
constexpr tRgb kObstacleColour = {0.6, 0.6, 0.6};
constexpr tRgb kEmptyColour = {1.0, 1.0, 1.0};
constexpr tRgb kDetectorColour = {0.85, 0.1, 0.1};

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

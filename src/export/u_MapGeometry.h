#pragma once
// The geometry of a footprint map, apart from its drawing: the outlines of
// the source areas on the plan grid, and the steps and texts of the axes and
// of the colour scale.

#include <cstdint>
#include <string>
#include <vector>

#include "export/u_PlanGrid.h"

namespace kwd::exporter {

// A round step (1, 2 or 5 times a power of ten) that cuts range into about
// targetCount parts.
double niceStep(double range, double targetCount);
// An axis value with as many decimals as its step needs.
std::string tickText(double value, double step);
// "1e-4" for a power of ten, "2.3e-5" otherwise.
std::string scaleText(double value);

// The outline of the cells at or above `level`, as chains of grid nodes
// (node index a + (nI + 1) * b is the corner at xFace[a], yFace[b]).
struct tOutline {
    std::vector<std::vector<int64_t>> chains;
    struct tEdge {
        int64_t from, to;
        char side;  // 'r', 't', 'l', 'b': the side of the region's cell
    };
    std::vector<tEdge> edges;
};

// The outline of the cells of `values` at or above `level` (and above 0),
// its edges chained end to end so that dashes run on around corners.
tOutline outlineOf(const std::vector<double>& values, const tPlanGrid& g, double level);

}  // namespace kwd::exporter

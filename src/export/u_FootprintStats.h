#pragma once
// Measures of a footprint (a map of column sums on a plan grid): the levels
// whose regions enclose given fractions of its total, the source area of such
// a region, and the peak cell with its distance from the detector.
//
// The region of a fraction f is the smallest set of the highest cells whose
// values add up to at least f of the total; its level is the lowest value in
// it, and every cell at or above the level belongs to it, so a contour drawn
// at the level encloses exactly the region. The total is the sum of the
// positive values: cells of zero or negative value belong to no region.
//
// A footprint of densities (per m², the normalised footprints) weighs each
// cell by its area: the region of f is then the smallest area whose cells
// hold f of the sum of value x cell area, still taken highest density first.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "export/u_PlanGrid.h"

namespace kwd::exporter {

// The detector box in model metres.
struct tDetectorBox {
    double xMin = 0, xMax = 0, yMin = 0, yMax = 0, zMin = 0, zMax = 0;
    double centreX() const { return 0.5 * (xMin + xMax); }
    double centreY() const { return 0.5 * (yMin + yMax); }
};

struct tFootprintLevel {
    double fraction = 0;          // the fraction asked for (0.8 for 80 %)
    double level = 0;             // the lowest value in the region
    double enclosedFraction = 0;  // the part of the total the region holds (>= fraction)
    int64_t cells = 0;            // cells in the region
    double area = 0;              // their area, m²
};

// What a footprint's values are: totals per cell (the vertical sums of the
// grid files) or densities per m² (the normalised footprints).
enum class tFootprintValues { cellTotals, densities };

// The sum of the positive values.
double footprintTotal(std::span<const double> values);

// One level per fraction (each in (0, 1]), in the order given; empty when the
// footprint has no positive value. `values` is in the grid's i-fastest order.
// Raises kwd::InputError for a value that is not finite or a fraction out of
// range, and kwd::GeneralError when values and grid differ in size.
std::vector<tFootprintLevel> footprintLevels(std::span<const double> values, const tPlanGrid& grid,
                                             std::span<const double> fractions,
                                             tFootprintValues kind = tFootprintValues::cellTotals);

// The sum of value x cell area over the cells (m² x m^-2 = 1 for a flux
// footprint density that holds every particle).
double footprintIntegral(std::span<const double> values, const tPlanGrid& grid);

struct tFootprintPeak {
    int32_t i = 0, j = 0;
    double value = 0;
    double x = 0, y = 0;  // centre of the cell, m
    double distance = 0;  // horizontal distance of the centre from the detector's centre, m
};

// The cell of the highest positive value (the first in i-fastest order among
// equal ones); none when no value is positive.
std::optional<tFootprintPeak> footprintPeak(std::span<const double> values, const tPlanGrid& grid,
                                            const tDetectorBox& detector);

}  // namespace kwd::exporter

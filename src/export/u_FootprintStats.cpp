#include "export/u_FootprintStats.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>

#include "export/u_ExportText.h"
#include "platform/FpControl.h"
#include "platform/KwdError.h"

namespace kwd::exporter {

namespace {

void checkValues(std::span<const double> values, const tPlanGrid& grid) {
    if (values.size() != grid.cellCount())
        throw kwd::GeneralError("footprint of " + std::to_string(values.size()) +
                                " values on a grid of " + std::to_string(grid.nI) + " x " +
                                std::to_string(grid.nJ) + " cells");
    for (size_t n = 0; n < values.size(); ++n)
        if (!std::isfinite(values[n]))
            throw kwd::InputError("footprint value " + export_text::shortNumber(values[n]) +
                                  " in cell (" + std::to_string(n % size_t(grid.nI)) + ", " +
                                  std::to_string(n / size_t(grid.nI)) + ") is not a number");
}

}  // namespace

double footprintTotal(std::span<const double> values) {
    double total = 0.0;
    for (const double v : values)
        if (v > 0.0) total += v;
    return total;
}

std::vector<tFootprintLevel> footprintLevels(std::span<const double> values, const tPlanGrid& grid,
                                             std::span<const double> fractions,
                                             tFootprintValues kind) {
    checkValues(values, grid);
    for (const double f : fractions)
        if (!(f > 0.0 && f <= 1.0))
            throw kwd::InputError("footprint fraction " + export_text::shortNumber(f) +
                                  " is not within (0, 1]");
    kwd::clearFpFlags();
    auto area = [&](size_t c) {
        return grid.cellArea(int32_t(c % size_t(grid.nI)), int32_t(c / size_t(grid.nI)));
    };
    // What a cell adds to the total.
    auto weight = [&](size_t c) {
        return kind == tFootprintValues::densities ? values[c] * area(c) : values[c];
    };
    // Positive cells, highest first.
    std::vector<size_t> order;
    for (size_t n = 0; n < values.size(); ++n)
        if (values[n] > 0.0) order.push_back(n);
    std::vector<tFootprintLevel> levels;
    if (order.empty()) return levels;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return values[a] > values[b]; });
    std::vector<double> cumulative(order.size());
    double sum = 0.0;
    for (size_t n = 0; n < order.size(); ++n) cumulative[n] = sum += weight(order[n]);
    const double total = sum;

    for (const double f : fractions) {
        // First position whose running sum reaches f of the total; the
        // tolerance keeps an exact fraction (0.5 of 100) from missing by an ulp.
        const double target = f * total * (1.0 - 1e-12);
        size_t last = size_t(std::lower_bound(cumulative.begin(), cumulative.end(), target) -
                             cumulative.begin());
        last = std::min(last, order.size() - 1);
        tFootprintLevel l;
        l.fraction = f;
        l.level = values[order[last]];
        // Cells equal to the level belong to the region as well.
        while (last + 1 < order.size() && values[order[last + 1]] >= l.level) ++last;
        l.cells = int64_t(last + 1);
        l.enclosedFraction = cumulative[last] / total;
        for (size_t n = 0; n <= last; ++n) l.area += area(order[n]);
        levels.push_back(l);
    }
    kwd::checkFpFlags("footprint levels");
    return levels;
}

double footprintIntegral(std::span<const double> values, const tPlanGrid& grid) {
    checkValues(values, grid);
    kwd::clearFpFlags();
    double sum = 0.0;
    for (int32_t j = 0; j < grid.nJ; ++j)
        for (int32_t i = 0; i < grid.nI; ++i) sum += values[grid.index(i, j)] * grid.cellArea(i, j);
    kwd::checkFpFlags("footprint integral");
    return sum;
}

std::optional<tFootprintPeak> footprintPeak(std::span<const double> values, const tPlanGrid& grid,
                                            const tDetectorBox& detector) {
    checkValues(values, grid);
    size_t best = values.size();
    for (size_t n = 0; n < values.size(); ++n)
        if (values[n] > 0.0 && (best == values.size() || values[n] > values[best])) best = n;
    if (best == values.size()) return std::nullopt;
    kwd::clearFpFlags();
    tFootprintPeak p;
    p.i = int32_t(best % size_t(grid.nI));
    p.j = int32_t(best / size_t(grid.nI));
    p.value = values[best];
    p.x = grid.centreX(p.i);
    p.y = grid.centreY(p.j);
    p.distance = std::hypot(p.x - detector.centreX(), p.y - detector.centreY());
    kwd::checkFpFlags("footprint peak");
    return p;
}

}  // namespace kwd::exporter

#include "export/u_MapGeometry.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "export/u_ExportText.h"

namespace kwd::exporter {

double niceStep(double range, double targetCount) {
    const double raw = range / targetCount;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double norm = raw / magnitude;
    const double factor = norm < 1.5 ? 1 : norm < 3.5 ? 2 : norm < 7.5 ? 5 : 10;
    return factor * magnitude;
}

std::string tickText(double value, double step) {
    const int decimals = std::max(0, int(-std::floor(std::log10(step) + 1e-9)));
    return export_text::fixedNumber(value, decimals);
}

std::string scaleText(double value) {
    const int exponent = int(std::floor(std::log10(value) + 1e-9));
    const double mantissa = value / std::pow(10.0, exponent);
    std::string m = std::abs(mantissa - std::round(mantissa)) < 1e-9
                        ? export_text::fixedNumber(std::round(mantissa), 0)
                        : export_text::fixedNumber(mantissa, 1);
    if (m == "10") return "1e" + std::to_string(exponent + 1);
    return m + "e" + std::to_string(exponent);
}

tOutline outlineOf(const std::vector<double>& values, const tPlanGrid& g, double level) {
    const int32_t nI = g.nI, nJ = g.nJ;
    auto in = [&](int32_t i, int32_t j) {
        if (i < 0 || j < 0 || i >= nI || j >= nJ) return false;
        const double v = values[g.index(i, j)];
        return v > 0.0 && v >= level;
    };
    auto node = [&](int32_t a, int32_t b) { return int64_t(a) + int64_t(nI + 1) * b; };
    tOutline o;
    for (int32_t j = 0; j < nJ; ++j)
        for (int32_t i = 0; i < nI; ++i) {
            if (!in(i, j)) continue;
            if (!in(i, j - 1)) o.edges.push_back({node(i, j), node(i + 1, j), 'b'});
            if (!in(i, j + 1)) o.edges.push_back({node(i, j + 1), node(i + 1, j + 1), 't'});
            if (!in(i - 1, j)) o.edges.push_back({node(i, j), node(i, j + 1), 'l'});
            if (!in(i + 1, j)) o.edges.push_back({node(i + 1, j), node(i + 1, j + 1), 'r'});
        }
    // Chain the edges end to end so that dashes run on around corners.
    const size_t nodes = size_t(nI + 1) * size_t(nJ + 1);
    std::vector<std::vector<size_t>> at(nodes);
    for (size_t e = 0; e < o.edges.size(); ++e) {
        at[size_t(o.edges[e].from)].push_back(e);
        at[size_t(o.edges[e].to)].push_back(e);
    }
    std::vector<bool> used(o.edges.size(), false);
    for (size_t start = 0; start < o.edges.size(); ++start) {
        if (used[start]) continue;
        used[start] = true;
        std::vector<int64_t> chain = {o.edges[start].from, o.edges[start].to};
        for (;;) {
            const int64_t end = chain.back();
            size_t next = o.edges.size();
            for (const size_t e : at[size_t(end)])
                if (!used[e]) {
                    next = e;
                    break;
                }
            if (next == o.edges.size()) break;
            used[next] = true;
            chain.push_back(o.edges[next].from == end ? o.edges[next].to : o.edges[next].from);
        }
        o.chains.push_back(std::move(chain));
    }
    return o;
}

}  // namespace kwd::exporter

#include "export/u_FootprintMap.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cctype>
#include <filesystem>
#include <numbers>

#include "export/u_ExportText.h"
#include "export/u_MapGeometry.h"
#include "export/u_OutputFile.h"
#include "platform/FpControl.h"
#include "platform/KwdError.h"

namespace kwd::exporter {

namespace {

// Layout in pixels.
constexpr double kMargin = 12;
constexpr double kTitleHeight = 40;
constexpr double kPanelTitleHeight = 26;
constexpr double kAxisLeft = 66;
constexpr double kPanelGap = 20;
constexpr double kBarGap = 14;
constexpr double kBarWidth = 16;
constexpr double kBarLabels = 80;  // tick texts, then the bar's label along it
constexpr double kAxisBottom = 46;
constexpr double kLegendHeight = 30;
constexpr double kPlotLongSide = 520;
constexpr double kPlotShortSideMin = 120;
constexpr double kPlotLongSideMax = 1200;
// The colour scale spans at most this many decades below the peak.
constexpr double kDecades = 3;

const char* const kFont = "DejaVu Sans";

// Anchors of the colour scale (perceptually uniform, dark blue-violet to yellow).
constexpr tRgb kScaleAnchors[] = {
    {0.267, 0.005, 0.329}, {0.282, 0.141, 0.458}, {0.254, 0.265, 0.530}, {0.207, 0.372, 0.553},
    {0.164, 0.471, 0.558}, {0.128, 0.567, 0.551}, {0.135, 0.659, 0.518}, {0.267, 0.749, 0.441},
    {0.478, 0.821, 0.318}, {0.741, 0.873, 0.150}, {0.993, 0.906, 0.144},
};
constexpr int kAnchorCount = int(sizeof kScaleAnchors / sizeof kScaleAnchors[0]);

struct tLineStyle {
    double width;
    std::vector<double> dashes;
};
const tLineStyle kContourStyles[kMaxMapLevels] = {
    {2.2, {}}, {2.0, {7.0, 4.0}}, {2.0, {2.0, 3.0}}, {1.6, {10.0, 3.0, 2.0, 3.0}}, {1.2, {}}};

// Light colours of the emitting surfaces, by code (code 11 the first).
constexpr tRgb kSurfaceColours[] = {
    {0.84, 0.93, 0.80}, {0.80, 0.89, 0.97}, {0.96, 0.91, 0.78}, {0.93, 0.84, 0.91},
    {0.86, 0.86, 0.95}, {0.95, 0.86, 0.82}, {0.85, 0.94, 0.93}, {0.92, 0.92, 0.84},
};

std::string percentText(double fraction) { return export_text::floatNumber(fraction * 100) + " %"; }

// The codes of the emitting surfaces on the ground, ascending.
std::vector<int32_t> surfaceCodes(const tFootprintMap& map) {
    std::vector<int32_t> codes;
    for (const int32_t c : map.groundCode)
        if (c > 10 && std::find(codes.begin(), codes.end(), c) == codes.end()) codes.push_back(c);
    std::sort(codes.begin(), codes.end());
    return codes;
}

struct tBox {
    double x0, y0, x1, y1;
    bool overlaps(const tBox& o) const { return x0 < o.x1 && o.x0 < x1 && y0 < o.y1 && o.y0 < y1; }
};

void setColour(cairo_t* cr, const tRgb& c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

void setFont(cairo_t* cr, double size, bool bold = false) {
    cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
}

// Draws text with its anchor at (x, y): hAlign 0 left, 0.5 centre, 1 right;
// the text is centred vertically on y.
tBox drawText(cairo_t* cr, const std::string& text, double x, double y, double hAlign,
              bool draw = true) {
    cairo_text_extents_t te;
    cairo_text_extents(cr, text.c_str(), &te);
    cairo_font_extents_t fe;
    cairo_font_extents(cr, &fe);
    const double left = x - hAlign * te.x_advance;
    const double baseline = y + 0.5 * (fe.ascent - fe.descent);
    if (draw) {
        cairo_move_to(cr, left, baseline);
        cairo_show_text(cr, text.c_str());
    }
    return {left, baseline - fe.ascent, left + te.x_advance, baseline + fe.descent};
}

// The legend: a sample and a text per item, in rows that fit the picture.
constexpr double kLegendSample = 30;  // the sample and the gap to its text
constexpr double kLegendGap = 22;     // after an item's text

// The legend's items: obstacle, detector, the regions, the surfaces.
std::vector<std::string> legendTexts(const tFootprintMap& map) {
    std::vector<std::string> texts = {"obstacle (ground level)", "detector"};
    for (const double f : map.levels) texts.push_back(percentText(f) + " of the total");
    for (const int32_t c : surfaceCodes(map)) texts.push_back("emitting surface " + std::to_string(c));
    return texts;
}

struct tLegendPlace {
    double x;
    int row;
};

std::vector<tLegendPlace> legendPlaces(cairo_t* cr, const tFootprintMap& map, const tMapLayout& layout) {
    setFont(cr, 12);
    const double left = layout.plotLeft[0], right = layout.width - kMargin;
    std::vector<tLegendPlace> places;
    double x = left;
    int row = 0;
    for (const std::string& text : legendTexts(map)) {
        const tBox b = drawText(cr, text, 0, 0, 0, false);
        const double w = kLegendSample + (b.x1 - b.x0);
        if (x > left && x + w > right) {
            ++row;
            x = left;
        }
        places.push_back({x, row});
        x += w + kLegendGap;
    }
    return places;
}

class tPainter {
public:
    tPainter(const tFootprintMap& map, const tMapLayout& layout, cairo_t* cr)
        : fMap(map), fLayout(layout), fCr(cr) {}

    void background() {
        setColour(fCr, {1, 1, 1});
        cairo_paint(fCr);
        setColour(fCr, {0, 0, 0});
        setFont(fCr, 18, true);
        drawText(fCr, fMap.title, fLayout.width / 2.0, kMargin + 14, 0.5);
    }

    void panel(int p, const tMapPanel& panel) {
        const std::vector<double>& values = panel.values;
        const double left = fLayout.plotLeft[p], top = fLayout.plotTop;
        const double w = fLayout.plotWidth, h = fLayout.plotHeight;
        setColour(fCr, {0, 0, 0});
        setFont(fCr, 14, true);
        drawText(fCr, panel.title, left + w / 2, top - kPanelTitleHeight / 2, 0.5);

        kwd::clearFpFlags();
        const tColourScale scale = colourScaleOf(values);
        std::vector<tRgb> colours(values.size(), kEmptyColour);
        for (size_t n = 0; n < values.size(); ++n)
            if (fMap.obstacle[n]) colours[n] = kObstacleColour;
            else if (scale.valid && values[n] > 0.0) colours[n] = valueColour(values[n], scale);
            else if (!fMap.groundCode.empty() && fMap.groundCode[n] > 10)
                colours[n] = surfaceColour(fMap.groundCode[n]);
        kwd::checkFpFlags("footprint map colours");

        // Cells without antialiasing, so that neighbours meet without seams.
        cairo_save(fCr);
        cairo_set_antialias(fCr, CAIRO_ANTIALIAS_NONE);
        const tPlanGrid& g = fMap.grid;
        for (int32_t j = 0; j < g.nJ; ++j)
            for (int32_t i = 0; i < g.nI; ++i) {
                const tRgb& c = colours[g.index(i, j)];
                const double x0 = fLayout.pixelX(p, g.xFace[size_t(i)]);
                const double x1 = fLayout.pixelX(p, g.xFace[size_t(i) + 1]);
                const double y0 = fLayout.pixelY(g.yFace[size_t(j) + 1]);
                const double y1 = fLayout.pixelY(g.yFace[size_t(j)]);
                setColour(fCr, c);
                cairo_rectangle(fCr, x0, y0, x1 - x0, y1 - y0);
                cairo_fill(fCr);
            }
        cairo_restore(fCr);

        // Everything inside the plot area is clipped to it.
        cairo_save(fCr);
        cairo_rectangle(fCr, left, top, w, h);
        cairo_clip(fCr);
        const std::vector<tFootprintLevel> levels =
            footprintLevels(values, g, std::span<const double>(fMap.levels), panel.kind);
        std::vector<tOutline> outlines;
        for (size_t n = 0; n < levels.size(); ++n) {
            outlines.push_back(outlineOf(values, g, levels[n].level));
            strokeOutline(p, outlines.back(), kContourStyles[n]);
        }
        detectorBox(p);
        scaleBar(p);
        northArrow(p);
        windArrow(p);
        cairo_restore(fCr);

        if (!scale.valid) {
            setColour(fCr, {0.3, 0.3, 0.3});
            setFont(fCr, 14);
            drawText(fCr, "no footprint at this time", left + w / 2, top + h / 2, 0.5);
        }
        std::vector<std::string> texts;
        for (size_t n = 0; n < levels.size(); ++n)
            texts.push_back(percentText(fMap.levels[n]));
        labelContours(p, outlines, texts);

        setColour(fCr, {0, 0, 0});
        cairo_set_line_width(fCr, 1.0);
        cairo_rectangle(fCr, left, top, w, h);
        cairo_stroke(fCr);
        axes(p);
        colourBar(p, scale, panel.barLabel);
    }

    void legend() {
        const std::vector<std::string> texts = legendTexts(fMap);
        const std::vector<tLegendPlace> places = legendPlaces(fCr, fMap, fLayout);
        const std::vector<int32_t> surfaces = surfaceCodes(fMap);
        const size_t firstSurface = 2 + fMap.levels.size();
        for (size_t n = 0; n < texts.size(); ++n) {
            const double x = places[n].x;
            const double y = fLayout.plotTop + fLayout.plotHeight + kAxisBottom +
                             (places[n].row + 0.5) * kLegendHeight;
            if (n == 0) {
                setColour(fCr, kObstacleColour);
                cairo_rectangle(fCr, x, y - 7, 24, 14);
                cairo_fill(fCr);
            } else if (n == 1) {
                setColour(fCr, kDetectorColour);
                cairo_set_line_width(fCr, 2.0);
                cairo_rectangle(fCr, x + 1, y - 6, 22, 12);
                cairo_stroke(fCr);
            } else if (n >= firstSurface) {
                setColour(fCr, surfaceColour(surfaces[n - firstSurface]));
                cairo_rectangle(fCr, x, y - 7, 24, 14);
                cairo_fill(fCr);
                setColour(fCr, {0.5, 0.5, 0.5});
                cairo_set_line_width(fCr, 0.8);
                cairo_rectangle(fCr, x, y - 7, 24, 14);
                cairo_stroke(fCr);
            } else {
                setLineStyle(kContourStyles[n - 2]);
                setColour(fCr, {0, 0, 0});
                cairo_move_to(fCr, x, y);
                cairo_line_to(fCr, x + 24, y);
                cairo_stroke(fCr);
                cairo_set_dash(fCr, nullptr, 0, 0);
            }
            setColour(fCr, {0, 0, 0});
            drawText(fCr, texts[n], x + kLegendSample, y, 0);
        }
    }

private:
    // A box of white, mostly opaque, under an inset's drawing.
    void insetBox(const tBox& b) {
        cairo_set_source_rgba(fCr, 1, 1, 1, 0.85);
        cairo_rectangle(fCr, b.x0, b.y0, b.x1 - b.x0, b.y1 - b.y0);
        cairo_fill(fCr);
        setColour(fCr, {0.4, 0.4, 0.4});
        cairo_set_line_width(fCr, 0.8);
        cairo_rectangle(fCr, b.x0, b.y0, b.x1 - b.x0, b.y1 - b.y0);
        cairo_stroke(fCr);
    }

    // An arrow of `length` pixels from (x, y) towards the pixel direction (dx, dy).
    void arrow(double x, double y, double dx, double dy, double length) {
        const double n = std::hypot(dx, dy);
        dx /= n;
        dy /= n;
        const double tipX = x + dx * length, tipY = y + dy * length;
        cairo_set_line_width(fCr, 2.0);
        cairo_move_to(fCr, x, y);
        cairo_line_to(fCr, tipX - dx * 6, tipY - dy * 6);
        cairo_stroke(fCr);
        cairo_move_to(fCr, tipX, tipY);
        cairo_line_to(fCr, tipX - dx * 9 - dy * 5, tipY - dy * 9 + dx * 5);
        cairo_line_to(fCr, tipX - dx * 9 + dy * 5, tipY - dy * 9 - dx * 5);
        cairo_close_path(fCr);
        cairo_fill(fCr);
    }

    // Bottom left: a bar of a round length near a fifth of the model's width.
    void scaleBar(int p) {
        const double metres = niceStep(fLayout.modelWidth, 5);
        const double length = metres * fLayout.scale;
        const double left = fLayout.plotLeft[p] + 8, bottom = fLayout.plotTop + fLayout.plotHeight - 8;
        setFont(fCr, 11);
        const std::string text = tickText(metres, metres) + " m";
        const tBox t = drawText(fCr, text, 0, 0, 0, false);
        insetBox({left, bottom - 30, left + std::max(length, t.x1 - t.x0) + 12, bottom});
        const double x0 = left + 6, y = bottom - 8;
        for (int half = 0; half < 2; ++half) {
            setColour(fCr, half == 0 ? tRgb{0, 0, 0} : tRgb{1, 1, 1});
            cairo_rectangle(fCr, x0 + half * length / 2, y - 3, length / 2, 5);
            cairo_fill(fCr);
        }
        setColour(fCr, {0, 0, 0});
        cairo_set_line_width(fCr, 0.8);
        cairo_rectangle(fCr, x0, y - 3, length, 5);
        cairo_stroke(fCr);
        drawText(fCr, text, x0, y - 13, 0);
    }

    // Top right: an arrow to grid north, marked "N".
    void northArrow(int p) {
        if (!fMap.north) return;
        const double size = 46;
        const double x1 = fLayout.plotLeft[p] + fLayout.plotWidth - 6, y0 = fLayout.plotTop + 6;
        insetBox({x1 - size, y0, x1, y0 + size});
        const double cx = x1 - size / 2, cy = y0 + size / 2 + 4;
        const auto [nx, ny] = *fMap.north;
        setColour(fCr, {0, 0, 0});
        arrow(cx - nx * 12, cy + ny * 12, nx, -ny, 24);
        setFont(fCr, 11, true);
        drawText(fCr, "N", cx + nx * 8 + (ny >= 0 ? 8 : -8), cy - ny * 8 - 10, 0.5);
    }

    // Top left: the mean wind at the detector's height, with its speed.
    void windArrow(int p) {
        if (!fMap.wind) return;
        const double speed = std::hypot(fMap.wind->u, fMap.wind->v);
        setFont(fCr, 11);
        const std::string text = "wind " + export_text::fixedNumber(speed, 1) + " m/s";
        const tBox t = drawText(fCr, text, 0, 0, 0, false);
        const double x0 = fLayout.plotLeft[p] + 6, y0 = fLayout.plotTop + 6;
        const double w = std::max(56.0, t.x1 - t.x0 + 12);
        insetBox({x0, y0, x0 + w, y0 + 62});
        setColour(fCr, {0, 0, 0});
        if (speed > 0) {
            // Where the air goes: along (u, v), y up in the model, down in pixels.
            const double dx = fMap.wind->u / speed, dy = -fMap.wind->v / speed;
            arrow(x0 + w / 2 - dx * 18, y0 + 24 - dy * 18, dx, dy, 36);
        }
        drawText(fCr, text, x0 + w / 2, y0 + 52, 0.5);
    }

    void setLineStyle(const tLineStyle& s) {
        cairo_set_line_width(fCr, s.width);
        cairo_set_dash(fCr, s.dashes.data(), int(s.dashes.size()), 0);
        cairo_set_line_join(fCr, CAIRO_LINE_JOIN_MITER);
        cairo_set_line_cap(fCr, CAIRO_LINE_CAP_BUTT);
    }

    double nodeX(int p, int64_t node) const {
        return fLayout.pixelX(p, fMap.grid.xFace[size_t(node % (fMap.grid.nI + 1))]);
    }
    double nodeY(int64_t node) const {
        return fLayout.pixelY(fMap.grid.yFace[size_t(node / (fMap.grid.nI + 1))]);
    }

    void tracePath(int p, const tOutline& o) {
        for (const auto& chain : o.chains) {
            cairo_move_to(fCr, nodeX(p, chain[0]), nodeY(chain[0]));
            for (size_t n = 1; n < chain.size(); ++n) cairo_line_to(fCr, nodeX(p, chain[n]), nodeY(chain[n]));
            if (chain.size() > 2 && chain.front() == chain.back()) cairo_close_path(fCr);
        }
    }

    void strokeOutline(int p, const tOutline& o, const tLineStyle& style) {
        // A white halo under the black line keeps it visible on dark cells.
        tracePath(p, o);
        setLineStyle({style.width + 2.0, {}});
        setColour(fCr, {1, 1, 1});
        cairo_stroke(fCr);
        tracePath(p, o);
        setLineStyle(style);
        setColour(fCr, {0, 0, 0});
        cairo_stroke(fCr);
        cairo_set_dash(fCr, nullptr, 0, 0);
    }

    void detectorBox(int p) {
        const tDetectorBox& d = fMap.detector;
        const double x0 = fLayout.pixelX(p, d.xMin), x1 = fLayout.pixelX(p, d.xMax);
        const double y0 = fLayout.pixelY(d.yMax), y1 = fLayout.pixelY(d.yMin);
        setColour(fCr, kDetectorColour);
        cairo_set_line_width(fCr, 2.0);
        // At least a few pixels wide, so that a small detector stays visible.
        const double cx = 0.5 * (x0 + x1), cy = 0.5 * (y0 + y1);
        const double hw = std::max(3.0, 0.5 * (x1 - x0)), hh = std::max(3.0, 0.5 * (y1 - y0));
        cairo_rectangle(fCr, cx - hw, cy - hh, 2 * hw, 2 * hh);
        cairo_stroke(fCr);
    }

    // Labels in a column beside the outermost region (right of it, or left
    // where the right has no room), each joined to its own outline by a
    // leader line, so that even a region of a few cells stays visible.
    void labelContours(int p, const std::vector<tOutline>& outlines, const std::vector<std::string>& texts) {
        if (outlines.empty() || outlines.back().edges.empty()) return;
        setFont(fCr, 11, true);
        const double left = fLayout.plotLeft[p], top = fLayout.plotTop;
        const tBox plot = {left, top, left + fLayout.plotWidth, top + fLayout.plotHeight};
        tBox outer = {plot.x1, plot.y1, plot.x0, plot.y0};
        for (const tOutline::tEdge& e : outlines.back().edges)
            for (const int64_t n : {e.from, e.to}) {
                outer.x0 = std::min(outer.x0, nodeX(p, n));
                outer.x1 = std::max(outer.x1, nodeX(p, n));
                outer.y0 = std::min(outer.y0, nodeY(n));
                outer.y1 = std::max(outer.y1, nodeY(n));
            }
        double width = 0;
        std::vector<double> widths;
        for (const std::string& t : texts) {
            const tBox b = drawText(fCr, t, 0, 0, 0, false);
            widths.push_back(b.x1 - b.x0 + 6);
            width = std::max(width, widths.back());
        }
        const double gap = 16;
        // The right side unless it lacks room or the column would cover the
        // detector while the left side would not.
        const tDetectorBox& d = fMap.detector;
        const tBox detector = {fLayout.pixelX(p, d.xMin) - 3, fLayout.pixelY(d.yMax) - 3,
                               fLayout.pixelX(p, d.xMax) + 3, fLayout.pixelY(d.yMin) + 3};
        const double spread = 3.0 * 20;  // room the column may take above and below the region
        const tBox rightColumn = {outer.x1 + gap, outer.y0 - spread, outer.x1 + gap + width, outer.y1 + spread};
        const tBox leftColumn = {outer.x0 - gap - width, outer.y0 - spread, outer.x0 - gap, outer.y1 + spread};
        const bool rightFits = rightColumn.x1 <= plot.x1, leftFits = leftColumn.x0 >= plot.x0;
        const bool right = !leftFits || (rightFits && !(rightColumn.overlaps(detector) &&
                                                        !leftColumn.overlaps(detector)));
        const char side = right ? 'r' : 'l';

        struct tLabel {
            double ax, ay;  // the anchor on the outline
            double y;       // the label's centre
            size_t n;
        };
        std::vector<tLabel> labels;
        for (size_t n = 0; n < outlines.size() && n < texts.size(); ++n) {
            // The outermost edge on that side; among equals the one nearest
            // the middle of the region's extent along it.
            const tOutline::tEdge* best = nullptr;
            double bestX = 0, bestY = 0, lo = plot.y1, hi = plot.y0;
            for (const tOutline::tEdge& e : outlines[n].edges) {
                lo = std::min(lo, nodeY(e.from));
                hi = std::max(hi, nodeY(e.from));
            }
            const double middle = 0.5 * (lo + hi);
            for (const tOutline::tEdge& e : outlines[n].edges) {
                if (e.side != side) continue;
                const double x = nodeX(p, e.from), y = 0.5 * (nodeY(e.from) + nodeY(e.to));
                const bool better = best == nullptr || (right ? x > bestX : x < bestX) ||
                                    (x == bestX && std::abs(y - middle) < std::abs(bestY - middle));
                if (better) {
                    best = &e;
                    bestX = x;
                    bestY = y;
                }
            }
            if (best != nullptr) labels.push_back({bestX, bestY, bestY, n});
        }
        // Top to bottom in the order of the anchors, pushed apart where they meet.
        std::stable_sort(labels.begin(), labels.end(),
                         [](const tLabel& a, const tLabel& b) { return a.ay < b.ay; });
        cairo_font_extents_t fe;
        cairo_font_extents(fCr, &fe);
        const double h = fe.ascent + fe.descent + 2, spacing = h + 3;
        for (size_t n = 1; n < labels.size(); ++n)
            labels[n].y = std::max(labels[n].y, labels[n - 1].y + spacing);
        if (!labels.empty()) {
            const double overflow = labels.back().y + h / 2 - plot.y1;
            if (overflow > 0)
                for (tLabel& l : labels) l.y -= overflow;
            const double underflow = plot.y0 - (labels.front().y - h / 2);
            if (underflow > 0)
                for (tLabel& l : labels) l.y += underflow;
        }
        const double columnX = right ? std::min(outer.x1 + gap, plot.x1 - width)
                                     : std::max(outer.x0 - gap - width, plot.x0);
        for (const tLabel& l : labels) {
            const double w = widths[l.n];
            const double x0 = right ? columnX : columnX + width - w;
            const double joinX = right ? x0 : x0 + w;
            for (const auto& [lineWidth, colour] : {std::pair{2.4, tRgb{1, 1, 1}}, std::pair{0.9, tRgb{0, 0, 0}}}) {
                cairo_move_to(fCr, l.ax, l.ay);
                cairo_line_to(fCr, joinX, l.y);
                setColour(fCr, colour);
                cairo_set_line_width(fCr, lineWidth);
                cairo_stroke(fCr);
            }
            cairo_arc(fCr, l.ax, l.ay, 1.8, 0, 2 * std::numbers::pi);
            cairo_fill(fCr);
            cairo_set_source_rgba(fCr, 1, 1, 1, 0.9);
            cairo_rectangle(fCr, x0, l.y - h / 2, w, h);
            cairo_fill(fCr);
            setColour(fCr, {0, 0, 0});
            cairo_set_line_width(fCr, 0.8);
            cairo_rectangle(fCr, x0, l.y - h / 2, w, h);
            cairo_stroke(fCr);
            drawText(fCr, texts[l.n], x0 + 3, l.y, 0);
        }
    }

    void axes(int p) {
        const double left = fLayout.plotLeft[p], top = fLayout.plotTop;
        const double bottom = top + fLayout.plotHeight;
        setColour(fCr, {0, 0, 0});
        setFont(fCr, 11);
        cairo_set_line_width(fCr, 1.0);
        const double xStep = niceStep(fLayout.modelWidth, std::max(2.0, fLayout.plotWidth / 90));
        for (double x = 0; x <= fLayout.modelWidth * (1 + 1e-9); x += xStep) {
            const double px = fLayout.pixelX(p, x);
            cairo_move_to(fCr, px, bottom);
            cairo_line_to(fCr, px, bottom + 5);
            cairo_stroke(fCr);
            drawText(fCr, tickText(x, xStep), px, bottom + 14, 0.5);
        }
        const double yStep = niceStep(fLayout.modelHeight, std::max(2.0, fLayout.plotHeight / 70));
        for (double y = 0; y <= fLayout.modelHeight * (1 + 1e-9); y += yStep) {
            const double py = fLayout.pixelY(y);
            cairo_move_to(fCr, left, py);
            cairo_line_to(fCr, left - 5, py);
            cairo_stroke(fCr);
            drawText(fCr, tickText(y, yStep), left - 8, py, 1);
        }
        setFont(fCr, 12);
        drawText(fCr, "x (m)", left + fLayout.plotWidth / 2, bottom + 34, 0.5);
        cairo_save(fCr);
        cairo_translate(fCr, left - kAxisLeft + 14, top + fLayout.plotHeight / 2);
        cairo_rotate(fCr, -std::numbers::pi / 2);
        drawText(fCr, "y (m)", 0, 0, 0.5);
        cairo_restore(fCr);
    }

    void colourBar(int p, const tColourScale& scale, const std::string& label) {
        const double x = fLayout.plotLeft[p] + fLayout.plotWidth + kBarGap;
        const double top = fLayout.plotTop, h = fLayout.plotHeight;
        setColour(fCr, {0, 0, 0});
        setFont(fCr, 12);
        cairo_save(fCr);
        cairo_translate(fCr, x + kBarWidth + kBarLabels - 14, top + h / 2);
        cairo_rotate(fCr, -std::numbers::pi / 2);
        drawText(fCr, label, 0, 0, 0.5);
        cairo_restore(fCr);
        if (!scale.valid) return;
        cairo_pattern_t* gradient = cairo_pattern_create_linear(0, top + h, 0, top);
        for (int n = 0; n < kAnchorCount; ++n) {
            const tRgb& c = kScaleAnchors[n];
            cairo_pattern_add_color_stop_rgb(gradient, double(n) / (kAnchorCount - 1), c.r, c.g, c.b);
        }
        cairo_rectangle(fCr, x, top, kBarWidth, h);
        cairo_set_source(fCr, gradient);
        cairo_fill(fCr);
        cairo_pattern_destroy(gradient);
        setColour(fCr, {0, 0, 0});
        cairo_set_line_width(fCr, 1.0);
        cairo_rectangle(fCr, x, top, kBarWidth, h);
        cairo_stroke(fCr);

        setFont(fCr, 11);
        const double lo = std::log10(scale.low), hi = std::log10(scale.high);
        auto yOf = [&](double v) {
            return hi > lo ? top + h - (std::log10(v) - lo) / (hi - lo) * h : top;
        };
        auto tick = [&](double v) {
            const double y = yOf(v);
            cairo_move_to(fCr, x + kBarWidth, y);
            cairo_line_to(fCr, x + kBarWidth + 4, y);
            cairo_stroke(fCr);
            drawText(fCr, scaleText(v), x + kBarWidth + 7, y, 0);
        };
        // Decades inside the scale; the ends when they are far enough from them.
        std::vector<double> ticks;
        for (int e = int(std::ceil(lo - 1e-9)); e <= int(std::floor(hi + 1e-9)); ++e)
            ticks.push_back(std::pow(10.0, e));
        for (const double end : {scale.low, scale.high}) {
            const bool clear = std::all_of(ticks.begin(), ticks.end(), [&](double t) {
                return std::abs(yOf(t) - yOf(end)) > 14;
            });
            if (clear) ticks.push_back(end);
        }
        for (const double v : ticks) tick(v);
    }

    const tFootprintMap& fMap;
    const tMapLayout& fLayout;
    cairo_t* fCr;
};

}  // namespace

tMapLayout mapLayout(const tFootprintMap& map) {
    const tPlanGrid& grid = map.grid;
    const int panels = int(map.panels.size());
    if (panels < 1 || panels > kMaxMapPanels)
        throw kwd::GeneralError("footprint map of " + std::to_string(panels) + " panels");
    tMapLayout l;
    l.panels = panels;
    l.modelWidth = grid.xMax();
    l.modelHeight = grid.yMax();
    const double longSide = std::max(l.modelWidth, l.modelHeight);
    const double shortSide = std::min(l.modelWidth, l.modelHeight);
    l.scale = kPlotLongSide / longSide;
    if (shortSide * l.scale < kPlotShortSideMin)
        l.scale = std::min(kPlotShortSideMin / shortSide, kPlotLongSideMax / longSide);
    l.plotWidth = l.modelWidth * l.scale;
    l.plotHeight = l.modelHeight * l.scale;
    const double panelWidth = kAxisLeft + l.plotWidth + kBarGap + kBarWidth + kBarLabels;
    for (int p = 0; p < panels; ++p) l.plotLeft[p] = kMargin + p * (panelWidth + kPanelGap) + kAxisLeft;
    l.plotTop = kMargin + kTitleHeight + kPanelTitleHeight;
    l.width = int(std::ceil(2 * kMargin + panels * panelWidth + (panels - 1) * kPanelGap));
    // The rows of the legend, measured with the font it is drawn in.
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
    cairo_t* cr = cairo_create(scratch);
    const int rows = legendPlaces(cr, map, l).back().row + 1;
    cairo_destroy(cr);
    cairo_surface_destroy(scratch);
    l.height = int(std::ceil(l.plotTop + l.plotHeight + kAxisBottom + rows * kLegendHeight + kMargin));
    return l;
}

tColourScale colourScaleOf(const std::vector<double>& values) {
    tColourScale s;
    double lowest = 0;
    for (const double v : values) {
        if (!(v > 0.0)) continue;
        if (!s.valid || v > s.high) s.high = v;
        if (!s.valid || v < lowest) lowest = v;
        s.valid = true;
    }
    if (s.valid) s.low = std::max(lowest, s.high * std::pow(10.0, -kDecades));
    return s;
}

tRgb scaleColour(double t) {
    t = std::clamp(t, 0.0, 1.0);
    const double pos = t * (kAnchorCount - 1);
    const int n = std::min(int(pos), kAnchorCount - 2);
    const double f = pos - n;
    const tRgb& a = kScaleAnchors[n];
    const tRgb& b = kScaleAnchors[n + 1];
    return {a.r + (b.r - a.r) * f, a.g + (b.g - a.g) * f, a.b + (b.b - a.b) * f};
}

tRgb valueColour(double value, const tColourScale& scale) {
    if (scale.high <= scale.low) return scaleColour(1.0);
    const double t = (std::log10(std::max(value, scale.low)) - std::log10(scale.low)) /
                     (std::log10(scale.high) - std::log10(scale.low));
    return scaleColour(t);
}

tRgb surfaceColour(int32_t code) {
    constexpr int count = int(sizeof kSurfaceColours / sizeof kSurfaceColours[0]);
    return kSurfaceColours[size_t(((code - 11) % count + count) % count)];
}

std::vector<double> parseMapLevels(const std::string& text) {
    auto fail = [&](const std::string& why) -> std::vector<double> {
        throw kwd::InputError("--levels \"" + text + "\": " + why);
    };
    std::vector<double> levels;
    size_t start = 0;
    for (;;) {
        const size_t end = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, end - start);
        double v = 0;
        const auto r = std::from_chars(item.data(), item.data() + item.size(), v);
        if (item.empty() || r.ec != std::errc() || r.ptr != item.data() + item.size())
            return fail("\"" + item + "\" is not a number");
        if (!(v > 0.0 && v < 100.0)) return fail(item + " is not a percentage above 0 and below 100");
        if (std::find(levels.begin(), levels.end(), v / 100.0) != levels.end())
            return fail(item + " is given twice");
        levels.push_back(v / 100.0);
        if (end == text.size()) break;
        start = end + 1;
    }
    if (levels.size() > kMaxMapLevels)
        return fail("at most " + std::to_string(kMaxMapLevels) + " levels");
    std::sort(levels.begin(), levels.end());
    return levels;
}

tMapFormat mapFormatOf(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".png") return tMapFormat::png;
    if (extension == ".pdf") return tMapFormat::pdf;
    if (extension == ".svg") return tMapFormat::svg;
    throw kwd::InputError("footprint map \"" + path +
                          "\": the name must end in .png, .pdf or .svg (the format is chosen by it)");
}

namespace {

// Cairo's stream writer into the temporary file; a failure is kept for the
// message and reported to cairo as a write error.
struct tStreamSink {
    tReplacingFile& file;
    std::string error;
    std::string* held = nullptr;  // when set, the bytes are kept here instead
};

cairo_status_t writeToSink(void* closure, const unsigned char* data, unsigned int length) {
    tStreamSink& sink = *static_cast<tStreamSink*>(closure);
    if (sink.held) {
        sink.held->append(reinterpret_cast<const char*>(data), length);
        return CAIRO_STATUS_SUCCESS;
    }
    try {
        sink.file.write(std::string_view(reinterpret_cast<const char*>(data), length));
    } catch (const kwd::KwdError& e) {
        if (sink.error.empty()) sink.error = e.what();
        return CAIRO_STATUS_WRITE_ERROR;
    }
    return CAIRO_STATUS_SUCCESS;
}

std::string xmlEscaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else out += c;
    }
    return out;
}

// What the picture says in words: its title, the panels with their colour
// bars' labels and the legend.
std::string mapDescription(const tFootprintMap& map) {
    std::string d;
    for (const tMapPanel& p : map.panels) d += p.title + ": " + p.barLabel + ". ";
    d += "Legend: ";
    const std::vector<std::string> texts = legendTexts(map);
    for (size_t n = 0; n < texts.size(); ++n) d += (n ? ", " : "") + texts[n];
    return d + ".";
}

// Cairo draws every text of an SVG as glyph outlines; the title and a
// description after the opening <svg> element keep the words findable.
std::string withSvgTitle(const std::string& svg, const tFootprintMap& map) {
    const size_t open = svg.find("<svg");
    const size_t end = open == std::string::npos ? open : svg.find('>', open);
    if (end == std::string::npos) return svg;
    return svg.substr(0, end + 1) + "\n<title>" + xmlEscaped(map.title) + "</title>\n<desc>" +
           xmlEscaped(mapDescription(map)) + "</desc>" + svg.substr(end + 1);
}

}  // namespace

void renderFootprintMap(const tFootprintMap& map, const std::string& path) {
    const tMapFormat format = mapFormatOf(path);
    const size_t cells = map.grid.cellCount();
    bool fits = map.obstacle.size() == cells;
    for (const tMapPanel& p : map.panels) fits = fits && p.values.size() == cells;
    if (!fits)
        throw kwd::GeneralError("footprint map of a " + std::to_string(map.grid.nI) + " x " +
                                std::to_string(map.grid.nJ) +
                                " grid with fields of other sizes");
    if (map.levels.empty() || map.levels.size() > kMaxMapLevels)
        throw kwd::GeneralError("footprint map with " + std::to_string(map.levels.size()) + " levels");
    if (!map.groundCode.empty() && map.groundCode.size() != cells)
        throw kwd::GeneralError("footprint map with object codes of another size");
    const tMapLayout layout = mapLayout(map);
    tReplacingFile file(path, "footprint map");
    std::string svg;
    tStreamSink sink{file, {}, format == tMapFormat::svg ? &svg : nullptr};
    cairo_surface_t* surface = nullptr;
    switch (format) {
        case tMapFormat::png:
            surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, layout.width, layout.height);
            break;
        case tMapFormat::pdf:  // one pixel of the layout is one point
            surface = cairo_pdf_surface_create_for_stream(writeToSink, &sink, layout.width, layout.height);
            cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE, map.title.c_str());
            cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_SUBJECT, mapDescription(map).c_str());
            break;
        case tMapFormat::svg:
            surface = cairo_svg_surface_create_for_stream(writeToSink, &sink, layout.width, layout.height);
            break;
    }
    cairo_t* cr = cairo_create(surface);
    auto release = [&]() {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    };
    try {
        tPainter painter(map, layout, cr);
        painter.background();
        for (size_t p = 0; p < map.panels.size(); ++p) painter.panel(int(p), map.panels[p]);
        painter.legend();
    } catch (...) {
        release();
        throw;
    }
    const cairo_status_t drawn = cairo_status(cr);
    if (drawn != CAIRO_STATUS_SUCCESS) {
        release();
        throw kwd::GeneralError("footprint map \"" + path + "\": drawing failed (" +
                                cairo_status_to_string(drawn) + ")");
    }
    cairo_surface_flush(surface);
    cairo_status_t written = CAIRO_STATUS_SUCCESS;
    if (format == tMapFormat::png) {
        written = cairo_surface_write_to_png_stream(surface, writeToSink, &sink);
    } else {
        cairo_surface_finish(surface);  // the vector formats write the rest now
        written = cairo_surface_status(surface);
    }
    release();
    if (format == tMapFormat::svg && written == CAIRO_STATUS_SUCCESS) file.write(withSvgTitle(svg, map));
    if (!sink.error.empty()) throw kwd::FileError(sink.error);
    if (written != CAIRO_STATUS_SUCCESS) file.fail("write the file", cairo_status_to_string(written));
    file.commit();
}

}  // namespace kwd::exporter

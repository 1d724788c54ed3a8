#include "export/u_PlanGrid.h"

#include <cmath>

#include "dataset/u_ZDXFile.h"
#include "export/u_ExportText.h"
#include "platform/KwdError.h"

namespace kwd::exporter {

using kwd::dataset::TZDXFile;

std::vector<double> cellFaces(const std::vector<float>& widths, int32_t n, const std::string& where,
                              const char* axis) {
    const std::string along = std::string(" along ") + axis;
    if (n <= 0) throw kwd::InputError(where + ": no cells" + along);
    if (widths.size() < size_t(n))
        throw kwd::InputError(where + ": " + std::to_string(n) + " cells" + along + " but only " +
                              std::to_string(widths.size()) + " cell widths");
    std::vector<double> faces(size_t(n) + 1, 0.0);
    for (int32_t c = 0; c < n; ++c) {
        const double w = widths[size_t(c)];
        if (!std::isfinite(w) || w <= 0.0)
            throw kwd::InputError(where + ": cell " + std::to_string(c) + along +
                                  " has the width " + export_text::shortNumber(w) +
                                  " m; widths must be positive");
        faces[size_t(c) + 1] = faces[size_t(c)] + w;
    }
    return faces;
}

tPlanGrid tPlanGrid::fromDescriptor(const TZDXFile& d, const std::string& where) {
    tPlanGrid g;
    g.nI = d.GridsI;
    g.nJ = d.GridsJ;
    g.xFace = cellFaces(d.sizedx, d.GridsI, where, "x");
    g.yFace = cellFaces(d.sizedy, d.GridsJ, where, "y");
    return g;
}

}  // namespace kwd::exporter

#pragma once
// The horizontal geometry of a data set's grid in model metres: cell faces,
// centres and areas from the cell widths. Cell i spans from the sum of the
// widths below it to that sum plus its own width; the model origin is the
// lower-left corner of cell (0, 0).

#include <cstdint>
#include <string>
#include <vector>

namespace kwd::dataset {
class TZDXFile;
}

namespace kwd::exporter {

// Positions of the faces of n cells of the given widths along an axis
// ("x", "y" or "z"): n + 1 values, the first 0. Raises kwd::InputError,
// starting with `where`, when there are no cells, fewer than n widths or a
// width that is not a positive finite number.
std::vector<double> cellFaces(const std::vector<float>& widths, int32_t n, const std::string& where,
                              const char* axis);

struct tPlanGrid {
    int32_t nI = 0;
    int32_t nJ = 0;
    std::vector<double> xFace;  // nI + 1 values
    std::vector<double> yFace;  // nJ + 1 values

    // From the spacings of a descriptor; `where` names the data set in errors.
    static tPlanGrid fromDescriptor(const kwd::dataset::TZDXFile& d, const std::string& where);

    double xMax() const { return xFace.back(); }
    double yMax() const { return yFace.back(); }
    double centreX(int32_t i) const { return 0.5 * (xFace[size_t(i)] + xFace[size_t(i) + 1]); }
    double centreY(int32_t j) const { return 0.5 * (yFace[size_t(j)] + yFace[size_t(j) + 1]); }
    double cellArea(int32_t i, int32_t j) const {
        return (xFace[size_t(i) + 1] - xFace[size_t(i)]) * (yFace[size_t(j) + 1] - yFace[size_t(j)]);
    }
    // Index of a cell in i-fastest order.
    size_t index(int32_t i, int32_t j) const { return size_t(i) + size_t(nI) * size_t(j); }
    size_t cellCount() const { return size_t(nI) * size_t(nJ); }
};

}  // namespace kwd::exporter

#include "engine/u_Grid.h"

#include <string>

#include "platform/KwdError.h"

namespace kwd::engine {

using kwd::dataset::TZDXFile;

namespace grid_axis {

const char* axisName(int aAxis) { return aAxis == 0 ? "x" : aAxis == 1 ? "y" : "z"; }

const std::vector<float>& widthsOf(const TZDXFile& z, int axis) {
    return axis == 0 ? z.sizedx : axis == 1 ? z.sizedy : z.sizedz;
}

int32_t countOf(const TZDXFile& z, int axis) {
    return axis == 0 ? z.GridsI : axis == 1 ? z.GridsJ : z.GridsK;
}

void requireWidths(const TZDXFile& z, int axis) {
    const int32_t n = countOf(z, axis);
    if (n > 0 && widthsOf(z, axis).size() < size_t(n)) {
        throw kwd::InputError("data set " + z.InfoFilename + ": " +
                              std::to_string(widthsOf(z, axis).size()) + " cell widths along " +
                              axisName(axis) + " for " + std::to_string(n) + " cells");
    }
}

int32_t walkCell(const std::vector<float>& widths, int32_t n, double v) {
    double sum = 0.0;
    for (int32_t c = 0; c < n; ++c) {
        sum += double(widths[size_t(c)]);
        if (sum >= v) return c;
    }
    return n > 0 ? n - 1 : 0;
}

double lengthOf(const std::vector<float>& widths, int32_t n) {
    double sum = 0.0;
    for (int32_t c = 0; c < n; ++c) sum += double(widths[size_t(c)]);
    return sum;
}

}  // namespace grid_axis

namespace {

using namespace grid_axis;

std::vector<double> facesOf(const TZDXFile& z, int axis, bool& monotone) {
    requireWidths(z, axis);
    const int32_t n = countOf(z, axis) > 0 ? countOf(z, axis) : 0;
    const std::vector<float>& w = widthsOf(z, axis);
    std::vector<double> faces(size_t(n) + 1, 0.0);
    monotone = true;
    for (int32_t c = 0; c < n; ++c) {
        faces[size_t(c) + 1] = faces[size_t(c)] + double(w[size_t(c)]);
        if (!(w[size_t(c)] >= 0.0f)) monotone = false;
    }
    return faces;
}

}  // namespace

tGridGeometry::tGridGeometry(const TZDXFile& aZDXFile) {
    fFaceX = facesOf(aZDXFile, 0, fMonotoneX);
    fFaceY = facesOf(aZDXFile, 1, fMonotoneY);
    fFaceZ = facesOf(aZDXFile, 2, fMonotoneZ);
}

}  // namespace kwd::engine

#pragma once
// The grid of the engine: positions in model metres and cells, the
// three-dimensional field arrays and the grid geometry of a data set.
//
// Grid geometry: cell i spans the closed interval from the sum of the widths
// below it to that sum plus its own width (widths widened to 64 bits and
// summed from index 0 upward); a position on a face between two cells
// belongs to the lower one; the model box is [0, Lx] x [0, Ly] x [0, Lz].

#include <cstddef>
#include <cstdint>
#include <vector>

#include "dataset/u_ZDXFile.h"

namespace kwd::engine {

struct tPosMeter {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    bool operator==(const tPosMeter&) const = default;
};

struct tPosGrid {
    int32_t i = 0;
    int32_t j = 0;
    int32_t k = 0;
    bool operator==(const tPosGrid&) const = default;
};

// Cell marker of a position outside the model box.
constexpr tPosGrid kPosGridOutside{-999, -999, -999};

// A rectangular 3-D array indexed [i][j][k] (k fastest), held in one
// contiguous block so that whole-grid loops are plain loops.
template <typename T>
class t3DArray {
public:
    template <typename P>
    struct tPlane {
        P* fBase;
        int32_t fK;
        P* operator[](int32_t j) const { return fBase + size_t(j) * size_t(fK); }
    };

    t3DArray() = default;
    t3DArray(int32_t nI, int32_t nJ, int32_t nK, T value = T()) { resize(nI, nJ, nK, value); }

    // Resizes to nI x nJ x nK (negative counts count as 0) and sets every element.
    void resize(int32_t nI, int32_t nJ, int32_t nK, T value = T()) {
        fI = nI > 0 ? nI : 0;
        fJ = nJ > 0 ? nJ : 0;
        fK = nK > 0 ? nK : 0;
        fData.assign(size_t(fI) * size_t(fJ) * size_t(fK), value);
    }
    void fill(T value) { fData.assign(fData.size(), value); }
    void release() {
        fData.clear();
        fData.shrink_to_fit();
        fI = fJ = fK = 0;
    }

    int32_t sizeI() const { return fI; }
    int32_t sizeJ() const { return fJ; }
    int32_t sizeK() const { return fK; }
    size_t size() const { return fData.size(); }
    bool empty() const { return fData.empty(); }

    size_t index(int32_t i, int32_t j, int32_t k) const {
        return (size_t(i) * size_t(fJ) + size_t(j)) * size_t(fK) + size_t(k);
    }
    T& operator()(int32_t i, int32_t j, int32_t k) { return fData[index(i, j, k)]; }
    const T& operator()(int32_t i, int32_t j, int32_t k) const { return fData[index(i, j, k)]; }
    tPlane<T> operator[](int32_t i) { return {fData.data() + index(i, 0, 0), fK}; }
    tPlane<const T> operator[](int32_t i) const { return {fData.data() + index(i, 0, 0), fK}; }

    T* data() { return fData.data(); }
    const T* data() const { return fData.data(); }

private:
    int32_t fI = 0, fJ = 0, fK = 0;
    std::vector<T> fData;
};

using t3DArraySingle = t3DArray<float>;
using t3DArrayDouble = t3DArray<double>;
using t3DArrayInt64 = t3DArray<int64_t>;

// The cell faces of one data set's grid: running sums of the widths from
// index 0 upward, computed once. The cell of a coordinate is found by
// bisection over the faces and is the cell the face-by-face walk finds (first
// cell whose upper face is >= the coordinate, else the last cell).
class tGridGeometry {
public:
    tGridGeometry() = default;
    // Uses the first GridsI / GridsJ / GridsK widths of the descriptor; a
    // width array shorter than its count raises kwd::InputError.
    explicit tGridGeometry(const kwd::dataset::TZDXFile& aZDXFile);

    int32_t cellsI() const { return int32_t(fFaceX.size()) - 1; }
    int32_t cellsJ() const { return int32_t(fFaceY.size()) - 1; }
    int32_t cellsK() const { return int32_t(fFaceZ.size()) - 1; }
    double lengthX() const { return fFaceX.back(); }
    double lengthY() const { return fFaceY.back(); }
    double lengthZ() const { return fFaceZ.back(); }
    // Faces along an axis: face n is the sum of the first n widths.
    const std::vector<double>& facesX() const { return fFaceX; }
    const std::vector<double>& facesY() const { return fFaceY; }
    const std::vector<double>& facesZ() const { return fFaceZ; }

    // The cell of a position inside the box; false (cell untouched) outside it.
    bool locate(const tPosMeter& aPos, tPosGrid& aCell) const {
        if (aPos.x > lengthX() || aPos.x < 0.0 || aPos.y > lengthY() || aPos.y < 0.0 ||
            aPos.z > lengthZ() || aPos.z < 0.0)
            return false;
        aCell.i = cellOf(fFaceX, fMonotoneX, aPos.x);
        aCell.j = cellOf(fFaceY, fMonotoneY, aPos.y);
        aCell.k = cellOf(fFaceZ, fMonotoneZ, aPos.z);
        return true;
    }

    // The same as locate for a particle that was in aCell before: the cell
    // it was in and its neighbours are tried first (a cell c holds v when
    // its upper face is >= v and the face below it, if any, is < v, which
    // on faces that never decrease is exactly the first cell the walk
    // accepts), then the bisection.
    bool locateFrom(const tPosMeter& aPos, tPosGrid& aCell) const {
        if (aPos.x > lengthX() || aPos.x < 0.0 || aPos.y > lengthY() || aPos.y < 0.0 ||
            aPos.z > lengthZ() || aPos.z < 0.0)
            return false;
        aCell.i = cellNear(fFaceX, fMonotoneX, aPos.x, aCell.i);
        aCell.j = cellNear(fFaceY, fMonotoneY, aPos.y, aCell.j);
        aCell.k = cellNear(fFaceZ, fMonotoneZ, aPos.z, aCell.k);
        return true;
    }

private:
    // Whether cell c of non-decreasing faces is the cell of v (0 <= v <= last face).
    static bool holds(const double* faces, int32_t c, double v) {
        return faces[c + 1] >= v && (c == 0 || faces[c] < v);
    }
    static int32_t cellNear(const std::vector<double>& faces, bool monotone, double v,
                            int32_t guess) {
        const int32_t n = int32_t(faces.size()) - 1;
        if (monotone && guess >= 0 && guess < n) {
            const double* f = faces.data();
            if (holds(f, guess, v)) return guess;
            if (guess + 1 < n && holds(f, guess + 1, v)) return guess + 1;
            if (guess > 0 && holds(f, guess - 1, v)) return guess - 1;
        }
        return cellOf(faces, monotone, v);
    }
    static int32_t cellOf(const std::vector<double>& faces, bool monotone, double v) {
        const int32_t n = int32_t(faces.size()) - 1;  // cells
        if (n <= 0) return 0;
        if (!monotone) {  // negative widths: the literal walk
            for (int32_t c = 0; c < n; ++c)
                if (faces[size_t(c) + 1] >= v) return c;
            return n - 1;
        }
        // First cell c in [0, n) whose upper face faces[c + 1] >= v, n for
        // none (a v that is not a number included), by bisection without a
        // branch on the faces: the answer lies in [lo, lo + len].
        const double* upper = faces.data() + 1;
        int32_t lo = 0, len = n;
        while (len > 1) {
            const int32_t half = len / 2;
            lo = upper[lo + half - 1] >= v ? lo : lo + half;
            len -= half;
        }
        lo += upper[lo] >= v ? 0 : 1;
        return lo < n ? lo : n - 1;
    }

    std::vector<double> fFaceX{0.0}, fFaceY{0.0}, fFaceZ{0.0};
    bool fMonotoneX = true, fMonotoneY = true, fMonotoneZ = true;
};

// The widths of one axis of a data set (0 x, 1 y, 2 z) and the rules that
// read them one by one (the literal walk; tGridGeometry gives the same
// cells from precomputed faces).
namespace grid_axis {
const char* axisName(int aAxis);
const std::vector<float>& widthsOf(const kwd::dataset::TZDXFile& aZDXFile, int aAxis);
// GridsI, GridsJ or GridsK.
int32_t countOf(const kwd::dataset::TZDXFile& aZDXFile, int aAxis);
// A width array shorter than the axis' cell count raises kwd::InputError.
void requireWidths(const kwd::dataset::TZDXFile& aZDXFile, int aAxis);
// First of the n cells whose upper face (widths summed from 0) is >= v,
// else the last cell (0 without cells).
int32_t walkCell(const std::vector<float>& aWidths, int32_t n, double v);
// The sum of the first n widths.
double lengthOf(const std::vector<float>& aWidths, int32_t n);
}  // namespace grid_axis

}  // namespace kwd::engine

#pragma once
// Shared records of the engine (positions, cells, the detector box), the
// three-dimensional field arrays, the grid geometry of a data set and the
// virtual particle.
//
// Grid geometry: cell i spans the closed interval from the sum of the widths
// below it to that sum plus its own width (widths widened to 64 bits and
// summed from index 0 upward); a position on a face between two cells
// belongs to the lower one; the model box is [0, Lx] x [0, Ly] x [0, Lz].

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "dataset/u_ZDXFile.h"

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

// The detector box in model metres.
struct tDetector {
    double xMin = 0.0;
    double xMax = 0.0;
    double yMin = 0.0;
    double yMax = 0.0;
    double zMin = 0.0;
    double zMax = 0.0;
};

// A 64-bit float that has not been set yet; tested as "less than the threshold".
constexpr double kUnsetValue = -99999999.0;
constexpr double kUnsetThreshold = -99999990.0;
inline bool isUnsetValue(double v) { return v < kUnsetThreshold; }

// Cell markers: outside the model box, and a particle that has finished.
constexpr tPosGrid kPosGridOutside{-999, -999, -999};
constexpr tPosGrid kPosGridFinished{-1, -1, -1};

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
    explicit tGridGeometry(const TZDXFile& aZDXFile);

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
        // First cell c in [0, n) whose upper face faces[c + 1] >= v.
        int32_t lo = 0, hi = n;  // answer in [lo, hi]; hi = n means "none"
        while (lo < hi) {
            const int32_t mid = lo + (hi - lo) / 2;
            if (faces[size_t(mid) + 1] >= v)
                hi = mid;
            else
                lo = mid + 1;
        }
        return lo < n ? lo : n - 1;
    }

    std::vector<double> fFaceX{0.0}, fFaceY{0.0}, fFaceZ{0.0};
    bool fMonotoneX = true, fMonotoneY = true, fMonotoneZ = true;
};

// The release's rule for a detector bound: the bound in whole millimetres,
// rounded to the nearest (ties to even); none for a bound that is not finite,
// not below 3.0e6 m in magnitude or beyond 32-bit millimetres (the release
// refuses such a box with kwd::RunSetupError).
std::optional<int32_t> releaseMillimetres(double aMetres);

// One virtual particle. A plain record owned by the engine's particle list.
class tParticle {
public:
    // The fields a pass reads for every particle come first, in one cache
    // line, so that a visit of a particle that no longer moves stays cheap.
    int64_t fLoopIdx = -1;                     // main-loop interval that moves this particle
    bool fInModel = true;                      // alive and inside the model box
    bool fMetTarget = false;
    bool fInObstacle = false;                  // last result of CheckObstacle
    double fdt_sum = 0.0;                      // time advanced in the current call, s
    double fStartTime = 0.0;                   // release time (date-time)
    tPosMeter fTargetPosMeter{-1.0, -1.0, -1.0};  // where the target was met
    tPosGrid fTargetPosGrid{-1, -1, -1};       // cell where the target was met
    tPosGrid fOriginPosGrid{};                 // release cell
    tPosMeter fOriginPosMeter{};               // release position
    tPosGrid fPosGrid{};                       // current cell; markers above
    tPosMeter fPosMeter{};                     // current position, metres
    double fTimeUntilHit = 0.0;                // the particle's own clock (date-time)
    double fTravelDistance = 0.0;              // path length, metres
    double fWEmitter = kUnsetValue;            // total w at the emitter end, m/s
    double fWDetector = kUnsetValue;           // total w at the detector end, m/s
    double fdt = -1.0;                         // last sub-step, s
    double fAge = kUnsetValue;                 // sum of sub-steps; < 0: velocity not set up
    double fAge_m = 0.0;                       // fAge before the last sub-step
    double frVar1 = kUnsetValue;               // sub-grid velocity along x, m/s
    double frVar2 = kUnsetValue;               // along y
    double frVar3 = kUnsetValue;               // along z
    double fRG_u = kUnsetValue;                // standard normal numbers of the last sub-step
    double fRG_v = kUnsetValue;
    double fRG_w = kUnsetValue;
    double fRG_u_old = 0.0;                    // those of the sub-step before
    double fRG_v_old = 0.0;
    double fRG_w_old = 0.0;
    double fe_m = kUnsetValue;                 // kinetic energy at the particle in the last sub-step

    // Random streams: the particle's serial number in the run and the number
    // of words it has drawn from its velocity stream.
    int64_t fSerialNr = 0;
    uint64_t fRandCounter = 0;
    // Sub-steps made in the particle's life (for diagnostics and benchmarks).
    int64_t fSubSteps = 0;

    // A particle at the origin with the field values of a fresh particle
    // (for building particles by hand).
    tParticle() = default;

    // Release inside the detector box: with midPoint the middle of the box,
    // otherwise a position of millimetre resolution drawn from the release
    // stream of (aSeed, aSerialNr), x, y, z in turn; each axis from
    // [min(a, b), max(a, b)) with a, b the rounded bounds in mm (a when equal).
    // A bound that does not fit 32-bit millimetres raises kwd::RunSetupError.
    tParticle(const tDetector& aDetector, bool midPoint, const TZDXFile& aZDXFile,
              double aDateTime, uint64_t aSeed, int64_t aSerialNr);
    // The same, locating the cell with the precomputed faces of the data set.
    tParticle(const tDetector& aDetector, bool midPoint, const tGridGeometry& aGeometry,
              double aDateTime, uint64_t aSeed, int64_t aSerialNr);

    // fPosGrid from fPosMeter; outside the box (-999, -999, -999) and fInModel false.
    void calcGridFromMeters(const TZDXFile& aZDXFile);
    void calcGridFromMeters(const tGridGeometry& aGeometry) {
        if (!aGeometry.locate(fPosMeter, fPosGrid)) {
            fPosGrid = kPosGridOutside;
            fInModel = false;
        }
    }
    // fPosMeter := centre of cell fPosGrid. An index outside the width arrays
    // raises kwd::GeneralError and leaves the particle unchanged.
    void calcMeterFromGrid(const TZDXFile& aZDXFile);
    // fTravelDistance / whole seconds between fStartTime and fTimeUntilHit; 0 below 1 s.
    double getMeanVelocity() const;

private:
    void drawPosition(const tDetector& aDetector, bool midPoint, uint64_t aSeed);
    void finishRelease(double aDateTime);
};

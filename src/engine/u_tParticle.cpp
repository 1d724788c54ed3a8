#include "engine/u_tParticle.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>

#include "engine/u_Random.h"
#include "platform/DateTime.h"
#include "platform/KwdError.h"

namespace kwd::engine {

using kwd::dataset::TZDXFile;

using grid_axis::axisName;
using grid_axis::lengthOf;
using grid_axis::requireWidths;
using grid_axis::walkCell;
using grid_axis::widthsOf;

namespace {

// Box bound in whole millimetres (releaseMillimetres), or the refusal.
int32_t boundInMillimetres(double metres, const char* name) {
    if (const std::optional<int32_t> mm = releaseMillimetres(metres)) return *mm;
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", metres);
    throw kwd::RunSetupError(std::string("detector bound ") + name + " = " + text +
                             " m is outside the range of whole millimetres the release can draw");
}

}  // namespace

std::optional<int32_t> releaseMillimetres(double aMetres) {
    // Below 3.0e6 m the product with 1000 is exact enough to round; the
    // 32-bit range bounds it further.
    if (!std::isfinite(aMetres) || std::fabs(aMetres) >= 3.0e6) return std::nullopt;
    const double mm = std::nearbyint(aMetres * 1000.0);
    if (mm < double(std::numeric_limits<int32_t>::min()) ||
        mm > double(std::numeric_limits<int32_t>::max()))
        return std::nullopt;
    return int32_t(mm);
}

tReleaseBox::tReleaseBox(const tDetector& aDetector) {
    const double lo[3] = {aDetector.xMin, aDetector.yMin, aDetector.zMin};
    const double hi[3] = {aDetector.xMax, aDetector.yMax, aDetector.zMax};
    const char* const loNames[3] = {"xMin", "yMin", "zMin"};
    const char* const hiNames[3] = {"xMax", "yMax", "zMax"};
    for (int axis = 0; axis < 3; ++axis) {
        const int32_t a = boundInMillimetres(lo[axis], loNames[axis]);
        const int32_t b = boundInMillimetres(hi[axis], hiNames[axis]);
        first[axis] = a < b ? a : b;
        last[axis] = a < b ? b : a;
    }
}

void tParticle::drawPosition(const tDetector& d, bool midPoint, uint64_t aSeed) {
    if (midPoint) {
        fPosMeter.x = d.xMin + (d.xMax - d.xMin) / 2.0;
        fPosMeter.y = d.yMin + (d.yMax - d.yMin) / 2.0;
        fPosMeter.z = d.zMin + (d.zMax - d.zMin) / 2.0;
        return;
    }
    drawPosition(tReleaseBox(d), aSeed);
}

void tParticle::drawPosition(const tReleaseBox& aBox, uint64_t aSeed) {
    // Each axis from [first, last) in whole millimetres (first when equal).
    tRandomStream stream(aSeed, fSerialNr, tRandomPurpose::Release);
    double* const at[3] = {&fPosMeter.x, &fPosMeter.y, &fPosMeter.z};
    for (int axis = 0; axis < 3; ++axis) {
        const int32_t first = aBox.first[axis], last = aBox.last[axis];
        int64_t r = first;
        if (last > first) r += int64_t(stream.Random(uint32_t(int64_t(last) - int64_t(first))));
        *at[axis] = double(r) / 1000.0;
    }
}

void tParticle::finishRelease(double aDateTime) {
    fOriginPosGrid = fPosGrid;
    fOriginPosMeter = fPosMeter;
    // Every other field takes its release value, fInModel included: a
    // position outside the box keeps the outside marker with fInModel true
    // until the releasing loop locates the cell again.
    fInModel = true;
    fStartTime = aDateTime;
    fTimeUntilHit = aDateTime;
    fLoopIdx = -1;
}

tParticle::tParticle(const tDetector& aDetector, bool midPoint, const TZDXFile& aZDXFile,
                     double aDateTime, uint64_t aSeed, int64_t aSerialNr)
    : fSerialNr(aSerialNr) {
    drawPosition(aDetector, midPoint, aSeed);
    calcGridFromMeters(aZDXFile);
    finishRelease(aDateTime);
}

tParticle::tParticle(const tDetector& aDetector, bool midPoint, const tGridGeometry& aGeometry,
                     double aDateTime, uint64_t aSeed, int64_t aSerialNr)
    : fSerialNr(aSerialNr) {
    drawPosition(aDetector, midPoint, aSeed);
    calcGridFromMeters(aGeometry);
    finishRelease(aDateTime);
}

tParticle::tParticle(const tReleaseBox& aBox, const tGridGeometry& aGeometry, double aDateTime,
                     uint64_t aSeed, int64_t aSerialNr)
    : fSerialNr(aSerialNr) {
    drawPosition(aBox, aSeed);
    calcGridFromMeters(aGeometry);
    finishRelease(aDateTime);
}

void tParticle::calcGridFromMeters(const TZDXFile& aZDXFile) {
    for (int axis = 0; axis < 3; ++axis) requireWidths(aZDXFile, axis);
    const double lx = lengthOf(aZDXFile.sizedx, aZDXFile.GridsI);
    const double ly = lengthOf(aZDXFile.sizedy, aZDXFile.GridsJ);
    const double lz = lengthOf(aZDXFile.sizedz, aZDXFile.GridsK);
    const tPosMeter& p = fPosMeter;
    if (p.x > lx || p.x < 0.0 || p.y > ly || p.y < 0.0 || p.z > lz || p.z < 0.0) {
        fPosGrid = kPosGridOutside;
        fInModel = false;
        return;
    }
    fPosGrid.i = walkCell(aZDXFile.sizedx, aZDXFile.GridsI, p.x);
    fPosGrid.j = walkCell(aZDXFile.sizedy, aZDXFile.GridsJ, p.y);
    fPosGrid.k = walkCell(aZDXFile.sizedz, aZDXFile.GridsK, p.z);
}

void tParticle::calcMeterFromGrid(const TZDXFile& aZDXFile) {
    // A cell without a width (a marker such as (-1, -1, -1) included) has no
    // centre; nothing is read outside the width arrays.
    for (int axis = 0; axis < 3; ++axis) {
        const int32_t c = axis == 0 ? fPosGrid.i : axis == 1 ? fPosGrid.j : fPosGrid.k;
        if (c < 0 || size_t(c) >= widthsOf(aZDXFile, axis).size()) {
            throw kwd::GeneralError(
                "cell (" + std::to_string(fPosGrid.i) + ", " + std::to_string(fPosGrid.j) + ", " +
                std::to_string(fPosGrid.k) + ") has no centre in data set " +
                aZDXFile.InfoFilename + ": index " + std::to_string(c) + " along " +
                axisName(axis) + " is outside its " +
                std::to_string(widthsOf(aZDXFile, axis).size()) + " cell widths");
        }
    }
    auto centre = [](const std::vector<float>& widths, int32_t c) {
        double below = 0.0;
        for (int32_t n = 0; n < c; ++n) below += double(widths[size_t(n)]);
        return below + double(widths[size_t(c)]) / 2.0;
    };
    fPosMeter.x = centre(aZDXFile.sizedx, fPosGrid.i);
    fPosMeter.y = centre(aZDXFile.sizedy, fPosGrid.j);
    fPosMeter.z = centre(aZDXFile.sizedz, fPosGrid.k);
}

double tParticle::getMeanVelocity() const {
    const int64_t seconds = kwd::secondsBetween(fStartTime, fTimeUntilHit);
    return seconds > 0 ? fTravelDistance / double(seconds) : 0.0;
}

}  // namespace kwd::engine

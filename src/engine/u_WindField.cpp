// Wind-field loading, the period snapshot, the time advance of the fields and
// the derived quantities (nodes, per-level statistics, TKE gradients).

#include <emmintrin.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cmath>
#include <string>
#include <utility>

#include "dataset/DatasetText.h"
#include "dataset/u_ZDTFile.h"
#include "engine/u_tParticleManager.h"
#include "platform/FpControl.h"
#include "platform/KwdError.h"

namespace {

using dataset_text::gridText;

std::string widthText(float w) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.9g", double(w));
    return buf;
}

// Copies a block in file order (i fastest, then j, then k) into an array.
template <typename T, typename Convert>
void fromBlock(const std::vector<float>& block, t3DArray<T>& out, Convert convert) {
    const int32_t nI = out.sizeI(), nJ = out.sizeJ(), nK = out.sizeK();
    size_t n = 0;
    for (int32_t k = 0; k < nK; ++k)
        for (int32_t j = 0; j < nJ; ++j)
            for (int32_t i = 0; i < nI; ++i) out(i, j, k) = convert(block[n++], i, j, k);
}

// How a message names variable `var` of a data set: its position, and its
// name (blanks around it aside) where the descriptor gives one.
std::string variableText(const TZDXFile& z, int32_t var) {
    std::string text = "variable " + std::to_string(var);
    if (size_t(var) >= z.nameVars.size()) return text;
    const std::string& name = z.nameVars[size_t(var)];
    const size_t first = name.find_first_not_of(' ');
    if (first == std::string::npos) return text;
    return text + " (\"" + name.substr(first, name.find_last_not_of(' ') - first + 1) + "\")";
}

// Refuses, at the first cell in file order, a value the step cannot work
// with: one that is not a finite number, or with `obstacles` given (the
// dissipation), one below 0 in a cell that is not an obstacle, which would
// hold every particle near it at the shortest sub-step.
void checkBlockValues(const std::vector<float>& block, const TZDXFile& z, int32_t var,
                      int32_t nI, int32_t nJ, int32_t nK, const t3DArrayInt64* obstacles) {
    size_t n = 0;
    for (int32_t k = 0; k < nK; ++k)
        for (int32_t j = 0; j < nJ; ++j)
            for (int32_t i = 0; i < nI; ++i) {
                const float v = block[n++];
                const bool finite = std::isfinite(v);
                const bool negativeInAir = finite && obstacles != nullptr && v < 0.0f &&
                                           (*obstacles)(i, j, k) != 1;
                if (finite && !negativeInAir) continue;
                throw kwd::InputError(
                    "data set " + z.InfoFilename + ": " + variableText(z, var) + " holds " +
                    widthText(v) + " in cell (" + std::to_string(i) + ", " + std::to_string(j) +
                    ", " + std::to_string(k) + ")" +
                    (finite ? ", a cell outside the obstacles; the dissipation must not be negative"
                            : ", which is not a finite number"));
            }
}

}  // namespace

void tParticleManager::allocateFields() {
    if (fCurrZDXFile == nullptr) throw kwd::RunSetupError("no current data set to size the fields");
    const TZDXFile& z = *fCurrZDXFile;
    const int32_t nI = z.GridsI, nJ = z.GridsJ, nK = z.GridsK;
    if (nI < 3 || nJ < 3 || nK < 4) {
        throw kwd::InputError("data set " + z.InfoFilename + ": grid of " + gridText(nI, nJ, nK) +
                              " cells; the engine needs at least 3 columns, 3 rows and 4 levels");
    }
    ZDTBlockValueCount(nI, nJ, nK);  // raises when the block does not fit 32 bits
    const std::vector<float>* widths[3] = {&z.sizedx, &z.sizedy, &z.sizedz};
    const int32_t counts[3] = {nI, nJ, nK};
    const char* axes[3] = {"x", "y", "z"};
    for (int a = 0; a < 3; ++a) {
        if (widths[a]->size() < size_t(counts[a])) {
            throw kwd::InputError("data set " + z.InfoFilename + ": " +
                                  std::to_string(widths[a]->size()) + " cell widths along " +
                                  axes[a] + " for " + std::to_string(counts[a]) + " cells");
        }
        for (int32_t c = 0; c < counts[a]; ++c) {
            const float w = (*widths[a])[size_t(c)];
            if (!(w > 0.0f) || !std::isfinite(w)) {
                throw kwd::InputError("data set " + z.InfoFilename + ": cell width " +
                                      widthText(w) + " m at index " + std::to_string(c) +
                                      " along " + axes[a] + " is not a positive length");
            }
        }
    }
    // The wind profile below the lowest node is logarithmic with a roughness
    // length of 0.01 m; it needs the node above that height.
    if (!(double(z.sizedz[0]) / 2.0 > 0.01)) {
        throw kwd::InputError("data set " + z.InfoFilename + ": the lowest level is " +
                              widthText(z.sizedz[0]) +
                              " m thick; the wind profile near the ground needs more than 0.02 m");
    }
    fGridI = nI;
    fGridJ = nJ;
    fGridK = nK;
    fGridDx.assign(z.sizedx.begin(), z.sizedx.begin() + nI);
    fGridDy.assign(z.sizedy.begin(), z.sizedy.begin() + nJ);
    fGridDz.assign(z.sizedz.begin(), z.sizedz.begin() + nK);

    forEachSnapshotPair([&](auto& live, auto& snapshot) {
        live.resize(nI, nJ, nK);
        snapshot.resize(nI, nJ, nK);
    });
    for (t3DArraySingle* a : {&fRateU_Ar, &fRateV_Ar, &fRateW_Ar, &fRateTKE_Ar,
                              &fRateDissipation_Ar, &fRateVaporFlx_Ar})
        a->resize(nI, nJ, nK, 0.0f);
    for (t3DArrayDouble* a : {&fde_dx_Ar, &fde_dy_Ar, &fde_dz_Ar}) a->resize(nI, nJ, nK, 0.0);
    for (std::vector<double>* a :
         {&fVerticalMeanU_Ar, &fVerticalMeanV_Ar, &fVerticalMeanW_Ar, &fVerticalMeanU2_Ar,
          &fVerticalMeanV2_Ar, &fVerticalMeanW2_Ar, &fVerticalMeanTKE_Ar, &fZMidPoint_Ar,
          &fZTopBorder_Ar})
        a->assign(size_t(nK), 0.0);
    fXMidPoint_Ar.assign(size_t(nI), 0.0);
    fYMidPoint_Ar.assign(size_t(nJ), 0.0);
    fLevelCellCount.assign(size_t(nK), 0);
    fGeometry = tGridGeometry(z);
    // The cell records exist from here on, so that no step ever builds them.
    buildSampleCells();
}

void tParticleManager::checkSameGrid(const TZDXFile& z) const {
    const bool countsMatch = z.GridsI == fGridI && z.GridsJ == fGridJ && z.GridsK == fGridK;
    auto widthsMatch = [](const std::vector<float>& w, const std::vector<float>& ref) {
        if (w.size() < ref.size()) return false;
        for (size_t c = 0; c < ref.size(); ++c)
            if (w[c] != ref[c]) return false;
        return true;
    };
    if (!countsMatch || !widthsMatch(z.sizedx, fGridDx) || !widthsMatch(z.sizedy, fGridDy) ||
        !widthsMatch(z.sizedz, fGridDz)) {
        throw kwd::InputError("data set " + z.InfoFilename + ": its grid (" +
                              gridText(z.GridsI, z.GridsJ, z.GridsK) +
                              " cells and their widths) differs from the run's grid (" +
                              gridText(fGridI, fGridJ, fGridK) + " cells)");
    }
}

void tParticleManager::computeNodePositions() {
    const TZDXFile& z = *fCurrZDXFile;
    const int32_t nI = fGridI, nJ = fGridJ, nK = fGridK;
    // x and y: each node is the previous one plus the full width of its own cell.
    fXMidPoint_Ar[0] = double(z.sizedx[0]) / 2.0;
    for (int32_t i = 1; i < nI; ++i)
        fXMidPoint_Ar[size_t(i)] = fXMidPoint_Ar[size_t(i) - 1] + double(z.sizedx[size_t(i)]);
    fYMidPoint_Ar[0] = double(z.sizedy[0]) / 2.0;
    for (int32_t j = 1; j < nJ; ++j)
        fYMidPoint_Ar[size_t(j)] = fYMidPoint_Ar[size_t(j) - 1] + double(z.sizedy[size_t(j)]);
    if (fFootprintModel == tFootprintModel::Touchdown) {
        // The touchdown model: nodes at the cell centres (halfway between the
        // cell faces), also on telescoped grids.
        for (int32_t i = 0; i < nI; ++i) {
            const double low = fGeometry.facesX()[size_t(i)];
            fXMidPoint_Ar[size_t(i)] = low + 0.5 * (fGeometry.facesX()[size_t(i) + 1] - low);
        }
        for (int32_t j = 0; j < nJ; ++j) {
            const double low = fGeometry.facesY()[size_t(j)];
            fYMidPoint_Ar[size_t(j)] = low + 0.5 * (fGeometry.facesY()[size_t(j) + 1] - low);
        }
    }
    fZTopBorder_Ar[0] = double(z.sizedz[0]);
    fZMidPoint_Ar[0] = double(z.sizedz[0]) / 2.0;
    for (int32_t k = 1; k < nK; ++k) {
        fZTopBorder_Ar[size_t(k)] = fZTopBorder_Ar[size_t(k) - 1] + double(z.sizedz[size_t(k)]);
        fZMidPoint_Ar[size_t(k)] = fZTopBorder_Ar[size_t(k)] - 0.5 * double(z.sizedz[size_t(k)]);
    }
}

void tParticleManager::loadPeriodFields(int32_t aDeltaSeconds) {
    if (fCurrZDXFile == nullptr || fNextZDXFile == nullptr)
        throw kwd::RunSetupError("period loading needs the current and the next data set");
    if (fObject_Ar.empty()) throw kwd::RunSetupError("period loading before field allocation");
    const TZDXFile& cur = *fCurrZDXFile;
    const TZDXFile& next = *fNextZDXFile;
    checkSameGrid(cur);
    checkSameGrid(next);
    fGeometry = tGridGeometry(cur);
    kwd::clearFpFlags();
    computeNodePositions();

    const int32_t nI = fGridI, nJ = fGridJ, nK = fGridK;
    std::vector<float> block(size_t(nI) * size_t(nJ) * size_t(nK));
    // Every block the engine reads is checked as it comes in (the object
    // codes have their own test below); the dissipation once the object
    // codes are known.
    auto read = [&](const TZDXFile& z, int32_t var) {
        ReadZDTBlock(z.DataFilename, var, nI, nJ, nK, block);
        if (var != kVarObjects)
            checkBlockValues(block, z, var, nI, nJ, nK,
                             var == kVarDissipation ? &fObject_Ar : nullptr);
    };

    // Object codes, rounded to the nearest whole number (ties to even); the
    // code 2 counts as an obstacle (1).
    read(cur, kVarObjects);
    fromBlock(block, fObject_Ar, [&](float v, int32_t i, int32_t j, int32_t k) -> int64_t {
        if (!std::isfinite(v) || std::fabs(v) > 1.0e15f) {
            throw kwd::InputError("data set " + cur.InfoFilename + ": object code " +
                                  widthText(v) + " of cell (" + std::to_string(i) + ", " +
                                  std::to_string(j) + ", " + std::to_string(k) +
                                  ") is not a whole number");
        }
        const int64_t code = int64_t(std::nearbyint(double(v)));
        return code == 2 ? 1 : code;
    });

    auto same = [](float v, int32_t, int32_t, int32_t) { return v; };
    const std::pair<int32_t, t3DArraySingle*> live[] = {
        {kVarU, &fuvwX_Ar}, {kVarV, &fuvwY_Ar}, {kVarW, &fuvwZ_Ar},
        {kVarTKE, &fTKE_Ar}, {kVarDissipation, &fDissipation_Ar}};
    for (const auto& [var, arr] : live) {
        read(cur, var);
        fromBlock(block, *arr, same);
    }

    // Emitter field at load time: 1 in the inner cells with an object code
    // above 10 (not the side boundary, not the top level).
    for (int32_t i = 0; i < nI; ++i)
        for (int32_t j = 0; j < nJ; ++j)
            for (int32_t k = 0; k < nK; ++k) {
                const bool inner = i > 0 && i < nI - 1 && j > 0 && j < nJ - 1 && k < nK - 1;
                fVaporFlx_Ar(i, j, k) = inner && fObject_Ar(i, j, k) > 10 ? 1.0f : 0.0f;
            }
    takePeriodSnapshot();

    // Rates towards the next data set. Model time runs backwards (s = -1), so
    // the live fields move from this data set's values to the next one's. A
    // period of no length has no steps and keeps the fields as loaded.
    const double s = -1.0;
    const double dt = double(aDeltaSeconds);
    auto rate = [&](double current, double nextValue) {
        return dt != 0.0 ? float(s * (current - nextValue) / dt) : 0.0f;
    };
    const std::pair<int32_t, std::pair<t3DArraySingle*, t3DArraySingle*>> rates[] = {
        {kVarU, {&fuvwX_Ar, &fRateU_Ar}},
        {kVarV, {&fuvwY_Ar, &fRateV_Ar}},
        {kVarW, {&fuvwZ_Ar, &fRateW_Ar}},
        {kVarTKE, {&fTKE_Ar, &fRateTKE_Ar}},
        {kVarDissipation, {&fDissipation_Ar, &fRateDissipation_Ar}}};
    for (const auto& [var, arrays] : rates) {
        read(next, var);
        const t3DArraySingle& current = *arrays.first;
        fromBlock(block, *arrays.second, [&](float v, int32_t i, int32_t j, int32_t k) {
            return rate(double(current(i, j, k)), double(v));
        });
    }
    read(next, kVarVaporFlux);
    fromBlock(block, fRateVaporFlx_Ar, [&](float v, int32_t i, int32_t j, int32_t k) {
        const bool inner = i > 0 && i < nI - 1 && j > 0 && j < nJ - 1;
        const double current = double(fVaporFlx_Ar(i, j, k));
        return inner ? rate(current, double(v)) : rate(current, 0.0);
    });
    kwd::checkFpFlags(("period loading of data set " + cur.InfoFilename).c_str());
}

void tParticleManager::resetBatchFields() {
    forEachSnapshotPair([](auto& live, const auto& snapshot) { live = snapshot; });
}

void tParticleManager::takePeriodSnapshot() {
    forEachSnapshotPair([](const auto& live, auto& snapshot) { snapshot = live; });
}

namespace {

// Two levels side by side: each lane holds the values of one level.
typedef double tVec2 __attribute__((vector_size(16)));
typedef int64_t tMask2 __attribute__((vector_size(16)));

// -1 in the lanes of cells that are not obstacles, 0 in the others. The
// baseline has no 64-bit compare: both 32-bit halves are compared with
// those of 1 and the two results combined.
inline tMask2 airMask(const int64_t* codes) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(codes));
    const __m128i halves = _mm_cmpeq_epi32(c, _mm_set_epi32(0, 1, 0, 1));
    const __m128i swapped = _mm_shuffle_epi32(halves, _MM_SHUFFLE(2, 3, 0, 1));
    const __m128i obstacle = _mm_and_si128(halves, swapped);
    return tMask2(_mm_xor_si128(obstacle, _mm_set1_epi32(-1)));
}
inline tVec2 widen2(const float* p) { return tVec2{double(p[0]), double(p[1])}; }
inline tVec2 load2(const double* p) {
    tVec2 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
// sum += air ? x : 0 in each lane.
inline void addKept(double* sum, tVec2 x, tMask2 air) {
    const tVec2 s = load2(sum) + tVec2(tMask2(x) & air);
    std::memcpy(sum, &s, sizeof s);
}

// The dissipation and the emitter field are first read by the particle
// step, at the cells it samples; building the cell records raises no flag
// of theirs: a signalling NaN is widened as a quiet one, and the emitter
// test (value != 0) is made on the bits.
inline double widenQuietly(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    if ((bits & 0x7F800000u) == 0x7F800000u && (bits & 0x007FFFFFu) != 0) {
        bits |= 0x00400000u;
        std::memcpy(&value, &bits, sizeof bits);
    }
    return double(value);
}
inline bool nonZero(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & 0x7FFFFFFFu) != 0;
}

}  // namespace

void tParticleManager::updateDerivedFields() {
    kwd::clearFpFlags();
    const int32_t nI = fGridI, nJ = fGridJ;
    const size_t K = size_t(fGridK);
    const int64_t* obj = fObject_Ar.data();
    const float* u = fuvwX_Ar.data();
    const float* v = fuvwY_Ar.data();
    const float* w = fuvwZ_Ar.data();
    const float* tke = fTKE_Ar.data();
    const size_t columns = size_t(nI) * size_t(nJ);

    // 1. Per-level statistics over the cells that are not obstacles. Each
    // level's sums run over the columns in order; two levels are summed side
    // by side, each in its own lane.
    std::fill(fLevelCellCount.begin(), fLevelCellCount.end(), 0);
    for (std::vector<double>* a :
         {&fVerticalMeanU_Ar, &fVerticalMeanV_Ar, &fVerticalMeanW_Ar, &fVerticalMeanU2_Ar,
          &fVerticalMeanV2_Ar, &fVerticalMeanW2_Ar, &fVerticalMeanTKE_Ar})
        std::fill(a->begin(), a->end(), 0.0);
    double* mU = fVerticalMeanU_Ar.data();
    double* mV = fVerticalMeanV_Ar.data();
    double* mW = fVerticalMeanW_Ar.data();
    double* mT = fVerticalMeanTKE_Ar.data();
    double* mU2 = fVerticalMeanU2_Ar.data();
    double* mV2 = fVerticalMeanV2_Ar.data();
    double* mW2 = fVerticalMeanW2_Ar.data();
    int64_t* count = fLevelCellCount.data();
    for (size_t c = 0; c < columns; ++c) {
        const size_t base = c * K;
        size_t k = 0;
        for (; k + 2 <= K; k += 2) {
            const tMask2 air = airMask(obj + base + k);
            tMask2 n;
            std::memcpy(&n, count + k, sizeof n);
            n -= air;  // air is -1 in its lane
            std::memcpy(count + k, &n, sizeof n);
            addKept(mU + k, widen2(u + base + k), air);
            addKept(mV + k, widen2(v + base + k), air);
            addKept(mW + k, widen2(w + base + k), air);
            addKept(mT + k, widen2(tke + base + k), air);
            // w^2 in single precision, of the cells that are not obstacles
            // only: an obstacle's w is never used, and its square could overflow.
            const float wa = obj[base + k] != 1 ? w[base + k] : 0.0f;
            const float wb = obj[base + k + 1] != 1 ? w[base + k + 1] : 0.0f;
            const float w2[2] = {wa * wa, wb * wb};
            addKept(mW2 + k, widen2(w2), air);
        }
        for (; k < K; ++k) {
            const bool air = obj[base + k] != 1;
            count[k] += air ? 1 : 0;
            mU[k] += air ? double(u[base + k]) : 0.0;
            mV[k] += air ? double(v[base + k]) : 0.0;
            mW[k] += air ? double(w[base + k]) : 0.0;
            mT[k] += air ? double(tke[base + k]) : 0.0;
            const float wk = air ? w[base + k] : 0.0f;
            mW2[k] += double(wk * wk);  // single precision
        }
    }
    for (size_t k = 0; k < K; ++k) {
        if (count[k] == 0) {
            throw kwd::FloatingPointError(
                "floating-point division by zero in the derived-field update: level " +
                std::to_string(k) + " of data set " + fCurrZDXFile->InfoFilename +
                " holds only obstacle cells");
        }
        const double n = double(count[k]);
        mU[k] /= n;
        mV[k] /= n;
        mW[k] /= n;
        mT[k] /= n;
        mW2[k] /= n;
    }
    for (size_t c = 0; c < columns; ++c) {
        const size_t base = c * K;
        size_t k = 0;
        for (; k + 2 <= K; k += 2) {
            const tMask2 air = airMask(obj + base + k);
            const tVec2 du = widen2(u + base + k) - load2(mU + k);
            const tVec2 dv = widen2(v + base + k) - load2(mV + k);
            addKept(mU2 + k, du * du, air);
            addKept(mV2 + k, dv * dv, air);
        }
        for (; k < K; ++k) {
            const bool air = obj[base + k] != 1;
            const double du = double(u[base + k]) - mU[k];
            const double dv = double(v[base + k]) - mV[k];
            mU2[k] += air ? du * du : 0.0;
            mV2[k] += air ? dv * dv : 0.0;
        }
    }
    for (size_t k = 0; k < K; ++k) {
        const double n = double(count[k]);
        mU2[k] /= n;
        mV2[k] /= n;
    }

    // 2. Gradients of (2/3) TKE in the inner columns (the side columns keep
    // 0), and with them, column by column, the cell records.
    buildSampleCells(true);
    kwd::checkFpFlags("the derived-field update");
}

void tParticleManager::buildSampleCells() { buildSampleCells(false); }

void tParticleManager::buildSampleCells(bool gradients) {
    const int32_t nI = fGridI, nJ = fGridJ, nK = fGridK;
    const size_t n = fuvwX_Ar.size();
    if (fSampleCells.size() != n) fSampleCells.resize(n);
    if (fCellClass.size() != n) fCellClass.resize(n);
    if (n == 0 || size_t(nI) * size_t(nJ) * size_t(nK) != n) return;
    const int64_t* obj = fObject_Ar.data();
    const float* u = fuvwX_Ar.data();
    const float* v = fuvwY_Ar.data();
    const float* w = fuvwZ_Ar.data();
    const float* tke = fTKE_Ar.data();
    const float* eps = fDissipation_Ar.data();
    const float* vapor = fVaporFlx_Ar.data();
    double* dx = fde_dx_Ar.data();
    double* dy = fde_dy_Ar.data();
    double* dz = fde_dz_Ar.data();
    const double* X = fXMidPoint_Ar.data();
    const double* Y = fYMidPoint_Ar.data();
    const double* Z = fZMidPoint_Ar.data();
    tSampleCell* cells = fSampleCells.data();
    uint8_t* cls = fCellClass.data();
    const size_t K = size_t(nK), strideI = size_t(nJ) * K;
    const double twoThirds = 2.0 / 3.0;
    // Records of more than 16 MB do not stay in the caches: written around them.
    const bool stream = n * sizeof(tSampleCell) > (size_t(16) << 20);

    for (int32_t i = 0; i < nI; ++i) {
        for (int32_t j = 0; j < nJ; ++j) {
            const size_t base = size_t(i) * strideI + size_t(j) * K;
            if (gradients && i >= 1 && i <= nI - 2 && j >= 1 && j <= nJ - 2) {
                const double dX = X[i + 1] - X[i - 1];
                const double dY = Y[j + 1] - Y[j - 1];
                const float* T = tke + base;
                const float* Tip = T + strideI;
                const float* Tim = T - strideI;
                const float* Tjp = T + K;
                const float* Tjm = T - K;
                double* gx = dx + base;
                double* gy = dy + base;
                double* gz = dz + base;
                for (int32_t k = 0; k < nK; ++k) {
                    gx[k] = twoThirds * (double(Tip[k]) - double(Tim[k])) / dX;
                    gy[k] = twoThirds * (double(Tjp[k]) - double(Tjm[k])) / dY;
                }
                gz[0] = 0.0;
                // Level 1 takes the one-sided difference between levels 2 and 3.
                gz[1] = twoThirds * (double(T[3]) - double(T[2])) / (Z[3] - Z[2]);
                for (int32_t k = 2; k <= nK - 2; ++k)
                    gz[k] = twoThirds * (double(T[k + 1]) - double(T[k - 1])) / (Z[k + 1] - Z[k - 1]);
                gz[nK - 1] = 0.0;
            }
            for (size_t k = 0; k < K; ++k) {
                const size_t c = base + k;
                const __m128d uv = _mm_set_pd(double(v[c]), double(u[c]));
                const __m128d wk = _mm_set_pd(double(tke[c]), double(w[c]));
                const __m128d eg = _mm_set_pd(dx[c], widenQuietly(eps[c]));
                const __m128d gg = _mm_set_pd(dz[c], dy[c]);
                double* r = cells[c].v;
                if (stream) {
                    _mm_stream_pd(r, uv);
                    _mm_stream_pd(r + 2, wk);
                    _mm_stream_pd(r + 4, eg);
                    _mm_stream_pd(r + 6, gg);
                } else {
                    _mm_store_pd(r, uv);
                    _mm_store_pd(r + 2, wk);
                    _mm_store_pd(r + 4, eg);
                    _mm_store_pd(r + 6, gg);
                }
                // CheckEmitter's rule.
                const int64_t code = obj[c];
                cls[c] = code == 0   ? kCellNothing
                         : code == 1 ? kCellObstacle
                                     : (nonZero(vapor[c]) ? kCellTarget : kCellNothing);
            }
        }
    }
    if (stream) _mm_sfence();
}

void tParticleManager::advanceFields(double dt_3d) {
    kwd::clearFpFlags();
    const std::pair<t3DArraySingle*, const t3DArraySingle*> fields[] = {
        {&fuvwX_Ar, &fRateU_Ar},           {&fuvwY_Ar, &fRateV_Ar},
        {&fuvwZ_Ar, &fRateW_Ar},           {&fTKE_Ar, &fRateTKE_Ar},
        {&fDissipation_Ar, &fRateDissipation_Ar}, {&fVaporFlx_Ar, &fRateVaporFlx_Ar}};
    for (const auto& [field, rate] : fields) {
        float* f = field->data();
        const float* r = rate->data();
        const size_t n = field->size();
        for (size_t c = 0; c < n; ++c) f[c] = float(double(f[c]) + double(r[c]) * dt_3d);
    }
    kwd::checkFpFlags("the field advance");
}

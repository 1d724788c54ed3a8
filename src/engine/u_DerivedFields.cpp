// The quantities derived from the live fields before each step: per-level
// statistics over the cells that are not obstacles, the gradients of (2/3)
// TKE and the cell records and classes the particle step reads.

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/u_tParticleManager.h"
#include "platform/FpControl.h"
#include "platform/KwdError.h"

namespace kwd::engine {

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

// free[c] = 1 for the cells inside the side columns and below the top
// layer with no obstacle in the 3 x 3 x 3 block around them (layers 0 and 1
// for layer 0), else 0. The block is taken apart: the obstacles near each
// cell along k, then along j, both in a rolling set of three planes of i,
// and the three planes around i at last.
void markFreeNeighbourhoods(const uint8_t* cls, int32_t nI, int32_t nJ, int32_t nK,
                            uint8_t* free) {
    const size_t K = size_t(nK), plane = size_t(nJ) * K;
    std::memset(free, 0, size_t(nI) * plane);
    if (nI < 3 || nJ < 3 || nK < 2) return;
    std::vector<uint8_t> alongK(plane), near(3 * plane);
    // near + (i % 3) * plane: obstacles along k and j around the cells of
    // plane i (1 where there is one).
    const auto nearPlane = [&](int32_t i) {
        const uint8_t* c = cls + size_t(i) * plane;
        for (size_t jk = 0; jk < plane; jk += K) {
            for (size_t k = 0; k < K; ++k) {
                uint8_t o = c[jk + k] == kCellObstacle;
                if (k > 0) o |= c[jk + k - 1] == kCellObstacle;
                if (k + 1 < K) o |= c[jk + k + 1] == kCellObstacle;
                alongK[jk + k] = o;
            }
        }
        uint8_t* out = near.data() + size_t(i % 3) * plane;
        for (int32_t j = 1; j + 1 < nJ; ++j) {
            const uint8_t* before = alongK.data() + size_t(j - 1) * K;
            const uint8_t* row = before + K;
            const uint8_t* after = row + K;
            for (size_t k = 0; k < K; ++k)
                out[size_t(j) * K + k] = uint8_t(before[k] | row[k] | after[k]);
        }
    };
    nearPlane(0);
    nearPlane(1);
    for (int32_t i = 1; i + 1 < nI; ++i) {
        nearPlane(i + 1);
        const uint8_t* a = near.data() + size_t((i - 1) % 3) * plane;
        const uint8_t* b = near.data() + size_t(i % 3) * plane;
        const uint8_t* d = near.data() + size_t((i + 1) % 3) * plane;
        uint8_t* f = free + size_t(i) * plane;
        for (int32_t j = 1; j + 1 < nJ; ++j)
            for (size_t k = 0; k + 1 < K; ++k) {
                const size_t at = size_t(j) * K + k;
                f[at] = uint8_t((a[at] | b[at] | d[at]) == 0);
            }
    }
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
    if (fFreeAround.size() != n) fFreeAround.resize(n);
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
    markFreeNeighbourhoods(cls, nI, nJ, nK, fFreeAround.data());
}

}  // namespace kwd::engine

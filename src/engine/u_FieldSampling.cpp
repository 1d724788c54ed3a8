// The flow as seen by a particle: mean wind, sub-grid energy and its
// dissipation, the gradient of the sub-grid variance (inverse-distance
// weighting over the neighbouring cells that are not obstacles) and the
// sub-grid share of the velocity variance at the particle's height.

#include <algorithm>
#include <cmath>

#include "engine/u_tParticleManager.h"

namespace {

constexpr double kRoughnessLength = 0.01;  // m, of the wind profile below the lowest node

// Weighted sums of the values that the interpolation produces.
struct tWeightedSums {
    double w = 0.0;
    double u = 0.0, v = 0.0, wz = 0.0, k = 0.0, eps = 0.0, gx = 0.0, gy = 0.0, gz = 0.0;
};

}  // namespace

tFieldSample tParticleManager::sampleFields(const tParticle& aParticle) const {
    tFieldSample s;
    s.fs = 0.0;
    const tPosMeter& pos = aParticle.fPosMeter;
    const int32_t i = aParticle.fPosGrid.i, j = aParticle.fPosGrid.j, k = aParticle.fPosGrid.k;
    const int32_t nI = fGridI, nJ = fGridJ, nK = fGridK;
    const double z = pos.z;
    const double* Zm = fZMidPoint_Ar.data();
    const double* Zt = fZTopBorder_Ar.data();

    // 1. Case selection.
    const bool boundary = i == 0 || i == nI - 1 || j == 0 || j == nJ - 1 || k == nK - 1;
    const double lowestNode = double(fCurrZDXFile->sizedz[0]) / 2.0;
    if (boundary) {
        s.u = fuvwX_Ar(i, j, k);
        s.v = fuvwY_Ar(i, j, k);
        s.w = fuvwZ_Ar(i, j, k);
        s.k = fTKE_Ar(i, j, k);
        s.eps = fDissipation_Ar(i, j, k);
        s.gx = fde_dx_Ar(i, j, k);
        s.gy = fde_dy_Ar(i, j, k);
        s.gz = fde_dz_Ar(i, j, k);
    } else {
        const bool logProfile = k == 0 && lowestNode > z;
        const int32_t kFirst = k == 0 ? 0 : k - 1;
        const int32_t kLast = logProfile ? 0 : k + 1;
        // 2. Inverse-distance weighting (power 1) over the neighbourhood: the
        // particle's own cell always, the others unless they are obstacles.
        // The squared distances along each axis to the nodes of the
        // neighbourhood; q adds them in the order of calc_Distance.
        double dx2[3], dy2[3], dz2[3];
        for (int32_t n = 0; n < 3; ++n) {
            const double dx = pos.x - fXMidPoint_Ar[size_t(i - 1 + n)];
            const double dy = pos.y - fYMidPoint_Ar[size_t(j - 1 + n)];
            dx2[n] = dx * dx;
            dy2[n] = dy * dy;
        }
        for (int32_t kk = kFirst; kk <= kLast; ++kk) {
            const double dz = z - Zm[kk];
            dz2[kk - kFirst] = dz * dz;
        }
        tWeightedSums sum;
        for (int32_t a = 0; a < 3; ++a) {
            const int32_t ii = i - 1 + a;
            for (int32_t b = 0; b < 3; ++b) {
                const int32_t jj = j - 1 + b;
                const size_t base = fObject_Ar.index(ii, jj, 0);
                const int64_t* obj = fObject_Ar.data() + base;
                const float* u = fuvwX_Ar.data() + base;
                const float* v = fuvwY_Ar.data() + base;
                const float* w = fuvwZ_Ar.data() + base;
                const float* tke = fTKE_Ar.data() + base;
                const float* eps = fDissipation_Ar.data() + base;
                const double* gx = fde_dx_Ar.data() + base;
                const double* gy = fde_dy_Ar.data() + base;
                const double* gz = fde_dz_Ar.data() + base;
                const double dxy = dx2[a] + dy2[b];
                for (int32_t kk = kFirst; kk <= kLast; ++kk) {
                    const bool own = a == 1 && b == 1 && kk == k;
                    if (!own && obj[kk] == 1) continue;
                    // Weight 1 / distance (calc_Distance: 1e-5 m on the node itself).
                    const double q = dxy + dz2[kk - kFirst];
                    const double wn = 1.0 / (q == 0.0 ? 0.00001 : std::sqrt(q));
                    sum.w += wn;
                    sum.u += wn * double(u[kk]);
                    sum.v += wn * double(v[kk]);
                    sum.wz += wn * double(w[kk]);
                    sum.k += wn * double(tke[kk]);
                    sum.eps += wn * double(eps[kk]);
                    sum.gx += wn * gx[kk];
                    sum.gy += wn * gy[kk];
                    sum.gz += wn * gz[kk];
                }
            }
        }
        s.k = sum.k / sum.w;
        s.eps = sum.eps / sum.w;
        s.gx = sum.gx / sum.w;
        s.gy = sum.gy / sum.w;
        s.gz = sum.gz / sum.w;
        if (logProfile) {
            // Logarithmic profile from the cell's own wind. On the ground
            // itself (z = 0) the profile has no value; the wind there is 0.
            // Each component is multiplied by ln(z / z0) before it is divided
            // by ln(node / z0), in that order.
            if (z > 0.0) {
                const double lnZ = std::log(z / kRoughnessLength);
                const double lnNode = std::log(lowestNode / kRoughnessLength);
                s.u = double(fuvwX_Ar(i, j, 0)) * lnZ / lnNode;
                s.v = double(fuvwY_Ar(i, j, 0)) * lnZ / lnNode;
                s.w = double(fuvwZ_Ar(i, j, 0)) * lnZ / lnNode;
            }
        } else {
            s.u = sum.u / sum.w;
            s.v = sum.v / sum.w;
            s.w = sum.wz / sum.w;
        }
    }

    // 3. Layer profiles at height z.
    const double* Kv = fVerticalMeanTKE_Ar.data();
    const double* U2 = fVerticalMeanU2_Ar.data();
    const double* V2 = fVerticalMeanV2_Ar.data();
    const double* W2 = fVerticalMeanW2_Ar.data();
    double kMean, su, sv, sw;
    if (k == 0) {
        kMean = Kv[0];
        su = U2[1] * z / ((Zm[1] - Zm[0]) * 0.5);
        sv = V2[1] * z / ((Zm[1] - Zm[0]) * 0.5);
        sw = W2[0] * z / Zt[0];
    } else {
        if (k == nK - 1) {
            kMean = 0.0;
            // No layer above to interpolate towards: the top layer's own values.
            su = U2[k];
            sv = V2[k];
        } else {
            kMean = Kv[k] + (Kv[k + 1] - Kv[k]) / (Zm[k + 1] - Zm[k]) * (z - Zm[k]);
            su = U2[k] + (U2[k + 1] - U2[k]) * (z - Zm[k]) / (Zm[k + 1] - Zm[k]);
            sv = V2[k] + (V2[k + 1] - V2[k]) * (z - Zm[k]) / (Zm[k + 1] - Zm[k]);
        }
        sw = W2[k - 1] + (W2[k] - W2[k - 1]) * (z - Zt[k - 1]) / (Zt[k] - Zt[k - 1]);
    }
    // 4. Sub-grid fraction. The linear profiles can extrapolate below 0 near
    // the bottom of a layer; energies and variances are not negative, which
    // keeps fs within 0..1.
    const double J = (std::max(su, 0.0) + std::max(sv, 0.0) + std::max(sw, 0.0)) * (1.0 / 3.0);
    const double A = std::max(kMean, 0.0) * (2.0 / 3.0);
    s.fs = A + J == 0.0 ? 1.0 : A / (A + J);
    return s;
}

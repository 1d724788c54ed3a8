// The figures of VALIDATION.md: both footprint models against the
// well-mixed condition and against the analytical footprint of a neutral
// surface layer (make validate).
//
//   kwd_validate [well-mixed particles] [surface-layer particles] [column width, m]
//
// Well-mixed: a column without wind, reflecting ground, 300 m of 5 m layers,
// T_L = 10 s, particles released uniformly, one period of 300 s. The
// interior (75 to 225 m) of c / c_mean - 1 is fitted as a + b z + c z^2 +
// s (k / k_mean - 1) (sine profile of k; the polynomial takes up the drain
// through the open top): s is what follows the turbulence (0 well mixed, -1
// follows 1 / sigma^2); the rms is that of the interior after the polynomial
// is taken off, beside the sampling noise. With k linear in z the pattern of
// k is that of z: the column is 600 m high instead, so that the drain does
// not reach the interior in 300 s, and the fit is a + s (k / k_mean - 1).
//
// Surface layer: neutral log law (u* = 0.3 m/s, z0 = 0.01 m), k = 1.5
// (1.25 u*)^2, eps = u*^3 / (kappa z), so that the model's eddy diffusivity
// sigma_w^2 T_L is 1.63 kappa u* z; every ground cell an emitter, detector
// at 5 m, 2 km of fetch. The analytical footprint (Kormann and Meixner 2001)
// with this diffusivity and the model's wind at 5 m: neutral, so n = 1 and
// the crosswind-integrated footprint is f(x) = xi / x^2 exp(-xi / x).

#include <omp.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/EngineFixtures.h"

using kwd::engine::footprintModelName;
using kwd::engine::fromExactSum;
using kwd::engine::tFootprintModel;
using kwd::engine::tParticle;

namespace {

using kwd::test::tCellValues;

// Solves the normal equations of a least-squares fit y = sum p_k x_k.
std::vector<double> leastSquares(const std::vector<std::vector<double>>& rows,
                                 const std::vector<double>& y) {
    const size_t n = rows[0].size();
    std::vector<std::vector<double>> a(n, std::vector<double>(n + 1, 0.0));
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t i = 0; i < n; ++i) {
            for (size_t j = 0; j < n; ++j) a[i][j] += rows[r][i] * rows[r][j];
            a[i][n] += rows[r][i] * y[r];
        }
    for (size_t c = 0; c < n; ++c) {
        size_t pivot = c;
        for (size_t r = c + 1; r < n; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
        std::swap(a[c], a[pivot]);
        for (size_t r = 0; r < n; ++r) {
            if (r == c) continue;
            const double f = a[r][c] / a[c][c];
            for (size_t j = c; j <= n; ++j) a[r][j] -= f * a[c][j];
        }
    }
    std::vector<double> p(n);
    for (size_t i = 0; i < n; ++i) p[i] = a[i][n] / a[i][i];
    return p;
}

struct tMixing {
    double s = 0, sError = 0, rms = 0, noise = 0, kept = 0;
};

tMixing wellMixed(tFootprintModel model, bool sine, int64_t particles) {
    auto kOf = [sine](double z) {
        return sine ? 1.5 * (1.0 + 0.5 * std::sin(2.0 * M_PI * z / 80.0)) : 0.5 + 2.0 * z / 300.0;
    };
    auto e = kwd::test::makeEngine(
        kwd::test::uniformGrid(3, 3, sine ? 60 : 120, 4000.0f, 4000.0f, 5.0f),
        [&](int32_t, int32_t, int32_t k) {
            tCellValues c;
            const double tke = kOf(5.0 * k + 2.5);
            c.tke = float(tke);
            c.eps = float(4.0 * tke / (9.0 * 10.0));
            return c;
        },
        kwd::test::detectorBox(5999.0, 6001.0, 5999.0, 6001.0, 0.0, sine ? 300.0 : 600.0), 0.0001,
        20240601, particles);
    e->fFootprintModel = model;
    e->computeNodePositions();
    e->releaseParticles(particles);
    for (int call = 0; call < 5; ++call) e->moveAllParticlesParallel(60.0);
    std::vector<double> count(120, 0.0);
    double kept = 0;
    for (const tParticle& p : e->fParticleList)
        if (p.fInModel) count[size_t(p.fPosGrid.k)] += 1.0, kept += 1.0;
    double cMean = 0, kMean = 0;
    for (int k = 15; k < 45; ++k) cMean += count[size_t(k)], kMean += kOf(5.0 * k + 2.5);
    cMean /= 30.0, kMean /= 30.0;
    std::vector<std::vector<double>> rows, polyRows;
    std::vector<double> y;
    for (int k = 15; k < 45; ++k) {
        const double z = (5.0 * k + 2.5 - 150.0) / 75.0;  // -1 .. 1 over the interior
        const double x = kOf(5.0 * k + 2.5) / kMean - 1.0;
        rows.push_back(sine ? std::vector<double>{1.0, z, z * z, x} : std::vector<double>{1.0, x});
        polyRows.push_back(sine ? std::vector<double>{1.0, z, z * z} : std::vector<double>{1.0});
        y.push_back(count[size_t(k)] / cMean - 1.0);
    }
    const std::vector<double> p = leastSquares(rows, y);
    const std::vector<double> poly = leastSquares(polyRows, y);
    tMixing m;
    m.s = p.back();
    double resid2 = 0, detrended2 = 0, sxx = 0;
    double xMean = 0;
    for (const auto& r : rows) xMean += r.back() / double(rows.size());
    for (size_t r = 0; r < rows.size(); ++r) {
        double fit = 0, polyFit = 0;
        for (size_t i = 0; i < p.size(); ++i) fit += p[i] * rows[r][i];
        for (size_t i = 0; i < poly.size(); ++i) polyFit += poly[i] * polyRows[r][i];
        resid2 += (y[r] - fit) * (y[r] - fit);
        detrended2 += (y[r] - polyFit) * (y[r] - polyFit);
        sxx += (rows[r].back() - xMean) * (rows[r].back() - xMean);
    }
    const double dof = double(rows.size() - p.size());
    // The standard error of s, ignoring its (small) correlation with the
    // polynomial terms.
    m.sError = std::sqrt(resid2 / dof / sxx);
    m.rms = std::sqrt(detrended2 / double(rows.size()));
    m.noise = 1.0 / std::sqrt(cMean);
    m.kept = kept / double(particles);
    return m;
}

// ---- surface layer -------------------------------------------------------------------

constexpr double kUStar = 0.3, kZ0 = 0.01, kKappa = 0.4, kZm = 5.0;
double kDx = 10.0;  // column width, m

std::vector<float> surfaceLayers() {
    std::vector<float> dz;
    for (int n = 0; n < 10; ++n) dz.push_back(1.0f);   // to 10 m
    for (int n = 0; n < 5; ++n) dz.push_back(2.0f);    // 20 m
    for (int n = 0; n < 4; ++n) dz.push_back(5.0f);    // 40 m
    for (int n = 0; n < 6; ++n) dz.push_back(10.0f);   // 100 m
    for (int n = 0; n < 8; ++n) dz.push_back(25.0f);   // 300 m
    for (int n = 0; n < 6; ++n) dz.push_back(50.0f);   // 600 m
    return dz;
}

struct tFootprint {
    double share = 0, peak = 0, d50 = 0, d80 = 0;
};

// Peak, 50 % and 80 % distances (from the upwind face of the detector's
// column) of a crosswind-integrated flux footprint given per column upwind
// of the detector, nearest first; the fractions relative to aTotal.
tFootprint describe(const std::vector<double>& flux, double aTotal) {
    tFootprint f;
    double best = -1e300, cum = 0;
    f.d50 = f.d80 = -1;
    for (size_t n = 0; n < flux.size(); ++n) {
        f.share += flux[n];
        if (flux[n] > best) best = flux[n], f.peak = (double(n) + 0.5) * kDx;
        const double before = cum;
        cum += flux[n];
        for (auto [q, d] : {std::pair<double, double*>{0.5, &f.d50}, {0.8, &f.d80}})
            if (*d < 0 && cum >= q * aTotal && flux[n] > 0)
                *d = (double(n) + (q * aTotal - before) / flux[n]) * kDx;
    }
    return f;
}

tFootprint surfaceLayer(tFootprintModel model, int64_t particles, double& aShare) {
    const int32_t I = int32_t(std::lround(2100.0 / kDx)), J = 3;
    const int32_t detectorColumn = int32_t(std::lround(2000.0 / kDx));
    kwd::test::tTestGrid g{I,
                           J,
                           0,
                           std::vector<float>(size_t(I), float(kDx)),
                           std::vector<float>(size_t(J), 4000.0f),
                           surfaceLayers()};
    g.K = int32_t(g.dz.size());
    std::vector<double> zc;
    double top = 0;
    for (float d : g.dz) zc.push_back(top + 0.5 * d), top += d;
    const double tke = 1.5 * (1.25 * kUStar) * (1.25 * kUStar);
    auto e = kwd::test::makeEngine(
        g,
        [&](int32_t i, int32_t j, int32_t k) {
            tCellValues c;
            const double z = zc[size_t(k)];
            c.u = float(kUStar / kKappa * std::log(z / kZ0));
            c.tke = float(tke);
            c.eps = float(kUStar * kUStar * kUStar / (kKappa * z));
            if (k == 0 && i > 0 && i < I - 1 && j == 1) c.obj = 11, c.vapor = 1.0f;
            return c;
        },
        kwd::test::detectorBox(2000.5, 2001.5, 5999.5, 6000.5, 4.995, 5.005), 0.0001, 77,
        particles);
    e->fFootprintModel = model;
    e->computeNodePositions();
    e->releaseParticles(particles);
    // The detector (2001 m) lies in the column from 2000 m on; the n-th column
    // upwind of it has its centre (n + 0.5) dx + 1 m from the detector.
    for (int call = 0; call < 60 && e->getNumberOfParticlesInModel() > 0; ++call)
        e->moveAllParticlesParallel(60.0);
    std::vector<double> column(size_t(I), 0.0);
    if (model == tFootprintModel::Touchdown) {
        if (!e->fTouchdowns.slots().empty())
            for (int32_t i = 0; i < I; ++i)
                column[size_t(i)] = fromExactSum(e->fTouchdowns.slots()[0].flux[size_t(I + i)]);
    } else {
        for (const tParticle& p : e->fParticleList)
            if (p.fMetTarget)
                column[size_t(p.fTargetPosGrid.i)] += p.fWDetector / std::fabs(p.fWEmitter);
    }
    const double norm = 2.0 / double(particles);
    std::vector<double> upwind;
    aShare = 0;
    for (int32_t i = 0; i < I; ++i) aShare += norm * column[size_t(i)];
    for (int32_t i = detectorColumn - 1; i >= 1; --i) upwind.push_back(norm * column[size_t(i)]);
    return describe(upwind, aShare);
}

}  // namespace

int main(int argc, char** argv) {
    const int64_t mixN = argc > 1 ? std::atoll(argv[1]) : 200000;
    const int64_t layerN = argc > 2 ? std::atoll(argv[2]) : 40000;
    if (argc > 3) kDx = std::atof(argv[3]);
    std::printf("threads %d, well-mixed particles %lld, surface-layer particles %lld\n",
                omp_get_max_threads(), static_cast<long long>(mixN),
                static_cast<long long>(layerN));
    const auto start = std::chrono::steady_clock::now();

    std::printf("\nWell-mixed column (interior 75 to 225 m after 300 s)\n");
    std::printf("%-10s %-7s %8s %8s %9s %9s %7s\n", "model", "k", "s", "+-", "rms[%]",
                "noise[%]", "kept");
    for (const bool sine : {true, false})
        for (const tFootprintModel model : {tFootprintModel::Touchdown, tFootprintModel::Described}) {
            const tMixing m = wellMixed(model, sine, mixN);
            std::printf("%-10s %-7s %8.3f %8.3f %9.2f %9.2f %7.3f\n", footprintModelName(model),
                        sine ? "sine" : "linear", m.s, m.sError, 100 * m.rms, 100 * m.noise,
                        m.kept);
            std::fflush(stdout);
        }

    // The analytical footprint: neutral, m = 1 / ln(zm / z0), n = 1, r = 1 + m,
    // mu = 1; xi = u(zm) zm / (r^2 K'), K' = 1.63 kappa u*.
    const double m = 1.0 / std::log(kZm / kZ0);
    const double r = 1.0 + m;
    const double kPrime = 8.0 / 27.0 * std::pow(1.5 * 1.25 * 1.25, 2.0) * kKappa * kUStar;
    const double uZm = kUStar / kKappa * std::log(kZm / kZ0);
    const double xi = uZm * kZm / (r * r * kPrime);
    const double fetch = 2000.0;
    const double inFetch = std::exp(-xi / fetch);
    std::printf("\nSurface layer (u* 0.3 m/s, z0 0.01 m, detector at 5 m, fetch 2 km)\n");
    std::printf("K = %.3f kappa u* z, xi = %.1f m\n", kPrime / (kKappa * kUStar), xi);
    std::printf("%-24s %9s %8s %8s %8s\n", "footprint", "share", "peak[m]", "50%[m]", "80%[m]");
    std::printf("%-24s %9.3f %8.1f %8.1f %8.1f\n", "analytical (of all)", 1.0, xi / 2.0,
                xi / std::log(2.0), xi / std::log(1.0 / 0.8));
    std::printf("%-24s %9.3f %8.1f %8.1f %8.1f\n", "analytical (of fetch)", inFetch, xi / 2.0,
                xi / -std::log(0.5 * inFetch) * 1.0, xi / -std::log(0.8 * inFetch));
    for (const tFootprintModel model : {tFootprintModel::Touchdown, tFootprintModel::Described}) {
        double share = 0;
        const tFootprint f = surfaceLayer(model, layerN, share);
        std::printf("%-24s %9.3f %8.1f %8.1f %8.1f\n",
                    (std::string(footprintModelName(model)) + " (of its total)").c_str(), share,
                    f.peak + 1.0, f.d50 + 1.0, f.d80 + 1.0);
        std::fflush(stdout);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("\n%.0f s\n", seconds);
    return 0;
}

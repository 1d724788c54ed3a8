#pragma once
// The neutral surface layer against which both footprint models are checked
// (tests at small particle counts, `make validate` at large ones).
//
// Log-law flow u = (u* / kappa) ln(z / z0), u* = 0.3 m/s, z0 = 0.01 m,
// kappa = 0.4; k = 1.5 (1.25 u*)^2 (sigma_w = 1.25 u*) and eps = u*^3 /
// (kappa z), so that the model's eddy diffusivity sigma_w^2 T_L is
// 1.63 kappa u* z. 2.1 km along the wind in columns of aColumnWidth, three
// rows of 4 km; every inner ground cell of the middle row is an emitter,
// the detector is at 5 m, 2 km downwind of the upwind edge. The layers are
// 0.1 m thick up to 1 m, so that the profiles are resolved where the
// particles touch down.
//
// The analytical footprint (Kormann and Meixner 2001) with this eddy
// diffusivity and the model's wind at 5 m: neutral, so n = 1, m = 1 /
// ln(z_m / z0), r = 1 + m, mu = 1, and the crosswind-integrated footprint is
// f(x) = xi / x^2 exp(-xi / x) with xi = u(z_m) z_m / (r^2 K'): peak at
// xi / 2, a share exp(-xi / x) within x.

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "support/EngineFixtures.h"
#include "support/LeastSquares.h"

namespace kwd::test {

constexpr double kLayerUStar = 0.3, kLayerZ0 = 0.01, kLayerKappa = 0.4, kLayerZm = 5.0;
constexpr double kLayerFetch = 2000.0;  // m, from the upwind edge to the detector

// The analytical footprint's xi, m.
inline double analyticalXi() {
    const double m = 1.0 / std::log(kLayerZm / kLayerZ0);
    const double r = 1.0 + m;
    const double sigmaW = 1.25 * kLayerUStar;
    // K = sigma_w^2 T_L with T_L = 4 k / (3 C0 eps) = (2/3) sigma_w^2 / eps
    // (C0 = 3): K = K' z with K' = (2/3) sigma_w^4 kappa / u*^3.
    const double kPrime = 2.0 / 3.0 * std::pow(sigmaW, 4.0) * kLayerKappa /
                          (kLayerUStar * kLayerUStar * kLayerUStar);
    const double uZm = kLayerUStar / kLayerKappa * std::log(kLayerZm / kLayerZ0);
    return uZm * kLayerZm / (r * r * kPrime);
}

inline std::vector<float> surfaceLayerThicknesses() {
    std::vector<float> dz;
    auto add = [&dz](int n, float d) { dz.insert(dz.end(), size_t(n), d); };
    add(10, 0.1f);   // to 1 m
    add(8, 0.25f);   // 3 m
    add(14, 0.5f);   // 10 m
    add(5, 2.0f);    // 20 m
    add(4, 5.0f);    // 40 m
    add(6, 10.0f);   // 100 m
    add(8, 25.0f);   // 300 m
    add(6, 50.0f);   // 600 m
    return dz;
}

// A crosswind-integrated flux footprint: flux[n] is the footprint (F A,
// summed over the rows) of the n-th column upwind of the detector's, whose
// centre is (n + 0.5) columnWidth + 1 m from the detector; total is the sum
// over all columns, the detector's own and those downwind included.
struct tLayerFootprint {
    std::vector<double> flux;
    double columnWidth = 0;
    double total = 0;
};

// Runs aParticles particles of aModel backwards from the detector until they
// leave the model (at most an hour) and returns their footprint.
inline tLayerFootprint surfaceLayerFootprint(kwd::engine::tFootprintModel aModel,
                                             int64_t aParticles, double aColumnWidth,
                                             uint64_t aSeed) {
    const int32_t I = int32_t(std::lround(2100.0 / aColumnWidth)), J = 3;
    const int32_t detectorColumn = int32_t(std::lround(kLayerFetch / aColumnWidth));
    tTestGrid g{I,
                J,
                0,
                std::vector<float>(size_t(I), float(aColumnWidth)),
                std::vector<float>(size_t(J), 4000.0f),
                surfaceLayerThicknesses()};
    g.K = int32_t(g.dz.size());
    std::vector<double> zc;
    double top = 0;
    for (float d : g.dz) zc.push_back(top + 0.5 * d), top += d;
    const double tke = 1.5 * (1.25 * kLayerUStar) * (1.25 * kLayerUStar);
    auto e = makeEngine(
        g,
        [&](int32_t i, int32_t j, int32_t k) {
            tCellValues c;
            const double z = zc[size_t(k)];
            c.u = float(kLayerUStar / kLayerKappa * std::log(z / kLayerZ0));
            c.tke = float(tke);
            c.eps = float(kLayerUStar * kLayerUStar * kLayerUStar / (kLayerKappa * z));
            if (k == 0 && i > 0 && i < I - 1 && j == 1) c.obj = 11, c.vapor = 1.0f;
            return c;
        },
        detectorBox(kLayerFetch + 0.5, kLayerFetch + 1.5, 5999.5, 6000.5, kLayerZm - 0.005,
                    kLayerZm + 0.005),
        0.0001, aSeed, aParticles);
    e->fFootprintModel = aModel;
    e->computeNodePositions();
    e->releaseParticles(aParticles);
    for (int call = 0; call < 60 && e->getNumberOfParticlesInModel() > 0; ++call)
        e->moveAllParticlesParallel(60.0);
    std::vector<double> column(size_t(I), 0.0);
    if (aModel == kwd::engine::tFootprintModel::Touchdown) {
        if (!e->fTouchdowns.slots().empty())
            for (int32_t j = 0; j < J; ++j)
                for (int32_t i = 0; i < I; ++i)
                    column[size_t(i)] += kwd::engine::fromExactSum(
                        e->fTouchdowns.slots()[0].flux[size_t(j) * size_t(I) + size_t(i)]);
    } else {
        for (const kwd::engine::tParticle& p : e->fParticleList)
            if (p.fMetTarget)
                column[size_t(p.fTargetPosGrid.i)] += p.fWDetector / std::fabs(p.fWEmitter);
    }
    // A touchdown weighs 2 w_Detector / |w|: the footprint F A per particle.
    const double norm = 2.0 / double(aParticles);
    tLayerFootprint f;
    f.columnWidth = aColumnWidth;
    for (int32_t i = 0; i < I; ++i) f.total += norm * column[size_t(i)];
    for (int32_t i = detectorColumn - 1; i >= 1; --i) f.flux.push_back(norm * column[size_t(i)]);
    return f;
}

// The figures compared with the analytical footprint: the flux share (the
// footprint's total), the distances from the detector within which 50 % and
// 80 % of the total lie, and the peak. The top of a footprint is flat and
// noisy (touchdowns with small |w| weigh much), so the peak is that of
// f = a x^-b exp(-c / x), the analytical footprint's form with a free
// exponent, fitted to ln f over the columns from 15 to 300 m (each weighted
// by sqrt(f), about its share of touchdowns): c / b.
struct tFootprintFigures {
    double share = 0, peak = 0, d50 = -1, d80 = -1;
};

inline tFootprintFigures footprintFigures(const tLayerFootprint& f) {
    tFootprintFigures r;
    r.share = f.total;
    double cum = 0;
    std::vector<std::vector<double>> rows;
    std::vector<double> y;
    for (size_t n = 0; n < f.flux.size(); ++n) {
        const double x = (double(n) + 0.5) * f.columnWidth + 1.0;
        const double before = cum;
        cum += f.flux[n];
        for (auto [q, d] : {std::pair<double, double*>{0.5, &r.d50}, {0.8, &r.d80}})
            if (*d < 0 && cum >= q * f.total && f.flux[n] > 0)
                *d = (double(n) + (q * f.total - before) / f.flux[n]) * f.columnWidth + 1.0;
        if (x > 15.0 && x < 300.0 && f.flux[n] > 0) {
            const double weight = std::sqrt(f.flux[n]);
            rows.push_back({weight, -weight * std::log(x), -weight / x});
            y.push_back(weight * std::log(f.flux[n]));
        }
    }
    if (rows.size() >= 3) {
        const std::vector<double> p = leastSquares(rows, y);
        r.peak = p[2] / p[1];
    }
    return r;
}

}  // namespace kwd::test

// The figures of VALIDATION.md: both footprint models against the
// well-mixed condition and against the analytical footprint of a neutral
// surface layer (make validate).
//
//   kwd_validate [well-mixed particles] [surface-layer particles] [column width, m] [seed]
//
// Well-mixed: a column without wind, reflecting ground, 300 m of 5 m layers,
// T_L = 10 s, particles released uniformly, one period of 300 s. The column
// is the middle one of 5 x 5 columns of 4 km: the side columns of a grid
// have no gradients, and the weighting reaches them once a particle has
// drifted some way from its column's centre, so they must not be the middle
// column's neighbours. The interior (75 to 225 m) of c / c_mean - 1 is
// fitted as a + b z + c z^2 + s (k / k_mean - 1) (sine profile of k; the
// polynomial takes up the drain through the open top): s is what follows
// the turbulence (0 well mixed, -1 follows 1 / sigma^2); the rms is that of
// the interior after the polynomial is taken off, beside the sampling noise. With k linear in z the pattern of
// k is that of z: the column is 600 m high instead, so that the drain does
// not reach the interior in 300 s, and the fit is a + s (k / k_mean - 1).
//
// Surface layer: the case of tests/support/SurfaceLayerCase.h, against the
// analytical footprint of a neutral surface layer (Kormann and Meixner 2001).

#include <omp.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/EngineFixtures.h"
#include "support/LeastSquares.h"
#include "support/SurfaceLayerCase.h"

using kwd::engine::footprintModelName;
using kwd::engine::tFootprintModel;
using kwd::engine::tParticle;

namespace {

using kwd::test::leastSquares;
using kwd::test::tCellValues;

struct tMixing {
    double s = 0, sError = 0, rms = 0, noise = 0, kept = 0;
};

tMixing wellMixed(tFootprintModel model, bool sine, int64_t particles) {
    auto kOf = [sine](double z) {
        return sine ? 1.5 * (1.0 + 0.5 * std::sin(2.0 * M_PI * z / 80.0)) : 0.5 + 2.0 * z / 300.0;
    };
    auto e = kwd::test::makeEngine(
        kwd::test::uniformGrid(5, 5, sine ? 60 : 120, 4000.0f, 4000.0f, 5.0f),
        [&](int32_t, int32_t, int32_t k) {
            tCellValues c;
            const double tke = kOf(5.0 * k + 2.5);
            c.tke = float(tke);
            c.eps = float(4.0 * tke / (9.0 * 10.0));
            return c;
        },
        kwd::test::detectorBox(9999.0, 10001.0, 9999.0, 10001.0, 0.0, sine ? 300.0 : 600.0), 0.0001,
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

void printWellMixed(int64_t particles) {
    std::printf("\nWell-mixed column (interior 75 to 225 m after 300 s)\n");
    std::printf("%-10s %-7s %8s %8s %9s %9s %7s\n", "model", "k", "s", "+-", "rms[%]",
                "noise[%]", "kept");
    for (const bool sine : {true, false})
        for (const tFootprintModel model : {tFootprintModel::Touchdown, tFootprintModel::Described}) {
            const tMixing m = wellMixed(model, sine, particles);
            std::printf("%-10s %-7s %8.3f %8.3f %9.2f %9.2f %7.3f\n", footprintModelName(model),
                        sine ? "sine" : "linear", m.s, m.sError, 100 * m.rms, 100 * m.noise,
                        m.kept);
            std::fflush(stdout);
        }
}

void printSurfaceLayer(int64_t particles, double columnWidth, uint64_t seed) {
    const double xi = kwd::test::analyticalXi();
    const double inFetch = std::exp(-xi / kwd::test::kLayerFetch);
    std::printf("\nSurface layer (u* 0.3 m/s, z0 0.01 m, detector at 5 m, fetch 2 km)\n");
    std::printf("xi = %.1f m, columns of %g m, seed %llu\n", xi, columnWidth,
                static_cast<unsigned long long>(seed));
    std::printf("%-24s %9s %8s %8s %8s\n", "footprint", "share", "peak[m]", "50%[m]", "80%[m]");
    std::printf("%-24s %9.3f %8.1f %8.1f %8.1f\n", "analytical (of all)", 1.0, xi / 2.0,
                xi / std::log(2.0), xi / std::log(1.0 / 0.8));
    std::printf("%-24s %9.3f %8.1f %8.1f %8.1f\n", "analytical (of fetch)", inFetch, xi / 2.0,
                xi / -std::log(0.5 * inFetch), xi / -std::log(0.8 * inFetch));
    for (const tFootprintModel model : {tFootprintModel::Touchdown, tFootprintModel::Described}) {
        const kwd::test::tFootprintFigures f = kwd::test::footprintFigures(
            kwd::test::surfaceLayerFootprint(model, particles, columnWidth, seed));
        std::printf("%-24s %9.3f %8.1f %8.1f %8.1f\n",
                    (std::string(footprintModelName(model)) + " (of its total)").c_str(), f.share,
                    f.peak, f.d50, f.d80);
        std::fflush(stdout);
    }
}

}  // namespace

// A count of 0 leaves its case out.
int main(int argc, char** argv) {
    const int64_t mixN = argc > 1 ? std::atoll(argv[1]) : 200000;
    const int64_t layerN = argc > 2 ? std::atoll(argv[2]) : 400000;
    const double columnWidth = argc > 3 ? std::atof(argv[3]) : 10.0;
    const uint64_t seed = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 77;
    std::printf("threads %d, well-mixed particles %lld, surface-layer particles %lld\n",
                omp_get_max_threads(), static_cast<long long>(mixN),
                static_cast<long long>(layerN));
    const auto start = std::chrono::steady_clock::now();
    if (mixN > 0) printWellMixed(mixN);
    if (layerN > 0) printSurfaceLayer(layerN, columnWidth, seed);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("\n%.0f s\n", seconds);
    return 0;
}

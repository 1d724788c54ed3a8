// Field sampling at the particle: the four cases, obstacle neighbours, the
// node weight, the logarithmic profile and the sub-grid fraction.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "support/EngineFixtures.h"

using kwd::engine::tFieldSample;
using kwd::engine::tParticle;
using kwd::engine::tParticleManager;
using kwd::engine::tPosGrid;
using kwd::engine::tRandomPurpose;
using kwd::engine::tRandomStream;

namespace {

using kwd::test::tCellValues;

// 5 x 5 x 5 cells of 1 m; each value identifies its cell.
tCellValues labelled(int32_t i, int32_t j, int32_t k) {
    tCellValues c;
    c.u = float(100 * i + 10 * j + k);
    c.v = 2.0f * c.u;
    c.w = -c.u;
    c.tke = 1.0f + float(i);
    c.eps = 0.1f + float(j);
    return c;
}

tFieldSample sampleAt(const tParticleManager& e, double x, double y, double z) {
    const tParticle p = kwd::test::particleAt(e, x, y, z);
    return e.sampleFields(p);
}

TEST(Sampling, BoundaryCellsUseTheirOwnValues) {
    auto e = kwd::test::makeEngine(kwd::test::uniformGrid(5, 5, 5), labelled);
    struct Case {
        double x, y, z;
        int32_t i, j, k;
    } cases[] = {
        {0.1, 2.5, 2.2, 0, 2, 2}, {4.9, 2.5, 2.2, 4, 2, 2}, {2.3, 0.0, 2.2, 2, 0, 2},
        {2.3, 4.7, 0.2, 2, 4, 0}, {2.3, 2.5, 4.9, 2, 2, 4},
    };
    for (const Case& c : cases) {
        const tFieldSample s = sampleAt(*e, c.x, c.y, c.z);
        const tCellValues own = labelled(c.i, c.j, c.k);
        EXPECT_EQ(s.u, own.u);
        EXPECT_EQ(s.v, own.v);
        EXPECT_EQ(s.w, own.w);
        EXPECT_EQ(s.k, own.tke);
        EXPECT_EQ(s.eps, double(own.eps));
        EXPECT_EQ(s.gx, e->fde_dx_Ar(c.i, c.j, c.k));
        EXPECT_EQ(s.gz, e->fde_dz_Ar(c.i, c.j, c.k));
    }
}

TEST(Sampling, ObstacleNeighboursTakeNoPart) {
    // The 26 neighbours of cell (2, 2, 2) are obstacles; cells further away are free.
    auto e =
        kwd::test::makeEngine(kwd::test::uniformGrid(5, 5, 5), [](int32_t i, int32_t j, int32_t k) {
            tCellValues c = labelled(i, j, k);
            const bool near = std::abs(i - 2) <= 1 && std::abs(j - 2) <= 1 && std::abs(k - 2) <= 1;
            c.obj = near && !(i == 2 && j == 2 && k == 2) ? 1 : 0;
            return c;
        });
    ASSERT_EQ(e->fObject_Ar(2, 2, 1), 1);
    ASSERT_EQ(e->fObject_Ar(2, 2, 2), 0);
    ASSERT_EQ(e->fObject_Ar(1, 2, 2), 1);
    const tFieldSample s = sampleAt(*e, 2.3, 2.6, 2.8);
    const tCellValues own = labelled(2, 2, 2);
    EXPECT_DOUBLE_EQ(s.u, own.u);
    EXPECT_DOUBLE_EQ(s.v, own.v);
    EXPECT_DOUBLE_EQ(s.w, own.w);
    EXPECT_DOUBLE_EQ(s.k, own.tke);
    EXPECT_DOUBLE_EQ(s.eps, double(own.eps));
    EXPECT_DOUBLE_EQ(s.gx, e->fde_dx_Ar(2, 2, 2));
}

TEST(Sampling, ParticleOnItsNodeWeighsItsCellWithOneOverTenMicrometres) {
    // Own cell u = 1, every neighbour u = 0, all cells free.
    auto e =
        kwd::test::makeEngine(kwd::test::uniformGrid(5, 5, 5), [](int32_t i, int32_t j, int32_t k) {
            tCellValues c;
            c.u = i == 2 && j == 2 && k == 2 ? 1.0f : 0.0f;
            return c;
        });
    const tFieldSample s = sampleAt(*e, 2.5, 2.5, 2.5);
    // 6 neighbours at 1 m, 12 at sqrt(2) m, 8 at sqrt(3) m.
    const double others = 6.0 + 12.0 / std::sqrt(2.0) + 8.0 / std::sqrt(3.0);
    EXPECT_DOUBLE_EQ(s.u, 1e5 / (1e5 + others));
    EXPECT_LT(s.u, 1.0);
}

TEST(Sampling, LowestLayerLogProfileBelowTheNodeAndInterpolationAbove) {
    // Lowest layer 2 m thick (node at 1 m); wind 3 m/s in layer 0, 9 m/s above.
    kwd::test::tTestGrid g = kwd::test::uniformGrid(5, 5, 5);
    g.dz[0] = 2.0f;
    auto e = kwd::test::makeEngine(g, [](int32_t i, int32_t j, int32_t k) {
        tCellValues c;
        c.u = k == 0 ? 3.0f : 9.0f;
        c.v = k == 0 ? -1.0f : 5.0f;
        c.w = k == 0 ? 0.5f : 1.0f;
        c.tke = k == 0 ? 2.0f : 4.0f;
        c.eps = float(i + j);
        return c;
    });
    const double lnNode = std::log(1.0 / 0.01);
    struct Case {
        double z, factor;
    } cases[] = {{0.5, std::log(50.0) / lnNode}, {0.01, 0.0}, {0.005, std::log(0.5) / lnNode},
                 {0.999999, std::log(99.9999) / lnNode}};
    for (const Case& c : cases) {
        const tFieldSample s = sampleAt(*e, 2.5, 2.5, c.z);
        EXPECT_DOUBLE_EQ(s.u, 3.0 * c.factor) << c.z;
        EXPECT_DOUBLE_EQ(s.v, -1.0 * c.factor) << c.z;
        EXPECT_DOUBLE_EQ(s.w, 0.5 * c.factor) << c.z;
        // k, eps from layer 0 only (3 x 3 cells): the energy is 2 there.
        EXPECT_DOUBLE_EQ(s.k, 2.0) << c.z;
        // eps: symmetric neighbourhood around (2, 2) at the centre of the column.
        EXPECT_DOUBLE_EQ(s.eps, 4.0) << c.z;
    }
    EXPECT_LT(sampleAt(*e, 2.5, 2.5, 0.005).u, 0.0);  // below the roughness length
    // On the ground itself the wind is 0.
    const tFieldSample ground = sampleAt(*e, 2.5, 2.5, 0.0);
    EXPECT_EQ(ground.u, 0.0);
    EXPECT_EQ(ground.v, 0.0);
    EXPECT_EQ(ground.w, 0.0);
    // At the node: the 18 cells of layers 0 and 1, so layer 1 takes part.
    const tFieldSample atNode = sampleAt(*e, 2.5, 2.5, 1.0);
    EXPECT_GT(atNode.u, 3.0);
    EXPECT_LT(atNode.u, 9.0);
    EXPECT_GT(atNode.k, 2.0);
    // Weights: layer 0 nodes at distances 0 (1e-5), 1, sqrt(2); layer 1 nodes
    // (z = 2.5) at 1.5, sqrt(3.25), sqrt(4.25).
    const double w0 = 1e5 + 4.0 + 4.0 / std::sqrt(2.0);
    const double w1 = 1.0 / 1.5 + 4.0 / std::sqrt(3.25) + 4.0 / std::sqrt(4.25);
    EXPECT_NEAR(atNode.u, (3.0 * w0 + 9.0 * w1) / (w0 + w1), 1e-12);
}

TEST(Sampling, LogProfileMultipliesTheWindByTheLogarithmBeforeDividing) {
    // Lowest layer 2 m thick (node at 1 m). For these values u * ln(z / z0)
    // / ln(node / z0) and u * (ln(z / z0) / ln(node / z0)) differ in the last
    // digit; the profile is the former.
    kwd::test::tTestGrid g = kwd::test::uniformGrid(5, 5, 5);
    g.dz[0] = 2.0f;
    struct Case {
        float u;
        double z;
    } cases[] = {{2.3f, 0.3}, {1.7f, 0.005}, {2.3f, 0.999999}};
    for (const Case& c : cases) {
        auto e = kwd::test::makeEngine(g, [c](int32_t, int32_t, int32_t k) {
            tCellValues v;
            v.u = k == 0 ? c.u : 9.0f;
            v.v = k == 0 ? -c.u : 5.0f;
            v.w = k == 0 ? c.u : 1.0f;
            return v;
        });
        const tFieldSample s = sampleAt(*e, 2.5, 2.5, c.z);
        const double lnZ = std::log(c.z / 0.01), lnNode = std::log(1.0 / 0.01);
        EXPECT_EQ(s.u, double(c.u) * lnZ / lnNode) << c.u << " " << c.z;
        EXPECT_EQ(s.v, -double(c.u) * lnZ / lnNode) << c.u << " " << c.z;
        EXPECT_EQ(s.w, double(c.u) * lnZ / lnNode) << c.u << " " << c.z;
    }
}

TEST(Sampling, SubGridFraction) {
    // Uniform energy per level, wind varying across each level.
    struct Case {
        float tke;      // every cell
        float uSpread;  // u = +-uSpread in a chequered pattern
        float w;        // every cell
        double z;
        double expected;  // fs
    };
    auto engineFor = [](const Case& c) {
        return kwd::test::makeEngine(kwd::test::uniformGrid(5, 5, 5),
                                     [c](int32_t i, int32_t j, int32_t) {
                                         tCellValues v;
                                         v.tke = c.tke;
                                         v.u = (i + j) % 2 ? c.uSpread : -c.uSpread;
                                         v.w = c.w;
                                         return v;
                                     });
    };
    // Per level: U2 = (12 * s^2 + 13 * s^2) / 25 minus the mean^2, mean -s/25.
    auto u2 = [](double s) { return s * s - (s / 25.0) * (s / 25.0); };
    const Case cases[] = {
        // k = 0, no resolved variance at all: fs = 1.
        {0.0f, 0.0f, 0.0f, 2.3, 1.0},
        // k = 0 with resolved variance: fs = 0.
        {0.0f, 1.0f, 0.0f, 2.3, 0.0},
        // Interior layer 2, z = 2.3: kbar = 1.5, su = U2, sw = w^2 = 0.25.
        {1.5f, 2.0f, 0.5f, 2.3, 1.0 / (1.0 + (u2(2.0) + 0.25) / 3.0)},
        // Layer 0 at z = 0.2: kbar = 1.5, su = U2[1] * z / 0.5, sw = W2[0] * z / 1.
        {1.5f, 2.0f, 0.5f, 0.2, 1.0 / (1.0 + (u2(2.0) * 0.4 + 0.25 * 0.2) / 3.0)},
        // Top layer: kbar = 0, su from the top layer's own variance.
        {1.5f, 2.0f, 0.0f, 4.6, 0.0},
    };
    for (const Case& c : cases) {
        auto e = engineFor(c);
        const tFieldSample s = sampleAt(*e, 2.5, 2.5, c.z);
        EXPECT_NEAR(s.fs, c.expected, 1e-12) << c.tke << " " << c.uSpread << " " << c.z;
    }
    // Top layer without wind spread: J = 0 and kbar = 0 there: fs = 1.
    auto calm = engineFor({1.5f, 0.0f, 0.0f, 4.6, 1.0});
    EXPECT_EQ(sampleAt(*calm, 2.5, 2.5, 4.6).fs, 1.0);
}

TEST(Sampling, SubGridFractionStaysWithinZeroAndOne) {
    // Energy rising steeply with height: the linear profile extrapolates
    // below 0 near the bottom of layer 1; the fraction stays within 0..1.
    auto e =
        kwd::test::makeEngine(kwd::test::uniformGrid(5, 5, 6), [](int32_t i, int32_t j, int32_t k) {
            tCellValues c;
            c.tke = k == 1 ? 0.01f : (k == 2 ? 10.0f : 1.0f);
            c.u = (i + j) % 2 ? 0.3f : -0.3f;
            c.w = 0.1f;
            return c;
        });
    for (double z : {1.05, 1.2, 1.5, 1.9}) {
        const tFieldSample s = sampleAt(*e, 2.5, 2.5, z);
        EXPECT_GE(s.fs, 0.0) << z;
        EXPECT_LE(s.fs, 1.0) << z;
    }
    // At z = 1.05 the energy profile is 0.01 - 9.99 * 0.45 < 0, and A + J is
    // negative too: A / (A + J) is a little above 1 and is clamped to 1.
    EXPECT_EQ(sampleAt(*e, 2.5, 2.5, 1.05).fs, 1.0);
}

// The sub-grid fraction by its formula, from the engine's level profiles:
// J = (su + sv + sw) / 3, A = (2/3) kbar, fs = A / (A + J) (1 where A + J is
// 0), with the profiles as they stand; clamped into [0, 1] only where that
// value lies outside.
double describedFraction(const tParticleManager& e, double z, int32_t k) {
    const auto& Kv = e.fVerticalMeanTKE_Ar;
    const auto& U2 = e.fVerticalMeanU2_Ar;
    const auto& V2 = e.fVerticalMeanV2_Ar;
    const auto& W2 = e.fVerticalMeanW2_Ar;
    const auto& Zm = e.fZMidPoint_Ar;
    const auto& Zt = e.fZTopBorder_Ar;
    double kbar, su, sv, sw;
    if (k == 0) {
        kbar = Kv[0];
        su = U2[1] * z / ((Zm[1] - Zm[0]) * 0.5);
        sv = V2[1] * z / ((Zm[1] - Zm[0]) * 0.5);
        sw = W2[0] * z / Zt[0];
    } else {
        kbar = Kv[k] + (Kv[k + 1] - Kv[k]) / (Zm[k + 1] - Zm[k]) * (z - Zm[k]);
        su = U2[k] + (U2[k + 1] - U2[k]) * (z - Zm[k]) / (Zm[k + 1] - Zm[k]);
        sv = V2[k] + (V2[k + 1] - V2[k]) * (z - Zm[k]) / (Zm[k + 1] - Zm[k]);
        sw = W2[k - 1] + (W2[k] - W2[k - 1]) * (z - Zt[k - 1]) / (Zt[k] - Zt[k - 1]);
    }
    const double J = (su + sv + sw) * (1.0 / 3.0);
    const double A = kbar * (2.0 / 3.0);
    return A + J == 0.0 ? 1.0 : A / (A + J);
}

TEST(Sampling, SubGridFractionFollowsItsFormulaWhereverThatLiesWithinZeroAndOne) {
    // The wind spread jumps from level 1 to level 2, so the resolved u
    // variance extrapolates below 0 near the bottom of level 1, while the
    // vertical wind keeps the sum of the three terms positive there: the
    // fraction is sane and must not change by clamping the terms.
    auto e =
        kwd::test::makeEngine(kwd::test::uniformGrid(5, 5, 6), [](int32_t i, int32_t j, int32_t k) {
            tCellValues c;
            c.tke = k == 3 ? 0.05f : 1.0f;
            const float spread = k <= 1 ? 0.1f : 2.0f;
            c.u = (i + j) % 2 ? spread : -spread;
            c.w = k == 3 ? 0.2f : 1.5f;
            return c;
        });
    int inside = 0, outside = 0;
    for (int32_t k = 0; k <= 4; ++k) {
        for (double f : {0.02, 0.05, 0.25, 0.5, 0.75, 0.95}) {
            const double z = double(k) + f;
            const double fs = describedFraction(*e, z, k);
            const tFieldSample s = sampleAt(*e, 2.5, 2.5, z);
            if (fs >= 0.0 && fs <= 1.0) {
                ++inside;
                EXPECT_NEAR(s.fs, fs, 1e-12) << z;
            } else {
                ++outside;
                EXPECT_EQ(s.fs, fs < 0.0 ? 0.0 : 1.0) << z << " " << fs;
            }
        }
    }
    EXPECT_GT(outside, 0);  // the profile of the energy dips below 0 near level 3
    // The case the terms' clamping got wrong: su < 0 at z = 1.05, yet the
    // fraction is about 0.81 (clamping su at 0 gave about 0.47).
    const double fs = describedFraction(*e, 1.05, 1);
    ASSERT_LT(e->fVerticalMeanU2_Ar[1] + (e->fVerticalMeanU2_Ar[2] - e->fVerticalMeanU2_Ar[1]) * (1.05 - 1.5),
              0.0);
    EXPECT_NEAR(fs, 0.81, 0.01);
    EXPECT_NEAR(sampleAt(*e, 2.5, 2.5, 1.05).fs, fs, 1e-12);
}

TEST(Sampling, InterpolationIsTheNormalisedInverseDistanceSumOverFreeNeighbours) {
    // Irregular widths and values, obstacles scattered over the first three
    // columns (the last ones have blocks with no obstacle at all, which are
    // summed without a test of the classes); a literal evaluation with
    // calc_Distance gives the same sums.
    kwd::test::tTestGrid g{6, 5, 6, {1, 2, 1, 3, 1, 2}, {2, 1, 1, 2, 1}, {0.5f, 1, 1.5f, 2, 1, 1}};
    auto e = kwd::test::makeEngine(g, [](int32_t i, int32_t j, int32_t k) {
        tCellValues c = labelled(i, j, k);
        c.tke = 0.2f + float((i * 7 + j * 3 + k) % 5);
        c.obj = i < 3 && (i * 5 + j * 3 + k * 2) % 7 == 0 ? 1 : 0;
        return c;
    });
    tRandomStream r(5, 0, tRandomPurpose::Velocity);
    int checked = 0, free = 0;
    while (checked < 300 || free < 50 || checked - free < 50) {
        const double x = e->fGeometry.lengthX() * r.Random(100000) / 100000.0;
        const double y = e->fGeometry.lengthY() * r.Random(100000) / 100000.0;
        const double z = e->fGeometry.lengthZ() * r.Random(100000) / 100000.0;
        const tParticle p = kwd::test::particleAt(*e, x, y, z);
        const tPosGrid c = p.fPosGrid;
        if (c.i == 0 || c.j == 0 || c.i == 5 || c.j == 4 || c.k == 5 || e->fObject_Ar(c.i, c.j, c.k) == 1)
            continue;
        if (c.k == 0 && z < 0.25) continue;  // the log-profile case
        double sw = 0, su = 0, sk = 0, sgz = 0;
        for (int32_t ii = c.i - 1; ii <= c.i + 1; ++ii)
            for (int32_t jj = c.j - 1; jj <= c.j + 1; ++jj)
                for (int32_t kk = c.k == 0 ? 0 : c.k - 1; kk <= c.k + 1; ++kk) {
                    const bool own = ii == c.i && jj == c.j && kk == c.k;
                    if (!own && e->fObject_Ar(ii, jj, kk) == 1) continue;
                    const double wn = 1.0 / e->calc_Distance(p.fPosMeter, ii, jj, kk);
                    sw += wn;
                    su += wn * double(e->fuvwX_Ar(ii, jj, kk));
                    sk += wn * double(e->fTKE_Ar(ii, jj, kk));
                    sgz += wn * e->fde_dz_Ar(ii, jj, kk);
                }
        const tFieldSample s = e->sampleFields(p);
        ASSERT_EQ(s.u, su / sw);
        ASSERT_EQ(s.k, sk / sw);
        ASSERT_EQ(s.gz, sgz / sw);
        ++checked;
        free += c.k > 0 ? e->fFreeAround[e->fuvwX_Ar.index(c.i, c.j, c.k)] : 0;
    }
}

}  // namespace

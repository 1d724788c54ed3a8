// The shortcuts of the particle step against the rules they stand for: the
// three Gaussian numbers drawn side by side against three draws in turn,
// the cell search that starts from the last cell against the bisection, the
// millisecond clock against converting after every sub-step.

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "support/EngineFixtures.h"
#include "engine/u_StepKernel.h"
#include "platform/DateTime.h"
#include "platform/KwdError.h"

using kwd::engine::philox4x32_10;
using kwd::engine::philox8Avx2;
using kwd::engine::philox8Baseline;
using kwd::engine::stepVariantAvx2Available;
using kwd::engine::tGridGeometry;
using kwd::engine::tParticle;
using kwd::engine::tParticleList;
using kwd::engine::tParticleManager;
using kwd::engine::tPhilox8Fn;
using kwd::engine::tPosGrid;
using kwd::engine::tPosMeter;
using kwd::engine::tRandomPurpose;
using kwd::engine::tRandomStream;

using kwd::dataset::TZDXFile;

namespace {

template <class Isa>
void expectThreeGaussiansAsInTurn(double limit) {
    tRandomStream together(99, 7, tRandomPurpose::Velocity, 5);
    tRandomStream inTurn(99, 7, tRandomPurpose::Velocity, 5);
    for (int n = 0; n < 20000; ++n) {
        double a, b, c;
        kwd::engine::kwdstep::threeGaussians<Isa>(together, limit, a, b, c);
        const double ea = kwd::engine::kwdstep::gauss(limit, inTurn) - 1.0;
        const double eb = kwd::engine::kwdstep::gauss(limit, inTurn) - 1.0;
        const double ec = kwd::engine::kwdstep::gauss(limit, inTurn) - 1.0;
        ASSERT_EQ(a, ea) << "triple " << n;
        ASSERT_EQ(b, eb) << "triple " << n;
        ASSERT_EQ(c, ec) << "triple " << n;
        ASSERT_EQ(together.position(), inTurn.position()) << "triple " << n;
    }
}

TEST(StepKernel, ThreeGaussiansSideBySideAreThoseDrawnInTurn) {
    // Limits of 1 and 0.3 turn many numbers down, so that the way back in
    // the stream is taken for the first, second and third number.
    for (double limit : {5.0, 1.0, 0.3}) {
        SCOPED_TRACE(limit);
        expectThreeGaussiansAsInTurn<kwd::engine::kwdstep::tIsaBaseline>(limit);
        if (stepVariantAvx2Available())
            expectThreeGaussiansAsInTurn<kwd::engine::kwdstep::tIsaAvx2>(limit);
    }
}

TEST(StepKernel, TheCellSearchFromTheLastCellFindsTheCellOfTheWalk) {
    // Uneven widths, and a position on every face.
    kwd::test::tTestGrid g = kwd::test::uniformGrid(7, 5, 6);
    g.dx = {0.5f, 2.0f, 1.0f, 3.0f, 0.25f, 1.5f, 2.0f};
    g.dy = {1.0f, 1.0f, 4.0f, 0.1f, 1.0f};
    g.dz = {0.3f, 0.7f, 1.0f, 2.0f, 4.0f, 8.0f};
    const TZDXFile z = kwd::test::makeDescriptor(g, "/nonexistent", "G", "01.07.2018", "12:00:00");
    const tGridGeometry geo(z);
    std::mt19937_64 gen(3);
    const std::vector<double>& xs = geo.facesX();
    std::uniform_real_distribution<double> ux(0.0, geo.lengthX()), uy(0.0, geo.lengthY()),
        uz(0.0, geo.lengthZ());
    for (int n = 0; n < 20000; ++n) {
        tPosMeter p{n < int(xs.size()) ? xs[size_t(n)] : ux(gen), uy(gen), uz(gen)};
        if (n % 7 == 0) p.y = geo.facesY()[size_t(n / 7) % geo.facesY().size()];
        if (n % 5 == 0) p.z = geo.facesZ()[size_t(n / 5) % geo.facesZ().size()];
        tPosGrid expected{}, guess{int32_t(n % 9) - 1, int32_t(n % 6), int32_t(n % 8) - 1};
        ASSERT_TRUE(geo.locate(p, expected));
        ASSERT_TRUE(geo.locateFrom(p, guess));
        ASSERT_EQ(guess, expected) << p.x << " " << p.y << " " << p.z;
        // From the right cell and from each neighbour.
        for (int d = -1; d <= 1; ++d) {
            tPosGrid near{expected.i + d, expected.j + d, expected.k - d};
            ASSERT_TRUE(geo.locateFrom(p, near));
            ASSERT_EQ(near, expected);
        }
    }
    tPosGrid cell{2, 2, 2};
    EXPECT_FALSE(geo.locateFrom({-0.001, 1.0, 1.0}, cell));
    EXPECT_EQ(cell, (tPosGrid{2, 2, 2}));
}

TEST(StepKernel, AMillisecondClockMovesLikeTheDateTime) {
    // Below 2^19 days a date-time goes to milliseconds and back unchanged,
    // so counting milliseconds and converting once is the same as
    // converting after every sub-step.
    std::mt19937_64 gen(11);
    std::uniform_real_distribution<double> day(-kwd::engine::kwdstep::kMillisecondClockLimit + 1.0,
                                               kwd::engine::kwdstep::kMillisecondClockLimit - 1.0);
    std::uniform_int_distribution<int64_t> step(0, 60000);
    for (int n = 0; n < 2000; ++n) {
        const double start = n < 3 ? (n == 0 ? 43282.5 : n == 1 ? -0.25 : 0.0) : day(gen);
        double stepwise = start;
        int64_t ms = kwd::dateTimeToMilliseconds(start);
        for (int s = 0; s < 50; ++s) {
            const int64_t d = step(gen);
            stepwise = kwd::incMilliseconds(stepwise, -d);
            ms -= d;
            ASSERT_EQ(kwd::dateTimeToMilliseconds(kwd::millisecondsToDateTime(ms)), ms);
        }
        ASSERT_EQ(kwd::millisecondsToDateTime(ms), stepwise) << "from " << start;
    }
}

}  // namespace

namespace {

TEST(StepKernel, EightPhiloxBlocksSideBySideAreThoseOfTheSingleBlock) {
    const uint64_t seed = 0x243f6a8885a308d3ull;
    uint32_t keys[20];
    std::array<uint32_t, 2> key{uint32_t(seed), uint32_t(seed >> 32)};
    for (int r = 0; r < 10; ++r) {
        keys[2 * r] = key[0] + uint32_t(r) * 0x9E3779B9u;
        keys[2 * r + 1] = key[1] + uint32_t(r) * 0xBB67AE85u;
    }
    // Block numbers that carry into the high word within the eight.
    for (uint64_t first : {uint64_t(0), uint64_t(0xFFFFFFFCull), uint64_t(123456789) << 8}) {
        std::vector<tPhilox8Fn> variants{philox8Baseline};
        if (stepVariantAvx2Available()) variants.push_back(philox8Avx2);
        for (tPhilox8Fn f : variants) {
            uint32_t out[32];
            f(first, 0x13198a2eu, 0x83707344u, keys, out);
            for (int b = 0; b < 8; ++b) {
                const uint64_t block = first + uint64_t(b);
                const auto expected = philox4x32_10(
                    {uint32_t(block), uint32_t(block >> 32), 0x13198a2eu, 0x83707344u}, key);
                for (int w = 0; w < 4; ++w) ASSERT_EQ(out[4 * b + w], expected[size_t(w)]) << first << " " << b;
            }
        }
    }
}

}  // namespace

namespace {

// A grid of 9 x 7 x 7 cells of 2 x 3 m with uneven layers (an odd number of
// levels), varied fields, obstacles and emitters of two codes.
kwd::test::tTestGrid variedGrid() {
    kwd::test::tTestGrid g = kwd::test::uniformGrid(9, 7, 7, 2.0f, 3.0f, 1.0f);
    g.dz = {0.5f, 1.0f, 1.0f, 2.0f, 2.0f, 4.0f, 8.0f};
    return g;
}

std::unique_ptr<tParticleManager> variedEngine() {
    return kwd::test::makeEngine(variedGrid(), [](int32_t i, int32_t j, int32_t k) {
        kwd::test::tCellValues c;
        c.u = 0.3f + 0.07f * float((i * 5 + j * 3 + k) % 11);
        c.v = 0.11f * float((i + 3 * j) % 5) - 0.2f;
        c.w = 0.013f * float((j + 2 * k) % 7) - 0.04f;
        c.tke = 0.05f + 0.0031f * float((i * j + k) % 13);
        c.eps = 0.01f + 0.0007f * float((i + 2 * j + 3 * k) % 9);
        if (i >= 3 && i <= 4 && j >= 2 && j <= 4 && k < 3) c.obj = 1;
        if (k == 0 && i == 6) c.obj = 11, c.vapor = 1.0f;
        if (k == 2 && i == 2 && j == 5) c.obj = 12, c.vapor = 0.5f;
        return c;
    });
}

// The derived-field update against its rules written as plain loops, on the
// varied grid.
TEST(StepKernel, TheDerivedFieldsAreThoseOfThePlainLoops) {
    const kwd::test::tTestGrid g = variedGrid();
    auto e = variedEngine();
    // Codes that are not 1 but share one 32-bit half with it are free air.
    e->fObject_Ar(1, 1, 4) = (int64_t(1) << 32) + 1;
    e->fObject_Ar(7, 3, 5) = -(int64_t(1) << 32) + 1;
    e->fObject_Ar(5, 5, 1) = -1;
    // Lone obstacles inside the grid, in its side column and in its top layer.
    e->fObject_Ar(6, 2, 4) = 1;
    e->fObject_Ar(0, 5, 3) = 1;
    e->fObject_Ar(7, 5, 6) = 1;
    e->updateDerivedFields();
    const tParticleManager& r = *e;
    const int32_t nI = g.I, nJ = g.J, nK = g.K;
    for (int32_t k = 0; k < nK; ++k) {
        int64_t n = 0;
        double su = 0, sv = 0, sw = 0, st = 0, sw2 = 0;
        for (int32_t i = 0; i < nI; ++i)
            for (int32_t j = 0; j < nJ; ++j) {
                const bool air = r.fObject_Ar(i, j, k) != 1;
                const float wv = r.fuvwZ_Ar(i, j, k);
                const float w2 = wv * wv;
                n += air ? 1 : 0;
                su += air ? double(r.fuvwX_Ar(i, j, k)) : 0.0;
                sv += air ? double(r.fuvwY_Ar(i, j, k)) : 0.0;
                sw += air ? double(wv) : 0.0;
                st += air ? double(r.fTKE_Ar(i, j, k)) : 0.0;
                sw2 += air ? double(w2) : 0.0;
            }
        const double mu = su / double(n), mv = sv / double(n);
        double su2 = 0, sv2 = 0;
        for (int32_t i = 0; i < nI; ++i)
            for (int32_t j = 0; j < nJ; ++j) {
                const bool air = r.fObject_Ar(i, j, k) != 1;
                const double du = double(r.fuvwX_Ar(i, j, k)) - mu;
                const double dv = double(r.fuvwY_Ar(i, j, k)) - mv;
                su2 += air ? du * du : 0.0;
                sv2 += air ? dv * dv : 0.0;
            }
        SCOPED_TRACE(k);
        EXPECT_EQ(r.fLevelCellCount[size_t(k)], n);
        EXPECT_EQ(r.fVerticalMeanU_Ar[size_t(k)], mu);
        EXPECT_EQ(r.fVerticalMeanV_Ar[size_t(k)], mv);
        EXPECT_EQ(r.fVerticalMeanW_Ar[size_t(k)], sw / double(n));
        EXPECT_EQ(r.fVerticalMeanTKE_Ar[size_t(k)], st / double(n));
        EXPECT_EQ(r.fVerticalMeanW2_Ar[size_t(k)], sw2 / double(n));
        EXPECT_EQ(r.fVerticalMeanU2_Ar[size_t(k)], su2 / double(n));
        EXPECT_EQ(r.fVerticalMeanV2_Ar[size_t(k)], sv2 / double(n));
    }
    const double* X = r.fXMidPoint_Ar.data();
    const double* Y = r.fYMidPoint_Ar.data();
    const double* Z = r.fZMidPoint_Ar.data();
    for (int32_t i = 0; i < nI; ++i)
        for (int32_t j = 0; j < nJ; ++j)
            for (int32_t k = 0; k < nK; ++k) {
                double gx = 0, gy = 0, gz = 0;
                if (i >= 1 && i <= nI - 2 && j >= 1 && j <= nJ - 2) {
                    auto T = [&](int32_t a, int32_t b, int32_t c) { return double(r.fTKE_Ar(a, b, c)); };
                    gx = (2.0 / 3.0) * (T(i + 1, j, k) - T(i - 1, j, k)) / (X[i + 1] - X[i - 1]);
                    gy = (2.0 / 3.0) * (T(i, j + 1, k) - T(i, j - 1, k)) / (Y[j + 1] - Y[j - 1]);
                    if (k == 1) gz = (2.0 / 3.0) * (T(i, j, 3) - T(i, j, 2)) / (Z[3] - Z[2]);
                    if (k >= 2 && k <= nK - 2)
                        gz = (2.0 / 3.0) * (T(i, j, k + 1) - T(i, j, k - 1)) / (Z[k + 1] - Z[k - 1]);
                }
                ASSERT_EQ(r.fde_dx_Ar(i, j, k), gx) << i << " " << j << " " << k;
                ASSERT_EQ(r.fde_dy_Ar(i, j, k), gy) << i << " " << j << " " << k;
                ASSERT_EQ(r.fde_dz_Ar(i, j, k), gz) << i << " " << j << " " << k;
                // The record of the cell and its class.
                const size_t c = r.fuvwX_Ar.index(i, j, k);
                const double expected[8] = {double(r.fuvwX_Ar(i, j, k)), double(r.fuvwY_Ar(i, j, k)),
                                            double(r.fuvwZ_Ar(i, j, k)), double(r.fTKE_Ar(i, j, k)),
                                            double(r.fDissipation_Ar(i, j, k)), gx, gy, gz};
                for (int q = 0; q < 8; ++q) ASSERT_EQ(r.fSampleCells[c].v[q], expected[q]);
                tParticle p;
                p.fPosGrid = {i, j, k};
                ASSERT_EQ(r.fCellClass[c], r.CheckEmitter(p));
                // No obstacle in the block around an inner cell (layers 0
                // and 1 around layer 0).
                bool free = i >= 1 && i <= nI - 2 && j >= 1 && j <= nJ - 2 && k <= nK - 2;
                for (int32_t a = i - 1; free && a <= i + 1; ++a)
                    for (int32_t b = j - 1; b <= j + 1; ++b)
                        for (int32_t l = std::max(k - 1, 0); l <= k + 1; ++l)
                            if (r.fObject_Ar(a, b, l) == 1) free = false;
                ASSERT_EQ(r.fFreeAround[c], free ? 1 : 0) << i << " " << j << " " << k;
            }
}

// The cell-order sort against a stable sort by cell, for grids that take
// one, two and three passes, with many particles sharing cells.
TEST(StepKernel, TheCellSortIsAStableSortByCell) {
    std::mt19937_64 random(7);
    for (const int cellBits : {1, 9, 11, 12, 22, 23, 31}) {
        const uint64_t cells = uint64_t(1) << cellBits;
        kwd::tLargeVector<uint64_t> keys;
        for (uint64_t n = 0; n < 5000; ++n) {
            // A few cells often, the others at random up to the top cell.
            const uint64_t cell = n % 3 == 0 ? (n / 3) % std::min<uint64_t>(5, cells) : random() % cells;
            keys.push_back(cell << 32 | (random() & 0xFFFFFFFFu));
        }
        keys.push_back((cells - 1) << 32);
        kwd::tLargeVector<uint64_t> expected = keys;
        std::stable_sort(expected.begin(), expected.end(),
                         [](uint64_t a, uint64_t b) { return (a >> 32) < (b >> 32); });
        kwd::tLargeVector<uint64_t> scratch;
        kwd::engine::kwdstep::sortByCell(keys, scratch, cellBits);
        ASSERT_EQ(keys, expected) << cellBits << " bits";
    }
}

}  // namespace

namespace {

// The pass (in the AVX2 variant particles side by side, in the baseline
// variant one at a time) against each particle moved alone, sub-step after
// sub-step, over several passes on the
// varied grid (particles in the interior, at the side boundary, in the
// lowest and the top layer, at obstacles and emitters, leaving the box):
// every field of every particle and the hits are the same.
template <class Isa>
void expectPassesAsOneAtATime(bool avx2) {
    auto e = variedEngine();
    e->fStepAvx2 = avx2;
    std::mt19937_64 gen(11);
    std::uniform_real_distribution<double> ux(0.0, 18.0), uy(0.0, 21.0), uz(0.0, 18.5);
    for (int64_t n = 0; n < 400; ++n) {
        tParticle p = kwd::test::particleAt(*e, ux(gen), uy(gen), uz(gen), n);
        if (n % 3 != 0) {
            // Past its first sub-step, with a velocity and a last sub-step.
            p.fAge = 0.5, p.fAge_m = 0.5 - 0.01 * double(n % 7 + 1), p.fe_m = 0.04;
            p.frVar1 = 0.1, p.frVar2 = -0.05, p.frVar3 = 0.02 * double(n % 5) - 0.04;
        }
        e->fParticleList.push_back(p);
    }
    tParticleList alone = e->fParticleList;
    const kwd::engine::kwdstep::tStepContext c = kwd::engine::kwdstep::stepContext(*e);
    int64_t hits = 0;
    for (const double dt : {0.5, 2.0, 4.0}) {
        e->movingPass(dt);
        for (tParticle& p : alone) {
            p.fdt_sum = 0.0;
            if (p.fInModel) kwd::engine::kwdstep::stepParticle<Isa>(c, p, dt, hits);
        }
    }
    EXPECT_EQ(e->fTotalParticlesInTarget, hits);
    EXPECT_GT(hits, 0);
    int64_t moving = 0;
    for (size_t n = 0; n < alone.size(); ++n) {
        ASSERT_EQ(e->fParticleList[n], alone[n]) << "particle " << n;
        ASSERT_EQ(std::signbit(e->fParticleList[n].frVar3), std::signbit(alone[n].frVar3));
        moving += alone[n].fInModel ? 1 : 0;
    }
    EXPECT_GT(moving, 0);
}

TEST(StepKernel, ParticlesSideBySideEndAsParticlesMovedOneAtATime) {
    const int saved = omp_get_max_threads();
    for (const int threads : {1, 2}) {
        SCOPED_TRACE(threads);
        omp_set_num_threads(threads);
        expectPassesAsOneAtATime<kwd::engine::kwdstep::tIsaBaseline>(false);
        if (stepVariantAvx2Available())
            expectPassesAsOneAtATime<kwd::engine::kwdstep::tIsaAvx2>(true);
    }
    omp_set_num_threads(saved);
}

// On two threads the scan for the moving particles cuts a long list into
// chunks. A pass after it steps every particle of the interval that moves,
// resets the call time of those that finished in the pass before and leaves
// the rest alone, as on one thread.
TEST(StepKernel, APassAfterTheScanOfALongListIsTheSameOnOneAndTwoThreads) {
    const int saved = omp_get_max_threads();
    // Of every eight particles: two move, four finished in the pass before
    // (enough for two chunks of their own), one belongs to another interval,
    // one finished earlier.
    auto kindOf = [](size_t n) {
        const size_t r = n % 8;
        return r < 2 ? 'm' : r < 6 ? 'j' : r == 6 ? 'o' : 'f';
    };
    tParticleList built;
    auto passOn = [&built, &kindOf](int threads) {
        omp_set_num_threads(threads);
        auto e = variedEngine();
        e->fMainLoopIdx = 0;
        std::mt19937_64 gen(3);
        std::uniform_real_distribution<double> ux(1.0, 17.0), uy(1.0, 20.0), uz(1.0, 17.5);
        for (int64_t n = 0; n < 80000; ++n) {
            tParticle p = kwd::test::particleAt(*e, ux(gen), uy(gen), uz(gen), n);
            const char kind = kindOf(size_t(n));
            if (kind == 'j' || kind == 'f') p.fInModel = false;
            if (kind == 'j') p.fdt_sum = 0.5;
            if (kind == 'o') p.fLoopIdx = 1;
            e->fParticleList.push_back(p);
        }
        built = e->fParticleList;
        e->movingPass(0.001);
        return e->fParticleList;
    };
    const tParticleList one = passOn(1);
    const tParticleList two = passOn(2);
    omp_set_num_threads(saved);
    ASSERT_EQ(one.size(), built.size());
    ASSERT_EQ(two.size(), built.size());
    int64_t moved = 0;
    for (size_t n = 0; n < built.size(); ++n) {
        ASSERT_EQ(one[n], two[n]) << "particle " << n;
        tParticle expected = built[n];
        if (kindOf(n) == 'j') expected.fdt_sum = 0.0;
        if (kindOf(n) == 'm' && built[n].fInModel) {
            ASSERT_GT(one[n].fSubSteps, 0) << "particle " << n;
            ++moved;
        } else {
            ASSERT_EQ(one[n], expected) << "particle " << n;
        }
    }
    EXPECT_GT(moved, 10000);
}

TEST(StepKernel, AFlagRaisedSideBySideNamesTheParticleThatRaisedIt) {
    // A negative energy in one column has no standard deviation: of the
    // particles moved side by side, the one that starts there fails.
    auto e = kwd::test::makeEngine(kwd::test::uniformGrid(8, 8, 8), [](int32_t i, int32_t, int32_t) {
        kwd::test::tCellValues c;
        c.u = 0.5f, c.tke = i == 5 ? -1.0f : 0.1f, c.eps = 0.01f;
        return c;
    });
    for (int64_t n = 0; n < 12; ++n)
        e->fParticleList.push_back(kwd::test::particleAt(*e, n == 7 ? 5.5 : 2.5, 1.5 + 0.4 * double(n), 3.5, n));
    try {
        e->moveAllParticlesParallel(0.001);
        FAIL() << "no error";
    } catch (const kwd::FloatingPointError& err) {
        EXPECT_STREQ(err.what(),
                     "floating-point invalid operation in the particle step of particle 7 "
                     "(serial number 7)");
    }
}

}  // namespace

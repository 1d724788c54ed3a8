// The shortcuts of the particle step against the rules they stand for: the
// three Gaussian numbers drawn side by side against three draws in turn,
// the cell search that starts from the last cell against the bisection, the
// millisecond clock against converting after every sub-step.

#include <gtest/gtest.h>

#include <random>

#include "EngineFixtures.h"
#include "engine/u_StepKernel.h"
#include "platform/DateTime.h"

namespace {

template <class Isa>
void expectThreeGaussiansAsInTurn(double limit) {
    tRandomStream together(99, 7, tRandomPurpose::Velocity, 5);
    tRandomStream inTurn(99, 7, tRandomPurpose::Velocity, 5);
    for (int n = 0; n < 20000; ++n) {
        double a, b, c;
        kwdstep::threeGaussians<Isa>(together, limit, a, b, c);
        const double ea = kwdstep::gauss(limit, inTurn) - 1.0;
        const double eb = kwdstep::gauss(limit, inTurn) - 1.0;
        const double ec = kwdstep::gauss(limit, inTurn) - 1.0;
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
        expectThreeGaussiansAsInTurn<kwdstep::tIsaBaseline>(limit);
        if (stepVariantAvx2Available()) expectThreeGaussiansAsInTurn<kwdstep::tIsaAvx2>(limit);
    }
}

TEST(StepKernel, TheCellSearchFromTheLastCellFindsTheCellOfTheWalk) {
    // Uneven widths, and a position on every face.
    kwdtest::tTestGrid g = kwdtest::uniformGrid(7, 5, 6);
    g.dx = {0.5f, 2.0f, 1.0f, 3.0f, 0.25f, 1.5f, 2.0f};
    g.dy = {1.0f, 1.0f, 4.0f, 0.1f, 1.0f};
    g.dz = {0.3f, 0.7f, 1.0f, 2.0f, 4.0f, 8.0f};
    const TZDXFile z = kwdtest::makeDescriptor(g, "/nonexistent", "G", "01.07.2018", "12:00:00");
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
    std::uniform_real_distribution<double> day(-kwdstep::kMillisecondClockLimit + 1.0,
                                               kwdstep::kMillisecondClockLimit - 1.0);
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

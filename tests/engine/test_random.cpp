// Uniform streams (Philox4x32-10), Random(n), the run seed and randGauss.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <set>
#include <vector>

#include "support/EngineFixtures.h"
#include "engine/u_Random.h"
#include "platform/KwdError.h"

using kwd::engine::philox4x32_10;
using kwd::engine::runSeed;
using kwd::engine::tDetector;
using kwd::engine::tParticleManager;
using kwd::engine::tRandomPurpose;
using kwd::engine::tRandomStream;

using kwd::dataset::TZDXFile;

namespace {

struct PhiloxCase {
    std::array<uint32_t, 4> ctr;
    std::array<uint32_t, 2> key;
    std::array<uint32_t, 4> expected;
};

TEST(Philox, KnownAnswerVectors) {
    const PhiloxCase cases[] = {
        {{0, 0, 0, 0}, {0, 0}, {0x6627e8d5, 0xe169c58d, 0xbc57ac4c, 0x9b00dbd8}},
        {{0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff},
         {0xffffffff, 0xffffffff},
         {0x408f276d, 0x41c83b0e, 0xa20bc7c6, 0x6d5451fd}},
        {{0x243f6a88, 0x85a308d3, 0x13198a2e, 0x03707344},
         {0xa4093822, 0x299f31d0},
         {0xd16cfe09, 0x94fdcceb, 0x5001e420, 0x24126ea1}},
    };
    for (const PhiloxCase& c : cases) EXPECT_EQ(philox4x32_10(c.ctr, c.key), c.expected);
}

TEST(RandomStream, WordsAreTheBlocksOfItsCounterAndResumeAtAnyPosition) {
    const uint64_t seed = 0x0123456789abcdefull;
    tRandomStream s(seed, 5, tRandomPurpose::Velocity);
    std::vector<uint32_t> words;
    for (int n = 0; n < 10; ++n) words.push_back(s.next32());
    EXPECT_EQ(s.position(), 10u);
    // Block b of particle 5's velocity stream is counter (b, 0, 5, 0) under the seed.
    const auto block0 = philox4x32_10({0, 0, 5, 0}, {0x89abcdef, 0x01234567});
    const auto block2 = philox4x32_10({2, 0, 5, 0}, {0x89abcdef, 0x01234567});
    EXPECT_EQ(words[0], block0[0]);
    EXPECT_EQ(words[3], block0[3]);
    EXPECT_EQ(words[8], block2[0]);
    // A stream started at a stored position continues the same sequence.
    for (uint64_t start : {1u, 3u, 4u, 7u}) {
        tRandomStream resumed(seed, 5, tRandomPurpose::Velocity, start);
        for (size_t n = start; n < words.size(); ++n) EXPECT_EQ(resumed.next32(), words[n]);
    }
    // Another particle, or the release purpose, is another stream.
    tRandomStream other(seed, 6, tRandomPurpose::Velocity);
    tRandomStream release(seed, 5, tRandomPurpose::Release);
    EXPECT_NE(other.next32(), words[0]);
    const auto releaseBlock = philox4x32_10({0, 0, 5, 0x80000000u}, {0x89abcdef, 0x01234567});
    EXPECT_EQ(release.next32(), releaseBlock[0]);
}

TEST(RandomStream, RandomIsUniformBelowN) {
    tRandomStream s(42, 0, tRandomPurpose::Velocity);
    for (int n = 0; n < 100; ++n) EXPECT_EQ(s.Random(1), 0u);
    // Chi-square over 10 classes: 9 degrees of freedom, 99.9 % quantile 27.9.
    std::vector<int> counts(10, 0);
    const int draws = 100000;
    for (int n = 0; n < draws; ++n) ++counts[s.Random(10)];
    double chi2 = 0.0;
    for (int c : counts) chi2 += (c - draws / 10.0) * (c - draws / 10.0) / (draws / 10.0);
    EXPECT_LT(chi2, 27.9);
    // Just above 2^31 half of all words fall in the rejected remainder; the
    // upper half of the range must still be reached.
    const uint32_t big = 0x80000001u;
    int upper = 0;
    for (int n = 0; n < 2000; ++n) {
        const uint32_t r = s.Random(big);
        ASSERT_LT(r, big);
        upper += r >= big / 2 ? 1 : 0;
    }
    EXPECT_GT(upper, 850);
    EXPECT_LT(upper, 1150);
}

class SeedEnvironment : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* v = std::getenv("KWD_SEED")) fSaved = v, fHadValue = true;
    }
    void TearDown() override {
        if (fHadValue)
            setenv("KWD_SEED", fSaved.c_str(), 1);
        else
            unsetenv("KWD_SEED");
    }
    std::string fSaved;
    bool fHadValue = false;
};

TEST_F(SeedEnvironment, SeedFromKwdSeedOrTheClock) {
    setenv("KWD_SEED", "12345", 1);
    EXPECT_EQ(runSeed(), 12345u);
    setenv("KWD_SEED", "-1", 1);
    EXPECT_EQ(runSeed(), ~uint64_t(0));
    setenv("KWD_SEED", "18446744073709551615", 1);
    EXPECT_EQ(runSeed(), ~uint64_t(0));
    for (const char* bad : {"12a", "", " 7", "1.5", "+", "18446744073709551616"}) {
        setenv("KWD_SEED", bad, 1);
        try {
            runSeed();
            ADD_FAILURE() << "accepted KWD_SEED \"" << bad << "\"";
        } catch (const kwd::ConversionError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("the environment variable KWD_SEED (\"") +
                                                 bad + "\") is not a decimal integer");
        }
    }
    unsetenv("KWD_SEED");
    EXPECT_NE(runSeed(), runSeed());
    // The engine takes its seed from there when it is built.
    setenv("KWD_SEED", "977", 1);
    std::vector<TZDXFile> list(1);
    tParticleManager e(true, tDetector{}, std::move(list), "/out", 0.0, 1);
    EXPECT_EQ(e.fSeed, 977u);
}

TEST(RandGauss, TruncatedStandardNormalAfterSubtractingOne) {
    auto e = kwd::test::makeEngine(kwd::test::uniformGrid(3, 3, 4), [](int32_t, int32_t, int32_t) {
        return kwd::test::tCellValues{};
    });
    tRandomStream s(7, 0, tRandomPurpose::Velocity);
    const int n = 400000;
    double sum = 0.0, sum2 = 0.0, largest = 0.0;
    for (int m = 0; m < n; ++m) {
        const double g = e->randGauss(5.0, s) - 1.0;
        ASSERT_GE(g, -5.0);
        ASSERT_LE(g, 5.0);
        sum += g;
        sum2 += g * g;
        largest = std::max(largest, std::fabs(g));
    }
    const double mean = sum / n;
    const double var = sum2 / n - mean * mean;
    // The cut tails beyond 5 sigma lower the variance by 1.5e-5.
    EXPECT_LT(std::fabs(mean), 4.0 / std::sqrt(double(n)));
    EXPECT_NEAR(var, 1.0 - 1.5e-5, 4.0 * std::sqrt(2.0 / n));
    EXPECT_GT(largest, 3.5);
    // A narrow limit cuts the draws there, and the limit itself is allowed.
    double widest = 0.0;
    for (int m = 0; m < 20000; ++m) {
        const double g = e->randGauss(0.5, s);
        ASSERT_LE(std::fabs(g - 1.0), 0.5);
        widest = std::max(widest, std::fabs(g - 1.0));
    }
    EXPECT_GT(widest, 0.49);
    EXPECT_THROW(e->randGauss(0.0, s), kwd::GeneralError);
    EXPECT_THROW(e->randGauss(-1.0, s), kwd::GeneralError);
}

}  // namespace

// The number text of the result files, pinned by whole strings.

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <limits>
#include <string>

#include "results/u_ResultText.h"

using kwd::results::appendIntegerText;
using kwd::results::appendNumberText;
using kwd::results::numberText;
using kwd::results::resultFilePath;

namespace {

struct tNumberCase {
    double value;
    const char* text;
};

const tNumberCase kCases[] = {
    {0.0, "0.00000000000000000"},
    {-0.0, "0.00000000000000000"},
    {-0.25, "-0.25000000000000000"},
    {1.5, "1.50000000000000000"},
    {2.5, "2.50000000000000000"},
    // 0.1 is 0.1000000000000000055511...: the 17th significant digit rounds up.
    {0.1, "0.10000000000000001"},
    // 1/3 is 0.333333333333333314829...
    {1.0 / 3.0, "0.33333333333333331"},
    // 0.0123456789012345684...: 17 significant digits reach the 18th place,
    // which is cut without a further rounding.
    {0.0123456789012345678, "0.01234567890123456"},
    // 123456.789 is 123456.78900000000430...
    {123456.789, "123456.78900000000000000"},
    {9.5e16, "95000000000000000.00000000000000000"},
    // The largest double below 1e17 still has the fixed layout.
    {99999999999999984.0, "99999999999999984.00000000000000000"},
    {1e17, "1E17"},
    {-1.2345678901234567e20, "-1.2345678901234567E20"},
    {2.5e20, "2.5E20"},
    // 1e-20 lies beyond the 17th place.
    {1e-20, "0.00000000000000000"},
    {-1e-20, "-0.00000000000000000"},
    // Below 1e-16 the rounding is at the 32nd place: 4.99999999999999989e-17
    // becomes 5e-17 there, and 1e-16 (9.99999999999999979e-17) becomes 1e-16.
    {5e-17, "0.00000000000000005"},
    {1e-16, "0.00000000000000010"},
    {1e-40, "0.00000000000000000"},
    {-1e-40, "0.00000000000000000"},
    // A float widened to double keeps its binary value: 0.100000001490116119...
    {double(0.1f), "0.10000000149011612"},
    {double(-999.0f), "-999.00000000000000000"},
    {12.0, "12.00000000000000000"},
    // 123456789012345.625 is exact: its 18th significant digit is a tie, to even.
    {123456789012345.625, "123456789012345.62000000000000000"},
    {123456789012345.875, "123456789012345.88000000000000000"},
    {1e-6, "0.00000099999999999"},
    {std::numeric_limits<double>::infinity(), "INF"},
    {-std::numeric_limits<double>::infinity(), "-INF"},
};

TEST(NumberText, TableOfWholeStrings) {
    for (const tNumberCase& c : kCases) {
        EXPECT_EQ(numberText(c.value), c.text) << "value " << c.value;
    }
}

// The rule written out plainly on the library's exactly rounded conversions.
std::string referenceText(double x) {
    if (x == 0) return "0.00000000000000000";
    char buf[128];
    const bool neg = x < 0;
    const double a = std::fabs(x);
    auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, 16);
    std::string sci(buf, r.ptr);
    const int e = std::stoi(sci.substr(sci.find('e') + 1));
    if (a >= 1e17) {
        std::string mant = sci.substr(0, sci.find('e'));
        while (mant.back() == '0') mant.pop_back();
        if (mant.back() == '.') mant.pop_back();
        return (neg ? "-" : "") + mant + "E" + std::to_string(e);
    }
    if (e < -16) {
        r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::fixed, 32);
        const std::string fixed(buf, r.ptr);
        const bool nonZero = fixed.find_first_of("123456789") != std::string::npos;
        return (neg && nonZero ? "-" : "") + fixed.substr(0, 2 + 17);
    }
    const std::string digits = sci.substr(0, 1) + sci.substr(2, 16);
    std::string text;
    if (e >= 0)
        text = digits.substr(0, size_t(e) + 1) + "." + digits.substr(size_t(e) + 1);
    else
        text = "0." + std::string(size_t(-e - 1), '0') + digits;
    text.resize(text.find('.') + 18, '0');
    return (neg ? "-" : "") + text;
}

TEST(NumberText, AgreesWithThePlainRuleOverAllMagnitudes) {
    std::mt19937_64 gen(12345);
    std::uniform_int_distribution<int> exponent(-60, 60);
    std::uniform_real_distribution<double> mantissa(1.0, 10.0);
    std::uniform_int_distribution<uint64_t> bits;
    for (int n = 0; n < 200000; ++n) {
        double x = mantissa(gen) * std::pow(10.0, exponent(gen));
        if (n % 4 == 1) x = -x;
        if (n % 4 == 2) {  // any finite bit pattern
            const uint64_t b = bits(gen);
            std::memcpy(&x, &b, sizeof x);
        }
        if (n % 4 == 3) x = double(float(x));  // float values widened
        if (!std::isfinite(x)) continue;
        ASSERT_EQ(numberText(x), referenceText(x)) << "bits of x: " << std::hexfloat << x;
    }
}

TEST(NumberText, AgreesWithThePlainRuleAroundPowersOfTen) {
    for (int e = -25; e <= 18; ++e) {
        const double p = std::pow(10.0, e);
        double x = p;
        for (int n = 0; n < 4; ++n) x = std::nextafter(x, 0.0);
        for (int n = 0; n < 9; ++n, x = std::nextafter(x, 1e300)) {
            ASSERT_EQ(numberText(x), referenceText(x)) << std::hexfloat << x;
            ASSERT_EQ(numberText(-x), referenceText(-x)) << std::hexfloat << x;
        }
    }
}

TEST(NumberText, NanIsNamed) {
    EXPECT_EQ(numberText(std::numeric_limits<double>::quiet_NaN()), "NAN");
}

TEST(NumberText, AppendsToExistingText) {
    std::string s = "x;";
    appendNumberText(s, 1.5);
    appendIntegerText(s, -42);
    EXPECT_EQ(s, "x;1.50000000000000000-42");
}

TEST(NumberText, FileNamesCannotNameFolders) {
    EXPECT_EQ(resultFilePath("/out", "ParticleList_01/07/2018 12:00:00_P\\Q.csv"),
              "/out/ParticleList_01.07.2018 12.00.00_P.Q.csv");
}

}  // namespace

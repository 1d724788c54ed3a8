// The number text of the result files, pinned by whole strings.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "results/u_ResultText.h"

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
    {std::numeric_limits<double>::infinity(), "INF"},
    {-std::numeric_limits<double>::infinity(), "-INF"},
};

TEST(NumberText, TableOfWholeStrings) {
    for (const tNumberCase& c : kCases) {
        EXPECT_EQ(numberText(c.value), c.text) << "value " << c.value;
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

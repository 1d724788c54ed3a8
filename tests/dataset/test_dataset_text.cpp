#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "dataset/DatasetText.h"

using namespace kwd::dataset::dataset_text;

TEST(DatasetText, LeadingNumbersReadAsFarAsTheyAreNumeric) {
    struct IntCase {
        const char* text;
        int32_t value;
    };
    const IntCase ints[] = {{"12abc", 12},          {"  -7", -7},        {"+3 4", 3},
                            {"abc", 0},             {"", 0},             {"0x1F", 0},
                            {"99999999999", 2147483647}, {"-99999999999", -2147483647 - 1}};
    for (const auto& c : ints) EXPECT_EQ(leadingInt(c.text), c.value) << c.text;

    struct FloatCase {
        const char* text;
        float value;
    };
    const FloatCase floats[] = {{"1.5e2", 150.0f},  {" -3.25x", -3.25f}, {"1,5", 1.0f},
                                {"+.5", 0.5f},      {".", 0.0f},         {"2e", 2.0f},
                                {"2e+", 2.0f},      {"abc", 0.0f},       {"1e-60", 0.0f},
                                {"-1e60", -std::numeric_limits<float>::max()},
                                {"1e999", std::numeric_limits<float>::max()}};
    for (const auto& c : floats) EXPECT_EQ(leadingFloat(c.text), c.value) << c.text;
}

TEST(DatasetText, FileNameParts) {
    EXPECT_EQ(changeFileExt("/a/b.ZDX", ".ZDT"), "/a/b.ZDT");
    EXPECT_EQ(changeFileExt("/a.b/c", ".ZDI"), "/a.b/c.ZDI");
    EXPECT_EQ(changeFileExt("x.y.z", ".ZDI"), "x.y.ZDI");
    EXPECT_EQ(extractFileName("/a/b/c.ZDI"), "c.ZDI");
    EXPECT_EQ(extractFileName("c.ZDI"), "c.ZDI");
    EXPECT_EQ(upperCase("_bldg_StaticData(ä)"), "_BLDG_STATICDATA(ä)");
    EXPECT_EQ(part("abc", 1, 5), "bc");
    EXPECT_EQ(part("abc", 7, 2), "");
}

// Line, word, number and encoding routines of the container files.

#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <string>
#include <vector>

#include "container/UDataXStorage.h"
#include "platform/FpControl.h"

using kwd::container::TDataXStorage;
using kwd::container::TDataXTextEncoding;

using Words = std::vector<std::string>;

TEST(ContainerText, SplitTokens) {
    struct Case {
        std::string text;
        Words words;
    };
    const std::vector<Case> cases = {
        {"", {""}},
        {"a b", {"a", "b"}},
        {"a,b|c", {"a", "b", "c"}},
        {"  a   b ", {"a", "b", ""}},
        {"a, ,b", {"a", "b"}},
        {"mat type=\"matrix-data\" dataI=\"2\"", {"mat", "type=\"matrix-data\"", "dataI=\"2\""}},
        {"a\tb", {"a\tb"}},
    };
    for (const auto& c : cases) EXPECT_EQ(TDataXStorage::SplitTokens(c.text), c.words) << c.text;

    std::string many;
    for (int k = 0; k < 60; ++k) many += "w" + std::to_string(k) + " ";
    const Words words = TDataXStorage::SplitTokens(many);
    ASSERT_EQ(words.size(), 51u);
    EXPECT_EQ(words.back(), "w50");

    EXPECT_EQ(TDataXStorage::FirstWord("Elem more words"), "Elem");
    EXPECT_EQ(TDataXStorage::FirstWord("xMin"), "xMin");
}

TEST(ContainerText, SplitCommaList) {
    struct Case {
        std::string text;
        Words items;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"a,,b,", {"a", "", "b", ""}},
        {",", {"", ""}},
        {"a, b ", {"a", " b "}},
        {"\"x,y\",z", {"x,y", "z"}},
        {"\"a\"\"b\"", {"a\"b"}},
        {"\"ab\"cd,e", {"ab", "cd", "e"}},
        {"\"open,end", {"open,end"}},
        {"1.50000,-0.25000", {"1.50000", "-0.25000"}},
    };
    for (const auto& c : cases) EXPECT_EQ(TDataXStorage::SplitCommaList(c.text), c.items) << c.text;

    std::string many;
    for (int k = 0; k < 6000; ++k) many += std::to_string(k) + ",";
    const Words items = TDataXStorage::SplitCommaList(many);
    ASSERT_EQ(items.size(), 5001u);
    EXPECT_EQ(items.back(), "5000");
    EXPECT_EQ(TDataXStorage::SplitCommaList(many, 2001).size(), 2001u);
}

TEST(ContainerText, ExtractTagNameAndValue) {
    const std::vector<std::pair<std::string, std::string>> names = {
        {"     <xMin> 100.00000 </xMin>", "xMin"},
        {"</Header>", "/Header"},
        {"no tag here", ""},
        {"<abc", "abc"},
        {"a>b<c>", ""},
        {"<<a>", "a"},
        {"   1.0,2.0</m>", "/m"},
        {"<m type=\"matrix-data\" dataI=\"2\">", "m type=\"matrix-data\" dataI=\"2\""},
        {"", ""},
    };
    for (const auto& [line, name] : names) EXPECT_EQ(TDataXStorage::ExtractTagName(line), name) << line;

    const std::vector<std::pair<std::string, std::string>> values = {
        {"<a> 1 </a>", "1"},
        {"<a>  \"  inner  text \"  </a>", "  inner  text "},
        {"<a>\"\"</a>", ""},
        {"<a> value", ""},
        {"</a>", ""},
        {"<a> x</b> </a>", "x</b>"},
        {"<a> ok> </a>", "ok>"},
        {"no markup", ""},
    };
    for (const auto& [text, value] : values) EXPECT_EQ(TDataXStorage::ExtractTagValue(text), value) << text;

    EXPECT_TRUE(TDataXStorage::HasClosingTag("<a> 1 </a>", "a"));
    EXPECT_FALSE(TDataXStorage::HasClosingTag("<a> 1 </ab>", "a"));
    EXPECT_TRUE(TDataXStorage::HasAttributes("m type=\"x\""));
    EXPECT_FALSE(TDataXStorage::HasAttributes("m"));
}

TEST(ContainerText, Attributes) {
    const std::string matrix = "mat type=\"matrix-data\" dataI=\"2\" dataJ=\"3\" signcount=\"4\"";
    struct Case {
        std::string tag, attribute, value;
    };
    const std::vector<Case> cases = {
        {"mat", "type", "0"},
        {matrix, "type", "matrix-data"},
        {matrix, "dataJ", "3"},
        {matrix, "rows", "-1"},
        {"<bm width=\"3\">", "width", "3"},
        {"t Type=\"x\"", "type", "-1"},
        {"s defaultValue=\"  5\"", "defaultValue", ""},
        {"s key=value other", "key", "value"},
        {"s a=\"1\" stray b=\"2\"", "b", "2"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TDataXStorage::GetAttributeValue(c.tag, c.attribute), c.value) << c.tag << " / " << c.attribute;

    EXPECT_EQ(TDataXStorage::GetAttributeInt(matrix, "dataI"), 2);
    EXPECT_EQ(TDataXStorage::GetAttributeInt(matrix, "rows"), -1);
    EXPECT_EQ(TDataXStorage::GetAttributeInt("mat", "dataI"), 0);
    EXPECT_EQ(TDataXStorage::GetAttributeInt("s defaultValue=\"1.50000\"", "defaultValue"), 1);

    std::string key = "k", value = "v";
    TDataXStorage::SplitAttribute("noequals", key, value);
    EXPECT_EQ(key, "k");
    EXPECT_EQ(value, "v");
    TDataXStorage::SplitAttribute("a=\"x=y\"  ", key, value);
    EXPECT_EQ(key, "a");
    EXPECT_EQ(value, "x=y");
}

TEST(ContainerText, ReadIntegerText) {
    struct Case {
        std::string text;
        int32_t value;
        bool complete;
    };
    const std::vector<Case> cases = {
        {" 12abc", 12, false},    {"$1F", 31, true},
        {"0x1f", 31, true},       {"0X1F", 31, true},
        {"x10", 16, true},        {"X10", 16, true},
        {"-$10", -16, true},      {"+7", 7, true},
        {"", 0, false},           {"abc", 0, false},
        {"1.5", 1, false},        {"12 ", 12, false},
        {"0x", 0, false},         {"- 5", 0, false},
        {"  -0", 0, true},        {"007", 7, true},
        {"2147483647", INT32_MAX, true},
        {"2147483648", INT32_MAX, true},
        {"99999999999999999999999", INT32_MAX, true},
        {"-2147483648", INT32_MIN, true},
        {"-2147483649", INT32_MIN, true},
        {"$FFFFFFFFFF", INT32_MAX, true},
    };
    for (const auto& c : cases) {
        bool complete = !c.complete;
        EXPECT_EQ(TDataXStorage::ReadIntegerText(c.text, &complete), c.value) << c.text;
        EXPECT_EQ(complete, c.complete) << c.text;
    }
}

TEST(ContainerText, ReadFloatText) {
    struct Case {
        std::string text;
        float value;
        bool complete;
    };
    const std::vector<Case> cases = {
        {"1.5e2", 150.0f, true},  {"1,5", 1.0f, false},
        {" -2.5", -2.5f, true},   {"+0.25", 0.25f, true},
        {"5.", 5.0f, true},       {".5", 0.5f, true},
        {"1e", 1.0f, false},      {"1E+", 1.0f, false},
        {"2E-1", 0.2f, true},     {"3.25xyz", 3.25f, false},
        {"", 0.0f, false},        {".", 0.0f, false},
        {"$1F", 0.0f, false},     {"nan", 0.0f, false},
        {"100.00000", 100.0f, true},
        {"1e39", FLT_MAX, true},  {"-1e400", -FLT_MAX, true},
        {"1e-400", 0.0f, true},   {"0.000e99999", 0.0f, true},
    };
    for (const auto& c : cases) {
        bool complete = !c.complete;
        kwd::clearFpFlags();
        EXPECT_EQ(TDataXStorage::ReadFloatText(c.text, &complete), c.value) << c.text;
        EXPECT_EQ(complete, c.complete) << c.text;
        EXPECT_EQ(kwd::raisedFpFlags(), "") << c.text;
    }
    EXPECT_EQ(TDataXStorage::ReadDoubleText("1e400"), DBL_MAX);
    EXPECT_EQ(TDataXStorage::ReadDoubleText("0.1"), 0.1);
}

TEST(ContainerText, FormatFloat5) {
    const std::vector<std::pair<float, std::string>> cases = {
        {100.0f, "100.00000"},
        {-2.0f, "-2.00000"},
        {0.5f, "0.50000"},
        {0.0f, "0.00000"},
        {-0.0f, "0.00000"},
        {-0.000001f, "0.00000"},
        {0.1f, "0.10000"},
        {1.0f / 64, "0.01563"},        // exact tie: a half away from zero
        {-1.0f / 64, "-0.01563"},
        {9.999995f, "10.00000"},       // carry through every digit
        {123456.789f, "123456.78906"},
        {3.0e38f, "300000000549775575777803994281145270272.00000"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(TDataXStorage::FormatFloat5(value), text) << value;
}

TEST(ContainerText, LineEnds) {
    struct Case {
        std::string bytes;
        Words lines;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        {"a\r\n", {"a"}},
        {"a\n\n", {"a", ""}},
        {"\r\n", {""}},
        {"a\r\r\nb", {"a", "", "b"}},
        {"\xE4\xF6\xFC\r\n", {"\xE4\xF6\xFC"}},  // 8-bit text keeps its bytes
    };
    for (const auto& c : cases) {
        TDataXTextEncoding encoding = TDataXTextEncoding::Utf16BE;
        EXPECT_EQ(TDataXStorage::DecodeTextLines(c.bytes, encoding), c.lines) << c.bytes;
        EXPECT_EQ(encoding, TDataXTextEncoding::Ansi);
    }
}

TEST(ContainerText, ByteOrderMarks) {
    struct Case {
        std::string bytes;
        TDataXTextEncoding encoding;
    };
    // "a€" then CR LF, "b" without a final break.
    const std::vector<Case> cases = {
        {"\xEF\xBB\xBF" "a\xE2\x82\xAC\r\nb", TDataXTextEncoding::Utf8},
        {std::string("\xFF\xFE" "a\0\xAC\x20\r\0\n\0b\0", 12), TDataXTextEncoding::Utf16LE},
        {std::string("\xFE\xFF\0a\x20\xAC\0\r\0\n\0b", 12), TDataXTextEncoding::Utf16BE},
    };
    for (const auto& c : cases) {
        TDataXTextEncoding encoding = TDataXTextEncoding::Ansi;
        EXPECT_EQ(TDataXStorage::DecodeTextLines(c.bytes, encoding), (Words{"a\xE2\x82\xAC", "b"}));
        EXPECT_EQ(encoding, c.encoding);
    }
    // A surrogate pair, a lone surrogate and a lone last byte.
    TDataXTextEncoding encoding = TDataXTextEncoding::Ansi;
    EXPECT_EQ(TDataXStorage::DecodeTextLines(std::string("\xFF\xFE\x34\xD8\x1E\xDD\x00\xD8x", 9), encoding),
              (Words{"\xF0\x9D\x84\x9E\xEF\xBF\xBD\xEF\xBF\xBD"}));
}

TEST(ContainerText, EncodeRoundTrip) {
    const Words lines = {"<remark>Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC \xF0\x9D\x84\x9E</remark>", "", "x"};
    EXPECT_EQ(TDataXStorage::EncodeTextLines({"a", "b"}, TDataXTextEncoding::Ansi), "a\r\nb\r\n");
    EXPECT_EQ(TDataXStorage::EncodeTextLines({"a"}, TDataXTextEncoding::Utf8), "\xEF\xBB\xBF" "a\r\n");
    EXPECT_EQ(TDataXStorage::EncodeTextLines({"a"}, TDataXTextEncoding::Utf16BE),
              std::string("\xFE\xFF\0a\0\r\0\n", 8));
    for (auto e : {TDataXTextEncoding::Ansi, TDataXTextEncoding::Utf8, TDataXTextEncoding::Utf16LE,
                   TDataXTextEncoding::Utf16BE}) {
        TDataXTextEncoding found = TDataXTextEncoding::Ansi;
        EXPECT_EQ(TDataXStorage::DecodeTextLines(TDataXStorage::EncodeTextLines(lines, e), found), lines);
        EXPECT_EQ(found, e);
    }
}

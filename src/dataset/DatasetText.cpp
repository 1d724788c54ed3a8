#include "dataset/DatasetText.h"

#include <charconv>
#include <limits>

#include "dataset/u_ZDXFile.h"

namespace kwd::dataset {

namespace dataset_text {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

size_t skipBlanks(std::string_view text) {
    size_t p = 0;
    while (p < text.size() && (text[p] == ' ' || text[p] == '\t')) ++p;
    return p;
}

}  // namespace

int32_t leadingInt(std::string_view text) {
    size_t p = skipBlanks(text);
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
    int64_t value = 0;
    constexpr int64_t kLimit = int64_t(std::numeric_limits<int32_t>::max()) + 1;
    for (; p < text.size() && isDigit(text[p]); ++p) {
        value = value * 10 + (text[p] - '0');
        if (value > kLimit) value = kLimit;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) value = std::numeric_limits<int32_t>::max();
    return int32_t(value);
}

float leadingFloat(std::string_view text) {
    size_t p = skipBlanks(text);
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
    const size_t start = p;
    size_t digits = 0;
    while (p < text.size() && isDigit(text[p])) ++p, ++digits;
    if (p < text.size() && text[p] == '.') {
        ++p;
        while (p < text.size() && isDigit(text[p])) ++p, ++digits;
    }
    if (digits == 0) return 0.0f;
    size_t end = p;
    bool negativeExponent = false;
    if (p < text.size() && (text[p] == 'e' || text[p] == 'E')) {
        size_t q = p + 1;
        if (q < text.size() && (text[q] == '+' || text[q] == '-')) negativeExponent = text[q++] == '-';
        if (q < text.size() && isDigit(text[q])) {
            while (q < text.size() && isDigit(text[q])) ++q;
            end = q;
        } else {
            negativeExponent = false;
        }
    }
    float value = 0.0f;
    const auto res = std::from_chars(text.data() + start, text.data() + end, value,
                                     std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        // Too large or too small for 32 bits: the largest float or 0,
        // decided by the magnitude in 64 bits (or by the exponent's sign
        // beyond that).
        double wide = 0.0;
        const auto wres = std::from_chars(text.data() + start, text.data() + end, wide,
                                          std::chars_format::general);
        const bool large = wres.ec == std::errc() ? wide > 1.0 : !negativeExponent;
        value = large ? std::numeric_limits<float>::max() : 0.0f;
    } else if (res.ec != std::errc()) {
        value = 0.0f;
    }
    return negative ? -value : value;
}

std::string gridText(int32_t aI, int32_t aJ, int32_t aK) {
    return std::to_string(aI) + " x " + std::to_string(aJ) + " x " + std::to_string(aK);
}

std::string gridText(const TZDXFile& aZDXFile) {
    return gridText(aZDXFile.GridsI, aZDXFile.GridsJ, aZDXFile.GridsK);
}

std::string changeFileExt(const std::string& path, const std::string& ext) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path + ext;
    return path.substr(0, dot) + ext;
}

std::string extractFileName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string upperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return text;
}

std::string_view part(std::string_view text, size_t pos, size_t count) {
    if (pos >= text.size()) return {};
    return text.substr(pos, count);
}

}  // namespace dataset_text

}  // namespace kwd::dataset

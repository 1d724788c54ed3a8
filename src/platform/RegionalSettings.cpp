#include "platform/RegionalSettings.h"

#include <cerrno>
#include <charconv>
#include <cstdio>

namespace kwd::regional {
namespace {

std::string twoDigits(int v) {
    char buf[3] = {char('0' + v / 10 % 10), char('0' + v % 10), 0};
    return buf;
}

}  // namespace

std::string shortDate(tDateTime value) {
    const DateTimeParts p = decodeDateTime(value);
    char year[8];
    std::snprintf(year, sizeof year, "%04d", p.year);
    return twoDigits(p.day) + "." + twoDigits(p.month) + "." + year;
}

std::string longTime(tDateTime value) {
    const DateTimeParts p = decodeDateTime(value);
    return twoDigits(p.hour) + ":" + twoDigits(p.minute) + ":" + twoDigits(p.second);
}

std::string dateTimeText(tDateTime value) {
    const DateTimeParts p = decodeDateTime(value);
    if (p.hour == 0 && p.minute == 0 && p.second == 0 && p.millisecond == 0) return shortDate(value);
    return shortDate(value) + " " + longTime(value);
}

std::string fileNameSafe(std::string text) {
    for (char& c : text)
        if (c == ':' || c == '/' || c == '\\') c = '.';
    return text;
}

std::string fileNameTimeText(tDateTime value) { return fileNameSafe(dateTimeText(value)); }

bool tryParseDecimal(const std::string& text, double& out) {
    // Validate the shape first: from_chars alone would accept "inf" or "nan".
    size_t k = 0;
    const size_t n = text.size();
    if (k < n && (text[k] == '+' || text[k] == '-')) ++k;
    size_t digits = 0;
    while (k < n && text[k] >= '0' && text[k] <= '9') ++k, ++digits;
    if (k < n && text[k] == kDecimalSeparator) {
        ++k;
        while (k < n && text[k] >= '0' && text[k] <= '9') ++k, ++digits;
    }
    if (digits == 0) return false;
    if (k < n && (text[k] == 'e' || text[k] == 'E')) {
        ++k;
        if (k < n && (text[k] == '+' || text[k] == '-')) ++k;
        size_t expDigits = 0;
        while (k < n && text[k] >= '0' && text[k] <= '9') ++k, ++expDigits;
        if (expDigits == 0) return false;
    }
    if (k != n) return false;
    const char* first = text.data() + (text[0] == '+' ? 1 : 0);
    double v = 0;
    const auto res = std::from_chars(first, text.data() + n, v);
    if (res.ec != std::errc() || res.ptr != text.data() + n) return false;
    out = v;
    return true;
}

bool tryParseInteger(const std::string& text, int& out) {
    if (text.empty()) return false;
    const char* first = text.data() + (text[0] == '+' ? 1 : 0);
    if (first != text.data() && (text.size() == 1 || text[1] == '-')) return false;
    int v = 0;
    const auto res = std::from_chars(first, text.data() + text.size(), v);
    if (res.ec != std::errc() || res.ptr != text.data() + text.size()) return false;
    out = v;
    return true;
}

}  // namespace kwd::regional

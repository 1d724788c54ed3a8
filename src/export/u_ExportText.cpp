#include "export/u_ExportText.h"

#include <charconv>
#include <cmath>

#include "platform/RegionalSettings.h"

namespace kwd::exporter {

namespace export_text {

std::string shortNumber(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Inf" : "Inf";
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

std::string floatNumber(double value) {
    if (!std::isfinite(value)) return shortNumber(value);
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 7);
    return std::string(buf, res.ptr);
}

std::string fixedNumber(double value, int decimals) {
    if (!std::isfinite(value)) return shortNumber(value);
    char buf[512];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (res.ec != std::errc()) return shortNumber(value);
    std::string text(buf, res.ptr);
    // No "-0.00" for a value that rounds to zero.
    if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
    return text;
}

std::string fullDateTimeText(kwd::tDateTime value) {
    return kwd::regional::shortDate(value) + " " + kwd::regional::longTime(value);
}

bool tryParseDateTimeArgument(const std::string& text, kwd::tDateTime& out) {
    const size_t blank = text.find(' ');
    if (blank == std::string::npos) return kwd::tryParseModelDateTime(text, "00:00:00", out);
    return kwd::tryParseModelDateTime(text.substr(0, blank), text.substr(blank + 1), out);
}

}  // namespace export_text

}  // namespace kwd::exporter

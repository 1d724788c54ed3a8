#include "results/u_ResultText.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

#include "platform/FileIO.h"
#include "platform/RegionalSettings.h"

namespace {

constexpr int kPlaces = 17;         // digits after the point
constexpr int kSignificant = 17;    // significant digits kept
constexpr int kMaxPlaces = 32;      // decimal places kept at most before the cut
constexpr double kExponentFrom = 1e17;

// Reads the decimal exponent after the 'e' of a to_chars scientific text.
int readExponent(const char* p, const char* end) {
    int e = 0;
    std::from_chars(*p == '+' ? p + 1 : p, end, e);
    return e;
}

}  // namespace

void appendNumberText(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "NAN";
        return;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-INF" : "INF";
        return;
    }
    if (value == 0.0) {
        out += "0.00000000000000000";
        return;
    }
    const bool negative = std::signbit(value);
    const double a = std::fabs(value);
    char buf[96];

    if (a >= kExponentFrom) {
        // "d.dddddddddddddddde+XX": drop trailing zeros of the mantissa.
        const auto res = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific,
                                       kSignificant - 1);
        const char* ePos = static_cast<const char*>(std::memchr(buf, 'e', size_t(res.ptr - buf)));
        const char* mantEnd = ePos;
        while (mantEnd > buf + 1 && mantEnd[-1] == '0') --mantEnd;
        if (mantEnd == buf + 2) mantEnd = buf + 1;  // "1." -> "1"
        if (negative) out += '-';
        out.append(buf, size_t(mantEnd - buf));
        out += 'E';
        appendIntegerText(out, readExponent(ePos + 1, res.ptr));
        return;
    }

    // The 17 significant digits and the exponent of the first one.
    const auto res =
        std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, kSignificant - 1);
    const char* ePos = static_cast<const char*>(std::memchr(buf, 'e', size_t(res.ptr - buf)));
    const int e = readExponent(ePos + 1, res.ptr);
    char digits[kSignificant];
    digits[0] = buf[0];
    std::memcpy(digits + 1, buf + 2, kSignificant - 1);

    char text[64];
    char* t = text;
    if (e - (kSignificant - 1) >= -kMaxPlaces) {
        if (negative) *t++ = '-';
        if (e >= 0) {  // e <= 16 here
            std::memcpy(t, digits, size_t(e) + 1);
            t += e + 1;
            *t++ = '.';
            const int rest = kSignificant - 1 - e;
            std::memcpy(t, digits + e + 1, size_t(rest));
            t += rest;
            std::memset(t, '0', size_t(kPlaces - rest));
            t += kPlaces - rest;
        } else {
            *t++ = '0';
            *t++ = '.';
            const int zeros = -e - 1;  // places before the first digit
            if (zeros >= kPlaces) {
                std::memset(t, '0', kPlaces);
            } else {
                std::memset(t, '0', size_t(zeros));
                std::memcpy(t + zeros, digits, size_t(kPlaces - zeros));  // cut, no rounding
            }
            t += kPlaces;
        }
        out.append(text, size_t(t - text));
        return;
    }

    // Below 1e-16 the 17th significant digit lies beyond the 32nd place:
    // round to 32 places instead, then cut after the 17th.
    const auto fixed =
        std::to_chars(buf, buf + sizeof buf, a, std::chars_format::fixed, kMaxPlaces);
    const char* point = static_cast<const char*>(std::memchr(buf, '.', size_t(fixed.ptr - buf)));
    bool anyDigit = false;
    for (const char* p = buf; p < fixed.ptr; ++p)
        if (*p >= '1' && *p <= '9') anyDigit = true;
    if (negative && anyDigit) out += '-';
    out.append(buf, size_t(point - buf) + 1 + kPlaces);
}

std::string numberText(double value) {
    std::string s;
    appendNumberText(s, value);
    return s;
}

void appendIntegerText(std::string& out, int64_t value) {
    char buf[24];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, size_t(res.ptr - buf));
}

std::string resultFilePath(const std::string& dir, const std::string& name) {
    return dir + "/" + kwd::regional::fileNameSafe(name);
}

void saveTextLines(const std::string& path, const std::vector<std::string>& lines) {
    size_t total = 0;
    for (const std::string& l : lines) total += l.size() + 2;
    std::string bytes;
    bytes.reserve(total);
    for (const std::string& l : lines) {
        bytes += l;
        bytes += "\r\n";
    }
    kwd::writeWholeFile(path, bytes);
}

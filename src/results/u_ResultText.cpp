#include "results/u_ResultText.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

#include "platform/FileIO.h"
#include "platform/RegionalSettings.h"

namespace kwd::results {

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

// Powers of ten up to 10^22 (10^22 x 2^53 still fits 127 bits).
constexpr uint64_t kPow10[20] = {1ull,
                                 10ull,
                                 100ull,
                                 1000ull,
                                 10000ull,
                                 100000ull,
                                 1000000ull,
                                 10000000ull,
                                 100000000ull,
                                 1000000000ull,
                                 10000000000ull,
                                 100000000000ull,
                                 1000000000000ull,
                                 10000000000000ull,
                                 100000000000000ull,
                                 1000000000000000ull,
                                 10000000000000000ull,
                                 100000000000000000ull,
                                 1000000000000000000ull,
                                 10000000000000000000ull};
constexpr int kMaxFastPow = 22;

__extension__ typedef unsigned __int128 tUInt128;

tUInt128 pow10u128(int k) {
    return k < 20 ? tUInt128(kPow10[k]) : tUInt128(kPow10[19]) * kPow10[k - 19];
}

// The 17 significant digits of a (finite, 1e-16 <= a < 1e17) rounded to
// nearest, ties to even, as q in [1e16, 1e17) with a ~ q x 10^(e10 - 16).
// Exact integer arithmetic on the binary value (m x 10^k in 128 bits, or in
// 192 bits below 1e-6); false where the caller has to take the general path.
bool fastDigits(double a, uint64_t& q, int& e10) {
    const uint64_t bits = std::bit_cast<uint64_t>(a);
    const int be = int(bits >> 52) & 0x7ff;
    if (be == 0) return false;
    const uint64_t m = (bits & ((uint64_t(1) << 52) - 1)) | (uint64_t(1) << 52);
    const int s = 1075 - be;  // a = m x 2^-s
    if (s >= 128) return false;
    // floor(log10(2^(be - 1023))): the exponent of a or one below it.
    e10 = ((be - 1023) * 78913) >> 18;
    for (int tries = 0; tries < 3; ++tries) {
        const int k = kSignificant - 1 - e10;
        if (k < 0 || k > 38) return false;
        tUInt128 n = 0;
        bool roundUp = false;
        if (k <= kMaxFastPow) {
            n = tUInt128(m) * pow10u128(k);
            tUInt128 rem = 0, half = 0;
            if (s > 0) {
                rem = n & ((tUInt128(1) << s) - 1);
                half = tUInt128(1) << (s - 1);
                n >>= s;
            } else {
                n <<= -s;
            }
            roundUp = s > 0 && (rem > half || (rem == half && (uint64_t(n) & 1) != 0));
        } else {
            // m x 10^k in three 64-bit words w2:w1:w0, then shifted by s > 64.
            if (s <= 64) return false;
            const tUInt128 p = pow10u128(k);
            const tUInt128 lo = tUInt128(m) * uint64_t(p);
            const tUInt128 hi = tUInt128(m) * uint64_t(p >> 64);
            const uint64_t w0 = uint64_t(lo);
            const tUInt128 mid = (lo >> 64) + uint64_t(hi);
            const uint64_t w1 = uint64_t(mid);
            const uint64_t w2 = uint64_t(hi >> 64) + uint64_t(mid >> 64);
            const int t = s - 64;  // 1 .. 63
            n = ((tUInt128(w2) << 64) | w1) >> t;
            const bool halfSet = ((w1 >> (t - 1)) & 1) != 0;
            const bool below = w0 != 0 || (w1 & ((uint64_t(1) << (t - 1)) - 1)) != 0;
            roundUp = halfSet && (below || (uint64_t(n) & 1) != 0);
        }
        if (n >= kPow10[17]) {
            ++e10;
            continue;
        }
        if (n < kPow10[16]) {
            --e10;
            continue;
        }
        q = uint64_t(n);
        if (roundUp) ++q;
        if (q == kPow10[17]) {
            q = kPow10[16];
            ++e10;
        }
        return true;
    }
    return false;
}

const char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// y < 10000 as 4 digit characters, x < 10^8 as 8: halves split off in
// turn, so that the divisions do not wait on one another.
inline void writeDigits4(uint32_t y, char* d) {
    const uint32_t a = y / 100, b = y % 100;
    std::memcpy(d, kDigitPairs + 2 * a, 2);
    std::memcpy(d + 2, kDigitPairs + 2 * b, 2);
}
inline void writeDigits8(uint32_t x, char* d) {
    writeDigits4(x / 10000, d);
    writeDigits4(x % 10000, d + 4);
}

// q in [1e16, 1e17) as 17 digit characters.
void writeDigits17(uint64_t q, char* d) {
    const uint32_t high = uint32_t(q / 100000000u);  // 9 digits
    const uint32_t low = uint32_t(q % 100000000u);
    d[0] = char('0' + high / 100000000u);
    writeDigits8(high % 100000000u, d + 1);
    writeDigits8(low, d + 9);
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

    // Below 1e-18 the 17 places are zeros; a "-" stays where the value
    // rounded to 32 places is not 0, that is above 5e-33 (which no double
    // equals).
    if (a < 1e-18 && (!negative || a < 4e-33 || a > 6e-33)) {
        if (negative && a > 6e-33) out += '-';
        out += "0.00000000000000000";
        return;
    }

    // The 17 significant digits and the exponent of the first one, with
    // room for 17 zeros before them and after them.
    char padded[3 * kSignificant];
    std::memset(padded, '0', sizeof padded);
    char* digits = padded + kSignificant;
    int e = 0;
    uint64_t q = 0;
    if (fastDigits(a, q, e)) {
        writeDigits17(q, digits);
    } else {
        const auto res = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific,
                                       kSignificant - 1);
        const char* ePos = static_cast<const char*>(std::memchr(buf, 'e', size_t(res.ptr - buf)));
        e = readExponent(ePos + 1, res.ptr);
        digits[0] = buf[0];
        std::memcpy(digits + 1, buf + 2, kSignificant - 1);
    }

    if (e - (kSignificant - 1) >= -kMaxPlaces) {
        // Copies of fixed length: the zeros around the digits fill the rest.
        char text[2 + 2 * kSignificant + 1];
        char* t = text;
        if (negative) *t++ = '-';
        if (e >= 0) {  // e <= 16 here: digits 0 .. e, ".", 17 places
            std::memcpy(t, digits, kSignificant);
            t[e + 1] = '.';
            std::memcpy(t + e + 2, digits + e + 1, kPlaces);
            t += e + 2 + kPlaces;
        } else {
            // "0.", zeros before the first digit, the digits cut after the
            // 17th place without rounding.
            const int zeros = -e - 1;
            *t++ = '0';
            *t++ = '.';
            std::memcpy(t, digits - (zeros < kPlaces ? zeros : kPlaces), kPlaces);
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

}  // namespace kwd::results

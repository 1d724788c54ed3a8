// Line, word, number and text-encoding routines of the container files. They
// work on single texts and hold no state, so reader, writer and the block-tag
// operations share them.

#include <algorithm>
#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <system_error>

#include "container/UDataXStorage.h"

namespace kwd::container {

namespace {

constexpr char kBlank = ' ';
constexpr char kQuote = '"';

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// ---- UTF-8 / UTF-16 ---------------------------------------------------------

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::string utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size());
    const size_t units = bytes.size() / 2;
    auto unit = [&](size_t k) -> char32_t {
        const auto b0 = static_cast<unsigned char>(bytes[2 * k]);
        const auto b1 = static_cast<unsigned char>(bytes[2 * k + 1]);
        return bigEndian ? char32_t((b0 << 8) | b1) : char32_t((b1 << 8) | b0);
    };
    for (size_t k = 0; k < units; ++k) {
        const char32_t u = unit(k);
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units) {
            const char32_t low = unit(k + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++k;
                continue;
            }
        }
        appendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u);
    }
    if (bytes.size() % 2 != 0) appendUtf8(out, kReplacement);  // a lone last byte
    return out;
}

// Decodes one code point of UTF-8 at text[i] and advances i; a malformed
// sequence gives U+FFFD and consumes one byte.
char32_t nextUtf8(std::string_view text, size_t& i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int len = 0;
    char32_t cp = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07;
    } else {
        ++i;
        return kReplacement;
    }
    if (i + size_t(len) > text.size()) {
        ++i;
        return kReplacement;
    }
    for (int k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(text[i + size_t(k)]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr std::array<char32_t, 5> kMin = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[size_t(len)] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return kReplacement;
    }
    i += size_t(len);
    return cp;
}

void appendUtf16(std::string& out, char16_t u, bool bigEndian) {
    const char hi = char(u >> 8), lo = char(u & 0xFF);
    if (bigEndian) {
        out += hi;
        out += lo;
    } else {
        out += lo;
        out += hi;
    }
}

std::string utf8ToUtf16(std::string_view text, bool bigEndian) {
    std::string out;
    out.reserve(text.size() * 2);
    size_t i = 0;
    while (i < text.size()) {
        const char32_t cp = nextUtf8(text, i);
        if (cp >= 0x10000) {
            const char32_t v = cp - 0x10000;
            appendUtf16(out, char16_t(0xD800 + (v >> 10)), bigEndian);
            appendUtf16(out, char16_t(0xDC00 + (v & 0x3FF)), bigEndian);
        } else {
            appendUtf16(out, char16_t(cp), bigEndian);
        }
    }
    return out;
}

}  // namespace

// ---- words and lists ----------------------------------------------------------

std::vector<std::string> TDataXStorage::SplitTokens(const std::string& text) {
    // Commas and bars count as blanks; runs of blanks collapse to one.
    std::string collapsed;
    collapsed.reserve(text.size());
    bool previousBlank = false;
    for (char c : text) {
        if (c == ',' || c == '|') c = kBlank;
        const bool blank = (c == kBlank);
        if (blank && previousBlank) continue;
        previousBlank = blank;
        collapsed += c;
    }
    if (!collapsed.empty() && collapsed.front() == kBlank) collapsed.erase(0, 1);

    std::vector<std::string> words;
    size_t start = 0;
    for (;;) {
        if (int32_t(words.size()) >= kMaxTokens) break;
        const size_t blank = collapsed.find(kBlank, start);
        if (blank == std::string::npos) {
            words.push_back(collapsed.substr(start));
            break;
        }
        words.push_back(collapsed.substr(start, blank - start));
        start = blank + 1;
    }
    return words;
}

std::string TDataXStorage::FirstWord(const std::string& name) { return SplitTokens(name).front(); }

std::vector<std::string> TDataXStorage::SplitCommaList(const std::string& text, int32_t maxItems) {
    std::vector<std::string> items;
    const size_t n = text.size();
    const auto full = [&] { return int32_t(items.size()) >= maxItems; };
    size_t i = 0;
    while (i < n && !full()) {
        std::string item;
        if (text[i] == kQuote) {
            // Runs to the next lone double quote; a doubled one stands for one.
            ++i;
            while (i < n) {
                if (text[i] == kQuote) {
                    if (i + 1 < n && text[i + 1] == kQuote) {
                        item += kQuote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += text[i++];
            }
        } else {
            const size_t comma = text.find(',', i);
            const size_t end = (comma == std::string::npos) ? n : comma;
            item.assign(text, i, end - i);
            i = end;
        }
        items.push_back(std::move(item));
        if (i < n && text[i] == ',') {
            if (i + 1 == n && !full()) items.emplace_back();  // a comma at the very end
            ++i;
        }
    }
    return items;
}

// ---- tag lines ----------------------------------------------------------------

std::string TDataXStorage::ExtractTagName(const std::string& line) {
    size_t lastOpen = std::string::npos, firstClose = std::string::npos;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '<') {
            lastOpen = i;
        } else if (line[i] == '>' && firstClose == std::string::npos) {
            firstClose = i;
        }
        if (lastOpen != std::string::npos && firstClose != std::string::npos) break;
    }
    if (lastOpen == std::string::npos) return {};
    if (firstClose == std::string::npos) return line.substr(lastOpen + 1);
    if (firstClose < lastOpen) return {};
    return line.substr(lastOpen + 1, firstClose - lastOpen - 1);
}

std::string TDataXStorage::ExtractTagValue(const std::string& text) {
    const size_t open = text.find('>');
    if (open == std::string::npos) return {};
    const size_t close = text.rfind("</");
    if (close == std::string::npos || close <= open) return {};
    size_t b = open + 1, e = close;
    while (e > b && text[e - 1] == kBlank) --e;
    while (b < e && text[b] == kBlank) ++b;
    while (e > b && text[e - 1] == kQuote) --e;
    while (b < e && text[b] == kQuote) ++b;
    return text.substr(b, e - b);
}

bool TDataXStorage::HasClosingTag(const std::string& text, const std::string& name) {
    return text.find("</" + name + ">") != std::string::npos;
}

bool TDataXStorage::HasAttributes(const std::string& name) {
    return name.find(kBlank) != std::string::npos;
}

void TDataXStorage::SplitAttribute(const std::string& word, std::string& key, std::string& value) {
    size_t end = word.size();
    while (end > 0 && word[end - 1] == kBlank) --end;
    const size_t eq = word.find('=');
    if (eq == std::string::npos || eq >= end) return;  // key and value stay as they were
    key.assign(word, 0, eq);
    value.assign(word, eq + 1, end - eq - 1);
    if (!value.empty() && value.front() == kQuote && value.back() == kQuote)
        value = value.size() >= 2 ? value.substr(1, value.size() - 2) : std::string();
}

std::string TDataXStorage::GetAttributeValue(const std::string& tagname,
                                             const std::string& attribute) {
    if (!HasAttributes(tagname)) return "0";
    std::string bare;
    bare.reserve(tagname.size());
    for (char c : tagname)
        if (c != '<' && c != '>') bare += c;
    const std::vector<std::string> words = SplitTokens(bare);
    std::string key, value;
    for (size_t k = 1; k < words.size(); ++k) {
        SplitAttribute(words[k], key, value);
        if (key == attribute) return value;
    }
    return "-1";
}

int32_t TDataXStorage::GetAttributeInt(const std::string& tagname, const std::string& attribute) {
    return ReadIntegerText(GetAttributeValue(tagname, attribute));
}

// ---- numbers ------------------------------------------------------------------

int32_t TDataXStorage::ReadIntegerText(std::string_view text, bool* complete) {
    const size_t n = text.size();
    size_t i = 0;
    while (i < n && text[i] == kBlank) ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = (text[i++] == '-');
    int base = 10;
    if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    // Magnitudes beyond 2^31 saturate; keep the sum bounded while reading.
    constexpr uint64_t kCap = uint64_t(1) << 32;
    uint64_t magnitude = 0;
    size_t digits = 0;
    while (i < n) {
        const int d = (base == 16) ? hexDigitValue(text[i]) : (isDigit(text[i]) ? text[i] - '0' : -1);
        if (d < 0) break;
        magnitude = std::min(kCap, magnitude * uint64_t(base) + uint64_t(d));
        ++digits;
        ++i;
    }
    if (complete) *complete = digits > 0 && i == n;
    if (negative) {
        return magnitude >= uint64_t(1) << 31 ? INT32_MIN : -int32_t(magnitude);
    }
    return magnitude > uint64_t(INT32_MAX) ? INT32_MAX : int32_t(magnitude);
}

double TDataXStorage::ReadDoubleText(std::string_view text, bool* complete) {
    const size_t n = text.size();
    size_t i = 0;
    while (i < n && text[i] == kBlank) ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = (text[i++] == '-');
    const size_t start = i;
    while (i < n && isDigit(text[i])) ++i;
    const size_t intDigits = i - start;
    size_t fracDigits = 0;
    size_t end = i;  // end of what reads as a number so far
    if (i < n && text[i] == '.') {
        size_t j = i + 1;
        while (j < n && isDigit(text[j])) ++j;
        fracDigits = j - i - 1;
        if (intDigits > 0 || fracDigits > 0) end = j;
    }
    if (intDigits == 0 && fracDigits == 0) {
        if (complete) *complete = false;
        return 0.0;
    }
    const size_t mantissaEnd = end;
    if (end < n && (text[end] == 'e' || text[end] == 'E')) {
        size_t j = end + 1;
        if (j < n && (text[j] == '+' || text[j] == '-')) ++j;
        const size_t expStart = j;
        while (j < n && isDigit(text[j])) ++j;
        if (j > expStart) end = j;
    }
    if (complete) *complete = (end == n);

    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(text.data() + start, text.data() + end, value,
                                           std::chars_format::general);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: tell the two apart by the
        // decimal magnitude of the text.
        int64_t magnitude = 0;
        size_t k = start;
        while (k < start + intDigits && text[k] == '0') ++k;
        if (k < start + intDigits) {
            magnitude = int64_t(start + intDigits - k);
        } else {
            size_t f = start + intDigits + 1;
            while (f < mantissaEnd && text[f] == '0') ++f;
            magnitude = -int64_t(f - (start + intDigits + 1));
        }
        if (end > mantissaEnd) {
            // Saturating exponent value (its digits only matter up to a bound).
            size_t j = mantissaEnd + 1;
            bool expNegative = false;
            if (text[j] == '+' || text[j] == '-') expNegative = (text[j++] == '-');
            int64_t e = 0;
            for (; j < end; ++j) e = std::min<int64_t>(e * 10 + (text[j] - '0'), 1000000000);
            magnitude += expNegative ? -e : e;
        }
        value = magnitude > 0 ? DBL_MAX : 0.0;
    } else if (ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

float TDataXStorage::ReadFloatText(std::string_view text, bool* complete) {
    const double value = ReadDoubleText(text, complete);
    if (value > double(FLT_MAX)) return FLT_MAX;
    if (value < -double(FLT_MAX)) return -FLT_MAX;
    return float(value);
}

// The exact decimal expansion of the float (at most 149 fraction digits),
// rounded to the given places, a half away from zero.
std::string TDataXStorage::FormatFloatFixed(float value, int decimals) {
    if (!std::isfinite(value)) {
        char buf[16];
        const auto res = std::to_chars(buf, buf + sizeof buf, value);
        return std::string(buf, res.ptr);
    }
    char buf[256];
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(double(value)),
                                   std::chars_format::fixed, 150);
    const std::string exact(buf, res.ptr);
    const size_t point = exact.find('.');
    const auto places = size_t(decimals);
    std::string digits = exact.substr(0, point) + exact.substr(point + 1, places);
    if (exact[point + 1 + places] >= '5') {
        size_t k = digits.size();
        while (k > 0) {
            --k;
            if (digits[k] != '9') {
                ++digits[k];
                break;
            }
            digits[k] = '0';
            if (k == 0) digits.insert(digits.begin(), '1');
        }
    }
    std::string out;
    const bool zero = digits.find_first_not_of('0') == std::string::npos;
    if (std::signbit(value) && !zero) out += '-';
    out.append(digits, 0, digits.size() - places);
    if (places > 0) {
        out += '.';
        out.append(digits, digits.size() - places, places);
    }
    return out;
}

// ---- text codec -------------------------------------------------------------

std::vector<std::string> TDataXStorage::DecodeTextLines(std::string_view bytes,
                                                        TDataXTextEncoding& encoding) {
    std::string decoded;
    std::string_view text = bytes;
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        encoding = TDataXTextEncoding::Utf8;
        text = bytes.substr(3);
    } else if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") {
        encoding = TDataXTextEncoding::Utf16LE;
        decoded = utf16ToUtf8(bytes.substr(2), false);
        text = decoded;
    } else if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF") {
        encoding = TDataXTextEncoding::Utf16BE;
        decoded = utf16ToUtf8(bytes.substr(2), true);
        text = decoded;
    } else {
        encoding = TDataXTextEncoding::Ansi;
    }

    // A line ends at CR LF, LF or CR; a break at the very end adds no line.
    std::vector<std::string> lines;
    size_t start = 0;
    const size_t n = text.size();
    while (start < n) {
        size_t end = start;
        while (end < n && text[end] != '\r' && text[end] != '\n') ++end;
        lines.emplace_back(text.substr(start, end - start));
        if (end < n && text[end] == '\r' && end + 1 < n && text[end + 1] == '\n') ++end;
        start = end + 1;
    }
    return lines;
}

std::string TDataXStorage::EncodeTextLines(const std::vector<std::string>& lines,
                                           TDataXTextEncoding encoding) {
    size_t total = 0;
    for (const std::string& line : lines) total += line.size() + 2;
    std::string text;
    text.reserve(total);
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    switch (encoding) {
        case TDataXTextEncoding::Ansi:
            return text;
        case TDataXTextEncoding::Utf8:
            return "\xEF\xBB\xBF" + text;
        case TDataXTextEncoding::Utf16LE:
            return "\xFF\xFE" + utf8ToUtf16(text, false);
        case TDataXTextEncoding::Utf16BE:
            return "\xFE\xFF" + utf8ToUtf16(text, true);
    }
    return text;
}

}  // namespace kwd::container

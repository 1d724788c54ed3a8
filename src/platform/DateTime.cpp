#include "platform/DateTime.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include "platform/KwdError.h"

namespace kwd {
namespace {

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

// Days from 01.01.0001 (day 1) to the given date, proleptic Gregorian.
int64_t ordinalDay(int y, int m, int d) {
    int64_t yy = y - 1;
    int64_t days = yy * 365 + yy / 4 - yy / 100 + yy / 400;
    for (int k = 1; k < m; ++k) days += daysInMonth(y, k);
    return days + d;
}

const int64_t kOrdinal18991230 = ordinalDay(1899, 12, 30);

// Reads minDigits to maxDigits decimal digits at s[pos] and moves pos past them.
bool readField(const std::string& s, size_t& pos, size_t minDigits, size_t maxDigits, int& out) {
    int v = 0;
    size_t n = 0;
    while (pos < s.size() && n < maxDigits && s[pos] >= '0' && s[pos] <= '9') {
        v = v * 10 + (s[pos] - '0');
        ++pos;
        ++n;
    }
    out = v;
    return n >= minDigits;
}

bool expect(const std::string& s, size_t& pos, char c) {
    if (pos >= s.size() || s[pos] != c) return false;
    ++pos;
    return true;
}

}  // namespace

tDateTime encodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > daysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59 || millisecond < 0 || millisecond > 999) {
        throw ConversionError("invalid date or time: " + std::to_string(day) + "." +
                              std::to_string(month) + "." + std::to_string(year) + " " +
                              std::to_string(hour) + ":" + std::to_string(minute) + ":" +
                              std::to_string(second));
    }
    const int64_t days = ordinalDay(year, month, day) - kOrdinal18991230;
    const int64_t ms = ((int64_t(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
    return millisecondsToDateTime(days * kMSecsPerDay + ms);
}

int64_t dateTimeToMilliseconds(tDateTime value) {
    const double whole = std::trunc(value);
    const double frac = std::fabs(value - whole);
    const int64_t dayMs = static_cast<int64_t>(std::nearbyint(frac * double(kMSecsPerDay)));
    const int64_t days = static_cast<int64_t>(whole);
    // Before the epoch the fraction still counts forward within the day.
    return days * kMSecsPerDay + (value < 0 ? -dayMs : dayMs);
}

tDateTime millisecondsToDateTime(int64_t ms) {
    const int64_t days = ms / kMSecsPerDay;
    const int64_t rest = ms % kMSecsPerDay;
    return double(days) + double(rest) / double(kMSecsPerDay);
}

tDateTime incMilliseconds(tDateTime value, int64_t ms) {
    return millisecondsToDateTime(dateTimeToMilliseconds(value) + ms);
}

int64_t secondsBetween(tDateTime a, tDateTime b) {
    int64_t d = dateTimeToMilliseconds(a) - dateTimeToMilliseconds(b);
    if (d < 0) d = -d;
    return d / 1000;
}

DateTimeParts decodeDateTime(tDateTime value) {
    const int64_t ms = dateTimeToMilliseconds(value);
    int64_t days = ms / kMSecsPerDay;
    int64_t rest = ms % kMSecsPerDay;
    if (rest < 0) {
        rest += kMSecsPerDay;
        days -= 1;
    }
    DateTimeParts p;
    int64_t ord = days + kOrdinal18991230;  // ordinal day, 1 = 01.01.0001
    int y = int((ord - 1) / 366) + 1;       // lower bound, then walk forward
    while (ordinalDay(y + 1, 1, 1) <= ord) ++y;
    int m = 1;
    while (m < 12 && ordinalDay(y, m + 1, 1) <= ord) ++m;
    p.year = y;
    p.month = m;
    p.day = int(ord - ordinalDay(y, m, 1)) + 1;
    p.hour = int(rest / 3600000);
    p.minute = int(rest / 60000 % 60);
    p.second = int(rest / 1000 % 60);
    p.millisecond = int(rest % 1000);
    return p;
}

tDateTime nowLocal() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    std::tm tm{};
    localtime_r(&t, &tm);
    const int ms = int(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    return encodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                          tm.tm_sec > 59 ? 59 : tm.tm_sec, ms);
}

bool tryParseModelDateTime(const std::string& date, const std::string& time, tDateTime& out) {
    int d = 0, m = 0, y = 0, hh = 0, mm = 0, ss = 0;
    // Date: day and month of one or two digits, a four-digit year.
    size_t pos = 0;
    if (!readField(date, pos, 1, 2, d) || !expect(date, pos, '.') || !readField(date, pos, 1, 2, m) ||
        !expect(date, pos, '.') || !readField(date, pos, 4, 4, y) || pos != date.size())
        return false;
    // Time: hours, minutes and optional seconds of one or two digits each.
    pos = 0;
    if (!readField(time, pos, 1, 2, hh) || !expect(time, pos, ':') || !readField(time, pos, 1, 2, mm))
        return false;
    if (pos < time.size() && (!expect(time, pos, ':') || !readField(time, pos, 1, 2, ss)))
        return false;
    if (pos != time.size()) return false;
    try {
        out = encodeDateTime(y, m, d, hh, mm, ss);
    } catch (const ConversionError&) {
        return false;
    }
    return true;
}

}  // namespace kwd

#pragma once
// Date-time values: 64-bit floats counting days since 30.12.1899, the time of
// day as the fraction. Conversions to whole milliseconds round the fraction of
// the day to the nearest millisecond (ties to even).

#include <cstdint>
#include <string>

namespace kwd {

using tDateTime = double;

struct DateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

constexpr int64_t kMSecsPerDay = 86400000;

// Throws ConversionError for a date or time outside the calendar.
tDateTime encodeDateTime(int year, int month, int day, int hour = 0, int minute = 0,
                         int second = 0, int millisecond = 0);
DateTimeParts decodeDateTime(tDateTime value);

// Whole days * 86400000 + the day's fraction rounded to milliseconds.
int64_t dateTimeToMilliseconds(tDateTime value);
tDateTime millisecondsToDateTime(int64_t ms);
// The value moved by a whole number of milliseconds (negative: backwards).
tDateTime incMilliseconds(tDateTime value, int64_t ms);
// Absolute difference in milliseconds, divided by 1000 and truncated.
int64_t secondsBetween(tDateTime a, tDateTime b);

// The current local date and time of the wall clock.
tDateTime nowLocal();

// Reads "dd.mm.yyyy" and "hh:mm:ss" with the fixed patterns (not the locale).
// Returns false when a text does not read.
bool tryParseModelDateTime(const std::string& date, const std::string& time, tDateTime& out);

}  // namespace kwd

#pragma once
// Number and time texts of the export program. None depends on the locale.

#include <string>

#include "platform/DateTime.h"

namespace kwd::exporter {

namespace export_text {

// The shortest text that reads back as the same double ("2.5", "1e-05").
std::string shortNumber(double value);
// Up to 7 significant digits, enough for a value that was a 32-bit float
// ("37.6" for 37.5999984741211).
std::string floatNumber(double value);
// Fixed-point text with `decimals` places after a "." ("12.35").
std::string fixedNumber(double value, int decimals);
// "dd.mm.yyyy hh:mm:ss", the time of day always shown.
std::string fullDateTimeText(kwd::tDateTime value);
// Reads "dd.mm.yyyy hh:mm:ss" or "dd.mm.yyyy" (midnight) with the fixed
// patterns of model times; false otherwise.
bool tryParseDateTimeArgument(const std::string& text, kwd::tDateTime& out);

}  // namespace export_text

}  // namespace kwd::exporter

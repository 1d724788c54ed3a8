#pragma once
// The user's regional settings, fixed for the program: short date
// "dd.mm.yyyy", long time "hh:mm:ss" (24 h), decimal separator ".". No text the
// program writes or reads depends on the process locale.

#include <string>

#include "platform/DateTime.h"

namespace kwd::regional {

constexpr char kDecimalSeparator = '.';

std::string shortDate(tDateTime value);  // "dd.mm.yyyy"
std::string longTime(tDateTime value);   // "hh:mm:ss"
// Short date, a blank and the long time; at exactly midnight the date only.
std::string dateTimeText(tDateTime value);
// dateTimeText with every ":", "/" and "\" replaced by ".", for file names.
std::string fileNameTimeText(tDateTime value);
// Replaces every ":", "/" and "\" of a text by ".".
std::string fileNameSafe(std::string text);

// Parses a decimal number written with the regional decimal separator: an
// optional sign, digits, optionally the separator and digits, optionally an
// exponent; nothing else, blanks included. Returns false otherwise.
bool tryParseDecimal(const std::string& text, double& out);
// Parses a decimal integer (optional sign, digits only) that fits 32 bits.
bool tryParseInteger(const std::string& text, int& out);

}  // namespace kwd::regional

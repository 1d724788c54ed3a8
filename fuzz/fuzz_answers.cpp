// Fuzz target of the console answer parsers: the span of the outputs listing
// ("start..end"), the decimal numbers of the detector box and the integers
// of the particle count and the output interval. The input is one answer.
// Properties checked:
//  - a refused answer raises the parser's own error and nothing else;
//  - no parse raises a watched floating-point flag (invalid, division by
//    zero, overflow);
//  - a decimal answer that is taken is a finite number, and its shortest
//    text is taken again as the same number;
//  - an integer answer that is taken reads back from its decimal text, and
//    the span's ends are such integers.

#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "frontend/u_Dialogue.h"
#include "platform/KwdError.h"

using kwd::frontend::checkSpan;
using kwd::frontend::parseDecimalAnswer;
using kwd::frontend::parseIntegerAnswer;
using kwd::frontend::parseSpan;
using kwd::frontend::tSpan;

using kwdfuzz::check;
using kwdfuzz::kWatchedFlags;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string answer(kwdfuzz::asText(data, size));
    std::feclearexcept(FE_ALL_EXCEPT);

    try {
        const tSpan span = parseSpan(answer);
        check(parseIntegerAnswer(std::to_string(span.startIndex), "start") == span.startIndex);
        check(parseIntegerAnswer(std::to_string(span.endIndex), "end") == span.endIndex);
        try {
            checkSpan(span, 5);
            check(span.startIndex >= 0 && span.startIndex < span.endIndex && span.endIndex < 5);
        } catch (const kwd::InputError&) {
        } catch (const kwd::RunSetupError&) {
        }
    } catch (const kwd::ConversionError&) {
    }

    try {
        const double value = parseDecimalAnswer(answer, "xMin of the detector");
        check(std::isfinite(value));
        char text[32];
        const auto res = std::to_chars(text, text + sizeof text, value);
        check(parseDecimalAnswer(std::string(text, res.ptr), "again") == value);
    } catch (const kwd::ConversionError&) {
    }

    try {
        const int32_t value = parseIntegerAnswer(answer, "the number of particles");
        check(parseIntegerAnswer(std::to_string(value), "again") == value);
    } catch (const kwd::ConversionError&) {
    }

    check(std::fetestexcept(kWatchedFlags) == 0);
    return 0;
}

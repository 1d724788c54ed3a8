// Fuzz target of the lenient number reading (container integers and floats,
// the data-set code's leading numbers) and of the five-decimal float text the
// container writes. Properties checked:
//  - no reading raises a watched floating-point flag (invalid, division by
//    zero, overflow) or yields a value that is not finite;
//  - a text that reads as complete reads the same when followed by junk;
//  - the writer's text of a finite float reads back complete and within
//    half a unit of the fifth decimal (plus the float's own spacing);
//  - the text of an integer reads back as that integer.

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "FuzzInput.h"
#include "container/UDataXStorage.h"
#include "dataset/DatasetText.h"

using kwd::container::TDataXStorage;

using kwdfuzz::check;
using kwdfuzz::kWatchedFlags;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text = kwdfuzz::asText(data, size);

    std::feclearexcept(FE_ALL_EXCEPT);
    bool intComplete = false, doubleComplete = false;
    const int32_t i = TDataXStorage::ReadIntegerText(text, &intComplete);
    const double d = TDataXStorage::ReadDoubleText(text, &doubleComplete);
    const float f = TDataXStorage::ReadFloatText(text);
    const int32_t li = kwd::dataset::dataset_text::leadingInt(text);
    const float lf = kwd::dataset::dataset_text::leadingFloat(text);
    check(std::fetestexcept(kWatchedFlags) == 0);
    check(std::isfinite(d) && std::isfinite(f) && std::isfinite(lf));
    (void)li;

    // Reading stops at the first character that does not fit.
    if (intComplete) check(TDataXStorage::ReadIntegerText(std::string(text) + "#") == i);
    if (doubleComplete) check(TDataXStorage::ReadDoubleText(std::string(text) + "#") == d);

    // Round trip of the writer's text, for the first four bytes as a float.
    if (size >= 4) {
        float v;
        std::memcpy(&v, data, 4);
        if (std::isfinite(v)) {
            std::feclearexcept(FE_ALL_EXCEPT);
            const std::string written = TDataXStorage::FormatFloat5(v);
            bool complete = false;
            const float back = TDataXStorage::ReadFloatText(written, &complete);
            check(std::fetestexcept(kWatchedFlags) == 0);
            check(complete);
            const double spacing = std::fabs(double(std::nextafter(v, 0.0f)) - double(v));
            check(std::fabs(double(back) - double(v)) <= 0.5e-5 + 2 * spacing + 1e-12);
        }
        int32_t n;
        std::memcpy(&n, data, 4);
        const std::string nText = std::to_string(n);
        bool complete = false;
        check(TDataXStorage::ReadIntegerText(nText, &complete) == n && complete);
        check(kwd::dataset::dataset_text::leadingInt(nText) == n);
    }
    return 0;
}

#include "platform/FpControl.h"

#include <cfenv>

#include "platform/KwdError.h"

namespace kwd {
namespace {
constexpr int kWatched = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;
}

void clearFpFlags() { std::feclearexcept(FE_ALL_EXCEPT); }

std::string raisedFpFlags() {
    const int raised = std::fetestexcept(kWatched);
    std::string text;
    auto add = [&](int flag, const char* name) {
        if (raised & flag) text += text.empty() ? name : std::string(", ") + name;
    };
    add(FE_INVALID, "invalid operation");
    add(FE_DIVBYZERO, "division by zero");
    add(FE_OVERFLOW, "overflow");
    return text;
}

void checkFpFlags(const char* where) {
    const std::string raised = raisedFpFlags();
    if (!raised.empty()) {
        clearFpFlags();
        throw FloatingPointError("floating-point " + raised + " in " + where);
    }
}

}  // namespace kwd

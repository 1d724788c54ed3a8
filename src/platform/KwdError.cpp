#include "platform/KwdError.h"

namespace kwd {

std::string errorLine(const std::exception& e) {
    if (const auto* k = dynamic_cast<const KwdError*>(&e)) {
        return std::string(k->typeName()) + ": " + k->what();
    }
    if (dynamic_cast<const std::bad_alloc*>(&e)) {
        return std::string("OutOfMemoryError: ") + e.what();
    }
    return std::string("InternalError: ") + e.what();
}

}  // namespace kwd

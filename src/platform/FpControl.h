#pragma once
// Floating-point invalid operation, division by zero and overflow end the run.
// Numeric work clears the flags before it starts and tests them after it is
// done (per worker thread: the flags are thread-local). Underflow and inexact
// results are ignored.

#include <string>

namespace kwd {

void clearFpFlags();
// Throws FloatingPointError naming `where` when a watched flag is raised.
void checkFpFlags(const char* where);
// The watched flags raised so far on this thread, as text ("" when none).
std::string raisedFpFlags();

}  // namespace kwd

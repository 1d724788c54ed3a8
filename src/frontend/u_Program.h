#pragma once
// The whole program behind main(): the dialogue and the run inside one error
// handler. An error that reaches it is written as one line
// "<TypeName>: <message>" and gives the exit status 1; so does a run
// configuration whose root folder does not exist (without a line). A
// finished run gives 0.

#include <iosfwd>

namespace kwd::frontend {

int runKwdFootprint(std::istream& aIn, std::ostream& aOut);

}  // namespace kwd::frontend

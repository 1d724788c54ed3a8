#pragma once
// The program's version as the build knows it: the project version and the
// git commit the build was configured from ("unknown" outside git).

#include <string>

namespace kwd::frontend {

std::string programVersion();  // "1.0.0"
std::string programCommit();   // 40 hexadecimal digits, or "unknown"
// "kwd-footprint 1.0.0 (commit <commit>)"
std::string versionLine();

}  // namespace kwd::frontend

#include "frontend/u_Version.h"

#include "kwd_build_version.h"

namespace kwd::frontend {

std::string programVersion() { return KWD_VERSION; }

std::string programCommit() { return KWD_GIT_COMMIT; }

std::string versionLine() {
    return "kwd-footprint " + programVersion() + " (commit " + programCommit() + ")";
}

}  // namespace kwd::frontend

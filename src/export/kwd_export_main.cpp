// The companion program kwd-export: NetCDF export of data sets, footprint
// maps and the summary of a run's trajectory folder.

#include <iostream>
#include <string>
#include <vector>

#include "export/u_ExportProgram.h"

using kwd::exporter::runKwdExport;

// Fontconfig, which cairo uses to find its fonts, keeps caches for the life
// of the process; the leak checker of sanitizer builds is told so.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return runKwdExport(args, std::cout);
}

// The companion program kwd-export: NetCDF export of data sets, footprint
// maps and the summary of a run's trajectory folder.

#include <iostream>
#include <string>
#include <vector>

#include "export/u_ExportProgram.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return runKwdExport(args, std::cout);
}

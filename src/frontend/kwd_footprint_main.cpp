// The console program. Without arguments it runs the console dialogue, which
// reads its answers from standard input and writes to standard output; with
// arguments it runs a command of the command line (u_CommandLine.h).

#include <iostream>
#include <string>
#include <vector>

#include "frontend/u_CommandLine.h"
#include "frontend/u_Program.h"

using kwd::frontend::runCommandLine;
using kwd::frontend::runKwdFootprint;

int main(int argc, char** argv) {
    if (argc <= 1) return runKwdFootprint(std::cin, std::cout);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return runCommandLine(args, std::cout, std::cerr);
}

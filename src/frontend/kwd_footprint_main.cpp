// The console program. Without arguments it runs the console dialogue, which
// reads its answers from standard input and writes to standard output; with
// arguments it runs a command of the command line (u_CommandLine.h).
//
// Started by mpirun on several processes (the build with KWD_MPI), `run`
// makes one run of them all (src/run/u_Ranks.h): process 0 alone prints.

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "frontend/u_CommandLine.h"
#include "frontend/u_Program.h"
#include "run/u_Ranks.h"

using kwd::frontend::runCommandLine;
using kwd::frontend::runKwdFootprint;
using kwd::frontend::tNullBuffer;

int main(int argc, char** argv) {
    const kwd::run::ranks::tRankSession ranks(argc, argv);
    const bool prints = kwd::run::ranks::writesFiles();
    if (argc <= 1) {
        if (kwd::run::ranks::count() == 1) return runKwdFootprint(std::cin, std::cout);
        // The dialogue reads its answers on one process only.
        if (prints)
            std::cerr << "UsageError: the console dialogue runs on one process; on several, "
                         "use kwd-footprint run RUN.tra"
                      << std::endl;
        return 2;
    }
    tNullBuffer nothing;  // the processes other than 0 print nothing
    std::ostream quiet(&nothing);
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int status = runCommandLine(args, prints ? std::cout : quiet, prints ? std::cerr : quiet);
    // KWD_EXCHANGE_TIMES=1: what the exchanges between the processes cost
    // each of them (for benchmarks), one line per process on standard error.
    if (kwd::run::ranks::count() > 1 && std::getenv("KWD_EXCHANGE_TIMES") != nullptr) {
        const kwd::run::ranks::tExchangeTotals t = kwd::run::ranks::exchangeTotals();
        std::cerr << "process " << kwd::run::ranks::rank() << " of " << kwd::run::ranks::count()
                  << ": waited " << t.waitSeconds << " s, exchanged " << t.exchangeSeconds
                  << " s, received " << t.bytes << " bytes" << std::endl;
    }
    return status;
}

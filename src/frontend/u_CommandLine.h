#pragma once
// The command line of kwd-footprint, for scripted runs:
//
//   kwd-footprint                      the console dialogue (no arguments)
//   kwd-footprint run RUN.tra [options]
//   kwd-footprint check RUN.tra [options]
//   kwd-footprint --help | --version
//
// `run` carries out the run of a run configuration file without a prompt;
// `check` makes every check of the run start without running and prints
// what the run would be. Errors are one line "<TypeName>: <message>" on
// standard error: status 1 for errors of the run, 2 for usage errors.

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <streambuf>
#include <string>
#include <vector>

#include "engine/u_Touchdowns.h"
#include "platform/KwdError.h"

namespace kwd::frontend {

// A command line that does not say what to do: unknown commands and options,
// missing or bad values, options given twice. Status 2.
class tUsageError : public kwd::KwdError {
public:
    using kwd::KwdError::KwdError;
    const char* typeName() const noexcept override { return "UsageError"; }
};

// An output stream buffer that drops everything (--quiet, and the processes
// of a run on several that do not print).
class tNullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// The text of --help.
std::string commandLineUsage();

enum class tCommand { Run, Check, Help, Version };

struct tCommandLine {
    tCommand command = tCommand::Help;
    std::string configurationPath;           // RUN.tra
    std::optional<std::string> outputFolder; // --out; default <root>/trajectory
    std::optional<int32_t> outputInterval;   // --interval, seconds >= 1
    std::optional<int32_t> threads;          // --threads >= 1
    std::optional<uint64_t> seed;            // --seed, as KWD_SEED reads it
    std::optional<int64_t> particles;        // --particles >= 1
    std::optional<kwd::engine::tFootprintModel> model;  // --model; default: the file's
    bool touchdownList = false;              // --touchdown-list
    bool overwrite = false;                  // --overwrite
    bool quiet = false;                      // --quiet
};

// Reads the arguments after the program name; tUsageError when they do not
// make a command. --help or --version anywhere give that command.
tCommandLine parseCommandLine(const std::vector<std::string>& aArgs);

// Runs the command of aArgs (the arguments after the program name, at least
// one) and returns the exit status: 0 done, 1 an error of the run or check,
// 2 a usage error. Progress and reports go to aOut, errors to aErr.
int runCommandLine(const std::vector<std::string>& aArgs, std::ostream& aOut,
                   std::ostream& aErr);

}  // namespace kwd::frontend

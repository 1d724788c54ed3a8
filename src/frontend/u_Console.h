#pragma once
// The console of the program: whole lines in, whole lines out.
//
// An answer is one line of input without its line end; a CR in front of the
// line end is not part of the answer. End of input where a value is expected
// is an error (the program cannot go on without it); end of input at a
// "press ENTER" prompt counts as ENTER, so a run can be scripted from a file
// of answers.

#include <iosfwd>
#include <optional>
#include <string>

namespace kwd::frontend {

class tConsole {
public:
    tConsole(std::istream& aIn, std::ostream& aOut) : fIn(aIn), fOut(aOut) {}

    void writeLine(const std::string& aText);
    // The next line, or nothing at end of input. Flushes the output first so
    // that the prompt is visible before the program waits.
    std::optional<std::string> readLine();
    // The next line; end of input raises kwd::InputError
    // "end of input while waiting for <aWaitingFor>".
    std::string readAnswer(const std::string& aWaitingFor);
    // Waits for ENTER (any line); end of input counts as ENTER.
    void waitForEnter();

    std::ostream& out() { return fOut; }

private:
    std::istream& fIn;
    std::ostream& fOut;
};

}  // namespace kwd::frontend

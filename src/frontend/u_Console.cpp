#include "frontend/u_Console.h"

#include <istream>
#include <ostream>

#include "platform/KwdError.h"

namespace kwd::frontend {

void tConsole::writeLine(const std::string& aText) { fOut << aText << '\n'; }

std::optional<std::string> tConsole::readLine() {
    fOut.flush();
    std::string line;
    if (!std::getline(fIn, line)) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::string tConsole::readAnswer(const std::string& aWaitingFor) {
    std::optional<std::string> line = readLine();
    if (!line) throw kwd::InputError("end of input while waiting for " + aWaitingFor);
    return *line;
}

void tConsole::waitForEnter() { (void)readLine(); }

}  // namespace kwd::frontend

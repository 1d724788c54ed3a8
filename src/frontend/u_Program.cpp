#include "frontend/u_Program.h"

#include <exception>
#include <optional>
#include <ostream>

#include "frontend/u_Console.h"
#include "frontend/u_Dialogue.h"
#include "frontend/u_RunStart.h"
#include "platform/Interrupt.h"
#include "platform/KwdError.h"

namespace kwd::frontend {

int runKwdFootprint(std::istream& aIn, std::ostream& aOut) {
    try {
        tConsole console(aIn, aOut);
        std::optional<tRunRequest> request = runDialogue(console);
        if (!request) {
            aOut.flush();
            return 1;
        }
        runSimulation(*request, console);
        aOut.flush();
        return 0;
    } catch (const std::exception& e) {
        aOut << kwd::errorLine(e) << std::endl;
        return kwd::exitStatusOf(e);  // 128 + the signal for an interrupted run
    } catch (...) {
        aOut << "InternalError: an unknown error ended the program" << std::endl;
        return 1;
    }
}

}  // namespace kwd::frontend

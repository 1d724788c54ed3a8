// The console program. Everything it does runs inside one error handler: an
// error that reaches it is printed as one line and ends the program with 1.

#include <cstdio>
#include <exception>
#include <iostream>

#include "platform/KwdError.h"

int main() {
    try {
        std::cout << "kwd-footprint: the run dialogue is not built yet" << std::endl;
        return 0;
    } catch (const std::exception& e) {
        std::cout << kwd::errorLine(e) << std::endl;
        return 1;
    }
}

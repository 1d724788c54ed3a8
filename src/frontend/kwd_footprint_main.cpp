// The console program. The dialogue and the run take no arguments; they read
// their answers from standard input and write to standard output.

#include <iostream>

#include "frontend/u_Program.h"

int main() { return runKwdFootprint(std::cin, std::cout); }

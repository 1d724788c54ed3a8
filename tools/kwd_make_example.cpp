// Writes the bundled example simulation (see ExampleSimulation.h): the
// atmosphere outputs of a small urban scene and a run configuration file
// (".tra") for kwd-footprint.
//
//   kwd_make_example [--folder DIR] [--grid NIxNJxNK] [--cell DXxDYxDZ]
//                    [--outputs N] [--spacing SECONDS] [--particles N]
//                    [--project NAME] [--detector xMin,xMax,yMin,yMax,zMin,zMax]
//                    [--no-initialisation]

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "../tools/ExampleSimulation.h"
#include "platform/KwdError.h"
#include "platform/RegionalSettings.h"

namespace {

const char* const kUsage =
    "usage: kwd_make_example [--folder DIR] [--grid NIxNJxNK] [--cell DXxDYxDZ]\n"
    "                        [--outputs N] [--spacing SECONDS] [--particles N]\n"
    "                        [--project NAME] [--detector xMin,xMax,yMin,yMax,zMin,zMax]\n"
    "                        [--no-initialisation]\n";

std::vector<std::string> split(const std::string& text, char sep) {
    std::vector<std::string> pieces;
    std::string::size_type start = 0, pos;
    while ((pos = text.find(sep, start)) != std::string::npos) {
        pieces.push_back(text.substr(start, pos - start));
        start = pos + 1;
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

int32_t integerOption(const std::string& option, const std::string& text) {
    int value = 0;
    if (!kwd::regional::tryParseInteger(text, value))
        throw kwd::ConversionError("\"" + text + "\" is not an integer (" + option + ")");
    return value;
}

double decimalOption(const std::string& option, const std::string& text) {
    double value = 0;
    if (!kwd::regional::tryParseDecimal(text, value))
        throw kwd::ConversionError("\"" + text + "\" is not a decimal number (" + option + ")");
    return value;
}

std::vector<std::string> pieces(const std::string& option, const std::string& text, char sep,
                                size_t count) {
    std::vector<std::string> p = split(text, sep);
    if (p.size() != count)
        throw kwd::ConversionError("\"" + text + "\" needs " + std::to_string(count) +
                                   " values separated by '" + sep + "' (" + option + ")");
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        example::tOptions o;
        for (int a = 1; a < argc; ++a) {
            const std::string option = argv[a];
            if (option == "--help" || option == "-h") {
                std::cout << kUsage;
                return 0;
            }
            if (option == "--no-initialisation") {
                o.initialisation = false;
                continue;
            }
            if (a + 1 >= argc) throw kwd::InputError("option " + option + " needs a value\n" + kUsage);
            const std::string value = argv[++a];
            if (option == "--folder") {
                o.folder = value;
            } else if (option == "--project") {
                o.project = value;
            } else if (option == "--grid") {
                const auto p = pieces(option, value, 'x', 3);
                o.nI = integerOption(option, p[0]);
                o.nJ = integerOption(option, p[1]);
                o.nK = integerOption(option, p[2]);
            } else if (option == "--cell") {
                const auto p = pieces(option, value, 'x', 3);
                o.dx = decimalOption(option, p[0]);
                o.dy = decimalOption(option, p[1]);
                o.dz = decimalOption(option, p[2]);
            } else if (option == "--outputs") {
                o.outputs = integerOption(option, value);
            } else if (option == "--spacing") {
                o.outputSpacing = integerOption(option, value);
            } else if (option == "--particles") {
                o.particles = integerOption(option, value);
            } else if (option == "--detector") {
                const auto p = pieces(option, value, ',', 6);
                for (size_t n = 0; n < 6; ++n) o.detector[n] = decimalOption(option, p[n]);
            } else {
                throw kwd::InputError("unknown option " + option + "\n" + kUsage);
            }
        }
        const example::tWritten w = example::writeExample(o);
        std::cout << "Example simulation written: " << w.zdxPaths.size()
                  << " atmosphere outputs in " << w.zdxPaths.front().substr(0, w.zdxPaths.front().rfind('/'))
                  << "\n";
        std::cout << "Run configuration file: " << w.traPath << "\n";
        return 0;
    } catch (const std::exception& e) {
        std::cout << kwd::errorLine(e) << std::endl;
        return 1;
    }
}

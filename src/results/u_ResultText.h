#pragma once
// Text of the result files: the number text of grid files and particle
// lists, the file names in the output folder and the saving of line lists.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/FileIO.h"
#include "platform/ParallelChunks.h"

namespace kwd::results {

// Fixed-point text with exactly 17 digits after a ".": the value is rounded
// to 17 significant digits (and to no more than 32 decimal places), laid out
// around the point, cut after the 17th place without a further rounding and
// filled with 0 where no significant digit remains. A magnitude of 1e17 or
// more is written as up to 17 significant digits, "E" and the decimal
// exponent ("1E17", "-1.2345678901234567E20"). Zero (either sign) is
// "0.00000000000000000"; a negative value whose rounded digits are not all
// zero keeps its "-" even when the 17 places shown are. NaN and infinities
// are "NAN", "INF" and "-INF". Never depends on the locale.
void appendNumberText(std::string& out, double value);
std::string numberText(double value);

// Decimal integer text, "-" for negative values, no leading zeros.
void appendIntegerText(std::string& out, int64_t value);

// dir + "/" + name, where every ":", "/" and "\" of name becomes ".", so a
// file name can never name or create a folder.
std::string resultFilePath(const std::string& dir, const std::string& name);

// A grid file: one line per j from 0, the values valueAt(i, j) for i from 0
// in number text separated by ";", CR LF after every line; written whole.
// Large grids are formatted on the workers, a band of lines each (valueAt
// is called from several threads at once).
template <typename F>
void writeGridFile(const std::string& path, int32_t nI, int32_t nJ, F valueAt) {
    auto appendLines = [&](std::string& text, int64_t jBegin, int64_t jEnd) {
        text.reserve(size_t(nI) * size_t(jEnd - jBegin) * 22 + size_t(jEnd - jBegin) * 2);
        for (int32_t j = int32_t(jBegin); j < int32_t(jEnd); ++j) {
            for (int32_t i = 0; i < nI; ++i) {
                if (i > 0) text += ';';
                appendNumberText(text, valueAt(i, j));
            }
            text += "\r\n";
        }
    };
    const int bands = nI > 0 ? kwd::chunkCount(nJ, std::max<int64_t>(1, 32768 / nI)) : 1;
    std::string text;
    if (bands == 1) {
        appendLines(text, 0, nJ);
    } else {
        std::vector<std::string> parts(static_cast<size_t>(bands));
        kwd::forEachChunk(nJ, bands, [&](int b, int64_t jBegin, int64_t jEnd) {
            std::string part;  // moved into its slot at the end (no shared cache line)
            appendLines(part, jBegin, jEnd);
            parts[size_t(b)] = std::move(part);
        });
        size_t size = 0;
        for (const std::string& part : parts) size += part.size();
        text.reserve(size);
        for (const std::string& part : parts) text += part;
    }
    kwd::writeWholeFile(path, text);  // temporary file and rename
}

// The lines, each followed by CR LF, written as one file (temp file + rename).
void saveTextLines(const std::string& path, const std::vector<std::string>& lines);

}  // namespace kwd::results

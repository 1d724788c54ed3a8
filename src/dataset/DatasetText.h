#pragma once
// Small text helpers of the data-set code: lenient number reading of legacy
// texts and file-name parts.

#include <cstdint>
#include <string>
#include <string_view>

namespace kwd::dataset {

class TZDXFile;

namespace dataset_text {

// The legacy import's number reading. It is not the container's
// (TDataXStorage::ReadIntegerText / ReadFloatText) on purpose: tabs count as
// blanks, integers are decimal only ("0x1F" reads as 0) and a float is
// rounded once, from its decimal text straight to 32 bits.

// Reads the leading decimal integer of a text: blanks skipped, an optional
// sign, then digits up to the first character that is not one. 0 when no
// digit is there; values beyond 32 bits saturate.
int32_t leadingInt(std::string_view text);

// Reads the leading decimal float of a text ("." as decimal point, optional
// exponent) the same way; 0 when nothing numeric is there. Values beyond the
// 32-bit range saturate at the largest float of their sign, tiny values give 0.
float leadingFloat(std::string_view text);

// `path` with the extension of its last name part replaced by `ext`
// (which includes the dot); a name without extension gets `ext` appended.
std::string changeFileExt(const std::string& path, const std::string& ext);

// The last name part of a path (after the last "/").
std::string extractFileName(const std::string& path);

std::string upperCase(std::string text);

// "I x J x K": the size of a grid (or of an array over it) in messages.
std::string gridText(int32_t aI, int32_t aJ, int32_t aK);
// The same of a data set's grid (GridsI x GridsJ x GridsK).
std::string gridText(const TZDXFile& aZDXFile);

// Characters [pos, pos + count) of a text, clipped to its length.
std::string_view part(std::string_view text, size_t pos, size_t count);

}  // namespace dataset_text

}  // namespace kwd::dataset

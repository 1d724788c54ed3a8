// Fuzz target of the legacy ZDI import TZDXFile::ImportZDIFile. The date,
// time and content kind come from the file name, so the input carries both:
// its first line is the file name (up to 64 characters; characters other than
// letters, digits and ".()_-" become "_"), the rest is the file's content.

#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzInput.h"
#include "dataset/DatasetText.h"
#include "dataset/u_ZDXFile.h"
#include "platform/KwdError.h"

using kwd::dataset::TZDXFile;

namespace {

std::string safeName(std::string_view text) {
    std::string name;
    for (char c : text.substr(0, 64)) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '.' || c == '(' || c == ')' || c == '_' || c == '-';
        name += ok ? c : '_';
    }
    // "." and ".." are not file names of their own.
    if (name.find_first_not_of('.') == std::string::npos) name += "_";
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input = kwdfuzz::asText(data, size);
    const size_t eol = input.find('\n');
    const std::string name = safeName(input.substr(0, eol));
    const std::string_view content =
        eol == std::string_view::npos ? std::string_view() : input.substr(eol + 1);
    // The import reads the name with its extension replaced by ".ZDI".
    const std::string given = kwdfuzz::scratchFolder() + "/" + name;
    // Each input names its own file: it is removed once read, so that the
    // scratch folder holds one file at a time, not one per input.
    const kwdfuzz::tScratchFile file(
        kwdfuzz::writeInput(kwd::dataset::dataset_text::extractFileName(
                                kwd::dataset::dataset_text::changeFileExt(given, ".ZDI")),
                            content));
    TZDXFile d;
    try {
        if (d.ImportZDIFile(given) != 0) return 0;
    } catch (const kwd::KwdError&) {
        return 0;  // a name too short for the date, or a count beyond the file
    }
    if (size_t(std::max(d.numberVars, 0)) != d.nameVars.size()) __builtin_trap();
    if (d.UnitVars.size() != d.nameVars.size()) __builtin_trap();
    (void)d.GetLayerSize();
    return 0;
}

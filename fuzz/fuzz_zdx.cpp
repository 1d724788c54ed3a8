// Fuzz target of the descriptor reader TZDXFile::ReadFile. The input is the
// whole ZDX file. A descriptor that was read is written again and read back:
// the second read must succeed and give the same grid counts.

#include <cstdint>
#include <cstdio>
#include <string>

#include "FuzzInput.h"
#include "dataset/u_ZDXFile.h"

using kwd::dataset::TZDXFile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kwdfuzz::silenceMessages();
    const std::string path = kwdfuzz::writeInput("input.ZDX", kwdfuzz::asText(data, size));
    TZDXFile d;
    if (d.ReadFile(path) != 0) return 0;
    (void)d.GetLayerSize();
    // The counts that were read describe the arrays that were filled.
    if (d.GridsI < 0 || size_t(d.GridsI) > d.sizedx.size()) __builtin_trap();
    if (d.GridsJ < 0 || size_t(d.GridsJ) > d.sizedy.size()) __builtin_trap();
    if (d.GridsK < 0 || size_t(d.GridsK) > d.sizedz.size()) __builtin_trap();
    if (d.numberVars < 0 || size_t(d.numberVars) > d.nameVars.size()) __builtin_trap();
    if (d.UnitVars.size() != size_t(d.numberVars)) __builtin_trap();

    const std::string again = kwdfuzz::scratchFolder() + "/again.ZDX";
    std::remove(again.c_str());  // a fresh file: no flush of a replaced one
    d.WriteFile(again);
    TZDXFile e;
    if (e.ReadFile(again) != 0) __builtin_trap();
    if (e.GridsI != d.GridsI || e.GridsJ != d.GridsJ || e.GridsK != d.GridsK) __builtin_trap();
    return 0;
}

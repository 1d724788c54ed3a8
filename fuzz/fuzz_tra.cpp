// Fuzz target of the run configuration reader tTRAFile::LoadFromFile. The
// input is the whole .tra file.

#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "frontend/u_tTRAFile.h"
#include "platform/KwdError.h"

using kwd::frontend::tTRAFile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kwdfuzz::silenceMessages();
    const std::string path = kwdfuzz::writeInput("input.tra", kwdfuzz::asText(data, size));
    tTRAFile t;
    try {
        if (!t.LoadFromFile(path)) __builtin_trap();  // always true
    } catch (const kwd::InputError&) {
        return 0;  // a missing tag or a number that does not read completely
    }
    (void)t.getMinHeight();
    (void)t.getParticleMultiplier();
    return 0;
}

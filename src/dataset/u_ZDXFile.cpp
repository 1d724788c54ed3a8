#include "dataset/u_ZDXFile.h"

#include <algorithm>
#include <cstdint>
#include <string>

int32_t TZDXFile::GetLayerSize() const {
    // 32-bit arithmetic as the stored value has it: unsigned multiplication
    // wraps without undefined behaviour, the conversion back is modular.
    const uint32_t size = uint32_t(GridsI) * uint32_t(GridsJ) * uint32_t(GridsK) *
                          uint32_t(DataPerVariable);
    return int32_t(size);
}

void TZDXFile::SplitNamesAndUnits() {
    const size_t count = numberVars > 0 ? size_t(numberVars) : 0;
    UnitVars.assign(count, std::string());
    const size_t names = std::min(count, nameVars.size());
    for (size_t n = 0; n < names; ++n) {
        std::string& name = nameVars[n];
        const size_t bracket = name.find_last_of("([");
        if (bracket == std::string::npos) continue;
        // The unit runs behind the bracket up to the last character (the
        // closing bracket), whatever that character is.
        const size_t unitLength = name.size() - bracket >= 2 ? name.size() - bracket - 2 : 0;
        UnitVars[n] = name.substr(bracket + 1, unitLength);
        name.erase(bracket);
    }
}

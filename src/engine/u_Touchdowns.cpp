// Footprint model names and the exact touchdown sums.

#include "engine/u_Touchdowns.h"

namespace kwd::engine {

const char* footprintModelName(tFootprintModel aModel) {
    return aModel == tFootprintModel::Touchdown ? "touchdown" : "described";
}

bool parseFootprintModel(std::string_view aText, tFootprintModel& aModel) {
    const auto first = aText.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return false;
    const auto last = aText.find_last_not_of(" \t\r\n");
    const std::string_view word = aText.substr(first, last - first + 1);
    if (word == "described") {
        aModel = tFootprintModel::Described;
        return true;
    }
    if (word == "touchdown") {
        aModel = tFootprintModel::Touchdown;
        return true;
    }
    return false;
}

void tTouchdownSums::addColumns(size_t aSlot, tTouchdownColumns&& aFrom) {
    if (aFrom.empty()) return;
    if (fSlots.size() <= aSlot) fSlots.resize(aSlot + 1);
    tTouchdownColumns& to = fSlots[aSlot];
    if (to.empty()) {
        to = std::move(aFrom);
        return;
    }
    for (size_t c = 0; c < aFrom.flux.size(); ++c) {
        to.flux[c] += aFrom.flux[c];
        to.con[c] += aFrom.con[c];
        to.count[c] += aFrom.count[c];
    }
    for (const auto& [code, sum] : aFrom.fluxByCode) {
        bool found = false;
        for (auto& [toCode, toSum] : to.fluxByCode)
            if (toCode == code) {
                toSum += sum;
                found = true;
                break;
            }
        if (!found) to.fluxByCode.emplace_back(code, sum);
    }
}

void tTouchdownSums::take(tTouchdownSums& aOther) {
    for (size_t s = 0; s < aOther.fSlots.size(); ++s) addColumns(s, std::move(aOther.fSlots[s]));
    aOther.fSlots.clear();
    records.insert(records.end(), aOther.records.begin(), aOther.records.end());
    aOther.records.clear();
}

}  // namespace kwd::engine

// Wind-field loading: field allocation, the nodes, the period loading with
// its rates, the period snapshot and the time advance of the fields. The
// quantities derived from the live fields are in u_DerivedFields.cpp.

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <string>
#include <utility>

#include "dataset/DatasetText.h"
#include "dataset/u_ZDTFile.h"
#include "engine/u_tParticleManager.h"
#include "platform/FpControl.h"
#include "platform/KwdError.h"

namespace kwd::engine {

using kwd::dataset::ReadZDTBlock;
using kwd::dataset::TZDXFile;
using kwd::dataset::ZDTBlockValueCount;

namespace {

using kwd::dataset::dataset_text::gridText;

std::string widthText(float w) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.9g", double(w));
    return buf;
}

// Copies a block in file order (i fastest, then j, then k) into an array.
template <typename T, typename Convert>
void fromBlock(const std::vector<float>& block, t3DArray<T>& out, Convert convert) {
    const int32_t nI = out.sizeI(), nJ = out.sizeJ(), nK = out.sizeK();
    size_t n = 0;
    for (int32_t k = 0; k < nK; ++k)
        for (int32_t j = 0; j < nJ; ++j)
            for (int32_t i = 0; i < nI; ++i) out(i, j, k) = convert(block[n++], i, j, k);
}

// How a message names variable `var` of a data set: its position, and its
// name (blanks around it aside) where the descriptor gives one.
std::string variableText(const TZDXFile& z, int32_t var) {
    std::string text = "variable " + std::to_string(var);
    if (size_t(var) >= z.nameVars.size()) return text;
    const std::string& name = z.nameVars[size_t(var)];
    const size_t first = name.find_first_not_of(' ');
    if (first == std::string::npos) return text;
    return text + " (\"" + name.substr(first, name.find_last_not_of(' ') - first + 1) + "\")";
}

// Refuses, at the first cell in file order, a value the step cannot work
// with: one that is not a finite number, or with `obstacles` given (the
// dissipation), one below 0 in a cell that is not an obstacle, which would
// hold every particle near it at the shortest sub-step.
void checkBlockValues(const std::vector<float>& block, const TZDXFile& z, int32_t var,
                      int32_t nI, int32_t nJ, int32_t nK, const t3DArrayInt64* obstacles) {
    size_t n = 0;
    for (int32_t k = 0; k < nK; ++k)
        for (int32_t j = 0; j < nJ; ++j)
            for (int32_t i = 0; i < nI; ++i) {
                const float v = block[n++];
                const bool finite = std::isfinite(v);
                const bool negativeInAir = finite && obstacles != nullptr && v < 0.0f &&
                                           (*obstacles)(i, j, k) != 1;
                if (finite && !negativeInAir) continue;
                throw kwd::InputError(
                    "data set " + z.InfoFilename + ": " + variableText(z, var) + " holds " +
                    widthText(v) + " in cell (" + std::to_string(i) + ", " + std::to_string(j) +
                    ", " + std::to_string(k) + ")" +
                    (finite ? ", a cell outside the obstacles; the dissipation must not be negative"
                            : ", which is not a finite number"));
            }
}

}  // namespace

void tParticleManager::allocateFields() {
    if (fCurrZDXFile == nullptr) throw kwd::RunSetupError("no current data set to size the fields");
    const TZDXFile& z = *fCurrZDXFile;
    const int32_t nI = z.GridsI, nJ = z.GridsJ, nK = z.GridsK;
    if (nI < 3 || nJ < 3 || nK < 4) {
        throw kwd::InputError("data set " + z.InfoFilename + ": grid of " + gridText(nI, nJ, nK) +
                              " cells; the engine needs at least 3 columns, 3 rows and 4 levels");
    }
    ZDTBlockValueCount(nI, nJ, nK);  // raises when the block does not fit 32 bits
    const std::vector<float>* widths[3] = {&z.sizedx, &z.sizedy, &z.sizedz};
    const int32_t counts[3] = {nI, nJ, nK};
    const char* axes[3] = {"x", "y", "z"};
    for (int a = 0; a < 3; ++a) {
        if (widths[a]->size() < size_t(counts[a])) {
            throw kwd::InputError("data set " + z.InfoFilename + ": " +
                                  std::to_string(widths[a]->size()) + " cell widths along " +
                                  axes[a] + " for " + std::to_string(counts[a]) + " cells");
        }
        for (int32_t c = 0; c < counts[a]; ++c) {
            const float w = (*widths[a])[size_t(c)];
            if (!(w > 0.0f) || !std::isfinite(w)) {
                throw kwd::InputError("data set " + z.InfoFilename + ": cell width " +
                                      widthText(w) + " m at index " + std::to_string(c) +
                                      " along " + axes[a] + " is not a positive length");
            }
        }
    }
    // The wind profile below the lowest node is logarithmic with a roughness
    // length of 0.01 m; it needs the node above that height.
    if (!(double(z.sizedz[0]) / 2.0 > 0.01)) {
        throw kwd::InputError("data set " + z.InfoFilename + ": the lowest level is " +
                              widthText(z.sizedz[0]) +
                              " m thick; the wind profile near the ground needs more than 0.02 m");
    }
    fGridI = nI;
    fGridJ = nJ;
    fGridK = nK;
    fGridDx.assign(z.sizedx.begin(), z.sizedx.begin() + nI);
    fGridDy.assign(z.sizedy.begin(), z.sizedy.begin() + nJ);
    fGridDz.assign(z.sizedz.begin(), z.sizedz.begin() + nK);

    forEachSnapshotPair([&](auto& live, auto& snapshot) {
        live.resize(nI, nJ, nK);
        snapshot.resize(nI, nJ, nK);
    });
    for (t3DArraySingle* a : {&fRateU_Ar, &fRateV_Ar, &fRateW_Ar, &fRateTKE_Ar,
                              &fRateDissipation_Ar, &fRateVaporFlx_Ar})
        a->resize(nI, nJ, nK, 0.0f);
    for (t3DArrayDouble* a : {&fde_dx_Ar, &fde_dy_Ar, &fde_dz_Ar}) a->resize(nI, nJ, nK, 0.0);
    for (std::vector<double>* a :
         {&fVerticalMeanU_Ar, &fVerticalMeanV_Ar, &fVerticalMeanW_Ar, &fVerticalMeanU2_Ar,
          &fVerticalMeanV2_Ar, &fVerticalMeanW2_Ar, &fVerticalMeanTKE_Ar, &fZMidPoint_Ar,
          &fZTopBorder_Ar})
        a->assign(size_t(nK), 0.0);
    fXMidPoint_Ar.assign(size_t(nI), 0.0);
    fYMidPoint_Ar.assign(size_t(nJ), 0.0);
    fLevelCellCount.assign(size_t(nK), 0);
    fGeometry = tGridGeometry(z);
    // The cell records exist from here on, so that no step ever builds them.
    buildSampleCells();
}

void tParticleManager::checkSameGrid(const TZDXFile& z) const {
    const bool countsMatch = z.GridsI == fGridI && z.GridsJ == fGridJ && z.GridsK == fGridK;
    auto widthsMatch = [](const std::vector<float>& w, const std::vector<float>& ref) {
        if (w.size() < ref.size()) return false;
        for (size_t c = 0; c < ref.size(); ++c)
            if (w[c] != ref[c]) return false;
        return true;
    };
    if (!countsMatch || !widthsMatch(z.sizedx, fGridDx) || !widthsMatch(z.sizedy, fGridDy) ||
        !widthsMatch(z.sizedz, fGridDz)) {
        throw kwd::InputError("data set " + z.InfoFilename + ": its grid (" +
                              gridText(z.GridsI, z.GridsJ, z.GridsK) +
                              " cells and their widths) differs from the run's grid (" +
                              gridText(fGridI, fGridJ, fGridK) + " cells)");
    }
}

void tParticleManager::computeNodePositions() {
    const TZDXFile& z = *fCurrZDXFile;
    const int32_t nI = fGridI, nJ = fGridJ, nK = fGridK;
    // x and y: each node is the previous one plus the full width of its own cell.
    fXMidPoint_Ar[0] = double(z.sizedx[0]) / 2.0;
    for (int32_t i = 1; i < nI; ++i)
        fXMidPoint_Ar[size_t(i)] = fXMidPoint_Ar[size_t(i) - 1] + double(z.sizedx[size_t(i)]);
    fYMidPoint_Ar[0] = double(z.sizedy[0]) / 2.0;
    for (int32_t j = 1; j < nJ; ++j)
        fYMidPoint_Ar[size_t(j)] = fYMidPoint_Ar[size_t(j) - 1] + double(z.sizedy[size_t(j)]);
    if (fFootprintModel == tFootprintModel::Touchdown) {
        // The touchdown model: nodes at the cell centres (halfway between the
        // cell faces), also on telescoped grids.
        for (int32_t i = 0; i < nI; ++i) {
            const double low = fGeometry.facesX()[size_t(i)];
            fXMidPoint_Ar[size_t(i)] = low + 0.5 * (fGeometry.facesX()[size_t(i) + 1] - low);
        }
        for (int32_t j = 0; j < nJ; ++j) {
            const double low = fGeometry.facesY()[size_t(j)];
            fYMidPoint_Ar[size_t(j)] = low + 0.5 * (fGeometry.facesY()[size_t(j) + 1] - low);
        }
    }
    fZTopBorder_Ar[0] = double(z.sizedz[0]);
    fZMidPoint_Ar[0] = double(z.sizedz[0]) / 2.0;
    for (int32_t k = 1; k < nK; ++k) {
        fZTopBorder_Ar[size_t(k)] = fZTopBorder_Ar[size_t(k) - 1] + double(z.sizedz[size_t(k)]);
        fZMidPoint_Ar[size_t(k)] = fZTopBorder_Ar[size_t(k)] - 0.5 * double(z.sizedz[size_t(k)]);
    }
}

void tParticleManager::loadPeriodFields(int32_t aDeltaSeconds) {
    if (fCurrZDXFile == nullptr || fNextZDXFile == nullptr)
        throw kwd::RunSetupError("period loading needs the current and the next data set");
    if (fObject_Ar.empty()) throw kwd::RunSetupError("period loading before field allocation");
    const TZDXFile& cur = *fCurrZDXFile;
    const TZDXFile& next = *fNextZDXFile;
    checkSameGrid(cur);
    checkSameGrid(next);
    fGeometry = tGridGeometry(cur);
    kwd::clearFpFlags();
    computeNodePositions();

    const int32_t nI = fGridI, nJ = fGridJ, nK = fGridK;
    std::vector<float> block(size_t(nI) * size_t(nJ) * size_t(nK));
    // Every block the engine reads is checked as it comes in (the object
    // codes have their own test below); the dissipation once the object
    // codes are known.
    auto read = [&](const TZDXFile& z, int32_t var) {
        ReadZDTBlock(z.DataFilename, var, nI, nJ, nK, block);
        if (var != kVarObjects)
            checkBlockValues(block, z, var, nI, nJ, nK,
                             var == kVarDissipation ? &fObject_Ar : nullptr);
    };

    // Object codes, rounded to the nearest whole number (ties to even); the
    // code 2 counts as an obstacle (1).
    read(cur, kVarObjects);
    fromBlock(block, fObject_Ar, [&](float v, int32_t i, int32_t j, int32_t k) -> int64_t {
        if (!std::isfinite(v) || std::fabs(v) > 1.0e15f) {
            throw kwd::InputError("data set " + cur.InfoFilename + ": object code " +
                                  widthText(v) + " of cell (" + std::to_string(i) + ", " +
                                  std::to_string(j) + ", " + std::to_string(k) +
                                  ") is not a whole number");
        }
        const int64_t code = int64_t(std::nearbyint(double(v)));
        return code == 2 ? 1 : code;
    });

    auto same = [](float v, int32_t, int32_t, int32_t) { return v; };
    const std::pair<int32_t, t3DArraySingle*> live[] = {
        {kVarU, &fuvwX_Ar}, {kVarV, &fuvwY_Ar}, {kVarW, &fuvwZ_Ar},
        {kVarTKE, &fTKE_Ar}, {kVarDissipation, &fDissipation_Ar}};
    for (const auto& [var, arr] : live) {
        read(cur, var);
        fromBlock(block, *arr, same);
    }

    // Emitter field at load time: 1 in the inner cells with an object code
    // above 10 (not the side boundary, not the top level).
    for (int32_t i = 0; i < nI; ++i)
        for (int32_t j = 0; j < nJ; ++j)
            for (int32_t k = 0; k < nK; ++k) {
                const bool inner = i > 0 && i < nI - 1 && j > 0 && j < nJ - 1 && k < nK - 1;
                fVaporFlx_Ar(i, j, k) = inner && fObject_Ar(i, j, k) > 10 ? 1.0f : 0.0f;
            }
    takePeriodSnapshot();

    // Rates towards the next data set. Model time runs backwards (s = -1), so
    // the live fields move from this data set's values to the next one's. A
    // period of no length has no steps and keeps the fields as loaded.
    const double s = -1.0;
    const double dt = double(aDeltaSeconds);
    auto rate = [&](double current, double nextValue) {
        return dt != 0.0 ? float(s * (current - nextValue) / dt) : 0.0f;
    };
    const std::pair<int32_t, std::pair<t3DArraySingle*, t3DArraySingle*>> rates[] = {
        {kVarU, {&fuvwX_Ar, &fRateU_Ar}},
        {kVarV, {&fuvwY_Ar, &fRateV_Ar}},
        {kVarW, {&fuvwZ_Ar, &fRateW_Ar}},
        {kVarTKE, {&fTKE_Ar, &fRateTKE_Ar}},
        {kVarDissipation, {&fDissipation_Ar, &fRateDissipation_Ar}}};
    for (const auto& [var, arrays] : rates) {
        read(next, var);
        const t3DArraySingle& current = *arrays.first;
        fromBlock(block, *arrays.second, [&](float v, int32_t i, int32_t j, int32_t k) {
            return rate(double(current(i, j, k)), double(v));
        });
    }
    read(next, kVarVaporFlux);
    fromBlock(block, fRateVaporFlx_Ar, [&](float v, int32_t i, int32_t j, int32_t k) {
        const bool inner = i > 0 && i < nI - 1 && j > 0 && j < nJ - 1;
        const double current = double(fVaporFlx_Ar(i, j, k));
        return inner ? rate(current, double(v)) : rate(current, 0.0);
    });
    kwd::checkFpFlags(("period loading of data set " + cur.InfoFilename).c_str());
}

void tParticleManager::resetBatchFields() {
    forEachSnapshotPair([](auto& live, const auto& snapshot) { live = snapshot; });
}

void tParticleManager::takePeriodSnapshot() {
    forEachSnapshotPair([](const auto& live, auto& snapshot) { snapshot = live; });
}

void tParticleManager::advanceFields(double dt_3d) {
    kwd::clearFpFlags();
    const std::pair<t3DArraySingle*, const t3DArraySingle*> fields[] = {
        {&fuvwX_Ar, &fRateU_Ar},           {&fuvwY_Ar, &fRateV_Ar},
        {&fuvwZ_Ar, &fRateW_Ar},           {&fTKE_Ar, &fRateTKE_Ar},
        {&fDissipation_Ar, &fRateDissipation_Ar}, {&fVaporFlx_Ar, &fRateVaporFlx_Ar}};
    for (const auto& [field, rate] : fields) {
        float* f = field->data();
        const float* r = rate->data();
        const size_t n = field->size();
        for (size_t c = 0; c < n; ++c) f[c] = float(double(f[c]) + double(r[c]) * dt_3d);
    }
    kwd::checkFpFlags("the field advance");
}

}  // namespace kwd::engine

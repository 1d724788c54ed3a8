// Normalised footprints per measurement time: hits counted by release time,
// densities per column area, the climatology and the surface shares.

#include "results/u_FootprintDensity.h"

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "platform/FpControl.h"
#include "platform/KwdError.h"
#include "platform/LargeMemory.h"
#include "platform/RegionalSettings.h"
#include "results/u_ResultText.h"

namespace kwd::results {

using kwd::engine::fromExactSum;
using kwd::engine::t3DArrayInt64;
using kwd::engine::tParticle;
using kwd::engine::tParticleList;
using kwd::engine::tPosGrid;
using kwd::engine::tTouchdownColumns;
using kwd::engine::tTouchdownSums;

tFootprintDensities::tFootprintDensities(int32_t nI, int32_t nJ, const std::vector<float>& dx,
                                         const std::vector<float>& dy, std::string aProject)
    : fI(nI), fJ(nJ), fProject(std::move(aProject)) {
    if (nI <= 0 || nJ <= 0 || dx.size() < size_t(nI) || dy.size() < size_t(nJ))
        throw kwd::GeneralError("footprint densities: the grid of " + std::to_string(nI) + " x " +
                                std::to_string(nJ) + " columns lacks cell widths");
    fArea.resize(size_t(nI) * size_t(nJ));
    for (int32_t j = 0; j < nJ; ++j)
        for (int32_t i = 0; i < nI; ++i)
            fArea[size_t(j) * size_t(nI) + size_t(i)] = double(dx[size_t(i)]) * double(dy[size_t(j)]);
}

tFootprintDensities::tMeasurement& tFootprintDensities::measurementOf(double aTime) {
    const auto it = fMeasurements.find(aTime);
    if (it == fMeasurements.end())
        throw kwd::GeneralError("a particle that met its target was released at " +
                                kwd::regional::dateTimeText(aTime) +
                                ", which is no measurement time of the run");
    return it->second;
}

void tFootprintDensities::addReleased(double aTime, const std::string& aProject, int64_t aCount) {
    tMeasurement& m = fMeasurements[aTime];
    if (m.fluxSum.empty() && !m.closed) {
        const size_t columns = fArea.size();
        m.project = aProject;
        m.fluxSum.assign(columns, 0.0);
        m.conSum.assign(columns, 0.0);
        m.hitCount.assign(columns, 0.0);
    }
    m.released += aCount;
    m.changed = true;
}

void tFootprintDensities::addHits(const tParticleList& aParticles,
                                  const t3DArrayInt64& aObjects) {
    kwd::clearFpFlags();
    // The sums are taken in list order, on this thread: a gather of the hits
    // on the workers first cost more than it saved (its buffers' first touch).
    tMeasurement* m = nullptr;
    double mTime = 0.0;
    double* codeSum = nullptr;  // fluxSumByCode of the last hit's code in m
    int64_t lastCode = 0;
    for (size_t n = 0; n < aParticles.size(); ++n) {
        kwd::prefetchAhead(aParticles.data(), n, aParticles.size());
        const tParticle& p = aParticles[n];
        if (!p.fMetTarget) continue;
        // Particles of one release lie side by side in the list.
        if (m == nullptr || p.fStartTime != mTime) {
            m = &measurementOf(p.fStartTime);
            mTime = p.fStartTime;
            codeSum = nullptr;
        }
        const tPosGrid c = p.fTargetPosGrid;
        const bool inGrid = c.i >= 0 && c.j >= 0 && c.k >= 0 && c.i < fI && c.j < fJ &&
                            c.i < aObjects.sizeI() && c.j < aObjects.sizeJ() &&
                            c.k < aObjects.sizeK();
        if (!inGrid || m->closed)
            throw kwd::GeneralError("particle " + std::to_string(n) + ": target cell (" +
                                    std::to_string(c.i) + ", " + std::to_string(c.j) + ", " +
                                    std::to_string(c.k) +
                                    ") cannot be counted in the footprint of " +
                                    kwd::regional::dateTimeText(mTime));
        const double takeOff = std::fabs(p.fWEmitter);
        const double flux = p.fWDetector / takeOff;
        const size_t col = size_t(c.j) * size_t(fI) + size_t(c.i);
        m->fluxSum[col] += flux;
        m->conSum[col] += 1.0 / takeOff;
        m->hitCount[col] += 1.0;
        const int64_t code = aObjects(c.i, c.j, c.k);
        if (codeSum == nullptr || code != lastCode) {
            codeSum = &m->fluxSumByCode[code];
            lastCode = code;
            fSurfaceCodes.insert(code);
        }
        *codeSum += flux;
        ++m->hits;
        if (p.fWEmitter < 0.0) ++m->negativeTakeOff;
        m->changed = true;
    }
    kwd::checkFpFlags("counting the hits of the footprints");
}

void tFootprintDensities::addTouchdowns(const std::vector<double>& aSlotTimes,
                                        tTouchdownSums& aSums) {
    kwd::clearFpFlags();
    const std::vector<tTouchdownColumns>& slots = aSums.slots();
    for (size_t n = 0; n < slots.size(); ++n) {
        const tTouchdownColumns& t = slots[n];
        if (t.empty()) continue;
        if (n >= aSlotTimes.size())
            throw kwd::GeneralError("touchdowns of measurement slot " + std::to_string(n) +
                                    ", which has no measurement time");
        tMeasurement& m = measurementOf(aSlotTimes[n]);
        if (m.closed || t.flux.size() != fArea.size())
            throw kwd::GeneralError("touchdowns cannot be counted in the footprint of " +
                                    kwd::regional::dateTimeText(aSlotTimes[n]));
        for (size_t c = 0; c < fArea.size(); ++c) {
            if (t.count[c] == 0) continue;
            m.fluxSum[c] += fromExactSum(t.flux[c]);
            m.conSum[c] += fromExactSum(t.con[c]);
            m.hitCount[c] += double(t.count[c]);
            m.hits += t.count[c];
        }
        for (const auto& [code, sum] : t.fluxByCode) {
            m.fluxSumByCode[code] += fromExactSum(sum);
            fSurfaceCodes.insert(code);
        }
        m.changed = true;
    }
    aSums.clear();
    kwd::checkFpFlags("counting the touchdowns of the footprints");
}

std::vector<double> tFootprintDensities::density(const tMeasurement& m,
                                                 const std::vector<double>& sums) const {
    std::vector<double> out(sums.size(), 0.0);
    if (m.released <= 0) return out;
    const double factor = 2.0 / double(m.released);
    for (size_t c = 0; c < sums.size(); ++c) out[c] = factor * sums[c] / fArea[c];
    return out;
}

void tFootprintDensities::writeMeasurement(const std::string& aOutputDir, double aTime,
                                           tMeasurement& m) {
    kwd::clearFpFlags();
    const std::vector<double> flux = density(m, m.fluxSum);
    const std::vector<double> con = density(m, m.conSum);
    double share = 0.0;
    for (size_t c = 0; c < flux.size(); ++c) share += flux[c] * fArea[c];
    m.fluxShare = share;
    kwd::checkFpFlags("the footprint densities");

    const std::string suffix = kwd::regional::fileNameTimeText(aTime) + m.project + ".csv";
    auto column = [this](const std::vector<double>& v) {
        return [this, &v](int32_t i, int32_t j) { return v[size_t(j) * size_t(fI) + size_t(i)]; };
    };
    writeGridFile(resultFilePath(aOutputDir, "FluxFootprintDensityIJ_" + suffix), fI, fJ,
                  column(flux));
    writeGridFile(resultFilePath(aOutputDir, "ConFootprintDensityIJ_" + suffix), fI, fJ,
                  column(con));
    writeGridFile(resultFilePath(aOutputDir, "HitsIJ_" + suffix), fI, fJ, column(m.hitCount));
    m.changed = false;
}

void tFootprintDensities::closeFinished(const tParticleList& aParticles) {
    std::set<double> moving;
    for (const tParticle& p : aParticles)
        if (p.fInModel && !p.fMetTarget) moving.insert(p.fStartTime);
    for (auto& [time, m] : fMeasurements) {
        if (m.closed || moving.count(time) != 0) continue;
        // Its density joins the climatology sum; write() writes its files
        // a last time where they changed and then drops its columns.
        kwd::clearFpFlags();
        const std::vector<double> flux = density(m, m.fluxSum);
        if (fClosedFluxSum.empty()) fClosedFluxSum.assign(flux.size(), 0.0);
        for (size_t c = 0; c < flux.size(); ++c) fClosedFluxSum[c] += flux[c];
        kwd::checkFpFlags("the footprint climatology");
        m.closed = true;
    }
}

tFootprintDensities::tFigures tFootprintDensities::figures(double aTime) const {
    const auto it = fMeasurements.find(aTime);
    if (it == fMeasurements.end()) return {};
    const tMeasurement& m = it->second;
    return {m.released, m.hits, m.negativeTakeOff, m.fluxShare};
}

void tFootprintDensities::write(const std::string& aOutputDir) {
    for (auto& [time, m] : fMeasurements) {
        if (m.changed) writeMeasurement(aOutputDir, time, m);
        // Closed and written: its columns are no longer needed.
        if (m.closed && !m.fluxSum.empty()) {
            m.fluxSum = {};
            m.conSum = {};
            m.hitCount = {};
        }
    }
    writeTables(aOutputDir);
}

void tFootprintDensities::writeTables(const std::string& aOutputDir) const {
    using kwd::regional::longTime;
    using kwd::regional::shortDate;
    kwd::clearFpFlags();

    // The climatology: the mean of F_t over the measurement times.
    std::vector<double> mean = fClosedFluxSum;
    mean.resize(fArea.size(), 0.0);
    for (const auto& [time, m] : fMeasurements) {
        if (m.closed) continue;
        const std::vector<double> flux = density(m, m.fluxSum);
        for (size_t c = 0; c < flux.size(); ++c) mean[c] += flux[c];
    }
    const double count = double(fMeasurements.size());
    if (count > 0)
        for (double& v : mean) v /= count;
    writeGridFile(resultFilePath(aOutputDir, "FluxFootprintDensityIJ_Mean_" + fProject + ".csv"), fI,
                  fJ, [&](int32_t i, int32_t j) { return mean[size_t(j) * size_t(fI) + size_t(i)]; });

    // One row per measurement time.
    std::vector<std::string> rows{"Date;Time;Released;Hits;FluxShare;NegativeTakeOff"};
    for (const auto& [time, m] : fMeasurements) {
        std::string row = shortDate(time) + ";" + longTime(time) + ";";
        appendIntegerText(row, m.released);
        row += ';';
        appendIntegerText(row, m.hits);
        row += ';';
        appendNumberText(row, m.fluxShare);
        row += ';';
        appendIntegerText(row, m.negativeTakeOff);
        rows.push_back(std::move(row));
    }
    saveTextLines(resultFilePath(aOutputDir, "Footprints_" + fProject + ".csv"), rows);

    // Shares of sum(F A) by surface code, per time and of the mean footprint.
    std::string head = "Date;Time";
    for (const int64_t code : fSurfaceCodes) {
        head += ';';
        appendIntegerText(head, code);
    }
    std::vector<std::string> surfaces{head};
    std::map<int64_t, double> meanByCode;
    double meanTotal = 0.0;
    auto shareRow = [this](std::string row, const std::map<int64_t, double>& byCode, double total) {
        for (const int64_t code : fSurfaceCodes) {
            const auto it = byCode.find(code);
            const double part = it == byCode.end() ? 0.0 : it->second;
            row += ';';
            appendNumberText(row, total != 0.0 ? part / total : 0.0);
        }
        return row;
    };
    for (const auto& [time, m] : fMeasurements) {
        double total = 0.0;
        for (const auto& [code, sum] : m.fluxSumByCode) total += sum;
        surfaces.push_back(shareRow(shortDate(time) + ";" + longTime(time), m.fluxSumByCode, total));
        if (m.released > 0) {
            const double factor = 2.0 / double(m.released);
            for (const auto& [code, sum] : m.fluxSumByCode) {
                meanByCode[code] += factor * sum;
                meanTotal += factor * sum;
            }
        }
    }
    surfaces.push_back(shareRow("Mean;", meanByCode, meanTotal));
    kwd::checkFpFlags("the footprint tables");
    saveTextLines(resultFilePath(aOutputDir, "FootprintSurfaces_" + fProject + ".csv"), surfaces);
}

}  // namespace kwd::results

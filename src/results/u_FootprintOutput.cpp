// Footprint normalisation, the five grid files of the vertical sums and the
// output data set (ZDX descriptor + ZDT data file).

#include <atomic>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "dataset/DatasetText.h"
#include "dataset/u_ZDTFile.h"
#include "dataset/u_ZDXFile.h"
#include "engine/u_tParticleManager.h"
#include "platform/FileIO.h"
#include "platform/FpControl.h"
#include "platform/KwdError.h"
#include "platform/LargeMemory.h"
#include "platform/ParallelChunks.h"
#include "platform/RegionalSettings.h"
#include "results/u_EngineOutputs.h"
#include "results/u_ResultText.h"

namespace kwd::results {

using kwd::engine::t3DArray;
using kwd::engine::t3DArrayDouble;
using kwd::engine::tFootprintModel;
using kwd::engine::tParticle;
using kwd::engine::tParticleList;
using kwd::engine::tParticleManager;
using kwd::engine::tPosGrid;

using kwd::dataset::ckRadiation;
using kwd::dataset::tZDTWriter;
using kwd::dataset::TZDXFile;
using kwd::dataset::ZDTBlockValueCount;

namespace {

const char* const kOutputVariableNames[17] = {
    "Objects ( )",
    "Flow u (m/s)",
    "Flow v (m/s)",
    "Flow w (m/s)",
    "Wind Speed (m/s)",
    "Vapor Flux (g/kg*m/s)",
    "Current position of Particles ( )",
    "Origin of Particles in Detector Vertical Sum ( )",
    "Origin of Particles in Detector 3d ( )",
    "Concentration footprint Vertical Sum ( )",
    "Concentration footprint 3d ( )",
    "Ratio wDet/wTakeOff Vertical Sum ( )",
    "Ratio wDet/wTakeOff footprint 3d ( )",
    "Flux Vertical Sum ( )",
    "Flux 3d ( )",
    "Footprint Vertical Sum ( )",
    "Footprint 3d ( )",
};

using kwd::dataset::dataset_text::gridText;

template <typename T>
void checkShape(const t3DArray<T>& a, const char* name, const TZDXFile& z) {
    if (a.sizeI() < z.GridsI || a.sizeJ() < z.GridsJ || a.sizeK() < z.GridsK)
        throw kwd::InputError("data set " + z.InfoFilename + ": grid " +
                              gridText(z.GridsI, z.GridsJ, z.GridsK) + " does not fit the " +
                              name + " array of " + gridText(a.sizeI(), a.sizeJ(), a.sizeK()));
}

// Fills one ZDT block (i fastest, then j, then k) from a per-cell function.
template <typename F>
void fillBlock(std::vector<float>& block, int32_t nI, int32_t nJ, int32_t nK, F value) {
    size_t n = 0;
    for (int32_t k = 0; k < nK; ++k)
        for (int32_t j = 0; j < nJ; ++j)
            for (int32_t i = 0; i < nI; ++i) block[n++] = value(i, j, k);
}

// Exactly 0 marks a cell without a value: -999.
inline float orMissing(double v) { return v == 0.0 ? -999.0f : float(v); }

}  // namespace

void writeOutput(tParticleManager& e, const TZDXFile& aZDXFile, const std::string& aFileName) {
    const int32_t nI = aZDXFile.GridsI, nJ = aZDXFile.GridsJ, nK = aZDXFile.GridsK;
    for (const t3DArrayDouble* a : e.footprintAccumulators()) checkShape(*a, "result", aZDXFile);

    // 1. Normalisation.
    if (e.fTotalEmittedParticles > 0) {
        kwd::clearFpFlags();
        const double factor = 2.0 / double(e.fTotalEmittedParticles);
        for (int32_t i = 0; i < nI; ++i)
            for (int32_t j = 0; j < nJ; ++j) {
                e.FlxFootprintIJ(i, j, 0) =
                    (factor * e.ratioDetEmitterIJ(i, j, 0)) * e.SourceStrengthIJ(i, j, 0);
                e.ConFootprintIJ(i, j, 0) =
                    (factor * e.ddw_EmitterIJ(i, j, 0)) * e.SourceStrengthIJ(i, j, 0);
                for (int32_t k = 0; k < nK; ++k) {
                    e.FlxFootprintIJK(i, j, k) =
                        (factor * e.ratioDetEmitterIJK(i, j, k)) * e.SourceStrengthIJK(i, j, k);
                    e.ConFootprintIJK(i, j, k) =
                        (factor * e.ddw_EmitterIJK(i, j, k)) * e.SourceStrengthIJK(i, j, k);
                }
            }
        kwd::checkFpFlags("footprint normalisation");
    }

    // 2. Particles in the model per cell. A count of whole particles is the
    // same in any order of its additions, so each chunk of the list adds its
    // particles on a worker, into the shared cells (atomically where there
    // are several chunks). The first particle outside the grid in list
    // order fails, as on one thread.
    e.CurrPosIJK.fill(0.0);
    const tParticleList& list = e.fParticleList;
    const int chunks = kwd::chunkCount(int64_t(list.size()), 16384);
    kwd::forEachChunk(int64_t(list.size()), chunks, [&](int, int64_t begin, int64_t end) {
        for (int64_t n = begin; n < end; ++n) {
            kwd::prefetchAhead(list.data(), size_t(n), list.size());
            const tParticle& p = list[size_t(n)];
            if (!p.fInModel) continue;
            const tPosGrid c = p.fPosGrid;
            if (c.i < 0 || c.j < 0 || c.k < 0 || c.i >= nI || c.j >= nJ || c.k >= nK)
                throw kwd::GeneralError("particle " + std::to_string(n) + " in the model has the cell (" +
                                        std::to_string(c.i) + ", " + std::to_string(c.j) + ", " +
                                        std::to_string(c.k) + ") outside the grid " + gridText(nI, nJ, nK));
            double& count = e.CurrPosIJK(c.i, c.j, c.k);
            if (chunks == 1)
                count += 1.0;
            else
                std::atomic_ref<double>(count).fetch_add(1.0, std::memory_order_relaxed);
        }
    });

    // 3. Grid files (of the described model only: the touchdown model has no
    // first hits to sum).
    const bool described = e.fFootprintModel == tFootprintModel::Described;
    const std::string suffix =
        kwd::regional::fileNameTimeText(e.fActSimTime) + e.fCurrZDXFile->projectname + ".csv";
    const std::pair<const char*, const t3DArrayDouble*> gridFiles[] = {
        {"SourceStrengthIJ_", &e.SourceStrengthIJ},
        {"Sum_1_BY_WEmitter_IJ_", &e.ddw_EmitterIJ},
        {"Sum_WDetec_BY_WEmitter_IJ_", &e.ratioDetEmitterIJ},
        {"FlxFootprintIJ_", &e.FlxFootprintIJ},
        {"ConFootprintIJ_", &e.ConFootprintIJ}};
    if (described)
        for (const auto& [prefix, array] : gridFiles) {
            const t3DArrayDouble& a = *array;  // clang 14 captures no structured binding
            writeGridFile(resultFilePath(e.fOutputDir, prefix + suffix), nI, nJ,
                          [&a](int32_t i, int32_t j) { return a(i, j, 0); });
        }

    if (!e.fverboseLog) return;

    // 4. Output data set.
    checkShape(e.fObject_Ar, "object code", aZDXFile);
    checkShape(e.fuvwX_Ar, "wind u", aZDXFile);
    checkShape(e.fuvwY_Ar, "wind v", aZDXFile);
    checkShape(e.fuvwZ_Ar, "wind w", aZDXFile);
    checkShape(e.fVaporFlx_Ar, "emitter", aZDXFile);

    TZDXFile out;
    out.SimFileState = aZDXFile.SimFileState;
    out.filetype = 2;
    out.fileContent = ckRadiation;
    out.zZeroAtTop = false;
    out.SpatialDimensions = 3;
    out.DataPerVariable = 1;
    out.Title = "Virtual Particles";
    out.SimBaseID = aZDXFile.SimBaseID;
    out.GridsI = nI;
    out.GridsJ = nJ;
    out.GridsK = nK;
    std::string simdate = kwd::regional::shortDate(e.fActSimTime);
    for (char& c : simdate)
        if (c == '/') c = '.';
    out.simdate = simdate;
    out.simtime = kwd::regional::longTime(e.fActSimTime);
    // The touchdown model writes the fields and the particle positions only.
    const int32_t variables = described ? 17 : 7;
    out.numberVars = variables;
    out.nameVars.assign(std::begin(kOutputVariableNames),
                        std::begin(kOutputVariableNames) + variables);
    out.sizedx = aZDXFile.sizedx;
    out.sizedy = aZDXFile.sizedy;
    out.sizedz = aZDXFile.sizedz;
    out.Sunposition = -999.0f;
    out.WindInflow = aZDXFile.WindInflow;
    out.Georef_x = aZDXFile.Georef_x;
    out.Georef_y = aZDXFile.Georef_y;
    out.Locationname = aZDXFile.Locationname;
    out.LocationLatitude = aZDXFile.LocationLatitude;
    out.LocationLongitude = aZDXFile.LocationLongitude;
    out.ModelRotation = aZDXFile.ModelRotation;
    out.Modelversion = aZDXFile.Modelversion;
    out.SimGUID = aZDXFile.SimGUID;
    out.projectname = aZDXFile.projectname;
    out.LicenseHolder = "KWD_PLR";

    // The data file goes to its temporary name first and is renamed into
    // place before the descriptor is written: a descriptor that stands in
    // the folder always has its data beside it, also when the run is killed
    // between the two.
    std::vector<float> block(size_t(ZDTBlockValueCount(nI, nJ, nK)));
    tZDTWriter zdt(aFileName + ".ZDT");
    auto put = [&](auto value) {
        fillBlock(block, nI, nJ, nK, value);
        zdt.WriteBlock(block);
    };
    put([&](int32_t i, int32_t j, int32_t k) { return float(e.fObject_Ar(i, j, k)); });
    put([&](int32_t i, int32_t j, int32_t k) { return e.fuvwX_Ar(i, j, k); });
    put([&](int32_t i, int32_t j, int32_t k) { return e.fuvwY_Ar(i, j, k); });
    put([&](int32_t i, int32_t j, int32_t k) { return e.fuvwZ_Ar(i, j, k); });
    put([&](int32_t i, int32_t j, int32_t k) {
        const double u = e.fuvwX_Ar(i, j, k), v = e.fuvwY_Ar(i, j, k), w = e.fuvwZ_Ar(i, j, k);
        return float(std::sqrt(u * u + v * v + w * w));
    });
    put([&](int32_t i, int32_t j, int32_t k) { return orMissing(e.fVaporFlx_Ar(i, j, k)); });
    const t3DArrayDouble* const results[11] = {
        &e.CurrPosIJK,     &e.SourceStrengthIJ,   &e.SourceStrengthIJK,  &e.ConFootprintIJ,
        &e.ConFootprintIJK, &e.ratioDetEmitterIJ, &e.ratioDetEmitterIJK, &e.FlxFootprintIJ,
        &e.FlxFootprintIJK, &e.ConFootprintIJ,    &e.ConFootprintIJK};
    for (const t3DArrayDouble* a : results) {
        if (!described && a != &e.CurrPosIJK) break;
        put([&](int32_t i, int32_t j, int32_t k) { return orMissing((*a)(i, j, k)); });
    }
    zdt.Close();
    out.WriteFile(aFileName + ".ZDX");
}

}  // namespace kwd::results

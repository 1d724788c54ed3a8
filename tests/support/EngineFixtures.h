#pragma once
// Helpers for tests that need an engine with fields: small data sets written
// to a temporary folder (descriptor in memory, ZDT file on disk), and engines
// whose live fields are filled directly.
//
// Variable positions of a simulation's ZDT file as the engine reads them:
// 0 object code, 1 u, 2 v, 3 w, 13 TKE, 14 dissipation, 22 vapour flux.

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/u_ZDTFile.h"
#include "dataset/u_ZDXFile.h"
#include "engine/u_tParticleManager.h"

#include "support/TempFolder.h"

namespace kwd::test {

// Cell counts and widths of a grid.
struct tTestGrid {
    int32_t I = 0, J = 0, K = 0;
    std::vector<float> dx, dy, dz;
};

inline tTestGrid uniformGrid(int32_t I, int32_t J, int32_t K, float dx = 1.0f, float dy = 1.0f,
                             float dz = 1.0f) {
    return {I,
            J,
            K,
            std::vector<float>(size_t(I), dx),
            std::vector<float>(size_t(J), dy),
            std::vector<float>(size_t(K), dz)};
}

// The quantities of one cell that the engine reads.
struct tCellValues {
    double obj = 0;  // object code as stored in the file (rounded on load)
    float u = 0, v = 0, w = 0;
    float tke = 0, eps = 0;
    float vapor = 0;  // variable 22; as a live field: the emitter field itself
};
using tCellFn = std::function<tCellValues(int32_t i, int32_t j, int32_t k)>;

// Value of variable `var` of cell (i, j, k).
using tVariableFn = std::function<float(int32_t var, int32_t i, int32_t j, int32_t k)>;

// The variables of a simulation's ZDT file from cell values (others 0).
inline tVariableFn flowVariables(tCellFn cells) {
    return [cells](int32_t var, int32_t i, int32_t j, int32_t k) -> float {
        const tCellValues c = cells(i, j, k);
        switch (var) {
            case 0:
                return float(c.obj);
            case 1:
                return c.u;
            case 2:
                return c.v;
            case 3:
                return c.w;
            case 13:
                return c.tke;
            case 14:
                return c.eps;
            case 22:
                return c.vapor;
            default:
                return 0.0f;
        }
    };
}

// A descriptor of the grid for the data set `folder/baseName` (.ZDX, .ZDT).
inline kwd::dataset::TZDXFile makeDescriptor(const tTestGrid& g, const std::string& folder,
                                             const std::string& baseName, const std::string& date,
                                             const std::string& time,
                                             int32_t numberVars = kwd::engine::kEngineVariableCount,
                                             const std::string& project = "TestProject") {
    kwd::dataset::TZDXFile z;
    z.InfoFilename = folder + "/" + baseName + ".ZDX";
    z.DataFilename = folder + "/" + baseName + ".ZDT";
    z.filetype = 1;
    z.fileContent = kwd::dataset::ckAtmosphere;
    z.SpatialDimensions = 3;
    z.GridsI = g.I;
    z.GridsJ = g.J;
    z.GridsK = g.K;
    z.sizedx = g.dx;
    z.sizedy = g.dy;
    z.sizedz = g.dz;
    z.numberVars = numberVars;
    z.DataPerVariable = 1;
    for (int32_t n = 0; n < numberVars; ++n)
        z.nameVars.push_back("Var" + std::to_string(n) + " ( )");
    z.UnitVars.assign(size_t(numberVars), " ");
    z.Title = "Test data set";
    z.simdate = date;
    z.simtime = time;
    z.projectname = project;
    return z;
}

// Writes the ZDT file of a data set (numberVars blocks, i fastest, then j,
// then k) and returns its descriptor (not written as a ZDX file).
inline kwd::dataset::TZDXFile writeDataSet(const std::string& folder, const std::string& baseName,
                                           const tTestGrid& g, const std::string& date,
                                           const std::string& time, const tVariableFn& values,
                                           int32_t numberVars = kwd::engine::kEngineVariableCount,
                                           const std::string& project = "TestProject") {
    kwd::dataset::TZDXFile z = makeDescriptor(g, folder, baseName, date, time, numberVars, project);
    kwd::dataset::tZDTWriter writer(z.DataFilename);
    std::vector<float> block(size_t(g.I) * size_t(g.J) * size_t(g.K));
    for (int32_t var = 0; var < numberVars; ++var) {
        size_t n = 0;
        for (int32_t k = 0; k < g.K; ++k)
            for (int32_t j = 0; j < g.J; ++j)
                for (int32_t i = 0; i < g.I; ++i) block[n++] = values(var, i, j, k);
        writer.WriteBlock(block);
    }
    writer.Close();
    return z;
}

// Writes the ZDX file of a descriptor as well (needs the container writer).
inline void writeDescriptor(const kwd::dataset::TZDXFile& z) { z.WriteFile(z.InfoFilename); }

inline kwd::engine::tDetector detectorBox(double x0, double x1, double y0, double y1, double z0,
                                          double z1) {
    kwd::engine::tDetector d;
    d.xMin = x0;
    d.xMax = x1;
    d.yMin = y0;
    d.yMax = y1;
    d.zMin = z0;
    d.zMax = z1;
    return d;
}

// An engine over one in-memory data set of grid g, its fields allocated, the
// nodes computed, and the live fields (and snapshot) filled from `cells`
// (object codes rounded, code 2 as 1; `vapor` is the emitter field), the
// derived fields updated, fMainLoopIdx 0 and a fixed seed.
inline void fillFields(kwd::engine::tParticleManager& e, const tCellFn& cells) {
    for (int32_t i = 0; i < e.fGridI; ++i)
        for (int32_t j = 0; j < e.fGridJ; ++j)
            for (int32_t k = 0; k < e.fGridK; ++k) {
                const tCellValues c = cells(i, j, k);
                int64_t code = int64_t(std::nearbyint(c.obj));
                e.fObject_Ar(i, j, k) = code == 2 ? 1 : code;
                e.fuvwX_Ar(i, j, k) = c.u;
                e.fuvwY_Ar(i, j, k) = c.v;
                e.fuvwZ_Ar(i, j, k) = c.w;
                e.fTKE_Ar(i, j, k) = c.tke;
                e.fDissipation_Ar(i, j, k) = c.eps;
                e.fVaporFlx_Ar(i, j, k) = c.vapor;
            }
    e.takePeriodSnapshot();
    e.updateDerivedFields();
}

inline std::unique_ptr<kwd::engine::tParticleManager> makeEngine(
    const tTestGrid& g, const tCellFn& cells, const kwd::engine::tDetector& detector = {},
    double minHeight = 0.1, uint64_t seed = 20240601, int64_t batchSize = 1000) {
    std::vector<kwd::dataset::TZDXFile> list;
    list.push_back(
        makeDescriptor(g, "/nonexistent", "MEM_2018-07-01_12.00.01", "01.07.2018", "12:00:00"));
    auto e = std::make_unique<kwd::engine::tParticleManager>(
        true, detector, std::move(list), "/nonexistent", minHeight, 100, batchSize);
    e->fSeed = seed;
    e->allocateFields();
    e->computeNodePositions();
    fillFields(*e, cells);
    e->fMainLoopIdx = 0;
    return e;
}

// A particle at a position, its cell located against the engine's grid,
// ready for the step of interval 0.
inline kwd::engine::tParticle particleAt(const kwd::engine::tParticleManager& e, double x, double y,
                                         double z, int64_t serial = 0, double startTime = 43282.5) {
    kwd::engine::tParticle p;
    p.fPosMeter = {x, y, z};
    p.calcGridFromMeters(e.fGeometry);
    p.fOriginPosMeter = p.fPosMeter;
    p.fOriginPosGrid = p.fPosGrid;
    p.fStartTime = startTime;
    p.fTimeUntilHit = startTime;
    p.fLoopIdx = 0;
    p.fSerialNr = serial;
    return p;
}

}  // namespace kwd::test

// Engine construction, the particle list, the release, the Gaussian sampler
// and the geometric helpers of the particle step.

#include "engine/u_tParticleManager.h"

#include "engine/u_StepKernel.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "platform/DateTime.h"
#include "platform/KwdError.h"
#include "platform/LargeMemory.h"
#include "platform/ParallelChunks.h"

namespace kwd::engine {

using kwd::dataset::TZDXFile;

namespace {

// General number format with up to 15 significant digits, "." as separator.
std::string generalNumber(double v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
    return std::string(buf, res.ptr);
}

}  // namespace

tParticleManager::tParticleManager(bool backwardsMode, const tDetector& aDetectorPos,
                                   std::vector<TZDXFile> ZDXList, const std::string& aOutputDir,
                                   double aMinHeight, int64_t partCntPerInterval,
                                   int64_t batchSize) {
    if (ZDXList.empty()) {
        throw kwd::RunSetupError(
            "the dispersion engine needs at least one data set; the run has none");
    }
    if (batchSize < 1) {
        throw kwd::RunSetupError("the batch size must be at least 1 particle, got " +
                                 std::to_string(batchSize));
    }
    fdt_min_part = 0.0002;
    fOutputDir = aOutputDir;
    fMinHeight = aMinHeight;
    fBackwardsMode = backwardsMode;
    // Latest data set first: the run goes backwards in time.
    fZDXFileList.reserve(ZDXList.size());
    for (auto it = ZDXList.rbegin(); it != ZDXList.rend(); ++it)
        fZDXFileList.push_back(std::move(*it));
    fCurrZDXFile = &fZDXFileList.front();
    fTotalEmittedParticles = 0;
    fTotalParticlesInTarget = 0;
    fDetector = aDetectorPos;
    fPartPerIntervalTarget = partCntPerInterval;
    fBatchSize = batchSize;

    const tDetector& d = fDetector;
    fLogFile.push_back("Detector xMin: " + generalNumber(d.xMin) +
                       " Detector xMax: " + generalNumber(d.xMax) +
                       " Detector yMin: " + generalNumber(d.yMin) +
                       " Detector yMax: " + generalNumber(d.yMax) +
                       " Detector zMin: " + generalNumber(d.zMin) +
                       " Detector zMax: " + generalNumber(d.zMax));
    fLogFile.push_back("Particle Factor: " + std::to_string(fPartPerIntervalTarget));
    fLogFile.push_back("Date;Time;TotalParticles");

    const int32_t nI = fCurrZDXFile->GridsI, nJ = fCurrZDXFile->GridsJ,
                  nK = fCurrZDXFile->GridsK;
    for (t3DArrayDouble* a : footprintAccumulators()) a->resize(nI, nJ, nK, 0.0);
    fMainLoopIdx = -1;
    fSeed = runSeed();
}

tParticleManager::~tParticleManager() = default;

int64_t tParticleManager::getNumberOfParticlesInModel() const {
    // A count per chunk of the list, added up: the same on any number of threads.
    const int64_t count = int64_t(fParticleList.size());
    const int chunks = kwd::chunkCount(count, 16384);
    std::vector<int64_t> inModel(size_t(chunks), 0);
    kwd::forEachChunk(count, chunks, [&](int chunk, int64_t begin, int64_t end) {
        int64_t n = 0;
        for (int64_t p = begin; p < end; ++p) n += fParticleList[size_t(p)].fInModel ? 1 : 0;
        inModel[size_t(chunk)] = n;
    });
    int64_t n = 0;
    for (const int64_t c : inModel) n += c;
    return n;
}

void tParticleManager::UpdateEntries() {
    forgetMovingParticles();
    std::erase_if(fParticleList,
                  [](const tParticle& p) { return !p.fInModel || p.fMetTarget; });
}

double tParticleManager::getModelTime(const TZDXFile& aZDXFile) {
    double t = 0.0;
    if (!kwd::tryParseModelDateTime(aZDXFile.simdate, aZDXFile.simtime, t)) {
        throw kwd::ConversionError("data set " + aZDXFile.InfoFilename + ": model time \"" +
                                   aZDXFile.simdate + " " + aZDXFile.simtime +
                                   "\" does not read as dd.mm.yyyy hh:mm:ss");
    }
    return t;
}

void tParticleManager::releaseParticles(int64_t aCount) {
    if (aCount <= 0) return;
    forgetMovingParticles();
    const double t = getModelTime(*fCurrZDXFile);
    fGeometry = tGridGeometry(*fCurrZDXFile);
    // A box the release refuses fails here, before the list changes.
    const tReleaseBox box(fDetector);
    // Room for the batch. Where the list must move to a larger block, the
    // particles still moving are first moved to a block of their own size,
    // so that the old and the new block together never hold more than the
    // particles of the batch and twice those still moving.
    const size_t needed = fParticleList.size() + size_t(aCount);
    if (needed > fParticleList.capacity()) {
        fParticleList.shrink_to_fit();
        fParticleList.reserve(needed);
    }
    // Each particle draws its position from its own stream (its serial
    // number), so the batch is built on the workers, every particle in its
    // place of the list (the list's resize writes none of them).
    const size_t first = fParticleList.size();
    kwd::touchPagesOnWorkers(fParticleList.data() + first, size_t(aCount) * sizeof(tParticle));
    fParticleList.resize(needed);
    tParticle* batch = fParticleList.data() + first;
    const int64_t firstSerial = fTotalEmittedParticles;
    const auto build = [&](int, int64_t begin, int64_t end) {
        for (int64_t n = begin; n < end; ++n) {
            tParticle& p = batch[n];
            p = tParticle(box, fGeometry, t, fSeed, firstSerial + n);
            p.fLoopIdx = fMainLoopIdx;
            // Released outside the model box: the particle has the outside
            // marker (and is still in the model); here it leaves the model.
            if (p.fPosGrid == kPosGridOutside) p.fInModel = false;
        }
    };
    try {
        kwd::forEachChunk(aCount, kwd::chunkCount(aCount, 4096), build);
    } catch (...) {
        fParticleList.resize(first);  // no batch, rather than one partly written
        throw;
    }
    fTotalEmittedParticles += aCount;
    fPartGen_InLoop += aCount;
}

double tParticleManager::randGauss(double aUpperLimit, tRandomStream& aStream) const {
    if (!(aUpperLimit > 0.0)) {
        // A limit of 0 or below would (almost) never accept a draw.
        throw kwd::GeneralError("randGauss needs a positive limit, got " +
                                generalNumber(aUpperLimit));
    }
    return kwdstep::gauss(aUpperLimit, aStream);
}

double tParticleManager::calc_Distance(const tPosMeter& posMeter, int32_t iGrid, int32_t jGrid,
                                       int32_t kGrid) const {
    const double dx = posMeter.x - fXMidPoint_Ar[size_t(iGrid)];
    const double dy = posMeter.y - fYMidPoint_Ar[size_t(jGrid)];
    const double dz = posMeter.z - fZMidPoint_Ar[size_t(kGrid)];
    const double q = dx * dx + dy * dy + dz * dz;
    // At the node itself the distance is kNodeDistance, so that its reciprocal stays finite.
    return q == 0.0 ? kwdstep::kNodeDistance : std::sqrt(q);
}

uint8_t tParticleManager::CheckEmitter(const tParticle& aParticle) const {
    const tPosGrid& c = aParticle.fPosGrid;
    const int64_t code = fObject_Ar(c.i, c.j, c.k);
    if (code == 0) return kCellNothing;
    if (code == 1) return kCellObstacle;
    return fVaporFlx_Ar(c.i, c.j, c.k) != 0.0f ? kCellTarget : kCellNothing;
}

bool tParticleManager::CheckObstacle(tParticle& aParticle) const {
    aParticle.calcGridFromMeters(fGeometry);
    const tPosGrid& c = aParticle.fPosGrid;
    aParticle.fInObstacle = aParticle.fInModel && fObject_Ar(c.i, c.j, c.k) == 1;
    return aParticle.fInObstacle;
}

tPosMeter tParticleManager::getSmallestCellSize(const TZDXFile& aZDXFile) const {
    auto smallest = [](const std::vector<float>& widths, int32_t n) {
        double m = 999.0;
        const size_t count = std::min(widths.size(), size_t(n > 0 ? n : 0));
        for (size_t c = 0; c < count; ++c)
            if (double(widths[c]) < m) m = double(widths[c]);
        return m;
    };
    return {smallest(aZDXFile.sizedx, aZDXFile.GridsI), smallest(aZDXFile.sizedy, aZDXFile.GridsJ),
            smallest(aZDXFile.sizedz, aZDXFile.GridsK)};
}

double tParticleManager::calc_dt_3d(double vMax_u, double vMax_v, double vMax_w,
                                    const TZDXFile& aZDXFile) const {
    const tPosMeter cell = getSmallestCellSize(aZDXFile);
    // An axis without wind sets no bound; a detector given with its bounds
    // swapped has the same extent.
    auto axis = [](double size, double extent, double speed) {
        const double a = std::fabs(speed);
        if (a == 0.0) return std::numeric_limits<double>::infinity();
        double t = size / a;
        const double td = std::fabs(extent) / a;
        if (td < t) t = td;
        return t;
    };
    const double tx = axis(cell.x, fDetector.xMax - fDetector.xMin, vMax_u);
    const double ty = axis(cell.y, fDetector.yMax - fDetector.yMin, vMax_v);
    const double tz = axis(cell.z, fDetector.zMax - fDetector.zMin, vMax_w);
    return std::min(tx, std::min(ty, tz));
}

}  // namespace kwd::engine

// The memory estimate of a run and the refusal of a run that cannot fit.

#include <gtest/gtest.h>

#include "engine/u_tParticleManager.h"
#include "frontend/u_MemoryEstimate.h"
#include "platform/KwdError.h"

using kwd::engine::tParticle;
using kwd::engine::tSampleCell;

using kwd::frontend::byteSizeText;
using kwd::frontend::checkRunMemory;
using kwd::frontend::engineBytesPerCell;
using kwd::frontend::engineBytesPerParticle;
using kwd::frontend::estimateRunMemory;
using kwd::frontend::memoryEstimateText;
using kwd::frontend::physicalMemoryBytes;
using kwd::frontend::tMemoryEstimate;

using kwd::dataset::TZDXFile;

namespace {

TZDXFile grid(int32_t i, int32_t j, int32_t k) {
    TZDXFile z;
    z.InfoFilename = "/sim/atmosphere/A.ZDX";
    z.GridsI = i, z.GridsJ = j, z.GridsK = k;
    return z;
}

TEST(MemoryEstimate, SizesFollowTheEngine) {
    // At least the live and period fields, the accumulators and the cell record.
    EXPECT_GE(engineBytesPerCell(), int64_t(14 * sizeof(float) + 11 * sizeof(double) +
                                            sizeof(tSampleCell)));
    EXPECT_GT(engineBytesPerParticle(), int64_t(sizeof(tParticle)));
}

TEST(MemoryEstimate, FieldsAndTheParticlesOfAPeriod) {
    const int64_t cell = engineBytesPerCell(), particle = engineBytesPerParticle();
    const int64_t carried = int64_t(sizeof(tParticle));  // copied once when the list grows
    struct Case { int64_t perPeriod, batch, held, moreThanOneBatch; } cases[] = {
        {1000, 1000, 1000, 0},
        {-999, 1000000, 1000000, 0},          // no count: one batch
        {1000000, 1000000, 1000000, 0},
        {1000001, 1000000, 2000000, 1000000},  // whole batches
        {2500000, 1000000, 3000000, 2000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.perPeriod);
        const tMemoryEstimate e = estimateRunMemory(grid(100, 80, 20), c.perPeriod, c.batch);
        EXPECT_EQ(e.cells, 160000);
        EXPECT_EQ(e.fieldBytes, 160000 * cell);
        EXPECT_EQ(e.particles, c.held);
        EXPECT_EQ(e.particleBytes, c.held * particle + c.moreThanOneBatch * carried);
        EXPECT_EQ(e.totalBytes, e.fieldBytes + e.particleBytes);
    }
    // Counts beyond any machine saturate instead of wrapping.
    const tMemoryEstimate huge = estimateRunMemory(grid(2000000, 2000000, 2000000), 1, 1);
    EXPECT_EQ(huge.totalBytes, std::numeric_limits<int64_t>::max());
}

TEST(MemoryEstimate, ARunThatCannotFitIsRefused) {
    const TZDXFile z = grid(1000, 1000, 100);
    const tMemoryEstimate e = estimateRunMemory(z, 1000000, 1000000);
    EXPECT_NO_THROW(checkRunMemory(e, z, e.totalBytes));
    EXPECT_NO_THROW(checkRunMemory(e, z, 0));  // unknown
    try {
        checkRunMemory(e, z, 16000000000);
        FAIL() << "no error";
    } catch (const kwd::RunSetupError& err) {
        EXPECT_EQ(std::string(err.what()),
                  "the run needs about " + memoryEstimateText(e, z) +
                      "; the machine has 16.0 GB of memory (data set /sim/atmosphere/A.ZDX)");
        EXPECT_EQ(memoryEstimateText(e, z).find(byteSizeText(e.totalBytes) +
                                                " (fields of 1000 x 1000 x 100 cells "),
                  0u);
    }
    EXPECT_GT(physicalMemoryBytes(), 0);
}

TEST(MemoryEstimate, SizeText) {
    struct Case { int64_t bytes; const char* text; } cases[] = {
        {0, "0 bytes"}, {999, "999 bytes"}, {1000, "1.0 kB"}, {1949, "1.9 kB"},
        {999949, "999.9 kB"}, {999950, "1.0 MB"}, {27100000000, "27.1 GB"},
        {std::numeric_limits<int64_t>::max(), "9.2 EB"},
    };
    for (const Case& c : cases) EXPECT_EQ(byteSizeText(c.bytes), c.text) << c.bytes;
}

}  // namespace

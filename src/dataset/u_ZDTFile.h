#pragma once
// The ZDT data file of a data set: a headerless stream of 32-bit IEEE floats
// in little-endian byte order, one block per variable in the order of the
// descriptor's nameVars. Within a block i runs fastest, then j, then k
// (k = 0 the lowest layer): value (i, j, k) is at index i + nI * (j + nJ * k).
// Block n starts at byte 4 * n * nI * nJ * nK.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kwd::dataset {

// Number of values of one block, nI * nJ * nK. Raises kwd::InputError when a
// count is zero or negative or the product does not fit 32 bits.
int64_t ZDTBlockValueCount(int32_t nI, int32_t nJ, int32_t nK);

// Index of cell (i, j, k) within a block.
inline int64_t ZDTValueIndex(int32_t i, int32_t j, int32_t k, int32_t nI, int32_t nJ) {
    return int64_t(i) + int64_t(nI) * (int64_t(j) + int64_t(nJ) * int64_t(k));
}

// Reads block `varPosition` (0 = first variable) of the ZDT file `path` into
// `out`, whose size must be nI * nJ * nK (kwd::GeneralError otherwise). The
// block is read in one piece. A file that is missing or too short for the
// block, a negative position or bad counts raise kwd::InputError naming the
// file, the position and the sizes.
void ReadZDTBlock(const std::string& path, int32_t varPosition, int32_t nI, int32_t nJ,
                  int32_t nK, std::span<float> out);
std::vector<float> ReadZDTBlock(const std::string& path, int32_t varPosition, int32_t nI,
                                int32_t nJ, int32_t nK);

// Writes a ZDT file block by block. The values go to a temporary file beside
// `path`, which Close() renames into place; a writer destroyed before Close()
// removes the temporary file, so an interrupted write never leaves a
// truncated file where a complete one stood. Failures raise kwd::FileError.
class tZDTWriter {
public:
    explicit tZDTWriter(const std::string& path);
    ~tZDTWriter();
    tZDTWriter(const tZDTWriter&) = delete;
    tZDTWriter& operator=(const tZDTWriter&) = delete;

    // Appends the values (one variable's block) in file byte order.
    void WriteBlock(std::span<const float> values);
    // Flushes, closes and renames the file into place. Idempotent.
    void Close();

    const std::string& path() const { return fPath; }
    int64_t bytesWritten() const { return fBytesWritten; }

private:
    std::string fPath;
    std::string fTempPath;
    int fFd = -1;
    int64_t fBytesWritten = 0;
    std::vector<unsigned char> fScratch;
};

}  // namespace kwd::dataset

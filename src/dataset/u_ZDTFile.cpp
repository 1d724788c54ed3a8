#include "dataset/u_ZDTFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "platform/FileIO.h"
#include "platform/KwdError.h"

namespace kwd::dataset {

namespace {

static_assert(sizeof(float) == 4 && std::numeric_limits<float>::is_iec559,
              "ZDT files hold 32-bit IEEE floats");

constexpr bool kFileOrderIsNative = std::endian::native == std::endian::little;

// Reverses the bytes of every 4-byte value in place (file order <-> native
// order on a big-endian machine).
[[maybe_unused]] void swapWords(unsigned char* p, size_t words) {
    for (size_t n = 0; n < words; ++n, p += 4) {
        std::swap(p[0], p[3]);
        std::swap(p[1], p[2]);
    }
}

std::string gridText(int32_t nI, int32_t nJ, int32_t nK) {
    return std::to_string(nI) + " x " + std::to_string(nJ) + " x " + std::to_string(nK);
}

// Whether a block of nI x nJ x nK values has counts above 0 and at most
// 2^31 - 1 values. The product is formed in two steps, each checked, so that
// no count overflows it (three counts of 2^21 would make 2^63).
bool blockCountsFit(int32_t nI, int32_t nJ, int32_t nK) {
    if (nI <= 0 || nJ <= 0 || nK <= 0) return false;
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    const int64_t layer = int64_t(nI) * int64_t(nJ);  // below 2^62
    return layer <= kMax && layer * int64_t(nK) <= kMax;
}

// Byte range of a block, checked against the counts and the position.
struct BlockRange {
    int64_t values;
    int64_t offset;
    int64_t bytes;
};

BlockRange blockRange(const std::string& path, int32_t varPosition, int32_t nI, int32_t nJ,
                      int32_t nK) {
    if (!blockCountsFit(nI, nJ, nK))
        throw kwd::InputError("ZDT file \"" + path + "\": invalid grid " + gridText(nI, nJ, nK) +
                              " for variable position " + std::to_string(varPosition));
    if (varPosition < 0)
        throw kwd::InputError("ZDT file \"" + path + "\": invalid variable position " +
                              std::to_string(varPosition));
    const int64_t values = int64_t(nI) * nJ * nK;
    const int64_t bytes = 4 * values;
    return {values, bytes * varPosition, bytes};
}

}  // namespace

int64_t ZDTBlockValueCount(int32_t nI, int32_t nJ, int32_t nK) {
    if (!blockCountsFit(nI, nJ, nK))
        throw kwd::InputError("invalid ZDT grid " + gridText(nI, nJ, nK));
    return int64_t(nI) * nJ * nK;
}

namespace {

// An open ZDT file checked to hold the whole block; closes itself.
class tOpenBlock {
public:
    tOpenBlock(const std::string& path, int32_t varPosition, int32_t nI, int32_t nJ, int32_t nK)
        : fRange(blockRange(path, varPosition, nI, nJ, nK)),
          fWhere("ZDT file \"" + path + "\", variable position " + std::to_string(varPosition) +
                 ", grid " + gridText(nI, nJ, nK)) {
        const int64_t needed = fRange.offset + fRange.bytes;
        fFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fFd < 0) {
            const int err = errno;
            throw kwd::InputError(fWhere + ": cannot open file (" + kwd::systemReason(err) +
                                  "); expected at least " + std::to_string(needed) + " bytes");
        }
        struct stat st{};
        if (::fstat(fFd, &st) != 0) {
            const int err = errno;
            ::close(fFd);
            throw kwd::InputError(fWhere + ": cannot read file size (" + kwd::systemReason(err) +
                                  ")");
        }
        if (int64_t(st.st_size) < needed) {
            ::close(fFd);
            throw kwd::InputError(fWhere + ": file too short: expected at least " +
                                  std::to_string(needed) + " bytes, found " +
                                  std::to_string(int64_t(st.st_size)));
        }
    }
    ~tOpenBlock() { ::close(fFd); }
    tOpenBlock(const tOpenBlock&) = delete;
    tOpenBlock& operator=(const tOpenBlock&) = delete;

    int64_t values() const { return fRange.values; }

    // Reads the whole block into `dst` (room for values() floats).
    void readInto(float* out) const {
        auto* dst = reinterpret_cast<unsigned char*>(out);
        int64_t done = 0;
        while (done < fRange.bytes) {
            const ssize_t n = ::pread(fFd, dst + done, size_t(fRange.bytes - done),
                                      off_t(fRange.offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                const int err = n < 0 ? errno : 0;
                throw kwd::InputError(fWhere + ": read failed after " + std::to_string(done) +
                                      " of " + std::to_string(fRange.bytes) + " bytes" +
                                      (err ? " (" + kwd::systemReason(err) + ")" : std::string()));
            }
            done += n;
        }
        if constexpr (!kFileOrderIsNative) swapWords(dst, size_t(fRange.values));
    }

private:
    BlockRange fRange;
    std::string fWhere;
    int fFd = -1;
};

}  // namespace

void ReadZDTBlock(const std::string& path, int32_t varPosition, int32_t nI, int32_t nJ,
                  int32_t nK, std::span<float> out) {
    const BlockRange r = blockRange(path, varPosition, nI, nJ, nK);
    if (int64_t(out.size()) != r.values)
        throw kwd::GeneralError("ZDT block of \"" + path + "\" needs room for " +
                                std::to_string(r.values) + " values, got " +
                                std::to_string(out.size()));
    const tOpenBlock block(path, varPosition, nI, nJ, nK);
    block.readInto(out.data());
}

std::vector<float> ReadZDTBlock(const std::string& path, int32_t varPosition, int32_t nI,
                                int32_t nJ, int32_t nK) {
    // The file is checked before the vector is allocated, so bogus counts
    // cannot ask for more memory than the file holds.
    const tOpenBlock block(path, varPosition, nI, nJ, nK);
    std::vector<float> values(size_t(block.values()));
    block.readInto(values.data());
    return values;
}

tZDTWriter::tZDTWriter(const std::string& path) : fPath(path), fTempPath(path + ".tmp~") {
    kwd::refuseLink(fPath, "cannot replace file");
    fFd = kwd::createTemporaryFile(fTempPath, fPath);
}

tZDTWriter::~tZDTWriter() {
    if (fFd >= 0) {
        ::close(fFd);
        ::unlink(fTempPath.c_str());
    }
}

void tZDTWriter::WriteBlock(std::span<const float> values) {
    if (fFd < 0) throw kwd::FileError("ZDT file \"" + fPath + "\" is already closed");
    const unsigned char* src = reinterpret_cast<const unsigned char*>(values.data());
    const size_t bytes = values.size() * 4;
    if constexpr (!kFileOrderIsNative) {
        fScratch.assign(src, src + bytes);
        swapWords(fScratch.data(), values.size());
        src = fScratch.data();
    }
    size_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::write(fFd, src + done, bytes - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fFd);
            fFd = -1;
            ::unlink(fTempPath.c_str());
            throw kwd::FileError("cannot write file \"" + fPath + "\": " + kwd::systemReason(err));
        }
        done += size_t(n);
    }
    fBytesWritten += int64_t(bytes);
}

void tZDTWriter::Close() {
    if (fFd < 0) return;
    const int fd = fFd;
    fFd = -1;
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(fTempPath.c_str());
        throw kwd::FileError("cannot write file \"" + fPath + "\": " + kwd::systemReason(err));
    }
    if (::rename(fTempPath.c_str(), fPath.c_str()) != 0) {
        const int err = errno;
        ::unlink(fTempPath.c_str());
        throw kwd::FileError("cannot replace file \"" + fPath + "\": " + kwd::systemReason(err));
    }
}

}  // namespace kwd::dataset

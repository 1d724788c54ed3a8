#include "platform/LargeMemory.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <new>

#include "platform/ParallelChunks.h"

namespace kwd {

void adviseHugePages(const void* begin, size_t bytes) {
    constexpr uintptr_t kHugePage = kHugePageBytes;
    if (bytes < kHugePagesFromBytes) return;
    const uintptr_t first = (reinterpret_cast<uintptr_t>(begin) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t last = (reinterpret_cast<uintptr_t>(begin) + bytes) & ~(kHugePage - 1);
    if (last <= first) return;
#ifdef MADV_HUGEPAGE
    // Only a hint: where the system refuses it, the block keeps small pages.
    (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

void* allocateOnHugePages(size_t bytes) {
    const size_t whole = (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
    void* block = std::aligned_alloc(kHugePageBytes, whole);
    if (block == nullptr) throw std::bad_alloc();
    adviseHugePages(block, whole);
    return block;
}

void touchPagesOnWorkers(void* begin, size_t bytes) {
    constexpr int64_t kPage = 4096;
    char* const first = static_cast<char*>(begin);
    const int64_t pages = (int64_t(bytes) + kPage - 1) / kPage;
    // 512 small pages make one huge page: a share of fewer is not worth a worker.
    forEachChunk(pages, chunkCount(pages, 512), [&](int, int64_t from, int64_t to) {
        for (int64_t p = from; p < to; ++p) {
            // Volatile, so that the stores into storage nobody reads stay.
            volatile char* at = first + p * kPage;  // below first + bytes: p < pages
            *at = 0;
        }
    });
}

}  // namespace kwd

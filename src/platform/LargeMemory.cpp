#include "platform/LargeMemory.h"

#include <sys/mman.h>

#include <cstdint>

namespace kwd {

void adviseHugePages(const void* begin, size_t bytes) {
    constexpr uintptr_t kHugePage = uintptr_t(2) << 20;
    if (bytes < 4 * kHugePage) return;
    const uintptr_t first = (reinterpret_cast<uintptr_t>(begin) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t last = (reinterpret_cast<uintptr_t>(begin) + bytes) & ~(kHugePage - 1);
    if (last <= first) return;
#ifdef MADV_HUGEPAGE
    // Only a hint: where the system refuses it, the block keeps small pages.
    (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

}  // namespace kwd

#pragma once
// Large blocks of memory that are written and read all over (the particle
// list): the system is asked to back them with huge pages where it can, so
// that their first use faults a few hundred pages rather than tens of
// thousands of small ones and random reads miss the address cache less.

#include <cstddef>
#include <vector>

namespace kwd {

// A hint for the whole pages inside [begin, begin + bytes); nothing happens
// where the system has no such pages or the block is small. Changes no byte.
void adviseHugePages(const void* begin, size_t bytes);

// Writes a zero byte into every page of [begin, begin + bytes), the pages
// cut into one contiguous share per OpenMP worker: the system finds and
// clears a block's pages at their first write, and this spreads that work
// over the workers rather than leaving it to whoever writes first. Only for
// storage that holds no object yet (the room a list has reserved).
void touchPagesOnWorkers(void* begin, size_t bytes);

// Room for n elements in v; a new block is hinted as above before any of
// it is used, so that the first use of a large working list faults a few
// huge pages, and its room past the elements (from a megabyte) is touched
// on the workers: the faults of fresh memory would otherwise be paid on the
// thread that fills the list, most often the main one.
template <typename T>
void reserveLarge(std::vector<T>& v, size_t n) {
    if (n <= v.capacity()) return;
    v.reserve(n);
    adviseHugePages(v.data(), v.capacity() * sizeof(T));
    constexpr size_t kTouchFrom = size_t(1) << 20;
    const size_t room = (v.capacity() - v.size()) * sizeof(T);
    if (room >= kTouchFrom) touchPagesOnWorkers(v.data() + v.size(), room);
}

// A scan of a list of large records that reads a cache line or two of
// each (a pass over the particle list: 304-byte records) keeps ahead of
// the memory with a prefetch of the record kScanAhead places on; the
// stride of such records is one the hardware does not follow well.
constexpr size_t kScanAhead = 16;
template <typename T>
inline void prefetchAhead(const T* data, size_t n, size_t size) {
    if (n + kScanAhead < size) __builtin_prefetch(data + n + kScanAhead);
}

}  // namespace kwd

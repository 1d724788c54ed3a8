#pragma once
// Large blocks of memory that are written and read all over (the particle
// list): the system is asked to back them with huge pages where it can, so
// that their first use faults a few hundred pages rather than tens of
// thousands of small ones and random reads miss the address cache less.

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace kwd {

// The huge page of x86-64, and the least block that is hinted for them or
// given whole ones: a list of a million 8-byte indices (8,000,000 bytes)
// holds three whole huge pages.
constexpr size_t kHugePageBytes = size_t(2) << 20;
constexpr size_t kHugePagesFromBytes = 2 * kHugePageBytes;

// A hint for the whole pages inside [begin, begin + bytes); nothing happens
// where the system has no such pages or the block is small. Changes no byte.
void adviseHugePages(const void* begin, size_t bytes);

// Writes a zero byte into every page of [begin, begin + bytes), the pages
// cut into one contiguous share per OpenMP worker: the system finds and
// clears a block's pages at their first write, and this spreads that work
// over the workers rather than leaving it to whoever writes first. Only for
// storage that holds no object yet (the room a list has reserved).
void touchPagesOnWorkers(void* begin, size_t bytes);

// A block of at least `bytes` bytes (freed with std::free) that starts on a
// huge page and ends on one, hinted as above; std::bad_alloc where there is
// no room.
void* allocateOnHugePages(size_t bytes);

// The allocator of large working lists: a block of kHugePagesFromBytes or
// more comes from allocateOnHugePages, so that its first use faults whole huge
// pages only (a block from the heap starts anywhere, and the small pages at
// its ends, up to a thousand, would each be faulted: on some hosts that
// costs more than the list's work); a smaller one comes from the heap.
template <typename T>
struct tLargeAllocator {
    using value_type = T;

    tLargeAllocator() = default;
    template <typename U>
    tLargeAllocator(const tLargeAllocator<U>&) noexcept {}
    T* allocate(size_t n) {
        if (n > size_t(-1) / sizeof(T)) throw std::bad_array_new_length();
        if (n * sizeof(T) >= kHugePagesFromBytes)
            return static_cast<T*>(allocateOnHugePages(n * sizeof(T)));
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, size_t n) noexcept {
        if (n * sizeof(T) >= kHugePagesFromBytes)
            std::free(p);
        else
            std::allocator<T>().deallocate(p, n);
    }
    friend bool operator==(const tLargeAllocator&, const tLargeAllocator&) { return true; }
};
template <typename T>
using tLargeVector = std::vector<T, tLargeAllocator<T>>;

// tLargeAllocator for a list whose owner writes the elements that resize()
// adds itself, on the workers: resize() (and any construction without
// arguments) leaves them unwritten, where std::vector would write each one
// first on the calling thread. Every other construction is as usual. Only
// for a trivially copyable T (any bytes are storage it may write over).
template <typename T>
struct tLargeRoomAllocator : tLargeAllocator<T> {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

    tLargeRoomAllocator() = default;
    template <typename U>
    tLargeRoomAllocator(const tLargeRoomAllocator<U>&) noexcept {}
    template <typename U>
    void construct(U*) noexcept {}
    template <typename U, typename... A>
    void construct(U* p, A&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(args)...);
    }
};

// Room for n elements in v (a large block lies on whole huge pages, see
// tLargeAllocator), its room past the elements (from a megabyte) touched
// on the workers: the faults of fresh memory would otherwise be paid on the
// thread that fills the list, most often the main one.
template <typename T>
void reserveLarge(tLargeVector<T>& v, size_t n) {
    if (n <= v.capacity()) return;
    v.reserve(n);
    constexpr size_t kTouchFrom = size_t(1) << 20;
    const size_t room = (v.capacity() - v.size()) * sizeof(T);
    if (room >= kTouchFrom) touchPagesOnWorkers(v.data() + v.size(), room);
}

// Room for records of a trivial type T, left unwritten, its start and
// length on whole huge pages that are hinted as above: of a large scratch
// block written piece by piece, only the huge pages written are ever
// faulted. (A block from the heap starts anywhere, and the small pages at
// its ends, up to a thousand, would each be faulted.) Kept from one use to
// the next, the pages are faulted at the first use only.
template <typename T>
class tScratchArray {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    tScratchArray() = default;
    ~tScratchArray() { std::free(fData); }
    tScratchArray(const tScratchArray&) = delete;
    tScratchArray& operator=(const tScratchArray&) = delete;
    // Room for at least `count` records; what the room held is lost when it
    // has to grow.
    void ensure(size_t count) {
        if (count <= fCapacity && fData != nullptr) return;
        std::free(fData);
        fData = nullptr;
        fCapacity = 0;
        const size_t bytes = std::max<size_t>(count, 1) * sizeof(T);
        fData = static_cast<T*>(allocateOnHugePages(bytes));
        fCapacity = count;
    }
    T* data() { return fData; }

private:
    T* fData = nullptr;
    size_t fCapacity = 0;
};

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

#pragma once
// Loops over an index range on the OpenMP workers whose results do not
// depend on the number of threads: the range is cut into contiguous chunks,
// each chunk's results are kept apart (indexed by chunk) and the caller
// combines them in chunk order, which is the order of the range; or it is
// cut into blocks whose results are handed on in block order as they are
// ready.
// Floating-point flags raised in a chunk are raised on the calling thread
// after the loop, so that numeric work tests them there as it would after a
// loop of its own (the flags are per thread).

#include <omp.h>

#include <cfenv>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <vector>

namespace kwd {

// How many chunks to cut `count` items into: one per worker thread, but
// none of fewer than `minItems` items (a short range stays on the calling
// thread); at least 1.
inline int chunkCount(int64_t count, int64_t minItems) {
    const int64_t threads = std::max(omp_get_max_threads(), 1);
    const int64_t bySize = std::max<int64_t>(count / std::max<int64_t>(minItems, 1), 1);
    return int(std::min(threads, bySize));
}

// First item of chunk c of `chunks` over `count` items (c == chunks: count).
inline int64_t chunkBegin(int64_t count, int chunks, int c) {
    const int64_t share = count / chunks, rest = count % chunks;
    return share * c + std::min<int64_t>(c, rest);  // the first `rest` chunks one longer
}

// Calls body(c, first, last) for every chunk c of [0, count), the chunks on
// the worker threads. Where chunks fail, the error of the lowest chunk is
// raised after every chunk has ended: the error the loop in order would
// have met first.
template <typename F>
void forEachChunk(int64_t count, int chunks, F&& body) {
    constexpr int kFlags = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;
    int flags = std::fetestexcept(kFlags);
    std::vector<std::exception_ptr> errors(size_t(std::max(chunks, 1)));
#pragma omp parallel for schedule(static, 1) reduction(| : flags) if (chunks > 1)
    for (int c = 0; c < chunks; ++c) {
        std::feclearexcept(kFlags);
        try {
            body(c, chunkBegin(count, chunks, c), chunkBegin(count, chunks, c + 1));
        } catch (...) {
            errors[size_t(c)] = std::current_exception();
        }
        flags |= std::fetestexcept(kFlags);
    }
    if (flags != 0) std::feraiseexcept(flags);
    for (const std::exception_ptr& e : errors)
        if (e) std::rethrow_exception(e);
}

// Calls work(state, b) for every block b of [0, blocks) on `threads` worker
// threads (block b on worker b % threads), each worker with a State of its
// own, and after it inOrder(state, b) with the same state, one block after
// the other in block order: the workers go on with their next blocks while
// one block is handed on (to a file, say). Where work or inOrder of a block
// fails, inOrder is called for no later block, and the error of that block
// is raised after the loop: the error the loop in order would have met.
template <typename State, typename W, typename O>
void forEachBlockInOrder(int64_t blocks, int threads, W&& work, O&& inOrder) {
    if (threads <= 1) {
        State state;
        for (int64_t b = 0; b < blocks; ++b) {
            work(state, b);
            inOrder(state, b);
        }
        return;
    }
    constexpr int kFlags = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;
    int flags = std::fetestexcept(kFlags);
    std::exception_ptr error;  // read and written in block order only
#pragma omp parallel num_threads(threads) reduction(| : flags)
    {
        std::feclearexcept(kFlags);
        State state;
#pragma omp for ordered schedule(static, 1)
        for (int64_t b = 0; b < blocks; ++b) {
            std::exception_ptr failed;
            try {
                work(state, b);
            } catch (...) {
                failed = std::current_exception();
            }
#pragma omp ordered
            {
                if (!error) {
                    try {
                        if (failed) std::rethrow_exception(failed);
                        inOrder(state, b);
                    } catch (...) {
                        error = std::current_exception();
                    }
                }
            }
        }
        flags |= std::fetestexcept(kFlags);
    }
    if (flags != 0) std::feraiseexcept(flags);
    if (error) std::rethrow_exception(error);
}

}  // namespace kwd

#pragma once
// Large blocks of memory that are written and read all over (the particle
// list): the system is asked to back them with huge pages where it can, so
// that their first use faults a few hundred pages rather than tens of
// thousands of small ones and random reads miss the address cache less.

#include <cstddef>

namespace kwd {

// A hint for the whole pages inside [begin, begin + bytes); nothing happens
// where the system has no such pages or the block is small. Changes no byte.
void adviseHugePages(const void* begin, size_t bytes);

}  // namespace kwd

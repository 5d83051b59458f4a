#pragma once

#include <cstdint>

// Counts heap allocations (malloc and friends, and so every operator new) made by threads that
// asked to be watched. The counting replaces the C library's allocator entry points for the
// whole benchmark process.
namespace alloccount {

// The calling thread's allocations count from now on.
void watchThisThread();
void unwatchThisThread();
std::uint64_t count();
void reset();

}  // namespace alloccount

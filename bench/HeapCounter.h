#ifndef SELVANE_BENCH_HEAPCOUNTER_H_
#define SELVANE_BENCH_HEAPCOUNTER_H_

#include <cstddef>

// Counts the process's heap bytes in use, StormLib's and TinyXML's
// allocations included: the benchmark replaces malloc and friends. Not
// available under AddressSanitizer, which owns the allocator.
namespace heap {

bool Available();
std::size_t InUse();
// Starts a new peak measurement from the bytes in use now.
void ResetPeak();
std::size_t Peak();

}  // namespace heap

#endif  // SELVANE_BENCH_HEAPCOUNTER_H_

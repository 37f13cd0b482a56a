// The host allocator's tracking and failure injection, for tests and benchmarks.
#pragma once

#include <string>

#include "kwhost/types.h"

namespace kwhost::memory {

/// Allocations made since the process started (successful or failed).
LLONG AllocationCount();
/// Blocks allocated and not yet freed.
LLONG LiveBlocks();
/// Blocks allocated under `sourceTag` and not yet freed.
LLONG LiveBlocks(const std::string& sourceTag);
/// Bytes in live blocks.
LLONG LiveBytes();
/// Makes the n-th allocation from now fail (1 = the next one); 0 cancels.
void FailAllocation(LLONG n);
/// Makes every allocation from the n-th from now on fail; 0 cancels.
void FailAllocationsFrom(LLONG n);

/// While alive, counts the allocations made; restores no state.
class AllocationCounter {
 public:
  AllocationCounter() : start_(AllocationCount()) {}
  LLONG Count() const { return AllocationCount() - start_; }

 private:
  LLONG start_;
};

}  // namespace kwhost::memory

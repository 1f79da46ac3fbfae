#pragma once
// How many bytes the program asks of the heap between two points, for tests that tell
// reading what a file holds from reserving what it merely declares. The test executable
// that includes this replaces operator new (allocation_count.cpp) to keep the count.

#include <cstddef>

namespace kerbilo::testing {

std::size_t allocatedSoFar();

class AllocationCount {
  public:
    AllocationCount() : start_(allocatedSoFar()) {}
    std::size_t bytes() const { return allocatedSoFar() - start_; }

  private:
    std::size_t start_;
};

}  // namespace kerbilo::testing

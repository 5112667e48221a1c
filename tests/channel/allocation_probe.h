#pragma once

// Records the largest single request made to the global operator new while a probe is alive, so
// a test can show that a decoder refused to allocate for a size it was only told about.

#include <cstddef>

namespace pelmora_test {

class AllocationProbe {
 public:
  AllocationProbe();
  ~AllocationProbe();

  AllocationProbe(const AllocationProbe&) = delete;
  AllocationProbe& operator=(const AllocationProbe&) = delete;

  // The largest size requested from operator new since this probe was created.
  size_t LargestRequest() const;
};

}  // namespace pelmora_test

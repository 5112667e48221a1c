#pragma once

// Records the requests made to the global operator new while a probe is alive, so a test can show
// that a decoder refused to allocate for a size it was only told about, or that an encoder did
// not copy the value it was given.

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

  // The sum of all sizes requested from operator new since this probe was created.
  size_t TotalRequested() const;
};

}  // namespace pelmora_test

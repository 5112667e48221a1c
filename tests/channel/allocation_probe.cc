#include "tests/channel/allocation_probe.h"

#include <atomic>
#include <cstdlib>
#include <new>

// Replacing the global allocation functions is the only way to see every allocation that the
// standard containers make; the replacements only take note of the size and defer to malloc.

namespace {

std::atomic<bool> g_probing{false};
std::atomic<size_t> g_largest_request{0};
std::atomic<size_t> g_total_requested{0};

void NoteRequest(size_t size) {
  if (!g_probing.load(std::memory_order_relaxed)) {
    return;
  }
  g_total_requested.fetch_add(size, std::memory_order_relaxed);
  size_t largest = g_largest_request.load(std::memory_order_relaxed);
  while (size > largest && !g_largest_request.compare_exchange_weak(largest, size, std::memory_order_relaxed)) {
  }
}

}  // namespace

void* operator new(size_t size) {
  NoteRequest(size);
  if (void* memory = std::malloc(size == 0 ? 1 : size)) {
    return memory;
  }
  throw std::bad_alloc();
}

void* operator new[](size_t size) {
  return ::operator new(size);
}

void operator delete(void* memory) noexcept {
  std::free(memory);
}

void operator delete[](void* memory) noexcept {
  std::free(memory);
}

void operator delete(void* memory, size_t) noexcept {
  std::free(memory);
}

void operator delete[](void* memory, size_t) noexcept {
  std::free(memory);
}

namespace pelmora_test {

AllocationProbe::AllocationProbe() {
  g_largest_request.store(0);
  g_total_requested.store(0);
  g_probing.store(true);
}

AllocationProbe::~AllocationProbe() {
  g_probing.store(false);
}

size_t AllocationProbe::LargestRequest() const {
  return g_largest_request.load();
}

size_t AllocationProbe::TotalRequested() const {
  return g_total_requested.load();
}

}  // namespace pelmora_test

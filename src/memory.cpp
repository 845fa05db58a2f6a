#include "memory.hpp"

#include <oneapi/tbb/scalable_allocator.h>

#include <cstddef>
#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace gy {
namespace {

// Freed blocks past this size are kept by the allocator for reuse instead of going back to the
// system at once.
constexpr std::intptr_t kKeptBlockBytes = std::intptr_t{1} << 20;

// A large page, and the size from which a block is laid out in whole large pages.
constexpr std::size_t kLargePage = std::size_t{1} << 21;
constexpr std::size_t kLargeBlock = 2 * kLargePage;

bool configure_allocator() {
  scalable_allocation_mode(TBBMALLOC_SET_HUGE_SIZE_THRESHOLD, kKeptBlockBytes);
  return true;
}

}  // namespace

void* allocate_bytes(std::size_t bytes) {
  static const bool configured = configure_allocator();
  (void)configured;
  // A large block starts and ends on large pages, so that every page of it can be a large one.
  const bool large = bytes >= kLargeBlock && bytes <= SIZE_MAX - kLargePage;
  const std::size_t size = large ? (bytes + kLargePage - 1) & ~(kLargePage - 1) : bytes ? bytes : 1;
  void* p = scalable_aligned_malloc(size, large ? kLargePage : 64);
  if (!p) throw std::bad_alloc();
  prefer_large_pages(p, size);
  return p;
}

void release_bytes(void* block) noexcept {
  if (block) scalable_aligned_free(block);
}

void prefer_large_pages(void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t large = kLargePage;
  if (bytes < kLargeBlock) return;
  auto begin = reinterpret_cast<std::uintptr_t>(data), end = begin + bytes;
  std::uintptr_t first = (begin + large - 1) & ~(large - 1), last = end & ~(large - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace gy

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

#include "memory.hpp"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace gy {
namespace {

#if defined(__linux__)
// How many pages of [data, data + bytes) are in memory.
std::size_t resident_pages(const void* data, std::size_t bytes) {
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<std::uintptr_t>(data) & ~(page - 1);
  const std::size_t span = reinterpret_cast<std::uintptr_t>(data) + bytes - begin;
  std::vector<unsigned char> in((span + page - 1) / page);
  if (mincore(reinterpret_cast<void*>(begin), span, in.data()) != 0) return 0;
  std::size_t n = 0;
  for (unsigned char c : in) n += c & 1;
  return n;
}
#endif

TEST(PageWarmer, BacksPagesWithoutChangingThem) {
  constexpr std::size_t kBytes = std::size_t{16} << 20;
  Block<std::uint8_t> block(kBytes);
  std::uint8_t* data = block.data();
  for (std::size_t k = 0; k < kBytes / 2; ++k) data[k] = static_cast<std::uint8_t>(k * 7 + 1);
  PageWarmer warmer;
  warmer.warm(data, kBytes);
  // Written while the warmer backs the same pages.
  for (std::size_t k = kBytes / 2; k < kBytes; ++k) data[k] = static_cast<std::uint8_t>(k * 7 + 1);
  warmer.stop();
  for (std::size_t k = 0; k < kBytes; ++k) ASSERT_EQ(data[k], static_cast<std::uint8_t>(k * 7 + 1)) << k;
}

#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
TEST(PageWarmer, FreshMemoryIsBackedAheadOfItsWrites) {
  constexpr std::size_t kBytes = std::size_t{8} << 20;
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  Block<std::uint8_t> block(kBytes);
  if (madvise(block.data(), page, MADV_POPULATE_WRITE) != 0) GTEST_SKIP() << "the system cannot back pages ahead";
  PageWarmer warmer;
  warmer.warm(block.data(), kBytes);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  std::size_t now = 0;
  while ((now = resident_pages(block.data(), kBytes)) * page < kBytes && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(now * page, kBytes);
}
#endif

TEST(PageWarmer, StoppingDropsWhatIsQueued) {
  // Many ranges queued, then stopped and released at once: stop waits for the piece in hand only,
  // and a stopped warmer, moved or replaced, still takes new ranges.
  std::vector<Block<std::uint8_t>> blocks;
  PageWarmer warmer;
  for (int k = 0; k < 32; ++k) {
    blocks.emplace_back(std::size_t{1} << 20);
    warmer.warm(blocks.back().data(), blocks.back().size());
  }
  warmer.stop();
  blocks.clear();
  Block<std::uint8_t> later(std::size_t{4} << 20);
  warmer.warm(later.data(), later.size());
  PageWarmer moved = std::move(warmer);
  moved = PageWarmer();
  later.data()[0] = 5;
  EXPECT_EQ(later.data()[0], 5);
}

}  // namespace
}  // namespace gy

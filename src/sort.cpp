#include "sort.hpp"

#include <limits>

namespace gy {
namespace {

constexpr std::size_t kInsertionLimit = 32;

Status insertion_order(std::vector<std::uint32_t>& order, const FallibleBefore& before) {
  for (std::size_t k = 1; k < order.size(); ++k) {
    const std::uint32_t item = order[k];
    // The first place p in [0, k) whose element the new one sorts before.
    std::size_t lo = 0, hi = k;
    while (lo < hi) {
      std::size_t mid = lo + (hi - lo) / 2;
      bool is_before = GY_TRY(before(item, order[mid]));
      if (is_before)
        hi = mid;
      else
        lo = mid + 1;
    }
    for (std::size_t j = k; j > lo; --j) order[j] = order[j - 1];
    order[lo] = item;
  }
  return {};
}

Status merge_order(std::vector<std::uint32_t>& order, const FallibleBefore& before) {
  const std::size_t n = order.size();
  std::vector<std::uint32_t> scratch(n);
  for (std::size_t width = 1; width < n; width *= 2) {
    for (std::size_t lo = 0; lo < n; lo += 2 * width) {
      const std::size_t mid = std::min(lo + width, n), hi = std::min(lo + 2 * width, n);
      std::size_t i = lo, j = mid, out = lo;
      while (i < mid && j < hi) {
        bool right_first = GY_TRY(before(order[j], order[i]));
        scratch[out++] = right_first ? order[j++] : order[i++];
      }
      while (i < mid) scratch[out++] = order[i++];
      while (j < hi) scratch[out++] = order[j++];
    }
    order.swap(scratch);
  }
  return {};
}

}  // namespace

Result<std::vector<std::uint32_t>> stable_order(std::size_t n, const FallibleBefore& before) {
  if (n > std::numeric_limits<std::uint32_t>::max()) panic("stable_order: more elements than 32-bit indices hold");
  std::vector<std::uint32_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<std::uint32_t>(i);
  if (n < 2) return order;
  if (n <= kInsertionLimit)
    GY_CHECK(insertion_order(order, before));
  else
    GY_CHECK(merge_order(order, before));
  return order;
}

}  // namespace gy

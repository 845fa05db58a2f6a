// A stable sort whose comparison can fail: exact comparisons are a subtraction and a sign, either of
// which may return an error, and the first error ends the sort.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "num/error.hpp"

namespace gy {

// before(i, j): whether element i sorts strictly before element j.
using FallibleBefore = std::function<Result<bool>(std::size_t, std::size_t)>;

// The stable order of n elements: entry k is the index of the element that goes to position k.
// Up to 32 elements: binary insertion (a new element goes after every element it does not sort
// before); from 33 on: a bottom-up merge of the index list, taking from the right run only when its
// element sorts strictly before the left one. The first failing comparison is returned.
Result<std::vector<std::uint32_t>> stable_order(std::size_t n, const FallibleBefore& before);

// Puts the items into the given order by following its cycles.
template <class T>
void apply_order(std::vector<T>& items, const std::vector<std::uint32_t>& order) {
  std::vector<bool> placed(items.size(), false);
  for (std::size_t start = 0; start < items.size(); ++start) {
    if (placed[start] || order[start] == start) {
      placed[start] = true;
      continue;
    }
    // Position k takes the item from order[k]: walk the cycle, moving each item once.
    T held = std::move(items[start]);
    std::size_t k = start;
    for (;;) {
      placed[k] = true;
      std::size_t from = order[k];
      if (from == start) {
        items[k] = std::move(held);
        break;
      }
      items[k] = std::move(items[from]);
      k = from;
    }
  }
}

// Sorts the items stably by a fallible key comparison; on an error they are left as they were.
template <class T, class Before>
Status stable_sort_fallible(std::vector<T>& items, Before&& before) {
  if (items.size() < 2) return {};
  auto order = stable_order(items.size(), [&](std::size_t i, std::size_t j) -> Result<bool> {
    return before(items[i], items[j]);
  });
  if (!order) return fail(std::move(order).error());
  apply_order(items, *order);
  return {};
}

}  // namespace gy

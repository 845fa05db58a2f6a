#include "movement.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "sim_pieces.hpp"
#include "sort.hpp"

namespace gy {
namespace {

using namespace gy::testing;

TEST(FallibleSort, StableAcrossTheInsertionLimitAndStopsAtTheFirstFailure) {
  std::mt19937 rng(7);
  for (std::size_t n : {0, 1, 2, 17, 32, 33, 100, 257}) {
    std::vector<std::pair<int, std::size_t>> items;
    for (std::size_t i = 0; i < n; ++i) items.push_back({static_cast<int>(rng() % 7), i});
    auto expected = items;
    std::stable_sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.first < b.first; });
    ASSERT_TRUE(stable_sort_fallible(items, [](auto& a, auto& b) -> Result<bool> { return a.first < b.first; }));
    EXPECT_EQ(items, expected) << n;
  }
  for (int n : {5, 40}) {
    std::vector<int> items;
    for (int i = 0; i < n; ++i) items.push_back((i * 7919) % n);
    const auto before = items;
    int calls = 0;
    Status s = stable_sort_fallible(items, [&](int a, int b) -> Result<bool> {
      if (++calls == 4) return fail(Error::range("boom"));
      return a < b;
    });
    ASSERT_FALSE(s);
    EXPECT_EQ(s.error().message, "boom");
    EXPECT_EQ(calls, 4);
    EXPECT_EQ(items, before);
  }
}

TEST(Movement, LayersAndHalves) {
  GripMemos memos;
  auto cube = cut_cube(slabs(1, 3));
  auto grips = current_grips(cube, memos);
  ASSERT_TRUE(grips);
  ASSERT_EQ(grips->size(), 6u);
  for (const Grip& g : *grips) {
    EXPECT_TRUE(g.plane.d.eq(q(-1, 3)));
    EXPECT_EQ(g.pieces.size(), 9u);
    EXPECT_EQ(g.others.size(), 18u);
  }

  // Planes through the centre: three candidates, six grips, each followed by its flip.
  auto halves = cut_cube(slabs(0, 1));
  GripMemos m2;
  auto candidates = movement_analysis(halves, m2, nullptr, true);
  auto split = current_grips(halves, m2);
  ASSERT_TRUE(candidates && split);
  ASSERT_EQ(candidates->size(), 3u);
  ASSERT_EQ(split->size(), 6u);
  for (std::size_t k = 0; k < 6; k += 2) {
    EXPECT_TRUE(planes_equal((*split)[k].plane, (*candidates)[k / 2].plane));
    EXPECT_TRUE(planes_equal((*split)[k + 1].plane, (*split)[k].plane.negated()));
    EXPECT_EQ((*split)[k].pieces, (*split)[k + 1].others);
  }

  // Centre and outer cuts: the six halves first, then the six outer layers; no inner slice alone.
  std::vector<Plane> cuts = slabs(0, 1);
  for (Plane& p : slabs(1, 2)) cuts.push_back(p);
  auto fine = cut_cube(cuts);
  GripMemos m3;
  auto layered = current_grips(fine, m3);
  ASSERT_TRUE(layered);
  ASSERT_EQ(layered->size(), 12u);
  for (std::size_t k = 0; k < 12; ++k) {
    EXPECT_TRUE((*layered)[k].plane.d.eq(k < 6 ? q(0) : q(-1, 2))) << k;
    EXPECT_EQ((*layered)[k].pieces.size(), k < 6 ? 32u : 16u);
  }
}

TEST(Movement, StopsAndSinglePieceLayers) {
  auto pieces = cut_cube(slabs(1, 3));
  GripMemos memos;
  auto grips = current_grips(pieces, memos);
  ASSERT_TRUE(grips);
  auto stops = grip_stops(pieces, memos, *find_grip(*grips, plane(1, 0, 0, -1, 3)));
  ASSERT_TRUE(stops);
  ASSERT_EQ(stops->size(), 4u);
  EXPECT_TRUE(same((*stops)[0], quat(0, 0, 0, 1)));
  EXPECT_TRUE(same((*stops)[1], quat(1, 0, 0, 1)));
  EXPECT_TRUE(same((*stops)[2], quat(1, 0, 0, 0)));
  EXPECT_TRUE(same((*stops)[3], quat(1, 0, 0, -1)));

  // One cubie: no plane has it on both sides; without that demand every lattice plane bounds it.
  const std::vector<std::uint64_t> one{0};
  EXPECT_TRUE(movement_analysis(pieces, memos, &one, true)->empty());
  auto loose = movement_analysis(pieces, memos, &one, false);
  ASSERT_TRUE(loose);
  EXPECT_EQ(loose->size(), 6u);

  // Halves of one piece each, bounded only by the plane across the axis: no stops.
  auto halves = cut_cube({plane(1, 0, 0, 0)});
  GripMemos m2;
  auto g2 = current_grips(halves, m2);
  ASSERT_TRUE(g2);
  ASSERT_EQ(g2->size(), 2u);
  EXPECT_TRUE(grip_stops(halves, m2, (*g2)[0])->empty());
}

void turn(std::vector<Piece>& pieces, const Grip& g, const Quaternion& r) {
  for (auto i : g.pieces) pieces[i].rotation = *hamilton_product(r, pieces[i].rotation);
}

TEST(Movement, BlockedLayerLeavesAndReturns) {
  // A layer x >= 1/3 and halves at y = 1/2 and z = 1/2: a quarter turn of the layer leaves pieces
  // across y = 1/2, so that plane is no grip until the layer lines up again.
  auto pieces = cut_cube({plane(1, 0, 0, -1, 3), plane(0, 1, 0, -1, 2), plane(0, 0, 1, -1, 2)});
  GripMemos memos;
  auto before = current_grips(pieces, memos);
  ASSERT_TRUE(before);
  ASSERT_TRUE(find_grip(*before, plane(0, 1, 0, -1, 2)));
  const Grip layer = *find_grip(*before, plane(1, 0, 0, -1, 3));
  auto stops = grip_stops(pieces, memos, layer);
  ASSERT_TRUE(stops);
  ASSERT_GE(stops->size(), 2u);
  EXPECT_TRUE(same((*stops)[1], quat(1, 0, 0, 1)));

  turn(pieces, layer, (*stops)[1]);
  auto turned = current_grips(pieces, memos);
  ASSERT_TRUE(turned);
  EXPECT_EQ(find_grip(*turned, plane(0, 1, 0, -1, 2)), nullptr);
  EXPECT_NE(find_grip(*turned, plane(1, 0, 0, -1, 3)), nullptr);

  for (int k = 0; k < 3; ++k) turn(pieces, layer, (*stops)[1]);
  auto back = current_grips(pieces, memos);
  ASSERT_TRUE(back);
  EXPECT_EQ(grip_texts(*back), grip_texts(*before));
}

TEST(Movement, WarmMemosAgreeWithFreshOnes) {
  auto pieces = cut_cube(slabs(1, 3));
  GripMemos warm;
  std::mt19937 rng(3);
  for (int step = 0; step < 12; ++step) {
    GripMemos fresh;
    auto grips = current_grips(pieces, warm);
    auto again = current_grips(pieces, fresh);
    ASSERT_TRUE(grips && again);
    ASSERT_EQ(grip_texts(*grips), grip_texts(*again)) << step;
    const Grip g = (*grips)[rng() % grips->size()];
    auto stops = grip_stops(pieces, warm, g);
    auto fresh_stops = grip_stops(pieces, fresh, g);
    ASSERT_TRUE(stops && fresh_stops);
    ASSERT_EQ(stops->size(), 4u);
    for (std::size_t k = 0; k < 4; ++k) EXPECT_TRUE(same((*stops)[k], (*fresh_stops)[k]));
    turn(pieces, g, (*stops)[1 + rng() % 3]);
  }
}

TEST(Memo, KeepsWhatIsInUseAndHoldsAtMostTwiceItsLimit) {
  GenerationalMemo<int> memo;
  memo.set_limit(2);
  memo.store("a", 1);
  memo.store("b", 2);
  memo.store("c", 3);  // the first generation is full: a and b grow old
  ASSERT_NE(memo.find("a"), nullptr);  // and a comes back to the new one
  memo.store("d", 4);
  EXPECT_EQ(memo.find("b"), nullptr) << "unused for a whole generation";
  EXPECT_EQ(*memo.find("a"), 1);
  EXPECT_EQ(*memo.find("c"), 3);
  EXPECT_EQ(memo.store("c", 5), 5);
  EXPECT_EQ(*memo.find("c"), 5);
  EXPECT_EQ(*memo.find("d"), 4);
  for (int i = 0; i < 100; ++i) {
    memo.store(std::to_string(i), i);
    ASSERT_LE(memo.size(), 4u);
  }
}

TEST(Memo, BoundedMemosGiveTheSameGrips) {
  // Memos that keep almost nothing against memos that keep everything.
  auto pieces = cut_cube(slabs(1, 3));
  GripMemos all, tiny;
  all.floor = 1 << 30;
  tiny.span = 0;
  tiny.floor = 3;
  std::mt19937 rng(11);
  for (int step = 0; step < 30; ++step) {
    auto grips = current_grips(pieces, all);
    auto again = current_grips(pieces, tiny);
    ASSERT_TRUE(grips && again);
    ASSERT_EQ(grip_texts(*grips), grip_texts(*again)) << step;
    EXPECT_LE(tiny.side_memo.size() + tiny.extent_memo.size() + tiny.face_memo.size(), 18u);
    const Grip g = (*grips)[rng() % grips->size()];
    auto stops = grip_stops(pieces, all, g);
    auto tiny_stops = grip_stops(pieces, tiny, g);
    ASSERT_TRUE(stops && tiny_stops && stops->size() == tiny_stops->size() && stops->size() > 1);
    for (std::size_t k = 0; k < stops->size(); ++k) EXPECT_TRUE(same((*stops)[k], (*tiny_stops)[k]));
    turn(pieces, g, (*stops)[1 + rng() % (stops->size() - 1)]);
  }
  EXPECT_GT(all.side_memo.size(), 500u);
}

TEST(Movement, BrokenInvariantsAbort) {
  auto pieces = cut_cube({plane(1, 0, 0, 0)});
  GripMemos memos;
  const std::vector<std::uint64_t> past{5};
  EXPECT_THROW((void)movement_analysis(pieces, memos, &past, true), Panic);
  std::vector<Piece> hollow(2);
  hollow[0].faces.push_back(Face{{}, plane(1, 0, 0, 0), Rgb{}, 1});
  EXPECT_THROW((void)current_grips(hollow, memos), Panic);
}

}  // namespace
}  // namespace gy

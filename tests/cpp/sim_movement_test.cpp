#include "movement.hpp"
#include "sort.hpp"
#include "sim_pieces.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace gy {
namespace {

using namespace gy::testing;

TEST(FallibleSort, MatchesStableSortAcrossTheInsertionLimit) {
  std::mt19937 rng(7);
  for (std::size_t n : {0, 1, 2, 3, 17, 32, 33, 34, 64, 100, 257}) {
    std::vector<std::pair<int, std::size_t>> items;
    for (std::size_t i = 0; i < n; ++i) items.push_back({static_cast<int>(rng() % 7), i});
    auto expected = items;
    std::stable_sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.first < b.first; });
    ASSERT_TRUE(stable_sort_fallible(items, [](auto& a, auto& b) -> Result<bool> { return a.first < b.first; }));
    EXPECT_EQ(items, expected) << n;
  }
}

TEST(FallibleSort, FirstFailureEndsTheSortAndLeavesTheItems) {
  for (std::size_t n : {5, 40}) {
    std::vector<int> items;
    for (std::size_t i = 0; i < n; ++i) items.push_back(static_cast<int>((i * 7919) % n));
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

TEST(Movement, CubeFaceLayersInFirstAppearanceOrder) {
  auto pieces = cut_cube(slabs(1, 3));
  ASSERT_EQ(pieces.size(), 27u);
  GripMemos memos;
  auto grips = current_grips(pieces, memos);
  ASSERT_TRUE(grips) << grips.error().message;
  ASSERT_EQ(grips->size(), 6u);
  for (const Grip& g : *grips) {
    EXPECT_TRUE(g.plane.d.eq(q(-1, 3)));
    EXPECT_EQ(g.pieces.size(), 9u);
    EXPECT_EQ(g.others.size(), 18u);
    EXPECT_TRUE(std::is_sorted(g.pieces.begin(), g.pieces.end()));
  }
  // The order in which the planes first appear among the pieces' interior faces.
  auto analysed = movement_analysis(pieces, memos, nullptr, true);
  ASSERT_TRUE(analysed);
  std::vector<std::string> expected;
  for (const Grip& g : *analysed) {
    int s = *g.plane.d.sign();
    expected.push_back(grip_text(s > 0 ? Grip{g.plane.negated(), g.others, g.pieces} : g));
  }
  EXPECT_EQ(grip_texts(*grips), expected);
}

TEST(Movement, CentrePlanesGiveBothHalvesAndComeFirst) {
  auto pieces = cut_cube(slabs(0, 1));
  ASSERT_EQ(pieces.size(), 8u);
  GripMemos memos;
  auto candidates = movement_analysis(pieces, memos, nullptr, true);
  ASSERT_TRUE(candidates);
  EXPECT_EQ(candidates->size(), 3u);
  auto grips = current_grips(pieces, memos);
  ASSERT_TRUE(grips);
  ASSERT_EQ(grips->size(), 6u);
  for (std::size_t k = 0; k < 6; k += 2) {
    const Grip& a = (*grips)[k];
    const Grip& b = (*grips)[k + 1];
    EXPECT_TRUE(planes_equal(a.plane, (*candidates)[k / 2].plane));
    EXPECT_TRUE(planes_equal(b.plane, a.plane.negated()));
    EXPECT_EQ(a.pieces, b.others);
    EXPECT_EQ(a.others, b.pieces);
    EXPECT_EQ(a.pieces.size(), 4u);
  }

  // Centre and outer cuts: the six halves first, then the six outer layers; no inner slice alone.
  std::vector<Plane> cuts = slabs(0, 1);
  for (Plane& p : slabs(1, 2)) cuts.push_back(p);
  auto fine = cut_cube(cuts);
  ASSERT_EQ(fine.size(), 64u);
  GripMemos m2;
  auto g2 = current_grips(fine, m2);
  ASSERT_TRUE(g2);
  ASSERT_EQ(g2->size(), 12u);
  for (std::size_t k = 0; k < 12; ++k) {
    EXPECT_TRUE((*g2)[k].plane.d.eq(k < 6 ? q(0) : q(-1, 2))) << k;
    EXPECT_EQ((*g2)[k].pieces.size(), k < 6 ? 32u : 16u);
  }
}

TEST(Movement, QuarterTurnStopsOfACubeLayer) {
  auto pieces = cut_cube(slabs(1, 3));
  GripMemos memos;
  auto grips = current_grips(pieces, memos);
  ASSERT_TRUE(grips);
  const Grip* right = find_grip(*grips, plane(1, 0, 0, -1, 3));
  ASSERT_NE(right, nullptr);
  auto stops = grip_stops(pieces, memos, *right);
  ASSERT_TRUE(stops) << stops.error().message;
  ASSERT_EQ(stops->size(), 4u);
  EXPECT_TRUE(same((*stops)[0], quat(0, 0, 0, 1)));
  EXPECT_TRUE(same((*stops)[1], quat(1, 0, 0, 1)));
  EXPECT_TRUE(same((*stops)[2], quat(1, 0, 0, 0)));
  EXPECT_TRUE(same((*stops)[3], quat(1, 0, 0, -1)));

  // A layer of one piece: the fallback without two sides supplies the planes that bound it.
  auto halves = cut_cube({plane(1, 0, 0, 0)});
  GripMemos m2;
  auto g2 = current_grips(halves, m2);
  ASSERT_TRUE(g2);
  ASSERT_EQ(g2->size(), 2u);
  auto s2 = grip_stops(halves, m2, (*g2)[0]);
  ASSERT_TRUE(s2);
  // Only the plane perpendicular to the axis bounds the halves: nothing to rotate onto.
  EXPECT_TRUE(s2->empty());
}

TEST(Movement, SinglePieceAnalysisWithoutTwoSides) {
  auto pieces = cut_cube(slabs(1, 3));
  GripMemos memos;
  const std::vector<std::uint64_t> one{0};
  auto strict = movement_analysis(pieces, memos, &one, true);
  ASSERT_TRUE(strict);
  EXPECT_TRUE(strict->empty());
  auto loose = movement_analysis(pieces, memos, &one, false);
  ASSERT_TRUE(loose);
  EXPECT_EQ(loose->size(), 6u);  // no plane of the lattice cuts a single cubie
  for (const Grip& g : *loose) EXPECT_EQ(g.pieces.size() + g.others.size(), 1u);
}

// Turns the grip's pieces by r, as the simulator does (no rescaling needed for the test).
void turn(std::vector<Piece>& pieces, const Grip& g, const Quaternion& r) {
  for (auto i : g.pieces) pieces[i].rotation = *hamilton_product(r, pieces[i].rotation);
}

TEST(Movement, BlockedLayerLeavesAndReturns) {
  // A layer x >= 1/3, and halves at y = 1/2 and z = 1/2: a quarter turn of the layer leaves pieces
  // straddling y = 1/2, so that plane is no grip until the layer lines up again.
  auto pieces = cut_cube({plane(1, 0, 0, -1, 3), plane(0, 1, 0, -1, 2), plane(0, 0, 1, -1, 2)});
  GripMemos memos;
  auto before = current_grips(pieces, memos);
  ASSERT_TRUE(before);
  ASSERT_TRUE(find_grip(*before, plane(0, 1, 0, -1, 2)));
  const Grip layer = *find_grip(*before, plane(1, 0, 0, -1, 3));
  auto stops = grip_stops(pieces, memos, layer);
  ASSERT_TRUE(stops);
  ASSERT_GE(stops->size(), 2u);
  const Quaternion quarter = (*stops)[1];
  EXPECT_TRUE(same(quarter, quat(1, 0, 0, 1)));

  turn(pieces, layer, quarter);
  auto turned = current_grips(pieces, memos);
  ASSERT_TRUE(turned);
  EXPECT_EQ(find_grip(*turned, plane(0, 1, 0, -1, 2)), nullptr);
  EXPECT_LT(turned->size(), before->size());
  ASSERT_NE(find_grip(*turned, plane(1, 0, 0, -1, 3)), nullptr);

  for (int k = 0; k < 3; ++k) turn(pieces, layer, quarter);
  auto back = current_grips(pieces, memos);
  ASSERT_TRUE(back);
  EXPECT_EQ(grip_texts(*back), grip_texts(*before));
}

TEST(Movement, WarmMemosAgreeWithFreshOnes) {
  auto pieces = cut_cube(slabs(1, 3));
  GripMemos warm;
  std::mt19937 rng(3);
  for (int step = 0; step < 12; ++step) {
    auto grips = current_grips(pieces, warm);
    ASSERT_TRUE(grips);
    GripMemos fresh;
    auto again = current_grips(pieces, fresh);
    ASSERT_TRUE(again);
    ASSERT_EQ(grip_texts(*grips), grip_texts(*again)) << step;
    const Grip g = (*grips)[rng() % grips->size()];
    auto stops = grip_stops(pieces, warm, g);
    auto fresh_stops = grip_stops(pieces, fresh, g);
    ASSERT_TRUE(stops && fresh_stops);
    ASSERT_EQ(stops->size(), 4u);
    ASSERT_EQ(fresh_stops->size(), 4u);
    for (std::size_t k = 0; k < 4; ++k) EXPECT_TRUE(same((*stops)[k], (*fresh_stops)[k]));
    turn(pieces, g, (*stops)[1 + rng() % 3]);
  }
  EXPECT_FALSE(warm.side_memo.empty());
  EXPECT_FALSE(warm.extent_memo.empty());
}

TEST(Movement, KeysAndBadInput) {
  EXPECT_EQ(movement_key("[k]", 12, "[o]"), "[k]/12,[o]");
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

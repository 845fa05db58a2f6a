#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "layout.hpp"
#include "symbolic.hpp"

namespace gy {
namespace {

// The solved model of an n x n x n cube whose slots are the facelets in reverse order, coloured
// by `color_of_facelet` (the face index by default).
TabularModel grid_model(std::uint64_t n, double half, std::vector<std::uint16_t> color_of_facelet = {}) {
  std::size_t count = 6 * n * n;
  if (color_of_facelet.empty())
    for (std::size_t f = 0; f < count; ++f) color_of_facelet.push_back(static_cast<std::uint16_t>(f / (n * n)));
  // Centres from a layout of the same grid: the face turns place facelets where the numbering reads them.
  TabularModel model;
  model.palette = {0xffffff, 0xffff00, 0xff8000, 0xff0000, 0x0000ff, 0x00ff00};
  for (std::size_t s = 0; s < count; ++s) {
    std::size_t f = count - 1 - s;
    std::size_t k = f / (n * n), r = (f % (n * n)) / n, c = f % n;
    static constexpr double normal[6][3] = {{0, 1, 0}, {0, -1, 0}, {-1, 0, 0}, {1, 0, 0}, {0, 0, -1}, {0, 0, 1}};
    static constexpr double row[6][3] = {{1, 0, 0}, {1, 0, 0}, {0, 0, 1}, {0, 0, -1}, {-1, 0, 0}, {1, 0, 0}};
    static constexpr double col[6][3] = {{0, 0, -1}, {0, 0, 1}, {0, 1, 0}, {0, 1, 0}, {0, 1, 0}, {0, 1, 0}};
    double w = 2 * half / static_cast<double>(n);
    double a = (static_cast<double>(r) + 0.5) * w - half, b = (static_cast<double>(c) + 0.5) * w - half;
    std::array<double, 3> p{};
    for (int i = 0; i < 3; ++i) p[i] = half * normal[k][i] + a * row[k][i] + b * col[k][i];
    model.positions.push_back(p);
    model.solved_colors.push_back(color_of_facelet[f]);
  }
  return model;
}

Layout cube_layout(std::uint64_t n) {
  TabularModel model = grid_model(n, 1.0);
  auto layout = layout_from_model("?test", model, nullptr);
  EXPECT_TRUE(layout) << layout.error().message;
  return std::move(*layout);
}

std::vector<std::uint32_t> compose(std::span<const std::uint32_t> a, std::span<const std::uint32_t> b) {
  std::vector<std::uint32_t> c(a.size());
  for (std::size_t i = 0; i < a.size(); ++i) c[i] = a[b[i]];
  return c;
}

// A layout of random moves over n facelets, for the kernels.
Layout random_layout(std::size_t n, std::size_t moves, std::mt19937_64& rng) {
  Layout l;
  l.goal_colors.assign(n, 0);
  l.facelet_of_slot.resize(n);
  std::iota(l.facelet_of_slot.begin(), l.facelet_of_slot.end(), 0u);
  l.slot_of_facelet = l.facelet_of_slot;
  for (std::size_t m = 0; m < moves; ++m) {
    std::vector<std::uint32_t> p(n);
    std::iota(p.begin(), p.end(), 0u);
    std::shuffle(p.begin(), p.end(), rng);
    l.moves.insert(l.moves.end(), p.begin(), p.end());
    l.move_names.push_back(cat("m", m));
    l.actions.emplace_back();
  }
  compute_inverses(l);
  prepare_gathers(l);
  return l;
}

TEST(LayoutNumbering, FaceletOfPointReadsEveryGridCentreBack) {
  for (std::uint64_t n : {1, 2, 3, 5}) {
    for (double half : {1.0, 1.5}) {
      TabularModel model = grid_model(n, half);
      for (std::size_t s = 0; s < model.positions.size(); ++s) {
        auto f = facelet_of_point(model.positions[s], n, half);
        ASSERT_TRUE(f) << n << " " << s;
        EXPECT_EQ(*f, model.positions.size() - 1 - s);
      }
    }
  }
  // A cube corner belongs to the earliest face, U; a point between grid centres to none.
  EXPECT_EQ(facelet_of_point({1, 1, 1}, 1, 1.0), std::nullopt);
  EXPECT_EQ(facelet_of_point({2.0 / 3, 1, -2.0 / 3}, 3, 1.0), std::optional<std::uint32_t>(8));
  EXPECT_EQ(facelet_of_point({0.5, 1, 0}, 3, 1.0), std::nullopt);
  EXPECT_EQ(facelet_of_point({0, 0.5, 0}, 3, 1.0), std::nullopt);
  EXPECT_EQ(facelet_of_point({std::nan(""), 1, 0}, 3, 1.0), std::nullopt);
}

TEST(LayoutNumbering, SlotsAndColoursFollowTheGrid) {
  Layout l = cube_layout(3);
  ASSERT_TRUE(l.size);
  EXPECT_EQ(l.size->n, 3u);
  for (std::size_t s = 0; s < 54; ++s) {
    EXPECT_EQ(l.facelet_of_slot[s], 53 - s);
    EXPECT_EQ(l.slot_of_facelet[l.facelet_of_slot[s]], s);
  }
  EXPECT_EQ(l.faces, (std::vector<std::string>{"U", "D", "L", "R", "B", "F"}));
  for (std::size_t f = 0; f < 54; ++f) EXPECT_EQ(l.goal_colors[f], f / 9);
}

TEST(LayoutNumbering, AColourOnTwoFacesIsRefused) {
  std::vector<std::uint16_t> colors;
  for (std::size_t f = 0; f < 54; ++f) colors.push_back(static_cast<std::uint16_t>(f / 9));
  std::swap(colors[0], colors[53]);  // colour 0 now also on F, colour 5 also on U
  TabularModel model = grid_model(3, 1.0, colors);
  auto l = layout_from_model("?test", model, nullptr);
  ASSERT_FALSE(l);
  EXPECT_EQ(l.error().kind, ErrorKind::State);
  EXPECT_EQ(l.error().message, "color 0 is on more than one face, so a face cannot stand for a color");
}

TEST(LayoutNumbering, OffGridStickersFallBackToTheGeneralNumbering) {
  TabularModel model = grid_model(3, 1.0);
  model.positions[7][0] += 0.1;
  auto refused = layout_from_model("?test", model, nullptr);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind, ErrorKind::State);
  EXPECT_NE(refused.error().message.find("not fixed permutations"), std::string::npos);

  model.grip_names = {"A"};
  ActionPermutations table;
  table.action_count = 2;
  table.slot_count = 54;
  for (int a = 0; a < 2; ++a)
    for (std::uint32_t i = 0; i < 54; ++i) table.permutations.push_back(i ^ 1u);
  auto general = layout_from_model("?test", model, &table);
  ASSERT_TRUE(general) << general.error().message;
  EXPECT_FALSE(general->size);
  EXPECT_EQ(general->face_count, 6u);
  EXPECT_EQ(general->move_names, (std::vector<std::string>{"A", "A'"}));
  EXPECT_EQ(general->actions[1], std::optional<std::uint32_t>(1));
  // Both moves swap neighbours, so each undoes itself.
  EXPECT_EQ(general->inverses[0], std::optional<std::uint32_t>(0));
  EXPECT_EQ(general->inverses[1], std::optional<std::uint32_t>(1));
}

TEST(LayoutMoves, FaceTurnsAreQuarterTurnsInOppositePairs) {
  for (std::uint64_t n : {1, 2, 3, 4}) {
    Layout l = cube_layout(n);
    ASSERT_EQ(l.move_count(), 12u);
    std::vector<std::uint32_t> identity(l.facelet_count());
    std::iota(identity.begin(), identity.end(), 0u);
    for (std::size_t m = 0; m < 12; ++m) {
      auto p = l.move(m);
      EXPECT_EQ(compose(p, l.move(m ^ 1)), identity) << n << " " << m;
      auto twice = compose(p, p);
      EXPECT_NE(twice, identity);
      EXPECT_EQ(compose(twice, twice), identity);
      // On a 1x1x1 cube U1 and D-1 move the same facelets alike; the lowest such move answers.
      if (n > 1) {
        EXPECT_EQ(l.inverses[m], std::optional<std::uint32_t>(static_cast<std::uint32_t>(m ^ 1)));
      }
    }
  }
}

TEST(LayoutMoves, CompositionIsFirstMoveFirst) {
  Layout l = cube_layout(3);
  std::vector<std::vector<std::uint32_t>> sequences{{7, 1}, {}, {7, 7, 7, 7}, {1, 7}};
  auto made = with_moves(l, sequences);
  ASSERT_TRUE(made) << made.error().message;
  EXPECT_EQ(made->move_names, (std::vector<std::string>{"R1 U1", ".", "R1 R1 R1 R1", "U1 R1"}));
  std::vector<std::uint32_t> state(54);
  std::iota(state.begin(), state.end(), 0u);
  // Making R1 and then U1 on a state: new = old[R1] then new' = new[U1].
  auto after_r = compose(state, l.move(7));
  EXPECT_EQ(compose(after_r, l.move(1)), compose(state, made->move(0)));
  EXPECT_EQ(made->inverses[1], std::optional<std::uint32_t>(1));
  EXPECT_EQ(made->inverses[2], std::optional<std::uint32_t>(2));  // undoes itself, though "." came first
  EXPECT_FALSE(made->inverses[0]);
  auto bad = with_moves(l, std::vector<std::vector<std::uint32_t>>{{0}, {12}});
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().message, "move 12 out of range (have 12)");
}

TEST(LayoutMoves, LetterRuleStaysInsideTheMoves) {
  Layout l = cube_layout(3);
  EXPECT_EQ(move_index(l, "\u3000R'\t"), std::optional<std::uint32_t>(6));
  EXPECT_EQ(move_index(l, "\u00a0F+1\u2003"), std::optional<std::uint32_t>(11));
  EXPECT_EQ(move_index(l, "R2"), std::nullopt);
  EXPECT_EQ(move_index(l, ""), std::nullopt);
  auto one = with_moves(l, std::vector<std::vector<std::uint32_t>>{{0}, {1}});
  ASSERT_TRUE(one);
  EXPECT_EQ(move_index(*one, "U"), std::optional<std::uint32_t>(1));
  EXPECT_EQ(move_index(*one, "U'"), std::optional<std::uint32_t>(0));
  EXPECT_EQ(move_index(*one, "D'"), std::nullopt);
  EXPECT_EQ(move_index(*one, "F"), std::nullopt);
}

TEST(LayoutKernels, ByteShufflesMatchTheScalarGather) {
  std::vector<GatherKernel> kernels;
  for (GatherKernel k : {GatherKernel::avx2, GatherKernel::avx512})
    if (gather_kernel_available(k)) kernels.push_back(k);
  if (kernels.empty()) GTEST_SKIP() << "no vector gathers on this machine";
  std::mt19937_64 rng(7);
  for (std::size_t n : {1, 15, 16, 31, 32, 33, 54, 64, 65, 96, 128, 129, 200, 256}) {
    Layout l = random_layout(n, 5, rng);
    ASSERT_EQ(l.byte_moves.size(), 5 * n);
    l.plan = make_shuffle_plan(l.byte_moves, n);
    std::size_t rows = 37;
    std::vector<std::uint8_t> in(rows * n);
    for (auto& v : in) v = static_cast<std::uint8_t>(rng());
    std::vector<std::uint32_t> each(rows);
    for (auto& m : each) m = static_cast<std::uint32_t>(rng() % 5);
    for (const MoveChoice& moves : {MoveChoice{3u, {}}, MoveChoice{std::nullopt, each}}) {
      std::vector<std::uint8_t> slow(rows * n, 0x55);
      layout_detail::gather_byte_rows(l, in.data(), slow.data(), rows, moves, GatherKernel::scalar);
      for (GatherKernel k : kernels) {
        std::vector<std::uint8_t> fast(rows * n, 0xAA);
        layout_detail::gather_byte_rows(l, in.data(), fast.data(), rows, moves, k);
        ASSERT_EQ(fast, slow) << n;
      }
      for (std::size_t r = 0; r < rows; ++r) {
        std::uint32_t m = moves.every ? *moves.every : each[r];
        for (std::size_t j = 0; j < n; ++j) ASSERT_EQ(slow[r * n + j], in[r * n + l.move(m)[j]]);
      }
    }
  }
}

TEST(LayoutKernels, NextStatesNarrowsAndChecksInOrder) {
  Layout l = cube_layout(3);
  std::vector<std::uint32_t> in(2 * 54);
  for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<std::uint32_t>(i % 54);
  std::vector<std::uint8_t> out(in.size());
  std::vector<std::uint32_t> moves{7, 6};
  ASSERT_TRUE((next_states<std::uint32_t, std::uint8_t>(l, in, {std::nullopt, moves}, out)));
  for (std::size_t j = 0; j < 54; ++j) {
    EXPECT_EQ(out[j], l.move(7)[j]);
    EXPECT_EQ(out[54 + j], l.move(6)[j]);
  }
  std::vector<std::uint16_t> narrow(in.begin(), in.end());
  std::vector<std::uint8_t> from_narrow(in.size());
  ASSERT_TRUE((next_states<std::uint16_t, std::uint8_t>(l, narrow, {std::nullopt, moves}, from_narrow)));
  EXPECT_EQ(from_narrow, out);
  std::vector<std::uint32_t> bad{12, 13};
  EXPECT_EQ(check_next_states(l, 108, {std::nullopt, bad}).error().message, "move 12 out of range (have 12)");
  EXPECT_EQ(check_next_states(l, 108, {std::nullopt, std::span(bad).first(1)}).error().message,
            "got 1 moves for 2 states");
  EXPECT_EQ(check_next_states(l, 107, {std::nullopt, bad}).error().message,
            "a state of this puzzle is 54 values, and 107 is not a whole number of them");
  EXPECT_TRUE(check_next_states(l, 0, {99u, {}}));
}

TEST(LayoutWalks, RangeLengthsAreTheLengthStreamDrawnOnDemand) {
  std::uint64_t seed = 12345;
  WalkLengths lengths = WalkLengths::range(3, 9, seed);
  std::uint64_t stream = seed ^ 0x51ED2701A5C61B3Dull;
  std::uint32_t longest = 0;
  for (std::uint64_t i = 0; i < 200; ++i) {
    std::uint32_t expected = static_cast<std::uint32_t>(3 + splitmix64(stream) % 7);
    EXPECT_EQ(lengths.length(i), expected);
    longest = std::max(longest, expected);
  }
  EXPECT_EQ(longest_walk(lengths, 200), longest);
  EXPECT_EQ(longest_walk(lengths, 0), 0u);
  // The full range of 32-bit lengths is allowed; the search stops once enough is seen.
  WalkLengths full = WalkLengths::range(0, 0xFFFFFFFFu, seed);
  EXPECT_GE(longest_walk(full, std::uint64_t{1} << 62, 1000), 1000u);
}

TEST(LayoutWalks, SizesAreCheckedWithoutWrapping) {
  auto ok = checked_block({2, std::uint64_t{0xFFFFFFFFu} + 1, 54}, 1);
  ASSERT_TRUE(ok);
  EXPECT_EQ(*ok, 2 * (std::size_t{1} << 32) * 54);
  auto over = checked_block({std::uint64_t{1} << 40, std::uint64_t{1} << 32, 54}, 1);
  ASSERT_FALSE(over);
  EXPECT_EQ(over.error().kind, ErrorKind::Range);
  EXPECT_EQ(over.error().message, "an array of shape (1099511627776, 4294967296, 54) is more than memory can hold");
  EXPECT_FALSE(checked_block({std::uint64_t{1} << 62, 2}, 1));
  EXPECT_FALSE(checked_block({std::uint64_t{1} << 61, 2}, 4));
}

TEST(LayoutWalks, WalksNeverTakeBackTheirLastMoveAndScrambledKeepsTheirEnds) {
  Layout l = cube_layout(3);
  WalkLengths lengths = WalkLengths::fixed_length(30);
  std::size_t count = 300;
  std::vector<std::uint8_t> states(count * 31 * 54);
  std::vector<std::uint8_t> moves(count * 30);
  trajectories<std::uint8_t, std::uint8_t>(l, lengths, count, 99, 30, states, moves);
  std::vector<std::uint8_t> ends(count * 54);
  scrambled<std::uint8_t>(l, lengths, count, 99, ends);
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t j = 1; j < 30; ++j) EXPECT_NE(moves[i * 30 + j], *l.inverses[moves[i * 30 + j - 1]]);
    EXPECT_TRUE(std::equal(ends.begin() + i * 54, ends.begin() + (i + 1) * 54, states.begin() + (i * 31 + 30) * 54));
  }
}

}  // namespace
}  // namespace gy

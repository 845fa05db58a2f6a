#include "batch.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "catalog.hpp"

namespace gy {
namespace {

constexpr std::string_view kCube = "?shell=C$1&cut=C$1/3";

std::string catalog_query(std::string_view name) {
  auto q = resolve_recipe_text(name);
  EXPECT_TRUE(q) << name;
  return q ? *q : std::string();
}

PuzzleBatch make(std::string_view query, std::size_t count, BatchModeRequest mode = BatchModeRequest::automatic,
                 std::optional<std::uint64_t> seed = std::nullopt) {
  BatchSetup setup;
  setup.mode = mode;
  setup.seed = seed;
  auto b = build_batch(query, count, setup);
  EXPECT_TRUE(b) << b.error().message;
  return std::move(*b);
}

// Copy i's state as sticker ids, from its row or its Simulator.
std::vector<std::uint32_t> ids_of(PuzzleBatch& b, std::size_t i) {
  if (TabularState* ts = b.tabular()) {
    return std::visit(
        [&](auto& rows) {
          const std::size_t n = b.sticker_count();
          const auto* row = rows.states.data() + i * n;
          return std::vector<std::uint32_t>(row, row + n);
        },
        ts->rows);
  }
  auto ids = sticker_ids(std::get<GeometricState>(b.mode).copies[i]);
  EXPECT_TRUE(ids) << ids.error().message;
  return ids ? *ids : std::vector<std::uint32_t>{};
}

std::vector<std::vector<std::uint32_t>> histories(const PuzzleBatch& b) {
  std::vector<std::vector<std::uint32_t>> all;
  for (std::size_t i = 0; i < b.count(); ++i) all.push_back(history_of(b, i));
  return all;
}

std::vector<std::uint32_t> identity(std::size_t n) {
  std::vector<std::uint32_t> v(n);
  std::iota(v.begin(), v.end(), 0u);
  return v;
}

std::vector<std::uint8_t> step(PuzzleBatch& b, const std::vector<std::uint32_t>& actions,
                               std::vector<std::uint8_t>* applied_out = nullptr) {
  std::vector<std::uint8_t> solved(b.count()), applied(b.count());
  auto s = step_batch(b, actions, solved, applied);
  EXPECT_TRUE(s) << s.error().message;
  if (applied_out) *applied_out = applied;
  return solved;
}

// ---------------------------------------------------------------------------------------------
// Kernels

TEST(BatchKernels, VectorKernelsGatherAndTestExactlyAsSlotBySlot) {
  std::vector<GatherKernel> kernels;
  for (GatherKernel k : {GatherKernel::avx2, GatherKernel::avx512})
    if (gather_kernel_available(k)) kernels.push_back(k);
  if (kernels.empty()) GTEST_SKIP() << "no vector kernels on this CPU";
  std::mt19937_64 rng(7);
  for (std::size_t n : {5, 16, 17, 24, 31, 32, 33, 47, 48, 54, 63, 64, 65, 100, 128, 129, 132, 200, 255, 256}) {
    constexpr std::size_t kMoves = 6, kRows = 40;
    std::vector<std::uint8_t> table(kMoves * n);
    for (std::size_t m = 0; m < kMoves; ++m) {
      std::vector<std::uint8_t> p(n);
      std::iota(p.begin(), p.end(), 0);
      // Both full shuffles and sparse ones, like a face turn that moves a few slots.
      if (m % 2 == 0)
        std::shuffle(p.begin(), p.end(), rng);
      else
        for (int k = 0; k < 5; ++k) std::swap(p[rng() % n], p[rng() % n]);
      std::copy(p.begin(), p.end(), table.begin() + m * n);
    }
    const ShufflePlan plan = make_shuffle_plan(table, n);
    EXPECT_EQ(plan.vector_bytes != 0, n >= 16) << n;
    std::vector<std::uint8_t> src(kRows * n);
    for (auto& x : src) x = static_cast<std::uint8_t>(rng() % n);
    std::vector<std::uint32_t> moves(kRows);
    for (auto& m : moves) m = static_cast<std::uint32_t>(rng() % kMoves);
    // Guard bytes after the rows catch any write outside them.
    std::vector<std::uint8_t> slow(kRows * n + 64, 0xEE), slow_one(kRows * n + 64, 0xEE);
    const std::uint32_t one = 3;
    gather_byte_rows(plan, table, n, src.data(), slow.data(), moves.data(), false, kRows, GatherKernel::scalar);
    gather_byte_rows(plan, table, n, src.data(), slow_one.data(), &one, true, kRows, GatherKernel::scalar);
    // Colours with some rows solved: rows that are the identity or swap equal colours.
    std::vector<std::uint8_t> colors(n);
    for (std::size_t j = 0; j < n; ++j) colors[j] = static_cast<std::uint8_t>(j % 6);
    std::vector<std::uint8_t> rows = slow;
    for (std::size_t r = 0; r < kRows; r += 3) {
      std::iota(rows.begin() + r * n, rows.begin() + (r + 1) * n, 0);
      if (r % 2 == 0 && n > 6) std::swap(rows[r * n], rows[r * n + 6]);
    }
    std::vector<std::uint8_t> solved_slow(kRows);
    solved_byte_rows(colors, n, rows.data(), kRows, solved_slow.data(), GatherKernel::scalar);
    EXPECT_EQ(solved_slow[0], 1);
    for (GatherKernel k : kernels) {
      std::vector<std::uint8_t> fast(kRows * n + 64, 0xEE), fast_one(kRows * n + 64, 0xEE);
      gather_byte_rows(plan, table, n, src.data(), fast.data(), moves.data(), false, kRows, k);
      gather_byte_rows(plan, table, n, src.data(), fast_one.data(), &one, true, kRows, k);
      EXPECT_EQ(fast, slow) << n;
      EXPECT_EQ(fast_one, slow_one) << n;
      std::vector<std::uint8_t> solved_fast(kRows);
      solved_byte_rows(colors, n, rows.data(), kRows, solved_fast.data(), k);
      EXPECT_EQ(solved_fast, solved_slow) << n;
    }
    // Colour lookups over runs that end inside a vector, guard bytes after them.
    for (std::size_t length : {std::size_t{0}, n, kRows * n - 1, kRows * n}) {
      std::vector<std::uint8_t> slow_colors(length + 64, 0xEE), fast_colors(length + 64, 0xEE);
      color_byte_rows(colors, n, src.data(), length, slow_colors.data(), GatherKernel::scalar);
      for (std::size_t j = 0; j < length; ++j) ASSERT_EQ(slow_colors[j], colors[src[j]]);
      for (GatherKernel k : kernels) {
        std::fill(fast_colors.begin(), fast_colors.end(), 0xEE);
        color_byte_rows(colors, n, src.data(), length, fast_colors.data(), k);
        EXPECT_EQ(fast_colors, slow_colors) << n << " " << length;
      }
    }
  }
}

TEST(BatchKernels, WidthsAndDraws) {
  EXPECT_EQ(element_width_for(256), ElementWidth::U8);
  EXPECT_EQ(element_width_for(257), ElementWidth::U16);
  EXPECT_EQ(element_width_for(65536), ElementWidth::U16);
  EXPECT_EQ(element_width_for(65537), ElementWidth::U32);
  // The draw never undoes the last move with two axes or more, and may with one.
  std::uint64_t s = 1;
  for (std::uint32_t last = 0; last < 12; ++last)
    for (int k = 0; k < 200; ++k) EXPECT_NE(draw_action(s, last, 12) ^ last, 1u);
  bool inverted = false;
  for (int k = 0; k < 64; ++k) inverted |= (draw_action(s, 0, 2) == 1);
  EXPECT_TRUE(inverted);
}

// ---------------------------------------------------------------------------------------------
// Construction

TEST(BatchBuild, FreshTabularAndGeometricBatches) {
  PuzzleBatch b = make(kCube, 3);
  ASSERT_TRUE(b.is_tabular());
  EXPECT_EQ(b.tabular()->width(), ElementWidth::U8);
  EXPECT_EQ(b.count(), 3u);
  EXPECT_EQ(b.sticker_count(), 54u);
  EXPECT_EQ(b.action_count(), 12u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(b.rng_states[i], i ^ kInitialRngState);
    EXPECT_EQ(b.last_actions[i], kNoAction);
    EXPECT_EQ(ids_of(b, i), identity(54));
  }
  EXPECT_FALSE(b.tabular()->template_puzzle.view.show_arrows);

  PuzzleBatch g = make(kCube, 2, BatchModeRequest::geometric, 5);
  ASSERT_FALSE(g.is_tabular());
  EXPECT_EQ(g.rng_states[0], 5u);
  EXPECT_EQ(g.rng_states[1], 6u);
  for (const Simulator& sim : std::get<GeometricState>(g.mode).copies) {
    EXPECT_EQ(sim.tabular_model, g.model);
    EXPECT_FALSE(sim.view.show_arrows);
  }

  auto none = build_batch(kCube, 0);
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error(), Error::range("a batch needs at least one puzzle"));
  auto huge = build_batch(kCube, std::uint64_t{1} << 62);
  ASSERT_FALSE(huge);
  EXPECT_EQ(huge.error().kind, ErrorKind::Range);
  EXPECT_THROW((void)build_batch(kCube, std::uint64_t{1} << 40), std::bad_alloc);
}

// ---------------------------------------------------------------------------------------------
// Tabular and geometric copies move alike

TEST(BatchModes, TabularAndGeometricAgreeStepByStep) {
  for (std::string_view name : {"2x2x2 Cube", "Quenly's Cube (3x3x3)"}) {
    const std::string q = catalog_query(name);
    constexpr std::size_t kCopies = 3;
    PuzzleBatch tab = make(q, kCopies);
    PuzzleBatch geo = make(q, kCopies, BatchModeRequest::geometric);
    ASSERT_TRUE(tab.is_tabular());
    ASSERT_FALSE(geo.is_tabular());
    std::mt19937 rng(11);
    for (int k = 0; k < 12; ++k) {
      std::vector<std::uint32_t> actions(kCopies);
      for (auto& a : actions) a = rng() % tab.action_count();
      std::vector<std::uint8_t> applied;
      EXPECT_EQ(step(tab, actions), step(geo, actions, &applied)) << name << " step " << k;
      EXPECT_EQ(applied, std::vector<std::uint8_t>(kCopies, 1));
      for (std::size_t i = 0; i < kCopies; ++i) ASSERT_EQ(ids_of(tab, i), ids_of(geo, i)) << name << " step " << k;
    }
    EXPECT_EQ(histories(tab), histories(geo));
    EXPECT_EQ(tab.last_actions, geo.last_actions);
    // Both read out alike, at every width.
    EXPECT_EQ(*observation_rows<std::uint8_t>(tab), *observation_rows<std::uint8_t>(geo));
    EXPECT_EQ(*observation_rows<std::uint32_t>(tab), *observation_rows<std::uint32_t>(geo));
    EXPECT_EQ(*sticker_id_rows<std::uint16_t>(tab), *sticker_id_rows<std::uint16_t>(geo));
    const auto ids = *sticker_id_rows<std::uint8_t>(tab);
    const auto colors = *observation_rows<std::uint16_t>(tab);
    for (std::size_t k = 0; k < ids.size(); ++k) ASSERT_EQ(colors[k], tab.model->solved_colors[ids[k]]);

    // Walks draw the same moves in both modes, and undo takes them back alike.
    ASSERT_TRUE(scramble_all(tab, std::vector<std::uint32_t>{4, 0, 7}));
    ASSERT_TRUE(scramble_all(geo, std::vector<std::uint32_t>{4, 0, 7}));
    EXPECT_EQ(histories(tab), histories(geo));
    EXPECT_EQ(tab.rng_states, geo.rng_states);
    std::vector<std::uint8_t> undone_t(kCopies), undone_g(kCopies);
    const std::vector<std::uint8_t> all(kCopies, 1);
    ASSERT_TRUE(undo_flagged(tab, all, undone_t));
    ASSERT_TRUE(undo_flagged(geo, all, undone_g));
    EXPECT_EQ(undone_t, undone_g);
    for (std::size_t i = 0; i < kCopies; ++i) EXPECT_EQ(ids_of(tab, i), ids_of(geo, i));

    ASSERT_TRUE(solve_flagged(geo, all));
    for (std::size_t i = 0; i < kCopies; ++i) {
      EXPECT_EQ(ids_of(geo, i), identity(geo.sticker_count()));
      EXPECT_TRUE(std::get<GeometricState>(geo.mode).copies[i].history.empty());
    }
  }
}

TEST(BatchModes, SolvedTestAcceptsEqualColoursSwapped) {
  PuzzleBatch b = make(kCube, 1);
  const auto& colors = b.tabular()->solved_colors;
  std::vector<std::uint8_t> row(54);
  std::iota(row.begin(), row.end(), 0);
  // Two slots of the same colour exchanged still read solved; two of different colours do not.
  std::size_t j = 1;
  while (colors[j] != colors[0]) ++j;
  std::swap(row[0], row[j]);
  EXPECT_TRUE(row_is_solved(std::span<const std::uint8_t>(row), colors));
  std::swap(row[0], row[j]);
  std::size_t k = 1;
  while (colors[k] == colors[0]) ++k;
  std::swap(row[0], row[k]);
  EXPECT_FALSE(row_is_solved(std::span<const std::uint8_t>(row), colors));
}

// ---------------------------------------------------------------------------------------------
// Walks, undo and solve

TEST(BatchWalks, EachCopyWalksOnItsOwn) {
  // Copy 5 of a big batch walks exactly as a batch of one with its random state.
  PuzzleBatch big = make(kCube, 3000, BatchModeRequest::automatic, 100);
  ASSERT_TRUE(reset_all(big, 9));
  PuzzleBatch one = make(kCube, 1, BatchModeRequest::automatic, 105);
  ASSERT_TRUE(reset_all(one, 9));
  EXPECT_EQ(history_of(big, 5), history_of(one, 0));
  EXPECT_EQ(ids_of(big, 5), ids_of(one, 0));
  EXPECT_EQ(big.rng_states[5], one.rng_states[0]);
  for (std::size_t i = 0; i < big.count(); ++i) {
    const auto h = history_of(big, i);
    ASSERT_EQ(h.size(), 9u);
    for (std::size_t k = 1; k < 9; ++k) ASSERT_NE(h[k] ^ h[k - 1], 1u);
  }
  // A walk replayed as steps gives the same rows.
  PuzzleBatch replay = make(kCube, 1);
  for (std::uint32_t a : history_of(one, 0)) step(replay, {a});
  EXPECT_EQ(ids_of(replay, 0), ids_of(one, 0));
  // Nine undos bring every copy home.
  std::vector<std::uint8_t> undone(big.count());
  const std::vector<std::uint8_t> all(big.count(), 1);
  for (int k = 0; k < 9; ++k) ASSERT_TRUE(undo_flagged(big, all, undone));
  for (std::size_t i = 0; i < big.count(); i += 97) EXPECT_EQ(ids_of(big, i), identity(54));
  EXPECT_EQ(big.last_actions, std::vector<std::uint32_t>(big.count(), kNoAction));
}

TEST(BatchWalks, HistoriesReserveBeforeTheyGrow) {
  PuzzleBatch b = make(kCube, 4);
  // The log holds the deepest history in whole blocks of one byte a copy, and no more.
  auto room_holds = [&] {
    std::size_t deepest = 0;
    for (std::size_t i = 0; i < b.count(); ++i) deepest = std::max(deepest, history_length(b, i));
    const std::size_t columns = b.histories.block_columns();
    EXPECT_GE(b.histories.bytes(), (deepest + columns - 1) / columns * columns * b.count());
  };
  // Steps, an undo and a partial solve in between keep the histories in order.
  for (int k = 0; k < 21; ++k) {
    step(b, {1, 2, 3, 4});
    room_holds();
  }
  std::vector<std::uint8_t> undone(4);
  ASSERT_TRUE(undo_flagged(b, std::vector<std::uint8_t>{0, 1, 0, 0}, undone));
  ASSERT_TRUE(solve_flagged(b, std::vector<std::uint8_t>{0, 0, 1, 0}));
  for (int k = 0; k < 5; ++k) step(b, {5, 6, 7, 8});
  room_holds();
  EXPECT_EQ(history_of(b, 0), [] {
    std::vector<std::uint32_t> h(21, 1);
    h.insert(h.end(), 5, 5);
    return h;
  }());
  EXPECT_EQ(history_length(b, 1), 25u);
  EXPECT_EQ(history_of(b, 2), std::vector<std::uint32_t>(5, 7));
  ASSERT_TRUE(reset_all(b, 3));
  room_holds();
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(history_length(b, i), 3u);
  // A walk no machine could record, and one past the limits of a call, are refused before anything
  // changes.
  PuzzleBatch wide = make(kCube, 4096);
  step(wide, std::vector<std::uint32_t>(4096, 2));
  const auto rows_before = ids_of(wide, 7);
  const auto rng_before = wide.rng_states;
  for (std::uint32_t depth : {0xFFFFFFFFu, kMaxQueuedMoves + 1})
    EXPECT_EQ(scramble_all(wide, std::vector<std::uint32_t>(4096, depth)).error().kind, ErrorKind::Range);
  PuzzleBatch many = make(kCube, kMaxBulkMoves / kMaxQueuedMoves + 1);
  step(many, std::vector<std::uint32_t>(many.count(), 2));
  EXPECT_FALSE(reset_all(many, kMaxQueuedMoves));
  EXPECT_EQ(history_of(many, 0), std::vector<std::uint32_t>{2});
  EXPECT_EQ(ids_of(wide, 7), rows_before);
  EXPECT_EQ(wide.rng_states, rng_before);
  EXPECT_EQ(history_of(wide, 7), std::vector<std::uint32_t>{2});
  std::vector<std::uint32_t> deep(4096, 0);
  deep[9] = kMaxQueuedMoves;
  ASSERT_TRUE(scramble_all(wide, deep));
  EXPECT_EQ(history_length(wide, 9), kMaxQueuedMoves + 1);
}

TEST(BatchWalks, HistoriesReadBackAcrossTheLogsBlockEdges) {
  // Steps, walks of unequal depths, undos and solves of some copies, checked against plain lists
  // while the histories cross several blocks of the log.
  constexpr std::size_t kCopies = 1031;
  PuzzleBatch b = make(kCube, kCopies, BatchModeRequest::automatic, 9);
  ASSERT_EQ(b.histories.block_columns(), 64u);
  std::vector<std::vector<std::uint32_t>> model(kCopies);
  std::size_t deepest = 0;  // the longest history ever held
  std::mt19937 rng(17);
  auto check = [&](const char* when) {
    for (std::size_t i = 0; i < kCopies; ++i) {
      ASSERT_EQ(history_of(b, i), model[i]) << when << " copy " << i;
      ASSERT_EQ(b.last_actions[i], model[i].empty() ? kNoAction : model[i].back()) << when << " copy " << i;
    }
  };
  auto step_all = [&](int steps) {
    for (int k = 0; k < steps; ++k) {
      std::vector<std::uint32_t> actions(kCopies);
      for (std::size_t i = 0; i < kCopies; ++i) {
        actions[i] = rng() % 12;
        model[i].push_back(actions[i]);
      }
      step(b, actions);
    }
  };
  // While every history has the same length: a walk and steps across block edges.
  ASSERT_TRUE(reset_all(b, 50));
  for (std::size_t i = 0; i < kCopies; ++i) model[i] = history_of(b, i);
  ASSERT_EQ(model[3].size(), 50u);
  step_all(30);
  check("level steps");
  for (int round = 0; round < 4; ++round) {
    step_all(45);
    check("steps");
    std::vector<std::uint32_t> depths(kCopies);
    for (auto& d : depths) d = rng() % 90;
    ASSERT_TRUE(scramble_all(b, depths));
    for (std::size_t i = 0; i < kCopies; ++i) {
      const auto h = history_of(b, i);
      ASSERT_EQ(h.size(), model[i].size() + depths[i]);
      ASSERT_TRUE(std::equal(model[i].begin(), model[i].end(), h.begin()));
      model[i] = h;
      deepest = std::max(deepest, h.size());
    }
    std::vector<std::uint8_t> flags(kCopies), undone(kCopies);
    for (int u = 0; u < 30; ++u) {
      for (auto& f : flags) f = rng() % 3 != 0;
      ASSERT_TRUE(undo_flagged(b, flags, undone));
      for (std::size_t i = 0; i < kCopies; ++i) {
        ASSERT_EQ(undone[i], flags[i] && !model[i].empty());
        if (undone[i]) model[i].pop_back();
      }
    }
    check("undos");
    for (auto& f : flags) f = rng() % 5 == 0;
    ASSERT_TRUE(solve_flagged(b, flags));
    for (std::size_t i = 0; i < kCopies; ++i)
      if (flags[i]) model[i].clear();
    check("solves");
  }
  // Undoing every history brings every copy home; solving every copy levels the log again.
  const std::vector<std::uint8_t> all(kCopies, 1);
  std::vector<std::uint8_t> undone(kCopies);
  std::size_t longest = 0;
  for (const auto& h : model) longest = std::max(longest, h.size());
  for (std::size_t k = 0; k < longest; ++k) ASSERT_TRUE(undo_flagged(b, all, undone));
  for (std::size_t i = 0; i < kCopies; ++i) EXPECT_EQ(ids_of(b, i), identity(54));
  ASSERT_TRUE(solve_flagged(b, all));
  for (auto& h : model) h.clear();
  step_all(3);
  check("after solving all");
  EXPECT_TRUE(b.histories.level());
  // The log holds one byte a copy for each step of the longest history, in whole blocks.
  EXPECT_LE(b.histories.bytes(), (deepest + b.histories.block_columns()) * kCopies);
}

TEST(BatchWalks, LargeLogsReadBackWhileTheirPagesAreBackedAhead) {
  // Blocks of several MiB, whose pages are backed ahead of the steps while the steps write: every
  // entry reads back as written, a batch dropped with backing under way goes cleanly, and the log
  // holds at most the backed-ahead columns and one block beyond its deepest history.
  constexpr std::size_t kCopies = 70000;
  std::mt19937 rng(23);
  for (int round = 0; round < 2; ++round) {
    PuzzleBatch b = make(kCube, kCopies);
    ASSERT_GE(b.histories.block_columns() * kCopies, std::size_t{4} << 20);
    const std::size_t steps = round == 0 ? 150 : 20;
    std::vector<std::vector<std::uint32_t>> columns;
    for (std::size_t k = 0; k < steps; ++k) {
      std::vector<std::uint32_t> actions(kCopies);
      for (auto& a : actions) a = rng() % 12;
      step(b, actions);
      columns.push_back(std::move(actions));
    }
    if (round == 1) continue;
    for (std::size_t i = 0; i < kCopies; i += 997) {
      const auto h = history_of(b, i);
      ASSERT_EQ(h.size(), steps);
      for (std::size_t d = 0; d < steps; ++d) ASSERT_EQ(h[d], columns[d][i]) << "copy " << i << " entry " << d;
    }
    EXPECT_LE(b.histories.bytes(),
              (steps + 2 * HistoryLog::kWarmColumns + b.histories.block_columns()) * kCopies);
  }
}

TEST(BatchWalks, GeometricSolveKeepsTheHistoryOfACopyItCannotSolve) {
  PuzzleBatch g = make(kCube, 3, BatchModeRequest::geometric);
  step(g, {0, 2, 4});
  step(g, {6, 8, 10});
  auto& copies = std::get<GeometricState>(g.mode).copies;
  // Copy 1's last turn can no longer be found, so solving it must rebuild it, and rebuilding fails.
  copies[1].history.back().plane = copies[1].history.back().plane.negated();
  g.query = "?shell=nonsense";
  const std::vector<std::uint8_t> all(3, 1);
  auto solved = solve_flagged(g, all);
  ASSERT_FALSE(solved);
  // Copies solved before the failure are solved; copy 1 keeps the move it still carries.
  EXPECT_EQ(history_of(g, 1), (std::vector<std::uint32_t>{2, 8}));
  EXPECT_EQ(g.last_actions[1], 8u);
  EXPECT_EQ(copies[1].history.size(), 2u);
}

TEST(BatchWalks, GeometricSolveRebuildsWhenAnUndoIsRefused) {
  PuzzleBatch g = make(kCube, 2, BatchModeRequest::geometric);
  step(g, {0, 3});
  auto& copies = std::get<GeometricState>(g.mode).copies;
  copies[0].history.back().plane = copies[0].history.back().plane.negated();
  copies[0].camera.fov = 33.0;
  ASSERT_TRUE(solve_flagged(g, std::vector<std::uint8_t>{1, 1}));
  EXPECT_EQ(ids_of(g, 0), identity(54));
  EXPECT_EQ(copies[0].camera.fov, 33.0);
  EXPECT_FALSE(copies[0].view.show_arrows);
  EXPECT_EQ(copies[0].tabular_model, g.model);
  EXPECT_EQ(history_length(g, 0), 0u);
  EXPECT_EQ(g.last_actions[0], kNoAction);
}

// The drawing tables the batch holds, front first, by their frame widths.
std::vector<std::uint32_t> table_widths(const PuzzleBatch& b) {
  std::vector<std::uint32_t> widths;
  for (const DrawingTable& t : b.drawing_tables) widths.push_back(t.key.width);
  return widths;
}

Status draw(PuzzleBatch& b, std::uint32_t width) {
  FrameRequest r;
  r.width = width;
  r.height = 8;
  std::vector<std::uint8_t> out(std::size_t{width} * 8 * 4 * b.count());
  return render_frames<std::uint8_t>(b, r, out);
}

TEST(BatchFrames, DrawingTablesAreKeptMostRecentFirst) {
  PuzzleBatch b = make(kCube, 2);
  for (std::uint32_t w : {8u, 9u, 8u}) ASSERT_TRUE(draw(b, w));
  EXPECT_EQ(table_widths(b), (std::vector<std::uint32_t>{8, 9}));
  for (std::uint32_t w : {10u, 11u, 12u}) ASSERT_TRUE(draw(b, w));
  EXPECT_EQ(table_widths(b), (std::vector<std::uint32_t>{12, 11, 10, 8}));
  ASSERT_TRUE(draw(b, 9));  // evicted: built again, the least recent dropped
  EXPECT_EQ(table_widths(b), (std::vector<std::uint32_t>{9, 12, 11, 10}));
  // A supersampling factor of 0 is the factor 1; a new line width is another view.
  ViewOptions one, zero, wide;
  one.supersample = 1;
  zero.supersample = 0;
  wide.line_width = 7.5;
  configure_views(b, one, {});
  ASSERT_TRUE(draw(b, 9));
  configure_views(b, zero, {});
  ASSERT_TRUE(draw(b, 9));
  EXPECT_EQ(b.drawing_tables.size(), 4u);
  EXPECT_EQ(table_widths(b), (std::vector<std::uint32_t>{9, 9, 12, 11}));
  configure_views(b, wide, {});
  ASSERT_TRUE(draw(b, 9));
  EXPECT_EQ(table_widths(b), (std::vector<std::uint32_t>{9, 9, 9, 12}));
  // Frames without pixels need no table; a refused request changes nothing.
  const auto before = table_widths(b);
  ASSERT_TRUE(draw(b, 0));
  FrameRequest bad;
  bad.channels = 2;
  std::vector<std::uint8_t> none;
  EXPECT_FALSE(render_frames<std::uint8_t>(b, bad, none));
  EXPECT_EQ(table_widths(b), before);
}

TEST(BatchFrames, FrameSizesAreCheckedInSixtyFourBits) {
  PuzzleBatch b = make(kCube, 3);
  FrameRequest r;
  r.width = 0xFFFFFFFF;
  r.height = 0;
  EXPECT_EQ(*frame_elements(b, 3, r), 0u);
  r.height = 2;
  EXPECT_FALSE(frame_elements(b, 3, r));
  r.width = r.height = 100;
  EXPECT_EQ(*frame_elements(b, 3, r), 3u * 100 * 100 * 4);
  EXPECT_FALSE(frame_elements(b, std::uint64_t{1} << 62, r));
  ViewOptions big;
  big.supersample = kMaxBatchSupersample + 1;
  configure_views(b, big, {});
  EXPECT_FALSE(frame_elements(b, 1, r));
}

}  // namespace
}  // namespace gy

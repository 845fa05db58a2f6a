#include "symbolic.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>

#include "catalog.hpp"
#include "color.hpp"
#include "pool.hpp"
#include "sim_pieces.hpp"

namespace gy {
namespace {

using namespace gy::testing;

Simulator catalog_puzzle(std::string_view name) {
  auto sim = Simulator::build(*resolve_recipe_text(name));
  EXPECT_TRUE(sim) << name << ": " << sim.error().message;
  return std::move(*sim);
}

// Layers at x, y, z = 1/2: a quarter turn of one leaves pieces across the others.
Simulator locking_cube() {
  Simulator sim;
  sim.pieces = cut_cube({plane(1, 0, 0, -1, 2), plane(0, 1, 0, -1, 2), plane(0, 0, 1, -1, 2)});
  refresh_orientations(sim);
  EXPECT_TRUE(derive_grips(sim));
  return sim;
}

ModelRef model_of(Simulator& sim) {
  auto m = tabular_model(sim);
  EXPECT_TRUE(m) << m.error().message;
  return *m;
}

std::vector<std::uint32_t> ids_of(Simulator& sim) {
  auto ids = sticker_ids(sim);
  EXPECT_TRUE(ids) << ids.error().message;
  return ids ? *ids : std::vector<std::uint32_t>{};
}

std::vector<std::uint32_t> identity(std::size_t n) {
  std::vector<std::uint32_t> v(n);
  std::iota(v.begin(), v.end(), 0u);
  return v;
}

bool is_permutation(std::span<const std::uint32_t> p) {
  std::vector<std::uint32_t> sorted(p.begin(), p.end());
  std::sort(sorted.begin(), sorted.end());
  return sorted == identity(p.size());
}

// The pieces' orientations by value (a rotation turned back may come home in another field object).
std::string pieces_text(const Simulator& sim) {
  std::string s;
  for (const Piece& p : sim.pieces) s += orientation_key(p.rotation) + "|";
  return s;
}

// Everything of a model that callers can see, by value.
std::string model_text(const TabularModel& m) {
  std::string s;
  for (auto c : m.solved_colors) s += cat(c, ",");
  for (auto c : m.palette) s += cat(c, ",");
  for (std::size_t p = 0; p < m.piece_slots.size(); ++p)
    for (std::size_t k = 0; k < m.piece_slots[p].size(); ++k) s += cat(m.piece_slots[p][k], "/", m.piece_faces[p][k], ",");
  for (const auto& p : m.positions) s += cat(p[0], ",", p[1], ",", p[2], ";");
  for (const auto& n : m.grip_names) s += n + ",";
  for (const auto& p : m.grip_planes) s += orientation_key(Quaternion{p.normal.x, p.normal.y, p.normal.z, p.d});
  return s + cat(m.slot_at_position.size());
}

// ---------------------------------------------------------------------------------------------
// Slots and names

TEST(Model, CubeSlotsFollowColourPieceAndFace) {
  Simulator sim = catalog_puzzle("Quenly's Cube (3x3x3)");
  const ModelRef m = model_of(sim);
  EXPECT_EQ(model_of(sim).get(), m.get());  // built once
  ASSERT_EQ(m->sticker_count(), 54u);
  ASSERT_EQ(m->color_count(), 6u);
  EXPECT_EQ(m->grip_names, (std::vector<std::string>{"A", "B", "C", "D", "E", "F"}));
  for (std::size_t g = 0; g < sim.grips.size(); ++g) EXPECT_TRUE(planes_equal(m->grip_planes[g], sim.grips[g].plane));

  // Slots in (colour, piece, face) order, palette in order of first appearance, each slot's colour
  // and centroid those of its face.
  std::vector<std::tuple<std::uint16_t, std::size_t, std::uint32_t>> order(54);
  std::vector<std::uint32_t> first_seen;
  for (std::size_t p = 0; p < sim.pieces.size(); ++p)
    for (std::size_t k = 0; k < m->piece_slots[p].size(); ++k) {
      const std::uint32_t s = m->piece_slots[p][k];
      const Face& f = sim.pieces[p].faces[m->piece_faces[p][k]];
      const std::uint32_t rgb = linear_to_rgb24(f.color[0], f.color[1], f.color[2]);
      if (std::find(first_seen.begin(), first_seen.end(), rgb) == first_seen.end()) first_seen.push_back(rgb);
      EXPECT_FALSE(f.interior);
      EXPECT_EQ(m->palette[m->solved_colors[s]], rgb);
      order[s] = {m->solved_colors[s], p, m->piece_faces[p][k]};
      std::array<double, 3> c{};
      for (auto i : f.indices) {
        const Vector3& x = sim.pieces[p].vertices[i];
        c = {c[0] + *x.x.to_f64(), c[1] + *x.y.to_f64(), c[2] + *x.z.to_f64()};
      }
      for (int i = 0; i < 3; ++i) EXPECT_NEAR(m->positions[s][i], c[i] / f.indices.size(), 1e-12);
    }
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  EXPECT_EQ(first_seen, m->palette);
  for (std::uint16_t c = 0; c < 6; ++c) EXPECT_EQ(std::count(m->solved_colors.begin(), m->solved_colors.end(), c), 9);
}

TEST(Model, MegaminxModelIsTheSolvedOneWhateverTheState) {
  Simulator fresh = catalog_puzzle("Megaminx");
  const ModelRef m = model_of(fresh);
  EXPECT_EQ(m->sticker_count(), 132u);
  EXPECT_EQ(m->color_count(), 12u);
  EXPECT_EQ(m->grip_names, (std::vector<std::string>{"A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L"}));
  for (std::uint16_t c = 0; c < 12; ++c) EXPECT_EQ(std::count(m->solved_colors.begin(), m->solved_colors.end(), c), 11);

  Simulator turned = catalog_puzzle("Megaminx");
  ASSERT_TRUE(turn_grip(turned, 3, TurnRequest::by_direction(1)));
  ASSERT_TRUE(turn_grip(turned, 7, TurnRequest::by_direction(-1)));
  const std::string before = pieces_text(turned);
  EXPECT_EQ(model_text(*model_of(turned)), model_text(*m));
  EXPECT_EQ(pieces_text(turned), before);

  Simulator back = catalog_puzzle("Megaminx");
  ASSERT_TRUE(turn_grip(back, 0, TurnRequest::by_direction(1)));
  ASSERT_TRUE(*undo_turn(back));
  EXPECT_EQ(model_text(*model_of(back)), model_text(*m));
}

TEST(Model, AxesLettersAndLayers) {
  for (auto [i, letters] : {std::pair{0, "A"}, {25, "Z"}, {26, "AA"}, {51, "AZ"}, {52, "BA"}, {701, "ZZ"}, {702, "AAA"}})
    EXPECT_EQ(axis_letters(i), letters);
  EXPECT_EQ(action_names(std::vector<std::string>{"A", "B1"}), (std::vector<std::string>{"A", "A'", "B1", "B1'"}));

  // Grips out of axis order; positive multiples share an axis, opposite normals do not.
  std::vector<Grip> grips;
  for (auto p : {plane(1, 0, 0, -1, 3), plane(0, 2, 0, -1), plane(3, 0, 0, 0), plane(-1, 0, 0, -1, 3)})
    grips.push_back(Grip{p, {}, {}});
  EXPECT_EQ(name_grips(grips)->grip_names, (std::vector<std::string>{"A1", "B", "A2", "C"}));
  grips.push_back(Grip{plane(0, 0, 0, -1), {}, {}});
  EXPECT_EQ(name_grips(grips).error(), Error::state("a grip has a degenerate axis"));
  std::vector<Grip> eleven;
  for (int k = 1; k <= 11; ++k) eleven.push_back(Grip{plane(0, 0, 1, -k), {}, {}});
  EXPECT_EQ(name_grips(eleven)->grip_names.back(), "A11");

  // The 4x4x4: the centre halves first, each its own axis, then an outer layer joins each.
  Simulator sim = catalog_puzzle("4x4x4 Cube");
  const auto& names = model_of(sim)->grip_names;
  ASSERT_EQ(names.size(), 12u);
  std::vector<std::string> outer(names.begin() + 6, names.end());
  std::sort(outer.begin(), outer.end());
  for (std::size_t g = 0; g < 6; ++g) {
    EXPECT_EQ(names[g], cat(axis_letters(g), 1));
    EXPECT_EQ(outer[g], cat(axis_letters(g), 2));
  }
}

TEST(Model, NumberingFailuresAndBounds) {
  EXPECT_EQ(position_key(Vector3{q(4, 3), q(0), q(-2)}, 4), "4:4/3,;;-2/1,;");
  EXPECT_EQ(orientation_key(Quaternion{q(0), q(0), q(1, 2), q(1, 2)}), ";;1/2,;1/2,;");
  EXPECT_EQ(number_slots(std::vector<Piece>{cube_piece(), cube_piece()}).error(),
            Error::state("two stickers of the solved puzzle share a position, so slots cannot be numbered"));

  // Exactly 65536 colours are fine; one more is refused rather than wrapped.
  auto linear = [](int byte) {
    const double s = byte / 255.0;
    return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
  };
  Piece many;
  for (int i = 0; i < 65539; ++i) many.vertices.push_back(v(i, 0, 0));
  for (std::uint64_t k = 0; k < 65536; ++k)
    many.faces.push_back(Face{{k, k + 1, k + 2}, plane(0, 0, 1, 0), Rgb{linear(k & 255), linear(k >> 8), 0.0}, 0});
  auto full = number_slots(std::vector<Piece>{many});
  ASSERT_TRUE(full) << full.error().message;
  EXPECT_EQ(full->solved_colors.back(), 65535);
  many.faces.push_back(Face{{65536, 65537, 65538}, plane(0, 0, 1, 0), Rgb{0.0, 0.0, 1.0}, 0});
  EXPECT_EQ(number_slots(std::vector<Piece>{many}).error(), Error::other("puzzle has too many colors"));
}

// ---------------------------------------------------------------------------------------------
// Readers

TEST(Readers, SolvedTurnedBackAndMemoised) {
  Simulator sim = catalog_puzzle("Quenly's Cube (3x3x3)");
  EXPECT_EQ(ids_of(sim), identity(54));
  EXPECT_TRUE(*is_solved(sim));
  ASSERT_TRUE(turn_grip(sim, 0, TurnRequest::by_direction(1)));
  const auto turned = ids_of(sim);
  EXPECT_TRUE(is_permutation(turned));
  EXPECT_NE(turned, identity(54));
  EXPECT_FALSE(*is_solved(sim));
  const std::size_t memo = sim.sticker_memo.size();
  EXPECT_EQ(ids_of(sim), turned);  // the second read only looks up
  EXPECT_EQ(sim.sticker_memo.size(), memo);
  set_tabular_model(sim, model_of(sim));
  EXPECT_TRUE(sim.sticker_memo.empty());
  EXPECT_EQ(ids_of(sim), turned);
  // Two more quarter turns by stop: a full turn, home without an undo.
  ASSERT_TRUE(turn_grip(sim, 0, TurnRequest::to_stop(3)));
  EXPECT_EQ(ids_of(sim), identity(54));
}

TEST(Readers, OffTheLatticeIsAStateErrorOtherErrorsPassThrough) {
  Simulator heli = catalog_puzzle("Helicopter Cube");
  const ModelRef m = model_of(heli);
  bool found = false;
  for (std::size_t g = 0; g < heli.grips.size() && !found; ++g)
    for (std::size_t s = 1; s < stops_of_grip(heli, g)->size() && !found; ++s) {
      ASSERT_TRUE(turn_grip(heli, g, TurnRequest::to_stop(s)));
      Error why;
      auto ids = try_sticker_ids(*m, heli.pieces, heli.sticker_memo, &why);
      ASSERT_TRUE(ids) << ids.error().message;
      if (!*ids) {
        found = true;
        EXPECT_EQ(why.kind, ErrorKind::State);
        EXPECT_EQ(why.message.rfind("face ", 0), 0u) << why.message;
        EXPECT_NE(why.message.find("does not return to its own lattice"), std::string::npos);
        EXPECT_EQ(is_solved(heli).error(), why);
      }
      ASSERT_TRUE(*undo_turn(heli));
    }
  EXPECT_TRUE(found);

  // A rotation whose numbers lie in unrelated fields: an arithmetic error, not "off the lattice".
  Simulator sim = catalog_puzzle("Quenly's Cube (3x3x3)");
  ASSERT_TRUE(tabular_model(sim));
  auto root = [](std::int64_t n) {
    return *A::generator(*NumberField::make(FracPoly({fraction(-n, 1), fraction(0, 1), fraction(1, 1)}),
                                            fraction(1, 1), fraction(n, 1)));
  };
  sim.pieces[0].rotation = Quaternion{root(2), root(3), q(0), q(1)};
  auto ids = try_sticker_ids(*sim.tabular_model, sim.pieces, sim.sticker_memo);
  ASSERT_FALSE(ids);
  EXPECT_NE(ids.error().message.find("same field"), std::string::npos) << ids.error().message;
  EXPECT_EQ(compute_action_permutations(sim).error(), ids.error());
}

// ---------------------------------------------------------------------------------------------
// Actions and permutations

TEST(Actions, ApplyMaskAndLockedLayers) {
  Simulator sim = catalog_puzzle("Quenly's Cube (3x3x3)");
  EXPECT_EQ(apply_action(sim, 12).error(), Error::range("action 12 out of range (have 12)"));
  EXPECT_EQ(*action_mask(sim), std::vector<std::uint8_t>(12, 1));
  ASSERT_TRUE(turn_grip(sim, 1, TurnRequest::by_direction(1)));  // leaves a turn in flight
  ASSERT_TRUE(*apply_action(sim, 4));
  EXPECT_FALSE(sim.animation);
  EXPECT_EQ(sim.move_count, 2u);
  Simulator rest = sim;
  refresh_orientations(rest);
  EXPECT_EQ(sim.orientations, rest.orientations);
  EXPECT_EQ(*action_grip(sim, 12), std::nullopt);
  const auto names = action_names(sim.tabular_model->grip_names);
  for (std::size_t a = 0; a < names.size(); ++a) EXPECT_EQ(action_index(sim.tabular_model->grip_names, names[a]), a);
  EXPECT_EQ(action_index(sim.tabular_model->grip_names, "A''"), std::nullopt);

  Simulator locking = locking_cube();
  ASSERT_TRUE(*apply_action(locking, 0));
  const auto mask = *action_mask(locking);
  const std::uint64_t blocked = std::find(mask.begin(), mask.end(), 0) - mask.begin();
  ASSERT_LT(blocked, mask.size());
  EXPECT_EQ(mask[blocked ^ 1], 0);
  const std::string before = pieces_text(locking);
  EXPECT_FALSE(*apply_action(locking, blocked));
  EXPECT_EQ(pieces_text(locking), before);
  EXPECT_EQ(locking.move_count, 1u);
}

// Every action made from a scrambled state moves the sticker ids as its row says, and the table
// read on the scrambled puzzle is the one read on the solved puzzle.
void check_table(std::string_view name) {
  SCOPED_TRACE(name);
  Simulator sim = catalog_puzzle(name);
  auto solved = compute_action_permutations(sim);
  ASSERT_TRUE(solved && *solved);
  const ActionPermutations& table = **solved;
  const std::size_t actions = sim.tabular_model->action_count();
  ASSERT_EQ(table.action_count, actions);
  ASSERT_EQ(table.slot_count, sim.tabular_model->sticker_count());
  EXPECT_EQ(table.start_colors, sim.tabular_model->solved_colors);
  EXPECT_EQ(sim.move_count, 2 * actions);
  EXPECT_TRUE(sim.history.empty());
  for (std::size_t a = 0; a < actions; ++a) EXPECT_TRUE(is_permutation(table.row(a))) << a;

  for (std::uint64_t a : {1u, 2u, 5u, 6u, 3u}) ASSERT_TRUE(*apply_action(sim, a % actions));
  const std::string scrambled = pieces_text(sim);
  auto again = compute_action_permutations(sim);
  ASSERT_TRUE(again && *again);
  EXPECT_EQ((*again)->permutations, table.permutations);
  EXPECT_EQ(pieces_text(sim), scrambled);
  EXPECT_EQ(sim.history.size(), 5u);

  const auto old = ids_of(sim);
  for (std::size_t a = 0; a < actions; ++a) {
    ASSERT_TRUE(*apply_action(sim, a));
    const auto now = ids_of(sim);
    const auto row = table.row(a);
    for (std::size_t i = 0; i < now.size(); ++i) ASSERT_EQ(now[i], old[row[i]]) << "action " << a << " slot " << i;
    ASSERT_TRUE(*undo_turn(sim));
  }
}

TEST(Permutations, AgreeWithTurningTheGrips) {
  check_table("Quenly's Cube (3x3x3)");
  check_table("Megaminx");
  check_table("Pyraminx");
  check_table("Skewb");
}

TEST(Permutations, AbsentWhenMovesAreNotFixed) {
  Simulator heli = catalog_puzzle("Helicopter Cube");
  const std::string before = pieces_text(heli);
  auto table = compute_action_permutations(heli);
  ASSERT_TRUE(table) << table.error().message;
  EXPECT_FALSE(*table);
  EXPECT_EQ(pieces_text(heli), before);
  EXPECT_TRUE(heli.history.empty());

  Simulator locking = locking_cube();
  EXPECT_FALSE(*compute_action_permutations(locking));
  EXPECT_EQ(ids_of(locking), identity(locking.tabular_model->sticker_count()));

  Simulator plain = catalog_puzzle("?shell=C$1");  // no grips: an empty table that is there
  auto empty = compute_action_permutations(plain);
  ASSERT_TRUE(empty && *empty);
  EXPECT_EQ((*empty)->action_count, 0u);
  EXPECT_EQ((*empty)->start_colors.size(), 6u);
}

// ---------------------------------------------------------------------------------------------
// Move text

std::vector<Move> moves(std::vector<std::string> names, std::string_view text) {
  auto m = parse_moves(names, text);
  EXPECT_TRUE(m) << text << ": " << m.error().message;
  return m ? *m : std::vector<Move>{};
}

std::string parse_error(std::vector<std::string> names, std::string_view text) {
  auto m = parse_moves(names, text);
  if (m) return "parsed";
  EXPECT_EQ(m.error().kind, ErrorKind::Parse);
  return m.error().message;
}

TEST(MoveText, TokensNamesCountsAndDirections) {
  const std::vector<std::string> ab{"A", "B"};
  EXPECT_TRUE(moves(ab, " \t\r\n ").empty());
  EXPECT_EQ(moves(ab, "A' B2'  A B007"), (std::vector<Move>{{1, 1}, {3, 2}, {0, 1}, {2, 7}}));
  EXPECT_EQ(moves(ab, "A\u00a0B\u3000A'\u2029B\u0085A"), (std::vector<Move>{{0, 1}, {2, 1}, {1, 1}, {2, 1}, {0, 1}}));
  EXPECT_EQ(parse_error(ab, "A\x1f" "B"), "'A\x1f" "B' is not a move of this puzzle. Its grips are A, B");
  EXPECT_EQ(parse_error(ab, "A B C"), "'C' is not a move of this puzzle. Its grips are A, B");
  for (std::string_view bad : {"A''", "'", "7"}) EXPECT_EQ(parse_error(ab, bad).rfind(cat("'", bad, "' is not"), 0), 0u);
  EXPECT_EQ(parse_error(ab, "A0'"), "move 'A0'' repeats zero times");
  EXPECT_EQ(parse_error(ab, "A4294967296"), "move 'A4294967296' has an unreadable repeat count");
  EXPECT_EQ(parse_error({}, "A"), "'A' is not a move of this puzzle. Its grips are ");

  // A name ending in digits is matched whole first; otherwise the longest name leaving a count.
  EXPECT_EQ(moves({"A1", "A2", "A12", "A"}, "A1 A12 A123 A13"), (std::vector<Move>{{0, 1}, {4, 1}, {4, 3}, {0, 3}}));
  EXPECT_EQ(moves({"A1", "A2"}, "A12"), (std::vector<Move>{{0, 2}}));

  // Counts are capped by the turns of the whole text; long tokens cost only their length.
  EXPECT_EQ(moves(ab, cat("A", kMaxTextTurns)), (std::vector<Move>{{0, static_cast<std::uint32_t>(kMaxTextTurns)}}));
  EXPECT_EQ(parse_error(ab, "A4294967295"), cat("move 'A4294967295' takes the text past ", kMaxTextTurns, " turns"));
  EXPECT_EQ(parse_error(ab, cat("B", kMaxTextTurns - 1, " A B'")), cat("move 'B'' takes the text past ", kMaxTextTurns, " turns"));
  const std::string digits(1 << 20, '9');
  EXPECT_EQ(parse_error(ab, "A" + digits), cat("move 'A", digits, "' has an unreadable repeat count"));
}

TEST(MoveText, ApplyMakesEveryTurnOrNamesTheLockedMove) {
  Simulator sim = catalog_puzzle("Quenly's Cube (3x3x3)");
  EXPECT_EQ(*apply_moves(sim, "A B2' A'"), 4u);
  EXPECT_EQ(sim.history.size(), 4u);
  EXPECT_FALSE(sim.animation);
  EXPECT_EQ(apply_moves(sim, "A Q").error().kind, ErrorKind::Parse);
  EXPECT_EQ(sim.history.size(), 4u);  // nothing made before a parse error
  EXPECT_FALSE(*is_solved(sim));
  EXPECT_TRUE(*restore_turns(sim));
  EXPECT_TRUE(*is_solved(sim));

  Simulator locking = locking_cube();
  const auto& names = model_of(locking)->grip_names;
  ASSERT_TRUE(*apply_action(locking, 0));
  const auto mask = *action_mask(locking);
  const std::uint64_t blocked = std::find(mask.begin(), mask.end(), 0) - mask.begin();
  EXPECT_EQ(apply_moves(locking, cat(names[blocked / 2], "'")).error(),
            Error::state(cat("move '", names[blocked / 2], "'' cannot be made: that layer is locked")));
}

// ---------------------------------------------------------------------------------------------
// Jumbling

TEST(Jumbling, CatalogAgreesWithTheFixedList) {
  const auto rows = catalog();
  const auto fixed = non_jumbling_recipes();
  std::vector<std::string_view> listed;
  for (const auto& row : rows)
    if (std::find(fixed.begin(), fixed.end(), row.recipe) != fixed.end()) listed.push_back(row.recipe);
  EXPECT_TRUE(std::equal(listed.begin(), listed.end(), fixed.begin(), fixed.end()));  // catalog rows, in order

  // About 10 s on one thread; every row on the pool, every third under the sanitizers.
  const std::size_t stride = std::getenv("GYRELLE_SANITIZED") ? 3 : 1;
  std::vector<Result<bool>> answers(rows.size(), false);
  const auto start = std::chrono::steady_clock::now();
  pool::for_each_index((rows.size() + stride - 1) / stride, 1,
                       [&](std::size_t k) { answers[k * stride] = jumbles(rows[k * stride].recipe); });
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (std::size_t i = 0; i < rows.size(); i += stride) {
    ASSERT_TRUE(answers[i]) << rows[i].name << ": " << answers[i].error().message;
    const bool listed_here = std::find(fixed.begin(), fixed.end(), rows[i].recipe) != fixed.end();
    EXPECT_EQ(*answers[i], !listed_here) << rows[i].name << " " << rows[i].recipe;
  }
  std::printf("jumbles over %zu catalog rows: %.1f s\n", (rows.size() + stride - 1) / stride, seconds);
}

}  // namespace
}  // namespace gy

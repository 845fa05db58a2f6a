#include "symbolic.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <set>

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

Simulator from_pieces(std::vector<Piece> pieces) {
  Simulator sim;
  sim.pieces = std::move(pieces);
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
  std::vector<bool> seen(p.size());
  for (std::uint32_t x : p) {
    if (x >= p.size() || seen[x]) return false;
    seen[x] = true;
  }
  return true;
}

// The pieces' orientations by value (a rotation turned back may come home in another field object).
std::string pieces_text(const Simulator& sim) {
  std::string s;
  for (const Piece& p : sim.pieces) s += orientation_key(p.rotation) + "|";
  return s;
}

// Everything of a model that callers can see, as text.
std::string model_text(const TabularModel& m) {
  std::string s;
  for (auto c : m.solved_colors) s += cat(c, ",");
  for (auto c : m.palette) s += cat(c, ",");
  for (const auto& l : m.piece_slots)
    for (auto x : l) s += cat(x, ",");
  for (const auto& l : m.piece_faces)
    for (auto x : l) s += cat(x, ",");
  for (const auto& p : m.positions) s += cat(p[0], ",", p[1], ",", p[2], ";");
  for (const auto& n : m.grip_names) s += n + ",";
  for (const auto& p : m.grip_planes) s += orientation_key(Quaternion{p.normal.x, p.normal.y, p.normal.z, p.d});
  return s + cat(m.slot_at_position.size());
}

// A quaternion whose numbers lie in two unrelated fields: any rotation by it fails.
Quaternion unrelated_fields() {
  auto root = [](std::int64_t n) {
    std::vector<Fraction> m{fraction(-n, 1), fraction(0, 1), fraction(1, 1)};
    return *A::generator(*NumberField::make(FracPoly(m), fraction(1, 1), fraction(n, 1)));
  };
  return Quaternion{root(2), root(3), q(0), q(1)};
}

// ---------------------------------------------------------------------------------------------
// Slots and names

TEST(Model, CubeSlotsFollowColourPieceAndFace) {
  Simulator sim = catalog_puzzle("Quenly's Cube (3x3x3)");
  const ModelRef m = model_of(sim);
  EXPECT_EQ(model_of(sim).get(), m.get());  // built once
  ASSERT_EQ(m->sticker_count(), 54u);
  ASSERT_EQ(m->color_count(), 6u);
  EXPECT_EQ(m->slot_at_position.size(), 54u);

  // Palette index 0 is the first sticker face of the first piece that has one.
  const Piece& first = *std::find_if(sim.pieces.begin(), sim.pieces.end(), [](const Piece& p) {
    return std::any_of(p.faces.begin(), p.faces.end(), [](const Face& f) { return !f.interior; });
  });
  const Face& face0 = *std::find_if(first.faces.begin(), first.faces.end(), [](const Face& f) { return !f.interior; });
  EXPECT_EQ(m->palette[0], linear_to_rgb24(face0.color[0], face0.color[1], face0.color[2]));

  // Slot order is (colour, piece, face); each slot's colour, face and position agree with its piece.
  std::vector<std::tuple<std::uint16_t, std::size_t, std::uint32_t>> order(54);
  for (std::size_t p = 0; p < sim.pieces.size(); ++p) {
    ASSERT_EQ(m->piece_slots[p].size(), m->piece_faces[p].size());
    for (std::size_t k = 0; k < m->piece_slots[p].size(); ++k) {
      const std::uint32_t s = m->piece_slots[p][k];
      const Face& f = sim.pieces[p].faces[m->piece_faces[p][k]];
      EXPECT_FALSE(f.interior);
      EXPECT_EQ(m->palette[m->solved_colors[s]], linear_to_rgb24(f.color[0], f.color[1], f.color[2]));
      order[s] = {m->solved_colors[s], p, m->piece_faces[p][k]};
      double c[3] = {0, 0, 0};
      for (auto v : f.indices) {
        c[0] += *sim.pieces[p].vertices[v].x.to_f64();
        c[1] += *sim.pieces[p].vertices[v].y.to_f64();
        c[2] += *sim.pieces[p].vertices[v].z.to_f64();
      }
      for (int i = 0; i < 3; ++i) EXPECT_NEAR(m->positions[s][i], c[i] / f.indices.size(), 1e-12);
    }
  }
  // Sticker centres of the cube: one coordinate at the half-size d, the others on the grid of
  // thirds of the edge.
  double d = 0;
  for (const auto& p : m->positions)
    for (double x : p) d = std::max(d, std::abs(x));
  for (const auto& p : m->positions) {
    int on_face = 0;
    for (double x : p) {
      if (std::abs(std::abs(x) - d) < 1e-12) ++on_face;
      else EXPECT_NEAR(std::round(x * 1.5 / d), x * 1.5 / d, 1e-12);
    }
    EXPECT_EQ(on_face, 1);
  }
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  for (std::uint16_t c = 0; c < 6; ++c) EXPECT_EQ(std::count(m->solved_colors.begin(), m->solved_colors.end(), c), 9);

  EXPECT_EQ(m->grip_names, (std::vector<std::string>{"A", "B", "C", "D", "E", "F"}));
  ASSERT_EQ(m->grip_planes.size(), sim.grips.size());
  for (std::size_t g = 0; g < sim.grips.size(); ++g) EXPECT_TRUE(planes_equal(m->grip_planes[g], sim.grips[g].plane));
}

TEST(Model, SolvedModelWhateverTheState) {
  const std::string fresh = [] {
    Simulator sim = catalog_puzzle("Megaminx");
    return model_text(*model_of(sim));
  }();
  Simulator sim = catalog_puzzle("Megaminx");
  ASSERT_TRUE(turn_grip(sim, 3, TurnRequest::by_direction(1)));
  ASSERT_TRUE(turn_grip(sim, 7, TurnRequest::by_direction(-1)));
  const std::string before = pieces_text(sim);
  const ModelRef m = model_of(sim);  // from the turned puzzle
  EXPECT_EQ(model_text(*m), fresh);
  EXPECT_EQ(pieces_text(sim), before);
  EXPECT_EQ(m->sticker_count(), 132u);
  EXPECT_EQ(m->color_count(), 12u);
  EXPECT_EQ(m->grip_names, (std::vector<std::string>{"A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L"}));
  for (std::uint16_t c = 0; c < 12; ++c) EXPECT_EQ(std::count(m->solved_colors.begin(), m->solved_colors.end(), c), 11);

  // Turned and turned back: the same model again.
  Simulator back = catalog_puzzle("Megaminx");
  ASSERT_TRUE(turn_grip(back, 0, TurnRequest::by_direction(1)));
  ASSERT_TRUE(*undo_turn(back));
  EXPECT_EQ(model_text(*model_of(back)), fresh);
}

TEST(Model, AxesLettersAndLayers) {
  EXPECT_EQ(axis_letters(0), "A");
  EXPECT_EQ(axis_letters(25), "Z");
  EXPECT_EQ(axis_letters(26), "AA");
  EXPECT_EQ(axis_letters(27), "AB");
  EXPECT_EQ(axis_letters(51), "AZ");
  EXPECT_EQ(axis_letters(52), "BA");
  EXPECT_EQ(axis_letters(701), "ZZ");
  EXPECT_EQ(axis_letters(702), "AAA");
  EXPECT_EQ(action_names(std::vector<std::string>{"A", "B1"}), (std::vector<std::string>{"A", "A'", "B1", "B1'"}));
  EXPECT_TRUE(action_names({}).empty());

  // Grips out of axis order; positive multiples share an axis, opposite normals do not.
  std::vector<Grip> grips;
  for (auto p : {plane(1, 0, 0, -1, 3), plane(0, 2, 0, -1), plane(3, 0, 0, 0), plane(-1, 0, 0, -1, 3)})
    grips.push_back(Grip{p, {}, {}});
  auto named = name_grips(grips);
  ASSERT_TRUE(named);
  EXPECT_EQ(named->grip_names, (std::vector<std::string>{"A1", "B", "A2", "C"}));
  EXPECT_EQ(named->grip_planes.size(), 4u);
  grips.push_back(Grip{plane(0, 0, 0, -1), {}, {}});
  EXPECT_EQ(name_grips(grips).error(), Error::state("a grip has a degenerate axis"));
  std::vector<Grip> eleven;
  for (int k = 1; k <= 11; ++k) eleven.push_back(Grip{plane(0, 0, 1, -k), {}, {}});
  EXPECT_EQ(name_grips(eleven)->grip_names.back(), "A11");

  // The 4x4x4: the centre halves first (each its own axis), then the outer layers join them.
  Simulator sim = catalog_puzzle("4x4x4 Cube");
  const ModelRef m = model_of(sim);
  ASSERT_EQ(m->grip_names.size(), 12u);
  std::set<std::string> seen;
  for (std::size_t g = 0; g < 12; ++g) {
    const std::string& n = m->grip_names[g];
    ASSERT_EQ(n.size(), 2u);
    EXPECT_EQ(n[1], g < 6 ? '1' : '2') << n;
    EXPECT_TRUE(seen.insert(n).second);
  }
  EXPECT_EQ(m->sticker_count(), 96u);
}

TEST(Model, NumberingFailuresAndBounds) {
  // Two pieces on one spot: every sticker position is taken twice.
  EXPECT_EQ(number_slots(std::vector<Piece>{cube_piece(), cube_piece()}).error(),
            Error::state("two stickers of the solved puzzle share a position, so slots cannot be numbered"));

  // Pieces without stickers: no slots, one empty list per piece.
  Piece inside = cube_piece();
  for (Face& f : inside.faces) f.interior = 1;
  auto none = number_slots(std::vector<Piece>{inside, inside});
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->solved_colors.empty() && none->palette.empty());
  EXPECT_EQ(none->piece_slots.size(), 2u);
  EXPECT_TRUE(none->piece_slots[0].empty() && none->piece_faces[1].empty());

  // Exactly 65536 colours are fine; one more is refused.
  auto linear = [](int byte) {
    const double s = byte / 255.0;
    return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
  };
  Piece many;
  for (int i = 0; i < 65539; ++i) many.vertices.push_back(v(i, 0, 0));
  for (int k = 0; k < 65536; ++k)
    many.faces.push_back(Face{{std::uint64_t(k), std::uint64_t(k + 1), std::uint64_t(k + 2)}, plane(0, 0, 1, 0),
                              Rgb{linear(k & 255), linear(k >> 8), 0.0}, 0});
  auto full = number_slots(std::vector<Piece>{many});
  ASSERT_TRUE(full) << full.error().message;
  EXPECT_EQ(full->palette.size(), 65536u);
  EXPECT_EQ(full->solved_colors.back(), 65535);
  many.faces.push_back(Face{{65536, 65537, 65538}, plane(0, 0, 1, 0), Rgb{0.0, 0.0, 1.0}, 0});
  EXPECT_EQ(number_slots(std::vector<Piece>{many}).error(), Error::other("puzzle has too many colors"));
}

TEST(Model, PositionAndOrientationKeys) {
  EXPECT_EQ(position_key(Vector3{q(4, 3), q(0), q(-2)}, 4), "4:4/3,;;-2/1,;");
  EXPECT_EQ(orientation_key(Quaternion{q(0), q(0), q(1, 2), q(1, 2)}), ";;1/2,;1/2,;");
  EXPECT_TRUE(at_home(quat(0, 0, 0, -1)));
  EXPECT_FALSE(at_home(quat(0, 0, 0, 0)));
  EXPECT_FALSE(at_home(quat(0, 1, 0, 1)));
}

// ---------------------------------------------------------------------------------------------
// Readers

TEST(Readers, SolvedTurnedAndBack) {
  Simulator sim = catalog_puzzle("Quenly's Cube (3x3x3)");
  EXPECT_EQ(ids_of(sim), identity(54));
  EXPECT_EQ(*sticker_colors(sim), model_of(sim)->solved_colors);
  EXPECT_TRUE(*is_solved(sim));

  ASSERT_TRUE(turn_grip(sim, 0, TurnRequest::by_direction(1)));
  const auto turned = ids_of(sim);
  EXPECT_TRUE(is_permutation(turned));
  EXPECT_NE(turned, identity(54));
  EXPECT_FALSE(*is_solved(sim));
  const std::size_t memo = sim.sticker_memo.size();
  EXPECT_GT(memo, 0u);
  EXPECT_EQ(ids_of(sim), turned);  // the second read only looks up
  EXPECT_EQ(sim.sticker_memo.size(), memo);

  // A half turn of a face twice over: back home, though no undo was made.
  ASSERT_TRUE(turn_grip(sim, 0, TurnRequest::by_direction(1)));
  ASSERT_TRUE(turn_grip(sim, 0, TurnRequest::to_stop(2)));
  EXPECT_EQ(ids_of(sim), identity(54));

  // Installing a model empties the memo; the next read fills it again.
  ASSERT_TRUE(turn_grip(sim, 2, TurnRequest::by_direction(1)));
  const auto again = ids_of(sim);
  set_tabular_model(sim, model_of(sim));
  EXPECT_TRUE(sim.sticker_memo.empty());
  EXPECT_EQ(ids_of(sim), again);
  EXPECT_FALSE(sim.sticker_memo.empty());

  // No stickers at all: empty readings, solved.
  Piece inside = cube_piece();
  for (Face& f : inside.faces) f.interior = 1;
  Simulator bare = from_pieces({inside});
  EXPECT_TRUE(ids_of(bare).empty());
  EXPECT_TRUE(*is_solved(bare));
}

TEST(Readers, OffTheLatticeIsAStateErrorOtherErrorsPassThrough) {
  // A Helicopter Cube turn to an in-between stop leaves stickers off the lattice.
  Simulator heli = catalog_puzzle("Helicopter Cube");
  const ModelRef m = model_of(heli);
  bool found = false;
  for (std::size_t g = 0; g < heli.grips.size() && !found; ++g) {
    const std::size_t stops = stops_of_grip(heli, g)->size();
    for (std::size_t s = 1; s < stops && !found; ++s) {
      ASSERT_TRUE(turn_grip(heli, g, TurnRequest::to_stop(s)));
      Error why;
      auto ids = try_sticker_ids(*m, heli.pieces, heli.sticker_memo, &why);
      ASSERT_TRUE(ids) << ids.error().message;
      if (!*ids) {
        found = true;
        EXPECT_EQ(why.kind, ErrorKind::State);
        EXPECT_EQ(why.message.rfind("face ", 0), 0u) << why.message;
        EXPECT_NE(why.message.find("This puzzle does not return to its own lattice"), std::string::npos);
        EXPECT_EQ(sticker_ids(heli).error(), why);
        EXPECT_EQ(is_solved(heli).error(), why);
      }
      ASSERT_TRUE(*undo_turn(heli));
    }
  }
  EXPECT_TRUE(found);

  // An arithmetic failure is an error, never a reading of "off the lattice".
  Simulator sim = catalog_puzzle("Quenly's Cube (3x3x3)");
  ASSERT_TRUE(tabular_model(sim));
  sim.pieces[0].rotation = unrelated_fields();
  auto ids = try_sticker_ids(*sim.tabular_model, sim.pieces, sim.sticker_memo);
  ASSERT_FALSE(ids);
  EXPECT_NE(ids.error().message.find("same field"), std::string::npos) << ids.error().message;
  EXPECT_NE(is_solved(sim).error().kind, ErrorKind::State);
  auto table = compute_action_permutations(sim);
  ASSERT_FALSE(table);
  EXPECT_EQ(table.error(), ids.error());
}

// ---------------------------------------------------------------------------------------------
// Actions and permutations

TEST(Actions, ApplyMaskGripAndIndex) {
  Simulator sim = catalog_puzzle("Quenly's Cube (3x3x3)");
  EXPECT_EQ(apply_action(sim, 12).error(), Error::range("action 12 out of range (have 12)"));
  EXPECT_EQ(sim.move_count, 0u);
  EXPECT_EQ(*action_mask(sim), std::vector<std::uint8_t>(12, 1));
  ASSERT_TRUE(turn_grip(sim, 1, TurnRequest::by_direction(1)));  // leaves an animation in flight
  ASSERT_TRUE(*apply_action(sim, 4));
  EXPECT_FALSE(sim.animation);
  EXPECT_EQ(sim.move_count, 2u);
  EXPECT_EQ(sim.history.size(), 2u);
  Simulator plain = sim;
  refresh_orientations(plain);
  EXPECT_EQ(sim.orientations, plain.orientations);  // drawn at the exact pose

  for (std::uint64_t a = 0; a < 12; a += 2) EXPECT_EQ(*action_grip(sim, a), *action_grip(sim, a + 1));
  EXPECT_EQ(*action_grip(sim, 12), std::nullopt);
  const auto& names = sim.tabular_model->grip_names;
  EXPECT_EQ(action_index(names, "A'"), 1u);
  EXPECT_EQ(action_index(names, "F"), 10u);
  EXPECT_EQ(action_index(names, "A''"), std::nullopt);
  EXPECT_EQ(action_index(names, ""), std::nullopt);
  EXPECT_EQ(action_index(names, "A2"), std::nullopt);
  const auto all = action_names(names);
  for (std::size_t a = 0; a < all.size(); ++a) EXPECT_EQ(action_index(names, all[a]), a);

  // Layers at x, y, z = 1/2: one quarter turn blocks the layers across it.
  Simulator locking = from_pieces(cut_cube({plane(1, 0, 0, -1, 2), plane(0, 1, 0, -1, 2), plane(0, 0, 1, -1, 2)}));
  const auto actions = model_of(locking)->action_count();
  ASSERT_TRUE(*apply_action(locking, 0));
  const auto mask = *action_mask(locking);
  std::uint64_t blocked = std::find(mask.begin(), mask.end(), 0) - mask.begin();
  ASSERT_LT(blocked, actions);
  EXPECT_EQ(mask[blocked ^ 1], 0);
  const std::string before = pieces_text(locking);
  EXPECT_FALSE(*apply_action(locking, blocked));
  EXPECT_EQ(*action_grip(locking, blocked), std::nullopt);
  EXPECT_EQ(pieces_text(locking), before);
  EXPECT_EQ(locking.move_count, 1u);
}

// Turning by every action from a scrambled state moves the sticker ids exactly as the table says,
// and the table read on the scrambled puzzle is the one read on the solved puzzle.
void check_table(std::string_view name) {
  SCOPED_TRACE(name);
  Simulator sim = catalog_puzzle(name);
  auto solved = compute_action_permutations(sim);
  ASSERT_TRUE(solved) << solved.error().message;
  ASSERT_TRUE(*solved);
  const ActionPermutations& table = **solved;
  const std::size_t actions = sim.tabular_model->action_count();
  ASSERT_EQ(table.action_count, actions);
  ASSERT_EQ(table.slot_count, sim.tabular_model->sticker_count());
  EXPECT_EQ(table.start_colors, sim.tabular_model->solved_colors);
  EXPECT_EQ(sim.move_count, 2 * actions);
  EXPECT_TRUE(sim.history.empty());
  EXPECT_EQ(ids_of(sim), identity(table.slot_count));
  for (std::size_t a = 0; a < actions; ++a) EXPECT_TRUE(is_permutation(table.row(a))) << a;

  for (std::uint64_t a : {1u, 2u, 5u, 6u, 3u}) ASSERT_TRUE(*apply_action(sim, a % actions));
  const std::string scrambled = pieces_text(sim);
  const std::size_t history = sim.history.size();
  auto again = compute_action_permutations(sim);
  ASSERT_TRUE(again && *again);
  EXPECT_EQ((*again)->permutations, table.permutations);
  EXPECT_EQ(pieces_text(sim), scrambled);
  EXPECT_EQ(sim.history.size(), history);

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

  // The cube's backward quarter turn undoes the forward one.
  Simulator sim = catalog_puzzle("Quenly's Cube (3x3x3)");
  const auto table = **compute_action_permutations(sim);
  for (std::size_t a = 0; a < table.action_count; a += 2) {
    const auto f = table.row(a), b = table.row(a + 1);
    for (std::size_t i = 0; i < f.size(); ++i) ASSERT_EQ(f[b[i]], i);
  }
}

TEST(Permutations, AbsentWhenMovesAreNotFixed) {
  Simulator heli = catalog_puzzle("Helicopter Cube");
  const std::string before = pieces_text(heli);
  auto table = compute_action_permutations(heli);
  ASSERT_TRUE(table) << table.error().message;
  EXPECT_FALSE(*table);
  EXPECT_EQ(pieces_text(heli), before);
  EXPECT_TRUE(heli.history.empty());

  Simulator locking = from_pieces(cut_cube({plane(1, 0, 0, -1, 2), plane(0, 1, 0, -1, 2), plane(0, 0, 1, -1, 2)}));
  EXPECT_FALSE(*compute_action_permutations(locking));
  EXPECT_TRUE(locking.history.empty());
  EXPECT_EQ(ids_of(locking), identity(model_of(locking)->sticker_count()));

  // No grips: no actions, an empty table that is there.
  Simulator plain = catalog_puzzle("?shell=C$1");
  auto empty = compute_action_permutations(plain);
  ASSERT_TRUE(empty && *empty);
  EXPECT_EQ((*empty)->action_count, 0u);
  EXPECT_EQ((*empty)->start_colors.size(), 6u);
  EXPECT_TRUE(action_mask(plain)->empty());
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
  EXPECT_TRUE(moves(ab, "").empty());
  EXPECT_TRUE(moves(ab, " \t\r\n ").empty());
  EXPECT_EQ(moves(ab, "A"), (std::vector<Move>{{0, 1}}));
  EXPECT_EQ(moves(ab, "A' B2'  A"), (std::vector<Move>{{1, 1}, {3, 2}, {0, 1}}));
  EXPECT_EQ(moves(ab, "B007"), (std::vector<Move>{{2, 7}}));
  // No-break and ideographic spaces separate; U+001F does not.
  EXPECT_EQ(moves(ab, "A\u00a0B\u3000A'\u2029B\u0085A"), (std::vector<Move>{{0, 1}, {2, 1}, {1, 1}, {2, 1}, {0, 1}}));
  EXPECT_EQ(parse_error(ab, "A\x1f" "B"), "'A\x1f" "B' is not a move of this puzzle. Its grips are A, B");

  EXPECT_EQ(parse_error(ab, "A B C"), "'C' is not a move of this puzzle. Its grips are A, B");
  EXPECT_EQ(parse_error(ab, "A''"), "'A''' is not a move of this puzzle. Its grips are A, B");
  EXPECT_EQ(parse_error(ab, "'"), "''' is not a move of this puzzle. Its grips are A, B");
  EXPECT_EQ(parse_error(ab, "7"), "'7' is not a move of this puzzle. Its grips are A, B");
  EXPECT_EQ(parse_error(ab, "A0'"), "move 'A0'' repeats zero times");
  EXPECT_EQ(parse_error(ab, "A4294967296"), "move 'A4294967296' has an unreadable repeat count");
  EXPECT_EQ(parse_error(ab, "A99999999999999999999999"), "move 'A99999999999999999999999' has an unreadable repeat count");
  EXPECT_EQ(parse_error({}, "A"), "'A' is not a move of this puzzle. Its grips are ");
  EXPECT_TRUE(moves({}, "  ").empty());

  // A name ending in digits is matched whole first; otherwise the longest name leaving a count.
  const std::vector<std::string> layers{"A1", "A2", "A12", "A"};
  EXPECT_EQ(moves(layers, "A1 A12 A123 A13"), (std::vector<Move>{{0, 1}, {4, 1}, {4, 3}, {0, 3}}));
  EXPECT_EQ(moves({"A1", "A2"}, "A12"), (std::vector<Move>{{0, 2}}));
}

TEST(MoveText, RepeatCountsAreCapped) {
  const std::vector<std::string> ab{"A", "B"};
  EXPECT_EQ(moves(ab, cat("A", kMaxTextTurns)), (std::vector<Move>{{0, static_cast<std::uint32_t>(kMaxTextTurns)}}));
  EXPECT_EQ(parse_error(ab, "A4294967295"), cat("move 'A4294967295' takes the text past ", kMaxTextTurns, " turns"));
  EXPECT_EQ(parse_error(ab, cat("B", kMaxTextTurns - 1, " A B'")), cat("move 'B'' takes the text past ", kMaxTextTurns, " turns"));
  // Long tokens cost no more than their length.
  const std::string digits(1 << 20, '9');
  EXPECT_EQ(parse_error(ab, "A" + digits), cat("move 'A", digits, "' has an unreadable repeat count"));
  EXPECT_EQ(parse_error(ab, "Q" + digits).substr(0, 5), "'Q999");
}

TEST(MoveText, ApplyMakesEveryTurnOrNamesTheLockedMove) {
  Simulator sim = catalog_puzzle("Quenly's Cube (3x3x3)");
  auto made = apply_moves(sim, "A B2' A'");
  ASSERT_TRUE(made) << made.error().message;
  EXPECT_EQ(*made, 4u);
  EXPECT_EQ(sim.history.size(), 4u);
  EXPECT_FALSE(sim.animation);
  EXPECT_EQ(*apply_moves(sim, ""), 0u);
  const std::size_t history = sim.history.size();
  EXPECT_EQ(apply_moves(sim, "A Q").error().kind, ErrorKind::Parse);
  EXPECT_EQ(sim.history.size(), history);  // nothing made before a parse error
  EXPECT_FALSE(*is_solved(sim));
  EXPECT_TRUE(*restore_turns(sim));
  EXPECT_TRUE(*is_solved(sim));

  Simulator locking = from_pieces(cut_cube({plane(1, 0, 0, -1, 2), plane(0, 1, 0, -1, 2), plane(0, 0, 1, -1, 2)}));
  const auto& names = model_of(locking)->grip_names;
  ASSERT_TRUE(*apply_action(locking, 0));
  const auto mask = *action_mask(locking);
  const std::uint64_t blocked = std::find(mask.begin(), mask.end(), 0) - mask.begin();
  auto refused = apply_moves(locking, cat(names[blocked / 2], "'"));
  EXPECT_EQ(refused.error(), Error::state(cat("move '", names[blocked / 2], "'' cannot be made: that layer is locked")));
  EXPECT_EQ(locking.history.size(), 1u);
}

// ---------------------------------------------------------------------------------------------
// Jumbling

TEST(Jumbling, CatalogAgreesWithTheFixedList) {
  const auto rows = catalog();
  const auto fixed = non_jumbling_recipes();
  std::vector<std::string> expected;
  for (const auto& row : rows)
    if (std::find(fixed.begin(), fixed.end(), row.recipe) != fixed.end()) expected.emplace_back(row.recipe);
  EXPECT_EQ(expected.size(), 36u);  // every listed recipe is a catalog row, in catalog order
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), fixed.begin(), fixed.end()));

  // Every row takes about 10 s on one thread; under the sanitizers every third row.
  const std::size_t stride = std::getenv("GYRELLE_SANITIZED") ? 3 : 1;
  std::vector<Result<bool>> answers(rows.size(), false);
  const auto start = std::chrono::steady_clock::now();
  pool::for_each_index((rows.size() + stride - 1) / stride, 1,
                       [&](std::size_t k) { answers[k * stride] = jumbles(rows[k * stride].recipe); });
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (std::size_t i = 0; i < rows.size(); i += stride) {
    ASSERT_TRUE(answers[i]) << rows[i].name << ": " << answers[i].error().message;
    const bool listed = std::find(fixed.begin(), fixed.end(), rows[i].recipe) != fixed.end();
    EXPECT_EQ(*answers[i], !listed) << rows[i].name << " " << rows[i].recipe;
  }
  std::printf("jumbles over %zu catalog rows: %.1f s\n", (rows.size() + stride - 1) / stride, seconds);
}

}  // namespace
}  // namespace gy

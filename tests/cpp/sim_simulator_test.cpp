#include "simulator.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "catalog.hpp"
#include "color.hpp"
#include "sim_pieces.hpp"

namespace gy {
namespace {

using namespace gy::testing;

constexpr double kPi = 3.141592653589793;

Simulator from_pieces(std::vector<Piece> pieces) {
  Simulator sim;
  sim.pieces = std::move(pieces);
  refresh_orientations(sim);
  EXPECT_TRUE(derive_grips(sim));
  return sim;
}

Simulator cube3() { return from_pieces(cut_cube(slabs(1, 3))); }

Simulator catalog_puzzle(std::string_view name) {
  auto sim = Simulator::build(*resolve_recipe_text(name));
  EXPECT_TRUE(sim) << name << ": " << sim.error().message;
  return std::move(*sim);
}

// Everything a failed call must leave alone, as text.
std::string snapshot(const Simulator& sim) {
  std::string s;
  for (const Piece& p : sim.pieces) s += p.rotation.key();
  for (const auto& t : grip_texts(sim.grips)) s += t;
  for (const auto& a : sim.arrows)
    for (double x : a.transform) s += cat(x, ",");
  for (const auto& o : sim.orientations)
    for (double x : o) s += cat(x, ",");
  for (const auto& r : sim.history) s += r.plane.normal.key() + r.rotation.key();
  if (const auto& a = sim.animation) {
    for (const auto& o : a->start)
      for (double x : o) s += cat(x, ",");
    s += cat(a->pieces.size(), ",", a->duration_ms, ",", a->angle);
  }
  return s + cat("|", sim.move_count, "|", sim.hovered_arrow.value_or(99), "|", sim.pressed_arrow.value_or(99));
}

bool at_identity(const Quaternion& q) { return q.x.is_zero() && q.y.is_zero() && q.z.is_zero() && *q.w.sign() > 0; }

bool same_state(const Simulator& a, const Simulator& b) {
  for (std::size_t i = 0; i < a.pieces.size(); ++i)
    if (!same(a.pieces[i].rotation, b.pieces[i].rotation)) return false;
  return a.pieces.size() == b.pieces.size();
}

std::vector<double> stop_degrees(Simulator& sim, std::size_t g) {
  auto stops = stops_of_grip(sim, g);
  EXPECT_TRUE(stops) << stops.error().message;
  std::vector<double> out;
  for (const Quaternion& s : *stops) out.push_back(std::round(*rotation_angle(s) * 180.0 / kPi * 1e6) / 1e6);
  return out;
}

TEST(Meshes, FansOutlinesAndArrow) {
  Piece box = cube_piece();
  box.faces.insert(box.faces.begin(), Face{{0, 1}, plane(1, 0, 0, 0), Rgb{}, 0});  // adds nothing
  auto mesh = build_piece_mesh(box);
  ASSERT_TRUE(mesh);
  EXPECT_EQ(mesh->triangles.size(), 12u);
  EXPECT_EQ(mesh->face_indices, (std::vector<std::int32_t>{1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6}));
  EXPECT_EQ(mesh->colours[0], shade_to_rgba(1, 0, 0, 1.0));
  EXPECT_EQ(mesh->edges.size(), 12u);  // no face diagonals

  // Two triangles bent by less than a degree: only the four boundary edges.
  Piece flat;
  flat.vertices = {v(0, 0, 0), v(1, 0, 0), v(1, 1, 0), Vector3{q(0), q(1), q(1, 1000)}};
  flat.faces = {Face{{0, 1, 2}, plane(0, 0, 1, 0), Rgb{}, 0}, Face{{0, 2, 3}, plane(0, 0, 1, 0), Rgb{}, 0}};
  EXPECT_EQ(build_piece_mesh(flat)->edges.size(), 4u);

  auto arrow = build_arrow_mesh();
  ASSERT_EQ(arrow.size(), 112u);
  for (std::size_t i = 0; i < 54; ++i) {  // 27 bottom triangles counter-clockwise, 27 top ones reversed
    const auto& t = arrow[i];
    const double cross = (t[1][0] - t[0][0]) * (t[2][1] - t[0][1]) - (t[1][1] - t[0][1]) * (t[2][0] - t[0][0]);
    EXPECT_TRUE(i < 27 ? cross > 0 && t[0][2] == 0.0 : cross < 0 && t[0][2] == 0.2) << i;
  }
}

TEST(Arrows, ParallelGripsStepOutwardAndFaceTheirAxis) {
  std::vector<Plane> cuts;
  for (auto [n, d] : {std::pair{0, 1}, {1, 3}, {-1, 3}, {2, 3}, {-2, 3}}) cuts.push_back(plane(0, 0, 1, n, d));
  Simulator sim = from_pieces(cut_cube(cuts));
  ASSERT_EQ(sim.grips.size(), 6u);
  ASSERT_EQ(sim.arrows.size(), 12u);
  std::vector<double> up, down;
  for (std::size_t g = 0; g < sim.grips.size(); ++g) {
    const auto& a = sim.arrows[2 * g].transform;
    const auto& b = sim.arrows[2 * g + 1].transform;
    const bool plus = *sim.grips[g].plane.normal.z.sign() > 0;
    (plus ? up : down).push_back(a[14]);
    // +z: the identity; -z: the half turn about y. The second arrow is the first mirrored in x.
    EXPECT_DOUBLE_EQ(a[0], plus ? 0.2 : -0.2);
    EXPECT_DOUBLE_EQ(a[10], plus ? 0.2 : -0.2);
    EXPECT_DOUBLE_EQ(b[0], -a[0]);
    for (int k = 1; k < 16; ++k) EXPECT_EQ(a[k], b[k]);
  }
  EXPECT_EQ(up, (std::vector<double>{1.25, 1.5, 1.75}));
  EXPECT_EQ(down, (std::vector<double>{-1.25, -1.5, -1.75}));
  EXPECT_TRUE(from_pieces({cube_piece()}).arrows.empty());
}

TEST(Turning, DirectionsStopsAndAnimation) {
  Simulator sim = cube3();
  sim.hovered_arrow = 1;
  sim.pressed_arrow = 1;
  ASSERT_EQ(stop_degrees(sim, 0), (std::vector<double>{0, 90, 180, 270}));
  const std::vector<std::uint64_t> layer = sim.grips[0].pieces;
  ASSERT_TRUE(turn_grip(sim, 0, TurnRequest::by_direction(1)));
  EXPECT_FALSE(sim.hovered_arrow);
  EXPECT_FALSE(sim.pressed_arrow);
  EXPECT_EQ(sim.move_count, 1u);
  EXPECT_EQ(sim.history.size(), 1u);
  const TurnAnimation& a = *sim.animation;
  EXPECT_DOUBLE_EQ(a.angle, kPi / 2);
  EXPECT_DOUBLE_EQ(a.duration_ms, 250.0);
  EXPECT_EQ(a.pieces, layer);
  for (std::size_t k = 0; k < a.pieces.size(); ++k) {  // end = start turned by one radian
    double dot = 0;
    for (int c = 0; c < 4; ++c) dot += a.start[k][c] * a.end[k][c];
    EXPECT_NEAR(2 * std::acos(std::abs(dot)), 1.0, 1e-12);
  }
  for (const auto& o : sim.orientations) EXPECT_EQ(o, quat4_identity);  // drawn at the start pose

  auto turned = [](TurnRequest r) {
    Simulator s = cube3();
    EXPECT_TRUE(turn_grip(s, 0, r));
    return s;
  };
  EXPECT_TRUE(same_state(sim, turned(TurnRequest::to_stop(1))));
  Simulator back = turned(TurnRequest::by_direction(-1)), three = turned(TurnRequest::to_stop(3));
  EXPECT_DOUBLE_EQ(back.animation->angle, -kPi / 2);
  EXPECT_DOUBLE_EQ(back.animation->duration_ms, 250.0);
  EXPECT_DOUBLE_EQ(three.animation->angle, 3 * kPi / 2);
  EXPECT_DOUBLE_EQ(three.animation->duration_ms, 750.0);
  EXPECT_TRUE(same_state(back, three));

  // Undo right after: exact identity again, two moves, no animation, the grips as built.
  ASSERT_TRUE(*undo_turn(sim));
  EXPECT_EQ(sim.move_count, 2u);
  EXPECT_FALSE(sim.animation);
  EXPECT_TRUE(sim.history.empty());
  for (const Piece& p : sim.pieces) EXPECT_TRUE(at_identity(p.rotation));
  EXPECT_EQ(grip_texts(sim.grips), grip_texts(cube3().grips));
  EXPECT_FALSE(*undo_turn(sim));
  EXPECT_EQ(sim.move_count, 2u);
}

TEST(Turning, GripWithoutStopsTurnsAWholeTurn) {
  Simulator sim = from_pieces(cut_cube({plane(1, 0, 0, -1, 3)}));
  ASSERT_EQ(sim.grips.size(), 1u);
  EXPECT_TRUE(stop_degrees(sim, 0).empty());
  ASSERT_TRUE(turn_grip(sim, 0, TurnRequest::by_direction(-7)));
  EXPECT_DOUBLE_EQ(sim.animation->angle, -2 * kPi);
  EXPECT_DOUBLE_EQ(sim.animation->duration_ms, 1000.0);
  EXPECT_EQ(sim.history.size(), 1u);
  EXPECT_TRUE(at_identity(sim.pieces[0].rotation));
  ASSERT_TRUE(turn_grip(sim, 0, TurnRequest::by_direction(1)));
  EXPECT_DOUBLE_EQ(sim.animation->angle, 2 * kPi);
}

TEST(Turning, TurnInFlightSnapsToRestFirst) {
  Simulator sim = cube3();
  ASSERT_TRUE(turn_grip(sim, 0, TurnRequest::by_direction(1)));
  for (auto& o : sim.orientations) o = {0.1, 0.2, 0.3, 0.9};  // as if part played
  Simulator between = sim;
  between.animation.reset();
  refresh_orientations(between);
  ASSERT_TRUE(turn_grip(sim, 2, TurnRequest::by_direction(1)));
  // The pose of the exact state between the turns, which the new animation starts from.
  EXPECT_EQ(sim.orientations, between.orientations);
  for (std::size_t k = 0; k < sim.animation->pieces.size(); ++k)
    EXPECT_EQ(sim.orientations[sim.animation->pieces[k]], sim.animation->start[k]);
}

TEST(Turning, BadRequestsChangeNothing) {
  Simulator sim = cube3();
  ASSERT_TRUE(turn_grip(sim, 4, TurnRequest::by_direction(1)));
  sim.hovered_arrow = 2;
  const std::string before = snapshot(sim);
  EXPECT_EQ(turn_grip(sim, 6, TurnRequest::by_direction(1)).error(),
            Error::range("grip index 6 out of range (have 6)"));
  EXPECT_EQ(turn_grip(sim, 1, TurnRequest::to_stop(4)).error(),
            Error::range("stop index 4 out of range (grip 1 has 4)"));
  EXPECT_EQ(stops_of_grip(sim, 9).error().message, "grip index 9 out of range (have 6)");
  EXPECT_EQ(snapshot(sim), before);
}

// A face-memo entry giving the piece, in that orientation, a plane whose numbers lie in two
// unrelated fields, so that deriving grips in that state fails.
void poison(Simulator& sim, std::uint64_t piece, const Quaternion& orientation) {
  auto root = [](std::int64_t n) {
    std::vector<Fraction> m{fraction(-n, 1), fraction(0, 1), fraction(1, 1)};
    return *A::generator(*NumberField::make(FracPoly(m), fraction(1, 1), fraction(n, 1)));
  };
  FacePlane bad{Plane{Vector3{root(2), q(0), q(0)}, root(3)}, "[[poison],x]", 8};
  sim.grip_memos.face_memo.store(cat(piece, ",") + orientation.key(),
                                 std::make_shared<const std::vector<FacePlane>>(std::vector<FacePlane>{bad}));
}

TEST(Turning, FailedTurnOrUndoLeavesEverything) {
  Simulator sim = cube3();
  ASSERT_TRUE(turn_grip(sim, 0, TurnRequest::by_direction(1)));
  sim.hovered_arrow = 1;
  const std::string before = snapshot(sim);

  const Grip g = sim.grips[2];
  auto after = sim.pieces;
  ASSERT_TRUE(rotate_pieces(after, g.pieces, (*stops_of_grip(sim, 2))[1]));
  poison(sim, g.pieces[0], after[g.pieces[0]].rotation);
  auto turned = turn_grip(sim, 2, TurnRequest::by_direction(1));
  ASSERT_FALSE(turned);
  EXPECT_NE(turned.error().message.find("same field"), std::string::npos) << turned.error().message;
  EXPECT_EQ(snapshot(sim), before);

  // The undo fails in the state it goes back to, and keeps its record.
  const Grip h = *find_grip(sim.grips, sim.history.back().plane);
  auto undone = sim.pieces;
  ASSERT_TRUE(rotate_pieces(undone, h.pieces, sim.history.back().rotation.conjugate()));
  poison(sim, h.pieces[0], undone[h.pieces[0]].rotation);
  EXPECT_FALSE(undo_turn(sim));
  EXPECT_EQ(snapshot(sim), before);
}

TEST(Turning, RepeatsFollowTheLayerAndFailWhole) {
  // A jumbling puzzle renumbers its grips as it turns: each repeat finds the layer by its plane.
  Simulator heli = catalog_puzzle("Helicopter Cube");
  for (std::uint64_t g = 0; g < heli.grips.size(); ++g) {
    Simulator repeated = heli, single = heli;
    ASSERT_TRUE(turn_grip_repeated(repeated, g, 1, 3)) << g;
    const Plane p = heli.grips[g].plane;
    for (int k = 0; k < 3; ++k) {
      const Grip* layer = find_grip(single.grips, p);
      ASSERT_NE(layer, nullptr);
      ASSERT_TRUE(turn_grip(single, static_cast<std::uint64_t>(layer - single.grips.data()), TurnRequest::by_direction(1)));
    }
    EXPECT_TRUE(same_state(repeated, single)) << g;
    EXPECT_EQ(snapshot(repeated), snapshot(single)) << g;
  }

  Simulator sim = cube3();
  ASSERT_TRUE(turn_grip(sim, 0, TurnRequest::by_direction(1)));
  sim.hovered_arrow = 1;
  const std::string before = snapshot(sim);
  EXPECT_TRUE(turn_grip_repeated(sim, 3, -1, 0));
  EXPECT_EQ(turn_grip_repeated(sim, 6, 1, 2).error(), Error::range("grip index 6 out of range (have 6)"));
  EXPECT_EQ(snapshot(sim), before);
  // The third turn fails: the two before it are taken back with everything they changed.
  const Grip g = sim.grips[2];
  const Quaternion r = (*stops_of_grip(sim, 2))[1];
  auto after = sim.pieces;
  for (int k = 0; k < 3; ++k) ASSERT_TRUE(rotate_pieces(after, g.pieces, r));
  poison(sim, g.pieces[0], after[g.pieces[0]].rotation);
  auto turned = turn_grip_repeated(sim, 2, 1, 3);
  ASSERT_FALSE(turned);
  EXPECT_NE(turned.error().message.find("same field"), std::string::npos) << turned.error().message;
  EXPECT_EQ(snapshot(sim), before);
  // A grip whose plane no layer lies in is lost after its first turn.
  sim.grips[4].plane.d = q(-1, 4);
  const std::string moved = snapshot(sim);
  EXPECT_EQ(turn_grip_repeated(sim, 4, 1, 2).error(), Error::state("the layer of grip 4 cannot turn again after 1 turns"));
  EXPECT_EQ(snapshot(sim), moved);
}

TEST(Turning, UndoRefusesWhileTheLayerIsBlocked) {
  // Layers at x, y, z = 1/2: a quarter turn of the x layer leaves pieces across y = 1/2.
  Simulator sim = from_pieces(cut_cube({plane(1, 0, 0, -1, 2), plane(0, 1, 0, -1, 2), plane(0, 0, 1, -1, 2)}));
  const std::size_t y_layer = static_cast<std::size_t>(find_grip(sim.grips, plane(0, 1, 0, -1, 2)) - sim.grips.data());
  ASSERT_TRUE(turn_grip(sim, y_layer, TurnRequest::by_direction(1)));
  // Turn the x layer outside the history so that the recorded layer is blocked.
  ASSERT_TRUE(rotate_pieces(sim.pieces, find_grip(sim.grips, plane(1, 0, 0, -1, 2))->pieces, quat(1, 0, 0, 1)));
  ASSERT_TRUE(derive_grips(sim));
  ASSERT_EQ(find_grip(sim.grips, plane(0, 1, 0, -1, 2)), nullptr);
  const std::string before = snapshot(sim);
  EXPECT_FALSE(*undo_turn(sim));
  EXPECT_FALSE(*restore_turns(sim));
  EXPECT_EQ(snapshot(sim), before);
}

TEST(Turning, RotatePiecesKeepsUnitSumAndFailsWhole) {
  auto pieces = cut_cube(slabs(1, 3));
  ASSERT_TRUE(rotate_pieces(pieces, std::vector<std::uint64_t>{0, 1, 0}, quat(1, 0, 0, 1)));
  EXPECT_TRUE(same(pieces[0].rotation, quat(1, 0, 0, 0)));  // listed twice: a half turn
  EXPECT_TRUE(same(pieces[1].rotation, Quaternion{q(1, 2), q(0), q(0), q(1, 2)}));
  const auto keys = pieces[1].rotation.key() + pieces[2].rotation.key();
  EXPECT_FALSE(rotate_pieces(pieces, std::vector<std::uint64_t>{2, 1}, quat(0, 0, 0, 0)));
  EXPECT_EQ(pieces[1].rotation.key() + pieces[2].rotation.key(), keys);
}

TEST(Catalog, BuildsWithDefaultsAndGrips) {
  auto plain = Simulator::build("?shell=C$1");
  ASSERT_TRUE(plain) << plain.error().message;
  EXPECT_EQ(plain->piece_meshes.at(0).triangles.size(), 12u);
  EXPECT_EQ(plain->piece_meshes.at(0).edges.size(), 12u);
  EXPECT_TRUE(plain->grips.empty());

  Simulator sim = catalog_puzzle("Quenly's Cube (3x3x3)");
  EXPECT_EQ(sim.pieces.size(), 26u);
  EXPECT_EQ(sim.piece_meshes.size(), 26u);
  EXPECT_EQ(sim.orientations.size(), 26u);
  EXPECT_EQ(sim.arrows.size(), 12u);
  EXPECT_EQ(sim.arrow_mesh.size(), 112u);
  EXPECT_TRUE(sim.history.empty() && !sim.animation && !sim.tabular_model);
  EXPECT_EQ(sim.move_count + sim.queued_moves, 0u);
  EXPECT_EQ(sim.rng_state, 0x2545F4914F6CDD1Du);
  EXPECT_EQ(*recipe_to_query(sim.recipe), "?shell=C$1&cut=C$1/3");

  std::vector<std::string> texts{"?shell=C$1&cut=C$0", "?shell=C$1&cut=", "?shell=T$1&cut=T$0"};
  auto built = build_simulators(texts);
  ASSERT_EQ(built.size(), 3u);
  EXPECT_EQ(built[0]->grips.size(), 6u);
  EXPECT_EQ(built[1].error(), Simulator::build(texts[1]).error());
  EXPECT_TRUE(built[2]);
}

TEST(Catalog, StopAngles) {
  auto all_grips = [](std::string_view name, std::size_t count, std::vector<double> degrees) {
    Simulator sim = catalog_puzzle(name);
    ASSERT_EQ(sim.grips.size(), count) << name;
    for (std::size_t g = 0; g < count; ++g) EXPECT_EQ(stop_degrees(sim, g), degrees) << name << " " << g;
  };
  all_grips("Quenly's Cube (3x3x3)", 6, {0, 90, 180, 270});
  all_grips("Megaminx", 12, {0, 72, 144, 216, 288});
  all_grips("Skewb", 8, {0, 120, 240});
  Simulator heli = catalog_puzzle("Helicopter Cube");
  ASSERT_EQ(heli.grips.size(), 12u);
  for (std::size_t g = 0; g < heli.grips.size(); ++g) {
    auto deg = stop_degrees(heli, g);
    EXPECT_EQ(deg.front(), 0);
    EXPECT_NE(std::find(deg.begin(), deg.end(), 180.0), deg.end());
  }
}

// Random turns by direction and to stops, then all undone: the exact state, the grips and their
// order come back exactly.
void turn_and_undo(std::string_view name, int turns) {
  Simulator sim = catalog_puzzle(name);
  const auto grips = grip_texts(sim.grips);
  std::mt19937 rng(11);
  for (int k = 0; k < turns; ++k) {
    const std::size_t g = rng() % sim.grips.size();
    TurnRequest request = TurnRequest::by_direction(rng() % 2 ? 1 : -1);
    const std::size_t stops = stops_of_grip(sim, g)->size();
    if (k % 3 == 2 && stops > 0) request = TurnRequest::to_stop(rng() % stops);
    auto t = turn_grip(sim, g, request);
    ASSERT_TRUE(t) << name << ": " << t.error().message;
  }
  EXPECT_FALSE(std::all_of(sim.pieces.begin(), sim.pieces.end(), [](auto& p) { return at_identity(p.rotation); }));
  for (int k = 0; k < turns / 2; ++k) ASSERT_TRUE(*undo_turn(sim)) << name;
  auto restored = restore_turns(sim);
  ASSERT_TRUE(restored && *restored) << name;
  EXPECT_EQ(sim.move_count, static_cast<std::uint64_t>(2 * turns));
  for (const Piece& p : sim.pieces) EXPECT_TRUE(at_identity(p.rotation)) << name;
  EXPECT_EQ(grip_texts(sim.grips), grips) << name;
}

TEST(Catalog, TurnsAndUndoReturnExactly) {
  turn_and_undo("Quenly's Cube (3x3x3)", 40);
  turn_and_undo("Megaminx", 25);
  turn_and_undo("Skewb", 30);
  turn_and_undo("Helicopter Cube", 30);
}

}  // namespace
}  // namespace gy

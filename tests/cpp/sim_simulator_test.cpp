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
  for (const Piece& p : sim.pieces) sim.piece_meshes.push_back(*build_piece_mesh(p));
  sim.arrow_mesh = build_arrow_mesh();
  refresh_orientations(sim);
  EXPECT_TRUE(derive_grips(sim));
  return sim;
}

Simulator catalog_puzzle(std::string_view name) {
  auto query = resolve_recipe_text(name);
  EXPECT_TRUE(query) << name;
  auto sim = Simulator::build(*query);
  EXPECT_TRUE(sim) << name << ": " << sim.error().message;
  return std::move(*sim);
}

// Everything a failed call must leave alone, as text.
std::string snapshot(const Simulator& sim) {
  std::string s;
  for (const Piece& p : sim.pieces) s += p.rotation.key() + ";";
  for (const auto& t : grip_texts(sim.grips)) s += t + ";";
  for (const auto& a : sim.arrows)
    for (double x : a.transform) s += cat(x, ",");
  for (const auto& o : sim.orientations)
    for (double x : o) s += cat(x, ",");
  for (const auto& r : sim.history) s += r.plane.normal.key() + r.plane.d.to_string() + r.rotation.key() + ";";
  if (sim.animation) {
    const auto& a = *sim.animation;
    for (auto i : a.pieces) s += cat(i, ",");
    for (const auto& o : a.start)
      for (double x : o) s += cat(x, ",");
    for (const auto& o : a.end)
      for (double x : o) s += cat(x, ",");
    s += cat(a.duration_ms, ",", a.elapsed_ms, ",", a.angle);
  }
  s += cat("|", sim.move_count, "|", sim.hovered_arrow.value_or(99999), "|", sim.pressed_arrow.value_or(99999));
  return s;
}

bool at_identity(const Quaternion& q) {
  return q.x.is_zero() && q.y.is_zero() && q.z.is_zero() && *q.w.sign() > 0;
}

// Angles of a grip's stops in degrees.
std::vector<double> stop_degrees(Simulator& sim, std::size_t g) {
  auto stops = stops_of_grip(sim, g);
  EXPECT_TRUE(stops) << stops.error().message;
  std::vector<double> out;
  for (const Quaternion& s : *stops) out.push_back(std::round(*rotation_angle(s) * 180.0 / kPi * 1e6) / 1e6);
  return out;
}

// ---------------------------------------------------------------------------------------------
// Meshes

TEST(Meshes, CubeFacesFansAndOutline) {
  Piece box = cube_piece();
  auto mesh = build_piece_mesh(box);
  ASSERT_TRUE(mesh);
  EXPECT_EQ(mesh->triangles.size(), 12u);
  EXPECT_EQ(mesh->colours.size(), 12u);
  EXPECT_EQ(mesh->face_indices, (std::vector<std::int32_t>{0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5}));
  EXPECT_EQ(mesh->colours[0], shade_to_rgba(1, 0, 0, 1.0));
  EXPECT_EQ(mesh->edges.size(), 12u);  // no face diagonals
  for (const auto& e : mesh->edges) {
    int differing = 0;
    for (int k = 0; k < 3; ++k) differing += e[0][k] != e[1][k];
    EXPECT_EQ(differing, 1);
  }

  // A degenerate face keeps its index; two faces bent by less than a degree share no segment.
  Piece odd = box;
  odd.faces.insert(odd.faces.begin(), Face{{0, 1}, plane(1, 0, 0, 0), Rgb{}, 0});
  auto shifted = build_piece_mesh(odd);
  ASSERT_TRUE(shifted);
  EXPECT_EQ(shifted->face_indices.front(), 1);
  EXPECT_EQ(shifted->face_indices.back(), 6);

  Piece flat;
  flat.vertices = {Vector3{q(0), q(0), q(0)}, Vector3{q(1), q(0), q(0)}, Vector3{q(1), q(1), q(0)},
                   Vector3{q(0), q(1), q(1, 1000)}};
  flat.faces.push_back(Face{{0, 1, 2}, plane(0, 0, 1, 0), Rgb{}, 0});
  flat.faces.push_back(Face{{0, 2, 3}, plane(0, 0, 1, 0), Rgb{}, 0});
  auto bent = build_piece_mesh(flat);
  ASSERT_TRUE(bent);
  EXPECT_EQ(bent->edges.size(), 4u);
}

TEST(Meshes, ArrowSolid) {
  auto mesh = build_arrow_mesh();
  ASSERT_EQ(mesh.size(), 112u);
  // The 27 bottom triangles wind counter-clockwise seen from +z and lie in z = 0; the top is reversed.
  for (std::size_t i = 0; i < 54; ++i) {
    const auto& t = mesh[i];
    const double cross = (t[1][0] - t[0][0]) * (t[2][1] - t[0][1]) - (t[1][1] - t[0][1]) * (t[2][0] - t[0][0]);
    EXPECT_EQ(t[0][2], i < 27 ? 0.0 : 0.2);
    EXPECT_TRUE(i < 27 ? cross > 0 : cross < 0) << i;
  }
}

// ---------------------------------------------------------------------------------------------
// Grips and arrows

TEST(Arrows, ParallelGripsStepOutwardAndFaceTheirAxis) {
  // Six slabs along z: grips z >= 0, z <= 0, then ±z beyond 1/3 and 2/3.
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
    EXPECT_EQ(a[12], 0.0);
    EXPECT_EQ(a[13], 0.0);
    // +z: the identity rotation; -z: the half turn about y (x and z reversed).
    EXPECT_DOUBLE_EQ(a[0], plus ? 0.2 : -0.2);
    EXPECT_DOUBLE_EQ(b[0], -a[0]);
    EXPECT_DOUBLE_EQ(a[5], 0.2);
    EXPECT_DOUBLE_EQ(a[10], plus ? 0.2 : -0.2);
    EXPECT_EQ(a[15], 1.0);
    for (int k = 1; k < 16; ++k) EXPECT_EQ(a[k], b[k]);
    EXPECT_EQ(sim.arrows[2 * g].flag, 0);
  }
  EXPECT_EQ(up, (std::vector<double>{1.25, 1.5, 1.75}));
  EXPECT_EQ(down, (std::vector<double>{-1.25, -1.5, -1.75}));

  Simulator bare = from_pieces({cube_piece()});
  EXPECT_TRUE(bare.grips.empty());
  EXPECT_TRUE(bare.arrows.empty());
}

TEST(Arrows, DerivationClearsHoverAndPress) {
  Simulator sim = from_pieces(cut_cube(slabs(1, 3)));
  sim.hovered_arrow = 3;
  sim.pressed_arrow = 5;
  ASSERT_TRUE(derive_grips(sim));
  EXPECT_FALSE(sim.hovered_arrow);
  EXPECT_FALSE(sim.pressed_arrow);
  sim.hovered_arrow = 1;
  sim.pressed_arrow = 1;
  ASSERT_TRUE(turn_grip(sim, 0, TurnRequest::by_direction(1)));
  EXPECT_FALSE(sim.hovered_arrow);
  EXPECT_FALSE(sim.pressed_arrow);
}

// ---------------------------------------------------------------------------------------------
// Turning

TEST(Turning, DirectionsAndStopsOfAQuarterTurnGrip) {
  Simulator sim = from_pieces(cut_cube(slabs(1, 3)));
  ASSERT_EQ(stop_degrees(sim, 0), (std::vector<double>{0, 90, 180, 270}));

  ASSERT_TRUE(turn_grip(sim, 0, TurnRequest::by_direction(1)));
  ASSERT_TRUE(sim.animation);
  EXPECT_DOUBLE_EQ(sim.animation->angle, kPi / 2);
  EXPECT_DOUBLE_EQ(sim.animation->duration_ms, 250.0);
  EXPECT_EQ(sim.animation->elapsed_ms, 0.0);
  EXPECT_EQ(sim.animation->pieces, sim.grips[0].pieces);
  EXPECT_EQ(sim.move_count, 1u);
  ASSERT_EQ(sim.history.size(), 1u);

  Simulator by_stop = from_pieces(cut_cube(slabs(1, 3)));
  ASSERT_TRUE(turn_grip(by_stop, 0, TurnRequest::to_stop(1)));
  for (std::size_t i = 0; i < sim.pieces.size(); ++i)
    EXPECT_TRUE(same(sim.pieces[i].rotation, by_stop.pieces[i].rotation));

  Simulator back = from_pieces(cut_cube(slabs(1, 3)));
  ASSERT_TRUE(turn_grip(back, 0, TurnRequest::by_direction(-1)));
  EXPECT_DOUBLE_EQ(back.animation->angle, -kPi / 2);
  EXPECT_DOUBLE_EQ(back.animation->duration_ms, 250.0);
  Simulator three = from_pieces(cut_cube(slabs(1, 3)));
  ASSERT_TRUE(turn_grip(three, 0, TurnRequest::to_stop(3)));
  EXPECT_DOUBLE_EQ(three.animation->angle, 3 * kPi / 2);
  EXPECT_DOUBLE_EQ(three.animation->duration_ms, 750.0);
  for (std::size_t i = 0; i < back.pieces.size(); ++i)
    EXPECT_TRUE(same(back.pieces[i].rotation, three.pieces[i].rotation));

  // The animation's end is its start turned by one radian about the axis.
  const auto& a = *sim.animation;
  for (std::size_t k = 0; k < a.pieces.size(); ++k) {
    double dot = 0;
    for (int c = 0; c < 4; ++c) dot += a.start[k][c] * a.end[k][c];
    EXPECT_NEAR(2 * std::acos(std::abs(dot)), 1.0, 1e-12);
  }
  // The drawn orientations keep the start pose until the animation is played.
  for (const auto& o : sim.orientations) EXPECT_EQ(o, quat4_identity);
}

TEST(Turning, GripWithoutStopsTurnsAWholeTurn) {
  // One cut: each half is a single piece bounded only by a plane across the axis.
  Simulator sim = from_pieces(cut_cube({plane(1, 0, 0, -1, 3)}));
  ASSERT_EQ(sim.grips.size(), 1u);
  EXPECT_TRUE(stop_degrees(sim, 0).empty());
  ASSERT_TRUE(turn_grip(sim, 0, TurnRequest::by_direction(-7)));
  EXPECT_DOUBLE_EQ(sim.animation->angle, -2 * kPi);
  EXPECT_DOUBLE_EQ(sim.animation->duration_ms, 1000.0);
  EXPECT_EQ(sim.move_count, 1u);
  EXPECT_EQ(sim.history.size(), 1u);
  EXPECT_TRUE(at_identity(sim.pieces[0].rotation));
  ASSERT_TRUE(turn_grip(sim, 0, TurnRequest::by_direction(1)));
  EXPECT_DOUBLE_EQ(sim.animation->angle, 2 * kPi);
}

TEST(Turning, TurnInFlightSnapsToRestFirst) {
  Simulator sim = from_pieces(cut_cube(slabs(1, 3)));
  ASSERT_TRUE(turn_grip(sim, 0, TurnRequest::by_direction(1)));
  // As if half played.
  for (auto& o : sim.orientations) o = {0.1, 0.2, 0.3, 0.9};
  ASSERT_TRUE(turn_grip(sim, 2, TurnRequest::by_direction(1)));
  Simulator rest = sim;
  rest.animation.reset();
  // Rest pose of the state between the two turns: that of the pieces the second turn did not move,
  // and the second animation's start for those it moved.
  for (std::size_t k = 0; k < sim.animation->pieces.size(); ++k)
    EXPECT_EQ(sim.orientations[sim.animation->pieces[k]], sim.animation->start[k]);
  refresh_orientations(rest);
  for (std::size_t i = 0; i < sim.pieces.size(); ++i) {
    bool moved = std::find(sim.animation->pieces.begin(), sim.animation->pieces.end(), i) != sim.animation->pieces.end();
    if (!moved) {
      EXPECT_EQ(sim.orientations[i], rest.orientations[i]) << i;
    }
  }
  EXPECT_NE(sim.orientations[0], (Quat4{0.1, 0.2, 0.3, 0.9}));
}

TEST(Turning, UndoRestoresExactlyAndCounts) {
  Simulator sim = from_pieces(cut_cube(slabs(1, 3)));
  const auto grips = grip_texts(sim.grips);
  auto undone = undo_turn(sim);
  ASSERT_TRUE(undone);
  EXPECT_FALSE(*undone);
  EXPECT_EQ(sim.move_count, 0u);

  ASSERT_TRUE(turn_grip(sim, 1, TurnRequest::by_direction(1)));
  undone = undo_turn(sim);
  ASSERT_TRUE(undone);
  EXPECT_TRUE(*undone);
  EXPECT_EQ(sim.move_count, 2u);
  EXPECT_TRUE(sim.history.empty());
  EXPECT_FALSE(sim.animation);
  for (const Piece& p : sim.pieces) EXPECT_TRUE(at_identity(p.rotation));
  for (const auto& o : sim.orientations) EXPECT_EQ(o, quat4_identity);
  EXPECT_EQ(grip_texts(sim.grips), grips);
}

TEST(Turning, BadRequestsChangeNothing) {
  Simulator sim = from_pieces(cut_cube(slabs(1, 3)));
  ASSERT_TRUE(turn_grip(sim, 4, TurnRequest::by_direction(1)));
  sim.hovered_arrow = 2;
  const std::string before = snapshot(sim);

  auto bad_grip = turn_grip(sim, 6, TurnRequest::by_direction(1));
  ASSERT_FALSE(bad_grip);
  EXPECT_EQ(bad_grip.error(), Error::range("grip index 6 out of range (have 6)"));
  auto bad_stop = turn_grip(sim, 1, TurnRequest::to_stop(4));
  ASSERT_FALSE(bad_stop);
  EXPECT_EQ(bad_stop.error(), Error::range("stop index 4 out of range (grip 1 has 4)"));
  auto bad_stops = stops_of_grip(sim, 9);
  ASSERT_FALSE(bad_stops);
  EXPECT_EQ(bad_stops.error().message, "grip index 9 out of range (have 6)");
  EXPECT_EQ(snapshot(sim), before);
}

// A face-memo entry that gives the piece, in the named orientation, a plane whose numbers lie in
// two unrelated fields, so that deriving grips in that state fails.
void poison(Simulator& sim, std::uint64_t piece, const Quaternion& orientation) {
  auto root = [](std::int64_t n) {
    FieldRef f = *NumberField::make(FracPoly(std::vector<Fraction>{fraction(-n, 1), fraction(0, 1), fraction(1, 1)}),
                                    fraction(1, 1), fraction(n, 1));
    return *A::generator(f);
  };
  FacePlane bad{Plane{Vector3{root(2), q(0), q(0)}, root(3)}, "[[poison],x]", 8};
  sim.grip_memos.face_memo[cat(piece, ",") + orientation.key()] =
      std::make_shared<const std::vector<FacePlane>>(std::vector<FacePlane>{bad});
}

TEST(Turning, FailedTurnOrUndoLeavesEverything) {
  Simulator sim = from_pieces(cut_cube(slabs(1, 3)));
  ASSERT_TRUE(turn_grip(sim, 0, TurnRequest::by_direction(1)));
  sim.hovered_arrow = 1;
  const std::string before = snapshot(sim);

  // Poison the state after a quarter turn of grip 2.
  const Grip g = sim.grips[2];
  auto stops = stops_of_grip(sim, 2);
  ASSERT_TRUE(stops);
  auto after = sim.pieces;
  ASSERT_TRUE(rotate_pieces(after, g.pieces, (*stops)[1]));
  poison(sim, g.pieces[0], after[g.pieces[0]].rotation);
  auto turned = turn_grip(sim, 2, TurnRequest::by_direction(1));
  ASSERT_FALSE(turned);
  EXPECT_NE(turned.error().message.find("same field"), std::string::npos) << turned.error().message;
  EXPECT_EQ(snapshot(sim), before);

  // Poison the state the undo goes back to: the undo fails and keeps its record.
  const Grip h = *find_grip(sim.grips, sim.history.back().plane);
  auto undone = sim.pieces;
  ASSERT_TRUE(rotate_pieces(undone, h.pieces, sim.history.back().rotation.conjugate()));
  poison(sim, h.pieces[0], undone[h.pieces[0]].rotation);
  auto failed = undo_turn(sim);
  ASSERT_FALSE(failed);
  EXPECT_EQ(snapshot(sim), before);
  EXPECT_EQ(sim.history.size(), 1u);
}

TEST(Turning, UndoRefusesWhileTheLayerIsBlocked) {
  // Layers at x = 1/2, y = 1/2, z = 1/2: a quarter turn of the x layer leaves pieces across y = 1/2.
  Simulator sim = from_pieces(cut_cube({plane(1, 0, 0, -1, 2), plane(0, 1, 0, -1, 2), plane(0, 0, 1, -1, 2)}));
  const Grip* y_layer = find_grip(sim.grips, plane(0, 1, 0, -1, 2));
  ASSERT_NE(y_layer, nullptr);
  const std::size_t y_index = static_cast<std::size_t>(y_layer - sim.grips.data());
  ASSERT_TRUE(turn_grip(sim, y_index, TurnRequest::by_direction(1)));
  // Turn the x layer outside the history so that the recorded y layer is blocked.
  const Grip x_layer = *find_grip(sim.grips, plane(1, 0, 0, -1, 2));
  ASSERT_TRUE(rotate_pieces(sim.pieces, x_layer.pieces, quat(1, 0, 0, 1)));
  ASSERT_TRUE(derive_grips(sim));
  ASSERT_EQ(find_grip(sim.grips, plane(0, 1, 0, -1, 2)), nullptr);
  const std::string before = snapshot(sim);
  auto undone = undo_turn(sim);
  ASSERT_TRUE(undone);
  EXPECT_FALSE(*undone);
  EXPECT_EQ(snapshot(sim), before);
  auto restored = restore_turns(sim);
  ASSERT_TRUE(restored);
  EXPECT_FALSE(*restored);
  EXPECT_EQ(sim.history.size(), 1u);
  // A blocked layer has no index: the grips after it moved up.
  EXPECT_FALSE(turn_grip(sim, sim.grips.size(), TurnRequest::by_direction(1)));
}

TEST(Turning, RotatePiecesKeepsUnitSumAndFailsWhole) {
  auto pieces = cut_cube(slabs(1, 3));
  ASSERT_TRUE(rotate_pieces(pieces, std::vector<std::uint64_t>{0, 1, 0}, quat(1, 0, 0, 1)));
  // Piece 0 turned twice: a half turn (1, 0, 0, 0); piece 1 a quarter turn (1/2, 0, 0, 1/2).
  EXPECT_TRUE(same(pieces[0].rotation, quat(1, 0, 0, 0)));
  EXPECT_TRUE(same(pieces[1].rotation, Quaternion{q(1, 2), q(0), q(0), q(1, 2)}));
  const auto keys = pieces[1].rotation.key() + pieces[2].rotation.key();
  EXPECT_FALSE(rotate_pieces(pieces, std::vector<std::uint64_t>{2, 1}, quat(0, 0, 0, 0)));
  EXPECT_EQ(pieces[1].rotation.key() + pieces[2].rotation.key(), keys);
}

// ---------------------------------------------------------------------------------------------
// Catalog puzzles

TEST(Catalog, BuildsWithDefaultsAndGrips) {
  auto plain = Simulator::build("?shell=C$1");
  ASSERT_TRUE(plain) << plain.error().message;
  ASSERT_EQ(plain->pieces.size(), 1u);
  EXPECT_EQ(plain->piece_meshes[0].triangles.size(), 12u);
  EXPECT_EQ(plain->piece_meshes[0].edges.size(), 12u);
  EXPECT_TRUE(plain->grips.empty());
  EXPECT_EQ(plain->arrow_mesh.size(), 112u);

  Simulator sim = catalog_puzzle("Quenly's Cube (3x3x3)");
  EXPECT_EQ(sim.pieces.size(), 26u);
  EXPECT_EQ(sim.grips.size(), 6u);
  EXPECT_EQ(sim.arrows.size(), 12u);
  EXPECT_EQ(sim.orientations.size(), 26u);
  EXPECT_TRUE(sim.history.empty());
  EXPECT_FALSE(sim.animation);
  EXPECT_EQ(sim.move_count, 0u);
  EXPECT_EQ(sim.queued_moves, 0u);
  EXPECT_EQ(sim.rng_state, 0x2545F4914F6CDD1Du);
  EXPECT_FALSE(sim.tabular_model);
  auto query = recipe_to_query(sim.recipe);
  ASSERT_TRUE(query);
  EXPECT_EQ(*query, "?shell=C$1&cut=C$1/3");

  std::vector<std::string> texts{"?shell=C$1&cut=C$0", "?shell=C$1&cut=", "?shell=T$1&cut=T$0"};
  auto built = build_simulators(texts);
  ASSERT_EQ(built.size(), 3u);
  EXPECT_TRUE(built[0]);
  EXPECT_FALSE(built[1]);
  EXPECT_EQ(built[1].error(), Simulator::build(texts[1]).error());
  EXPECT_TRUE(built[2]);
  EXPECT_EQ(built[0]->grips.size(), 6u);
}

TEST(Catalog, StopAngles) {
  Simulator cube = catalog_puzzle("Quenly's Cube (3x3x3)");
  for (std::size_t g = 0; g < cube.grips.size(); ++g)
    EXPECT_EQ(stop_degrees(cube, g), (std::vector<double>{0, 90, 180, 270}));
  Simulator mega = catalog_puzzle("Megaminx");
  ASSERT_EQ(mega.grips.size(), 12u);
  for (std::size_t g = 0; g < mega.grips.size(); ++g)
    EXPECT_EQ(stop_degrees(mega, g), (std::vector<double>{0, 72, 144, 216, 288}));
  Simulator skewb = catalog_puzzle("Skewb");
  ASSERT_EQ(skewb.grips.size(), 8u);
  for (std::size_t g = 0; g < skewb.grips.size(); ++g)
    EXPECT_EQ(stop_degrees(skewb, g), (std::vector<double>{0, 120, 240}));
  Simulator heli = catalog_puzzle("Helicopter Cube");
  ASSERT_EQ(heli.grips.size(), 12u);
  for (std::size_t g = 0; g < heli.grips.size(); ++g) {
    auto deg = stop_degrees(heli, g);
    ASSERT_GE(deg.size(), 2u);
    EXPECT_EQ(deg.front(), 0);
    EXPECT_NE(std::find(deg.begin(), deg.end(), 180.0), deg.end());
    EXPECT_TRUE(std::is_sorted(deg.begin(), deg.end()));
  }
}

// Random turns (by direction and to stops), then undo them all: the exact state, the grips and
// their order come back exactly.
void turn_and_undo(std::string_view name, int turns) {
  Simulator sim = catalog_puzzle(name);
  const auto grips = grip_texts(sim.grips);
  std::mt19937 rng(11);
  int made = 0;
  for (int k = 0; k < turns; ++k) {
    const std::size_t g = rng() % sim.grips.size();
    TurnRequest request = TurnRequest::by_direction(rng() % 2 ? 1 : -1);
    if (k % 3 == 2) {
      auto stops = stops_of_grip(sim, g);
      ASSERT_TRUE(stops) << name;
      if (stops->empty()) continue;
      request = TurnRequest::to_stop(rng() % stops->size());
    }
    auto t = turn_grip(sim, g, request);
    ASSERT_TRUE(t) << name << ": " << t.error().message;
    ++made;
  }
  EXPECT_EQ(sim.history.size(), static_cast<std::size_t>(made));
  bool any_moved = false;
  for (const Piece& p : sim.pieces) any_moved = any_moved || !at_identity(p.rotation);
  EXPECT_TRUE(any_moved) << name;

  // Half of the way back one undo at a time, then the rest at once.
  for (int k = 0; k < made / 2; ++k) ASSERT_TRUE(*undo_turn(sim)) << name;
  auto restored = restore_turns(sim);
  ASSERT_TRUE(restored) << name;
  EXPECT_TRUE(*restored);
  EXPECT_TRUE(sim.history.empty());
  EXPECT_EQ(sim.move_count, static_cast<std::uint64_t>(2 * made));
  for (const Piece& p : sim.pieces) EXPECT_TRUE(at_identity(p.rotation)) << name;
  EXPECT_EQ(grip_texts(sim.grips), grips) << name;
  for (const auto& o : sim.orientations) EXPECT_EQ(o, quat4_identity);
}

TEST(Catalog, TurnsAndUndoReturnExactly) {
  turn_and_undo("Quenly's Cube (3x3x3)", 40);
  turn_and_undo("Megaminx", 25);
  turn_and_undo("Skewb", 30);
  turn_and_undo("Helicopter Cube", 30);
}

}  // namespace
}  // namespace gy

#include "simulator.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "catalog.hpp"
#include "sim_pieces.hpp"
#include "symbolic.hpp"

namespace gy {
namespace {

using namespace gy::testing;

constexpr double kPi = 3.141592653589793;

Simulator catalog_puzzle(std::string_view name) {
  auto sim = Simulator::build(*resolve_recipe_text(name));
  EXPECT_TRUE(sim) << name << ": " << sim.error().message;
  return std::move(*sim);
}

Simulator seeded(std::string_view name, std::uint64_t seed) {
  Simulator sim = catalog_puzzle(name);
  sim.rng_state = seed;
  sim.last_random_move.reset();
  return sim;
}

std::string state_of(const Simulator& sim) {
  std::string s;
  for (const Piece& p : sim.pieces) s += orientation_key(p.rotation) + "|";
  return s;
}

double angle_between(const Vec3d& a, const Vec3d& b) {
  const double d = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
  const double la = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
  const double lb = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
  return std::acos(std::clamp(d / (la * lb), -1.0, 1.0));
}

double length(const Vec3d& v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// The rotation by `angle` about the unit axis.
Quat4 about(const Vec3d& axis, double angle) {
  return {axis[0] * std::sin(angle / 2), axis[1] * std::sin(angle / 2), axis[2] * std::sin(angle / 2),
          std::cos(angle / 2)};
}

void expect_near(const Quat4& a, const Quat4& b, double tolerance = 1e-12) {
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(a[i], b[i], tolerance) << i;
}

TEST(Random, SplitMix64AndUnitDraws) {
  std::uint64_t state = 0;
  EXPECT_EQ(splitmix64_next(state), 0xE220A8397B1DCDAFu);
  EXPECT_EQ(splitmix64_next(state), 0x6E789E6AA1B965F4u);
  EXPECT_EQ(splitmix64_next(state), 0x06C45D188009454Fu);
  EXPECT_EQ(state, 3 * 0x9E3779B97F4A7C15u);
  std::uint64_t a = kInitialRngState, b = kInitialRngState;
  for (int i = 0; i < 1000; ++i) {
    const double u = random_unit(a);
    ASSERT_GE(u, 0.0);
    ASSERT_LT(u, 1.0);
    EXPECT_EQ(u, static_cast<double>(splitmix64_next(b) >> 11) / 9007199254740992.0);
  }
}

TEST(Scramble, SameSeedSameMovesBySettleOrByAdvance) {
  Simulator a = seeded("Megaminx", 20240611), b = seeded("Megaminx", 20240611);
  Simulator c = seeded("Megaminx", 20240611), other = seeded("Megaminx", 7);
  for (Simulator* s : {&a, &b, &c, &other}) ASSERT_TRUE(queue_random_moves(*s, 25));
  ASSERT_TRUE(settle(a));
  ASSERT_TRUE(settle(b));
  ASSERT_TRUE(settle(other));
  // The same moves one at a time, each animated and played out.
  int calls = 0;
  while (c.animation || c.queued_moves > 0) {
    ASSERT_TRUE(advance(c, 40.0));
    ASSERT_LT(++calls, 1000);
  }
  for (Simulator* s : {&a, &c}) {
    EXPECT_EQ(s->queued_moves, 0u);
    EXPECT_FALSE(s->animation);
    EXPECT_EQ(s->move_count, 25u);
    EXPECT_EQ(s->history.size(), 25u);
  }
  EXPECT_EQ(state_of(a), state_of(b));
  EXPECT_EQ(state_of(a), state_of(c));
  EXPECT_EQ(a.rng_state, c.rng_state);
  EXPECT_EQ(a.last_random_move, c.last_random_move);
  EXPECT_NE(state_of(a), state_of(other));
  EXPECT_EQ(a.orientations, b.orientations);
  Simulator refreshed = a;
  refresh_orientations(refreshed);
  EXPECT_EQ(a.orientations, refreshed.orientations);  // drawn at the exact pose
  EXPECT_FALSE(*is_solved(a));
}

TEST(Scramble, RandomMovesNeverUndoTheLastOne) {
  Simulator sim = seeded("Quenly's Cube (3x3x3)", 99);
  std::optional<RandomMove> previous;
  int repeats = 0;
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(move_random(sim));
    const RandomMove now = *sim.last_random_move;
    ASSERT_LT(now.grip, sim.grips.size());
    ASSERT_TRUE(now.direction == 1 || now.direction == -1);
    if (previous) {
      EXPECT_FALSE(now.grip == previous->grip && now.direction == -previous->direction) << i;
      repeats += now == *previous;
    }
    previous = now;
  }
  EXPECT_GT(repeats, 0);  // repeating the same move is allowed
  EXPECT_TRUE(sim.animation);
  // Hand turns do not count as the last random move.
  ASSERT_TRUE(turn_grip(sim, 0, TurnRequest::by_direction(1)));
  EXPECT_EQ(sim.last_random_move, previous);
}

TEST(Scramble, QueueIsCappedAndPuzzlesWithoutGripsOnlyCountDown) {
  Simulator sim = catalog_puzzle("Quenly's Cube (3x3x3)");
  ASSERT_TRUE(queue_random_moves(sim, kMaxQueuedMoves - 1));
  ASSERT_TRUE(queue_random_moves(sim, 1));
  EXPECT_EQ(queue_random_moves(sim, 1).error(),
            Error::range(cat("cannot queue 1 more random moves: ", kMaxQueuedMoves, " are waiting and at most ",
                             kMaxQueuedMoves, " may")));
  EXPECT_EQ(queue_random_moves(sim, 0xFFFFFFFFu).error().kind, ErrorKind::Range);
  EXPECT_EQ(sim.queued_moves, kMaxQueuedMoves);
  EXPECT_EQ(sim.move_count, 0u);

  Simulator plain = catalog_puzzle("?shell=C$1");
  ASSERT_TRUE(queue_random_moves(plain, 3));
  for (std::uint32_t left : {2u, 1u, 0u, 0u}) {
    ASSERT_TRUE(advance(plain, 16));
    EXPECT_EQ(plain.queued_moves, left);
  }
  ASSERT_TRUE(move_random(plain));
  EXPECT_EQ(plain.rng_state, kInitialRngState);
  EXPECT_EQ(plain.move_count, 0u);
}

TEST(Animation, QuarterTurnPlaysLinearlyAndSnaps) {
  Simulator sim = catalog_puzzle("Quenly's Cube (3x3x3)");
  ASSERT_TRUE(queue_random_moves(sim, 1));
  ASSERT_TRUE(advance(sim, 100));  // starts the move; this call's time is not played
  ASSERT_TRUE(sim.animation);
  EXPECT_EQ(sim.queued_moves, 0u);
  EXPECT_EQ(sim.animation->elapsed_ms, 0.0);
  const TurnAnimation a = *sim.animation;
  ASSERT_DOUBLE_EQ(std::abs(a.angle), kPi / 2);
  const auto& n = sim.history.back().plane.normal;  // the turned grip's axis
  Vec3d axis{*n.x.to_f64(), *n.y.to_f64(), *n.z.to_f64()};
  const double norm = length(axis);
  for (double& c : axis) c /= norm;

  ASSERT_TRUE(advance(sim, 0));
  for (std::size_t k = 0; k < a.pieces.size(); ++k) EXPECT_EQ(sim.orientations[a.pieces[k]], a.start[k]);
  for (double ms : {62.5, 62.5, 125.0}) {  // a quarter turn lasts 250 ms; t = 1 still interpolates
    ASSERT_TRUE(advance(sim, ms));
    ASSERT_TRUE(sim.animation);
    const double turned = sim.animation->elapsed_ms / 250.0 * a.angle;
    for (std::size_t k = 0; k < a.pieces.size(); ++k)
      expect_near(sim.orientations[a.pieces[k]], quat4_mul(about(axis, turned), a.start[k]));
  }
  ASSERT_TRUE(advance(sim, 0.001));
  EXPECT_FALSE(sim.animation);
  Simulator rest = sim;
  refresh_orientations(rest);
  EXPECT_EQ(sim.orientations, rest.orientations);
}

TEST(Animation, BadTimeStepsNeverLeaveATurnStuck) {
  Simulator sim = catalog_puzzle("Quenly's Cube (3x3x3)");
  ASSERT_TRUE(turn_grip(sim, 0, TurnRequest::by_direction(1)));
  ASSERT_TRUE(advance(sim, 50));
  const auto orientations = sim.orientations;
  const Camera camera = sim.camera;
  for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
    auto r = advance(sim, bad);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind, ErrorKind::Range);
    EXPECT_EQ(r.error().message.rfind("dt_ms must be finite, got ", 0), 0u) << r.error().message;
  }
  EXPECT_EQ(sim.animation->elapsed_ms, 50.0);
  EXPECT_EQ(sim.orientations, orientations);
  EXPECT_EQ(sim.camera.position, camera.position);

  // Steps so large that the elapsed time overflows end the turn instead of interpolating by it.
  ASSERT_TRUE(advance(sim, -1e308));
  ASSERT_TRUE(advance(sim, -1e308));
  EXPECT_FALSE(sim.animation);
  for (const Quat4& q : sim.orientations)
    for (double c : q) ASSERT_TRUE(std::isfinite(c));

  // A turn of no length ends at the next step.
  ASSERT_TRUE(turn_grip(sim, 1, TurnRequest::to_stop(0)));
  EXPECT_EQ(sim.animation->duration_ms, 0.0);
  ASSERT_TRUE(advance(sim, 0));
  EXPECT_FALSE(sim.animation);
}

TEST(Animation, SlerpEndsExtrapolatesAndTakesTheShortArc) {
  const Vec3d axis{0.0, 0.6, 0.8};
  const Quat4 a = about({1, 0, 0}, 0.3);
  const Quat4 b = quat4_mul(about(axis, 1.0), a);
  expect_near(slerp(a, b, 0.0), a);
  expect_near(slerp(a, b, 1.0), b);
  for (double s : {0.25, -0.5, 2.0, 6.0}) expect_near(slerp(a, b, s), quat4_mul(about(axis, s), a), 1e-12);
  const Quat4 minus_b{-b[0], -b[1], -b[2], -b[3]};  // the same rotation: the same path
  expect_near(slerp(a, minus_b, 0.5), slerp(a, b, 0.5));
  expect_near(slerp(a, a, 0.7), a);
  // Nearly equal: a normalised linear blend.
  const Quat4 near = quat4_mul(about(axis, 1e-9), a);
  const Quat4 mid = slerp(a, near, 0.5);
  expect_near(mid, quat4_mul(about(axis, 5e-10), a), 1e-15);
  EXPECT_NEAR(mid[0] * mid[0] + mid[1] * mid[1] + mid[2] * mid[2] + mid[3] * mid[3], 1.0, 1e-15);
}

TEST(Orbit, DragTurnsEasesOutAndCoasts) {
  Simulator sim = catalog_puzzle("Quenly's Cube (3x3x3)");
  Orbit& o = sim.orbit;
  o.drag_to = {0.1, 0.0, 0.0};
  Vec3d before = sim.camera.position;
  double expected = 0.3;
  for (int step = 0; step < 4; ++step) {
    ASSERT_TRUE(advance(sim, 16));  // one orbit step per call, whatever the time
    EXPECT_NEAR(angle_between(before, sim.camera.position), expected, 1e-12) << step;
    EXPECT_NEAR(length(sim.camera.position), 12.0, 1e-12);
    EXPECT_NEAR(o.velocity, expected, 1e-12);
    before = sim.camera.position;
    expected *= 0.8;
  }
  // A horizontal drag turns about -up: the eye swings towards -x.
  EXPECT_NEAR(o.axis[1], -1.0, 1e-12);
  EXPECT_LT(sim.camera.position[0], 0.0);
  EXPECT_NEAR(sim.camera.up[1], 1.0, 1e-12);

  // Released: both points coincide and the camera coasts, slowing by sqrt(0.8) a step.
  o.drag_from = o.drag_to;
  double velocity = o.velocity;
  for (int step = 0; step < 3; ++step) {
    velocity *= std::sqrt(0.8);
    camera_orbit(o, sim.camera);
    EXPECT_NEAR(angle_between(before, sim.camera.position), velocity, 1e-12);
    before = sim.camera.position;
  }

  // At rest a step still points the camera at the pivot.
  o.velocity = 0;
  sim.camera.target = {1, 2, 3};
  const Vec3d eye = sim.camera.position;
  camera_orbit(o, sim.camera);
  EXPECT_EQ(sim.camera.target, (Vec3d{0, 0, 0}));
  EXPECT_EQ(sim.camera.position, eye);
}

TEST(Orbit, NothingOverflowsAndABrokenStateRecovers) {
  auto finite = [](const Vec3d& v) { return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]); };
  Orbit o;
  Camera camera;
  // Drag points are held to kMaxDrag: the turn is that of the clamped drag.
  o.drag_to = {1e300, -std::numeric_limits<double>::infinity(), 0};
  camera_orbit(o, camera);
  EXPECT_EQ(o.drag_to, (Vec3d{kMaxDrag, -kMaxDrag, 0}));
  EXPECT_DOUBLE_EQ(o.velocity, std::sqrt(2.0) * kMaxDrag * 3);
  for (int step = 0; step < 100; ++step) {
    camera_orbit(o, camera);
    ASSERT_TRUE(finite(camera.position) && finite(camera.up) && std::isfinite(o.velocity) && finite(o.axis));
    ASSERT_NEAR(length(camera.position), 12.0, 1e-9);
  }
  // A non-finite velocity stops coasting; an eye that cannot be turned is left, and spoils neither
  // the up vector nor the axis.
  o = Orbit{};
  camera = Camera{};
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity()}) {
    o.velocity = bad;
    camera_orbit(o, camera);
    EXPECT_EQ(o.velocity, 0.0);
    EXPECT_EQ(camera.position, (Vec3d{0, 0, 12}));
  }
  camera.position = {std::nan(""), 0, 0};
  o.drag_to = {0.1, 0, 0};
  camera_orbit(o, camera);
  EXPECT_EQ(camera.up, (Vec3d{0, 1, 0}));
  EXPECT_TRUE(finite(o.axis) && std::isfinite(o.velocity));
  // An eye far out, whose length overflows when squared, still turns.
  camera.position = {0, 0, 1e300};
  o.drag_from = {0, 0, 0};
  camera_orbit(o, camera);
  EXPECT_TRUE(finite(camera.position));
  EXPECT_LT(camera.position[0], -1e299);
}

}  // namespace
}  // namespace gy

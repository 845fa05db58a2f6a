// Hand-cut pieces and exact helpers for the simulation tests.
#pragma once

#include <gtest/gtest.h>

#include "geometry.hpp"
#include "movement.hpp"
#include "piece.hpp"

namespace gy::testing {

using A = AlgebraicNumber;

inline A q(std::int64_t n, std::int64_t d = 1) { return A::rational(QQ(), fraction(n, d)); }
inline Vector3 v(std::int64_t x, std::int64_t y, std::int64_t z) { return Vector3{q(x), q(y), q(z)}; }
inline Quaternion quat(std::int64_t x, std::int64_t y, std::int64_t z, std::int64_t w) {
  return Quaternion{q(x), q(y), q(z), q(w)};
}
inline Plane plane(std::int64_t a, std::int64_t b, std::int64_t c, std::int64_t dn, std::int64_t dd = 1) {
  return Plane{v(a, b, c), q(dn, dd)};
}

inline bool same(const Quaternion& a, const Quaternion& b) {
  return a.x.eq(b.x) && a.y.eq(b.y) && a.z.eq(b.z) && a.w.eq(b.w);
}

// The cube [-1, 1]^3 as one piece with six outer faces of six colours.
inline Piece cube_piece() {
  Piece box;
  for (int i = 0; i < 8; ++i) box.vertices.push_back(v(i & 4 ? 1 : -1, i & 2 ? 1 : -1, i & 1 ? 1 : -1));
  auto face = [&](std::vector<std::uint64_t> idx, Plane p, Rgb c) {
    box.faces.push_back(Face{std::move(idx), std::move(p), c, 0});
  };
  face({4, 6, 7, 5}, plane(1, 0, 0, -1), {1, 0, 0});
  face({0, 1, 3, 2}, plane(-1, 0, 0, -1), {1, 0.5, 0});
  face({2, 3, 7, 6}, plane(0, 1, 0, -1), {1, 1, 1});
  face({0, 4, 5, 1}, plane(0, -1, 0, -1), {1, 1, 0});
  face({1, 5, 7, 3}, plane(0, 0, 1, -1), {0, 1, 0});
  face({0, 2, 6, 4}, plane(0, 0, -1, -1), {0, 0, 1});
  return box;
}

// The cube cut by the planes in turn; cut faces are interior.
inline std::vector<Piece> cut_cube(const std::vector<Plane>& cuts) {
  std::vector<Piece> pieces{cube_piece()};
  for (const Plane& p : cuts) {
    std::vector<Piece> next;
    for (const Piece& piece : pieces) {
      auto halves = cut_pieces(piece, p, Rgb{0.1, 0.1, 0.1}, 1);
      EXPECT_TRUE(halves.has_value());
      if (!halves->first.empty()) next.push_back(std::move(halves->first));
      if (!halves->second.empty()) next.push_back(std::move(halves->second));
    }
    pieces = std::move(next);
  }
  return pieces;
}

// The planes ±x = k, ±y = k, ±z = k with k = kn / kd.
inline std::vector<Plane> slabs(std::int64_t kn, std::int64_t kd) {
  std::vector<Plane> out;
  for (int axis = 0; axis < 3; ++axis)
    for (int s : {1, -1}) out.push_back(plane(axis == 0 ? s : 0, axis == 1 ? s : 0, axis == 2 ? s : 0, -kn, kd));
  return out;
}

inline std::string grip_text(const Grip& g) {
  std::string s = g.plane.normal.key() + " ";
  number_key(g.plane.d, s);
  s += " |";
  for (auto i : g.pieces) s += " " + std::to_string(i);
  s += " |";
  for (auto i : g.others) s += " " + std::to_string(i);
  return s;
}

inline std::vector<std::string> grip_texts(const std::vector<Grip>& grips) {
  std::vector<std::string> out;
  for (const Grip& g : grips) out.push_back(grip_text(g));
  return out;
}

inline const Grip* find_grip(const std::vector<Grip>& grips, const Plane& p) {
  for (const Grip& g : grips)
    if (planes_equal(g.plane, p)) return &g;
  return nullptr;
}

}  // namespace gy::testing

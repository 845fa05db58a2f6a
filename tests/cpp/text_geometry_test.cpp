#include <cstdio>
#include <map>
#include "geometry.hpp"
#include "piece.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace gy {
namespace {

using A = AlgebraicNumber;

A q(std::int64_t n, std::int64_t d = 1) { return A::rational(QQ(), fraction(n, d)); }
Vector3 v(std::int64_t x, std::int64_t y, std::int64_t z) { return Vector3{q(x), q(y), q(z)}; }
Quaternion quat(std::int64_t x, std::int64_t y, std::int64_t z, std::int64_t w) { return Quaternion{q(x), q(y), q(z), q(w)}; }

bool same(const Vector3& a, const Vector3& b) { return a.x.eq(b.x) && a.y.eq(b.y) && a.z.eq(b.z); }
bool same(const Quaternion& a, const Quaternion& b) {
  return a.x.eq(b.x) && a.y.eq(b.y) && a.z.eq(b.z) && a.w.eq(b.w);
}

TEST(Geometry, QuaternionRotations) {
  Quaternion r = quat(1, -2, 3, 5);
  EXPECT_TRUE(same(*hamilton_product(Quaternion::identity(), r), r));
  EXPECT_TRUE(same(*hamilton_product(r, Quaternion::identity()), r));
  // A quarter turn about z, not normalised.
  EXPECT_TRUE(same(*quat(0, 0, 1, 1).rotate_vector(v(1, 0, 0)), v(0, 1, 0)));
  // Composition: two quarter turns make a half turn.
  Quaternion half = *hamilton_product(quat(0, 0, 1, 1), quat(0, 0, 1, 1));
  EXPECT_TRUE(same(*half.rotate_vector(v(1, 2, 3)), v(-1, -2, 3)));
  EXPECT_FALSE(quat(0, 0, 0, 0).rotate_vector(v(1, 0, 0)).has_value());

  EXPECT_TRUE(same(*Quaternion::from_vectors(v(0, 0, 1), v(1, 0, 0), v(0, 1, 0)), quat(0, 0, 1, 1)));
  EXPECT_TRUE(same(*Quaternion::from_vectors(v(0, 0, 1), v(1, 0, 0), v(1, 0, 0)), Quaternion::identity()));
  EXPECT_TRUE(same(*Quaternion::from_vectors(v(0, 0, 1), v(1, 0, 0), v(-1, 0, 0)), quat(0, 0, 1, 0)));

  EXPECT_TRUE((*Quaternion::identity().angle_key()).eq(q(0)));
  EXPECT_TRUE((*quat(0, 0, 1, 1).angle_key()).eq(q(1, 2)));
  EXPECT_TRUE((*quat(0, 0, 1, 0).angle_key()).eq(q(1)));
  EXPECT_TRUE((*quat(0, 0, 1, -1).angle_key()).eq(q(3, 2)));
  EXPECT_FALSE(quat(0, 0, 0, 0).angle_key().has_value());

  auto f = *quat(0, 0, 0, 2).to_f64();
  EXPECT_EQ(f, (std::array<double, 4>{0, 0, 0, 1}));
  EXPECT_EQ(*quat(0, 0, 0, 0).to_f64(), (std::array<double, 4>{0, 0, 0, 1}));
  EXPECT_DOUBLE_EQ(*rotation_angle(quat(0, 0, 1, 0)), M_PI);
}

TEST(Geometry, KeysAndFields) {
  EXPECT_EQ(v(1, 2, 3).key(), v(1, 2, 3).key());
  EXPECT_NE(v(1, 2, 3).key(), v(1, 2, 4).key());
  auto sqrt_of = [](std::int64_t n) {
    FieldRef f = *NumberField::make(FracPoly(std::vector<Fraction>{fraction(-n, 1), fraction(0, 1), fraction(1, 1)}),
                                    fraction(1, 1), fraction(n, 1));
    return *A::generator(f);
  };
  A r2 = sqrt_of(2), r3 = sqrt_of(3);
  Vector3 a{r2, q(0), q(0)}, b{r3, q(0), q(0)};
  auto bad = Vector3::dot(a, b);
  ASSERT_FALSE(bad.has_value());
  EXPECT_NE(bad.error().message.find("AlgebraicNumbers must have same field"), std::string::npos);
  // The same value in the rationals and in another field object keys differently.
  A one_in_r2 = *r2.mul(*r2.inverse());
  EXPECT_TRUE(one_in_r2.eq(q(1)));
  std::string k1, k2;
  number_key(one_in_r2, k1);
  number_key(q(1), k2);
  EXPECT_NE(k1, k2);
  char expected[40];
  std::snprintf(expected, sizeof expected, "%p#1", static_cast<const void*>(QQ().get()));
  EXPECT_EQ(k2, expected);
  EXPECT_EQ(v(1, 0, 0).fmt().front(), '[');
}

// The builder's start box: vertex k has +1000 where bits 1, 2, 4 of k are set.
Piece box() {
  Piece b;
  for (int z = 0; z < 2; ++z)
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x) b.vertices.push_back(v(x ? 1000 : -1000, y ? 1000 : -1000, z ? 1000 : -1000));
  const std::vector<std::vector<std::uint64_t>> faces = {{0, 4, 6, 2}, {1, 3, 7, 5}, {0, 1, 5, 4},
                                                         {2, 6, 7, 3}, {0, 2, 3, 1}, {4, 5, 7, 6}};
  for (const auto& idx : faces) {
    Face f;
    f.plane = *face_normal(q(1), b.vertices, idx[0], idx[1], idx[2]);
    f.indices = idx;
    f.interior = 1;
    b.faces.push_back(std::move(f));
  }
  return b;
}

const Rgb grey{0.13286832154414627, 0.13286832154414627, 0.13286832154414627};

std::vector<std::vector<std::uint64_t>> faces_of(const Piece& p) {
  std::vector<std::vector<std::uint64_t>> out;
  for (const auto& f : p.faces) out.push_back(f.indices);
  return out;
}

TEST(Piece, CuttingTheStartBox) {
  Piece b = box();
  Plane x0{v(1, 0, 0), q(0)};
  auto [pos, neg] = *cut_pieces(b, x0, grey, 1);
  const std::vector<Vector3> pv = {v(1000, -1000, -1000), v(1000, 1000, -1000), v(1000, 1000, 1000), v(1000, -1000, 1000),
                                   v(0, -1000, -1000),    v(0, -1000, 1000),    v(0, 1000, -1000),   v(0, 1000, 1000)};
  ASSERT_EQ(pos.vertices.size(), pv.size());
  for (std::size_t i = 0; i < pv.size(); ++i) EXPECT_TRUE(same(pos.vertices[i], pv[i])) << i;
  EXPECT_EQ(faces_of(pos), (std::vector<std::vector<std::uint64_t>>{
                               {0, 1, 2, 3}, {4, 0, 3, 5}, {6, 7, 2, 1}, {4, 6, 1, 0}, {5, 3, 2, 7}, {4, 5, 7, 6}}));
  EXPECT_TRUE(same(pos.faces.back().plane.normal, v(-1, 0, 0)));
  EXPECT_EQ(pos.faces.back().interior, 1);

  const std::vector<Vector3> nv = {v(-1000, -1000, -1000), v(-1000, -1000, 1000), v(-1000, 1000, 1000), v(-1000, 1000, -1000),
                                   v(0, -1000, -1000),     v(0, -1000, 1000),     v(0, 1000, -1000),    v(0, 1000, 1000)};
  ASSERT_EQ(neg.vertices.size(), nv.size());
  for (std::size_t i = 0; i < nv.size(); ++i) EXPECT_TRUE(same(neg.vertices[i], nv[i])) << i;
  EXPECT_EQ(faces_of(neg), (std::vector<std::vector<std::uint64_t>>{
                               {0, 1, 2, 3}, {0, 4, 5, 1}, {6, 3, 2, 7}, {4, 0, 3, 6}, {1, 5, 7, 2}, {4, 6, 7, 5}}));
  EXPECT_TRUE(same(neg.faces.back().plane.normal, v(1, 0, 0)));

  // A shell plane's closing face on the kept side is outer.
  auto shell = *cut_pieces(b, x0, Rgb{1, 1, 1}, 0);
  EXPECT_EQ(shell.second.faces.back().interior, 0);
  EXPECT_EQ(shell.first.faces.back().interior, 1);

  // Every vertex on the plane, touching planes, the empty piece.
  Plane far{v(1, 0, 0), q(-1000)};
  auto touch = *cut_pieces(b, far, grey, 1);
  EXPECT_TRUE(touch.first.empty());
  EXPECT_EQ(touch.second.vertices.size(), 8u);
  auto none = *cut_pieces(Piece{}, x0, grey, 1);
  EXPECT_TRUE(none.first.empty() && none.second.empty());
}

TEST(Piece, ClosedHalvesAfterOddCuts) {
  // Each edge of a closed piece is used twice, once in each direction.
  Piece b = box();
  Plane tilted{Vector3{q(1), q(2), q(3)}, q(-500)};
  auto halves = *cut_pieces(b, tilted, grey, 1);
  for (const Piece* p : {&halves.first, &halves.second}) {
    std::map<std::pair<std::uint64_t, std::uint64_t>, int> uses;
    for (const auto& f : p->faces)
      for (std::size_t k = 0; k < f.indices.size(); ++k) uses[{f.indices[k], f.indices[(k + 1) % f.indices.size()]}]++;
    for (const auto& [e, n] : uses) {
      EXPECT_EQ(n, 1);
      EXPECT_EQ(uses.count({e.second, e.first}), 1u);
    }
  }
}

}  // namespace
}  // namespace gy

#include "builder.hpp"
#include "catalog.hpp"
#include "polyhedra.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace gy {
namespace {

TEST(Builder, CubesAndColours) {
  auto empty = *build_geometry(Recipe{});
  EXPECT_EQ(empty.pieces.size(), 1u);
  EXPECT_EQ(empty.field, "(no planes)");
  EXPECT_DOUBLE_EQ(empty.scale, 1.0 / (1000.0 * std::sqrt(3.0)));

  auto cube = *build_geometry(*parse_recipe_query("?shell=C$1&cut=C$1/3"));
  ASSERT_EQ(cube.pieces.size(), 26u);
  EXPECT_EQ(cube.field, QQ()->to_string());
  const int centres[26][3] = {{-1, -1, -1}, {-1, 1, -1}, {-1, 0, -1}, {1, -1, -1}, {0, -1, -1}, {1, 1, -1}, {1, 0, -1},
                              {0, 1, -1},   {0, 0, -1},  {-1, -1, 1}, {-1, -1, 0}, {-1, 1, 1},  {-1, 0, 1},  {-1, 1, 0},
                              {-1, 0, 0},   {1, -1, 1},  {1, -1, 0},  {0, -1, 1},  {0, -1, 0},  {1, 1, 1},   {1, 0, 1},
                              {1, 1, 0},    {1, 0, 0},   {0, 1, 1},   {0, 0, 1},   {0, 1, 0}};
  for (std::size_t i = 0; i < 26; ++i) {
    double c[3] = {0, 0, 0};
    for (const auto& p : cube.pieces[i].vertices) {
      c[0] += *p.x.to_f64();
      c[1] += *p.y.to_f64();
      c[2] += *p.z.to_f64();
    }
    for (int k = 0; k < 3; ++k)
      EXPECT_NEAR(c[k] / static_cast<double>(cube.pieces[i].vertices.size()) * 3.0, centres[i][k], 1e-9) << i;
  }
  EXPECT_DOUBLE_EQ(cube.scale, 1.0 / std::sqrt(0.75));

  // Cuts without a shell leave nothing; a group of parallel planes is cut from the highest d down.
  EXPECT_TRUE(build_geometry(*parse_recipe_query("?cut=C$1/3"))->pieces.empty());
  auto layers = *build_geometry(*parse_recipe_query("?shell=C$1&cut=0,1,0$-1/6&cut=0,1,0$1/6"));
  ASSERT_EQ(layers.pieces.size(), 3u);
  auto ymid = [](const Piece& p) {
    double s = 0;
    for (const auto& v : p.vertices) s += *v.y.to_f64();
    return s / static_cast<double>(p.vertices.size());
  };
  EXPECT_GT(ymid(layers.pieces[0]), 1.0 / 6);
  EXPECT_LT(ymid(layers.pieces[1]), -1.0 / 6);
  EXPECT_NEAR(ymid(layers.pieces[2]), 0.0, 1e-12);

  EXPECT_EQ(shell_face_colour(6), (Rgb{0.24922359499621338, 0.0, 1.0}));
  EXPECT_EQ(shell_face_colour(7), (Rgb{0.042572472504419645, 1.0, 0.0}));
  EXPECT_FALSE(build_geometry(*parse_recipe_query("?shell=c$1")).has_value());
}

// Every catalog row builds, into pieces that each keep an outer face.
TEST(Builder, EveryCatalogRowBuilds) {
  for (const auto& row : catalog()) {
    auto g = build_geometry(*parse_recipe_query(row.recipe));
    ASSERT_TRUE(g.has_value()) << row.name << ": " << g.error().message;
    EXPECT_GT(g->pieces.size(), 1u) << row.name;
    for (const auto& p : g->pieces) EXPECT_TRUE(p.has_outer_face());
    EXPECT_GT(g->scale, 0.0);
  }
}

// The pentagonal icositetrahedron: 24 pentagons round 32 vertices of three faces and 6 of four,
// each face at 1.157662·S from the centre with a normal of length 0.453845, all in one field of
// degree 6. Its coefficients share that field, so the build stays quick.
TEST(Builder, PentagonalIcositetrahedron) {
  const auto start = std::chrono::steady_clock::now();
  auto g = build_geometry(*parse_recipe_query("?shell=gC$1"));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_TRUE(g.has_value()) << g.error().message;
  EXPECT_EQ(g->field.rfind("Q(root of x⁶ + -18x⁴ + 6x² + -2 in [", 0), 0u) << g->field;
  ASSERT_EQ(g->pieces.size(), 1u);
  const Piece& shell = g->shell_piece;
  ASSERT_EQ(shell.faces.size(), 24u);
  ASSERT_EQ(shell.vertices.size(), 38u);
  std::vector<int> faces_at(shell.vertices.size());
  for (const Face& f : shell.faces) {
    EXPECT_EQ(f.interior, 0);
    EXPECT_EQ(f.indices.size(), 5u);
    for (auto v : f.indices) ++faces_at[v];
    const double a = *f.plane.normal.x.to_f64(), b = *f.plane.normal.y.to_f64(), c = *f.plane.normal.z.to_f64();
    const double length = std::sqrt(a * a + b * b + c * c);
    EXPECT_NEAR(length, 0.453845, 5.1e-7);
    EXPECT_NEAR(-*f.plane.d.to_f64() / length, 1.157662, 5.1e-7);
  }
  EXPECT_EQ(std::count(faces_at.begin(), faces_at.end(), 3), 32);
  EXPECT_EQ(std::count(faces_at.begin(), faces_at.end(), 4), 6);
  EXPECT_LT(seconds, std::getenv("GYRELLE_SANITIZED") ? 40.0 : 4.0);
}

TEST(Builder, ShapePlanes) {
  auto cube = *shape_planes(std::vector<Shape>{*parse_shape("C$1")});
  ASSERT_EQ(cube.size(), 6u);
  for (const auto& p : cube) EXPECT_TRUE(p.d.eq(AlgebraicNumber::rational(QQ(), fraction(-1, 2))));
  // Codes are looked up before anything is evaluated.
  auto bad = shape_planes(std::vector<Shape>{*parse_shape("1,0,0$x"), *parse_shape("c$1")});
  ASSERT_FALSE(bad.has_value());
  EXPECT_EQ(bad.error().message, "unknown polyhedron: 'c'");
  EXPECT_EQ(shape_planes(std::vector<Shape>{*parse_shape("1,0,0$x")}).error().message, "unknown operation 'x'");
  EXPECT_TRUE(shape_planes(std::vector<Shape>{})->empty());
  // A size of zero puts every plane through the centre.
  auto flat = *shape_planes(std::vector<Shape>{*parse_shape("D$0")});
  for (const auto& p : flat) EXPECT_TRUE(p.d.is_zero());
}

}  // namespace
}  // namespace gy

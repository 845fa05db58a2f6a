#include "builder.hpp"
#include "catalog.hpp"
#include "polyhedra.hpp"

#include <gtest/gtest.h>

#include <cmath>

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

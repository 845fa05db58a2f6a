#include <gtest/gtest.h>

#include <random>

#include "color.hpp"
#include "render/scene.hpp"

namespace gy {
namespace {

TEST(Colour, ThresholdTableAndEncoding) {
  const auto& t = srgb_thresholds();
  EXPECT_DOUBLE_EQ(t[0], 0.00015176349177441873);
  EXPECT_DOUBLE_EQ(t[254], 0.9955451786029327);
  for (int k = 1; k < 255; ++k) ASSERT_LT(t[k - 1], t[k]);
  EXPECT_EQ(linear_to_rgb24(1, 1, 1), 0xFFFFFFu);
  EXPECT_EQ(linear_to_rgb24(0, 0, 0), 0u);
  EXPECT_EQ(linear_to_rgb24(0.13286832154414627, 0.13286832154414627, 0.13286832154414627), 0x666666u);
  EXPECT_EQ(encode_srgb(t[0]), 0);
  EXPECT_EQ(encode_srgb(std::nextafter(t[0], 1.0)), 1);
  EXPECT_EQ(encode_srgb(std::nan("")), 0);
  EXPECT_EQ(encode_srgb(-1), 0);
  EXPECT_EQ(encode_srgb(7), 255);
  // Every byte round-trips through the linear value at its centre.
  for (int b = 0; b < 256; ++b) {
    double s = b / 255.0;
    double lin = s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    EXPECT_EQ(encode_srgb(lin), b);
  }
}

TEST(Colour, ShadeBrightensAndRoundsAlpha) {
  EXPECT_EQ(shade_to_rgba(0.5, 0.5, 0.5, 1.0), 0xFFE1E1E1u);
  EXPECT_EQ(shade_to_rgba(0.5, 0.5, 0.5, 0.45) >> 24, 115u);
  EXPECT_EQ(shade_to_rgba(0.9, 0.0, 0.0, std::nan("")), 0x000000FFu);
  EXPECT_EQ(shade_to_rgba(0, 1, 0, 7) >> 24, 255u);
}

TEST(View, OptionsApplyAndRestore) {
  ViewSettings v;
  Camera c;
  c.up = {1, 0, 0};
  ViewOptions o;
  o.supersample = 0;
  o.yaw = 90;
  auto backup = view_from_options(o, v, c);
  EXPECT_EQ(v.supersample, 1u);
  EXPECT_NEAR(c.position[0], 12, 1e-12);
  EXPECT_NEAR(c.position[2], 0, 1e-12);
  EXPECT_EQ(c.up, (Vec3d{0, 1, 0}));
  restore_view(backup, v, c);
  EXPECT_EQ(v.supersample, 2u);
  EXPECT_EQ(c.position, (Vec3d{0, 0, 12}));
  EXPECT_EQ(c.up, (Vec3d{1, 0, 0}));

  ViewOptions d;
  d.distance = 6;
  view_from_options(d, v, c);
  EXPECT_EQ(c.position, (Vec3d{0, 0, 6}));
  c.position = {0, 0, 0};
  view_from_options(d, v, c);
  EXPECT_EQ(c.position, (Vec3d{0, 0, 0}));

  ViewOptions p;
  p.pitch = 90;
  p.distance = 3;
  view_from_options(p, v, c);
  EXPECT_NEAR(c.position[1], 3, 1e-12);
}

TEST(View, MatricesFollowTheCameraConventions) {
  Camera c;
  Mat4 view = look_at(c);
  Mat4 expect = mat4_identity;
  expect[14] = -12;
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(view[i], expect[i], 1e-15) << i;
  // Eye on the target looks down -z; up along the view direction stays finite.
  c.position = c.target;
  EXPECT_EQ(look_at(c), mat4_identity);
  Camera vertical{.position = {0, 5, 0}};
  for (double x : look_at(vertical)) EXPECT_TRUE(std::isfinite(x));

  // The near plane maps to depth -1 and the far plane to +1.
  Camera d;
  Mat4 proj = projection_matrix(d, 1.0);
  auto depth = [&](double z) { return (proj[10] * z + proj[14]) / (proj[11] * z); };
  EXPECT_NEAR(depth(-d.near), -1, 1e-12);
  EXPECT_NEAR(depth(-d.far), 1, 1e-9);
}

TEST(View, InverseUndoesRandomMatrices) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(-2, 2);
  for (int n = 0; n < 100; ++n) {
    Mat4 m;
    for (double& x : m) x = u(rng);
    Mat4 p = mat4_mul(m, mat4_inverse(m));
    for (int i = 0; i < 16; ++i) ASSERT_NEAR(p[i], mat4_identity[i], 1e-8);
  }
  Mat4 singular{};
  singular[0] = 1;
  EXPECT_EQ(mat4_inverse(singular), Mat4{});
}

}  // namespace
}  // namespace gy

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

#include "pool.hpp"
#include "render/framebuffer.hpp"
#include "render/raster.hpp"
#include "render_synthetic.hpp"

namespace gy {
namespace {

// The elements of a buffer as a plain vector, for comparisons.
template <class V>
std::vector<typename V::value_type> plain(const V& v) {
  return {v.begin(), v.end()};
}

constexpr float inf = std::numeric_limits<float>::infinity();

// Maps pixel coordinates (x right, y down, depth z) to clip space, so that screen coordinates
// come out exactly as given when the values are short binary fractions.
Mat4 pixel_vp(std::uint32_t w, std::uint32_t h) {
  return {2.0 / w, 0, 0, 0, 0, -2.0 / h, 0, 0, 0, 0, 2, 0, -1, 1, -1, 1};
}

Framebuffer frame(std::uint32_t w, std::uint32_t h, std::uint32_t fill = 0) {
  return expect(make_framebuffer(w, h, 1, fill), "frame");
}

void draw(Framebuffer& fb, std::span<const DrawItem> items, const Mat4& vp) {
  RasterScratch scratch;
  rasterize(scratch, fb, items, vp);
}

DrawItem fill_item(std::span<const Triangle3> tris, std::span<const std::uint32_t> colours) {
  DrawItem item;
  item.triangles = tris;
  item.colours = colours;
  return item;
}

// A direct reading of the drawing rules for triangles already in pixel coordinates: every pixel
// of the frame, edge values evaluated afresh, no bins or bands.
void reference(Framebuffer& fb, std::span<const DrawItem> items) {
  for (const DrawItem& item : items)
    for (std::size_t t = 0; t < item.triangles.size(); ++t) {
      const auto& [a, b, c] = item.triangles[t];
      double wind = (c[1] - a[1]) * (b[0] - a[0]) - (c[0] - a[0]) * (b[1] - a[1]);
      if (item.cull == 0 ? !(wind < 0) : item.cull == 1 ? !(wind > 0) : wind == 0) continue;
      double area = (b[0] - a[0]) * (c[1] - a[1]) - (c[0] - a[0]) * (b[1] - a[1]);
      double bias = 0;
      if (item.bias_kind == 1) {
        double slope = 0;
        if (std::abs(area) >= 1e-6) {
          double dzdx = ((c[1] - a[1]) * (b[2] - a[2]) - (b[1] - a[1]) * (c[2] - a[2])) / area;
          double dzdy = ((b[0] - a[0]) * (c[2] - a[2]) - (c[0] - a[0]) * (b[2] - a[2])) / area;
          slope = std::min(std::max(std::abs(dzdx), std::abs(dzdy)), 1e-5);
        }
        bias = double{item.bias_factor} * slope + double{item.bias_units} * 1e-6;
      }
      std::uint32_t colour = t < item.colours.size() ? item.colours[t] : 0xFFFFFFFF;
      for (std::uint32_t y = 0; y < fb.height; ++y)
        for (std::uint32_t x = 0; x < fb.width; ++x) {
          double px = x + 0.5, py = y + 0.5;
          double e0 = (py - b[1]) * (c[0] - b[0]) - (px - b[0]) * (c[1] - b[1]);
          double e1 = (py - c[1]) * (a[0] - c[0]) - (px - c[0]) * (a[1] - c[1]);
          double e2 = (py - a[1]) * (b[0] - a[0]) - (px - a[0]) * (b[1] - a[1]);
          bool in = area > 0 ? e0 >= 0 && e1 >= 0 && e2 >= 0 : e0 <= 0 && e1 <= 0 && e2 <= 0;
          if (!in) continue;
          auto z = static_cast<float>((e0 * a[2] + e1 * b[2] + e2 * c[2]) * (1 / area) + bias);
          std::size_t i = std::size_t{y} * fb.width + x;
          if (item.depth_test && !(z < fb.depth[i])) continue;
          if (item.depth_write) fb.depth[i] = z;
          fb.colour[i] = blend_pixel(fb.colour[i], colour, static_cast<BlendMode>(item.blend));
        }
    }
}

TEST(Rasterizer, MatchesDirectReadingOfTheRules) {
  // Corners on a 1/8 grid and depths of few bits keep every edge value exact, so the incremental
  // rasterizer must agree with the reference bit for bit: coverage, depth order, bias, culling,
  // blending, band seams (rows 32, 64, 96) and clipping at the frame border.
  std::mt19937 rng(7);
  auto coord = [&](double lo, double hi) { return std::floor(std::uniform_real_distribution(lo, hi)(rng) * 8) / 8; };
  const std::uint32_t W = 64, H = 128;
  for (int round = 0; round < 16; ++round) {
    std::vector<std::vector<Triangle3>> tris(6);
    std::vector<std::vector<std::uint32_t>> colours(6);
    std::vector<DrawItem> items;
    for (int i = 0; i < 6; ++i) {
      int n = 1 + rng() % 12;
      for (int t = 0; t < n; ++t) {
        double cx = coord(-10, W + 10), cy = coord(-10, H + 10), r = coord(1, 40);
        Triangle3 tri;
        for (auto& p : tri) p = {coord(cx - r, cx + r), coord(cy - r, cy + r), (rng() % 256) / 256.0};
        tris[i].push_back(tri);
        std::uint32_t alpha = std::array<std::uint32_t, 3>{0, 255, static_cast<std::uint32_t>(rng() % 256)}[rng() % 3];
        colours[i].push_back((rng() & 0xFFFFFF) | alpha << 24);
      }
      if (rng() % 4 == 0) colours[i].pop_back();  // the last one draws white
      DrawItem item = fill_item(tris[i], colours[i]);
      item.cull = rng() % 3;
      item.blend = rng() % 3;
      item.depth_test = rng() % 2;
      item.depth_write = rng() % 2;
      if (rng() % 2) item.bias_kind = 1, item.bias_factor = -1, item.bias_units = -4;
      items.push_back(item);
    }
    Framebuffer got = frame(W, H, 0x80402010), want = frame(W, H, 0x80402010);
    draw(got, items, pixel_vp(W, H));
    reference(want, items);
    ASSERT_EQ(got.colour, want.colour) << "round " << round;
    ASSERT_EQ(std::memcmp(got.depth.data(), want.depth.data(), got.depth.size() * 4), 0) << "round " << round;
  }
}

TEST(Rasterizer, SharedEdgesAndDepthTies) {
  // A square split along its diagonal; centres on the diagonal belong to both halves.
  const std::vector<Triangle3> upper = {{{{0, 0, 0.5}, {8, 0, 0.5}, {8, 8, 0.5}}}};
  const std::vector<Triangle3> lower = {{{{0, 0, 0.5}, {8, 8, 0.5}, {0, 8, 0.5}}}};
  const std::vector<std::uint32_t> red = {0xFF0000FF}, blue = {0xFFFF0000};
  for (bool upper_first : {true, false})
    for (std::uint8_t test : {1, 0}) {
      DrawItem a = fill_item(upper, red), b = fill_item(lower, blue);
      a.depth_test = b.depth_test = test;
      std::vector<DrawItem> items = upper_first ? std::vector{a, b} : std::vector{b, a};
      Framebuffer fb = frame(8, 8);
      draw(fb, items, pixel_vp(8, 8));
      std::uint32_t diagonal = test ? (upper_first ? red[0] : blue[0]) : (upper_first ? blue[0] : red[0]);
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
          std::uint32_t want = x > y ? red[0] : x < y ? blue[0] : diagonal;
          ASSERT_EQ(fb.colour[y * 8 + x], want) << x << "," << y << " test " << int(test);
        }
    }
}

TEST(Rasterizer, AlphaZeroStillWritesDepthAndMissingColoursAreWhite) {
  const std::vector<Triangle3> near_tri = {{{{0, 0, 0.25}, {4, 0, 0.25}, {4, 4, 0.25}}}};
  const std::vector<Triangle3> far_pair = {{{{0, 0, 0.75}, {4, 0, 0.75}, {4, 4, 0.75}}},
                                           {{{0, 0, 0.75}, {4, 4, 0.75}, {0, 4, 0.75}}}};
  const std::vector<std::uint32_t> clear = {0x00FFFFFF}, green = {0xFF00FF00};
  DrawItem glass = fill_item(near_tri, clear), back = fill_item(far_pair, green);
  glass.blend = 1;
  Framebuffer fb = frame(4, 4, 0xFF202020);
  std::vector<DrawItem> items = {glass, back};
  draw(fb, items, pixel_vp(4, 4));
  EXPECT_EQ(fb.colour[1], 0xFF202020u);      // behind the invisible triangle: hidden
  EXPECT_EQ(fb.colour[3 * 4 + 0], 0xFFFFFFFFu);  // second triangle has no colour word
  EXPECT_EQ(fb.colour[0], 0xFF202020u);      // diagonal: the glass was first
}

TEST(Rasterizer, SegmentsAreQuadsOfTheLineWidth) {
  const std::vector<Segment3> line = {{{{2, 5.5, 0.5}, {20, 5.5, 0.5}}}};
  DrawItem item;
  item.segments = line;
  item.line_width = 3;
  item.line_colour = 0xFF123456;
  Framebuffer fb = frame(24, 12);
  draw(fb, std::span(&item, 1), pixel_vp(24, 12));
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 24; ++x)
      ASSERT_EQ(fb.colour[y * 24 + x], (y >= 4 && y <= 6 && x >= 2 && x <= 19) ? 0xFF123456u : 0u) << x << "," << y;

  // Degenerate segments and ones reaching behind the eye draw nothing.
  const std::vector<Segment3> nothing = {{{{5, 5, 0.5}, {5, 5 + 1e-13, 0.5}}}};
  item.segments = nothing;
  Framebuffer empty = frame(24, 12);
  draw(empty, std::span(&item, 1), pixel_vp(24, 12));
  Mat4 behind = pixel_vp(24, 12);
  behind[3] = 1, behind[15] = -5;  // w = x - 5
  item.segments = line;
  draw(empty, std::span(&item, 1), behind);
  EXPECT_EQ(empty.colour, frame(24, 12).colour);
}

TEST(Rasterizer, OutlineBiasWinsOverCoplanarFill) {
  const std::vector<Triangle3> face = {{{{0, 0, 0.5}, {16, 0, 0.5}, {16, 16, 0.5}}},
                                       {{{0, 0, 0.5}, {16, 16, 0.5}, {0, 16, 0.5}}}};
  const std::vector<std::uint32_t> white = {0xFFFFFFFF, 0xFFFFFFFF};
  const std::vector<Segment3> edge = {{{{0, 8, 0.5}, {16, 8, 0.5}}}};
  DrawItem fill = fill_item(face, white), outline;
  outline.segments = edge;
  outline.line_width = 2;
  outline.bias_kind = 1, outline.bias_factor = -1, outline.bias_units = -4;
  std::vector<DrawItem> items = {fill, outline};
  Framebuffer fb = frame(16, 16);
  draw(fb, items, pixel_vp(16, 16));
  EXPECT_EQ(fb.colour[7 * 16 + 3], 0xFF000000u);
  EXPECT_EQ(fb.colour[8 * 16 + 3], 0xFF000000u);
  EXPECT_EQ(fb.colour[9 * 16 + 3], 0xFFFFFFFFu);
}

// Perspective with near plane 1 and far plane 10, eye at the origin looking down -z.
Mat4 perspective() {
  double n = 1, f = 10;
  return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -(f + n) / (f - n), -1, 0, 0, -2 * f * n / (f - n), 0};
}

std::size_t drawn(const Framebuffer& fb) {
  std::size_t n = 0;
  for (std::uint32_t c : fb.colour) n += c != 0;
  return n;
}

TEST(Rasterizer, NearPlaneClipping) {
  const std::uint32_t S = 64;
  std::vector<std::uint32_t> colour = {0xFF00FF00, 0xFF00FF00};
  // Wholly in front of the near plane: nothing.
  std::vector<Triangle3> close = {{{{-0.2, -0.2, -0.5}, {0.2, -0.2, -0.5}, {0, 0.2, -0.5}}}};
  Framebuffer fb = frame(S, S);
  DrawItem item = fill_item(close, colour);
  draw(fb, std::span(&item, 1), perspective());
  EXPECT_EQ(drawn(fb), 0u);
  // Crossing it: drawn as the part beyond z = -1, which equals the triangle cut in world space.
  std::vector<Triangle3> crossing = {{{{-2, -1, -4}, {2, -1, -4}, {0, 1.5, 0.5}}}};
  item.triangles = crossing;
  draw(fb, std::span(&item, 1), perspective());
  // The cut points at z = -1: t = 3/4.5 along each edge from the far corners to the near one.
  double t = 3 / 4.5;
  Point3 l{-2 + 2 * t, -1 + 2.5 * t, -1}, r{2 - 2 * t, -1 + 2.5 * t, -1};
  std::vector<Triangle3> cut = {{{{-2, -1, -4}, {2, -1, -4}, r}}, {{{-2, -1, -4}, r, l}}};
  Framebuffer want = frame(S, S);
  item.triangles = cut;
  draw(want, std::span(&item, 1), perspective());
  std::size_t differ = 0;
  for (std::size_t i = 0; i < fb.colour.size(); ++i) differ += (fb.colour[i] != 0) != (want.colour[i] != 0);
  EXPECT_GT(drawn(fb), 200u);
  EXPECT_LE(differ, S / 8);
}

TEST(Rasterizer, NonFiniteCamerasDrawNothing) {
  synthetic::Scene s = synthetic::scene(2, 48, 40);
  const double bad[] = {std::nan(""), std::numeric_limits<double>::infinity(), -1e308, 1e300};
  for (double v : bad)
    for (int at : {0, 5, 10, 14, 15}) {
      Mat4 vp = s.vp;
      vp[at] = v;
      if (std::abs(v) > 1e299 && at != 15) vp.fill(v);  // overflows every product
      Framebuffer fb = frame(48, 40, 0x11223344);
      draw(fb, s.items, vp);
      for (std::uint32_t c : fb.colour) ASSERT_EQ(c, 0x11223344u) << v << " at " << at;
      for (float d : fb.depth) ASSERT_EQ(d, inf);
    }
  // Empty item lists and empty frames are fine too.
  Framebuffer fb = frame(8, 8, 5);
  draw(fb, {}, s.vp);
  Framebuffer none = expect(make_framebuffer(0, 7, 1, 0), "empty");
  draw(none, s.items, s.vp);
  EXPECT_EQ(plain(fb.colour), std::vector<std::uint32_t>(64, 5));
}

TEST(Rasterizer, SameBytesForEveryThreadCount) {
  const bool small = std::getenv("GYRELLE_SANITIZED") != nullptr;
  const std::uint32_t W = small ? 150 : 300, H = small ? 110 : 230;  // partial last band
  synthetic::Scene s = synthetic::scene(small ? 3 : 5, W, H);
  std::vector<std::uint32_t> first;
  for (int threads : {1, 2, 8}) {
    pool::Limit limit(threads);
    Framebuffer fb = frame(W, H, 0xFF302010);
    RasterScratch scratch;
    rasterize(scratch, fb, s.items, s.vp);
    rasterize(scratch, fb, s.items, s.vp);  // scratch reuse; a repeat changes nothing
    if (first.empty()) {
      first = plain(fb.colour);
      EXPECT_GT(drawn(fb), W * H / 4);
    } else {
      ASSERT_EQ(plain(fb.colour), first) << threads << " threads";
    }
  }
}

TEST(Resolve, RoundedBlockMeans) {
  // 4x2 source at f = 2: the worked rounding cases in the first channel, alpha averaged too.
  std::vector<std::uint8_t> src(4 * 2 * 4, 0);
  auto px = [&](int x, int y) { return &src[(y * 4 + x) * 4]; };
  px(1, 1)[0] = 2;  // block 0: 0, 0, 0, 2 -> 1
  px(3, 1)[0] = 1;  // block 1: 0, 0, 0, 1 -> 0
  for (int i = 0; i < 4; ++i) px(0, 0)[i] = 255, px(1, 0)[i] = 255;  // white + transparent -> 128
  std::vector<std::uint8_t> out(2 * 1 * 4);
  resolve(src, 4, 2, 2, out);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{128, 128, 128, 128, 0, 0, 0, 0}));
  // 255 + 255 + 2 + 0 = 512 -> 128 in the first channel: recheck with the odd sample.
  px(1, 1)[0] = 3;
  resolve(src, 4, 2, 2, out);
  EXPECT_EQ(out[0], 128);
}

TEST(Resolve, AgreesWithBlockAverageForOddFactorsAndRemainders) {
  std::mt19937 rng(3);
  for (std::uint32_t f : {1u, 2u, 3u, 5u}) {
    const std::uint32_t w = 17, h = 13, W = w / f, H = h / f;
    std::vector<std::uint8_t> src(w * h * 4);
    for (auto& b : src) b = rng();
    std::vector<std::uint8_t> out(W * H * 4);
    resolve(src, w, h, f, out);
    for (std::uint32_t Y = 0; Y < H; ++Y)
      for (std::uint32_t X = 0; X < W; ++X)
        for (int c = 0; c < 4; ++c) {
          unsigned sum = 0;
          for (std::uint32_t j = 0; j < f; ++j)
            for (std::uint32_t i = 0; i < f; ++i) sum += src[((Y * f + j) * w + X * f + i) * 4 + c];
          ASSERT_EQ(out[(Y * W + X) * 4 + c], (sum + f * f / 2) / (f * f)) << f;
        }
  }
  std::vector<std::uint8_t> src(3 * 3 * 4, 9), none;
  resolve(src, 3, 3, 4, none);  // factor larger than the source: empty output
}

TEST(Framebuffer, SizeIsCheckedBeforeAllocation) {
  EXPECT_FALSE(make_framebuffer(16384, 16384, 2, 0).has_value());
  EXPECT_FALSE(make_framebuffer(0xFFFFFFFF, 1, 0xFFFFFFFF, 0).has_value());  // f * W beyond 32 bits
  auto big = make_framebuffer(70000, 70000, 1, 0);
  ASSERT_FALSE(big.has_value());
  EXPECT_EQ(big.error().kind, ErrorKind::Range);
  EXPECT_EQ(big.error().message, "frame of 70000x70000 at supersample 1 exceeds the limit of 268435456 pixels");
  Framebuffer fb = expect(make_framebuffer(3, 2, 0, 7), "supersample 0 is 1");
  EXPECT_EQ(fb.width, 3u);
  EXPECT_EQ(plain(fb.colour), std::vector<std::uint32_t>(6, 7));
  EXPECT_EQ(saturating_cast<std::uint32_t>(std::nan("")), 0u);
  EXPECT_EQ(saturating_cast<std::uint32_t>(-3.5), 0u);
  EXPECT_EQ(saturating_cast<std::uint32_t>(1e20), 0xFFFFFFFFu);
  EXPECT_EQ(saturating_cast<std::int64_t>(-1e30), INT64_MIN);
  EXPECT_EQ(saturating_cast<std::int64_t>(9.3e18), INT64_MAX);
}

}  // namespace
}  // namespace gy

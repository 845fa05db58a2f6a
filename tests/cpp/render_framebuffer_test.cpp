#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "render/framebuffer.hpp"

namespace gy {
namespace {

// The elements of a buffer as a plain vector, for comparisons.
template <class V>
std::vector<typename V::value_type> plain(const V& v) {
  return {v.begin(), v.end()};
}

constexpr std::uint32_t rgba(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a) {
  return r | g << 8 | b << 16 | a << 24;
}

Image image(std::uint32_t w, std::uint32_t h, std::uint32_t colour = 0) { return expect(make_image(w, h, colour), "image"); }

// Every pixel a different colour.
Image numbered(std::uint32_t w, std::uint32_t h) {
  Image img = image(w, h);
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x) image_set_pixel(img, x, y, rgba(x, y, 7, 255));
  return img;
}

TEST(Blend, WorkedCases) {
  EXPECT_EQ(blend_pixel(rgba(0, 0, 255, 255), rgba(255, 0, 0, 128), BlendMode::Over), rgba(128, 0, 127, 255));
  EXPECT_EQ(blend_pixel(rgba(0, 0, 0, 0), rgba(255, 255, 255, 128), BlendMode::Over), rgba(128, 128, 128, 128));
  EXPECT_EQ(blend_pixel(rgba(200, 100, 0, 200), rgba(100, 200, 50, 128), BlendMode::Add), rgba(250, 200, 25, 255));
  EXPECT_EQ(blend_pixel(rgba(1, 2, 3, 4), rgba(9, 9, 9, 0), BlendMode::Over), rgba(1, 2, 3, 4));
  EXPECT_EQ(blend_pixel(rgba(1, 2, 3, 4), rgba(9, 8, 7, 255), BlendMode::Over), rgba(9, 8, 7, 255));
  EXPECT_EQ(blend_pixel(rgba(1, 2, 3, 4), rgba(9, 8, 7, 0), BlendMode::Copy), rgba(9, 8, 7, 0));
  // The rounded division is exact at multiples of 255 and rounds 255k + 128 down.
  for (std::uint32_t k = 0; k <= 254; ++k) {
    EXPECT_EQ(div255(255 * k), k);
    EXPECT_EQ(div255(255 * k + 127), k);
    EXPECT_EQ(div255(255 * k + 128), k);
    EXPECT_EQ(div255(255 * k + 129), k + 1);
  }
}

TEST(Blend, ModeNames) {
  EXPECT_EQ(blend_mode_argument("copy").value(), BlendMode::Copy);
  EXPECT_EQ(blend_mode_argument("over").value(), BlendMode::Over);
  EXPECT_EQ(blend_mode_argument("add").value(), BlendMode::Add);
  EXPECT_EQ(blend_mode_argument("additive").value(), BlendMode::Add);
  auto bad = blend_mode_argument("ADD");
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().kind, ErrorKind::Range);
  EXPECT_EQ(bad.error().message, "unknown blend mode \"ADD\", expected 'copy', 'over' or 'add'");
  EXPECT_EQ(blend_mode_argument(" over\n").error().message,
            "unknown blend mode \" over\\n\", expected 'copy', 'over' or 'add'");
}

TEST(Image, ConstructionAccessAndSizeCap) {
  Image a = image(2, 1, rgba(1, 2, 3, 4));
  EXPECT_EQ(plain(a.pixels), (std::vector<std::uint8_t>{1, 2, 3, 4, 1, 2, 3, 4}));
  EXPECT_EQ(a.stride(), 8u);
  EXPECT_TRUE(image(3, 0, rgba(1, 2, 3, 4)).pixels.empty());
  Image empty = image(0, 3);
  image_fill(empty, rgba(1, 2, 3, 4));
  EXPECT_TRUE(empty.pixels.empty());

  Image b = image(3, 2, rgba(5, 5, 5, 5));
  image_fill(b, rgba(9, 8, 7, 6));
  for (std::uint32_t y = 0; y < 2; ++y)
    for (std::uint32_t x = 0; x < 3; ++x) EXPECT_EQ(image_pixel(b, x, y), rgba(9, 8, 7, 6));
  EXPECT_FALSE(image_pixel(b, 3, 0));
  EXPECT_FALSE(image_pixel(b, 0, 2));
  EXPECT_FALSE(image_set_pixel(b, 3, 0, 0));
  EXPECT_TRUE(image_set_pixel(b, 2, 1, rgba(10, 20, 30, 0)));
  EXPECT_EQ(image_pixel(b, 2, 1), rgba(10, 20, 30, 0));

  const std::uint8_t data[] = {9, 8, 7, 6};
  EXPECT_EQ(image_pixel(expect(image_from_bytes(1, 1, data), "bytes"), 0, 0), rgba(9, 8, 7, 6));
  auto wrong = image_from_bytes(2, 2, std::vector<std::uint8_t>(15));
  ASSERT_FALSE(wrong);
  EXPECT_EQ(wrong.error().message, "data length must be width * height * 4");
  // The byte count would wrap 32 bits (and 64 bits for the u32 maximum squared times 4): refused.
  EXPECT_FALSE(image_from_bytes(0x40000000, 4, std::vector<std::uint8_t>{}));
  auto huge = make_image(0xFFFFFFFF, 0xFFFFFFFF);
  ASSERT_FALSE(huge);
  EXPECT_EQ(huge.error().kind, ErrorKind::Range);
  EXPECT_EQ(huge.error().message, "image size 4294967295x4294967295 exceeds the limit of 268435456 pixels");
  EXPECT_TRUE(make_image(16384, 16384 + 1).error().message.find("limit") != std::string::npos);
}

// Whether (x, y) lies in the rectangle, decided in 128-bit arithmetic.
bool inside(__int128 x, __int128 y, __int128 rx, __int128 ry, __int128 rw, __int128 rh) {
  return x >= rx && x < rx + rw && y >= ry && y < ry + rh;
}

std::int64_t edge_coordinate(std::mt19937_64& rng) {
  static const std::int64_t picks[] = {INT64_MIN, INT64_MIN + 1, INT64_MAX, INT64_MAX - 3, -5, -1, 0, 1, 3, 6};
  return rng() % 3 == 0 ? picks[rng() % 10] : static_cast<std::int64_t>(rng() % 16) - 6;
}

std::uint32_t edge_size(std::mt19937_64& rng) {
  static const std::uint32_t picks[] = {0, 1, 2, 0xFFFFFFFF, 0x80000000, 7};
  return rng() % 3 == 0 ? picks[rng() % 6] : static_cast<std::uint32_t>(rng() % 12);
}

TEST(FillSpan, ClipsExactlyAtEveryBorder) {
  Image whole = image(4, 4);
  fill_span(whole, -5, -5, 10, 10, rgba(1, 1, 1, 1), BlendMode::Copy);
  EXPECT_EQ(whole, image(4, 4, rgba(1, 1, 1, 1)));
  Image none = image(4, 4);
  fill_span(none, 2, 2, 0, 5, rgba(1, 1, 1, 1), BlendMode::Copy);
  EXPECT_EQ(none, image(4, 4));

  std::mt19937_64 rng(11);
  for (int round = 0; round < 3000; ++round) {
    std::int64_t x = edge_coordinate(rng), y = edge_coordinate(rng);
    std::uint32_t w = edge_size(rng), h = edge_size(rng);
    auto mode = static_cast<BlendMode>(rng() % 3);
    std::uint32_t colour = rgba(200, 100, 50, rng() % 2 ? 128 : 0);
    Image got = numbered(5, 4), want = got;
    fill_span(got, x, y, w, h, colour, mode);
    for (std::uint32_t py = 0; py < 4; ++py)
      for (std::uint32_t px = 0; px < 5; ++px)
        if (inside(px, py, x, y, w, h)) image_set_pixel(want, px, py, blend_pixel(*image_pixel(want, px, py), colour, mode));
    ASSERT_EQ(got, want) << x << " " << y << " " << w << " " << h;
  }
}

TEST(Blit, ClipsBothRectanglesExactly) {
  // The source rectangle (-2, 0, 4, 4) keeps source columns 0 and 1; they land at x = 5 and 6.
  Image src = numbered(4, 4), dst = image(10, 10);
  blit(dst, src, 3, 0, -2, 0, 4, 4, BlendMode::Copy);
  for (std::uint32_t x = 0; x < 10; ++x) EXPECT_EQ(*image_pixel(dst, x, 0), x >= 5 && x <= 6 ? rgba(x - 5, 0, 7, 255) : 0u);
  Image untouched = image(10, 10);
  blit(untouched, src, 0, 0, 0, 0, 0, 4, BlendMode::Copy);
  EXPECT_EQ(untouched, image(10, 10));

  // Against a per-pixel reading: destination pixel (dx, dy) shows source (dx - x + sx, dy - y + sy)
  // when that lies in the source image and in the source rectangle.
  std::mt19937_64 rng(5);
  for (int round = 0; round < 4000; ++round) {
    std::int64_t x = edge_coordinate(rng), y = edge_coordinate(rng), sx = edge_coordinate(rng), sy = edge_coordinate(rng);
    std::uint32_t sw = edge_size(rng), sh = edge_size(rng);
    auto mode = static_cast<BlendMode>(rng() % 3);
    Image source = numbered(6, 5);
    for (auto& b : source.pixels) b = static_cast<std::uint8_t>(b * 37 + 11);
    Image got = image(7, 6, rgba(9, 9, 9, 200)), want = got;
    blit(got, source, x, y, sx, sy, sw, sh, mode);
    for (std::uint32_t dy = 0; dy < 6; ++dy)
      for (std::uint32_t dx = 0; dx < 7; ++dx) {
        __int128 px = __int128{dx} - x + sx, py = __int128{dy} - y + sy;
        if (inside(px, py, 0, 0, 6, 5) && inside(px, py, sx, sy, sw, sh)) {
          auto s = *image_pixel(source, static_cast<std::uint32_t>(px), static_cast<std::uint32_t>(py));
          image_set_pixel(want, dx, dy, blend_pixel(*image_pixel(want, dx, dy), s, mode));
        }
      }
    ASSERT_EQ(got, want) << x << " " << y << " " << sx << " " << sy << " " << sw << " " << sh;
  }
}

TEST(Resize, NearestNeighbour) {
  Image src = numbered(2, 2);
  Image up = expect(resized(src, 4, 4), "up");
  for (std::uint32_t y = 0; y < 4; ++y)
    for (std::uint32_t x = 0; x < 4; ++x) EXPECT_EQ(image_pixel(up, x, y), image_pixel(src, x / 2, y / 2));
  EXPECT_EQ(plain(expect(resized(src, 1, 1), "one").pixels), std::vector<std::uint8_t>({0, 0, 7, 255}));
  Image three = numbered(3, 1);
  Image two = expect(resized(three, 2, 1), "two");
  EXPECT_EQ(image_pixel(two, 1, 0), image_pixel(three, 1, 0));
  Image flat = expect(resized(src, 0, 5), "flat");
  EXPECT_EQ(flat.width, 0u);
  EXPECT_EQ(flat.height, 5u);
  EXPECT_EQ(expect(resized(image(0, 0), 2, 2), "from nothing"), image(2, 2));
  EXPECT_FALSE(resized(src, 70000, 70000));
  // Tall images go through the pool in runs of rows.
  Image tall = numbered(3, 250);
  Image tall2 = expect(resized(tall, 7, 500), "tall");
  for (std::uint32_t y = 0; y < 500; ++y) ASSERT_EQ(image_pixel(tall2, 6, y), image_pixel(tall, 2, y / 2));
}

TEST(Downsample, BoxAverage) {
  auto bad = downsample(image(2, 2), 0);
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().message, "factor must be positive");
  Image src = numbered(5, 3);
  EXPECT_EQ(expect(downsample(src, 1), "copy"), src);
  Image half = expect(downsample(src, 2), "half");
  ASSERT_EQ(half.width, 2u);
  ASSERT_EQ(half.height, 1u);
  EXPECT_EQ(image_pixel(half, 1, 0), rgba((2 + 3 + 2 + 3 + 2) / 4, (0 + 0 + 1 + 1 + 2) / 4, 7, 255));
  Image reds = image(2, 2);
  reds.pixels[12] = 1;
  EXPECT_EQ(expect(downsample(reds, 2), "r").pixels[0], 0);
  reds.pixels[8] = 1;
  EXPECT_EQ(expect(downsample(reds, 2), "r").pixels[0], 1);
  EXPECT_TRUE(expect(downsample(src, 4), "too big").pixels.empty());
}

TEST(Downsample, LargeFactorsSumInSixtyFourBits) {
  // 4200^2 * 255 does not fit 32 bits: a 32-bit sum would wrap and give a dark pixel.
  if (std::getenv("GYRELLE_SANITIZED")) GTEST_SKIP() << "70 MB image";
  Image white = image(4200, 4200, rgba(255, 255, 255, 255));
  EXPECT_EQ(plain(expect(downsample(white, 4200), "one pixel").pixels), std::vector<std::uint8_t>(4, 255));
}

}  // namespace
}  // namespace gy

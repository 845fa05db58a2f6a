#include <gtest/gtest.h>

#include <string>

#include "render/font.hpp"

namespace gy {
namespace {

constexpr std::uint32_t black = 0xFF000000;

Image blank(std::uint32_t w, std::uint32_t h) { return expect(make_image(w, h), "image"); }

std::pair<std::uint32_t, std::uint32_t> wh(std::uint32_t w, std::uint32_t h) { return {w, h}; }

TEST(Font, Measures) {
  EXPECT_EQ(text_size("A", 1), wh(5, 9));
  EXPECT_EQ(text_size("Hi", 1), wh(7, 9));
  EXPECT_EQ(text_size("a\nbb", 2), wh(22, 40));
  EXPECT_EQ(text_size("", 1), wh(0, 9));
  EXPECT_EQ(text_size("x\n", 1), wh(5, 20));
  EXPECT_EQ(text_width("ab\ncdefgh", 1), 11u);  // the first line only
  // Anything outside printable ASCII measures as "?": a tab, an accented letter, a lone byte.
  EXPECT_EQ(text_width("\t", 1), 5u);
  EXPECT_EQ(text_width("\xC3\xA9", 1), 5u);
  EXPECT_EQ(text_width("\xFF!", 1), 7u);
  EXPECT_EQ(text_width("\xE2\x82", 1), 11u);  // truncated sequence: two malformed bytes
  EXPECT_EQ(text_width("i\r", 1), 7u);         // a carriage return is a glyph
}

TEST(Font, WidthsSaturateInsteadOfWrapping) {
  const std::uint32_t big = 0x40000000;
  EXPECT_EQ(text_width("WW", big), 0xFFFFFFFFu);  // 11 * 2^30 does not fit 32 bits
  EXPECT_EQ(text_size("W\nW\nW", big), wh(0xFFFFFFFFu, 0xFFFFFFFFu));
  std::string long_line(1 << 20, 'm');
  EXPECT_EQ(text_width(long_line, 1000), 0xFFFFFFFFu);
  EXPECT_EQ(text_width(long_line, 1), 6u * (1 << 20) - 1);
  // fit_text compares without wrapping: nothing fits a width below the text's.
  EXPECT_EQ(fit_text(long_line, 0xFFFFFFFE, 1000), std::string(715827, 'm') + "...");
}

TEST(Font, DrawsGlyphBits) {
  Image img = blank(4, 10);
  EXPECT_EQ(draw_text(img, 0, 0, "i", black, 1, BlendMode::Over, false), 1u);
  for (std::uint32_t y = 0; y < 10; ++y)
    for (std::uint32_t x = 0; x < 4; ++x) {
      bool on = x == 0 && (y == 0 || (y >= 2 && y <= 6));
      ASSERT_EQ(*image_pixel(img, x, y), on ? black : 0u) << x << "," << y;
    }
  // Scale 3: each bit a 3x3 square; every glyph of the font matches its table entry.
  for (char c = 32; c < 127; ++c) {
    Image g = blank(16, 28);
    std::uint32_t w = draw_text_glyphs(g, 0, 0, std::string(1, c), black, 3, BlendMode::Copy);
    std::uint32_t index = static_cast<std::uint32_t>(c - 32);
    ASSERT_EQ(w, 3u * glyph_advances[index]);
    for (std::uint32_t y = 0; y < 28; ++y)
      for (std::uint32_t x = 0; x < 16; ++x) {
        bool on = y < 27 && x < 15 && ((glyph_bitmaps[index][y / 3] << (x / 3)) & 0x80) && x / 3 < glyph_advances[index];
        ASSERT_EQ(*image_pixel(g, x, y), on ? black : 0u) << c << " " << x << "," << y;
      }
  }
}

TEST(Font, LinesCentringModesAndClipping) {
  Image a = blank(30, 25), b = blank(30, 25);
  EXPECT_EQ(draw_text(a, 10, 0, "ab", black, 1, BlendMode::Over, true), 11u);
  draw_text(b, 5, 0, "ab", black, 1, BlendMode::Over, false);
  EXPECT_EQ(a, b);
  // Centring is per line; the second line starts 11 rows down.
  Image c = blank(30, 25), d = blank(30, 25);
  EXPECT_EQ(draw_text(c, 12, 1, "i\nab", black, 1, BlendMode::Copy, true), 11u);
  draw_text(d, 12, 1, "i", black, 1, BlendMode::Copy, false);
  draw_text(d, 7, 12, "ab", black, 1, BlendMode::Copy, false);
  EXPECT_EQ(c, d);
  // Scale 0 draws nothing; add with alpha 0 changes nothing.
  Image e = blank(30, 25);
  EXPECT_EQ(draw_text(e, 0, 0, "ab", black, 0, BlendMode::Copy, false), 0u);
  EXPECT_EQ(draw_text(e, 0, 0, "ab", 0x00FFFFFF, 1, BlendMode::Add, false), 11u);
  EXPECT_EQ(e, blank(30, 25));
  // Coordinates at the ends of the 64-bit range clip away without overflow.
  for (std::int64_t x : {INT64_MIN, INT64_MAX, INT64_MAX - 2})
    for (std::int64_t y : {INT64_MIN, std::int64_t{0}, INT64_MAX - 5}) {
      EXPECT_EQ(draw_text(e, x, y, "Wide text\nline two", black, 0x7FFFFFFF, BlendMode::Over, true), 0xFFFFFFFFu);
      draw_text(e, x, y, "ok", black, 1, BlendMode::Over, false);
    }
  EXPECT_EQ(e, blank(30, 25));
  // Partly off the left edge: the visible columns are those of the unclipped drawing.
  Image f = blank(30, 12), g = blank(40, 12);
  draw_text(f, -4, 0, "HA", black, 1, BlendMode::Over, false);
  draw_text(g, 6, 0, "HA", black, 1, BlendMode::Over, false);
  for (std::uint32_t y = 0; y < 12; ++y)
    for (std::uint32_t x = 0; x < 30; ++x) ASSERT_EQ(image_pixel(f, x, y), image_pixel(g, x + 10, y));
}

TEST(Font, FitText) {
  EXPECT_EQ(fit_text("Hello", 100, 1), "Hello");
  EXPECT_EQ(fit_text("Hello", 15, 1), "H...");
  EXPECT_EQ(fit_text("Hello", 4, 1), "");
  EXPECT_EQ(fit_text("Hello", 5, 1), "...");
  EXPECT_EQ(fit_text("Hello", 29, 1), "Hello");
  EXPECT_EQ(fit_text("Hello", 24, 1), "Hel...");  // 15 + 1 + 5 fits, 19 + 1 + 5 does not
  EXPECT_EQ(fit_text("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 16, 1), "\xC3\xA9...");  // cut between characters
  EXPECT_EQ(fit_text("Hello", 48, 2), "Hel...");
}

}  // namespace
}  // namespace gy

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "catalog.hpp"
#include "render/framebuffer.hpp"
#include "render/lut.hpp"
#include "render/scene.hpp"
#include "simulator.hpp"
#include "symbolic.hpp"

namespace gy {
namespace {

Simulator catalog_puzzle(std::string_view name) {
  auto sim = Simulator::build(*resolve_recipe_text(name));
  EXPECT_TRUE(sim.has_value()) << name;
  return std::move(*sim);
}

void look(Simulator& sim, double yaw, double pitch) {
  ViewOptions o;
  o.yaw = yaw;
  o.pitch = pitch;
  view_from_options(o, sim.view, sim.camera);
}

Image painted(const DrawingTable& table, std::span<const std::uint16_t> colours) {
  Image img = expect(make_image(table.width, table.height, 0x12345678), "frame");
  paint_from_table(table, colours, table.palette, img.pixels);
  return img;
}

// The scene of the simulator as a table paints it: no arrows.
Image rendered(Simulator sim, std::uint32_t w, std::uint32_t h) {
  sim.view.show_arrows = false;
  return expect(render(sim, w, h), "render");
}

std::size_t differing_pixels(const Image& a, const Image& b) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < a.pixels.size(); i += 4) n += std::memcmp(&a.pixels[i], &b.pixels[i], 4) != 0;
  return n;
}

TEST(DrawingTable, SolvedPaintEqualsTheRenderedFrame) {
  struct Case {
    const char* name;
    double yaw, pitch;
    std::uint32_t supersample, background;
    bool edges;
  };
  const Case cases[] = {{"Quenly's Cube (3x3x3)", 30, 25, 2, 0, true},
                        {"Quenly's Cube (3x3x3)", -120, -40, 1, 0xFF302020, true},
                        {"Megaminx", 30, 25, 2, 0xFFE0E0E0, true},
                        {"Megaminx", 200, 10, 3, 0x80102030, false},
                        {"Pyraminx", 200, -30, 2, 0, true},
                        {"Pyraminx", 0, 0, 4, 0xFF000000, true}};
  for (const Case& c : cases) {
    Simulator sim = catalog_puzzle(c.name);
    look(sim, c.yaw, c.pitch);
    sim.view.supersample = c.supersample;
    sim.view.background = c.background;
    sim.view.show_edges = c.edges;
    DrawingTable table = expect(make_drawing_table(sim, 97, 80), "table");
    const ModelRef model = expect(tabular_model(sim), "model");
    EXPECT_EQ(table.base, model->sticker_count());
    EXPECT_EQ(table.fixed_colours[0], c.background);
    EXPECT_EQ(table.entry_count(), std::uint64_t{97} * 80 * c.supersample * c.supersample);
    Image want = rendered(sim, 97, 80);
    ASSERT_EQ(painted(table, model->solved_colors), want) << c.name << " at supersample " << c.supersample;
  }
}

TEST(DrawingTable, TurnedStatesPaintTheirStickers) {
  Simulator sim = catalog_puzzle("Megaminx");
  look(sim, 30, 25);
  const std::uint32_t w = 160, h = 160;
  DrawingTable table = expect(make_drawing_table(sim, w, h), "table");
  const ModelRef model = expect(tabular_model(sim), "model");
  const Image solved = painted(table, model->solved_colors);
  for (std::uint64_t a : {0u, 7u, 12u, 3u, 20u}) ASSERT_TRUE(expect(apply_action(sim, a), "action"));
  const auto colours = expect(sticker_colors(sim), "colours");
  const Image got = painted(table, colours), want = rendered(sim, w, h);
  // Only pixels on seams between stickers may differ (a turned piece carries its own outline).
  EXPECT_LT(differing_pixels(got, want), w * h / 200);
  EXPECT_GT(differing_pixels(got, solved), w * h / 50) << "the turns show";
  // Background, outlines and faces without a sticker do not depend on the state: wherever the
  // table holds a fixed colour, all-zero colours paint the same as the solved ones.
  ASSERT_EQ(table.entry_width, 1);
  DrawingTable flat = table;  // the subpixels themselves
  flat.supersample = 1;
  flat.width *= table.supersample;
  flat.height *= table.supersample;
  const std::vector<std::uint16_t> zeros(colours.size(), 0);
  const Image a = painted(flat, model->solved_colors), b = painted(flat, zeros);
  std::size_t fixed = 0;
  for (std::uint64_t i = 0; i < flat.entry_count(); ++i)
    if (flat.entries[i] >= flat.base) {
      ++fixed;
      ASSERT_EQ(std::memcmp(&a.pixels[4 * i], &b.pixels[4 * i], 4), 0) << i;
    }
  EXPECT_GT(fixed, flat.entry_count() / 4);
}

TEST(DrawingTable, CacheKeepsFourMostRecentlyUsed) {
  Simulator sim = catalog_puzzle("Quenly's Cube (3x3x3)");
  std::vector<DrawingTable> cache;
  auto status = build_drawing_table(cache, false, sim, 32, 32);
  ASSERT_FALSE(status.has_value());
  EXPECT_EQ(status.error().kind, ErrorKind::State);
  EXPECT_EQ(status.error().message,
            "this puzzle has no drawing table: its stickers do not stay on the solved lattice, so which one a pixel "
            "shows depends on the state");
  EXPECT_TRUE(cache.empty());

  auto front = [&] { return cache.front().entries.data(); };
  expect(build_drawing_table(cache, true, sim, 32, 32), "first");
  const std::uint8_t* first = front();
  // Arrows are never in a table, and supersample 0 is 1 (the default here is 2).
  sim.view.show_arrows = false;
  expect(build_drawing_table(cache, true, sim, 32, 32), "again");
  EXPECT_EQ(cache.size(), 1u);
  EXPECT_EQ(front(), first);

  // Five views in turn: each is built, the oldest falls out.
  const double yaws[] = {0, 10, 20, 30, 40};
  std::vector<const std::uint8_t*> built;
  for (double yaw : yaws) {
    look(sim, yaw, 5);
    expect(build_drawing_table(cache, true, sim, 32, 32), "view");
    built.push_back(front());
  }
  EXPECT_EQ(cache.size(), 4u);
  look(sim, 10, 5);  // still kept: moved to the front without a rebuild
  expect(build_drawing_table(cache, true, sim, 32, 32), "kept");
  EXPECT_EQ(front(), built[1]);
  EXPECT_EQ(cache[1].entries.data(), built[4]);
  look(sim, 0, 5);  // dropped: built anew
  expect(build_drawing_table(cache, true, sim, 32, 32), "dropped");
  EXPECT_EQ(cache.size(), 4u);
  EXPECT_EQ(cache.front().key, drawing_table_key(sim, 32, 32));
  for (std::size_t i = 1; i < cache.size(); ++i) EXPECT_NE(cache[i].entries.data(), built[0]);

  // A frame over the pixel cap is refused and leaves the cache alone.
  auto huge = build_drawing_table(cache, true, sim, 16384, 16384);
  ASSERT_FALSE(huge.has_value());
  EXPECT_EQ(huge.error().kind, ErrorKind::Range);
  EXPECT_EQ(cache.size(), 4u);
  EXPECT_EQ(cache.front().key, drawing_table_key(sim, 32, 32));
}

TEST(DrawingTable, EntryWidthFollowsTheIdentifierCount) {
  Simulator five = catalog_puzzle("5x5x5 Cube");  // 150 slots
  DrawingTable narrow = expect(make_drawing_table(five, 24, 24), "5x5x5");
  EXPECT_EQ(narrow.base, 150u);
  EXPECT_EQ(narrow.entry_width, 1);
  Simulator seven = catalog_puzzle("7x7x7 Cube");  // 294 slots
  seven.view.supersample = 1;
  DrawingTable wide = expect(make_drawing_table(seven, 40, 40), "7x7x7");
  EXPECT_EQ(wide.base, 294u);
  EXPECT_EQ(wide.entry_width, 2);
  EXPECT_EQ(wide.entries.size(), 40u * 40 * 2);
  const ModelRef model = expect(tabular_model(seven), "model");
  EXPECT_EQ(painted(wide, model->solved_colors), rendered(seven, 40, 40));
}

TEST(DrawingTable, PaintingRulesAtTheEdges) {
  // A hand-made 2x1 table at supersample 2: slots 0 and 1, fixed colours 2 (background) and 3.
  DrawingTable t;
  t.base = 2;
  t.width = 2;
  t.height = 1;
  t.supersample = 2;
  t.fixed_colours = {0x00000000, 0xFF0000FF};
  t.palette = {0xFF00FF00, 0xFFFF0000};
  t.entries = {0, 1, 2, 3,   // top row: left pixel slots 0, 1; right pixel the two fixed colours
               0, 0, 5, 2};  // bottom row: identifier 5 is past the fixed colours (black)
  auto paint = [&](std::vector<std::uint16_t> colours, std::vector<std::uint32_t> palette, std::size_t bytes) {
    std::vector<std::uint8_t> frame(bytes, 0xEE);
    paint_from_table(t, colours, palette, frame);
    return frame;
  };
  auto word = [](const std::vector<std::uint8_t>& f, std::size_t i) {
    std::uint32_t w;
    std::memcpy(&w, &f[4 * i], 4);
    return w;
  };
  auto frame = paint({0, 1}, t.palette, 8);
  // Left: green, blue, green, green -> (0, 191, 64, 255); right: clear, red, black, clear.
  EXPECT_EQ(word(frame, 0), 0xFF40BF00u);
  EXPECT_EQ(word(frame, 1), 0x80000040u);
  // Slot 1 without a colour takes palette entry 0; a colour past the palette is black.
  frame = paint({0}, t.palette, 8);
  EXPECT_EQ(word(frame, 0), 0xFF00FF00u);
  frame = paint({1, 9}, t.palette, 8);
  EXPECT_EQ(word(frame, 0), 0xFFBF0000u);  // blue, black, blue, blue
  frame = paint({0, 1}, {}, 8);
  EXPECT_EQ(word(frame, 0), 0xFF000000u);
  // A frame too short for a whole row is left alone; a longer one only has its row written.
  frame = paint({0, 1}, t.palette, 7);
  EXPECT_EQ(frame, std::vector<std::uint8_t>(7, 0xEE));
  frame = paint({0, 1}, t.palette, 12);
  EXPECT_EQ(word(frame, 2), 0xEEEEEEEEu);
  // At supersample 1 whole pixels are written up to the shorter of the table and the frame.
  t.supersample = 1;
  t.width = 4;
  t.height = 2;
  frame = paint({0, 1}, t.palette, 4 * 3 + 2);
  EXPECT_EQ(word(frame, 0), 0xFF00FF00u);
  EXPECT_EQ(word(frame, 2), 0x00000000u);
  EXPECT_EQ(frame[12], 0xEE);
  // A table of no width writes nothing.
  t.width = 0;
  EXPECT_EQ(paint({0, 1}, t.palette, 8), std::vector<std::uint8_t>(8, 0xEE));
}

TEST(DrawingTable, PaintedFramesFollowTheRuleAtEveryWidth) {
  // Random one-byte tables: slots, fixed colours and identifiers past both, painted at widths that
  // end inside and outside the vectors, checked against the rule pixel by pixel.
  std::mt19937 rng(21);
  for (std::uint64_t base : {40u, 100u, 200u})
    for (std::uint32_t f : {1u, 2u, 3u})
      for (std::uint32_t w : {1u, 7u, 8u, 15u, 16u, 17u, 33u, 64u, 70u}) {
        DrawingTable t;
        t.base = base;
        t.width = w;
        t.height = 3;
        t.supersample = f;
        t.fixed_colours = {0xFF102030, 0x80FFFFFF, 0x00000000};
        for (int k = 0; k < 6; ++k) t.palette.push_back(rng());
        t.entries.resize(std::size_t{f} * w * f * 3);
        for (auto& e : t.entries) e = static_cast<std::uint8_t>(rng() % std::min<std::uint64_t>(base + 60, 256));
        std::vector<std::uint16_t> colours(36);
        for (auto& c : colours) c = static_cast<std::uint16_t>(rng() % 7);
        auto colour = [&](std::uint8_t e) -> std::uint32_t {
          if (e >= t.base) return e - t.base < t.fixed_colours.size() ? t.fixed_colours[e - t.base] : 0xFF000000;
          if (e >= colours.size()) return t.palette[0];
          return colours[e] < t.palette.size() ? t.palette[colours[e]] : 0xFF000000;
        };
        std::vector<std::uint8_t> frame(std::size_t{w} * 3 * 4 + 4, 0xEE);
        paint_from_table(t, colours, t.palette, std::span<std::uint8_t>(frame).first(frame.size() - 4));
        for (std::uint32_t y = 0; y < 3; ++y)
          for (std::uint32_t x = 0; x < w; ++x)
            for (int ch = 0; ch < 4; ++ch) {
              std::uint32_t sum = 0;
              for (std::uint32_t j = 0; j < f; ++j)
                for (std::uint32_t i = 0; i < f; ++i)
                  sum += (colour(t.entries[(std::size_t{f} * y + j) * w * f + f * x + i]) >> (8 * ch)) & 0xFF;
              ASSERT_EQ(frame[(std::size_t{y} * w + x) * 4 + ch], (sum + f * f / 2) / (f * f))
                  << f << " " << w << " " << x << " " << y;
            }
        EXPECT_EQ(frame.back(), 0xEE);
      }
}

}  // namespace
}  // namespace gy

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <tuple>

#include "catalog.hpp"
#include "color.hpp"
#include "pool.hpp"
#include "render/framebuffer.hpp"
#include "render/scene.hpp"
#include "simulator.hpp"

namespace gy {
namespace {

constexpr std::uint32_t red = 0xFF0000FF, green = 0xFF00FF00, blue = 0xFFFF0000, grey = 0xFF404040;

Simulator catalog_puzzle(std::string_view name) {
  auto sim = Simulator::build(*resolve_recipe_text(name));
  EXPECT_TRUE(sim.has_value()) << name;
  return std::move(*sim);
}

// A rectangle in the plane z facing +z (towards the default eye), as two triangles sharing the
// diagonal from (x0, y0) to (x1, y1).
PieceMesh rectangle(double x0, double y0, double x1, double y1, double z, std::uint32_t lower,
                    std::uint32_t upper) {
  PieceMesh m;
  m.triangles = {{{{x0, y0, z}, {x1, y0, z}, {x1, y1, z}}}, {{{x0, y0, z}, {x1, y1, z}, {x0, y1, z}}}};
  m.colours = {lower, upper};
  m.edges = {{{{x0, y0, z}, {x1, y0, z}}}, {{{x1, y0, z}, {x1, y1, z}}}, {{{x1, y1, z}, {x0, y1, z}}},
             {{{x0, y1, z}, {x0, y0, z}}}};
  m.face_indices = {0, 0};
  return m;
}

// A simulator with no pieces or arrows, drawn at supersample 1 on opaque grey.
Simulator bare() {
  Simulator sim;
  sim.view.supersample = 1;
  sim.view.background = grey;
  return sim;
}

std::uint32_t pixel(const Image& image, std::uint32_t x, std::uint32_t y) {
  return *image_pixel(image, x, y);
}

// Where a world point lands: normalised device x, y through the given view-projection.
std::pair<double, double> project(const Mat4& m, const Point3& p) {
  double w = m[3] * p[0] + m[7] * p[1] + m[11] * p[2] + m[15];
  return {(m[0] * p[0] + m[4] * p[1] + m[8] * p[2] + m[12]) / w, (m[1] * p[0] + m[5] * p[1] + m[9] * p[2] + m[13]) / w};
}

// The pixel under a world point, as the scene drawing maps it.
std::pair<std::uint32_t, std::uint32_t> pixel_of(const Simulator& sim, std::uint32_t w, std::uint32_t h,
                                                 const Point3& p) {
  auto [x, y] = project(frame_view_projection(sim.camera, w, h), p);
  return {static_cast<std::uint32_t>((x + 1) * 0.5 * w), static_cast<std::uint32_t>((1 - y) * 0.5 * h)};
}

// The pointer position of a world point for picking (the camera's own aspect).
std::pair<double, double> pointer_of(const Simulator& sim, const Point3& p) {
  return project(mat4_mul(projection_matrix(sim.camera, sim.camera.aspect), look_at(sim.camera)), p);
}

std::size_t count(const Image& image, std::uint32_t colour) {
  std::size_t n = 0;
  for (std::uint32_t y = 0; y < image.height; ++y)
    for (std::uint32_t x = 0; x < image.width; ++x) n += pixel(image, x, y) == colour;
  return n;
}

TEST(Scene, DepthOrderSeamsAndSharedEdges) {
  Simulator sim = bare();
  sim.view.show_edges = false;
  sim.piece_meshes = {rectangle(-0.3, -0.3, 0.5, 0.5, 0.5, red, red), rectangle(-0.5, -0.5, 0.3, 0.3, -0.5, blue, green)};
  for (bool swapped : {false, true}) {
    if (swapped) std::swap(sim.piece_meshes[0], sim.piece_meshes[1]);
    Image img = expect(render(sim, 63, 63), "render");
    auto at = [&](const Point3& p) { auto [x, y] = pixel_of(sim, 63, 63, p); return pixel(img, x, y); };
    EXPECT_EQ(at({0, 0, 0.5}), red) << "the nearer rectangle covers the overlap, drawn first or last";
    EXPECT_EQ(at({-0.4, -0.2, -0.5}), green);
    EXPECT_EQ(at({-0.2, -0.4, -0.5}), blue);
    EXPECT_EQ(pixel(img, 0, 0), grey);
    // No background shows through the far rectangle's diagonal seam, which on this square frame
    // runs exactly through pixel centres.
    auto [x0, y1] = pixel_of(sim, 63, 63, {-0.45, -0.45, -0.5});
    auto [x1, y0] = pixel_of(sim, 63, 63, {0.25, 0.25, -0.5});
    for (std::uint32_t y = y0; y <= y1; ++y)
      for (std::uint32_t x = x0; x <= x1; ++x) ASSERT_NE(pixel(img, x, y), grey) << x << "," << y;
  }

  // A diamond split along x = 0: on an odd width the shared edge runs through the centres of the
  // middle column, which both halves cover at equal depth; the half drawn first keeps them.
  PieceMesh diamond;
  diamond.triangles = {{{{0, -1.2, 0}, {0, 1.2, 0}, {-1.2, 0, 0}}}, {{{0, 1.2, 0}, {0, -1.2, 0}, {1.2, 0, 0}}}};
  diamond.colours = {red, blue};
  sim.piece_meshes = {diamond, diamond};
  std::swap(sim.piece_meshes[1].triangles[0], sim.piece_meshes[1].triangles[1]);
  sim.piece_meshes[1].colours = {blue, red};
  for (int first = 0; first < 2; ++first) {
    Simulator one = sim;
    one.piece_meshes = {sim.piece_meshes[first]};
    Image img = expect(render(one, 41, 41), "render");
    for (std::uint32_t y = 10; y < 31; ++y) {
      ASSERT_EQ(pixel(img, 20, y), first ? blue : red) << y;
      ASSERT_EQ(pixel(img, 19, y), red);
      ASSERT_EQ(pixel(img, 21, y), blue);
    }
  }
}

TEST(Scene, OutlinesSupersamplingAndShowFlags) {
  Simulator sim = bare();
  sim.piece_meshes = {rectangle(-0.6, -0.6, 0.6, 0.6, 0, red, red)};
  // Edges are drawn over the coplanar fill, f * line_width framebuffer pixels wide, so that a
  // supersampled frame is the box-filtered frame of the big size.
  Image plain = expect(render(sim, 40, 40), "render");
  EXPECT_GT(count(plain, 0xFF000000), 50u);
  auto [ex, ey] = pixel_of(sim, 40, 40, {0.0, 0.6, 0});
  EXPECT_EQ(pixel(plain, ex, ey), 0xFF000000u);
  for (std::uint32_t f : {2u, 3u, 4u}) {  // resolved slice by slice, or after drawing for 3
    sim.view.supersample = 1;
    sim.view.line_width = 1.5 * f;
    Image big = expect(render(sim, 40 * f, 40 * f), "big");
    sim.view.supersample = f;
    sim.view.line_width = 1.5;
    EXPECT_EQ(expect(render(sim, 40, 40), "small"), expect(downsample(big, f), "downsample")) << f;
  }
  // Supersample 0 draws as 1.
  sim.view.supersample = 0;
  sim.view.line_width = 1;
  EXPECT_EQ(expect(render(sim, 40, 40), "zero"), plain);

  sim.view.show_pieces = false;
  Image edges_only = expect(render(sim, 40, 40), "edges");
  EXPECT_EQ(count(edges_only, red), 0u);
  EXPECT_EQ(count(edges_only, 0xFF000000), count(plain, 0xFF000000));
  sim.view.show_edges = false;
  Image none = expect(render(sim, 40, 40), "none");
  EXPECT_EQ(count(none, grey), 1600u);
}

TEST(Scene, PiecesTurnByTheirOrientationsAndScale) {
  Simulator sim = bare();
  sim.view.show_edges = false;
  sim.piece_meshes = {rectangle(0.1, -0.1, 0.6, 0.1, 0, red, red), rectangle(0.1, -0.1, 0.6, 0.1, 0, blue, blue)};
  // A quarter turn about z takes the first bar to the top; the second has no orientation and is
  // drawn as it is. Scale 0.5 halves both.
  const double h = std::sqrt(0.5);
  sim.orientations = {{0, 0, h, h}};
  sim.scale = 0.5;
  Image img = expect(render(sim, 64, 64), "render");
  auto [tx, ty] = pixel_of(sim, 64, 64, {0, 0.2, 0});
  auto [rx, ry] = pixel_of(sim, 64, 64, {0.2, 0, 0});
  auto [fx, fy] = pixel_of(sim, 64, 64, {0.5, 0, 0});
  EXPECT_EQ(pixel(img, tx, ty), red);
  EXPECT_EQ(pixel(img, rx, ry), blue);
  EXPECT_EQ(pixel(img, fx, fy), grey) << "beyond the scaled bar";
}

// A 1 x 1 square arrow mesh facing the eye; each arrow places it by a translation.
std::vector<Triangle3> square_arrow() {
  return {{{{-0.5, -0.5, 0}, {0.5, -0.5, 0}, {0.5, 0.5, 0}}}, {{{-0.5, -0.5, 0}, {0.5, 0.5, 0}, {-0.5, 0.5, 0}}}};
}

ArrowInstance arrow_at(double x, double y, double z, double size = 0.3) {
  ArrowInstance a;
  a.transform = {size, 0, 0, 0, 0, size, 0, 0, 0, 0, size, 0, x, y, z, 1};
  return a;
}

TEST(Scene, ArrowsBlendOverWithHighlightAndHideLaterOnes) {
  Simulator sim = bare();
  sim.arrow_mesh = square_arrow();
  sim.arrows = {arrow_at(-0.5, 0, 0), arrow_at(0.5, 0, 0), arrow_at(0.6, 0.1, 0.5)};
  sim.arrows[1].flag = 1;
  auto [idle, highlight] = arrow_colours(grey);
  EXPECT_EQ(idle, shade_to_rgba(1, 1, 1, 0.3));
  Image img = expect(render(sim, 64, 64), "render");
  auto at = [&](const Point3& p) { auto [x, y] = pixel_of(sim, 64, 64, p); return pixel(img, x, y); };
  EXPECT_EQ(at({-0.5, 0, 0}), blend_pixel<BlendMode::Over>(grey, idle));
  // The flagged arrow is drawn in the highlight after the idle ones; the idle arrow in front of it
  // wrote its depth first and so hides the part behind it.
  EXPECT_EQ(at({0.4, -0.1, 0}), blend_pixel<BlendMode::Over>(grey, highlight));
  EXPECT_EQ(at({0.6, 0.1, 0.5}), blend_pixel<BlendMode::Over>(grey, idle));
  sim.hovered_arrow = 0;
  sim.arrows[1].flag = 0;
  img = expect(render(sim, 64, 64), "hover");
  EXPECT_EQ(at({-0.5, 0, 0}), blend_pixel<BlendMode::Over>(grey, highlight));
  EXPECT_EQ(at({0.4, -0.1, 0}), blend_pixel<BlendMode::Over>(grey, idle));
  sim.view.show_arrows = false;
  EXPECT_EQ(count(expect(render(sim, 64, 64), "hidden"), grey), 64u * 64);

  // Brightness 128 still counts as dark; above it the arrows turn dark.
  EXPECT_EQ(arrow_colours(0xFF808080).first, idle);
  EXPECT_EQ(arrow_colours(0xFF818181).first >> 24, 115u);
}

TEST(Scene, DegenerateSizesAndCamerasDrawOnlyTheBackground) {
  Simulator sim = catalog_puzzle("Quenly's Cube (3x3x3)");
  sim.view.background = grey;
  Image flat = expect(render(sim, 30, 0), "height 0");
  EXPECT_EQ(flat.width, 30u);
  EXPECT_TRUE(flat.pixels.empty());
  EXPECT_TRUE(expect(render(sim, 0, 30), "width 0").pixels.empty());

  const double bad[] = {std::nan(""), std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity()};
  for (double v : bad) {
    for (int field = 0; field < 6; ++field) {
      Simulator s = sim;
      switch (field) {
        case 0: s.camera.fov = v; break;
        case 1: s.camera.position[1] = v; break;
        case 2: s.camera.target[0] = v; break;
        case 3: s.camera.up = {v, v, v}; break;
        case 4: s.camera.zoom = v; break;
        case 5: s.scale = v, s.view.show_arrows = false; break;  // arrows are placed unscaled
      }
      Image img = expect(render(s, 24, 24), "bad camera");
      EXPECT_EQ(count(img, grey), 24u * 24) << v << " in field " << field;
    }
    sim.view.line_width = v;  // outlines vanish, fills stay
    Image img = expect(render(sim, 24, 24), "bad line width");
    EXPECT_EQ(count(img, 0xFF000000), 0u);
    sim.view.line_width = 1;
  }

  sim.view.supersample = 3;
  auto huge = render(sim, 16384, 16384);
  ASSERT_FALSE(huge.has_value());
  EXPECT_EQ(huge.error().kind, ErrorKind::Range);
}

TEST(Scene, SameBytesForEveryThreadCount) {
  Simulator sim = catalog_puzzle("Megaminx");
  ViewOptions o;
  o.yaw = 30;
  o.pitch = 20;
  o.background = 0xFF302020;
  view_from_options(o, sim.view, sim.camera);
  sim.hovered_arrow = 3;
  Image first;
  for (int threads : {1, 2, 8}) {
    pool::Limit limit(threads);
    Image img = expect(render(sim, 200, 170), "render");
    if (threads == 1) {
      first = std::move(img);
      // Every visible colour is there: faces, black outlines, and arrows blended on the background.
      EXPECT_GT(count(first, 0xFF000000), 100u);
      EXPECT_GT(count(first, 0xFF302020), 200 * 170 / 3);
    } else {
      ASSERT_EQ(img, first) << threads << " threads";
    }
  }
}

TEST(Picking, ProjectedArrowPointsPickTheirArrow) {
  Simulator sim = catalog_puzzle("Quenly's Cube (3x3x3)");
  ASSERT_EQ(sim.arrows.size(), 12u);
  ASSERT_EQ(sim.arrow_mesh.size(), 112u);
  EXPECT_EQ(pick_ray(sim, 0, 0), std::nullopt) << "the centre ray passes only the puzzle";
  const std::vector<ArrowInstance> all = sim.arrows;
  double x = 0, y = 0;
  for (std::size_t a = 0; a < all.size(); ++a) {
    // The centroid of the first top triangle of the arrow solid, placed as drawn. Alone the arrow
    // is picked there; among all of them some arrow is, perhaps one in front of it.
    const Triangle3& t = sim.arrow_mesh[27];
    Point3 c{};
    for (int k = 0; k < 3; ++k) c[k] = (t[0][k] + t[1][k] + t[2][k]) / 3;
    std::tie(x, y) = project(mat4_mul(mat4_mul(projection_matrix(sim.camera, 1), look_at(sim.camera)), all[a].transform), c);
    sim.arrows = all;
    sim.view.show_pieces = false;
    EXPECT_TRUE(pick_ray(sim, x, y).has_value()) << a;
    sim.arrows = {all[a]};
    EXPECT_EQ(pick_ray(sim, x, y), 0u) << a;
    // The two arrows on the axis that points away from the eye are drawn behind the cube, and a
    // shown piece in front of an arrow hides it from the pointer too.
    sim.view.show_pieces = true;
    EXPECT_EQ(pick_ray(sim, x, y).has_value(), all[a].transform[14] > -1) << a;
  }
  // Over the last arrow: a broken camera or hidden arrows pick nothing.
  sim.camera.fov = std::nan("");
  EXPECT_EQ(pick_ray(sim, x, y), std::nullopt);
  sim.camera.fov = 15;
  sim.view.show_arrows = false;
  EXPECT_EQ(pick_ray(sim, x, y), std::nullopt);
}

// What each pixel centre of a width x height frame shows: arrow a as the word a, a piece as
// piece_word, nothing as the background word. Drawn as the scene draws (pieces, then arrows in
// order, each testing and writing depth) with one sample a pixel and no outlines.
constexpr std::uint32_t piece_word = 0xFFFFFFF0u, empty_word = 0xFFFFFFF1u;
Framebuffer drawn_ids(const Simulator& sim, std::uint32_t width, std::uint32_t height) {
  std::vector<DrawItem> items;
  std::vector<std::vector<std::uint32_t>> fills;
  for (const PieceMesh& m : sim.piece_meshes) fills.emplace_back(m.triangles.size(), piece_word);
  Simulator plain = sim;
  plain.view.show_edges = false;
  append_piece_items(items, plain, 1, fills, 0);
  std::vector<std::vector<std::uint32_t>> words;
  for (std::size_t a = 0; a < sim.arrows.size(); ++a) words.emplace_back(sim.arrow_mesh.size(), a);
  for (std::size_t a = 0; a < sim.arrows.size(); ++a) {
    DrawItem& arrow = items.emplace_back();
    arrow.matrix = sim.arrows[a].transform;
    arrow.triangles = sim.arrow_mesh;
    arrow.colours = words[a];
  }
  Framebuffer fb = expect(make_framebuffer(width, height, 1, empty_word), "framebuffer");
  RasterScratch scratch;
  rasterize(scratch, fb, items, frame_view_projection(sim.camera, width, height));
  return fb;
}

TEST(Picking, EveryPixelOfEveryFrameShapePicksTheArrowItShows) {
  Simulator sim = catalog_puzzle("Megaminx");
  ViewOptions o;
  o.yaw = 25;
  o.pitch = -30;
  view_from_options(o, sim.view, sim.camera);
  for (auto [w, h] : {std::pair{60u, 60u}, {90u, 45u}, {45u, 90u}}) {
    record_frame_aspect(sim.camera, w, h);
    const Framebuffer ids = drawn_ids(sim, w, h);
    std::size_t arrows = 0, hidden = 0;
    for (std::uint32_t py = 0; py < h; ++py)
      for (std::uint32_t px = 0; px < w; ++px) {
        const std::uint32_t id = ids.colour[py * w + px];
        const double x = (px + 0.5) / w * 2 - 1, y = 1 - (py + 0.5) / h * 2;
        const auto shown = id < sim.arrows.size() ? std::optional<std::uint64_t>(id) : std::nullopt;
        ASSERT_EQ(pick_ray(sim, x, y), shown) << w << "x" << h << " at " << px << "," << py;
        arrows += shown.has_value();
        if (id == piece_word) {
          Simulator no_pieces = sim;
          no_pieces.view.show_pieces = false;
          hidden += pick_ray(no_pieces, x, y).has_value();
        }
      }
    EXPECT_GT(arrows, w * h / 50) << w << "x" << h;
    EXPECT_GT(hidden, 10u) << "arrows behind the puzzle, picked only with the pieces hidden";
  }
  // A frame without pixels keeps the shape; before any frame it is square.
  record_frame_aspect(sim.camera, 0, 7);
  EXPECT_EQ(sim.camera.aspect, 0.5);
  EXPECT_EQ(Camera{}.aspect, 1.0);
}

TEST(Picking, NothingNearerThanTheNearPlaneIsPicked) {
  Simulator sim = bare();
  sim.arrow_mesh = square_arrow();
  sim.arrows = {arrow_at(0, 0, 11.95), arrow_at(0, 0, 11)};
  EXPECT_EQ(pick_ray(sim, 0, 0), 1u) << "the first arrow is 0.05 from the eye, closer than the near plane";
  Image img = expect(render(sim, 9, 9), "render");
  EXPECT_EQ(pixel(img, 4, 4), blend_pixel<BlendMode::Over>(grey, arrow_colours(grey).first));
}

TEST(Picking, NearestArrowWinsAndPickingAgreesWithTheSquareRender) {
  Simulator sim = bare();
  sim.arrow_mesh = square_arrow();
  sim.arrows = {arrow_at(0.05, 0.03, 0, 0.5), arrow_at(0.11, 0.07, 0.4, 0.5)};
  auto [x, y] = pointer_of(sim, {0.1, 0.1, 0.4});
  EXPECT_EQ(pick_ray(sim, x, y), 1u);
  std::swap(sim.arrows[0], sim.arrows[1]);
  EXPECT_EQ(pick_ray(sim, x, y), 0u);
  auto [fx, fy] = pointer_of(sim, {0.9, 0.9, 0});
  EXPECT_EQ(pick_ray(sim, fx, fy), std::nullopt);

  // On a square frame the pointer at a pixel's centre picks exactly where an arrow was drawn,
  // whatever the size the picture was rendered at and the camera's own aspect stays 1.
  sim.view.show_pieces = false;
  sim.camera.position = {1, 2, 9};
  const std::uint32_t n = 48;
  Image img = expect(render(sim, n, n), "render");
  for (std::uint32_t py = 0; py < n; ++py)
    for (std::uint32_t px = 0; px < n; ++px) {
      double nx = (px + 0.5) / n * 2 - 1, ny = 1 - (py + 0.5) / n * 2;
      ASSERT_EQ(pick_ray(sim, nx, ny).has_value(), pixel(img, px, py) != grey) << px << "," << py;
    }

  // A flat triangle is never hit.
  sim.arrow_mesh = {{{{0, 0, 0}, {0.5, 0.5, 0}, {1, 1, 0}}}};
  sim.arrows = {arrow_at(0, 0, 0, 1)};
  auto [dx, dy] = pointer_of(sim, {0.25, 0.25, 0});
  EXPECT_EQ(pick_ray(sim, dx, dy), std::nullopt);
}

}  // namespace
}  // namespace gy

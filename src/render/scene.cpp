#include "render/scene.hpp"

#include <cmath>
#include <cstring>
#include <limits>

#include "color.hpp"
#include "pool.hpp"
#include "simulator.hpp"

namespace gy {
namespace {

constexpr double kDegree = 0.017453292519943295;

Vec3d sub(const Vec3d& a, const Vec3d& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec3d cross(const Vec3d& a, const Vec3d& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double dot(const Vec3d& a, const Vec3d& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec3d normalized(const Vec3d& v) {
  double len = std::sqrt(dot(v, v));
  if (len == 0) return v;
  return {v[0] / len, v[1] / len, v[2] / len};
}
bool is_zero(const Vec3d& v) { return v[0] == 0 && v[1] == 0 && v[2] == 0; }

}  // namespace

ViewBackup view_from_options(const ViewOptions& o, ViewSettings& view, Camera& camera) {
  ViewBackup backup{view, camera};
  if (o.background) view.background = *o.background;
  if (o.supersample) view.supersample = *o.supersample == 0 ? 1 : *o.supersample;
  if (o.show_arrows != 2) view.show_arrows = o.show_arrows != 0;
  if (o.show_edges != 2) view.show_edges = o.show_edges != 0;
  if (o.show_pieces != 2) view.show_pieces = o.show_pieces != 0;
  if (o.line_width) view.line_width = *o.line_width;
  if (o.fov) camera.fov = *o.fov;
  if (o.yaw || o.pitch) {
    double d = o.distance ? *o.distance : std::sqrt(dot(camera.position, camera.position));
    double y = o.yaw.value_or(0.0) * kDegree, p = o.pitch.value_or(0.0) * kDegree;
    camera.position = {d * std::cos(p) * std::sin(y), d * std::sin(p), d * std::cos(p) * std::cos(y)};
    camera.up = {0, 1, 0};
  } else if (o.distance) {
    double l2 = dot(camera.position, camera.position);
    if (l2 != 0) {
      double s = *o.distance / std::sqrt(l2);
      for (double& c : camera.position) c *= s;
    }
  }
  return backup;
}

bool camera_is_finite(const Camera& camera) {
  bool finite = std::isfinite(camera.fov);
  for (const Vec3d* v : {&camera.position, &camera.target, &camera.up})
    for (double c : *v) finite = finite && std::isfinite(c);
  return finite;
}

Mat4 look_at(const Camera& camera) {
  Vec3d f = sub(camera.position, camera.target);
  if (dot(f, f) == 0) f = {0, 0, 1};
  f = normalized(f);
  Vec3d r = cross(camera.up, f);
  if (is_zero(r)) {
    if (std::fabs(camera.up[2]) == 1) f[0] += 0.0001; else f[2] += 0.0001;
    f = normalized(f);
    r = cross(camera.up, f);
  }
  r = normalized(r);
  Vec3d u = cross(f, r);
  const Vec3d& e = camera.position;
  Mat4 m{};
  // Rows r, u, f with translations; stored column-major.
  for (int c = 0; c < 3; ++c) {
    m[4 * c + 0] = r[c];
    m[4 * c + 1] = u[c];
    m[4 * c + 2] = f[c];
  }
  m[12] = -dot(r, e);
  m[13] = -dot(u, e);
  m[14] = -dot(f, e);
  m[15] = 1;
  return m;
}

Mat4 projection_matrix(const Camera& camera, double aspect) {
  double top = std::tan(camera.fov * kDegree * 0.5) * camera.near / camera.zoom;
  double bottom = -top, right = top * aspect, left = -right;
  double n = camera.near, f = camera.far;
  Mat4 m{};
  m[0] = 2 * n / (right - left);
  m[5] = 2 * n / (top - bottom);
  m[8] = (right + left) / (right - left);
  m[9] = (top + bottom) / (top - bottom);
  m[10] = -(f + n) / (f - n);
  m[14] = -2 * f * n / (f - n);
  m[11] = -1;
  return m;
}

Mat4 mat4_inverse(const Mat4& m) {
  Mat4 c{};
  c[0] = m[5] * m[10] * m[15] - m[5] * m[11] * m[14] - m[9] * m[6] * m[15] + m[9] * m[7] * m[14] +
         m[13] * m[6] * m[11] - m[13] * m[7] * m[10];
  c[4] = -m[4] * m[10] * m[15] + m[4] * m[11] * m[14] + m[8] * m[6] * m[15] - m[8] * m[7] * m[14] -
         m[12] * m[6] * m[11] + m[12] * m[7] * m[10];
  c[8] = m[4] * m[9] * m[15] - m[4] * m[11] * m[13] - m[8] * m[5] * m[15] + m[8] * m[7] * m[13] +
         m[12] * m[5] * m[11] - m[12] * m[7] * m[9];
  c[12] = -m[4] * m[9] * m[14] + m[4] * m[10] * m[13] + m[8] * m[5] * m[14] - m[8] * m[6] * m[13] -
          m[12] * m[5] * m[10] + m[12] * m[6] * m[9];
  c[1] = -m[1] * m[10] * m[15] + m[1] * m[11] * m[14] + m[9] * m[2] * m[15] - m[9] * m[3] * m[14] -
         m[13] * m[2] * m[11] + m[13] * m[3] * m[10];
  c[5] = m[0] * m[10] * m[15] - m[0] * m[11] * m[14] - m[8] * m[2] * m[15] + m[8] * m[3] * m[14] +
         m[12] * m[2] * m[11] - m[12] * m[3] * m[10];
  c[9] = -m[0] * m[9] * m[15] + m[0] * m[11] * m[13] + m[8] * m[1] * m[15] - m[8] * m[3] * m[13] -
         m[12] * m[1] * m[11] + m[12] * m[3] * m[9];
  c[13] = m[0] * m[9] * m[14] - m[0] * m[10] * m[13] - m[8] * m[1] * m[14] + m[8] * m[2] * m[13] +
          m[12] * m[1] * m[10] - m[12] * m[2] * m[9];
  c[2] = m[1] * m[6] * m[15] - m[1] * m[7] * m[14] - m[5] * m[2] * m[15] + m[5] * m[3] * m[14] +
         m[13] * m[2] * m[7] - m[13] * m[3] * m[6];
  c[6] = -m[0] * m[6] * m[15] + m[0] * m[7] * m[14] + m[4] * m[2] * m[15] - m[4] * m[3] * m[14] -
         m[12] * m[2] * m[7] + m[12] * m[3] * m[6];
  c[10] = m[0] * m[5] * m[15] - m[0] * m[7] * m[13] - m[4] * m[1] * m[15] + m[4] * m[3] * m[13] +
          m[12] * m[1] * m[7] - m[12] * m[3] * m[5];
  c[14] = -m[0] * m[5] * m[14] + m[0] * m[6] * m[13] + m[4] * m[1] * m[14] - m[4] * m[2] * m[13] -
          m[12] * m[1] * m[6] + m[12] * m[2] * m[5];
  c[3] = -m[1] * m[6] * m[11] + m[1] * m[7] * m[10] + m[5] * m[2] * m[11] - m[5] * m[3] * m[10] -
         m[9] * m[2] * m[7] + m[9] * m[3] * m[6];
  c[7] = m[0] * m[6] * m[11] - m[0] * m[7] * m[10] - m[4] * m[2] * m[11] + m[4] * m[3] * m[10] +
         m[8] * m[2] * m[7] - m[8] * m[3] * m[6];
  c[11] = -m[0] * m[5] * m[11] + m[0] * m[7] * m[9] + m[4] * m[1] * m[11] - m[4] * m[3] * m[9] -
          m[8] * m[1] * m[7] + m[8] * m[3] * m[5];
  c[15] = m[0] * m[5] * m[10] - m[0] * m[6] * m[9] - m[4] * m[1] * m[10] + m[4] * m[2] * m[9] +
          m[8] * m[1] * m[6] - m[8] * m[2] * m[5];
  double det = m[0] * c[0] + m[1] * c[4] + m[2] * c[8] + m[3] * c[12];
  if (det == 0.0) return Mat4{};
  double inv = 1.0 / det;
  for (double& v : c) v *= inv;
  return c;
}

// ---------------------------------------------------------------------------------------------
// The scene

namespace {

// Materials as the rasterizer's four bytes cull | blend << 8 | depth write << 16 | depth test << 24.
constexpr std::uint32_t fill_material = 0x01010000, outline_material = 0x01010002, arrow_material = 0x01010102;

void set_material(DrawItem& item, std::uint32_t word) {
  item.cull = static_cast<std::uint8_t>(word);
  item.blend = static_cast<std::uint8_t>(word >> 8);
  item.depth_write = static_cast<std::uint8_t>(word >> 16);
  item.depth_test = static_cast<std::uint8_t>(word >> 24);
}

}  // namespace

Mat4 frame_view_projection(const Camera& camera, std::uint32_t width, std::uint32_t height) {
  double aspect = height == 0 ? 1.0 : static_cast<double>(width) / static_cast<double>(height);
  return mat4_mul(projection_matrix(camera, aspect), look_at(camera));
}

Mat4 piece_matrix(const Simulator& sim, std::size_t i) {
  const Quat4 q = i < sim.orientations.size() ? sim.orientations[i] : quat4_identity;
  const double x = q[0], y = q[1], z = q[2], w = q[3], s = sim.scale;
  const double rows[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                             {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                             {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
  Mat4 m{};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m[4 * c + r] = s * rows[r][c];
  m[15] = 1;
  return m;
}

void append_piece_items(std::vector<DrawItem>& items, const Simulator& sim, std::uint32_t f,
                        std::span<const std::vector<std::uint32_t>> fill_words, std::uint32_t outline_word) {
  const ViewSettings& view = sim.view;
  for (std::size_t i = 0; i < sim.piece_meshes.size(); ++i) {
    const PieceMesh& mesh = sim.piece_meshes[i];
    const Mat4 m = piece_matrix(sim, i);
    if (view.show_pieces) {
      DrawItem& fill = items.emplace_back();
      fill.matrix = m;
      fill.triangles = mesh.triangles;
      fill.colours = fill_words.empty() ? std::span<const std::uint32_t>(mesh.colours)
                                        : std::span<const std::uint32_t>(fill_words[i]);
      set_material(fill, fill_material);
    }
    if (view.show_edges) {
      DrawItem& outline = items.emplace_back();
      outline.matrix = m;
      outline.segments = mesh.edges;
      outline.line_width = f * view.line_width;
      outline.line_colour = outline_word;
      outline.bias_kind = 1;
      outline.bias_factor = -1.0f;
      outline.bias_units = -4.0f;
      set_material(outline, outline_material);
    }
  }
}

std::pair<std::uint32_t, std::uint32_t> arrow_colours(std::uint32_t background) {
  const double r = background & 0xFF, g = (background >> 8) & 0xFF, b = (background >> 16) & 0xFF;
  if (0.299 * r + 0.587 * g + 0.114 * b <= 128)
    return {shade_to_rgba(1.0, 1.0, 1.0, 0.3), shade_to_rgba(1.0, 1.0, 0.6038273388475408, 0.9)};
  return {shade_to_rgba(0.012983032338510335, 0.02217388478862708, 0.04373502925049377, 0.45),
          shade_to_rgba(0.018500220124016652, 0.12477181755144427, 0.8307698767709715, 0.9)};
}

namespace {

// The working buffers of one render. Each thread keeps one set between renders, so that frames of
// a usual size reuse memory that is already mapped instead of faulting in fresh pages.
struct RenderScratch {
  Framebuffer fb;
  RasterScratch raster;
  std::vector<DrawItem> items;
  std::vector<std::uint32_t> idle, highlight;
};

// Frames up to this many framebuffer pixels (16 MiB of colours and depths) keep their buffers.
constexpr std::size_t retained_pixels = std::size_t{1} << 21;

thread_local RenderScratch kept_scratch;
// Made when a thread joins the pool: its first use registers its destructor, which allocates.
const pool::ThreadState kept_scratch_state{[] { (void)kept_scratch.fb; }};

}  // namespace

Result<Image> render(const Simulator& sim, std::uint32_t width, std::uint32_t height) {
  // Taken out for the call and put back after it, so a render nested on this thread (while it
  // waits for the pool) simply works with fresh buffers.
  RenderScratch s = std::move(kept_scratch);
  struct PutBack {
    RenderScratch& s;
    ~PutBack() {
      if (s.fb.colour.capacity() <= retained_pixels) kept_scratch = std::move(s);
    }
  } put_back{s};

  const ViewSettings& view = sim.view;
  const std::uint32_t f = view.supersample ? view.supersample : 1;
  GY_CHECK(resize_framebuffer(s.fb, width, height, f));

  s.items.clear();
  append_piece_items(s.items, sim, f, {}, 0xFF000000);
  if (view.show_arrows && !sim.arrows.empty()) {
    auto [idle_word, highlight_word] = arrow_colours(view.background);
    s.idle.assign(sim.arrow_mesh.size(), idle_word);
    s.highlight.assign(sim.arrow_mesh.size(), highlight_word);
    auto lit = [&](std::size_t a) { return sim.arrows[a].flag != 0 || sim.hovered_arrow == a; };
    // Idle arrows first, then the highlighted ones over them.
    for (bool second : {false, true})
      for (std::size_t a = 0; a < sim.arrows.size(); ++a) {
        if (lit(a) != second) continue;
        DrawItem& arrow = s.items.emplace_back();
        arrow.matrix = sim.arrows[a].transform;
        arrow.triangles = sim.arrow_mesh;
        arrow.colours = second ? s.highlight : s.idle;
        set_material(arrow, arrow_material);
      }
  }
  Image out;
  out.width = width;
  out.height = height;
  out.pixels.resize(std::size_t{width} * height * 4);

  // Each slice is cleared before it is drawn and, when whole blocks of f rows fit a slice,
  // resolved into the image right after, while it is still in cache.
  RasterPass pass;
  pass.clear = true;
  pass.clear_word = view.background;
  const bool fused = slice_rows % f == 0;
  if (fused) {
    pass.context = &out;
    pass.rows_done = [](void* context, const Framebuffer& fb, std::uint32_t r0, std::uint32_t r1) {
      Image& image = *static_cast<Image*>(context);
      const std::uint32_t f = fb.width / image.width;
      resolve_rows(reinterpret_cast<const std::uint8_t*>(fb.colour.data()), fb.width, f, r0 / f, r1 / f,
                   image.pixels.data());
    };
  }
  rasterize(s.raster, s.fb, s.items, frame_view_projection(sim.camera, width, height), pass);
  s.items.clear();
  if (!fused) resolve(s.fb, f, out.pixels);
  return out;
}

void record_frame_aspect(Camera& camera, std::uint32_t width, std::uint32_t height) {
  if (width != 0 && height != 0) camera.aspect = static_cast<double>(width) / static_cast<double>(height);
}

namespace {

// A ray from the eye, and what decides whether a point along it is drawn: the clip-space test of
// the near plane (z + w >= 0), as the rasterizer clips.
struct PickRay {
  Vec3d origin, direction;
  Mat4 view_projection;

  bool drawn(double t) const {
    const Mat4& m = view_projection;
    const Vec3d p{origin[0] + t * direction[0], origin[1] + t * direction[1], origin[2] + t * direction[2]};
    const double z = m[2] * p[0] + m[6] * p[1] + m[10] * p[2] + m[14];
    const double w = m[3] * p[0] + m[7] * p[1] + m[11] * p[2] + m[15];
    return z + w >= 0;
  }

  // The distance to the triangle (a, b, c) when the ray meets it (Moller-Trumbore), else none.
  // Without both_sides only a triangle wound counter-clockwise as seen along the ray is met.
  std::optional<double> meet(const Vec3d& a, const Vec3d& b, const Vec3d& c, bool both_sides) const {
    const Vec3d e1 = sub(b, a), e2 = sub(c, a), p = cross(direction, e2);
    const double det = dot(e1, p);
    if (!(both_sides ? std::fabs(det) >= 1e-12 : det >= 1e-12)) return std::nullopt;
    const Vec3d s = sub(origin, a);
    const double u = dot(s, p) / det;
    if (!(u >= 0 && u <= 1)) return std::nullopt;
    const Vec3d q = cross(s, e1);
    const double v = dot(direction, q) / det;
    if (!(v >= 0 && u + v <= 1)) return std::nullopt;
    const double t = dot(e2, q) / det;
    if (!(t > 1e-12)) return std::nullopt;
    return t;
  }

  // The nearest drawn meeting of the mesh placed by m, nearer than `limit`.
  std::optional<double> nearest(std::span<const Triangle3> mesh, const Mat4& m, bool both_sides,
                                double limit) const {
    auto place = [&](const Point3& p) -> Vec3d {
      return {m[0] * p[0] + m[4] * p[1] + m[8] * p[2] + m[12], m[1] * p[0] + m[5] * p[1] + m[9] * p[2] + m[13],
              m[2] * p[0] + m[6] * p[1] + m[10] * p[2] + m[14]};
    };
    std::optional<double> best;
    for (const Triangle3& tri : mesh) {
      const std::optional<double> t = meet(place(tri[0]), place(tri[1]), place(tri[2]), both_sides);
      if (t && *t < limit && (!best || *t < *best) && drawn(*t)) best = t;
    }
    return best;
  }
};

}  // namespace

std::optional<std::uint64_t> pick_ray(const Simulator& sim, double x, double y) {
  if (!sim.view.show_arrows) return std::nullopt;
  const Camera& camera = sim.camera;
  const Mat4 projection = projection_matrix(camera, camera.aspect), view = look_at(camera);
  const Mat4 p_inv = mat4_inverse(projection);
  const Mat4 v_inv = mat4_inverse(view);
  auto apply = [](const Mat4& m, const std::array<double, 4>& v) {
    std::array<double, 4> out{};
    for (int r = 0; r < 4; ++r) out[r] = m[r] * v[0] + m[4 + r] * v[1] + m[8 + r] * v[2] + m[12 + r] * v[3];
    return out;
  };
  std::array<double, 4> eye_space = apply(p_inv, {x, y, 0.5, 1.0});
  for (int k = 0; k < 3; ++k) eye_space[k] /= eye_space[3];
  std::array<double, 4> world = apply(v_inv, {eye_space[0], eye_space[1], eye_space[2], 1.0});
  const Vec3d W{world[0] / world[3], world[1] / world[3], world[2] / world[3]};
  const PickRay ray{camera.position, normalized(sub(W, camera.position)), mat4_mul(projection, view)};

  if (sim.arrows.empty() || sim.arrow_mesh.empty()) return std::nullopt;
  constexpr double unlimited = std::numeric_limits<double>::infinity();
  std::optional<std::uint64_t> best;
  double best_t = unlimited;
  for (std::size_t a = 0; a < sim.arrows.size(); ++a)
    if (auto t = ray.nearest(sim.arrow_mesh, sim.arrows[a].transform, true, best_t)) best = a, best_t = *t;
  // Hidden behind a piece: pieces are drawn first, and an arrow only where it is strictly nearer.
  if (best && sim.view.show_pieces) {
    const double limit = std::nextafter(best_t, unlimited);
    for (std::size_t i = 0; i < sim.piece_meshes.size(); ++i)
      if (ray.nearest(sim.piece_meshes[i].triangles, piece_matrix(sim, i), false, limit)) return std::nullopt;
  }
  return best;
}

}  // namespace gy

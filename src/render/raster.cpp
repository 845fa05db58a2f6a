#include "render/raster.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "pool.hpp"
#include "render/framebuffer.hpp"

namespace gy {

static_assert(std::endian::native == std::endian::little, "colour words are stored little-endian");

namespace {

constexpr double min_w = 1e-9;

struct Clip {
  double x, y, z, w;
};

Clip transform(const Mat4& m, const Point3& p) {
  return {m[0] * p[0] + m[4] * p[1] + m[8] * p[2] + m[12], m[1] * p[0] + m[5] * p[1] + m[9] * p[2] + m[13],
          m[2] * p[0] + m[6] * p[1] + m[10] * p[2] + m[14], m[3] * p[0] + m[7] * p[1] + m[11] * p[2] + m[15]};
}

using Screen = std::array<double, 3>;

struct Setup {
  double width, height;

  Screen map(const Clip& c, double w) const {
    return {(c.x / w + 1) * 0.5 * width, (1 - c.y / w) * 0.5 * height, (c.z / w + 1) * 0.5};
  }
};

double winding(const Screen& a, const Screen& b, const Screen& c) {
  return (c[1] - a[1]) * (b[0] - a[0]) - (c[0] - a[0]) * (b[1] - a[1]);
}

bool finite(const Screen& s) { return std::isfinite(s[0]) && std::isfinite(s[1]) && std::isfinite(s[2]); }

// Appends the triangle when it has area and finite corners and touches the W x H frame.
void emit(std::vector<ScreenTriangle>& out, const Screen& a, const Screen& b, const Screen& c, std::uint32_t colour,
          std::uint32_t item, const RasterMaterial& material, std::uint32_t W, std::uint32_t H) {
  if (!finite(a) || !finite(b) || !finite(c)) return;
  double area = (b[0] - a[0]) * (c[1] - a[1]) - (c[0] - a[0]) * (b[1] - a[1]);
  if (area == 0) return;
  double min_x = std::min({a[0], b[0], c[0]}), max_x = std::max({a[0], b[0], c[0]});
  double min_y = std::min({a[1], b[1], c[1]}), max_y = std::max({a[1], b[1], c[1]});
  // Off the frame when no pixel centre (x + 0.5, y + 0.5) can lie within the bounds.
  if (max_x < 0.5 || max_y < 0.5 || min_x > W - 0.5 || min_y > H - 0.5) return;
  ScreenTriangle t{{a, b, c}, colour, item, area, 0.0, 0, 0, 0, 0, 0};
  t.x_lo = saturating_cast<std::uint32_t>(std::floor(min_x));
  t.x_hi = std::min(saturating_cast<std::uint32_t>(std::ceil(max_x)), W - 1);
  t.y_lo = saturating_cast<std::uint32_t>(std::floor(min_y));
  t.y_hi = std::min(saturating_cast<std::uint32_t>(std::ceil(max_y)), H - 1);
  if (t.x_lo > t.x_hi || t.y_lo > t.y_hi) return;
  if (material.bias_kind == 1) {
    double slope = 0;
    if (std::abs(area) >= 1e-6) {
      double dzdx = ((c[1] - a[1]) * (b[2] - a[2]) - (b[1] - a[1]) * (c[2] - a[2])) / area;
      double dzdy = ((b[0] - a[0]) * (c[2] - a[2]) - (c[0] - a[0]) * (b[2] - a[2])) / area;
      slope = std::fmin(std::fmax(std::abs(dzdx), std::abs(dzdy)), 1e-5);
    }
    t.bias = double{material.bias_factor} * slope + double{material.bias_units} * 1e-6;
  }
  unsigned mode = material.blend == 1 || material.blend == 2 ? material.blend : 0;
  t.kernel = static_cast<std::uint8_t>(mode | (material.depth_test ? 4 : 0) | (material.depth_write ? 8 : 0));
  out.push_back(t);
}

// One edge of a triangle on one row: its value at column x_lo + k is c + k * step.
struct EdgeRow {
  double c, step;
};

template <BlendMode Mode, bool Test, bool Write>
void fill_rows(const ScreenTriangle& t, std::uint32_t y0, std::uint32_t y1, Framebuffer& fb) {
  // With the sign of the area folded into the edge values, a covered pixel has all three >= 0.
  double sign = t.area > 0 ? 1.0 : -1.0;
  double inv_area = 1.0 / (sign * t.area);
  const Screen &v0 = t.corners[0], &v1 = t.corners[1], &v2 = t.corners[2];
  // Edge j runs from base[j] along dir[j]; its value at p is (py - by) dx - (px - bx) dy.
  const Screen* base[3] = {&v1, &v2, &v0};
  const double dir[3][2] = {{v2[0] - v1[0], v2[1] - v1[1]}, {v0[0] - v2[0], v0[1] - v2[1]}, {v1[0] - v0[0], v1[1] - v0[1]}};
  const double d0 = v0[2], d1 = v1[2], d2 = v2[2];
  const double px0 = t.x_lo + 0.5;
  const double last = static_cast<double>(t.x_hi - t.x_lo);
  for (std::uint32_t y = y0; y <= y1; ++y) {
    double py = y + 0.5;
    EdgeRow e[3];
    double k_lo = 0, k_hi = last;
    for (int j = 0; j < 3; ++j) {
      e[j].c = sign * ((py - (*base[j])[1]) * dir[j][0] - (px0 - (*base[j])[0]) * dir[j][1]);
      e[j].step = -sign * dir[j][1];
      // The columns where this edge's value is >= 0, widened by two for rounding; the exact test
      // below decides.
      if (e[j].step > 0) {
        k_lo = std::fmax(k_lo, std::floor(-e[j].c / e[j].step) - 2);
      } else if (e[j].step < 0) {
        k_hi = std::fmin(k_hi, std::ceil(-e[j].c / e[j].step) + 2);
      } else if (e[j].c < 0) {
        k_hi = -1;
      }
    }
    if (!(k_lo <= k_hi)) continue;
    std::uint64_t row = std::uint64_t{y} * fb.width + t.x_lo;
    std::uint32_t* colour = fb.colour.data() + row;
    float* depth = fb.depth.data() + row;
    auto k_end = static_cast<std::uint32_t>(k_hi);
    for (auto k = static_cast<std::uint32_t>(k_lo); k <= k_end; ++k) {
      double kd = k;
      double e0 = e[0].c + kd * e[0].step, e1 = e[1].c + kd * e[1].step, e2 = e[2].c + kd * e[2].step;
      if (!(e0 >= 0 && e1 >= 0 && e2 >= 0)) continue;
      auto z = static_cast<float>((e0 * d0 + e1 * d1 + e2 * d2) * inv_area + t.bias);
      if constexpr (Test) {
        if (!(z < depth[k])) continue;
      }
      if constexpr (Write) depth[k] = z;
      colour[k] = blend_pixel<Mode>(colour[k], t.colour);
    }
  }
}

using FillFn = void (*)(const ScreenTriangle&, std::uint32_t, std::uint32_t, Framebuffer&);

template <std::size_t... I>
constexpr std::array<FillFn, 16> fill_table(std::index_sequence<I...>) {
  return {&fill_rows<static_cast<BlendMode>(std::min<std::size_t>(I & 3, 2)), (I & 4) != 0, (I & 8) != 0>...};
}

constexpr std::array<FillFn, 16> fill_fns = fill_table(std::make_index_sequence<16>{});

}  // namespace

Result<Framebuffer> make_framebuffer(std::uint32_t width, std::uint32_t height, std::uint32_t supersample,
                                     std::uint32_t fill) {
  std::uint64_t f = supersample ? supersample : 1;
  std::uint64_t fw = f * width, fh = f * height;
  constexpr std::uint64_t u32_max = 0xFFFFFFFFu;
  if (fw > u32_max || fh > u32_max || fw * fh > max_pixels)
    return fail(ErrorKind::Range, cat("frame of ", width, "x", height, " at supersample ", f,
                                      " exceeds the limit of ", max_pixels, " pixels"));
  std::size_t n = fw * fh;
  return Framebuffer{std::vector<std::uint32_t>(n, fill), std::vector<float>(n, std::numeric_limits<float>::infinity()),
                     static_cast<std::uint32_t>(fw), static_cast<std::uint32_t>(fh)};
}

void rasterize(RasterScratch& scratch, Framebuffer& fb, std::span<const DrawItem> items, const Mat4& vp) {
  scratch.materials.clear();
  scratch.triangles.clear();
  for (auto& bin : scratch.bins) bin.clear();
  const std::uint32_t W = fb.width, H = fb.height;
  if (items.empty() || W == 0 || H == 0) return;
  if (fb.colour.size() != std::uint64_t{W} * H || fb.depth.size() != fb.colour.size())
    panic("a framebuffer holds one colour and one depth per pixel");

  const Setup setup{static_cast<double>(W), static_cast<double>(H)};

  for (std::uint32_t i = 0; i < items.size(); ++i) {
    const DrawItem& item = items[i];
    const RasterMaterial& material = scratch.materials.emplace_back(
        RasterMaterial{item.bias_kind, item.bias_factor, item.bias_units, item.depth_write, item.depth_test, item.blend});
    auto emit = [&](const Screen& a, const Screen& b, const Screen& c, std::uint32_t colour) {
      gy::emit(scratch.triangles, a, b, c, colour, i, material, W, H);
    };
    const Mat4 m = mat4_mul(vp, item.matrix);
    auto keep = [&](double wind) {
      return item.cull == 0 ? wind < 0 : item.cull == 1 ? wind > 0 : wind != 0;
    };
    for (std::size_t t = 0; t < item.triangles.size(); ++t) {
      const Triangle3& tri = item.triangles[t];
      std::uint32_t colour = t < item.colours.size() ? item.colours[t] : 0xFFFFFFFFu;
      Clip c[3] = {transform(m, tri[0]), transform(m, tri[1]), transform(m, tri[2])};
      auto inside = [](const Clip& p) { return p.z + p.w >= 0; };
      if (c[0].w > min_w && c[1].w > min_w && c[2].w > min_w && inside(c[0]) && inside(c[1]) && inside(c[2])) {
        Screen s0 = setup.map(c[0], c[0].w), s1 = setup.map(c[1], c[1].w), s2 = setup.map(c[2], c[2].w);
        if (keep(winding(s0, s1, s2))) emit(s0, s1, s2, colour);
        continue;
      }
      if (!inside(c[0]) && !inside(c[1]) && !inside(c[2])) continue;
      // Clip against the near plane z + w = 0.
      Clip poly[4];
      int n = 0;
      for (int k = 0; k < 3; ++k) {
        const Clip &a = c[k], &b = c[(k + 1) % 3];
        double da = a.z + a.w, db = b.z + b.w;
        if (da >= 0 && n < 4) poly[n++] = a;
        if ((da >= 0) != (db >= 0) && n < 4) {
          double s = da / (da - db);
          poly[n++] = {a.x + (b.x - a.x) * s, a.y + (b.y - a.y) * s, a.z + (b.z - a.z) * s, a.w + (b.w - a.w) * s};
        }
      }
      if (n < 3) continue;
      Screen s[4];
      for (int k = 0; k < n; ++k) s[k] = setup.map(poly[k], poly[k].w <= min_w ? min_w : poly[k].w);
      for (int k = 2; k < n; ++k)
        if (keep(winding(s[0], s[k - 1], s[k]))) emit(s[0], s[k - 1], s[k], colour);
    }
    for (const Segment3& seg : item.segments) {
      Clip p0 = transform(m, seg[0]), p1 = transform(m, seg[1]);
      if (!(p0.w > min_w && p1.w > min_w)) continue;
      Screen s0 = setup.map(p0, p0.w), s1 = setup.map(p1, p1.w);
      double dx = s1[0] - s0[0], dy = s1[1] - s0[1];
      double length = std::sqrt(dx * dx + dy * dy);
      if (!(length >= 1e-12)) continue;
      double k = item.line_width * 0.5 / length;
      double ox = -dy * k, oy = dx * k;
      Screen a{s0[0] + ox, s0[1] + oy, s0[2]}, b{s0[0] - ox, s0[1] - oy, s0[2]};
      Screen cc{s1[0] - ox, s1[1] - oy, s1[2]}, d{s1[0] + ox, s1[1] + oy, s1[2]};
      if (winding(a, b, cc) != 0) emit(a, b, cc, item.line_colour);
      if (winding(a, cc, d) != 0) emit(a, cc, d, item.line_colour);
    }
  }

  // Bin by bands of rows, in drawing order.
  const std::uint32_t bands = (H + band_rows - 1) / band_rows;
  scratch.bins.resize(bands);
  for (std::uint32_t p = 0; p < scratch.triangles.size(); ++p)
    for (std::uint32_t b = scratch.triangles[p].y_lo / band_rows; b <= scratch.triangles[p].y_hi / band_rows; ++b)
      scratch.bins[b].push_back(p);

  pool::for_each_index(bands, 1, [&](std::size_t b) {
    auto r0 = static_cast<std::uint32_t>(b * band_rows);
    std::uint32_t r1 = std::min(H, r0 + band_rows) - 1;
    for (std::uint32_t p : scratch.bins[b]) {
      const ScreenTriangle& t = scratch.triangles[p];
      std::uint32_t y0 = std::max(t.y_lo, r0), y1 = std::min(t.y_hi, r1);
      if (y0 <= y1) fill_fns[t.kernel](t, y0, y1, fb);
    }
  });
}

void resolve(std::span<const std::uint8_t> source, std::uint32_t source_width, std::uint32_t source_height,
             std::uint32_t f, std::span<std::uint8_t> out) {
  if (f == 0) panic("the resolve factor is at least 1");
  const std::uint32_t W = source_width / f, H = source_height / f;
  if (source.size() != std::uint64_t{source_width} * source_height * 4) panic("a source frame is this many bytes");
  if (out.size() != std::uint64_t{W} * 4 * H) panic("a resolved frame is this many bytes");
  if (W == 0 || H == 0) return;
  const std::uint64_t src_row = std::uint64_t{source_width} * 4;
  // Sums are 64-bit: f * f * 255 exceeds 32 bits from f = 4105 on.
  const std::uint64_t n = std::uint64_t{f} * f, half = n / 2;
  const std::size_t grain = std::max<std::uint64_t>(1, 65536 / (std::uint64_t{W} * n));
  pool::for_ranges(H, grain, [&](std::size_t lo, std::size_t hi) {
    for (std::size_t Y = lo; Y < hi; ++Y) {
      const std::uint8_t* top = source.data() + Y * f * src_row;
      std::uint8_t* o = out.data() + Y * W * 4;
      if (f == 2) {
        const std::uint8_t* bottom = top + src_row;
        for (std::size_t i = 0; i < std::size_t{W} * 4; ++i) {
          std::size_t s = (i & ~std::size_t{3}) * 2 + (i & 3);
          unsigned sum = top[s] + top[s + 4] + bottom[s] + bottom[s + 4];
          o[i] = static_cast<std::uint8_t>((sum + 2) >> 2);
        }
        continue;
      }
      for (std::uint32_t X = 0; X < W; ++X) {
        std::uint64_t sum[4] = {0, 0, 0, 0};
        for (std::uint32_t j = 0; j < f; ++j) {
          const std::uint8_t* p = top + j * src_row + std::uint64_t{X} * f * 4;
          for (std::uint32_t i = 0; i < f; ++i, p += 4)
            for (int c = 0; c < 4; ++c) sum[c] += p[c];
        }
        for (int c = 0; c < 4; ++c) o[X * 4 + c] = static_cast<std::uint8_t>((sum[c] + half) / n);
      }
    }
  });
}

}  // namespace gy

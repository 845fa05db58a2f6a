#include "render/raster.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "num/interrupt.hpp"
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

// One edge of a triangle on one row: its value at pixel centre px is r - (px - bx) * dy.
struct EdgeRow {
  double r, bx, dy;
};

// What the row loops need of a triangle: its edges and depths, with the sign of the area folded
// in so that a covered pixel has all three edge values >= 0.
//
// Each edge is evaluated from its lower endpoint (by y, then x) whichever triangle it belongs to,
// so two triangles sharing an edge compute exactly opposite values at every pixel centre: a centre
// on the shared edge is covered by both, any other by exactly one, and the seam has no holes.
struct Edges {
  double inv_area, bias;
  double bx[3], by[3], dx[3], dy[3];  // lower endpoint and direction, times the folded sign
  double inv_step[3];                  // 1 / -dy, for the row ranges
  double d0, d1, d2;
  double px0, last;

  explicit Edges(const ScreenTriangle& t) {
    const Screen &v0 = t.corners[0], &v1 = t.corners[1], &v2 = t.corners[2];
    const double sign = t.area > 0 ? 1.0 : -1.0;
    inv_area = 1.0 / (sign * t.area);
    bias = t.bias;
    // Edge j runs from b[j] to e[j]; its value at p is (py - by) dx - (px - bx) dy.
    const Screen* b[3] = {&v1, &v2, &v0};
    const Screen* e[3] = {&v2, &v0, &v1};
    for (int j = 0; j < 3; ++j) {
      const Screen &p = *b[j], &q = *e[j];
      const bool swap = q[1] < p[1] || (q[1] == p[1] && q[0] < p[0]);
      const Screen &lo = swap ? q : p, &hi = swap ? p : q;
      const double s = swap ? -sign : sign;
      bx[j] = lo[0], by[j] = lo[1];
      dx[j] = s * (hi[0] - lo[0]), dy[j] = s * (hi[1] - lo[1]);
      inv_step[j] = dy[j] != 0 ? -1.0 / dy[j] : 0.0;
    }
    d0 = v0[2], d1 = v1[2], d2 = v2[2];
    px0 = t.x_lo + 0.5;
    last = static_cast<double>(t.x_hi - t.x_lo);
  }

  // The edges of row y and the columns [k0, k1] (relative to x_lo) that may be covered; false
  // when none can. The range is widened by two columns for rounding (of the values and of the
  // reciprocal steps); the exact per-pixel test decides. A reciprocal that overflows gives an
  // infinite or NaN bound, which either skips a row no pixel of which is covered or leaves the
  // range as wide as the box.
  [[gnu::always_inline]] bool row(std::uint32_t y, EdgeRow (&e)[3], std::uint32_t& k0, std::uint32_t& k1) const {
    double py = y + 0.5, k_lo = 0, k_hi = last;
    for (int j = 0; j < 3; ++j) {
      e[j] = {(py - by[j]) * dx[j], bx[j], dy[j]};
      // Along the row the value is about c + k * step.
      const double c = e[j].r - (px0 - bx[j]) * dy[j], step = -dy[j];
      if (step > 0) {
        double q = std::floor(-c * inv_step[j]) - 2;
        if (q > k_lo) k_lo = q;
      } else if (step < 0) {
        double q = std::ceil(-c * inv_step[j]) + 2;
        if (q < k_hi) k_hi = q;
      } else if (!(c >= 0)) {
        return false;
      }
    }
    if (!(k_lo <= k_hi)) return false;
    k0 = static_cast<std::uint32_t>(k_lo);
    k1 = static_cast<std::uint32_t>(k_hi);
    return true;
  }

  [[gnu::always_inline]] float depth(double e0, double e1, double e2) const {
    return static_cast<float>((e0 * d0 + e1 * d1 + e2 * d2) * inv_area + bias);
  }
};

template <BlendMode Mode, bool Test, bool Write>
[[gnu::always_inline]] inline void fill_pixels(const Edges& g, const EdgeRow (&e)[3], std::uint32_t k, std::uint32_t k_end,
                                               std::uint32_t word, std::uint32_t* colour, float* depth) {
  for (; k <= k_end; ++k) {
    const double px = g.px0 + k;
    double e0 = e[0].r - (px - e[0].bx) * e[0].dy, e1 = e[1].r - (px - e[1].bx) * e[1].dy,
           e2 = e[2].r - (px - e[2].bx) * e[2].dy;
    if (!(e0 >= 0 && e1 >= 0 && e2 >= 0)) continue;
    float z = g.depth(e0, e1, e2);
    if constexpr (Test) {
      if (!(z < depth[k])) continue;
    }
    if constexpr (Write) depth[k] = z;
    colour[k] = blend_pixel<Mode>(colour[k], word);
  }
}

template <BlendMode Mode, bool Test, bool Write>
void fill_rows(const ScreenTriangle& t, std::uint32_t y0, std::uint32_t y1, Framebuffer& fb) {
  const Edges g(t);
  for (std::uint32_t y = y0; y <= y1; ++y) {
    EdgeRow e[3];
    std::uint32_t k0, k1;
    if (!g.row(y, e, k0, k1)) continue;
    std::uint64_t row = std::uint64_t{y} * fb.width + t.x_lo;
    fill_pixels<Mode, Test, Write>(g, e, k0, k1, t.colour, fb.colour.data() + row, fb.depth.data() + row);
  }
}

#if defined(__x86_64__)
// blend_pixel<Over> of one colour into four pixels at once, in 16-bit lanes: each channel is
// div255(s * a + d * (255 - a)), with 255 in place of the source alpha for the alpha channel, which
// is the same rule (also at a = 0 and a = 255, where it gives d and s exactly).
struct OverBlend {
  __m128i sa, inv, bias = _mm_set1_epi16(127);

  explicit OverBlend(std::uint32_t s) {
    const std::uint32_t a = s >> 24;
    std::int16_t lanes[8];
    for (int c = 0; c < 4; ++c) {
      std::uint32_t channel = c == 3 ? 255 : (s >> (8 * c)) & 0xFF;
      lanes[c] = lanes[c + 4] = static_cast<std::int16_t>(channel * a);
    }
    sa = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes));
    inv = _mm_set1_epi16(static_cast<std::int16_t>(255 - a));
  }

  __m128i div255(__m128i v) const {
    __m128i t = _mm_add_epi16(v, bias);
    return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
  }

  __m128i blend(__m128i d) const {
    const __m128i zero = _mm_setzero_si128();
    __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(d, zero), inv), sa);
    __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(d, zero), inv), sa);
    return _mm_packus_epi16(div255(lo), div255(hi));
  }
};

// Four columns at a time with the same operations as the scalar loop (separate multiplies and
// adds, no fused ones), so both give the same bits.
template <BlendMode Mode, bool Test, bool Write>
[[gnu::target("avx2")]] void fill_rows_avx2(const ScreenTriangle& t, std::uint32_t y0, std::uint32_t y1,
                                            Framebuffer& fb) {
  const Edges g(t);
  const __m256d lanes = _mm256_set_pd(3, 2, 1, 0), zero = _mm256_setzero_pd();
  const __m256d d0 = _mm256_set1_pd(g.d0), d1 = _mm256_set1_pd(g.d1), d2 = _mm256_set1_pd(g.d2);
  const __m256d inv = _mm256_set1_pd(g.inv_area), bias = _mm256_set1_pd(g.bias);
  const __m128i word = _mm_set1_epi32(static_cast<int>(t.colour));
  const OverBlend over(t.colour);
  for (std::uint32_t y = y0; y <= y1; ++y) {
    EdgeRow e[3];
    std::uint32_t k, k1;
    if (!g.row(y, e, k, k1)) continue;
    std::uint64_t row = std::uint64_t{y} * fb.width + t.x_lo;
    std::uint32_t* colour = fb.colour.data() + row;
    float* depth = fb.depth.data() + row;
    const __m256d r0 = _mm256_set1_pd(e[0].r), r1 = _mm256_set1_pd(e[1].r), r2 = _mm256_set1_pd(e[2].r);
    const __m256d b0 = _mm256_set1_pd(e[0].bx), b1 = _mm256_set1_pd(e[1].bx), b2 = _mm256_set1_pd(e[2].bx);
    const __m256d s0 = _mm256_set1_pd(e[0].dy), s1 = _mm256_set1_pd(e[1].dy), s2 = _mm256_set1_pd(e[2].dy);
    // The last group may reach past k1 (and past the row); its extra lanes are masked off, and
    // masked loads and stores do not touch them.
    const __m256d px_last = _mm256_set1_pd(g.px0 + k1);
    for (; k <= k1; k += 4) {
      __m256d px = _mm256_add_pd(_mm256_set1_pd(g.px0 + k), lanes);
      __m256d e0 = _mm256_sub_pd(r0, _mm256_mul_pd(_mm256_sub_pd(px, b0), s0));
      __m256d e1 = _mm256_sub_pd(r1, _mm256_mul_pd(_mm256_sub_pd(px, b1), s1));
      __m256d e2 = _mm256_sub_pd(r2, _mm256_mul_pd(_mm256_sub_pd(px, b2), s2));
      __m256d in = _mm256_and_pd(_mm256_and_pd(_mm256_cmp_pd(e0, zero, _CMP_GE_OQ), _mm256_cmp_pd(e1, zero, _CMP_GE_OQ)),
                                 _mm256_and_pd(_mm256_cmp_pd(e2, zero, _CMP_GE_OQ), _mm256_cmp_pd(px, px_last, _CMP_LE_OQ)));
      if (_mm256_movemask_pd(in) == 0) continue;
      __m256d sum = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(e0, d0), _mm256_mul_pd(e1, d1)), _mm256_mul_pd(e2, d2));
      __m128 z = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(sum, inv), bias));
      // The 64-bit lane masks narrowed to 32 bits.
      __m128 mask = _mm_castsi128_ps(_mm256_castsi256_si128(
          _mm256_permutevar8x32_epi32(_mm256_castpd_si256(in), _mm256_set_epi32(7, 7, 7, 7, 6, 4, 2, 0))));
      if constexpr (Test)
        mask = _mm_and_ps(mask, _mm_cmp_ps(z, _mm_maskload_ps(depth + k, _mm_castps_si128(mask)), _CMP_LT_OQ));
      int bits = _mm_movemask_ps(mask);
      if (bits == 0) continue;
      if constexpr (Write) _mm_maskstore_ps(depth + k, _mm_castps_si128(mask), z);
      if constexpr (Mode == BlendMode::Copy) {
        _mm_maskstore_epi32(reinterpret_cast<int*>(colour + k), _mm_castps_si128(mask), word);
      } else if constexpr (Mode == BlendMode::Over) {
        __m128i d = _mm_maskload_epi32(reinterpret_cast<const int*>(colour + k), _mm_castps_si128(mask));
        _mm_maskstore_epi32(reinterpret_cast<int*>(colour + k), _mm_castps_si128(mask), over.blend(d));
      } else {
        for (int i = 0; i < 4; ++i)
          if (bits >> i & 1) colour[k + i] = blend_pixel<Mode>(colour[k + i], t.colour);
      }
    }
  }
}
#endif

using FillFn = void (*)(const ScreenTriangle&, std::uint32_t, std::uint32_t, Framebuffer&);

template <std::size_t... I>
constexpr std::array<FillFn, 16> scalar_table(std::index_sequence<I...>) {
  return {&fill_rows<static_cast<BlendMode>(std::min<std::size_t>(I & 3, 2)), (I & 4) != 0, (I & 8) != 0>...};
}

#if defined(__x86_64__)
template <std::size_t... I>
constexpr std::array<FillFn, 16> avx2_table(std::index_sequence<I...>) {
  return {&fill_rows_avx2<static_cast<BlendMode>(std::min<std::size_t>(I & 3, 2)), (I & 4) != 0, (I & 8) != 0>...};
}
#endif

// The row kernels for this processor, indexed by ScreenTriangle::kernel.
const std::array<FillFn, 16>& fill_fns() {
  static const std::array<FillFn, 16> table = [] {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2"))
      return avx2_table(std::make_index_sequence<16>{});
#endif
    return scalar_table(std::make_index_sequence<16>{});
  }();
  return table;
}

// Clips, maps and culls the triangles of item i, then its segment quads, appending them to out.
void setup_item(std::vector<ScreenTriangle>& out, const DrawItem& item, std::uint32_t i, const RasterMaterial& material,
                const Mat4& vp, std::uint32_t W, std::uint32_t H) {
  const Setup setup{static_cast<double>(W), static_cast<double>(H)};
  auto emit = [&](const Screen& a, const Screen& b, const Screen& c, std::uint32_t colour) {
    gy::emit(out, a, b, c, colour, i, material, W, H);
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

// One output row at f = 2 from two source rows of 2 * W pixels: each channel the rounded mean
// (sum + 2) / 4 of its 2 x 2 block.
void resolve_row_2(const std::uint8_t* top, const std::uint8_t* bottom, std::uint32_t W, std::uint8_t* o) {
  std::uint32_t X = 0;
#if defined(__SSE2__)
  // Two output pixels at a time: channels widened to 16 bits, rows added, neighbours added.
  const __m128i zero = _mm_setzero_si128(), two = _mm_set1_epi16(2);
  for (; X + 2 <= W; X += 2) {
    __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + X * 8));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + X * 8));
    __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(t, zero), _mm_unpacklo_epi8(b, zero));  // pixels 0, 1
    __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(t, zero), _mm_unpackhi_epi8(b, zero));  // pixels 2, 3
    // Sum each pair of neighbouring pixels: lanes 0-3 + 4-7.
    __m128i pair_lo = _mm_add_epi16(lo, _mm_srli_si128(lo, 8));
    __m128i pair_hi = _mm_add_epi16(hi, _mm_srli_si128(hi, 8));
    __m128i sums = _mm_unpacklo_epi64(pair_lo, pair_hi);
    __m128i mean = _mm_srli_epi16(_mm_add_epi16(sums, two), 2);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(o + X * 4), _mm_packus_epi16(mean, zero));
  }
#endif
  for (; X < W; ++X)
    for (int c = 0; c < 4; ++c) {
      std::size_t s = std::size_t{X} * 8 + c;
      unsigned sum = top[s] + top[s + 4] + bottom[s] + bottom[s + 4];
      o[X * 4 + c] = static_cast<std::uint8_t>((sum + 2) >> 2);
    }
}

}  // namespace

Status resize_framebuffer(Framebuffer& fb, std::uint32_t width, std::uint32_t height, std::uint32_t supersample) {
  std::uint64_t f = supersample ? supersample : 1;
  std::uint64_t fw = f * width, fh = f * height;
  constexpr std::uint64_t u32_max = 0xFFFFFFFFu;
  if (fw > u32_max || fh > u32_max || fw * fh > max_pixels)
    return fail(ErrorKind::Range, cat("frame of ", width, "x", height, " at supersample ", f,
                                      " exceeds the limit of ", max_pixels, " pixels"));
  fb.colour.resize(fw * fh);
  fb.depth.resize(fw * fh);
  fb.width = static_cast<std::uint32_t>(fw);
  fb.height = static_cast<std::uint32_t>(fh);
  return {};
}

Result<Framebuffer> make_framebuffer(std::uint32_t width, std::uint32_t height, std::uint32_t supersample,
                                     std::uint32_t fill) {
  Framebuffer fb;
  GY_CHECK(resize_framebuffer(fb, width, height, supersample));
  clear_framebuffer(fb, fill);
  return fb;
}

void clear_framebuffer(Framebuffer& fb, std::uint32_t fill) {
  constexpr std::size_t grain = 1 << 16;
  pool::for_ranges(fb.colour.size(), grain, [&](std::size_t lo, std::size_t hi) {
    poll_interrupt();
    std::fill(fb.colour.begin() + lo, fb.colour.begin() + hi, fill);
    std::fill(fb.depth.begin() + lo, fb.depth.begin() + hi, std::numeric_limits<float>::infinity());
  });
}

void rasterize(RasterScratch& scratch, Framebuffer& fb, std::span<const DrawItem> items, const Mat4& vp,
               const RasterPass& pass) {
  scratch.materials.clear();
  scratch.triangles.clear();
  for (auto& bin : scratch.bins) bin.clear();
  const std::uint32_t W = fb.width, H = fb.height;
  const bool sliced = pass.clear || pass.rows_done;
  if ((items.empty() && !sliced) || W == 0 || H == 0) return;
  if (fb.colour.size() != std::uint64_t{W} * H || fb.depth.size() != fb.colour.size())
    panic("a framebuffer holds one colour and one depth per pixel");

  for (const DrawItem& item : items)
    scratch.materials.push_back(
        {item.bias_kind, item.bias_factor, item.bias_units, item.depth_write, item.depth_test, item.blend});
  // Items are set up in parallel in runs of about setup_work primitives, cut at the same places
  // whatever the thread count, and the runs' triangles joined in order.
  constexpr std::size_t setup_work = 1024;
  scratch.runs.clear();
  for (std::size_t i = 0, work = 0, start = 0; i < items.size(); ++i) {
    work += items[i].triangles.size() + items[i].segments.size() + 1;
    if (work >= setup_work || i + 1 == items.size()) {
      scratch.runs.push_back({start, i + 1});
      start = i + 1, work = 0;
    }
  }
  if (scratch.run_triangles.size() < scratch.runs.size()) scratch.run_triangles.resize(scratch.runs.size());
  pool::for_each_index(scratch.runs.size(), 1, [&](std::size_t r) {
    poll_interrupt();
    std::vector<ScreenTriangle>& out = scratch.run_triangles[r];
    out.clear();
    for (std::size_t i = scratch.runs[r].first; i < scratch.runs[r].second; ++i)
      setup_item(out, items[i], static_cast<std::uint32_t>(i), scratch.materials[i], vp, W, H);
  });
  for (std::size_t r = 0; r < scratch.runs.size(); ++r)
    scratch.triangles.insert(scratch.triangles.end(), scratch.run_triangles[r].begin(), scratch.run_triangles[r].end());

  // Bin by bands of rows, in drawing order.
  const std::uint32_t bands = (H + band_rows - 1) / band_rows;
  scratch.bins.resize(bands);
  for (std::uint32_t p = 0; p < scratch.triangles.size(); ++p)
    for (std::uint32_t b = scratch.triangles[p].y_lo / band_rows; b <= scratch.triangles[p].y_hi / band_rows; ++b)
      scratch.bins[b].push_back(p);

  // Each task fills a slice of a band's rows from the band's bin; a pixel sees the same triangles
  // in the same order however the slices are spread over threads.
  const std::array<FillFn, 16>& fns = fill_fns();
  constexpr std::uint32_t slices_per_band = band_rows / slice_rows;
  pool::for_each_index(std::size_t{bands} * slices_per_band, 1, [&](std::size_t s) {
    auto r0 = static_cast<std::uint32_t>(s * slice_rows);
    if (r0 >= H) return;
    poll_interrupt();
    std::uint32_t r1 = std::min(H, r0 + slice_rows) - 1;
    if (pass.clear) {
      const std::size_t lo = std::size_t{r0} * W, hi = (std::size_t{r1} + 1) * W;
      std::fill(fb.colour.begin() + lo, fb.colour.begin() + hi, pass.clear_word);
      std::fill(fb.depth.begin() + lo, fb.depth.begin() + hi, std::numeric_limits<float>::infinity());
    }
    for (std::uint32_t p : scratch.bins[s / slices_per_band]) {
      const ScreenTriangle& t = scratch.triangles[p];
      std::uint32_t y0 = std::max(t.y_lo, r0), y1 = std::min(t.y_hi, r1);
      if (y0 <= y1) fns[t.kernel](t, y0, y1, fb);
    }
    if (pass.rows_done) pass.rows_done(pass.context, fb, r0, r1 + 1);
  });
}

void resolve_rows(const std::uint8_t* source, std::uint32_t source_width, std::uint32_t f, std::uint32_t y0,
                  std::uint32_t y1, std::uint8_t* out) {
  const std::uint32_t W = source_width / f;
  const std::uint64_t src_row = std::uint64_t{source_width} * 4;
  // Sums are 64-bit: f * f * 255 exceeds 32 bits from f = 4105 on.
  const std::uint64_t n = std::uint64_t{f} * f, half = n / 2;
  for (std::size_t Y = y0; Y < y1; ++Y) {
    const std::uint8_t* top = source + Y * f * src_row;
    std::uint8_t* o = out + Y * W * 4;
    if (f == 1) {
      std::memcpy(o, top, std::size_t{W} * 4);
    } else if (f == 2) {
      resolve_row_2(top, top + src_row, W, o);
    } else {
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
  }
}

void resolve(std::span<const std::uint8_t> source, std::uint32_t source_width, std::uint32_t source_height,
             std::uint32_t f, std::span<std::uint8_t> out) {
  if (f == 0) panic("the resolve factor is at least 1");
  const std::uint32_t W = source_width / f, H = source_height / f;
  if (source.size() != std::uint64_t{source_width} * source_height * 4) panic("a source frame is this many bytes");
  if (out.size() != std::uint64_t{W} * 4 * H) panic("a resolved frame is this many bytes");
  if (W == 0 || H == 0) return;
  const std::size_t grain = std::max<std::uint64_t>(1, 65536 / (std::uint64_t{W} * f * f));
  pool::for_ranges(H, grain, [&](std::size_t lo, std::size_t hi) {
    poll_interrupt();
    resolve_rows(source.data(), source_width, f, static_cast<std::uint32_t>(lo), static_cast<std::uint32_t>(hi),
                 out.data());
  });
}

}  // namespace gy

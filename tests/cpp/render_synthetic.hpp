// A synthetic puzzle-like scene for rasterizer tests and benchmarks: n x n x n small cubes with
// coloured faces and black outlines, a few translucent plates over them, seen in perspective.
#pragma once

#include <cmath>
#include <vector>

#include "render/raster.hpp"

namespace gy::synthetic {

struct Mesh {
  std::vector<Triangle3> triangles;
  std::vector<std::uint32_t> colours;
  std::vector<Segment3> edges;
};

struct Scene {
  std::vector<Mesh> meshes;
  std::vector<DrawItem> items;
  Mat4 vp;
};

inline Mat4 rotation(double yaw, double pitch) {
  double cy = std::cos(yaw), sy = std::sin(yaw), cp = std::cos(pitch), sp = std::sin(pitch);
  // Rx(pitch) * Ry(yaw), column-major.
  return {cy, sp * sy, -cp * sy, 0, 0, cp, sp, 0, sy, -sp * cy, cp * cy, 0, 0, 0, 0, 1};
}

// Perspective view from distance d down -z, vertical field of view fov degrees.
inline Mat4 camera(double width, double height, double d = 12, double fov = 15) {
  double n = 0.1, f = 100, t = std::tan(fov * M_PI / 360) * n, r = t * (height > 0 ? width / height : 1);
  Mat4 p{n / r, 0, 0, 0, 0, n / t, 0, 0, 0, 0, -(f + n) / (f - n), -1, 0, 0, -2 * f * n / (f - n), 0};
  Mat4 view = mat4_identity;
  view[14] = -d;
  return mat4_mul(p, view);
}

inline Mesh cube(Point3 c, double h, const std::uint32_t (&face_colours)[6]) {
  Mesh m;
  for (int a = 0; a < 3; ++a)
    for (int s = -1; s <= 1; s += 2) {
      Point3 n{}, u{}, v{};
      n[a] = s;
      u[(a + 1) % 3] = 1;
      v[(a + 2) % 3] = 1;
      if (s < 0) std::swap(u, v);
      Point3 q[4];
      const double su[4] = {-1, 1, 1, -1}, sv[4] = {-1, -1, 1, 1};
      for (int k = 0; k < 4; ++k)
        for (int i = 0; i < 3; ++i) q[k][i] = c[i] + h * (n[i] + su[k] * u[i] + sv[k] * v[i]);
      m.triangles.push_back({q[0], q[1], q[2]});
      m.triangles.push_back({q[0], q[2], q[3]});
      std::uint32_t col = face_colours[2 * a + (s > 0)];
      m.colours.insert(m.colours.end(), {col, col});
    }
  for (int a = 0; a < 3; ++a)
    for (int i = -1; i <= 1; i += 2)
      for (int j = -1; j <= 1; j += 2) {
        Point3 p0 = c, p1 = c;
        p0[a] -= h, p1[a] += h;
        p0[(a + 1) % 3] += i * h, p1[(a + 1) % 3] += i * h;
        p0[(a + 2) % 3] += j * h, p1[(a + 2) % 3] += j * h;
        m.edges.push_back({p0, p1});
      }
  return m;
}

// n^3 cubes (12 triangles and 12 edges each), three translucent plates; framebuffer of w x h.
inline Scene scene(int n, std::uint32_t w, std::uint32_t h, double line_width = 2) {
  static const std::uint32_t colours[6] = {0xFF1E90FF, 0xFF00A5FF, 0xFF3C14DC, 0xFF32CD32, 0xFF00D7FF, 0xFFF0F0F0};
  Scene s;
  double step = 2.0 / n;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k)
        s.meshes.push_back(cube({(i - (n - 1) / 2.0) * step, (j - (n - 1) / 2.0) * step, (k - (n - 1) / 2.0) * step},
                                step * 0.47, colours));
  for (int p = 0; p < 3; ++p) {
    Mesh plate;
    double z = 1.7 + 0.05 * p, x0 = -1.2 + 0.6 * p;
    plate.triangles = {{{{x0, -0.3, z}, {x0 + 0.8, -0.3, z}, {x0 + 0.8, 0.3, z}}},
                       {{{x0, -0.3, z}, {x0 + 0.8, 0.3, z}, {x0, 0.3, z}}}};
    plate.colours = {0x4CFFFFFF, 0xE699FFFF};
    s.meshes.push_back(plate);
  }
  Mat4 model = rotation(0.6, 0.45);
  std::size_t cubes = s.meshes.size() - 3;
  for (std::size_t m = 0; m < cubes; ++m) {
    DrawItem fill;
    fill.matrix = model;
    fill.triangles = s.meshes[m].triangles;
    fill.colours = s.meshes[m].colours;
    fill.cull = 0;
    s.items.push_back(fill);
    DrawItem outline;
    outline.matrix = model;
    outline.segments = s.meshes[m].edges;
    outline.line_width = line_width;
    outline.bias_kind = 1;
    outline.bias_factor = -1;
    outline.bias_units = -4;
    s.items.push_back(outline);
  }
  for (std::size_t m = cubes; m < s.meshes.size(); ++m) {
    DrawItem plate;
    plate.matrix = model;
    plate.triangles = s.meshes[m].triangles;
    plate.colours = s.meshes[m].colours;
    plate.blend = 1;
    s.items.push_back(plate);
  }
  s.vp = camera(w, h);
  return s;
}

}  // namespace gy::synthetic

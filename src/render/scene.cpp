#include "render/scene.hpp"

#include <cmath>

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

}  // namespace gy

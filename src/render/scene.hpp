// View settings, the camera and the matrices every drawing shares. Matrices are 4x4 f64, column-major,
// applied to column vectors; the camera looks along its own -z with +y up; clip space follows the
// OpenGL convention (x, y, z/w in -1..1, z from near to far).
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "render/raster.hpp"

namespace gy {

using Vec3d = std::array<double, 3>;

struct ViewSettings {
  double line_width = 1.0;
  std::uint32_t background = 0;  // R + G<<8 + B<<16 + A<<24
  std::uint32_t supersample = 2;  // never 0
  bool show_edges = true;
  bool show_arrows = true;
  bool show_pieces = true;
};

struct Camera {
  double fov = 15.0;  // vertical, full angle, degrees
  double aspect = 1.0;
  double near = 0.1;
  double far = 100.0;
  double zoom = 1.0;
  Vec3d position{0, 0, 12};
  Vec3d target{0, 0, 0};
  Vec3d up{0, 1, 0};
};

// Per-call overrides; an absent field leaves its setting alone. Show flags: 0 false, 1 true, 2 absent.
struct ViewOptions {
  std::optional<double> line_width, fov, distance, yaw, pitch;
  std::optional<std::uint32_t> supersample;
  std::optional<std::uint32_t> background;
  std::uint8_t show_arrows = 2, show_edges = 2, show_pieces = 2;

  bool any() const {
    return line_width || fov || distance || yaw || pitch || supersample || background || show_arrows != 2 ||
           show_edges != 2 || show_pieces != 2;
  }
};

// Everything view_from_options may replace; writing it back restores the view exactly.
struct ViewBackup {
  ViewSettings view;
  Camera camera;
};

// Applies the options and returns what they replaced.
ViewBackup view_from_options(const ViewOptions& options, ViewSettings& view, Camera& camera);
inline void restore_view(const ViewBackup& backup, ViewSettings& view, Camera& camera) {
  view = backup.view;
  camera = backup.camera;
}

Mat4 look_at(const Camera& camera);
Mat4 projection_matrix(const Camera& camera, double aspect);
// The inverse, or the zero matrix when the determinant is exactly 0.
Mat4 mat4_inverse(const Mat4& m);

}  // namespace gy

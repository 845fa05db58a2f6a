// View settings, the camera and the matrices every drawing shares; drawing a simulator's scene and
// picking its arrows. Matrices are 4x4 f64, column-major, applied to column vectors; the camera
// looks along its own -z with +y up; clip space follows the OpenGL convention (x, y, z/w in -1..1,
// z from near to far). Pointer positions are in the same normalised x, y.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "num/error.hpp"
#include "render/framebuffer.hpp"
#include "render/raster.hpp"

namespace gy {

struct Simulator;

using Vec3d = std::array<double, 3>;

// The largest supersampling factor any caller may give a view.
inline constexpr std::uint32_t kMaxSupersample = 16;

struct ViewSettings {
  double line_width = 1.0;
  std::uint32_t background = 0;  // R + G<<8 + B<<16 + A<<24
  std::uint32_t supersample = 2;  // never 0, and as given never above kMaxSupersample
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

// Whether the field of view, position, target and up vector are all finite: what drawing and
// picking need of a camera.
bool camera_is_finite(const Camera& camera);
inline void restore_view(const ViewBackup& backup, ViewSettings& view, Camera& camera) {
  view = backup.view;
  camera = backup.camera;
}

Mat4 look_at(const Camera& camera);
Mat4 projection_matrix(const Camera& camera, double aspect);
// The inverse, or the zero matrix when the determinant is exactly 0.
Mat4 mat4_inverse(const Mat4& m);

// ---------------------------------------------------------------------------------------------
// The scene

// The projection at aspect width / height (1 when height is 0) times the camera's view.
Mat4 frame_view_projection(const Camera& camera, std::uint32_t width, std::uint32_t height);

// The model matrix of piece i: the fit scale times the rotation of its drawn orientation (the
// identity past the end of the orientations).
Mat4 piece_matrix(const Simulator& sim, std::size_t i);

// Appends, piece by piece, the fill (when pieces are shown) and the outline (when edges are shown)
// for a framebuffer supersampled by f. A fill takes fill_words[i] in place of piece i's mesh
// colours when fill_words is not empty; every outline is drawn in outline_word. The items borrow
// the simulator's meshes and fill_words.
void append_piece_items(std::vector<DrawItem>& items, const Simulator& sim, std::uint32_t f,
                        std::span<const std::vector<std::uint32_t>> fill_words, std::uint32_t outline_word);

// The arrow colours for a background: idle and highlighted.
std::pair<std::uint32_t, std::uint32_t> arrow_colours(std::uint32_t background);

// Draws the simulator's pieces, outlines and arrows, as its view settings ask, through its camera
// into a width x height image, supersampled and resolved. Reads only the float state. Non-finite
// camera values draw nothing but the background; the one failure is a frame above the pixel cap.
Result<Image> render(const Simulator& sim, std::uint32_t width, std::uint32_t height);

// The camera's aspect is the shape of the last frame drawn for picking: width / height of a frame
// with pixels (a frame without any leaves it as it was).
void record_frame_aspect(Camera& camera, std::uint32_t width, std::uint32_t height);

// The arrow the frame shows under the pointer (x, y), or none: the ray through the pointer (built
// with the camera's own aspect) picks the arrow it meets first, unless a shown piece is in front
// of it. Hits are counted as the drawing counts them: arrows from both sides, pieces from the side
// they are drawn from, nothing nearer than the near plane. None when arrows are hidden.
std::optional<std::uint64_t> pick_ray(const Simulator& sim, double x, double y);

}  // namespace gy

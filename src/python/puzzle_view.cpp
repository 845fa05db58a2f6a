// Puzzle members of the view: the view settings and camera as properties that stick, and placing
// the camera by angles.
#include <cmath>

#include "python/puzzle.hpp"
#include "render/scene.hpp"

namespace gy::py::puzzle {
namespace {

using gy::Simulator;

constexpr double kDegree = 0.017453292519943295;

double length_of(const Vec3d& p) { return std::sqrt((p[0] * p[0] + p[1] * p[1]) + p[2] * p[2]); }

// ---------------------------------------------------------------------------------------------
// View settings

double get_line_width(Call&, const Simulator& s) { return s.view.line_width; }
void set_line_width(Call&, Simulator& s, double w) { s.view.line_width = w; }

Rgba get_background(Call&, const Simulator& s) { return unpack_rgba(s.view.background); }
void set_background(Call&, Simulator& s, Rgba color) { s.view.background = pack_rgba(color); }

std::uint32_t get_supersample(Call&, const Simulator& s) { return s.view.supersample; }
void set_supersample(Call&, Simulator& s, std::uint32_t factor) { s.view.supersample = factor == 0 ? 1 : factor; }

bool get_show_edges(Call&, const Simulator& s) { return s.view.show_edges; }
void set_show_edges(Call&, Simulator& s, bool on) { s.view.show_edges = on; }
bool get_show_arrows(Call&, const Simulator& s) { return s.view.show_arrows; }
void set_show_arrows(Call&, Simulator& s, bool on) { s.view.show_arrows = on; }
bool get_show_pieces(Call&, const Simulator& s) { return s.view.show_pieces; }
void set_show_pieces(Call&, Simulator& s, bool on) { s.view.show_pieces = on; }

// ---------------------------------------------------------------------------------------------
// Camera

double get_fov(Call&, const Simulator& s) { return s.camera.fov; }
void set_fov(Call&, Simulator& s, double fov) { s.camera.fov = fov; }

double get_distance(Call&, const Simulator& s) { return length_of(s.camera.position); }
// Rescales the eye about the origin; an eye at the origin stays there.
void set_distance(Call&, Simulator& s, double d) {
  Vec3d& p = s.camera.position;
  const double sq = (p[0] * p[0] + p[1] * p[1]) + p[2] * p[2];
  const double k = sq == 0.0 ? 0.0 : d / std::sqrt(sq);
  for (double& x : p) x *= k;
}

Vec3d get_position(Call&, const Simulator& s) { return s.camera.position; }
void set_position(Call&, Simulator& s, Vec3d p) { s.camera.position = p; }
Vec3d get_target(Call&, const Simulator& s) { return s.camera.target; }
void set_target(Call&, Simulator& s, Vec3d p) { s.camera.target = p; }
Vec3d get_up(Call&, const Simulator& s) { return s.camera.up; }
void set_up(Call&, Simulator& s, Vec3d p) { s.camera.up = p; }

double get_scale(Call&, const Simulator& s) { return s.scale; }

PyStatus look_from(Call&, Simulator& s, Args& a) {
  const double yaw = PY_TRY(a.get<double>(0)) * kDegree;
  const double pitch = PY_TRY(a.get<double>(1)) * kDegree;
  auto distance = PY_TRY(a.opt<double>(2));
  const double d = distance ? *distance : length_of(s.camera.position);
  const double sy = std::sin(yaw), cy = std::cos(yaw), sp = std::sin(pitch), cp = std::cos(pitch);
  s.camera.position = {d * cp * sy, d * sp, d * cp * cy};
  s.camera.up = {0.0, 1.0, 0.0};
  return {};
}

// ---------------------------------------------------------------------------------------------
// Rows

constexpr Borrow sh = Borrow::shared, ex = Borrow::exclusive;

constexpr Property line_width_row{"line_width", "Outline width in output pixels.", sh, &get_line_width, ex,
                                  &set_line_width, "w"};
constexpr Property background_row{"background", "The background colour as (red, green, blue, alpha), 0-255 each.",
                                  sh, &get_background, ex, &set_background, "color"};
constexpr Property supersample_row{"supersample", "Samples per pixel along each axis; 0 is taken as 1.", sh,
                                   &get_supersample, ex, &set_supersample, "factor"};
constexpr Property show_edges_row{"show_edges", "Whether piece outlines are drawn.", sh, &get_show_edges, ex,
                                  &set_show_edges, "on"};
constexpr Property show_arrows_row{"show_arrows", "Whether the turn arrows are drawn (and can be picked).", sh,
                                   &get_show_arrows, ex, &set_show_arrows, "on"};
constexpr Property show_pieces_row{"show_pieces", "Whether the pieces themselves are drawn.", sh, &get_show_pieces,
                                   ex, &set_show_pieces, "on"};
constexpr Property fov_row{"fov", "The camera's vertical field of view in degrees.", sh, &get_fov, ex, &set_fov,
                           "fov"};
constexpr Property distance_row{
    "distance", "The camera's distance from the origin; setting it moves the camera along its direction.", sh,
    &get_distance, ex, &set_distance, "d"};
constexpr Property position_row{"camera_position", "Where the camera is, as (x, y, z).", sh, &get_position, ex,
                                &set_position, "p"};
constexpr Property target_row{"camera_target", "The point the camera looks at, as (x, y, z).", sh, &get_target, ex,
                              &set_target, "p"};
constexpr Property up_row{"camera_up", "The camera's up direction, as (x, y, z).", sh, &get_up, ex, &set_up, "p"};
constexpr Property scale_row{"scale", "The factor that fits the puzzle into the unit sphere.", sh, &get_scale};
constexpr Method look_from_row{
    "look_from($self, yaw, pitch, distance=None)\n--\n\n"
    "Place the camera on a sphere about the origin, `yaw` and `pitch` in degrees, at `distance` (its\n"
    "current distance when None), with up along +y. Positive yaw swings it towards +x, positive pitch\n"
    "raises it towards +y.",
    ex, &look_from};

}  // namespace

void add_view_rows(detail::TypeTables& t) {
  add_rows<line_width_row, background_row, supersample_row, show_edges_row, show_arrows_row, show_pieces_row,
           fov_row, distance_row, position_row, target_row, up_row, scale_row, look_from_row>(t);
}

}  // namespace gy::py::puzzle

// Puzzle members of the view: the view settings and camera as properties that stick, placing the
// camera by angles, rendering with overrides that do not stick, frames, the camera orbit and the
// pointer that picks arrows and turns their grips.
#include <cmath>
#include <optional>
#include <utility>

#include "python/image.hpp"
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
void set_supersample(Call&, Simulator& s, SupersampleFactor f) { s.view.supersample = f.factor == 0 ? 1 : f.factor; }

bool get_show_edges(Call&, const Simulator& s) { return s.view.show_edges; }
void set_show_edges(Call&, Simulator& s, bool on) { s.view.show_edges = on; }
bool get_show_arrows(Call&, const Simulator& s) { return s.view.show_arrows; }
void set_show_arrows(Call&, Simulator& s, bool on) { s.view.show_arrows = on; }
bool get_show_pieces(Call&, const Simulator& s) { return s.view.show_pieces; }
void set_show_pieces(Call&, Simulator& s, bool on) { s.view.show_pieces = on; }

// ---------------------------------------------------------------------------------------------
// Camera

double get_fov(Call&, const Simulator& s) { return s.camera.fov; }
void set_fov(Call&, Simulator& s, FiniteFloat<"fov"> fov) { s.camera.fov = fov.value; }

double get_distance(Call&, const Simulator& s) { return length_of(s.camera.position); }
// Rescales the eye about the origin; an eye at the origin stays there.
PyStatus set_distance(Call&, Simulator& s, FiniteFloat<"distance"> distance) {
  const double d = distance.value;
  Camera moved = s.camera;
  Vec3d& p = moved.position;
  const double sq = (p[0] * p[0] + p[1] * p[1]) + p[2] * p[2];
  const double k = sq == 0.0 ? 0.0 : d / std::sqrt(sq);
  for (double& x : p) x *= k;
  PY_TRY(check_camera(moved, cat("distance ", d)));
  s.camera = moved;
  return {};
}

Vec3d get_position(Call&, const Simulator& s) { return s.camera.position; }
void set_position(Call&, Simulator& s, FiniteVec3<"camera_position"> p) { s.camera.position = p.value; }
Vec3d get_target(Call&, const Simulator& s) { return s.camera.target; }
void set_target(Call&, Simulator& s, FiniteVec3<"camera_target"> p) { s.camera.target = p.value; }
Vec3d get_up(Call&, const Simulator& s) { return s.camera.up; }
void set_up(Call&, Simulator& s, FiniteVec3<"camera_up"> p) { s.camera.up = p.value; }

double get_scale(Call&, const Simulator& s) { return s.scale; }

PyStatus look_from(Call&, Simulator& s, Args& a) {
  const double yaw_degrees = PY_TRY(finite_float(a, 0));
  const double pitch_degrees = PY_TRY(finite_float(a, 1));
  auto distance = PY_TRY(finite_float_option(a, 2));
  const double yaw = yaw_degrees * kDegree, pitch = pitch_degrees * kDegree;
  const double d = distance ? *distance : length_of(s.camera.position);
  const double sy = std::sin(yaw), cy = std::cos(yaw), sp = std::sin(pitch), cp = std::cos(pitch);
  Camera placed = s.camera;
  placed.position = {d * cp * sy, d * sp, d * cp * cy};
  placed.up = {0.0, 1.0, 0.0};
  PY_TRY(check_camera(placed, cat("look_from(", yaw_degrees, ", ", pitch_degrees,
                                  distance ? cat(", ", *distance) : std::string(), ")")));
  s.camera = placed;
  return {};
}

// ---------------------------------------------------------------------------------------------
// Rendering

// The show flag i as the options' byte: 0 false, 1 true, 2 absent.
PyResult<std::uint8_t> flag_option(const Args& a, std::size_t i) {
  auto v = PY_TRY(a.opt<bool>(i));
  return static_cast<std::uint8_t>(v ? (*v ? 1 : 0) : 2);
}

// Draws with options applied for the one call; the view and camera are put back on every way out.
Result<Image> render_with(Simulator& s, const ViewOptions& options, std::uint32_t width, std::uint32_t height) {
  if (!options.any()) return gy::render(s, width, height);
  struct Restore {
    Simulator& s;
    ViewBackup backup;
    ~Restore() { restore_view(backup, s.view, s.camera); }
  } restore{s, view_from_options(options, s.view, s.camera)};
  return gy::render(s, width, height);
}

// A frame for the caller to show: the pointer picks by its shape from now on.
Result<Image> draw(Simulator& s, const ViewOptions& options, std::uint32_t width, std::uint32_t height) {
  Image image = GY_TRY(render_with(s, options, width, height));
  record_frame_aspect(s.camera, width, height);
  return image;
}

PyResult<Image> render(Call& c, Simulator& s, Args& a) {
  const std::uint32_t width = PY_TRY(a.get<std::uint32_t>(0, 512));
  const std::uint32_t height = PY_TRY(a.get<std::uint32_t>(1, 512));
  ViewOptions o;
  if (auto bg = PY_TRY(a.opt<Rgba>(2))) o.background = pack_rgba(*bg);
  PY_TRY(read_supersample(a, 3, o.supersample));
  o.show_arrows = PY_TRY(flag_option(a, 4));
  o.show_edges = PY_TRY(flag_option(a, 5));
  o.show_pieces = PY_TRY(flag_option(a, 6));
  o.line_width = PY_TRY(a.opt<double>(7));
  o.fov = PY_TRY(finite_float_option(a, 8));
  o.distance = PY_TRY(finite_float_option(a, 9));
  o.yaw = PY_TRY(finite_float_option(a, 10));
  o.pitch = PY_TRY(finite_float_option(a, 11));
  PY_TRY(check_camera_options(o, s.camera));
  return PY_TRY(c.detached([&] { return draw(s, o, width, height); }));
}

PyResult<Image> frame(Call& c, Simulator& s, Args& a) {
  const double dt = PY_TRY(a.get<double>(0, 16.0));
  const std::uint32_t width = PY_TRY(a.get<std::uint32_t>(1, 512));
  const std::uint32_t height = PY_TRY(a.get<std::uint32_t>(2, 512));
  return PY_TRY(c.detached([&]() -> Result<Image> {
    GY_CHECK(advance(s, dt));
    return draw(s, {}, width, height);
  }));
}

// ---------------------------------------------------------------------------------------------
// Camera orbit and pointer

// A coordinate of the pointer or of a drag; a non-finite one would leave the camera undefined.
PyResult<double> coordinate(const Args& a, std::size_t i) { return finite_float(a, i); }

PyStatus orbit(Call&, Simulator& s, Args& a) {
  const double dx = PY_TRY(coordinate(a, 0));
  const double dy = PY_TRY(coordinate(a, 1));
  if (s.orbit.enabled) {
    s.orbit.drag_active = true;
    s.orbit.drag_from = {0.0, 0.0, 0.0};
    s.orbit.drag_to = {dx, dy, 0.0};
  }
  camera_orbit(s.orbit, s.camera);
  s.orbit.drag_active = false;
  return {};
}

PyResult<bool> pointer_down(Call&, Simulator& s, Args& a) {
  const double x = PY_TRY(coordinate(a, 0));
  const double y = PY_TRY(coordinate(a, 1));
  const std::optional<std::uint64_t> hit = pick_ray(s, x, y);
  s.hovered_arrow = hit;
  s.pressed_arrow = hit;
  if (!hit && s.orbit.enabled) {
    s.orbit.drag_from = s.orbit.drag_to = {x, y, 0.0};
    s.orbit.drag_active = true;
  }
  return hit.has_value();
}

PyStatus pointer_move(Call&, Simulator& s, Args& a) {
  const double x = PY_TRY(coordinate(a, 0));
  const double y = PY_TRY(coordinate(a, 1));
  if (s.orbit.drag_active && s.orbit.enabled) {
    s.orbit.drag_from = s.orbit.drag_to;
    s.orbit.drag_to = {x, y, 0.0};
  }
  s.hovered_arrow = pick_ray(s, x, y);
  return {};
}

using TurnMade = std::optional<std::pair<std::uint64_t, std::int32_t>>;

// A release over the arrow that was pressed turns its grip one stop: arrow 2g backwards, 2g + 1
// forwards. Any turn since the press has cleared the pressed arrow, so an index that now names
// another layer's arrow turns nothing.
PyResult<TurnMade> pointer_up(Call& c, Simulator& s, Args& a) {
  const double x = PY_TRY(coordinate(a, 0));
  const double y = PY_TRY(coordinate(a, 1));
  return PY_TRY(c.detached([&]() -> Result<TurnMade> {
    s.orbit.drag_active = false;
    s.hovered_arrow = pick_ray(s, x, y);
    const std::optional<std::uint64_t> pressed = std::exchange(s.pressed_arrow, std::nullopt);
    if (!pressed || s.hovered_arrow != pressed) return std::nullopt;
    const std::uint64_t grip = *pressed / 2;
    const std::int32_t direction = *pressed % 2 == 0 ? -1 : 1;
    GY_CHECK(turn_grip(s, grip, TurnRequest::by_direction(direction)));
    return TurnMade(std::in_place, grip, direction);
  }));
}

PyResult<std::optional<std::uint64_t>> arrow_at(Call&, const Simulator& s, Args& a) {
  const double x = PY_TRY(coordinate(a, 0));
  const double y = PY_TRY(coordinate(a, 1));
  return pick_ray(s, x, y);
}

PyStatus clear_hover(Call&, Simulator& s) {
  s.hovered_arrow.reset();
  return {};
}

std::optional<std::uint64_t> hovered_arrow(Call&, const Simulator& s) { return s.hovered_arrow; }

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

constexpr Method render_row{
    "render($self, width=512, height=512, *, background=None, supersample=None, show_arrows=None, "
    "show_edges=None, show_pieces=None, line_width=None, fov=None, distance=None, yaw=None, pitch=None)\n--\n\n"
    "Draw the puzzle as it stands into a new `width` x `height` Image.\n\n"
    "The keywords override the view settings for this one call (`yaw` and `pitch` in degrees place the\n"
    "camera); nothing given here sticks. None leaves a setting as it is.",
    ex, &render, Release::yes};
constexpr Method frame_row{
    "frame($self, dt_ms=16.0, width=512, height=512)\n--\n\n"
    "Advance the animation and camera by `dt_ms` milliseconds, then render: once per displayed frame.",
    ex, &frame, Release::yes};
constexpr Method orbit_row{
    "orbit($self, dx, dy)\n--\n\n"
    "Turn the camera about the puzzle by a drag of (`dx`, `dy`) in pointer coordinates; the motion\n"
    "eases out over the following frames.",
    ex, &orbit};
constexpr Method pointer_down_row{
    "pointer_down($self, x, y)\n--\n\n"
    "Press the pointer at (`x`, `y`), each -1 to 1 across the view with y up. True when it lands on an\n"
    "arrow; otherwise it starts dragging the camera.",
    ex, &pointer_down};
constexpr Method pointer_move_row{
    "pointer_move($self, x, y)\n--\n\nMove the pointer: hover the arrow under it, or drag the camera.", ex,
    &pointer_move};
constexpr Method pointer_up_row{
    "pointer_up($self, x, y)\n--\n\n"
    "Release the pointer. Released over the arrow it was pressed on, the arrow's grip turns one stop\n"
    "and `(grip, direction)` is returned; otherwise None.",
    ex, &pointer_up, Release::yes};
constexpr Method arrow_at_row{"arrow_at($self, x, y)\n--\n\nThe index of the arrow under (`x`, `y`), or None.", sh,
                              &arrow_at};
constexpr Method clear_hover_row{"clear_hover($self)\n--\n\nForget the hovered arrow.", ex, &clear_hover};
constexpr Property hovered_arrow_row{"hovered_arrow", "The index of the arrow under the pointer, or None.", sh,
                                     &hovered_arrow};

}  // namespace

PyStatus check_camera(const Camera& camera, std::string_view what) {
  if (camera_is_finite(camera)) return {};
  return raise(PyExc_ValueError, cat(what, " would move the camera out of the range of floats"));
}

PyStatus check_camera_options(const ViewOptions& options, const Camera& camera) {
  if (!options.distance && !options.yaw && !options.pitch) return {};
  ViewSettings view;
  Camera moved = camera;
  view_from_options(options, view, moved);
  std::string what;
  const std::pair<const char*, const std::optional<double>*> given[] = {
      {"yaw", &options.yaw}, {"pitch", &options.pitch}, {"distance", &options.distance}};
  for (const auto& [name, value] : given)
    if (*value) what += cat(what.empty() ? "" : ", ", name, " ", **value);
  return check_camera(moved, what);
}

void add_view_rows(detail::TypeTables& t) {
  add_rows<line_width_row, background_row, supersample_row, show_edges_row, show_arrows_row, show_pieces_row,
           fov_row, distance_row, position_row, target_row, up_row, scale_row, look_from_row, render_row, frame_row,
           orbit_row, pointer_down_row, pointer_move_row, pointer_up_row, arrow_at_row, clear_hover_row,
           hovered_arrow_row>(t);
}

}  // namespace gy::py::puzzle

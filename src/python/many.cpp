// build_many and render_many: the work of many puzzles in one call, one task per entry on the worker
// pool with the interpreter released, results in entry order, the first failed entry (in list
// order) raised with its own text in front.
#include <string>
#include <vector>

#include <array>
#include <optional>

#include "pool.hpp"
#include "python/args.hpp"
#include "python/functions.hpp"
#include "python/image.hpp"
#include "python/puzzle.hpp"
#include "render/framebuffer.hpp"
#include "render/scene.hpp"
#include "simulator.hpp"

namespace gy::py {
namespace {

std::vector<std::string> queries_of(const std::vector<RecipeEntry>& entries) {
  std::vector<std::string> out;
  out.reserve(entries.size());
  for (const RecipeEntry& e : entries) out.push_back(e.query);
  return out;
}

// The first failed result in entry order, raised with its entry's text; nullptr when none failed.
template <class T>
const Error* first_failure(const std::vector<Result<T>>& results, std::size_t& at) {
  for (at = 0; at < results.size(); ++at)
    if (!results[at]) return &results[at].error();
  return nullptr;
}

// A list of new objects made from the values of results, in order.
template <class T>
PyResult<Ref> list_of(std::vector<Result<T>>& results) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(results.size())));
  if (!list) return raised();
  for (std::size_t i = 0; i < results.size(); ++i) {
    Ref item = to_py(std::move(*results[i]));
    if (!item) return raised();
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
  }
  return list;
}

PyResult<Ref> build_many(Call& c, Args& a) {
  std::vector<RecipeEntry> entries = PY_TRY(a.get_with(0, recipe_list));
  const std::vector<std::string> queries = queries_of(entries);
  std::vector<Result<gy::Simulator>> built = c.detached([&] { return build_simulators(queries); });
  std::size_t at = 0;
  if (const Error* e = first_failure(built, at)) {
    PyErr err = error_text(*e, entries[at].label);
    c.detached([&] { built.clear(); });
    return err.raise();
  }
  return list_of(built);
}

// What every entry of render_many is drawn with; shared read-only by the tasks.
struct RenderSettings {
  std::optional<std::uint64_t> seed;
  std::optional<double> distance;
  double yaw = 0.0, pitch = 0.0;  // degrees
  std::uint32_t width = 512, height = 512;
  std::uint32_t background = 0xFFFFFFFF;
  std::uint32_t supersample = 2;
  std::uint32_t scramble = 0;
  bool show_arrows = false, show_edges = true;
};

// Entry i: built, placed, scrambled from seed + i, drawn. Touches nothing but its own record.
Result<Image> render_entry(const std::string& query, const RenderSettings& s, std::uint64_t i) {
  poll_interrupt();
  gy::Simulator sim = GY_TRY(gy::Simulator::build(query));
  sim.view.background = s.background;
  sim.view.supersample = s.supersample == 0 ? 1 : s.supersample;
  sim.view.show_arrows = s.show_arrows;
  sim.view.show_edges = s.show_edges;
  ViewOptions camera;
  camera.distance = s.distance;
  if (!(s.yaw == 0.0 && s.pitch == 0.0)) {
    camera.yaw = s.yaw;
    camera.pitch = s.pitch;
    if (!camera.distance) camera.distance = 12.0;
  }
  view_from_options(camera, sim.view, sim.camera);
  if (s.scramble > 0) {
    sim.rng_state = s.seed.value_or(0) + i;
    sim.last_random_move.reset();
    GY_CHECK(queue_random_moves(sim, s.scramble));
    GY_CHECK(settle(sim));
  }
  return gy::render(sim, s.width, s.height);
}

PyResult<Ref> render_many(Call& c, Args& a) {
  std::vector<Ref> objects = PY_TRY(a.get<std::vector<Ref>>(0));
  RenderSettings s;
  s.width = PY_TRY(a.get<std::uint32_t>(1, 512));
  s.height = PY_TRY(a.get<std::uint32_t>(2, 512));
  s.background = puzzle::pack_rgba(PY_TRY(a.get<puzzle::Rgba>(3, puzzle::Rgba{255, 255, 255, 255})));
  s.supersample = PY_TRY(a.get<SupersampleFactor>(4, SupersampleFactor{2})).factor;
  s.show_arrows = PY_TRY(a.get<bool>(5, false));
  s.show_edges = PY_TRY(a.get<bool>(6, true));
  s.scramble = PY_TRY(a.get<std::uint32_t>(7, 0));
  if (s.scramble > 0) PY_TRY(a.noted(puzzle::check_scramble_count(s.scramble), 7));
  s.seed = PY_TRY(a.opt<std::uint64_t>(8));
  s.distance = PY_TRY(finite_float_option(a, 9));
  s.yaw = PY_TRY(finite_float(a, 10, 0.0));
  s.pitch = PY_TRY(finite_float(a, 11, 0.0));
  std::vector<RecipeEntry> entries;
  entries.reserve(objects.size());
  for (const Ref& o : objects) entries.push_back(PY_TRY(a.noted(recipe_list_entry(o.get()), 0)));
  PY_TRY(check_bulk_moves(entries.size(), s.scramble, "puzzles"));
  // The images together must fit; a frame too large on its own is refused by its entry below.
  if (const Result<std::uint64_t> pixels = checked_pixel_count(s.width, s.height)) {
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(*pixels * 4, std::uint64_t{entries.size()}, &bytes)) bytes = UINT64_MAX;
    require_memory(bytes, "the images");
  }

  std::vector<Result<Image>> images = c.detached([&] {
    std::vector<Result<Image>> out(entries.size());
    pool::for_each_index(entries.size(), 1, [&](std::size_t i) { out[i] = render_entry(entries[i].query, s, i); });
    return out;
  });
  std::size_t at = 0;
  if (const Error* e = first_failure(images, at)) return error_text(*e, entries[at].label).raise();
  return list_of(images);
}

constexpr Function build_many_row{
    "build_many(recipes)\n--\n\n"
    "Build several puzzles at once, one per worker thread.\n\n"
    "Each entry is a Recipe, a recipe query string or a catalog name. The interpreter is released for\n"
    "the whole batch, so other Python threads keep running. Returns one Puzzle per entry, in order;\n"
    "when entries fail, the error of the first of them in the list is raised, its text in front.",
    &build_many, Release::yes};

constexpr Function render_many_row{
    "render_many(recipes, width=512, height=512, *, background=..., supersample=2, show_arrows=False, "
    "show_edges=True, scramble=0, seed=None, distance=None, yaw=0.0, pitch=0.0)\n--\n\n"
    "Build, optionally scramble, and render several puzzles at once.\n\n"
    "The whole batch runs across every core with the interpreter released. Puzzle `i` is scrambled\n"
    "by `scramble` random moves seeded with `seed + i` (0 + i without a seed), so a scrambled batch is\n"
    "reproducible however the work is scheduled. The background is opaque white unless given; a\n"
    "nonzero `yaw` or `pitch` (degrees) places the camera at `distance` (12 when None). Returns one\n"
    "Image per entry, in order.",
    &render_many, Release::yes};

}  // namespace

Ref render_many_function(PyObject* module) { return make_function<render_many_row>(module); }
Ref build_many_function(PyObject* module) { return make_function<build_many_row>(module); }

}  // namespace gy::py

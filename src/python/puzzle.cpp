#include "python/puzzle.hpp"

#include <optional>
#include <string>
#include <utility>

#include "catalog.hpp"
#include "python/args.hpp"
#include "python/recipe.hpp"
#include "symbolic.hpp"

namespace gy::py {
namespace puzzle {
namespace {

using gy::Simulator;

// ---------------------------------------------------------------------------------------------
// Construction

enum Param : std::size_t {
  p_recipe,
  p_shell,
  p_cuts,
  p_background,
  p_supersample,
  p_show_arrows,
  p_show_edges,
  p_show_pieces,
  p_line_width,
  p_fov,
  p_distance,
  p_yaw,
  p_pitch,
  p_seed,
  p_scramble,
};

bool given(const Args& a, std::size_t i) { return a.given(i) && a[i] != Py_None; }

// The show flag i as the options' byte: 0 false, 1 true, 2 absent.
PyResult<std::uint8_t> flag_option(const Args& a, std::size_t i) {
  auto v = PY_TRY(a.opt<bool>(i));
  return static_cast<std::uint8_t>(v ? (*v ? 1 : 0) : 2);
}

// The query text the constructor builds: from `recipe`, or from `shell` and `cuts`.
PyResult<std::string> constructor_query(const Args& a) {
  if (given(a, p_recipe)) {
    if (given(a, p_shell) || given(a, p_cuts))
      return raise(PyExc_TypeError, "give either a recipe or a shell and cuts, not both");
    return PY_TRY(a.get_with(p_recipe, recipe_argument));
  }
  gy::Recipe recipe;
  recipe.shell = PY_TRY(a.noted(shapes_argument(a[p_shell], "shell"), p_shell));
  recipe.cuts = PY_TRY(a.noted(shapes_argument(a[p_cuts], "cuts"), p_cuts));
  if (recipe.shell.empty()) return raise(PyExc_TypeError, "give a recipe, or a shell and its cuts");
  return PY_TRY(recipe_to_query(recipe));
}

PyResult<Simulator> construct(Call& c, Args& a) {
  ViewOptions view;
  if (auto bg = PY_TRY(a.opt<Rgba>(p_background))) view.background = pack_rgba(*bg);
  PY_TRY(read_supersample(a, p_supersample, view.supersample));
  view.show_arrows = PY_TRY(flag_option(a, p_show_arrows));
  view.show_edges = PY_TRY(flag_option(a, p_show_edges));
  view.show_pieces = PY_TRY(flag_option(a, p_show_pieces));
  view.line_width = PY_TRY(a.opt<double>(p_line_width));
  view.fov = PY_TRY(finite_float_option(a, p_fov));
  view.distance = PY_TRY(finite_float_option(a, p_distance));
  view.yaw = PY_TRY(finite_float_option(a, p_yaw));
  view.pitch = PY_TRY(finite_float_option(a, p_pitch));
  auto seed = PY_TRY(a.opt<std::uint64_t>(p_seed));
  std::optional<std::uint32_t> scramble;
  PY_TRY(read_u32_option(a, p_scramble, scramble));
  if (scramble) PY_TRY(a.noted(check_scramble_count(*scramble), p_scramble));
  // A build's camera is the default one.
  PY_TRY(check_camera_options(view, Camera{}));

  std::string query = PY_TRY(constructor_query(a));
  Simulator sim = PY_TRY(c.detached([&] { return Simulator::build(query); }));
  view_from_options(view, sim.view, sim.camera);
  if (seed) {
    sim.rng_state = *seed;
    sim.last_random_move.reset();
  }
  if (scramble) {
    PY_TRY(queue_random_moves(sim, *scramble));
    PY_TRY(c.detached([&] { return settle(sim); }));
  }
  return sim;
}

PyResult<Simulator> named(Call& c, Args& a) {
  auto name = PY_TRY(a.get<std::string_view>(0));
  auto query = resolve_recipe_text(name);
  if (!query) return raise(PyExc_ValueError, query.error().message);
  return PY_TRY(c.detached([&] { return Simulator::build(*query); }));
}

PyResult<Simulator> from_recipe(Call& c, Args& a) {
  const gy::Recipe* recipe = PY_TRY(a.get_with(0, downcast_recipe));
  std::string query = PY_TRY(recipe_to_query(*recipe));
  return PY_TRY(c.detached([&] { return Simulator::build(query); }));
}

PyStatus reset(Call& c, Simulator& sim) {
  std::string query = PY_TRY(recipe_to_query(sim.recipe));
  Simulator fresh = PY_TRY(c.detached([&] { return Simulator::build(query); }));
  fresh.view = sim.view;
  fresh.camera = sim.camera;
  sim = std::move(fresh);
  return {};
}

PyStatus seed(Call&, Simulator& sim, Args& a) {
  sim.rng_state = PY_TRY(a.get<std::uint64_t>(0));
  sim.last_random_move.reset();
  return {};
}

std::string repr(Call&, const Simulator& sim) {
  return cat("<Puzzle ", sim.pieces.size(), " pieces, ", sim.grips.size(), " grips>");
}

// ---------------------------------------------------------------------------------------------
// Turning and history

PyStatus turn(Call& c, Simulator& sim, Args& a) {
  auto index = PY_TRY(a.get<std::uint64_t>(0));
  auto direction = PY_TRY(a.get<std::int32_t>(1, 1));
  auto repeat = PY_TRY(a.get<std::uint32_t>(2, 1));
  if (repeat > max_turn_repeat) {
    raise(PyExc_ValueError, cat("repeat ", repeat, " is more than the ", max_turn_repeat, " turns one call may make"));
    return a.noted(PyStatus(raised()), 2);
  }
  PY_TRY(c.detached([&] { return turn_grip_repeated(sim, index, direction, repeat); }));
  return {};
}

PyStatus turn_to(Call& c, Simulator& sim, Args& a) {
  auto index = PY_TRY(a.get<std::uint64_t>(0));
  auto stop = PY_TRY(a.get<std::uint64_t>(1));
  PY_TRY(c.detached([&] { return turn_grip(sim, index, TurnRequest::to_stop(stop)); }));
  return {};
}

Result<bool> undo(Call& c, Simulator& sim) {
  return c.detached([&] { return undo_turn(sim); });
}

Result<bool> restore(Call& c, Simulator& sim) {
  return c.detached([&] { return restore_turns(sim); });
}

// ---------------------------------------------------------------------------------------------
// Scrambling and time

PyStatus scramble(Call&, Simulator& sim, Args& a) {
  auto count = PY_TRY(a.get<std::uint32_t>(0, 10));
  PY_TRY(queue_random_moves(sim, count));
  return {};
}

PyStatus settle_now(Call& c, Simulator& sim) {
  PY_TRY(c.detached([&] { return settle(sim); }));
  return {};
}

PyStatus random_move(Call& c, Simulator& sim) {
  PY_TRY(c.detached([&] { return move_random(sim); }));
  return {};
}

PyStatus step(Call& c, Simulator& sim, Args& a) {
  auto dt = PY_TRY(a.get<double>(0, 16.0));
  PY_TRY(c.detached([&] { return advance(sim, dt); }));
  return {};
}

// ---------------------------------------------------------------------------------------------
// Actions

PyResult<bool> make_action(Call& c, Simulator& sim, Args& a) {
  auto action = PY_TRY(a.get<std::uint64_t>(0));
  return PY_TRY(c.detached([&] { return apply_action(sim, action); }));
}

PyResult<std::uint64_t> apply(Call& c, Simulator& sim, Args& a) {
  auto moves = PY_TRY(a.get<std::string_view>(0));
  return PY_TRY(c.detached([&] { return apply_moves(sim, moves); }));
}

bool animating(Call&, const Simulator& sim) { return sim.animation.has_value() || sim.queued_moves > 0; }
std::uint64_t move_count(Call&, const Simulator& sim) { return sim.move_count; }
std::uint64_t history_length(Call&, const Simulator& sim) { return sim.history.size(); }

// ---------------------------------------------------------------------------------------------
// Rows

constexpr Constructor puzzle_new{&construct, Release::yes};
constexpr ClassMethod named_row{"named(name)\n--\n\nBuild one of the cataloged puzzles by name.", &named,
                                Release::yes};
constexpr ClassMethod from_recipe_row{"from_recipe(recipe)\n--\n\nBuild the puzzle a [`Recipe`] describes.",
                                      &from_recipe, Release::yes};
constexpr Method reset_row{
    "reset($self)\n--\n\nReconstruct the puzzle from its recipe, preserving camera and view settings.",
    Borrow::exclusive, &reset, Release::yes};
constexpr Method seed_row{"seed($self, seed)\n--\n\nSeed the scramble generator, for reproducible sequences.",
                          Borrow::exclusive, &seed};
constexpr Slot repr_row{slot<Py_tp_repr>, Borrow::shared, &repr};

constexpr Method turn_row{
    "turn($self, index, direction=1, *, repeat=1)\n--\n\n"
    "Turn grip `index` by one stop, `repeat` times: forwards for a direction of 0 or more, backwards\n"
    "for a negative one. Every repeat turns the same layer, however the grips are renumbered; only the\n"
    "last of the turns animates, and when one of them cannot be made none is.",
    Borrow::exclusive, &turn, Release::yes};
constexpr Method turn_to_row{"turn_to($self, index, stop)\n--\n\nTurn grip `index` to stop `stop` of `stops(index)`.",
                             Borrow::exclusive, &turn_to, Release::yes};
constexpr Method undo_row{
    "undo($self)\n--\n\n"
    "Take back the most recent turn. False when there is none, or when its layer cannot turn now.",
    Borrow::exclusive, &undo, Release::yes};
constexpr Method restore_row{
    "restore($self)\n--\n\n"
    "Invert every applied turn, restoring the puzzle to the solved state. False when a layer that\n"
    "cannot turn now stops it.",
    Borrow::exclusive, &restore, Release::yes};
constexpr Method scramble_row{"scramble($self, count=10)\n--\n\nQueue `count` random moves, applied by `advance` or `settle`.",
                              Borrow::exclusive, &scramble};
constexpr Method settle_row{
    "settle($self)\n--\n\nFinish the turn in flight and make every queued move at once, without animating.",
    Borrow::exclusive, &settle_now, Release::yes};
constexpr Method move_random_row{
    "move_random($self)\n--\n\nApply one random move now. It animates, and never undoes the previous random move.",
    Borrow::exclusive, &random_move, Release::yes};
constexpr Method advance_row{
    "advance($self, dt_ms=16.0)\n--\n\n"
    "Advance animation and camera by `dt_ms` milliseconds. Plays the turn in flight, or starts the\n"
    "next queued move when none is, then takes one step of the camera orbit.",
    Borrow::exclusive, &step, Release::yes};
constexpr Method apply_action_row{
    "apply_action($self, action)\n--\n\n"
    "Make the move with index `action`, without animating. False, with nothing changed, when its\n"
    "layer cannot turn now.",
    Borrow::exclusive, &make_action, Release::yes};
constexpr Method apply_row{
    "apply($self, moves)\n--\n\n"
    "Make a sequence of moves written out, such as `\"A B2' A'\"`. The moves do not animate; returns\n"
    "the number of turns made.",
    Borrow::exclusive, &apply, Release::yes};
constexpr Property animating_row{"animating", "True while a move is animating.", Borrow::shared, &animating};
constexpr Property move_count_row{"move_count", "How many moves have been applied.", Borrow::shared, &move_count};
constexpr Property history_length_row{"history_length", "The number of applied turns in the current history.",
                                      Borrow::shared, &history_length};

constinit OnceObject puzzle_type_cell;

}  // namespace

PyStatus check_scramble_count(std::uint32_t count) {
  if (count > kMaxQueuedMoves)
    return raise(PyExc_ValueError,
                 cat("a scramble of ", count, " moves is more than the ", kMaxQueuedMoves, " that may be queued"));
  return {};
}

}  // namespace puzzle

template <>
PyTypeObject* type_object<gy::Simulator>() {
  using namespace puzzle;
  PyObject* type = puzzle_type_cell.get([]() -> PyObject* {
    auto* t = new detail::TypeTables();
    add_rows<puzzle_new, named_row, from_recipe_row, reset_row, seed_row, repr_row, turn_row, turn_to_row, undo_row,
             restore_row, scramble_row, settle_row, move_random_row, advance_row, apply_action_row, apply_row, animating_row, move_count_row, history_length_row>(*t);
    add_view_rows(*t);
    add_query_rows(*t);
    t->slots.push_back({Py_tp_dealloc, detail::slot_function(&detail::dealloc<gy::Simulator>)});
    return reinterpret_cast<PyObject*>(
        detail::build_type(puzzle_class.name, puzzle_class.doc, sizeof(Object<gy::Simulator>), t));
  });
  return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace gy::py

// Puzzle members that read: pieces, grips and their stops, where the puzzle came from, and the
// sticker model with its actions.
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "color.hpp"
#include "python/array.hpp"
#include "python/grip.hpp"
#include "python/puzzle.hpp"
#include "python/recipe.hpp"
#include "symbolic.hpp"

namespace gy::py::puzzle {
namespace {

using gy::Simulator;

constexpr double kRadiansToDegrees = 180.0 / 3.141592653589793;

// ---------------------------------------------------------------------------------------------
// Pieces

PyResult<Ref> piece(Call&, Simulator& sim, Args& a) {
  auto index = PY_TRY(a.get<std::uint64_t>(0));
  if (index >= sim.pieces.size()) return raise(PyExc_IndexError, "piece index out of range");
  const Piece& p = sim.pieces[index];
  std::vector<std::array<double, 3>> vertices;
  vertices.reserve(p.vertices.size());
  for (const Vector3& v : p.vertices) vertices.push_back({PY_TRY(v.x.to_f64()), PY_TRY(v.y.to_f64()), PY_TRY(v.z.to_f64())});

  Ref faces = Ref::steal(PyList_New(static_cast<Py_ssize_t>(p.faces.size())));
  if (!faces) return raised();
  for (std::size_t i = 0; i < p.faces.size(); ++i) {
    const Face& f = p.faces[i];
    Ref face = Ref::steal(PyDict_New());
    if (!face) return raised();
    Ref indices = to_py(f.indices);
    Ref colour = to_py(linear_to_rgb24(f.color[0], f.color[1], f.color[2]));
    Ref interior = to_py(f.interior != 0);
    if (!indices || !colour || !interior || PyDict_SetItemString(face.get(), "vertices", indices.get()) < 0 ||
        PyDict_SetItemString(face.get(), "color", colour.get()) < 0 ||
        PyDict_SetItemString(face.get(), "interior", interior.get()) < 0)
      return raised();
    PyList_SET_ITEM(faces.get(), static_cast<Py_ssize_t>(i), face.release());
  }

  Ref out = Ref::steal(PyDict_New());
  Ref verts = to_py(vertices);
  Ref rotation = to_py(p.rotation.key());
  if (!out || !verts || !rotation || PyDict_SetItemString(out.get(), "vertices", verts.get()) < 0 ||
      PyDict_SetItemString(out.get(), "faces", faces.get()) < 0 ||
      PyDict_SetItemString(out.get(), "rotation", rotation.get()) < 0)
    return raised();
  return out;
}

std::uint64_t piece_count(Call&, const Simulator& sim) { return sim.pieces.size(); }
const std::string& field(Call&, const Simulator& sim) { return sim.field; }
gy::Recipe recipe(Call&, const Simulator& sim) { return sim.recipe; }
Result<std::string> query(Call&, const Simulator& sim) { return recipe_to_query(sim.recipe); }

// ---------------------------------------------------------------------------------------------
// Grips

std::uint64_t grip_count(Call&, const Simulator& sim) { return sim.grips.size(); }
std::uint64_t arrow_count(Call&, const Simulator& sim) { return sim.arrows.size(); }

PyResult<std::vector<GripSnapshot>> grips(Call&, Simulator& sim) {
  std::vector<GripSnapshot> out;
  out.reserve(sim.grips.size());
  for (std::size_t i = 0; i < sim.grips.size(); ++i) {
    const Grip& g = sim.grips[i];
    const double a = PY_TRY(g.plane.normal.x.to_f64()), b = PY_TRY(g.plane.normal.y.to_f64()),
                 c = PY_TRY(g.plane.normal.z.to_f64()), d = PY_TRY(g.plane.d.to_f64());
    const double k = 1.0 / std::sqrt(a * a + b * b + c * c);
    out.push_back(GripSnapshot{plane_text(g.plane), i, {a * k, b * k, c * k}, -d * k, g.pieces.size(), g.others.size()});
  }
  return out;
}

PyResult<std::string> grip(Call&, const Simulator& sim, Args& a) {
  auto index = PY_TRY(a.get<std::uint64_t>(0));
  if (index >= sim.grips.size()) return raise(PyExc_IndexError, "grip index out of range");
  return plane_text(sim.grips[index].plane);
}

PyResult<std::vector<double>> stops(Call& c, Simulator& sim, Args& a) {
  auto index = PY_TRY(a.get<std::uint64_t>(0));
  return PY_TRY(c.detached([&]() -> Result<std::vector<double>> {
    std::vector<Quaternion> rotations = GY_TRY(stops_of_grip(sim, index));
    std::vector<double> degrees;
    degrees.reserve(rotations.size());
    for (const Quaternion& q : rotations) degrees.push_back(GY_TRY(rotation_angle(q)) * kRadiansToDegrees);
    return degrees;
  }));
}

// ---------------------------------------------------------------------------------------------
// The sticker model

// Runs f(model) without the interpreter once the model is at hand (built and cached on first use).
template <class F>
auto with_model(Call& c, Simulator& sim, F&& f) {
  return c.detached([&]() -> decltype(f(std::declval<const TabularModel&>())) {
    ModelRef model = GY_TRY(tabular_model(sim));
    return f(*model);
  });
}

Result<std::vector<std::uint16_t>> stickers(Call& c, Simulator& sim) {
  return c.detached([&] { return sticker_colors(sim); });
}

Result<std::vector<std::uint32_t>> ids(Call& c, Simulator& sim) {
  return c.detached([&] { return sticker_ids(sim); });
}

Result<std::vector<std::array<double, 3>>> positions(Call& c, Simulator& sim) {
  return with_model(c, sim, [](const TabularModel& m) -> Result<std::vector<std::array<double, 3>>> {
    return m.positions;
  });
}

Result<std::vector<std::uint16_t>> solved_stickers(Call& c, Simulator& sim) {
  return with_model(c, sim, [](const TabularModel& m) -> Result<std::vector<std::uint16_t>> {
    return m.solved_colors;
  });
}

Result<std::uint64_t> sticker_count(Call& c, Simulator& sim) {
  return with_model(c, sim, [](const TabularModel& m) -> Result<std::uint64_t> { return m.sticker_count(); });
}

Result<std::uint64_t> color_count(Call& c, Simulator& sim) {
  return with_model(c, sim, [](const TabularModel& m) -> Result<std::uint64_t> { return m.color_count(); });
}

Result<std::vector<std::uint32_t>> palette(Call& c, Simulator& sim) {
  return with_model(c, sim, [](const TabularModel& m) -> Result<std::vector<std::uint32_t>> { return m.palette; });
}

Result<bool> solved(Call& c, Simulator& sim) {
  return c.detached([&] { return is_solved(sim); });
}

PyResult<Ref> ground_atoms(Call& c, Simulator& sim) {
  std::vector<std::uint16_t> colours = PY_TRY(c.detached([&] { return sticker_colors(sim); }));
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(colours.size())));
  if (!list) return raised();
  for (std::size_t i = 0; i < colours.size(); ++i) {
    Ref atom = to_py(std::tuple(std::string_view("color"), cat("s", i), cat("c", colours[i])));
    if (!atom) return raised();
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), atom.release());
  }
  return list;
}

Result<std::optional<Array>> permutations(Call& c, Simulator& sim) {
  return c.detached([&]() -> Result<std::optional<Array>> {
    std::optional<ActionPermutations> table = GY_TRY(compute_action_permutations(sim));
    if (!table) return std::nullopt;
    return array_from_u32(table->permutations, std::max<std::size_t>(table->slot_count, 1),
                          {table->action_count, table->slot_count});
  });
}

Result<std::vector<std::string>> actions(Call& c, Simulator& sim) {
  return with_model(c, sim, [](const TabularModel& m) -> Result<std::vector<std::string>> {
    return action_names(m.grip_names);
  });
}

Result<std::uint64_t> action_count(Call& c, Simulator& sim) {
  return with_model(c, sim, [](const TabularModel& m) -> Result<std::uint64_t> { return m.action_count(); });
}

Result<std::vector<std::string>> grip_names(Call& c, Simulator& sim) {
  return with_model(c, sim, [](const TabularModel& m) -> Result<std::vector<std::string>> { return m.grip_names; });
}

PyResult<std::optional<std::uint64_t>> index_of_action(Call& c, Simulator& sim, Args& a) {
  auto name = PY_TRY(a.get<std::string_view>(0));
  return PY_TRY(with_model(c, sim, [&](const TabularModel& m) -> Result<std::optional<std::uint64_t>> {
    return action_index(m.grip_names, name);
  }));
}

PyResult<std::optional<std::uint64_t>> grip_of_action(Call& c, Simulator& sim, Args& a) {
  auto action = PY_TRY(a.get<std::uint64_t>(0));
  return PY_TRY(c.detached([&] { return action_grip(sim, action); }));
}

PyResult<Ref> mask(Call& c, Simulator& sim) {
  std::vector<std::uint8_t> bytes = PY_TRY(c.detached([&] { return action_mask(sim); }));
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(bytes.size())));
  if (!list) return raised();
  for (std::size_t i = 0; i < bytes.size(); ++i)
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), Py_NewRef(bytes[i] ? Py_True : Py_False));
  return list;
}

// ---------------------------------------------------------------------------------------------
// Rows

constexpr Borrow sh = Borrow::shared, ex = Borrow::exclusive;

constexpr Method piece_row{"piece($self, index)\n--\n\nThe geometry of piece `i`: vertices, faces, colors and flags.",
                           ex, &piece};
constexpr Property piece_count_row{"piece_count", "How many pieces the puzzle has.", sh, &piece_count};
constexpr Property field_row{"field", "The number field all coordinates live in.", sh, &field};
constexpr Property recipe_row{"recipe", "The shell and cuts this puzzle was built from.", sh, &recipe};
constexpr Property query_row{"query", "The recipe as a query string.", sh, &query};
constexpr Property grip_count_row{"grip_count", "How many turnable layers the puzzle has right now.", sh,
                                  &grip_count};
constexpr Property arrow_count_row{"arrow_count", "How many arrows there are: two per grip.", sh, &arrow_count};
constexpr Method grips_row{"grips($self)\n--\n\nEvery turnable layer, as it stands now.", ex, &grips};
constexpr Method grip_row{"grip($self, index)\n--\n\nThe exact plane of grip `i`, as a string.", sh, &grip};
constexpr Method stops_row{"stops($self, index)\n--\n\nThe stop angles available on grip `i`, in degrees.", ex, &stops,
                           Release::yes};

constexpr Release rel = Release::yes;
constexpr Method stickers_row{
    "stickers($self)\n--\n\nThe color in each sticker slot: discrete numerical state representation.", ex,
    &stickers, rel};
constexpr Method sticker_ids_row{
    "sticker_ids($self)\n--\n\nWhere the sticker in each slot belongs: the state as a permutation.", ex, &ids, rel};
constexpr Method sticker_positions_row{
    "sticker_positions($self)\n--\n\nWhere each sticker slot sits on the solved puzzle, as `(x, y, z)`.", ex,
    &positions, rel};
constexpr Property solved_stickers_row{"solved_stickers",
                                       "The color in each slot when the puzzle is solved: the goal state.", ex,
                                       &solved_stickers, rel};
constexpr Property sticker_count_row{"sticker_count", "How many sticker slots the puzzle has.", ex, &sticker_count,
                                     rel};
constexpr Property color_count_row{"color_count", "How many distinct sticker colors it has.", ex, &color_count, rel};
constexpr Property palette_row{"palette", "The sticker colors themselves, packed `0xRRGGBB`, indexed by color.", ex,
                               &palette, rel};
constexpr Property is_solved_row{"is_solved", "Whether every sticker is the color it should be.", ex, &solved, rel};
constexpr Method ground_atoms_row{
    "ground_atoms($self)\n--\n\n"
    "The state as ground atoms: one (\"color\", \"s{slot}\", \"c{color}\") per sticker slot.",
    ex, &ground_atoms, rel};
constexpr Method action_permutations_row{
    "action_permutations($self)\n--\n\n"
    "Every move as a permutation of the sticker slots, one row per action: making action `a` turns\n"
    "the state `old` into `new[i] = old[perm[a][i]]`. None when the moves are not fixed permutations\n"
    "(the puzzle jumbles, or a move locks another).",
    ex, &permutations, rel};
constexpr Property actions_row{"actions", "The names of the moves, two per grip: \"A\", \"A'\", \"B\", ...", ex,
                               &actions, rel};
constexpr Property action_count_row{"action_count", "How many moves it has: two per grip of the solved puzzle.", ex,
                                    &action_count, rel};
constexpr Property grip_names_row{"grip_names", "The names of the grips themselves, without a direction.", ex,
                                  &grip_names, rel};
constexpr Method action_index_row{
    "action_index($self, name)\n--\n\nThe index of a move named like `\"A\"` or `\"B2'\"`, or `None`.", ex,
    &index_of_action, rel};
constexpr Method action_grip_row{
    "action_grip($self, action)\n--\n\nWhich grip a move turns right now, or `None` if that layer is locked.", ex,
    &grip_of_action, rel};
constexpr Method action_mask_row{
    "action_mask($self)\n--\n\nWhich moves can be made right now, one flag per action.", ex, &mask, rel};

}  // namespace

void add_query_rows(detail::TypeTables& t) {
  add_rows<piece_row, piece_count_row, field_row, recipe_row, query_row, grip_count_row, arrow_count_row, grips_row,
           grip_row, stops_row, stickers_row, sticker_ids_row, sticker_positions_row, solved_stickers_row,
           sticker_count_row, color_count_row, palette_row, is_solved_row, ground_atoms_row, action_permutations_row,
           actions_row, action_count_row, grip_names_row, action_index_row, action_grip_row, action_mask_row>(t);
}

}  // namespace gy::py::puzzle

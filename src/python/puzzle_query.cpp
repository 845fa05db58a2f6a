// Puzzle members that read: pieces, grips and their stops, where the puzzle came from, and the
// sticker model with its actions.
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "color.hpp"
#include "python/grip.hpp"
#include "python/puzzle.hpp"
#include "python/recipe.hpp"

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

}  // namespace

void add_query_rows(detail::TypeTables& t) {
  add_rows<piece_row, piece_count_row, field_row, recipe_row, query_row, grip_count_row, arrow_count_row, grips_row,
           grip_row, stops_row>(t);
}

}  // namespace gy::py::puzzle

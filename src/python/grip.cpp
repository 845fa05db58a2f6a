#include "python/grip.hpp"

#include <cstdio>

namespace gy::py {
namespace {

std::uint64_t index(Call&, const GripSnapshot& g) { return g.index; }
std::array<double, 3> axis(Call&, const GripSnapshot& g) { return g.axis; }
double offset(Call&, const GripSnapshot& g) { return g.offset; }
std::string plane(Call&, const GripSnapshot& g) { return g.plane; }
std::uint64_t piece_count(Call&, const GripSnapshot& g) { return g.piece_count; }
std::uint64_t other_count(Call&, const GripSnapshot& g) { return g.other_count; }

std::string repr(Call&, const GripSnapshot& g) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "axis=(%.3f, %.3f, %.3f) offset=%.3f", g.axis[0], g.axis[1], g.axis[2], g.offset);
  return cat("<Grip ", g.index, " ", buf, " pieces=", g.piece_count, ">");
}

constexpr ClassDef grip_class{
    "Grip",
    "One turnable layer of a puzzle, as it stands right now.\n\n"
    "A snapshot, not a handle: the grips are derived again after every turn, so a grip taken before a\n"
    "move may not be there after one. Turn it through the puzzle it came from, by its index."};

constexpr Property index_row{"index", "Where this grip sits in `Puzzle.grips()`.", Borrow::none, &index};
constexpr Property axis_row{"axis", "The axis it turns about, as a unit vector.", Borrow::none, &axis};
constexpr Property offset_row{"offset", "How far the cutting plane is from the center.", Borrow::none, &offset};
constexpr Property plane_row{"plane", "The exact plane, as text.", Borrow::none, &plane};
constexpr Property piece_count_row{"piece_count", "How many pieces turn with it.", Borrow::none, &piece_count};
constexpr Property other_count_row{"other_count", "How many stay behind.", Borrow::none, &other_count};
constexpr Slot repr_row{slot<Py_tp_repr>, Borrow::none, &repr};

constinit OnceObject grip_type_cell;

}  // namespace

template <>
PyTypeObject* type_object<GripSnapshot>() {
  return make_type<GripSnapshot, grip_class, index_row, axis_row, offset_row, plane_row, piece_count_row,
                   other_count_row, repr_row>(grip_type_cell);
}

std::string plane_text(const Plane& plane) { return cat("[", plane.normal.fmt(), ",", plane.d.to_string(), "]"); }

}  // namespace gy::py

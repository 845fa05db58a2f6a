// The built-in table of 38 polyhedra, the reader of their plane definitions, and the expansion of
// shapes into plane quadruples with the shape's size put in.
//
// A definition is planes back to back, each four expressions a, b, c, d (a·x + b·y + c·z + d = 0,
// the centre on the negative side), in a prefix format:
//   "A" x y   sum            "M" x y   product         "P" x y   x raised to y
//   "S"       the size       "n" p "/" q ";"           the rational p/q
// The size appears only in d, as the size times a negative constant.
#pragma once

#include <atomic>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "num/error.hpp"
#include "geometry.hpp"
#include "parse.hpp"

namespace gy {

inline constexpr std::size_t kPolyhedronCount = 38;

struct PolyhedronEntry {
  std::string_view code;        // as written in shape texts, such as "C" or "UD16"
  std::string_view name;        // such as "Cube"
  std::string_view definition;  // the planes in the prefix format
};

// The rows in table order.
std::span<const PolyhedronEntry> polyhedron_table();

// (code, name) of every row, in table order.
std::vector<std::pair<std::string_view, std::string_view>> polyhedron_names();

// A reading position in a definition.
struct TableCursor {
  std::string_view text;
  std::size_t position = 0;
};

// Reads one expression at the cursor and moves the cursor past it. Failures are Other errors
// ("polyhedron table truncated", "unexpected byte {} in polyhedron table", "polyhedron table is
// not valid UTF-8", "malformed rational in table", "malformed numerator in table", "malformed
// denominator in table"), or the Range error of a zero denominator.
Result<Expr> parse_table_expr(TableCursor& cursor);

// All planes of a definition, at least one; the first failure ends the reading.
Result<std::vector<PlaneShape>> read_polyhedron_definition(std::string_view text);

// A deep copy of `expr` with every "$scale" node replaced by a copy of `size`.
Expr substitute_scale(const Expr& expr, const Expr& size);

// The row of a code, compared byte for byte; the index is built on the first call.
std::optional<std::size_t> polyhedron_index(std::string_view code);

// One cache slot per row: empty, or the row's definition as read, filled at most once.
using PolyhedronSlot = std::atomic<const std::vector<PlaneShape>*>;
// The slots, created empty on the first call.
std::span<PolyhedronSlot, kPolyhedronCount> init_polyhedron_slots();

// The row's definition as read, from its slot, reading it first when the slot is empty (the
// first store wins when threads race). A reading failure leaves the slot empty.
Result<const std::vector<PlaneShape>*> polyhedron_definition(std::size_t row);

// The plane quadruples of the shapes, in shape order: a plane shape's own four expressions, or a
// polyhedron's planes with its size substituted. Fails with "unknown polyhedron: '{}'" for a code
// not in the table; every code is looked up before the caller evaluates anything.
Result<std::vector<PlaneShape>> expand_shape_planes(std::span<const Shape> shapes);

// The exact planes of the shapes, in shape order: every code is looked up first, then every
// coefficient is evaluated. Coefficients of different planes may lie in different fields.
Result<std::vector<Plane>> shape_planes(std::span<const Shape> shapes);

}  // namespace gy

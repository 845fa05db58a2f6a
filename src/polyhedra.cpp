#include "polyhedra.hpp"

#include <array>
#include <string>
#include <unordered_map>

#include "num/fraction.hpp"
#include "num/int.hpp"

namespace gy {

namespace {

constexpr PolyhedronEntry kTable[] = {
#include "polyhedra_table.inc"
};
static_assert(std::size(kTable) == kPolyhedronCount);

Unexpected table_error(std::string message) { return fail(Error::other(std::move(message))); }

// The rational of an "n" item, the cursor just past the "n".
Result<Expr> read_rational(TableCursor& cursor) {
  std::string_view rest = cursor.text.substr(cursor.position);
  std::size_t end = rest.find(';');
  std::string_view body = rest.substr(0, end);
  if (!utf8_valid(body)) return table_error("polyhedron table is not valid UTF-8");
  // One past the ";", or one past the end when there is none.
  cursor.position += body.size() + 1;
  std::size_t slash = body.find('/');
  if (slash == std::string_view::npos) return table_error("malformed rational in table");
  auto num = Int::from_str(body.substr(0, slash));
  if (!num) return table_error("malformed numerator in table");
  auto den = Int::from_str(body.substr(slash + 1));
  if (!den) return table_error("malformed denominator in table");
  return Expr::number(GY_TRY(Fraction::make(std::move(*num), std::move(*den))));
}

}  // namespace

std::span<const PolyhedronEntry> polyhedron_table() { return kTable; }

std::vector<std::pair<std::string_view, std::string_view>> polyhedron_names() {
  std::vector<std::pair<std::string_view, std::string_view>> out;
  out.reserve(kPolyhedronCount);
  for (const auto& row : kTable) out.emplace_back(row.code, row.name);
  return out;
}

// Reads with an explicit stack of open operators, so that nesting of any depth is read without
// recursion; the order of reading, and so the first failure, is that of the recursive grammar.
Result<Expr> parse_table_expr(TableCursor& cursor) {
  struct Open {
    const char* op;
    std::vector<Expr> args;
  };
  std::vector<Open> open;
  for (;;) {
    if (cursor.position >= cursor.text.size()) return table_error("polyhedron table truncated");
    auto byte = static_cast<unsigned char>(cursor.text[cursor.position]);
    ++cursor.position;
    Expr done;
    switch (byte) {
      case 'A':
        open.push_back({"+", {}});
        continue;
      case 'M':
        open.push_back({"*", {}});
        continue;
      case 'P':
        open.push_back({"^", {}});
        continue;
      case 'S':
        done = Expr::make("$scale");
        break;
      case 'n':
        done = GY_TRY(read_rational(cursor));
        break;
      default:
        return table_error(cat("unexpected byte ", static_cast<unsigned>(byte), " in polyhedron table"));
    }
    // Close every operator that now has both operands.
    for (;;) {
      if (open.empty()) return done;
      open.back().args.push_back(std::move(done));
      if (open.back().args.size() < 2) break;
      done = Expr::make(open.back().op, std::move(open.back().args));
      open.pop_back();
    }
  }
}

Result<std::vector<PlaneShape>> read_polyhedron_definition(std::string_view text) {
  TableCursor cursor{text, 0};
  std::vector<PlaneShape> planes;
  do {
    PlaneShape plane;
    plane.a = GY_TRY(parse_table_expr(cursor));
    plane.b = GY_TRY(parse_table_expr(cursor));
    plane.c = GY_TRY(parse_table_expr(cursor));
    plane.d = GY_TRY(parse_table_expr(cursor));
    planes.push_back(std::move(plane));
  } while (cursor.position < text.size());
  return planes;
}

Expr substitute_scale(const Expr& expr, const Expr& size) {
  auto is_scale = [](const Expr& e) { return e.op == "$scale"; };
  if (is_scale(expr)) return size;
  // The copy is iterative; then every "$scale" node of it is replaced, also without recursion.
  Expr out = expr;
  std::vector<Expr*> pending{&out};
  while (!pending.empty()) {
    Expr* node = pending.back();
    pending.pop_back();
    for (Expr& arg : node->args) {
      if (is_scale(arg))
        arg = size;
      else if (!arg.args.empty())
        pending.push_back(&arg);
    }
  }
  return out;
}

std::optional<std::size_t> polyhedron_index(std::string_view code) {
  static const std::unordered_map<std::string_view, std::size_t> index = [] {
    std::unordered_map<std::string_view, std::size_t> map;
    for (std::size_t i = 0; i < kPolyhedronCount; ++i) map[kTable[i].code] = i;
    return map;
  }();
  auto it = index.find(code);
  if (it == index.end()) return std::nullopt;
  return it->second;
}

std::span<PolyhedronSlot, kPolyhedronCount> init_polyhedron_slots() {
  // Filled slots live as long as the process; they are never emptied or freed.
  static std::array<PolyhedronSlot, kPolyhedronCount> slots{};
  return slots;
}

Result<const std::vector<PlaneShape>*> polyhedron_definition(std::size_t row) {
  if (row >= kPolyhedronCount) panic(cat("polyhedron row ", row, " out of range"));
  PolyhedronSlot& slot = init_polyhedron_slots()[row];
  if (const auto* filled = slot.load(std::memory_order_acquire)) return filled;
  auto read = GY_TRY(read_polyhedron_definition(kTable[row].definition));
  auto* mine = new std::vector<PlaneShape>(std::move(read));
  const std::vector<PlaneShape>* expected = nullptr;
  if (slot.compare_exchange_strong(expected, mine, std::memory_order_acq_rel, std::memory_order_acquire))
    return mine;
  delete mine;  // another thread stored first
  return expected;
}

Result<std::vector<PlaneShape>> expand_shape_planes(std::span<const Shape> shapes) {
  std::vector<PlaneShape> out;
  for (const Shape& shape : shapes) {
    if (const PlaneShape* plane = shape.as_plane()) {
      out.push_back(*plane);
      continue;
    }
    const PolyhedronShape& poly = *shape.as_polyhedron();
    auto row = polyhedron_index(poly.name);
    if (!row) return table_error(cat("unknown polyhedron: '", poly.name, "'"));
    const std::vector<PlaneShape>* planes = GY_TRY(polyhedron_definition(*row));
    out.reserve(out.size() + planes->size());
    for (const PlaneShape& p : *planes) {
      out.push_back({substitute_scale(p.a, poly.size), substitute_scale(p.b, poly.size),
                     substitute_scale(p.c, poly.size), substitute_scale(p.d, poly.size)});
    }
  }
  return out;
}

Result<std::vector<Plane>> shape_planes(std::span<const Shape> shapes) {
  std::vector<PlaneShape> quads = GY_TRY(expand_shape_planes(shapes));
  std::vector<Plane> planes;
  planes.reserve(quads.size());
  for (const PlaneShape& q : quads) {
    AlgebraicNumber a = GY_TRY(evaluate_expr(q.a));
    AlgebraicNumber b = GY_TRY(evaluate_expr(q.b));
    AlgebraicNumber c = GY_TRY(evaluate_expr(q.c));
    AlgebraicNumber d = GY_TRY(evaluate_expr(q.d));
    planes.push_back(Plane{Vector3{std::move(a), std::move(b), std::move(c)}, std::move(d)});
  }
  return planes;
}

}  // namespace gy

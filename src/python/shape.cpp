#include "python/shape.hpp"

#include <optional>
#include <string>
#include <tuple>

#include "num/siphash.hpp"
#include "python/args.hpp"
#include "python/real.hpp"

namespace gy::py {
namespace {

using gy::Shape;

PyResult<Shape> polyhedron(Call&, Args& a) {
  auto name = PY_TRY(a.get<std::string>(0));
  Expr size;
  if (a.given(1) && a[1] != Py_None)
    size = PY_TRY(a.get_with(1, exact_number_argument));
  else
    size = PY_TRY(parse_expr("1"));
  // A code holding a separator of the shape or query text would not read back.
  if (!polyhedron_code_ok(name)) return raise(PyExc_ValueError, cat(quote_debug(name), " is not a polyhedron code"));
  return Shape::polyhedron(std::move(name), std::move(size));
}

PyResult<Shape> plane(Call&, Args& a) {
  auto x = PY_TRY(a.get_with(0, exact_number_argument));
  auto y = PY_TRY(a.get_with(1, exact_number_argument));
  auto z = PY_TRY(a.get_with(2, exact_number_argument));
  auto d = PY_TRY(a.get_with(3, exact_number_argument));
  return Shape::plane(std::move(x), std::move(y), std::move(z), std::move(d));
}

PyResult<Shape> parse(Call&, Args& a) {
  auto text = PY_TRY(a.get<std::string_view>(0));
  return PY_TRY(parse_shape(text));
}

// The size of a polyhedron, the offset d of a plane.
const Expr& size_of(const Shape& s) {
  if (const PlaneShape* p = s.as_plane()) return p->d;
  return s.as_polyhedron()->size;
}

std::string_view kind(Call&, const Shape& s) { return s.kind(); }

std::optional<std::string> name(Call&, const Shape& s) {
  if (const PolyhedronShape* p = s.as_polyhedron()) return p->name;
  return std::nullopt;
}

Result<std::string> size(Call&, const Shape& s) { return generateExpr(size_of(s)); }

Result<std::optional<std::tuple<std::string, std::string, std::string>>> coefficients(Call&, const Shape& s) {
  const PlaneShape* p = s.as_plane();
  if (!p) return std::nullopt;
  return std::tuple(GY_TRY(generateExpr(p->a)), GY_TRY(generateExpr(p->b)), GY_TRY(generateExpr(p->c)));
}

Result<gy::AlgebraicNumber> offset(Call&, const Shape& s) { return evaluate_expr(size_of(s)); }

Result<std::string> str(Call&, const Shape& s) { return shape_to_text(s); }

Result<std::string> repr(Call&, const Shape& s) {
  if (const PlaneShape* p = s.as_plane()) {
    return cat("Shape.plane(", quote_debug(GY_TRY(generateExpr(p->a))), ", ", quote_debug(GY_TRY(generateExpr(p->b))),
               ", ", quote_debug(GY_TRY(generateExpr(p->c))), ", ", quote_debug(GY_TRY(generateExpr(p->d))), ")");
  }
  const PolyhedronShape& p = *s.as_polyhedron();
  return cat("Shape.polyhedron(", quote_debug(p.name), ", ", quote_debug(GY_TRY(generateExpr(p.size))), ")");
}

PyResult<Ref> compare(Call&, const Shape& self, PyObject* other, CompareOp op) {
  const Shape* o = PY_TRY(instance_of<Shape>(other));
  if (!o) return not_implemented();
  switch (op) {
    case CompareOp::eq: return to_py(self.eq(*o));
    case CompareOp::ne: return to_py(!self.eq(*o));
    default: return raise(PyExc_TypeError, "shapes are not ordered");
  }
}

Result<std::uint64_t> hash(Call&, const Shape& s) { return text_hash(GY_TRY(shape_to_text(s))); }

constexpr ClassDef shape_class{
    "Shape",
    "One shell or one cut: a named polyhedron, or a bare plane.\n\n"
    "Every size and coefficient is an exact expression, kept as written: \"sqrt(5)/5\" stays that\n"
    "tree, so texts, equality and hashes follow how a number was written, not only its value."};

constexpr ClassMethod polyhedron_row{
    "polyhedron(name, size=None)\n--\n\n"
    "A polyhedron by its code (\"C\", \"D\", \"UD16\"), scaled by an exact size: a text such as\n"
    "\"1/3\", an integer or a Fraction. Without a size it is 1. The code is looked up only when a\n"
    "puzzle is built.",
    &polyhedron};
constexpr ClassMethod plane_row{
    "plane(a, b, c, d)\n--\n\n"
    "The plane a*x + b*y + c*z = d, each an exact number: a text, an integer or a Fraction.",
    &plane};
constexpr ClassMethod parse_row{
    "parse(text)\n--\n\n"
    "Read a shape text: a polyhedron code and its size (\"C$1/3\"), or a plane's coefficients and\n"
    "its offset (\"1,0,0$1/2\").",
    &parse};
constexpr Property kind_row{"kind", "\"polyhedron\" or \"plane\".", Borrow::none, &kind};
constexpr Property name_row{"name", "The polyhedron code, or None for a plane.", Borrow::none, &name};
constexpr Property size_row{"size", "The size of a polyhedron, or the offset d of a plane, as expression text.",
                            Borrow::none, &size};
constexpr Property coefficients_row{"coefficients",
                                    "The texts of a plane's a, b and c, or None for a polyhedron.", Borrow::none,
                                    &coefficients};
constexpr Method offset_row{
    "offset($self)\n--\n\nThe size of a polyhedron, or the offset d of a plane, as an exact Real.", Borrow::none,
    &offset};
constexpr Slot str_row{slot<Py_tp_str>, Borrow::none, &str};
constexpr Slot repr_row{slot<Py_tp_repr>, Borrow::none, &repr};
constexpr Slot compare_row{slot<Py_tp_richcompare>, Borrow::none, &compare};
constexpr Slot hash_row{slot<Py_tp_hash>, Borrow::none, &hash};

constinit OnceObject shape_type_cell;

}  // namespace

template <>
PyTypeObject* type_object<gy::Shape>() {
  return make_type<gy::Shape, shape_class, polyhedron_row, plane_row, parse_row, kind_row, name_row, size_row,
                   coefficients_row, offset_row, str_row, repr_row, compare_row, hash_row>(shape_type_cell);
}

PyResult<const gy::Shape*> downcast_shape(PyObject* obj) {
  const gy::Shape* s = PY_TRY(instance_of<gy::Shape>(obj));
  if (!s) return raise_not_instance(obj, "Shape");
  return s;
}

std::uint64_t text_hash(std::string_view text) {
  SipHasher13 h;
  h.write(text.data(), text.size());
  h.write_u8(0xFF);
  return h.finish();
}

}  // namespace gy::py

#include "python/fraction.hpp"

#include <cstdint>
#include <string>

#include "num/siphash.hpp"

namespace gy::py {
namespace {

using gy::Fraction;

// The value of o when it is a Fraction object, else null (no exception).
const Fraction* fraction_of(PyObject* o) {
  PyTypeObject* type = type_object<Fraction>();
  if (!type) {
    PyErr_Clear();
    return nullptr;
  }
  if (Py_TYPE(o) != type && !PyObject_TypeCheck(o, type)) return nullptr;
  return &object_cast<Fraction>(o)->value;
}

PyResult<Fraction> construct(Call&, Args& a) {
  auto n = PY_TRY(a.get<std::int64_t>(0));
  auto d = PY_TRY(a.get<std::int64_t>(1, 1));
  return PY_TRY(Fraction::make(Int(n), Int(d)));
}

std::string numerator(Call&, const Fraction& f) { return f.num().to_string(); }
std::string denominator(Call&, const Fraction& f) { return f.den().to_string(); }

std::string repr(Call&, const Fraction& f) {
  std::string s = "Fraction(";
  f.num().fmt(s);
  s += ", ";
  f.den().fmt(s);
  s += ')';
  return s;
}

std::string str(Call&, const Fraction& f) { return f.to_string(); }
double to_float(Call&, const Fraction& f) { return f.to_f64(); }
bool nonzero(Call&, const Fraction& f) { return !f.is_zero(); }
Fraction negative(Call&, const Fraction& f) { return f.neg(); }
Fraction absolute(Call&, const Fraction& f) { return f.abs(); }

// Both operands must be Fractions; anything else is NotImplemented, so the host tries the other side.
template <class Op>
PyResult<Ref> arithmetic(PyObject* a, PyObject* b, Op op) {
  const Fraction* x = fraction_of(a);
  if (!x) return not_implemented();
  const Fraction* y = fraction_of(b);
  if (!y) return not_implemented();
  return to_py(PY_TRY(op(*x, *y)));
}

PyResult<Ref> add(Call&, PyObject* a, PyObject* b) {
  return arithmetic(a, b, [](const Fraction& x, const Fraction& y) -> Result<Fraction> { return x + y; });
}
PyResult<Ref> subtract(Call&, PyObject* a, PyObject* b) {
  return arithmetic(a, b, [](const Fraction& x, const Fraction& y) -> Result<Fraction> { return x - y; });
}
PyResult<Ref> multiply(Call&, PyObject* a, PyObject* b) {
  return arithmetic(a, b, [](const Fraction& x, const Fraction& y) -> Result<Fraction> { return x * y; });
}
PyResult<Ref> divide(Call&, PyObject* a, PyObject* b) {
  return arithmetic(a, b, [](const Fraction& x, const Fraction& y) { return x.div(y); });
}

Ref compare(Call&, const Fraction& self, PyObject* other, CompareOp op) {
  const Fraction* o = fraction_of(other);
  if (!o) return not_implemented();
  auto c = self.cmp(*o);
  bool r = false;
  switch (op) {
    case CompareOp::lt: r = c < 0; break;
    case CompareOp::le: r = c <= 0; break;
    case CompareOp::eq: r = c == 0; break;
    case CompareOp::ne: r = c != 0; break;
    case CompareOp::gt: r = c > 0; break;
    case CompareOp::ge: r = c >= 0; break;
  }
  return to_py(r);
}

std::uint64_t hash(Call&, const Fraction& f) {
  SipHasher13 h;
  f.hash(h);
  return h.finish();
}

constexpr ClassDef fraction_class{
    "Fraction",
    "Fraction(numerator, denominator=1)\n--\n\n"
    "An exact rational number."};

constexpr Constructor fraction_new{&construct};
constexpr Property numerator_row{"numerator", "The numerator in lowest terms, as decimal text.", Borrow::none,
                                 &numerator};
constexpr Property denominator_row{"denominator", "The positive denominator in lowest terms, as decimal text.",
                                   Borrow::none, &denominator};
constexpr Slot repr_row{slot<Py_tp_repr>, Borrow::none, &repr};
constexpr Slot str_row{slot<Py_tp_str>, Borrow::none, &str};
constexpr Slot float_row{slot<Py_nb_float>, Borrow::none, &to_float};
constexpr Slot bool_row{slot<Py_nb_bool>, Borrow::none, &nonzero};
constexpr Slot negative_row{slot<Py_nb_negative>, Borrow::none, &negative};
constexpr Slot absolute_row{slot<Py_nb_absolute>, Borrow::none, &absolute};
constexpr Slot add_row{slot<Py_nb_add>, Borrow::none, &add};
constexpr Slot subtract_row{slot<Py_nb_subtract>, Borrow::none, &subtract};
constexpr Slot multiply_row{slot<Py_nb_multiply>, Borrow::none, &multiply};
constexpr Slot divide_row{slot<Py_nb_true_divide>, Borrow::none, &divide};
constexpr Slot compare_row{slot<Py_tp_richcompare>, Borrow::none, &compare};
constexpr Slot hash_row{slot<Py_tp_hash>, Borrow::none, &hash};

constinit OnceObject fraction_type_cell;

}  // namespace

template <>
PyTypeObject* type_object<gy::Fraction>() {
  return make_type<gy::Fraction, fraction_class, fraction_new, numerator_row, denominator_row, repr_row, str_row,
                   float_row, bool_row, negative_row, absolute_row, add_row, subtract_row, multiply_row, divide_row,
                   compare_row, hash_row>(fraction_type_cell);
}

PyResult<const gy::Fraction*> downcast_fraction(PyObject* obj) {
  PyTypeObject* type = type_object<gy::Fraction>();
  if (!type) return raised();
  if (Py_TYPE(obj) != type && !PyObject_TypeCheck(obj, type)) return raise_not_instance(obj, "Fraction");
  return &object_cast<gy::Fraction>(obj)->value;
}

}  // namespace gy::py

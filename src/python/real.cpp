#include "python/real.hpp"

#include <array>
#include <charconv>
#include <cstdint>
#include <string>

#include "parse.hpp"
#include "python/args.hpp"
#include "python/fraction.hpp"

namespace gy::py {

Result<gy::AlgebraicNumber> evaluate_text(std::string_view text) { return evaluate_expr(GY_TRY(parse_expr(text))); }

namespace {

using gy::AlgebraicNumber;

PyResult<AlgebraicNumber> from_int(Call&, Args& a) {
  return AlgebraicNumber::constant(QQ(), PY_TRY(a.get<std::int64_t>(0)));
}

PyResult<AlgebraicNumber> parse(Call&, Args& a) {
  auto text = PY_TRY(a.get<std::string_view>(0));
  return PY_TRY(evaluate_text(text));
}

PyResult<AlgebraicNumber> root(Call&, const AlgebraicNumber& x, Args& a) {
  auto k = PY_TRY(a.get<std::int64_t>(0));
  return PY_TRY(x.root(Int(k)));
}

Result<int> sign(Call&, const AlgebraicNumber& x) { return x.sign(); }
Result<std::pair<gy::Fraction, gy::Fraction>> interval(Call&, const AlgebraicNumber& x) { return x.interval(); }
std::string field(Call&, const AlgebraicNumber& x) { return x.field()->to_string(); }
std::string str(Call&, const AlgebraicNumber& x) { return x.to_string(); }
bool nonzero(Call&, const AlgebraicNumber& x) { return !x.is_zero(); }
Result<double> to_float(Call&, const AlgebraicNumber& x) { return x.to_f64(); }
AlgebraicNumber negative(Call&, const AlgebraicNumber& x) { return x.neg(); }
Result<AlgebraicNumber> absolute(Call&, const AlgebraicNumber& x) { return x.abs(); }

// The shortest decimal that reads back to v, in positional notation: the shortest digits of the
// scientific form, with the point moved into place ("2", "0.5", "1000000000000000000000000000000000000").
std::string positional(double v) {
  std::array<char, 32> buf;
  auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::scientific);
  if (ec != std::errc()) panic("a double's scientific text outgrew its buffer");
  std::string_view text(buf.data(), static_cast<std::size_t>(end - buf.data()));
  std::size_t e = text.find('e');
  if (e == std::string_view::npos) return std::string(text);  // inf, nan
  std::string out;
  std::string_view mantissa = text.substr(0, e);
  if (!mantissa.empty() && mantissa[0] == '-') {
    out += '-';
    mantissa.remove_prefix(1);
  }
  std::string digits;
  for (char ch : mantissa)
    if (ch != '.') digits += ch;
  int exponent = 0;
  std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(), exponent);
  // The value is 0.digits times 10^point.
  long point = static_cast<long>(exponent) + 1;
  auto n = static_cast<long>(digits.size());
  if (point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-point), '0');
    out += digits;
  } else if (point >= n) {
    out += digits;
    out.append(static_cast<std::size_t>(point - n), '0');
  } else {
    out.append(digits, 0, static_cast<std::size_t>(point));
    out += '.';
    out.append(digits, static_cast<std::size_t>(point));
  }
  return out;
}

Result<std::string> repr(Call&, const AlgebraicNumber& x) { return cat("Real(", positional(GY_TRY(x.to_f64())), ")"); }

// Copies of x and y in one common field.
Result<std::array<AlgebraicNumber, 2>> joined(const AlgebraicNumber& x, const AlgebraicNumber& y) {
  std::array<AlgebraicNumber, 2> both{x.clone(), y.clone()};
  GY_CHECK(common_field(both));
  return both;
}

// Both operands must be Reals; anything else is NotImplemented, so the host tries the other side.
template <class Op>
PyResult<Ref> arithmetic(PyObject* a, PyObject* b, Op op) {
  const AlgebraicNumber* x = PY_TRY(borrow_real_argument(a));
  if (!x) return not_implemented();
  const AlgebraicNumber* y = PY_TRY(borrow_real_argument(b));
  if (!y) return not_implemented();
  auto both = PY_TRY(joined(*x, *y));
  return to_py(PY_TRY(op(both[0], both[1])));
}

PyResult<Ref> add(Call&, PyObject* a, PyObject* b) {
  return arithmetic(a, b, [](const AlgebraicNumber& x, const AlgebraicNumber& y) { return x.add(y); });
}
PyResult<Ref> subtract(Call&, PyObject* a, PyObject* b) {
  return arithmetic(a, b, [](const AlgebraicNumber& x, const AlgebraicNumber& y) { return x.sub(y); });
}
PyResult<Ref> multiply(Call&, PyObject* a, PyObject* b) {
  return arithmetic(a, b, [](const AlgebraicNumber& x, const AlgebraicNumber& y) { return x.mul(y); });
}
PyResult<Ref> divide(Call&, PyObject* a, PyObject* b) {
  return arithmetic(a, b, [](const AlgebraicNumber& x, const AlgebraicNumber& y) -> Result<AlgebraicNumber> {
    return x.mul(GY_TRY(y.inverse()));
  });
}

PyResult<Ref> compare(Call&, const AlgebraicNumber& x, PyObject* other, CompareOp op) {
  const AlgebraicNumber* y = PY_TRY(borrow_real_argument(other));
  if (!y) return not_implemented();
  int s = PY_TRY(x.cmp(*y));
  bool r = false;
  switch (op) {
    case CompareOp::lt: r = s < 0; break;
    case CompareOp::le: r = s < 1; break;
    case CompareOp::eq: r = s == 0; break;
    case CompareOp::ne: r = s != 0; break;
    case CompareOp::gt: r = s > 0; break;
    case CompareOp::ge: r = s >= 0; break;
  }
  return to_py(r);
}

constexpr ClassDef real_class{
    "Real",
    "A real algebraic number, held exactly as an element of a number field.\n\n"
    "Arithmetic is exact, and comparisons and signs are always decided correctly, however close two\n"
    "values are. Reals combine only with Reals: make an operand with Real.from_int or Real.parse."};

constexpr ClassMethod from_int_row{"from_int(n)\n--\n\nThe integer n, a rational number.", &from_int};
constexpr ClassMethod parse_row{
    "parse(expr)\n--\n\nThe exact value of an expression such as \"(1+sqrt(5))/2\".", &parse};
constexpr Method root_row{"root($self, k)\n--\n\nThe k-th root, in a larger field where needed.", Borrow::none,
                          &root};
constexpr Method sign_row{"sign($self)\n--\n\n-1, 0 or 1, decided exactly.", Borrow::none, &sign};
constexpr Method interval_row{
    "interval($self)\n--\n\nTwo Fractions (low, high) that certainly enclose the number.", Borrow::none, &interval};
constexpr Property field_row{"field",
                             "The number's field, \"Q(root of {minimal polynomial} in [{low},{high}])\", with the\n"
                             "generator's current isolating interval.",
                             Borrow::none, &field};
constexpr Slot str_row{slot<Py_tp_str>, Borrow::none, &str};
constexpr Slot repr_row{slot<Py_tp_repr>, Borrow::none, &repr};
constexpr Slot float_row{slot<Py_nb_float>, Borrow::none, &to_float};
constexpr Slot bool_row{slot<Py_nb_bool>, Borrow::none, &nonzero};
constexpr Slot negative_row{slot<Py_nb_negative>, Borrow::none, &negative};
constexpr Slot absolute_row{slot<Py_nb_absolute>, Borrow::none, &absolute};
constexpr Slot add_row{slot<Py_nb_add>, Borrow::none, &add};
constexpr Slot subtract_row{slot<Py_nb_subtract>, Borrow::none, &subtract};
constexpr Slot multiply_row{slot<Py_nb_multiply>, Borrow::none, &multiply};
constexpr Slot divide_row{slot<Py_nb_true_divide>, Borrow::none, &divide};
constexpr Slot compare_row{slot<Py_tp_richcompare>, Borrow::none, &compare};

constinit OnceObject real_type_cell;

}  // namespace

template <>
PyTypeObject* type_object<gy::AlgebraicNumber>() {
  return make_type<gy::AlgebraicNumber, real_class, from_int_row, parse_row, root_row, sign_row, interval_row,
                   field_row, str_row, repr_row, float_row, bool_row, negative_row, absolute_row, add_row, subtract_row,
                   multiply_row, divide_row, compare_row>(real_type_cell);
}

PyResult<const gy::AlgebraicNumber*> borrow_real_argument(PyObject* obj) {
  return instance_of<gy::AlgebraicNumber>(obj);
}

}  // namespace gy::py

#include "python/convert.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace gy::py {

PyResult<bool> FromPy<bool>::convert(PyObject* obj) {
  if (obj == Py_True) return true;
  if (obj == Py_False) return false;
  // NumPy's boolean scalar is named numpy.bool (2.x) or numpy.bool_ (1.x).
  const char* name = Py_TYPE(obj)->tp_name;
  if (std::strcmp(name, "numpy.bool") == 0 || std::strcmp(name, "numpy.bool_") == 0) {
    int t = PyObject_IsTrue(obj);
    if (t < 0) return raised();
    return t != 0;
  }
  return raise_not_instance(obj, "bool");
}

PyStatus discard_mismatch() {
  if (!PyErr_Occurred()) return {};
  if (!PyErr_ExceptionMatches(PyExc_Exception) || PyErr_ExceptionMatches(PyExc_MemoryError)) return raised();
  PyErr_Clear();
  return {};
}

PyStatus check_finite(std::string_view name, std::span<const double> values) {
  if (std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); })) return {};
  std::string text;
  if (values.size() == 1) {
    text = cat(values[0]);
  } else {
    text = "(";
    for (std::size_t i = 0; i < values.size(); ++i) text += cat(i ? ", " : "", values[i]);
    text += ")";
  }
  return raise(PyExc_ValueError, cat(name, " must be finite, got ", text));
}

PyResult<double> finite_float(const Args& a, std::size_t i) {
  const double v = PY_TRY(a.get<double>(i));
  PY_TRY(a.noted(check_finite(a.name(i), std::span<const double>(&v, 1)), i));
  return v;
}

PyResult<double> finite_float(const Args& a, std::size_t i, double fallback) {
  const double v = PY_TRY(a.get<double>(i, fallback));
  PY_TRY(a.noted(check_finite(a.name(i), std::span<const double>(&v, 1)), i));
  return v;
}

PyResult<std::optional<double>> finite_float_option(const Args& a, std::size_t i) {
  const std::optional<double> v = PY_TRY(a.opt<double>(i));
  if (v) PY_TRY(a.noted(check_finite(a.name(i), std::span<const double>(&*v, 1)), i));
  return v;
}

PyResult<std::optional<std::array<double, 3>>> finite_vec3_option(const Args& a, std::size_t i) {
  const std::optional<std::array<double, 3>> v = PY_TRY(a.opt<std::array<double, 3>>(i));
  if (v) PY_TRY(a.noted(check_finite(a.name(i), *v), i));
  return v;
}

namespace {
constinit OnceObject abc_sequence_cell;
}

PyResult<bool> is_sequence(PyObject* obj) {
  if (PySequence_Check(obj)) return true;
  PyObject* abc = abc_sequence_cell.get([]() -> PyObject* {
    Ref module = Ref::steal(PyImport_ImportModule("collections.abc"));
    return module ? PyObject_GetAttrString(module.get(), "Sequence") : nullptr;
  });
  if (!abc) return raised();
  int r = PyObject_IsInstance(obj, abc);
  if (r < 0) return raised();
  return r != 0;
}

namespace detail {

PyResult<PyObject*> exact_tuple(PyObject* obj, std::size_t length) {
  if (!PyTuple_Check(obj)) return raise_not_instance(obj, "tuple");
  auto n = static_cast<std::size_t>(PyTuple_GET_SIZE(obj));
  if (n != length)
    return raise(PyExc_ValueError, cat("expected tuple of length ", length, ", but got tuple of length ", n));
  return obj;
}

Ref tuple_of(std::initializer_list<PyObject*> items) {
  Ref t = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
  if (!t) return {};
  Py_ssize_t i = 0;
  for (PyObject* item : items) PyTuple_SET_ITEM(t.get(), i++, Py_NewRef(item));
  return t;
}

}  // namespace detail
}  // namespace gy::py

// The standard argument converters (FromPy) and result conversions (ToPy) of the calling frame.
//
// A class of the module adds its own by specialising FromPy<T> / ToPy<T> next to its type, or by
// a converter function PyResult<X>(PyObject*) passed to Args::get_with. Converters for recipes,
// shapes and exact numbers (recipe_argument, shapes_argument, exact_number_argument) are in
// args.hpp; the downcast_* tests sit with their classes.
#pragma once

#include "python/frame.hpp"

#include <array>
#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace gy::py {

// ---------------------------------------------------------------------------------------------
// From Python

// Whole numbers. 64-bit types report the host's own errors; narrower ones raise OverflowError
// "out of range integral type conversion attempted" for a value that fits 64 bits but not them.
template <std::integral T>
  requires(!std::same_as<T, bool>)
struct FromPy<T> {
  static PyResult<T> convert(PyObject* obj) {
    if constexpr (std::is_unsigned_v<T> && sizeof(T) == 8) {
      Ref index = Ref::steal(PyNumber_Index(obj));
      if (!index) return raised();
      unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
      if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return raised();
      return static_cast<T>(v);
    } else {
      long long v = PyLong_AsLongLong(obj);
      if (v == -1 && PyErr_Occurred()) return raised();
      if (!std::in_range<T>(v)) return raise(PyExc_OverflowError, "out of range integral type conversion attempted");
      return static_cast<T>(v);
    }
  }
};

// A flag: True or False, or a NumPy boolean scalar; nothing else (not even the int 1).
template <>
struct FromPy<bool> {
  static PyResult<bool> convert(PyObject* obj);
};

// A float directly, anything else through the host's float conversion.
template <>
struct FromPy<double> {
  static PyResult<double> convert(PyObject* obj) {
    if (PyFloat_CheckExact(obj)) return PyFloat_AS_DOUBLE(obj);
    double v = PyFloat_AsDouble(obj);
    if (v == -1.0 && PyErr_Occurred()) return raised();
    return v;
  }
};
template <>
struct FromPy<float> {
  static PyResult<float> convert(PyObject* obj) {
    auto v = FromPy<double>::convert(obj);
    if (!v) return raised();
    return static_cast<float>(*v);
  }
};

// A str, as its UTF-8 text; the view lives as long as the object (the call's argument).
template <>
struct FromPy<std::string_view> {
  static PyResult<std::string_view> convert(PyObject* obj) {
    if (!PyUnicode_Check(obj)) return raise_not_instance(obj, "str");
    Py_ssize_t n = 0;
    const char* s = PyUnicode_AsUTF8AndSize(obj, &n);
    if (!s) return raised();
    return std::string_view(s, static_cast<std::size_t>(n));
  }
};
template <>
struct FromPy<std::string> {
  static PyResult<std::string> convert(PyObject* obj) {
    auto v = FromPy<std::string_view>::convert(obj);
    if (!v) return raised();
    return std::string(*v);
  }
};

// Any object, as a new reference.
template <>
struct FromPy<Ref> {
  static PyResult<Ref> convert(PyObject* obj) { return Ref::borrow(obj); }
};

// None gives nullopt.
template <class T>
struct FromPy<std::optional<T>> {
  static PyResult<std::optional<T>> convert(PyObject* obj) {
    if (obj == Py_None) return std::optional<T>();
    auto v = FromPy<T>::convert(obj);
    if (!v) return raised();
    return std::optional<T>(std::move(*v));
  }
};

// After a reader that tries one form of an argument failed with an exception set: clears it when it
// only says that the object is not of that form, an ordinary Exception, so that the next form may
// be tried. MemoryError and the BaseExceptions that are not Exceptions (KeyboardInterrupt,
// SystemExit, GeneratorExit, PanicException) are the caller's own and stay set: raised() comes back,
// to be passed on as they are. Nothing set is nothing to clear.
PyStatus discard_mismatch();

// The host's sequence protocol or collections.abc.Sequence; false without an exception when not.
PyResult<bool> is_sequence(PyObject* obj);

// At most this many items are reserved ahead from a sequence's own length hint.
inline constexpr std::size_t max_reserve_hint = 4096;

// Items of any sequence except a str, each converted by item(PyObject*) -> PyResult<X>.
template <class X, class F>
PyResult<std::vector<X>> vec_from_sequence(PyObject* obj, F&& item) {
  if (PyUnicode_Check(obj)) return raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
  bool seq = PY_TRY(is_sequence(obj));
  if (!seq) return raise_not_instance(obj, "Sequence");
  std::vector<X> out;
  Py_ssize_t hint = PySequence_Size(obj);
  if (hint < 0)
    PY_TRY(discard_mismatch());
  else
    out.reserve(std::min(static_cast<std::size_t>(hint), max_reserve_hint));
  Ref it = Ref::steal(PyObject_GetIter(obj));
  if (!it) return raised();
  while (Ref x = Ref::steal(PyIter_Next(it.get()))) {
    auto v = item(x.get());
    if (!v) return raised();
    out.push_back(std::move(*v));
  }
  if (PyErr_Occurred()) return raised();
  return out;
}

template <class T>
struct FromPy<std::vector<T>> {
  static PyResult<std::vector<T>> convert(PyObject* obj) {
    return vec_from_sequence<T>(obj, [](PyObject* x) { return FromPy<T>::convert(x); });
  }
};

namespace detail {
PyResult<PyObject*> exact_tuple(PyObject* obj, std::size_t length);
}

// A tuple of exactly the right length, its items converted in order.
template <class... T>
struct FromPy<std::tuple<T...>> {
  static PyResult<std::tuple<T...>> convert(PyObject* obj) {
    PyObject* t = PY_TRY(detail::exact_tuple(obj, sizeof...(T)));
    return [&]<std::size_t... I>(std::index_sequence<I...>) -> PyResult<std::tuple<T...>> {
      std::tuple<std::optional<T>...> parts;
      bool ok = true;
      ((ok = ok && [&] {
          auto v = FromPy<T>::convert(PyTuple_GET_ITEM(t, I));
          if (v) std::get<I>(parts).emplace(std::move(*v));
          return v.has_value();
        }()),
       ...);
      if (!ok) return raised();
      return std::tuple<T...>(std::move(*std::get<I>(parts))...);
    }(std::index_sequence_for<T...>{});
  }
};

template <class T, std::size_t N>
struct FromPy<std::array<T, N>> {
  static PyResult<std::array<T, N>> convert(PyObject* obj) {
    PyObject* t = PY_TRY(detail::exact_tuple(obj, N));
    std::array<T, N> out{};
    for (std::size_t i = 0; i < N; ++i) out[i] = PY_TRY(FromPy<T>::convert(PyTuple_GET_ITEM(t, i)));
    return out;
  }
};

// The named readers of the layout and batch classes.
inline PyResult<std::uint64_t> extract_usize(PyObject* o) { return FromPy<std::uint64_t>::convert(o); }
inline PyResult<std::uint32_t> extract_u32(PyObject* o) { return FromPy<std::uint32_t>::convert(o); }
inline PyResult<std::vector<std::uint32_t>> extract_u32_list(PyObject* o) {
  return FromPy<std::vector<std::uint32_t>>::convert(o);
}
inline PyResult<bool> extract_flag(PyObject* o) { return FromPy<bool>::convert(o); }
inline PyResult<std::string_view> extract_text(PyObject* o) { return FromPy<std::string_view>::convert(o); }
inline PyResult<double> extract_float(PyObject* o) { return FromPy<double>::convert(o); }
// (red, green, blue, alpha), each 0..255.
inline PyResult<std::array<std::uint8_t, 4>> extract_rgba(PyObject* o) {
  return FromPy<std::array<std::uint8_t, 4>>::convert(o);
}
inline PyResult<std::array<double, 3>> extract_vec3(PyObject* o) { return FromPy<std::array<double, 3>>::convert(o); }

// ---------------------------------------------------------------------------------------------
// Finite numbers: camera values and pointer coordinates, which drawing and picking cannot use
// when they are NaN or infinite. Each refusal is ValueError "{name} must be finite, got {value}",
// the value a number or a tuple "(x, y, z)", with the argument's note.

// A name known when compiling, to name a property's value in its refusal.
template <std::size_t N>
struct ValueName {
  char text[N]{};
  consteval ValueName(const char (&s)[N]) {
    for (std::size_t i = 0; i < N; ++i) text[i] = s[i];
  }
  constexpr std::string_view view() const { return {text, N - 1}; }
};

// ValueError "{name} must be finite, got {values}" unless every value is finite.
PyStatus check_finite(std::string_view name, std::span<const double> values);

// A float argument that must be finite (required, with a fallback when absent, or None/absent
// giving nullopt).
PyResult<double> finite_float(const Args& a, std::size_t i);
PyResult<double> finite_float(const Args& a, std::size_t i, double fallback);
PyResult<std::optional<double>> finite_float_option(const Args& a, std::size_t i);
// A tuple of three floats that must be finite, or None/absent giving nullopt.
PyResult<std::optional<std::array<double, 3>>> finite_vec3_option(const Args& a, std::size_t i);

// A property's new value: a float, or a tuple of three, that must be finite.
template <ValueName Name>
struct FiniteFloat {
  double value;
};
template <ValueName Name>
struct FiniteVec3 {
  std::array<double, 3> value;
};
template <ValueName Name>
struct FromPy<FiniteFloat<Name>> {
  static PyResult<FiniteFloat<Name>> convert(PyObject* obj) {
    const double v = PY_TRY(FromPy<double>::convert(obj));
    PY_TRY(check_finite(Name.view(), std::span<const double>(&v, 1)));
    return FiniteFloat<Name>{v};
  }
};
template <ValueName Name>
struct FromPy<FiniteVec3<Name>> {
  static PyResult<FiniteVec3<Name>> convert(PyObject* obj) {
    const std::array<double, 3> v = PY_TRY((FromPy<std::array<double, 3>>::convert(obj)));
    PY_TRY(check_finite(Name.view(), v));
    return FiniteVec3<Name>{v};
  }
};

// ---------------------------------------------------------------------------------------------
// To Python

inline Ref none() { return Ref::borrow(Py_None); }
inline Ref not_implemented() { return Ref::borrow(Py_NotImplemented); }

template <>
struct ToPy<Ref> {
  static Ref convert(Ref r) { return r; }
};
template <>
struct ToPy<bool> {
  static Ref convert(bool b) { return Ref::borrow(b ? Py_True : Py_False); }
};
template <std::integral T>
  requires(!std::same_as<T, bool>)
struct ToPy<T> {
  static Ref convert(T v) {
    if constexpr (std::is_signed_v<T>)
      return Ref::steal(PyLong_FromLongLong(v));
    else
      return Ref::steal(PyLong_FromUnsignedLongLong(v));
  }
};
template <std::floating_point T>
struct ToPy<T> {
  static Ref convert(T v) { return Ref::steal(PyFloat_FromDouble(static_cast<double>(v))); }
};
template <>
struct ToPy<std::string_view> {
  static Ref convert(std::string_view s) {
    return Ref::steal(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
  }
};
template <>
struct ToPy<std::string> {
  static Ref convert(const std::string& s) { return ToPy<std::string_view>::convert(s); }
};
template <>
struct ToPy<const char*> {
  static Ref convert(const char* s) { return ToPy<std::string_view>::convert(s); }
};
template <class T>
struct ToPy<std::optional<T>> {
  template <class O>
  static Ref convert(O&& o) {
    if (!o) return none();
    return to_py(*std::forward<O>(o));
  }
};
template <class T, class A>
struct ToPy<std::vector<T, A>> {
  template <class V>
  static Ref convert(V&& v) {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(v.size())));
    if (!list) return {};
    for (std::size_t i = 0; i < v.size(); ++i) {
      Ref item = std::is_rvalue_reference_v<V&&> ? to_py(std::move(v[i])) : to_py(v[i]);
      if (!item) return {};
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return list;
  }
};

namespace detail {
// A tuple of converted items; null when any is null.
Ref tuple_of(std::initializer_list<PyObject*> items);
template <class... R>
Ref tuple_from_refs(R... refs) {
  if (!(static_cast<bool>(refs) && ...)) return {};
  return tuple_of({refs.get()...});
}
}  // namespace detail

template <class... T>
struct ToPy<std::tuple<T...>> {
  template <class U>
  static Ref convert(U&& t) {
    return std::apply([](auto&&... x) { return detail::tuple_from_refs(to_py(std::forward<decltype(x)>(x))...); },
                      std::forward<U>(t));
  }
};
template <class A, class B>
struct ToPy<std::pair<A, B>> {
  template <class U>
  static Ref convert(U&& p) {
    return detail::tuple_from_refs(to_py(std::forward<U>(p).first), to_py(std::forward<U>(p).second));
  }
};
template <class T, std::size_t N>
struct ToPy<std::array<T, N>> {
  static Ref convert(const std::array<T, N>& a) {
    return [&]<std::size_t... I>(std::index_sequence<I...>) { return detail::tuple_from_refs(to_py(a[I])...); }(
        std::make_index_sequence<N>{});
  }
};

}  // namespace gy::py

// Fraction: the Python class of an exact rational, an immutable shell over gy::Fraction.
//
// to_py(gy::Fraction) makes a new Fraction object; FromPy<gy::Fraction> accepts only a Fraction
// object (of the class or a subclass) and copies its value.
#pragma once

#include "num/fraction.hpp"
#include "python/frame.hpp"

namespace gy::py {

template <>
inline constexpr bool frozen_class<gy::Fraction> = true;

template <>
PyTypeObject* type_object<gy::Fraction>();

// The value of obj when it is a Fraction object; TypeError "'{}' object is not an instance of
// 'Fraction'" otherwise. The pointer lives as long as obj.
PyResult<const gy::Fraction*> downcast_fraction(PyObject* obj);

template <>
struct FromPy<gy::Fraction> {
  static PyResult<gy::Fraction> convert(PyObject* obj) {
    auto f = downcast_fraction(obj);
    if (!f) return raised();
    return **f;
  }
};

template <>
struct ToPy<gy::Fraction> {
  static Ref convert(gy::Fraction value) { return new_object<gy::Fraction>(std::move(value)); }
};

}  // namespace gy::py

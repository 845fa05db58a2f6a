// Real: the Python class of an exact real algebraic number, an immutable shell over
// gy::AlgebraicNumber. A gy::AlgebraicNumber returned by a body becomes a new Real object.
#pragma once

#include <string_view>

#include "exact.hpp"
#include "python/frame.hpp"

namespace gy::py {

template <>
inline constexpr bool frozen_class<gy::AlgebraicNumber> = true;

template <>
PyTypeObject* type_object<gy::AlgebraicNumber>();

// The number of obj when it is a Real object, null (no exception) when it is not; raised only
// when the class cannot be made. The pointer lives as long as obj.
PyResult<const gy::AlgebraicNumber*> borrow_real_argument(PyObject* obj);

// An expression text read and evaluated exactly.
Result<gy::AlgebraicNumber> evaluate_text(std::string_view text);

}  // namespace gy::py

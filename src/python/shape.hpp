// Shape: the Python class of one shell or cut, an immutable shell over gy::Shape. A gy::Shape
// returned by a body becomes a new Shape object.
#pragma once

#include <cstdint>
#include <string_view>

#include "parse.hpp"
#include "python/frame.hpp"

namespace gy::py {

template <>
inline constexpr bool frozen_class<gy::Shape> = true;

template <>
PyTypeObject* type_object<gy::Shape>();

// The value of obj when it is a Shape object; TypeError "'{}' object is not an instance of 'Shape'"
// otherwise. The pointer lives as long as obj.
PyResult<const gy::Shape*> downcast_shape(PyObject* obj);

// The hash of a value printed as text: SipHash-1-3 under the zero key of its bytes and one 0xFF.
std::uint64_t text_hash(std::string_view text);

}  // namespace gy::py

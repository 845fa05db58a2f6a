// Recipe: the Python class of a puzzle's shell and cuts, an immutable shell over gy::Recipe. A
// gy::Recipe returned by a body becomes a new Recipe object.
#pragma once

#include "parse.hpp"
#include "python/frame.hpp"

namespace gy::py {

template <>
inline constexpr bool frozen_class<gy::Recipe> = true;

template <>
PyTypeObject* type_object<gy::Recipe>();

// The value of obj when it is a Recipe object; TypeError "'{}' object is not an instance of
// 'Recipe'" otherwise. The pointer lives as long as obj.
PyResult<const gy::Recipe*> downcast_recipe(PyObject* obj);

}  // namespace gy::py

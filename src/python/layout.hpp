// The Python Layout class over the core record gy::Layout, and the converter with which other
// classes take a Layout argument.
#pragma once

#include "../layout.hpp"
#include "python/frame.hpp"

namespace gy::py {

template <>
PyTypeObject* type_object<gy::Layout>();

// Created once per process on first use.
PyTypeObject* layout_type_object();

// The Layout record of an argument, held shared until the returned value goes. Anything else raises
// TypeError with the note "while processing 'layout'". A Layout is never held exclusively, so the
// hold itself cannot fail.
PyResult<Shared<gy::Layout>> borrow_layout_argument(PyObject* obj);

}  // namespace gy::py

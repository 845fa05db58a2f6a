// The Python Layout class: its type object. The class's record, methods and the borrowing
// converter of its arguments (borrow_layout_argument) join with the layout engine.
#pragma once

#include "python/frame.hpp"

namespace gy::py {

// Created once per process on first use.
PyTypeObject* layout_type_object();

}  // namespace gy::py

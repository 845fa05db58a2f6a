// Module functions that read the built-in tables and the worker pool: catalog, polyhedra,
// thread_count and non_jumbling. Each maker returns the function object bound to the module.
#pragma once

#include "python/frame.hpp"

namespace gy::py {

Ref catalog_function(PyObject* module);
Ref polyhedra_function(PyObject* module);
Ref thread_count_function(PyObject* module);
Ref non_jumbling_function(PyObject* module);

}  // namespace gy::py

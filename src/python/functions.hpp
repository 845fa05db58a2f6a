// Module functions: the built-in tables (catalog, polyhedra, non_jumbling), exact evaluation
// (evaluate), factoring of integer polynomials (factor_polynomial), the worker pool (thread_count)
// and the jumbling test (jumbles). Each maker returns the function object bound to the module.
#pragma once

#include "python/frame.hpp"

namespace gy::py {

Ref catalog_function(PyObject* module);
Ref polyhedra_function(PyObject* module);
Ref evaluate_function(PyObject* module);
Ref factor_polynomial_function(PyObject* module);
Ref thread_count_function(PyObject* module);
// In many.cpp: building and rendering several puzzles at once.
Ref build_many_function(PyObject* module);
Ref render_many_function(PyObject* module);
Ref jumbles_function(PyObject* module);
Ref non_jumbling_function(PyObject* module);

}  // namespace gy::py

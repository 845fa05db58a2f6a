// The extension module gyrelle._native: its definition and the execution step that fills it.
#include "python/array.hpp"
#include "python/batch.hpp"
#include "python/convert.hpp"
#include "python/fraction.hpp"
#include "python/frame.hpp"
#include "python/functions.hpp"
#include "python/grip.hpp"
#include "python/image.hpp"
#include "python/layout.hpp"
#include "python/puzzle.hpp"
#include "python/real.hpp"
#include "python/recipe.hpp"
#include "python/shape.hpp"
#include "python/testing.hpp"

#ifndef GYRELLE_VERSION
#define GYRELLE_VERSION "0.1.1"
#endif

namespace gy::py {
namespace {

// Appends name to the module's __all__ (made when missing) and sets the attribute.
PyStatus add(PyObject* module, const char* name, Ref value) {
  if (!value) return raised();
  Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return raised();
    PyErr_Clear();
    all = Ref::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return raised();
  }
  Ref key = Ref::steal(PyUnicode_FromString(name));
  if (!key || PyList_Append(all.get(), key.get()) < 0) return raised();
  if (PyObject_SetAttr(module, key.get(), value.get()) < 0) return raised();
  return {};
}

PyStatus add_type(PyObject* module, const char* name, PyTypeObject* type) {
  if (!type) return raised();
  return add(module, name, Ref::borrow(reinterpret_cast<PyObject*>(type)));
}

PyStatus fill(PyObject* m) {
  if (!PyModule_Check(m)) return raise_not_instance(m, "module");
  PY_TRY(add(m, "__version__", to_py(GYRELLE_VERSION)));
  PyObject* puzzle_error = puzzle_error_type();
  if (!puzzle_error) return raised();
  PY_TRY(add(m, "PuzzleError", Ref::borrow(puzzle_error)));

  // Classes, in their order.
  PY_TRY(add_type(m, "Fraction", type_object<gy::Fraction>()));
  PY_TRY(add_type(m, "Real", type_object<gy::AlgebraicNumber>()));
  PY_TRY(add_type(m, "Image", type_object<Image>()));
  PY_TRY(add_type(m, "Puzzle", type_object<gy::Simulator>()));
  PY_TRY(add_type(m, "Shape", type_object<gy::Shape>()));
  PY_TRY(add_type(m, "Recipe", type_object<gy::Recipe>()));
  PY_TRY(add_type(m, "Grip", type_object<GripSnapshot>()));
  PY_TRY(add_type(m, "PuzzleBatch", batch_type_object()));
  PY_TRY(add_type(m, "Array", type_object<Array>()));
  PY_TRY(add_type(m, "Layout", layout_type_object()));

  // Functions, in their order.
  PY_TRY(add(m, "catalog", catalog_function(m)));
  PY_TRY(add(m, "polyhedra", polyhedra_function(m)));
  PY_TRY(add(m, "evaluate", evaluate_function(m)));
  PY_TRY(add(m, "factor_polynomial", factor_polynomial_function(m)));
  PY_TRY(add(m, "build_many", build_many_function(m)));
  PY_TRY(add(m, "render_many", render_many_function(m)));
  PY_TRY(add(m, "thread_count", thread_count_function(m)));
  PY_TRY(add(m, "jumbles", jumbles_function(m)));
  PY_TRY(add(m, "non_jumbling", non_jumbling_function(m)));

  PY_TRY(add(m, "free_threaded", Ref::borrow(Py_True)));

  // Hooks for the test suite; not part of __all__.
  Ref testing = make_testing_module();
  if (!testing || PyObject_SetAttrString(m, "_testing", testing.get()) < 0) return raised();
  return {};
}

int exec_module(PyObject* m) {
  return detail::guarded<int>(-1, [&] { return fill(m) ? 0 : -1; });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
#if PY_VERSION_HEX >= 0x030C0000
    // The type and exception objects are process-wide, so one interpreter per process.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
    {0, nullptr}};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_native",
    "`gil_used = false` tells CPython this module does not need the global\n"
    "interpreter lock. Without it a free-threaded interpreter re-enables the GIL\n"
    "the moment the module is imported, which would undo the point of the build.\n"
    "Nothing here relies on the GIL for synchronization: the shared state is a\n"
    "number field, and its only mutable part sits behind its own lock.",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr};

}  // namespace
}  // namespace gy::py

PyMODINIT_FUNC PyInit__native() { return PyModuleDef_Init(&gy::py::module_def); }

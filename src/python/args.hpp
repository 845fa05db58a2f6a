// Converters of the module's own argument forms: a recipe as a Recipe, a query text or a catalog
// name; shells and cuts as Shapes, shape texts or sequences of either; exact numbers as text,
// integers or Fractions; the operands of Real arithmetic. Each returns a PyResult with its
// exception set; Args::get_with (or Args::noted) attaches the argument's name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "parse.hpp"
#include "python/frame.hpp"
#include "python/real.hpp"
#include "python/shape.hpp"

namespace gy::py {

// The record of obj when it is an object of T's class or of a subclass, null when it is not.
// Raised only when T's type object cannot be made. For frozen classes, which need no borrow.
template <class T>
PyResult<const T*> instance_of(PyObject* obj) {
  static_assert(frozen_class<T>, "a class with a borrow flag is read through borrow_shared");
  PyTypeObject* type = type_object<T>();
  if (!type) return raised();
  if (Py_TYPE(obj) != type && !PyObject_TypeCheck(obj, type)) return static_cast<const T*>(nullptr);
  return &object_cast<T>(obj)->value;
}

// Recipe query text: a Recipe is printed; a text that starts with "?" is taken unchanged; any other
// text is a catalog name (ValueError when no row or several rows carry it).
PyResult<std::string> recipe_argument(PyObject* obj);

// One entry of a list of recipes: its query text, and its own text (str) to name it in errors.
struct RecipeEntry {
  std::string query;
  std::string label;
};
PyResult<RecipeEntry> recipe_list_entry(PyObject* obj);
// Every entry of a sequence (not a str) of recipes, in order; the first failure ends it.
PyResult<std::vector<RecipeEntry>> recipe_list(PyObject* obj);

// A shell or cut list: absent or None is empty; a Shape or a shape text is one shape; otherwise an
// iterable of Shapes and shape texts. `name` ("shell", "cuts") goes into the messages.
PyResult<std::vector<gy::Shape>> shapes_argument(PyObject* obj, std::string_view name);

// A sequence (not a str) of Shape objects, each copied; shape texts are not accepted.
PyResult<std::vector<gy::Shape>> shape_sequence(PyObject* obj);

// An exact number as an expression tree: a Fraction as "{num}/{den}", a str as written, an
// integer in the signed 64-bit range as its decimal text; the text is then parsed.
PyResult<Expr> exact_number_argument(PyObject* obj);

}  // namespace gy::py

#include "python/args.hpp"

#include "catalog.hpp"
#include "python/fraction.hpp"
#include "python/recipe.hpp"
#include "python/shape.hpp"

namespace gy::py {

PyResult<std::string> recipe_argument(PyObject* obj) {
  if (const gy::Recipe* r = PY_TRY(instance_of<gy::Recipe>(obj))) return PY_TRY(recipe_to_query(*r));
  if (PyUnicode_Check(obj)) {
    auto text = PY_TRY(FromPy<std::string_view>::convert(obj));
    auto query = resolve_recipe_text(text);
    if (!query) return raise(PyExc_ValueError, query.error().message);
    return std::move(*query);
  }
  return raise(PyExc_TypeError,
               cat("expected a recipe query string, a catalog name or a Recipe, not ", type_name(obj)));
}

PyResult<RecipeEntry> recipe_list_entry(PyObject* obj) {
  RecipeEntry e{PY_TRY(recipe_argument(obj)), {}};
  Ref text = Ref::steal(PyObject_Str(obj));
  if (!text) return raised();
  e.label = PY_TRY(FromPy<std::string>::convert(text.get()));
  return e;
}

PyResult<std::vector<RecipeEntry>> recipe_list(PyObject* obj) {
  return vec_from_sequence<RecipeEntry>(obj, recipe_list_entry);
}

namespace {

PyResult<gy::Shape> shape_from_text(PyObject* obj) {
  auto text = PY_TRY(FromPy<std::string_view>::convert(obj));
  return PY_TRY(parse_shape(text));
}

}  // namespace

PyResult<std::vector<gy::Shape>> shapes_argument(PyObject* obj, std::string_view name) {
  std::vector<gy::Shape> out;
  if (!obj || obj == Py_None) return out;
  if (const gy::Shape* s = PY_TRY(instance_of<gy::Shape>(obj))) {
    out.push_back(*s);
    return out;
  }
  if (PyUnicode_Check(obj)) {
    out.push_back(PY_TRY(shape_from_text(obj)));
    return out;
  }
  // The test PyObject_GetIter makes, so that errors raised by iterating pass through unchanged.
  if (!Py_TYPE(obj)->tp_iter && !PySequence_Check(obj))
    return raise(PyExc_TypeError, cat(name, " must be a Shape, its text, or a sequence of either"));
  Ref it = Ref::steal(PyObject_GetIter(obj));
  if (!it) return raised();
  while (Ref item = Ref::steal(PyIter_Next(it.get()))) {
    if (const gy::Shape* s = PY_TRY(instance_of<gy::Shape>(item.get())))
      out.push_back(*s);
    else if (PyUnicode_Check(item.get()))
      out.push_back(PY_TRY(shape_from_text(item.get())));
    else
      return raise(PyExc_TypeError, cat(name, " must hold Shapes or their text, not ", type_name(item.get())));
  }
  if (PyErr_Occurred()) return raised();
  return out;
}

PyResult<std::vector<gy::Shape>> shape_sequence(PyObject* obj) {
  return vec_from_sequence<gy::Shape>(obj, [](PyObject* item) -> PyResult<gy::Shape> {
    return *PY_TRY(downcast_shape(item));
  });
}

PyResult<Expr> exact_number_argument(PyObject* obj) {
  std::string text;
  if (const gy::Fraction* f = PY_TRY(instance_of<gy::Fraction>(obj))) {
    text = cat(f->num().to_string(), "/", f->den().to_string());
  } else if (PyUnicode_Check(obj)) {
    text = PY_TRY(FromPy<std::string>::convert(obj));
  } else {
    auto n = FromPy<std::int64_t>::convert(obj);
    if (!n) {
      PY_TRY(discard_mismatch());
      return raise(PyExc_TypeError, cat("expected an expression as text, an integer or a Fraction, not ", type_name(obj)));
    }
    text = cat(*n);
  }
  return PY_TRY(parse_expr(text));
}

}  // namespace gy::py

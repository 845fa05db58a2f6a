#include "python/functions.hpp"

#include <array>
#include <string_view>

#include "catalog.hpp"
#include "polyhedra.hpp"
#include "pool.hpp"

namespace gy::py {
namespace {

// The recipes of the cataloged puzzles that do not jumble, in catalog order.
constexpr std::array<std::string_view, 36> kNonJumbling{
    "?shell=T$1&cut=T$0",
    "?shell=T$1&cut=T$-1/3",
    "?shell=T$1&cut=T$-1/3&cut=T$-5/3",
    "?shell=T$1&cut=T$-7/12",
    "?shell=T$1&cut=T$-2&cut=T$-1&cut=T$0",
    "?shell=C$1&cut=C$0",
    "?shell=C$1&cut=C$1/3",
    "?shell=C$1&cut=C$0&cut=C$1/2",
    "?shell=C$1&cut=C$1/5&cut=C$3/5",
    "?shell=C$1&cut=C$0&cut=C$1/3&cut=C$2/3",
    "?shell=C$1&cut=C$1/7&cut=C$3/7&cut=C$5/7",
    "?shell=C$sqrt(2)/3&cut=O$0",
    "?shell=C$sqrt(2)/3&cut=O$1/6",
    "?shell=C$sqrt(2)/3&cut=O$1/3",
    "?shell=C$sqrt(2)/3&cut=O$1/2",
    "?shell=O$1&cut=O$0",
    "?shell=O$1&cut=O$1/3",
    "?shell=O$1&cut=O$1/2",
    "?shell=O$1&cut=O$0&cut=O$1/2",
    "?shell=O$1&cut=O$1/5&cut=O$3/5",
    "?shell=O$sqrt(2)/2&cut=C$0",
    "?shell=O$sqrt(2)/2&cut=C$1/3",
    "?shell=O$sqrt(2)/2&cut=C$1/3&cut=C$2/3",
    "?shell=D$1&cut=D$0",
    "?shell=D$1&cut=D$sqrt(5)-2",
    "?shell=D$1&cut=D$1/sqrt(5)",
    "?shell=D$1&cut=D$2/(sqrt(5)+1)",
    "?shell=D$1&cut=I$(5-sqrt(5))/2",
    "?shell=I$sqrt(5)+2&cut=D$0",
    "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/10",
    "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/6",
    "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/4",
    "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/2",
    "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/2+1/2",
    "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/2+2/3",
    "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/2+2/3&cut=D$(sqrt(5)+1)/2+4/3",
};

Ref catalog_body(Call&) {
  auto rows = gy::catalog();
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(rows.size())));
  if (!list) return {};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const CatalogEntry& e = rows[i];
    Ref row = to_py(std::tuple(e.name, e.family, e.kind, e.recipe));
    if (!row) return {};
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), row.release());
  }
  return list;
}

std::vector<std::pair<std::string_view, std::string_view>> polyhedra_body(Call&) { return polyhedron_names(); }

std::size_t thread_count_body(Call&) { return pool::thread_count(); }

Ref non_jumbling_body(Call&) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(kNonJumbling.size())));
  if (!list) return {};
  for (std::size_t i = 0; i < kNonJumbling.size(); ++i) {
    Ref text = to_py(kNonJumbling[i]);
    if (!text) return {};
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), text.release());
  }
  return list;
}

constexpr Function catalog_row{
    "catalog()\n--\n\n"
    "Every cataloged puzzle as a (name, family, kind, recipe) tuple, in catalog order. Names are not\n"
    "unique; the recipe is a query string that builds the puzzle.",
    &catalog_body};

constexpr Function polyhedra_row{
    "polyhedra()\n--\n\n"
    "Every polyhedron of the built-in table as a (code, name) tuple, in table order. The code is what\n"
    "a shape text names, as in \"C$1\" for the cube.",
    &polyhedra_body};

constexpr Function thread_count_row{
    "thread_count()\n--\n\n"
    "The number of threads of the worker pool. The pool is created on first use, sized from\n"
    "RAYON_NUM_THREADS (a positive integer) or else the CPUs this process may use.",
    &thread_count_body};

constexpr Function non_jumbling_row{
    "non_jumbling()\n--\n\n"
    "The recipes of the cataloged puzzles that do not jumble, in catalog order: those whose moves\n"
    "always bring every sticker slot to another slot.",
    &non_jumbling_body};

}  // namespace

Ref catalog_function(PyObject* module) { return make_function<catalog_row>(module); }
Ref polyhedra_function(PyObject* module) { return make_function<polyhedra_row>(module); }
Ref thread_count_function(PyObject* module) { return make_function<thread_count_row>(module); }
Ref non_jumbling_function(PyObject* module) { return make_function<non_jumbling_row>(module); }

}  // namespace gy::py

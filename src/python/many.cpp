// build_many and render_many: the work of many puzzles in one call, one task per entry on the worker
// pool with the interpreter released, results in entry order, the first failed entry (in list
// order) raised with its own text in front.
#include <string>
#include <vector>

#include "pool.hpp"
#include "python/args.hpp"
#include "python/functions.hpp"
#include "python/image.hpp"
#include "python/puzzle.hpp"
#include "simulator.hpp"

namespace gy::py {
namespace {

std::vector<std::string> queries_of(const std::vector<RecipeEntry>& entries) {
  std::vector<std::string> out;
  out.reserve(entries.size());
  for (const RecipeEntry& e : entries) out.push_back(e.query);
  return out;
}

// The first failed result in entry order, raised with its entry's text; nullptr when none failed.
template <class T>
const Error* first_failure(const std::vector<Result<T>>& results, std::size_t& at) {
  for (at = 0; at < results.size(); ++at)
    if (!results[at]) return &results[at].error();
  return nullptr;
}

// A list of new objects made from the values of results, in order.
template <class T>
PyResult<Ref> list_of(std::vector<Result<T>>& results) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(results.size())));
  if (!list) return raised();
  for (std::size_t i = 0; i < results.size(); ++i) {
    Ref item = to_py(std::move(*results[i]));
    if (!item) return raised();
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
  }
  return list;
}

PyResult<Ref> build_many(Call& c, Args& a) {
  std::vector<RecipeEntry> entries = PY_TRY(a.get_with(0, recipe_list));
  const std::vector<std::string> queries = queries_of(entries);
  std::vector<Result<gy::Simulator>> built = c.detached([&] { return build_simulators(queries); });
  std::size_t at = 0;
  if (const Error* e = first_failure(built, at)) {
    PyErr err = error_text(*e, entries[at].label);
    c.detached([&] { built.clear(); });
    return err.raise();
  }
  return list_of(built);
}

constexpr Function build_many_row{
    "build_many(recipes)\n--\n\n"
    "Build several puzzles at once, one per worker thread.\n\n"
    "Each entry is a Recipe, a recipe query string or a catalog name. The interpreter is released for\n"
    "the whole batch, so other Python threads keep running. Returns one Puzzle per entry, in order;\n"
    "when entries fail, the error of the first of them in the list is raised, its text in front.",
    &build_many, Release::yes};

}  // namespace

Ref build_many_function(PyObject* module) { return make_function<build_many_row>(module); }

}  // namespace gy::py

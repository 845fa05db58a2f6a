#include "python/recipe.hpp"

#include <string>
#include <vector>

#include "catalog.hpp"
#include "python/args.hpp"
#include "python/puzzle.hpp"
#include "python/shape.hpp"

namespace gy::py {
namespace {

using gy::Recipe;
using gy::Shape;

PyResult<Recipe> construct(Call&, Args& a) {
  Recipe r;
  if (a.given(0)) r.shell = PY_TRY(a.get_with(0, shape_sequence));
  if (a.given(1)) r.cuts = PY_TRY(a.get_with(1, shape_sequence));
  return r;
}

PyResult<Recipe> parse(Call&, Args& a) {
  auto query = PY_TRY(a.get<std::string_view>(0));
  return PY_TRY(parse_recipe_query(query));
}

PyResult<Recipe> named(Call&, Args& a) {
  auto name = PY_TRY(a.get<std::string_view>(0));
  auto query = resolve_recipe_text(name);
  if (!query) return raise(PyExc_ValueError, query.error().message);
  return PY_TRY(parse_recipe_query(*query));
}

std::vector<Shape> shell(Call&, const Recipe& r) { return r.shell; }
std::vector<Shape> cuts(Call&, const Recipe& r) { return r.cuts; }
Result<std::string> query(Call&, const Recipe& r) { return recipe_to_query(r); }

PyResult<Recipe> with_shell(Call&, const Recipe& r, Args& a) {
  return Recipe{PY_TRY(a.get_with(0, shape_sequence)), r.cuts};
}

PyResult<Recipe> with_cuts(Call&, const Recipe& r, Args& a) {
  return Recipe{r.shell, PY_TRY(a.get_with(0, shape_sequence))};
}

PyResult<Recipe> adding_cuts(Call&, const Recipe& r, Args& a) {
  auto more = PY_TRY(a.get_with(0, shape_sequence));
  Recipe out{r.shell, {}};
  out.cuts.reserve(r.cuts.size() + more.size());
  out.cuts.insert(out.cuts.end(), r.cuts.begin(), r.cuts.end());
  for (Shape& s : more) out.cuts.push_back(std::move(s));
  return out;
}

Result<gy::Simulator> build(Call& c, const Recipe& r) {
  std::string query = GY_TRY(recipe_to_query(r));
  return c.detached([&] { return gy::Simulator::build(query); });
}

Result<std::string> repr(Call&, const Recipe& r) {
  return cat("Recipe.parse(", quote_debug(GY_TRY(recipe_to_query(r))), ")");
}

PyResult<Ref> compare(Call&, const Recipe& self, PyObject* other, CompareOp op) {
  const Recipe* o = PY_TRY(instance_of<Recipe>(other));
  if (!o) return not_implemented();
  switch (op) {
    case CompareOp::eq: return to_py(self == *o);
    case CompareOp::ne: return to_py(!(self == *o));
    default: return raise(PyExc_TypeError, "recipes are not ordered");
  }
}

Result<std::uint64_t> hash(Call&, const Recipe& r) { return text_hash(GY_TRY(recipe_to_query(r))); }

constexpr ClassDef recipe_class{
    "Recipe",
    "Recipe(shell=..., cuts=...)\n--\n\n"
    "A puzzle's shell and its cuts: everything needed to build one.\n\n"
    "The same thing a recipe query string says, with each part addressable. `shell` and `cuts` are\n"
    "sequences of Shape objects; either may be left out and is then empty. A recipe never changes:\n"
    "the methods that edit one return a new recipe."};

constexpr Constructor recipe_new{&construct};
constexpr ClassMethod parse_row{"parse(query)\n--\n\nRead a recipe query string, such as `\"?shell=C$1&cut=C$1/3\"`.",
                                &parse};
constexpr ClassMethod named_row{
    "named(name)\n--\n\n"
    "The recipe of a cataloged puzzle.\n\n"
    "Names are matched without regard to ASCII case. Ten catalog entries share the placeholder name\n"
    "\"Unknown\", so an ambiguous name raises ValueError listing the recipes it could have meant\n"
    "instead of picking one.",
    &named};
constexpr Property shell_row{"shell", "The shapes the puzzle is carved from.", Borrow::none, &shell};
constexpr Property cuts_row{"cuts", "The shapes that cut it.", Borrow::none, &cuts};
constexpr Property query_row{"query", "The recipe as a query string.", Borrow::none, &query};
constexpr Method with_shell_row{"with_shell($self, shell)\n--\n\nThis recipe with `shell` in place of its own.",
                                Borrow::none, &with_shell};
constexpr Method with_cuts_row{"with_cuts($self, cuts)\n--\n\nThis recipe with `cuts` in place of its own.",
                               Borrow::none, &with_cuts};
constexpr Method adding_cuts_row{"adding_cuts($self, cuts)\n--\n\nThis recipe with more cuts added.", Borrow::none,
                                 &adding_cuts};
constexpr Method build_row{"build($self)\n--\n\nBuild the puzzle this recipe describes.", Borrow::none, &build,
                           Release::yes};
constexpr Slot str_row{slot<Py_tp_str>, Borrow::none, &query};
constexpr Slot repr_row{slot<Py_tp_repr>, Borrow::none, &repr};
constexpr Slot compare_row{slot<Py_tp_richcompare>, Borrow::none, &compare};
constexpr Slot hash_row{slot<Py_tp_hash>, Borrow::none, &hash};

constinit OnceObject recipe_type_cell;

}  // namespace

template <>
PyTypeObject* type_object<gy::Recipe>() {
  return make_type<gy::Recipe, recipe_class, recipe_new, parse_row, named_row, shell_row, cuts_row, query_row,
                   with_shell_row, with_cuts_row, adding_cuts_row, build_row, str_row, repr_row, compare_row, hash_row>(
      recipe_type_cell);
}

PyResult<const gy::Recipe*> downcast_recipe(PyObject* obj) {
  const gy::Recipe* r = PY_TRY(instance_of<gy::Recipe>(obj));
  if (!r) return raise_not_instance(obj, "Recipe");
  return r;
}

}  // namespace gy::py

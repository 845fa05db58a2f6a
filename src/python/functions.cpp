#include "python/functions.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalog.hpp"
#include "num/factoring.hpp"
#include "polyhedra.hpp"
#include "pool.hpp"
#include "python/args.hpp"
#include "python/real.hpp"
#include "symbolic.hpp"

namespace gy::py {
namespace {

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

PyResult<gy::AlgebraicNumber> evaluate_body(Call&, Args& a) {
  auto text = PY_TRY(a.get<std::string_view>(0));
  return PY_TRY(evaluate_text(text));
}

// The irreducible factors of f, each repeated by its multiplicity, preceded by the rational constant
// that makes their product f when it is not 1. Every multiplicity is found by exact division, so the
// product is f itself; a factor that does not divide what is left of f is refused.
Result<std::vector<FracPoly>> factorization(const FracPoly& f) {
  std::vector<FracPoly> irreducible = GY_TRY(factor(f));
  std::vector<FracPoly> out;
  FracPoly rest = f;
  for (const FracPoly& g : irreducible) {
    std::size_t count = 0;
    if (g.degree() >= 1) {
      while (rest.degree() >= g.degree()) {
        auto [quotient, remainder] = GY_TRY(FracPoly::div_rem(rest, g));
        if (!remainder.is_zero()) break;
        rest = std::move(quotient);
        ++count;
      }
    }
    if (count == 0) return fail(Error::other(cat("factor ", g.to_string(), " does not divide ", f.to_string())));
    out.insert(out.end(), count, g);
  }
  if (rest.degree() != 0)
    return fail(Error::other(cat("the factors of ", f.to_string(), " leave ", rest.to_string())));
  if (!rest[0].is_one()) out.insert(out.begin(), std::move(rest));
  return out;
}

PyResult<std::vector<std::vector<std::string>>> factor_polynomial_body(Call& c, Args& a) {
  auto coefficients = PY_TRY(a.get<std::vector<std::int64_t>>(0));
  auto texts = c.detached([&]() -> Result<std::vector<std::vector<std::string>>> {
    std::vector<Fraction> values;
    values.reserve(coefficients.size());
    for (std::int64_t v : coefficients) values.emplace_back(Int(v));
    std::vector<std::vector<std::string>> out;
    for (const FracPoly& g : GY_TRY(factorization(FracPoly(std::move(values))))) {
      std::vector<std::string>& row = out.emplace_back();
      row.reserve(g.coeffs.size());
      for (const Fraction& x : g.coeffs) row.push_back(x.to_string());
    }
    return out;
  });
  return PY_TRY(std::move(texts));
}

std::size_t thread_count_body(Call&) { return pool::thread_count(); }

PyResult<bool> jumbles_body(Call& c, Args& a) {
  std::string query = PY_TRY(a.get_with(0, recipe_argument));
  return PY_TRY(c.detached([&] { return gy::jumbles(query); }));
}

Ref non_jumbling_body(Call&) {
  const auto recipes = gy::non_jumbling_recipes();
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(recipes.size())));
  if (!list) return {};
  for (std::size_t i = 0; i < recipes.size(); ++i) {
    Ref text = to_py(recipes[i]);
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

constexpr Function evaluate_row{
    "evaluate(expr)\n--\n\n"
    "The exact value of an expression such as \"(5+3*sqrt(5))/10\", as a Real.",
    &evaluate_body};

constexpr Function factor_polynomial_row{
    "factor_polynomial(coefficients)\n--\n\n"
    "Factor a polynomial with integer coefficients, lowest degree first, over the rationals.\n\n"
    "Returns one list of coefficient texts per factor, lowest degree first: the irreducible factors,\n"
    "each as often as it divides the polynomial, preceded by a constant factor unless that is 1, so\n"
    "that their product is the polynomial. Zero coefficients at the high end are ignored; the zero\n"
    "polynomial is refused.",
    &factor_polynomial_body, Release::yes};

constexpr Function thread_count_row{
    "thread_count()\n--\n\n"
    "The number of threads of the worker pool. The pool is created on first use, sized from\n"
    "RAYON_NUM_THREADS (a positive integer) or else the CPUs this process may use.",
    &thread_count_body};

constexpr Function jumbles_row{
    "jumbles(recipe)\n--\n\n"
    "Whether a puzzle jumbles: whether some move, from the solved state or along a fixed random walk,\n"
    "leaves stickers where no sticker of the solved puzzle sits, so that its state can no longer be\n"
    "read slot by slot. The same recipe always gives the same answer.",
    &jumbles_body, Release::yes};

constexpr Function non_jumbling_row{
    "non_jumbling()\n--\n\n"
    "The recipes of the cataloged puzzles that do not jumble, in catalog order: those whose moves\n"
    "always bring every sticker slot to another slot.",
    &non_jumbling_body};

}  // namespace

Ref catalog_function(PyObject* module) { return make_function<catalog_row>(module); }
Ref polyhedra_function(PyObject* module) { return make_function<polyhedra_row>(module); }
Ref evaluate_function(PyObject* module) { return make_function<evaluate_row>(module); }
Ref factor_polynomial_function(PyObject* module) { return make_function<factor_polynomial_row>(module); }
Ref thread_count_function(PyObject* module) { return make_function<thread_count_row>(module); }
Ref jumbles_function(PyObject* module) { return make_function<jumbles_row>(module); }
Ref non_jumbling_function(PyObject* module) { return make_function<non_jumbling_row>(module); }

}  // namespace gy::py

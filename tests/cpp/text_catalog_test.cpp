#include "catalog.hpp"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "parse.hpp"

namespace gy {
namespace {

std::string resolved(std::string_view text) {
  auto r = resolve_recipe_text(text);
  return r ? *r : "(error) " + r.error().message;
}

TEST(Catalog, RowsAndGroups) {
  auto rows = catalog();
  ASSERT_EQ(rows.size(), 85u);
  EXPECT_EQ(rows[0].name, "Vostrand-Kellin Pyramid");
  EXPECT_EQ(rows[58].name, "Radiolarian \"13.5\"");
  EXPECT_EQ(rows[84].name, "Behemoth");
  // Family and kind runs, in table order.
  const std::vector<std::tuple<std::string_view, std::string_view, std::size_t>> groups = {
      {"Tetrahedra", "Face/corner-turning", 5}, {"Tetrahedra", "Edge-turning", 3},
      {"Cubes", "Face-turning", 6},             {"Cubes", "Corner-turning", 4},
      {"Cubes", "Edge-turning", 6},             {"Octahedra", "Face-turning", 5},
      {"Octahedra", "Corner-turning", 3},       {"Octahedra", "Edge-turning", 6},
      {"Dodecahedra", "Face-turning", 4},       {"Dodecahedra", "Corner-turning", 11},
      {"Dodecahedra", "Edge-turning", 4},       {"Icosahedra", "Face-turning", 12},
      {"Icosahedra", "Corner-turning", 8},      {"Icosahedra", "Edge-turning", 1},
      {"Other", "Corner-turning prisms", 3},    {"Other", "Face-turning dipyramids", 3},
      {"Other", "Catalan solids", 1}};
  std::size_t row = 0;
  for (auto [family, kind, count] : groups) {
    std::string shell;
    for (std::size_t i = 0; i < count; ++i, ++row) {
      ASSERT_LT(row, rows.size());
      EXPECT_EQ(rows[row].family, family) << row;
      EXPECT_EQ(rows[row].kind, kind) << row;
      // One shell, shared by the group, and at least one cut.
      auto recipe = parse_recipe_query(rows[row].recipe);
      ASSERT_TRUE(recipe) << rows[row].recipe;
      ASSERT_EQ(recipe->shell.size(), 1u) << row;
      EXPECT_GE(recipe->cuts.size(), 1u) << row;
      std::string this_shell = *shape_to_text(recipe->shell[0]);
      if (i == 0) shell = this_shell;
      EXPECT_EQ(this_shell, shell) << row;
      // Recipes are stored in their canonical text.
      EXPECT_EQ(*recipe_to_query(*recipe), rows[row].recipe) << row;
    }
  }
  EXPECT_EQ(row, rows.size());
}

TEST(Catalog, FixedRecipes) {
  const std::map<std::size_t, std::string_view> fixed = {
      {0, "?shell=T$1&cut=T$0"},
      {2, "?shell=T$1&cut=T$-1/3&cut=T$-5/3"},
      {4, "?shell=T$1&cut=T$-2&cut=T$-1&cut=T$0"},
      {5, "?shell=T$sqrt(2)&cut=C$0"},
      {8, "?shell=C$1&cut=C$0"},
      {9, "?shell=C$1&cut=C$1/3"},
      {10, "?shell=C$1&cut=C$0&cut=C$1/2"},
      {13, "?shell=C$1&cut=C$1/7&cut=C$3/7&cut=C$5/7"},
      {14, "?shell=C$sqrt(2)/3&cut=O$0"},
      {22, "?shell=C$3*sqrt(2)/4&cut=jC$1/2"},
      {25, "?shell=O$1&cut=O$1/3"},
      {34, "?shell=O$1&cut=jC$2/9"},
      {35, "?shell=O$1&cut=jC$4/15"},
      {36, "?shell=O$1&cut=jC$1/3"},
      {37, "?shell=O$1&cut=jC$4/9"},
      {41, "?shell=D$1&cut=D$2/(sqrt(5)+1)"},
      {43, "?shell=D$1&cut=I$(7-3*sqrt(5))/2"},
      {44, "?shell=D$1&cut=I$(-1+sqrt(5))/6"},
      {45, "?shell=D$1&cut=I$(5-sqrt(5))/10"},
      {47, "?shell=D$1&cut=I$(15+sqrt(5))/22"},
      {48, "?shell=D$1&cut=I$(3-sqrt(5))/6"},
      {49, "?shell=D$1&cut=I$(5+7*sqrt(5))/22"},
      {51, "?shell=D$1&cut=I$(5+3*sqrt(5))/10"},
      {53, "?shell=D$1&cut=jD$0"},
      {57, "?shell=I$1&cut=I$0"},
      {76, "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/2+2/3&cut=D$(sqrt(5)+1)/2+4/3"},
      {78, "?shell=P3$1&cut=dP3$1/4"},
      {81, "?shell=dP3$1&cut=dP3$-1/2"},
      {84, "?shell=oC$1&cut=kT$0"},
  };
  for (auto [row, recipe] : fixed) EXPECT_EQ(catalog()[row].recipe, recipe) << row;

  // The recipes that do not jumble, in catalog order, are rows of the catalog.
  const std::vector<std::string_view> non_jumbling = {
      "?shell=T$1&cut=T$0", "?shell=T$1&cut=T$-1/3", "?shell=T$1&cut=T$-1/3&cut=T$-5/3", "?shell=T$1&cut=T$-7/12",
      "?shell=T$1&cut=T$-2&cut=T$-1&cut=T$0", "?shell=C$1&cut=C$0", "?shell=C$1&cut=C$1/3",
      "?shell=C$1&cut=C$0&cut=C$1/2", "?shell=C$1&cut=C$1/5&cut=C$3/5", "?shell=C$1&cut=C$0&cut=C$1/3&cut=C$2/3",
      "?shell=C$1&cut=C$1/7&cut=C$3/7&cut=C$5/7", "?shell=C$sqrt(2)/3&cut=O$0", "?shell=C$sqrt(2)/3&cut=O$1/6",
      "?shell=C$sqrt(2)/3&cut=O$1/3", "?shell=C$sqrt(2)/3&cut=O$1/2", "?shell=O$1&cut=O$0", "?shell=O$1&cut=O$1/3",
      "?shell=O$1&cut=O$1/2", "?shell=O$1&cut=O$0&cut=O$1/2", "?shell=O$1&cut=O$1/5&cut=O$3/5",
      "?shell=O$sqrt(2)/2&cut=C$0", "?shell=O$sqrt(2)/2&cut=C$1/3", "?shell=O$sqrt(2)/2&cut=C$1/3&cut=C$2/3",
      "?shell=D$1&cut=D$0", "?shell=D$1&cut=D$sqrt(5)-2", "?shell=D$1&cut=D$1/sqrt(5)",
      "?shell=D$1&cut=D$2/(sqrt(5)+1)", "?shell=D$1&cut=I$(5-sqrt(5))/2", "?shell=I$sqrt(5)+2&cut=D$0",
      "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/10", "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/6",
      "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/4", "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/2",
      "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/2+1/2", "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/2+2/3",
      "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/2+2/3&cut=D$(sqrt(5)+1)/2+4/3"};
  std::size_t next = 0;
  for (const CatalogEntry& row : catalog()) {
    if (next < non_jumbling.size() && row.recipe == non_jumbling[next]) ++next;
  }
  EXPECT_EQ(next, non_jumbling.size());
  // Every recipe is distinct, so each row is its own puzzle.
  std::set<std::string_view> recipes;
  for (const CatalogEntry& row : catalog()) EXPECT_TRUE(recipes.insert(row.recipe).second) << row.name;
}

TEST(Catalog, Resolving) {
  const std::string megaminx = "?shell=D$1&cut=D$2/(sqrt(5)+1)";
  EXPECT_EQ(resolved("Megaminx"), megaminx);
  EXPECT_EQ(resolved("megaminx"), megaminx);
  EXPECT_EQ(resolved("MEGAMINX"), megaminx);
  EXPECT_EQ(resolved("quenly's cube (3x3x3)"), "?shell=C$1&cut=C$1/3");
  EXPECT_EQ(resolved("RADIOLARIAN \"13.5\""), catalog()[58].recipe);
  EXPECT_EQ(resolved("Megaminx "), "(error) no cataloged puzzle named \"Megaminx \"");
  EXPECT_EQ(resolved(""), "(error) no cataloged puzzle named \"\"");
  EXPECT_EQ(resolved("shell=C$1"), "(error) no cataloged puzzle named \"shell=C$1\"");
  EXPECT_EQ(resolved("a\"b\\c\n"), "(error) no cataloged puzzle named \"a\\\"b\\\\c\\n\"");
  // Only ASCII letters fold.
  EXPECT_EQ(resolved("M\u00c9GAMINX"), "(error) no cataloged puzzle named \"M\u00c9GAMINX\"");
  EXPECT_EQ(resolved("?shell=C$1"), "?shell=C$1");
  EXPECT_EQ(resolved("?anything"), "?anything");

  std::string expected = "(error) 10 cataloged puzzles are named \"unknown\", build one by recipe instead: ";
  bool first = true;
  for (const CatalogEntry& row : catalog()) {
    if (row.name != "Unknown") continue;
    if (!first) expected += ", ";
    first = false;
    expected += row.recipe;
  }
  EXPECT_EQ(resolved("unknown"), expected);
  EXPECT_TRUE(expected.starts_with("(error) 10 cataloged puzzles are named \"unknown\", build one by recipe "
                                   "instead: ?shell=O$1&cut=jC$2/9, "));

  // The failure is its own type: a name cannot dress up as an arithmetic error.
  auto odd = resolve_recipe_text("Division by zero");
  ASSERT_FALSE(odd);
  EXPECT_EQ(odd.error(), CatalogError{"no cataloged puzzle named \"Division by zero\""});
}

TEST(Catalog, SearchSteps) {
  std::size_t position = 0;
  std::vector<std::size_t> found;
  while (const CatalogEntry* row = find_catalog_entry(position, "UNKNOWN")) {
    found.push_back(static_cast<std::size_t>(row - catalog().data()));
    EXPECT_EQ(position, found.back() + 1);
  }
  EXPECT_EQ(found, (std::vector<std::size_t>{34, 35, 37, 43, 44, 45, 47, 48, 49, 51}));
  EXPECT_EQ(position, catalog().size());
  EXPECT_EQ(find_catalog_entry(position, "UNKNOWN"), nullptr);
  EXPECT_TRUE(catalog_name_matches("FTO", "fto"));
  EXPECT_FALSE(catalog_name_matches("FTO", "ft"));
}

}  // namespace
}  // namespace gy

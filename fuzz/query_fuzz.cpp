// Recipe query texts: any text reads or fails with a Parse error; a recipe that writes reads back
// from its text, which is then a fixed point.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "parse.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto recipe = gy::parse_recipe_query(text);
  if (!recipe) {
    if (recipe.error().kind != gy::ErrorKind::Parse) std::abort();
    return 0;
  }
  gy::Recipe copy = *recipe;
  if (!(copy == *recipe)) std::abort();
  auto query = gy::recipe_to_query(*recipe);
  if (!query) return 0;
  auto again = gy::parse_recipe_query(*query);
  if (!again) {
    if (again.error().message != "expression nested too deeply") std::abort();
    return 0;
  }
  if (again->shell.size() != recipe->shell.size() || again->cuts.size() != recipe->cuts.size()) std::abort();
  auto requery = gy::recipe_to_query(*again);
  if (!requery || *requery != *query) std::abort();
  return 0;
}

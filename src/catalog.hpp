// The built-in table of named puzzles and the resolution of a caller's recipe text.
#pragma once

#include <cstddef>
#include <expected>
#include <span>
#include <string>
#include <string_view>

namespace gy {

struct CatalogEntry {
  std::string_view name;    // not unique: ten rows are "Unknown"
  std::string_view family;  // the shell's family, such as "Cubes"
  std::string_view kind;    // how it turns, such as "Face-turning"
  std::string_view recipe;  // a query text with one shell and one or more cuts
};

// The 85 rows, grouped by family and within a family by kind.
std::span<const CatalogEntry> catalog();

// Whether a row's name matches a query: same bytes once ASCII A-Z are lowered on both sides.
bool catalog_name_matches(std::string_view row_name, std::string_view query);

// The first row at or after `position` whose name matches, moving `position` past it; nullptr
// (and `position` at the end) when none is left.
const CatalogEntry* find_catalog_entry(std::size_t& position, std::string_view name);

// The failure of a catalog lookup. It is not an Error: the Python layer raises its message as
// ValueError directly, never through the mapping of error kinds, so that a caller's name that
// happens to contain "Division by zero" cannot change the exception type.
struct CatalogError {
  std::string message;
  bool operator==(const CatalogError&) const = default;
};

// A text starting with "?" is returned unchanged (not read here); any other text is a catalog
// name, which must match exactly one row: none gives "no cataloged puzzle named {}", several
// give "{} cataloged puzzles are named {}, build one by recipe instead: {}" with every matching
// recipe. The name is shown as a quoted literal.
std::expected<std::string, CatalogError> resolve_recipe_text(std::string_view text);

}  // namespace gy

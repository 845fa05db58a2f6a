#include "catalog.hpp"

#include <array>

#include "num/error.hpp"

namespace gy {

namespace {

constexpr std::string_view kTetrahedra = "Tetrahedra", kCubes = "Cubes", kOctahedra = "Octahedra",
                           kDodecahedra = "Dodecahedra", kIcosahedra = "Icosahedra", kOther = "Other";
constexpr std::string_view kFaceCorner = "Face/corner-turning", kFace = "Face-turning", kEdge = "Edge-turning",
                           kCorner = "Corner-turning", kPrisms = "Corner-turning prisms",
                           kDipyramids = "Face-turning dipyramids", kCatalan = "Catalan solids";

constexpr std::array<CatalogEntry, 85> kCatalog{{
    {"Vostrand-Kellin Pyramid", kTetrahedra, kFaceCorner, "?shell=T$1&cut=T$0"},
    {"Pyraminx (no tips)", kTetrahedra, kFaceCorner, "?shell=T$1&cut=T$-1/3"},
    {"Pyraminx", kTetrahedra, kFaceCorner, "?shell=T$1&cut=T$-1/3&cut=T$-5/3"},
    {"Pyramiddle", kTetrahedra, kFaceCorner, "?shell=T$1&cut=T$-7/12"},
    {"Master Pyraminx", kTetrahedra, kFaceCorner, "?shell=T$1&cut=T$-2&cut=T$-1&cut=T$0"},

    {"Pyramorphix", kTetrahedra, kEdge, "?shell=T$sqrt(2)&cut=C$0"},
    {"Mastermorphix", kTetrahedra, kEdge, "?shell=T$sqrt(2)&cut=C$1/4"},
    {"Mastermorphynx", kTetrahedra, kEdge, "?shell=T$sqrt(2)&cut=C$1/2"},

    {"2x2x2 Cube", kCubes, kFace, "?shell=C$1&cut=C$0"},
    {"Quenly's Cube (3x3x3)", kCubes, kFace, "?shell=C$1&cut=C$1/3"},
    {"4x4x4 Cube", kCubes, kFace, "?shell=C$1&cut=C$0&cut=C$1/2"},
    {"5x5x5 Cube", kCubes, kFace, "?shell=C$1&cut=C$1/5&cut=C$3/5"},
    {"6x6x6 Cube", kCubes, kFace, "?shell=C$1&cut=C$0&cut=C$1/3&cut=C$2/3"},
    {"7x7x7 Cube", kCubes, kFace, "?shell=C$1&cut=C$1/7&cut=C$3/7&cut=C$5/7"},

    {"Skewb", kCubes, kCorner, "?shell=C$sqrt(2)/3&cut=O$0"},
    {"Master Skewb", kCubes, kCorner, "?shell=C$sqrt(2)/3&cut=O$1/6"},
    {"Dino Cube", kCubes, kCorner, "?shell=C$sqrt(2)/3&cut=O$1/3"},
    {"Compy Cube", kCubes, kCorner, "?shell=C$sqrt(2)/3&cut=O$1/2"},

    {"24-Cube / Little Chop", kCubes, kEdge, "?shell=C$3*sqrt(2)/4&cut=jC$0"},
    {"Master Little Chop", kCubes, kEdge, "?shell=C$3*sqrt(2)/4&cut=jC$1/8"},
    {"DeCETH", kCubes, kEdge, "?shell=C$3*sqrt(2)/4&cut=jC$2/7"},
    {"Quad-X", kCubes, kEdge, "?shell=C$3*sqrt(2)/4&cut=jC$2/5"},
    {"Helicopter Cube", kCubes, kEdge, "?shell=C$3*sqrt(2)/4&cut=jC$1/2"},
    {"Master Helicopter", kCubes, kEdge, "?shell=C$3*sqrt(2)/4&cut=jC$3/4"},

    {"Skewb Diamond", kOctahedra, kFace, "?shell=O$1&cut=O$0"},
    {"FTO", kOctahedra, kFace, "?shell=O$1&cut=O$1/3"},
    {"Dino-Octa", kOctahedra, kFace, "?shell=O$1&cut=O$1/2"},
    {"Master FTO", kOctahedra, kFace, "?shell=O$1&cut=O$0&cut=O$1/2"},
    {"5-Layer FTO", kOctahedra, kFace, "?shell=O$1&cut=O$1/5&cut=O$3/5"},

    {"PyraDiamond (wrong colors)", kOctahedra, kCorner, "?shell=O$sqrt(2)/2&cut=C$0"},
    {"Magic Octahedron (no tips)", kOctahedra, kCorner, "?shell=O$sqrt(2)/2&cut=C$1/3"},
    {"Magic Octahedron", kOctahedra, kCorner, "?shell=O$sqrt(2)/2&cut=C$1/3&cut=C$2/3"},

    {"24-Octahedron", kOctahedra, kEdge, "?shell=O$1&cut=jC$0"},
    {"Solar Octahedron", kOctahedra, kEdge, "?shell=O$1&cut=jC$1/9"},
    {"Unknown", kOctahedra, kEdge, "?shell=O$1&cut=jC$2/9"},
    {"Unknown", kOctahedra, kEdge, "?shell=O$1&cut=jC$4/15"},
    {"Brannow's ETO", kOctahedra, kEdge, "?shell=O$1&cut=jC$1/3"},
    {"Unknown", kOctahedra, kEdge, "?shell=O$1&cut=jC$4/9"},

    {"Pentultimate", kDodecahedra, kFace, "?shell=D$1&cut=D$0"},
    {"Starminx", kDodecahedra, kFace, "?shell=D$1&cut=D$sqrt(5)-2"},
    {"Pyraminx Crystal", kDodecahedra, kFace, "?shell=D$1&cut=D$1/sqrt(5)"},
    {"Megaminx", kDodecahedra, kFace, "?shell=D$1&cut=D$2/(sqrt(5)+1)"},

    {"Chopasaurus", kDodecahedra, kCorner, "?shell=D$1&cut=I$0"},
    {"Unknown", kDodecahedra, kCorner, "?shell=D$1&cut=I$(7-3*sqrt(5))/2"},
    {"Unknown", kDodecahedra, kCorner, "?shell=D$1&cut=I$(-1+sqrt(5))/6"},
    {"Unknown", kDodecahedra, kCorner, "?shell=D$1&cut=I$(5-sqrt(5))/10"},
    {"Starminx III", kDodecahedra, kCorner, "?shell=D$1&cut=I$1/2"},
    {"Unknown", kDodecahedra, kCorner, "?shell=D$1&cut=I$(15+sqrt(5))/22"},
    {"Unknown", kDodecahedra, kCorner, "?shell=D$1&cut=I$(3-sqrt(5))/6"},
    {"Unknown", kDodecahedra, kCorner, "?shell=D$1&cut=I$(5+7*sqrt(5))/22"},
    {"Pentagram", kDodecahedra, kCorner, "?shell=D$1&cut=I$11/10"},
    {"Unknown", kDodecahedra, kCorner, "?shell=D$1&cut=I$(5+3*sqrt(5))/10"},
    {"Dino Dodecahedron", kDodecahedra, kCorner, "?shell=D$1&cut=I$(5-sqrt(5))/2"},

    {"Big Chop", kDodecahedra, kEdge, "?shell=D$1&cut=jD$0"},
    {"Starminx II", kDodecahedra, kEdge, "?shell=D$1&cut=jD$3/5"},
    {"Solarminx", kDodecahedra, kEdge, "?shell=D$1&cut=jD$5/8"},
    {"Dodecacopter", kDodecahedra, kEdge, "?shell=D$1&cut=jD$(1+sqrt(5))/5"},

    {"Radio Chop (Radiolarian 15)", kIcosahedra, kFace, "?shell=I$1&cut=I$0"},
    {"Radiolarian \"13.5\"", kIcosahedra, kFace, "?shell=I$1&cut=I$1/10"},
    {"Radio Gem (Radiolarian 13)", kIcosahedra, kFace, "?shell=I$1&cut=I$2/15"},
    {"Radio Nebula (Radiolarian 12)", kIcosahedra, kFace, "?shell=I$1&cut=I$1/5"},
    {"Radio Star (Radiolarian 11)", kIcosahedra, kFace, "?shell=I$1&cut=I$4/15"},
    {"Radio Crystal (Radiolarian 9)", kIcosahedra, kFace, "?shell=I$1&cut=I$2/5"},
    {"Radio Jam (Radiolarian 8)", kIcosahedra, kFace, "?shell=I$1&cut=I$7/15"},
    {"Radio Jewel (Radiolarian 7)", kIcosahedra, kFace, "?shell=I$1&cut=I$8/15"},
    {"Cat's Cradle (Radiolarian 5)", kIcosahedra, kFace, "?shell=I$1&cut=I$2/3"},
    {"Radiolarian 4", kIcosahedra, kFace, "?shell=I$1&cut=I$11/15"},
    {"Radiolarian 3", kIcosahedra, kFace, "?shell=I$1&cut=I$4/5"},
    {"Circo-Radiolarian (Radiolarian 2)", kIcosahedra, kFace, "?shell=I$1&cut=I$13/15"},

    {"Icosamate", kIcosahedra, kCorner, "?shell=I$sqrt(5)+2&cut=D$0"},
    {"Master Icosamate", kIcosahedra, kCorner, "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/10"},
    {"Regular Astrominx", kIcosahedra, kCorner, "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/6"},
    {"Astrominx", kIcosahedra, kCorner, "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/4"},
    {"Dogic (wrong colors)", kIcosahedra, kCorner, "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/2"},
    {"Icosaminx", kIcosahedra, kCorner, "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/2+1/2"},
    {"Marro's Icosaminx (no tips)", kIcosahedra, kCorner, "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/2+2/3"},
    {"Marro's Icosaminx", kIcosahedra, kCorner,
     "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/2+2/3&cut=D$(sqrt(5)+1)/2+4/3"},

    {"Deep-cut edge-turning icosahedron", kIcosahedra, kEdge, "?shell=I$1&cut=jD$23/50"},

    {"Jumble Prism (wrong colors)", kOther, kPrisms, "?shell=P3$1&cut=dP3$1/4"},
    {"Shallow Jumble Prism (with centers)", kOther, kPrisms, "?shell=P3$1&cut=dP3$1/2"},
    {"Curvy Shallow Jumble Prism", kOther, kPrisms, "?shell=P3$1&cut=dP3$7/8"},

    {"Edge of Insanity", kOther, kDipyramids, "?shell=dP3$1&cut=dP3$-1/2"},
    {"Shallower Madness", kOther, kDipyramids, "?shell=dP3$1&cut=dP3$-1/3"},
    {"More Madness", kOther, kDipyramids, "?shell=dP3$1&cut=dP3$-1/10"},

    {"Behemoth", kOther, kCatalan, "?shell=oC$1&cut=kT$0"},
}};

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::span<const CatalogEntry> catalog() { return kCatalog; }

bool catalog_name_matches(std::string_view row_name, std::string_view query) {
  if (row_name.size() != query.size()) return false;
  for (std::size_t i = 0; i < query.size(); ++i) {
    if (ascii_lower(row_name[i]) != ascii_lower(query[i])) return false;
  }
  return true;
}

const CatalogEntry* find_catalog_entry(std::size_t& position, std::string_view name) {
  while (position < kCatalog.size()) {
    const CatalogEntry& row = kCatalog[position++];
    if (catalog_name_matches(row.name, name)) return &row;
  }
  return nullptr;
}

std::expected<std::string, CatalogError> resolve_recipe_text(std::string_view text) {
  if (!text.empty() && text[0] == '?') return std::string(text);
  std::size_t position = 0;
  const CatalogEntry* first = find_catalog_entry(position, text);
  if (!first) return std::unexpected(CatalogError{cat("no cataloged puzzle named ", quote_name(text))});
  const CatalogEntry* second = find_catalog_entry(position, text);
  if (!second) return std::string(first->recipe);
  std::size_t count = 2;
  std::string recipes = cat(first->recipe, ", ", second->recipe);
  while (const CatalogEntry* more = find_catalog_entry(position, text)) {
    ++count;
    recipes += ", ";
    recipes += more->recipe;
  }
  return std::unexpected(CatalogError{
      cat(count, " cataloged puzzles are named ", quote_name(text), ", build one by recipe instead: ", recipes)});
}

}  // namespace gy

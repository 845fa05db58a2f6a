// Expressions: any text reads or fails with a Parse error; a tree that prints reads back, and its
// text is then a fixed point of printing.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "parse.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto tree = gy::parse_expr(text);
  if (!tree) {
    if (tree.error().kind != gy::ErrorKind::Parse) std::abort();
    return 0;
  }
  gy::Expr copy = *tree;
  if (!(copy == *tree)) std::abort();
  auto printed = gy::generateExpr(*tree);
  if (!printed) return 0;  // bare names and unknown calls do not print
  auto again = gy::parse_expr(*printed);
  if (!again) {
    // A number printed as a quotient or negation adds one level to a tree at the bound.
    if (again.error().message != "expression nested too deeply") std::abort();
    return 0;
  }
  auto reprinted = gy::generateExpr(*again);
  if (!reprinted || *reprinted != *printed) std::abort();
  return 0;
}

#include "polyhedra.hpp"

#include <gtest/gtest.h>

#include "exact.hpp"
#include "parse.hpp"

#include <barrier>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

namespace gy {
namespace {

Expr num(std::int64_t n, std::int64_t d = 1) { return Expr::number(fraction(n, d)); }
Expr node(std::string_view op, std::vector<Expr> args = {}) { return Expr::make(op, std::move(args)); }

Shape poly_shape(std::string name, Expr size) { return Shape::polyhedron(std::move(name), std::move(size)); }

// The failure of reading one expression, or "(read)".
std::string expr_error(std::string_view text, ErrorKind kind = ErrorKind::Other) {
  TableCursor cursor{text, 0};
  auto r = parse_table_expr(cursor);
  if (r) return "(read)";
  EXPECT_EQ(r.error().kind, kind) << text;
  return r.error().message;
}

std::string definition_error(std::string_view text) {
  auto r = read_polyhedron_definition(text);
  if (r) return "(read)";
  EXPECT_EQ(r.error().kind, ErrorKind::Other) << text;
  return r.error().message;
}

// ---- Table rows ----

struct RowData {
  std::string_view code;
  std::string_view name;
  std::size_t planes;
};

constexpr RowData kRows[] = {
    {"T", "Tetrahedron", 4},
    {"C", "Cube", 6},
    {"O", "Octahedron", 8},
    {"D", "Dodecahedron", 12},
    {"I", "Icosahedron", 20},
    {"kT", "Triakis Tetrahedron", 12},
    {"jC", "Rhombic Dodecahedron", 12},
    {"kC", "Tetrakis Hexahedron", 24},
    {"kO", "Triakis Octahedron", 24},
    {"oC", "Deltoidal Icositetrahedron", 24},
    {"gC", "Pentagonal Icositetrahedron (dextro)", 24},
    {"jD", "Rhombic Triacontahedron", 30},
    {"mC", "Disdyakis Dodecahedron", 48},
    {"kD", "Pentakis Dodecahedron", 60},
    {"kI", "Triakis Icosahedron", 60},
    {"oD", "Deltoidal Hexecontahedron", 60},
    {"mD", "Disdyakis Triacontahedron", 120},
    {"UD16", "Tetradyakis Hexahedron", 48},
    {"UD20", "Great Disdyakis Dodecahedron", 48},
    {"UD37", "Small Stellapentakis Dodecahedron", 60},
    {"UD38", "Medial Deltoidal Hexecontahedron", 60},
    {"UD45", "Tridyakis Icosahedron", 120},
    {"UD55", "Great Stellapentakis Dodecahedron", 60},
    {"UD59", "Medial Disdyakis Triacontahedron", 120},
    {"UD66", "Great Triakis Icosahedron", 60},
    {"UD68", "Great Disdyakis Triacontahedron", 120},
    {"P3", "Triangular Prism", 5},
    {"P5", "Pentagonal Prism", 7},
    {"P6", "Hexagonal Prism", 8},
    {"A4", "Square Antiprism", 10},
    {"A5", "Pentagonal Antiprism", 12},
    {"A6", "Hexagonal Antiprism", 14},
    {"dP3", "Triangular Dipyramid", 6},
    {"dP5", "Pentagonal Dipyramid", 10},
    {"dP6", "Hexagonal Dipyramid", 12},
    {"dA4", "Tetragonal Trapezohedron", 8},
    {"dA5", "Pentagonal Trapezohedron", 10},
    {"dA6", "Hexagonal Trapezohedron", 12},
};

// ---- Once-cells: run first, while every slot of this process is still empty. ----

TEST(Polyhedra, ConcurrentFirstUseFillsEachSlotOnce) {
  constexpr int kThreads = 8;
  std::vector<Shape> shapes;
  for (const auto& row : polyhedron_table()) shapes.push_back(poly_shape(std::string(row.code), num(1)));
  std::vector<std::vector<const std::vector<PlaneShape>*>> seen(kThreads);
  std::vector<std::size_t> counts(kThreads);
  std::barrier start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      auto planes = expand_shape_planes(shapes);
      counts[t] = planes ? planes->size() : 0;
      // Rows in a different order per thread, so that threads meet on different slots.
      for (std::size_t i = 0; i < kPolyhedronCount; ++i) {
        std::size_t row = (i * 5 + t) % kPolyhedronCount;
        auto def = polyhedron_definition(row);
        seen[t].resize(kPolyhedronCount);
        seen[t][row] = def ? *def : nullptr;
      }
    });
  }
  for (auto& th : threads) th.join();
  auto slots = init_polyhedron_slots();
  std::size_t total = 0;
  for (const auto& row : kRows) total += row.planes;
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(counts[t], total) << t;
    for (std::size_t row = 0; row < kPolyhedronCount; ++row) {
      ASSERT_NE(seen[t][row], nullptr);
      EXPECT_EQ(seen[t][row], slots[row].load()) << "thread " << t << " row " << row;
    }
  }
}

// ---- Reader ----

TEST(Polyhedra, ReaderFailures) {
  EXPECT_EQ(expr_error(""), "polyhedron table truncated");
  EXPECT_EQ(expr_error("A"), "polyhedron table truncated");
  EXPECT_EQ(expr_error("An1/1;"), "polyhedron table truncated");
  EXPECT_EQ(expr_error("B"), "unexpected byte 66 in polyhedron table");
  EXPECT_EQ(expr_error("s"), "unexpected byte 115 in polyhedron table");
  EXPECT_EQ(expr_error("\xc3\xa9"), "unexpected byte 195 in polyhedron table");
  // The first operand is read, then dropped when the second fails.
  EXPECT_EQ(expr_error("Mn1/1;;"), "unexpected byte 59 in polyhedron table");
  EXPECT_EQ(expr_error("n1/\xff;"), "polyhedron table is not valid UTF-8");
  EXPECT_EQ(expr_error("n\xc0\xaf/1;"), "polyhedron table is not valid UTF-8");  // overlong
  EXPECT_EQ(expr_error("n\xed\xa0\x80/1;"), "polyhedron table is not valid UTF-8");  // surrogate
  EXPECT_EQ(expr_error("n12;"), "malformed rational in table");
  EXPECT_EQ(expr_error("n"), "malformed rational in table");
  EXPECT_EQ(expr_error("n/2;"), "malformed numerator in table");
  EXPECT_EQ(expr_error("nx/2;"), "malformed numerator in table");
  EXPECT_EQ(expr_error("n1.5/2;"), "malformed numerator in table");
  EXPECT_EQ(expr_error("n1/;"), "malformed denominator in table");
  EXPECT_EQ(expr_error("n1/2/3;"), "malformed denominator in table");
  EXPECT_EQ(expr_error("n1/0;", ErrorKind::Range), "Division by zero");
  // The rational's text is checked for UTF-8 before its form: no "/" but a bad byte.
  EXPECT_EQ(expr_error("n\xff;"), "polyhedron table is not valid UTF-8");
}

TEST(Polyhedra, ReaderTrees) {
  TableCursor cursor{"AMn-3/6;SPn2/1;n1/2;n7/1;", 0};
  auto e = parse_table_expr(cursor);
  ASSERT_TRUE(e) << e.error().message;
  Expr want = node("+", {node("*", {num(-1, 2), node("$scale")}), node("^", {num(2), num(1, 2)})});
  EXPECT_EQ(*e, want);
  EXPECT_EQ(cursor.position, 20u);  // the next expression starts at "n7/1;"
  auto next = parse_table_expr(cursor);
  ASSERT_TRUE(next);
  EXPECT_EQ(*next, num(7));
  EXPECT_EQ(cursor.position, cursor.text.size());

  // Signs go to the numerator; values are reduced; the integer reader takes "+" and "_".
  TableCursor signs{"n3/-6;n+10/4;n1_000/1;", 0};
  EXPECT_EQ(*parse_table_expr(signs), num(-1, 2));
  EXPECT_EQ(*parse_table_expr(signs), num(5, 2));
  EXPECT_EQ(*parse_table_expr(signs), num(1000));
  // Numerators beyond 64 bits.
  TableCursor big{"n123456789012345678901234567890/2;", 0};
  auto b = parse_table_expr(big);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->value->num().to_string(), "61728394506172839450617283945");

  // A rational at the very end without ";" is read, the position then lies past the end.
  TableCursor open_end{"n1/2", 0};
  EXPECT_EQ(*parse_table_expr(open_end), num(1, 2));
  EXPECT_EQ(open_end.position, 5u);
  EXPECT_EQ(expr_error("n1/2"), "(read)");
  auto after = parse_table_expr(open_end);
  ASSERT_FALSE(after);
  EXPECT_EQ(after.error().message, "polyhedron table truncated");
}

TEST(Polyhedra, ReaderDeepNestingDoesNotRecurse) {
  constexpr std::size_t depth = 200000;
  std::string text(depth, 'A');
  EXPECT_EQ(expr_error(text), "polyhedron table truncated");
  for (std::size_t i = 0; i <= depth; ++i) text += "n1/1;";
  TableCursor cursor{text, 0};
  auto e = parse_table_expr(cursor);
  ASSERT_TRUE(e);
  EXPECT_EQ(cursor.position, text.size());
  std::size_t height = 0;
  for (const Expr* p = &*e; !p->args.empty(); p = &p->args[0]) ++height;
  EXPECT_EQ(height, depth);
  // Substitution copies it without recursing either.
  Expr copy = substitute_scale(*e, num(2));
  EXPECT_EQ(copy, *e);
}

TEST(Polyhedra, DefinitionReading) {
  EXPECT_EQ(definition_error(""), "polyhedron table truncated");
  EXPECT_EQ(definition_error("n0/1;n0/1;n1/1;"), "polyhedron table truncated");
  EXPECT_EQ(definition_error("n0/1;n0/1;n1/1;Mn-1/2;Sn1/1;"), "polyhedron table truncated");
  EXPECT_EQ(definition_error("n0/1;n0/1;n1/1;Mn-1/2;Sx"), "unexpected byte 120 in polyhedron table");
  // Without the last ";" the final rational still reads when nothing follows it.
  auto open_end = read_polyhedron_definition("n0/1;n0/1;n1/1;n-1/2");
  ASSERT_TRUE(open_end);
  ASSERT_EQ(open_end->size(), 1u);
  EXPECT_EQ((*open_end)[0].d, num(-1, 2));
  auto two = read_polyhedron_definition("n0/1;n0/1;n1/1;Mn-1/2;Sn1/1;n0/1;n0/1;Mn-1/4;S");
  ASSERT_TRUE(two);
  ASSERT_EQ(two->size(), 2u);
  EXPECT_EQ((*two)[1].a, num(1));
  EXPECT_EQ((*two)[1].d, node("*", {num(-1, 4), node("$scale")}));
}

// ---- Table, index, substitution, expansion ----

TEST(Polyhedra, TableAndIndex) {
  auto table = polyhedron_table();
  ASSERT_EQ(table.size(), std::size(kRows));
  auto names = polyhedron_names();
  ASSERT_EQ(names.size(), kPolyhedronCount);
  for (std::size_t i = 0; i < kPolyhedronCount; ++i) {
    EXPECT_EQ(table[i].code, kRows[i].code);
    EXPECT_EQ(table[i].name, kRows[i].name);
    EXPECT_EQ(names[i].first, kRows[i].code);
    EXPECT_EQ(names[i].second, kRows[i].name);
    EXPECT_EQ(polyhedron_index(kRows[i].code), i) << kRows[i].code;
    // Every code survives a shape text.
    EXPECT_TRUE(polyhedron_code_ok(kRows[i].code));
  }
  EXPECT_EQ(polyhedron_index("c"), std::nullopt);
  EXPECT_EQ(polyhedron_index("ud16"), std::nullopt);
  EXPECT_EQ(polyhedron_index(" C"), std::nullopt);
  EXPECT_EQ(polyhedron_index("C "), std::nullopt);
  EXPECT_EQ(polyhedron_index(""), std::nullopt);
  EXPECT_EQ(polyhedron_index(std::string_view("C\0", 2)), std::nullopt);
}

TEST(Polyhedra, WrittenFirstPlanes) {
  auto def = [](std::string_view code) { return polyhedron_table()[*polyhedron_index(code)].definition; };
  EXPECT_TRUE(def("T").starts_with("n1/2;n1/2;n1/2;Mn-1/8;MSPn2/1;n1/2;n1/2;"));
  EXPECT_TRUE(def("C").starts_with("n0/1;n1/1;n0/1;Mn-1/2;Sn0/1;"));
  EXPECT_TRUE(def("D").starts_with("n1/2;n0/1;An1/4;Mn1/4;Pn5/1;n1/2;Mn1/4;MSAn-2/1;Mn-1/1;Pn5/1;n1/2;n0/1;"));
}

TEST(Polyhedra, CubeRows) {
  auto planes = expand_shape_planes(std::vector{poly_shape("C", num(1))});
  ASSERT_TRUE(planes);
  const int normals[6][3] = {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}, {0, -1, 0}, {-1, 0, 0}, {0, 0, -1}};
  ASSERT_EQ(planes->size(), 6u);
  for (std::size_t i = 0; i < 6; ++i) {
    const PlaneShape& p = (*planes)[i];
    EXPECT_EQ(p.a, num(normals[i][0])) << i;
    EXPECT_EQ(p.b, num(normals[i][1])) << i;
    EXPECT_EQ(p.c, num(normals[i][2])) << i;
    EXPECT_EQ(p.d, node("*", {num(-1, 2), num(1)})) << i;
  }
  // The cached definition keeps "$scale"; the expansion above did not change it.
  auto def = polyhedron_definition(1);
  ASSERT_TRUE(def);
  EXPECT_EQ((**def)[0].d, node("*", {num(-1, 2), node("$scale")}));
}

TEST(Polyhedra, SubstituteScale) {
  Expr size = node("/", {node("sqrt", {num(2)}), num(3)});
  EXPECT_EQ(substitute_scale(node("$scale"), size), size);
  Expr tree = node("+", {node("*", {num(-1, 8), node("$scale")}), node("^", {node("$scale"), num(2)})});
  Expr want = node("+", {node("*", {num(-1, 8), size}), node("^", {size, num(2)})});
  EXPECT_EQ(substitute_scale(tree, size), want);
  // The input is untouched, and a tree without the parameter copies as it is.
  EXPECT_EQ(tree.args[0].args[1], node("$scale"));
  EXPECT_EQ(substitute_scale(want, num(5)), want);
  // Only the exact op "$scale" is the parameter; "scale" and "$scale " are other names.
  Expr names = node("*", {node("scale"), node("$scale ")});
  EXPECT_EQ(substitute_scale(names, num(5)), names);
  // A size that itself holds "$scale" is put in once, not substituted again.
  Expr self = node("+", {node("$scale"), num(1)});
  EXPECT_EQ(substitute_scale(node("*", {node("$scale"), num(2)}), self), node("*", {self, num(2)}));
}

TEST(Polyhedra, ExpandShapes) {
  auto empty = expand_shape_planes({});
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());

  // A plane shape contributes its own expressions; its d is not multiplied by anything.
  auto plane = parse_shape("1,0,0$1/2");
  ASSERT_TRUE(plane);
  auto one = expand_shape_planes(std::vector{*plane});
  ASSERT_TRUE(one);
  ASSERT_EQ(one->size(), 1u);
  EXPECT_EQ((*one)[0], *plane->as_plane());

  // Codes are compared byte for byte, and named as written.
  for (std::string code : {"c", "C,x", " C", "Cube"}) {
    auto r = expand_shape_planes(std::vector{poly_shape(code, num(1))});
    ASSERT_FALSE(r) << code;
    EXPECT_EQ(r.error().kind, ErrorKind::Other);
    EXPECT_EQ(r.error().message, "unknown polyhedron: '" + code + "'");
  }
  // An unknown code is found even after a plane whose coefficient would not evaluate.
  auto bad_plane = parse_shape("x,0,0$1");
  ASSERT_TRUE(bad_plane);
  auto r = expand_shape_planes(std::vector{*bad_plane, poly_shape("C", num(1)), poly_shape("c", num(1))});
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message, "unknown polyhedron: 'c'");

  // One polyhedron twice: the same normals in the same order, d with each size; zero and negative
  // sizes are substituted like any other.
  auto twice = expand_shape_planes(std::vector{poly_shape("O", num(1)), poly_shape("O", num(-1, 3)),
                                               poly_shape("O", num(0))});
  ASSERT_TRUE(twice);
  ASSERT_EQ(twice->size(), 24u);
  for (std::size_t i = 0; i < 8; ++i) {
    for (std::size_t k : {8u, 16u}) {
      EXPECT_EQ((*twice)[i].a, (*twice)[i + k].a);
      EXPECT_EQ((*twice)[i].b, (*twice)[i + k].b);
      EXPECT_EQ((*twice)[i].c, (*twice)[i + k].c);
    }
    Expr d = node("*", {num(-1, 4), node("*", {node("$scale"), node("^", {num(2), num(1, 2)})})});
    EXPECT_EQ((*twice)[i].d, substitute_scale(d, num(1)));
    EXPECT_EQ((*twice)[i + 8].d, substitute_scale(d, num(-1, 3)));
    EXPECT_EQ((*twice)[i + 16].d, substitute_scale(d, num(0)));
  }

  // Shapes in order, each polyhedron's planes in its definition's order.
  auto mixed = expand_shape_planes(std::vector{poly_shape("T", num(1)), *plane, poly_shape("C", num(2))});
  ASSERT_TRUE(mixed);
  ASSERT_EQ(mixed->size(), 4u + 1u + 6u);
  EXPECT_EQ((*mixed)[4], *plane->as_plane());
  EXPECT_EQ((*mixed)[5].b, num(1));
  EXPECT_EQ((*mixed)[5].d, node("*", {num(-1, 2), num(2)}));
}

TEST(Polyhedra, SharedRowsAreStructurallyIdentical) {
  auto rows = [](std::string_view code) { return **polyhedron_definition(*polyhedron_index(code)); };
  auto d = rows("D"), i = rows("I"), a5 = rows("A5"), da5 = rows("dA5");
  // The pentagonal antiprism's triangles are faces of the icosahedron, its caps lie along normals
  // of the dodecahedron; the trapezohedron takes ten normals of the dodecahedron.
  const std::size_t triangles[] = {4, 0, 11, 12, 6, 5, 9, 16, 17, 3};
  for (std::size_t k = 0; k < 10; ++k) EXPECT_EQ(a5[2 + k], i[triangles[k]]) << k;
  EXPECT_EQ(a5[0].a, d[7].a);
  EXPECT_EQ(a5[1].b, d[3].b);
  const std::size_t normals[] = {8, 6, 11, 10, 0, 1, 9, 4, 5, 2};
  for (std::size_t k = 0; k < 10; ++k) {
    EXPECT_EQ(da5[k].a, d[normals[k]].a) << k;
    EXPECT_EQ(da5[k].b, d[normals[k]].b) << k;
    EXPECT_EQ(da5[k].c, d[normals[k]].c) << k;
    EXPECT_EQ(da5[k].d, i[0].d) << k;
  }
}

// ---- Numeric check of every row ----

// A long double value of a table expression: sums, products, powers p/q of non-negative bases,
// rationals and the size.
long double eval(const Expr& e, long double size) {
  if (e.op == "num") return static_cast<long double>(e.value->to_f64());
  if (e.op == "$scale") return size;
  EXPECT_EQ(e.args.size(), 2u) << e.op;
  if (e.args.size() != 2) return NAN;
  long double x = eval(e.args[0], size);
  if (e.op == "+") return x + eval(e.args[1], size);
  if (e.op == "*") return x * eval(e.args[1], size);
  EXPECT_EQ(e.op, "^");
  EXPECT_EQ(e.args[1].op, "num");
  const Fraction& q = *e.args[1].value;
  EXPECT_GE(q.sign(), 0);
  if (!q.den().is_one()) {  // whole powers of negative numbers are fine
    EXPECT_GE(x, 0.0L);
  }
  return std::pow(x, static_cast<long double>(q.to_f64()));
}

// A table value: k or a normal length, given to six decimals unless exact.
struct Approx {
  long double value;
  long double tolerance = 5.1e-7L;
};
Approx exact(long double v) { return {v, 1e-12L}; }

struct Kind {
  Approx k, length;
};

const long double r2 = std::sqrt(2.0L), r3 = std::sqrt(3.0L), r5 = std::sqrt(5.0L);

const std::vector<std::pair<std::string_view, std::vector<Kind>>>& expected_kinds() {
  static const std::vector<std::pair<std::string_view, std::vector<Kind>>> rows = {
      {"T", {{exact(std::sqrt(6.0L) / 12), exact(r3 / 2)}}},
      {"C", {{exact(0.5L), exact(1)}}},
      {"O", {{exact(std::sqrt(6.0L) / 6), exact(r3 / 2)}}},
      {"D", {{exact(std::sqrt(250 + 110 * r5) / 20), {0.951057L}}}},
      {"I", {{exact((3 * r3 + std::sqrt(15.0L)) / 12), exact(r3 / 2)}}},
      {"kT", {{{0.959403L}, {2.984962L}}}},
      {"jC", {{exact(0.75L), {0.795495L}}}},
      {"kC", {{{1.423025L}, {2.515576L}}}},
      {"kO", {{{1.638281L}, {3.557647L}}}},
      {"oC", {{{1.220263L}, {0.896394L}}}},
      {"gC", {{{1.157662L}, {0.453845L}}}},
      {"jD", {{{1.463525L}, {1.011271L}}}},
      {"mC", {{{2.209741L}, {2.809369L}}}},
      {"kD", {{{2.377132L}, {2.518851L}}}},
      {"kI", {{{2.885258L}, {3.852323L}}}},
      {"oD", {{{2.120991L}, {0.996123L}}}},
      {"mD", {{{3.736646L}, {3.053259L}}}},
      {"UD16", {{{1.133893L}, {7.937254L}}}},
      {"UD20", {{{0.827076L}, {1.287815L}}}},
      {"UD37", {{{1.743641L}, {5.799766L}}}},
      {"UD38", {{{1.133893L}, {0.968086L}}}},
      {"UD45", {{exact(15.0L / 8), exact(15.0L / 4)}}},
      {"UD55", {{{0.815941L}, {4.417557L}}}},
      {"UD59", {{{1.507557L}, {5.527708L}}}},
      {"UD66", {{{0.277351L}, {1.151939L}}}},
      {"UD68", {{{0.775750L}, {4.160013L}}}},
      {"P3", {{exact(r3 / 6), exact(1)}, {exact(0.5L), exact(r3 / 2)}}},
      {"P5", {{exact(0.5L), {0.951057L}}, {{0.688191L}, exact(1)}}},
      {"P6", {{exact(0.5L), exact(r3 / 2)}, {exact(r3 / 2), exact(1)}}},
      {"A4", {{exact(std::pow(2.0L, 0.75L) / 4), exact(1)}, {{0.586040L}, exact(r3 / 2)}}},
      {"A5", {{{0.425325L}, {0.951057L}}, {{0.755761L}, exact(r3 / 2)}}},
      {"A6", {{{0.427800L}, exact(r3 / 2)}, {{0.921781L}, exact(r3 / 2)}}},
      {"dP3", {{{0.436436L}, {1.763834L}}}},
      {"dP5", {{{0.733349L}, {2.074987L}}}},
      {"dP6", {{exact(2 / r5), {2.581989L}}}},
      {"dA4", {{{0.518774L}, {0.691776L}}}},
      {"dA5", {{{0.688191L}, {0.951057L}}}},
      {"dA6", {{{0.857813L}, {1.271230L}}}},
  };
  return rows;
}

bool near(long double v, const Approx& a) { return std::fabs(v - a.value) <= a.tolerance; }

TEST(Polyhedra, EveryRowNumerically) {
  const auto& rows = expected_kinds();
  ASSERT_EQ(rows.size(), kPolyhedronCount);
  for (std::size_t row = 0; row < kPolyhedronCount; ++row) {
    auto [code, kinds] = rows[row];
    SCOPED_TRACE(std::string(code));
    ASSERT_EQ(polyhedron_table()[row].code, code);
    auto expanded = expand_shape_planes(std::vector{poly_shape(std::string(code), node("$scale"))});
    ASSERT_TRUE(expanded) << expanded.error().message;
    ASSERT_EQ(expanded->size(), kRows[row].planes);
    std::vector<bool> used(kinds.size());
    std::vector<std::array<long double, 4>> seen;
    for (std::size_t i = 0; i < expanded->size(); ++i) {
      const PlaneShape& p = (*expanded)[i];
      long double a = eval(p.a, 1), b = eval(p.b, 1), c = eval(p.c, 1), d = eval(p.d, 1);
      // S only in d, as S times a negative constant.
      EXPECT_EQ(eval(p.a, 3), a);
      EXPECT_NEAR(eval(p.d, 0), 0.0L, 1e-15L);
      EXPECT_NEAR(eval(p.d, 3), 3 * d, 1e-14L);
      EXPECT_LT(d, 0.0L) << "plane " << i;
      long double length = std::sqrt(a * a + b * b + c * c), k = -d / length;
      bool matched = false;
      for (std::size_t j = 0; j < kinds.size(); ++j) {
        if (near(k, kinds[j].k) && near(length, kinds[j].length)) used[j] = matched = true;
      }
      EXPECT_TRUE(matched) << "plane " << i << ": k " << static_cast<double>(k) << ", length "
                           << static_cast<double>(length);
      for (const auto& q : seen) {
        long double diff = std::fabs(q[0] - a) + std::fabs(q[1] - b) + std::fabs(q[2] - c) + std::fabs(q[3] - d);
        EXPECT_GT(diff, 1e-9L) << "plane " << i << " repeats an earlier one";
      }
      seen.push_back({a, b, c, d});
    }
    for (std::size_t j = 0; j < kinds.size(); ++j) EXPECT_TRUE(used[j]) << "no plane of kind " << j;
  }
}

TEST(Polyhedra, GivenFirstPlanes) {
  struct First {
    std::string_view code;
    std::size_t index;
    long double a, b, c, d;
  };
  const long double ph = (1 + r5) / 2;
  const First firsts[] = {
      {"T", 0, 0.5L, 0.5L, 0.5L, -r2 / 8},
      {"kT", 0, 0.9L, -0.9L, 2.7L, -81 * r2 / 40},
      {"kT", 1, 0.9L, -2.7L, 0.9L, -81 * r2 / 40},
      {"jC", 0, 9.0L / 16, 0, 9.0L / 16, -27 * r2 / 64},
      {"jC", 1, 9.0L / 16, 9.0L / 16, 0, -27 * r2 / 64},
      {"gC", 0, 0.209822L, 0.114078L, 0.385922L, -1.157662L * 0.453845L},
      {"UD16", 0, 3 + 3 * r2, 3, -3 + 3 * r2, -9},
      {"UD45", 0, 15.0L / 32 + 45 * r5 / 32, 15.0L / 16, 45.0L / 32 - 15 * r5 / 32, -225.0L / 32},
      {"UD59", 0, 5, 5.0L / 3, -5.0L / 3, -25.0L / 3},
      {"P3", 0, r3 / 2, 0.5L, 0, -r3 / 6},
      {"A4", 0, 0, 0, 1, -std::pow(2.0L, 0.75L) / 4},
      {"A4", 1, 0, 0, -1, -std::pow(2.0L, 0.75L) / 4},
      {"A5", 0, ph / 2, -0.5L, 0, -(1 + r5) / 8},
      {"A5", 1, -ph / 2, 0.5L, 0, -(1 + r5) / 8},
      {"dP3", 0, 0, 4.0L / 3, 2 * r3 / 3, -4 * r3 / 9},
      {"dP6", 0, 2 * r3 / 3, 2, 2 * r3 / 3, -4 * r3 / 3},
      {"dA5", 0, 0, -ph / 2, 0.5L, -(3 + r5) / 8},
      {"dA5", 1, 0, -ph / 2, -0.5L, -(3 + r5) / 8},
  };
  for (const First& f : firsts) {
    auto planes = expand_shape_planes(std::vector{poly_shape(std::string(f.code), num(1))});
    ASSERT_TRUE(planes);
    const PlaneShape& p = (*planes)[f.index];
    const long double tol = f.code == "gC" ? 2e-6L : 1e-15L;
    EXPECT_NEAR(eval(p.a, 1), f.a, tol) << f.code << " " << f.index;
    EXPECT_NEAR(eval(p.b, 1), f.b, tol) << f.code << " " << f.index;
    EXPECT_NEAR(eval(p.c, 1), f.c, tol) << f.code << " " << f.index;
    EXPECT_NEAR(eval(p.d, 1), f.d, tol) << f.code << " " << f.index;
  }
}

// The roots of e that lie in no other root: powers with a fractional exponent.
void outer_roots(const Expr& e, std::vector<const Expr*>& out) {
  if (e.op == "^" && e.args.size() == 2 && e.args[1].value && !e.args[1].value->den().is_one()) {
    out.push_back(&e);
    return;
  }
  for (const auto& a : e.args) outer_roots(a, out);
}

// Every coefficient of gC holds one root, spelled the same in all of them: the square root of
// 3t² + 3t + 2 (t the tribonacci constant), which generates a field of degree 6 holding the row.
TEST(Polyhedra, TribonacciRowSharesOneRoot) {
  auto planes = expand_shape_planes(std::vector{poly_shape("gC", num(1))});
  ASSERT_TRUE(planes);
  ASSERT_EQ(planes->size(), 24u);
  std::vector<const Expr*> first;
  outer_roots(planes->front().a, first);
  ASSERT_EQ(first.size(), 1u);
  const Expr& theta = *first[0];
  for (std::size_t i = 0; i < planes->size(); ++i) {
    const PlaneShape& p = (*planes)[i];
    for (const Expr* x : {&p.a, &p.b, &p.c, &p.d}) {
      std::vector<const Expr*> roots;
      outer_roots(*x, roots);
      ASSERT_EQ(roots.size(), 1u) << "plane " << i;
      EXPECT_TRUE(*roots[0] == theta) << "plane " << i;
    }
  }
  const long double t = 1.83928675521416113255L;
  EXPECT_NEAR(eval(theta, 1), std::sqrt(3 * t * t + 3 * t + 2), 1e-15L);
  auto value = evaluate_expr(theta);
  ASSERT_TRUE(value) << value.error().message;
  EXPECT_EQ(value->field()->minimal_polynomial().to_string(), "x⁶ + -18x⁴ + 6x² + -2");
}

// Plane orders of the rows built around the z axis: azimuth of each normal and the sign of its z
// component ('+', '-', or '0' for a side; caps have no azimuth).
TEST(Polyhedra, AxialPlaneOrders) {
  const std::vector<std::pair<std::string_view, std::vector<std::string>>> orders = {
      {"P3", {"30 0", "150 0", "270 0", "cap +", "cap -"}},
      {"P5", {"cap +", "cap -", "54 0", "126 0", "198 0", "270 0", "342 0"}},
      {"P6", {"cap +", "cap -", "30 0", "90 0", "150 0", "210 0", "270 0", "330 0"}},
      {"A4", {"cap +", "cap -", "0 +", "45 -", "270 +", "315 -", "90 +", "135 -", "180 +", "225 -"}},
      {"A6", {"cap +", "cap -", "330 +", "0 -", "150 +", "180 -", "30 +", "60 -", "270 +", "300 -", "90 +",
              "120 -", "210 +", "240 -"}},
      {"dP3", {"90 +", "210 +", "330 +", "330 -", "210 -", "90 -"}},
      {"dP5", {"18 +", "90 +", "162 +", "234 +", "306 +", "306 -", "234 -", "162 -", "90 -", "18 -"}},
      {"dP6", {"60 +", "120 +", "180 +", "240 +", "300 +", "0 +", "0 -", "300 -", "240 -", "180 -", "120 -",
               "60 -"}},
      {"dA4", {"45 +", "135 +", "225 +", "315 +", "0 -", "270 -", "180 -", "90 -"}},
      {"dA6", {"120 +", "180 +", "240 +", "300 +", "0 +", "60 +", "330 -", "270 -", "210 -", "150 -", "90 -",
               "30 -"}},
  };
  for (const auto& [code, want] : orders) {
    auto planes = expand_shape_planes(std::vector{poly_shape(std::string(code), num(1))});
    ASSERT_TRUE(planes);
    std::vector<std::string> have;
    for (const PlaneShape& p : *planes) {
      long double x = eval(p.a, 1), y = eval(p.b, 1), z = eval(p.c, 1);
      char sign = z > 1e-12L ? '+' : z < -1e-12L ? '-' : '0';
      if (std::hypot(x, y) < 1e-12L) {
        have.push_back(std::string("cap ") + sign);
        continue;
      }
      long double deg = std::atan2(y, x) * 180 / 3.14159265358979323846264338327950288L;
      long rounded = std::lround(deg);
      EXPECT_NEAR(deg, static_cast<long double>(rounded), 1e-9L);
      have.push_back(std::to_string((rounded + 360) % 360) + " " + sign);
    }
    EXPECT_EQ(have, want) << code;
  }
}

}  // namespace
}  // namespace gy

#include "layout.hpp"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <unordered_map>

#include "parse.hpp"
#include "pool.hpp"
#include "simulator.hpp"
#include "symbolic.hpp"

namespace gy {

namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;
constexpr std::uint16_t kNoFace = 0xFFFF;

using Vec3 = std::array<double, 3>;

double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Vec3 axpy(double s, const Vec3& a, const Vec3& b) { return {s * a[0] + b[0], s * a[1] + b[1], s * a[2] + b[2]}; }

// The faces of the cube reading: outward normal and the in-face axes, ROW x COL = normal.
struct CubeFace {
  Vec3 normal, row, col;
};
constexpr std::array<CubeFace, 6> kCubeFaces{{
    {{0, 1, 0}, {1, 0, 0}, {0, 0, -1}},   // U
    {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}},   // D
    {{-1, 0, 0}, {0, 0, 1}, {0, 1, 0}},   // L
    {{1, 0, 0}, {0, 0, -1}, {0, 1, 0}},   // R
    {{0, 0, -1}, {-1, 0, 0}, {0, 1, 0}},  // B
    {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},    // F
}};
constexpr std::string_view kFaceLetters = "UDLRBF";

// Rounds halves away from zero and saturates into int64; NaN gives nullopt.
std::optional<std::int64_t> to_grid(double a) {
  double r = std::round(a);
  if (!(std::abs(a - r) <= 1e-6)) return std::nullopt;
  if (r >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
  if (r <= -9.2e18) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(r);
}

Vec3 facelet_centre(std::uint64_t f, std::uint64_t n, double d) {
  std::uint64_t nn = n * n;
  std::uint64_t j = f / nn, r = (f % nn) / n, c = f % n;
  double w = 2 * d / static_cast<double>(n);
  const CubeFace& face = kCubeFaces[j];
  Vec3 p{d * face.normal[0], d * face.normal[1], d * face.normal[2]};
  p = axpy((static_cast<double>(r) + 0.5) * w - d, face.row, p);
  p = axpy((static_cast<double>(c) + 0.5) * w - d, face.col, p);
  return p;
}

// The cube edge of a model whose stickers lie on an evenly spaced grid on the six faces, each
// grid cell holding one sticker; absent when the model is not such a cube.
std::optional<CubeSize> cube_test(const TabularModel& model) {
  std::size_t s = model.sticker_count();
  if (s == 0 || s % 6 != 0 || model.color_count() != 6) return std::nullopt;
  double root = std::round(std::sqrt(static_cast<double>(s / 6)));
  if (!(root > 0) || root > 4294967295.0) return std::nullopt;
  auto n = static_cast<std::uint64_t>(root);
  if (n * n != s / 6) return std::nullopt;
  double d = 0;
  for (const auto& p : model.positions)
    for (double x : p)
      if (!std::isnan(x)) d = std::max(d, std::abs(x));
  if (!(d > 1e-9)) return std::nullopt;
  std::vector<std::uint8_t> seen(s, 0);
  for (const auto& p : model.positions) {
    auto f = facelet_of_point(p, n, d);
    if (!f || seen[*f]) return std::nullopt;
    seen[*f] = 1;
  }
  return CubeSize{n, d};
}

Status number_cube(Layout& layout, const TabularModel& model, const CubeSize& size) {
  std::size_t s = model.sticker_count();
  layout.facelet_of_slot.assign(s, kNone);
  layout.slot_of_facelet.assign(s, kNone);
  for (std::size_t slot = 0; slot < s; ++slot) {
    auto f = facelet_of_point(model.positions[slot], size.n, size.half);
    if (!f) return fail(ErrorKind::State, cat("sticker ", slot, " is not on the face of a cube"));
    if (layout.slot_of_facelet[*f] != kNone)
      return fail(ErrorKind::State, cat("two stickers fall on facelet ", *f, ", so this is not a cube"));
    layout.facelet_of_slot[slot] = *f;
    layout.slot_of_facelet[*f] = static_cast<std::uint32_t>(slot);
  }
  std::uint64_t nn = size.n * size.n;
  layout.face_of_color.assign(6, kNoFace);
  layout.color_of_face.assign(6, kNoFace);
  for (std::size_t slot = 0; slot < s; ++slot) {
    std::uint16_t c = model.solved_colors[slot];
    auto k = static_cast<std::uint16_t>(layout.facelet_of_slot[slot] / nn);
    if (layout.face_of_color[c] != kNoFace && layout.face_of_color[c] != k)
      return fail(ErrorKind::State, cat("color ", c, " is on more than one face, so a face cannot stand for a color"));
    layout.face_of_color[c] = k;
    layout.color_of_face[k] = c;
  }
  layout.face_sizes.assign(6, static_cast<std::uint32_t>(nn));
  layout.faces.clear();
  for (char letter : kFaceLetters) layout.faces.emplace_back(1, letter);
  layout.goal_colors.resize(s);
  for (std::size_t f = 0; f < s; ++f) layout.goal_colors[f] = static_cast<std::uint32_t>(f / nn);
  layout.face_count = 6;
  layout.size = size;
  return {};
}

void number_general(Layout& layout, const TabularModel& model) {
  std::size_t s = model.sticker_count(), c = model.color_count();
  layout.facelet_of_slot.resize(s);
  layout.slot_of_facelet.resize(s);
  for (std::size_t i = 0; i < s; ++i)
    layout.facelet_of_slot[i] = layout.slot_of_facelet[i] = static_cast<std::uint32_t>(i);
  layout.face_of_color.resize(c);
  layout.color_of_face.resize(c);
  layout.faces.clear();
  for (std::size_t i = 0; i < c; ++i) {
    layout.face_of_color[i] = layout.color_of_face[i] = static_cast<std::uint16_t>(i);
    layout.faces.push_back(cat(i));
  }
  layout.face_count = c;
  layout.face_sizes.assign(c, 0);
  layout.goal_colors.resize(s);
  for (std::size_t i = 0; i < s; ++i) {
    std::uint16_t color = model.solved_colors[i];
    ++layout.face_sizes[color];
    layout.goal_colors[i] = color;
  }
  layout.size.reset();
}

void add_move(Layout& layout, std::span<const std::uint32_t> perm, std::string name,
              std::optional<std::uint32_t> action) {
  layout.moves.insert(layout.moves.end(), perm.begin(), perm.end());
  layout.move_names.push_back(std::move(name));
  layout.actions.push_back(action);
}

Status add_face_turns(Layout& layout) {
  const CubeSize& size = *layout.size;
  std::size_t count = layout.facelet_count();
  double d = size.half, w = 2 * d / static_cast<double>(size.n);
  std::vector<std::uint32_t> perm(count);
  for (std::size_t k = 0; k < 6; ++k) {
    const Vec3& axis = kCubeFaces[k].normal;
    for (double s : {-1.0, 1.0}) {
      for (std::size_t f = 0; f < count; ++f) {
        perm[f] = static_cast<std::uint32_t>(f);
        Vec3 p = facelet_centre(f, size.n, d);
        double t = dot(axis, p);
        if (!(t > d - w)) continue;
        Vec3 turned = cross(axis, p);
        Vec3 q{t * axis[0] + s * turned[0], t * axis[1] + s * turned[1], t * axis[2] + s * turned[2]};
        auto to = facelet_of_point(q, size.n, d);
        if (!to)
          return fail(ErrorKind::State, cat("turning face ", kFaceLetters[k], " sent facelet ", f, " off the cube"));
        perm[f] = *to;
      }
      add_move(layout, perm, cat(kFaceLetters[k], s < 0 ? "-1" : "1"), std::nullopt);
    }
  }
  return {};
}

void add_actions(Layout& layout, const TabularModel& model, const ActionPermutations& table) {
  std::vector<std::string> names = action_names(model.grip_names);
  if (names.size() != table.action_count || table.slot_count != layout.facelet_count())
    panic("action permutations do not match the puzzle's model");
  bool cube = layout.size.has_value();
  std::size_t turns = layout.move_count();
  std::size_t count = layout.facelet_count();
  std::vector<std::uint8_t> matched(table.action_count, 0);
  if (cube) {
    for (std::size_t a = 0; a < table.action_count; ++a) {
      std::vector<std::uint32_t> fp = slot_to_facelet_permutation(layout, table.row(a));
      for (std::size_t m = 0; m < turns; ++m) {
        auto row = layout.move(m);
        if (std::equal(row.begin(), row.end(), fp.begin(), fp.end())) {
          layout.actions[m] = static_cast<std::uint32_t>(a);
          matched[a] = 1;
        }
      }
    }
  }
  layout.moves.reserve(layout.moves.size() + table.action_count * count);
  for (std::size_t a = 0; a < table.action_count; ++a) {
    if (matched[a]) continue;
    std::vector<std::uint32_t> fp = slot_to_facelet_permutation(layout, table.row(a));
    add_move(layout, fp, cube ? cat(":", names[a]) : names[a], static_cast<std::uint32_t>(a));
  }
}

std::string_view row_bytes(const std::uint32_t* p, std::size_t n) {
  return {reinterpret_cast<const char*>(p), n * sizeof(std::uint32_t)};
}

// ---------------------------------------------------------------------------------------------
// Text trimming: Unicode White_Space at both ends of UTF-8 text

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// The code point starting at s[i] and its length in bytes; malformed bytes read as themselves.
std::pair<char32_t, std::size_t> decode_at(std::string_view s, std::size_t i) {
  auto b = static_cast<unsigned char>(s[i]);
  std::size_t len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 1;
  if (i + len > s.size()) return {b, 1};
  char32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
  for (std::size_t k = 1; k < len; ++k) {
    auto x = static_cast<unsigned char>(s[i + k]);
    if ((x >> 6) != 0x2) return {b, 1};
    c = (c << 6) | (x & 0x3F);
  }
  return {c, len};
}

std::string_view trim_white_space(std::string_view s) {
  while (!s.empty()) {
    auto [c, len] = decode_at(s, 0);
    if (!is_white_space(c)) break;
    s.remove_prefix(len);
  }
  while (!s.empty()) {
    std::size_t start = s.size() - 1;
    while (start > 0 && (static_cast<unsigned char>(s[start]) >> 6) == 0x2 && s.size() - start < 4) --start;
    auto [c, len] = decode_at(s, start);
    if (start + len != s.size()) {
      start = s.size() - 1;
      c = static_cast<unsigned char>(s[start]);
    }
    if (!is_white_space(c)) break;
    s.remove_suffix(s.size() - start);
  }
  return s;
}

// ---------------------------------------------------------------------------------------------
// Parallel helpers

constexpr std::size_t kTaskBytes = std::size_t{1} << 18;

// States per task so that one task moves about kTaskBytes.
std::size_t states_per_task(std::size_t n, std::size_t width) {
  return std::max<std::size_t>(1, kTaskBytes / std::max<std::size_t>(1, n * width));
}

template <class T>
std::vector<T> goal_row(const Layout& layout) {
  std::vector<T> row(layout.facelet_count());
  for (std::size_t f = 0; f < row.size(); ++f) row[f] = static_cast<T>(layout.goal_colors[f]);
  return row;
}

// ---------------------------------------------------------------------------------------------
// Gathers

GatherTable<std::uint32_t> gather_table(const Layout& layout) {
  return {layout.moves.data(), layout.facelet_count(), layout.byte_moves.empty() ? nullptr : layout.byte_moves.data(),
          &layout.plan};
}

// States lo .. hi - 1 of `in` moved into `out`.
template <class In, class Out>
void gather_states(const Layout& layout, const In* in, Out* out, std::size_t lo, std::size_t hi, const MoveChoice& moves,
                   GatherKernel kernel = best_gather_kernel()) {
  const std::size_t n = layout.facelet_count();
  const RowMoves row_moves = moves.every ? RowMoves{&*moves.every, true} : RowMoves{moves.each.data() + lo, false};
  gather_rows<In, Out, std::uint32_t>(gather_table(layout), in + lo * n, out + lo * n, row_moves, hi - lo, nullptr,
                                      nullptr, kernel);
}

// ---------------------------------------------------------------------------------------------
// Walks

constexpr std::uint64_t kGamma = 0x9E3779B97F4A7C15ull;
constexpr std::uint64_t kLengthStream = 0x51ED2701A5C61B3Dull;

std::uint64_t mix(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// The moves of one walk: one stream output per move, never undoing the previous move when the
// layout knows its inverse and has at least three moves.
class Walker {
 public:
  Walker(const Layout& layout, std::uint64_t seed, std::uint64_t walk) : layout_(layout) {
    std::uint64_t start = seed + walk;
    state_ = splitmix64(start) | 1;
  }
  std::uint32_t next() {
    std::uint64_t count = layout_.move_count();
    auto m = static_cast<std::uint32_t>(splitmix64(state_) % count);
    if (previous_ != kNone && count >= 3) {
      const auto& inverse = layout_.inverses[previous_];
      if (inverse && *inverse == m) m = m + 1 == count ? 0 : m + 1;
    }
    previous_ = m;
    return m;
  }

 private:
  const Layout& layout_;
  std::uint64_t state_;
  std::uint32_t previous_ = kNone;
};

std::size_t walks_per_task(std::size_t n, std::size_t width, std::uint64_t moves_hint) {
  std::uint64_t cost = std::max<std::uint64_t>(1, n * width) * (std::min<std::uint64_t>(moves_hint, 1 << 20) + 1);
  return static_cast<std::size_t>(std::max<std::uint64_t>(1, kTaskBytes / cost));
}

std::uint64_t moves_hint(const WalkLengths& lengths) {
  return lengths.form == WalkLengths::Form::list ? 1 : lengths.high;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction

std::optional<std::uint32_t> facelet_of_point(const std::array<double, 3>& p, std::uint64_t n, double half) {
  if (n == 0) return std::nullopt;
  std::size_t k = 0;
  for (; k < 6; ++k)
    if (std::abs(dot(kCubeFaces[k].normal, p) - half) <= 1e-9) break;
  if (k == 6) return std::nullopt;
  double w = 2 * half / static_cast<double>(n);
  auto r = to_grid((dot(kCubeFaces[k].row, p) + half - w / 2) / w);
  if (!r) return std::nullopt;
  auto c = to_grid((dot(kCubeFaces[k].col, p) + half - w / 2) / w);
  if (!c) return std::nullopt;
  auto sn = static_cast<std::int64_t>(std::min<std::uint64_t>(n, std::numeric_limits<std::int64_t>::max()));
  if (*r < 0 || *r >= sn || *c < 0 || *c >= sn) return std::nullopt;
  std::uint64_t f = (k * n + static_cast<std::uint64_t>(*r)) * n + static_cast<std::uint64_t>(*c);
  if (f >= kNone) return std::nullopt;
  return static_cast<std::uint32_t>(f);
}

Result<Layout> layout_from_model(std::string query, const TabularModel& model, const ActionPermutations* actions) {
  Layout layout;
  layout.query = std::move(query);
  if (auto cube = cube_test(model)) {
    GY_CHECK(number_cube(layout, model, *cube));
    GY_CHECK(add_face_turns(layout));
  } else {
    number_general(layout, model);
    if (!actions)
      return fail(ErrorKind::State,
                  "this puzzle's moves are not fixed permutations of its stickers (it jumbles, or a layer of it "
                  "locks), so there is nothing to number face by face");
  }
  if (actions) add_actions(layout, model, *actions);
  compute_inverses(layout);
  prepare_gathers(layout);
  return layout;
}

Result<Layout> build_layout(std::string_view query) {
  Simulator sim = GY_TRY(Simulator::build(query));
  std::string text = GY_TRY(recipe_to_query(sim.recipe));
  std::optional<ActionPermutations> actions = GY_TRY(compute_action_permutations(sim));
  ModelRef model = GY_TRY(tabular_model(sim));
  return layout_from_model(std::move(text), *model, actions ? &*actions : nullptr);
}

std::vector<std::uint32_t> slot_to_facelet_permutation(const Layout& layout, std::span<const std::uint32_t> perm) {
  std::size_t n = layout.facelet_count();
  std::vector<std::uint32_t> out(n);
  for (std::size_t f = 0; f < n; ++f) out[f] = layout.facelet_of_slot[perm[layout.slot_of_facelet[f]]];
  return out;
}

void compute_inverses(Layout& layout) {
  std::size_t n = layout.facelet_count(), count = layout.move_count();
  std::unordered_map<std::string_view, std::uint32_t> first;
  first.reserve(count);
  for (std::size_t m = 0; m < count; ++m)
    first.try_emplace(row_bytes(layout.moves.data() + m * n, n), static_cast<std::uint32_t>(m));
  layout.inverses.assign(count, std::nullopt);
  std::vector<std::uint32_t> inverse(n);
  for (std::size_t m = 0; m < count; ++m) {
    auto row = layout.move(m);
    for (std::size_t i = 0; i < n; ++i) inverse[row[i]] = static_cast<std::uint32_t>(i);
    if (std::equal(inverse.begin(), inverse.end(), row.begin(), row.end())) {
      layout.inverses[m] = static_cast<std::uint32_t>(m);
    } else if (auto it = first.find(row_bytes(inverse.data(), n)); it != first.end()) {
      layout.inverses[m] = it->second;
    }
  }
}

void prepare_gathers(Layout& layout) {
  layout.byte_moves.clear();
  layout.plan = {};
  const std::size_t n = layout.facelet_count();
  if (n == 0 || n > 256) return;
  layout.byte_moves.assign(layout.moves.begin(), layout.moves.end());
  // The shuffle plan is some times larger than the moves, so it is made only where it is used.
  if (best_gather_kernel() == GatherKernel::avx2) layout.plan = make_shuffle_plan(layout.byte_moves, n);
}

// ---------------------------------------------------------------------------------------------
// Moves

Result<Layout> with_moves(const Layout& layout, std::span<const std::vector<std::uint32_t>> sequences) {
  if (sequences.empty()) return fail(ErrorKind::Range, "a layout needs at least one move");
  std::size_t count = layout.move_count(), n = layout.facelet_count();
  for (const auto& sequence : sequences)
    for (std::uint32_t m : sequence)
      if (m >= count) return fail(ErrorKind::Range, cat("move ", m, " out of range (have ", count, ")"));
  std::size_t total = GY_TRY(checked_block({sequences.size(), n}, sizeof(std::uint32_t)));

  Layout out;
  out.size = layout.size;
  out.query = layout.query;
  out.facelet_of_slot = layout.facelet_of_slot;
  out.slot_of_facelet = layout.slot_of_facelet;
  out.face_of_color = layout.face_of_color;
  out.color_of_face = layout.color_of_face;
  out.face_sizes = layout.face_sizes;
  out.faces = layout.faces;
  out.goal_colors = layout.goal_colors;
  out.face_count = layout.face_count;
  out.moves.resize(total);
  out.move_names.resize(sequences.size());
  out.actions.assign(sequences.size(), std::nullopt);
  pool::for_ranges(sequences.size(), states_per_task(n, 4), [&](std::size_t lo, std::size_t hi) {
    std::vector<std::uint32_t> scratch(n);
    for (std::size_t s = lo; s < hi; ++s) {
      poll_interrupt();
      std::uint32_t* acc = out.moves.data() + s * n;
      for (std::size_t i = 0; i < n; ++i) acc[i] = static_cast<std::uint32_t>(i);
      std::string name;
      for (std::uint32_t m : sequences[s]) {
        auto p = layout.move(m);
        std::copy(acc, acc + n, scratch.begin());
        for (std::size_t i = 0; i < n; ++i) acc[i] = scratch[p[i]];
        if (!name.empty()) name += ' ';
        name += layout.move_names[m];
      }
      out.move_names[s] = name.empty() ? std::string(".") : std::move(name);
    }
  });
  compute_inverses(out);
  prepare_gathers(out);
  return out;
}

Result<std::vector<std::uint32_t>> inverse_moves(const Layout& layout, std::span<const std::uint32_t> moves) {
  std::vector<std::uint32_t> out(moves.size());
  std::size_t count = layout.move_count();
  for (std::size_t i = 0; i < moves.size(); ++i) {
    std::uint32_t m = moves[i];
    if (m >= count) return fail(ErrorKind::Range, cat("move ", m, " out of range (have ", count, ")"));
    if (!layout.inverses[m]) return fail(ErrorKind::Range, cat("nothing in this layout undoes ", layout.move_names[m]));
    out[i] = *layout.inverses[m];
  }
  return out;
}

Result<std::vector<std::uint32_t>> moves_to_actions(const Layout& layout, std::span<const std::uint32_t> moves) {
  std::vector<std::uint32_t> out(moves.size());
  for (std::size_t i = 0; i < moves.size(); ++i) {
    std::uint32_t m = moves[i];
    if (m >= layout.move_count() || !layout.actions[m])
      return fail(ErrorKind::Range, cat("move ", m, " has no action of this puzzle"));
    out[i] = *layout.actions[m];
  }
  return out;
}

std::optional<std::uint32_t> move_index(const Layout& layout, std::string_view name) {
  std::string_view text = trim_white_space(name);
  for (std::size_t m = 0; m < layout.move_count(); ++m)
    if (layout.move_names[m] == text) return static_cast<std::uint32_t>(m);
  if (!layout.size || text.empty()) return std::nullopt;
  std::size_t k = kFaceLetters.find(text[0]);
  if (k == std::string_view::npos) return std::nullopt;
  std::string_view rest = text.substr(1);
  std::uint64_t m;
  if (rest.empty() || rest == "1" || rest == "+1")
    m = 2 * k + 1;
  else if (rest == "'" || rest == "-1")
    m = 2 * k;
  else
    return std::nullopt;
  if (m >= layout.move_count()) return std::nullopt;
  return static_cast<std::uint32_t>(m);
}

// ---------------------------------------------------------------------------------------------
// Blocks of states

Status check_state_block(const Layout& layout, std::size_t values) {
  std::size_t n = layout.facelet_count();
  if (n == 0 || values % n != 0)
    return fail(ErrorKind::Range,
                cat("a state of this puzzle is ", n, " values, and ", values, " is not a whole number of them"));
  return {};
}

namespace {

template <class T>
Status check_values(std::span<const T> in, std::uint64_t limit, std::string_view what) {
  if (auto i = pool::first_not_below(in, limit))
    return fail(ErrorKind::Range, cat(in[*i], " is not one of this puzzle's ", limit, " ", what));
  return {};
}

// body(lo, hi) over runs of states in parallel, each run asking for a stop request first.
template <class T, class Body>
void for_states(const Layout& layout, std::size_t values, Body&& body) {
  std::size_t n = layout.facelet_count();
  pool::for_ranges(values / n, states_per_task(n, sizeof(T)), [&](std::size_t lo, std::size_t hi) {
    poll_interrupt();
    body(lo, hi);
  });
}

void check_lengths(std::size_t in, std::size_t out) {
  if (in != out) panic(cat("a block of ", in, " values converted into ", out));
}

}  // namespace

template <class T>
Status check_conversion(const Layout& layout, Conversion which, std::span<const T> in) {
  GY_CHECK(check_state_block(layout, in.size()));
  switch (which) {
    case Conversion::colors_to_facelets:
      return check_values(in, layout.color_count(), "colors");
    case Conversion::facelets_to_colors:
      return check_values(in, layout.face_count, "faces");
    case Conversion::ids_to_facelet_ids:
      break;
  }
  return check_values(in, layout.facelet_count(), "slots");
}

template <class T>
Status convert(const Layout& layout, Conversion which, std::span<const T> in, std::span<T> out) {
  check_lengths(in.size(), out.size());
  GY_CHECK(check_conversion(layout, which, in));
  std::size_t n = layout.facelet_count();
  const std::uint32_t* slot_of = layout.slot_of_facelet.data();
  for_states<T>(layout, in.size(), [&](std::size_t lo, std::size_t hi) {
    for (std::size_t i = lo; i < hi; ++i) {
      const T* s = in.data() + i * n;
      T* d = out.data() + i * n;
      switch (which) {
        case Conversion::colors_to_facelets:
          for (std::size_t f = 0; f < n; ++f) d[f] = static_cast<T>(layout.face_of_color[s[slot_of[f]]]);
          break;
        case Conversion::facelets_to_colors:
          for (std::size_t f = 0; f < n; ++f) d[slot_of[f]] = static_cast<T>(layout.color_of_face[s[f]]);
          break;
        case Conversion::ids_to_facelet_ids:
          for (std::size_t f = 0; f < n; ++f) d[f] = static_cast<T>(layout.facelet_of_slot[s[slot_of[f]]]);
          break;
      }
    }
  });
  return {};
}

template <class T>
Status colors_to_facelets(const Layout& layout, std::span<const T> in, std::span<T> out) {
  return convert(layout, Conversion::colors_to_facelets, in, out);
}

template <class T>
Status facelets_to_colors(const Layout& layout, std::span<const T> in, std::span<T> out) {
  return convert(layout, Conversion::facelets_to_colors, in, out);
}

template <class T>
Status ids_to_facelet_ids(const Layout& layout, std::span<const T> in, std::span<T> out) {
  return convert(layout, Conversion::ids_to_facelet_ids, in, out);
}

template <class T>
Result<std::vector<T>> colors_to_facelets(const Layout& layout, std::span<const T> in) {
  GY_CHECK(check_conversion(layout, Conversion::colors_to_facelets, in));
  std::vector<T> out(in.size());
  GY_CHECK(colors_to_facelets<T>(layout, in, std::span<T>(out)));
  return out;
}

template <class T>
Result<std::vector<T>> facelets_to_colors(const Layout& layout, std::span<const T> in) {
  GY_CHECK(check_conversion(layout, Conversion::facelets_to_colors, in));
  std::vector<T> out(in.size());
  GY_CHECK(facelets_to_colors<T>(layout, in, std::span<T>(out)));
  return out;
}

template <class T>
Result<std::vector<T>> ids_to_facelet_ids(const Layout& layout, std::span<const T> in) {
  GY_CHECK(check_conversion(layout, Conversion::ids_to_facelet_ids, in));
  std::vector<T> out(in.size());
  GY_CHECK(ids_to_facelet_ids<T>(layout, in, std::span<T>(out)));
  return out;
}

Status check_next_states(const Layout& layout, std::size_t values, const MoveChoice& moves) {
  GY_CHECK(check_state_block(layout, values));
  std::size_t n = layout.facelet_count(), states = values / n, count = layout.move_count();
  if (!moves.every && moves.each.size() != states)
    return fail(ErrorKind::Range, cat("got ", moves.each.size(), " moves for ", states, " states"));
  if (states > 0) {
    std::optional<std::uint32_t> bad;
    if (moves.every) {
      if (*moves.every >= count) bad = *moves.every;
    } else if (auto i = pool::first_not_below(moves.each, count)) {
      bad = moves.each[*i];
    }
    if (bad) return fail(ErrorKind::Range, cat("move ", *bad, " out of range (have ", count, ")"));
  }
  return {};
}

template <class In, class Out>
Status next_states(const Layout& layout, std::span<const In> in, const MoveChoice& moves, std::span<Out> out) {
  static_assert(sizeof(Out) <= sizeof(In));
  check_lengths(in.size(), out.size());
  GY_CHECK(check_next_states(layout, in.size(), moves));
  std::size_t n = layout.facelet_count(), states = in.size() / n;
  pool::for_ranges(states, states_per_task(n, sizeof(In)), [&](std::size_t lo, std::size_t hi) {
    poll_interrupt();
    gather_states(layout, in.data(), out.data(), lo, hi, moves);
  });
  return {};
}

template <class T>
Status solved_flags(const Layout& layout, std::span<const T> in, std::span<std::uint8_t> out) {
  GY_CHECK(check_state_block(layout, in.size()));
  std::size_t n = layout.facelet_count();
  if (out.size() != in.size() / n) panic("solved flags of a block of another size");
  std::vector<T> goal = goal_row<T>(layout);
  for_states<T>(layout, in.size(), [&](std::size_t lo, std::size_t hi) {
    equal_rows<T>(goal.data(), n, in.data() + lo * n, hi - lo, out.data() + lo);
  });
  return {};
}

template <class T>
Status one_hot(const Layout& layout, std::span<const T> in, std::span<std::uint8_t> out) {
  GY_CHECK(check_state_block(layout, in.size()));
  std::size_t n = layout.facelet_count(), faces = layout.face_count;
  if (out.size() / std::max<std::size_t>(faces, 1) != in.size() || out.size() % std::max<std::size_t>(faces, 1) != 0)
    panic("one-hot block of another size");
  std::size_t row = n * faces;
  pool::for_ranges(in.size() / n, std::max<std::size_t>(1, kTaskBytes / std::max<std::size_t>(1, row)),
                   [&](std::size_t lo, std::size_t hi) {
                     poll_interrupt();
                     one_hot_rows<T>(in.data() + lo * n, n, faces, hi - lo, out.data() + lo * row);
                   });
  return {};
}

// ---------------------------------------------------------------------------------------------
// Random walks

std::uint64_t splitmix64(std::uint64_t& state) {
  state += kGamma;
  return mix(state);
}

WalkLengths WalkLengths::range(std::uint32_t low, std::uint32_t high, std::uint64_t seed) {
  return {Form::range, low, high, seed ^ kLengthStream, {}};
}

std::uint32_t WalkLengths::length(std::uint64_t walk) const {
  switch (form) {
    case Form::fixed:
      return low;
    case Form::list:
      return list[walk];
    case Form::range: {
      std::uint64_t z = mix(stream + (walk + 1) * kGamma);
      std::uint64_t span = std::uint64_t{high} - low + 1;
      return static_cast<std::uint32_t>(low + z % span);
    }
  }
  return 0;
}

std::uint64_t longest_walk(const WalkLengths& lengths, std::uint64_t count, std::uint64_t enough) {
  if (count == 0) return 0;
  switch (lengths.form) {
    case WalkLengths::Form::fixed:
      return lengths.low;
    case WalkLengths::Form::list: {
      std::uint32_t longest = 0;
      for (std::uint32_t d : lengths.list) longest = std::max(longest, d);
      return longest;
    }
    case WalkLengths::Form::range: {
      std::uint32_t longest = lengths.low;
      for (std::uint64_t i = 0; i < count && longest < lengths.high && longest < enough; ++i)
        longest = std::max(longest, lengths.length(i));
      return longest;
    }
  }
  return 0;
}

Status check_walks(const Layout& layout, const WalkLengths& lengths, std::uint64_t count) {
  if (layout.move_count() > 0 || count == 0) return {};
  bool walks = false;
  switch (lengths.form) {
    case WalkLengths::Form::fixed:
      walks = lengths.low > 0;
      break;
    case WalkLengths::Form::list:
      walks = std::any_of(lengths.list.begin(), lengths.list.end(), [](std::uint32_t d) { return d > 0; });
      break;
    case WalkLengths::Form::range:
      walks = lengths.low > 0;
      for (std::uint64_t i = 0; !walks && lengths.high > 0 && i < count; ++i) walks = lengths.length(i) > 0;
      break;
  }
  if (walks) return fail(ErrorKind::Range, "this puzzle has no moves, so there is nowhere to walk to");
  return {};
}

Status check_walk_limits(const WalkLengths& lengths, std::uint64_t count) {
  std::uint32_t longest = lengths.high;
  if (lengths.form == WalkLengths::Form::list)
    longest = lengths.list.empty() ? 0 : *std::max_element(lengths.list.begin(), lengths.list.end());
  GY_CHECK(check_walk_length(longest));
  return check_bulk_moves(count, longest, "walks");
}

Result<std::size_t> checked_block(std::initializer_list<std::uint64_t> shape, std::size_t width) {
  constexpr auto limit = static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max());
  std::uint64_t values = 1, bytes = 0;
  bool over = false;
  for (std::uint64_t extent : shape) over = over || __builtin_mul_overflow(values, extent, &values);
  if (over || __builtin_mul_overflow(values, std::uint64_t{width}, &bytes) || bytes > limit) {
    std::string text = "an array of shape (";
    bool first = true;
    for (std::uint64_t extent : shape) {
      text += cat(first ? "" : ", ", extent);
      first = false;
    }
    return fail(ErrorKind::Range, cat(text, ") is more than memory can hold"));
  }
  return static_cast<std::size_t>(values);
}

template <class T>
void scrambled(const Layout& layout, const WalkLengths& lengths, std::uint64_t count, std::uint64_t seed,
               std::span<T> out) {
  std::size_t n = layout.facelet_count();
  if (out.size() != count * n) panic("scrambled block of another size");
  if (n == 0) return;  // every walk ends in the empty state
  std::vector<T> goal = goal_row<T>(layout);
  const GatherTable<std::uint32_t> table = gather_table(layout);
  pool::for_ranges(count, walks_per_task(n, sizeof(T), moves_hint(lengths)), [&](std::size_t lo, std::size_t hi) {
    poll_interrupt();
    std::vector<T> spare(n);
    for (std::size_t i = lo; i < hi; ++i) {
      T* row = out.data() + i * n;
      std::copy(goal.begin(), goal.end(), row);
      std::uint32_t d = lengths.length(i);
      if (d == 0) continue;
      Walker walker(layout, seed, i);
      auto next = [&](std::uint64_t j) {
        if (j % kWalkChunk == 0 && j > 0) poll_interrupt();
        return walker.next();
      };
      walk_row<T, std::uint32_t>(table, row, d, next, nullptr, spare.data());
    }
  });
}

template <class T, class M>
void trajectories(const Layout& layout, const WalkLengths& lengths, std::uint64_t count, std::uint64_t seed,
                  std::uint64_t longest, std::span<T> states, std::span<M> moves) {
  std::size_t n = layout.facelet_count();
  std::size_t block = static_cast<std::size_t>(longest + 1) * n;
  std::size_t move_row_length = static_cast<std::size_t>(std::max<std::uint64_t>(longest, 1));
  if (states.size() != count * block || moves.size() != count * move_row_length)
    panic("trajectory blocks of another size");
  auto filler = static_cast<M>(layout.move_count());
  std::vector<T> goal = goal_row<T>(layout);
  const GatherTable<std::uint32_t> table = gather_table(layout);
  pool::for_ranges(count, walks_per_task(n, sizeof(T), longest), [&](std::size_t lo, std::size_t hi) {
    poll_interrupt();
    std::vector<T> current(n), spare(n);
    for (std::size_t i = lo; i < hi; ++i) {
      T* rows = states.data() + i * block;
      M* made = moves.data() + i * move_row_length;
      std::copy(goal.begin(), goal.end(), rows);
      std::fill(made, made + move_row_length, filler);
      const std::uint64_t d = std::min<std::uint64_t>(lengths.length(i), longest);
      Walker walker(layout, seed, i);
      std::copy(goal.begin(), goal.end(), current.begin());
      // Row j + 1 is row j after move j: the rows of a walk are its trail.
      auto next = [&](std::uint64_t j) {
        if (j % kWalkChunk == 0 && j > 0) poll_interrupt();
        const std::uint32_t m = walker.next();
        made[j] = static_cast<M>(m);
        return m;
      };
      walk_row<T, std::uint32_t>(table, current.data(), d, next, rows + n, spare.data());
      for (std::uint64_t j = d; j < longest; ++j) std::copy(rows + j * n, rows + (j + 1) * n, rows + (j + 1) * n);
    }
  });
}

// ---------------------------------------------------------------------------------------------
// Text

template <class T>
std::string state_text(const Layout& layout, std::span<const T> values) {
  static constexpr std::string_view digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  std::string out;
  std::size_t at = 0;
  std::uint64_t row = layout.size ? layout.size->n : 0;
  for (std::size_t k = 0; k < layout.faces.size(); ++k) {
    if (k > 0) out += '\n';
    out += layout.faces[k];
    out += ' ';
    for (std::size_t j = 0; j < layout.face_sizes[k]; ++j) {
      if (row && j > 0 && j % row == 0) out += '/';
      std::size_t p = at + j;
      char c = '?';
      if (p < values.size()) {
        std::uint64_t v = values[p];
        if (layout.size) {
          if (v < kFaceLetters.size()) c = kFaceLetters[v];
        } else if (v < digits.size()) {
          c = digits[v];
        }
      }
      out += c;
    }
    at += layout.face_sizes[k];
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Kernels for their tests

namespace layout_detail {
void gather_byte_rows(const Layout& layout, const std::uint8_t* in, std::uint8_t* out, std::size_t rows,
                      const MoveChoice& moves, GatherKernel kernel) {
  gather_states(layout, in, out, 0, rows, moves, kernel);
}
}  // namespace layout_detail

// ---------------------------------------------------------------------------------------------
// Instances

#define GY_LAYOUT_STATE_TYPE(T)                                                                                 \
  template Status colors_to_facelets<T>(const Layout&, std::span<const T>, std::span<T>);                       \
  template Status facelets_to_colors<T>(const Layout&, std::span<const T>, std::span<T>);                       \
  template Status ids_to_facelet_ids<T>(const Layout&, std::span<const T>, std::span<T>);                       \
  template Result<std::vector<T>> colors_to_facelets<T>(const Layout&, std::span<const T>);                     \
  template Result<std::vector<T>> facelets_to_colors<T>(const Layout&, std::span<const T>);                     \
  template Result<std::vector<T>> ids_to_facelet_ids<T>(const Layout&, std::span<const T>);                     \
  template Status check_conversion<T>(const Layout&, Conversion, std::span<const T>);                           \
  template Status convert<T>(const Layout&, Conversion, std::span<const T>, std::span<T>);                      \
  template Status solved_flags<T>(const Layout&, std::span<const T>, std::span<std::uint8_t>);                  \
  template Status one_hot<T>(const Layout&, std::span<const T>, std::span<std::uint8_t>);                       \
  template void scrambled<T>(const Layout&, const WalkLengths&, std::uint64_t, std::uint64_t, std::span<T>);    \
  template void trajectories<T, std::uint8_t>(const Layout&, const WalkLengths&, std::uint64_t, std::uint64_t,  \
                                              std::uint64_t, std::span<T>, std::span<std::uint8_t>);            \
  template void trajectories<T, std::uint16_t>(const Layout&, const WalkLengths&, std::uint64_t, std::uint64_t, \
                                               std::uint64_t, std::span<T>, std::span<std::uint16_t>);          \
  template void trajectories<T, std::uint32_t>(const Layout&, const WalkLengths&, std::uint64_t, std::uint64_t, \
                                               std::uint64_t, std::span<T>, std::span<std::uint32_t>);          \
  template std::string state_text<T>(const Layout&, std::span<const T>);

GY_LAYOUT_STATE_TYPE(std::uint8_t)
GY_LAYOUT_STATE_TYPE(std::uint16_t)
GY_LAYOUT_STATE_TYPE(std::uint32_t)
#undef GY_LAYOUT_STATE_TYPE

template Status next_states<std::uint8_t, std::uint8_t>(const Layout&, std::span<const std::uint8_t>, const MoveChoice&,
                                                        std::span<std::uint8_t>);
template Status next_states<std::uint16_t, std::uint8_t>(const Layout&, std::span<const std::uint16_t>,
                                                         const MoveChoice&, std::span<std::uint8_t>);
template Status next_states<std::uint16_t, std::uint16_t>(const Layout&, std::span<const std::uint16_t>,
                                                          const MoveChoice&, std::span<std::uint16_t>);
template Status next_states<std::uint32_t, std::uint8_t>(const Layout&, std::span<const std::uint32_t>,
                                                         const MoveChoice&, std::span<std::uint8_t>);
template Status next_states<std::uint32_t, std::uint16_t>(const Layout&, std::span<const std::uint32_t>,
                                                          const MoveChoice&, std::span<std::uint16_t>);
template Status next_states<std::uint32_t, std::uint32_t>(const Layout&, std::span<const std::uint32_t>,
                                                          const MoveChoice&, std::span<std::uint32_t>);

}  // namespace gy

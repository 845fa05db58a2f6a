// A puzzle's sticker slots numbered face by face, and its moves as permutations over that numbering.
//
// A puzzle whose stickers sit on an evenly spaced N x N grid on each face of a cube, six colours one
// per face, is read as a cube: faces U, D, L, R, B, F (0 to 5), facelets face by face and row-major
// within a face, and the twelve face quarter turns first among the moves. Any other puzzle keeps its
// own numbering: faces are its colours, facelets its slots, moves its actions.
//
// Moves are gather permutations: making move m turns a state old into new with new[i] =
// old[move(m)[i]]. Every bulk operation on blocks of states checks the whole block first and then
// works one state per task on the worker pool; none of them depends on the number of threads. They
// poll for a stop request a run of states at a time (and a walk every kWalkChunk moves); a layout
// never changes, so an interrupted call leaves only its unfinished output behind.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gather.hpp"
#include "memory.hpp"
#include "num/error.hpp"

namespace gy {

struct TabularModel;
struct ActionPermutations;

// ---------------------------------------------------------------------------------------------
// Element widths

// The bytes per value of a block of states.
enum class Width : std::uint8_t { u8 = 1, u16 = 2, u32 = 4 };

// One byte when every value lies below a bound of at most 256, two up to 65536, else four.
constexpr Width width_for_bound(std::uint64_t bound) {
  if (bound <= 256) return Width::u8;
  if (bound <= 65536) return Width::u16;
  return Width::u32;
}

// ---------------------------------------------------------------------------------------------
// The record

// The edge of a cube read face by face: n facelets along each side of a face, half-size `half`.
struct CubeSize {
  std::uint64_t n = 0;
  double half = 0;
};

struct Layout {
  std::optional<CubeSize> size;                // absent unless the puzzle is read as a cube
  std::string query;                           // the canonical query text of the built puzzle
  std::vector<std::uint32_t> facelet_of_slot;  // per slot
  std::vector<std::uint32_t> slot_of_facelet;  // per facelet, the inverse permutation
  std::vector<std::uint16_t> face_of_color;    // per puzzle colour
  std::vector<std::uint16_t> color_of_face;    // per face: its colour when solved
  std::vector<std::uint32_t> face_sizes;       // per face: how many facelets it carries
  std::vector<std::string> faces;              // per face: its name
  std::vector<std::uint32_t> goal_colors;      // per facelet: its face when solved
  std::size_t face_count = 0;

  std::vector<std::uint32_t> moves;                    // move_count() rows of facelet_count() entries
  std::vector<std::string> move_names;                 // per move
  std::vector<std::optional<std::uint32_t>> actions;   // per move: the puzzle's action, if one
  std::vector<std::optional<std::uint32_t>> inverses;  // per move: the move that undoes it, if one

  // The moves again as bytes when there are at most 256 facelets (else empty), and their byte
  // shuffle plan, for the vector gathers of one-byte states.
  std::vector<std::uint8_t> byte_moves;
  ShufflePlan plan;

  std::size_t facelet_count() const { return goal_colors.size(); }
  std::size_t move_count() const { return move_names.size(); }
  std::size_t color_count() const { return face_of_color.size(); }
  std::span<const std::uint32_t> move(std::size_t m) const {
    return std::span<const std::uint32_t>(moves).subspan(m * facelet_count(), facelet_count());
  }
  // The width of colour and face states: from max(colour count, face count).
  Width state_width() const { return width_for_bound(std::max(color_count(), face_count)); }
  // The width of sticker-identity states: from the facelet count.
  Width id_width() const { return width_for_bound(facelet_count()); }
};

// ---------------------------------------------------------------------------------------------
// Construction

// The query text of the default puzzle, the 3x3x3 cube.
inline constexpr std::string_view kDefaultLayoutQuery = "?shell=C$1&cut=C$1/3";

// The facelet of a point on the surface of a cube of edge n and half-size `half`: the first face in
// U, D, L, R, B, F order within 1e-9 of the point, and the grid cell whose centre is within 1e-6
// cells of it; absent when there is none.
std::optional<std::uint32_t> facelet_of_point(const std::array<double, 3>& p, std::uint64_t n, double half);

// Builds the puzzle of a query text and numbers it. Build, model and permutation errors are returned
// as they come; State "this puzzle's moves are not fixed permutations of its stickers (...)" for a
// puzzle that is not read as a cube and jumbles or locks.
Result<Layout> build_layout(std::string_view query);

// Numbers a puzzle from its solved model and its action permutations (absent when its moves are not
// fixed permutations); `query` is stored as given.
Result<Layout> layout_from_model(std::string query, const TabularModel& model, const ActionPermutations* actions);

// A slot permutation of the puzzle rewritten over facelets.
std::vector<std::uint32_t> slot_to_facelet_permutation(const Layout& layout, std::span<const std::uint32_t> perm);

// Fills `inverses` from `moves`: a move that undoes itself is its own inverse, any other gets the
// lowest-numbered move with the inverse permutation, or none.
void compute_inverses(Layout& layout);

// Fills `byte_moves` and `plan` from `moves`.
void prepare_gathers(Layout& layout);

// ---------------------------------------------------------------------------------------------
// Moves

// A new layout whose moves are the given sequences of this layout's moves, each composed first move
// first and named by its moves' names joined by blanks ("." for an empty sequence); no move has an
// action. Range "a layout needs at least one move", "move {} out of range (have {})".
Result<Layout> with_moves(const Layout& layout, std::span<const std::vector<std::uint32_t>> sequences);

// The inverse of each move. Range "move {} out of range (have {})", "nothing in this layout undoes {}".
Result<std::vector<std::uint32_t>> inverse_moves(const Layout& layout, std::span<const std::uint32_t> moves);

// The puzzle's action of each move. Range "move {} has no action of this puzzle".
Result<std::vector<std::uint32_t>> moves_to_actions(const Layout& layout, std::span<const std::uint32_t> moves);

// The first move named exactly like the trimmed text; on a cube also "U", "U1", "U+1" (clockwise)
// and "U'", "U-1" (counterclockwise) for each face letter; absent otherwise.
std::optional<std::uint32_t> move_index(const Layout& layout, std::string_view name);

// ---------------------------------------------------------------------------------------------
// Blocks of states

// Range "a state of this puzzle is {} values, and {} is not a whole number of them" unless `values`
// is a whole multiple of a facelet count above 0.
Status check_state_block(const Layout& layout, std::size_t values);

// Conversions between slot order and face order; `out` has the length of `in`. Each checks the
// block length, then every value in order (Range "{} is not one of this puzzle's {} colors", "...
// faces", "... slots"), before writing anything. Instantiated for u8, u16 and u32.
//   colors_to_facelets:  out[f] = face_of_color[in[slot_of_facelet[f]]]
//   facelets_to_colors:  out[slot_of_facelet[f]] = color_of_face[in[f]]
//   ids_to_facelet_ids:  out[f] = facelet_of_slot[in[slot_of_facelet[f]]]
template <class T>
Status colors_to_facelets(const Layout& layout, std::span<const T> in, std::span<T> out);
template <class T>
Status facelets_to_colors(const Layout& layout, std::span<const T> in, std::span<T> out);
template <class T>
Status ids_to_facelet_ids(const Layout& layout, std::span<const T> in, std::span<T> out);

// The same, returning a new block.
template <class T>
Result<std::vector<T>> colors_to_facelets(const Layout& layout, std::span<const T> in);
template <class T>
Result<std::vector<T>> facelets_to_colors(const Layout& layout, std::span<const T> in);
template <class T>
Result<std::vector<T>> ids_to_facelet_ids(const Layout& layout, std::span<const T> in);

// The three conversions by name, and their checks alone, for a caller that checks a block before it
// allocates the result.
enum class Conversion : std::uint8_t { colors_to_facelets, facelets_to_colors, ids_to_facelet_ids };
template <class T>
Status check_conversion(const Layout& layout, Conversion which, std::span<const T> in);
template <class T>
Status convert(const Layout& layout, Conversion which, std::span<const T> in, std::span<T> out);

// One move for every state, or one per state.
struct MoveChoice {
  std::optional<std::uint32_t> every;
  std::span<const std::uint32_t> each;
};

// The checks of next_states for a block of `values` values, in order: the block length, Range "got
// {} moves for {} states", Range "move {} out of range (have {})" (the first in state order).
Status check_next_states(const Layout& layout, std::size_t values, const MoveChoice& moves);

// Makes one move on every state of `in` into `out` (same length), after check_next_states. Values
// are moved, never read: each must merely fit Out. In and Out are u8, u16 or u32, Out no wider
// than In.
template <class In, class Out>
Status next_states(const Layout& layout, std::span<const In> in, const MoveChoice& moves, std::span<Out> out);

// One flag per state (out has one byte per state): whether every facelet holds its goal face.
template <class T>
Status solved_flags(const Layout& layout, std::span<const T> in, std::span<std::uint8_t> out);

// Face indicators, facelet-major: byte f * face_count + v of a state is 1 when facelet f holds face
// v; a value that is no face leaves its facelet's bytes 0. `out` has face_count bytes per value and
// is written whole.
template <class T>
Status one_hot(const Layout& layout, std::span<const T> in, std::span<std::uint8_t> out);

// ---------------------------------------------------------------------------------------------
// Random walks

// One SplitMix64 output: adds the golden-ratio increment to the state and mixes the result.
std::uint64_t splitmix64(std::uint64_t& state);

// The lengths of the walks of one call: one number for all, a range drawn per walk from the length
// stream, or one per walk. Walk i's length is computed on demand, so no list is built.
struct WalkLengths {
  enum class Form : std::uint8_t { fixed, range, list };
  Form form = Form::fixed;
  std::uint32_t low = 0;     // fixed: the length; range: its lowest
  std::uint32_t high = 0;    // range: its highest
  std::uint64_t stream = 0;  // range: the length stream's starting state
  std::span<const std::uint32_t> list;

  static WalkLengths fixed_length(std::uint32_t d) { return {Form::fixed, d, d, 0, {}}; }
  // Range: from the seed of the call; low <= high.
  static WalkLengths range(std::uint32_t low, std::uint32_t high, std::uint64_t seed);
  static WalkLengths each(std::span<const std::uint32_t> lengths) { return {Form::list, 0, 0, 0, lengths}; }

  std::uint32_t length(std::uint64_t walk) const;
};

// The longest of `count` walks (0 for none). A range stops looking once it has drawn its highest or
// a length of at least `enough`.
std::uint64_t longest_walk(const WalkLengths& lengths, std::uint64_t count,
                           std::uint64_t enough = std::numeric_limits<std::uint64_t>::max());

// Range "this puzzle has no moves, so there is nowhere to walk to" when the layout has no moves and
// some walk has a length above 0.
Status check_walks(const Layout& layout, const WalkLengths& lengths, std::uint64_t count);
// The Range errors of check_walk_length for the longest walk asked for (a range's high end) and of
// check_bulk_moves for count walks of that length.
Status check_walk_limits(const WalkLengths& lengths, std::uint64_t count);

// The number of values of an array of that shape whose values are `width` bytes each, computed
// without overflow; Range "an array of shape ({}, {}) is more than memory can hold" when its bytes
// exceed what can be addressed.
Result<std::size_t> checked_block(std::initializer_list<std::uint64_t> shape, std::size_t width);

// `count` walks from the solved state: row i of `out` (count rows of facelet_count values) is where
// walk i ends. T is the layout's state type.
template <class T>
void scrambled(const Layout& layout, const WalkLengths& lengths, std::uint64_t count, std::uint64_t seed,
               std::span<T> out);

// `count` walks keeping every state: walk i fills block i of `states` (count blocks of longest + 1
// rows) and row i of `moves` (count rows of max(longest, 1) entries, move_count past a walk's end).
// `longest` is longest_walk(lengths, count). M is u8, u16 or u32 and holds move_count.
template <class T, class M>
void trajectories(const Layout& layout, const WalkLengths& lengths, std::uint64_t count, std::uint64_t seed,
                  std::uint64_t longest, std::span<T> states, std::span<M> moves);

// ---------------------------------------------------------------------------------------------
// Text

// One line per face: its name, a blank and one character per facelet ("/" between the rows of a
// cube's face); "?" past the end of the values or for a value with no character.
template <class T>
std::string state_text(const Layout& layout, std::span<const T> values);

// ---------------------------------------------------------------------------------------------
// Kernels, exposed for their tests

namespace layout_detail {
// Gathers rows of n bytes through the move of each row (moves.every or moves.each[r]) with the
// kernel asked for.
void gather_byte_rows(const Layout& layout, const std::uint8_t* in, std::uint8_t* out, std::size_t rows,
                      const MoveChoice& moves, GatherKernel kernel);
}  // namespace layout_detail

}  // namespace gy

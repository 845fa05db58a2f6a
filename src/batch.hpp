// Many copies of one puzzle, stepped, reset, scrambled and undone together on the worker pool.
//
// Tabular mode (the moves are fixed permutations of the sticker slots): every copy is one row of
// slot numbers in one contiguous block of the narrowest width, and a move is a gather through the
// action's permutation, new[j] = old[perm[a][j]], with the row kernels the layout uses too.
// Geometric mode (the puzzle jumbles or its layers lock): every copy is a Simulator of its own. Each
// copy's random walks draw only from its own SplitMix64 state, so results never depend on the
// number of worker threads.
//
// Checks come before changes. Running out of memory surfaces as std::bad_alloc, thrown before the
// batch is changed wherever the amount can be known in advance (sizes, history growth).
//
// Long calls poll for a stop request (gy::Interrupted) a run of rows at a time, or between whole
// moves of a geometric copy, and unwind leaving every copy whole, its history agreeing with its
// state: a tabular step or a run of undos is all or nothing per copy; a scramble, solve or load
// keeps the copies (and the moves of a walk) it finished, as its failure part-way would.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "gather.hpp"
#include "memory.hpp"
#include "num/error.hpp"
#include "render/lut.hpp"
#include "render/scene.hpp"
#include "simulator.hpp"
#include "symbolic.hpp"

namespace gy {

struct Layout;

inline constexpr std::uint32_t kNoAction = 0xFFFFFFFF;

// The width of a tabular batch's slot numbers; the tag is the index into SlotRowsOfAnyWidth.
enum class ElementWidth : std::uint8_t { U8 = 0, U16 = 1, U32 = 2 };

// U8 below 257 slots, U16 below 65537, else U32 (a slot number is at most sticker_count - 1).
ElementWidth element_width_for(std::size_t sticker_count);

// The slot-number blocks of one width. `moves` holds 2 * action_count rows: the permutation of each
// action, then the inverse of each (the gather that undoes it).
template <class T>
struct SlotRows {
  Block<T> states;   // count rows: entry j is the sticker now in slot j, by its solved slot
  Block<T> scratch;  // the same size: a step gathers into it, then the two are exchanged
  Block<T> moves;
  ShufflePlan plan;  // for one-byte rows; empty otherwise
};
using SlotRowsOfAnyWidth = std::variant<SlotRows<std::uint8_t>, SlotRows<std::uint16_t>, SlotRows<std::uint32_t>>;

struct TabularState {
  Simulator template_puzzle;  // never turned; its view and camera are the batch's
  SlotRowsOfAnyWidth rows;
  // Count entries: a step writes every copy's new last action here, then exchanges it with the
  // batch's, so that a step interrupted part-way leaves them as they were.
  std::vector<std::uint32_t> next_actions;
  std::vector<std::uint16_t> solved_colors;  // per slot
  std::vector<std::uint8_t> solved_colors8;  // the same as bytes, when there are at most 256 colours

  ElementWidth width() const { return static_cast<ElementWidth>(rows.index()); }
  SlotColors colors() const { return {solved_colors, solved_colors8}; }
};

struct GeometricState {
  std::vector<Simulator> copies;
};

using BatchMode = std::variant<TabularState, GeometricState>;

// Every copy's moves since it was last solved, kept by depth: entry d of copy i's history is entry
// i of column d, so a step writes one column side by side for all copies and a copy's history is
// gathered only when it is read. Columns hold one action per copy at the narrowest width the
// puzzle's actions fit; they come in blocks of whole columns (at least kBlockColumns, and at least
// kBlockBytes), made as the deepest history needs them and never moved or copied afterwards.
//
// While every history has the same length (copies stepped, reset and scrambled alike) the log is
// level: one length stands for all and no per-copy length is read or written. spread() gives every
// copy its own length before copies change their histories one by one. Different copies' entries
// may be written at once by different threads; the log's shape changes only on the calling thread.
//
// A log of large blocks keeps the pages of the next kWarmColumns to 2 * kWarmColumns columns after
// the room reserved backed ahead of the writes, on the pool (making the next block early when those
// columns reach it), so that no step waits on the system to fault fresh memory in.
class HistoryLog {
 public:
  static constexpr std::size_t kBlockColumns = 64;
  static constexpr std::size_t kBlockBytes = std::size_t{1} << 16;
  static constexpr std::size_t kWarmColumns = 16;

  HistoryLog() = default;
  HistoryLog(std::size_t count, std::size_t action_count);
  HistoryLog(HistoryLog&&) noexcept = default;
  HistoryLog& operator=(HistoryLog&&) noexcept = default;
  ~HistoryLog() { warmer_.stop(); }

  bool level() const { return level_; }
  std::size_t length(std::size_t i) const { return level_ ? level_length_ : lengths_[i]; }
  // Copy i's entries, oldest first.
  std::vector<std::uint32_t> entries(std::size_t i) const;
  std::uint32_t back(std::size_t i) const { return read(i, length(i) - 1); }

  // Makes room, before anything changes, for `more` entries after the deepest history: std::bad_alloc
  // when the blocks cannot be had (every history as it was).
  void reserve(std::uint64_t more);
  // Gives every copy its own length (a no-op once spread).
  void spread();

  // Entry length(i) + k of copy i becomes a; the history grows only through extend or grow_all.
  void put(std::size_t i, std::size_t k, std::uint32_t a) { write(i, length(i) + k, a); }
  // One more entry for each of the copies lo .. hi - 1, actions[i - lo] or, when actions is null,
  // `uniform`: written in place when level (grow_all(1) follows once every copy has one), pushed
  // copy by copy otherwise.
  void push_rows(std::size_t lo, std::size_t hi, const std::uint32_t* actions, std::uint32_t uniform);
  // After every copy has k more entries (put while level, or pushed): the lengths move on.
  void grow_all(std::size_t k);

  // Per copy, once spread.
  void extend(std::size_t i, std::size_t k) { lengths_[i] += static_cast<std::uint32_t>(k); }
  void push(std::size_t i, std::uint32_t a) {
    put(i, 0, a);
    ++lengths_[i];
  }
  std::uint32_t pop(std::size_t i) { return read(i, --lengths_[i]); }
  void drop(std::size_t i, std::size_t k) {
    lengths_[i] -= static_cast<std::uint32_t>(std::min<std::size_t>(k, lengths_[i]));
  }
  void clear(std::size_t i) { lengths_[i] = 0; }

  // Every history emptied: the log is level again.
  void clear_all();
  // After copies changed their own lengths: the deepest history again, found in parallel.
  void recount();

  // Bytes held by the columns.
  std::size_t bytes() const { return blocks_.size() * block_columns() * count_ * width_; }
  // The columns of a block: a power of two.
  std::size_t block_columns() const { return std::size_t{1} << block_shift_; }

 private:
  void warm_ahead(std::uint64_t depth);
  std::size_t offset(std::size_t i, std::size_t d) const {
    return ((d & (block_columns() - 1)) * count_ + i) * width_;
  }
  std::uint8_t* at(std::size_t i, std::size_t d) { return blocks_[d >> block_shift_].data() + offset(i, d); }
  const std::uint8_t* at(std::size_t i, std::size_t d) const {
    return blocks_[d >> block_shift_].data() + offset(i, d);
  }
  void write(std::size_t i, std::size_t d, std::uint32_t a) {
    std::uint8_t* p = at(i, d);
    if (width_ == 1) {
      *p = static_cast<std::uint8_t>(a);
    } else if (width_ == 2) {
      const auto v = static_cast<std::uint16_t>(a);
      std::memcpy(p, &v, 2);
    } else {
      std::memcpy(p, &a, 4);
    }
  }
  std::uint32_t read(std::size_t i, std::size_t d) const {
    const std::uint8_t* p = at(i, d);
    if (width_ == 1) return *p;
    if (width_ == 2) {
      std::uint16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
  }

  PageWarmer warmer_;  // first: stopped before the blocks go, and before they are replaced
  std::size_t count_ = 0;
  std::uint8_t width_ = 1;
  std::uint8_t block_shift_ = 6;
  bool level_ = true;
  std::uint32_t level_length_ = 0;     // every length, while level
  std::vector<std::uint32_t> lengths_;  // per copy, once spread
  std::size_t deepest_ = 0;            // at least every length
  std::vector<Block<std::uint8_t>> blocks_;
  bool warms_ = false;      // the blocks are large
  std::uint64_t warmed_ = 0;  // the columns whose pages were asked for ahead
};

struct PuzzleBatch {
  std::string query;
  std::vector<std::uint64_t> rng_states;     // SplitMix64 state per copy
  std::vector<std::uint32_t> last_actions;   // per copy; kNoAction for none
  HistoryLog histories;                      // per copy: its moves since it was last solved
  std::vector<DrawingTable> drawing_tables;  // most recently used first, at most four
  BatchMode mode;
  ModelRef model;

  std::size_t count() const { return rng_states.size(); }
  std::size_t sticker_count() const { return model->sticker_count(); }
  std::size_t action_count() const { return model->action_count(); }
  std::size_t color_count() const { return model->color_count(); }
  bool is_tabular() const { return std::holds_alternative<TabularState>(mode); }
  const TabularState* tabular() const { return std::get_if<TabularState>(&mode); }
  TabularState* tabular() { return std::get_if<TabularState>(&mode); }
};

// ---------------------------------------------------------------------------------------------
// Construction

enum class BatchModeRequest : std::uint8_t {
  automatic,  // tabular when the moves are fixed permutations, else geometric
  geometric,  // one Simulator per copy in any case (to compare the two modes)
};

struct BatchSetup {
  ViewOptions view;  // its show_arrows is ignored: a batch never draws arrows
  std::optional<std::uint64_t> seed;
  std::optional<std::uint32_t> scramble;
  BatchModeRequest mode = BatchModeRequest::automatic;
};

// A batch of `count` solved copies of the query's puzzle, its view options applied, then seeded
// (copy i gets seed + i) and reset with the scramble depth when given. Range "a batch needs at least
// one puzzle" for 0 copies and "a batch of {} puzzles of {} stickers each is too large to hold" when
// its blocks cannot be addressed, MemoryRefusal before any copy is made when this machine's memory
// could not hold them (a geometric copy is taken to hold what the template holds), and the errors of
// check_scramble_depth before any copy is made; errors of the build, the model and the permutations
// pass through.
Result<PuzzleBatch> build_batch(std::string_view query, std::uint64_t count, const BatchSetup& setup = {});

// The view of the batch: the template of a tabular batch, else copy 0.
const Simulator& view_source(const PuzzleBatch& batch);

// Changes the view every frame of the batch is drawn from: the template of a tabular batch, or every
// copy alike. The options apply first (arrows stay off), then the camera vectors that are given.
struct CameraVectors {
  std::optional<Vec3d> position, target, up;
};
void configure_views(PuzzleBatch& batch, const ViewOptions& options, const CameraVectors& vectors);

// Copy i's moves since it was last solved, oldest first, and how many there are.
std::vector<std::uint32_t> history_of(const PuzzleBatch& batch, std::size_t i);
std::size_t history_length(const PuzzleBatch& batch, std::size_t i);

// ---------------------------------------------------------------------------------------------
// Stepping

// Whether every slot of a tabular row shows the colour its slot has when solved.
template <class T>
bool row_is_solved(std::span<const T> row, std::span<const std::uint16_t> solved_colors) {
  std::uint8_t solved = 0;
  solved_rows<T>({solved_colors, {}}, row.size(), row.data(), 1, &solved, GatherKernel::scalar);
  return solved != 0;
}

// One action per copy. solved[i] and applied[i] (count bytes each, 0 or 1) tell whether copy i is
// solved afterwards and whether its action was made (always in tabular mode). Range "got {} actions
// for {} puzzles" and "action {} out of range (have {})" change nothing; in geometric mode the first
// error of a copy stops the others that have not begun. Interrupted, a tabular step changes nothing
// and a geometric one keeps the copies it made.
Status step_batch(PuzzleBatch& batch, std::span<const std::uint32_t> actions, std::span<std::uint8_t> solved,
                  std::span<std::uint8_t> applied);

// Makes every move of a move text in every copy, each repeat a step; returns the number of turns
// asked for. Parse errors and the Range error of check_bulk_moves change nothing.
Result<std::uint64_t> apply_moves(PuzzleBatch& batch, std::string_view text);

// ---------------------------------------------------------------------------------------------
// Solving, scrambling, undoing

// Solves the copies whose flag is 1 (count flags): the identity row, or the copy's turns undone
// (rebuilt from the recipe when an undo is refused). A copy's history and last action are cleared
// once it is solved; a geometric copy that fails keeps the history of the position it is left in.
Status solve_flagged(PuzzleBatch& batch, std::span<const std::uint8_t> flags);

// Range errors of check_walk_length and check_bulk_moves for a scramble of count copies whose
// deepest walk is `deepest` moves.
Status check_scramble_depth(std::size_t count, std::uint32_t deepest);

// Random walks of depths[i] moves from each copy's own random state, never undoing the move just
// made (with two or more axes). Range "got {} depths for {} puzzles", then the errors of
// check_scramble_depth. A geometric copy gives up after 8 attempts per move.
Status scramble_all(PuzzleBatch& batch, std::span<const std::uint32_t> depths);

// solve_flagged, then a walk of `depth` moves in each chosen copy; a depth that check_scramble_depth
// refuses changes nothing.
Status reset_flagged(PuzzleBatch& batch, std::span<const std::uint8_t> flags, std::uint32_t depth);
Status reset_all(PuzzleBatch& batch, std::uint32_t depth);

// Takes back the last move of each chosen copy that has one; undone[i] is 1 for a copy undone.
// Range "got {} flags for {} puzzles".
Status undo_flagged(PuzzleBatch& batch, std::span<const std::uint8_t> flags, std::span<std::uint8_t> undone);

// Copy i's random state becomes seed (seed_one) or seed + i (seed_all); its last action is cleared.
void seed_one(PuzzleBatch& batch, std::size_t index, std::uint64_t seed);
void seed_all(PuzzleBatch& batch, std::uint64_t seed);

// ---------------------------------------------------------------------------------------------
// Reading states

// Every copy's colour in each slot (observation_rows) or the home slot of the sticker in each slot
// (sticker_id_rows), row i for copy i, as Out (uint8_t, uint16_t or uint32_t). Range "this puzzle has
// {} colors, which do not fit the {} values a {}-byte observation has room for" and "this puzzle has
// {} slots, which do not fit the {} a slot number of this width has room for" when Out is too narrow;
// a geometric copy off the solved lattice fails with the State error of its sticker reading.
template <class Out>
Result<std::vector<Out>> observation_rows(PuzzleBatch& batch);
template <class Out>
Result<std::vector<Out>> sticker_id_rows(PuzzleBatch& batch);
// The same rows written into `out` (count x sticker_count values, which the caller sizes), filled
// in parallel so that a fresh buffer is first touched by many threads. On failure `out` holds
// unspecified values.
template <class Out>
Status observation_rows(PuzzleBatch& batch, std::span<Out> out);
template <class Out>
Status sticker_id_rows(PuzzleBatch& batch, std::span<Out> out);

// The bytes of count x sticker_count x color_count indicators, Range "a one-hot block of {} puzzles
// of {} stickers and {} colors is too large to hold" when that product does not fit 64 bits.
Result<std::size_t> one_hot_size(const PuzzleBatch& batch);

// Row i of `out` (one_hot_size bytes): byte j * color_count + k is 1 when slot j of copy i shows
// colour k. Fails as observation_rows does.
Status one_hot_rows(PuzzleBatch& batch, std::span<std::uint8_t> out);

// Row i of `out` (count x action_count bytes): whether copy i can make each action now. Every flag
// is 1 in a tabular batch; a geometric copy reports which of its axes have a grip on their plane.
Status action_mask_rows(PuzzleBatch& batch, std::span<std::uint8_t> out);

// out[i] (count bytes) is 1 when copy i is solved; a geometric copy off its lattice reads 0.
void solved_flags(PuzzleBatch& batch, std::span<std::uint8_t> out);

// ---------------------------------------------------------------------------------------------
// Loading states

// Puts count rows of sticker_count slot numbers (load_arrangements) or colours (load_color_states)
// into a tabular batch, every row checked before anything changes; histories and last actions are
// cleared. Within one colour the k-th sticker met in slot order takes the k-th lowest slot of that
// colour. Range for a wrong length and for a row that is not an arrangement or lacks the solved
// colour counts; State for a geometric batch.
template <class In>
Status load_arrangements(PuzzleBatch& batch, std::span<const In> values);
template <class In>
Status load_color_states(PuzzleBatch& batch, std::span<const In> values);

// Whether a layout numbers this batch's puzzle: the layout's query against the canonical query of
// the batch's recipe. Range "this layout describes {}, and this batch holds {}" otherwise.
Status check_layout_matches(const PuzzleBatch& batch, const Layout& layout);

// ---------------------------------------------------------------------------------------------
// Rendering

// The largest supersampling factor a batch draws with: the bound every view is given with.
inline constexpr std::uint32_t kMaxBatchSupersample = kMaxSupersample;

// Frames of width x height, `channels` (3 or 4) bytes or floats a pixel, pixel-major or, with
// channels_first, channel-major within each frame.
struct FrameRequest {
  std::uint64_t channels = 4;
  std::uint32_t width = 256, height = 256;
  bool channels_first = false;
};

// The element count of `frames` frames, checked before any work: Range "a frame has 3 or 4 channels,
// not {}", a supersampling factor above kMaxBatchSupersample, a supersampled frame past the pixel cap,
// or a total that overflows 64 bits or the address space.
Result<std::size_t> frame_elements(const PuzzleBatch& batch, std::uint64_t frames, const FrameRequest& request);

// Every copy's frame into `out` (frame_elements(count) values): painted from the batch's drawing
// table in tabular mode, rasterized per copy otherwise. Out is uint8_t (the bytes) or float (b / 255).
template <class Out>
Status render_frames(PuzzleBatch& batch, const FrameRequest& request, std::span<Out> out);

// Frames of given colour rows (sticker_count colour ids each), painted from the drawing table; a
// geometric batch has none. Range "a state of this puzzle is {} colors, and {} is not a whole number
// of them".
Status render_color_rows(PuzzleBatch& batch, std::span<const std::uint32_t> rows, const FrameRequest& request,
                         std::span<std::uint8_t> out);

// ---------------------------------------------------------------------------------------------
// Parts exposed for tests and benchmarks

// The draw of a walk: the next action of a copy whose last action is `last`, from `state`.
std::uint32_t draw_action(std::uint64_t& state, std::uint32_t last, std::uint32_t action_count);

}  // namespace gy

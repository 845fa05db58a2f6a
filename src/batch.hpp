// Many copies of one puzzle, stepped, reset, scrambled and undone together on the worker pool.
//
// Tabular mode (the moves are fixed permutations of the sticker slots): every copy is one row of
// slot numbers in one contiguous block of the narrowest width, and a move is a gather through the
// action's permutation, new[j] = old[perm[a][j]], vectorised by byte shuffles where the CPU has
// them. Geometric mode (the puzzle jumbles or its layers lock): every copy is a Simulator of its
// own. Each copy's random walks draw only from its own SplitMix64 state, so results never depend
// on the number of worker threads.
//
// Checks come before changes. Running out of memory surfaces as std::bad_alloc, thrown before the
// batch is changed wherever the amount can be known in advance (sizes, history growth).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

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

// An owned block of T, 64-byte aligned, uninitialised until written.
template <class T>
class SlotBlock {
 public:
  SlotBlock() = default;
  explicit SlotBlock(std::size_t size)
      : data_(size ? static_cast<T*>(::operator new(size * sizeof(T), std::align_val_t{64})) : nullptr), size_(size) {}
  SlotBlock(SlotBlock&& o) noexcept : data_(std::exchange(o.data_, nullptr)), size_(std::exchange(o.size_, 0)) {}
  SlotBlock& operator=(SlotBlock&& o) noexcept {
    std::swap(data_, o.data_);
    std::swap(size_, o.size_);
    return *this;
  }
  ~SlotBlock() {
    if (data_) ::operator delete(data_, std::align_val_t{64});
  }
  T* data() { return data_; }
  const T* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::span<T> span() { return {data_, size_}; }
  std::span<const T> span() const { return {data_, size_}; }

 private:
  T* data_ = nullptr;
  std::size_t size_ = 0;
};

// One-byte gathers as byte shuffles, for rows of 16 slots or more: each output vector of a row (32
// bytes; 16 for rows below 32 slots; the last one ends at the row's end and may overlap the one
// before) is the OR of shuffles of the 16-byte source chunks it draws from (the last chunk also
// ends at the row's end). Only chunks that feed an output vector get a term.
struct ShufflePlan {
  struct Term {
    alignas(32) std::uint8_t mask[32];  // per output byte: the byte of the chunk, or 0x80 for none
    std::uint32_t source = 0;           // byte offset of the chunk in the row
  };
  std::uint32_t vector_bytes = 0;         // 32 or 16; 0: no plan, rows are gathered slot by slot
  std::vector<std::uint32_t> outputs;     // byte offset of each output vector in a row
  std::vector<std::uint32_t> first_term;  // per (permutation row, output vector), then the end
  std::vector<Term> terms;
};

// The slot-number blocks of one width. `moves` holds 2 * action_count rows: the permutation of each
// action, then the inverse of each (the gather that undoes it).
template <class T>
struct SlotRows {
  SlotBlock<T> states;   // count rows: entry j is the sticker now in slot j, by its solved slot
  SlotBlock<T> scratch;  // the same size: a step gathers into it, then the two are exchanged
  SlotBlock<T> moves;
  ShufflePlan plan;      // for one-byte rows; empty otherwise
};
using SlotRowsOfAnyWidth = std::variant<SlotRows<std::uint8_t>, SlotRows<std::uint16_t>, SlotRows<std::uint32_t>>;

struct TabularState {
  Simulator template_puzzle;  // never turned; its view and camera are the batch's
  SlotRowsOfAnyWidth rows;
  std::vector<std::uint16_t> solved_colors;  // per slot
  std::vector<std::uint8_t> solved_colors8;  // the same as bytes, when there are at most 256 colours

  ElementWidth width() const { return static_cast<ElementWidth>(rows.index()); }
};

struct GeometricState {
  std::vector<Simulator> copies;
};

using BatchMode = std::variant<TabularState, GeometricState>;

// The latest steps of a tabular batch, kept by column until they join the histories: a step writes
// one action per copy side by side instead of one to each copy's own list. Copy i's history goes on
// with columns from[i] .. steps - 1; every kPendingSteps steps they are appended to the lists.
inline constexpr std::uint32_t kPendingSteps = 8;
struct PendingSteps {
  std::vector<std::uint32_t> columns;  // kPendingSteps columns of count actions (tabular batches only)
  std::vector<std::uint8_t> from;      // per copy
  std::uint32_t steps = 0;
};

struct PuzzleBatch {
  std::string query;
  std::vector<std::uint64_t> rng_states;              // SplitMix64 state per copy
  std::vector<std::uint32_t> last_actions;            // per copy; kNoAction for none
  std::vector<std::vector<std::uint32_t>> histories;  // per copy: its moves since it was last solved,
                                                      // then those still pending
  std::vector<DrawingTable> drawing_tables;           // most recently used first, at most four
  BatchMode mode;
  ModelRef model;
  // Every history can take this many more entries without allocating, its pending ones included.
  std::size_t history_room = 0;
  PendingSteps pending;

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
  for (std::size_t j = 0; j < row.size(); ++j)
    if (solved_colors[row[j]] != solved_colors[j]) return false;
  return true;
}

// One action per copy. solved[i] and applied[i] (count bytes each, 0 or 1) tell whether copy i is
// solved afterwards and whether its action was made (always in tabular mode). Range "got {} actions
// for {} puzzles" and "action {} out of range (have {})" change nothing; in geometric mode the first
// error of a copy stops the others that have not begun.
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

// The byte-shuffle form of a table of one-byte permutation rows of n slots (empty below 16 slots).
ShufflePlan make_shuffle_plan(std::span<const std::uint8_t> table, std::size_t n);

// The ways rows of one-byte slot numbers are gathered: byte permutes of whole rows (AVX-512 VBMI,
// up to 256 slots), the shuffle plan (AVX2), or slot by slot. All give identical rows.
enum class GatherKernel : std::uint8_t { scalar, avx2, avx512 };
bool gather_kernel_available(GatherKernel kernel);
// The fastest kernel this CPU runs; batches use it.
GatherKernel best_gather_kernel();

// Gathers `rows` consecutive rows of n slots: dst row r = src row r through table row moves[r] (a
// single row moves[0] for all when `uniform`), with the kernel asked for, or slot by slot where it
// does not apply. src and dst do not overlap; nothing outside the rows is written.
void gather_byte_rows(const ShufflePlan& plan, std::span<const std::uint8_t> table, std::size_t n,
                      const std::uint8_t* src, std::uint8_t* dst, const std::uint32_t* moves, bool uniform,
                      std::size_t rows, GatherKernel kernel);

// solved[r] = whether row r of `rows` consecutive one-byte rows of n slots shows every slot's own
// colour, colors8 holding each slot's solved colour (fewer than 257 colours).
void solved_byte_rows(std::span<const std::uint8_t> colors8, std::size_t n, const std::uint8_t* src,
                      std::size_t rows, std::uint8_t* solved, GatherKernel kernel);

// dst[k] = colors8[src[k]] for the `length` one-byte slot numbers at src, each below n (at most
// 256): the colours those slots' stickers show. Byte permutes with AVX-512 VBMI, else slot by slot.
void color_byte_rows(std::span<const std::uint8_t> colors8, std::size_t n, const std::uint8_t* src,
                     std::size_t length, std::uint8_t* dst, GatherKernel kernel);

}  // namespace gy

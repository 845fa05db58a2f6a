#include "batch.hpp"

#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <limits>
#include <mutex>
#include <numeric>
#include <type_traits>

#include "layout.hpp"
#include "parse.hpp"
#include "pool.hpp"

namespace gy {
namespace {

// About this many bytes of rows go to one task of the pool; a smaller batch runs on the caller.
constexpr std::size_t kTaskBytes = std::size_t{1} << 16;

// The first error of the copies of a geometric batch, and the stop flag that keeps copies not yet
// begun from starting. A worker that finds the slot taken or busy drops its own error.
class FirstError {
 public:
  bool stopped() const { return stop_.load(std::memory_order_relaxed); }
  void offer(Error e) {
    stop_.store(true, std::memory_order_relaxed);
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (lock && !error_) error_ = std::move(e);
  }
  Status status() {
    if (error_) return fail(std::move(*error_));
    return {};
  }

 private:
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::optional<Error> error_;
};

// The copies of a batch cut into runs of `per` (the last may be shorter), for a parallel pass that
// records, run by run and without locking, how far it got: what makes the batch whole again when
// the pass is interrupted part-way.
struct Runs {
  std::size_t count, per;

  std::size_t size() const { return (count + per - 1) / per; }
  std::size_t lo(std::size_t r) const { return r * per; }
  std::size_t hi(std::size_t r) const { return std::min(count, (r + 1) * per); }

  // body(r, lo, hi) for every run, in parallel, each run asking for a stop request first.
  template <class Body>
  void each(Body body) const {
    pool::for_each_index(size(), 1, [&](std::size_t r) {
      poll_interrupt();
      body(r, lo(r), hi(r));
    });
  }
};

// f(), and when it unwinds, tidy() first, on this thread with the stop requests held off.
template <class F, class Tidy>
decltype(auto) tidy_on_unwind(F&& f, Tidy&& tidy) {
  try {
    return f();
  } catch (...) {
    Uninterruptible quiet;
    tidy();
    throw;
  }
}

std::size_t rows_per_task(std::size_t row_bytes, std::uint64_t moves_per_row = 1) {
  const std::uint64_t work = std::max<std::uint64_t>(1, row_bytes) * std::max<std::uint64_t>(1, moves_per_row);
  return static_cast<std::size_t>(std::max<std::uint64_t>(1, kTaskBytes / work));
}

Error count_error(std::string_view what, std::size_t got, std::size_t count) {
  return Error::range(cat("got ", got, " ", what, " for ", count, " puzzles"));
}

// ---------------------------------------------------------------------------------------------
// Gathers

template <class T>
GatherTable<T> table_of(const SlotRows<T>& rows, std::size_t n) {
  const std::uint8_t* bytes = nullptr;
  if constexpr (sizeof(T) == 1) bytes = rows.moves.data();
  return {rows.moves.data(), n, bytes, &rows.plan};
}

// ---------------------------------------------------------------------------------------------
// Construction

template <class T>
SlotRows<T> make_slot_rows(const ActionPermutations& perms, std::size_t count) {
  const std::size_t n = perms.slot_count, actions = perms.action_count;
  SlotRows<T> rows;
  rows.states = Block<T>(count * n);
  rows.scratch = Block<T>(count * n);
  rows.moves = Block<T>(2 * actions * n);
  T* moves = rows.moves.data();
  for (std::size_t a = 0; a < actions; ++a) {
    std::span<const std::uint32_t> p = perms.row(a);
    T* forward = moves + a * n;
    T* inverse = moves + (actions + a) * n;
    for (std::size_t j = 0; j < n; ++j) {
      forward[j] = static_cast<T>(p[j]);
      inverse[p[j]] = static_cast<T>(j);
    }
  }
  std::vector<T> identity(n);
  std::iota(identity.begin(), identity.end(), T{0});
  if (n > 0)
    pool::for_ranges(count, rows_per_task(n * sizeof(T)), [&](std::size_t lo, std::size_t hi) {
      poll_interrupt();
      for (std::size_t i = lo; i < hi; ++i) {
        std::memcpy(rows.states.data() + i * n, identity.data(), n * sizeof(T));
        std::memcpy(rows.scratch.data() + i * n, identity.data(), n * sizeof(T));
      }
    });
  if constexpr (std::is_same_v<T, std::uint8_t>) rows.plan = make_shuffle_plan(rows.moves.span(), n);
  return rows;
}

SlotRowsOfAnyWidth make_rows(ElementWidth width, const ActionPermutations& perms, std::size_t count) {
  switch (width) {
    case ElementWidth::U8: return make_slot_rows<std::uint8_t>(perms, count);
    case ElementWidth::U16: return make_slot_rows<std::uint16_t>(perms, count);
    default: return make_slot_rows<std::uint32_t>(perms, count);
  }
}

std::size_t width_bytes(ElementWidth w) { return w == ElementWidth::U8 ? 1 : w == ElementWidth::U16 ? 2 : 4; }

// Range error when count copies of per_copy bytes each cannot be addressed; std::bad_alloc when
// this machine could not hold them.
Status check_batch_size(std::uint64_t count, std::uint64_t per_copy, std::size_t stickers) {
  std::uint64_t total = 0;
  if (__builtin_mul_overflow(count, per_copy, &total) ||
      total > static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max()))
    return fail(Error::range(cat("a batch of ", count, " puzzles of ", stickers, " stickers each is too large to hold")));
  require_memory(total, cat("a batch of ", count, " puzzles"));
  return {};
}

// A copy's random state, last action and history length.
constexpr std::uint64_t kPerCopyRecord = sizeof(std::uint64_t) + 2 * sizeof(std::uint32_t);

}  // namespace

ElementWidth element_width_for(std::size_t sticker_count) {
  if (sticker_count < 257) return ElementWidth::U8;
  if (sticker_count < 65537) return ElementWidth::U16;
  return ElementWidth::U32;
}

std::uint32_t draw_action(std::uint64_t& state, std::uint32_t last, std::uint32_t action_count) {
  auto a = static_cast<std::uint32_t>(splitmix64_next(state) % action_count);
  if (action_count >= 3 && last != kNoAction && (last ^ a) == 1) a = (a + 2) % action_count;
  return a;
}

HistoryLog::HistoryLog(std::size_t count, std::size_t action_count)
    : count_(count), width_(action_count <= 256 ? 1 : action_count <= 65536 ? 2 : 4) {
  // A small batch takes more columns a block, so that no block is tiny.
  const std::size_t column = std::max<std::size_t>(1, count_ * width_);
  const std::size_t columns = std::max(kBlockColumns, std::bit_ceil((kBlockBytes + column - 1) / column));
  block_shift_ = static_cast<std::uint8_t>(std::countr_zero(columns));
  warms_ = in_large_pages(columns * column);
}

std::vector<std::uint32_t> HistoryLog::entries(std::size_t i) const {
  std::vector<std::uint32_t> out(length(i));
  for (std::size_t d = 0; d < out.size(); ++d) out[d] = read(i, d);
  return out;
}

void HistoryLog::reserve(std::uint64_t more) {
  std::uint64_t depth = 0;
  if (__builtin_add_overflow(std::uint64_t{deepest_}, more, &depth) || depth > 0xFFFFFFFF) throw std::bad_alloc();
  const std::uint64_t blocks = (depth + block_columns() - 1) >> block_shift_;
  if (blocks > blocks_.size()) {
    const std::uint64_t block_bytes = std::uint64_t{block_columns()} * count_ * width_;
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(blocks - blocks_.size(), block_bytes, &bytes)) throw std::bad_alloc();
    require_memory(bytes, "the histories");
    std::vector<Block<std::uint8_t>> made;
    made.reserve(static_cast<std::size_t>(blocks - blocks_.size()));
    for (std::uint64_t k = blocks_.size(); k < blocks; ++k) made.emplace_back(static_cast<std::size_t>(block_bytes));
    blocks_.reserve(static_cast<std::size_t>(blocks));
    for (auto& block : made) blocks_.push_back(std::move(block));
  }
  warm_ahead(depth);
}

void HistoryLog::warm_ahead(std::uint64_t depth) {
  if (!warms_ || depth + kWarmColumns <= warmed_) return;
  const std::size_t block_bytes = block_columns() * count_ * width_;
  std::uint64_t until = std::min<std::uint64_t>(depth + 2 * kWarmColumns, 0xFFFFFFFF);
  // A block is made while no range is being backed: mapping memory waits for the system to finish
  // backing the piece in hand, which can take milliseconds, and every page fault would wait behind.
  try {
    if (!warmer_.busy())
      while (blocks_.size() << block_shift_ < until) blocks_.emplace_back(block_bytes);
  } catch (const std::bad_alloc&) {
    // Pages not backed ahead are faulted in as they are written.
  }
  until = std::min<std::uint64_t>(until, blocks_.size() << block_shift_);
  // The columns up to `depth` are about to be written by the caller, which faults them in itself.
  for (std::uint64_t c = std::max(warmed_, depth); c < until;) {
    const std::uint64_t end = std::min(until, ((c >> block_shift_) + 1) << block_shift_);
    warmer_.warm(at(0, c), (end - c) * count_ * width_);
    c = end;
  }
  warmed_ = std::max(warmed_, until);
}

void HistoryLog::spread() {
  if (!level_) return;
  lengths_.resize(count_);
  pool::for_ranges(count_, std::size_t{1} << 14, [&](std::size_t lo, std::size_t hi) {
    std::fill(lengths_.begin() + lo, lengths_.begin() + hi, level_length_);
  });
  level_ = false;
}

namespace {

template <class A>
void fill_column(std::uint8_t* at, std::size_t k, const std::uint32_t* actions, std::uint32_t uniform) {
  A* column = reinterpret_cast<A*>(at);
  if (!actions) return (void)std::fill_n(column, k, static_cast<A>(uniform));
  std::size_t j = 0;
#if defined(__SSE2__)
  // Sixteen at a time: one-byte entries hold actions below 256, which the packs keep exactly.
  if constexpr (sizeof(A) == 1) {
    for (; j + 16 <= k; j += 16) {
      const auto* v = reinterpret_cast<const __m128i*>(actions + j);
      const __m128i lo = _mm_packs_epi32(_mm_loadu_si128(v), _mm_loadu_si128(v + 1));
      const __m128i hi = _mm_packs_epi32(_mm_loadu_si128(v + 2), _mm_loadu_si128(v + 3));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(column + j), _mm_packus_epi16(lo, hi));
    }
  }
#endif
  for (; j < k; ++j) column[j] = static_cast<A>(actions[j]);
}

}  // namespace

void HistoryLog::push_rows(std::size_t lo, std::size_t hi, const std::uint32_t* actions, std::uint32_t uniform) {
  if (lo >= hi) return;
  if (!level_) {
    for (std::size_t i = lo; i < hi; ++i) push(i, actions ? actions[i - lo] : uniform);
    return;
  }
  std::uint8_t* column = at(lo, level_length_);
  if (width_ == 1)
    fill_column<std::uint8_t>(column, hi - lo, actions, uniform);
  else if (width_ == 2)
    fill_column<std::uint16_t>(column, hi - lo, actions, uniform);
  else
    fill_column<std::uint32_t>(column, hi - lo, actions, uniform);
}

void HistoryLog::grow_all(std::size_t k) {
  if (level_) level_length_ += static_cast<std::uint32_t>(k);
  deepest_ += k;
}

void HistoryLog::clear_all() {
  level_ = true;
  level_length_ = 0;
  lengths_ = {};
  deepest_ = 0;
}

void HistoryLog::recount() {
  if (level_) {
    deepest_ = level_length_;
    return;
  }
  std::atomic<std::uint32_t> deepest{0};
  pool::for_ranges(count_, std::size_t{1} << 14, [&](std::size_t lo, std::size_t hi) {
    const std::uint32_t longest = *std::max_element(lengths_.begin() + lo, lengths_.begin() + hi);
    std::uint32_t seen = deepest.load(std::memory_order_relaxed);
    while (longest > seen && !deepest.compare_exchange_weak(seen, longest, std::memory_order_relaxed)) {
    }
  });
  deepest_ = deepest.load();
}

std::vector<std::uint32_t> history_of(const PuzzleBatch& b, std::size_t i) { return b.histories.entries(i); }

std::size_t history_length(const PuzzleBatch& b, std::size_t i) { return b.histories.length(i); }

const Simulator& view_source(const PuzzleBatch& batch) {
  if (const TabularState* t = batch.tabular()) return t->template_puzzle;
  return std::get<GeometricState>(batch.mode).copies.front();
}

Result<PuzzleBatch> build_batch(std::string_view query, std::uint64_t count, const BatchSetup& setup) {
  if (count == 0) return fail(Error::range("a batch needs at least one puzzle"));
  Simulator puzzle = GY_TRY(Simulator::build(query));
  ModelRef model = GY_TRY(tabular_model(puzzle));
  std::optional<ActionPermutations> perms;
  if (setup.mode == BatchModeRequest::automatic) perms = GY_TRY(compute_action_permutations(puzzle));
  const std::size_t n = model->sticker_count();

  if (setup.scramble) GY_CHECK(check_scramble_depth(count, *setup.scramble));

  ViewOptions view = setup.view;
  view.show_arrows = 0;
  PuzzleBatch b;
  if (perms) {
    const ElementWidth width = element_width_for(n);
    GY_CHECK(check_batch_size(
        count, kPerCopyRecord + sizeof(std::uint32_t) + 2 * std::uint64_t{n} * width_bytes(width), n));
    view_from_options(view, puzzle.view, puzzle.camera);
    TabularState ts{std::move(puzzle), make_rows(width, *perms, count), std::vector<std::uint32_t>(count),
                    perms->start_colors, {}};
    if (std::all_of(ts.solved_colors.begin(), ts.solved_colors.end(), [](std::uint16_t c) { return c < 256; }))
      ts.solved_colors8.assign(ts.solved_colors.begin(), ts.solved_colors.end());
    b.mode = std::move(ts);
  } else {
    // Every copy is built afresh from the text and holds what the template holds.
    GY_CHECK(check_batch_size(count,
                              kPerCopyRecord + approximate_footprint(puzzle) + sizeof(Result<Simulator>) +
                                  sizeof(std::string) + query.size(),
                              n));
    std::vector<std::string> queries(count, std::string(query));
    std::vector<Result<Simulator>> built = build_simulators(queries);
    queries = {};
    GeometricState geo;
    geo.copies.reserve(count);
    for (Result<Simulator>& r : built) {
      if (!r) return fail(std::move(r).error());
      geo.copies.push_back(std::move(*r));
    }
    built = {};
    for (Simulator& sim : geo.copies) {
      set_tabular_model(sim, model);
      sim.view.show_arrows = false;
      view_from_options(view, sim.view, sim.camera);
    }
    b.mode = std::move(geo);
  }
  b.query = std::string(query);
  b.model = std::move(model);
  b.rng_states.resize(count);
  for (std::size_t i = 0; i < count; ++i) b.rng_states[i] = i ^ kInitialRngState;
  b.last_actions.assign(count, kNoAction);
  b.histories = HistoryLog(count, b.action_count());
  if (setup.seed) seed_all(b, *setup.seed);
  if (setup.scramble) GY_CHECK(reset_all(b, *setup.scramble));
  return b;
}

// ---------------------------------------------------------------------------------------------
// Stepping

namespace {

// The actions of one step: one per copy, or the same for all.
struct ActionSource {
  const std::uint32_t* per_copy = nullptr;
  std::uint32_t uniform = 0;
  std::uint32_t at(std::size_t i) const { return per_copy ? per_copy[i] : uniform; }
};

// One step of every copy, in one pass over the rows: each task's rows are gathered and tested
// together, then its history entries written side by side while its actions are still in cache.
// solved and applied may be null when nobody reads them. The new rows and last actions go to the
// spare blocks, exchanged with the batch's once every task is done; a level log's entries show
// only once it grows. So an interrupted step takes back only what a log of its own lengths pushed.
template <class T>
void step_tabular(PuzzleBatch& b, TabularState& ts, SlotRows<T>& rows, ActionSource acts, std::uint8_t* solved,
                  std::uint8_t* applied) {
  const std::size_t n = b.sticker_count(), count = b.count();
  const T* src = rows.states.data();
  T* dst = rows.scratch.data();
  const SlotColors colors = ts.colors();
  const GatherTable<T> table = table_of(rows, n);
  const GatherKernel kernel = best_gather_kernel();
  if (ts.next_actions.size() != count) ts.next_actions.resize(count);
  std::uint32_t* next_actions = ts.next_actions.data();
  HistoryLog& log = b.histories;
  const bool level = log.level();
  const Runs runs{count, rows_per_task(n * sizeof(T))};
  // A log of per-copy lengths grows as entries are pushed: the runs that pushed are marked.
  std::vector<std::uint8_t> pushed(level ? 0 : runs.size(), 0);
  tidy_on_unwind(
      [&] {
        runs.each([&](std::size_t r, std::size_t lo, std::size_t hi) {
          const std::uint32_t* actions = acts.per_copy ? acts.per_copy + lo : nullptr;
          const RowMoves moves = actions ? RowMoves{actions, false} : RowMoves{&acts.uniform, true};
          gather_rows<T, T, T>(table, src + lo * n, dst + lo * n, moves, hi - lo, solved ? &colors : nullptr,
                               solved ? solved + lo : nullptr, kernel);
          if (actions)
            std::copy(actions, actions + (hi - lo), next_actions + lo);
          else
            std::fill(next_actions + lo, next_actions + hi, acts.uniform);
          log.push_rows(lo, hi, actions, acts.uniform);
          if (!level) pushed[r] = 1;
          if (applied) std::memset(applied + lo, 1, hi - lo);
        });
      },
      [&] {
        for (std::size_t r = 0; r < pushed.size(); ++r)
          for (std::size_t i = runs.lo(r); pushed[r] && i < runs.hi(r); ++i) log.drop(i, 1);
      });
  log.grow_all(1);
  std::swap(rows.states, rows.scratch);
  std::swap(b.last_actions, ts.next_actions);
}

Status step_geometric(PuzzleBatch& b, GeometricState& geo, ActionSource acts, std::uint8_t* solved,
                      std::uint8_t* applied) {
  b.histories.spread();
  FirstError first;
  auto step_copy = [&](std::size_t i) {
    if (first.stopped()) return;
    poll_interrupt();
    Simulator& sim = geo.copies[i];
    const std::uint32_t a = acts.at(i);
    auto made = apply_action(sim, a);
    if (!made) return first.offer(std::move(made).error());
    if (*made) {
      b.last_actions[i] = a;
      b.histories.push(i, a);
    }
    if (applied) applied[i] = *made ? 1 : 0;
    if (solved) {
      auto s = is_solved(sim);
      solved[i] = s && *s ? 1 : 0;
    }
  };
  tidy_on_unwind([&] { pool::for_each_index(b.count(), 1, step_copy); }, [&] { b.histories.recount(); });
  b.histories.recount();
  return first.status();
}

Status step_all(PuzzleBatch& b, ActionSource acts, std::uint8_t* solved, std::uint8_t* applied) {
  if (TabularState* ts = b.tabular()) {
    std::visit([&](auto& rows) { step_tabular(b, *ts, rows, acts, solved, applied); }, ts->rows);
    return {};
  }
  return step_geometric(b, std::get<GeometricState>(b.mode), acts, solved, applied);
}

}  // namespace

Status step_batch(PuzzleBatch& b, std::span<const std::uint32_t> actions, std::span<std::uint8_t> solved,
                  std::span<std::uint8_t> applied) {
  const std::size_t count = b.count();
  if (actions.size() != count) return fail(count_error("actions", actions.size(), count));
  const std::size_t action_count = b.action_count();
  if (auto i = pool::first_not_below(actions, action_count))
    return fail(Error::range(cat("action ", actions[*i], " out of range (have ", action_count, ")")));
  if (solved.size() != count || applied.size() != count) panic("step_batch: outcome spans do not match the batch");
  b.histories.reserve(1);
  return step_all(b, ActionSource{actions.data(), 0}, solved.data(), applied.data());
}

Result<std::uint64_t> apply_moves(PuzzleBatch& b, std::string_view text) {
  const std::vector<Move> moves = GY_TRY(parse_moves(b.model->grip_names, text));
  std::uint64_t total = 0;
  for (const Move& m : moves)
    if (__builtin_add_overflow(total, std::uint64_t{m.repeat}, &total)) throw std::bad_alloc();
  GY_CHECK(check_bulk_moves(b.count(), total, "puzzles"));
  b.histories.reserve(total);
  for (const Move& m : moves)
    for (std::uint32_t r = 0; r < m.repeat; ++r)
      GY_CHECK(step_all(b, ActionSource{nullptr, static_cast<std::uint32_t>(m.action)}, nullptr, nullptr));
  return total;
}

// ---------------------------------------------------------------------------------------------
// Solving, scrambling, undoing

namespace {

// Clears copy i's history (unless every history is cleared at once, when the log is level) and its
// last action once it is solved.
void forget_moves(PuzzleBatch& b, std::size_t i) {
  if (!b.histories.level()) b.histories.clear(i);
  b.last_actions[i] = kNoAction;
}

// Removes the last `undone` entries of copy i's history, which its Simulator has taken back.
void drop_undone(PuzzleBatch& b, std::size_t i, std::size_t undone) {
  b.histories.drop(i, undone);
  b.last_actions[i] = b.histories.length(i) ? b.histories.back(i) : kNoAction;
}

// The solving of every copy of a level log leaves the histories to be emptied all at once; the
// runs a pass finished are marked in `solved` (one flag a run, when it is not null) so that,
// interrupted, their copies alone are emptied.
template <class T>
void solve_tabular(PuzzleBatch& b, SlotRows<T>& rows, std::span<const std::uint8_t> flags, const Runs& runs,
                   std::uint8_t* solved) {
  const std::size_t n = b.sticker_count();
  std::vector<T> identity(n);
  std::iota(identity.begin(), identity.end(), T{0});
  runs.each([&](std::size_t r, std::size_t lo, std::size_t hi) {
    for (std::size_t i = lo; i < hi; ++i) {
      if (!flags[i]) continue;
      if (n > 0) std::memcpy(rows.states.data() + i * n, identity.data(), n * sizeof(T));
      forget_moves(b, i);
    }
    if (solved) solved[r] = 1;
  });
}

void solve_geometric(PuzzleBatch& b, GeometricState& geo, std::span<const std::uint8_t> flags, FirstError& first) {
  pool::for_each_index(b.count(), 1, [&](std::size_t i) {
    if (!flags[i] || first.stopped()) return;
    Simulator& sim = geo.copies[i];
    std::size_t undone = 0;
    try {
      while (!sim.history.empty()) {
        poll_interrupt();
        auto back = undo_turn(sim);
        if (!back) {
          drop_undone(b, i, undone);
          return first.offer(std::move(back).error());
        }
        if (*back) {
          ++undone;
          continue;
        }
        // The layer of the turn to undo cannot turn now: start again from the recipe.
        auto fresh = Simulator::build(b.query);
        if (!fresh) {
          drop_undone(b, i, undone);
          return first.offer(std::move(fresh).error());
        }
        set_tabular_model(*fresh, b.model);
        fresh->view = sim.view;
        fresh->camera = sim.camera;
        sim = std::move(*fresh);
        break;
      }
    } catch (const Interrupted&) {
      drop_undone(b, i, undone);
      throw;
    }
    forget_moves(b, i);
  });
}

// Walks of equal depths from a level log keep it level. Interrupted, a copy keeps the moves it has
// made, a whole run of kWalkChunk at a time; the copies of a level log that moved are recorded, to
// be given lengths of their own.
template <class T>
void walk_tabular(PuzzleBatch& b, SlotRows<T>& rows, std::span<const std::uint32_t> depths, std::uint32_t deepest) {
  const std::size_t n = b.sticker_count();
  const auto actions = static_cast<std::uint32_t>(b.action_count());
  HistoryLog& log = b.histories;
  const bool level =
      log.level() && std::all_of(depths.begin(), depths.end(), [&](std::uint32_t d) { return d == deepest; });
  if (!level) log.spread();
  const GatherTable<T> table = table_of(rows, n);
  const Runs runs{b.count(), rows_per_task(n * sizeof(T), deepest)};
  // For a level log, per run: the copies that walked all the way, and the moves of the one that was
  // cut short.
  struct Walked {
    std::size_t whole = 0;
    std::uint32_t part = 0;
  };
  std::vector<Walked> walked(level ? runs.size() : 0);
  tidy_on_unwind(
      [&] {
        runs.each([&](std::size_t r, std::size_t lo, std::size_t hi) {
          std::vector<T> spare(n);
          std::size_t i = lo;
          std::uint64_t state = 0;
          std::uint32_t last = kNoAction, made = 0;
          bool walking = false;
          try {
            for (; i < hi; ++i) {
              const std::uint32_t d = depths[i];
              if (d == 0) continue;
              state = b.rng_states[i];
              last = b.last_actions[i];
              made = 0;
              walking = true;
              auto next = [&](std::uint64_t j) {
                if (j % kWalkChunk == 0 && j > 0) {
                  made = static_cast<std::uint32_t>(j);
                  poll_interrupt();
                }
                last = draw_action(state, last, actions);
                log.put(i, j, last);
                return last;
              };
              walk_row<T, T>(table, rows.states.data() + i * n, d, next, nullptr, spare.data());
              walking = false;
              if (!level) log.extend(i, d);
              b.rng_states[i] = state;
              b.last_actions[i] = last;
            }
          } catch (const Interrupted&) {
            if (walking && made > 0) {
              b.rng_states[i] = state;
              b.last_actions[i] = last;
              if (!level) log.extend(i, made);
            }
            if (level) walked[r] = {i - lo, walking ? made : 0};
            throw;
          }
          if (level) walked[r] = {hi - lo, 0};
        });
      },
      [&] {
        if (!level) return;
        log.spread();
        for (std::size_t r = 0; r < walked.size(); ++r) {
          const std::size_t lo = runs.lo(r);
          for (std::size_t i = lo; i < lo + walked[r].whole; ++i) log.extend(i, deepest);
          if (walked[r].part) log.extend(lo + walked[r].whole, walked[r].part);
        }
      });
  if (level) log.grow_all(deepest);
}

// Interrupted, a copy keeps the moves it has made, and its random state is where the attempt that
// was cut short drew from (that attempt changed nothing), so that the walk can go on as it would have.
Status walk_geometric(PuzzleBatch& b, GeometricState& geo, std::span<const std::uint32_t> depths) {
  const auto actions = static_cast<std::uint32_t>(b.action_count());
  b.histories.spread();
  FirstError first;
  pool::for_each_index(b.count(), 1, [&](std::size_t i) {
    const std::uint32_t d = depths[i];
    if (d == 0 || first.stopped()) return;
    const std::uint32_t attempts = d > 0x1FFFFFFF ? 0xFFFFFFFF : 8 * d;
    Simulator& sim = geo.copies[i];
    std::uint64_t state = b.rng_states[i], drawn_from = state;
    std::uint32_t made = 0;
    try {
      for (std::uint32_t tried = 0; made < d && tried < attempts; ++tried) {
        drawn_from = state;
        poll_interrupt();
        const std::uint32_t a = draw_action(state, b.last_actions[i], actions);
        auto turned = apply_action(sim, a);
        if (!turned) {
          b.rng_states[i] = state;
          return first.offer(std::move(turned).error());
        }
        if (!*turned) continue;
        b.last_actions[i] = a;
        b.histories.push(i, a);
        ++made;
      }
    } catch (const Interrupted&) {
      b.rng_states[i] = drawn_from;
      throw;
    }
    b.rng_states[i] = state;
  });
  return first.status();
}

template <class T>
void undo_tabular(PuzzleBatch& b, SlotRows<T>& rows, std::span<const std::uint8_t> flags,
                  std::span<std::uint8_t> undone) {
  const std::size_t n = b.sticker_count();
  const auto actions = static_cast<std::uint32_t>(b.action_count());
  const GatherTable<T> table = table_of(rows, n);
  pool::for_ranges(b.count(), rows_per_task(n * sizeof(T)), [&](std::size_t lo, std::size_t hi) {
    poll_interrupt();
    std::vector<T> spare(n);
    for (std::size_t i = lo; i < hi; ++i) {
      if (!flags[i] || b.histories.length(i) == 0) continue;
      const std::uint32_t inverse = actions + b.histories.pop(i);
      gather_walk<T, T>(table, rows.states.data() + i * n, &inverse, 1, nullptr, spare.data());
      b.last_actions[i] = b.histories.length(i) ? b.histories.back(i) : kNoAction;
      undone[i] = 1;
    }
  });
}

Status undo_geometric(PuzzleBatch& b, GeometricState& geo, std::span<const std::uint8_t> flags,
                      std::span<std::uint8_t> undone) {
  FirstError first;
  pool::for_each_index(b.count(), 1, [&](std::size_t i) {
    if (!flags[i] || b.histories.length(i) == 0 || first.stopped()) return;
    poll_interrupt();
    auto back = undo_turn(geo.copies[i]);
    if (!back) return first.offer(std::move(back).error());
    if (!*back) return;
    drop_undone(b, i, 1);
    undone[i] = 1;
  });
  return first.status();
}

}  // namespace

Status solve_flagged(PuzzleBatch& b, std::span<const std::uint8_t> flags) {
  const std::size_t count = b.count();
  if (flags.size() != count) return fail(count_error("flags", flags.size(), count));
  HistoryLog& log = b.histories;
  Status status;
  if (TabularState* ts = b.tabular()) {
    // Solving every copy empties every history at once and leaves the log level.
    const bool every = std::all_of(flags.begin(), flags.end(), [](std::uint8_t f) { return f != 0; });
    if (!every) log.spread();
    const bool at_once = log.level();
    const std::size_t n = b.sticker_count();
    const Runs runs{count, rows_per_task(n * width_bytes(ts->width()))};
    std::vector<std::uint8_t> solved(at_once ? runs.size() : 0, 0);
    std::uint8_t* const marks = at_once ? solved.data() : nullptr;
    tidy_on_unwind(
        [&] { std::visit([&](auto& rows) { solve_tabular(b, rows, flags, runs, marks); }, ts->rows); },
        [&] {
          if (at_once) {
            log.spread();
            for (std::size_t r = 0; r < solved.size(); ++r)
              for (std::size_t i = runs.lo(r); solved[r] && i < runs.hi(r); ++i) log.clear(i);
          }
          log.recount();
        });
    if (every) log.clear_all();
  } else {
    log.spread();
    FirstError first;
    tidy_on_unwind([&] { solve_geometric(b, std::get<GeometricState>(b.mode), flags, first); },
                   [&] { log.recount(); });
    status = first.status();
  }
  log.recount();
  return status;
}

Status check_scramble_depth(std::size_t count, std::uint32_t deepest) {
  GY_CHECK(check_walk_length(deepest));
  return check_bulk_moves(count, deepest, "puzzles");
}

Status scramble_all(PuzzleBatch& b, std::span<const std::uint32_t> depths) {
  const std::size_t count = b.count();
  if (depths.size() != count) return fail(count_error("depths", depths.size(), count));
  const std::uint32_t deepest = depths.empty() ? 0 : *std::max_element(depths.begin(), depths.end());
  GY_CHECK(check_scramble_depth(count, deepest));
  if (b.action_count() == 0) return {};
  if (deepest == 0) return {};
  b.histories.reserve(deepest);
  Status status;
  tidy_on_unwind(
      [&] {
        if (TabularState* ts = b.tabular())
          std::visit([&](auto& rows) { walk_tabular(b, rows, depths, deepest); }, ts->rows);
        else
          status = walk_geometric(b, std::get<GeometricState>(b.mode), depths);
      },
      [&] { b.histories.recount(); });
  b.histories.recount();
  return status;
}

Status reset_flagged(PuzzleBatch& b, std::span<const std::uint8_t> flags, std::uint32_t depth) {
  GY_CHECK(check_scramble_depth(b.count(), depth));
  GY_CHECK(solve_flagged(b, flags));
  std::vector<std::uint32_t> depths(flags.size());
  for (std::size_t i = 0; i < flags.size(); ++i) depths[i] = flags[i] ? depth : 0;
  return scramble_all(b, depths);
}

Status reset_all(PuzzleBatch& b, std::uint32_t depth) {
  const std::vector<std::uint8_t> every(b.count(), 1);
  return reset_flagged(b, every, depth);
}

Status undo_flagged(PuzzleBatch& b, std::span<const std::uint8_t> flags, std::span<std::uint8_t> undone) {
  const std::size_t count = b.count();
  if (flags.size() != count) return fail(count_error("flags", flags.size(), count));
  if (undone.size() != count) panic("undo_flagged: result span does not match the batch");
  std::fill(undone.begin(), undone.end(), std::uint8_t{0});
  b.histories.spread();
  Status status;
  tidy_on_unwind(
      [&] {
        if (TabularState* ts = b.tabular())
          std::visit([&](auto& rows) { undo_tabular(b, rows, flags, undone); }, ts->rows);
        else
          status = undo_geometric(b, std::get<GeometricState>(b.mode), flags, undone);
      },
      [&] { b.histories.recount(); });
  b.histories.recount();
  return status;
}

// ---------------------------------------------------------------------------------------------
// Reading states

namespace {

template <class Out>
constexpr std::uint64_t capacity_of() {
  return std::uint64_t{1} << (8 * sizeof(Out));
}

// use(i, value) with value = *read(copy i) for every copy of a geometric batch, in parallel; the
// first failing read stops the copies not yet begun and is the result.
template <class Read, class Use>
Status each_copy(PuzzleBatch& b, Read read, Use use) {
  auto& copies = std::get<GeometricState>(b.mode).copies;
  FirstError first;
  pool::for_each_index(b.count(), 1, [&](std::size_t i) {
    if (first.stopped()) return;
    poll_interrupt();
    auto value = read(copies[i]);
    if (!value) return first.offer(std::move(value).error());
    use(i, *value);
  });
  return first.status();
}

// Row i of `out` from copy i's Simulator: read(sim) gives its values in slot order.
template <class Out, class Read>
Status rows_from_copies(PuzzleBatch& b, std::span<Out> out, Read read) {
  const std::size_t n = b.sticker_count();
  return each_copy(b, read, [&](std::size_t i, const auto& values) {
    std::copy(values.begin(), values.end(), out.begin() + i * n);
  });
}

template <class Out>
Status observation_capacity(const PuzzleBatch& b) {
  const std::size_t colors = b.color_count();
  if (colors > capacity_of<Out>())
    return fail(Error::range(cat("this puzzle has ", colors, " colors, which do not fit the ", capacity_of<Out>(),
                                 " values a ", sizeof(Out), "-byte observation has room for")));
  return {};
}

template <class Out>
Status sticker_id_capacity(const PuzzleBatch& b) {
  const std::size_t n = b.sticker_count();
  if (n > capacity_of<Out>())
    return fail(Error::range(cat("this puzzle has ", n, " slots, which do not fit the ", capacity_of<Out>(),
                                 " a slot number of this width has room for")));
  return {};
}

void check_row_span(const PuzzleBatch& b, std::size_t size, const char* what) {
  if (size != b.count() * b.sticker_count()) panic(cat(what, ": result span does not match the batch"));
}

// Calls f(lo, hi) on disjoint ranges of the tabular state rows, in parallel; f gets the row block.
template <class F>
void for_state_ranges(TabularState& ts, std::size_t count, std::size_t row_bytes, F f) {
  std::visit(
      [&](const auto& rows) {
        const auto* states = rows.states.data();
        pool::for_ranges(count, rows_per_task(row_bytes), [&](std::size_t lo, std::size_t hi) {
          poll_interrupt();
          f(states, lo, hi);
        });
      },
      ts.rows);
}

}  // namespace

template <class Out>
Status observation_rows(PuzzleBatch& b, std::span<Out> out) {
  GY_CHECK(observation_capacity<Out>(b));
  check_row_span(b, out.size(), "observation_rows");
  const std::size_t n = b.sticker_count();
  if (TabularState* ts = b.tabular()) {
    const std::uint16_t* solved = ts->solved_colors.data();
    Out* const dst = out.data();
    if constexpr (std::is_same_v<Out, std::uint8_t>) {
      if (auto* rows = std::get_if<SlotRows<std::uint8_t>>(&ts->rows); rows && !ts->solved_colors8.empty()) {
        const std::uint8_t* states = rows->states.data();
        const SlotColors colors = ts->colors();
        pool::for_ranges(b.count(), rows_per_task(n), [&](std::size_t lo, std::size_t hi) {
          poll_interrupt();
          color_rows<std::uint8_t, std::uint8_t>(colors, n, states + lo * n, (hi - lo) * n, dst + lo * n);
        });
        return {};
      }
    }
    for_state_ranges(*ts, b.count(), n * sizeof(Out), [=](const auto* states, std::size_t lo, std::size_t hi) {
      // Locals only: byte stores could otherwise alias the captured pointers and force reloads.
      // Blocks are looked up into a cache-resident buffer and copied out whole, which spares the
      // fresh result the line reads that scattered byte stores cost.
      const std::uint16_t* const table = solved;
      constexpr std::size_t kBlock = 4096 / sizeof(Out);
      Out block[kBlock];
      for (std::size_t k = lo * n, end = hi * n; k < end; k += kBlock) {
        const std::size_t m = std::min(kBlock, end - k);
        for (std::size_t j = 0; j < m; ++j) block[j] = static_cast<Out>(table[states[k + j]]);
        std::memcpy(dst + k, block, m * sizeof(Out));
      }
    });
    return {};
  }
  return rows_from_copies(b, out, [](Simulator& sim) { return sticker_colors(sim); });
}

template <class Out>
Status sticker_id_rows(PuzzleBatch& b, std::span<Out> out) {
  GY_CHECK(sticker_id_capacity<Out>(b));
  check_row_span(b, out.size(), "sticker_id_rows");
  const std::size_t n = b.sticker_count();
  if (TabularState* ts = b.tabular()) {
    for_state_ranges(*ts, b.count(), n * sizeof(Out), [&](const auto* states, std::size_t lo, std::size_t hi) {
      std::copy(states + lo * n, states + hi * n, out.begin() + lo * n);
    });
    return {};
  }
  return rows_from_copies(b, out, [](Simulator& sim) { return sticker_ids(sim); });
}

template <class Out>
Result<std::vector<Out>> observation_rows(PuzzleBatch& b) {
  GY_CHECK(observation_capacity<Out>(b));
  std::vector<Out> out(b.count() * b.sticker_count());
  GY_CHECK(observation_rows<Out>(b, std::span<Out>(out)));
  return out;
}

template <class Out>
Result<std::vector<Out>> sticker_id_rows(PuzzleBatch& b) {
  GY_CHECK(sticker_id_capacity<Out>(b));
  std::vector<Out> out(b.count() * b.sticker_count());
  GY_CHECK(sticker_id_rows<Out>(b, std::span<Out>(out)));
  return out;
}

template Result<std::vector<std::uint8_t>> observation_rows(PuzzleBatch&);
template Result<std::vector<std::uint16_t>> observation_rows(PuzzleBatch&);
template Result<std::vector<std::uint32_t>> observation_rows(PuzzleBatch&);
template Result<std::vector<std::uint8_t>> sticker_id_rows(PuzzleBatch&);
template Result<std::vector<std::uint16_t>> sticker_id_rows(PuzzleBatch&);
template Result<std::vector<std::uint32_t>> sticker_id_rows(PuzzleBatch&);
template Status observation_rows(PuzzleBatch&, std::span<std::uint8_t>);
template Status observation_rows(PuzzleBatch&, std::span<std::uint16_t>);
template Status observation_rows(PuzzleBatch&, std::span<std::uint32_t>);
template Status sticker_id_rows(PuzzleBatch&, std::span<std::uint8_t>);
template Status sticker_id_rows(PuzzleBatch&, std::span<std::uint16_t>);
template Status sticker_id_rows(PuzzleBatch&, std::span<std::uint32_t>);

void configure_views(PuzzleBatch& b, const ViewOptions& options, const CameraVectors& vectors) {
  ViewOptions o = options;
  o.show_arrows = 2;
  if (!o.any() && !vectors.position && !vectors.target && !vectors.up) return;
  auto set = [&](Simulator& sim) {
    view_from_options(o, sim.view, sim.camera);
    if (vectors.position) sim.camera.position = *vectors.position;
    if (vectors.target) sim.camera.target = *vectors.target;
    if (vectors.up) sim.camera.up = *vectors.up;
  };
  if (TabularState* ts = b.tabular()) return set(ts->template_puzzle);
  for (Simulator& sim : std::get<GeometricState>(b.mode).copies) set(sim);
}

Result<std::size_t> one_hot_size(const PuzzleBatch& b) {
  std::uint64_t bytes = 0;
  if (__builtin_mul_overflow(std::uint64_t{b.count()}, std::uint64_t{b.sticker_count()}, &bytes) ||
      __builtin_mul_overflow(bytes, std::uint64_t{b.color_count()}, &bytes) ||
      bytes > std::numeric_limits<std::size_t>::max())
    return fail(Error::range(cat("a one-hot block of ", b.count(), " puzzles of ", b.sticker_count(),
                                 " stickers and ", b.color_count(), " colors is too large to hold")));
  return static_cast<std::size_t>(bytes);
}

Status one_hot_rows(PuzzleBatch& b, std::span<std::uint8_t> out) {
  const std::size_t n = b.sticker_count(), colors = b.color_count();
  if (out.size() != GY_TRY(one_hot_size(b))) panic("one_hot_rows: result span does not match the batch");
  const std::size_t row = n * colors;
  if (TabularState* ts = b.tabular()) {
    const SlotColors slot_colors = ts->colors();
    for_state_ranges(*ts, b.count(), row, [&](const auto* states, std::size_t lo, std::size_t hi) {
      one_hot_rows(states + lo * n, n, colors, hi - lo, out.data() + lo * row, &slot_colors);
    });
    return {};
  }
  return each_copy(
      b, [](Simulator& sim) { return sticker_colors(sim); },
      [&](std::size_t i, const auto& seen) { one_hot_rows(seen.data(), n, colors, 1, out.data() + i * row); });
}

Status action_mask_rows(PuzzleBatch& b, std::span<std::uint8_t> out) {
  const std::size_t actions = b.action_count();
  if (out.size() != b.count() * actions) panic("action_mask_rows: result span does not match the batch");
  if (b.is_tabular()) {
    std::fill(out.begin(), out.end(), std::uint8_t{1});
    return {};
  }
  std::fill(out.begin(), out.end(), std::uint8_t{0});
  return each_copy(
      b, [](Simulator& sim) { return action_mask(sim); },
      [&](std::size_t i, const auto& mask) {
        std::copy_n(mask.begin(), std::min(mask.size(), actions), out.begin() + i * actions);
      });
}

void solved_flags(PuzzleBatch& b, std::span<std::uint8_t> out) {
  const std::size_t n = b.sticker_count();
  if (out.size() != b.count()) panic("solved_flags: result span does not match the batch");
  if (TabularState* ts = b.tabular()) {
    const SlotColors colors = ts->colors();
    std::visit(
        [&](const auto& rows) {
          using T = std::remove_cvref_t<decltype(rows.states.data()[0])>;
          pool::for_ranges(b.count(), rows_per_task(n * sizeof(T)), [&](std::size_t lo, std::size_t hi) {
            poll_interrupt();
            solved_rows<T>(colors, n, rows.states.data() + lo * n, hi - lo, out.data() + lo);
          });
        },
        ts->rows);
    return;
  }
  auto& copies = std::get<GeometricState>(b.mode).copies;
  pool::for_each_index(b.count(), 1, [&](std::size_t i) {
    poll_interrupt();
    auto solved = is_solved(copies[i]);
    out[i] = solved && *solved ? 1 : 0;
  });
}

// ---------------------------------------------------------------------------------------------
// Loading states

namespace {

// Runs check(i, scratch) over every row in parallel, each task with its own Scratch; once a row fails
// the others stop, and the lowest failing row found is returned.
template <class Scratch, class Check>
std::optional<std::size_t> first_failing_row(std::size_t rows, std::size_t row_bytes, Check check) {
  std::atomic<bool> stop{false};
  std::atomic<std::size_t> lowest{std::numeric_limits<std::size_t>::max()};
  pool::for_ranges(rows, rows_per_task(row_bytes), [&](std::size_t lo, std::size_t hi) {
    poll_interrupt();
    Scratch scratch;
    for (std::size_t i = lo; i < hi; ++i) {
      if (stop.load(std::memory_order_relaxed)) return;
      if (check(i, scratch)) continue;
      stop.store(true, std::memory_order_relaxed);
      std::size_t seen = lowest.load();
      while (i < seen && !lowest.compare_exchange_weak(seen, i)) {
      }
      return;
    }
  });
  const std::size_t found = lowest.load();
  if (found == std::numeric_limits<std::size_t>::max()) return std::nullopt;
  return found;
}

Error no_arrangement_error() {
  return Error::state(
      "this batch turns geometry instead of arrays, because its puzzle's moves are not fixed permutations, so "
      "there is no arrangement to put it into");
}

// What every load does once the states are stored: histories and last actions go.
void loaded(PuzzleBatch& b) {
  b.histories.clear_all();
  std::fill(b.last_actions.begin(), b.last_actions.end(), kNoAction);
}

// Stores the rows, store(lo, hi) writing rows lo .. hi - 1, and does what a load does after. Interrupted
// part-way, the copies whose rows were stored lose their histories and last actions, the others keep
// theirs with their states.
template <class Store>
void load_rows(PuzzleBatch& b, std::size_t row_bytes, Store store) {
  const Runs runs{b.count(), rows_per_task(row_bytes)};
  std::vector<std::uint8_t> stored(runs.size(), 0);
  tidy_on_unwind(
      [&] {
        runs.each([&](std::size_t r, std::size_t lo, std::size_t hi) {
          store(lo, hi);
          stored[r] = 1;
        });
      },
      [&] {
        b.histories.spread();
        for (std::size_t r = 0; r < stored.size(); ++r)
          for (std::size_t i = runs.lo(r); stored[r] && i < runs.hi(r); ++i) {
            b.histories.clear(i);
            b.last_actions[i] = kNoAction;
          }
        b.histories.recount();
      });
  loaded(b);
}

Error length_error(const PuzzleBatch& b, const char* unit, std::size_t given) {
  return Error::range(cat("a state of this puzzle is ", b.sticker_count(), " ", unit, " and this batch holds ",
                          b.count(), " of them, so ", given, " values is not a state each"));
}

}  // namespace

template <class In>
Status load_arrangements(PuzzleBatch& b, std::span<const In> values) {
  const std::size_t n = b.sticker_count(), count = b.count();
  if (n == 0 || values.size() / n != count || values.size() % n != 0)
    return fail(length_error(b, "slots", values.size()));
  TabularState* ts = b.tabular();
  if (!ts) return fail(no_arrangement_error());
  // The flags of a row are cleared by walking the row again, so each task allocates them once.
  const auto bad = first_failing_row<std::vector<std::uint8_t>>(
      count, n * sizeof(In), [&](std::size_t i, std::vector<std::uint8_t>& seen) {
        seen.resize(n, 0);
        const In* row = values.data() + i * n;
        bool ok = true;
        for (std::size_t j = 0; j < n && ok; ++j) {
          const std::uint64_t v = row[j];
          if (v >= n || seen[v]) ok = false;
          else seen[v] = 1;
        }
        for (std::size_t j = 0; j < n; ++j)
          if (row[j] < n) seen[row[j]] = 0;
        return ok;
      });
  if (bad) return fail(Error::range(cat("row ", *bad, " is not an arrangement of this puzzle's ", n, " stickers")));
  std::visit(
      [&](auto& rows) {
        using T = std::remove_cvref_t<decltype(rows.states.data()[0])>;
        T* dst = rows.states.data();
        load_rows(b, n * sizeof(T), [&](std::size_t lo, std::size_t hi) {
          for (std::size_t k = lo * n; k < hi * n; ++k) dst[k] = static_cast<T>(values[k]);
        });
      },
      ts->rows);
  return {};
}

template <class In>
Status load_color_states(PuzzleBatch& b, std::span<const In> values) {
  const std::size_t n = b.sticker_count(), count = b.count(), colors = b.color_count();
  if (n == 0 || values.size() / n != count || values.size() % n != 0)
    return fail(length_error(b, "colors", values.size()));
  // The slots of each colour in increasing order, colour by colour: colour c's are
  // slot_list[start[c] .. start[c + 1]).
  const std::vector<std::uint16_t>& solved = b.model->solved_colors;
  std::vector<std::uint32_t> start(colors + 1, 0), slot_list(n);
  for (std::size_t j = 0; j < n; ++j) ++start[solved[j] + 1];
  std::partial_sum(start.begin(), start.end(), start.begin());
  {
    std::vector<std::uint32_t> next(start.begin(), start.end() - 1);
    for (std::size_t j = 0; j < n; ++j) slot_list[next[solved[j]]++] = static_cast<std::uint32_t>(j);
  }
  // Row i as slot numbers, written to dst unless it is null: the k-th sticker of colour c in
  // position order takes the k-th lowest slot of c. False when the row's colours are not the solved
  // puzzle's, which leaves dst partly written.
  auto convert = [&](std::size_t i, std::vector<std::uint32_t>& next, auto* dst) {
    // Locals only, so that the stores below cannot force the captures to be reloaded.
    const std::uint32_t* const first = start.data();
    const std::uint32_t* const list = slot_list.data();
    const In* const row = values.data() + i * n;
    const std::size_t m = n, c_count = colors;
    next.assign(first, first + c_count);
    std::uint32_t* const at = next.data();
    for (std::size_t j = 0; j < m; ++j) {
      const std::uint64_t c = row[j];
      if (c >= c_count || at[c] >= first[c + 1]) return false;
      const std::uint32_t slot = list[at[c]++];
      if (dst) dst[j] = static_cast<std::remove_pointer_t<decltype(dst)>>(slot);
    }
    return true;
  };
  // Every row is checked before anything is stored; the rows so made are arrangements, so they are
  // then converted straight into the states.
  const auto bad = first_failing_row<std::vector<std::uint32_t>>(
      count, n * sizeof(In),
      [&](std::size_t i, std::vector<std::uint32_t>& next) { return convert(i, next, static_cast<std::uint32_t*>(nullptr)); });
  if (bad)
    return fail(Error::range(cat("row ", *bad,
                                 " does not have the colors of this puzzle: every state of it has as many stickers "
                                 "of each color as the solved one")));
  TabularState* ts = b.tabular();
  if (!ts) return fail(no_arrangement_error());
  std::visit(
      [&](auto& rows) {
        auto* states = rows.states.data();
        load_rows(b, n * sizeof(In), [&](std::size_t lo, std::size_t hi) {
          std::vector<std::uint32_t> next;
          for (std::size_t i = lo; i < hi; ++i) convert(i, next, states + i * n);
        });
      },
      ts->rows);
  return {};
}

template Status load_arrangements(PuzzleBatch&, std::span<const std::uint8_t>);
template Status load_arrangements(PuzzleBatch&, std::span<const std::uint16_t>);
template Status load_arrangements(PuzzleBatch&, std::span<const std::uint32_t>);
template Status load_color_states(PuzzleBatch&, std::span<const std::uint8_t>);
template Status load_color_states(PuzzleBatch&, std::span<const std::uint16_t>);
template Status load_color_states(PuzzleBatch&, std::span<const std::uint32_t>);

Status check_layout_matches(const PuzzleBatch& b, const Layout& layout) {
  if (layout.query == b.query) return {};
  auto canonical = recipe_to_query(view_source(b).recipe);
  if (canonical && *canonical == layout.query) return {};
  return fail(Error::range(cat("this layout describes ", layout.query, ", and this batch holds ", b.query)));
}

// ---------------------------------------------------------------------------------------------
// Rendering

namespace {

// Keeps the first `channels` bytes of every pixel of an RGBA8 frame, in the requested order.
template <class Out>
void copy_out(const std::uint8_t* rgba, const FrameRequest& r, Out* frame) {
  const std::size_t pixels = std::size_t{r.width} * r.height, ch = r.channels;
  auto value = [](std::uint8_t b) {
    if constexpr (std::is_same_v<Out, float>)
      return static_cast<float>(b) / 255.0f;
    else
      return b;
  };
  if (r.channels_first) {
    for (std::size_t c = 0; c < ch; ++c)
      for (std::size_t p = 0; p < pixels; ++p) frame[c * pixels + p] = value(rgba[p * 4 + c]);
  } else {
    for (std::size_t p = 0; p < pixels; ++p)
      for (std::size_t c = 0; c < ch; ++c) frame[p * ch + c] = value(rgba[p * 4 + c]);
  }
}

std::uint32_t view_supersample(const PuzzleBatch& b) {
  const std::uint32_t f = view_source(b).view.supersample;
  return f ? f : 1;
}

}  // namespace

Result<std::size_t> frame_elements(const PuzzleBatch& b, std::uint64_t frames, const FrameRequest& r) {
  if (r.channels != 3 && r.channels != 4)
    return fail(Error::range(cat("a frame has 3 or 4 channels, not ", r.channels)));
  const std::uint32_t f = view_supersample(b);
  if (f > kMaxBatchSupersample)
    return fail(Error::range(cat("a batch draws with a supersampling factor of at most ", kMaxBatchSupersample,
                                 ", not ", f)));
  if (r.width != 0 && r.height != 0) {
    const std::uint64_t sub_w = std::uint64_t{r.width} * f, sub_h = std::uint64_t{r.height} * f;
    if (sub_w > 0xFFFFFFFF || sub_h > 0xFFFFFFFF || sub_w * sub_h > max_pixels)
      return fail(Error::range(cat("frame of ", r.width, "x", r.height, " at supersample ", f,
                                   " is too large to draw")));
  }
  std::uint64_t total = 0;
  if (__builtin_mul_overflow(frames, std::uint64_t{r.width}, &total) ||
      __builtin_mul_overflow(total, std::uint64_t{r.height}, &total) ||
      __builtin_mul_overflow(total, r.channels, &total) || total > (std::numeric_limits<std::size_t>::max() >> 2))
    return fail(Error::range(cat(frames, " frames of ", r.width, "x", r.height, " with ", r.channels,
                                 " channels are too large to hold")));
  return static_cast<std::size_t>(total);
}

template <class Out>
Status render_frames(PuzzleBatch& b, const FrameRequest& r, std::span<Out> out) {
  const std::size_t elements = GY_TRY(frame_elements(b, b.count(), r));
  if (out.size() != elements) panic("render_frames: result span does not match the batch");
  if (elements == 0) return {};
  // Every frame is written whole by one task (so the result is first touched in parallel).
  const std::size_t frame = elements / b.count(), n = b.sticker_count();
  if (TabularState* ts = b.tabular()) {
    GY_CHECK(build_drawing_table(b.drawing_tables, true, ts->template_puzzle, r.width, r.height));
    const DrawingTable& table = b.drawing_tables.front();
    const std::uint16_t* solved = ts->solved_colors.data();
    // RGBA bytes in pixel order are painted straight into the result.
    constexpr bool bytes = std::is_same_v<Out, std::uint8_t>;
    const bool direct = bytes && r.channels == 4 && !r.channels_first;
    std::visit(
        [&](const auto& rows) {
          pool::for_ranges(b.count(), 1, [&](std::size_t lo, std::size_t hi) {
            std::vector<std::uint32_t> colors(n);
            std::vector<std::uint8_t> rgba(direct ? 0 : std::size_t{r.width} * r.height * 4);
            for (std::size_t i = lo; i < hi; ++i) {
              poll_interrupt();
              const auto* state = rows.states.data() + i * n;
              for (std::size_t j = 0; j < n; ++j) colors[j] = solved[state[j]];
              if constexpr (bytes) {
                if (direct) {
                  // The table is drawn at the frame's size, so every pixel is painted.
                  const std::span<std::uint8_t> dst(out.data() + i * frame, frame);
                  paint_from_table(table, std::span<const std::uint32_t>(colors), table.palette, dst);
                  continue;
                }
              }
              paint_from_table(table, std::span<const std::uint32_t>(colors), table.palette, rgba);
              copy_out(rgba.data(), r, out.data() + i * frame);
            }
          });
        },
        ts->rows);
    return {};
  }
  return each_copy(
      b, [&](Simulator& sim) { return render(sim, r.width, r.height); },
      [&](std::size_t i, const auto& image) { copy_out(image.pixels.data(), r, out.data() + i * frame); });
}

template Status render_frames(PuzzleBatch&, const FrameRequest&, std::span<std::uint8_t>);
template Status render_frames(PuzzleBatch&, const FrameRequest&, std::span<float>);

Status render_color_rows(PuzzleBatch& b, std::span<const std::uint32_t> rows, const FrameRequest& r,
                         std::span<std::uint8_t> out) {
  const std::size_t n = b.sticker_count();
  if (n == 0 || rows.size() % n != 0)
    return fail(Error::range(
        cat("a state of this puzzle is ", n, " colors, and ", rows.size(), " is not a whole number of them")));
  const std::size_t states = rows.size() / n;
  const std::size_t elements = GY_TRY(frame_elements(b, states, r));
  if (out.size() != elements) panic("render_color_rows: result span does not match the states");
  TabularState* ts = b.tabular();
  Simulator& source = ts ? ts->template_puzzle : std::get<GeometricState>(b.mode).copies.front();
  // A geometric batch is refused before anything is drawn; a frame without pixels needs no table.
  if (!ts || elements != 0) GY_CHECK(build_drawing_table(b.drawing_tables, ts != nullptr, source, r.width, r.height));
  if (elements == 0) return {};
  const DrawingTable& table = b.drawing_tables.front();
  const std::size_t frame = elements / states;
  pool::for_ranges(states, 1, [&](std::size_t lo, std::size_t hi) {
    std::vector<std::uint8_t> rgba(std::size_t{r.width} * r.height * 4);
    for (std::size_t k = lo; k < hi; ++k) {
      poll_interrupt();
      paint_from_table(table, rows.subspan(k * n, n), table.palette, rgba);
      copy_out(rgba.data(), r, out.data() + k * frame);
    }
  });
  return {};
}

void seed_one(PuzzleBatch& b, std::size_t index, std::uint64_t seed) {
  b.rng_states.at(index) = seed;
  b.last_actions.at(index) = kNoAction;
}

void seed_all(PuzzleBatch& b, std::uint64_t seed) {
  for (std::size_t i = 0; i < b.count(); ++i) b.rng_states[i] = seed + i;
  std::fill(b.last_actions.begin(), b.last_actions.end(), kNoAction);
}

}  // namespace gy

#include "python/batch.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "../batch.hpp"
#include "../pool.hpp"
#include "python/args.hpp"
#include "python/array.hpp"
#include "python/convert.hpp"
#include "python/layout.hpp"
#include "python/puzzle.hpp"

namespace gy::py {
namespace {

using gy::PuzzleBatch;

std::unexpected<Raised> raise_copy_index(std::uint64_t index, std::size_t count) {
  return raise(PyExc_IndexError, cat("puzzle ", index, " out of range (have ", count, ")"));
}

PyResult<std::size_t> copy_index(const PuzzleBatch& b, const Args& a, std::size_t i) {
  const std::uint64_t index = PY_TRY(a.get<std::uint64_t>(i));
  if (index >= b.count()) return raise_copy_index(index, b.count());
  return static_cast<std::size_t>(index);
}

Array flag_array(ArrayBuffer bytes, std::size_t count) { return Array::flags(std::move(bytes), {count}); }

// ---------------------------------------------------------------------------------------------
// Construction and properties

enum Param : std::size_t {
  p_recipe,
  p_count,
  p_seed,
  p_scramble,
  p_background,
  p_supersample,
  p_show_edges,
  p_show_pieces,
  p_line_width,
  p_fov,
  p_distance,
  p_yaw,
  p_pitch,
};

// A show flag as the view options' byte: 0 false, 1 true, 2 not given.
PyResult<std::uint8_t> flag_option(const Args& a, std::size_t i) {
  auto v = PY_TRY(a.opt<bool>(i));
  return static_cast<std::uint8_t>(v ? (*v ? 1 : 0) : 2);
}

PyResult<PuzzleBatch> construct(Call& c, Args& a) {
  const std::uint64_t count = PY_TRY(a.get<std::uint64_t>(p_count));
  BatchSetup setup;
  setup.seed = PY_TRY(a.opt<std::uint64_t>(p_seed));
  setup.scramble = PY_TRY(a.opt<std::uint32_t>(p_scramble));
  if (auto bg = PY_TRY(a.opt<puzzle::Rgba>(p_background))) setup.view.background = puzzle::pack_rgba(*bg);
  PY_TRY(puzzle::read_supersample(a, p_supersample, setup.view.supersample));
  setup.view.show_edges = PY_TRY(flag_option(a, p_show_edges));
  setup.view.show_pieces = PY_TRY(flag_option(a, p_show_pieces));
  setup.view.line_width = PY_TRY(a.opt<double>(p_line_width));
  setup.view.fov = PY_TRY(finite_float_option(a, p_fov));
  setup.view.distance = PY_TRY(finite_float_option(a, p_distance));
  setup.view.yaw = PY_TRY(finite_float_option(a, p_yaw));
  setup.view.pitch = PY_TRY(finite_float_option(a, p_pitch));
  // A build's camera is the default one.
  PY_TRY(puzzle::check_camera_options(setup.view, Camera{}));
  // The recipe's converter speaks for itself: its messages carry no argument note.
  const std::string query = PY_TRY(recipe_argument(a[p_recipe]));
  return PY_TRY(c.detached([&] { return build_batch(query, count, setup); }));
}

std::size_t length(Call&, const PuzzleBatch& b) { return b.count(); }

std::string repr(Call&, const PuzzleBatch& b) {
  return cat("<PuzzleBatch ", b.count(), " of ", b.query, " stickers=", b.sticker_count(), " actions=",
             b.action_count(), " ", b.is_tabular() ? "tabular" : "geometric", ">");
}

const std::string& query(Call&, const PuzzleBatch& b) { return b.query; }
bool is_tabular(Call&, const PuzzleBatch& b) { return b.is_tabular(); }
std::size_t sticker_count(Call&, const PuzzleBatch& b) { return b.sticker_count(); }
std::size_t action_count(Call&, const PuzzleBatch& b) { return b.action_count(); }
std::size_t color_count(Call&, const PuzzleBatch& b) { return b.color_count(); }
std::vector<std::string> actions(Call&, const PuzzleBatch& b) { return action_names(b.model->grip_names); }
const std::vector<std::string>& grip_names(Call&, const PuzzleBatch& b) { return b.model->grip_names; }
const std::vector<std::uint16_t>& solved_stickers(Call&, const PuzzleBatch& b) { return b.model->solved_colors; }
const std::vector<std::uint32_t>& palette(Call&, const PuzzleBatch& b) { return b.model->palette; }

std::vector<std::size_t> move_counts(Call&, const PuzzleBatch& b) {
  std::vector<std::size_t> counts(b.count());
  for (std::size_t i = 0; i < counts.size(); ++i) counts[i] = history_length(b, i);
  return counts;
}

Array whole_array(std::span<const std::uint8_t> v, std::size_t bound, Array::Shape shape) {
  return array_from_u8(v, bound, std::move(shape));
}
Array whole_array(std::span<const std::uint16_t> v, std::size_t bound, Array::Shape shape) {
  return array_from_u16(v, bound, std::move(shape));
}
Array whole_array(std::span<const std::uint32_t> v, std::size_t bound, Array::Shape shape) {
  return array_from_u32(v, bound, std::move(shape));
}

std::optional<Array> permutations(Call&, const PuzzleBatch& b) {
  const TabularState* ts = b.tabular();
  if (!ts) return std::nullopt;
  const std::size_t n = b.sticker_count(), actions = b.action_count();
  return std::visit([&](const auto& rows) { return whole_array(rows.moves.span().first(actions * n), n, {actions, n}); },
                    ts->rows);
}

// ---------------------------------------------------------------------------------------------
// Stepping

PyResult<std::optional<std::uint64_t>> action_index_of(Call&, const PuzzleBatch& b, Args& a) {
  const std::string_view name = PY_TRY(a.get_with(0, extract_text));
  return gy::action_index(b.model->grip_names, name);
}

PyResult<Ref> step(Call& c, PuzzleBatch& b, Args& a) {
  const std::vector<std::uint32_t> actions = PY_TRY(a.get_with(0, extract_whole_numbers_u32));
  const std::size_t count = b.count();
  ArrayBuffer solved(count), applied(count);
  PY_TRY(c.detached([&] { return step_batch(b, actions, solved.span(), applied.span()); }));
  return array_pair_tuple(flag_array(std::move(solved), count), flag_array(std::move(applied), count));
}

PyResult<std::uint64_t> apply(Call& c, PuzzleBatch& b, Args& a) {
  const std::string_view moves = PY_TRY(a.get_with(0, extract_text));
  return PY_TRY(c.detached([&] { return apply_moves(b, moves); }));
}

// ---------------------------------------------------------------------------------------------
// Reset, solve and scramble

PyStatus reset(Call& c, PuzzleBatch& b, Args& a) {
  const std::uint32_t depth = PY_TRY(a.get<std::uint32_t>(0, 0u));
  PY_TRY(c.detached([&] { return reset_all(b, depth); }));
  return {};
}

PyStatus reset_one(Call& c, PuzzleBatch& b, Args& a) {
  const std::uint64_t index = PY_TRY(a.get<std::uint64_t>(0));
  const std::uint32_t depth = PY_TRY(a.get<std::uint32_t>(1, 0u));
  if (index >= b.count()) return raise_copy_index(index, b.count());
  PY_TRY(c.detached([&]() -> Status {
    std::vector<std::uint8_t> flags(b.count(), 0);
    flags[index] = 1;
    return reset_flagged(b, flags, depth);
  }));
  return {};
}

PyStatus reset_where(Call& c, PuzzleBatch& b, Args& a) {
  const std::uint32_t depth = PY_TRY(a.get<std::uint32_t>(1, 0u));
  const std::vector<std::uint8_t> flags = PY_TRY(parse_which(b.count(), a[0]));
  PY_TRY(c.detached([&] { return reset_flagged(b, flags, depth); }));
  return {};
}

PyStatus solve(Call& c, PuzzleBatch& b, Args& a) {
  const std::vector<std::uint8_t> flags = PY_TRY(parse_which(b.count(), a[0]));
  PY_TRY(c.detached([&] { return solve_flagged(b, flags); }));
  return {};
}

// A number of moves for every copy, or a sequence of one per copy.
PyResult<std::vector<std::uint32_t>> depth_argument(PyObject* obj, std::size_t count) {
  if (auto one = extract_u32(obj)) return std::vector<std::uint32_t>(count, *one);
  PY_TRY(discard_mismatch());
  if (auto each = extract_u32_list(obj)) {
    if (each->size() != count)
      return raise(PyExc_ValueError, cat("got ", each->size(), " depths for ", count, " puzzles"));
    return std::move(*each);
  }
  PY_TRY(discard_mismatch());
  return raise(PyExc_TypeError, "expected a number of moves, or one per puzzle");
}

PyStatus scramble(Call& c, PuzzleBatch& b, Args& a) {
  const std::vector<std::uint32_t> depths = PY_TRY(depth_argument(a[0], b.count()));
  PY_TRY(c.detached([&] { return scramble_all(b, depths); }));
  return {};
}

// ---------------------------------------------------------------------------------------------
// Undo, seeds and history

PyResult<Array> undo(Call& c, PuzzleBatch& b, Args& a) {
  const std::vector<std::uint8_t> flags = PY_TRY(parse_which(b.count(), a[0]));
  ArrayBuffer undone(b.count());
  PY_TRY(c.detached([&] { return undo_flagged(b, flags, undone.span()); }));
  return flag_array(std::move(undone), b.count());
}

PyStatus seed(Call&, PuzzleBatch& b, Args& a) {
  const std::uint64_t index = PY_TRY(a.get<std::uint64_t>(0));
  const std::uint64_t value = PY_TRY(a.get<std::uint64_t>(1));
  if (index >= b.count()) return raise_copy_index(index, b.count());
  seed_one(b, static_cast<std::size_t>(index), value);
  return {};
}

PyStatus seed_every(Call&, PuzzleBatch& b, Args& a) {
  seed_all(b, PY_TRY(a.get<std::uint64_t>(0)));
  return {};
}

PyResult<std::vector<std::uint32_t>> history(Call&, const PuzzleBatch& b, Args& a) {
  return history_of(b, PY_TRY(copy_index(b, a, 0)));
}

// ---------------------------------------------------------------------------------------------
// Observations and sticker ids

// An unfilled buffer for one T per slot of every copy.
template <class T>
Result<ArrayBuffer> row_buffer(const PuzzleBatch& b) {
  std::uint64_t bytes = 0;
  if (__builtin_mul_overflow(std::uint64_t{b.count()}, std::uint64_t{b.sticker_count()}, &bytes) ||
      __builtin_mul_overflow(bytes, std::uint64_t{sizeof(T)}, &bytes) ||
      bytes > std::numeric_limits<std::size_t>::max())
    return fail(Error::range(cat("the states of ", b.count(), " puzzles of ", b.sticker_count(),
                                 " stickers are too large to hold")));
  return ArrayBuffer(static_cast<std::size_t>(bytes));
}

// The rows at the narrowest width holding values below `bound`, as an Array of (count,
// sticker_count); fill(span<T>) writes them straight into the result's buffer without the
// interpreter.
template <class Fill>
PyResult<Array> state_array(Call& c, PuzzleBatch& b, std::size_t bound, Fill fill) {
  return at_width(width_for_bound(bound), [&]<class T>(T) -> PyResult<Array> {
    return PY_TRY(c.detached([&]() -> Result<Array> {
      ArrayBuffer rows = GY_TRY(row_buffer<T>(b));
      GY_CHECK(fill(rows.values<T>()));
      return array_of_native(std::move(rows), {b.count(), b.sticker_count()}, element_type_of<T>());
    }));
  });
}

PyResult<Array> observations(Call& c, PuzzleBatch& b) {
  return state_array(c, b, b.color_count(), [&]<class T>(std::span<T> out) { return observation_rows<T>(b, out); });
}

PyResult<Array> sticker_ids(Call& c, PuzzleBatch& b) {
  return state_array(c, b, b.sticker_count(), [&]<class T>(std::span<T> out) { return sticker_id_rows<T>(b, out); });
}

// ---------------------------------------------------------------------------------------------
// One-hot, action masks and solved flags

PyResult<Array> one_hot(Call& c, PuzzleBatch& b) {
  std::optional<ArrayBuffer> bytes;
  PY_TRY(c.detached([&]() -> Status {
    bytes.emplace(GY_TRY(one_hot_size(b)));
    return one_hot_rows(b, bytes->span());
  }));
  return Array::bytes(std::move(*bytes), {b.count(), b.sticker_count() * b.color_count()});
}

PyResult<Array> action_masks(Call& c, PuzzleBatch& b) {
  ArrayBuffer flags(b.count() * b.action_count());
  PY_TRY(c.detached([&] { return action_mask_rows(b, flags.span()); }));
  return Array::flags(std::move(flags), {b.count(), b.action_count()});
}

PyResult<Array> solved(Call& c, PuzzleBatch& b) {
  ArrayBuffer flags(b.count());
  PY_TRY(c.detached([&]() -> Status {
    solved_flags(b, flags.span());
    return {};
  }));
  return flag_array(std::move(flags), b.count());
}

// ---------------------------------------------------------------------------------------------
// Loading states

// Reads whole numbers at the narrowest width holding values below `bound`, and loads them: one
// state of sticker_count values goes to every copy.
// Calls load(rows) with the values given, or with one state of sticker_count values repeated for
// every copy (filled in parallel) when that is what they are.
template <class T, class Load>
Status with_broadcast(const PuzzleBatch& b, const std::vector<T>& values, Load load) {
  const std::size_t n = b.sticker_count(), count = b.count();
  if (n == 0 || count < 2 || values.size() != n) return load(std::span<const T>(values));
  const auto every = std::make_unique_for_overwrite<T[]>(n * count);
  pool::for_ranges(count, std::max<std::size_t>(1, (std::size_t{1} << 16) / (n * sizeof(T))),
                   [&](std::size_t lo, std::size_t hi) {
                     poll_interrupt();
                     for (std::size_t i = lo; i < hi; ++i) std::copy(values.begin(), values.end(), every.get() + i * n);
                   });
  return load(std::span<const T>(every.get(), n * count));
}

template <class T>
PyResult<void> load_states(Call& c, PuzzleBatch& b, std::vector<T> values, bool ids) {
  PY_TRY(c.detached([&]() -> Status {
    return with_broadcast(b, values, [&](std::span<const T> v) {
      return ids ? load_arrangements<T>(b, v) : load_color_states<T>(b, v);
    });
  }));
  return {};
}

PyStatus set_states(Call& c, PuzzleBatch& b, Args& a) {
  const bool ids = PY_TRY(a.get<bool>(1, false));
  const std::size_t bound = ids ? b.sticker_count() : b.color_count();
  if (bound <= 256) return load_states(c, b, PY_TRY(a.get_with(0, extract_whole_numbers_u8)), ids);
  if (bound <= 65536) return load_states(c, b, PY_TRY(a.get_with(0, extract_whole_numbers_u16)), ids);
  return load_states(c, b, PY_TRY(a.get_with(0, extract_whole_numbers_u32)), ids);
}

// ---------------------------------------------------------------------------------------------
// Face-by-face access through a Layout

PyResult<Shared<gy::Layout>> matching_layout(const PuzzleBatch& b, PyObject* obj) {
  Shared<gy::Layout> layout = PY_TRY(borrow_layout_argument(obj));
  PY_TRY(check_layout_matches(b, *layout));
  return layout;
}

// Rows read at width T, converted to face order, as an Array of (count, sticker_count).
template <class T, class Read, class Convert>
PyResult<Array> facelet_rows(Call& c, const PuzzleBatch& b, Read read, Convert convert) {
  return PY_TRY(c.detached([&]() -> Result<Array> {
    ArrayBuffer rows = GY_TRY(row_buffer<T>(b)), faces = GY_TRY(row_buffer<T>(b));
    GY_CHECK(read(rows.values<T>()));
    GY_CHECK(convert(std::span<const T>(rows.values<T>()), faces.values<T>()));
    return array_of_native(std::move(faces), {b.count(), b.sticker_count()}, element_type_of<T>());
  }));
}

PyResult<Array> facelets(Call& c, PuzzleBatch& b, Args& a) {
  const Shared<gy::Layout> layout = PY_TRY(matching_layout(b, a[0]));
  return at_width(layout->state_width(), [&]<class T>(T) {
    return facelet_rows<T>(
        c, b, [&](std::span<T> out) { return observation_rows<T>(b, out); },
        [&](std::span<const T> rows, std::span<T> out) { return colors_to_facelets<T>(*layout, rows, out); });
  });
}

PyResult<Array> facelet_ids(Call& c, PuzzleBatch& b, Args& a) {
  const Shared<gy::Layout> layout = PY_TRY(matching_layout(b, a[0]));
  return at_width(layout->id_width(), [&]<class T>(T) {
    return facelet_rows<T>(
        c, b, [&](std::span<T> out) { return sticker_id_rows<T>(b, out); },
        [&](std::span<const T> rows, std::span<T> out) { return ids_to_facelet_ids<T>(*layout, rows, out); });
  });
}

template <class T>
PyStatus load_facelets(Call& c, PuzzleBatch& b, const gy::Layout& layout, std::vector<T> values) {
  PY_TRY(c.detached([&]() -> Status {
    return with_broadcast(b, values, [&](std::span<const T> v) -> Status {
      const auto colors = std::make_unique_for_overwrite<T[]>(v.size());
      const std::span<T> out(colors.get(), v.size());
      GY_CHECK(facelets_to_colors<T>(layout, v, out));
      return load_color_states<T>(b, std::span<const T>(out));
    });
  }));
  return {};
}

PyStatus set_facelets(Call& c, PuzzleBatch& b, Args& a) {
  const Shared<gy::Layout> layout = PY_TRY(matching_layout(b, a[0]));
  switch (layout->state_width()) {
    case Width::u8: return load_facelets(c, b, *layout, PY_TRY(a.get_with(1, extract_whole_numbers_u8)));
    case Width::u16: return load_facelets(c, b, *layout, PY_TRY(a.get_with(1, extract_whole_numbers_u16)));
    default: return load_facelets(c, b, *layout, PY_TRY(a.get_with(1, extract_whole_numbers_u32)));
  }
}

PyStatus same_puzzle(Call&, const PuzzleBatch& b, Args& a) {
  PY_TRY(matching_layout(b, a[0]));
  return {};
}

// ---------------------------------------------------------------------------------------------
// Rendering

enum class Dtype : std::uint8_t { bytes, floats };

PyResult<Dtype> dtype_of(std::string_view text) {
  if (text == "u1" || text == "uint8") return Dtype::bytes;
  if (text == "f4" || text == "float32") return Dtype::floats;
  std::string quoted = "\"";
  for (char ch : text) {
    if (ch == '"' || ch == '\\') quoted += '\\';
    quoted += ch;
  }
  quoted += '"';
  return raise(PyExc_ValueError, cat("dtype must be \"u1\" or \"f4\", not ", quoted));
}

// width, height, then the keyword-only channels, channels_first and dtype from position `at`.
PyResult<FrameRequest> frame_request(const Args& a, std::size_t at) {
  FrameRequest r;
  r.width = PY_TRY(a.get<std::uint32_t>(at, 256u));
  r.height = PY_TRY(a.get<std::uint32_t>(at + 1, 256u));
  r.channels = PY_TRY(a.get<std::uint64_t>(at + 2, std::uint64_t{4}));
  r.channels_first = PY_TRY(a.get<bool>(at + 3, false));
  return r;
}

Array::Shape frame_shape(std::size_t frames, const FrameRequest& r) {
  if (r.channels_first) return {frames, r.channels, r.height, r.width};
  return {frames, r.height, r.width, r.channels};
}

// out[k] = in[k] / 255, in parallel.
void bytes_to_unit_floats(std::span<const std::uint8_t> in, std::span<float> out) {
  pool::for_ranges(in.size(), std::size_t{1} << 16, [&](std::size_t lo, std::size_t hi) {
    poll_interrupt();
    for (std::size_t k = lo; k < hi; ++k) out[k] = static_cast<float>(in[k]) / 255.0f;
  });
}

PyResult<Array> render_batch(Call& c, PuzzleBatch& b, Args& a) {
  const FrameRequest r = PY_TRY(frame_request(a, 0));
  const Dtype dtype = PY_TRY(dtype_of(PY_TRY(a.get<std::string_view>(4, std::string_view("u1")))));
  if (dtype == Dtype::bytes) {
    std::optional<ArrayBuffer> bytes;
    PY_TRY(c.detached([&]() -> Status {
      bytes.emplace(GY_TRY(frame_elements(b, b.count(), r)));
      return render_frames<std::uint8_t>(b, r, bytes->span());
    }));
    return Array::bytes(std::move(*bytes), frame_shape(b.count(), r));
  }
  std::optional<ArrayBuffer> floats;
  PY_TRY(c.detached([&]() -> Status {
    floats.emplace(GY_TRY(frame_elements(b, b.count(), r)) * sizeof(float));
    return render_frames<float>(b, r, floats->values<float>());
  }));
  return array_of_native(std::move(*floats), frame_shape(b.count(), r), ElementType::f32);
}

PyResult<Array> render_states(Call& c, PuzzleBatch& b, Args& a) {
  const FrameRequest r = PY_TRY(frame_request(a, 1));
  const std::string dtype_text(PY_TRY(a.get<std::string_view>(5, std::string_view("u1"))));
  const std::vector<std::uint32_t> rows = PY_TRY(a.get_with(0, extract_whole_numbers_u32));
  const std::size_t frames = rows.size() / std::max<std::size_t>(b.sticker_count(), 1);
  std::optional<ArrayBuffer> bytes;
  PY_TRY(c.detached([&]() -> Status {
    const std::size_t n = b.sticker_count();
    if (n == 0 || rows.size() % n != 0)
      return fail(Error::range(
          cat("a state of this puzzle is ", n, " colors, and ", rows.size(), " is not a whole number of them")));
    bytes.emplace(GY_TRY(frame_elements(b, frames, r)));
    return render_color_rows(b, rows, r, bytes->span());
  }));
  const Dtype dtype = PY_TRY(dtype_of(dtype_text));
  if (dtype == Dtype::bytes) return Array::bytes(std::move(*bytes), frame_shape(frames, r));
  ArrayBuffer floats = PY_TRY(c.detached([&]() -> Result<ArrayBuffer> {
    ArrayBuffer out(bytes->size() * sizeof(float));
    bytes_to_unit_floats(bytes->span(), out.values<float>());
    return out;
  }));
  return array_of_native(std::move(floats), frame_shape(frames, r), ElementType::f32);
}

PyResult<std::vector<Image>> frames(Call& c, PuzzleBatch& b, Args& a) {
  FrameRequest r;
  r.width = PY_TRY(a.get<std::uint32_t>(0, 256u));
  r.height = PY_TRY(a.get<std::uint32_t>(1, 256u));
  std::vector<Image> images;
  PY_TRY(c.detached([&]() -> Status {
    ArrayBuffer bytes(GY_TRY(frame_elements(b, b.count(), r)));
    GY_CHECK(render_frames<std::uint8_t>(b, r, bytes.span()));
    if (r.width == 0 || r.height == 0) return {};
    // Each image gets its own copy of its frame, made in parallel.
    const std::size_t frame = std::size_t{r.width} * r.height * 4;
    images.resize(b.count());
    pool::for_each_index(b.count(), 1, [&](std::size_t i) {
      poll_interrupt();
      const std::uint8_t* at = bytes.data() + i * frame;
      images[i] = Image{PixelBytes(at, at + frame), r.width, r.height};
    });
    return {};
  }));
  return images;
}

// ---------------------------------------------------------------------------------------------
// View configuration and camera

PyStatus configure(Call&, PuzzleBatch& b, Args& a) {
  ViewOptions o;
  if (auto bg = PY_TRY(a.opt<puzzle::Rgba>(0))) o.background = puzzle::pack_rgba(*bg);
  PY_TRY(puzzle::read_supersample(a, 1, o.supersample));
  o.show_edges = PY_TRY(flag_option(a, 2));
  o.show_pieces = PY_TRY(flag_option(a, 3));
  o.line_width = PY_TRY(a.opt<double>(4));
  o.fov = PY_TRY(finite_float_option(a, 5));
  o.distance = PY_TRY(finite_float_option(a, 6));
  o.yaw = PY_TRY(finite_float_option(a, 7));
  o.pitch = PY_TRY(finite_float_option(a, 8));
  CameraVectors v;
  v.position = PY_TRY(finite_vec3_option(a, 9));
  v.target = PY_TRY(finite_vec3_option(a, 10));
  v.up = PY_TRY(finite_vec3_option(a, 11));
  // Every copy has the batch's one view: the camera they would have is tried on a copy of it. The
  // vectors given are finite, so a camera that is not comes from yaw, pitch or distance.
  Camera moved = view_source(b).camera;
  ViewSettings view;
  view_from_options(o, view, moved);
  for (auto [given, field] : {std::pair{&v.position, &moved.position}, std::pair{&v.target, &moved.target},
                              std::pair{&v.up, &moved.up}})
    if (*given) *field = **given;
  if (!camera_is_finite(moved)) PY_TRY(puzzle::check_camera_options(o, view_source(b).camera));
  configure_views(b, o, v);
  return {};
}

std::tuple<Vec3d, Vec3d, Vec3d, double> camera(Call&, const PuzzleBatch& b) {
  const Camera& cam = view_source(b).camera;
  return {cam.position, cam.target, cam.up, cam.fov};
}

// ---------------------------------------------------------------------------------------------
// Rows

constexpr Borrow sh = Borrow::shared, ex = Borrow::exclusive;
constexpr Release rel = Release::yes;

constexpr ClassDef batch_class{
    "PuzzleBatch",
    "PuzzleBatch(recipe, count, *, seed=None, scramble=None, background=None, supersample=None, "
    "show_edges=None, show_pieces=None, line_width=None, fov=None, distance=None, yaw=None, pitch=None)\n--\n\n"
    "Parallel simulator for multiple instances of a twisty puzzle.\n\n"
    "Meant for vectorized reinforcement learning and parallel search. The geometry is derived once\n"
    "for all instances of a recipe. For a non-jumbling puzzle whose moves are fixed permutations,\n"
    "transitions are array gathers and frames are painted from a pixel-to-slot table; a jumbling\n"
    "puzzle, or one whose layers lock, simulates one geometric puzzle per instance. Both execution\n"
    "models expose the same interface, and `is_tabular` tells which one is in use.\n\n"
    "    >>> b = gy.PuzzleBatch(\"Quenly's Cube (3x3x3)\", 4, seed=0)\n"
    "    >>> b.reset(scramble=5)\n"
    "    >>> b.observations().shape\n"
    "    (4, 54)\n"
    "    >>> solved, applied = b.step([0, 1, 2, 3])"};

constexpr Constructor batch_new{&construct, rel};
constexpr Slot len_slot{slot<Py_mp_length>, sh, &length};
constexpr Slot repr_slot{slot<Py_tp_repr>, sh, &repr};

constexpr Property query_row{"query", "The recipe every copy was built from.", sh, &query};
constexpr Property is_tabular_row{
    "is_tabular",
    "Whether moves are applied as permutations of sticker slots instead of by turning geometry\n"
    "(microseconds rather than milliseconds a move), and frames painted from a table instead of\n"
    "rasterized.",
    sh, &is_tabular};
constexpr Property sticker_count_row{"sticker_count", "How many sticker slots each puzzle has.", sh, &sticker_count};
constexpr Property action_count_row{"action_count", "How many moves each puzzle has.", sh, &action_count};
constexpr Property color_count_row{"color_count", "How many distinct sticker colors each puzzle has.", sh,
                                   &color_count};
constexpr Property actions_row{"actions", "Every move name, in action-index order.", sh, &actions};
constexpr Property grip_names_row{"grip_names", "The names of the grips themselves, without a direction.", sh,
                                  &grip_names};
constexpr Property solved_stickers_row{"solved_stickers",
                                       "The colors of a solved puzzle: the goal every copy is working toward.", sh,
                                       &solved_stickers};
constexpr Property palette_row{"palette", "The sticker colors themselves, packed `0xRRGGBB`, indexed by color.", sh,
                               &palette};
constexpr Property permutations_row{
    "permutations",
    "Every move as a permutation of the sticker slots, an array of `(action_count, sticker_count)`:\n"
    "making action `a` turns the state `old` into `new[i] = old[perm[a][i]]`. `None` for a puzzle\n"
    "whose moves are not fixed permutations. For lookahead search without changing the simulator.",
    sh, &permutations};
constexpr Property move_counts_row{"move_counts", "How many moves each puzzle has made since it was last solved.", sh,
                                   &move_counts};

constexpr Method action_index_row{
    "action_index($self, name)\n--\n\nThe index of a move named like `\"A\"` or `\"B2'\"`, or `None`.", sh,
    &action_index_of};
constexpr Method step_row{
    "step($self, actions)\n--\n\n"
    "Apply one action per puzzle instance.\n\n"
    "Returns `(solved, applied)`, one flag per instance each. An action on a layer that cannot turn\n"
    "is ignored without an exception, so a policy need not mask its actions; only geometric\n"
    "simulation detects blocked or locked layers. Passing an array lets large batches read their\n"
    "actions without copying them through Python.",
    ex, &step, rel};
constexpr Method apply_row{
    "apply($self, moves)\n--\n\n"
    "Make a written move sequence such as `\"A B2' A'\"` in every puzzle; returns how many turns\n"
    "each puzzle was asked for, repeats counted. A turn a puzzle cannot make leaves that puzzle\n"
    "alone, as a step does.",
    ex, &apply, rel};
constexpr Method reset_row{
    "reset($self, *, scramble=0)\n--\n\n"
    "Solve every puzzle, then scramble each by `scramble` random moves. A walk of `scramble` moves\n"
    "leaves each puzzle solvable in at most `scramble` moves, which gives learning algorithms a\n"
    "graded curriculum.",
    ex, &reset, rel};
constexpr Method reset_one_row{
    "reset_one($self, index, *, scramble=0)\n--\n\n"
    "Solve and scramble puzzle `index` alone, leaving the others as they are.",
    ex, &reset_one, rel};
constexpr Method reset_where_row{
    "reset_where($self, which=None, *, scramble=0)\n--\n\n"
    "Solve and scramble the puzzles `which` chooses: a whole vectorized autoreset in one call, the\n"
    "finished episodes starting again while the rest are untouched. `which` is a flag per puzzle or\n"
    "a list of indices.",
    ex, &reset_where, rel};
constexpr Method solve_row{
    "solve($self, which=None)\n--\n\n"
    "Solve the puzzles `which` chooses without scrambling them again. `which` is a flag per puzzle\n"
    "or a list of indices; `None` chooses every puzzle.",
    ex, &solve, rel};
constexpr Method scramble_row{
    "scramble($self, depth)\n--\n\n"
    "Make `depth` random moves from each puzzle's current position; `depth` is one number for all\n"
    "or one per puzzle. Random walks do not immediately invert the preceding turn.",
    ex, &scramble, rel};
constexpr Method undo_row{
    "undo($self, which=None)\n--\n\n"
    "Invert the most recent turn of the puzzle instances specified by `which`.\n\n"
    "`which` accepts a boolean mask, an index list, or `None` (all instances). Returns a boolean\n"
    "mask of the instances that had an active history to invert.",
    ex, &undo, rel};
constexpr Method seed_row{"seed($self, index, seed)\n--\n\nSeed one puzzle's scrambler.", ex, &seed};
constexpr Method seed_all_row{
    "seed_all($self, seed)\n--\n\n"
    "Seed every puzzle, giving puzzle `i` `seed + i`, so one number fixes the whole batch and no two\n"
    "copies walk together.",
    ex, &seed_every};
constexpr Method history_row{
    "history($self, index)\n--\n\n"
    "The moves one puzzle has made since it was last solved.\n\n"
    "Replaying them on a freshly built `Puzzle` puts it in that copy's position: the way from an\n"
    "array back to something that can be taken apart and looked at.",
    sh, &history};

constexpr Method observations_row{
    "observations($self)\n--\n\n"
    "Observation matrix of shape `(n, sticker_count)` containing integer color IDs\n"
    "for all puzzle instances.",
    ex, &observations, rel};
constexpr Method sticker_ids_row{
    "sticker_ids($self)\n--\n\n"
    "Where the sticker in each slot started, as an `(n, sticker_count)`\n"
    "block of slot numbers: the states as permutations.\n\n"
    "Distinguishes states that identical colors cannot differentiate, such as\n"
    "permutations between identically colored pieces. Solved rows equal `range(sticker_count)`.",
    ex, &sticker_ids, rel};

constexpr Method one_hot_row{
    "one_hot($self)\n--\n\n"
    "Every state as indicator bytes, `(n, sticker_count * color_count)`.\n\n"
    "Formatted for neural network inputs, and materialized directly within native\n"
    "memory in a single pass.",
    ex, &one_hot, rel};
constexpr Method action_masks_row{
    "action_masks($self)\n--\n\n"
    "Which moves each puzzle can make, as an `(n, action_count)` block of\n"
    "flags.",
    ex, &action_masks, rel};
constexpr Method solved_row{"solved($self)\n--\n\nWhether each puzzle is solved.", ex, &solved, rel};

constexpr Method configure_row{
    "configure($self, *, background=None, supersample=None, show_edges=None, show_pieces=None, line_width=None, "
    "fov=None, distance=None, yaw=None, pitch=None, camera_position=None, camera_target=None, camera_up=None)\n--\n\n"
    "Change the view every frame is drawn from. `yaw` and `pitch` (degrees) place the camera on a\n"
    "sphere about the origin at `distance`; the explicit camera vectors are applied after them.\n"
    "None leaves a setting as it is.",
    ex, &configure};
constexpr Property camera_row{
    "camera",
    "The camera as `(position, target, up, fov)`, in the form `configure` takes back: draw from\n"
    "another viewpoint, then restore this one.",
    sh, &camera};

constexpr Method set_states_row{
    "set_states($self, states, *, ids=False)\n--\n\n"
    "Put given states into the puzzles: colors per slot as `observations` gives them, or with\n"
    "`ids=True` slot numbers as `sticker_ids` gives them. One state goes to every puzzle, or a block\n"
    "gives one to each. Every row must have the solved color counts (or be an arrangement of the\n"
    "slots); histories are cleared. Only a tabular batch holds its states as arrays.",
    ex, &set_states, rel};

constexpr Method facelets_row{
    "facelets($self, layout)\n--\n\n"
    "Every puzzle's colors in the face-by-face numbering of `layout`, as an `(n, sticker_count)` block\n"
    "of faces: entry `f` is the face whose color facelet `f` shows.",
    ex, &facelets, rel};
constexpr Method facelet_ids_row{
    "facelet_ids($self, layout)\n--\n\n"
    "Where the sticker in each facelet started, in the face-by-face numbering of `layout`.",
    ex, &facelet_ids, rel};
constexpr Method set_facelets_row{
    "set_facelets($self, layout, facelets)\n--\n\n"
    "Put states written face by face, as `facelets` gives them, into the puzzles: one state for\n"
    "every puzzle, or one each. Histories are cleared.",
    ex, &set_facelets, rel};
constexpr Method same_puzzle_row{
    "same_puzzle($self, layout)\n--\n\n"
    "Raise `ValueError` unless `layout` numbers this batch's puzzle.",
    sh, &same_puzzle};

constexpr Method render_row{
    "render($self, width=256, height=256, *, channels=4, channels_first=False, dtype=\"u1\")\n--\n\n"
    "Every puzzle's frame in one array of `(n, height, width, channels)`, or `(n, channels, height,\n"
    "width)` with `channels_first`; `dtype` \"u1\" gives bytes, \"f4\" floats from 0 to 1. A tabular\n"
    "batch paints its frames from a cached pixel-to-slot table: tens of microseconds for a whole\n"
    "batch of small frames instead of a rasterization each.",
    ex, &render_batch, rel};
constexpr Method render_states_row{
    "render_states($self, states, width=256, height=256, *, channels=4, channels_first=False, dtype=\"u1\")\n"
    "--\n\n"
    "Frames of given states, colors per slot as `observations` gives them, without touching the\n"
    "puzzles. Only a tabular batch has the table to paint them from.",
    ex, &render_states, rel};
constexpr Method frames_row{
    "frames($self, width=256, height=256)\n--\n\nEvery puzzle's frame as an `Image`, in order.", ex, &frames,
    rel};

constinit OnceObject batch_cell;

}  // namespace

PyResult<std::vector<std::uint8_t>> parse_which(std::size_t count, PyObject* which) {
  if (!which || which == Py_None) return std::vector<std::uint8_t>(count, 1);
  const bool sequence = !PyUnicode_Check(which) && PySequence_Check(which) == 1;

  // Flags: every item a bool (or a NumPy bool). Anything else falls through to indices.
  if (sequence) {
    std::vector<std::uint8_t> flags;
    const Py_ssize_t hint = PySequence_Size(which);
    if (hint < 0)
      PY_TRY(discard_mismatch());
    else
      flags.reserve(std::min(static_cast<std::size_t>(hint), max_reserve_hint));
    Ref it = Ref::steal(PyObject_GetIter(which));
    bool all_flags = static_cast<bool>(it);
    while (all_flags) {
      Ref item = Ref::steal(PyIter_Next(it.get()));
      if (!item) {
        all_flags = !PyErr_Occurred();
        break;
      }
      auto flag = extract_flag(item.get());
      if (!flag) {
        all_flags = false;
        break;
      }
      flags.push_back(*flag ? 1 : 0);
    }
    if (all_flags) {
      if (flags.size() != count)
        return raise(PyExc_ValueError, cat("got ", flags.size(), " flags for ", count, " puzzles"));
      return flags;
    }
    PY_TRY(discard_mismatch());
  }

  // Indices, each below count.
  auto not_a_choice = [] { return raise(PyExc_TypeError, "expected a list of flags, a list of indices, or None"); };
  if (!sequence) return not_a_choice();
  std::vector<std::uint64_t> indices;
  Ref it = Ref::steal(PyObject_GetIter(which));
  if (!it) {
    PY_TRY(discard_mismatch());
    return not_a_choice();
  }
  while (Ref item = Ref::steal(PyIter_Next(it.get()))) {
    auto index = extract_usize(item.get());
    if (!index) {
      PY_TRY(discard_mismatch());
      return not_a_choice();
    }
    indices.push_back(*index);
  }
  if (PyErr_Occurred()) {
    PY_TRY(discard_mismatch());
    return not_a_choice();
  }
  std::vector<std::uint8_t> flags(count, 0);
  for (std::uint64_t index : indices) {
    if (index >= count) return raise_copy_index(index, count);
    flags[static_cast<std::size_t>(index)] = 1;
  }
  return flags;
}

template <>
PyTypeObject* type_object<gy::PuzzleBatch>() {
  return make_type<gy::PuzzleBatch, batch_class, batch_new, len_slot, repr_slot, query_row, is_tabular_row,
                   sticker_count_row, action_count_row, color_count_row, actions_row, grip_names_row,
                   solved_stickers_row, palette_row, permutations_row, move_counts_row, action_index_row, step_row,
                   apply_row, reset_row, reset_one_row, reset_where_row, solve_row, scramble_row, undo_row, seed_row,
                   seed_all_row, history_row, observations_row, sticker_ids_row, one_hot_row,
                   action_masks_row, solved_row, configure_row, camera_row,
                   set_states_row, facelets_row, facelet_ids_row, set_facelets_row, same_puzzle_row,
                   render_row, render_states_row, frames_row>(batch_cell);
}

PyTypeObject* batch_type_object() { return type_object<gy::PuzzleBatch>(); }

}  // namespace gy::py

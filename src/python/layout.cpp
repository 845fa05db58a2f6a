#include "python/layout.hpp"

#include <atomic>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <string>
#include <variant>
#include <vector>

#include "num/interrupt.hpp"
#include "pool.hpp"
#include "python/args.hpp"
#include "python/array.hpp"

namespace gy::py {

static_assert(std::endian::native == std::endian::little, "state arrays are written in native order");

namespace {

using gy::Conversion;
using gy::Layout;
using gy::Width;

// ---------------------------------------------------------------------------------------------
// Blocks of states


// Whole numbers of one width: an Array's own buffer, held shared while it is read, or a copy.
template <class T>
struct Values {
  using value_type = T;
  std::optional<Shared<Array>> held;
  std::vector<T> copied;
  std::span<const T> span;

  std::size_t size() const { return span.size(); }
  operator std::span<const T>() const { return span; }
};

using Block = std::variant<Values<std::uint8_t>, Values<std::uint16_t>, Values<std::uint32_t>>;

template <class T>
PyResult<std::vector<T>> extract_at(PyObject* obj) {
  if constexpr (sizeof(T) == 1)
    return extract_whole_numbers_u8(obj);
  else if constexpr (sizeof(T) == 2)
    return extract_whole_numbers_u16(obj);
  else
    return extract_whole_numbers_u32(obj);
}

// A whole-number argument read at a width. An Array of exactly that width is read where it lies,
// as the converter would copy it value for value; anything else goes through the converter.
PyResult<Block> read_block(PyObject* obj, Width width) {
  return at_width(width, [&]<class T>(T) -> PyResult<Block> {
    Values<T> v;
    if (auto held = PY_TRY(borrow_array_argument(obj)); held && (*held)->element_type() == element_type_of<T>()) {
      v.span = {reinterpret_cast<const T*>((*held)->data()), (*held)->size()};
      v.held.emplace(std::move(*held));
      return Block(std::move(v));
    }
    v.copied = PY_TRY(extract_at<T>(obj));
    v.span = v.copied;
    return Block(std::move(v));
  });
}


// (n,) for exactly one state, else (k, n).
Array::Shape state_shape(std::size_t values, std::size_t n, std::size_t row) {
  if (values == n) return {row};
  return {n ? values / n : 0, row};
}

// A buffer of `count` values of T, and the Array over it once filled.
template <class T>
struct Filled {
  ArrayBuffer buffer;
  std::span<T> values;
  explicit Filled(std::size_t count) : buffer(count * sizeof(T)), values(reinterpret_cast<T*>(buffer.data()), count) {}
  Array finish(Array::Shape shape, ElementType type = element_type_of<T>()) && {
    return array_of_type(std::move(buffer), std::move(shape), type);
  }
};

PyResult<Ref> conversion(Call& c, const Layout& l, Args& a, Conversion which) {
  Width width = which == Conversion::ids_to_facelet_ids ? l.id_width() : l.state_width();
  Block block = PY_TRY(a.noted(read_block(a[0], width), 0));
  return std::visit(
      [&](const auto& values) -> PyResult<Ref> {
        using T = typename std::decay_t<decltype(values)>::value_type;
        Array out = PY_TRY(c.detached([&]() -> Result<Array> {
          GY_CHECK(check_conversion<T>(l, which, values));
          Filled<T> filled(values.size());
          GY_CHECK(convert<T>(l, which, values, filled.values));
          return std::move(filled).finish(state_shape(values.size(), l.facelet_count(), l.facelet_count()));
        }));
        return to_py(std::move(out));
      },
      block);
}

// ---------------------------------------------------------------------------------------------
// States of any width for next_states

// A held Py_buffer, given back with the interpreter held when the holder goes.
class HeldBuffer {
 public:
  HeldBuffer() = default;
  HeldBuffer(const HeldBuffer&) = delete;
  HeldBuffer& operator=(const HeldBuffer&) = delete;
  ~HeldBuffer() {
    if (held_) PyBuffer_Release(&view_);
  }
  // False, with no exception set, when the object offers no C-contiguous buffer; a failure that is
  // the caller's own (see discard_mismatch) is raised.
  PyResult<bool> get(PyObject* obj) {
    held_ = PyObject_GetBuffer(obj, &view_, PyBUF_C_CONTIGUOUS) == 0;
    if (!held_) PY_TRY(discard_mismatch());
    return held_;
  }
  const Py_buffer& view() const { return view_; }

 private:
  Py_buffer view_{};
  bool held_ = false;
};

// The states argument of next_states, read where it lies when it is an Array, an unstrided array
// of unsigned 1-, 2- or 4-byte integers, bytes or a bytearray, and copied otherwise.
struct StateSource {
  std::optional<Shared<Array>> array;
  std::unique_ptr<HeldBuffer> buffer;
  std::vector<std::uint32_t> copied;
  const void* data = nullptr;
  std::size_t count = 0;
  Width width = Width::u32;
  // The exclusive value bound; absent until the largest value is known.
  std::optional<std::uint64_t> bound;
};

// The item size of an unstrided unsigned integer array interface in native order, or 0; a failure
// that is the caller's own (see discard_mismatch) is raised.
PyResult<std::size_t> plain_interface_itemsize(PyObject* obj) {
  Ref iface = Ref::steal(PyObject_GetAttrString(obj, "__array_interface__"));
  if (!iface || !PyDict_Check(iface.get())) {
    PY_TRY(discard_mismatch());
    return 0;
  }
  PyObject* strides = nullptr;
  PyObject* typestr = nullptr;
  if (compat::dict_item(iface.get(), "strides", &strides) < 0) {
    PY_TRY(discard_mismatch());
    return 0;
  }
  Ref strides_ref = Ref::steal(strides);
  if (strides && strides != Py_None) return 0;
  if (compat::dict_item(iface.get(), "typestr", &typestr) < 0) {
    PY_TRY(discard_mismatch());
    return 0;
  }
  Ref typestr_ref = Ref::steal(typestr);
  if (!typestr || !PyUnicode_Check(typestr)) return 0;
  Py_ssize_t len = 0;
  const char* s = PyUnicode_AsUTF8AndSize(typestr, &len);
  if (!s) {
    PY_TRY(discard_mismatch());
    return 0;
  }
  std::string_view t(s, static_cast<std::size_t>(len));
  if (t == "|u1" || t == "<u1") return 1;
  if (t == "<u2") return 2;
  if (t == "<u4") return 4;
  return 0;
}

Width width_of_itemsize(std::size_t itemsize) {
  return itemsize == 1 ? Width::u8 : itemsize == 2 ? Width::u16 : Width::u32;
}

PyResult<StateSource> read_states(PyObject* obj) {
  StateSource src;
  if (auto held = PY_TRY(borrow_array_argument(obj))) {
    const Array& a = **held;
    switch (a.element_type()) {
      case ElementType::u8:
        src.bound = 256;
        break;
      case ElementType::u16:
        src.bound = 65536;
        break;
      case ElementType::u32:
        src.bound = std::numeric_limits<std::uint64_t>::max();
        break;
      default:
        return raise(PyExc_TypeError, cat("expected an array of whole numbers, not one of ", a.typestr()));
    }
    src.data = a.data();
    src.count = a.size();
    src.width = width_of_itemsize(a.itemsize());
    src.array.emplace(std::move(*held));
    return src;
  }
  std::size_t itemsize = 0;
  if (PyBytes_CheckExact(obj) || PyByteArray_CheckExact(obj))
    itemsize = 1;
  else
    itemsize = PY_TRY(plain_interface_itemsize(obj));
  if (itemsize) {
    auto buffer = std::make_unique<HeldBuffer>();
    // Read as the whole-number reader reads it: the buffer's bytes, `itemsize` bytes a value.
    if (PY_TRY(buffer->get(obj)) && buffer->view().len >= 0 &&
        reinterpret_cast<std::uintptr_t>(buffer->view().buf) % itemsize == 0) {
      src.data = buffer->view().buf;
      src.count = static_cast<std::size_t>(buffer->view().len) / itemsize;
      src.width = width_of_itemsize(itemsize);
      if (itemsize == 1) src.bound = 256;  // any byte keeps one byte
      src.buffer = std::move(buffer);
      return src;
    }
  }
  src.copied = PY_TRY(extract_whole_numbers_u32(obj));
  src.data = src.copied.data();
  src.count = src.copied.size();
  src.width = Width::u32;
  return src;
}

template <class T>
std::span<const T> values_of(const StateSource& src) {
  return {static_cast<const T*>(src.data), src.count};
}

// The largest value plus one (1 for no values), in 64 bits, found in parallel.
template <class T>
std::uint64_t value_bound(std::span<const T> values) {
  std::atomic<std::uint64_t> largest{0};
  pool::for_ranges(values.size(), std::size_t{1} << 16, [&](std::size_t lo, std::size_t hi) {
    poll_interrupt();
    T m = 0;
    for (std::size_t i = lo; i < hi; ++i) m = std::max(m, values[i]);
    std::uint64_t seen = largest.load(std::memory_order_relaxed);
    while (m > seen && !largest.compare_exchange_weak(seen, m, std::memory_order_relaxed)) {
    }
  });
  return values.empty() ? 1 : largest.load() + 1;
}

template <class In, class Out>
Result<Array> gather(const Layout& l, std::span<const In> in, const MoveChoice& moves, std::uint64_t bound) {
  Filled<Out> filled(in.size());
  GY_CHECK(next_states<In, Out>(l, in, moves, filled.values));
  std::size_t n = l.facelet_count();
  return std::move(filled).finish(state_shape(in.size(), n, n), whole_type_for_bound(bound));
}

template <class In>
Result<Array> gather_from(const Layout& l, const StateSource& src, const MoveChoice& moves) {
  std::span<const In> in = values_of<In>(src);
  GY_CHECK(check_next_states(l, in.size(), moves));
  std::uint64_t bound = src.bound ? *src.bound : value_bound(in);
  Width out = gy::width_for_bound(bound);
  if constexpr (sizeof(In) >= 2)
    if (out == Width::u8) return gather<In, std::uint8_t>(l, in, moves, bound);
  if constexpr (sizeof(In) == 4)
    if (out == Width::u16) return gather<In, std::uint16_t>(l, in, moves, bound);
  return gather<In, In>(l, in, moves, bound);
}

PyResult<Ref> next_states_body(Call& c, const Layout& l, Args& a) {
  StateSource src = PY_TRY(a.noted(read_states(a[0]), 0));
  std::optional<std::uint32_t> every;
  std::vector<std::uint32_t> each;
  if (auto m = FromPy<std::uint32_t>::convert(a[1])) {
    every = *m;
  } else {
    PY_TRY(a.noted(discard_mismatch(), 1));
    auto list = extract_whole_numbers_u32(a[1]);
    if (!list) {
      PY_TRY(a.noted(discard_mismatch(), 1));
      raise(PyExc_TypeError, "expected a move, or one per state");
      add_argument_note(a.name(1));
      return raised();
    }
    each = std::move(*list);
  }
  MoveChoice moves{every, each};
  Array out = PY_TRY(c.detached([&]() -> Result<Array> {
    switch (src.width) {
      case Width::u8:
        return gather_from<std::uint8_t>(l, src, moves);
      case Width::u16:
        return gather_from<std::uint16_t>(l, src, moves);
      case Width::u32:
        break;
    }
    return gather_from<std::uint32_t>(l, src, moves);
  }));
  return to_py(std::move(out));
}

// ---------------------------------------------------------------------------------------------
// Solved flags and one-hot

PyResult<Ref> solved_body(Call& c, const Layout& l, Args& a) {
  Block block = PY_TRY(a.noted(read_block(a[0], l.state_width()), 0));
  return std::visit(
      [&](const auto& values) -> PyResult<Ref> {
        using T = typename std::decay_t<decltype(values)>::value_type;
        Array out = PY_TRY(c.detached([&]() -> Result<Array> {
          GY_CHECK(check_state_block(l, values.size()));
          std::size_t k = values.size() / l.facelet_count();
          ArrayBuffer buffer(k);
          GY_CHECK(solved_flags<T>(l, values, buffer.span()));
          return Array::flags(std::move(buffer), {k});
        }));
        return to_py(std::move(out));
      },
      block);
}

PyResult<Ref> one_hot_body(Call& c, const Layout& l, Args& a) {
  Block block = PY_TRY(a.noted(read_block(a[0], l.state_width()), 0));
  return std::visit(
      [&](const auto& values) -> PyResult<Ref> {
        using T = typename std::decay_t<decltype(values)>::value_type;
        Array out = PY_TRY(c.detached([&]() -> Result<Array> {
          GY_CHECK(check_state_block(l, values.size()));
          std::size_t n = l.facelet_count(), row = n * l.face_count;
          std::size_t bytes = GY_TRY(checked_block({values.size(), l.face_count}, 1));
          ArrayBuffer buffer(bytes);
          GY_CHECK(one_hot<T>(l, values, buffer.span()));
          return Array::bytes(std::move(buffer), state_shape(values.size(), n, row));
        }));
        return to_py(std::move(out));
      },
      block);
}

// ---------------------------------------------------------------------------------------------
// Random walks

constexpr const char* kDepthForms = "expected a number of moves, a (low, high) range, or one per state";

// The walk lengths of a call: one number, a (low, high) tuple, or one per walk.
struct Depths {
  WalkLengths::Form form = WalkLengths::Form::fixed;
  std::uint32_t low = 0, high = 0;
  std::vector<std::uint32_t> list;

  WalkLengths lengths(std::uint64_t seed) const {
    switch (form) {
      case WalkLengths::Form::fixed:
        return WalkLengths::fixed_length(low);
      case WalkLengths::Form::range:
        return WalkLengths::range(low, high, seed);
      case WalkLengths::Form::list:
        break;
    }
    return WalkLengths::each(list);
  }
};

PyResult<Depths> scramble_depths_argument(PyObject* obj, std::uint64_t count) {
  Depths out;
  if (auto d = extract_u32(obj)) {
    out.low = out.high = *d;
    return out;
  }
  PY_TRY(discard_mismatch());
  if (PyTuple_Check(obj) && PyTuple_GET_SIZE(obj) == 2) {
    auto low = extract_u32(PyTuple_GET_ITEM(obj, 0));
    if (!low) PY_TRY(discard_mismatch());
    auto high = low ? extract_u32(PyTuple_GET_ITEM(obj, 1)) : PyResult<std::uint32_t>(raised());
    if (low && !high) PY_TRY(discard_mismatch());
    if (low && high) {
      if (*low > *high)
        return raise(PyExc_ValueError,
                     cat("a scramble range runs from low to high, and ", *low, " to ", *high, " does not"));
      out.form = WalkLengths::Form::range;
      out.low = *low;
      out.high = *high;
      return out;
    }
  }
  auto list = extract_whole_numbers_u32(obj);
  if (!list) {
    PY_TRY(discard_mismatch());
    return raise(PyExc_TypeError, kDepthForms);
  }
  if (list->size() != count)
    return raise(PyExc_ValueError, cat("got ", list->size(), " depths for ", count, " states"));
  out.form = WalkLengths::Form::list;
  out.list = std::move(*list);
  return out;
}

template <class T>
Result<Array> scrambled_block(const Layout& l, const WalkLengths& lengths, std::uint64_t count, std::uint64_t seed) {
  GY_CHECK(check_walks(l, lengths, count));
  std::size_t n = l.facelet_count();
  std::size_t values = GY_TRY(checked_block({count, n}, sizeof(T)));
  GY_CHECK(check_walk_limits(lengths, count));
  Filled<T> filled(values);
  scrambled<T>(l, lengths, count, seed, filled.values);
  return std::move(filled).finish({static_cast<std::size_t>(count), n});
}

template <class T, class M>
Result<std::pair<Array, Array>> trajectory_blocks(const Layout& l, const WalkLengths& lengths, std::uint64_t count,
                                                  std::uint64_t seed) {
  std::size_t n = l.facelet_count();
  // The longest walk worth looking for: past it the arrays could not be held anyway.
  constexpr auto limit = static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max());
  std::uint64_t enough = std::numeric_limits<std::uint64_t>::max();
  if (count > 0) {
    std::uint64_t row_bytes = 0;
    if (__builtin_mul_overflow(count, std::uint64_t{n} * sizeof(T), &row_bytes))
      enough = 0;
    else if (row_bytes > 0)
      enough = limit / row_bytes;
    std::uint64_t column_bytes = 0;
    if (__builtin_mul_overflow(count, std::uint64_t{sizeof(M)}, &column_bytes))
      enough = 0;
    else
      enough = std::min(enough, limit / column_bytes + 1);
  }
  std::uint64_t longest = longest_walk(lengths, count, enough);
  std::uint64_t rows = longest + 1, columns = std::max<std::uint64_t>(longest, 1);
  std::size_t state_values = GY_TRY(checked_block({count, rows, n}, sizeof(T)));
  std::size_t move_values = GY_TRY(checked_block({count, columns}, sizeof(M)));
  GY_CHECK(check_walk_limits(lengths, count));
  Filled<T> states(state_values);
  Filled<M> moves(move_values);
  trajectories<T, M>(l, lengths, count, seed, longest, states.values, moves.values);
  auto c = static_cast<std::size_t>(count);
  return std::pair<Array, Array>(std::move(states).finish({c, static_cast<std::size_t>(rows), n}),
                                 std::move(moves).finish({c, static_cast<std::size_t>(columns)}));
}

template <class T>
Result<std::pair<Array, Array>> trajectory_blocks_of(const Layout& l, const WalkLengths& lengths, std::uint64_t count,
                                                     std::uint64_t seed) {
  switch (gy::width_for_bound(std::uint64_t{l.move_count()} + 1)) {
    case Width::u8:
      return trajectory_blocks<T, std::uint8_t>(l, lengths, count, seed);
    case Width::u16:
      return trajectory_blocks<T, std::uint16_t>(l, lengths, count, seed);
    case Width::u32:
      break;
  }
  return trajectory_blocks<T, std::uint32_t>(l, lengths, count, seed);
}

enum Walk : std::size_t { w_count = 0, w_depth = 1, w_seed = 2 };
enum Path : std::size_t { t_steps = 0, t_count = 1, t_seed = 2 };

PyResult<Ref> scrambled_body(Call& c, const Layout& l, Args& a) {
  std::uint64_t count = PY_TRY(a.get<std::uint64_t>(w_count));
  std::uint64_t seed = PY_TRY(a.get<std::uint64_t>(w_seed, std::uint64_t{0}));
  Depths depths = PY_TRY(scramble_depths_argument(a[w_depth], count));
  WalkLengths lengths = depths.lengths(seed);
  Array out = PY_TRY(c.detached([&]() -> Result<Array> {
    return at_width(l.state_width(),
                    [&](auto t) { return scrambled_block<decltype(t)>(l, lengths, count, seed); });
  }));
  return to_py(std::move(out));
}

PyResult<Ref> trajectories_body(Call& c, const Layout& l, Args& a) {
  std::optional<std::uint64_t> given = PY_TRY(a.opt<std::uint64_t>(t_count));
  std::uint64_t count = given ? *given : 1;
  std::uint64_t seed = PY_TRY(a.get<std::uint64_t>(t_seed, std::uint64_t{0}));
  Depths depths = PY_TRY(scramble_depths_argument(a[t_steps], count));
  WalkLengths lengths = depths.lengths(seed);
  auto blocks = PY_TRY(c.detached([&]() -> Result<std::pair<Array, Array>> {
    GY_CHECK(check_walks(l, lengths, count));
    return at_width(l.state_width(),
                    [&](auto t) { return trajectory_blocks_of<decltype(t)>(l, lengths, count, seed); });
  }));
  return array_pair_tuple(std::move(blocks.first), std::move(blocks.second));
}

// ---------------------------------------------------------------------------------------------
// Moves

PyResult<Layout> with_moves_body(Call& c, const Layout& l, Args& a) {
  auto sequences = PY_TRY(a.get<std::vector<std::vector<std::uint32_t>>>(0));
  return PY_TRY(c.detached([&] { return with_moves(l, sequences); }));
}

PyResult<std::optional<std::uint32_t>> move_index_body(Call&, const Layout& l, Args& a) {
  std::string_view name = PY_TRY(a.get<std::string_view>(0));
  return move_index(l, name);
}

PyResult<std::vector<std::uint32_t>> moves_to_actions_body(Call&, const Layout& l, Args& a) {
  std::vector<std::uint32_t> moves = PY_TRY(a.get_with(0, extract_u32_list));
  return PY_TRY(moves_to_actions(l, moves));
}

PyResult<Array> inverse_moves_body(Call&, const Layout& l, Args& a) {
  std::vector<std::uint32_t> moves = PY_TRY(a.get_with(0, extract_whole_numbers_u32));
  std::vector<std::uint32_t> inverses = PY_TRY(inverse_moves(l, moves));
  return array_from_u32(inverses, std::max<std::size_t>(l.move_count(), 1), {inverses.size()});
}

// ---------------------------------------------------------------------------------------------
// Text, properties and repr

PyResult<std::string> text_body(Call&, const Layout& l, Args& a) {
  Block block = PY_TRY(a.noted(read_block(a[0], l.state_width()), 0));
  return std::visit(
      [&](const auto& values) {
        using T = typename std::decay_t<decltype(values)>::value_type;
        return state_text<T>(l, values);
      },
      block);
}

std::size_t id_bound(const Layout& l) { return std::max<std::size_t>(l.facelet_count(), 1); }

std::optional<std::uint64_t> get_size(Call&, const Layout& l) {
  if (!l.size) return std::nullopt;
  return l.size->n;
}
bool get_is_cube(Call&, const Layout& l) { return l.size.has_value(); }
std::size_t get_facelet_count(Call&, const Layout& l) { return l.facelet_count(); }
std::size_t get_face_count(Call&, const Layout& l) { return l.face_count; }
Array get_face_sizes(Call&, const Layout& l) {
  return array_from_u32(l.face_sizes, l.facelet_count() + 1, {l.face_sizes.size()});
}
std::size_t get_move_count(Call&, const Layout& l) { return l.move_count(); }
const std::vector<std::string>& get_faces(Call&, const Layout& l) { return l.faces; }
const std::vector<std::string>& get_move_names(Call&, const Layout& l) { return l.move_names; }
Array get_moves(Call&, const Layout& l) {
  return array_from_u32(l.moves, id_bound(l), {l.move_count(), l.facelet_count()});
}
const std::vector<std::optional<std::uint32_t>>& get_actions(Call&, const Layout& l) { return l.actions; }
const std::vector<std::optional<std::uint32_t>>& get_inverses(Call&, const Layout& l) { return l.inverses; }
Array get_facelet_of_slot(Call&, const Layout& l) {
  return array_from_u32(l.facelet_of_slot, id_bound(l), {l.facelet_of_slot.size()});
}
Array get_slot_of_facelet(Call&, const Layout& l) {
  return array_from_u32(l.slot_of_facelet, id_bound(l), {l.slot_of_facelet.size()});
}
Array get_goal_colors(Call&, const Layout& l) {
  return array_from_u32(l.goal_colors, std::max(l.color_count(), l.face_count), {l.facelet_count()});
}
Array get_goal_ids(Call&, const Layout& l) {
  std::vector<std::uint32_t> ids(l.facelet_count());
  std::iota(ids.begin(), ids.end(), 0u);
  return array_from_u32(ids, id_bound(l), {ids.size()});
}

std::string repr(Call&, const Layout& l) {
  if (l.size)
    return cat("<Layout cube ", l.size->n, "x", l.size->n, "x", l.size->n, " facelets=", l.facelet_count(),
               " moves=", l.move_count(), ">");
  return cat("<Layout faces=", l.face_count, " facelets=", l.facelet_count(), " moves=", l.move_count(), ">");
}

// ---------------------------------------------------------------------------------------------
// Construction

PyResult<Layout> construct(Call& c, Args& a) {
  std::string query =
      a.given(0) && a[0] != Py_None ? PY_TRY(a.get_with(0, recipe_argument)) : std::string(kDefaultLayoutQuery);
  return PY_TRY(c.detached([&] { return build_layout(query); }));
}

PyResult<Ref> to_facelets_body(Call& c, const Layout& l, Args& a) {
  return conversion(c, l, a, Conversion::colors_to_facelets);
}
PyResult<Ref> from_facelets_body(Call& c, const Layout& l, Args& a) {
  return conversion(c, l, a, Conversion::facelets_to_colors);
}
PyResult<Ref> to_facelet_ids_body(Call& c, const Layout& l, Args& a) {
  return conversion(c, l, a, Conversion::ids_to_facelet_ids);
}

// ---------------------------------------------------------------------------------------------
// Rows

constexpr ClassDef layout_class{
    "Layout",
    "Layout(recipe=None)\n--\n\n"
    "A puzzle's stickers numbered face by face, and the moves over them.\n\n"
    "A cube (the default is the 3x3x3) gets the usual numbering: faces U, D, L, R, B, F, each face's\n"
    "facelets row by row, and the twelve quarter turns \"U-1\", \"U1\", \"D-1\", ... as its first moves.\n"
    "Any other puzzle keeps its own numbering: its colors are the faces, its slots the facelets and its\n"
    "actions the moves. States are plain arrays of whole numbers, and every bulk method works on whole\n"
    "blocks of them in parallel, without any geometry."};
constexpr Constructor layout_new{&construct, Release::yes};

constexpr auto sh = Borrow::shared;
constexpr auto rel = Release::yes;

constexpr Method with_moves_row{
    "with_moves($self, sequences)\n--\n\n"
    "A new layout whose moves are the given sequences of this one's moves, each made first move first\n"
    "and named by its moves' names joined by blanks (\".\" for an empty sequence). Its moves are no\n"
    "single actions of the puzzle.",
    sh, &with_moves_body, rel};
constexpr Method move_index_row{
    "move_index($self, name)\n--\n\n"
    "The move of that name, or None. A cube also answers a face letter alone or followed by \"1\",\n"
    "\"+1\" (clockwise), \"'\" or \"-1\" (counterclockwise).",
    sh, &move_index_body};
constexpr Method moves_to_actions_row{
    "moves_to_actions($self, moves)\n--\n\n"
    "The puzzle's own action for each move: what PuzzleBatch.step takes to make these moves.",
    sh, &moves_to_actions_body};
constexpr Method inverse_moves_row{"inverse_moves($self, moves)\n--\n\nThe move that undoes each move.", sh,
                                   &inverse_moves_body};
constexpr Method to_facelets_row{
    "to_facelets($self, states)\n--\n\n"
    "Rewrite states from the puzzle's slot order into face order, with each color replaced by the face it\n"
    "belongs to.",
    sh, &to_facelets_body, rel};
constexpr Method to_facelet_ids_row{
    "to_facelet_ids($self, ids)\n--\n\nRewrite sticker identities from slot order into face order.", sh,
    &to_facelet_ids_body, rel};
constexpr Method from_facelets_row{
    "from_facelets($self, facelets)\n--\n\n"
    "Rewrite states in face order back into the puzzle's slot order and its own colors: the way in for a\n"
    "state that came from somewhere else.",
    sh, &from_facelets_body, rel};
constexpr Method next_states_row{
    "next_states($self, states, moves)\n--\n\n"
    "Turn a batch of states, one move each, entirely in the array.\n\n"
    "`states` is one state or a block of them, holding colors or identities as you please: a move\n"
    "permutes the facelets and does not care what is sitting in them. `moves` is one move, or one per\n"
    "state. The result holds what it was given, at the width it was given it in.\n\n"
    "On the default cube, next_states(goal_colors, move_index(\"R\")) starts with\n"
    "[0, 0, 0, 0, 0, 0, 5, 5, 5]: the clockwise R turn carries F into the U facelets beside R.",
    sh, &next_states_body, rel};
constexpr Method trajectories_row{
    "trajectories($self, steps, count=None, *, seed=0)\n--\n\n"
    "Walk states away from solved and keep the whole path: `(states, moves)`, where walk i's states\n"
    "are states[i] (the solved state first) and its moves are moves[i]. A walk shorter than the longest\n"
    "repeats its last state, and its missing moves read move_count. `steps` is a number of moves, a\n"
    "(low, high) range drawn per walk, or one length per walk; `count` None makes one walk.",
    sh, &trajectories_body, rel};
constexpr Method scrambled_row{
    "scrambled($self, count, depth, *, seed=0)\n--\n\n"
    "Walk `count` states `depth` moves away from solved and keep only where each ended up. `depth` is a\n"
    "number of moves, a (low, high) range drawn per walk, or one length per walk. No walk takes back the\n"
    "move it just made when the layout knows that move's inverse and has at least three moves.",
    sh, &scrambled_body, rel};
constexpr Method one_hot_row{"one_hot($self, facelets)\n--\n\nStates as indicator bytes, one per (facelet, face) pair.",
                             sh, &one_hot_body, rel};
constexpr Method solved_row{
    "solved($self, facelets)\n--\n\nWhether each state is solved: every facelet holding its own face.", sh,
    &solved_body, rel};
constexpr Method text_row{
    "text($self, facelets)\n--\n\n"
    "Write one state out, a line per face: the face's name and one character per facelet.",
    sh, &text_body};

constexpr Property size_row{"size", "A cube's edge length in facelets (3 for a 3x3x3), or None.", sh, &get_size};
constexpr Property is_cube_row{"is_cube", "Whether the puzzle is read as a cube.", sh, &get_is_cube};
constexpr Property facelet_count_row{"facelet_count", "How many facelets there are: the length of one state.", sh,
                                     &get_facelet_count};
constexpr Property face_count_row{"face_count", "How many faces there are: how many values a facelet holds.", sh,
                                  &get_face_count};
constexpr Property face_sizes_row{"face_sizes", "How many facelets each face carries.", sh, &get_face_sizes};
constexpr Property move_count_row{"move_count", "How many moves there are.", sh, &get_move_count};
constexpr Property faces_row{"faces", "The face names, in numbering order.", sh, &get_faces};
constexpr Property move_names_row{"move_names", "Every move's name, in move order.", sh, &get_move_names};
constexpr Property moves_row{
    "moves",
    "Every move as a permutation of the facelets, one row per move: making move m turns old into\n"
    "new[i] = old[moves[m][i]].",
    sh, &get_moves};
constexpr Property actions_row{"actions", "The puzzle's own action for each move, or None where there is none.", sh,
                               &get_actions};
constexpr Property inverses_row{"inverses", "The move that undoes each move, or None where there is none.", sh,
                                &get_inverses};
constexpr Property facelet_of_slot_row{"facelet_of_slot", "Where each of the puzzle's sticker slots sits.", sh,
                                       &get_facelet_of_slot};
constexpr Property slot_of_facelet_row{"slot_of_facelet", "Which slot each facelet is.", sh, &get_slot_of_facelet};
constexpr Property goal_colors_row{"goal_colors", "The face each facelet belongs to when solved.", sh,
                                   &get_goal_colors};
constexpr Property goal_ids_row{"goal_ids", "The sticker a solved puzzle has in each facelet: the facelet itself.", sh,
                                &get_goal_ids};
constexpr Slot repr_row{slot<Py_tp_repr>, sh, &repr};

constinit OnceObject layout_cell;

}  // namespace

template <>
PyTypeObject* type_object<gy::Layout>() {
  return make_type<gy::Layout, layout_class, layout_new, with_moves_row, move_index_row, moves_to_actions_row,
                   inverse_moves_row, to_facelets_row, to_facelet_ids_row, from_facelets_row, next_states_row,
                   trajectories_row, scrambled_row, one_hot_row, solved_row, text_row, size_row, is_cube_row,
                   facelet_count_row, face_count_row, face_sizes_row, move_count_row, faces_row, move_names_row,
                   moves_row, actions_row, inverses_row, facelet_of_slot_row, slot_of_facelet_row, goal_colors_row,
                   goal_ids_row, repr_row>(layout_cell);
}

PyTypeObject* layout_type_object() { return type_object<gy::Layout>(); }

PyResult<Shared<gy::Layout>> borrow_layout_argument(PyObject* obj) {
  auto held = borrow_shared<gy::Layout>(obj);
  if (!held) add_argument_note("layout");
  return held;
}

}  // namespace gy::py

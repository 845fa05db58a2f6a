#include "python/array.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <string_view>

namespace gy::py {

// ---------------------------------------------------------------------------------------------
// The value

const char* typestr_of(ElementType t) {
  switch (t) {
    case ElementType::flag: return "|b1";
    case ElementType::u8: return "|u1";
    case ElementType::u16: return "<u2";
    case ElementType::u32: return "<u4";
    case ElementType::f32: return "<f4";
  }
  return "|u1";
}

std::size_t itemsize_of(ElementType t) {
  switch (t) {
    case ElementType::flag:
    case ElementType::u8: return 1;
    case ElementType::u16: return 2;
    case ElementType::u32:
    case ElementType::f32: return 4;
  }
  return 1;
}

ElementType whole_type_for_bound(std::size_t bound) {
  if (bound < 257) return ElementType::u8;
  if (bound < 65537) return ElementType::u16;
  return ElementType::u32;
}

Array array_of_type(ArrayBuffer data, Array::Shape shape, ElementType type) {
  return Array(std::move(data), std::move(shape), type);
}

Array array_of_native(ArrayBuffer data, Array::Shape shape, ElementType type) {
  if constexpr (std::endian::native == std::endian::big) {
    const std::size_t size = itemsize_of(type);
    for (std::uint8_t* p = data.data(); size > 1 && p + size <= data.data() + data.size(); p += size)
      std::reverse(p, p + size);
  }
  return array_of_type(std::move(data), std::move(shape), type);
}

namespace {

template <class T>
T load_le(const std::uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) v = std::byteswap(v);
  return v;
}

template <class T>
void store_le(std::uint8_t* p, T v) {
  if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) v = std::byteswap(v);
  std::memcpy(p, &v, sizeof v);
}

// Each value zero-extended or cut to Out, little-endian, in one pass.
template <class Out, class In>
void pack(std::span<const In> values, std::uint8_t* out) {
  if constexpr (std::is_same_v<Out, In> && std::endian::native == std::endian::little) {
    if (!values.empty()) std::memcpy(out, values.data(), values.size_bytes());
  } else {
    for (std::size_t i = 0; i < values.size(); ++i) store_le(out + i * sizeof(Out), static_cast<Out>(values[i]));
  }
}

template <class In>
Array whole_array(std::span<const In> values, std::size_t bound, Array::Shape shape) {
  ElementType type = whole_type_for_bound(bound);
  ArrayBuffer buffer(values.size() * itemsize_of(type));
  switch (type) {
    case ElementType::u16: pack<std::uint16_t>(values, buffer.data()); break;
    case ElementType::u32: pack<std::uint32_t>(values, buffer.data()); break;
    default: pack<std::uint8_t>(values, buffer.data()); break;
  }
  return array_of_type(std::move(buffer), std::move(shape), type);
}

}  // namespace

Array array_from_u8(std::span<const std::uint8_t> values, std::size_t bound, Array::Shape shape) {
  return whole_array(values, bound, std::move(shape));
}
Array array_from_u16(std::span<const std::uint16_t> values, std::size_t bound, Array::Shape shape) {
  return whole_array(values, bound, std::move(shape));
}
Array array_from_u32(std::span<const std::uint32_t> values, std::size_t bound, Array::Shape shape) {
  return whole_array(values, bound, std::move(shape));
}

Array array_from_f32(std::span<const float> values, Array::Shape shape) {
  ArrayBuffer buffer(values.size() * 4);
  for (std::size_t i = 0; i < values.size(); ++i)
    store_le(buffer.data() + i * 4, std::bit_cast<std::uint32_t>(values[i]));
  return array_of_type(std::move(buffer), std::move(shape), ElementType::f32);
}

// ---------------------------------------------------------------------------------------------
// Reading elements back

namespace {

template <class F>
decltype(auto) with_element_reader(ElementType t, F&& f) {
  switch (t) {
    case ElementType::flag:
      return f([](const std::uint8_t* p) { return Ref::borrow(*p ? Py_True : Py_False); }, std::size_t{1});
    case ElementType::u8:
      return f([](const std::uint8_t* p) { return Ref::steal(PyLong_FromLong(*p)); }, std::size_t{1});
    case ElementType::u16:
      return f([](const std::uint8_t* p) { return Ref::steal(PyLong_FromLong(load_le<std::uint16_t>(p))); },
               std::size_t{2});
    case ElementType::u32:
      return f(
          [](const std::uint8_t* p) { return Ref::steal(PyLong_FromUnsignedLong(load_le<std::uint32_t>(p))); },
          std::size_t{4});
    case ElementType::f32:
      return f(
          [](const std::uint8_t* p) {
            return Ref::steal(PyFloat_FromDouble(std::bit_cast<float>(load_le<std::uint32_t>(p))));
          },
          std::size_t{4});
  }
  panic("array with an unknown element type");
}

// A Python object that could not be made inside an Array member is a broken host.
Ref checked(Ref r) {
  if (!r) {
    Ref exc = Ref::steal(compat::fetch_exception());
    if (exc && PyErr_GivenExceptionMatches(exc.get(), PyExc_MemoryError)) {
      compat::restore_exception(exc.release());
      return {};
    }
    panic("could not create a Python object for an Array");
  }
  return r;
}

Ref element(const Array& a, std::size_t i) {
  return with_element_reader(a.element_type(),
                             [&](auto read, std::size_t width) { return checked(read(a.data() + i * width)); });
}

}  // namespace

Ref array_to_list(const Array& a, std::size_t start, std::size_t count) {
  Ref list = checked(Ref::steal(PyList_New(static_cast<Py_ssize_t>(count))));
  if (!list) return {};
  bool ok = with_element_reader(a.element_type(), [&](auto read, std::size_t width) {
    const std::uint8_t* p = a.data() + start * width;
    for (std::size_t i = 0; i < count; ++i, p += width) {
      Ref item = checked(read(p));
      if (!item) return false;
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return true;
  });
  return ok ? list : Ref();
}

// ---------------------------------------------------------------------------------------------
// The class

namespace {

Ref shape_tuple(const Array& a) {
  Ref t = checked(Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(a.shape().size()))));
  if (!t) return {};
  for (std::size_t i = 0; i < a.shape().size(); ++i) {
    Ref n = checked(to_py(a.shape()[i]));
    if (!n) return {};
    PyTuple_SET_ITEM(t.get(), static_cast<Py_ssize_t>(i), n.release());
  }
  return t;
}

Ref get_shape(Call&, const Array& a) { return shape_tuple(a); }
Ref get_typestr(Call&, const Array& a) { return checked(to_py(a.typestr())); }
std::size_t get_itemsize(Call&, const Array& a) { return a.itemsize(); }
std::size_t get_size(Call&, const Array& a) { return a.size(); }

Ref get_array_interface(Call&, const Array& a) {
  Ref d = checked(Ref::steal(PyDict_New()));
  if (!d) return {};
  Ref shape = shape_tuple(a);
  Ref typestr = checked(to_py(a.typestr()));
  Ref version = checked(Ref::steal(PyLong_FromLong(3)));
  Ref address = checked(Ref::steal(PyLong_FromVoidPtr(const_cast<std::uint8_t*>(a.data()))));
  Ref zero = checked(Ref::steal(PyLong_FromLong(0)));
  if (!shape || !typestr || !version || !address || !zero) return {};
  Ref data = checked(detail::tuple_of({address.get(), zero.get()}));
  if (!data) return {};
  if (PyDict_SetItemString(d.get(), "shape", shape.get()) < 0 ||
      PyDict_SetItemString(d.get(), "typestr", typestr.get()) < 0 ||
      PyDict_SetItemString(d.get(), "version", version.get()) < 0 ||
      PyDict_SetItemString(d.get(), "data", data.get()) < 0)
    return checked(Ref());
  return d;
}

Ref tolist(Call&, const Array& a) { return array_to_list(a, 0, a.size()); }

Ref to_bytes(Call&, const Array& a) {
  return checked(Ref::steal(
      PyBytes_FromStringAndSize(reinterpret_cast<const char*>(a.data()), static_cast<Py_ssize_t>(a.byte_size()))));
}

std::size_t length(Call&, const Array& a) { return a.length(); }

PyResult<Ref> subscript(Call&, const Array& a, PyObject* key) {
  auto index = FromPy<Py_ssize_t>::convert(key);
  if (!index) {
    add_argument_note("index");
    return raised();
  }
  auto n = static_cast<Py_ssize_t>(std::min<std::size_t>(a.length(), PY_SSIZE_T_MAX));
  Py_ssize_t i = *index < 0 ? *index + n : *index;
  if (i < 0 || i >= n) return raise(PyExc_IndexError, "index out of range");
  auto u = static_cast<std::size_t>(i);
  if (a.shape().size() == 1) return element(a, u);
  std::size_t row = 1;
  for (std::size_t k = 1; k < a.shape().size(); ++k) row *= a.shape()[k];
  return array_to_list(a, u * row, row);
}

Ref repr(Call&, const Array& a) {
  std::string text = "<Array shape=(";
  for (std::size_t i = 0; i < a.shape().size(); ++i) text += cat(i ? ", " : "", a.shape()[i]);
  if (a.shape().size() == 1) text += ',';
  text += cat(") dtype=", a.typestr(), ">");
  compat::TextWriter w;
  if (!w.write(text)) return checked(Ref());
  return checked(Ref::steal(w.finish()));
}

constexpr ClassDef array_class{
    "Array",
    "A contiguous memory buffer formatted for zero-copy NumPy inspection.\n\n"
    "Every batch query returns an Array: states, masks, indicator vectors and rendered frames. Its\n"
    "memory is one contiguous allocation that numpy.asarray wraps in place, without a copy;\n"
    "tolist() and indexing read the same numbers without NumPy. Each array owns its own buffer,\n"
    "which nothing else writes."};

constexpr Property shape_row{"shape", "The shape, outermost axis first.", Borrow::shared, &get_shape};
constexpr Property typestr_row{
    "typestr",
    "The NumPy type string of the elements: \"|b1\" for flags, \"<f4\" for single-precision floats,\n"
    "and for whole numbers \"|u1\", \"<u2\" or \"<u4\", whichever is narrow enough to hold every value\n"
    "the puzzle can produce.",
    Borrow::shared, &get_typestr};
constexpr Property itemsize_row{"itemsize", "Bytes per element.", Borrow::shared, &get_itemsize};
constexpr Property size_row{"size", "How many elements there are in total.", Borrow::shared, &get_size};
constexpr Property interface_row{"__array_interface__",
                                 "NumPy interface: a zero-copy view of this array's own buffer.\n\n"
                                 "NumPy keeps this object alive through the array's `base`, so the view stays valid.",
                                 Borrow::shared, &get_array_interface};
constexpr Method tolist_row{"tolist($self)\n--\n\nEvery element, in order, as one flat list.", Borrow::shared,
                            &tolist};
constexpr Method to_bytes_row{"to_bytes($self)\n--\n\nA copy of the raw bytes.", Borrow::shared, &to_bytes};
constexpr Slot len_row{slot<Py_mp_length>, Borrow::shared, &length};
constexpr Slot getitem_row{slot<Py_mp_subscript>, Borrow::shared, &subscript};
constexpr Slot repr_row{slot<Py_tp_repr>, Borrow::shared, &repr};

constinit OnceObject array_type_cell;

}  // namespace

template <>
PyTypeObject* type_object<Array>() {
  return make_type<Array, array_class, shape_row, typestr_row, itemsize_row, size_row, interface_row, tolist_row,
                   to_bytes_row, len_row, getitem_row, repr_row>(array_type_cell);
}

Ref new_array_object(Array value) { return new_object(std::move(value)); }

Ref array_pair_tuple(Array first, Array second) {
  return detail::tuple_from_refs(new_array_object(std::move(first)), new_array_object(std::move(second)));
}

PyResult<std::optional<Shared<Array>>> borrow_array_argument(PyObject* obj) {
  PyTypeObject* type = type_object<Array>();
  if (!type) return raised();
  if (!PyObject_TypeCheck(obj, type)) return std::optional<Shared<Array>>();
  auto held = PY_TRY(borrow_shared<Array>(obj));
  return std::optional<Shared<Array>>(std::move(held));
}

// ---------------------------------------------------------------------------------------------
// Whole-number arguments

namespace {

constexpr const char* not_whole_numbers = "expected an array, a buffer, or a sequence of whole numbers";

// `count` zeros, in large pages when there are many of them (a fresh block of small pages costs a
// fault per page).
template <class T>
std::vector<T> zeros(std::size_t count) {
  std::vector<T> out;
  out.reserve(count);
  prefer_large_pages(out.data(), count * sizeof(T));
  out.resize(count);
  return out;
}

// Values of an In buffer (little-endian) as Out, each checked against Out's range.
template <class Out, class In, class Read>
PyResult<std::vector<Out>> narrow(std::size_t count, Read read) {
  std::vector<Out> out = zeros<Out>(count);
  for (std::size_t i = 0; i < count; ++i) {
    In v = read(i);
    if constexpr (sizeof(In) > sizeof(Out)) {
      if (v > std::numeric_limits<Out>::max())
        return raise(PyExc_ValueError, cat(v, " does not fit the ",
                                           std::size_t{std::numeric_limits<Out>::max()} + 1,
                                           " values this puzzle's arrays hold"));
    }
    out[i] = static_cast<Out>(v);
  }
  return out;
}

template <class Out>
PyResult<std::vector<Out>> narrow_u32(std::vector<std::uint32_t>&& values) {
  if constexpr (std::is_same_v<Out, std::uint32_t>)
    return std::move(values);
  else
    return narrow<Out, std::uint32_t>(values.size(), [&](std::size_t i) { return values[i]; });
}

template <class Out>
PyResult<std::vector<Out>> from_array(const Array& a) {
  const std::uint8_t* p = a.data();
  switch (a.element_type()) {
    case ElementType::u8: return narrow<Out, std::uint8_t>(a.size(), [&](std::size_t i) { return p[i]; });
    case ElementType::u16:
      return narrow<Out, std::uint16_t>(a.size(), [&](std::size_t i) { return load_le<std::uint16_t>(p + 2 * i); });
    case ElementType::u32:
      return narrow<Out, std::uint32_t>(a.size(), [&](std::size_t i) { return load_le<std::uint32_t>(p + 4 * i); });
    default:
      return raise(PyExc_TypeError, cat("expected an array of whole numbers, not one of ", a.typestr()));
  }
}

// A parsed interface type string.
struct IntegerLayout {
  bool big_endian;
  bool is_signed;
  std::size_t size;
};

std::optional<IntegerLayout> parse_typestr(std::string_view s) {
  if (s.size() < 2) return std::nullopt;
  auto b0 = static_cast<unsigned char>(s[0]), b1 = static_cast<unsigned char>(s[1]);
  if (b0 >= 0x80 || b1 >= 0x80 || (s[1] != 'u' && s[1] != 'i')) return std::nullopt;
  std::string_view digits = s.substr(2);
  if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
  if (digits.empty()) return std::nullopt;
  std::size_t size = 0;
  for (char c : digits) {
    if (c < '0' || c > '9' || size > 1000) return std::nullopt;
    size = size * 10 + static_cast<std::size_t>(c - '0');
  }
  if (size != 1 && size != 2 && size != 4 && size != 8) return std::nullopt;
  return IntegerLayout{s[0] == '>', s[1] == 'i', size};
}

// Items of N bytes as Out. Every item is checked for sign and 32-bit range before the first one
// too wide for Out is reported, so the error is the one a decode to 32 bits and a narrowing after
// it would give.
template <class Out, std::size_t N>
PyResult<std::vector<Out>> decode_items(const std::uint8_t* p, std::size_t bytes, bool big, bool is_signed) {
  std::size_t count = bytes / N;
  if constexpr (N == sizeof(Out) && std::endian::native == std::endian::little) {
    // Unsigned little-endian items of the target width are the values themselves.
    if (!big && !is_signed) {
      std::vector<Out> out = zeros<Out>(count);
      if (count) std::memcpy(out.data(), p, count * N);
      return out;
    }
  }
  std::vector<Out> out = zeros<Out>(count);
  std::optional<std::uint64_t> too_wide;
  for (std::size_t i = 0; i < count; ++i, p += N) {
    std::uint64_t v = 0;
    for (std::size_t k = 0; k < N; ++k) v |= std::uint64_t{p[big ? N - 1 - k : k]} << (8 * k);
    if (is_signed && (v >> (8 * N - 1)) != 0)
      return raise(PyExc_ValueError,
                   "a sticker, a face and a move are all counted from zero, and this array holds a negative number");
    if (v > 0xFFFFFFFFu) return raise(PyExc_ValueError, "this array holds a number too large for a sticker slot");
    if (v > std::numeric_limits<Out>::max() && !too_wide) too_wide = v;
    out[i] = static_cast<Out>(v);
  }
  if (too_wide)
    return raise(PyExc_ValueError, cat(*too_wide, " does not fit the ", std::size_t{std::numeric_limits<Out>::max()} + 1,
                                       " values this puzzle's arrays hold"));
  return out;
}

template <class Out>
PyResult<std::vector<Out>> decode(const std::uint8_t* p, std::size_t bytes, const IntegerLayout& l) {
  switch (l.size) {
    case 1: return decode_items<Out, 1>(p, bytes, l.big_endian, l.is_signed);
    case 2: return decode_items<Out, 2>(p, bytes, l.big_endian, l.is_signed);
    case 4: return decode_items<Out, 4>(p, bytes, l.big_endian, l.is_signed);
    default: return decode_items<Out, 8>(p, bytes, l.big_endian, l.is_signed);
  }
}

std::unexpected<Raised> raise_not_whole_typestr(std::string_view typestr) {
  return raise(PyExc_TypeError, cat("expected an array of whole numbers, not one of ", typestr));
}

// A buffer of an object, held until the holder goes; the object's memory stays put meanwhile.
class BufferView {
 public:
  BufferView() = default;
  BufferView(const BufferView&) = delete;
  BufferView& operator=(const BufferView&) = delete;
  ~BufferView() {
    if (held_) PyBuffer_Release(&view_);
  }
  bool get(PyObject* obj, int flags) {
    held_ = PyObject_GetBuffer(obj, &view_, flags) == 0;
    return held_;
  }
  Py_buffer& view() { return view_; }

 private:
  Py_buffer view_{};
  bool held_ = false;
};

// The layout of a buffer format of one plain integer ("I", "<q", ">H", ...) and the buffer's item
// size; nullopt for any other format.
std::optional<IntegerLayout> integer_format(const char* format, Py_ssize_t itemsize) {
  if (!format) return std::nullopt;
  std::string_view f(format);
  char order = '@';
  if (!f.empty() && std::string_view("@=<>!").find(f[0]) != std::string_view::npos) {
    order = f[0];
    f.remove_prefix(1);
  }
  if (f.size() != 1 || std::string_view("bBhHiIlLqQ").find(f[0]) == std::string_view::npos) return std::nullopt;
  if (itemsize != 1 && itemsize != 2 && itemsize != 4 && itemsize != 8) return std::nullopt;
  const bool native_big = std::endian::native == std::endian::big;
  const bool big = order == '>' || order == '!' || (native_big && (order == '@' || order == '='));
  return IntegerLayout{big, f[0] >= 'a', static_cast<std::size_t>(itemsize)};
}

// A NumPy array of exactly the base class: its interface's type string and "strides" say what its
// buffer's format and contiguity say, so the buffer is read at once instead of building the
// interface dict. Recognised by the name of its static type, so NumPy need not be imported.
bool is_plain_ndarray(PyObject* obj) {
  PyTypeObject* type = Py_TYPE(obj);
  return !(type->tp_flags & Py_TPFLAGS_HEAPTYPE) && std::strcmp(type->tp_name, "numpy.ndarray") == 0;
}

// The values of a C-contiguous NumPy integer array, read in place; nullopt (no exception) for any
// other array, which the interface path then reads.
template <class T>
PyResult<std::optional<std::vector<T>>> ndarray_whole_numbers(PyObject* obj) {
  using Out = std::optional<std::vector<T>>;
  BufferView buffer;
  if (!buffer.get(obj, PyBUF_RECORDS_RO)) {
    PY_TRY(discard_mismatch());
    return Out();
  }
  const Py_buffer& v = buffer.view();
  auto layout = integer_format(v.format, v.itemsize);
  if (!layout || !PyBuffer_IsContiguous(&v, 'C')) return Out();
  return Out(PY_TRY(decode<T>(static_cast<const std::uint8_t*>(v.buf), static_cast<std::size_t>(v.len), *layout)));
}

// Appends the values of a sequence of whole numbers 0 .. 2^32 - 1; false (no exception, out as it
// was) when obj is not one. A failure that is the caller's own (see discard_mismatch) is raised.
PyResult<bool> append_whole_sequence(PyObject* obj, std::vector<std::uint32_t>& out) {
  if (PyUnicode_Check(obj)) return false;
  if (PyBytes_Check(obj)) {
    auto* p = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(obj));
    out.insert(out.end(), p, p + PyBytes_GET_SIZE(obj));
    return true;
  }
  if (PyByteArray_Check(obj)) {
    compat::CriticalSection lock(obj);
    auto* p = reinterpret_cast<const std::uint8_t*>(PyByteArray_AS_STRING(obj));
    out.insert(out.end(), p, p + PyByteArray_GET_SIZE(obj));
    return true;
  }
  auto seq = is_sequence(obj);
  if (!seq || !*seq) {
    PY_TRY(discard_mismatch());
    return false;
  }
  std::size_t start = out.size();
  auto fail = [&]() -> PyResult<bool> {
    out.resize(start);
    PY_TRY(discard_mismatch());
    return false;
  };
  Py_ssize_t hint = PySequence_Size(obj);
  if (hint < 0)
    PY_TRY(discard_mismatch());
  else if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj))
    out.reserve(start + static_cast<std::size_t>(hint));
  else
    out.reserve(start + std::min(static_cast<std::size_t>(hint), max_reserve_hint));
  Ref it = Ref::steal(PyObject_GetIter(obj));
  if (!it) return fail();
  while (Ref item = Ref::steal(PyIter_Next(it.get()))) {
    long long v = PyLong_AsLongLong(item.get());
    if ((v == -1 && PyErr_Occurred()) || v < 0 || v > 0xFFFFFFFFll) return fail();
    out.push_back(static_cast<std::uint32_t>(v));
  }
  if (PyErr_Occurred()) return fail();
  return true;
}

// A sequence whose items are each sequences of whole numbers, joined in order.
PyResult<bool> append_nested_sequence(PyObject* obj, std::vector<std::uint32_t>& out) {
  if (PyUnicode_Check(obj)) return false;
  auto seq = is_sequence(obj);
  if (!seq || !*seq) {
    PY_TRY(discard_mismatch());
    return false;
  }
  std::size_t start = out.size();
  auto fail = [&]() -> PyResult<bool> {
    out.resize(start);
    PY_TRY(discard_mismatch());
    return false;
  };
  Ref it = Ref::steal(PyObject_GetIter(obj));
  if (!it) return fail();
  while (true) {
    Ref item = Ref::steal(PyIter_Next(it.get()));
    if (!item) break;
    if (!PY_TRY(append_whole_sequence(item.get(), out))) return fail();
  }
  if (PyErr_Occurred()) return fail();
  return true;
}

template <class T>
PyResult<std::optional<std::vector<T>>> interface_whole_numbers(PyObject* obj);

template <class Out>
PyResult<std::vector<Out>> extract_whole_numbers(PyObject* obj) {
  if (auto array = PY_TRY(borrow_array_argument(obj))) return from_array<Out>(**array);
  // The host's own sequences carry no array interface.
  const bool plain = PyList_CheckExact(obj) || PyTuple_CheckExact(obj) || PyBytes_CheckExact(obj) ||
                     PyByteArray_CheckExact(obj);
  if (!plain && is_plain_ndarray(obj))
    if (auto values = PY_TRY(ndarray_whole_numbers<Out>(obj))) return std::move(*values);
  if (!plain)
    if (auto values = PY_TRY(interface_whole_numbers<Out>(obj))) return std::move(*values);
  std::vector<std::uint32_t> values;
  if (PY_TRY(append_whole_sequence(obj, values)) || PY_TRY(append_nested_sequence(obj, values)))
    return narrow_u32<Out>(std::move(values));
  return raise(PyExc_TypeError, not_whole_numbers);
}

template <class T>
PyResult<std::optional<std::vector<T>>> interface_whole_numbers(PyObject* obj) {
  using Out = std::optional<std::vector<T>>;
  Ref holder = Ref::borrow(obj);
  PyObject* found = nullptr;
  if (compat::optional_attr(obj, "__array_interface__", &found) < 0) PY_TRY(discard_mismatch());
  Ref iface = Ref::steal(found);
  if (!iface || !PyDict_Check(iface.get())) return Out();
  PyObject* strides = nullptr;
  if (compat::dict_item(iface.get(), "strides", &strides) < 0) return raised();
  Ref strides_ref = Ref::steal(strides);
  if (strides && strides != Py_None) return Out();
  PyObject* typestr_obj = nullptr;
  if (compat::dict_item(iface.get(), "typestr", &typestr_obj) < 0) return raised();
  Ref typestr_ref = Ref::steal(typestr_obj);
  if (!typestr_obj) return Out();
  std::string_view typestr = PY_TRY(FromPy<std::string_view>::convert(typestr_obj));

  // The values are the object's own bytes, never memory the interface points at: a buffer read
  // where it lies while it is held, else a copy from the host's bytes().
  BufferView buffer;
  Ref copy;
  const std::uint8_t* data = nullptr;
  std::size_t bytes = 0;
  std::vector<std::uint8_t> contiguous;
  if (PyObject_CheckBuffer(obj)) {
    if (!buffer.get(obj, PyBUF_FULL_RO)) return raised();
    Py_buffer& v = buffer.view();
    bytes = static_cast<std::size_t>(v.len);
    data = static_cast<const std::uint8_t*>(v.buf);
    if (!PyBuffer_IsContiguous(&v, 'C')) {
      contiguous.resize(bytes);
      if (PyBuffer_ToContiguous(contiguous.data(), &v, v.len, 'C') < 0) return raised();
      data = contiguous.data();
    }
  } else {
    copy = Ref::steal(PyObject_CallOneArg(reinterpret_cast<PyObject*>(&PyBytes_Type), obj));
    if (!copy) return raised();
    data = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(copy.get()));
    bytes = static_cast<std::size_t>(PyBytes_GET_SIZE(copy.get()));
  }
  auto layout = parse_typestr(typestr);
  if (!layout) return raise_not_whole_typestr(typestr);
  return Out(PY_TRY(decode<T>(data, bytes, *layout)));
}

}  // namespace

PyResult<std::optional<std::vector<std::uint32_t>>> array_interface_whole_numbers(PyObject* obj) {
  return interface_whole_numbers<std::uint32_t>(obj);
}

PyResult<std::vector<Image>> split_frames(std::span<const std::uint8_t> frames, std::size_t chunk_length,
                                          std::uint32_t width, std::uint32_t height) {
  std::vector<Image> images;
  if (frames.empty()) return images;
  std::uint64_t frame_bytes = std::uint64_t{width} * height * 4;
  if (chunk_length == 0 || frame_bytes != chunk_length || frames.size() % chunk_length != 0)
    return raise(PyExc_ValueError, "frame size does not match");
  images.reserve(frames.size() / chunk_length);
  for (std::size_t at = 0; at < frames.size(); at += chunk_length) {
    auto chunk = frames.subspan(at, chunk_length);
    images.push_back(Image{PixelBytes(chunk.begin(), chunk.end()), width, height});
  }
  return images;
}

PyResult<std::vector<std::uint8_t>> extract_whole_numbers_u8(PyObject* obj) {
  return extract_whole_numbers<std::uint8_t>(obj);
}
PyResult<std::vector<std::uint16_t>> extract_whole_numbers_u16(PyObject* obj) {
  return extract_whole_numbers<std::uint16_t>(obj);
}
PyResult<std::vector<std::uint32_t>> extract_whole_numbers_u32(PyObject* obj) {
  return extract_whole_numbers<std::uint32_t>(obj);
}

}  // namespace gy::py

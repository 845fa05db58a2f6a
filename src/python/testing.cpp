#include "python/testing.hpp"

#include <chrono>
#include <new>
#include <stdexcept>
#include <thread>

#include "python/args.hpp"
#include "python/array.hpp"
#include "python/convert.hpp"

namespace gy::py {
namespace {

struct Probe {
  std::int64_t value = 0;
};

// An immutable record: no borrow word.
struct Token {
  std::int64_t value = 0;
};

}  // namespace

template <>
inline constexpr bool frozen_class<Token> = true;

namespace {

void sleep_ms(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

PyResult<Probe> probe_new(Call&, Args& a) { return Probe{PY_TRY(a.get<std::int64_t>(0, 0))}; }

// Holds the probe exclusively for ms milliseconds without the interpreter.
PyResult<Ref> hold(Call& c, Probe& p, Args& a) {
  auto ms = PY_TRY(a.get<std::uint32_t>(0));
  c.detached([&] { sleep_ms(ms); });
  return none();
}

// Holds the probe shared for ms milliseconds without the interpreter, then reads it.
PyResult<std::int64_t> peek(Call& c, const Probe& p, Args& a) {
  auto ms = PY_TRY(a.get<std::uint32_t>(0));
  c.detached([&] { sleep_ms(ms); });
  return p.value;
}

PyResult<Ref> probe_panic(Call& c, Probe&, Args& a) {
  auto message = PY_TRY(a.get<std::string>(0));
  bool detached = PY_TRY(a.get<bool>(1, false));
  if (detached) c.detached([&] { panic(message); });
  panic(message);
}

PyResult<Ref> probe_throw(Call&, Probe&, Args& a) {
  auto kind = PY_TRY(a.get<std::string_view>(0));
  if (kind == "bad_alloc") throw std::bad_alloc();
  if (kind == "std") throw std::logic_error("logic failed");
  throw 42;
}

// Borrows other shared while the probe itself is held exclusively.
PyResult<std::int64_t> borrow_other(Call&, Probe& p, Args& a) {
  auto other = PY_TRY(a.borrow<Probe>(0));
  return p.value + other->value;
}

std::int64_t get_value(Call&, const Probe& p) { return p.value; }

PyResult<Ref> of(Call& c, Args& a) {
  auto v = PY_TRY(a.get<std::int64_t>(0));
  return new_object(Probe{v}, reinterpret_cast<PyTypeObject*>(c.self()));
}
// len(probe) is its value read as unsigned (so a negative value is too long for the host).
std::uint64_t probe_len(Call&, const Probe& p) { return static_cast<std::uint64_t>(p.value); }
std::uint64_t probe_hash(Call&, const Probe& p) { return static_cast<std::uint64_t>(p.value); }
PyResult<Ref> probe_compare(Call&, const Probe& p, PyObject* other, CompareOp op) {
  auto q = borrow_shared<Probe>(other);
  if (!q) {
    PyErr_Clear();
    return not_implemented();
  }
  if (op == CompareOp::eq) return to_py(p.value == (*q)->value);
  if (op == CompareOp::ne) return to_py(p.value != (*q)->value);
  return not_implemented();
}
PyResult<Ref> probe_add(Call&, PyObject* a, PyObject* b) {
  auto x = borrow_shared<Probe>(a);
  if (!x) {
    PyErr_Clear();
    return not_implemented();
  }
  auto y = borrow_shared<Probe>(b);
  if (!y) {
    PyErr_Clear();
    return not_implemented();
  }
  return to_py(Token{(*x)->value + (*y)->value});
}
Ref token_repr(Call&, const Token& t) { return to_py(cat("Token(", t.value, ")")); }
Token token_neg(Call&, const Token& t) { return Token{-t.value}; }
std::int64_t token_value(Call&, const Token& t) { return t.value; }

// The images of split_frames as (width, height, bytes) tuples.
PyResult<Ref> split(Call&, Args& a) {
  auto data = PY_TRY(a.get<std::vector<std::uint8_t>>(0));
  auto images = PY_TRY(split_frames(data,
                                    PY_TRY(a.get<std::size_t>(1)), PY_TRY(a.get<std::uint32_t>(2)),
                                    PY_TRY(a.get<std::uint32_t>(3))));
  std::vector<std::tuple<std::uint32_t, std::uint32_t, std::vector<std::uint8_t>>> out;
  for (auto& im : images)
    out.emplace_back(im.width, im.height, std::vector<std::uint8_t>(im.pixels.begin(), im.pixels.end()));
  return to_py(std::move(out));
}
void set_value(Call&, Probe& p, std::int64_t v) { p.value = v; }

PyResult<ErrorKind> kind_of(std::string_view name) {
  for (ErrorKind k : {ErrorKind::Range, ErrorKind::Division, ErrorKind::Type, ErrorKind::Parse, ErrorKind::State,
                      ErrorKind::Other})
    if (error_kind_name(k) == name) return k;
  return raise(PyExc_ValueError, cat("no error kind ", name));
}

// Returns the core error kind(message) to the frame.
PyResult<Result<bool>> fail(Call&, Args& a) {
  auto kind = PY_TRY(kind_of(PY_TRY(a.get<std::string_view>(0))));
  return Result<bool>(gy::fail(kind, PY_TRY(a.get<std::string>(1))));
}

// Builds error_text without the interpreter, then raises it.
PyResult<Ref> fail_with_text(Call& c, Args& a) {
  auto kind = PY_TRY(kind_of(PY_TRY(a.get<std::string_view>(0))));
  auto message = PY_TRY(a.get<std::string>(1));
  auto text = PY_TRY(a.get<std::string>(2));
  PyErr e = c.detached([&] { return error_text(Error{kind, message}, text); });
  return e.raise();
}

// Echoes what the matcher placed in each parameter (None when absent).
Ref signature(Call&, Args& a) {
  Ref t = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(a.size())));
  for (std::size_t i = 0; t && i < a.size(); ++i)
    PyTuple_SET_ITEM(t.get(), static_cast<Py_ssize_t>(i), Py_NewRef(a.given(i) ? a[i] : Py_None));
  return t;
}

// Converts value with the standard converter named by kind and returns the result.
PyResult<Ref> convert(Call&, Args& a) {
  auto kind = PY_TRY(a.get<std::string_view>(0));
  auto as = [&](auto reader) -> PyResult<Ref> { return to_py(PY_TRY(a.get_with(1, reader))); };
  if (kind == "u8") return as(FromPy<std::uint8_t>::convert);
  if (kind == "u16") return as(FromPy<std::uint16_t>::convert);
  if (kind == "u32") return as(extract_u32);
  if (kind == "i32") return as(FromPy<std::int32_t>::convert);
  if (kind == "i64") return as(FromPy<std::int64_t>::convert);
  if (kind == "usize") return as(extract_usize);
  if (kind == "float") return as(extract_float);
  if (kind == "flag") return as(extract_flag);
  if (kind == "text") return as(extract_text);
  if (kind == "rgba") return as(extract_rgba);
  if (kind == "vec3") return as(extract_vec3);
  if (kind == "u32_list") return as(extract_u32_list);
  if (kind == "objects") return as(FromPy<std::vector<Ref>>::convert);
  if (kind == "whole_u8") return as(extract_whole_numbers_u8);
  if (kind == "whole_u16") return as(extract_whole_numbers_u16);
  if (kind == "whole_u32") return as(extract_whole_numbers_u32);
  if (kind == "recipe") return as(recipe_argument);
  if (kind == "recipes") {
    std::vector<std::pair<std::string, std::string>> out;
    for (auto& e : PY_TRY(a.get_with(1, recipe_list))) out.emplace_back(std::move(e.query), std::move(e.label));
    return to_py(std::move(out));
  }
  if (kind == "shell" || kind == "cuts") return to_py(PY_TRY(a.noted(shapes_argument(a[1], kind), 1)));
  if (kind == "exact") return to_py(PY_TRY(generateExpr(PY_TRY(a.get_with(1, exact_number_argument)))));
  return raise(PyExc_ValueError, cat("no converter ", kind));
}

// An Array made by one of the producers' makers: kind u8, u16, u32 (with bound), f32, flags, bytes.
PyResult<Array> make_array(Call&, Args& a) {
  auto kind = PY_TRY(a.get<std::string_view>(0));
  auto shape = PY_TRY(a.get<std::vector<std::size_t>>(2));
  auto bound = PY_TRY(a.get<std::size_t>(3, 0));
  if (kind == "f32") return array_from_f32(PY_TRY(a.get<std::vector<float>>(1)), std::move(shape));
  auto values = PY_TRY(a.get<std::vector<std::uint32_t>>(1));
  if (kind == "u32") return array_from_u32(values, bound, std::move(shape));
  if (kind == "u16") {
    std::vector<std::uint16_t> v(values.begin(), values.end());
    return array_from_u16(v, bound, std::move(shape));
  }
  std::vector<std::uint8_t> v(values.begin(), values.end());
  if (kind == "u8") return array_from_u8(v, bound, std::move(shape));
  ArrayBuffer buffer(v.size());
  std::copy(v.begin(), v.end(), buffer.data());
  if (kind == "flags") return Array::flags(std::move(buffer), std::move(shape));
  if (kind == "bytes") return Array::bytes(std::move(buffer), std::move(shape));
  return raise(PyExc_ValueError, cat("no array kind ", kind));
}

constexpr ClassDef probe_class{"Probe", "Probe(value=0)\n--\n\nA mutable object for exercising the calling frame."};
constexpr Constructor probe_ctor{&probe_new};
constexpr Method hold_row{"hold($self, ms)\n--\n\nHold exclusively for ms milliseconds, interpreter released.",
                          Borrow::exclusive, &hold, Release::yes};
constexpr Method peek_row{"peek($self, ms)\n--\n\nHold shared for ms milliseconds, interpreter released.",
                          Borrow::shared, &peek, Release::yes};
constexpr Method panic_row{"panic($self, message, detached=False)\n--\n\nBreak an invariant.", Borrow::exclusive,
                           &probe_panic, Release::yes};
constexpr Method throw_row{"throw($self, kind)\n--\n\nThrow a C++ exception.", Borrow::exclusive, &probe_throw};
constexpr Method borrow_row{"borrow_other($self, other)\n--\n\nAdd another probe's value.", Borrow::exclusive,
                            &borrow_other};
constexpr Property value_row{"value", "The value.", Borrow::shared, &get_value, Borrow::exclusive, &set_value};

constexpr ClassMethod of_row{"of($type, value)\n--\n\nA probe holding value.", &of};
constexpr Slot len_row{slot<Py_mp_length>, Borrow::shared, &probe_len};
constexpr Slot hash_row{slot<Py_tp_hash>, Borrow::shared, &probe_hash};
constexpr Slot compare_row{slot<Py_tp_richcompare>, Borrow::shared, &probe_compare};
constexpr Slot add_row{slot<Py_nb_add>, Borrow::none, &probe_add};

constinit OnceObject probe_cell;

constexpr ClassDef token_class{"Token", "An immutable value made by adding probes."};
constexpr Slot token_repr_row{slot<Py_tp_repr>, Borrow::none, &token_repr};
constexpr Slot token_neg_row{slot<Py_nb_negative>, Borrow::none, &token_neg};
constexpr Property token_value_row{"value", "The value.", Borrow::none, &token_value};

constinit OnceObject token_cell;

constexpr Function fail_row{"fail(kind, message)\n--\n\nRaise a core error.", &fail};
constexpr Function fail_text_row{"fail_with_text(kind, message, text)\n--\n\nRaise a prefixed core error.",
                                 &fail_with_text, Release::yes};
constexpr Function signature_row{"signature(a, b=2, /, c=3, *, d, e=5)\n--\n\nEcho the matched arguments.",
                                 &signature};
constexpr Function convert_row{"convert(kind, value)\n--\n\nRun one converter.", &convert};
constexpr Function split_row{"split_frames(data, chunk, width, height)\n--\n\nCut frames into images.", &split};
constexpr Function array_row{"array(kind, values, shape, bound=0)\n--\n\nMake an Array.", &make_array};

}  // namespace

template <>
PyTypeObject* type_object<Probe>() {
  return make_type<Probe, probe_class, probe_ctor, hold_row, peek_row, panic_row, throw_row, borrow_row, value_row,
                   of_row, len_row, hash_row, compare_row, add_row>(probe_cell);
}

template <>
PyTypeObject* type_object<Token>() {
  return make_type<Token, token_class, token_repr_row, token_neg_row, token_value_row>(token_cell);
}

Ref make_testing_module() {
  Ref m = Ref::steal(PyModule_New("gyrelle._native._testing"));
  if (!m) return {};
  PyTypeObject* probe = type_object<Probe>();
  if (!probe || PyModule_AddObjectRef(m.get(), "Probe", reinterpret_cast<PyObject*>(probe)) < 0) return {};
  auto add = [&](const char* name, Ref f) { return f && PyModule_AddObjectRef(m.get(), name, f.get()) == 0; };
  if (!add("fail", make_function<fail_row>(m.get())) || !add("fail_with_text", make_function<fail_text_row>(m.get())) ||
      !add("signature", make_function<signature_row>(m.get())) ||
      !add("convert", make_function<convert_row>(m.get())) || !add("array", make_function<array_row>(m.get())) ||
      !add("split_frames", make_function<split_row>(m.get())))
    return {};
  return m;
}

}  // namespace gy::py

// The calling frame: one generic way to define a Python class or function, and one dispatcher that
// matches arguments, takes borrow flags, releases the interpreter and maps every failure.
//
// How to define a class (see array.cpp for a complete one):
//
//   1. The core record T is stored in Object<T> after the object header, followed by a borrow word
//      unless T is declared immutable:  template <> inline constexpr bool frozen_class<T> = true;
//
//   2. Bodies are plain functions. Every body takes Call& first; receivers come as const T& (shared
//      or no borrow) or T& (exclusive). A body may return Ref, any value that ToPy<> converts
//      (bool, integers, double, text, vectors, optionals, tuples, Array, ...), PyResult<X> (a Python
//      exception already set) or gy::Result<X> (a core Error, mapped to its exception here).
//
//        PyResult<Ref> turn(Call& c, Puzzle& p, Args& a) {
//          auto index = PY_TRY(a.get<std::size_t>(0));       // note "while processing 'index'"
//          auto dir = PY_TRY(a.get<std::int32_t>(1, 1));      // default when absent
//          auto done = PY_TRY(c.detached([&] { return p.sim.turn(index, dir); }));  // Result<bool>
//          return to_py(done);
//        }
//
//   3. Rows are constexpr objects. The first line of a docstring is the signature; parameter names,
//      defaults ("=..."), keyword-only ("*") and positional-only ("/") markers are parsed from it at
//      compile time, so the signature is written exactly once.
//
//        constexpr Method turn_row{"turn($self, index, direction=1)\n--\n\nTurn one grip.",
//                                  Borrow::exclusive, &turn, Release::yes};
//        constexpr Property fov_row{"fov", "Vertical field of view in degrees.", Borrow::shared,
//                                   &get_fov, Borrow::exclusive, &set_fov};  // setter optional
//        constexpr Constructor puzzle_new{&make_puzzle, Release::yes};      // body returns T
//        constexpr Slot puzzle_repr{slot<Py_tp_repr>, Borrow::shared, &repr};
//
//      Slots: Py_tp_repr, Py_tp_str, Py_nb_negative, Py_nb_absolute, Py_nb_float (unary, one
//      receiver); Py_nb_bool (returns bool); Py_mp_length (returns std::size_t); Py_tp_hash
//      (returns std::uint64_t; -1 becomes -2); Py_mp_subscript (receiver, key; also answers the
//      sequence-item protocol);
//      Py_tp_richcompare (receiver, other, CompareOp); Py_nb_add, Py_nb_subtract, Py_nb_multiply,
//      Py_nb_true_divide (two PyObject*, no receiver, no borrow). Py_bf_getbuffer /
//      Py_bf_releasebuffer take raw CPython functions through RawSlot.
//
//   4. The type object, created once per process on first use:
//
//        constexpr ClassDef puzzle_class{"Puzzle", puzzle_doc};
//        template <> PyTypeObject* type_object<Puzzle>() {
//          static constinit OnceObject cell;
//          return make_type<Puzzle, puzzle_class, puzzle_new, turn_row, fov_row, puzzle_repr>(cell);
//        }
//      and module.cpp adds it in its place.
//
//   5. A module function is a Function row; module.cpp creates it with make_function<row>(module).
//
// Failures: a body returns `raise(error)` for a core Error, `raise(PyExc_ValueError, "text")` for a
// check of its own, or `raised()` after a C API call that set an exception. gy::panic (and any
// unexpected C++ exception) becomes pyo3_runtime.PanicException; std::bad_alloc becomes MemoryError.
// Interpreter release: Call::detached(f) runs f without the interpreter when the row says
// Release::yes (inline otherwise); f must touch no Python object.
// Signals: a call made on the thread that runs the host's signal handlers carries a Watch (see
// num/interrupt.hpp) whose check runs the pending handlers, taking the interpreter back for it
// briefly when the body has released it. An exception a handler raises (KeyboardInterrupt for
// Ctrl-C) stops the call at its next poll point and is what the call raises.
#pragma once

#include "python/compat.hpp"

#include <cxxabi.h>

#include <array>
#include <atomic>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "num/error.hpp"
#include "num/interrupt.hpp"
#include "pool.hpp"

namespace gy::py {

// ---------------------------------------------------------------------------------------------
// References and results

// An owned reference; null means a Python exception is set.
class Ref {
 public:
  Ref() = default;
  static Ref steal(PyObject* p) { return Ref(p); }
  static Ref borrow(PyObject* p) {
    Py_XINCREF(p);
    return Ref(p);
  }
  Ref(const Ref& o) : p_(o.p_) { Py_XINCREF(p_); }
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ref& operator=(Ref o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Ref() {
    // A thread the host ends at exit runs this while unwinding without the interpreter: the
    // reference is left behind rather than dropped unattached.
    if constexpr (compat::ends_threads_at_exit)
      if (p_ && compat::finalizing()) [[unlikely]]
        return;
    Py_XDECREF(p_);
  }

  PyObject* get() const { return p_; }
  PyObject* release() { return std::exchange(p_, nullptr); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  explicit Ref(PyObject* p) : p_(p) {}
  PyObject* p_ = nullptr;
};

// A Python exception is set on this thread.
struct Raised {};
template <class T = Ref>
using PyResult = std::expected<T, Raised>;
using PyStatus = std::expected<void, Raised>;

inline std::unexpected<Raised> raised() { return std::unexpected(Raised{}); }
// Sets type(message) and returns raised().
std::unexpected<Raised> raise(PyObject* type, std::string_view message);
// Sets the exception of a core error (see to_py_err) and returns raised().
std::unexpected<Raised> raise(const Error& error);

// Yields the value of a PyResult, a Result or a null-checked Ref, or returns raised() from the
// enclosing body (a core Error is raised first).
#define PY_TRY(...)                                                                 \
  ({                                                                                \
    auto&& py_try_result_ = (__VA_ARGS__);                                          \
    if (!::gy::py::detail::ok(py_try_result_))                                      \
      return ::gy::py::detail::propagate(std::move(py_try_result_));                \
    ::gy::py::detail::value_of(std::move(py_try_result_));                          \
  })

// ---------------------------------------------------------------------------------------------
// Exceptions

// The module's PuzzleError and the runtime's PanicException, created on first use (borrowed,
// process-wide). A failure to create either is a broken invariant.
PyObject* puzzle_error_type();
PyObject* panic_exception_type();

// A Python exception that is not raised yet: which type and its one text argument. Made, moved and
// kept without the interpreter; raise() sets it.
struct PyErr {
  enum class Type : std::uint8_t { value, arithmetic, zero_division, type, puzzle, runtime };
  Type type;
  std::string message;

  std::unexpected<Raised> raise() const;
  PyObject* type_object() const;
};

// Range -> ValueError, Division -> ArithmeticError (either ZeroDivisionError when the message holds
// "Division by zero"), Type -> TypeError, Parse and State -> PuzzleError, Other -> RuntimeError.
PyErr to_py_err(Error error);
// The same exception type with the message "{text}: {message}". Needs no interpreter.
PyErr error_text(Error error, std::string_view text);

// Adds the note "while processing '{name}'" to the pending exception.
void add_argument_note(std::string_view name);

// The host's name of an object's type ("int", "list", "Array").
std::string type_name(PyObject* obj);
// "'{type of obj}' object is not an instance of '{expected}'" as TypeError.
std::unexpected<Raised> raise_not_instance(PyObject* obj, std::string_view expected);

// Sets the Python exception for the C++ exception being handled. Only inside a catch block.
void translate_current_exception() noexcept;

// ---------------------------------------------------------------------------------------------
// Once-cells

// A process-wide object made on first use. Never blocks: racing threads each make one and all but
// the first are dropped, so every caller sees the same object.
class OnceObject {
 public:
  // make() returns a new reference or null with an exception set; the cell keeps its object forever.
  template <class F>
  PyObject* get(F&& make) {
    if (PyObject* v = p_.load(std::memory_order_acquire)) return v;
    PyObject* made = make();
    if (!made) return nullptr;
    PyObject* expected = nullptr;
    if (p_.compare_exchange_strong(expected, made, std::memory_order_acq_rel, std::memory_order_acquire))
      return made;
    Py_DECREF(made);
    return expected;
  }

 private:
  std::atomic<PyObject*> p_{nullptr};
};

// ---------------------------------------------------------------------------------------------
// Objects and borrow flags

enum class Borrow : std::uint8_t { none, shared, exclusive };
enum class Release : bool { no, yes };

// 0 free, n shared borrows, all ones one exclusive borrow. Never waits.
class BorrowFlag {
 public:
  static constexpr std::uint64_t exclusive_value = ~std::uint64_t{0};

  bool try_shared() {
    std::uint64_t n = word_.load(std::memory_order_relaxed);
    do {
      if (n >= exclusive_value - 1) return false;
    } while (!word_.compare_exchange_weak(n, n + 1, std::memory_order_acquire, std::memory_order_relaxed));
    return true;
  }
  bool try_exclusive() {
    std::uint64_t free = 0;
    return word_.compare_exchange_strong(free, exclusive_value, std::memory_order_acquire,
                                         std::memory_order_relaxed);
  }
  void release_shared() { word_.fetch_sub(1, std::memory_order_release); }
  void release_exclusive() { word_.store(0, std::memory_order_release); }
  std::uint64_t load() const { return word_.load(std::memory_order_relaxed); }

 private:
  std::atomic<std::uint64_t> word_{0};
};

// Immutable records carry no borrow word; specialise to true for them.
template <class T>
inline constexpr bool frozen_class = false;

namespace detail {
struct NoFlag {};
}  // namespace detail

// The Python object of a class whose record is T.
template <class T>
struct Object {
  PyObject_HEAD
  T value;
  [[no_unique_address]] std::conditional_t<frozen_class<T>, detail::NoFlag, BorrowFlag> flag;
};

template <class T>
Object<T>* object_cast(PyObject* o) {
  return reinterpret_cast<Object<T>*>(o);
}

// The type object of the class whose record is T; each class file defines its specialisation.
template <class T>
PyTypeObject* type_object();

// Takes a borrow of one object's flag for a scope; raises RuntimeError ("Already borrowed" for an
// exclusive take, "Already mutably borrowed" for a shared one) instead of waiting.
class BorrowGuard {
 public:
  BorrowGuard() = default;
  BorrowGuard(BorrowGuard&& o) noexcept : flag_(std::exchange(o.flag_, nullptr)), kind_(o.kind_) {}
  BorrowGuard& operator=(BorrowGuard&&) = delete;
  ~BorrowGuard() {
    if (!flag_) return;
    if (kind_ == Borrow::exclusive)
      flag_->release_exclusive();
    else
      flag_->release_shared();
  }
  // False with RuntimeError set when the flag is in the way.
  bool take(BorrowFlag& flag, Borrow kind);

 private:
  BorrowFlag* flag_ = nullptr;
  Borrow kind_ = Borrow::none;
};

// A shared borrow of another object (an argument), read-only access to its record.
template <class T>
class Shared {
 public:
  Shared(Object<T>* obj, BorrowGuard guard) : obj_(obj), guard_(std::move(guard)) {}
  const T& operator*() const { return obj_->value; }
  const T* operator->() const { return &obj_->value; }
  PyObject* object() const { return reinterpret_cast<PyObject*>(obj_); }

 private:
  Object<T>* obj_;
  BorrowGuard guard_;
};

// Tests obj against T's class (the class or a subclass) and borrows it shared. On a type mismatch
// raises "'{}' object is not an instance of '{}'".
template <class T>
PyResult<Shared<T>> borrow_shared(PyObject* obj) {
  PyTypeObject* type = type_object<T>();
  if (!type) return raised();
  if (Py_TYPE(obj) != type && !PyObject_TypeCheck(obj, type))
    return raise_not_instance(obj, type->tp_name);
  BorrowGuard g;
  if constexpr (!frozen_class<T>)
    if (!g.take(object_cast<T>(obj)->flag, Borrow::shared)) return raised();
  return Shared<T>(object_cast<T>(obj), std::move(g));
}

// A new object of T's class (or of `type`) holding value, its flag free.
template <class T>
Ref new_object(T&& value, PyTypeObject* type = nullptr) {
  if (!type) type = type_object<T>();
  if (!type) return {};
  PyObject* o = type->tp_alloc(type, 0);
  if (!o) return {};
  auto* obj = object_cast<T>(o);
  ::new (static_cast<void*>(&obj->value)) T(std::move(value));
  if constexpr (!frozen_class<T>) ::new (static_cast<void*>(&obj->flag)) BorrowFlag();
  return Ref::steal(o);
}

// ---------------------------------------------------------------------------------------------
// Conversions from and to Python (standard ones in convert.hpp)

// FromPy<T>::convert(PyObject*) -> PyResult<T>; ToPy<T>::convert(const T& or T&&) -> Ref.
template <class T>
struct FromPy;
// Unless specialised, a value converts to a new object of the class whose record it is (a link
// error names type_object<T> when T has no class).
template <class T>
struct ToPy {
  static Ref convert(T value) { return new_object<T>(std::move(value)); }
};

template <class T>
Ref to_py(T&& value) {
  return ToPy<std::decay_t<T>>::convert(std::forward<T>(value));
}

// ---------------------------------------------------------------------------------------------
// Signatures

inline constexpr std::size_t max_params = 24;

// Parameters parsed from the first docstring line "name(a, b=1, /, c, *, d=None)".
struct Signature {
  std::string_view name;
  std::array<std::string_view, max_params> names{};
  std::array<bool, max_params> required{};
  std::uint8_t count = 0;                // all parameters
  std::uint8_t positional = 0;           // accepted by position: those before '*'
  std::uint8_t positional_only = 0;      // those before '/'
  std::uint8_t required_positional = 0;  // required ones among the positional
};

namespace detail {

consteval bool is_space(char c) { return c == ' ' || c == '\t'; }

consteval std::string_view trim(std::string_view s) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
  return s;
}

consteval bool is_identifier(std::string_view s) {
  if (s.empty()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    bool digit = c >= '0' && c <= '9';
    if (!alpha && !(digit && i > 0)) return false;
  }
  return true;
}

[[noreturn]] inline void bad_signature(const char*) { throw "malformed signature line"; }

}  // namespace detail

consteval Signature parse_signature(std::string_view doc) {
  Signature s;
  std::size_t open = doc.find('(');
  std::size_t line_end = doc.find('\n');
  if (open == std::string_view::npos || (line_end != std::string_view::npos && open > line_end))
    detail::bad_signature("no parameter list");
  s.name = doc.substr(0, open);
  if (!detail::is_identifier(s.name)) detail::bad_signature("bad name");
  // Split the parameter list at top-level commas.
  std::size_t i = open + 1, start = i;
  int depth = 0;
  char quote = 0;
  bool keyword_only = false, seen_default = false, done = false;
  while (!done) {
    if (i >= doc.size() || doc[i] == '\n') detail::bad_signature("unterminated parameter list");
    char c = doc[i];
    bool end_item = false;
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '(' || c == '[' || c == '{') {
      ++depth;
    } else if ((c == ')' || c == ']' || c == '}') && depth > 0) {
      --depth;
    } else if (c == ')') {
      end_item = done = true;
    } else if (c == ',' && depth == 0) {
      end_item = true;
    }
    if (end_item) {
      std::string_view item = detail::trim(doc.substr(start, i - start));
      start = i + 1;
      if (item.empty()) {
        if (!done || s.count > 0 || keyword_only) detail::bad_signature("empty parameter");
      } else if (item == "$self" || item == "$cls" || item == "$module" || item == "$type") {
        if (s.count > 0) detail::bad_signature("receiver not first");
      } else if (item == "*") {
        if (keyword_only) detail::bad_signature("two '*'");
        keyword_only = true;
        s.positional = s.count;
      } else if (item == "/") {
        if (keyword_only || s.positional_only) detail::bad_signature("misplaced '/'");
        s.positional_only = s.count;
      } else {
        std::size_t eq = item.find('=');
        std::string_view name = detail::trim(item.substr(0, eq));
        if (!detail::is_identifier(name)) detail::bad_signature("bad parameter");
        if (s.count >= max_params) detail::bad_signature("too many parameters");
        bool required = eq == std::string_view::npos;
        if (!keyword_only) {
          if (required && seen_default) detail::bad_signature("required after default");
          if (!required) seen_default = true;
          if (required) ++s.required_positional;
        }
        s.names[s.count] = name;
        s.required[s.count] = required;
        ++s.count;
      }
    }
    ++i;
  }
  if (!keyword_only) s.positional = s.count;
  return s;
}

// ---------------------------------------------------------------------------------------------
// Calls and arguments

// Waits for the process to end; for a thread that the host is ending by a forced unwind, whose
// unwinding cannot pass the noexcept frames of the entries.
[[noreturn]] void park_thread() noexcept;

// Takes the interpreter back after PyEval_SaveThread. A thread that the host ends instead (a daemon
// thread while the interpreter shuts down, which the host unwinds by force) is parked for good:
// the unwind would pass through frames that cannot let it out.
void reattach(PyThreadState* ts) noexcept;

namespace detail {

// The watch of one call made on the thread that handles the host's signals (the main thread of the
// main interpreter); nothing on other threads. Its check runs the pending signal handlers, first
// taking the interpreter back when the body has released it, and keeps the exception one of them
// raises for the call to raise in place of its own outcome.
class CallWatch {
 public:
  CallWatch() noexcept;
  ~CallWatch();
  CallWatch(const CallWatch&) = delete;
  CallWatch& operator=(const CallWatch&) = delete;

  // The watch of this thread's innermost call, or null.
  static CallWatch* current() noexcept;

  // A handler raised: the call is to end with that exception.
  bool stopped() const { return stash_ != nullptr; }
  // Makes that exception the pending one, dropping whatever the call had set.
  void raise_stop() noexcept;

  // The thread's state while the body runs without the interpreter, else null.
  PyThreadState* detached = nullptr;

 private:
  static bool check(void* self) noexcept;

  PyObject* stash_ = nullptr;
  CallWatch* previous_ = nullptr;
  std::optional<Watch> watch_;
};

}  // namespace detail

// The context of one call: its receiver and whether its row releases the interpreter.
class Call {
 public:
  Call(PyObject* self, Release release) : self_(self), release_(release == Release::yes) {}

  // The receiver object (the module for a function, the type for a class method or constructor).
  PyObject* self() const { return self_; }

  // Runs f() without the interpreter when the row releases it, inline otherwise. The interpreter is
  // taken back on every way out, exceptions included. f must touch no Python object.
  template <class F>
  decltype(auto) detached(F&& f) {
    if (!release_ || detached_) return std::forward<F>(f)();
    struct Detach {
      Call& c;
      detail::CallWatch* watch;
      PyThreadState* ts;
      explicit Detach(Call& call) : c(call), watch(detail::CallWatch::current()), ts(PyEval_SaveThread()) {
        c.detached_ = true;
        if (watch) watch->detached = ts;
      }
      ~Detach() {
        if (watch) ts = std::exchange(watch->detached, nullptr);
        reattach(ts);
        c.detached_ = false;
      }
    } d(*this);
    return std::forward<F>(f)();
  }

 private:
  PyObject* self_;
  bool release_;
  bool detached_ = false;
};

// The arguments of one call, in signature order; absent ones are null. Every conversion failure
// gets the note naming its parameter.
class Args {
 public:
  Args(const Signature& sig, PyObject* const* slots) : sig_(sig), slots_(slots) {}

  std::size_t size() const { return sig_.count; }
  PyObject* operator[](std::size_t i) const { return slots_[i]; }
  bool given(std::size_t i) const { return slots_[i] != nullptr; }
  std::string_view name(std::size_t i) const { return sig_.names[i]; }

  // A required parameter (the matcher guarantees it is present).
  template <class T>
  PyResult<T> get(std::size_t i) const {
    return noted(FromPy<T>::convert(present(i)), i);
  }
  // fallback when the argument is absent (an explicit None is converted like any value).
  template <class T, class U>
  PyResult<T> get(std::size_t i, U&& fallback) const {
    if (!slots_[i]) return T(std::forward<U>(fallback));
    return noted(FromPy<T>::convert(slots_[i]), i);
  }
  // None or absent gives nullopt.
  template <class T>
  PyResult<std::optional<T>> opt(std::size_t i) const {
    std::optional<T> out;
    if (slots_[i] && slots_[i] != Py_None) {
      auto r = noted(FromPy<T>::convert(slots_[i]), i);
      if (!r) return raised();
      out.emplace(std::move(*r));
    }
    return out;
  }
  // A converter of its own: convert(PyObject*) -> PyResult<X>.
  template <class F>
  auto get_with(std::size_t i, F&& convert) const {
    return noted(std::forward<F>(convert)(present(i)), i);
  }
  // An object of a flagged class, borrowed shared until the returned value goes.
  template <class T>
  PyResult<Shared<T>> borrow(std::size_t i) const {
    return noted(borrow_shared<T>(present(i)), i);
  }

  template <class R>
  R noted(R&& r, std::size_t i) const {
    if (!r) add_argument_note(sig_.names[i]);
    return std::forward<R>(r);
  }

 private:
  PyObject* present(std::size_t i) const {
    if (!slots_[i]) panic(cat("argument '", sig_.names[i], "' of ", sig_.name, "() read but not given"));
    return slots_[i];
  }
  const Signature& sig_;
  PyObject* const* slots_;
};

namespace detail {

// Where an argument's keywords come from: a vectorcall name tuple with values after the positional
// ones, or a keyword dictionary.
struct Keywords {
  PyObject* names = nullptr;          // tuple, or null
  PyObject* const* values = nullptr;  // values of the names
  PyObject* dict = nullptr;           // or a dictionary
};

// Matches positional and keyword arguments to sig, filling out[0..sig.count). False with TypeError
// set on a mismatch; owner is the class of a method (null for a function), for the messages.
bool match_arguments(const Signature& sig, PyTypeObject* owner, std::string_view name,
                     PyObject* const* positional, std::size_t npositional, const Keywords& keywords,
                     PyObject** out);

template <class R>
bool ok(const R& r) {
  if constexpr (std::is_same_v<R, Ref>)
    return static_cast<bool>(r);
  else
    return r.has_value();
}

template <class R>
std::unexpected<Raised> propagate(R&& r) {
  using V = std::remove_cvref_t<R>;
  if constexpr (std::is_same_v<V, Ref>) {
    return raised();
  } else if constexpr (std::is_same_v<typename V::error_type, Raised>) {
    return raised();
  } else {
    return ::gy::py::raise(r.error());
  }
}

template <class R>
decltype(auto) value_of(R&& r) {
  using V = std::remove_cvref_t<R>;
  if constexpr (std::is_same_v<V, Ref>) {
    return std::move(r);
  } else if constexpr (std::is_void_v<typename V::value_type>) {
    return;
  } else {
    return std::move(*r);
  }
}

template <class T>
struct is_expected : std::false_type {};
template <class T, class E>
struct is_expected<std::expected<T, E>> : std::true_type {};

// A body's result as a new reference, or null with an exception set.
template <class R>
PyObject* finish(R&& r) {
  using V = std::remove_cvref_t<R>;
  if constexpr (std::is_same_v<V, Ref>) {
    return r.release();
  } else if constexpr (is_expected<V>::value) {
    if (!r) {
      if constexpr (!std::is_same_v<typename V::error_type, Raised>) ::gy::py::raise(r.error());
      return nullptr;
    }
    if constexpr (std::is_void_v<typename V::value_type>) {
      return Py_NewRef(Py_None);
    } else {
      return finish(std::move(*r));
    }
  } else {
    return to_py(std::forward<R>(r)).release();
  }
}

// The value of a body result that is not an object: a length, a hash, a constructed record, nothing.
template <class T, class R>
std::optional<T> finish_value(R&& r) {
  using V = std::remove_cvref_t<R>;
  if constexpr (is_expected<V>::value) {
    if (!r) {
      if constexpr (!std::is_same_v<typename V::error_type, Raised>) ::gy::py::raise(r.error());
      return std::nullopt;
    }
    if constexpr (std::is_void_v<T>)
      return std::optional<T>(std::in_place);
    else
      return std::optional<T>(std::move(*r));
  } else {
    return std::optional<T>(std::forward<R>(r));
  }
}

template <class R>
bool finish_status(R&& r) {
  using V = std::remove_cvref_t<R>;
  if constexpr (is_expected<V>::value) {
    if (!r) {
      if constexpr (!std::is_same_v<typename V::error_type, Raised>) ::gy::py::raise(r.error());
      return false;
    }
  }
  return true;
}

template <class R>
struct unwrap_result {
  using type = R;
};
template <class T, class E>
struct unwrap_result<std::expected<T, E>> {
  using type = T;
};

// Parameter types of a body.
template <class F>
struct body_traits;
template <class R, class... A>
struct body_traits<R (*)(Call&, A...)> {
  using result = R;
  static constexpr std::size_t arity = sizeof...(A);
  template <std::size_t I>
  using arg = std::tuple_element_t<I, std::tuple<A...>>;
};

template <class F>
using receiver_of = std::remove_cvref_t<typename body_traits<F>::template arg<0>>;

template <class F>
inline constexpr bool takes_mutable_receiver =
    !std::is_const_v<std::remove_reference_t<typename body_traits<F>::template arg<0>>>;

template <std::size_t N>
struct CName {
  std::array<char, N + 1> text{};
  consteval explicit CName(std::string_view s) {
    for (std::size_t i = 0; i < N; ++i) text[i] = s[i];
  }
};

// A NUL-terminated copy of a signature's name.
template <const auto& Row>
inline constexpr CName<Row.sig.name.size()> row_name{Row.sig.name};


}  // namespace detail

// ---------------------------------------------------------------------------------------------
// Rows

// An instance method. body(Call&, const T& | T&[, Args&]).
template <class F>
struct Method {
  const char* doc;
  Signature sig;
  Borrow borrow;
  F body;
  Release release;
  consteval Method(const char* d, Borrow b, F f, Release r = Release::no)
      : doc(d), sig(parse_signature(d)), borrow(b), body(f), release(r) {
    if (b == Borrow::shared && detail::takes_mutable_receiver<F>) throw "a shared method takes const T&";
    if (b == Borrow::none && !frozen_class<detail::receiver_of<F>> && detail::takes_mutable_receiver<F>)
      throw "a method without a borrow takes const T&";
  }
};

// A class method: body(Call&[, Args&]); Call::self() is the type.
template <class F>
struct ClassMethod {
  const char* doc;
  Signature sig;
  F body;
  Release release;
  consteval ClassMethod(const char* d, F f, Release r = Release::no)
      : doc(d), sig(parse_signature(d)), body(f), release(r) {}
};

// A module function: body(Call&[, Args&]); Call::self() is the module.
template <class F>
struct Function {
  const char* doc;
  Signature sig;
  F body;
  Release release;
  consteval Function(const char* d, F f, Release r = Release::no)
      : doc(d), sig(parse_signature(d)), body(f), release(r) {}
};

// The constructor: body(Call&, Args&) returns the record T (plain, PyResult<T> or Result<T>).
// Its signature is the first line of the class docstring.
template <class F>
struct Constructor {
  F body;
  Release release;
  consteval Constructor(F f, Release r = Release::no) : body(f), release(r) {}
};

// A property: get(Call&, const T&) (T& for an exclusive getter; get_release lets it detach); set(Call&,
// T&, V value) with V converted by FromPy<V> before the object is taken; a failed conversion gets the
// note naming value_name. Deleting a settable property raises "property has no deleter".
struct NoSetter {};
template <class G, class S = NoSetter>
struct Property {
  const char* name;
  const char* doc;
  Borrow get_borrow;
  G get;
  Borrow set_borrow = Borrow::none;
  S set{};
  const char* value_name = "value";
  Release get_release = Release::no;
  consteval Property(const char* n, const char* d, Borrow gb, G g, Release r = Release::no)
      : name(n), doc(d), get_borrow(gb), get(g), get_release(r) {}
  consteval Property(const char* n, const char* d, Borrow gb, G g, Borrow sb, S s, const char* v = "value")
      : name(n), doc(d), get_borrow(gb), get(g), set_borrow(sb), set(s), value_name(v) {}
};

// A type slot served by a body (see the list at the top).
template <int Id>
struct SlotId {};
template <int Id>
inline constexpr SlotId<Id> slot{};

enum class CompareOp : int { lt = Py_LT, le = Py_LE, eq = Py_EQ, ne = Py_NE, gt = Py_GT, ge = Py_GE };

template <int Id, class F>
struct Slot {
  static constexpr int id = Id;
  Borrow borrow;
  F body;
  consteval Slot(SlotId<Id>, Borrow b, F f) : borrow(b), body(f) {}
};

// A raw CPython slot function, for protocols the frame does not wrap.
struct RawSlot {
  int id;
  void* function;
};

// The class: type name (no module prefix) and docstring; the first docstring line is the
// constructor's signature when the class has one.
struct ClassDef {
  const char* name;
  const char* doc;
};

// ---------------------------------------------------------------------------------------------
// Entries

namespace detail {

// Runs f inside the frame's guard: every C++ exception becomes a Python exception and `failure`,
// and a call stopped by a signal handler raises what the handler raised. The host's forced unwind of
// a thread it ends at exit (met where Python code that f calls takes the interpreter back) parks the
// thread instead.
template <class R, class F>
R guarded(R failure, F&& f) noexcept {
  CallWatch watch;  // also makes the thread's per-thread state on its first call
  try {
    R r = f();
    if (watch.stopped()) [[unlikely]] {
      if constexpr (std::is_same_v<R, PyObject*>) Py_XDECREF(r);
      watch.raise_stop();
      return failure;
    }
    return r;
  } catch (abi::__forced_unwind&) {
    park_thread();
  } catch (...) {
    translate_current_exception();
    if (watch.stopped()) watch.raise_stop();
    return failure;
  }
}

template <class F, class Obj>
decltype(auto) call_body(F body, Call& c, Obj& value, Args& a) {
  if constexpr (body_traits<F>::arity == 2)
    return body(c, value, a);
  else
    return body(c, value);
}

template <class F>
decltype(auto) call_free_body(F body, Call& c, Args& a) {
  if constexpr (body_traits<F>::arity == 1)
    return body(c, a);
  else
    return body(c);
}

template <class T>
bool take_receiver(BorrowGuard& g, PyObject* self, Borrow kind) {
  if constexpr (frozen_class<T>) {
    return true;
  } else {
    if (kind == Borrow::none) return true;
    return g.take(object_cast<T>(self)->flag, kind);
  }
}

template <const auto& Row>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  using F = decltype(Row.body);
  using T = receiver_of<F>;
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    std::array<PyObject*, Row.sig.count + 1> slots{};
    if (!match_arguments(Row.sig, Py_TYPE(self), Row.sig.name, args, static_cast<std::size_t>(nargs),
                         Keywords{kwnames, args + nargs, nullptr}, slots.data()))
      return nullptr;
    BorrowGuard g;
    if (!take_receiver<T>(g, self, Row.borrow)) return nullptr;
    Call c(self, Row.release);
    Args a(Row.sig, slots.data());
    return finish(call_body(Row.body, c, object_cast<T>(self)->value, a));
  });
}

template <const auto& Row>
PyObject* method_noargs_entry(PyObject* self, PyObject*) {
  using F = decltype(Row.body);
  using T = receiver_of<F>;
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    BorrowGuard g;
    if (!take_receiver<T>(g, self, Row.borrow)) return nullptr;
    Call c(self, Row.release);
    Args a(Row.sig, nullptr);
    return finish(call_body(Row.body, c, object_cast<T>(self)->value, a));
  });
}

// Functions and class methods: self is the module or the type.
template <const auto& Row, bool IsClassMethod>
PyObject* free_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    std::array<PyObject*, Row.sig.count + 1> slots{};
    PyTypeObject* owner = IsClassMethod ? reinterpret_cast<PyTypeObject*>(self) : nullptr;
    if (!match_arguments(Row.sig, owner, Row.sig.name, args, static_cast<std::size_t>(nargs),
                         Keywords{kwnames, args + nargs, nullptr}, slots.data()))
      return nullptr;
    Call c(self, Row.release);
    Args a(Row.sig, slots.data());
    return finish(call_free_body(Row.body, c, a));
  });
}

template <const auto& Row>
PyObject* free_noargs_entry(PyObject* self, PyObject*) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    Call c(self, Row.release);
    Args a(Row.sig, nullptr);
    return finish(call_free_body(Row.body, c, a));
  });
}

template <class T, const ClassDef& Def, const auto& Row>
PyObject* new_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr Signature Sig = parse_signature(Def.doc);
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    std::array<PyObject*, Sig.count + 1> slots{};
    PyObject* const* positional = PyTuple_GET_SIZE(args) ? &PyTuple_GET_ITEM(args, 0) : nullptr;
    if (!match_arguments(Sig, type, "__new__", positional, static_cast<std::size_t>(PyTuple_GET_SIZE(args)),
                         Keywords{nullptr, nullptr, kwargs}, slots.data()))
      return nullptr;
    Call c(reinterpret_cast<PyObject*>(type), Row.release);
    Args a(Sig, slots.data());
    auto value = finish_value<T>(Row.body(c, a));
    if (!value) return nullptr;
    return new_object<T>(std::move(*value), type).release();
  });
}

template <const auto& Row>
PyObject* getter_entry(PyObject* self, void*) {
  using T = receiver_of<decltype(Row.get)>;
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    BorrowGuard g;
    if (!take_receiver<T>(g, self, Row.get_borrow)) return nullptr;
    Call c(self, Row.get_release);
    return finish(Row.get(c, object_cast<T>(self)->value));
  });
}

template <const auto& Row>
int setter_entry(PyObject* self, PyObject* value, void*) {
  using S = decltype(Row.set);
  using T = receiver_of<S>;
  using V = std::remove_cvref_t<typename body_traits<S>::template arg<1>>;
  return guarded<int>(-1, [&]() -> int {
    if (!value) {
      raise(PyExc_AttributeError, "property has no deleter");
      return -1;
    }
    auto converted = FromPy<V>::convert(value);
    if (!converted) {
      add_argument_note(Row.value_name);
      return -1;
    }
    BorrowGuard g;
    if (!take_receiver<T>(g, self, Row.set_borrow)) return -1;
    Call c(self, Release::no);
    if constexpr (std::is_void_v<typename body_traits<S>::result>) {
      Row.set(c, object_cast<T>(self)->value, std::move(*converted));
      return 0;
    } else {
      return finish_status(Row.set(c, object_cast<T>(self)->value, std::move(*converted))) ? 0 : -1;
    }
  });
}

template <const auto& Row>
PyObject* unary_entry(PyObject* self) {
  using T = receiver_of<decltype(Row.body)>;
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    BorrowGuard g;
    if (!take_receiver<T>(g, self, Row.borrow)) return nullptr;
    Call c(self, Release::no);
    return finish(Row.body(c, object_cast<T>(self)->value));
  });
}

// A slot whose body returns a plain value V: the receiver is taken, the body run, and its value
// converted to the slot's result; `error` signals a raised exception.
template <const auto& Row, class V, class Out, class Convert>
Out value_entry(PyObject* self, Out error, Convert convert) {
  using T = receiver_of<decltype(Row.body)>;
  return guarded<Out>(error, [&]() -> Out {
    BorrowGuard g;
    if (!take_receiver<T>(g, self, Row.borrow)) return error;
    Call c(self, Release::no);
    auto v = finish_value<V>(Row.body(c, object_cast<T>(self)->value));
    if (!v) return error;
    return convert(*v);
  });
}

template <const auto& Row>
Py_ssize_t length_entry(PyObject* self) {
  return value_entry<Row, std::size_t>(self, Py_ssize_t{-1}, [](std::size_t n) -> Py_ssize_t {
    if (n > static_cast<std::size_t>(PY_SSIZE_T_MAX)) {
      raise(PyExc_OverflowError, "cannot fit 'int' into an index-sized integer");
      return -1;
    }
    return static_cast<Py_ssize_t>(n);
  });
}

template <const auto& Row>
int bool_entry(PyObject* self) {
  return value_entry<Row, bool>(self, -1, [](bool b) { return b ? 1 : 0; });
}

template <const auto& Row>
Py_hash_t hash_entry(PyObject* self) {
  return value_entry<Row, std::uint64_t>(self, Py_hash_t{-1}, [](std::uint64_t h) {
    auto v = static_cast<Py_hash_t>(h);
    return v == -1 ? Py_hash_t{-2} : v;
  });
}

template <const auto& Row>
PyObject* subscript_entry(PyObject* self, PyObject* key) {
  using T = receiver_of<decltype(Row.body)>;
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    BorrowGuard g;
    if (!take_receiver<T>(g, self, Row.borrow)) return nullptr;
    Call c(self, Release::no);
    return finish(Row.body(c, object_cast<T>(self)->value, key));
  });
}

template <const auto& Row>
PyObject* item_entry(PyObject* self, Py_ssize_t i) {
  Ref key = Ref::steal(PyLong_FromSsize_t(i));
  if (!key) return nullptr;
  return subscript_entry<Row>(self, key.get());
}

template <const auto& Row>
PyObject* compare_entry(PyObject* self, PyObject* other, int op) {
  using T = receiver_of<decltype(Row.body)>;
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    BorrowGuard g;
    if (!take_receiver<T>(g, self, Row.borrow)) return nullptr;
    Call c(self, Release::no);
    return finish(Row.body(c, object_cast<T>(self)->value, other, static_cast<CompareOp>(op)));
  });
}

template <const auto& Row>
PyObject* binary_entry(PyObject* a, PyObject* b) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    Call c(a, Release::no);
    return finish(Row.body(c, a, b));
  });
}

template <class T>
void dealloc(PyObject* o) {
  PyTypeObject* type = Py_TYPE(o);
  object_cast<T>(o)->value.~T();
  type->tp_free(o);
  Py_DECREF(type);
}

template <class Fn>
void* slot_function(Fn f) {
  return reinterpret_cast<void*>(f);
}

template <class Fn>
PyCFunction as_cfunction(Fn f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

// Collects the tables of one type while it is built; they live as long as the process.
struct TypeTables {
  std::vector<PyMethodDef> methods;
  std::vector<PyGetSetDef> properties;
  std::vector<PyType_Slot> slots;
  bool has_constructor = false;
};

PyTypeObject* build_type(const char* name, const char* doc, std::size_t basicsize, TypeTables* tables);

template <const auto& Row>
void add_slot(TypeTables& t) {
  constexpr int Id = std::remove_cvref_t<decltype(Row)>::id;
  if constexpr (Id == Py_mp_length) {
    t.slots.push_back({Id, slot_function(&length_entry<Row>)});
  } else if constexpr (Id == Py_tp_hash) {
    t.slots.push_back({Id, slot_function(&hash_entry<Row>)});
  } else if constexpr (Id == Py_nb_bool) {
    t.slots.push_back({Id, slot_function(&bool_entry<Row>)});
  } else if constexpr (Id == Py_mp_subscript) {
    t.slots.push_back({Id, slot_function(&subscript_entry<Row>)});
    t.slots.push_back({Py_sq_item, slot_function(&item_entry<Row>)});
  } else if constexpr (Id == Py_tp_richcompare) {
    t.slots.push_back({Id, slot_function(&compare_entry<Row>)});
  } else if constexpr (Id == Py_nb_add || Id == Py_nb_subtract || Id == Py_nb_multiply || Id == Py_nb_true_divide) {
    t.slots.push_back({Id, slot_function(&binary_entry<Row>)});
  } else {
    static_assert(Id == Py_tp_repr || Id == Py_tp_str || Id == Py_nb_negative || Id == Py_nb_absolute ||
                      Id == Py_nb_float,
                  "slot not served by the frame; use RawSlot");
    t.slots.push_back({Id, slot_function(&unary_entry<Row>)});
  }
}

template <class R, template <class...> class Tmpl>
inline constexpr bool is_row = false;
template <template <class...> class Tmpl, class... A>
inline constexpr bool is_row<Tmpl<A...>, Tmpl> = true;

template <class R>
inline constexpr bool is_slot_row = false;
template <int Id, class F>
inline constexpr bool is_slot_row<Slot<Id, F>> = true;

template <class T, const ClassDef& Def, const auto& Row>
void add_row(TypeTables& t) {
  using R = std::remove_cvref_t<decltype(Row)>;
  if constexpr (is_row<R, Method>) {
    static_assert(std::is_same_v<receiver_of<decltype(Row.body)>, T>, "method of another class");
    if constexpr (Row.sig.count == 0)
      t.methods.push_back({row_name<Row>.text.data(), as_cfunction(&method_noargs_entry<Row>), METH_NOARGS, Row.doc});
    else
      t.methods.push_back(
          {row_name<Row>.text.data(), as_cfunction(&method_entry<Row>), METH_FASTCALL | METH_KEYWORDS, Row.doc});
  } else if constexpr (is_row<R, ClassMethod>) {
    t.methods.push_back({row_name<Row>.text.data(), as_cfunction(&free_entry<Row, true>),
                         METH_FASTCALL | METH_KEYWORDS | METH_CLASS, Row.doc});
  } else if constexpr (is_row<R, Property>) {
    static_assert(std::is_same_v<receiver_of<decltype(Row.get)>, T>, "property of another class");
    setter set = nullptr;
    if constexpr (!std::is_same_v<std::remove_cvref_t<decltype(Row.set)>, NoSetter>) set = &setter_entry<Row>;
    t.properties.push_back({Row.name, &getter_entry<Row>, set, Row.doc, nullptr});
  } else if constexpr (is_row<R, Constructor>) {
    t.slots.push_back({Py_tp_new, slot_function(&new_entry<T, Def, Row>)});
    t.has_constructor = true;
  } else if constexpr (std::is_same_v<R, RawSlot>) {
    t.slots.push_back({Row.id, Row.function});
  } else {
    static_assert(is_slot_row<R>, "not a row");
    if constexpr (R::id != Py_nb_add && R::id != Py_nb_subtract && R::id != Py_nb_multiply &&
                  R::id != Py_nb_true_divide)
      static_assert(std::is_same_v<receiver_of<decltype(Row.body)>, T>, "slot of another class");
    add_slot<Row>(t);
  }
}

}  // namespace detail

// Builds T's type object from its class row and member rows, once per process (cell keeps it).
// Returns the type (borrowed) or null with an exception set.
template <class T, const ClassDef& Def, const auto&... Rows>
PyTypeObject* make_type(OnceObject& cell) {
  PyObject* type = cell.get([]() -> PyObject* {
    auto* t = new detail::TypeTables();
    (detail::add_row<T, Def, Rows>(*t), ...);
    t->slots.push_back({Py_tp_dealloc, detail::slot_function(&detail::dealloc<T>)});
    return reinterpret_cast<PyObject*>(detail::build_type(Def.name, Def.doc, sizeof(Object<T>), t));
  });
  return reinterpret_cast<PyTypeObject*>(type);
}

// A module function object bound to module (its __module__ the module's name).
template <const auto& Row>
Ref make_function(PyObject* module) {
  static PyMethodDef def = [] {
    if constexpr (Row.sig.count == 0)
      return PyMethodDef{detail::row_name<Row>.text.data(),
                         detail::as_cfunction(&detail::free_noargs_entry<Row>), METH_NOARGS, Row.doc};
    else
      return PyMethodDef{
          detail::row_name<Row>.text.data(),
          detail::as_cfunction(&detail::free_entry<Row, false>),
          METH_FASTCALL | METH_KEYWORDS, Row.doc};
  }();
  Ref name = Ref::steal(PyModule_GetNameObject(module));
  if (!name) return {};
  return Ref::steal(PyCFunction_NewEx(&def, module, name.get()));
}

}  // namespace gy::py

// The standard conversions, so that every user of the frame sees them.
#include "python/convert.hpp"

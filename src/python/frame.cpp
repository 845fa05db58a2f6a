#include "python/frame.hpp"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <new>
#include <stdexcept>

namespace gy::py {

// ---------------------------------------------------------------------------------------------
// Exceptions

std::unexpected<Raised> raise(PyObject* type, std::string_view message) {
  if (Ref text = Ref::steal(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size()))))
    PyErr_SetObject(type, text.get());
  return raised();
}

std::unexpected<Raised> raise(const Error& error) { return to_py_err(error).raise(); }

namespace {

constinit OnceObject puzzle_error_cell;
constinit OnceObject panic_exception_cell;

// The pending exception as "Type: text", for the report of a failed exception creation.
std::string describe_pending() {
  PyObject* exc = compat::fetch_exception();
  if (!exc) return "no exception set";
  std::string out = type_name(exc);
  if (Ref text = Ref::steal(PyObject_Str(exc))) {
    Py_ssize_t n = 0;
    if (const char* s = PyUnicode_AsUTF8AndSize(text.get(), &n)) out += cat(": ", std::string_view(s, n));
  }
  PyErr_Clear();
  Py_DECREF(exc);
  return out;
}

PyObject* new_exception_type(const char* name, const char* doc, PyObject* base) {
  PyObject* type = PyErr_NewExceptionWithDoc(name, doc, base, nullptr);
  if (!type) panic(cat("Failed to initialize new exception type.: ", describe_pending()));
  return type;
}

}  // namespace

PyObject* puzzle_error_type() {
  return puzzle_error_cell.get([] {
    return new_exception_type("gyrelle._native.PuzzleError", "Base class for errors raised by the gyrelle extension.",
                              PyExc_Exception);
  });
}

PyObject* panic_exception_type() {
  return panic_exception_cell.get([] {
    return new_exception_type(
        "pyo3_runtime.PanicException",
        "Raised when an internal invariant of the extension breaks.\n\n"
        "It derives from BaseException, like SystemExit, so that handlers for Exception do not\n"
        "swallow it.",
        PyExc_BaseException);
  });
}

PyObject* PyErr::type_object() const {
  switch (type) {
    case Type::value: return PyExc_ValueError;
    case Type::arithmetic: return PyExc_ArithmeticError;
    case Type::zero_division: return PyExc_ZeroDivisionError;
    case Type::type: return PyExc_TypeError;
    case Type::puzzle: return puzzle_error_type();
    case Type::runtime: return PyExc_RuntimeError;
  }
  return PyExc_RuntimeError;
}

std::unexpected<Raised> PyErr::raise() const {
  PyObject* t = type_object();
  if (!t) return raised();
  return ::gy::py::raise(t, message);
}

PyErr to_py_err(Error error) {
  using T = PyErr::Type;
  T type = T::runtime;
  bool divides = error.message.find("Division by zero") != std::string::npos;
  switch (error.kind) {
    case ErrorKind::Range: type = divides ? T::zero_division : T::value; break;
    case ErrorKind::Division: type = divides ? T::zero_division : T::arithmetic; break;
    case ErrorKind::Type: type = T::type; break;
    case ErrorKind::Parse:
    case ErrorKind::State: type = T::puzzle; break;
    case ErrorKind::Other: type = T::runtime; break;
  }
  return {type, std::move(error.message)};
}

PyErr error_text(Error error, std::string_view text) {
  PyErr e = to_py_err(std::move(error));
  e.message = cat(text, ": ", e.message);
  return e;
}

void add_argument_note(std::string_view name) {
  PyObject* exc = compat::fetch_exception();
  if (!exc) return;
  std::string text = cat("while processing '", name, "'");
  Ref note = Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  Ref done;
  if (note) done = Ref::steal(PyObject_CallMethod(exc, "add_note", "O", note.get()));
  if (!done) PyErr_Clear();  // the original exception matters more than its note
  compat::restore_exception(exc);
}

std::string type_name(PyObject* obj) {
  Ref name = Ref::steal(PyType_GetName(Py_TYPE(obj)));
  Py_ssize_t n = 0;
  const char* s = name ? PyUnicode_AsUTF8AndSize(name.get(), &n) : nullptr;
  if (!s) {
    PyErr_Clear();
    return Py_TYPE(obj)->tp_name;
  }
  return std::string(s, static_cast<std::size_t>(n));
}

std::unexpected<Raised> raise_not_instance(PyObject* obj, std::string_view expected) {
  return raise(PyExc_TypeError, cat("'", type_name(obj), "' object is not an instance of '", expected, "'"));
}

namespace {

void raise_panic(const std::string& report) {
  PyObject* type = nullptr;
  try {
    type = panic_exception_type();
  } catch (...) {
  }
  if (!type) {
    PyErr_Clear();
    type = PyExc_SystemError;
  }
  raise(type, report);
}

}  // namespace

void translate_current_exception() noexcept {
  try {
    throw;
  } catch (const Interrupted&) {
    // A stop that no signal handler asked for (the handler's own exception takes its place).
    PyErr_SetNone(PyExc_KeyboardInterrupt);
  } catch (const Panic& p) {
    raise_panic(p.what());  // its report is already on stderr
  } catch (const MemoryRefusal& e) {
    raise(PyExc_MemoryError, e.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    std::string report = cat("unexpected exception: ", e.what());
    std::fprintf(stderr, "%s\n", report.c_str());
    std::fflush(stderr);
    raise_panic(report);
  } catch (...) {
    std::string report = "unexpected exception of unknown type";
    std::fprintf(stderr, "%s\n", report.c_str());
    std::fflush(stderr);
    raise_panic(report);
  }
}

// ---------------------------------------------------------------------------------------------
// Releasing the interpreter

void park_thread() noexcept {
  for (;;) pause();
}

void reattach(PyThreadState* ts) noexcept {
  try {
    PyEval_RestoreThread(ts);
  } catch (abi::__forced_unwind&) {
    // Parked before any destructor of the call runs: they would touch objects without the
    // interpreter.
    park_thread();
  }
}

// ---------------------------------------------------------------------------------------------
// Signals

namespace detail {
namespace {

// Moves on in the child of every fork, where the forking thread is the main thread.
std::atomic<unsigned> fork_generation{0};

// What the frame keeps per thread: whether the thread runs the host's signal handlers (the main
// thread of the main interpreter: the process's first thread, or the one that forked it), found
// once per process, and the watch of its innermost call.
struct ThreadMemo {
  unsigned generation = ~0u;
  bool handles_signals = false;
  CallWatch* innermost = nullptr;
};
thread_local ThreadMemo thread_memo;

// The memo, brought up to date on a thread's first call (its per-thread state made then) and in a
// forked child.
ThreadMemo& memo() {
  ThreadMemo& m = thread_memo;
  if (const unsigned g = fork_generation.load(std::memory_order_relaxed); m.generation != g) [[unlikely]] {
    static const bool registered =
        pthread_atfork(nullptr, nullptr, [] { fork_generation.fetch_add(1, std::memory_order_relaxed); }) == 0;
    (void)registered;
    pool::prepare_thread();
    m.handles_signals = gettid() == getpid() && PyInterpreterState_Get() == PyInterpreterState_Main();
    m.generation = g;
  }
  return m;
}

}  // namespace

CallWatch::CallWatch() noexcept {
  ThreadMemo& m = memo();
  if (!m.handles_signals) return;
  previous_ = m.innermost;
  m.innermost = this;
  watch_.emplace(&CallWatch::check, this);
}

CallWatch::~CallWatch() {
  if (!watch_) return;
  thread_memo.innermost = previous_;
  Py_XDECREF(stash_);
}

CallWatch* CallWatch::current() noexcept { return thread_memo.innermost; }

void CallWatch::raise_stop() noexcept {
  PyErr_Clear();
  compat::restore_exception(std::exchange(stash_, nullptr));
}

bool CallWatch::check(void* self) noexcept {
  auto* w = static_cast<CallWatch*>(self);
  if (w->stash_) return true;
  // Taking the interpreter back may wait for a thread that forks: the fork must not wait for this one.
  pool::Outside away;
  PyThreadState* ts = w->detached;
  if (ts) reattach(ts);
  // Handlers run only where no exception is pending already; the call's own failure goes first.
  if (!PyErr_Occurred() && PyErr_CheckSignals() < 0) w->stash_ = compat::fetch_exception();
  if (ts) w->detached = PyEval_SaveThread();
  return w->stash_ != nullptr;
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------
// Borrows

bool BorrowGuard::take(BorrowFlag& flag, Borrow kind) {
  if (kind == Borrow::none) return true;
  if (kind == Borrow::exclusive) {
    if (!flag.try_exclusive()) {
      raise(PyExc_RuntimeError, "Already borrowed");
      return false;
    }
  } else if (!flag.try_shared()) {
    raise(PyExc_RuntimeError, "Already mutably borrowed");
    return false;
  }
  flag_ = &flag;
  kind_ = kind;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Argument matching

namespace detail {
namespace {

constexpr std::string_view module_name = "gyrelle._native";

// "Puzzle.turn()" or "build_many()".
std::string full_name(PyTypeObject* owner, std::string_view name) {
  if (!owner) return cat(name, "()");
  std::string_view type = owner->tp_name;
  if (auto dot = type.rfind('.'); dot != std::string_view::npos) type.remove_prefix(dot + 1);
  return cat(type, ".", name, "()");
}

// 'a', 'a' and 'b', 'a', 'b', and 'c'
void append_names(std::string& out, const std::vector<std::string_view>& names) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i != 0) {
      if (names.size() > 2) out += ',';
      out += i + 1 == names.size() ? " and " : " ";
    }
    out += cat("'", names[i], "'");
  }
}

bool missing(const Signature& sig, PyTypeObject* owner, std::string_view name, PyObject** out, std::size_t from,
             std::size_t to, const char* kind) {
  std::vector<std::string_view> names;
  for (std::size_t i = from; i < to; ++i)
    if (sig.required[i] && !out[i]) names.push_back(sig.names[i]);
  if (names.empty()) return true;
  std::string msg = cat(full_name(owner, name), " missing ", names.size(), " required ", kind, " ",
                        names.size() == 1 ? "argument" : "arguments", ": ");
  append_names(msg, names);
  raise(PyExc_TypeError, msg);
  return false;
}

// The str of obj as UTF-8, lone surrogates and other unencodable characters as backslash escapes;
// "?" when obj has no text at all. Leaves no exception set.
std::string escaped_text(PyObject* obj) {
  Ref text = Ref::steal(PyUnicode_Check(obj) ? Py_NewRef(obj) : PyObject_Str(obj));
  Ref bytes = text ? Ref::steal(PyUnicode_AsEncodedString(text.get(), "utf-8", "backslashreplace")) : Ref();
  if (!bytes) {
    PyErr_Clear();
    return "?";
  }
  return std::string(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
}

// Index of the parameter called key among [from, to), or -1.
int find_parameter(const Signature& sig, std::string_view key, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i)
    if (sig.names[i] == key) return static_cast<int>(i);
  return -1;
}

}  // namespace

bool match_arguments(const Signature& sig, PyTypeObject* owner, std::string_view name, PyObject* const* positional,
                     std::size_t npositional, const Keywords& keywords, PyObject** out) {
  if (npositional > sig.positional) {
    const char* was = npositional == 1 ? "was" : "were";
    std::string msg =
        sig.required_positional != sig.positional
            ? cat(full_name(owner, name), " takes from ", int(sig.required_positional), " to ", int(sig.positional),
                  " positional arguments but ", npositional, " ", was, " given")
            : cat(full_name(owner, name), " takes ", int(sig.positional), " positional arguments but ", npositional,
                  " ", was, " given");
    raise(PyExc_TypeError, msg);
    return false;
  }
  for (std::size_t i = 0; i < npositional; ++i) out[i] = positional[i];

  std::vector<std::string_view> positional_only_by_keyword;
  auto place = [&](PyObject* key, PyObject* value) -> bool {
    Py_ssize_t n = 0;
    const char* s = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &n) : nullptr;
    if (!s) {
      // No parameter name is such a key; its text is written with escapes for what UTF-8 cannot hold.
      PyErr_Clear();
      raise(PyExc_TypeError,
            cat(full_name(owner, name), " got an unexpected keyword argument '", escaped_text(key), "'"));
      return false;
    }
    std::string_view k(s, static_cast<std::size_t>(n));
    int i = find_parameter(sig, k, sig.positional_only, sig.count);
    if (i < 0) {
      if (find_parameter(sig, k, 0, sig.positional_only) >= 0) {
        positional_only_by_keyword.push_back(sig.names[find_parameter(sig, k, 0, sig.positional_only)]);
        return true;
      }
      raise(PyExc_TypeError, cat(full_name(owner, name), " got an unexpected keyword argument '", k, "'"));
      return false;
    }
    if (out[i]) {
      raise(PyExc_TypeError, cat(full_name(owner, name), " got multiple values for argument '", k, "'"));
      return false;
    }
    out[i] = value;
    return true;
  };

  if (keywords.names) {
    Py_ssize_t n = PyTuple_GET_SIZE(keywords.names);
    for (Py_ssize_t j = 0; j < n; ++j)
      if (!place(PyTuple_GET_ITEM(keywords.names, j), keywords.values[j])) return false;
  } else if (keywords.dict) {
    // A keyword dictionary belongs to this call alone.
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(keywords.dict, &pos, &key, &value))
      if (!place(key, value)) return false;
  }
  if (!positional_only_by_keyword.empty()) {
    std::string msg = cat(full_name(owner, name), " got some positional-only arguments passed as keyword arguments: ");
    append_names(msg, positional_only_by_keyword);
    raise(PyExc_TypeError, msg);
    return false;
  }
  if (npositional < sig.required_positional &&
      !missing(sig, owner, name, out, npositional, sig.required_positional, "positional"))
    return false;
  return missing(sig, owner, name, out, sig.positional, sig.count, "keyword");
}

// ---------------------------------------------------------------------------------------------
// Types

PyTypeObject* build_type(const char* name, const char* doc, std::size_t basicsize, TypeTables* t) {
  if (!t->methods.empty()) {
    t->methods.push_back({nullptr, nullptr, 0, nullptr});
    t->slots.push_back({Py_tp_methods, t->methods.data()});
  }
  if (!t->properties.empty()) {
    t->properties.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
    t->slots.push_back({Py_tp_getset, t->properties.data()});
  }
  t->slots.push_back({Py_tp_doc, const_cast<char*>(doc)});
  t->slots.push_back({0, nullptr});
  unsigned long flags = Py_TPFLAGS_DEFAULT | compat::immutable_type_flags;
  if (!t->has_constructor) flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;
  // Created under the qualified name so that __module__ is the module's; the type's own name then
  // drops the prefix (it points into the type's copy of the qualified name).
  std::string qualified = cat(module_name, ".", name);
  PyType_Spec type_def{qualified.c_str(), static_cast<int>(basicsize), 0, static_cast<unsigned int>(flags),
                   t->slots.data()};
  // The tables stay referenced by the type (methods, properties) for the life of the process.
  PyObject* type = PyType_FromSpec(&type_def);
  if (!type) return nullptr;
  auto* tp = reinterpret_cast<PyTypeObject*>(type);
  tp->tp_name += module_name.size() + 1;
  if (compat::freeze_type(reinterpret_cast<PyTypeObject*>(type)) < 0) {
    Py_DECREF(type);
    return nullptr;
  }
  return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace detail
}  // namespace gy::py

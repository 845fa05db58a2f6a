// The few CPython calls that differ between the 3.11 headers of this machine and free-threaded 3.14:
// exception fetching, critical sections, type freezing, text writers. Everything else the binding
// uses is common to both.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <string_view>

namespace gy::py::compat {

#ifdef Py_GIL_DISABLED
inline constexpr bool gil_disabled = true;
#else
inline constexpr bool gil_disabled = false;
#endif

// The pending exception as one normalised object (new reference), or null when none is pending.
// The error indicator is cleared.
inline PyObject* fetch_exception() {
#if PY_VERSION_HEX >= 0x030C0000
  return PyErr_GetRaisedException();
#else
  PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
  PyErr_Fetch(&type, &value, &tb);
  if (!type) return nullptr;
  PyErr_NormalizeException(&type, &value, &tb);
  if (tb && value) PyException_SetTraceback(value, tb);
  Py_XDECREF(type);
  Py_XDECREF(tb);
  return value;
#endif
}

// Makes exc (stolen; null does nothing) the pending exception.
inline void restore_exception(PyObject* exc) {
  if (!exc) return;
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(exc);
#else
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exc));
  Py_INCREF(type);
  PyErr_Restore(type, exc, PyException_GetTraceback(exc));
#endif
}

// d[key] as a new reference in *out (null when absent): 1 found, 0 absent, -1 with an exception.
inline int dict_item(PyObject* d, const char* key, PyObject** out) {
#if PY_VERSION_HEX >= 0x030D0000
  return PyDict_GetItemStringRef(d, key, out);
#else
  PyObject* k = PyUnicode_FromString(key);
  if (!k) {
    *out = nullptr;
    return -1;
  }
  PyObject* v = PyDict_GetItemWithError(d, k);
  Py_DECREF(k);
  if (!v) {
    *out = nullptr;
    return PyErr_Occurred() ? -1 : 0;
  }
  Py_INCREF(v);
  *out = v;
  return 1;
#endif
}

// Whether the host may end threads other than the one shutting it down by a forced unwind (the
// versions before 3.14, whose threads that take the interpreter back during shutdown are ended so;
// later ones hang them instead), and whether the interpreter is shutting down now.
inline constexpr bool ends_threads_at_exit = PY_VERSION_HEX < 0x030E0000;
inline bool finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsFinalizing();
#else
  return _Py_IsFinalizing();
#endif
}

// obj.name as a new reference in *out (null when there is no such attribute, without making the
// AttributeError): 1 found, 0 absent, -1 with another exception set.
inline int optional_attr(PyObject* obj, const char* name, PyObject** out) {
#if PY_VERSION_HEX >= 0x030D0000
  return PyObject_GetOptionalAttrString(obj, name, out);
#else
  PyObject* key = PyUnicode_FromString(name);
  if (!key) {
    *out = nullptr;
    return -1;
  }
  int found = _PyObject_LookupAttr(obj, key, out);
  Py_DECREF(key);
  return found;
#endif
}

// Locks obj's own mutex for the scope in a free-threaded build; nothing under a GIL.
class CriticalSection {
 public:
  explicit CriticalSection(PyObject* obj) {
#if PY_VERSION_HEX >= 0x030D0000
    PyCriticalSection_Begin(&section_, obj);
#else
    (void)obj;
#endif
  }
  ~CriticalSection() {
#if PY_VERSION_HEX >= 0x030D0000
    PyCriticalSection_End(&section_);
#endif
  }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

 private:
#if PY_VERSION_HEX >= 0x030D0000
  PyCriticalSection section_;
#endif
};

// Type flags that a new heap type is created with. Before 3.14 immutability comes from the flag;
// from 3.14 on freeze_type() does it after creation.
inline constexpr unsigned long immutable_type_flags =
#if PY_VERSION_HEX >= 0x030E0000
    0;
#else
    Py_TPFLAGS_IMMUTABLETYPE;
#endif

// 0 on success, -1 with an exception set.
inline int freeze_type(PyTypeObject* type) {
#if PY_VERSION_HEX >= 0x030E0000
  return PyType_Freeze(type);
#else
  (void)type;
  return 0;
#endif
}

// Builds one str from pieces; finish() returns a new reference or null with an exception set.
class TextWriter {
 public:
  TextWriter() {
#if PY_VERSION_HEX >= 0x030E0000
    writer_ = PyUnicodeWriter_Create(0);
#endif
  }
  ~TextWriter() {
#if PY_VERSION_HEX >= 0x030E0000
    PyUnicodeWriter_Discard(writer_);
#endif
  }
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;

  // UTF-8 text; false (exception set) on failure.
  bool write(std::string_view utf8) {
#if PY_VERSION_HEX >= 0x030E0000
    return writer_ && PyUnicodeWriter_WriteUTF8(writer_, utf8.data(), static_cast<Py_ssize_t>(utf8.size())) == 0;
#else
    text_.append(utf8);
    return true;
#endif
  }

  PyObject* finish() {
#if PY_VERSION_HEX >= 0x030E0000
    if (!writer_) return nullptr;
    PyObject* out = PyUnicodeWriter_Finish(writer_);
    writer_ = nullptr;
    return out;
#else
    return PyUnicode_FromStringAndSize(text_.data(), static_cast<Py_ssize_t>(text_.size()));
#endif
  }

 private:
#if PY_VERSION_HEX >= 0x030E0000
  PyUnicodeWriter* writer_ = nullptr;
#else
  std::string text_;
#endif
};

}  // namespace gy::py::compat

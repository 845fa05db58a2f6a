// Array: one owned contiguous buffer with a shape and a NumPy type string, the form in which bulk
// numbers leave the module; and the reader of whole-number array arguments.
#pragma once

#include "python/convert.hpp"
#include "layout.hpp"
#include "render/framebuffer.hpp"
#include "python/frame.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace gy::py {

enum class ElementType : std::uint8_t { flag, u8, u16, u32, f32 };

// "|b1", "|u1", "<u2", "<u4", "<f4" and 1, 1, 2, 4, 4.
const char* typestr_of(ElementType t);
std::size_t itemsize_of(ElementType t);

// The narrowest whole-number type that holds every value below bound: "|u1" below 257, "<u2" below
// 65537, else "<u4".
ElementType whole_type_for_bound(std::size_t bound);

// The Array element type of whole numbers of type T.
template <class T>
constexpr ElementType element_type_of() {
  if constexpr (sizeof(T) == 1)
    return ElementType::u8;
  else if constexpr (sizeof(T) == 2)
    return ElementType::u16;
  else
    return ElementType::u32;
}

// f(T{}) for the element type T of `width`.
template <class F>
auto at_width(Width width, F&& f) {
  switch (width) {
    case Width::u8:
      return f(std::uint8_t{});
    case Width::u16:
      return f(std::uint16_t{});
    case Width::u32:
      break;
  }
  return f(std::uint32_t{});
}

// An uninitialised byte allocation, to be filled by its producer and then moved into an Array.
// Large buffers ask for large pages before their first touch, and a freed one is kept for the next.
class ArrayBuffer {
 public:
  ArrayBuffer() : ArrayBuffer(0) {}
  // One that memory could never hold is refused before it is asked for.
  explicit ArrayBuffer(std::size_t bytes) : data_((require_memory(bytes, "an array"), bytes)) {}
  std::uint8_t* data() { return data_.data(); }
  const std::uint8_t* data() const { return data_.data(); }  // never null, also when empty
  std::size_t size() const { return data_.size(); }
  std::span<std::uint8_t> span() { return data_.span(); }
  // The bytes as whole values of T (size() / sizeof(T) of them), for producers writing natively.
  template <class T>
  std::span<T> values() {
    return {reinterpret_cast<T*>(data_.data()), size() / sizeof(T)};
  }

 private:
  Block<std::uint8_t> data_;
};

class Array {
 public:
  using Shape = std::vector<std::size_t>;

  // Direct construction from filled bytes: flags (each byte 0 or 1) or 8-bit whole numbers. The
  // buffer holds the product of the shape bytes (the producer's duty).
  static Array flags(ArrayBuffer data, Shape shape) { return Array(std::move(data), std::move(shape), ElementType::flag); }
  static Array bytes(ArrayBuffer data, Shape shape) { return Array(std::move(data), std::move(shape), ElementType::u8); }

  const std::uint8_t* data() const { return data_.data(); }
  std::size_t byte_size() const { return data_.size(); }
  const Shape& shape() const { return shape_; }
  const char* typestr() const { return typestr_; }
  std::size_t itemsize() const { return itemsize_; }
  ElementType element_type() const { return type_; }
  std::size_t size() const { return data_.size() / itemsize_; }
  // The outermost extent, 0 without axes.
  std::size_t length() const { return shape_.empty() ? 0 : shape_[0]; }

  Array(Array&&) noexcept = default;
  Array& operator=(Array&&) noexcept = default;

 private:
  Array(ArrayBuffer data, Shape shape, ElementType type)
      : data_(std::move(data)), shape_(std::move(shape)), typestr_(typestr_of(type)), itemsize_(itemsize_of(type)),
        type_(type) {}
  friend Array array_of_type(ArrayBuffer, Shape, ElementType);

  ArrayBuffer data_;
  Shape shape_;
  const char* typestr_;
  std::size_t itemsize_;
  ElementType type_;
};

// An Array over a producer's filled buffer of one element type, values stored little-endian; the
// buffer holds the product of the shape elements.
Array array_of_type(ArrayBuffer data, Array::Shape shape, ElementType type);
// The same over values stored in the machine's byte order (through ArrayBuffer::values).
Array array_of_native(ArrayBuffer data, Array::Shape shape, ElementType type);

// Whole numbers, each below bound, in the type the bound selects (widened or cut to its low bytes);
// the product of shape equals values.size().
Array array_from_u8(std::span<const std::uint8_t> values, std::size_t bound, Array::Shape shape);
Array array_from_u16(std::span<const std::uint16_t> values, std::size_t bound, Array::Shape shape);
Array array_from_u32(std::span<const std::uint32_t> values, std::size_t bound, Array::Shape shape);
// "<f4", the values copied bit for bit.
Array array_from_f32(std::span<const float> values, Array::Shape shape);

template <>
PyTypeObject* type_object<Array>();

// The Python Array object holding value (null with an exception set when it cannot be made).
Ref new_array_object(Array value);
// Elements start .. start + count - 1 as a flat list (the range lies inside the buffer).
Ref array_to_list(const Array& a, std::size_t start, std::size_t count);
// (first, second) as two new Array objects.
Ref array_pair_tuple(Array first, Array second);

template <>
struct ToPy<Array> {
  static Ref convert(Array a) { return new_array_object(std::move(a)); }
};

// obj held shared when it is an Array; nullopt (no exception) when it is not.
PyResult<std::optional<Shared<Array>>> borrow_array_argument(PyObject* obj);

// Whole numbers from an Array, an object with the NumPy array interface, bytes and bytearray, a
// sequence of ints or a sequence of such sequences, flattened in row order and checked against the
// width of the target type.
PyResult<std::vector<std::uint8_t>> extract_whole_numbers_u8(PyObject* obj);
PyResult<std::vector<std::uint16_t>> extract_whole_numbers_u16(PyObject* obj);
PyResult<std::vector<std::uint32_t>> extract_whole_numbers_u32(PyObject* obj);

// The values of an object with a usable C-contiguous array interface of integers; nullopt (no
// exception) when it offers none.
PyResult<std::optional<std::vector<std::uint32_t>>> array_interface_whole_numbers(PyObject* obj);

// Cuts frames stored back to back into images of width x height, each with its own copy: chunks of
// chunk_length bytes (the last may be shorter), each of which must be width * height * 4 bytes long,
// else ValueError "frame size does not match".
PyResult<std::vector<Image>> split_frames(std::span<const std::uint8_t> frames, std::size_t chunk_length,
                                          std::uint32_t width, std::uint32_t height);

}  // namespace gy::py

// SipHash-1-3 under the all-zero key: the hash of the immutable value classes. Bytes are fed with
// write() in any number of pieces (the result depends only on their concatenation); `Int::hash` and
// `Fraction::hash` feed their canonical bytes through it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gy {

class SipHasher13 {
 public:
  SipHasher13() = default;

  void write(const void* data, std::size_t size);
  void write_u8(std::uint8_t byte) { write(&byte, 1); }
  // The hash of everything written so far; the hasher stays usable.
  std::uint64_t finish() const;

 private:
  // The initial state: "somepseudorandomlygeneratedbytes" xor the zero key.
  std::uint64_t v0_ = 0x736f6d6570736575ull;
  std::uint64_t v1_ = 0x646f72616e646f6dull;
  std::uint64_t v2_ = 0x6c7967656e657261ull;
  std::uint64_t v3_ = 0x7465646279746573ull;
  std::uint64_t tail_ = 0;     // pending bytes, little-endian, not yet a full word
  std::size_t tail_size_ = 0;  // 0 .. 7
  std::uint64_t length_ = 0;   // bytes written, modulo 2^64
};

// The hash of one byte string.
std::uint64_t siphash13(const void* data, std::size_t size);

}  // namespace gy

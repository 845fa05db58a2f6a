#include "num/siphash.hpp"

#include <bit>
#include <cstring>

namespace gy {
namespace {

struct State {
  std::uint64_t v0, v1, v2, v3;

  void round() {
    v0 += v1;
    v1 = std::rotl(v1, 13);
    v1 ^= v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = std::rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = std::rotl(v1, 17);
    v1 ^= v2;
    v2 = std::rotl(v2, 32);
  }

  // One compression round per message word.
  void absorb(std::uint64_t m) {
    v3 ^= m;
    round();
    v0 ^= m;
  }
};

std::uint64_t load_le64(const unsigned char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  if constexpr (std::endian::native == std::endian::big) w = std::byteswap(w);
  return w;
}

}  // namespace

void SipHasher13::write(const void* data, std::size_t size) {
  auto* p = static_cast<const unsigned char*>(data);
  length_ += size;
  State s{v0_, v1_, v2_, v3_};
  if (tail_size_ != 0) {
    while (size != 0 && tail_size_ < 8) {
      tail_ |= std::uint64_t{*p++} << (8 * tail_size_++);
      --size;
    }
    if (tail_size_ < 8) return;  // state untouched
    s.absorb(tail_);
    tail_ = 0;
    tail_size_ = 0;
  }
  for (; size >= 8; size -= 8, p += 8) s.absorb(load_le64(p));
  for (std::size_t i = 0; i < size; ++i) tail_ |= std::uint64_t{p[i]} << (8 * i);
  tail_size_ = size;
  v0_ = s.v0;
  v1_ = s.v1;
  v2_ = s.v2;
  v3_ = s.v3;
}

std::uint64_t SipHasher13::finish() const {
  State s{v0_, v1_, v2_, v3_};
  s.absorb(tail_ | (length_ << 56));
  s.v2 ^= 0xff;
  s.round();
  s.round();
  s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

std::uint64_t siphash13(const void* data, std::size_t size) {
  SipHasher13 h;
  h.write(data, size);
  return h.finish();
}

}  // namespace gy

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "num/int.hpp"
#include "num/siphash.hpp"

namespace gy {
namespace {

using Bytes = std::vector<unsigned char>;

std::uint64_t rotl(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

// SipHash-c-d written out from its definition: whole message, any key, any round counts.
std::uint64_t reference_siphash(int c, int d, std::uint64_t k0, std::uint64_t k1, const Bytes& m) {
  std::uint64_t v0 = k0 ^ 0x736f6d6570736575ull, v1 = k1 ^ 0x646f72616e646f6dull;
  std::uint64_t v2 = k0 ^ 0x6c7967656e657261ull, v3 = k1 ^ 0x7465646279746573ull;
  auto sipround = [&] {
    v0 += v1; v1 = rotl(v1, 13); v1 ^= v0; v0 = rotl(v0, 32);
    v2 += v3; v3 = rotl(v3, 16); v3 ^= v2;
    v0 += v3; v3 = rotl(v3, 21); v3 ^= v0;
    v2 += v1; v1 = rotl(v1, 17); v1 ^= v2; v2 = rotl(v2, 32);
  };
  // Pad with zeros to one byte short of a multiple of 8, then the length byte.
  Bytes padded = m;
  while (padded.size() % 8 != 7) padded.push_back(0);
  padded.push_back(static_cast<unsigned char>(m.size() & 0xff));
  for (std::size_t i = 0; i < padded.size(); i += 8) {
    std::uint64_t w = 0;
    for (int j = 7; j >= 0; --j) w = (w << 8) | padded[i + static_cast<std::size_t>(j)];
    v3 ^= w;
    for (int r = 0; r < c; ++r) sipround();
    v0 ^= w;
  }
  v2 ^= 0xff;
  for (int r = 0; r < d; ++r) sipround();
  return v0 ^ v1 ^ v2 ^ v3;
}

Bytes counting(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(i);
  return b;
}

TEST(SipHashReference, MatchesPublishedSipHash24Vectors) {
  // Key 00 01 .. 0f, message 00 01 .. (n-1).
  const std::uint64_t k0 = 0x0706050403020100ull, k1 = 0x0f0e0d0c0b0a0908ull;
  EXPECT_EQ(reference_siphash(2, 4, k0, k1, counting(0)), 0x726fdb47dd0e0e31ull);
  EXPECT_EQ(reference_siphash(2, 4, k0, k1, counting(1)), 0x74f839c593dc67fdull);
  EXPECT_EQ(reference_siphash(2, 4, k0, k1, counting(2)), 0x0d6c8009d9a94f5aull);
  EXPECT_EQ(reference_siphash(2, 4, k0, k1, counting(3)), 0x85676696d7fb7e2dull);
  EXPECT_EQ(reference_siphash(2, 4, k0, k1, counting(15)), 0xa129ca6149be45e5ull);
  EXPECT_EQ(reference_siphash(2, 4, k0, k1, counting(63)), 0x958a324ceb064572ull);
}

TEST(SipHash13, AgreesWithTheReferenceForEveryLengthAndSplit) {
  std::mt19937_64 rng(7);
  for (std::size_t n = 0; n <= 40; ++n) {
    Bytes m(n);
    for (auto& b : m) b = static_cast<unsigned char>(rng());
    const std::uint64_t expected = reference_siphash(1, 3, 0, 0, m);
    EXPECT_EQ(siphash13(m.data(), m.size()), expected) << "length " << n;
    // Every two-way split, and a byte at a time.
    for (std::size_t cut = 0; cut <= n; ++cut) {
      SipHasher13 h;
      h.write(m.data(), cut);
      h.write(m.data() + cut, n - cut);
      ASSERT_EQ(h.finish(), expected) << "length " << n << " cut " << cut;
    }
    SipHasher13 h;
    for (unsigned char b : m) h.write_u8(b);
    EXPECT_EQ(h.finish(), expected);
  }
  // Long messages in random pieces.
  Bytes m(1000);
  for (auto& b : m) b = static_cast<unsigned char>(rng());
  SipHasher13 h;
  for (std::size_t at = 0; at < m.size();) {
    std::size_t piece = std::min<std::size_t>(rng() % 20, m.size() - at);
    h.write(m.data() + at, piece);
    at += piece;
  }
  EXPECT_EQ(h.finish(), reference_siphash(1, 3, 0, 0, m));
}

TEST(SipHash13, FinishDoesNotEndTheStream) {
  Bytes m = counting(21);
  SipHasher13 h;
  h.write(m.data(), 10);
  EXPECT_EQ(h.finish(), siphash13(m.data(), 10));
  h.write(m.data() + 10, 11);
  EXPECT_EQ(h.finish(), siphash13(m.data(), 21));
}

std::uint64_t hash_of(const Int& x) {
  SipHasher13 h;
  x.hash(h);
  return h.finish();
}

Bytes le_words(std::initializer_list<std::uint64_t> words) {
  Bytes out;
  for (std::uint64_t w : words)
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<unsigned char>(w >> (8 * i)));
  return out;
}

TEST(SipHash13, HashesIntegersThroughTheirCanonicalBytes) {
  auto expect_bytes = [](const Int& x, const Bytes& b) {
    EXPECT_EQ(hash_of(x), reference_siphash(1, 3, 0, 0, b)) << x.to_string();
  };
  expect_bytes(Int(0), le_words({0}));
  expect_bytes(Int(-3), le_words({static_cast<std::uint64_t>(-3)}));
  expect_bytes(Int(INT64_MIN), le_words({std::uint64_t{1} << 63}));
  // 2^64 + 5 and -(2^64 + 5): sign word, digit count, digits.
  Int big = Int(1).shl(64) + Int(5);
  expect_bytes(big, le_words({2, 2, 5, 1}));
  expect_bytes(-big, le_words({0, 2, 5, 1}));
  // A value that passed through the big form hashes as its small self.
  EXPECT_EQ(hash_of((big - Int(1).shl(64)) * Int(1)), hash_of(Int(5)));
  EXPECT_EQ(hash_of(Int(INT64_MAX) + Int(1) - Int(1)), hash_of(Int(INT64_MAX)));
}

}  // namespace
}  // namespace gy

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "num/int.hpp"
#include "pool.hpp"

namespace gy {
namespace {

// Collects the bytes fed to it.
struct ByteHasher {
  std::vector<unsigned char> bytes;
  void write(const void* p, std::size_t n) {
    auto* c = static_cast<const unsigned char*>(p);
    bytes.insert(bytes.end(), c, c + n);
  }
};

std::vector<unsigned char> hash_bytes(const Int& x) {
  ByteHasher h;
  x.hash(h);
  return h.bytes;
}

bool fits_i64(mpz_srcptr z) { return mpz_fits_slong_p(z); }

// Values that often sit on the small/big line: 0, ±1, INT64_MAX, INT64_MIN, 2^63, and random
// numbers of 1 to 300 bits.
class Gen {
 public:
  explicit Gen(unsigned seed) : rng_(seed) {}
  Int next() {
    switch (rng_() % 10) {
      case 0: return Int(0);
      case 1: return Int(rng_() % 2 ? 1 : -1);
      case 2: return Int(INT64_MAX) + Int(static_cast<std::int64_t>(rng_() % 3) - 1);
      case 3: return Int(INT64_MIN) + Int(static_cast<std::int64_t>(rng_() % 3) - 1);
      case 4: return Int::pow(Int(2), 63) * Int(rng_() % 2 ? 1 : -1);
      default: {
        int bits = 1 + static_cast<int>(rng_() % 300);
        Int x(0);
        for (int i = 0; i < bits; i += 32) x = x.shl(32) + Int(static_cast<std::int64_t>(rng_() & 0xffffffffu));
        x = Int::div_rem(x, Int(1).shl(bits)).second;
        return rng_() % 2 ? x : -x;
      }
    }
  }

 private:
  std::mt19937_64 rng_;
};

void expect_normal(const Int& x) {
  Mpz m(x);
  EXPECT_EQ(x.is_small(), fits_i64(m.get())) << x;
}

TEST(Int, SmallBigBoundaryBothWays) {
  Int max(INT64_MAX);
  Int up = max + Int(1);
  EXPECT_FALSE(up.is_small());
  EXPECT_EQ(up.to_string(), "9223372036854775808");
  Int down = up - Int(1);
  EXPECT_TRUE(down.is_small());
  EXPECT_EQ(down, *Int::from_str("9223372036854775807"));
  EXPECT_EQ(down <=> max, std::strong_ordering::equal);
  EXPECT_EQ(down.to_string(), "9223372036854775807");
  EXPECT_EQ(hash_bytes(down), hash_bytes(max));

  Int min(INT64_MIN);
  EXPECT_FALSE((-min).is_small());
  EXPECT_EQ(-min, up);
  EXPECT_EQ(min.abs(), up);
  EXPECT_EQ(min / Int(-1), up);
  EXPECT_EQ(min % Int(-1), Int(0));
  auto [q, r] = Int::div_rem(min, Int(-1));
  EXPECT_EQ(q, up);
  EXPECT_TRUE(r.is_zero());
  EXPECT_TRUE((-up).is_small());
  EXPECT_EQ(-up, min);
  EXPECT_EQ(Int(static_cast<std::uint64_t>(1) << 63), up);

  Int two64 = Int::pow(Int(2), 64);
  EXPECT_FALSE(two64.is_small());
  Int five = (two64 + Int(5)) - two64;
  EXPECT_TRUE(five.is_small());
  EXPECT_EQ(hash_bytes(five), hash_bytes(Int(5)));
  EXPECT_EQ((two64 * two64) / two64, two64);
  EXPECT_TRUE(((two64 * two64) / (two64 * two64)).is_small());
}

TEST(Int, HashBytesAreCanonical) {
  EXPECT_EQ(hash_bytes(Int(-2)), (std::vector<unsigned char>{0xfe, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}));
  // -(2^64 + 3): sign word 0, digit count 2, digits 3 and 1.
  Int v = -(Int::pow(Int(2), 64) + Int(3));
  std::vector<unsigned char> want(32, 0);
  want[8] = 2;
  want[16] = 3;
  want[24] = 1;
  EXPECT_EQ(hash_bytes(v), want);
  EXPECT_EQ(hash_bytes(-v)[0], 2);
}

TEST(Int, ArithmeticMatchesGmp) {
  Gen g(1);
  int rounds = std::getenv("GYRELLE_SANITIZED") ? 3000 : 30000;
  Mpz r;
  for (int i = 0; i < rounds; ++i) {
    Int a = g.next(), b = g.next();
    Mpz ma(a), mb(b);
    mpz_add(r.get(), ma.get(), mb.get());
    ASSERT_EQ(a + b, r.to_int()) << a << " + " << b;
    mpz_sub(r.get(), ma.get(), mb.get());
    ASSERT_EQ(a - b, r.to_int()) << a << " - " << b;
    mpz_mul(r.get(), ma.get(), mb.get());
    ASSERT_EQ(a * b, r.to_int()) << a << " * " << b;
    mpz_gcd(r.get(), ma.get(), mb.get());
    ASSERT_EQ(Int::gcd(a, b), r.to_int()) << "gcd " << a << ", " << b;
    ASSERT_EQ(a <=> b, mpz_cmp(ma.get(), mb.get()) <=> 0);
    ASSERT_EQ(a == b, mpz_cmp(ma.get(), mb.get()) == 0);
    expect_normal(a + b);
    expect_normal(a * b);
    if (!b.is_zero()) {
      auto [q, rem] = Int::div_rem(a, b);
      mpz_tdiv_q(r.get(), ma.get(), mb.get());
      ASSERT_EQ(q, r.to_int()) << a << " / " << b;
      ASSERT_EQ(a / b, q);
      ASSERT_EQ(a % b, rem);
      ASSERT_EQ(q * b + rem, a);
      expect_normal(q);
      expect_normal(rem);
      if (b.sign() > 0) {
        Int m = *Int::mod_floor(a, b);
        mpz_fdiv_r(r.get(), ma.get(), mb.get());
        ASSERT_EQ(m, r.to_int());
      }
      auto ex = Int::div_exact(a * b, b);
      ASSERT_TRUE(ex);
      ASSERT_EQ(*ex, a);
    }
    // Aliasing and compound forms.
    Int c = a;
    c += c;
    ASSERT_EQ(c, a * Int(2));
    c = a;
    c *= c;
    ASSERT_EQ(c, a * a);
    c -= c;
    ASSERT_TRUE(c.is_zero());
    ASSERT_EQ(Int::from_str(a.to_string()), a);
    ASSERT_EQ(hash_bytes(a), hash_bytes(Int::from_mpz(ma.get())));
    ASSERT_EQ(a.bit_length(), a.is_zero() ? 0u : mpz_sizeinbase(ma.get(), 2));
  }
}

TEST(Int, ExponentOfTwoOnBothSidesOfTheWord) {
  for (std::uint64_t k : {0u, 1u, 62u, 63u, 64u, 127u, 300u}) {
    const Int p = Int(1).shl(k);
    EXPECT_EQ(p.exponent_of_two(), std::optional<std::uint64_t>(k)) << k;
    EXPECT_EQ((-p).exponent_of_two(), std::nullopt) << k;
    EXPECT_EQ((p + Int(1)).exponent_of_two(), k == 0 ? std::optional<std::uint64_t>(1) : std::nullopt) << k;
    if (k > 1) {
      EXPECT_EQ((p - Int(1)).exponent_of_two(), std::nullopt) << k;
    }
    EXPECT_EQ((p * Int(3)).exponent_of_two(), std::nullopt) << k;
  }
  EXPECT_EQ(Int(0).exponent_of_two(), std::nullopt);
}

TEST(Int, DivisionSignsEverySignCombination) {
  struct Case {
    std::int64_t a, b, q, r, floor;
  };
  for (Case c : {Case{7, 2, 3, 1, 1}, Case{-7, 2, -3, -1, 1}, Case{7, -2, -3, 1, 0}, Case{-7, -2, 3, -1, 0},
                 Case{6, 3, 2, 0, 0}, Case{-6, 3, -2, 0, 0}}) {
    for (Int scale : {Int(1), Int::pow(Int(3), 50)}) {
      Int a = Int(c.a) * scale, b = Int(c.b) * scale;
      auto [q, r] = Int::div_rem(a, b);
      EXPECT_EQ(q, Int(c.q)) << c.a << "/" << c.b;
      EXPECT_EQ(r, Int(c.r) * scale) << c.a << "%" << c.b;
      if (c.b > 0) {
        EXPECT_EQ(*Int::mod_floor(a, b), Int(c.floor) * scale);
      }
    }
  }
  EXPECT_EQ(*Int::mod_floor(Int(-7), Int(3)), Int(2));
  for (Int m : {Int(0), Int(-3)}) {
    auto e = Int::mod_floor(Int(5), m);
    ASSERT_FALSE(e);
    EXPECT_EQ(e.error(), Error::division("Division by zero"));
  }
  EXPECT_EQ(Int::div_exact(Int(7), Int(0)).error(), Error::range("Division by zero"));
  EXPECT_EQ(Int::div_exact(Int(7), Int(2)).error(), Error::division("Not divisible"));
  EXPECT_EQ(Int::div_exact(Int::pow(Int(2), 70) + Int(1), Int(2)).error(), Error::division("Not divisible"));
  EXPECT_EQ(*Int::div_exact(Int(INT64_MIN), Int(-1)), -Int(INT64_MIN));
  EXPECT_THROW(Int(1) / Int(0), Panic);
  EXPECT_THROW(Int::pow(Int(2), 80) % Int(0), Panic);
}

TEST(Int, GcdPowFactorialBinomial) {
  EXPECT_EQ(Int::gcd(Int(0), Int(0)), Int(0));
  EXPECT_EQ(Int::gcd(Int(-4), Int(6)), Int(2));
  EXPECT_EQ(Int::gcd(Int(INT64_MIN), Int(0)), -Int(INT64_MIN));
  EXPECT_EQ(Int::gcd(Int(INT64_MIN), Int(INT64_MIN)), -Int(INT64_MIN));
  EXPECT_EQ(Int::gcd(Int(INT64_MIN), Int(6)), Int(2));
  EXPECT_EQ(Int::lcm(Int(4), Int(6)), Int(12));
  EXPECT_EQ(Int::lcm(Int(INT64_MAX), Int(INT64_MAX)), Int(INT64_MAX));
  EXPECT_EQ(Int::lcm(Int(INT64_MAX), Int(2)), Int(INT64_MAX) * Int(2));

  EXPECT_EQ(Int::pow(Int(0), 0), Int(1));
  EXPECT_EQ(Int::pow(Int::pow(Int(7), 40), 0), Int(1));
  EXPECT_EQ(Int::pow(Int(0), 5), Int(0));
  Int m63 = Int::pow(Int(-2), 63);
  EXPECT_TRUE(m63.is_small());
  EXPECT_EQ(m63, Int(INT64_MIN));
  EXPECT_FALSE(Int::pow(Int(2), 64).is_small());
  EXPECT_EQ(Int::pow(Int(-1), 0xffffffffu), Int(-1));
  EXPECT_EQ(Int::pow(Int(1), 0xffffffffu), Int(1));
  Mpz r;
  for (std::int64_t base : {-3, 2, 5, 10, 12345}) {
    for (std::uint32_t e = 0; e < 90; ++e) {
      mpz_set_si(r.get(), base);
      mpz_pow_ui(r.get(), r.get(), e);
      ASSERT_EQ(Int::pow(Int(base), e), r.to_int()) << base << "^" << e;
    }
  }
  EXPECT_EQ(Int::pow(Int::pow(Int(3), 50), 3), Int::pow(Int(3), 150));
  EXPECT_THROW(Int::pow(Int(2), 0xffffffffu), Panic);
  EXPECT_THROW(Int::pow(Int::pow(Int(2), 100), 1u << 22), Panic);

  EXPECT_EQ(Int::factorial(0), Int(1));
  EXPECT_EQ(Int::factorial(1), Int(1));
  EXPECT_EQ(Int::factorial(-5), Int(1));
  EXPECT_EQ(Int::factorial(20), Int(2432902008176640000));
  EXPECT_EQ(Int::factorial(25), *Int::from_str("15511210043330985984000000"));
  EXPECT_EQ(Int::binomial(5, 2), Int(10));
  EXPECT_EQ(Int::binomial(-1, -1), Int(1));
  EXPECT_EQ(Int::binomial(-1, 0), Int(1));
  EXPECT_EQ(Int::binomial(0, -1), Int(1));
  // Outside 0 <= k <= n the factorial quotient, with factorials below 2 taken as 1.
  for (std::int64_t n = -4; n <= 6; ++n)
    for (std::int64_t k = -4; k <= 8; ++k)
      EXPECT_EQ(Int::binomial(n, k), Int::factorial(n) / (Int::factorial(k) * Int::factorial(n - k))) << n << "," << k;
  EXPECT_EQ(Int::binomial(100, 50), *Int::from_str("100891344545564193334812497256"));
}

// Long powers of powers of words go through the word's own power; valuations read residues instead
// of dividing. Both against GMP, with bases that are and are not such powers.
TEST(Int, PowersOfPowersOfWordsAndValuationsMatchGmp) {
  auto pw = [](std::int64_t b, std::uint32_t k) { return Int::pow(Int(b), k); };
  // Each at least 2^18 bits, so that the powers past the cube reach 2^20 bits.
  const std::vector<Int> bases = {pw(10, 120000),  -pw(10, 120000),          pw(9, 120000),
                                  pw(15, 100000) * pw(2, 77), pw(45, 80000), pw(53, 70000),
                                  pw(3, 250000) * Int(7),     pw(3, 250000) + Int(2), -pw(6, 150000)};
  Mpz r;
  for (std::size_t i = 0; i < bases.size(); ++i) {
    for (std::uint32_t e : {3u, 6u, 7u, 8u, 12u}) {
      mpz_pow_ui(r.get(), bases[i].view().get(), e);
      ASSERT_EQ(Int::pow(bases[i], e), r.to_int()) << "base " << i << ", exponent " << e;
    }
  }
  std::mt19937_64 rng(7);
  Mpz rest, p, c;
  for (int i = 0; i < 400; ++i) {
    const std::uint64_t prime = std::vector<std::uint64_t>{3, 5, 7, 47, 65537, 4294967311ull}[i % 6];
    const std::uint64_t v = rng() % (i % 3 == 0 ? 3000 : 60), cap = 1 + rng() % (i % 2 ? 80 : 6000);
    mpz_set_ui(c.get(), rng() | 1);
    mpz_mul_2exp(c.get(), c.get(), rng() % 5000);
    mpz_add_ui(c.get(), c.get(), rng() % 1000 + 1);
    if (mpz_divisible_ui_p(c.get(), prime)) mpz_add_ui(c.get(), c.get(), 1);
    mpz_ui_pow_ui(p.get(), prime, v);
    mpz_mul(c.get(), c.get(), p.get());
    if (i % 4 == 1) mpz_neg(c.get(), c.get());
    mpz_set_ui(p.get(), prime);
    const std::uint64_t want = std::min<std::uint64_t>(mpz_remove(rest.get(), c.get(), p.get()), cap);
    ASSERT_EQ(Int::valuation(c.to_int(), prime, cap), want) << prime << "^" << v << " cap " << cap;
  }
}

TEST(Int, ParseAndPrint) {
  EXPECT_EQ(Int::from_str("+12"), Int(12));
  EXPECT_EQ(Int::from_str("-0"), Int(0));
  EXPECT_EQ(Int::from_str("-9223372036854775808"), Int(INT64_MIN));
  EXPECT_TRUE(Int::from_str("-9223372036854775808")->is_small());
  EXPECT_FALSE(Int::from_str("-9223372036854775809")->is_small());
  EXPECT_EQ(Int::from_str("1_000_000"), Int(1000000));
  EXPECT_EQ(Int::from_str("000000000000000000000000000042"), Int(42));
  for (const char* bad : {"", "-", "+", "_1", "-_1", "1a", " 1", "1 ", "++1", "-+1", "0x10", "1.0", "1e5"})
    EXPECT_FALSE(Int::from_str(bad)) << bad;
  auto nines = Int::from_str("99999999999999999999");
  ASSERT_TRUE(nines);
  EXPECT_FALSE(nines->is_small());
  EXPECT_EQ(nines->to_string(), "99999999999999999999");
  EXPECT_EQ((-*nines).to_string(), "-99999999999999999999");
  EXPECT_FALSE(nines->to_i64());
  EXPECT_EQ(Int(INT64_MIN).to_i64(), INT64_MIN);
  EXPECT_FALSE(Int::from_str(std::string(Int::kMaxDigits + 1, '7')));
}

TEST(Int, SharedBlockSurvivesConcurrentCopies) {
  const Int big = Int::pow(Int(3), 200);
  std::vector<Int> sums(64);
  pool::for_each_index(sums.size(), 1, [&](std::size_t i) {
    Int acc;
    for (int k = 0; k < 200; ++k) {
      Int copy = big;
      acc += copy;
    }
    sums[i] = acc;
  });
  for (const Int& s : sums) EXPECT_EQ(s, big * Int(200));
  Int moved = std::move(sums[0]);
  EXPECT_TRUE(sums[0].is_zero());
  Int& alias = moved;
  moved = alias;
  EXPECT_EQ(moved, big * Int(200));
}

TEST(Mpz, CopiesAreDeepMovesLeaveZeroAndUnwindingReleases) {
  const Int big = Int::pow(Int(7), 300);
  Mpz a(big);
  Mpz copy(a);
  mpz_add_ui(a.get(), a.get(), 1);
  EXPECT_EQ(copy.to_int(), big);
  Mpz moved(std::move(a));
  EXPECT_EQ(moved.to_int(), big + Int(1));
  EXPECT_EQ(a.sign(), 0);
  mpz_set(a.get(), copy.get());  // a moved-from value stays usable
  EXPECT_EQ(a.to_int(), big);
  copy = moved;
  moved = std::move(a);
  EXPECT_EQ(copy.to_int(), big + Int(1));
  EXPECT_EQ(moved.to_int(), big);
  // Values in a scope left by an exception are released (the leak checker of the sanitizer runs sees it).
  EXPECT_THROW(
      {
        std::vector<Mpz> held(8, Mpz(big));
        mpz_mul(held[0].get(), held[1].get(), held[2].get());
        throw std::bad_alloc();
      },
      std::bad_alloc);
}

}  // namespace
}  // namespace gy

namespace gy {
namespace {

// Products of values with low zero words (shifted values, powers of two) leave those words out of
// the product; large values live in blocks of their own that GMP grows, shrinks and moves, and that
// results take over without a copy. Every value matches GMP's own arithmetic on plain memory.
TEST(Int, LargeValuesAndProductsOfShiftedValuesMatchGmp) {
  std::mt19937_64 rng(5);
  auto random_int = [&](std::size_t limbs) {
    Mpz z;
    mp_limb_t* p = mpz_limbs_write(z.get(), static_cast<mp_size_t>(limbs));
    for (std::size_t i = 0; i < limbs; ++i) p[i] = rng();
    mpz_limbs_finish(z.get(), static_cast<mp_size_t>(limbs));
    return z.to_int();
  };
  Mpz want;
  for (int i = 0; i < 300; ++i) {
    const std::size_t la = 1 + rng() % (i % 100 == 0 ? 60000 : 400), lb = 1 + rng() % 300;
    Int a = random_int(la).shl(rng() % 3 == 0 ? 0 : rng() % 20000), b = random_int(lb).shl(rng() % 9000);
    if (rng() % 2) a = -a;
    if (i % 7 == 0) b = Int(1).shl(rng() % 100000) * Int(rng() % 2 ? 1 : -1);
    mpz_mul(want.get(), Mpz(a).get(), Mpz(b).get());
    ASSERT_EQ(a * b, want.to_int()) << i;
    mpz_mul(want.get(), Mpz(a).get(), Mpz(a).get());
    ASSERT_EQ(a * a, want.to_int()) << i;
  }
  // A value grown past the size of a mapped block, next to others (so that growing may move it),
  // then shrunk below it again; each step keeps the value. Large results are taken over, with and
  // without blocks kept for reuse.
  for (bool reuse : {false, true}) {
    std::optional<BlockReuse> scope;
    if (reuse) scope.emplace();
    Mpz z(random_int(1 << 16)), copy;
    std::vector<Mpz> neighbours;
    for (std::size_t limbs : {std::size_t{1} << 19, std::size_t{3} << 19, std::size_t{1} << 21, std::size_t{1} << 16, std::size_t{1} << 20}) {
      mpz_set(copy.get(), z.get());
      mpz_realloc2(z.get(), limbs * 64);
      ASSERT_EQ(mpz_cmp(z.get(), copy.get()), 0) << limbs;
      neighbours.emplace_back();
      mpz_realloc2(neighbours.back().get(), std::uint64_t{5} << 23);
      mpz_mul_2exp(z.get(), z.get(), 64 * 64);
      mpz_add_ui(z.get(), z.get(), 7);
      mpz_tdiv_q_2exp(z.get(), z.get(), 64 * 64);
      ASSERT_EQ(mpz_cmp(z.get(), copy.get()), 0) << limbs;
    }
    const Int taken = Mpz(z).take_int();
    ASSERT_EQ(taken, z.to_int());
    const Int a = random_int(std::size_t{1} << 18), b = a + taken;
    const Int big = a * b;
    mpz_mul(want.get(), Mpz(a).get(), Mpz(b).get());
    ASSERT_EQ(big, want.to_int());
    ASSERT_EQ(big - a * taken, a * a);
  }
}

TEST(Int, DecimalTextOfLargeValuesIsGmpsOnAnyPool) {
  // Texts past a few million bits are formed from parts split off by powers of ten: parts with
  // leading zeros, or all zeros, and values just below and above powers of ten keep GMP's text.
  std::mt19937_64 rng(11);
  std::vector<Int> values;
  const Int p = Int::pow(Int(10), 1262612);  // 4194305 bits
  values.push_back(p);
  values.push_back(p - Int(1));
  Int sparse = Int::pow(Int(10), 2000003) + Int(1);
  for (int k = 0; k < 12; ++k) sparse = sparse + Int::pow(Int(10), static_cast<std::uint32_t>(rng() % 2000003)) * Int(1 + rng() % 9);
  values.push_back(sparse);
  values.push_back(-(Int(1).shl(std::uint64_t{1} << 22)));
  values.push_back(-(Int::pow(Int(3), 3000000) * Int(7)));
  for (const Int& x : values) {
    Mpz z(x);
    std::string want(mpz_sizeinbase(z.get(), 10) + 2, '\0');
    mpz_get_str(want.data(), 10, z.get());
    want.resize(std::strlen(want.data()));
    for (std::size_t threads : {std::size_t{1}, std::size_t{3}}) {
      pool::Limit limit(threads);
      ASSERT_EQ(x.to_string(), want) << threads << " " << x.bit_length();
    }
  }
}

}  // namespace
}  // namespace gy

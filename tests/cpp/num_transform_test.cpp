#include "num/transform.hpp"

#include "num/int.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace gy {
namespace {

// Random limbs, or all ones: every piece then at its largest, so each sum of products comes
// closest to the primes' product.
std::vector<mp_limb_t> limbs(std::mt19937_64& rng, std::size_t n, bool ones) {
  std::vector<mp_limb_t> a(n);
  for (auto& x : a) x = ones ? ~mp_limb_t{0} : rng();
  return a;
}

// Against GMP's product, over lengths on both sides of the transform's base block and of each power
// of two, squares included.
TEST(Transform, MatchesGmpProducts) {
  std::mt19937_64 rng(29);
  const std::size_t lengths[][2] = {{1, 1},     {7, 3},       {8, 8},       {31, 30},     {255, 1},
                                    {2000, 2000}, {2100, 1999}, {4096, 4096}, {40000, 123}, {61000, 60000},
                                    {100000, 5000}, {7777, 16}, {30001, 7500}};
  for (const auto& [an, bn] : lengths)
    for (int kind = 0; kind < 3; ++kind) {
      const bool ones = kind == 2, square = kind == 1 && an == bn;
      const auto a = limbs(rng, an, ones);
      const auto b = square ? a : limbs(rng, bn, ones);
      const mp_limb_t* bp = square ? a.data() : b.data();
      std::vector<mp_limb_t> want(an + bn), got(an + bn, 0x5a5a5a5a);
      mpn_mul(want.data(), a.data(), static_cast<mp_size_t>(an), bp, static_cast<mp_size_t>(bn));
      if (!transform_multiply(got.data(), a.data(), an, bp, bn)) GTEST_SKIP() << "no transform lanes here";
      EXPECT_EQ(got, want) << an << " x " << bn << " kind " << kind;
      std::vector<mp_limb_t> through(an + bn);
      multiply_limbs(through.data(), a.data(), an, bp, bn);
      EXPECT_EQ(through, want);
    }
}

// Powers long enough to be squared by transforms (a word, a long base with twos and a sign, a long
// odd base) against GMP's own power.
TEST(Transform, PowersMatchGmp) {
  Mpz long_base, odd;
  mpz_ui_pow_ui(long_base.get(), 3, 41);
  mpz_mul_2exp(long_base.get(), long_base.get(), 70);
  mpz_neg(long_base.get(), long_base.get());
  gmp_randstate_t state;
  gmp_randinit_default(state);
  mpz_urandomb(odd.get(), state, 3000);
  mpz_setbit(odd.get(), 0);
  gmp_randclear(state);
  const std::pair<Int, std::uint32_t> cases[] = {
      {Int(3), 4'000'001}, {long_base.to_int(), 100'001}, {odd.to_int(), 2'049}};
  for (const auto& [base, e] : cases) {
    Mpz want;
    mpz_pow_ui(want.get(), Mpz(base).get(), e);
    EXPECT_TRUE(Int::pow(base, e) == want.to_int()) << e;
  }
}

// Products by a factor transformed once against GMP's: operands up to the length prepared for,
// shorter ones, all ones.
TEST(Transform, PreparedFactorsMatchGmp) {
  std::mt19937_64 rng(7);
  for (const auto& [bn, product] : {std::pair<std::size_t, std::size_t>{3000, 6002}, {700, 5000}, {9000, 12000}}) {
    const auto b = limbs(rng, bn, false);
    const TransformedFactor f(b.data(), bn, product);
    if (!f) GTEST_SKIP() << "no transform lanes here";
    for (const std::size_t an : {product - bn, std::size_t{1}, (product - bn) / 3}) {
      const auto a = limbs(rng, an, an == 1);
      std::vector<mp_limb_t> want(an + bn), got(an + bn);
      // GMP's product takes the longer operand first.
      if (an > bn)
        mpn_mul(want.data(), a.data(), static_cast<mp_size_t>(an), b.data(), static_cast<mp_size_t>(bn));
      else
        mpn_mul(want.data(), b.data(), static_cast<mp_size_t>(bn), a.data(), static_cast<mp_size_t>(an));
      ASSERT_TRUE(multiply_transformed(got.data(), a.data(), an, f));
      EXPECT_EQ(got, want) << bn << " x " << an;
    }
    std::vector<mp_limb_t> too_long(product), out(2 * product);
    EXPECT_FALSE(multiply_transformed(out.data(), too_long.data(), product, f));
  }
}

// Long quotients and remainders against GMP's: reciprocals with and without steps of Newton's
// method, of the whole divisor and of its top, quotients in many chunks and in one, every sign and
// rounding, divisors of all ones and of a power of two, exact quotients and
// those one short of exact, where a reciprocal a unit off would show.
TEST(Transform, QuotientsMatchGmp) {
  if (!transform_available()) GTEST_SKIP() << "no transform lanes here";
  gmp_randstate_t state;
  gmp_randinit_default(state);
  auto random = [&](std::size_t limbs) {
    Mpz x;
    mpz_urandomb(x.get(), state, 64 * limbs - 13);
    mpz_setbit(x.get(), 64 * limbs - 14);
    return x;
  };
  const std::size_t sizes[][2] = {{30000, 5000}, {51000, 10000}, {40000, 25000}};
  for (const auto& [an, bn] : sizes)
    for (int kind = 0; kind < 5; ++kind) {
      Mpz a = random(an), b = random(bn);
      if (kind == 1) {  // all ones
        mpz_set_ui(b.get(), 0);
        mpz_setbit(b.get(), 64 * bn);
        mpz_sub_ui(b.get(), b.get(), 1);
      } else if (kind == 2) {  // a power of two
        mpz_set_ui(b.get(), 0);
        mpz_setbit(b.get(), 64 * bn - 1);
      } else if (kind >= 3) {  // exact, and one short of it
        Mpz q = random(an - bn);
        mpz_mul(a.get(), q.get(), b.get());
        if (kind == 4) mpz_sub_ui(a.get(), a.get(), 1);
      }
      for (int signs = 0; signs < 4; ++signs) {
        Mpz sa, sb, q, r, wq, wr;
        (signs & 1 ? mpz_neg : mpz_set)(sa.get(), a.get());
        (signs & 2 ? mpz_neg : mpz_set)(sb.get(), b.get());
        mpz_tdiv_qr(wq.get(), wr.get(), sa.get(), sb.get());
        divide_into(q.get(), r.get(), sa.get(), sb.get());
        EXPECT_EQ(mpz_cmp(q.get(), wq.get()), 0) << an << " / " << bn << " kind " << kind << " signs " << signs;
        EXPECT_EQ(mpz_cmp(r.get(), wr.get()), 0) << an << " / " << bn << " kind " << kind << " signs " << signs;
        if (kind == 0 || kind == 4) {
          mpz_fdiv_qr(wq.get(), wr.get(), sa.get(), sb.get());
          divide_into(q.get(), r.get(), sa.get(), sb.get(), Rounding::floor);
          EXPECT_TRUE(mpz_cmp(q.get(), wq.get()) == 0 && mpz_cmp(r.get(), wr.get()) == 0) << "floor, signs " << signs;
          mpz_cdiv_qr(wq.get(), wr.get(), sa.get(), sb.get());
          divide_into(q.get(), r.get(), sa.get(), sb.get(), Rounding::ceiling);
          EXPECT_TRUE(mpz_cmp(q.get(), wq.get()) == 0 && mpz_cmp(r.get(), wr.get()) == 0) << "ceiling, signs " << signs;
        }
        if (signs == 0) {  // into an operand
          mpz_tdiv_q(wq.get(), sa.get(), sb.get());
          divide_into(sa.get(), nullptr, sa.get(), sb.get());
          EXPECT_EQ(mpz_cmp(sa.get(), wq.get()), 0);
        }
      }
    }
  gmp_randclear(state);
}

}  // namespace
}  // namespace gy

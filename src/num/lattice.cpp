#include "num/lattice.hpp"

#include <cfloat>
#include <cmath>
#include <utility>

#include "num/interrupt.hpp"

namespace gy {

namespace {

using i64 = std::int64_t;
using i128 = __int128;

constexpr i64 kEntryLimit = i64{1} << kLatticeEntryBits;

bool dot(const LatticeRow& a, const LatticeRow& b, i128& out) {
  i128 s = 0;
  for (std::size_t t = 0; t < a.size(); ++t)
    if (__builtin_add_overflow(s, static_cast<i128>(a[t]) * b[t], &s)) return false;
  out = s;
  return true;
}

template <class T>
T absolute(T x) {
  return x < 0 ? -x : x;
}

enum class Outcome { done, overflow, unsettled };

// LLL in the manner of L²: the exact Gram matrix G, and per row k the values r_kj = <b_k, b*_j> and
// μ_kj = r_kj / r_jj recomputed from G whenever row k is worked on, so that rounding errors never
// accumulate across operations.
template <class T>
class Reducer {
 public:
  explicit Reducer(std::vector<LatticeRow>& b) : b_(b), n_(b.size()), G_(n_ * n_), r_(n_ * n_), mu_(n_ * n_) {}

  Outcome run() {
    for (std::size_t i = 0; i < n_; ++i)
      for (std::size_t j = 0; j <= i; ++j)
        if (!dot(b_[i], b_[j], gram(i, j))) return Outcome::overflow;
        else gram(j, i) = gram(i, j);
    if (n_ < 2) return Outcome::done;
    r(0, 0) = static_cast<T>(gram(0, 0));
    std::size_t k = 1;
    std::size_t budget = 200000 + 400 * n_ * n_;
    for (std::size_t step = 0; k < n_; ++step) {
      if (step == budget) return Outcome::unsettled;
      if ((step & 63) == 0) poll_interrupt();
      if (const Outcome o = size_reduce(k); o != Outcome::done) return o;
      // Lovász's condition on r_kk = G_kk − Σ_(j<k) μ_kj·r_kj.
      T s = static_cast<T>(gram(k, k));
      for (std::size_t j = 0; j + 1 < k; ++j) s -= mu(k, j) * r(k, j);
      const T rkk = s - mu(k, k - 1) * r(k, k - 1);
      if (rkk < static_cast<T>(0.75) * r(k - 1, k - 1) - mu(k, k - 1) * r(k, k - 1)) {
        // δ·r_(k−1) > r_kk + μ²·r_(k−1): swap, and take up the earlier row again.
        swap(k - 1, k);
        if (k > 1) {
          --k;
        } else {
          r(0, 0) = static_cast<T>(gram(0, 0));
        }
      } else {
        r(k, k) = rkk;
        ++k;
      }
    }
    return Outcome::done;
  }

 private:
  i128& gram(std::size_t i, std::size_t j) { return G_[i * n_ + j]; }
  T& r(std::size_t i, std::size_t j) { return r_[i * n_ + j]; }
  T& mu(std::size_t i, std::size_t j) { return mu_[i * n_ + j]; }

  void gram_schmidt_row(std::size_t k) {
    for (std::size_t j = 0; j < k; ++j) {
      T s = static_cast<T>(gram(k, j));
      for (std::size_t i = 0; i < j; ++i) s -= mu(j, i) * r(k, i);
      r(k, j) = s;
      mu(k, j) = s / r(j, j);
    }
  }

  Outcome size_reduce(std::size_t k) {
    for (int pass = 0;; ++pass) {
      gram_schmidt_row(k);
      bool changed = false;
      for (std::size_t j = k; j-- > 0;) {
        const T m = mu(k, j);
        if (absolute(m) <= static_cast<T>(0.51)) continue;
        if (absolute(m) > static_cast<T>(1e18)) return Outcome::overflow;
        const i64 x = static_cast<i64>(m < 0 ? m - static_cast<T>(0.5) : m + static_cast<T>(0.5));
        if (x == 0) continue;
        if (!subtract(k, j, x)) return Outcome::overflow;
        for (std::size_t i = 0; i < j; ++i) mu(k, i) -= static_cast<T>(x) * mu(j, i);
        changed = true;
      }
      if (!changed) return Outcome::done;
      if (pass >= 12) return Outcome::unsettled;
    }
  }

  // b_k ← b_k − x·b_j, with the Gram matrix.
  bool subtract(std::size_t k, std::size_t j, i64 x) {
    LatticeRow& bk = b_[k];
    const LatticeRow& bj = b_[j];
    for (std::size_t t = 0; t < bk.size(); ++t) {
      i64 prod, next;
      if (__builtin_mul_overflow(x, bj[t], &prod) || __builtin_sub_overflow(bk[t], prod, &next)) return false;
      if (next > kEntryLimit || next < -kEntryLimit) return false;
      bk[t] = next;
    }
    const i128 X = x;
    i128 kk, t1, t2;
    // G_kk − 2x·G_kj + x²·G_jj
    if (__builtin_mul_overflow(X, gram(k, j), &t1) || __builtin_mul_overflow(t1, i128{2}, &t1)) return false;
    if (__builtin_mul_overflow(X, X, &t2) || __builtin_mul_overflow(t2, gram(j, j), &t2)) return false;
    if (__builtin_sub_overflow(gram(k, k), t1, &kk) || __builtin_add_overflow(kk, t2, &kk)) return false;
    for (std::size_t i = 0; i < n_; ++i) {
      if (i == k) continue;
      i128 v;
      if (__builtin_mul_overflow(X, gram(j, i), &v) || __builtin_sub_overflow(gram(k, i), v, &v)) return false;
      gram(k, i) = gram(i, k) = v;
    }
    gram(k, k) = kk;
    return true;
  }

  // Exchanges rows a = k − 1 and k; row a takes over the Gram–Schmidt data row k had below a.
  void swap(std::size_t a, std::size_t k) {
    std::swap(b_[a], b_[k]);
    for (std::size_t i = 0; i < n_; ++i) std::swap(gram(a, i), gram(k, i));
    for (std::size_t i = 0; i < n_; ++i) std::swap(gram(i, a), gram(i, k));
    for (std::size_t j = 0; j < a; ++j) {
      r(a, j) = r(k, j);
      mu(a, j) = mu(k, j);
    }
    // r_aa for the new row a: G_aa − Σ_(j<a) μ_aj·r_aj.
    T s = static_cast<T>(gram(a, a));
    for (std::size_t j = 0; j < a; ++j) s -= mu(a, j) * r(a, j);
    r(a, a) = s;
  }

  std::vector<LatticeRow>& b_;
  std::size_t n_;
  std::vector<i128> G_;
  std::vector<T> r_, mu_;
};

}  // namespace

bool lll_reduce(std::vector<LatticeRow>& rows) {
  for (const auto& row : rows)
    for (i64 v : row)
      if (v > kEntryLimit || v < -kEntryLimit) return false;
  // Double precision first, wider types when the reduction does not settle.
  Outcome outcome = Reducer<double>(rows).run();
  if (outcome == Outcome::unsettled) outcome = Reducer<long double>(rows).run();
  if (outcome == Outcome::unsettled) outcome = Reducer<__float128>(rows).run();
  return outcome == Outcome::done;
}

std::size_t short_span(const std::vector<LatticeRow>& rows, long double bound2) {
  const std::size_t n = rows.size();
  if (n == 0) return 0;
  if (!(bound2 >= 0) || bound2 >= 0x1p120L) return n;
  const i128 B2 = static_cast<i128>(std::ceil(bound2));
  // The scaled Gram matrix A = S·G·S, S = diag(2^(−e_i)) with A_ii in [1/4, 1).
  std::vector<i128> G(n * n);
  std::vector<int> e(n);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j <= i; ++j) {
      if (!dot(rows[i], rows[j], G[i * n + j])) return n;
      G[j * n + i] = G[i * n + j];
    }
  long double trace = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const i128 g = G[i * n + i];
    if (g <= 0) return n;
    int bits = 0;
    for (i128 t = g; t > 0; t >>= 1) ++bits;
    e[i] = (bits + 1) / 2;
    trace += std::ldexp(static_cast<long double>(g), -2 * e[i]);
  }
  auto A = [&](std::size_t i, std::size_t j) { return std::ldexp(static_cast<long double>(G[i * n + j]), -e[i] - e[j]); };
  // The floating-point Cholesky factorisation of a symmetric matrix X of order n that runs to
  // completion gives RᵀR = X + ΔX with ‖ΔX‖₂ <= γ/(1 − γ)·tr(X), γ = (n + 1)·u/(1 − (n + 1)·u);
  // forming X from the exact values costs at most 3u·tr(A) more. So when the factorisation of
  // A − c·I with c above both succeeds, A − c·I + (errors) is positive semidefinite and A itself
  // positive definite. For row j the factorisation is that of the leading block with its last diagonal
  // lowered by the scaled bound: the first j columns are those of A − c·I.
  const long double u = LDBL_EPSILON / 2;
  const long double gamma = (static_cast<long double>(n) + 1) * u / (1 - (static_cast<long double>(n) + 1) * u);
  const long double c = (3 * u + gamma / (1 - gamma)) * trace * 1.01L + LDBL_MIN;
  std::vector<long double> R(n * n, 0);
  std::vector<char> proven(n, 0);
  for (std::size_t j = 0; j < n; ++j) {
    for (std::size_t i = 0; i < j; ++i) {
      long double s = A(i, j);
      for (std::size_t k = 0; k < i; ++k) s -= R[k * n + i] * R[k * n + j];
      R[i * n + j] = s / R[i * n + i];
    }
    long double t = 0;
    for (std::size_t k = 0; k < j; ++k) t += R[k * n + j] * R[k * n + j];
    const i128 lowered = G[j * n + j] - B2;
    if (lowered > 0) proven[j] = (std::ldexp(static_cast<long double>(lowered), -2 * e[j]) - c) - t > 0;
    const long double pivot = (A(j, j) - c) - t;
    if (!(pivot > 0)) break;
    R[j * n + j] = std::sqrt(pivot);
  }
  std::size_t m = n;
  while (m > 0 && proven[m - 1]) --m;
  return m;
}

}  // namespace gy

// Exact three-dimensional geometry over algebraic numbers: vectors, quaternions (scalar part last,
// not normalised) and planes a·x + b·y + c·z + d = 0, with exact text keys for hash maps and float
// conversions for drawing.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "exact.hpp"
#include "num/error.hpp"

namespace gy {

struct Vector3 {
  AlgebraicNumber x, y, z;

  static Result<AlgebraicNumber> dot(const Vector3& a, const Vector3& b);
  static Vector3 neg(const Vector3& v);
  static Result<Vector3> sub(const Vector3& a, const Vector3& b);
  static Result<Vector3> cross(const Vector3& a, const Vector3& b);
  // Each component times s.
  static Result<Vector3> scaled(const Vector3& v, const AlgebraicNumber& s);
  static std::vector<Vector3> to_vec(std::span<const Vector3> vs) { return {vs.begin(), vs.end()}; }

  // "[{},{},{}]" with each number as "{} in {}".
  std::string fmt() const;
  // Appends "[k,k,k]" with each number keyed "{field identity}#{value polynomial}": equal exactly
  // when the numbers share one field object and are equal. Valid within one process only.
  void text_key(std::string& out) const;
  std::string key() const {
    std::string s;
    text_key(s);
    return s;
  }
  // Three rational components.
  static Vector3 rational(const Fraction& x, const Fraction& y, const Fraction& z);
};

struct Quaternion {
  AlgebraicNumber x, y, z, w;

  // (0, 0, 0, 1) in the rationals.
  static Quaternion identity();
  Quaternion clone() const { return *this; }
  Quaternion conjugate() const;
  Result<AlgebraicNumber> norm_squared() const;
  Result<Quaternion> scale(const AlgebraicNumber& s) const;
  // q·(v, 0)·q⁻¹.
  Result<Vector3> rotate_vector(const Vector3& v) const;
  // The rotation about n taking a to b (a, b perpendicular to n, equal length): (n, w) with
  // w = t / (a·a − a·b), t = n·(a × b); the identity or the half turn (n, 0) when t is zero.
  static Result<Quaternion> from_vectors(const Vector3& n, const Vector3& a, const Vector3& b);
  // 1 − w·|w| / |q|²: strictly increasing with the angle over [0, 2π].
  Result<AlgebraicNumber> angle_key() const;
  // (x, y, z, w) of q / |q|; (0, 0, 0, 1) for the zero quaternion.
  Result<std::array<double, 4>> to_f64() const;
  void text_key(std::string& out) const;
  std::string key() const {
    std::string s;
    text_key(s);
    return s;
  }
};

// p·q: the rotation q followed by p.
Result<Quaternion> hamilton_product(const Quaternion& p, const Quaternion& q);
// 2·acos(w / |q|) in floating point.
Result<double> rotation_angle(const Quaternion& q);
// "[{},{},{},{}]" with each number as "{} in {}".
std::string quaternion_text(const Quaternion& q);

struct Plane {
  Vector3 normal;  // (a, b, c)
  AlgebraicNumber d;

  Plane clone() const { return *this; }
  Plane negated() const { return Plane{Vector3::neg(normal), -d}; }
  // a·x + b·y + c·z + d at p.
  Result<AlgebraicNumber> value_at(const Vector3& p) const;
};

// The plane with normal (v[j] − v[i]) × (v[k] − v[j]) and offset d; an index out of range is a broken
// invariant.
Result<Plane> face_normal(const AlgebraicNumber& d, std::span<const Vector3> vertices, std::size_t i, std::size_t j,
                          std::size_t k);

// "{field identity}#{value polynomial}".
void number_key(const AlgebraicNumber& a, std::string& out);

}  // namespace gy

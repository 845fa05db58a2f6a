#include "geometry.hpp"

#include <cmath>
#include <cstdint>

namespace gy {
namespace {

using A = AlgebraicNumber;

A rational(const Fraction& f) { return A::rational(QQ(), f); }
A zero_q() { return A::constant(QQ(), 0); }

// s + p·q
Result<A> add_mul(const A& s, const A& p, const A& q) {
  A m = GY_TRY(p.mul(q));
  return s.add(m);
}

}  // namespace

Result<A> Vector3::dot(const Vector3& a, const Vector3& b) {
  A s = GY_TRY(a.x.mul(b.x));
  s = GY_TRY(add_mul(s, a.y, b.y));
  return add_mul(s, a.z, b.z);
}

Vector3 Vector3::neg(const Vector3& v) { return Vector3{-v.x, -v.y, -v.z}; }

Result<Vector3> Vector3::sub(const Vector3& a, const Vector3& b) {
  return Vector3{GY_TRY(a.x.sub(b.x)), GY_TRY(a.y.sub(b.y)), GY_TRY(a.z.sub(b.z))};
}

Result<Vector3> Vector3::cross(const Vector3& a, const Vector3& b) {
  auto det = [](const A& p, const A& q, const A& r, const A& s) -> Result<A> {
    A l = GY_TRY(p.mul(q));
    A m = GY_TRY(r.mul(s));
    return l.sub(m);
  };
  return Vector3{GY_TRY(det(a.y, b.z, a.z, b.y)), GY_TRY(det(a.z, b.x, a.x, b.z)), GY_TRY(det(a.x, b.y, a.y, b.x))};
}

Result<Vector3> Vector3::scaled(const Vector3& v, const A& s) {
  return Vector3{GY_TRY(v.x.mul(s)), GY_TRY(v.y.mul(s)), GY_TRY(v.z.mul(s))};
}

Vector3 Vector3::rational(const Fraction& x, const Fraction& y, const Fraction& z) {
  return Vector3{gy::rational(x), gy::rational(y), gy::rational(z)};
}


void number_key(const A& a, std::string& out) {
  // The field object's address as "0x" and lowercase hexadecimal digits.
  auto addr = reinterpret_cast<std::uintptr_t>(a.field().get());
  char buf[2 + 2 * sizeof addr];
  char* end = buf + sizeof buf;
  char* p = end;
  do {
    *--p = "0123456789abcdef"[addr & 15];
    addr >>= 4;
  } while (addr != 0);
  out += "0x";
  out.append(p, end);
  out += '#';
  a.value().fmt(out);
}

namespace {

void keys(std::string& out, std::initializer_list<const A*> numbers) {
  out += '[';
  bool first = true;
  for (const A* n : numbers) {
    if (!first) out += ',';
    first = false;
    number_key(*n, out);
  }
  out += ']';
}

std::string texts(std::initializer_list<const A*> numbers) {
  std::string out = "[";
  bool first = true;
  for (const A* n : numbers) {
    if (!first) out += ',';
    first = false;
    n->fmt(out);
  }
  out += ']';
  return out;
}

}  // namespace

void Vector3::text_key(std::string& out) const { keys(out, {&x, &y, &z}); }

std::string Vector3::fmt() const { return texts({&x, &y, &z}); }

Quaternion Quaternion::identity() { return Quaternion{zero_q(), zero_q(), zero_q(), A::constant(QQ(), 1)}; }

Quaternion Quaternion::conjugate() const { return Quaternion{-x, -y, -z, w}; }

Result<A> Quaternion::norm_squared() const {
  A s = GY_TRY(x.mul(x));
  s = GY_TRY(add_mul(s, y, y));
  s = GY_TRY(add_mul(s, z, z));
  return add_mul(s, w, w);
}

Result<Quaternion> Quaternion::scale(const A& s) const {
  return Quaternion{GY_TRY(x.mul(s)), GY_TRY(y.mul(s)), GY_TRY(z.mul(s)), GY_TRY(w.mul(s))};
}

Result<Quaternion> hamilton_product(const Quaternion& p, const Quaternion& q) {
  // Each line left to right: sums and differences of the four products in the order written.
  auto line = [](const A& a1, const A& b1, int s2, const A& a2, const A& b2, int s3, const A& a3, const A& b3,
                 int s4, const A& a4, const A& b4) -> Result<A> {
    A acc = GY_TRY(a1.mul(b1));
    auto step = [&](int s, const A& a, const A& b) -> Status {
      A t = GY_TRY(a.mul(b));
      acc = s > 0 ? GY_TRY(acc.add(t)) : GY_TRY(acc.sub(t));
      return {};
    };
    GY_CHECK(step(s2, a2, b2));
    GY_CHECK(step(s3, a3, b3));
    GY_CHECK(step(s4, a4, b4));
    return acc;
  };
  A x = GY_TRY(line(p.w, q.x, +1, p.x, q.w, +1, p.y, q.z, -1, p.z, q.y));
  A y = GY_TRY(line(p.w, q.y, -1, p.x, q.z, +1, p.y, q.w, +1, p.z, q.x));
  A z = GY_TRY(line(p.w, q.z, +1, p.x, q.y, -1, p.y, q.x, +1, p.z, q.w));
  A w = GY_TRY(line(p.w, q.w, -1, p.x, q.x, -1, p.y, q.y, -1, p.z, q.z));
  return Quaternion{std::move(x), std::move(y), std::move(z), std::move(w)};
}

Result<Vector3> Quaternion::rotate_vector(const Vector3& v) const {
  Quaternion t = GY_TRY(hamilton_product(*this, Quaternion{v.x, v.y, v.z, zero_q()}));
  A n = GY_TRY(norm_squared());
  A inv = GY_TRY(n.inverse());
  Quaternion c = GY_TRY(conjugate().scale(inv));
  Quaternion r = GY_TRY(hamilton_product(t, c));
  return Vector3{std::move(r.x), std::move(r.y), std::move(r.z)};
}

Result<Quaternion> Quaternion::from_vectors(const Vector3& n, const Vector3& a, const Vector3& b) {
  Vector3 c = GY_TRY(Vector3::cross(a, b));
  A t = GY_TRY(Vector3::dot(n, c));
  A ab = GY_TRY(Vector3::dot(a, b));
  if (!t.is_zero()) {
    A aa = GY_TRY(Vector3::dot(a, a));
    A diff = GY_TRY(aa.sub(ab));
    A inv = GY_TRY(diff.inverse());
    A w = GY_TRY(t.mul(inv));
    return Quaternion{n.x, n.y, n.z, std::move(w)};
  }
  int s = GY_TRY(ab.sign());
  if (s > 0) return identity();
  return Quaternion{n.x, n.y, n.z, zero_q()};
}

Result<A> Quaternion::angle_key() const {
  A one = A::constant(QQ(), 1);
  A m = GY_TRY(w.abs());
  A p = GY_TRY(w.mul(m));
  A n = GY_TRY(norm_squared());
  A i = GY_TRY(n.inverse());
  A pi = GY_TRY(p.mul(i));
  return one.sub(pi);
}

Result<double> rotation_angle(const Quaternion& q) {
  double x = GY_TRY(q.x.to_f64()), y = GY_TRY(q.y.to_f64()), z = GY_TRY(q.z.to_f64()), w = GY_TRY(q.w.to_f64());
  return 2.0 * std::acos(w / std::sqrt(((x * x + y * y) + z * z) + w * w));
}

Result<std::array<double, 4>> Quaternion::to_f64() const {
  double fx = GY_TRY(x.to_f64()), fy = GY_TRY(y.to_f64()), fz = GY_TRY(z.to_f64()), fw = GY_TRY(w.to_f64());
  double s = ((fx * fx + fy * fy) + fz * fz) + fw * fw;
  if (s == 0.0) return std::array<double, 4>{0.0, 0.0, 0.0, 1.0};
  double k = 1.0 / std::sqrt(s);
  return std::array<double, 4>{fx * k, fy * k, fz * k, fw * k};
}

void Quaternion::text_key(std::string& out) const { keys(out, {&x, &y, &z, &w}); }

std::string quaternion_text(const Quaternion& q) { return texts({&q.x, &q.y, &q.z, &q.w}); }

Result<A> Plane::value_at(const Vector3& p) const {
  A s = GY_TRY(Vector3::dot(normal, p));
  return s.add(d);
}

Result<Plane> face_normal(const A& d, std::span<const Vector3> v, std::size_t i, std::size_t j, std::size_t k) {
  if (j >= v.size() || i >= v.size() || k >= v.size()) panic("face_normal: vertex index out of range");
  Vector3 e1 = GY_TRY(Vector3::sub(v[j], v[i]));
  Vector3 e2 = GY_TRY(Vector3::sub(v[k], v[j]));
  return Plane{GY_TRY(Vector3::cross(e1, e2)), d};
}

}  // namespace gy

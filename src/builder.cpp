#include "builder.hpp"

#include <tsl/ordered_map.h>

#include <cmath>

#include "num/interrupt.hpp"
#include "polyhedra.hpp"

namespace gy {

Rgb shell_face_colour(std::size_t i) {
  static constexpr Rgb fixed[6] = {
      {1.0, 1.0, 1.0},
      {0.55201140150344, 0.012983032338510335, 0.04231141061442144},
      {0.0, 0.34191442489801843, 0.11697066774917994},
      {0.0, 0.08228270712149792, 0.4910208498384856},
      {1.0, 0.09758734713304495, 0.0},
      {1.0, 0.6653872982754769, 0.0},
  };
  if (i < 6) return fixed[i];
  double h = std::fmod(std::fmod(static_cast<double>(i) / 1.618033988749895, 1.0) + 1.0, 1.0);
  auto channel = [](double t) {
    if (t < 0) t += 1.0;
    if (t > 1) t -= 1.0;
    if (t < 0.16666666666666666) return t * 6.0 + 0.0;
    if (t < 0.5) return 1.0;
    if (t < 0.6666666666666666) return (0.6666666666666666 - t) * 6.0 + 0.0;
    return 0.0;
  };
  return {channel(h + 0.3333333333333333), channel(h), channel(h + (-0.3333333333333333))};
}

namespace {

using A = AlgebraicNumber;

// The box from -1000 to 1000 on each axis: vertex k has x, y, z = +1000 where bits 1, 2, 4 of k are set.
Result<Piece> start_box() {
  A big = A::constant(QQ(), 1000);
  A small = -big;
  A one = A::constant(QQ(), 1);
  Piece box;
  for (int z = 0; z < 2; ++z)
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x) box.vertices.push_back(Vector3{x ? big : small, y ? big : small, z ? big : small});
  for (std::uint64_t b : {1u, 2u, 4u}) {
    std::uint64_t p = b < 4 ? 2 * b : 1;
    std::uint64_t q = p < 4 ? 2 * p : 1;
    for (auto idx : {std::vector<std::uint64_t>{0, q, q + p, p}, std::vector<std::uint64_t>{b, b + p, b + p + q, b + q}}) {
      Face f;
      f.plane = GY_TRY(face_normal(one, box.vertices, idx[0], idx[1], idx[2]));
      f.indices = std::move(idx);
      f.color = interior_face_colour;
      f.interior = 1;
      box.faces.push_back(std::move(f));
    }
  }
  return box;
}

// Stable order by d, largest first: x before y when y.d − x.d < 0.
Result<bool> d_greater(const Plane& x, const Plane& y) {
  return GY_TRY(y.d.sign_of_difference(x.d)) < 0;
}

Status sort_group(std::vector<Plane>& planes) {
  const std::size_t n = planes.size();
  if (n < 2) return {};
  if (n <= 32) {
    // Insertion with a bisected place: the first sorted plane whose d is smaller.
    for (std::size_t i = 1; i < n; ++i) {
      std::size_t lo = 0, hi = i;
      while (lo < hi) {
        std::size_t mid = (lo + hi) / 2;
        if (GY_TRY(d_greater(planes[i], planes[mid])))
          hi = mid;
        else
          lo = mid + 1;
      }
      if (lo != i) {
        Plane p = std::move(planes[i]);
        planes.erase(planes.begin() + static_cast<std::ptrdiff_t>(i));
        planes.insert(planes.begin() + static_cast<std::ptrdiff_t>(lo), std::move(p));
      }
    }
    return {};
  }
  // Bottom-up merge of plane indices; ties take the earlier run first.
  std::vector<std::uint32_t> idx(n), tmp(n);
  for (std::size_t i = 0; i < n; ++i) idx[i] = static_cast<std::uint32_t>(i);
  for (std::size_t width = 1; width < n; width *= 2) {
    for (std::size_t lo = 0; lo < n; lo += 2 * width) {
      std::size_t mid = std::min(lo + width, n), hi = std::min(lo + 2 * width, n);
      std::size_t a = lo, b = mid, k = lo;
      while (a < mid && b < hi) {
        if (GY_TRY(d_greater(planes[idx[b]], planes[idx[a]])))
          tmp[k++] = idx[b++];
        else
          tmp[k++] = idx[a++];
      }
      while (a < mid) tmp[k++] = idx[a++];
      while (b < hi) tmp[k++] = idx[b++];
    }
    std::swap(idx, tmp);
  }
  std::vector<Plane> sorted;
  sorted.reserve(n);
  for (auto i : idx) sorted.push_back(std::move(planes[i]));
  planes = std::move(sorted);
  return {};
}

}  // namespace

Result<PuzzleGeometry> build_geometry(const Recipe& recipe) {
  std::vector<Plane> shell = GY_TRY(shape_planes(recipe.shell));
  std::vector<Plane> cuts = GY_TRY(shape_planes(recipe.cuts));

  PuzzleGeometry out;
  std::vector<A> coefficients;
  coefficients.reserve(4 * (shell.size() + cuts.size()));
  for (auto* list : {&shell, &cuts})
    for (const auto& p : *list)
      for (const A* c : {&p.normal.x, &p.normal.y, &p.normal.z, &p.d}) coefficients.push_back(*c);
  if (coefficients.empty()) {
    out.field = "(no planes)";
  } else {
    std::vector<A>& joined = coefficients;
    GY_CHECK(common_field(joined));
    out.field = joined.front().field()->to_string();
    std::size_t k = 0;
    for (auto* list : {&shell, &cuts})
      for (auto& p : *list)
        for (A* c : {&p.normal.x, &p.normal.y, &p.normal.z, &p.d}) *c = std::move(joined[k++]);
  }

  Piece current = GY_TRY(start_box());
  for (std::size_t i = 0; i < shell.size(); ++i) {
    poll_interrupt();
    auto halves = GY_TRY(cut_pieces(current, shell[i], shell_face_colour(i), 0));
    current = std::move(halves.second);
  }
  out.shell_piece = std::move(current);

  std::vector<Piece> working;
  working.push_back(out.shell_piece.clone());
  tsl::ordered_map<std::string, std::vector<Plane>> groups;
  for (auto& p : cuts) groups[p.normal.key()].push_back(std::move(p));
  for (auto it = groups.begin(); it != groups.end(); ++it) {
    std::vector<Plane>& group = it.value();
    GY_CHECK(sort_group(group));
    std::vector<Piece> below;
    for (const auto& plane : group) {
      std::vector<Piece> above;
      for (const auto& piece : working) {
        poll_interrupt();
        auto halves = GY_TRY(cut_pieces(piece, plane, interior_face_colour, 1));
        if (halves.first.has_outer_face()) above.push_back(std::move(halves.first));
        if (halves.second.has_outer_face()) below.push_back(std::move(halves.second));
      }
      working = std::move(above);
    }
    for (auto& p : below) working.push_back(std::move(p));
  }

  double m = 0.0;
  for (const auto& v : out.shell_piece.vertices) {
    double x = GY_TRY(v.x.to_f64()), y = GY_TRY(v.y.to_f64()), z = GY_TRY(v.z.to_f64());
    m = std::max(std::sqrt((x * x + y * y) + z * z), m);
  }
  out.scale = 1.0 / m;
  out.pieces = std::move(working);
  return out;
}

}  // namespace gy

#include "movement.hpp"

#include <optional>
#include <unordered_set>

#include "num/interrupt.hpp"
#include "sort.hpp"

namespace gy {
namespace {

using A = AlgebraicNumber;

// The very same number: one field object and one value, so that the text keys agree.
bool identical(const A& a, const A& b) { return a.field() == b.field() && a.value() == b.value(); }

bool identical(const Quaternion& a, const Quaternion& b) {
  return identical(a.x, b.x) && identical(a.y, b.y) && identical(a.z, b.z) && identical(a.w, b.w);
}

bool is_identity_direction(const Quaternion& q) { return q.x.is_zero() && q.y.is_zero() && q.z.is_zero(); }

// The entry of piece i, brought up to date with its current orientation.
OrientationEntry& orientation_entry(std::span<const Piece> pieces, GripMemos& memos, std::size_t i) {
  if (memos.orientations.size() < pieces.size()) memos.orientations.resize(pieces.size());
  OrientationEntry& e = memos.orientations[i];
  const Quaternion& q = pieces[i].rotation;
  if (!e.valid || !identical(e.rotation, q)) {
    // Not valid until its key is whole, should the key's text be cut short.
    e.valid = false;
    e.rotation = q;
    e.key.clear();
    q.text_key(e.key);
    e.suffix = cat("/", i, ",");
    e.suffix += e.key;
    e.valid = true;
    e.has_matrix = false;
    e.faces.reset();
  }
  return e;
}

// The rotation matrix of q / |q|, row-major.
Status make_matrix(OrientationEntry& e) {
  if (e.has_matrix) return {};
  const Quaternion& q = e.rotation;
  A xx = GY_TRY(q.x.mul(q.x)), yy = GY_TRY(q.y.mul(q.y)), zz = GY_TRY(q.z.mul(q.z)), ww = GY_TRY(q.w.mul(q.w));
  A xy = GY_TRY(q.x.mul(q.y)), xz = GY_TRY(q.x.mul(q.z)), yz = GY_TRY(q.y.mul(q.z));
  A wx = GY_TRY(q.w.mul(q.x)), wy = GY_TRY(q.w.mul(q.y)), wz = GY_TRY(q.w.mul(q.z));
  A n = GY_TRY(GY_TRY(GY_TRY(xx.add(yy)).add(zz)).add(ww));
  A n_inv = GY_TRY(n.inverse());
  A two_inv = GY_TRY(n_inv.mul(A::constant(QQ(), 2)));
  auto diag = [&](const A& p, const A& m1, const A& m2, const A& m3) -> Result<A> {
    // (p − m1 − m2 + m3) / n with p = w², as w² + a² − b² − c²
    A s = GY_TRY(GY_TRY(GY_TRY(p.add(m3)).sub(m1)).sub(m2));
    return s.mul(n_inv);
  };
  auto off = [&](const A& p, const A& q2, int sign) -> Result<A> {
    A s = sign > 0 ? GY_TRY(p.add(q2)) : GY_TRY(p.sub(q2));
    return s.mul(two_inv);
  };
  std::array<A, 9> m;
  m[0] = GY_TRY(diag(ww, yy, zz, xx));
  m[1] = GY_TRY(off(xy, wz, -1));
  m[2] = GY_TRY(off(xz, wy, +1));
  m[3] = GY_TRY(off(xy, wz, +1));
  m[4] = GY_TRY(diag(ww, xx, zz, yy));
  m[5] = GY_TRY(off(yz, wx, -1));
  m[6] = GY_TRY(off(xz, wy, -1));
  m[7] = GY_TRY(off(yz, wx, +1));
  m[8] = GY_TRY(diag(ww, xx, yy, zz));
  e.matrix = std::move(m);
  e.has_matrix = true;
  return {};
}

Result<A> row_dot(const A& a, const A& b, const A& c, const Vector3& v) {
  A s = GY_TRY(a.mul(v.x));
  s = GY_TRY(s.add(GY_TRY(b.mul(v.y))));
  return s.add(GY_TRY(c.mul(v.z)));
}

// v rotated by the entry's orientation (transposed: by its inverse).
Result<Vector3> rotate(OrientationEntry& e, const Vector3& v, bool inverse) {
  if (is_identity_direction(e.rotation) && !e.rotation.w.is_zero()) return v;
  GY_CHECK(make_matrix(e));
  const auto& m = e.matrix;
  if (!inverse)
    return Vector3{GY_TRY(row_dot(m[0], m[1], m[2], v)), GY_TRY(row_dot(m[3], m[4], m[5], v)),
                   GY_TRY(row_dot(m[6], m[7], m[8], v))};
  return Vector3{GY_TRY(row_dot(m[0], m[3], m[6], v)), GY_TRY(row_dot(m[1], m[4], m[7], v)),
                 GY_TRY(row_dot(m[2], m[5], m[8], v))};
}

// The candidate planes of piece i where it now is, from the face memo.
Result<std::shared_ptr<const std::vector<FacePlane>>> piece_planes(std::span<const Piece> pieces, GripMemos& memos,
                                                                   std::size_t i) {
  OrientationEntry& e = orientation_entry(pieces, memos, i);
  if (e.faces) return e.faces;
  std::string key = cat(i, ",");
  key += e.key;
  if (const auto* found = memos.face_memo.find(key)) {
    e.faces = *found;
    return e.faces;
  }
  auto planes = std::make_shared<std::vector<FacePlane>>();
  for (const Face& face : pieces[i].faces) {
    if (!face.interior) continue;
    Vector3 n = GY_TRY(rotate(e, face.plane.normal, false));
    Plane p{std::move(n), face.plane.d};
    const A& lead = !p.normal.x.is_zero() ? p.normal.x : !p.normal.y.is_zero() ? p.normal.y : p.normal.z;
    if (GY_TRY(lead.sign()) < 0) p = p.negated();
    FacePlane fp{std::move(p), "[", 0};
    fp.plane.normal.text_key(fp.key);
    fp.normal_key_length = fp.key.size() - 1;
    fp.key += ',';
    number_key(fp.plane.d, fp.key);
    fp.key += ']';
    planes->push_back(std::move(fp));
  }
  std::shared_ptr<const std::vector<FacePlane>> shared = std::move(planes);
  memos.face_memo.store(key, shared);
  e.faces = shared;
  return shared;
}

// (min, max) of piece i along the normal, in the piece's own frame.
Result<Extent> compute_extent(const Piece& piece, OrientationEntry& e, const Vector3& normal) {
  if (piece.vertices.empty()) panic("a piece always has at least one vertex");
  Vector3 local = GY_TRY(rotate(e, normal, true));
  A lo = GY_TRY(Vector3::dot(local, piece.vertices[0]));
  A hi = lo;
  for (std::size_t k = 1; k < piece.vertices.size(); ++k) {
    A t = GY_TRY(Vector3::dot(local, piece.vertices[k]));
    if (GY_TRY(t.sign_of_difference(lo)) < 0)
      lo = t;
    else if (GY_TRY(t.sign_of_difference(hi)) > 0)
      hi = std::move(t);
  }
  return Extent{std::move(lo), std::move(hi)};
}

}  // namespace

std::string movement_key(std::string_view key, std::uint64_t piece, std::string_view orientation_key) {
  std::string out(key);
  out += cat("/", piece, ",");
  out += orientation_key;
  return out;
}

bool planes_equal(const Plane& a, const Plane& b) {
  return a.normal.x.eq(b.normal.x) && a.normal.y.eq(b.normal.y) && a.normal.z.eq(b.normal.z) && a.d.eq(b.d);
}

Result<std::vector<Grip>> movement_analysis(std::span<const Piece> pieces, GripMemos& memos,
                                            const std::vector<std::uint64_t>* subset, bool require_two_sides) {
  if (memos.orientations.size() < pieces.size()) memos.orientations.resize(pieces.size());
  // Candidates: distinct interior planes in order of first appearance.
  std::vector<const FacePlane*> candidates;
  std::vector<std::shared_ptr<const std::vector<FacePlane>>> held;
  held.reserve(pieces.size());
  std::unordered_set<std::string_view> seen;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    poll_interrupt();
    held.push_back(GY_TRY(piece_planes(pieces, memos, i)));
    for (const FacePlane& fp : *held.back())
      if (seen.insert(fp.key).second) candidates.push_back(&fp);
  }
  const std::size_t per_analysis = pieces.size() * std::max<std::size_t>(candidates.size(), 1);
  memos.side_memo.set_limit(std::max(memos.floor, memos.span * per_analysis));
  memos.extent_memo.set_limit(std::max(memos.floor, memos.span * per_analysis));
  memos.face_memo.set_limit(std::max(memos.floor, memos.span * pieces.size()));

  std::vector<std::uint64_t> all;
  if (!subset) {
    all.resize(pieces.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) all[i] = i;
    subset = &all;
  }
  for (std::uint64_t idx : *subset)
    if (idx >= pieces.size()) panic(cat("movement_analysis: piece index ", idx, " out of range (have ", pieces.size(), ")"));

  std::vector<Grip> grips;
  std::string side_key, extent_key;
  for (const FacePlane* c : candidates) {
    poll_interrupt();
    const A minus_d = c->plane.d.neg();
    Grip grip;
    bool blocked = false;
    for (std::uint64_t idx : *subset) {
      OrientationEntry& e = memos.orientations[idx];  // brought up to date with the candidates
      side_key.assign(c->key);
      side_key += e.suffix;
      Side side;
      if (const Side* known = memos.side_memo.find(side_key)) {
        side = *known;
      } else {
        extent_key.assign(c->normal_key());
        extent_key += e.suffix;
        const Extent* ext = memos.extent_memo.find(extent_key);
        if (!ext) ext = &memos.extent_memo.store(extent_key, GY_TRY(compute_extent(pieces[idx], e, c->plane.normal)));
        int low = GY_TRY(minus_d.sign_of_difference(ext->min));
        if (low <= 0) {
          side = 1;
        } else {
          int high = GY_TRY(minus_d.sign_of_difference(ext->max));
          side = high >= 0 ? -1 : 0;
        }
        memos.side_memo.store(side_key, side);
      }
      if (side == 0) {
        blocked = true;
        break;
      }
      (side > 0 ? grip.pieces : grip.others).push_back(idx);
    }
    if (blocked) continue;
    if (require_two_sides && (grip.pieces.empty() || grip.others.empty())) continue;
    grip.plane = c->plane;
    grips.push_back(std::move(grip));
  }
  return grips;
}

Result<std::vector<Grip>> current_grips(std::span<const Piece> pieces, GripMemos& memos) {
  std::vector<Grip> found = GY_TRY(movement_analysis(pieces, memos, nullptr, true));
  std::vector<Grip> grips;
  grips.reserve(found.size() * 2);
  for (Grip& g : found) {
    int s = GY_TRY(g.plane.d.sign());
    auto flip = [](const Grip& x) { return Grip{x.plane.negated(), x.others, x.pieces}; };
    if (s < 0) {
      grips.push_back(std::move(g));
    } else if (s > 0) {
      grips.push_back(flip(g));
    } else {
      Grip f = flip(g);
      grips.push_back(std::move(g));
      grips.push_back(std::move(f));
    }
  }
  GY_CHECK(stable_sort_fallible(grips, [](const Grip& a, const Grip& b) -> Result<bool> {
    // a before b when b.d − a.d < 0: greater d first.
    return GY_TRY(b.plane.d.sign_of_difference(a.plane.d)) < 0;
  }));
  return grips;
}

namespace {

// Whether a rotation about the axis n carries the plane (m1, d1) onto the plane (m2, d2), given
// the normals' components along n (u1, u2) and squared lengths (l1, l2): it does exactly when the
// planes agree once both normals have unit length, i.e. (d2, u2) = λ·(d1, u1) and l2 = λ²·l1 for
// some λ > 0. The answer is λ, so that the rotation takes m1 to m2 / λ; nothing when the planes
// differ, or when λ is irrational over the planes' field, where no exact rotation exists.
Result<std::optional<A>> turned_scale(const A& d1, const A& u1, const A& l1, const A& d2, const A& u2, const A& l2) {
  if (l1.eq(l2)) {  // λ = 1
    if (d1.eq(d2) && u1.eq(u2)) return std::optional<A>(A::constant(QQ(), 1));
    return std::optional<A>();
  }
  std::optional<A> scale;
  if (!d1.is_zero()) {
    scale = GY_TRY(d2.div(d1));
  } else if (!u1.is_zero()) {
    scale = GY_TRY(u2.div(u1));
  } else if (d2.is_zero() && u2.is_zero()) {
    // Both planes hold the axis: λ² = l2 / l1 fixes λ.
    scale = GY_TRY(square_root_in_field(GY_TRY(l2.div(l1))));
  }
  if (!scale || GY_TRY(scale->sign()) <= 0) return std::optional<A>();
  if (!d2.eq(GY_TRY(scale->mul(d1))) || !u2.eq(GY_TRY(scale->mul(u1))) ||
      !l2.eq(GY_TRY(GY_TRY(scale->mul(*scale)).mul(l1))))
    return std::optional<A>();
  return scale;
}

}  // namespace

Result<std::vector<Stop>> grip_stop_records(std::span<const Piece> pieces, GripMemos& memos, const Grip& grip) {
  auto planes_of = [&](const std::vector<std::uint64_t>& side) -> Result<std::vector<Grip>> {
    std::vector<Grip> found = GY_TRY(movement_analysis(pieces, memos, &side, true));
    if (found.empty()) found = GY_TRY(movement_analysis(pieces, memos, &side, false));
    return found;
  };
  std::vector<Grip> layer = GY_TRY(planes_of(grip.pieces));
  std::vector<Grip> rest = GY_TRY(planes_of(grip.others));
  if (layer.empty() || rest.empty()) return std::vector<Stop>{};

  const Vector3& n = grip.plane.normal;
  const A nn = GY_TRY(Vector3::dot(n, n));
  // Per rest plane: its normal's component along the axis and its squared length, and the offset
  // and that component of the same plane with the opposite sign.
  struct Measures {
    A u, l, minus_d, minus_u;
  };
  std::vector<std::optional<Measures>> rest_measures(rest.size());
  // Distinct rotations in order of first appearance. Two quaternions have one text key exactly when
  // they are identical (one field object, one value), and a grip has few stops: a scan will do.
  std::vector<Stop> stops;
  auto add = [&](Quaternion q) {
    for (const Stop& s : stops)
      if (identical(s.rotation, q)) return;
    stops.push_back(Stop{A(), std::move(q)});
  };
  for (const Grip& g1 : layer) {
    poll_interrupt();
    const Vector3& m1 = g1.plane.normal;
    const A& d1 = g1.plane.d;
    A u1 = GY_TRY(Vector3::dot(n, m1));
    A l1 = GY_TRY(Vector3::dot(m1, m1));
    A lhs = GY_TRY(u1.mul(u1));
    A rhs = GY_TRY(nn.mul(l1));
    if (lhs.eq(rhs)) continue;  // m1 parallel to the axis
    for (std::size_t j = 0; j < rest.size(); ++j) {
      const Vector3& m2 = rest[j].plane.normal;
      if (!rest_measures[j]) {
        auto [u, l] = std::pair(GY_TRY(Vector3::dot(n, m2)), GY_TRY(Vector3::dot(m2, m2)));
        A minus_u = u.neg();
        rest_measures[j] = Measures{std::move(u), std::move(l), rest[j].plane.d.neg(), std::move(minus_u)};
      }
      const Measures& m = *rest_measures[j];
      // The plane as written, then the same plane with the opposite sign.
      for (int sign : {1, -1}) {
        const A& d2 = sign > 0 ? rest[j].plane.d : m.minus_d;
        const A& u2 = sign > 0 ? m.u : m.minus_u;
        auto scale = GY_TRY(turned_scale(d1, u1, l1, d2, u2, m.l));
        if (!scale) continue;
        Vector3 target = sign > 0 ? m2 : Vector3::neg(m2);
        if (!CoeffTraits<A>::is_one(*scale)) target = GY_TRY(Vector3::scaled(target, GY_TRY(scale->inverse())));
        add(GY_TRY(Quaternion::from_vectors(n, m1, target)));
      }
    }
  }
  for (Stop& s : stops) s.pseudo_angle = GY_TRY(s.rotation.angle_key());
  GY_CHECK(stable_sort_fallible(stops, [](const Stop& a, const Stop& b) -> Result<bool> {
    return GY_TRY(a.pseudo_angle.sign_of_difference(b.pseudo_angle)) < 0;
  }));
  return stops;
}

Result<std::vector<Quaternion>> grip_stops(std::span<const Piece> pieces, GripMemos& memos, const Grip& grip) {
  std::vector<Stop> records = GY_TRY(grip_stop_records(pieces, memos, grip));
  std::vector<Quaternion> out;
  out.reserve(records.size());
  for (Stop& s : records) out.push_back(std::move(s.rotation));
  return out;
}

}  // namespace gy

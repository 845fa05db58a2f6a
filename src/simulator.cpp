#include "simulator.hpp"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include <tsl/ordered_map.h>

#include "builder.hpp"
#include "color.hpp"
#include "pool.hpp"

namespace gy {
namespace {

using A = AlgebraicNumber;

// ---------------------------------------------------------------------------------------------
// Meshes

struct EdgeKey {
  std::array<std::int64_t, 6> k;
  bool operator==(const EdgeKey&) const = default;
};
struct EdgeKeyHash {
  std::size_t operator()(const EdgeKey& e) const noexcept {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (std::int64_t v : e.k) {
      h ^= static_cast<std::uint64_t>(v);
      h *= 0x100000001b3ull;
      h ^= h >> 29;
    }
    return static_cast<std::size_t>(h);
  }
};
struct EdgeEntry {
  Segment3 segment;
  Point3 normal;
  bool open = true;
};

using CornerKey = std::array<std::int64_t, 3>;

CornerKey corner_key(const Point3& p) {
  CornerKey k;
  for (int i = 0; i < 3; ++i) k[i] = saturating_cast<std::int64_t>(std::round(p[i] * 10000.0));
  return k;
}

Point3 sub3(const Point3& a, const Point3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Point3 cross3(const Point3& a, const Point3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double dot3(const Point3& a, const Point3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

constexpr double kCosOneDegree = 0.9998476951563913;

std::vector<Segment3> outline_edges(const std::vector<Triangle3>& triangles) {
  std::vector<Segment3> edges;
  tsl::ordered_map<EdgeKey, EdgeEntry, EdgeKeyHash> map;
  for (const Triangle3& t : triangles) {
    const CornerKey k0 = corner_key(t[0]), k1 = corner_key(t[1]), k2 = corner_key(t[2]);
    if (k0 == k1 || k1 == k2 || k0 == k2) continue;
    Point3 n = cross3(sub3(t[1], t[0]), sub3(t[2], t[0]));
    const double len = std::sqrt(dot3(n, n));
    n = len == 0.0 ? Point3{0.0, 0.0, 0.0} : Point3{n[0] / len, n[1] / len, n[2] / len};
    const CornerKey* keys[3] = {&k0, &k1, &k2};
    for (int e = 0; e < 3; ++e) {
      const int a = e, b = (e + 1) % 3;
      const CornerKey& ka = *keys[a];
      const CornerKey& kb = *keys[b];
      EdgeKey reversed{{kb[0], kb[1], kb[2], ka[0], ka[1], ka[2]}};
      if (auto it = map.find(reversed); it != map.end()) {
        if (it->second.open) {
          it.value().open = false;
          if (dot3(it->second.normal, n) <= kCosOneDegree) edges.push_back(Segment3{t[a], t[b]});
        }
      } else {
        EdgeKey forward{{ka[0], ka[1], ka[2], kb[0], kb[1], kb[2]}};
        map.try_emplace(forward, EdgeEntry{Segment3{t[a], t[b]}, n, true});
      }
    }
  }
  for (const auto& [key, entry] : map)
    if (entry.open) edges.push_back(entry.segment);
  return edges;
}

// The arrow outline: the outer arc, the head, the inner arc back.
std::vector<std::array<double, 2>> arrow_outline() {
  constexpr double kSweep = 1.9811944901923448;
  constexpr double kHalfPi = 1.5707963267948966;
  std::vector<std::array<double, 2>> pts;
  for (int k = 0; k <= 12; ++k) {
    const double theta = kHalfPi - (k / 12.0) * kSweep;
    pts.push_back({1.375 * std::cos(theta), 1.375 * std::sin(theta)});
  }
  pts.push_back({1.6046835673383493, -0.69820530556153});
  pts.push_back({0.39897446032087436, -0.9169620384790567});
  pts.push_back({0.2292405096197642, -0.09974361508021858});
  for (int k = 0; k <= 12; ++k) {
    const double theta = -0.4103981633974483 + (k / 12.0) * kSweep;
    pts.push_back({0.625 * std::cos(theta), 0.625 * std::sin(theta)});
  }
  return pts;
}

std::vector<std::array<std::size_t, 3>> ear_clip(const std::vector<std::array<double, 2>>& pts) {
  const std::size_t n = pts.size();
  std::vector<std::size_t> idx(n);
  for (std::size_t i = 0; i < n; ++i) idx[i] = i;
  double area = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const auto& p = pts[i];
    const auto& q = pts[(i + 1) % n];
    area += p[0] * q[1] - q[0] * p[1];
  }
  if (area < 0.0) std::reverse(idx.begin(), idx.end());

  auto edge = [&](std::size_t a, std::size_t b, std::size_t p) {
    return (pts[p][1] - pts[a][1]) * (pts[b][0] - pts[a][0]) - (pts[p][0] - pts[a][0]) * (pts[b][1] - pts[a][1]);
  };
  std::vector<std::array<std::size_t, 3>> tris;
  for (;;) {
    const std::size_t m = idx.size();
    if (m < 3) break;
    if (m == 3) {
      tris.push_back({idx[0], idx[1], idx[2]});
      break;
    }
    bool clipped = false;
    for (std::size_t i = 0; i < m; ++i) {
      const std::size_t a = idx[(i + m - 1) % m], b = idx[i], c = idx[(i + 1) % m];
      if (!(edge(a, b, c) > 0.0)) continue;
      bool blocked = false;
      for (std::size_t p : idx) {
        if (p == a || p == b || p == c) continue;
        if (edge(a, b, p) >= 0.0 && edge(b, c, p) >= 0.0 && edge(c, a, p) >= 0.0) {
          blocked = true;
          break;
        }
      }
      if (blocked) continue;
      tris.push_back({a, b, c});
      idx.erase(idx.begin() + static_cast<std::ptrdiff_t>(i));
      clipped = true;
      break;
    }
    if (!clipped) break;
  }
  return tris;
}

std::vector<Triangle3> make_arrow_mesh() {
  const auto pts = arrow_outline();
  const auto tris = ear_clip(pts);
  constexpr double kThickness = 0.2;
  auto at = [&](std::size_t i, double z) { return Point3{pts[i][0], pts[i][1], z}; };
  std::vector<Triangle3> mesh;
  mesh.reserve(2 * tris.size() + 2 * pts.size());
  for (const auto& t : tris) mesh.push_back({at(t[0], 0.0), at(t[1], 0.0), at(t[2], 0.0)});
  for (const auto& t : tris) mesh.push_back({at(t[2], kThickness), at(t[1], kThickness), at(t[0], kThickness)});
  for (std::size_t k = 0; k < pts.size(); ++k) {
    const std::size_t l = (k + 1) % pts.size();
    mesh.push_back({at(k, 0.0), at(l, 0.0), at(l, kThickness)});
    mesh.push_back({at(k, 0.0), at(l, kThickness), at(k, kThickness)});
  }
  return mesh;
}

// ---------------------------------------------------------------------------------------------
// Grips and arrows

struct GripSet {
  std::vector<Grip> grips;
  std::vector<ArrowInstance> arrows;
};

Result<Point3> unit_axis(const Vector3& n) {
  Point3 v{GY_TRY(n.x.to_f64()), GY_TRY(n.y.to_f64()), GY_TRY(n.z.to_f64())};
  const double len = std::sqrt(dot3(v, v));
  if (len == 0.0) return Point3{0.0, 0.0, 0.0};
  return Point3{v[0] / len, v[1] / len, v[2] / len};
}

// v rotated by the unit quaternion q: v + w·t + q×t with t = 2·q×v.
Point3 rotate_point(const Quat4& q, const Point3& v) {
  const Point3 u{q[0], q[1], q[2]};
  Point3 t = cross3(u, v);
  t = {2.0 * t[0], 2.0 * t[1], 2.0 * t[2]};
  const Point3 c = cross3(u, t);
  return {v[0] + q[3] * t[0] + c[0], v[1] + q[3] * t[1] + c[1], v[2] + q[3] * t[2] + c[2]};
}

ArrowInstance arrow_instance(const Point3& axis, double distance, double s) {
  Quat4 q;
  if (1.0 + axis[2] < 1e-6) {
    q = {0.0, -1.0, 0.0, 0.0};
  } else {
    q = {-axis[1], axis[0], 0.0, 1.0 + axis[2]};
    const double len = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    q = len == 0.0 ? quat4_identity : Quat4{q[0] / len, q[1] / len, q[2] / len, q[3] / len};
  }
  const double x = q[0], y = q[1], z = q[2], w = q[3];
  const Point3 c0{1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w)};
  const Point3 c1{2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w)};
  const Point3 c2{2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y)};
  // Columns: the rotation's scaled by s, 0.2 and 0.2, then the translation R·(0, 0, distance).
  ArrowInstance a;
  a.transform = {c0[0] * s,        c0[1] * s,        c0[2] * s,        0.0,  //
                 c1[0] * 0.2,      c1[1] * 0.2,      c1[2] * 0.2,      0.0,  //
                 c2[0] * 0.2,      c2[1] * 0.2,      c2[2] * 0.2,      0.0,  //
                 c2[0] * distance, c2[1] * distance, c2[2] * distance, 1.0};
  return a;
}

Result<GripSet> derive_grip_set(std::span<const Piece> pieces, GripMemos& memos, const Quat4& model_rotation) {
  GripSet set;
  set.grips = GY_TRY(current_grips(pieces, memos));
  set.arrows.reserve(2 * set.grips.size());
  std::unordered_map<std::string, std::size_t> per_normal;
  for (const Grip& g : set.grips) {
    std::size_t& k = per_normal[g.plane.normal.key()];
    const double distance = 1.25 + 0.25 * static_cast<double>(k);
    const Point3 axis = rotate_point(model_rotation, GY_TRY(unit_axis(g.plane.normal)));
    set.arrows.push_back(arrow_instance(axis, distance, 0.2));
    set.arrows.push_back(arrow_instance(axis, distance, -0.2));
    ++k;
  }
  return set;
}

void install(Simulator& sim, GripSet&& set) {
  sim.grips = std::move(set.grips);
  sim.arrows = std::move(set.arrows);
  sim.hovered_arrow.reset();
  sim.pressed_arrow.reset();
}

// ---------------------------------------------------------------------------------------------
// Exact rotation

// The new orientation of each listed piece (one entry per distinct index, in first-appearance
// order), the pieces themselves untouched.
using Rotated = std::vector<std::pair<std::uint64_t, Quaternion>>;

Result<Rotated> rotated_orientations(const std::vector<Piece>& pieces, std::span<const std::uint64_t> indices,
                                     const Quaternion& r) {
  Rotated out;
  out.reserve(indices.size());
  std::unordered_map<std::uint64_t, std::size_t> slot;
  for (std::uint64_t i : indices) {
    if (i >= pieces.size()) panic(cat("rotate_pieces: piece index ", i, " out of range (have ", pieces.size(), ")"));
    auto [it, fresh] = slot.try_emplace(i, out.size());
    const Quaternion& q = fresh ? pieces[i].rotation : out[it->second].second;
    Quaternion p = GY_TRY(hamilton_product(r, q));
    A s = GY_TRY(p.x.abs());
    s = GY_TRY(s.add(GY_TRY(p.y.abs())));
    s = GY_TRY(s.add(GY_TRY(p.z.abs())));
    s = GY_TRY(s.add(GY_TRY(p.w.abs())));
    A inv = GY_TRY(s.inverse());
    Quaternion scaled = GY_TRY(p.scale(inv));
    if (fresh)
      out.emplace_back(i, std::move(scaled));
    else
      out[it->second].second = std::move(scaled);
  }
  return out;
}

// Exchanges the listed orientations with the pieces' own; a second call undoes the first.
void swap_orientations(std::vector<Piece>& pieces, Rotated& rotated) {
  for (auto& [i, q] : rotated) std::swap(pieces[i].rotation, q);
}

// Swaps the new orientations in and derives the grips of that state; on an error (or a broken
// invariant on the way) swaps them back.
Result<GripSet> try_rotation(Simulator& sim, Rotated& rotated) {
  struct Restore {
    std::vector<Piece>& pieces;
    Rotated& rotated;
    bool armed = true;
    ~Restore() {
      if (armed) swap_orientations(pieces, rotated);
    }
  } restore{sim.pieces, rotated};
  swap_orientations(sim.pieces, rotated);
  auto set = derive_grip_set(sim.pieces, sim.grip_memos, sim.model_rotation);
  restore.armed = !set;
  return set;
}

std::vector<Quat4> drawn_orientations(const Simulator& sim) {
  std::vector<Quat4> out;
  out.reserve(sim.pieces.size());
  for (const Piece& p : sim.pieces) {
    auto q = p.rotation.to_f64();
    out.push_back(quat4_mul(sim.model_rotation, q ? *q : quat4_identity));
  }
  return out;
}

Error grip_index_error(std::uint64_t g, std::size_t count) {
  return Error::range(cat("grip index ", g, " out of range (have ", count, ")"));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction

Result<PieceMesh> build_piece_mesh(const Piece& piece) {
  PieceMesh mesh;
  std::vector<std::optional<Point3>> corners(piece.vertices.size());
  auto corner = [&](std::uint64_t v) -> Result<Point3> {
    if (v >= piece.vertices.size()) panic("build_piece_mesh: face vertex index out of range");
    if (!corners[v]) {
      const Vector3& p = piece.vertices[v];
      auto single = [](double d) { return static_cast<double>(static_cast<float>(d)); };
      corners[v] = Point3{single(GY_TRY(p.x.to_f64())), single(GY_TRY(p.y.to_f64())), single(GY_TRY(p.z.to_f64()))};
    }
    return *corners[v];
  };
  for (std::size_t f = 0; f < piece.faces.size(); ++f) {
    const Face& face = piece.faces[f];
    const std::size_t n = face.indices.size();
    if (n < 3) continue;
    const std::uint32_t colour = shade_to_rgba(face.color[0], face.color[1], face.color[2], 1.0);
    const Point3 first = GY_TRY(corner(face.indices[0]));
    for (std::size_t k = 2; k < n; ++k) {
      mesh.triangles.push_back({first, GY_TRY(corner(face.indices[k - 1])), GY_TRY(corner(face.indices[k]))});
      mesh.colours.push_back(colour);
      mesh.face_indices.push_back(static_cast<std::int32_t>(f));
    }
  }
  mesh.edges = outline_edges(mesh.triangles);
  return mesh;
}

std::vector<Triangle3> build_arrow_mesh() {
  static const std::vector<Triangle3> mesh = make_arrow_mesh();
  return mesh;
}

Result<Simulator> Simulator::build(std::string_view query) {
  Recipe recipe = GY_TRY(parse_recipe_query(query));
  PuzzleGeometry geometry = GY_TRY(build_geometry(recipe));
  std::vector<PieceMesh> meshes;
  meshes.reserve(geometry.pieces.size());
  for (const Piece& p : geometry.pieces) {
    poll_interrupt();
    meshes.push_back(GY_TRY(build_piece_mesh(p)));
  }

  Simulator sim;
  sim.recipe = std::move(recipe);
  sim.pieces = std::move(geometry.pieces);
  sim.field = std::move(geometry.field);
  sim.scale = geometry.scale;
  sim.piece_meshes = std::move(meshes);
  sim.arrow_mesh = build_arrow_mesh();
  refresh_orientations(sim);
  GY_CHECK(derive_grips(sim));
  return sim;
}

std::vector<Result<Simulator>> build_simulators(std::span<const std::string> queries) {
  std::vector<Result<Simulator>> out(queries.size());
  pool::for_each_index(queries.size(), 1, [&](std::size_t i) { out[i] = Simulator::build(queries[i]); });
  return out;
}

// ---------------------------------------------------------------------------------------------
// Footprint

namespace {

constexpr std::size_t kBlockOverhead = 16;  // the header of a heap block
// An entry of a grip memo: its text key, its node and its value (a side, an extent of two numbers or
// a piece's planes), on average over the geometric puzzles of the catalog.
constexpr std::size_t kMemoEntryBytes = 320;

template <class T>
std::size_t block_bytes(const std::vector<T>& v) {
  return v.capacity() ? v.capacity() * sizeof(T) + kBlockOverhead : 0;
}
std::size_t text_bytes(const std::string& s) { return s.capacity() > 15 ? s.capacity() + 1 + kBlockOverhead : 0; }
std::size_t int_bytes(const Int& x) {
  return x.is_small() ? 0 : sizeof(detail::BigBlock) + (x.bit_length() + 63) / 64 * 8 + kBlockOverhead;
}
std::size_t number_bytes(const AlgebraicNumber& x) {
  std::size_t bytes = block_bytes(x.value().coeffs);
  for (const Fraction& c : x.value().coeffs) bytes += int_bytes(c.num()) + int_bytes(c.den());
  return bytes;
}
std::size_t vector_bytes(const Vector3& v) { return number_bytes(v.x) + number_bytes(v.y) + number_bytes(v.z); }
std::size_t plane_bytes(const Plane& p) { return vector_bytes(p.normal) + number_bytes(p.d); }
std::size_t quaternion_bytes(const Quaternion& q) {
  return number_bytes(q.x) + number_bytes(q.y) + number_bytes(q.z) + number_bytes(q.w);
}
}  // namespace

std::size_t approximate_footprint(const Simulator& sim) {
  std::size_t bytes = sizeof(Simulator) + block_bytes(sim.pieces);
  for (const Piece& p : sim.pieces) {
    bytes += block_bytes(p.vertices) + block_bytes(p.faces) + quaternion_bytes(p.rotation);
    for (const Vector3& v : p.vertices) bytes += vector_bytes(v);
    for (const Face& f : p.faces) bytes += block_bytes(f.indices) + plane_bytes(f.plane);
  }
  bytes += block_bytes(sim.piece_meshes) + block_bytes(sim.arrow_mesh);
  for (const PieceMesh& m : sim.piece_meshes)
    bytes += block_bytes(m.triangles) + block_bytes(m.colours) + block_bytes(m.edges) + block_bytes(m.face_indices);
  bytes += block_bytes(sim.grips) + block_bytes(sim.arrows) + block_bytes(sim.orientations) + block_bytes(sim.history);
  for (const Grip& g : sim.grips) bytes += plane_bytes(g.plane) + block_bytes(g.pieces) + block_bytes(g.others);
  for (const TurnRecord& t : sim.history) bytes += plane_bytes(t.plane) + quaternion_bytes(t.rotation);
  const GripMemos& memos = sim.grip_memos;
  bytes += (memos.side_memo.size() + memos.extent_memo.size() + memos.face_memo.size()) * kMemoEntryBytes;
  bytes += block_bytes(memos.orientations);
  for (const OrientationEntry& o : memos.orientations) {
    bytes += quaternion_bytes(o.rotation) + text_bytes(o.key) + text_bytes(o.suffix);
    for (const AlgebraicNumber& x : o.matrix) bytes += number_bytes(x);
  }
  return bytes;
}

// ---------------------------------------------------------------------------------------------
// Grips, turning and history

void refresh_orientations(Simulator& sim) { sim.orientations = drawn_orientations(sim); }

void end_animation(Simulator& sim) {
  if (!sim.animation) return;
  sim.animation.reset();
  refresh_orientations(sim);
}

Status derive_grips(Simulator& sim) {
  install(sim, GY_TRY(derive_grip_set(sim.pieces, sim.grip_memos, sim.model_rotation)));
  return {};
}

Result<std::vector<Quaternion>> stops_of_grip(Simulator& sim, std::uint64_t g) {
  if (g >= sim.grips.size()) return fail(grip_index_error(g, sim.grips.size()));
  const Grip grip = sim.grips[g];
  return grip_stops(sim.pieces, sim.grip_memos, grip);
}

Status turn_grip(Simulator& sim, std::uint64_t g, const TurnRequest& request) {
  if (g >= sim.grips.size()) return fail(grip_index_error(g, sim.grips.size()));
  if (request.kind != TurnRequest::ByDirection && request.kind != TurnRequest::ToStop)
    panic(cat("turn_grip: unknown request kind ", request.kind));
  const Grip grip = sim.grips[g];
  std::vector<Stop> stops = GY_TRY(grip_stop_records(sim.pieces, sim.grip_memos, grip));

  // The rotation and its signed float angle.
  Quaternion r = Quaternion::identity();
  double angle = kTau;
  if (request.kind == TurnRequest::ToStop) {
    if (request.stop >= stops.size())
      return fail(Error::range(
          cat("stop index ", request.stop, " out of range (grip ", g, " has ", stops.size(), ")")));
    r = stops[request.stop].rotation;
    angle = GY_TRY(rotation_angle(r));
  } else {
    const std::int32_t direction = request.direction;
    if (!stops.empty()) {
      std::size_t pick;
      if (direction >= 0) {
        pick = stops.size() - 1;
        for (std::size_t i = 0; i < stops.size(); ++i)
          if (!stops[i].pseudo_angle.is_zero()) {
            pick = i;
            break;
          }
      } else {
        pick = 0;
        for (std::size_t i = stops.size(); i-- > 0;)
          if (!stops[i].pseudo_angle.is_zero()) {
            pick = i;
            break;
          }
      }
      r = stops[pick].rotation;
      angle = GY_TRY(rotation_angle(r));
    }
    if (direction < 0)
      while (angle >= 0.0) angle -= kTau;
    else if (direction > 0)
      while (angle <= 0.0) angle += kTau;
  }

  // The animation, from the exact orientations before the turn.
  TurnAnimation animation;
  {
    const Point3 axis = GY_TRY(unit_axis(grip.plane.normal));
    constexpr double kSinHalf = 0.479425538604203, kCosHalf = 0.8775825618903728;
    const Quat4 one_radian{axis[0] * kSinHalf, axis[1] * kSinHalf, axis[2] * kSinHalf, kCosHalf};
    animation.pieces = grip.pieces;
    animation.start.reserve(grip.pieces.size());
    animation.end.reserve(grip.pieces.size());
    for (std::uint64_t p : grip.pieces) {
      if (p >= sim.pieces.size()) panic(cat("turn_grip: piece index ", p, " out of range"));
      const Quat4 start = quat4_mul(sim.model_rotation, GY_TRY(sim.pieces[p].rotation.to_f64()));
      animation.start.push_back(start);
      animation.end.push_back(quat4_mul(one_radian, start));
    }
    animation.duration_ms = std::abs(angle) / kTau * 1000.0;
    animation.angle = angle;
  }

  Rotated rotated = GY_TRY(rotated_orientations(sim.pieces, grip.pieces, r));
  // A turn in flight jumps to rest: the pose of the exact state before this turn.
  std::optional<std::vector<Quat4>> rest;
  if (sim.animation) rest = drawn_orientations(sim);
  GripSet set = GY_TRY(try_rotation(sim, rotated));

  install(sim, std::move(set));
  if (rest) sim.orientations = std::move(*rest);
  sim.animation = std::move(animation);
  sim.move_count += 1;
  sim.history.push_back(TurnRecord{grip.plane, std::move(r)});
  return {};
}

namespace {

// The index of the first grip whose plane is exactly `plane`, if any.
std::optional<std::size_t> grip_on_plane(const Simulator& sim, const Plane& plane) {
  for (std::size_t i = 0; i < sim.grips.size(); ++i)
    if (planes_equal(sim.grips[i].plane, plane)) return i;
  return std::nullopt;
}

// Everything a turn changes, to put back when a later turn of the same call fails.
struct TurnCheckpoint {
  std::vector<Quaternion> rotations;
  std::vector<Grip> grips;
  std::vector<ArrowInstance> arrows;
  std::vector<Quat4> orientations;
  std::optional<TurnAnimation> animation;
  std::optional<std::uint64_t> hovered_arrow, pressed_arrow;
  std::size_t history_length = 0;
  std::uint64_t move_count = 0;

  explicit TurnCheckpoint(const Simulator& sim)
      : grips(sim.grips), arrows(sim.arrows), orientations(sim.orientations), animation(sim.animation),
        hovered_arrow(sim.hovered_arrow), pressed_arrow(sim.pressed_arrow), history_length(sim.history.size()),
        move_count(sim.move_count) {
    rotations.reserve(sim.pieces.size());
    for (const Piece& p : sim.pieces) rotations.push_back(p.rotation);
  }

  void restore(Simulator& sim) {
    for (std::size_t i = 0; i < rotations.size(); ++i) sim.pieces[i].rotation = std::move(rotations[i]);
    sim.grips = std::move(grips);
    sim.arrows = std::move(arrows);
    sim.orientations = std::move(orientations);
    sim.animation = std::move(animation);
    sim.hovered_arrow = hovered_arrow;
    sim.pressed_arrow = pressed_arrow;
    sim.history.resize(history_length);
    sim.move_count = move_count;
  }
};

}  // namespace

Status turn_grip_repeated(Simulator& sim, std::uint64_t g, std::int32_t direction, std::uint32_t repeat) {
  if (repeat == 0) return {};
  const TurnRequest request = TurnRequest::by_direction(direction);
  if (repeat == 1) return turn_grip(sim, g, request);
  if (g >= sim.grips.size()) return fail(grip_index_error(g, sim.grips.size()));
  TurnCheckpoint before(sim);
  const Plane plane = sim.grips[g].plane;
  std::uint64_t index = g;
  Status status;
  try {
    for (std::uint32_t k = 0; k < repeat; ++k) {
      if (k > 0) {
        poll_interrupt();
        end_animation(sim);
        const std::optional<std::size_t> found = grip_on_plane(sim, plane);
        if (!found) {
          status = fail(Error::state(cat("the layer of grip ", g, " cannot turn again after ", k, " turns")));
          break;
        }
        index = *found;
      }
      status = turn_grip(sim, index, request);
      if (!status) break;
    }
  } catch (...) {
    before.restore(sim);
    throw;
  }
  if (!status) before.restore(sim);
  return status;
}

Result<bool> undo_turn(Simulator& sim) {
  if (sim.history.empty()) return false;
  const TurnRecord& record = sim.history.back();
  const std::optional<std::size_t> found = grip_on_plane(sim, record.plane);
  if (!found) return false;
  const Grip* grip = &sim.grips[*found];

  Rotated rotated = GY_TRY(rotated_orientations(sim.pieces, grip->pieces, record.rotation.conjugate()));
  GripSet set = GY_TRY(try_rotation(sim, rotated));

  // The undo is made: the drawn pose follows it, whatever is asked meanwhile.
  Uninterruptible quiet;
  install(sim, std::move(set));
  sim.history.pop_back();
  sim.animation.reset();
  sim.move_count += 1;
  refresh_orientations(sim);
  return true;
}

Result<bool> restore_turns(Simulator& sim) {
  while (!sim.history.empty()) {
    poll_interrupt();
    if (!GY_TRY(undo_turn(sim))) return false;
  }
  return true;
}

Status rotate_pieces(std::vector<Piece>& pieces, std::span<const std::uint64_t> indices, const Quaternion& r) {
  Rotated rotated = GY_TRY(rotated_orientations(pieces, indices, r));
  swap_orientations(pieces, rotated);
  return {};
}

// ---------------------------------------------------------------------------------------------
// Scrambling, settling and the turn animation

std::uint64_t splitmix64_next(std::uint64_t& state) {
  state += 0x9E3779B97F4A7C15;
  std::uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
  return z ^ (z >> 31);
}

double random_unit(std::uint64_t& state) {
  return static_cast<double>(splitmix64_next(state) >> 11) * 1.1102230246251565e-16;
}

Status check_walk_length(std::uint64_t moves) {
  if (moves > kMaxQueuedMoves)
    return fail(Error::range(
        cat("a scramble of ", moves, " moves is more than the ", kMaxQueuedMoves, " one puzzle may make in a call")));
  return {};
}

Status check_bulk_moves(std::uint64_t count, std::uint64_t moves_each, std::string_view what) {
  std::uint64_t total = 0;
  if (__builtin_mul_overflow(count, moves_each, &total) || total > kMaxBulkMoves)
    return fail(Error::range(cat(count, " ", what, " of ", moves_each, " moves come to more than the ", kMaxBulkMoves,
                                 " moves one call may make")));
  return {};
}

Status queue_random_moves(Simulator& sim, std::uint32_t count) {
  if (std::uint64_t{sim.queued_moves} + count > kMaxQueuedMoves)
    return fail(Error::range(cat("cannot queue ", count, " more random moves: ", sim.queued_moves,
                                 " are waiting and at most ", kMaxQueuedMoves, " may")));
  sim.queued_moves += count;
  return {};
}

Status move_random(Simulator& sim) {
  const std::size_t count = sim.grips.size();
  if (count == 0) return {};
  RandomMove move;
  do {
    const double u1 = random_unit(sim.rng_state);
    const double u2 = random_unit(sim.rng_state);
    move.grip = saturating_cast<std::uint64_t>(std::floor(u1 * static_cast<double>(count)));
    move.direction = u2 < 0.5 ? -1 : 1;
  } while (sim.last_random_move && move.grip == sim.last_random_move->grip &&
           move.direction == -sim.last_random_move->direction);
  sim.last_random_move = move;
  return turn_grip(sim, std::min<std::uint64_t>(move.grip, count - 1), TurnRequest::by_direction(move.direction));
}

namespace {

// The next queued move. Interrupted before it is made, the queue, the random state and the last
// random move are as they were, so the same move is drawn again later.
Status make_queued_move(Simulator& sim) {
  const std::uint64_t rng_state = sim.rng_state;
  const std::optional<RandomMove> last = sim.last_random_move;
  --sim.queued_moves;
  try {
    return move_random(sim);
  } catch (const Interrupted&) {
    ++sim.queued_moves;
    sim.rng_state = rng_state;
    sim.last_random_move = last;
    throw;
  }
}

}  // namespace

Status settle(Simulator& sim) {
  // Each move's animation is dropped unplayed; the drawn pose follows the exact state once, at the
  // end (however the loop ends), which is the pose a refresh after every move would leave.
  sim.animation.reset();
  Status status;
  try {
    while (sim.queued_moves > 0 && status) {
      poll_interrupt();
      status = make_queued_move(sim);
      sim.animation.reset();
    }
  } catch (...) {
    Uninterruptible quiet;
    refresh_orientations(sim);
    throw;
  }
  refresh_orientations(sim);
  return status;
}

Status advance(Simulator& sim, double dt_ms) {
  if (!std::isfinite(dt_ms)) return fail(Error::range(cat("dt_ms must be finite, got ", dt_ms)));
  if (!sim.animation) {
    if (sim.queued_moves > 0) GY_CHECK(make_queued_move(sim));
    camera_orbit(sim.orbit, sim.camera);
    return {};
  }
  TurnAnimation& a = *sim.animation;
  a.elapsed_ms += dt_ms;
  const double t = a.duration_ms > 0.0 ? a.elapsed_ms / a.duration_ms : 2.0;
  if (t > 1.0 || !std::isfinite(t)) {
    end_animation(sim);
  } else if (!a.pieces.empty()) {
    if (a.start.size() < a.pieces.size() || a.end.size() < a.pieces.size())
      panic("advance: the animation has fewer poses than pieces");
    const double s = t * a.angle;
    for (std::size_t k = 0; k < a.pieces.size(); ++k) {
      const std::uint64_t p = a.pieces[k];
      if (p >= sim.orientations.size()) panic(cat("advance: piece index ", p, " out of range"));
      sim.orientations[p] = s == 0.0 ? a.start[k] : s == 1.0 ? a.end[k] : slerp(a.start[k], a.end[k], s);
    }
  }
  camera_orbit(sim.orbit, sim.camera);
  return {};
}

Quat4 slerp(const Quat4& a, const Quat4& b_in, double s) {
  Quat4 b = b_in;
  double d = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
  if (-d > d) {
    for (double& c : b) c = -c;
    d = -d;
  }
  if (d >= 1.0) return a;
  Quat4 out;
  if (1.0 - d * d <= 2.220446049250313e-16) {
    double len = 0.0;
    for (int i = 0; i < 4; ++i) {
      out[i] = a[i] * (1.0 - s) + b[i] * s;
      len += out[i] * out[i];
    }
    len = std::sqrt(len);
    if (len == 0.0) return quat4_identity;
    for (double& c : out) c /= len;
    return out;
  }
  const double y = std::sqrt(1.0 - d * d);
  const double theta = std::atan2(y, d);
  const double sa = std::sin((1.0 - s) * theta), sb = std::sin(s * theta);
  for (int i = 0; i < 4; ++i) out[i] = a[i] * sa / y + b[i] * sb / y;
  return out;
}

// ---------------------------------------------------------------------------------------------
// Camera orbit

namespace {

bool finite3(const Vec3d& v) { return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]); }

// v / |v|; the zero vector when v is zero or not finite. Lengths whose square overflows are taken
// after scaling v down.
Vec3d unit_or_zero(const Vec3d& v) {
  const double len = std::sqrt(dot3(v, v));
  if (std::isinf(len) && finite3(v)) {
    const double m = std::max({std::fabs(v[0]), std::fabs(v[1]), std::fabs(v[2])});
    return unit_or_zero({v[0] / m, v[1] / m, v[2] / m});
  }
  if (len == 0.0 || !std::isfinite(len)) return {0.0, 0.0, 0.0};
  return {v[0] / len, v[1] / len, v[2] / len};
}

// NaN is taken as 0.
double clamp_drag(double v) { return v > kMaxDrag ? kMaxDrag : v < -kMaxDrag ? -kMaxDrag : v == v ? v : 0.0; }

// The rotation by `angle` about the unit `axis`, as an f64 quaternion.
Quat4 axis_rotation(const Vec3d& axis, double angle) {
  const double s = std::sin(angle / 2.0), c = std::cos(angle / 2.0);
  return {axis[0] * s, axis[1] * s, axis[2] * s, c};
}

void turn_camera(Orbit& o, Camera& camera, const Quat4& q) {
  const Vec3d offset = rotate_point(q, o.offset), up = rotate_point(q, camera.up);
  if (!finite3(offset) || !finite3(up)) return;
  o.offset = offset;
  camera.up = up;
}

}  // namespace

void camera_orbit(Orbit& o, Camera& camera) {
  if (!o.enabled) return;
  o.offset = sub3(camera.position, o.pivot);
  for (Vec3d* point : {&o.drag_from, &o.drag_to})
    for (double& c : *point) c = clamp_drag(c);
  const Vec3d d = sub3(o.drag_to, o.drag_from);
  const double length_squared = dot3(d, d);
  if (length_squared > 0.0) {
    const double angle = std::sqrt(length_squared) * o.sensitivity;
    const Vec3d out = unit_or_zero(o.offset), up = unit_or_zero(camera.up);
    const Vec3d right = unit_or_zero(cross3(up, out));
    const Vec3d w{right[0] * d[0] + up[0] * d[1], right[1] * d[0] + up[1] * d[1], right[2] * d[0] + up[2] * d[1]};
    o.axis = unit_or_zero(cross3(w, out));
    turn_camera(o, camera, axis_rotation(o.axis, angle));
    o.velocity = angle;
    for (int i = 0; i < 3; ++i) o.drag_from[i] += d[i] * o.damping;
  } else if (!std::isfinite(o.velocity)) {
    o.velocity = 0.0;
  } else if (o.velocity != 0.0) {
    o.velocity *= std::sqrt(1.0 - o.damping);
    turn_camera(o, camera, axis_rotation(o.axis, o.velocity));
  }
  camera.position = {o.pivot[0] + o.offset[0], o.pivot[1] + o.offset[1], o.pivot[2] + o.offset[2]};
  camera.target = o.pivot;
}

}  // namespace gy

#include "piece.hpp"

#include <tsl/ordered_map.h>

#include <cstdio>
#include <map>
#include <unordered_map>

#include "num/interrupt.hpp"

namespace gy {

bool Piece::has_outer_face() const {
  for (const auto& f : faces)
    if (f.interior == 0) return true;
  return false;
}

namespace {

struct PairHash {
  std::size_t operator()(const std::pair<std::uint64_t, std::uint64_t>& p) const {
    return std::hash<std::uint64_t>()(p.first * 0x9E3779B97F4A7C15ull ^ p.second);
  }
};

// A half under construction: its vertices are copies of working-list entries, added on first use.
struct Half {
  Piece piece;
  std::vector<std::int64_t> index_of;  // working index -> half index, -1 when absent

  std::uint64_t map(std::size_t w, const std::vector<Vector3>& working) {
    if (index_of.size() <= w) index_of.resize(w + 1, -1);
    if (index_of[w] < 0) {
      index_of[w] = static_cast<std::int64_t>(piece.vertices.size());
      piece.vertices.push_back(working[w]);
    }
    return static_cast<std::uint64_t>(index_of[w]);
  }

  void add_face(const std::vector<std::size_t>& corners, const Face& from, const std::vector<Vector3>& working) {
    if (corners.size() < 3) return;
    Face f;
    f.indices.reserve(corners.size());
    for (std::size_t w : corners) f.indices.push_back(map(w, working));
    f.plane = from.plane;
    f.color = from.color;
    f.interior = from.interior;
    piece.faces.push_back(std::move(f));
  }
};

}  // namespace

Result<std::pair<Piece, Piece>> cut_pieces(const Piece& piece, const Plane& plane, const Rgb& color,
                                           std::uint8_t interior) {
  const std::size_t n = piece.vertices.size();
  std::vector<AlgebraicNumber> value;
  std::vector<int> side;
  value.reserve(n);
  side.reserve(n);
  bool any_neg = false, any_pos = false;
  for (const auto& v : piece.vertices) {
    AlgebraicNumber e = GY_TRY(plane.value_at(v));
    int s = GY_TRY(e.sign());
    any_neg = any_neg || s < 0;
    any_pos = any_pos || s > 0;
    value.push_back(std::move(e));
    side.push_back(s);
  }
  if (!any_neg) return std::pair{piece.clone(), Piece{}};
  if (!any_pos) return std::pair{Piece{}, piece.clone()};

  std::vector<Vector3> working = piece.vertices;
  std::unordered_map<std::pair<std::uint64_t, std::uint64_t>, std::size_t, PairHash> crossing;
  Half pos, neg;
  std::vector<std::size_t> plist, nlist;
  for (const auto& face : piece.faces) {
    poll_interrupt();
    plist.clear();
    nlist.clear();
    const auto& idx = face.indices;
    for (std::size_t k = 0; k < idx.size(); ++k) {
      std::size_t prev = static_cast<std::size_t>(idx[k == 0 ? idx.size() - 1 : k - 1]);
      std::size_t cur = static_cast<std::size_t>(idx[k]);
      if (prev >= n || cur >= n) panic("cut_pieces: face index out of range");
      if (side[prev] * side[cur] < 0) {
        auto key = side[prev] < 0 ? std::pair<std::uint64_t, std::uint64_t>{prev, cur}
                                  : std::pair<std::uint64_t, std::uint64_t>{cur, prev};
        auto it = crossing.find(key);
        std::size_t x;
        if (it != crossing.end()) {
          x = it->second;
        } else {
          const Vector3& vp = piece.vertices[prev];
          Vector3 d = GY_TRY(Vector3::sub(piece.vertices[cur], vp));
          AlgebraicNumber nd = GY_TRY(Vector3::dot(plane.normal, d));
          AlgebraicNumber inv = GY_TRY(nd.inverse());
          AlgebraicNumber t = GY_TRY(value[prev].mul(inv));
          Vector3 step = GY_TRY(Vector3::scaled(d, t));
          working.push_back(GY_TRY(Vector3::sub(vp, step)));
          x = working.size() - 1;
          crossing.emplace(key, x);
        }
        plist.push_back(x);
        nlist.push_back(x);
      }
      if (side[cur] >= 0) plist.push_back(cur);
      if (side[cur] <= 0) nlist.push_back(cur);
    }
    pos.add_face(plist, face, working);
    neg.add_face(nlist, face, working);
  }
  rebuild_faces(neg.piece, plane, color, interior);
  rebuild_faces(pos.piece, plane.negated(), color, 1);
  return std::pair{std::move(pos.piece), std::move(neg.piece)};
}

void rebuild_faces(Piece& piece, const Plane& plane, const Rgb& color, std::uint8_t interior) {
  using Edge = std::pair<std::uint64_t, std::uint64_t>;
  struct Group {
    Edge first;
    std::uint32_t count = 0;
  };
  tsl::ordered_map<Edge, Group, PairHash> groups;
  for (const auto& f : piece.faces) {
    const auto& idx = f.indices;
    for (std::size_t k = 0; k < idx.size(); ++k) {
      std::uint64_t prev = idx[k == 0 ? idx.size() - 1 : k - 1], cur = idx[k];
      Edge key{std::min(prev, cur), std::max(prev, cur)};
      auto [it, fresh] = groups.try_emplace(key, Group{{prev, cur}, 0});
      it.value().count++;
    }
  }
  // Boundary edges walked against their face's direction give the closing face's outward winding.
  std::map<std::uint64_t, std::vector<std::uint64_t>> successors;
  for (const auto& [key, g] : groups)
    if (g.count == 1) successors[g.first.second].push_back(g.first.first);
  const std::size_t total = successors.size();
  std::size_t placed = 0;
  std::vector<std::uint64_t> visited_list;
  std::unordered_map<std::uint64_t, bool> visited;
  auto is_visited = [&](std::uint64_t v) { return visited.count(v) != 0; };
  while (placed < total) {
    std::optional<std::uint64_t> start;
    for (const auto& [k, _] : successors)
      if (!is_visited(k)) {
        start = k;
        break;
      }
    if (!start) {
      std::fputs("not all cut points visited\n", stderr);
      return;
    }
    Face f;
    std::uint64_t cur = *start;
    while (true) {
      f.indices.push_back(cur);
      visited.emplace(cur, true);
      ++placed;
      auto it = successors.find(cur);
      if (it == successors.end() || it->second.empty()) break;
      std::optional<std::uint64_t> next;
      for (std::uint64_t s : it->second)
        if (!is_visited(s)) {
          next = s;
          break;
        }
      if (!next) break;
      cur = *next;
    }
    f.plane = plane;
    f.color = color;
    f.interior = interior;
    piece.faces.push_back(std::move(f));
  }
}

}  // namespace gy

// Grips and their stops, derived from the pieces' current exact geometry.
//
// A grip is a plane that no piece straddles: the pieces on its side a·x + b·y + c·z + d >= 0 turn,
// the others stay. Candidate planes are the interior (cut) faces of the pieces where the pieces now
// are; a candidate that some piece straddles is a blocked layer and gives no grip. The stops of a
// grip are the rotations about its axis that carry a plane through the layer onto a plane through
// the rest.
//
// Every sign and comparison is exact. The side of a piece against a plane and the extent of a piece
// along a normal are memoised under text keys that hold the piece's exact orientation, so pieces
// that a turn did not move (or that return to an earlier orientation) cost a lookup.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "geometry.hpp"
#include "num/error.hpp"
#include "piece.hpp"

namespace gy {

struct Grip {
  Plane plane;                        // turning side: a·x + b·y + c·z + d >= 0
  std::vector<std::uint64_t> pieces;  // on the turning side, in piece order
  std::vector<std::uint64_t> others;  // on the other side, in piece order
};

// Side of a piece against a plane: +1 every vertex on the turning side (or on the plane), -1 every
// vertex on the other side (or on the plane) and not +1, 0 the plane cuts the piece.
using Side = std::int32_t;

struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};
template <class V>
using TextMap = std::unordered_map<std::string, V, TextHash, std::equal_to<>>;

// An interior face's plane where its piece now is, in the candidates' canonical sign (first nonzero
// of a, b, c positive), with its text key "[normal key,key of d]".
struct FacePlane {
  Plane plane;
  std::string key;
  std::size_t normal_key_length = 0;  // the normal key is key.substr(1, normal_key_length)

  std::string_view normal_key() const { return std::string_view(key).substr(1, normal_key_length); }
};

struct Extent {
  AlgebraicNumber min, max;
};

// The text key of a piece's current orientation, and the exact rotation matrix of that orientation
// (made on first need), remembered until the orientation changes.
struct OrientationEntry {
  Quaternion rotation;
  std::string key;
  std::string suffix;  // "/{piece},{key}": what a movement key adds to a plane or normal key
  bool valid = false;
  bool has_matrix = false;
  std::array<AlgebraicNumber, 9> matrix;  // row-major, of the unit rotation
  std::shared_ptr<const std::vector<FacePlane>> faces;  // the piece's candidate planes there
};

// A memo of text keys in two generations. A lookup that finds an entry in the older generation
// moves it to the newer; when the newer holds `limit` entries it becomes the older, and the older
// is dropped. So the entries in use stay, and at most twice the limit are held.
template <class V>
class GenerationalMemo {
 public:
  // The value under key, or null; valid until the next lookup or store.
  V* find(std::string_view key) {
    if (auto it = fresh_.find(key); it != fresh_.end()) return &it->second;
    auto it = old_.find(key);
    if (it == old_.end()) return nullptr;
    auto node = old_.extract(it);
    make_room();
    return &fresh_.insert(std::move(node)).position->second;
  }

  // Stores value under key, replacing any value there; valid as find's.
  V& store(std::string_view key, V value) {
    if (V* v = find(key)) return *v = std::move(value);
    make_room();
    return fresh_.emplace(std::string(key), std::move(value)).first->second;
  }

  std::size_t size() const { return fresh_.size() + old_.size(); }
  void set_limit(std::size_t limit) { limit_ = std::max<std::size_t>(limit, 1); }

 private:
  void make_room() {
    if (fresh_.size() < limit_) return;
    old_ = std::move(fresh_);
    fresh_.clear();
  }

  TextMap<V> fresh_, old_;
  std::size_t limit_ = 1;
};

// Caches kept with one piece list for its whole life. All are pure: a fresh set gives the same
// results. Besides the side and extent memos, a piece's candidate planes are kept per orientation
// and each piece's orientation key until the piece turns.
//
// The memos are bounded by the analyses they serve: each keeps at least `span` analyses' worth of
// entries of the state at hand (pieces x candidate planes for sides and extents, pieces for planes)
// and never fewer than `floor`, and holds at most twice that.
struct GripMemos {
  GenerationalMemo<Side> side_memo;      // movement key of a plane -> side
  GenerationalMemo<Extent> extent_memo;  // movement key of a normal -> (min, max) along it
  GenerationalMemo<std::shared_ptr<const std::vector<FacePlane>>> face_memo;  // "piece,orientation" -> planes
  std::vector<OrientationEntry> orientations;                                   // by piece index
  std::size_t span = 2;
  std::size_t floor = 8192;
};

// "{key}/{piece},{orientation key}".
std::string movement_key(std::string_view key, std::uint64_t piece, std::string_view orientation_key);

// The candidate planes (distinct, in order of first appearance over all pieces' interior faces)
// tested against the pieces of `subset` (all pieces when null), in candidate order. With
// `require_two_sides`, a candidate with no piece on one of its sides gives no grip.
Result<std::vector<Grip>> movement_analysis(std::span<const Piece> pieces, GripMemos& memos,
                                            const std::vector<std::uint64_t>* subset, bool require_two_sides);

// The grips of the current state in grip-index order: every plane with d <= 0 (a plane through the
// centre gives both halves, the canonical one first), sorted stably by d, greatest first.
Result<std::vector<Grip>> current_grips(std::span<const Piece> pieces, GripMemos& memos);

// A stop and its pseudo-angle 1 − w·|w| / |q|² (0 only for the identity).
struct Stop {
  AlgebraicNumber pseudo_angle;
  Quaternion rotation;
};

// The stops of a grip in ascending pseudo-angle, with their pseudo-angles.
Result<std::vector<Stop>> grip_stop_records(std::span<const Piece> pieces, GripMemos& memos, const Grip& grip);

// The stops of a grip: exact rotations about its axis, in ascending pseudo-angle; empty when the
// layer fits the rest nowhere.
Result<std::vector<Quaternion>> grip_stops(std::span<const Piece> pieces, GripMemos& memos, const Grip& grip);

// Whether two planes have exactly equal coefficients (numbers of unrelated fields are unequal).
bool planes_equal(const Plane& a, const Plane& b);

}  // namespace gy

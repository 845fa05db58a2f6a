// The live state of one puzzle: its recipe and pieces with exact orientations, the meshes that draw
// them, the grips and arrows that turn them, the turn history and the turn in flight, the scramble
// queue and its random state, the sticker-model caches, and the view, camera and camera orbit.
//
// Exact state is final as soon as a call returns; the float orientations only follow it for drawing
// (a turn leaves an animation that the time-stepping plays). Every call that changes the record
// either succeeds whole or leaves the record as it was. Long calls poll for a stop request between
// whole turns (gy::Interrupted); an interrupted call leaves the record as a failure at that point
// would.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "geometry.hpp"
#include "movement.hpp"
#include "num/error.hpp"
#include "num/interrupt.hpp"
#include "parse.hpp"
#include "piece.hpp"
#include "render/raster.hpp"
#include "render/scene.hpp"

namespace gy {

// The discrete sticker model of the solved puzzle; built on first use, shared by reference count.
struct TabularModel;

using Quat4 = std::array<double, 4>;  // f64 quaternion (x, y, z, w)

inline constexpr Quat4 quat4_identity{0.0, 0.0, 0.0, 1.0};
inline constexpr double kTau = 6.283185307179586;
inline constexpr std::uint64_t kInitialRngState = 0x2545F4914F6CDD1D;

// p·q over floats: q first, then p.
constexpr Quat4 quat4_mul(const Quat4& p, const Quat4& q) {
  return {p[3] * q[0] + p[0] * q[3] + p[1] * q[2] - p[2] * q[1],
          p[3] * q[1] - p[0] * q[2] + p[1] * q[3] + p[2] * q[0],
          p[3] * q[2] + p[0] * q[1] - p[1] * q[0] + p[2] * q[3],
          p[3] * q[3] - p[0] * q[0] - p[1] * q[1] - p[2] * q[2]};
}

// Holds off the poll points of this thread, and of the pool work it starts, while it lives: the
// tidying that makes an interrupted call's object whole again runs to its end.
class Uninterruptible {
 public:
  Uninterruptible() noexcept : quiet_(nullptr) {}

 private:
  WorkFor quiet_;
};

// ---------------------------------------------------------------------------------------------
// Meshes and arrows

// One piece as drawn, built once from its exact geometry in its own frame.
struct PieceMesh {
  std::vector<Triangle3> triangles;
  std::vector<std::uint32_t> colours;      // RGBA per triangle, red in the lowest byte
  std::vector<Segment3> edges;             // outline: boundary edges and seams bent by over 1 degree
  std::vector<std::int32_t> face_indices;  // per triangle, the face it came from
};

// One drawn arrow: the shared arrow solid placed by a column-major transform.
struct ArrowInstance {
  Mat4 transform = mat4_identity;
  std::uint8_t flag = 0;
};

// ---------------------------------------------------------------------------------------------
// Turns

struct TurnRequest {
  enum : std::uint32_t { ByDirection = 0, ToStop = 1 };
  std::uint32_t kind = ByDirection;
  std::int32_t direction = 1;  // ByDirection: negative turns backwards, anything else forwards
  std::uint64_t stop = 0;      // ToStop: index into the grip's stops

  static TurnRequest by_direction(std::int32_t direction) { return {ByDirection, direction, 0}; }
  static TurnRequest to_stop(std::uint64_t stop) { return {ToStop, 0, stop}; }
};

// One history entry: the turned grip's plane at the time of the turn and the rotation applied.
struct TurnRecord {
  Plane plane;
  Quaternion rotation;
};

// The turn in flight. `end` is each start pose turned by exactly 1 radian about the grip's axis, so
// that interpolating by t·angle sweeps the whole turn.
struct TurnAnimation {
  std::vector<std::uint64_t> pieces;
  std::vector<Quat4> start;
  std::vector<Quat4> end;
  double duration_ms = 0.0;
  double elapsed_ms = 0.0;
  double angle = 0.0;  // signed, radians
};

struct RandomMove {
  std::uint64_t grip = 0;
  std::int32_t direction = 1;  // +1 or -1
  bool operator==(const RandomMove&) const = default;
};

// ---------------------------------------------------------------------------------------------
// Camera orbit

struct Orbit {
  double sensitivity = 3.0;  // radians per unit of drag
  double damping = 0.2;
  Vec3d pivot{0.0, 0.0, 0.0};
  Vec3d offset{0.0, 0.0, 0.0};
  Vec3d drag_from{0.0, 0.0, 0.0};
  Vec3d drag_to{0.0, 0.0, 0.0};
  Vec3d axis{0.0, 1.0, 0.0};
  double velocity = 0.0;
  bool enabled = true;
  bool drag_active = false;
};

// ---------------------------------------------------------------------------------------------
// Sticker memo: (piece index, orientation key) -> the slots the piece's stickers now lie in.

struct StickerMemoKey {
  std::uint64_t piece = 0;
  std::string orientation;
  bool operator==(const StickerMemoKey&) const = default;
};
struct StickerMemoHash {
  std::size_t operator()(const StickerMemoKey& k) const noexcept {
    return std::hash<std::string>{}(k.orientation) ^ (std::hash<std::uint64_t>{}(k.piece) * 0x9E3779B97F4A7C15ull);
  }
};
using StickerPlacement = std::shared_ptr<const std::vector<std::uint32_t>>;
using StickerMemo = std::unordered_map<StickerMemoKey, StickerPlacement, StickerMemoHash>;

// ---------------------------------------------------------------------------------------------
// The record

struct Simulator {
  // Pointer and hover state
  std::optional<std::uint64_t> hovered_arrow;
  std::optional<std::uint64_t> pressed_arrow;

  // Scramble memory: the latest random move (only random moves set it; seeding clears it)
  std::optional<RandomMove> last_random_move;

  // The recipe, unchanged for the record's life
  Recipe recipe;

  // Geometry: the pieces never change but for their exact orientations
  std::vector<Piece> pieces;
  GripMemos grip_memos;
  Quat4 model_rotation = quat4_identity;  // premultiplied onto every drawn orientation
  std::string field;                      // text of the common number field
  double scale = 1.0;                     // fits the puzzle into the unit sphere

  // Meshes, built once
  std::vector<PieceMesh> piece_meshes;
  std::vector<Triangle3> arrow_mesh;

  // Grips and arrows of the current state (two arrows per grip: 2g and 2g + 1)
  std::vector<Grip> grips;
  std::vector<ArrowInstance> arrows;

  // Drawn orientations, one per piece
  std::vector<Quat4> orientations;

  // History and the turn in flight
  std::vector<TurnRecord> history;  // oldest first
  std::optional<TurnAnimation> animation;

  ViewSettings view;
  Orbit orbit;

  // Per (piece, orientation) sticker placements; emptied when a model is installed
  StickerMemo sticker_memo;

  Camera camera;

  // Random state and counters
  std::uint64_t rng_state = kInitialRngState;  // SplitMix64
  std::uint64_t move_count = 0;                // turns and undos made
  std::shared_ptr<const TabularModel> tabular_model;
  std::uint32_t queued_moves = 0;  // random moves queued and not yet made

  // Builds the record from a recipe query text ("?shell=...&cut=...").
  static Result<Simulator> build(std::string_view query);
};

// One build per text on the worker pool; entry i is the record or the error of text i.
std::vector<Result<Simulator>> build_simulators(std::span<const std::string> queries);

// About how many bytes sim holds, its heap blocks included: what another copy built from the same
// recipe will take.
std::size_t approximate_footprint(const Simulator& sim);

// The meshes of one piece; a coordinate that does not convert to f64 is an error.
Result<PieceMesh> build_piece_mesh(const Piece& piece);
// The arrow solid: a curved arrow outline in z = 0, extruded to thickness 0.2 (112 triangles).
std::vector<Triangle3> build_arrow_mesh();

// ---------------------------------------------------------------------------------------------
// Grips, turning and history

// Recomputes the drawn orientations from the exact ones (identity where a conversion fails).
void refresh_orientations(Simulator& sim);

// Drops the turn in flight, if any, and refreshes the drawn orientations.
void end_animation(Simulator& sim);

// Derives the grips and arrows of the current pieces and installs them, clearing the hovered and
// pressed arrows. On an error nothing changes.
Status derive_grips(Simulator& sim);

// The stops of grip g of the current state; Range "grip index {} out of range (have {})".
Result<std::vector<Quaternion>> stops_of_grip(Simulator& sim, std::uint64_t g);

// Turns grip g by direction or to a stop, exactly, counting and recording the move and leaving its
// animation in flight. On an error the record is as it was.
Status turn_grip(Simulator& sim, std::uint64_t g, const TurnRequest& request);

// Turns grip g by direction `repeat` times, following its layer: each turn after the first turns
// the first grip whose plane is exactly the first turn's. Only the last turn is left in flight. All
// or nothing: on an error or an interruption the record is as it was before the first turn (a
// repeat of 0 does nothing). State "the layer of grip {} cannot turn again after {} turns" if the plane is lost.
Status turn_grip_repeated(Simulator& sim, std::uint64_t g, std::int32_t direction, std::uint32_t repeat);

// Undoes the latest turn without animating. False when the history is empty or the recorded layer
// cannot turn now (nothing changes). On an error the record, its history included, is as it was.
Result<bool> undo_turn(Simulator& sim);

// Undoes turns until the history is empty (true) or an undo refuses (false); on an error or an
// interruption the turns undone before it stay undone.
Result<bool> restore_turns(Simulator& sim);

// Rotates the listed pieces' exact orientations by r (r on the left), each scaled so that the
// absolute values of its components sum to 1. On an error no piece changes.
Status rotate_pieces(std::vector<Piece>& pieces, std::span<const std::uint64_t> indices, const Quaternion& r);

// ---------------------------------------------------------------------------------------------
// Scrambling, settling, the turn animation and the camera orbit

// The most random moves that may wait to be made: queueing more is refused, so the queue cannot wrap
// and a settle cannot run for hours.
inline constexpr std::uint32_t kMaxQueuedMoves = 10000;

// The most moves one call over many puzzles, walks or states makes in all, counted as their number
// times the longest walk or text asked for: a batch's scrambles, resets and written moves, a
// layout's walks, and the scrambles of render_many. Past it a call is refused before any change.
inline constexpr std::uint64_t kMaxBulkMoves = std::uint64_t{1} << 30;

// Range "a scramble of {} moves is more than the {} one puzzle may make in a call" past
// kMaxQueuedMoves.
Status check_walk_length(std::uint64_t moves);
// Range "{} {} of {} moves come to more than the {} moves one call may make" when count walks of
// moves_each (what names them: "puzzles", "walks") pass kMaxBulkMoves.
Status check_bulk_moves(std::uint64_t count, std::uint64_t moves_each, std::string_view what);

// One SplitMix64 draw: advances the state by the golden gamma and returns the mixed new state.
std::uint64_t splitmix64_next(std::uint64_t& state);

// A uniform number in [0, 1) from one draw: the top 53 bits of the mixed value.
double random_unit(std::uint64_t& state);

// Adds count random moves to the queue; none are made now. Range "cannot queue {} more random moves:
// {} are waiting and at most {} may" when the queue would pass kMaxQueuedMoves (nothing is queued).
Status queue_random_moves(Simulator& sim, std::uint32_t count);

// One random move now, animated: a grip and direction from the random state, never the reverse of
// the previous random move. Without grips nothing happens.
Status move_random(Simulator& sim);

// Ends the turn in flight and makes every queued move at once, without animation. On an error the
// moves not yet made stay queued; interrupted, the moves made stay made and the rest stay queued,
// the random state where the next of them draws from.
Status settle(Simulator& sim);

// One time step: plays dt_ms of the turn in flight (ending it once past its duration), or starts the
// next queued move when nothing is in flight; then steps the camera orbit once. Range "dt_ms must be
// finite, got {}" for a NaN or infinite step, with nothing changed.
Status advance(Simulator& sim, double dt_ms);

// Spherical interpolation from a (s = 0) towards b (s = 1) over the shorter arc, extrapolating for s
// outside [0, 1].
Quat4 slerp(const Quat4& a, const Quat4& b, double s);

// Drag points are held within this bound on each axis (far beyond any pointer on the view), so that
// no quantity of the orbit can overflow.
inline constexpr double kMaxDrag = 1e6;

// One orbit step: turns the camera about the pivot through part of the drag left, or coasts on the
// last turn's velocity with damping; the camera ends looking at the pivot. The drag points are first
// clamped to kMaxDrag; a turn that would make the eye or up vector non-finite is not made, and a
// non-finite velocity stops the coasting.
void camera_orbit(Orbit& orbit, Camera& camera);

}  // namespace gy

// The discrete model of a puzzle, taken from its solved state: sticker slots with their colours and
// positions, the grips' names and planes, and what is built on them: reading a state as sticker ids
// or colours per slot, the solved test, actions (moves numbered by the solved puzzle's grips), the
// action mask, the moves as slot permutations, and move texts such as "A B2' A'".
//
// Slots are numbered by colour, then piece, then face, so the numbering depends only on the pieces'
// order, their faces' order and the colours, never on coordinates. Stored data and later engines rely
// on it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "geometry.hpp"
#include "movement.hpp"
#include "num/error.hpp"
#include "piece.hpp"
#include "simulator.hpp"

namespace gy {

// ---------------------------------------------------------------------------------------------
// The model

struct TabularModel {
  std::vector<std::uint16_t> solved_colors;              // per slot: the colour index that belongs there
  std::vector<std::uint32_t> palette;                    // per colour index: 0xRRGGBB, first seen first
  std::vector<std::vector<std::uint32_t>> piece_slots;   // per piece: its stickers' slots, increasing
  std::vector<std::vector<std::uint32_t>> piece_faces;   // per piece, parallel: the face carrying each
  std::vector<std::array<double, 3>> positions;          // per slot: the sticker face's centroid
  TextMap<std::uint32_t> slot_at_position;               // position key -> slot
  std::vector<std::string> grip_names;                   // per grip of the solved puzzle
  std::vector<Plane> grip_planes;                        // per grip of the solved puzzle, in grip order

  std::size_t sticker_count() const { return solved_colors.size(); }
  std::size_t color_count() const { return palette.size(); }
  // Two per grip: action 2k turns grip k forwards, 2k + 1 backwards.
  std::size_t action_count() const { return 2 * grip_names.size(); }
};
using ModelRef = std::shared_ptr<const TabularModel>;

// The first six fields of a model.
struct SlotNumbering {
  std::vector<std::uint16_t> solved_colors;
  std::vector<std::uint32_t> palette;
  std::vector<std::vector<std::uint32_t>> piece_slots;
  std::vector<std::vector<std::uint32_t>> piece_faces;
  std::vector<std::array<double, 3>> positions;
  TextMap<std::uint32_t> slot_at_position;
};

struct GripNaming {
  std::vector<std::string> grip_names;
  std::vector<Plane> grip_planes;
};

// The exact sum of the listed points. An empty list or an index past the points is a broken invariant.
Result<Vector3> sum_points(std::span<const Vector3> points, std::span<const std::uint64_t> indices);

// "{n}:" then, per coordinate x, y, z, each coefficient "{num}/{den}," lowest degree first and ";".
// Two sticker faces of one puzzle have equal keys exactly when they have the same vertex count and
// the same exact vertex sum.
std::string position_key(const Vector3& sum, std::uint64_t n);

// Per component x, y, z, w: each coefficient "{num}/{den}," and then ";".
std::string orientation_key(const Quaternion& q);

// Whether a piece is at its built orientation: x, y and z zero and w not.
bool at_home(const Quaternion& q);

// Numbers the sticker faces (the faces that are not interior) of the pieces where they now are.
// Other "puzzle has too many colors" past 65536 colours, Other "puzzle has too many stickers" past
// 2^32 - 1 stickers, State "two stickers of the solved puzzle share a position, so slots cannot be
// numbered".
Result<SlotNumbering> number_slots(std::span<const Piece> pieces);

// Axis letters of the i-th axis in bijective base 26: A .. Z, AA .. AZ, BA, ..., ZZ, AAA, ...
std::string axis_letters(std::uint64_t i);

// Names the grips: grips whose normals are positive multiples of each other share an axis; axes
// are lettered in order of first appearance, and an axis with several grips numbers them from 1
// ("A1", "A2"). State "a grip has a degenerate axis" for a zero normal.
Result<GripNaming> name_grips(std::span<const Grip> grips);

// "A", "A'", "B", "B'", ...: action 2k is grip name k, action 2k + 1 the same with "'".
std::vector<std::string> action_names(std::span<const std::string> grip_names);

// The model of the simulator's solved puzzle, built on first use and cached in the simulator. The
// solved puzzle is its pieces at their built orientations: the current pieces when every piece is at
// home, else a copy of them turned home. On an error nothing is stored.
Result<ModelRef> tabular_model(Simulator& sim);

// Installs a model (shared with other simulators of the same recipe) and empties the sticker memo.
void set_tabular_model(Simulator& sim, ModelRef model);

// ---------------------------------------------------------------------------------------------
// State readers

// For each slot, the slot where the sticker now in it sits on the solved puzzle; the solved puzzle
// reads 0, 1, 2, .... Placements are memoised per (piece, orientation). Fails with State "face {} of
// piece {} is not at any solved sticker position. This puzzle does not return to its own lattice" or
// "slot {} is empty: the puzzle's stickers no longer sit on the solved lattice" when the stickers
// have left the solved lattice; arithmetic errors are returned as they come.
Result<std::vector<std::uint32_t>> sticker_ids(const TabularModel& model, std::span<const Piece> pieces,
                                               StickerMemo& memo);

// As sticker_ids, but a state off the solved lattice is no error: it reads as absent, and `why`
// (when given) receives the State error that sticker_ids would return. Any other error is returned.
Result<std::optional<std::vector<std::uint32_t>>> try_sticker_ids(const TabularModel& model,
                                                                  std::span<const Piece> pieces, StickerMemo& memo,
                                                                  Error* why = nullptr);

// The colour index of the sticker now in each slot.
Result<std::vector<std::uint16_t>> sticker_colors(const TabularModel& model, std::span<const Piece> pieces,
                                                  StickerMemo& memo);

// The same on a simulator, obtaining its model first.
Result<std::vector<std::uint32_t>> sticker_ids(Simulator& sim);
Result<std::vector<std::uint16_t>> sticker_colors(Simulator& sim);

// Whether every slot shows the colour that belongs there (identical stickers may be exchanged). A
// state off the lattice fails as sticker_ids does.
Result<bool> is_solved(Simulator& sim);

// ---------------------------------------------------------------------------------------------
// Actions

// The first current grip whose plane is exactly the plane of the action's solved grip, or absent
// when that layer cannot turn now (or the action is past the model's grips).
Result<std::optional<std::uint64_t>> action_grip(Simulator& sim, std::uint64_t action);

// The action named like "A" or "B2'" (one trailing "'" for the backward direction; no repeat count),
// or absent.
std::optional<std::uint64_t> action_index(std::span<const std::string> grip_names, std::string_view name);

// Makes action a at once: turns its grip forwards for even a, backwards for odd a, without leaving
// an animation. False, with nothing changed, when the layer cannot turn now. Range "action {} out of
// range (have {})" past the last action.
Result<bool> apply_action(Simulator& sim, std::uint64_t action);

// One byte per action: 1 when it can be made now.
Result<std::vector<std::uint8_t>> action_mask(Simulator& sim);

// Every action as a fixed permutation of the slots, in gather form: making action a turns the sticker
// ids `old` into `new` with new[i] = old[row(a)[i]].
struct ActionPermutations {
  std::size_t action_count = 0;
  std::size_t slot_count = 0;
  std::vector<std::uint32_t> permutations;  // action_count rows of slot_count entries, row-major
  std::vector<std::uint16_t> start_colors;  // the sticker colours read when the table was made

  std::span<const std::uint32_t> row(std::size_t a) const {
    return std::span<const std::uint32_t>(permutations).subspan(a * slot_count, slot_count);
  }
};

// The permutation of every action, whatever the state the puzzle is in: each action is made and
// undone from the current state and its row is read relative to that state. Absent when the moves
// are not fixed permutations: an action cannot be made, leaves the solved lattice, or makes another
// action impossible. The pieces, history and grips are left as they were; the move count grows by
// two per action made. Errors other than leaving the lattice are returned.
Result<std::optional<ActionPermutations>> compute_action_permutations(Simulator& sim);

// ---------------------------------------------------------------------------------------------
// Move text

// One move of a text: an action made `repeat` times.
struct Move {
  std::uint64_t action = 0;
  std::uint32_t repeat = 1;
  bool operator==(const Move&) const = default;
};

// The most turns one move text may make (the sum of its repeat counts). A text asking for more is
// refused before anything is made.
inline constexpr std::uint64_t kMaxTextTurns = 10000;

// Reads whitespace-separated tokens, each a grip name, an optional decimal repeat count and an
// optional trailing "'" (backwards). A name that ends in digits is matched whole before a count is
// split off; otherwise the longest name that leaves a count wins. Parse errors name the token:
// "'{}' is not a move of this puzzle. Its grips are {}", "move '{}' repeats zero times", "move '{}'
// has an unreadable repeat count" (past 2^32 - 1), and "move '{}' takes the text past 10000 turns"
// when the repeat counts add up to more than kMaxTextTurns.
Result<std::vector<Move>> parse_moves(std::span<const std::string> grip_names, std::string_view text);

// Parses a move text against the simulator's grip names and makes each move, each repeat a turn
// without animation; returns the number of turns made. A move whose layer cannot turn fails with
// State "move '{}' cannot be made: that layer is locked" (the action's name); the moves made before a
// failure stay made.
Result<std::uint64_t> apply_moves(Simulator& sim, std::string_view text);

// ---------------------------------------------------------------------------------------------
// Jumbling

// Whether the recipe's puzzle jumbles: some action, made from the solved state or along a fixed
// random walk, leaves the stickers off the solved lattice, or an action cannot be turned back. The
// same recipe always gives the same answer. Build, model and turn errors are returned.
Result<bool> jumbles(std::string_view query);

// The recipes of the cataloged puzzles that do not jumble, in catalog order.
std::span<const std::string_view> non_jumbling_recipes();

}  // namespace gy

#include "symbolic.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <unordered_map>
#include <utility>

#include <tsl/ordered_map.h>

#include "color.hpp"
#include "sort.hpp"

namespace gy {
namespace {

using A = AlgebraicNumber;

constexpr std::uint32_t kEmptySlot = 0xFFFFFFFF;

// "{num}/{den}," per coefficient, lowest degree first, then ";".
void append_coefficients(const A& a, std::string& out) {
  for (const Fraction& c : a.value().coeffs) {
    c.num().fmt(out);
    out += '/';
    c.den().fmt(out);
    out += ',';
  }
  out += ';';
}

// Exact equality, deciding by the coefficient lists first: within joinable fields a number has one
// list, so different lists mean different numbers, and only equal lists need the fields compared.
bool same_number(const A& a, const A& b) { return a.value() == b.value() && a.eq(b); }

bool same_plane(const Plane& a, const Plane& b) {
  return same_number(a.d, b.d) && same_number(a.normal.x, b.normal.x) && same_number(a.normal.y, b.normal.y) &&
         same_number(a.normal.z, b.normal.z);
}

// The current grip on the plane of the action's solved grip.
std::optional<std::uint64_t> matching_grip(const Simulator& sim, const TabularModel& model, std::uint64_t action) {
  const std::uint64_t g = action / 2;
  if (g >= model.grip_planes.size()) return std::nullopt;
  const Plane& plane = model.grip_planes[g];
  for (std::size_t i = 0; i < sim.grips.size(); ++i)
    if (same_plane(sim.grips[i].plane, plane)) return i;
  return std::nullopt;
}

std::string action_name(const TabularModel& model, std::uint64_t action) {
  std::string name = model.grip_names.at(action / 2);
  if (action % 2 == 1) name += '\'';
  return name;
}

Error action_range_error(std::uint64_t action, std::size_t count) {
  return Error::range(cat("action ", action, " out of range (have ", count, ")"));
}

// Puts every piece at its built orientation until destroyed, then puts the orientations back.
class HomeOrientations {
 public:
  explicit HomeOrientations(std::vector<Piece>& pieces) : pieces_(pieces) {
    saved_.reserve(pieces.size());
    for (Piece& p : pieces) saved_.push_back(std::exchange(p.rotation, Quaternion::identity()));
  }
  ~HomeOrientations() {
    for (std::size_t i = 0; i < saved_.size(); ++i) pieces_[i].rotation = std::move(saved_[i]);
  }
  HomeOrientations(const HomeOrientations&) = delete;
  HomeOrientations& operator=(const HomeOrientations&) = delete;

 private:
  std::vector<Piece>& pieces_;
  std::vector<Quaternion> saved_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Slot numbering

Result<Vector3> sum_points(std::span<const Vector3> points, std::span<const std::uint64_t> indices) {
  if (indices.empty()) panic("sum_points: a face always has at least one vertex");
  auto at = [&](std::uint64_t i) -> const Vector3& {
    if (i >= points.size()) panic(cat("sum_points: vertex index ", i, " out of range (have ", points.size(), ")"));
    return points[i];
  };
  Vector3 sum = at(indices[0]);
  for (std::size_t k = 1; k < indices.size(); ++k) {
    const Vector3& p = at(indices[k]);
    sum.x = GY_TRY(sum.x.add(p.x));
    sum.y = GY_TRY(sum.y.add(p.y));
    sum.z = GY_TRY(sum.z.add(p.z));
  }
  return sum;
}

std::string position_key(const Vector3& sum, std::uint64_t n) {
  std::string out = cat(n, ":");
  append_coefficients(sum.x, out);
  append_coefficients(sum.y, out);
  append_coefficients(sum.z, out);
  return out;
}

std::string orientation_key(const Quaternion& q) {
  std::string out;
  append_coefficients(q.x, out);
  append_coefficients(q.y, out);
  append_coefficients(q.z, out);
  append_coefficients(q.w, out);
  return out;
}

bool at_home(const Quaternion& q) { return q.x.is_zero() && q.y.is_zero() && q.z.is_zero() && !q.w.is_zero(); }

Result<SlotNumbering> number_slots(std::span<const Piece> pieces) {
  struct SlotRecord {
    std::string key;
    std::uint64_t piece;
    std::uint64_t face;
    std::uint16_t colour;
    std::array<double, 3> centroid;
  };
  SlotNumbering out;
  std::vector<SlotRecord> records;
  std::unordered_map<std::uint32_t, std::size_t> colour_index;
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    poll_interrupt();
    const Piece& piece = pieces[p];
    const bool home = at_home(piece.rotation);
    for (std::size_t f = 0; f < piece.faces.size(); ++f) {
      const Face& face = piece.faces[f];
      if (face.interior) continue;
      const std::uint32_t rgb = linear_to_rgb24(face.color[0], face.color[1], face.color[2]);
      auto [it, fresh] = colour_index.try_emplace(rgb, out.palette.size());
      if (it->second > 0xFFFF) return fail(Error::other("puzzle has too many colors"));
      if (fresh) out.palette.push_back(rgb);
      // Rotation is linear, so the rotated vertices' sum is the rotated sum.
      Vector3 sum = GY_TRY(sum_points(piece.vertices, face.indices));
      if (!home) sum = GY_TRY(piece.rotation.rotate_vector(sum));
      const std::size_t n = face.indices.size();
      const double dn = static_cast<double>(n);
      std::array<double, 3> centroid{GY_TRY(sum.x.to_f64()) / dn, GY_TRY(sum.y.to_f64()) / dn,
                                     GY_TRY(sum.z.to_f64()) / dn};
      records.push_back(SlotRecord{position_key(sum, n), p, f, static_cast<std::uint16_t>(it->second), centroid});
    }
  }
  if (records.size() > std::numeric_limits<std::uint32_t>::max())
    return fail(Error::other("puzzle has too many stickers"));
  // Records come in piece and face order, so a stable sort by colour orders by all three: a
  // counting sort, each colour's records taking the next places of its run.
  std::vector<std::size_t> run_start(out.palette.size() + 1, 0);
  for (const SlotRecord& r : records) ++run_start[r.colour + 1];
  for (std::size_t c = 1; c < run_start.size(); ++c) run_start[c] += run_start[c - 1];
  std::vector<std::size_t> slot_of_record(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) slot_of_record[i] = run_start[records[i].colour]++;
  apply_order(records, [&] {
    std::vector<std::uint32_t> order(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) order[slot_of_record[i]] = static_cast<std::uint32_t>(i);
    return order;
  }());

  out.piece_slots.resize(pieces.size());
  out.piece_faces.resize(pieces.size());
  out.solved_colors.reserve(records.size());
  out.positions.reserve(records.size());
  out.slot_at_position.reserve(records.size());
  for (std::size_t s = 0; s < records.size(); ++s) {
    SlotRecord& r = records[s];
    const auto slot = static_cast<std::uint32_t>(s);
    if (!out.slot_at_position.try_emplace(std::move(r.key), slot).second)
      return fail(Error::state("two stickers of the solved puzzle share a position, so slots cannot be numbered"));
    out.solved_colors.push_back(r.colour);
    out.positions.push_back(r.centroid);
    out.piece_slots[r.piece].push_back(slot);
    out.piece_faces[r.piece].push_back(static_cast<std::uint32_t>(r.face));
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Names

std::string axis_letters(std::uint64_t i) {
  std::string letters;
  for (;;) {
    letters.push_back(static_cast<char>('A' + i % 26));
    if (i < 26) break;
    i = i / 26 - 1;
  }
  std::reverse(letters.begin(), letters.end());
  return letters;
}

Result<GripNaming> name_grips(std::span<const Grip> grips) {
  tsl::ordered_map<std::string, std::vector<std::uint64_t>> axes;
  for (std::size_t g = 0; g < grips.size(); ++g) {
    const Vector3& n = grips[g].plane.normal;
    const A* f = !n.x.is_zero() ? &n.x : !n.y.is_zero() ? &n.y : !n.z.is_zero() ? &n.z : nullptr;
    if (!f) return fail(Error::state("a grip has a degenerate axis"));
    const Vector3 direction = GY_TRY(Vector3::scaled(n, GY_TRY(f->inverse())));
    const int sign = GY_TRY(f->sign());
    axes[(sign < 0 ? "-" : "+") + position_key(direction, 0)].push_back(g);
  }
  GripNaming out;
  out.grip_names.resize(grips.size());
  std::uint64_t i = 0;
  for (const auto& [key, members] : axes) {
    const std::string letters = axis_letters(i++);
    if (members.size() == 1) {
      out.grip_names[members[0]] = letters;
      continue;
    }
    for (std::size_t k = 0; k < members.size(); ++k) out.grip_names[members[k]] = cat(letters, k + 1);
  }
  out.grip_planes.reserve(grips.size());
  for (const Grip& g : grips) out.grip_planes.push_back(g.plane);
  return out;
}

std::vector<std::string> action_names(std::span<const std::string> grip_names) {
  std::vector<std::string> out;
  out.reserve(2 * grip_names.size());
  for (const std::string& name : grip_names) {
    out.push_back(name);
    out.push_back(name + "'");
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// The model

Result<ModelRef> tabular_model(Simulator& sim) {
  if (sim.tabular_model) return sim.tabular_model;
  auto model = std::make_shared<TabularModel>();
  auto fill = [&](std::span<const Piece> pieces, std::span<const Grip> grips) -> Status {
    SlotNumbering slots = GY_TRY(number_slots(pieces));
    GripNaming names = GY_TRY(name_grips(grips));
    model->solved_colors = std::move(slots.solved_colors);
    model->palette = std::move(slots.palette);
    model->piece_slots = std::move(slots.piece_slots);
    model->piece_faces = std::move(slots.piece_faces);
    model->positions = std::move(slots.positions);
    model->slot_at_position = std::move(slots.slot_at_position);
    model->grip_names = std::move(names.grip_names);
    model->grip_planes = std::move(names.grip_planes);
    return {};
  };
  if (std::all_of(sim.pieces.begin(), sim.pieces.end(), [](const Piece& p) { return at_home(p.rotation); })) {
    GY_CHECK(fill(sim.pieces, sim.grips));
  } else {
    // The solved puzzle: the same pieces, every one at its built orientation. Its numbers stay in
    // the simulator's own field, so comparing with the current grips needs no field join.
    HomeOrientations home(sim.pieces);
    std::vector<Grip> grips = GY_TRY(current_grips(sim.pieces, sim.grip_memos));
    GY_CHECK(fill(sim.pieces, grips));
  }
  sim.tabular_model = model;
  return ModelRef(std::move(model));
}

void set_tabular_model(Simulator& sim, ModelRef model) {
  sim.tabular_model = std::move(model);
  sim.sticker_memo.clear();
}

namespace {

// The simulator's model, made on first use. The simulator holds it, so nothing takes a count of a
// model that many simulators (a batch's copies) share.
Result<const TabularModel*> model_in(Simulator& sim) {
  if (!sim.tabular_model) GY_CHECK(tabular_model(sim));
  return sim.tabular_model.get();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// State readers

Result<std::optional<std::vector<std::uint32_t>>> try_sticker_ids(const TabularModel& model,
                                                                  std::span<const Piece> pieces, StickerMemo& memo,
                                                                  Error* why) {
  using Ids = std::optional<std::vector<std::uint32_t>>;
  if (pieces.size() != model.piece_slots.size())
    panic(cat("sticker_ids: the model has ", model.piece_slots.size(), " pieces, the puzzle ", pieces.size()));
  std::vector<std::uint32_t> ids(model.sticker_count(), kEmptySlot);
  StickerMemoKey key;
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    if (p % 64 == 63) poll_interrupt();
    const std::vector<std::uint32_t>& slots = model.piece_slots[p];
    if (slots.empty()) continue;
    const Piece& piece = pieces[p];
    const std::vector<std::uint32_t>* placement = &slots;
    StickerPlacement held;
    if (!at_home(piece.rotation)) {
      key.piece = p;
      key.orientation = orientation_key(piece.rotation);
      if (auto it = memo.find(key); it != memo.end()) {
        held = it->second;
      } else {
        const std::vector<std::uint32_t>& faces = model.piece_faces[p];
        auto made = std::make_shared<std::vector<std::uint32_t>>();
        made->reserve(faces.size());
        for (std::uint32_t f : faces) {
          if (f >= piece.faces.size()) panic(cat("sticker_ids: piece ", p, " has no face ", f));
          const Face& face = piece.faces[f];
          Vector3 sum = GY_TRY(sum_points(piece.vertices, face.indices));
          sum = GY_TRY(piece.rotation.rotate_vector(sum));
          auto hit = model.slot_at_position.find(position_key(sum, face.indices.size()));
          if (hit == model.slot_at_position.end()) {
            if (why)
              *why = Error::state(cat("face ", f, " of piece ", p,
                                      " is not at any solved sticker position. This puzzle does not return to its "
                                      "own lattice"));
            return Ids{};
          }
          made->push_back(hit->second);
        }
        held = std::move(made);
        memo.emplace(std::move(key), held);
      }
      placement = held.get();
    }
    for (std::size_t k = 0; k < slots.size(); ++k) ids[(*placement)[k]] = slots[k];
  }
  for (std::size_t s = 0; s < ids.size(); ++s)
    if (ids[s] == kEmptySlot) {
      if (why) *why = Error::state(cat("slot ", s, " is empty: the puzzle's stickers no longer sit on the solved lattice"));
      return Ids{};
    }
  return Ids(std::move(ids));
}

Result<std::vector<std::uint32_t>> sticker_ids(const TabularModel& model, std::span<const Piece> pieces,
                                               StickerMemo& memo) {
  Error why;
  auto ids = GY_TRY(try_sticker_ids(model, pieces, memo, &why));
  if (!ids) return fail(std::move(why));
  return std::move(*ids);
}

namespace {
std::vector<std::uint16_t> colours_of(const TabularModel& model, const std::vector<std::uint32_t>& ids) {
  std::vector<std::uint16_t> out;
  out.reserve(ids.size());
  for (std::uint32_t id : ids) out.push_back(model.solved_colors[id]);
  return out;
}
}  // namespace

Result<std::vector<std::uint16_t>> sticker_colors(const TabularModel& model, std::span<const Piece> pieces,
                                                  StickerMemo& memo) {
  return colours_of(model, GY_TRY(sticker_ids(model, pieces, memo)));
}

Result<std::vector<std::uint32_t>> sticker_ids(Simulator& sim) {
  const TabularModel* model = GY_TRY(model_in(sim));
  return sticker_ids(*model, sim.pieces, sim.sticker_memo);
}

Result<std::vector<std::uint16_t>> sticker_colors(Simulator& sim) {
  const TabularModel* model = GY_TRY(model_in(sim));
  return sticker_colors(*model, sim.pieces, sim.sticker_memo);
}

Result<bool> is_solved(Simulator& sim) {
  const TabularModel* model = GY_TRY(model_in(sim));
  return GY_TRY(sticker_colors(*model, sim.pieces, sim.sticker_memo)) == model->solved_colors;
}

// ---------------------------------------------------------------------------------------------
// Actions

Result<std::optional<std::uint64_t>> action_grip(Simulator& sim, std::uint64_t action) {
  const TabularModel* model = GY_TRY(model_in(sim));
  return matching_grip(sim, *model, action);
}

std::optional<std::uint64_t> action_index(std::span<const std::string> grip_names, std::string_view name) {
  const bool inverse = !name.empty() && name.back() == '\'';
  if (inverse) name.remove_suffix(1);
  for (std::size_t g = 0; g < grip_names.size(); ++g)
    if (grip_names[g] == name) return 2 * g + (inverse ? 1 : 0);
  return std::nullopt;
}

Result<bool> apply_action(Simulator& sim, std::uint64_t action) {
  const TabularModel* model = GY_TRY(model_in(sim));
  if (action >= model->action_count()) return fail(action_range_error(action, model->action_count()));
  const auto grip = matching_grip(sim, *model, action);
  if (!grip) return false;
  GY_CHECK(turn_grip(sim, *grip, TurnRequest::by_direction(action % 2 == 0 ? 1 : -1)));
  Uninterruptible quiet;  // the turn is made: the drawn pose follows it
  end_animation(sim);
  return true;
}

Result<std::vector<std::uint8_t>> action_mask(Simulator& sim) {
  const TabularModel* model = GY_TRY(model_in(sim));
  std::vector<std::uint8_t> mask(model->action_count(), 0);
  for (std::size_t a = 0; a < mask.size(); a += 2) mask[a] = mask[a + 1] = matching_grip(sim, *model, a) ? 1 : 0;
  return mask;
}

Result<std::optional<ActionPermutations>> compute_action_permutations(Simulator& sim) {
  using Table = std::optional<ActionPermutations>;
  const ModelRef model = GY_TRY(tabular_model(sim));
  const std::size_t slots = model->sticker_count();
  // Rows are read relative to the entry state: with e the sticker ids there and e' those after the
  // action, e'[i] = e[row[i]], so row[i] is where the sticker e'[i] sat at entry.
  const auto entry = GY_TRY(try_sticker_ids(*model, sim.pieces, sim.sticker_memo));
  if (!entry) return Table{};
  std::vector<std::uint32_t> sat_at(slots);
  for (std::size_t s = 0; s < slots; ++s) sat_at[(*entry)[s]] = static_cast<std::uint32_t>(s);

  ActionPermutations table;
  table.action_count = model->action_count();
  table.slot_count = slots;
  table.start_colors = colours_of(*model, *entry);
  table.permutations.reserve(table.action_count * slots);

  for (std::size_t a = 0; a < table.action_count; ++a) {
    poll_interrupt();
    if (!GY_TRY(apply_action(sim, a))) return Table{};
    // Interrupted while the action is made, the action is taken back before the call unwinds.
    bool made = true;
    try {
      auto after = try_sticker_ids(*model, sim.pieces, sim.sticker_memo);
      if (!after) {
        GY_TRY(undo_turn(sim));
        return fail(std::move(after).error());
      }
      if (!*after) {
        GY_TRY(undo_turn(sim));
        return Table{};
      }
      auto mask = action_mask(sim);
      if (!mask) {
        GY_TRY(undo_turn(sim));
        return fail(std::move(mask).error());
      }
      if (std::find(mask->begin(), mask->end(), 0) != mask->end()) {
        GY_TRY(undo_turn(sim));
        return Table{};
      }
      for (std::uint32_t id : **after) table.permutations.push_back(sat_at[id]);
      const bool undone = GY_TRY(undo_turn(sim));
      made = false;
      if (!undone) return Table{};
    } catch (const Interrupted&) {
      if (made) {
        Uninterruptible quiet;
        (void)undo_turn(sim);
      }
      throw;
    }
    const auto back = GY_TRY(try_sticker_ids(*model, sim.pieces, sim.sticker_memo));
    if (!back || colours_of(*model, *back) != table.start_colors) return Table{};
  }
  return Table(std::move(table));
}

// ---------------------------------------------------------------------------------------------
// Move text

namespace {

// The length of the Unicode White_Space character that starts at text[i], or 0.
std::size_t whitespace_at(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
  const unsigned b0 = byte(i);
  if ((b0 >= 0x09 && b0 <= 0x0D) || b0 == 0x20) return 1;
  const unsigned b1 = byte(i + 1), b2 = byte(i + 2);
  switch (b0) {
    case 0xC2:  // U+0085, U+00A0
      return b1 == 0x85 || b1 == 0xA0 ? 2 : 0;
    case 0xE1:  // U+1680
      return b1 == 0x9A && b2 == 0x80 ? 3 : 0;
    case 0xE2:  // U+2000..U+200A, U+2028, U+2029, U+202F, U+205F
      if (b1 == 0x80) return (b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF ? 3 : 0;
      return b1 == 0x81 && b2 == 0x9F ? 3 : 0;
    case 0xE3:  // U+3000
      return b1 == 0x80 && b2 == 0x80 ? 3 : 0;
    default:
      return 0;
  }
}

// The parser asks for a stop request once per this many bytes of text.
constexpr std::size_t kPollBytes = 1 << 16;

// Decimal digits (leading zeros allowed) as a count, or absent past 2^32 - 1.
std::optional<std::uint32_t> read_count(std::string_view digits) {
  std::size_t i = 0;
  while (i < digits.size() && digits[i] == '0') ++i;
  digits.remove_prefix(i);
  if (digits.size() > 10) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : digits) v = v * 10 + static_cast<std::uint64_t>(c - '0');
  if (v > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(v);
}

}  // namespace

Result<std::vector<Move>> parse_moves(std::span<const std::string> grip_names, std::string_view text) {
  // Names by length, each list in grip order, so that a count split off a long token costs one
  // lookup per candidate length rather than a scan of every name.
  std::unordered_map<std::size_t, std::vector<std::uint64_t>> by_length;
  std::size_t longest = 0;
  for (std::size_t g = 0; g < grip_names.size(); ++g) {
    by_length[grip_names[g].size()].push_back(g);
    longest = std::max(longest, grip_names[g].size());
  }
  auto find = [&](std::string_view name) -> std::optional<std::uint64_t> {
    auto it = by_length.find(name.size());
    if (it == by_length.end()) return std::nullopt;
    for (std::uint64_t g : it->second)
      if (grip_names[g] == name) return g;
    return std::nullopt;
  };
  auto not_a_move = [&](std::string_view token) {
    std::string names;
    for (std::size_t g = 0; g < grip_names.size(); ++g) {
      if (g > 0) names += ", ";
      names += grip_names[g];
    }
    return fail(Error::parse(cat("'", token, "' is not a move of this puzzle. Its grips are ", names)));
  };

  std::vector<Move> moves;
  std::uint64_t turns = 0;
  std::size_t i = 0;
  for (std::size_t polled = 0; i < text.size();) {
    if (i - polled >= kPollBytes) {
      poll_interrupt();
      polled = i;
    }
    if (const std::size_t w = whitespace_at(text, i)) {
      i += w;
      continue;
    }
    const std::size_t start = i;
    while (i < text.size() && whitespace_at(text, i) == 0) ++i;
    const std::string_view token = text.substr(start, i - start);

    const bool reversed = token.back() == '\'';
    const std::string_view body = reversed ? token.substr(0, token.size() - 1) : token;
    std::optional<std::uint64_t> grip = find(body);
    std::uint32_t repeat = 1;
    if (!grip) {
      std::size_t digits = 0;
      while (digits < body.size() && body[body.size() - 1 - digits] >= '0' && body[body.size() - 1 - digits] <= '9')
        ++digits;
      if (digits == 0 || grip_names.empty()) return not_a_move(token);
      // Shortest count first, that is the longest name; names longer than any grip's are skipped.
      const std::size_t first = body.size() > longest ? std::max<std::size_t>(1, body.size() - longest) : 1;
      for (std::size_t k = first; k <= digits && !grip; ++k) {
        grip = find(body.substr(0, body.size() - k));
        if (!grip) continue;
        const auto count = read_count(body.substr(body.size() - k));
        if (!count) return fail(Error::parse(cat("move '", token, "' has an unreadable repeat count")));
        if (*count == 0) return fail(Error::parse(cat("move '", token, "' repeats zero times")));
        repeat = *count;
      }
      if (!grip) return not_a_move(token);
    }
    turns += repeat;
    if (turns > kMaxTextTurns)
      return fail(Error::parse(cat("move '", token, "' takes the text past ", kMaxTextTurns, " turns")));
    moves.push_back(Move{2 * *grip + (reversed ? 1 : 0), repeat});
  }
  return moves;
}

Result<std::uint64_t> apply_moves(Simulator& sim, std::string_view text) {
  const TabularModel* model = GY_TRY(model_in(sim));
  const std::vector<Move> moves = GY_TRY(parse_moves(model->grip_names, text));
  std::uint64_t total = 0;
  for (const Move& m : moves) {
    total += m.repeat;
    for (std::uint32_t r = 0; r < m.repeat; ++r) {
      poll_interrupt();
      if (!GY_TRY(apply_action(sim, m.action)))
        return fail(Error::state(cat("move '", action_name(*model, m.action), "' cannot be made: that layer is locked")));
    }
  }
  return total;
}

// ---------------------------------------------------------------------------------------------
// Jumbling

Result<bool> jumbles(std::string_view query) {
  Simulator sim = GY_TRY(Simulator::build(query));
  const ModelRef model = GY_TRY(tabular_model(sim));
  const std::uint64_t actions = model->action_count();
  if (actions == 0) return false;
  auto on_lattice = [&]() -> Result<bool> {
    return GY_TRY(try_sticker_ids(*model, sim.pieces, sim.sticker_memo)).has_value();
  };
  // Every action from the solved state, each followed by its reverse.
  for (std::uint64_t a = 0; a < actions; ++a) {
    poll_interrupt();
    if (!GY_TRY(apply_action(sim, a))) continue;
    if (!GY_TRY(on_lattice())) return true;
    if (!GY_TRY(apply_action(sim, a ^ 1))) return true;
    if (!GY_TRY(on_lattice())) return true;
  }
  // A fixed walk: each step mixes the state, then advances it.
  std::uint64_t state = 0xFC2648205118BC1A;
  for (int step = 0; step < 40; ++step) {
    poll_interrupt();
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
    z ^= z >> 31;
    state += 0x9E3779B97F4A7C15;
    if (GY_TRY(apply_action(sim, z % actions)) && !GY_TRY(on_lattice())) return true;
  }
  return false;
}

std::span<const std::string_view> non_jumbling_recipes() {
  static constexpr std::array<std::string_view, 36> kRecipes{
      "?shell=T$1&cut=T$0",
      "?shell=T$1&cut=T$-1/3",
      "?shell=T$1&cut=T$-1/3&cut=T$-5/3",
      "?shell=T$1&cut=T$-7/12",
      "?shell=T$1&cut=T$-2&cut=T$-1&cut=T$0",
      "?shell=C$1&cut=C$0",
      "?shell=C$1&cut=C$1/3",
      "?shell=C$1&cut=C$0&cut=C$1/2",
      "?shell=C$1&cut=C$1/5&cut=C$3/5",
      "?shell=C$1&cut=C$0&cut=C$1/3&cut=C$2/3",
      "?shell=C$1&cut=C$1/7&cut=C$3/7&cut=C$5/7",
      "?shell=C$sqrt(2)/3&cut=O$0",
      "?shell=C$sqrt(2)/3&cut=O$1/6",
      "?shell=C$sqrt(2)/3&cut=O$1/3",
      "?shell=C$sqrt(2)/3&cut=O$1/2",
      "?shell=O$1&cut=O$0",
      "?shell=O$1&cut=O$1/3",
      "?shell=O$1&cut=O$1/2",
      "?shell=O$1&cut=O$0&cut=O$1/2",
      "?shell=O$1&cut=O$1/5&cut=O$3/5",
      "?shell=O$sqrt(2)/2&cut=C$0",
      "?shell=O$sqrt(2)/2&cut=C$1/3",
      "?shell=O$sqrt(2)/2&cut=C$1/3&cut=C$2/3",
      "?shell=D$1&cut=D$0",
      "?shell=D$1&cut=D$sqrt(5)-2",
      "?shell=D$1&cut=D$1/sqrt(5)",
      "?shell=D$1&cut=D$2/(sqrt(5)+1)",
      "?shell=D$1&cut=I$(5-sqrt(5))/2",
      "?shell=I$sqrt(5)+2&cut=D$0",
      "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/10",
      "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/6",
      "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/4",
      "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/2",
      "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/2+1/2",
      "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/2+2/3",
      "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/2+2/3&cut=D$(sqrt(5)+1)/2+4/3",
  };
  return kRecipes;
}

}  // namespace gy

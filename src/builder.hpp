// Recipe to pieces: the shell and cut shapes become exact planes in one common field, a large box is
// cut by the shell planes into the shell, and the shell by the cut planes, group by group, into the
// pieces of the solved puzzle in build order.
#pragma once

#include <string>
#include <vector>

#include "parse.hpp"
#include "piece.hpp"

namespace gy {

struct PuzzleGeometry {
  std::vector<Piece> pieces;  // build order: the piece numbering of everything downstream
  Piece shell_piece;          // the start box cut by the shell planes only
  std::string field;          // the common field's text, or "(no planes)"
  double scale = 1.0;         // 1 / the largest vertex distance of the shell
};

// Linear RGB of the faces made inside the puzzle (sRGB 0x666666).
inline constexpr Rgb interior_face_colour{0.13286832154414627, 0.13286832154414627, 0.13286832154414627};

// The colour of shell plane i: six fixed colours, then a golden-ratio hue walk.
Rgb shell_face_colour(std::size_t i);

Result<PuzzleGeometry> build_geometry(const Recipe& recipe);

}  // namespace gy

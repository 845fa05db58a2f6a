// Convex pieces with exact vertices, and the one operation that makes new ones: a cut by a plane into
// the positive and the negative half, each closed by a face on the cut.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "geometry.hpp"

namespace gy {

using Rgb = std::array<double, 3>;  // linear RGB

struct Face {
  std::vector<std::uint64_t> indices;  // corners, counter-clockwise seen from outside
  Plane plane;
  Rgb color{};
  std::uint8_t interior = 0;  // 1: made inside the puzzle (a cut face or a start-box face)
};

struct Piece {
  std::vector<Vector3> vertices;
  std::vector<Face> faces;
  Quaternion rotation = Quaternion::identity();

  bool empty() const { return vertices.empty() && faces.empty(); }
  Piece clone() const { return *this; }
  // Whether some face is part of the puzzle's outer surface.
  bool has_outer_face() const;
};

// (positive half, negative half). A piece with no vertex strictly on one side goes whole to the other
// (every vertex on the plane: positive), keeping its rotation.
Result<std::pair<Piece, Piece>> cut_pieces(const Piece& piece, const Plane& plane, const Rgb& color,
                                           std::uint8_t interior);

// Closes a half made by a cut: faces through the edges that only one face uses.
void rebuild_faces(Piece& piece, const Plane& plane, const Rgb& color, std::uint8_t interior);

}  // namespace gy

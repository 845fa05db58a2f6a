// Grip: the Python class of a snapshot of one turnable layer, as Puzzle.grips() reports it. Plain
// data with no link to its puzzle; a GripSnapshot returned by a body becomes a new Grip object.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "geometry.hpp"
#include "python/frame.hpp"

namespace gy::py {

struct GripSnapshot {
  std::string plane;  // the exact plane as text (plane_text)
  std::uint64_t index = 0;
  std::array<double, 3> axis{};  // unit normal
  double offset = 0.0;           // signed distance of the plane from the centre along axis
  std::uint64_t piece_count = 0;
  std::uint64_t other_count = 0;
};

template <>
inline constexpr bool frozen_class<GripSnapshot> = true;

template <>
PyTypeObject* type_object<GripSnapshot>();

// "[{normal},{d}]": the normal's vector text and the offset's number text.
std::string plane_text(const Plane& plane);

}  // namespace gy::py

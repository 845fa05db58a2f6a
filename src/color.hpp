// Linear RGB to sRGB bytes through one table of 255 thresholds.
#pragma once

#include <array>
#include <cstdint>

namespace gy {

// Entry k is the linear value halfway between sRGB bytes k and k + 1.
const std::array<double, 255>& srgb_thresholds();

// The sRGB byte nearest to linear value v (0 for NaN and anything at or below the first threshold).
std::uint8_t encode_srgb(double v);

// Packed 0xRRGGBB naming a sticker colour.
std::uint32_t linear_to_rgb24(double r, double g, double b);

// The drawn RGBA word (red in the lowest byte): channels brightened by 1.5, alpha clamped to [0, 1].
std::uint32_t shade_to_rgba(double r, double g, double b, double alpha);

}  // namespace gy

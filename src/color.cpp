#include "color.hpp"

#include <cmath>

namespace gy {

const std::array<double, 255>& srgb_thresholds() {
  static const std::array<double, 255> table = [] {
    std::array<double, 255> t{};
    for (int k = 0; k < 255; ++k) {
      double s = (k + 0.5) / 255.0;
      t[k] = s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 1.0 / 0.41666);
    }
    return t;
  }();
  return table;
}

std::uint8_t encode_srgb(double v) {
  const auto& t = srgb_thresholds();
  if (!(v > t[0])) return 0;
  int lo = 0, hi = 255;
  while (lo + 1 < hi) {
    int mid = (lo + hi) / 2;
    if (v >= t[mid]) lo = mid; else hi = mid;
  }
  return static_cast<std::uint8_t>(lo + 1);
}

std::uint32_t linear_to_rgb24(double r, double g, double b) {
  return (std::uint32_t{encode_srgb(r)} << 16) | (std::uint32_t{encode_srgb(g)} << 8) | encode_srgb(b);
}

std::uint32_t shade_to_rgba(double r, double g, double b, double alpha) {
  double a = alpha > 0 ? (alpha < 1 ? alpha : 1.0) : 0.0;  // NaN gives 0
  auto ab = static_cast<std::uint32_t>(std::round(a * 255.0));
  return std::uint32_t{encode_srgb(r * 1.5)} | (std::uint32_t{encode_srgb(g * 1.5)} << 8) |
         (std::uint32_t{encode_srgb(b * 1.5)} << 16) | (ab << 24);
}

}  // namespace gy

// The RGBA8 image record and its pixel operations: whole-image fill, pixel access, the three blend
// modes, clipped rectangle fills, blits, nearest-neighbour resizing and box downsampling.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "memory.hpp"
#include "num/error.hpp"

namespace gy {

// Largest pixel count of any image or framebuffer: 2^28 pixels (16384 x 16384), 1 GiB of RGBA8
// (2 GiB with the depths of a framebuffer). Larger sizes are refused before anything is allocated.
inline constexpr std::uint64_t max_pixels = std::uint64_t{1} << 28;

// width * height, or a Range error when it exceeds max_pixels. Exact for any two 32-bit sizes.
Result<std::uint64_t> checked_pixel_count(std::uint32_t width, std::uint32_t height);

// An allocator that leaves new elements uninitialised, for buffers that are filled right after. The
// memory is the module's own (allocate_bytes), so that images and frames made and dropped again and
// again reuse blocks instead of growing and shrinking the host's heap.
template <class T>
struct uninitialized_allocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = uninitialized_allocator<U>;
  };
  uninitialized_allocator() = default;
  template <class U>
  uninitialized_allocator(const uninitialized_allocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > std::size_t(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(allocate_bytes(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t) noexcept { release_bytes(p); }
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... A>
  void construct(U* p, A&&... a) {
    ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
  }
};

using PixelBytes = std::vector<std::uint8_t, uninitialized_allocator<std::uint8_t>>;

// Pixels tightly packed row-major, four bytes each (red, green, blue, alpha; straight alpha). A
// colour is one word with red in the lowest byte, so storing it little-endian writes one pixel.
struct Image {
  PixelBytes pixels;  // exactly width * height * 4 bytes
  std::uint32_t width = 0;
  std::uint32_t height = 0;

  std::uint64_t stride() const { return std::uint64_t{width} * 4; }
  bool operator==(const Image&) const = default;
};

// A width x height image with every pixel set to colour.
Result<Image> make_image(std::uint32_t width, std::uint32_t height, std::uint32_t colour = 0);

// A copy of tightly packed RGBA8 bytes; the length must be width * height * 4.
Result<Image> image_from_bytes(std::uint32_t width, std::uint32_t height, std::span<const std::uint8_t> data);

// Stores colour in every pixel (no blending); large images in parallel.
void image_fill(Image& image, std::uint32_t colour);

// The colour at (x, y), or none outside the image.
std::optional<std::uint32_t> image_pixel(const Image& image, std::uint32_t x, std::uint32_t y);

// Stores colour at (x, y) unblended; false (and nothing changed) outside the image.
bool image_set_pixel(Image& image, std::uint32_t x, std::uint32_t y, std::uint32_t colour);

enum class BlendMode : std::uint8_t { Copy = 0, Over = 1, Add = 2 };

// "copy", "over", "add" or "additive", matched exactly.
Result<BlendMode> blend_mode_argument(std::string_view name);

// Rounded division by 255 for 0 <= v <= 255 * 255.
constexpr std::uint32_t div255(std::uint32_t v) {
  std::uint32_t t = v + 127;
  return (t + (t >> 8)) >> 8;
}

namespace detail {
constexpr std::uint32_t channel(std::uint32_t c, int i) { return (c >> (8 * i)) & 0xFF; }
}  // namespace detail

// The destination pixel d after blending the source colour s into it.
template <BlendMode Mode>
constexpr std::uint32_t blend_pixel(std::uint32_t d, std::uint32_t s) {
  using detail::channel;
  if constexpr (Mode == BlendMode::Copy) {
    return s;
  } else if constexpr (Mode == BlendMode::Over) {
    std::uint32_t a = s >> 24;
    if (a == 0) return d;
    if (a == 255) return s;
    std::uint32_t inv = 255 - a, out = 0;
    for (int i = 0; i < 3; ++i) out |= div255(channel(s, i) * a + channel(d, i) * inv) << (8 * i);
    return out | div255(255 * a + (d >> 24) * inv) << 24;
  } else {
    std::uint32_t a = s >> 24, out = 0;
    for (int i = 0; i < 3; ++i) {
      std::uint32_t v = channel(d, i) + div255(channel(s, i) * a);
      out |= (v > 255 ? 255 : v) << (8 * i);
    }
    std::uint32_t alpha = (d >> 24) + a;
    return out | (alpha > 255 ? 255 : alpha) << 24;
  }
}

constexpr std::uint32_t blend_pixel(std::uint32_t d, std::uint32_t s, BlendMode mode) {
  switch (mode) {
    case BlendMode::Copy: return blend_pixel<BlendMode::Copy>(d, s);
    case BlendMode::Over: return blend_pixel<BlendMode::Over>(d, s);
    default: return blend_pixel<BlendMode::Add>(d, s);
  }
}

// Blends colour into every pixel of the rectangle that lies inside the image. Any x, y: the
// arithmetic is exact, so rectangles far outside the image simply draw nothing.
void fill_span(Image& image, std::int64_t x, std::int64_t y, std::uint32_t width, std::uint32_t height,
               std::uint32_t colour, BlendMode mode);

// Draws the rectangle (src_x, src_y, src_width, src_height) of src at (x, y), both rectangles
// clipped to their images. src must not be image itself.
void blit(Image& image, const Image& src, std::int64_t x, std::int64_t y, std::int64_t src_x, std::int64_t src_y,
          std::uint32_t src_width, std::uint32_t src_height, BlendMode mode);

// Nearest-neighbour resize to width x height.
Result<Image> resized(const Image& image, std::uint32_t width, std::uint32_t height);

// Box-filter downsample by factor (remainders dropped); factor 0 is a Range error.
Result<Image> downsample(const Image& image, std::uint32_t factor);

}  // namespace gy

#include "render/framebuffer.hpp"

#include <algorithm>
#include <cstring>

#include "num/interrupt.hpp"
#include "pool.hpp"
#include "render/raster.hpp"

namespace gy {
namespace {

using i128 = __int128;

std::uint32_t load(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void store(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

// Clamps v to [0, limit].
std::uint32_t clamp_to(i128 v, std::uint32_t limit) {
  return v < 0 ? 0 : v > limit ? limit : static_cast<std::uint32_t>(v);
}

template <BlendMode Mode>
void fill_rows(Image& image, std::uint32_t x0, std::uint32_t x1, std::uint32_t y0, std::uint32_t y1,
               std::uint32_t colour) {
  for (std::uint32_t y = y0; y < y1; ++y) {
    std::uint8_t* p = image.pixels.data() + (std::uint64_t{y} * image.width + x0) * 4;
    for (std::uint32_t x = x0; x < x1; ++x, p += 4) store(p, blend_pixel<Mode>(load(p), colour));
  }
}

template <BlendMode Mode>
void blit_rows(Image& image, const Image& src, std::uint32_t dx0, std::uint32_t dy0, std::uint32_t sx0,
               std::uint32_t sy0, std::uint32_t w, std::uint32_t h) {
  for (std::uint32_t j = 0; j < h; ++j) {
    std::uint8_t* d = image.pixels.data() + (std::uint64_t{dy0 + j} * image.width + dx0) * 4;
    const std::uint8_t* s = src.pixels.data() + (std::uint64_t{sy0 + j} * src.width + sx0) * 4;
    if constexpr (Mode == BlendMode::Copy) {
      std::memmove(d, s, std::size_t{w} * 4);
    } else {
      for (std::uint32_t i = 0; i < w; ++i, d += 4, s += 4) store(d, blend_pixel<Mode>(load(d), load(s)));
    }
  }
}

}  // namespace

Result<std::uint64_t> checked_pixel_count(std::uint32_t width, std::uint32_t height) {
  std::uint64_t n = std::uint64_t{width} * height;  // < 2^64 for 32-bit factors
  if (n > max_pixels)
    return fail(ErrorKind::Range,
                cat("image size ", width, "x", height, " exceeds the limit of ", max_pixels, " pixels"));
  return n;
}

namespace {

// An image whose pixels are not yet written.
Result<Image> unfilled_image(std::uint32_t width, std::uint32_t height) {
  std::uint64_t n = GY_TRY(checked_pixel_count(width, height));
  Image image;
  image.pixels.resize(n * 4);
  image.width = width;
  image.height = height;
  return image;
}

constexpr std::size_t fill_grain = std::size_t{1} << 18;  // bytes per task

}  // namespace

Result<Image> make_image(std::uint32_t width, std::uint32_t height, std::uint32_t colour) {
  Image image = GY_TRY(unfilled_image(width, height));
  image_fill(image, colour);
  return image;
}

Result<Image> image_from_bytes(std::uint32_t width, std::uint32_t height, std::span<const std::uint8_t> data) {
  std::uint64_t n = GY_TRY(checked_pixel_count(width, height));
  if (data.size() != n * 4) return fail(ErrorKind::Range, "data length must be width * height * 4");
  return Image{PixelBytes(data.begin(), data.end()), width, height};
}

void image_fill(Image& image, std::uint32_t colour) {
  if (image.pixels.empty()) return;
  std::uint8_t* p = image.pixels.data();
  std::uint8_t b = colour & 0xFF;
  if (colour == b * 0x01010101u) {
    pool::for_ranges(image.pixels.size(), fill_grain, [&](std::size_t lo, std::size_t hi) { std::memset(p + lo, b, hi - lo); });
    return;
  }
  std::size_t row = std::size_t{image.width} * 4;
  for (std::size_t i = 0; i < row; i += 4) store(p + i, colour);
  pool::for_ranges(image.height - 1, std::max<std::size_t>(1, fill_grain / row), [&](std::size_t lo, std::size_t hi) {
    for (std::size_t y = lo + 1; y <= hi; ++y) std::memcpy(p + y * row, p, row);
  });
}

std::optional<std::uint32_t> image_pixel(const Image& image, std::uint32_t x, std::uint32_t y) {
  if (x >= image.width || y >= image.height) return std::nullopt;
  return load(image.pixels.data() + (std::uint64_t{image.width} * y + x) * 4);
}

bool image_set_pixel(Image& image, std::uint32_t x, std::uint32_t y, std::uint32_t colour) {
  if (x >= image.width || y >= image.height) return false;
  store(image.pixels.data() + (std::uint64_t{image.width} * y + x) * 4, colour);
  return true;
}

Result<BlendMode> blend_mode_argument(std::string_view name) {
  if (name == "copy") return BlendMode::Copy;
  if (name == "over") return BlendMode::Over;
  if (name == "add" || name == "additive") return BlendMode::Add;
  return fail(ErrorKind::Range, cat("unknown blend mode ", quote_debug(name), ", expected 'copy', 'over' or 'add'"));
}

void fill_span(Image& image, std::int64_t x, std::int64_t y, std::uint32_t width, std::uint32_t height,
               std::uint32_t colour, BlendMode mode) {
  std::uint32_t x0 = clamp_to(x, image.width), x1 = clamp_to(i128{x} + width, image.width);
  std::uint32_t y0 = clamp_to(y, image.height), y1 = clamp_to(i128{y} + height, image.height);
  if (x1 <= x0 || y1 <= y0) return;
  switch (mode) {
    case BlendMode::Copy: fill_rows<BlendMode::Copy>(image, x0, x1, y0, y1, colour); break;
    case BlendMode::Over:
      if (colour >> 24 == 0) return;
      fill_rows<BlendMode::Over>(image, x0, x1, y0, y1, colour);
      break;
    case BlendMode::Add: fill_rows<BlendMode::Add>(image, x0, x1, y0, y1, colour); break;
  }
}

void blit(Image& image, const Image& src, std::int64_t x, std::int64_t y, std::int64_t src_x, std::int64_t src_y,
          std::uint32_t src_width, std::uint32_t src_height, BlendMode mode) {
  // Source rectangle clipped to the source, then where it lands clipped to the destination. The
  // arithmetic is 128-bit, so no sum of 64-bit coordinates and 32-bit sizes can wrap.
  std::uint32_t sx0 = clamp_to(src_x, src.width), sx1 = clamp_to(i128{src_x} + src_width, src.width);
  std::uint32_t sy0 = clamp_to(src_y, src.height), sy1 = clamp_to(i128{src_y} + src_height, src.height);
  if (sx1 <= sx0 || sy1 <= sy0) return;
  i128 X0 = i128{x} + (sx0 - i128{src_x}), Y0 = i128{y} + (sy0 - i128{src_y});
  std::uint32_t dx0 = clamp_to(X0, image.width), dx1 = clamp_to(X0 + (sx1 - sx0), image.width);
  std::uint32_t dy0 = clamp_to(Y0, image.height), dy1 = clamp_to(Y0 + (sy1 - sy0), image.height);
  if (dx1 <= dx0 || dy1 <= dy0) return;
  auto first_x = static_cast<std::uint32_t>(sx0 + (dx0 - X0)), first_y = static_cast<std::uint32_t>(sy0 + (dy0 - Y0));
  std::uint32_t w = dx1 - dx0, h = dy1 - dy0;
  switch (mode) {
    case BlendMode::Copy: blit_rows<BlendMode::Copy>(image, src, dx0, dy0, first_x, first_y, w, h); break;
    case BlendMode::Over: blit_rows<BlendMode::Over>(image, src, dx0, dy0, first_x, first_y, w, h); break;
    case BlendMode::Add: blit_rows<BlendMode::Add>(image, src, dx0, dy0, first_x, first_y, w, h); break;
  }
}

Result<Image> resized(const Image& image, std::uint32_t width, std::uint32_t height) {
  std::uint32_t w = image.width, h = image.height;
  if (w == 0 || h == 0 || width == 0 || height == 0) return make_image(width, height);
  Image out = GY_TRY(unfilled_image(width, height));
  std::vector<std::uint32_t> columns(width);
  for (std::uint32_t X = 0; X < width; ++X)
    columns[X] = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{X} * w / width, w - 1));
  std::size_t grain = std::max<std::size_t>(1, 16384 / width);
  pool::for_ranges(height, grain, [&](std::size_t lo, std::size_t hi) {
    poll_interrupt();
    for (std::size_t Y = lo; Y < hi; ++Y) {
      std::uint64_t sy = std::min<std::uint64_t>(Y * h / height, h - 1);
      const std::uint8_t* s = image.pixels.data() + sy * w * 4;
      std::uint8_t* d = out.pixels.data() + Y * width * 4;
      for (std::uint32_t X = 0; X < width; ++X) std::memcpy(d + std::size_t{X} * 4, s + std::size_t{columns[X]} * 4, 4);
    }
  });
  return out;
}

Result<Image> downsample(const Image& image, std::uint32_t factor) {
  if (factor == 0) return fail(ErrorKind::Range, "factor must be positive");
  if (factor == 1) return image;
  Image out = GY_TRY(unfilled_image(image.width / factor, image.height / factor));
  resolve(image.pixels, image.width, image.height, factor, out.pixels);
  return out;
}

}  // namespace gy

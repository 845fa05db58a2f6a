// The PNG encoder: 8-bit RGBA, Sub filter on every row, zlib-compressed at level 6.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "num/error.hpp"
#include "render/framebuffer.hpp"

namespace gy {

// The most data bytes one chunk may hold.
inline constexpr std::uint32_t png_max_chunk = 0x7FFFFFFF;

// The whole PNG file of the image. Rows are filtered and compressed in fixed slices on the worker
// pool, so the bytes do not depend on the thread count.
std::vector<std::uint8_t> encode_png(const Image& image);

// Appends one chunk: length, type, data, CRC-32 of type and data.
void write_png_chunk(std::vector<std::uint8_t>& out, std::string_view type, std::span<const std::uint8_t> data);

// Appends the zlib stream as IDAT chunks of at most max_chunk bytes each (one chunk when it fits;
// an empty stream still gets one).
void write_png_data(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> stream,
                    std::uint32_t max_chunk = png_max_chunk);

// Creates or truncates the file at path and writes bytes to it. Errors (kind Other) carry the
// system's description and number: "{} (os error {})".
Status write_file(std::string_view path, std::span<const std::uint8_t> bytes);

}  // namespace gy

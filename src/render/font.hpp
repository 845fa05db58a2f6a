// The built-in bitmap font: printable ASCII in 9-row cells, drawn one square per set bit.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "render/framebuffer.hpp"

namespace gy {

// Rows 0 to 8 of the glyphs of code points 32 to 126; bit 7 of a row byte is the leftmost column.
extern const std::array<std::array<std::uint8_t, 9>, 95> glyph_bitmaps;
// Columns drawn per glyph, and its advance before the one-column gap.
extern const std::array<std::uint8_t, 95> glyph_advances;

// Glyph index of a code point; everything outside 32 to 126 is "?".
constexpr std::uint32_t glyph_index(char32_t cp) { return cp >= 32 && cp <= 126 ? cp - 32 : 31; }

// Texts are UTF-8 and split into lines at "\n". Widths saturate at 2^32 - 1 instead of wrapping.

// Width in pixels of the first line of text at this scale.
std::uint32_t text_width(std::string_view text, std::uint32_t scale);

// Draws every line with the top-left of its first cell at (x, y); returns the widest line's width.
std::uint32_t draw_text_glyphs(Image& image, std::int64_t x, std::int64_t y, std::string_view text,
                               std::uint32_t colour, std::uint32_t scale, BlendMode mode);

// As draw_text_glyphs; with center, each line is drawn centred on x.
std::uint32_t draw_text(Image& image, std::int64_t x, std::int64_t y, std::string_view text, std::uint32_t colour,
                        std::uint32_t scale, BlendMode mode, bool center);

// The (width, height) that drawing text would cover.
std::pair<std::uint32_t, std::uint32_t> text_size(std::string_view text, std::uint32_t scale);

// text shortened with "..." until its first line fits max_width pixels.
std::string fit_text(std::string_view text, std::uint32_t max_width, std::uint32_t scale);

}  // namespace gy

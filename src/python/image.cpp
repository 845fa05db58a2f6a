#include "python/image.hpp"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "render/font.hpp"
#include "render/png.hpp"

namespace gy::py {
namespace {

using Rgba = std::array<std::uint8_t, 4>;

// Pixel work of at least this many bytes runs with the interpreter released; smaller fills are
// quicker than the hand-over.
constexpr std::uint64_t release_bytes = std::uint64_t{1} << 20;

constexpr std::uint32_t pack(const Rgba& c) {
  return std::uint32_t{c[0]} | std::uint32_t{c[1]} << 8 | std::uint32_t{c[2]} << 16 | std::uint32_t{c[3]} << 24;
}

constexpr Rgba unpack(std::uint32_t c) {
  return {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c >> 16),
          static_cast<std::uint8_t>(c >> 24)};
}

// The colour argument i as a packed word, or fallback when it is absent.
PyResult<std::uint32_t> colour_arg(const Args& a, std::size_t i, Rgba fallback) {
  return pack(PY_TRY(a.get<Rgba>(i, fallback)));
}

PyResult<BlendMode> mode_arg(const Args& a, std::size_t i, std::string_view fallback) {
  auto name = PY_TRY(a.get<std::string_view>(i, fallback));
  return PY_TRY(blend_mode_argument(name));
}

// Runs f without the interpreter when it touches at least release_bytes of pixels.
template <class F>
decltype(auto) pixel_work(Call& c, std::uint64_t pixels, F&& f) {
  if (pixels >= release_bytes / 4) return c.detached(std::forward<F>(f));
  return std::forward<F>(f)();
}

Ref bytes_of(std::span<const std::uint8_t> data) {
  return Ref::steal(
      PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data.data()), static_cast<Py_ssize_t>(data.size())));
}

// ---------------------------------------------------------------------------------------------
// Construction and access

PyResult<Image> image_new(Call& c, Args& a) {
  auto width = PY_TRY(a.get<std::uint32_t>(0));
  auto height = PY_TRY(a.get<std::uint32_t>(1));
  auto colour = PY_TRY(colour_arg(a, 2, {0, 0, 0, 0}));
  return PY_TRY(pixel_work(c, std::uint64_t{width} * height, [&] { return make_image(width, height, colour); }));
}

// width * height * 4 without wrapping.
bool byte_count_is(std::uint32_t width, std::uint32_t height, std::size_t n) {
  return static_cast<unsigned __int128>(width) * height * 4 == n;
}

PyResult<Image> wrap_bytes(std::uint32_t width, std::uint32_t height, std::span<const std::uint8_t> data) {
  if (!byte_count_is(width, height, data.size()))
    return raise(PyExc_ValueError, "data length must be width * height * 4");
  return PY_TRY(image_from_bytes(width, height, data));
}

PyResult<Image> from_bytes(Call&, Args& a) {
  auto width = PY_TRY(a.get<std::uint32_t>(0));
  auto height = PY_TRY(a.get<std::uint32_t>(1));
  PyObject* data = a[2];
  if (PyBytes_Check(data)) {
    auto* p = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(data));
    return wrap_bytes(width, height, {p, static_cast<std::size_t>(PyBytes_GET_SIZE(data))});
  }
  if (PyByteArray_Check(data)) {
    compat::CriticalSection lock(data);
    auto* p = reinterpret_cast<const std::uint8_t*>(PyByteArray_AS_STRING(data));
    return wrap_bytes(width, height, {p, static_cast<std::size_t>(PyByteArray_GET_SIZE(data))});
  }
  auto values = PY_TRY(a.get<std::vector<std::uint8_t>>(2));
  return wrap_bytes(width, height, values);
}

std::uint32_t get_width(Call&, const Image& im) { return im.width; }
std::uint32_t get_height(Call&, const Image& im) { return im.height; }
std::uint64_t get_stride(Call&, const Image& im) { return im.stride(); }

Ref to_bytes(Call&, const Image& im) { return bytes_of(im.pixels); }

Image copy(Call&, const Image& im) { return im; }

PyResult<Rgba> pixel(Call&, const Image& im, Args& a) {
  auto x = PY_TRY(a.get<std::uint32_t>(0));
  auto y = PY_TRY(a.get<std::uint32_t>(1));
  auto v = image_pixel(im, x, y);
  if (!v) return raise(PyExc_IndexError, "pixel out of range");
  return unpack(*v);
}

PyStatus set_pixel(Call&, Image& im, Args& a) {
  auto x = PY_TRY(a.get<std::uint32_t>(0));
  auto y = PY_TRY(a.get<std::uint32_t>(1));
  auto colour = pack(PY_TRY(a.get<Rgba>(2)));
  if (!image_set_pixel(im, x, y, colour)) return raise(PyExc_IndexError, "pixel out of range");
  return {};
}

PyStatus fill(Call& c, Image& im, Args& a) {
  auto colour = pack(PY_TRY(a.get<Rgba>(0)));
  pixel_work(c, im.pixels.size() / 4, [&] { image_fill(im, colour); });
  return {};
}

std::size_t length(Call&, const Image& im) { return im.pixels.size(); }

std::string repr(Call&, const Image& im) { return cat("<Image ", im.width, "x", im.height, " RGBA8>"); }

// An empty vector may hold no allocation; the view of an image without pixels still gets a valid
// address, which nothing ever reads or writes through.
constinit std::uint8_t no_pixels[4] = {};

PyResult<Ref> array_interface(Call&, const Image& im) {
  Ref d = Ref::steal(PyDict_New());
  if (!d) return raised();
  void* address = im.pixels.empty() ? static_cast<void*>(no_pixels) : const_cast<std::uint8_t*>(im.pixels.data());
  Ref shape = detail::tuple_from_refs(to_py(im.height), to_py(im.width), to_py(4));
  Ref typestr = to_py("|u1");
  Ref version = to_py(3);
  Ref data = detail::tuple_from_refs(Ref::steal(PyLong_FromVoidPtr(address)), to_py(0));
  if (!shape || !typestr || !version || !data) return raised();
  if (PyDict_SetItemString(d.get(), "shape", shape.get()) < 0 ||
      PyDict_SetItemString(d.get(), "typestr", typestr.get()) < 0 ||
      PyDict_SetItemString(d.get(), "version", version.get()) < 0 ||
      PyDict_SetItemString(d.get(), "data", data.get()) < 0)
    return raised();
  return d;
}

// ---------------------------------------------------------------------------------------------
// Drawing

PyStatus fill_rect(Call& c, Image& im, Args& a) {
  auto x = PY_TRY(a.get<std::int64_t>(0));
  auto y = PY_TRY(a.get<std::int64_t>(1));
  auto width = PY_TRY(a.get<std::uint32_t>(2));
  auto height = PY_TRY(a.get<std::uint32_t>(3));
  auto colour = pack(PY_TRY(a.get<Rgba>(4)));
  auto mode = PY_TRY(mode_arg(a, 5, "copy"));
  std::uint64_t area = std::uint64_t{std::min(width, im.width)} * std::min(height, im.height);
  pixel_work(c, area, [&] { fill_span(im, x, y, width, height, colour, mode); });
  return {};
}

// A size argument i, or fallback when it is None or absent.
PyResult<std::uint32_t> size_or(const Args& a, std::size_t i, std::uint32_t fallback) {
  if (!a.given(i) || a[i] == Py_None) return fallback;
  return a.get<std::uint32_t>(i);
}

PyStatus blit(Call& c, Image& im, Args& a) {
  auto src = PY_TRY(a.borrow<Image>(0));
  auto x = PY_TRY(a.get<std::int64_t>(1, 0));
  auto y = PY_TRY(a.get<std::int64_t>(2, 0));
  auto src_x = PY_TRY(a.get<std::int64_t>(3, 0));
  auto src_y = PY_TRY(a.get<std::int64_t>(4, 0));
  const Image& s = *src;
  auto src_width = PY_TRY(size_or(a, 5, s.width));
  auto src_height = PY_TRY(size_or(a, 6, s.height));
  auto mode = PY_TRY(mode_arg(a, 7, "copy"));
  c.detached([&] { gy::blit(im, s, x, y, src_x, src_y, src_width, src_height, mode); });
  return {};
}

PyResult<std::uint32_t> draw_text(Call&, Image& im, Args& a) {
  auto x = PY_TRY(a.get<std::int64_t>(0));
  auto y = PY_TRY(a.get<std::int64_t>(1));
  auto text = PY_TRY(a.get<std::string_view>(2));
  auto colour = PY_TRY(colour_arg(a, 3, {0, 0, 0, 255}));
  auto scale = PY_TRY(a.get<std::uint32_t>(4, 1));
  auto mode = PY_TRY(mode_arg(a, 5, "over"));
  auto center = PY_TRY(a.get<bool>(6, false));
  return gy::draw_text(im, x, y, text, colour, scale, mode, center);
}

PyResult<std::pair<std::uint32_t, std::uint32_t>> text_size(Call&, Args& a) {
  auto text = PY_TRY(a.get<std::string_view>(0));
  auto scale = PY_TRY(a.get<std::uint32_t>(1, 1));
  return gy::text_size(text, scale);
}

PyResult<std::string> fit_text(Call&, Args& a) {
  auto text = PY_TRY(a.get<std::string_view>(0));
  auto max_width = PY_TRY(a.get<std::uint32_t>(1));
  auto scale = PY_TRY(a.get<std::uint32_t>(2, 1));
  return gy::fit_text(text, max_width, scale);
}

// ---------------------------------------------------------------------------------------------
// Resizing and encoding

PyResult<Image> resized(Call& c, const Image& im, Args& a) {
  auto width = PY_TRY(a.get<std::uint32_t>(0));
  auto height = PY_TRY(a.get<std::uint32_t>(1));
  return PY_TRY(c.detached([&] { return gy::resized(im, width, height); }));
}

PyResult<Image> downsample(Call& c, const Image& im, Args& a) {
  auto factor = PY_TRY(a.get<std::uint32_t>(0));
  if (factor == 0) return raise(PyExc_ValueError, "factor must be positive");
  return PY_TRY(c.detached([&] { return gy::downsample(im, factor); }));
}

Ref to_png(Call& c, const Image& im) {
  auto png = c.detached([&] { return encode_png(im); });
  return bytes_of(png);
}

// The file is written with the interpreter released too: a slow disk holds up no other thread.
PyStatus save(Call& c, const Image& im, Args& a) {
  std::string path(PY_TRY(a.get<std::string_view>(0)));
  PY_TRY(c.detached([&] { return write_file(path, encode_png(im)); }));
  return {};
}

// ---------------------------------------------------------------------------------------------
// Rows

constexpr ClassDef image_class{
    "Image",
    "Image(width, height, color=...)\n--\n\n"
    "An RGBA8 image.\n\n"
    "The pixel data is tightly packed, row after row with no gap (stride = width * 4), so\n"
    "numpy.asarray(image) gives a zero-copy (height, width, 4) view of uint8. color, a tuple\n"
    "(red, green, blue, alpha) of 0..255, defaults to (0, 0, 0, 0)."};

constexpr Constructor image_ctor{&image_new, Release::yes};

constexpr ClassMethod from_bytes_row{"from_bytes($type, width, height, data)\n--\n\n"
                                     "Wrap existing tightly packed RGBA8 bytes.\n\n"
                                     "data (bytes, bytearray or a sequence of ints 0..255) is copied; its\n"
                                     "length must be width * height * 4.",
                                     &from_bytes};

constexpr Property width_row{"width", "Columns, in pixels.", Borrow::shared, &get_width};
constexpr Property height_row{"height", "Rows, in pixels.", Borrow::shared, &get_height};
constexpr Property stride_row{"stride", "Bytes per row.", Borrow::shared, &get_stride};
constexpr Property interface_row{"__array_interface__",
                                 "NumPy interface: a zero-copy `(height, width, 4)` `uint8` view.\n\n"
                                 "NumPy keeps the image alive through the array's `base`, so the view\n"
                                 "stays valid.",
                                 Borrow::shared, &array_interface};

constexpr Method to_bytes_row{"to_bytes($self)\n--\n\nA copy of the pixel data as `bytes`.", Borrow::shared,
                              &to_bytes};
constexpr Method copy_row{"copy($self)\n--\n\nA new image of the same size with its own copy of the pixels.",
                          Borrow::shared, &copy};
constexpr Method pixel_row{"pixel($self, x, y)\n--\n\nThe RGBA value at `(x, y)`.", Borrow::shared, &pixel};
constexpr Method set_pixel_row{"set_pixel($self, x, y, color)\n--\n\n"
                               "Store `color` at `(x, y)` as it is, without blending.",
                               Borrow::exclusive, &set_pixel};
constexpr Method fill_row{"fill($self, color)\n--\n\nFill the whole image with one color.", Borrow::exclusive,
                          &fill, Release::yes};
constexpr Method fill_rect_row{"fill_rect($self, x, y, width, height, color, mode=\"copy\")\n--\n\n"
                               "Fill a rectangle.\n\n"
                               "The rectangle is clipped to the image; `mode` is \"copy\", \"over\" or \"add\".",
                               Borrow::exclusive, &fill_rect, Release::yes};
constexpr Method blit_row{
    "blit($self, src, x=0, y=0, src_x=0, src_y=0, src_width=None, src_height=None, mode=\"copy\")\n--\n\n"
    "Copy a rectangle of `src` onto this image at `(x, y)`.\n\n"
    "Both rectangles are clipped, so out-of-range coordinates are harmless. `src_width` and\n"
    "`src_height` default to the size of `src`. `mode` is \"copy\", \"over\" (source-over alpha) or\n"
    "\"add\".",
    Borrow::exclusive, &blit, Release::yes};
constexpr Method draw_text_row{
    "draw_text($self, x, y, text, color=..., scale=1, mode=\"over\", center=False)\n--\n\n"
    "Draw `text` with the top-left of its cell at `(x, y)`.\n\n"
    "The font is built in, so text looks the same on every platform and needs no font file and no\n"
    "system font service. `color` defaults to opaque black; `scale` magnifies each pixel of a\n"
    "glyph. For smooth edges, draw into an image `n` times the size and `downsample(n)` it.\n"
    "\"\\n\" starts a new line; with `center`, each line is centred on `x`. Returns the width\n"
    "drawn, so captions can be chained.",
    Borrow::exclusive, &draw_text};
constexpr ClassMethod text_size_row{"text_size($type, text, scale=1)\n--\n\n"
                                    "The `(width, height)` in pixels that `draw_text` would cover.",
                                    &text_size};
constexpr ClassMethod fit_text_row{"fit_text($type, text, max_width, scale=1)\n--\n\n"
                                   "Shorten `text` with an ellipsis until it fits `max_width` pixels.",
                                   &fit_text};
constexpr Method resized_row{"resized($self, width, height)\n--\n\nNearest-neighbor resize.", Borrow::shared,
                             &resized, Release::yes};
constexpr Method downsample_row{"downsample($self, factor)\n--\n\nBox-filter downsample by an integer factor.",
                                Borrow::shared, &downsample, Release::yes};
constexpr Method to_png_row{"to_png($self)\n--\n\nEncode as PNG.", Borrow::shared, &to_png, Release::yes};
constexpr Method save_row{"save($self, path)\n--\n\nWrite a PNG to `path`.", Borrow::shared, &save, Release::yes};

constexpr Slot len_row{slot<Py_mp_length>, Borrow::shared, &length};
constexpr Slot repr_row{slot<Py_tp_repr>, Borrow::shared, &repr};

constinit OnceObject image_cell;

}  // namespace

template <>
PyTypeObject* type_object<Image>() {
  return make_type<Image, image_class, image_ctor, from_bytes_row, width_row, height_row, stride_row, interface_row,
                   to_bytes_row, copy_row, pixel_row, set_pixel_row, fill_row, fill_rect_row, blit_row, draw_text_row,
                   text_size_row, fit_text_row, resized_row, downsample_row, to_png_row, save_row, len_row,
                   repr_row>(image_cell);
}

}  // namespace gy::py

#include "render/png.hpp"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "num/interrupt.hpp"
#include "pool.hpp"

namespace gy {
namespace {

// Filtered data is compressed in slices of this many bytes, each primed with the 32 KiB before it
// so that matches may reach back across the cut; the slices form one deflate stream.
constexpr std::size_t slice_bytes = std::size_t{1} << 17;
constexpr std::size_t window = std::size_t{1} << 15;

void put_be32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}

struct Slice {
  std::vector<std::uint8_t> bytes;
  uLong adler = 1;
};

// Raw deflate of data[begin, end), ending byte-aligned (or with the final block when last).
void compress_slice(std::span<const std::uint8_t> data, std::size_t begin, std::size_t end, bool last, Slice& out) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::bad_alloc();
  if (begin > 0) {
    std::size_t from = begin - std::min(begin, window);
    deflateSetDictionary(&z, data.data() + from, static_cast<uInt>(begin - from));
  }
  std::size_t len = end - begin;
  out.bytes.resize(deflateBound(&z, len) + 64);
  z.next_in = const_cast<Bytef*>(data.data() + begin);
  z.avail_in = static_cast<uInt>(len);
  std::size_t produced = 0;
  int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
  for (;;) {
    z.next_out = out.bytes.data() + produced;
    z.avail_out = static_cast<uInt>(out.bytes.size() - produced);
    int rc = deflate(&z, flush);
    produced = out.bytes.size() - z.avail_out;
    if (rc == Z_STREAM_END || (!last && rc == Z_OK && z.avail_in == 0 && z.avail_out > 0)) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      deflateEnd(&z);
      panic(cat("deflate failed with code ", rc));
    }
    out.bytes.resize(out.bytes.size() * 2);
  }
  deflateEnd(&z);
  out.bytes.resize(produced);
  if (len > 0) out.adler = adler32(1, data.data() + begin, static_cast<uInt>(len));
}

// The zlib stream (level 6 header, deflate data, Adler-32) of data.
std::vector<std::uint8_t> zlib_stream(std::span<const std::uint8_t> data) {
  std::size_t count = std::max<std::size_t>(1, (data.size() + slice_bytes - 1) / slice_bytes);
  std::vector<Slice> slices(count);
  pool::for_each_index(count, 1, [&](std::size_t i) {
    poll_interrupt();
    std::size_t begin = i * slice_bytes, end = std::min(data.size(), begin + slice_bytes);
    compress_slice(data, begin, end, i + 1 == count, slices[i]);
  });
  std::size_t total = 6;
  for (const Slice& s : slices) total += s.bytes.size();
  std::vector<std::uint8_t> stream;
  stream.reserve(total);
  stream.push_back(0x78);
  stream.push_back(0x9C);
  uLong adler = 1;
  for (std::size_t i = 0; i < count; ++i) {
    stream.insert(stream.end(), slices[i].bytes.begin(), slices[i].bytes.end());
    std::size_t len = std::min(data.size(), (i + 1) * slice_bytes) - std::min(data.size(), i * slice_bytes);
    adler = adler32_combine(adler, slices[i].adler, static_cast<z_off_t>(len));
  }
  put_be32(stream, static_cast<std::uint32_t>(adler));
  return stream;
}

}  // namespace

void write_png_chunk(std::vector<std::uint8_t>& out, std::string_view type, std::span<const std::uint8_t> data) {
  if (type.size() != 4 || data.size() > png_max_chunk) panic("a PNG chunk has a four-byte type and fits its length");
  put_be32(out, static_cast<std::uint32_t>(data.size()));
  out.insert(out.end(), type.begin(), type.end());
  out.insert(out.end(), data.begin(), data.end());
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type.data()), 4);
  // A null buffer would restart the CRC, so empty data is skipped; chunks are below 2 GiB.
  if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  put_be32(out, static_cast<std::uint32_t>(crc));
}

void write_png_data(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> stream, std::uint32_t max_chunk) {
  max_chunk = std::clamp<std::uint32_t>(max_chunk, 1, png_max_chunk);
  do {
    std::size_t n = std::min<std::size_t>(stream.size(), max_chunk);
    write_png_chunk(out, "IDAT", stream.first(n));
    stream = stream.subspan(n);
  } while (!stream.empty());
}

std::vector<std::uint8_t> encode_png(const Image& image) {
  const std::size_t w = image.width, h = image.height, row = w * 4, filtered_row = row + 1;
  PixelBytes filtered(filtered_row * h);  // every byte is written below
  std::size_t grain = std::max<std::size_t>(1, 65536 / filtered_row);
  pool::for_ranges(h, grain, [&](std::size_t lo, std::size_t hi) {
    poll_interrupt();
    for (std::size_t y = lo; y < hi; ++y) {
      const std::uint8_t* s = image.pixels.data() + y * row;
      std::uint8_t* d = filtered.data() + y * filtered_row;
      d[0] = 1;  // Sub
      if (row == 0) continue;
      std::memcpy(d + 1, s, 4);
      for (std::size_t i = 4; i < row; ++i) d[1 + i] = static_cast<std::uint8_t>(s[i] - s[i - 4]);
    }
  });
  std::vector<std::uint8_t> stream = zlib_stream(filtered);
  filtered = {};

  std::vector<std::uint8_t> out;
  std::size_t chunks = std::max<std::size_t>(1, (stream.size() + png_max_chunk - 1) / png_max_chunk);
  out.reserve(8 + 25 + stream.size() + 12 * chunks + 12);
  static constexpr std::uint8_t signature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  out.insert(out.end(), signature, signature + 8);
  std::vector<std::uint8_t> header;
  put_be32(header, image.width);
  put_be32(header, image.height);
  header.insert(header.end(), {8, 6, 0, 0, 0});
  write_png_chunk(out, "IHDR", header);
  write_png_data(out, stream);
  write_png_chunk(out, "IEND", {});
  return out;
}

Status write_file(std::string_view path, std::span<const std::uint8_t> bytes) {
  auto os_error = [](int code) {
    char buf[256];
    const char* text = strerror_r(code, buf, sizeof buf);
    return fail(ErrorKind::Other, cat(text, " (os error ", code, ")"));
  };
  if (path.find('\0') != std::string_view::npos)
    return fail(ErrorKind::Other, "file name contained an unexpected NUL byte");
  std::string name(path);
  int fd;
  do fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return os_error(errno);
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), std::min<std::size_t>(bytes.size(), 0x7FFFFFFF));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int code = errno;
      ::close(fd);
      if (n == 0) return fail(ErrorKind::Other, "failed to write whole buffer");
      return os_error(code);
    }
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  // A failed close can mean the data never reached the file; report it rather than succeed.
  if (::close(fd) != 0 && errno != EINTR) return os_error(errno);
  return {};
}

}  // namespace gy

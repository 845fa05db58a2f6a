#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "pool.hpp"
#include "render/png.hpp"

namespace gy {
namespace {

// The elements of a buffer as a plain vector, for comparisons.
template <class V>
std::vector<typename V::value_type> plain(const V& v) {
  return {v.begin(), v.end()};
}

// Bitwise CRC-32 (reflected, polynomial 0xEDB88320), independent of any table.
std::uint32_t crc32_bitwise(const std::uint8_t* p, std::size_t n) {
  std::uint32_t c = 0xFFFFFFFF;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

std::uint32_t be32(const std::uint8_t* p) { return std::uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

struct Chunk {
  std::string type;
  std::vector<std::uint8_t> data;
};

// Splits a file into chunks, checking the signature, every length and every CRC.
std::vector<Chunk> chunks(const std::vector<std::uint8_t>& file) {
  static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  EXPECT_TRUE(file.size() >= 8 && std::equal(signature, signature + 8, file.begin()));
  std::vector<Chunk> out;
  for (std::size_t at = 8; at < file.size();) {
    EXPECT_LE(at + 12, file.size());
    std::uint32_t n = be32(&file[at]);
    EXPECT_LE(at + 12 + n, file.size());
    EXPECT_EQ(be32(&file[at + 8 + n]), crc32_bitwise(&file[at + 4], 4 + n)) << "chunk at " << at;
    out.push_back({std::string(file.begin() + at + 4, file.begin() + at + 8),
                   std::vector<std::uint8_t>(file.begin() + at + 8, file.begin() + at + 8 + n)});
    at += 12 + n;
  }
  return out;
}

// The filtered rows inside the file's IDAT chunks.
std::vector<std::uint8_t> inflated(const std::vector<Chunk>& cs, std::size_t expected) {
  std::vector<std::uint8_t> stream;
  for (const Chunk& c : cs)
    if (c.type == "IDAT") stream.insert(stream.end(), c.data.begin(), c.data.end());
  std::vector<std::uint8_t> out(expected + 1);
  uLongf n = out.size();
  EXPECT_EQ(uncompress(out.data(), &n, stream.data(), stream.size()), Z_OK);
  out.resize(n);
  return out;
}

// Decodes a file written by the encoder (Sub filter only) back to RGBA8 pixels.
Image decode(const std::vector<std::uint8_t>& file) {
  std::vector<Chunk> cs = chunks(file);
  EXPECT_GE(cs.size(), 3u);
  EXPECT_EQ(cs.front().type, "IHDR");
  EXPECT_EQ(cs.back().type, "IEND");
  Image img;
  img.width = be32(&cs[0].data[0]);
  img.height = be32(&cs[0].data[4]);
  EXPECT_EQ(std::vector<std::uint8_t>(cs[0].data.begin() + 8, cs[0].data.end()), (std::vector<std::uint8_t>{8, 6, 0, 0, 0}));
  std::size_t row = std::size_t{img.width} * 4;
  std::vector<std::uint8_t> f = inflated(cs, (row + 1) * img.height);
  EXPECT_EQ(f.size(), (row + 1) * img.height);
  for (std::uint32_t y = 0; y < img.height && f.size() == (row + 1) * img.height; ++y) {
    const std::uint8_t* r = &f[y * (row + 1)];
    EXPECT_EQ(r[0], 1);
    for (std::size_t i = 0; i < row; ++i)
      img.pixels.push_back(static_cast<std::uint8_t>(r[1 + i] + (i >= 4 ? img.pixels[img.pixels.size() - 4] : 0)));
  }
  return img;
}

Image noisy(std::uint32_t w, std::uint32_t h, unsigned seed) {
  Image img = expect(make_image(w, h), "image");
  std::mt19937 rng(seed);
  for (std::size_t i = 0; i < img.pixels.size(); ++i) img.pixels[i] = (i / 4 % 7 == 0) ? rng() : (i / 97) & 0xFF;
  return img;
}

TEST(Png, LayoutOfSmallFiles) {
  Image one = expect(make_image(1, 1, 10 | 20 << 8 | 30 << 16 | 40u << 24), "1x1");
  std::vector<std::uint8_t> file = encode_png(one);
  const std::vector<std::uint8_t> head = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0x0D, 'I', 'H', 'D', 'R'};
  EXPECT_TRUE(std::equal(head.begin(), head.end(), file.begin()));
  EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + 24, file.begin() + 29), (std::vector<std::uint8_t>{8, 6, 0, 0, 0}));
  const std::vector<std::uint8_t> tail = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), file.end() - 12));
  EXPECT_EQ(inflated(chunks(file), 5), (std::vector<std::uint8_t>{1, 10, 20, 30, 40}));

  const std::uint8_t two_px[] = {10, 20, 30, 40, 15, 15, 35, 50};
  Image two = expect(image_from_bytes(2, 1, two_px), "2x1");
  EXPECT_EQ(inflated(chunks(encode_png(two)), 9), (std::vector<std::uint8_t>{1, 10, 20, 30, 40, 5, 0xFB, 5, 10}));

  for (auto [w, h] : {std::pair{0u, 0u}, {0u, 3u}, {3u, 0u}}) {
    Image empty = expect(make_image(w, h), "empty");
    std::vector<Chunk> cs = chunks(encode_png(empty));
    ASSERT_EQ(cs.size(), 3u);
    EXPECT_EQ(cs[1].type, "IDAT");
    EXPECT_EQ(inflated(cs, h), std::vector<std::uint8_t>(h, 1));  // rows of the filter byte alone
    EXPECT_EQ(decode(encode_png(empty)), empty);
  }
}

TEST(Png, RoundTripsLargeImagesForEveryThreadCount) {
  // Several compression slices (each primed with the data before it) and runs of filtered rows.
  Image img = noisy(301, 257, 1);
  std::vector<std::uint8_t> first;
  for (int threads : {1, 2, 8}) {
    pool::Limit limit(threads);
    std::vector<std::uint8_t> file = encode_png(img);
    if (first.empty()) {
      first = file;
      EXPECT_EQ(decode(file), img);
    } else {
      EXPECT_EQ(file, first) << threads << " threads";
    }
  }
  Image flat = expect(make_image(700, 400, 0xFF336699), "flat");
  std::vector<std::uint8_t> file = encode_png(flat);
  EXPECT_LT(file.size(), flat.pixels.size() / 100);  // matches reach across slice cuts
  EXPECT_EQ(decode(file), flat);
}

TEST(Png, LongStreamsSplitOverSeveralDataChunks) {
  std::vector<std::uint8_t> stream(250);
  for (std::size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<std::uint8_t>(i * 7);
  std::vector<std::uint8_t> file(8, 0);
  write_png_data(file, stream, 100);
  file.insert(file.begin(), {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
  file.erase(file.begin() + 8, file.begin() + 16);
  std::vector<Chunk> cs = chunks(file);
  ASSERT_EQ(cs.size(), 3u);
  std::vector<std::uint8_t> joined;
  for (const Chunk& c : cs) {
    EXPECT_EQ(c.type, "IDAT");
    joined.insert(joined.end(), c.data.begin(), c.data.end());
  }
  EXPECT_EQ(cs[0].data.size(), 100u);
  EXPECT_EQ(cs[2].data.size(), 50u);
  EXPECT_EQ(joined, stream);
}

std::string temp_path(const char* name) { return ::testing::TempDir() + "gyrelle_" + std::to_string(::getpid()) + name; }

TEST(Png, WritesFilesAndReportsFailures) {
  Image img = noisy(40, 30, 2);
  std::vector<std::uint8_t> bytes = encode_png(img);
  std::string path = temp_path("_w.png");
  ASSERT_TRUE(write_file(path, bytes).has_value());
  ASSERT_TRUE(write_file(path, bytes).has_value());  // truncates what was there
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(back, bytes);
  std::remove(path.c_str());

  auto missing = write_file("/nonexistent-gyrelle-dir/x.png", bytes);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().kind, ErrorKind::Other);
  EXPECT_EQ(missing.error().message, "No such file or directory (os error 2)");
  auto nul = write_file(std::string_view("a\0b.png", 7), bytes);
  ASSERT_FALSE(nul);
  EXPECT_EQ(nul.error().message, "file name contained an unexpected NUL byte");
  auto full = write_file("/dev/full", bytes);
  ASSERT_FALSE(full);
  EXPECT_EQ(full.error().message, "No space left on device (os error 28)");
}

TEST(Png, IndependentDecoderReadsPixels) {
  if (::access("/usr/bin/python3", X_OK) != 0 ||
      std::system("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "Pillow is not installed";
  Image img = noisy(123, 77, 3);
  std::string png = temp_path("_pil.png"), raw = temp_path("_pil.raw");
  ASSERT_TRUE(write_file(png, encode_png(img)).has_value());
  std::string cmd = "/usr/bin/python3 -c \"import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
                    "assert im.mode == 'RGBA' and im.size == (123, 77); open(sys.argv[2], 'wb').write(im.tobytes())\" " +
                    png + " " + raw;
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream in(raw, std::ios::binary);
  std::vector<std::uint8_t> back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(back, plain(img.pixels));
  std::remove(png.c_str());
  std::remove(raw.c_str());
}

}  // namespace
}  // namespace gy

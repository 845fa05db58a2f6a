// Frames of a synthetic puzzle-like scene (6^3 cubes: 2592 triangles and 2592 outline segments)
// at 512x512 with supersample 2, on 1, 2, 4 and 8 threads; and the PNG encoding rate.
#include <benchmark/benchmark.h>

#include "../tests/cpp/render_synthetic.hpp"
#include "pool.hpp"
#include "render/framebuffer.hpp"
#include "render/png.hpp"
#include "render/raster.hpp"

namespace gy {
namespace {

constexpr std::uint32_t size = 512, f = 2;

Image render(const synthetic::Scene& s, RasterScratch& scratch) {
  Framebuffer fb = expect(make_framebuffer(size, size, f, 0xFF201810), "frame");
  rasterize(scratch, fb, s.items, s.vp);
  Image out = expect(make_image(size, size), "image");
  resolve(fb, f, out.pixels);
  return out;
}

void BM_Frame(benchmark::State& state) {
  pool::Limit limit(state.range(0));
  synthetic::Scene s = synthetic::scene(6, size * f, size * f, 2);
  RasterScratch scratch;
  for (auto _ : state) benchmark::DoNotOptimize(render(s, scratch));
  state.counters["threads"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_Frame)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

// The rasterizer alone into a cleared framebuffer.
void BM_Rasterize(benchmark::State& state) {
  pool::Limit limit(state.range(0));
  synthetic::Scene s = synthetic::scene(6, size * f, size * f, 2);
  Framebuffer fb = expect(make_framebuffer(size, size, f, 0), "frame");
  RasterScratch scratch;
  for (auto _ : state) {
    std::fill(fb.depth.begin(), fb.depth.end(), std::numeric_limits<float>::infinity());
    rasterize(scratch, fb, s.items, s.vp);
  }
}
BENCHMARK(BM_Rasterize)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Png(benchmark::State& state) {
  pool::Limit limit(state.range(0));
  synthetic::Scene s = synthetic::scene(6, size * f, size * f, 2);
  RasterScratch scratch;
  Image img = render(s, scratch);
  for (auto _ : state) benchmark::DoNotOptimize(encode_png(img));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * img.pixels.size()));
  state.counters["png_bytes"] = static_cast<double>(encode_png(img).size());
}
BENCHMARK(BM_Png)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace gy

// Scene frames of catalog puzzles at 512x512 with supersample 2 on 1, 2, 4 and 8 threads; frames
// of 128x128 at supersample 2 painted from a drawing table, one alone and many in parallel; and the
// PNG encoding rate of a scene frame.
#include <benchmark/benchmark.h>

#include <random>

#include "catalog.hpp"
#include "pool.hpp"
#include "render/lut.hpp"
#include "render/png.hpp"
#include "render/scene.hpp"
#include "simulator.hpp"
#include "symbolic.hpp"

namespace gy {
namespace {

constexpr std::uint32_t size = 512;

// The puzzle seen from above one side on a dark background, as an interactive caller draws it.
Simulator viewed(benchmark::State& state, std::string_view name) {
  auto query = resolve_recipe_text(name);
  auto sim = query ? Simulator::build(*query) : Result<Simulator>(fail(ErrorKind::Other, "no such puzzle"));
  if (!sim) {
    state.SkipWithError(sim.error().message.c_str());
    return {};
  }
  ViewOptions o;
  o.yaw = 30;
  o.pitch = 25;
  o.background = 0xFF302020;
  o.supersample = 2;
  view_from_options(o, sim->view, sim->camera);
  return std::move(*sim);
}

void frame(benchmark::State& state, std::string_view name) {
  pool::Limit limit(state.range(0));
  Simulator sim = viewed(state, name);
  for (auto _ : state) benchmark::DoNotOptimize(render(sim, size, size));
  state.counters["threads"] = static_cast<double>(state.range(0));
}

void BM_Cube3(benchmark::State& state) { frame(state, "Quenly's Cube (3x3x3)"); }
void BM_Megaminx(benchmark::State& state) { frame(state, "Megaminx"); }
BENCHMARK(BM_Cube3)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Megaminx)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

// The colour rows of scrambled copies of the puzzle.
std::vector<std::vector<std::uint16_t>> scrambled_colours(Simulator sim, std::size_t copies) {
  std::vector<std::vector<std::uint16_t>> rows;
  std::mt19937 rng(5);
  const ModelRef model = expect(tabular_model(sim), "model");
  for (std::size_t c = 0; c < copies; ++c) {
    for (int k = 0; k < 3; ++k) (void)expect(apply_action(sim, rng() % model->action_count()), "action");
    rows.push_back(expect(sticker_colors(sim), "colours"));
  }
  return rows;
}

void BM_TablePaint(benchmark::State& state) {
  Simulator sim = viewed(state, "Megaminx");
  const DrawingTable table = expect(make_drawing_table(sim, 128, 128), "table");
  const auto rows = scrambled_colours(sim, 1);
  Image frame = expect(make_image(128, 128), "frame");
  for (auto _ : state) {
    paint_from_table(table, rows[0], table.palette, frame.pixels);
    benchmark::DoNotOptimize(frame.pixels.data());
  }
}
BENCHMARK(BM_TablePaint)->Unit(benchmark::kMicrosecond);

// 256 copies painted on the pool, one frame per task; frame_time is the wall time per frame.
void BM_TablePaintMany(benchmark::State& state) {
  pool::Limit limit(state.range(0));
  Simulator sim = viewed(state, "Megaminx");
  const DrawingTable table = expect(make_drawing_table(sim, 128, 128), "table");
  constexpr std::size_t copies = 256;
  const auto rows = scrambled_colours(sim, copies);
  std::vector<Image> frames(copies, expect(make_image(128, 128), "frame"));
  for (auto _ : state) {
    pool::for_each_index(copies, 1, [&](std::size_t c) {
      paint_from_table(table, rows[c], table.palette, frames[c].pixels);
    });
    benchmark::DoNotOptimize(frames.data());
  }
  state.counters["frame_time"] = benchmark::Counter(static_cast<double>(copies),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}
BENCHMARK(BM_TablePaintMany)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Png(benchmark::State& state) {
  pool::Limit limit(state.range(0));
  Simulator sim = viewed(state, "Megaminx");
  Image img = expect(render(sim, size, size), "frame");
  for (auto _ : state) benchmark::DoNotOptimize(encode_png(img));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * img.pixels.size()));
}
BENCHMARK(BM_Png)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace gy

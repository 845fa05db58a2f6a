// Exact turns with the grip refresh that follows each one.
#include <benchmark/benchmark.h>

#include <random>

#include "catalog.hpp"
#include "simulator.hpp"

namespace gy {
namespace {

Simulator build_named(benchmark::State& state, std::string_view name) {
  auto query = resolve_recipe_text(name);
  if (!query) {
    state.SkipWithError("no such catalog entry");
    return {};
  }
  auto sim = Simulator::build(*query);
  if (!sim) {
    state.SkipWithError(sim.error().message.c_str());
    return {};
  }
  return std::move(*sim);
}

// One layer forwards again and again: after a full turn every orientation is one seen before.
void turn_one_layer(benchmark::State& state, std::string_view name) {
  Simulator sim = build_named(state, name);
  if (sim.grips.empty()) return;
  const Plane layer = sim.grips[0].plane;
  for (auto _ : state) {
    std::size_t g = 0;
    while (g < sim.grips.size() && !planes_equal(sim.grips[g].plane, layer)) ++g;
    auto done = turn_grip(sim, g, TurnRequest::by_direction(1));
    if (!done) {
      state.SkipWithError(done.error().message.c_str());
      break;
    }
  }
  state.counters["grips"] = static_cast<double>(sim.grips.size());
  state.counters["side_memo"] = static_cast<double>(sim.grip_memos.side_memo.size());
}

// Random layers and directions: pieces keep reaching orientations the memos have not seen.
void turn_random_layers(benchmark::State& state, std::string_view name) {
  Simulator sim = build_named(state, name);
  if (sim.grips.empty()) return;
  std::mt19937_64 rng(5);
  for (auto _ : state) {
    auto done = turn_grip(sim, rng() % sim.grips.size(), TurnRequest::by_direction(rng() % 2 ? 1 : -1));
    if (!done) {
      state.SkipWithError(done.error().message.c_str());
      break;
    }
  }
  state.counters["side_memo"] = static_cast<double>(sim.grip_memos.side_memo.size());
}

void BM_Cube3TurnOneLayer(benchmark::State& state) { turn_one_layer(state, "Quenly's Cube (3x3x3)"); }
void BM_MegaminxTurnOneLayer(benchmark::State& state) { turn_one_layer(state, "Megaminx"); }
void BM_Cube3TurnRandomLayers(benchmark::State& state) { turn_random_layers(state, "Quenly's Cube (3x3x3)"); }
void BM_MegaminxTurnRandomLayers(benchmark::State& state) { turn_random_layers(state, "Megaminx"); }

BENCHMARK(BM_Cube3TurnOneLayer)->Iterations(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MegaminxTurnOneLayer)->Iterations(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Cube3TurnRandomLayers)->Iterations(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MegaminxTurnRandomLayers)->Iterations(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace gy

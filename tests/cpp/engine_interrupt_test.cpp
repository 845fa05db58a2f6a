// Long calls stop at a stop request: gy::Interrupted comes within a poll interval or two, and the
// object the call worked on is left whole and usable, as a failure at that point would leave it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "batch.hpp"
#include "layout.hpp"
#include "num/interrupt.hpp"
#include "simulator.hpp"
#include "symbolic.hpp"

namespace gy {
namespace {

// One thread in the pool: every task runs on the calling thread, which carries the watch whatever
// the pool does with it on its workers. (A batch whose histories are backed ahead on the pool, one
// of 65,536 copies or more, would bring a worker in: the batches here are smaller.)
const bool one_thread = (setenv("RAYON_NUM_THREADS", "1", 1), true);

#if defined(__SANITIZE_ADDRESS__)
constexpr double kSlack = 20.0;
#else
constexpr double kSlack = 1.0;
#endif

constexpr std::string_view kCube = "?shell=C$1&cut=C$1/3";
constexpr std::string_view kMegaminx = "?shell=D$1&cut=D$2/(sqrt(5)+1)";

using Clock = std::chrono::steady_clock;

// The host's test of a watch: "stop" once the moment has come.
bool past(void* moment) { return Clock::now() >= *static_cast<Clock::time_point*>(moment); }

// Runs f under a watch that asks it to stop `after` from now; the seconds from that moment until
// Interrupted reached here, or -1 when f returned.
template <class F>
double seconds_to_stop(std::chrono::milliseconds after, F&& f) {
  Clock::time_point moment = Clock::now() + after;
  Watch watch(&past, &moment);
  try {
    f();
  } catch (const Interrupted&) {
    return std::chrono::duration<double>(Clock::now() - moment).count();
  }
  return -1.0;
}

PuzzleBatch make(std::string_view query, std::size_t count, BatchModeRequest mode, std::uint64_t seed) {
  BatchSetup setup;
  setup.mode = mode;
  setup.seed = seed;
  auto b = build_batch(query, count, setup);
  EXPECT_TRUE(b) << b.error().message;
  return std::move(*b);
}

std::vector<std::uint32_t> rows_of(PuzzleBatch& b) {
  auto ids = sticker_id_rows<std::uint32_t>(b);
  EXPECT_TRUE(ids) << ids.error().message;
  return *ids;
}

std::vector<std::vector<std::uint32_t>> histories(const PuzzleBatch& b) {
  std::vector<std::vector<std::uint32_t>> all;
  for (std::size_t i = 0; i < b.count(); ++i) all.push_back(history_of(b, i));
  return all;
}

TEST(Interrupt, ABuildStopsBetweenCutsAndTheNextBuildIsWhole) {
  std::string query = "?shell=D$1";
  for (int k = 2; k <= 8; ++k) query += "&cut=D$1/" + std::to_string(k);
  const double late = seconds_to_stop(std::chrono::milliseconds(200), [&] { (void)Simulator::build(query); });
  ASSERT_GE(late, 0.0) << "the build finished before it was asked to stop";
  EXPECT_LT(late, 0.2 * kSlack);
  auto again = Simulator::build(kMegaminx);
  ASSERT_TRUE(again) << again.error().message;
  EXPECT_EQ(again->pieces.size(), 62u);
  EXPECT_EQ(again->grips.size(), 12u);
}

// Interrupted between two moves, a geometric walk keeps the moves it made, each recorded: the copy
// is where a walk of exactly that many moves takes it, and walks on from there alike.
TEST(Interrupt, AGeometricScrambleKeepsTheMovesItMade) {
  PuzzleBatch b = make(kMegaminx, 1, BatchModeRequest::geometric, 5);
  const std::vector<std::uint32_t> deep{10000};
  const double late = seconds_to_stop(std::chrono::milliseconds(100), [&] { (void)scramble_all(b, deep); });
  ASSERT_GE(late, 0.0);
  EXPECT_LT(late, 0.2 * kSlack);
  const std::vector<std::uint32_t> made = history_of(b, 0);
  ASSERT_GT(made.size(), 0u);
  ASSERT_LT(made.size(), 10000u);
  const Simulator& copy = std::get<GeometricState>(b.mode).copies[0];
  EXPECT_EQ(copy.history.size(), made.size());
  EXPECT_EQ(b.last_actions[0], made.back());

  PuzzleBatch same = make(kMegaminx, 1, BatchModeRequest::geometric, 5);
  ASSERT_TRUE(scramble_all(same, std::vector<std::uint32_t>{static_cast<std::uint32_t>(made.size())}));
  EXPECT_EQ(history_of(same, 0), made);
  EXPECT_EQ(same.rng_states, b.rng_states);
  EXPECT_EQ(rows_of(same), rows_of(b));
  for (PuzzleBatch* x : {&b, &same}) ASSERT_TRUE(scramble_all(*x, std::vector<std::uint32_t>{3}));
  EXPECT_EQ(histories(same), histories(b));
  EXPECT_EQ(rows_of(same), rows_of(b));
}

// Steps made until one is interrupted part-way: that step shows nowhere, in a log of per-copy
// lengths as in a level one, and the batch is the one the finished steps make.
TEST(Interrupt, AnInterruptedTabularStepChangesNothing) {
  for (bool level : {true, false}) {
    SCOPED_TRACE(level ? "level log" : "per-copy lengths");
    const std::size_t count = 60000;
    PuzzleBatch b = make(kCube, count, BatchModeRequest::automatic, 9);
    std::vector<std::uint32_t> actions(count);
    for (std::size_t i = 0; i < count; ++i) actions[i] = static_cast<std::uint32_t>((i * 7) % b.action_count());
    std::vector<std::uint8_t> solved(count), applied(count);
    if (!level) {
      std::vector<std::uint8_t> one(count, 0);
      one[0] = 1;
      ASSERT_TRUE(reset_flagged(b, one, 2));
    }
    std::size_t steps = 0;
    const double late = seconds_to_stop(std::chrono::milliseconds(60), [&] {
      for (;; ++steps) {
        ASSERT_TRUE(step_batch(b, actions, solved, applied));
        std::rotate(actions.begin(), actions.begin() + 1, actions.end());
      }
    });
    ASSERT_GE(late, 0.0);
    EXPECT_LT(late, 0.2 * kSlack);
    EXPECT_EQ(b.histories.level(), level);

    PuzzleBatch same = make(kCube, count, BatchModeRequest::automatic, 9);
    for (std::size_t i = 0; i < count; ++i) actions[i] = static_cast<std::uint32_t>((i * 7) % same.action_count());
    if (!level) {
      std::vector<std::uint8_t> one(count, 0);
      one[0] = 1;
      ASSERT_TRUE(reset_flagged(same, one, 2));
    }
    for (std::size_t k = 0; k < steps; ++k) {
      ASSERT_TRUE(step_batch(same, actions, solved, applied));
      std::rotate(actions.begin(), actions.begin() + 1, actions.end());
    }
    EXPECT_EQ(rows_of(same), rows_of(b));
    EXPECT_EQ(same.last_actions, b.last_actions);
    EXPECT_EQ(histories(same), histories(b));
    // And it steps on alike.
    for (PuzzleBatch* x : {&b, &same}) ASSERT_TRUE(step_batch(*x, actions, solved, applied));
    EXPECT_EQ(rows_of(same), rows_of(b));
    EXPECT_EQ(histories(same), histories(b));
  }
}

// A tabular scramble interrupted part-way: the copies walked so far (the last of them maybe
// part-way) keep their moves, recorded one by one, and the others are as they were.
TEST(Interrupt, AnInterruptedTabularScrambleRecordsWhatItWalked) {
  const std::size_t count = 50000;
  PuzzleBatch b = make(kCube, count, BatchModeRequest::automatic, 3);
  const std::vector<std::uint64_t> seeds = b.rng_states;
  const std::vector<std::uint32_t> deep(count, 2000);
  const double late = seconds_to_stop(std::chrono::milliseconds(200), [&] { (void)scramble_all(b, deep); });
  ASSERT_GE(late, 0.0);
  EXPECT_LT(late, 0.2 * kSlack);
  EXPECT_FALSE(b.histories.level());

  const std::vector<std::uint32_t> rows = rows_of(b);
  const std::size_t n = b.sticker_count();
  PuzzleBatch one = make(kCube, 1, BatchModeRequest::automatic, 0);
  const std::vector<std::uint32_t> solved_row = rows_of(one);
  std::size_t walked = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::vector<std::uint32_t> h = history_of(b, i);
    if (h.empty()) {
      ASSERT_EQ(b.rng_states[i], seeds[i]) << i;
      ASSERT_EQ(b.last_actions[i], kNoAction) << i;
      ASSERT_TRUE(std::equal(solved_row.begin(), solved_row.end(), rows.begin() + i * n)) << i;
      continue;
    }
    ++walked;
    // The copy's own walk of that many moves, made again from its seed.
    seed_one(one, 0, seeds[i]);
    ASSERT_TRUE(reset_all(one, static_cast<std::uint32_t>(h.size())));
    ASSERT_EQ(history_of(one, 0), h) << i;
    ASSERT_EQ(one.rng_states[0], b.rng_states[i]) << i;
    ASSERT_EQ(b.last_actions[i], h.back()) << i;
    const std::vector<std::uint32_t> row = rows_of(one);
    ASSERT_TRUE(std::equal(row.begin(), row.end(), rows.begin() + i * n)) << i;
    ASSERT_TRUE(solve_flagged(one, std::vector<std::uint8_t>{1}));
  }
  EXPECT_GT(walked, 0u);
  EXPECT_LT(walked, count);
}

// A layout's walks stop too, and the layout (which they never change) walks again as before.
TEST(Interrupt, ALayoutWalkStops) {
  auto layout = build_layout(kCube);
  ASSERT_TRUE(layout) << layout.error().message;
  const std::size_t count = 100000, n = layout->facelet_count();
  std::vector<std::uint8_t> out(count * n);
  const WalkLengths deep = WalkLengths::fixed_length(10000);
  const double late = seconds_to_stop(std::chrono::milliseconds(50), [&] {
    scrambled<std::uint8_t>(*layout, deep, count, 1, out);
  });
  ASSERT_GE(late, 0.0);
  EXPECT_LT(late, 0.2 * kSlack);

  std::vector<std::uint8_t> a(4 * n), again(4 * n);
  scrambled<std::uint8_t>(*layout, WalkLengths::fixed_length(30), 4, 2, a);
  auto fresh = build_layout(kCube);
  ASSERT_TRUE(fresh);
  scrambled<std::uint8_t>(*fresh, WalkLengths::fixed_length(30), 4, 2, again);
  EXPECT_EQ(a, again);
}

}  // namespace
}  // namespace gy

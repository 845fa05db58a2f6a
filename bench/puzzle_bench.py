"""Timings of the interactive and batch drawing roads: build_many and render_many over the catalog,
and Puzzle.frame of the Megaminx while it animates.

Run with PYTHONPATH at the repository root: /usr/bin/python3 bench/puzzle_bench.py [--frames N]
"""
import argparse
import statistics
import time

import gyrelle._native as native


def best_of(runs, work):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return min(times)


def frame_rate(puzzle, frames, width, height):
    """Frames per second of frame(16 ms) over `frames` frames, keeping a turn in flight throughout."""
    per_frame = []
    for _ in range(frames):
        if not puzzle.animating:
            puzzle.scramble(50)
        start = time.perf_counter()
        puzzle.frame(16.0, width, height)
        per_frame.append(time.perf_counter() - start)
    return 1.0 / statistics.median(per_frame), 1.0 / (sum(per_frame) / len(per_frame))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--frames", type=int, default=400)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()

    recipes = [recipe for _, _, _, recipe in native.catalog()]
    print(f"worker threads: {native.thread_count()}")
    seconds = best_of(args.runs, lambda: native.build_many(recipes))
    print(f"build_many, {len(recipes)} catalog puzzles: {seconds:.3f} s")
    seconds = best_of(args.runs, lambda: native.render_many(recipes, 256, 256))
    print(f"render_many, {len(recipes)} catalog puzzles at 256x256: {seconds:.3f} s")
    seconds = best_of(args.runs, lambda: native.render_many(recipes, 256, 256, scramble=20, seed=1))
    print(f"render_many, {len(recipes)} catalog puzzles at 256x256, scrambled by 20: {seconds:.3f} s")

    mega = native.Puzzle("Megaminx", supersample=2)
    mega.look_from(25, 20)
    frame_rate(mega, 20, 512, 512)  # warm the caches
    median, mean = frame_rate(mega, args.frames, 512, 512)
    print(f"Puzzle.frame, Megaminx at 512x512, supersample 2, animating: {median:.0f} frames/s "
          f"(median), {mean:.0f} frames/s (mean)")
    mega.settle()
    seconds = best_of(args.runs, lambda: [mega.render(512, 512) for _ in range(50)]) / 50
    print(f"Puzzle.render, Megaminx at 512x512, supersample 2, at rest: {1 / seconds:.0f} frames/s")


if __name__ == "__main__":
    main()

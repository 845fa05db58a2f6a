"""PuzzleBatch.step throughput: tabular batches of the 3x3x3 (1,000,000 copies) and the Megaminx
(500,000 copies) at 1 and 8 worker threads, as copy-steps per second and as effective bytes per
second (each step reads and writes every state row) beside a plain memory copy of the same block in
the same process; 1,000 consecutive steps of the 3x3x3 batch without a reset (the slowest step
against the median, and the history memory per copy and step); the fixed cost of a step on 1,000
copies and on one copy with a NumPy uint32 action array; and a geometric batch of the Helicopter
Cube; the readers (one_hot, solved, and frames at 64x64 and 128x128 in frames per second, as one
array from render and as images from frames) on 1,000 scrambled cubes; render(64, 64) of 10,000
cubes beside a copy of its output bytes; observations, sticker_ids and one_hot on 1,000,000
scrambled cubes beside NumPy copies of a block of the same size, into a fresh array (as the readers
make) and into one already touched (bytes of result per second; NumPy's copy runs on one thread);
and build_many over the catalog's 85 rows. Last come the ratios the batch is held to, side by side.

    python3 bench/batch_bench.py [--quick]

The pool size is fixed per process, so each thread count runs in a child process.
"""
import json
import os
import subprocess
import sys
import time

import numpy as np

import gyrelle._native as gy

TABULAR = [("Quenly's Cube (3x3x3)", 1_000_000), ("Megaminx", 500_000)]
THREADS = [1, 8]
RESET_EVERY = 32  # steps between resets, which keep the histories bounded


def best_of(runs, f):
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        f()
        times.append(time.perf_counter() - t)
    return min(times)


def measure_step(name, count, steps):
    b = gy.PuzzleBatch(name, count, seed=1)
    rng = np.random.default_rng(0)
    actions = [rng.integers(0, b.action_count, count, dtype=np.uint32) for _ in range(8)]
    width = b.permutations.__array_interface__["typestr"]
    row_bytes = b.sticker_count * int(width[-1])

    def run():
        for k in range(steps):
            b.step(actions[k % len(actions)])
            if k % RESET_EVERY == RESET_EVERY - 1:
                b.reset()

    run()  # the histories reach their steady capacity
    seconds = best_of(3, run) / steps
    src = np.ones(count * row_bytes, np.uint8)
    dst = np.zeros_like(src)
    np.copyto(dst, src)
    copy_seconds = best_of(5, lambda: np.copyto(dst, src))
    return {
        "copy_steps_per_second": count / seconds,
        "effective_bytes_per_second": 2 * count * row_bytes / seconds,
        "memcpy_bytes_per_second": 2 * count * row_bytes / copy_seconds,
        "ms_per_step": seconds * 1e3,
    }


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def measure_long_run(count, steps):
    """`steps` consecutive steps without a reset: every step's time, and the memory the histories
    took on; beside them as many warm copies of the state bytes, whose slowest against their median
    is what the machine itself does to a steady load."""
    b = gy.PuzzleBatch("Quenly's Cube (3x3x3)", count, seed=4)
    rng = np.random.default_rng(1)
    actions = [rng.integers(0, b.action_count, count, dtype=np.uint32) for _ in range(8)]
    b.step(actions[0])
    b.reset()
    before = resident_bytes()
    times = []
    for k in range(steps):
        t = time.perf_counter()
        b.step(actions[k % len(actions)])
        times.append(time.perf_counter() - t)
    grown = resident_bytes() - before
    del b
    src = np.ones(count * 54, np.uint8)
    dst = np.zeros_like(src)
    np.copyto(dst, src)
    copies = []
    for _ in range(steps):
        t = time.perf_counter()
        np.copyto(dst, src)
        copies.append(time.perf_counter() - t)
    times.sort()
    copies.sort()
    return {"median_ms": times[len(times) // 2] * 1e3, "max_ms": times[-1] * 1e3,
            "copy_max_over_median": copies[-1] / copies[len(copies) // 2],
            "history_bytes_per_copy_step": grown / (count * steps)}


def measure_one_copy_fixed_cost(calls):
    b = gy.PuzzleBatch("Quenly's Cube (3x3x3)", 1)
    array = np.zeros(1, dtype=np.uint32)
    listed = [0]

    def run(actions):
        for k in range(calls):
            b.step(actions)
            if k % RESET_EVERY == RESET_EVERY - 1:
                b.reset()

    run(array)
    return {"numpy_us": best_of(5, lambda: run(array)) / calls * 1e6,
            "list_us": best_of(5, lambda: run(listed)) / calls * 1e6}


def measure_render(count, runs):
    b = gy.PuzzleBatch("Quenly's Cube (3x3x3)", count, seed=2, scramble=20)
    b.render(64, 64)
    size = np.asarray(b.render(64, 64)).nbytes
    src = np.ones(size, np.uint8)
    dst = np.zeros_like(src)
    np.copyto(dst, src)
    return {"render_ms": best_of(runs, lambda: b.render(64, 64)) * 1e3,
            "warm_copy_ms": best_of(runs, lambda: np.copyto(dst, src)) * 1e3}


def measure_build_many(runs):
    """The best time of build_many over the catalog, with the cores it kept busy (process CPU time
    over wall time) in that run; the puzzles are dropped after the clock stops, and the time that
    takes (on the calling thread) is reported beside it."""
    rows = [row[3] for row in gy.catalog()]
    gy.build_many(rows[:4])
    best = (float("inf"), 0.0, 0.0)
    for _ in range(runs):
        cpu, t = time.process_time(), time.perf_counter()
        built = gy.build_many(rows)
        wall = time.perf_counter() - t
        cores = (time.process_time() - cpu) / wall
        t = time.perf_counter()
        del built
        best = min(best, (wall, cores, time.perf_counter() - t))
    return {"rows": len(rows), "seconds": best[0], "cores": best[1], "drop_seconds": best[2]}


def measure_fixed_cost(calls):
    b = gy.PuzzleBatch("Quenly's Cube (3x3x3)", 1000)
    actions = np.arange(1000, dtype=np.uint32) % b.action_count

    def run():
        for k in range(calls):
            b.step(actions)
            if k % RESET_EVERY == RESET_EVERY - 1:
                b.reset()

    run()
    return best_of(5, run) / calls * 1e6


def measure_geometric(steps):
    b = gy.PuzzleBatch("Helicopter Cube", 1000, seed=1)
    rng = np.random.default_rng(0)
    t = time.perf_counter()
    made = 0
    for _ in range(steps):
        _, applied = b.step(rng.integers(0, b.action_count, 1000, dtype=np.uint32))
        made += sum(applied.tolist())
    seconds = time.perf_counter() - t
    return {"steps_per_second": steps / seconds, "copy_steps_per_second": steps * 1000 / seconds,
            "turns_made_per_second": made / seconds}


def measure_readers(runs):
    b = gy.PuzzleBatch("Quenly's Cube (3x3x3)", 1000, seed=2, scramble=20)
    out = {"one_hot_us": best_of(runs, b.one_hot) * 1e6, "solved_us": best_of(runs, b.solved) * 1e6}
    for size in (64, 128):
        b.render(size, size)  # the drawing table is built once per size
        out[f"render_{size}_fps"] = 1000 / best_of(runs, lambda: b.render(size, size))
        out[f"frames_{size}_fps"] = 1000 / best_of(runs, lambda: b.frames(size, size))
    return out


def measure_state_readers(count, runs):
    """observations, sticker_ids and one_hot on `count` scrambled cubes, each beside a NumPy copy of a
    block of its result's size (a fresh result each time, as the readers make)."""
    b = gy.PuzzleBatch("Quenly's Cube (3x3x3)", count, seed=3, scramble=20)
    out = {}
    for name in ("observations", "sticker_ids", "one_hot"):
        read = getattr(b, name)
        size = np.asarray(read()).nbytes
        src = np.ones(size, np.uint8)
        dst = np.zeros_like(src)
        np.copyto(dst, src)
        seconds = best_of(runs, read)
        copy_seconds = best_of(runs, lambda: np.copy(src))
        warm_seconds = best_of(runs, lambda: np.copyto(dst, src))
        out[name] = {"ms": seconds * 1e3, "bytes_per_second": size / seconds,
                     "copy_bytes_per_second": size / copy_seconds, "warm_copy_bytes_per_second": size / warm_seconds}
    return out


def child(quick):
    steps = 16 if quick else 64
    out = {"threads": gy.thread_count(), "tabular": {}}
    for name, count in TABULAR:
        out["tabular"][name] = measure_step(name, count // (10 if quick else 1), steps)
    out["long_run"] = measure_long_run(count=100_000 if quick else 1_000_000, steps=1000)
    out["fixed_cost_us"] = measure_fixed_cost(200 if quick else 2000)
    out["one_copy_us"] = measure_one_copy_fixed_cost(2000 if quick else 20000)
    out["readers"] = measure_readers(3 if quick else 10)
    out["render"] = measure_render(10_000, 3 if quick else 7)
    out["state_readers"] = measure_state_readers(100_000 if quick else 1_000_000, 3 if quick else 7)
    out["build_many"] = measure_build_many(1 if quick else 3)
    if out["threads"] == max(THREADS):
        out["geometric"] = measure_geometric(3 if quick else 20)
    print(json.dumps(out))


def main():
    quick = "--quick" in sys.argv
    results = []
    for threads in THREADS:
        env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
        args = [sys.executable, __file__, "--child"] + (["--quick"] if quick else [])
        done = subprocess.run(args, env=env, capture_output=True, text=True, check=True)
        results.append(json.loads(done.stdout))
    print(f"{'puzzle':<24}{'threads':>8}{'Mcopy-steps/s':>15}{'ms/step':>10}{'GB/s':>8}{'memcpy GB/s':>13}"
          f"{'ratio':>7}")
    for name, count in TABULAR:
        for r in results:
            t = r["tabular"][name]
            print(f"{name[:23]:<24}{r['threads']:>8}{t['copy_steps_per_second'] / 1e6:>15.1f}"
                  f"{t['ms_per_step']:>10.2f}{t['effective_bytes_per_second'] / 1e9:>8.1f}"
                  f"{t['memcpy_bytes_per_second'] / 1e9:>13.1f}"
                  f"{t['effective_bytes_per_second'] / t['memcpy_bytes_per_second']:>7.2f}")
    for r in results:
        print(f"fixed cost of step on 1,000 copies, {r['threads']} threads: {r['fixed_cost_us']:.1f} us")
    for r in results:
        d = r["readers"]
        print(f"1,000 cubes, {r['threads']} threads: one_hot {d['one_hot_us']:.0f} us, solved {d['solved_us']:.0f} us, "
              f"render 64x64 {d['render_64_fps']:,.0f} fps, 128x128 {d['render_128_fps']:,.0f} fps; "
              f"frames 64x64 {d['frames_64_fps']:,.0f} fps, 128x128 {d['frames_128_fps']:,.0f} fps")
    count = "100,000" if quick else "1,000,000"
    print(f"{'reader on ' + count + ' cubes':<26}{'threads':>8}{'ms':>8}{'GB/s':>7}{'fresh copy':>12}{'ratio':>7}"
          f"{'warm copy':>11}{'ratio':>7}")
    for name in ("observations", "sticker_ids", "one_hot"):
        for r in results:
            d = r["state_readers"][name]
            rate, fresh, warm = d["bytes_per_second"], d["copy_bytes_per_second"], d["warm_copy_bytes_per_second"]
            print(f"{name:<26}{r['threads']:>8}{d['ms']:>8.1f}{rate / 1e9:>7.1f}{fresh / 1e9:>12.1f}{rate / fresh:>7.2f}"
                  f"{warm / 1e9:>11.1f}{rate / warm:>7.2f}")
    for r in results:
        if "geometric" in r:
            g = r["geometric"]
            print(f"Helicopter Cube, 1,000 geometric copies, {r['threads']} threads: "
                  f"{g['steps_per_second']:.1f} steps/s ({g['copy_steps_per_second']:.0f} copy-steps/s, "
                  f"{g['turns_made_per_second']:.0f} turns made/s)")
    for r in results:
        d = r["long_run"]
        print(f"1,000 steps without a reset, {r['threads']} threads: median {d['median_ms']:.2f} ms, slowest "
              f"{d['max_ms']:.2f} ms; histories took {d['history_bytes_per_copy_step']:.2f} bytes a copy a step; "
              f"1,000 copies of the state bytes: slowest {d['copy_max_over_median']:.2f}x their median")
    for r in results:
        d = r["one_copy_us"]
        print(f"fixed cost of step on one copy, {r['threads']} threads: {d['numpy_us']:.2f} us with a NumPy uint32 "
              f"array, {d['list_us']:.2f} us with a list")
    for r in results:
        d = r["render"]
        print(f"render(64, 64) of 10,000 cubes, {r['threads']} threads: {d['render_ms']:.1f} ms; "
              f"copy of its bytes {d['warm_copy_ms']:.1f} ms")
    for r in results:
        d = r["build_many"]
        print(f"build_many of {d['rows']} catalog rows, {r['threads']} threads: {d['seconds'] * 1e3:.0f} ms "
              f"({d['cores']:.1f} cores busy); dropping the puzzles after it: {d['drop_seconds'] * 1e3:.0f} ms")

    one, many = results[0], results[-1]
    print("\nratios in this run [goal]")
    for r in (one, many):
        t = r["tabular"]["Quenly's Cube (3x3x3)"]
        d = r["long_run"]
        hot = r["state_readers"]["one_hot"]
        step = t["effective_bytes_per_second"] / t["memcpy_bytes_per_second"]
        print(f"  {r['threads']} threads: step {step:.2f} of the warm copy [>= 0.6]; slowest of 1,000 steps "
              f"{d['max_ms'] / d['median_ms']:.2f}x the median [<= 2] (a plain copy: "
              f"{d['copy_max_over_median']:.2f}x); histories {d['history_bytes_per_copy_step']:.2f} bytes a copy a "
              f"step [<= 1]")
        print(f"  {r['threads']} threads: one_hot {hot['bytes_per_second'] / hot['warm_copy_bytes_per_second']:.2f} "
              f"of the warm copy [>= 0.5 at 8]; render(64, 64) "
              f"{r['render']['warm_copy_ms'] / r['render']['render_ms']:.2f} of a copy [>= 0.3 at 8]; "
              f"step on one copy {r['one_copy_us']['numpy_us']:.2f} us with a NumPy array [<= 1.2]")
    print(f"  build_many {one['build_many']['seconds'] / many['build_many']['seconds']:.2f}x faster on "
          f"{many['threads']} threads than on 1 [>= 5]")


if __name__ == "__main__":
    if "--child" in sys.argv:
        child("--quick" in sys.argv)
    else:
        main()

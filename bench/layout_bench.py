"""Layout throughput: next_states on a block of cube states against a plain copy of the same bytes,
solved and one_hot on the same block, the fixed cost of a small call, and random walks, each at 1
and 8 pool threads, and last the ratios the layout is held to, side by side. The cores a call
had (process CPU time over wall time) tell how much of the machine the run was given.

Run from the repository root after building:  python3 bench/layout_bench.py
The pool size is fixed per process by RAYON_NUM_THREADS, so each thread count runs in its own
subprocess.
"""
import json
import os
import resource
import subprocess
import sys
import time

STATES = 1_000_000
SMALL = 1_000


def best(f, repeats):
    times = []
    for _ in range(repeats):
        t = time.perf_counter()
        f()
        times.append(time.perf_counter() - t)
    return min(times)


def cpu_seconds():
    r = resource.getrusage(resource.RUSAGE_SELF)
    return r.ru_utime + r.ru_stime


def best_with_cores(f, repeats):
    """The best wall time of f, and the cores it kept busy in that run."""
    best_wall, cores = float("inf"), 0.0
    for _ in range(repeats):
        c, t = cpu_seconds(), time.perf_counter()
        f()
        wall, cpu = time.perf_counter() - t, cpu_seconds() - c
        if wall < best_wall:
            best_wall, cores = wall, cpu / wall
    return best_wall, cores


def median_call(f, calls):
    times = []
    for _ in range(calls):
        t = time.perf_counter()
        f()
        times.append(time.perf_counter() - t)
    times.sort()
    return times[len(times) // 2]


def measure():
    import gyrelle._native as native

    cube = native.Layout()
    block = cube.scrambled(STATES, 20, seed=1)
    assert block.typestr == "|u1" and block.shape == (STATES, 54)
    r = cube.move_index("R")
    # Two copies of the same bytes: into a fresh buffer, as next_states must, and into a buffer
    # already in memory, which is the bandwidth of the machine itself.
    fresh_copy = best(block.to_bytes, 15)
    source = block.to_bytes()
    target = memoryview(bytearray(len(source)))
    target[:] = source

    def copy_into():
        target[:] = source

    copy = best(copy_into, 15)
    gather = best(lambda: cube.next_states(block, r), 15)
    solved, solved_cores = best_with_cores(lambda: cube.solved(block), 15)
    one_hot = best(lambda: cube.one_hot(block), 7)
    small = cube.scrambled(SMALL, 20, seed=2)
    fixed = median_call(lambda: cube.next_states(small, r), 5000)
    walks, length = 100_000, 20
    traj = best(lambda: cube.trajectories(length, walks, seed=3), 5)
    scr = best(lambda: cube.scrambled(walks, length, seed=3), 5)
    return {
        "threads": native.thread_count(),
        "copy_s": copy,
        "fresh_copy_s": fresh_copy,
        "next_states_s": gather,
        "states_per_s": STATES / gather,
        "fraction_of_copy": copy / gather,
        "fraction_of_fresh_copy": fresh_copy / gather,
        "small_call_us": fixed * 1e6,
        "solved_s": solved,
        "solved_cores": solved_cores,
        "one_hot_s": one_hot,
        "trajectory_moves_per_s": walks * length / traj,
        "scramble_moves_per_s": walks * length / scr,
    }


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--measure":
        print(json.dumps(measure()))
        return
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    runs = []
    for threads in (1, 8):
        env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
        env["PYTHONPATH"] = root + os.pathsep + env.get("PYTHONPATH", "")
        out = subprocess.run([sys.executable, os.path.abspath(__file__), "--measure"], env=env,
                             capture_output=True, text=True, check=True)
        m = json.loads(out.stdout)
        runs.append(m)
        print(f"threads {m['threads']}:")
        print(f"  next_states, {STATES} cube states x 54 bytes, one move: {m['next_states_s'] * 1e3:.2f} ms, "
              f"{m['states_per_s'] / 1e6:.1f} M states/s")
        print(f"  memory copy of the same bytes: {m['copy_s'] * 1e3:.2f} ms into memory in use, "
              f"{m['fresh_copy_s'] * 1e3:.2f} ms into a new buffer")
        print(f"  next_states runs at {m['fraction_of_copy'] * 100:.0f}% of the copy bandwidth "
              f"({m['fraction_of_fresh_copy'] * 100:.0f}% of the copy into a new buffer)")
        print(f"  next_states on {SMALL} states: {m['small_call_us']:.1f} us a call")
        print(f"  solved on the same block: {m['solved_s'] * 1e3:.2f} ms ({m['solved_cores']:.1f} cores busy); "
              f"one_hot: {m['one_hot_s'] * 1e3:.1f} ms")
        print(f"  trajectories: {m['trajectory_moves_per_s'] / 1e6:.1f} M moves/s; "
              f"scrambled: {m['scramble_moves_per_s'] / 1e6:.1f} M moves/s")
    one, many = runs
    print("ratios in this run [goal]")
    for m in runs:
        print(f"  {m['threads']} threads: next_states {m['fraction_of_copy']:.2f} of the warm copy [>= 0.6]")
    print(f"  solved {one['solved_s'] / many['solved_s']:.2f}x faster on {many['threads']} threads than on 1 [>= 3] "
          f"({many['solved_cores']:.1f} cores busy on {many['threads']} threads)")


if __name__ == "__main__":
    main()

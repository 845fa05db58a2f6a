"""Layout throughput: next_states on a block of cube states against a plain copy of the same bytes,
the fixed cost of a small call, and random walks, each at 1 and 8 pool threads.

Run from the repository root after building:  python3 bench/layout_bench.py
The pool size is fixed per process by RAYON_NUM_THREADS, so each thread count runs in its own
subprocess.
"""
import json
import os
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
        "trajectory_moves_per_s": walks * length / traj,
        "scramble_moves_per_s": walks * length / scr,
    }


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--measure":
        print(json.dumps(measure()))
        return
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    for threads in (1, 8):
        env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
        env["PYTHONPATH"] = root + os.pathsep + env.get("PYTHONPATH", "")
        out = subprocess.run([sys.executable, os.path.abspath(__file__), "--measure"], env=env,
                             capture_output=True, text=True, check=True)
        m = json.loads(out.stdout)
        print(f"threads {m['threads']}:")
        print(f"  next_states, {STATES} cube states x 54 bytes, one move: {m['next_states_s'] * 1e3:.2f} ms, "
              f"{m['states_per_s'] / 1e6:.1f} M states/s")
        print(f"  memory copy of the same bytes: {m['copy_s'] * 1e3:.2f} ms into memory in use, "
              f"{m['fresh_copy_s'] * 1e3:.2f} ms into a new buffer")
        print(f"  next_states runs at {m['fraction_of_copy'] * 100:.0f}% of the copy bandwidth "
              f"({m['fraction_of_fresh_copy'] * 100:.0f}% of the copy into a new buffer)")
        print(f"  next_states on {SMALL} states: {m['small_call_us']:.1f} us a call")
        print(f"  trajectories: {m['trajectory_moves_per_s'] / 1e6:.1f} M moves/s; "
              f"scrambled: {m['scramble_moves_per_s'] / 1e6:.1f} M moves/s")


if __name__ == "__main__":
    main()

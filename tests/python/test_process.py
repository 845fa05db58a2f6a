"""Faults that would end the interpreter, each run in a child process that must exit cleanly."""
import os
import subprocess
import sys
import textwrap

import pytest

import gyrelle._native as gy
import optional

# The folder holding the package this interpreter imported: the child imports the same module.
PACKAGE_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(gy.__file__)))
SANITIZED = optional.SANITIZED


def run(code, env=None, timeout=300):
    """Runs code in a child interpreter (it inherits this one's environment, preloads included)."""
    child_env = dict(os.environ, PYTHONPATH=PACKAGE_ROOT, **(env or {}))
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          timeout=timeout, env=child_env, cwd=PACKAGE_ROOT)
    assert done.returncode == 0, f"exit {done.returncode}\n{done.stdout}\n{done.stderr}"
    return done.stdout


def test_keyword_names_that_are_not_utf8():
    out = run("""
        import gyrelle._native as gy
        p = gy.Puzzle("?shell=C$1&cut=C$1/3")
        calls = [lambda: gy.Puzzle(**{"\\udc80": 1}), lambda: gy.evaluate("1", **{"a\\ud800b": 1}),
                 lambda: p.turn(0, **{"\\udfff": 1}), lambda: gy.Layout(**{"\\udc80": 1})]
        for call in calls:
            try:
                call()
            except TypeError as e:
                print(e)
    """)
    assert out.splitlines() == [
        r"Puzzle.__new__() got an unexpected keyword argument '\udc80'",
        r"evaluate() got an unexpected keyword argument 'a\ud800b'",
        r"Puzzle.turn() got an unexpected keyword argument '\udfff'",
        r"Layout.__new__() got an unexpected keyword argument '\udc80'",
    ]


@optional.needs("numpy")
def test_array_interface_of_freed_memory():
    # The interface names the memory of an array that is gone when it is read; only bytes() of the
    # object itself may be used.
    out = run("""
        import numpy as np
        import gyrelle._native as gy

        class Gone:
            @property
            def __array_interface__(self):
                return np.arange(1 << 16, dtype=np.uint32).__array_interface__

        batch = gy.PuzzleBatch("?shell=C$1&cut=C$1/3", 2)
        cube = gy.Layout()
        calls = [lambda: batch.step(Gone()), lambda: batch.set_states(Gone()), lambda: cube.solved(Gone()),
                 lambda: cube.next_states(Gone(), 0), lambda: cube.scrambled(2, Gone())]
        for call in calls:
            try:
                call()
            except TypeError as e:
                print(e)
    """)
    assert out.splitlines() == ["cannot convert 'Gone' object to bytes"] * 4 + [
        "expected a number of moves, a (low, high) range, or one per state"]


DAEMONS = """
    import threading, time
    import gyrelle._native as gy
    CUBE = "?shell=C$1&cut=C$1/3"

    class Slow:  # its items come back only after a sleep that lets other threads run
        def __len__(self):
            return 2
        def __getitem__(self, i):
            if i >= 2:
                raise IndexError
            time.sleep(0.0005)
            return 0

    def rendering():
        p = gy.Puzzle(CUBE)
        while True:
            p.render(48, 48)

    def stepping():
        b = gy.PuzzleBatch(CUBE, 2)
        while True:
            b.step(Slow())

    for work in (rendering, rendering, stepping, stepping):
        threading.Thread(target=work, daemon=True).start()
    time.sleep(0.3)
"""


@pytest.mark.parametrize("run_index", range(3))
def test_exit_with_daemon_threads_inside_calls(run_index):
    # Threads that take the interpreter back during shutdown are ended by the host, out of calls
    # that released the interpreter and out of Python code that a call ran.
    run(DAEMONS)


def test_gmp_out_of_memory():
    # Under the address sanitizer no address-space limit can be set; its allocator refuses large
    # blocks instead.
    limited = "" if SANITIZED else """
        import resource
        with open("/proc/self/status") as f:
            size = next(int(line.split()[1]) << 10 for line in f if line.startswith("VmSize:"))
        resource.setrlimit(resource.RLIMIT_AS, (size + (40 << 20), resource.RLIM_INFINITY))
    """
    lifted = "" if SANITIZED else """
        resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
    """
    env = None
    if SANITIZED:
        env = {"ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") + ":allocator_may_return_null=1"
                               ":max_allocation_size_mb=16"}
    out = run("""
        import gyrelle._native as gy
        small = gy.evaluate("3^1000")
    """ + limited + """
        for attempt in range(2):
            try:
                gy.evaluate("3^169000000")
            except MemoryError as e:
                print("MemoryError", *e.args)
    """ + lifted + """
        print(gy.evaluate("3^1000") == small, gy.evaluate("3^2000 / 3^1000") == small)
    """, env=env)
    assert out.splitlines() == ["MemoryError", "MemoryError", "True True"]


@pytest.mark.skipif(SANITIZED, reason="no address-space limit under the address sanitizer")
def test_products_past_the_size_limit_under_an_address_space_limit():
    out = run("""
        import resource
        import gyrelle._native as gy
        # 400 MB past what the interpreter already holds (the free-threaded one reserves more).
        with open("/proc/self/status") as f:
            size = next(int(line.split()[1]) << 10 for line in f if line.startswith("VmSize:"))
        resource.setrlimit(resource.RLIMIT_AS, (size + (400 << 20), resource.RLIM_INFINITY))
        try:
            gy.evaluate("*".join(["2^268435455"] * 8))
        except MemoryError as e:
            print(e)
    """)
    assert out == "a product of 536870911 bits or more exceeds the limit of 268435456 bits of an integer\n"


@pytest.mark.skipif(SANITIZED, reason="no address-space limit under the address sanitizer")
def test_long_power_under_an_address_space_limit():
    # 3^60000001 fits in 60 MB by GMP's own power; the faster way through transforms takes more, and
    # near a limit gives way to it. Once without the limit first, so that the interpreter's own
    # reservations are made before it.
    out = run("""
        import resource
        import gyrelle._native as gy
        print(gy.evaluate("3^60000001").sign())
        with open("/proc/self/status") as f:
            size = next(int(line.split()[1]) << 10 for line in f if line.startswith("VmSize:"))
        resource.setrlimit(resource.RLIMIT_AS, (size + (70 << 20), resource.RLIM_INFINITY))
        print(gy.evaluate("3^60000001").sign())
    """)
    assert out == "1\n1\n"


VM_SIZE = """
        import resource
        def limit_address_space(headroom_mb):
            with open("/proc/self/status") as f:
                size = next(int(line.split()[1]) << 10 for line in f if line.startswith("VmSize:"))
            resource.setrlimit(resource.RLIMIT_AS, (size + (headroom_mb << 20), resource.RLIM_INFINITY))
        def lift_limit():
            resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
"""


@pytest.mark.skipif(SANITIZED, reason="the sanitizer preloads the C++ runtime, whose lazy per-thread state is the fault")
@pytest.mark.parametrize("run_index", range(2))
def test_memory_running_out_on_the_workers(run_index):
    # The first exception a worker throws needs per-thread state of the C++ runtime; made only then,
    # under the limit, it could not be allocated and the process ended.
    out = run(VM_SIZE + """
        import gyrelle._native as gy
        gy.build_many(["Megaminx"] * 8)
        limit_address_space(40)
        for call in (lambda: gy.PuzzleBatch("Helicopter Cube", 20000), lambda: gy.build_many(["Megaminx"] * 2000)):
            try:
                call()
            except MemoryError:
                print("MemoryError")
        lift_limit()
        print(len(gy.build_many(["Megaminx"] * 2)))
    """)
    assert out.split() == ["MemoryError", "MemoryError", "2"]


@pytest.mark.skipif(SANITIZED, reason="no address-space limit under the address sanitizer")
@pytest.mark.parametrize("headroom_mb", [8, 20, 60, 200])
def test_starting_the_pool_under_an_address_space_limit(headroom_mb):
    # A pool that cannot start its threads refuses, or runs on those that did start; once memory is
    # back the next call works.
    out = run(VM_SIZE + f"""
        import gyrelle._native as gy
        cubes = ["?shell=C$1&cut=C$1/3"] * 16
        limit_address_space({headroom_mb})
        try:
            print(len(gy.build_many(cubes)))
        except MemoryError:
            print("MemoryError")
        lift_limit()
        print(len(gy.build_many(cubes)))
    """)
    first, later = out.split()
    assert first in ("16", "MemoryError") and later == "16"


@optional.needs("numpy")
def test_fork_after_steps():
    # A child forked just after a step must not wait in the batch's destructor for the parent's page
    # warmer, a thread it does not have. (The child drops the batch and leaves at once, without the
    # interpreter's slow shutdown.)
    out = run("""
        import os, time
        import numpy as np
        import gyrelle._native as gy
        batch = gy.PuzzleBatch("?shell=C$1&cut=C$1/3", 1_000_000, seed=1)
        actions = np.arange(1_000_000, dtype=np.uint32) % batch.action_count
        hung = 0
        for trial in range(40):
            batch.step(actions)
            pid = os.fork()
            if pid == 0:
                del batch
                os._exit(0)
            until = time.monotonic() + 10
            while not os.waitpid(pid, os.WNOHANG)[0]:
                if time.monotonic() > until:
                    hung += 1
                    os.kill(pid, 9)
                    os.waitpid(pid, 0)
                    break
                time.sleep(0.002)
        print(hung)
    """)
    assert out == "0\n"


@optional.needs("numpy")
def test_fork_while_a_thread_steps():
    # The children of a process whose other thread is inside a parallel call get a working pool of
    # their own, and the same results as the parent.
    out = run("""
        import os, threading, time
        import numpy as np
        import gyrelle._native as gy
        CUBE = "?shell=C$1&cut=C$1/3"
        batch = gy.PuzzleBatch(CUBE, 300_000, seed=1)
        actions = np.arange(300_000, dtype=np.uint32) % batch.action_count
        stop = False
        def stepping():
            while not stop:
                for _ in range(16):
                    batch.step(actions)
                batch.reset()
        thread = threading.Thread(target=stepping)
        thread.start()

        def work():
            built = [p.sticker_count for p in gy.build_many([CUBE] * 4)]
            made = gy.PuzzleBatch(CUBE, 20_000, seed=2, scramble=3)
            solved, _ = made.step(actions[:20_000])
            return built, made.observations().to_bytes(), solved.to_bytes()

        expected = work()
        failures = 0
        for child in range(10):
            read, write = os.pipe()
            pid = os.fork()
            if pid == 0:
                try:
                    os.write(write, b"same" if work() == expected else b"different")
                finally:
                    os._exit(0)
            os.close(write)
            until = time.monotonic() + 10
            while not os.waitpid(pid, os.WNOHANG)[0]:
                if time.monotonic() > until:
                    os.kill(pid, 9)
                    os.waitpid(pid, 0)
                    break
                time.sleep(0.002)
            failures += os.read(read, 16) != b"same"
            os.close(read)
        stop = True
        thread.join()
        print(failures)
    """, env={"RAYON_NUM_THREADS": "4"})
    assert out == "0\n"


@optional.needs("numpy")
@pytest.mark.skipif(SANITIZED, reason="the sanitizer's allocator stands in for the C library's")
def test_the_host_allocator_is_left_alone():
    # Four threads of the host make NumPy arrays of 1 to 30 MB and free them all: the memory goes back
    # to the system whether the pool has started or not.
    script = """
        import sys, threading
        import numpy as np
        import gyrelle._native as gy
        if sys.argv[1] == "started":
            gy.build_many(["?shell=C$1&cut=C$1/3"] * 8)
        allocated = threading.Barrier(4)
        def churn(seed):
            kept = [np.ones(((seed * 7 + k * 11) % 30 + 1) << 17) for k in range(8)]
            allocated.wait()
            kept.clear()
        threads = [threading.Thread(target=churn, args=(s,)) for s in range(4)]
        [t.start() for t in threads]
        [t.join() for t in threads]
        with open("/proc/self/statm") as f:
            print(int(f.read().split()[1]) * 4096 >> 20)
    """
    resident = {}
    for mode in ("imported", "started"):
        child_env = dict(os.environ, PYTHONPATH=PACKAGE_ROOT)
        done = subprocess.run([sys.executable, "-c", textwrap.dedent(script), mode], capture_output=True, text=True,
                              timeout=300, env=child_env, cwd=PACKAGE_ROOT)
        assert done.returncode == 0, done.stderr
        resident[mode] = int(done.stdout)
    assert resident["started"] < resident["imported"] + 64, resident


INTERRUPT = """
        import os, signal, threading, time
        import gyrelle._native as gy

        def interrupt_after(delay):
            sent = []
            def send():
                time.sleep(delay)
                sent.append(time.perf_counter())
                os.kill(os.getpid(), signal.SIGINT)
            threading.Thread(target=send).start()
            return sent

        def late(sent):
            return time.perf_counter() - sent[0]
"""


def test_ctrl_c_stops_a_long_call():
    # The call's work is many short pieces on the pool: the stop comes between them, and the
    # exception the signal's handler raised is what the call raises.
    out = run(INTERRUPT + f"""
        cube = gy.Layout()
        before = cube.scrambled(4, 6, seed=5).to_bytes()
        sent = interrupt_after(0.3)
        try:
            cube.scrambled(1_000_000, 1000)
            print("finished")
        except KeyboardInterrupt:
            print("KeyboardInterrupt", late(sent) < {optional.seconds(0.2)})
        print(cube.scrambled(4, 6, seed=5).to_bytes() == before)

        class Stop(Exception):
            pass
        def handler(signum, frame):
            raise Stop("asked to stop")
        signal.signal(signal.SIGINT, handler)
        sent = interrupt_after(0.3)
        try:
            cube.scrambled(1_000_000, 1000)
        except Stop as e:
            print("Stop", e, late(sent) < {optional.seconds(0.2)})
    """, env={"RAYON_NUM_THREADS": "4"})
    assert out.splitlines() == ["KeyboardInterrupt True", "True", "Stop asked to stop True"]


def test_an_interrupted_batch_is_usable():
    # Copies whose walks were not started keep their state; the batch solves and steps afterwards.
    out = run(INTERRUPT + """
        batch = gy.PuzzleBatch("24-Cube / Little Chop", 96, seed=3)
        assert not batch.is_tabular
        sent = interrupt_after(0.3)
        try:
            batch.scramble(200)
            print("finished")
        except KeyboardInterrupt:
            counts = batch.move_counts
            print("KeyboardInterrupt", min(counts) == 0, max(counts) <= 200)
        batch.solve()
        print(all(batch.solved()), batch.move_counts == [0] * 96)
        batch.scramble(2)
        print(max(batch.move_counts) <= 2 and sum(batch.move_counts) > 0)
    """, env={"RAYON_NUM_THREADS": "4"})
    assert out.splitlines() == ["KeyboardInterrupt True True", "True True", "True"]

"""Eight threads on shared objects: a call that meets another thread's borrow raises only the
borrow RuntimeError, every result that does come back is one that a single thread could get, and
the objects end in a consistent state. Threads on objects of their own never meet. Meant to run
with the GIL and without it."""

import fractions
import os
import random
import re
import subprocess
import sys
import threading
import time

import pytest

import gyrelle._native as native

from borrowing import BORROW_ERRORS

Puzzle, PuzzleBatch, Layout, Image, Real = native.Puzzle, native.PuzzleBatch, native.Layout, native.Image, native.Real

CUBE = "?shell=C$1&cut=C$1/3"
THREADS = 8


class Caller:
    """Calls into shared objects from one thread. A call refused because another thread holds the
    object is counted and made again after a pause, so that every thread's calls get through."""

    def __init__(self):
        self.refused = 0

    def __call__(self, call):
        while True:
            try:
                return call()
            except RuntimeError as e:
                if str(e) not in BORROW_ERRORS:
                    raise
            self.refused += 1
            time.sleep(0.0002)


def on_threads(work, count=THREADS):
    """Runs work(i) for i < count on threads released together; returns their results or raises
    the first failure."""
    barrier = threading.Barrier(count)
    results, failures = [None] * count, []

    def run(i):
        try:
            barrier.wait()
            results[i] = work(i)
        except BaseException as e:  # noqa: B036 - handed to the test thread
            failures.append(e)

    threads = [threading.Thread(target=run, args=(i,)) for i in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    if failures:
        raise failures[0]
    return results


class TestSharedObjects:
    def test_puzzle(self):
        # Every turn is of grip A, so turns commute: the state depends only on the net number of
        # quarter turns, and whatever a read returns must be one of the four positions.
        p, alone = Puzzle(CUBE), Puzzle(CUBE)
        stickers, frames = [], []
        for _ in range(4):
            stickers.append(alone.stickers())
            frames.append(alone.render(24, 24).to_bytes())
            alone.apply("A")

        def work(i):
            rng, call = random.Random(i), Caller()
            turns = net = seen = 0
            for _ in range(150):
                op = rng.randrange(6)
                if op == 0:
                    text = rng.choice(("A", "A'"))
                    assert call(lambda: p.apply(text)) == 1
                    turns, net = turns + 1, net + (1 if text == "A" else -1)
                elif op == 1:
                    action = rng.randrange(2)
                    assert call(lambda: p.apply_action(action)) is True
                    turns, net = turns + 1, net + (1 if action == 0 else -1)
                elif op == 2:
                    assert call(lambda: p.render(24, 24).to_bytes()) in frames
                elif op == 3:
                    assert call(p.stickers) in stickers
                elif op == 4:
                    assert call(lambda: p.is_solved) in (True, False)
                else:
                    count, pieces, grips = call(lambda: (p.move_count, p.piece_count, p.grip_count))
                    assert count >= seen and (pieces, grips) == (26, 6)  # the count only grows
                    seen = count
            return turns, net, call.refused

        results = on_threads(work)
        turns, net = sum(r[0] for r in results), sum(r[1] for r in results)
        assert sum(r[2] for r in results) > 0  # the threads did meet
        assert p.move_count == p.history_length == turns
        assert p.stickers() == stickers[net % 4] and p.render(24, 24).to_bytes() == frames[net % 4]

    def test_batch(self):
        # Copy i always turns grip i % 6 forwards, so after s steps every copy is s quarter turns on.
        copies = 48
        actions = [2 * (i % 6) for i in range(copies)]
        b, alone = PuzzleBatch(CUBE, copies), PuzzleBatch(CUBE, copies)
        positions = []
        for _ in range(4):
            positions.append(alone.observations().tolist())
            alone.step(actions)

        def work(i):
            rng, call = random.Random(i), Caller()
            steps = seen = 0
            for _ in range(150):
                op = rng.randrange(5)
                if op == 0:
                    solved, applied = call(lambda: b.step(actions))
                    assert applied.tolist() == [True] * copies
                    assert solved.tolist() in ([True] * copies, [False] * copies)
                    steps += 1
                elif op == 1:
                    assert call(lambda: b.observations().tolist()) in positions
                elif op == 2:
                    counts = call(lambda: b.move_counts)
                    assert counts == [counts[0]] * copies and counts[0] >= seen
                    seen = counts[0]
                elif op == 3:
                    k = rng.randrange(copies)
                    history = call(lambda: b.history(k))
                    assert history == [actions[k]] * len(history)
                else:
                    assert call(lambda: (len(b), b.sticker_count, b.is_tabular)) == (copies, 54, True)
            return steps, call.refused

        results = on_threads(work)
        steps = sum(r[0] for r in results)
        assert sum(r[1] for r in results) > 0
        assert b.move_counts == [steps] * copies
        assert all(b.history(k) == [actions[k]] * steps for k in range(copies))
        assert b.observations().tolist() == positions[steps % 4]

    def test_layout(self):
        # Every Layout call shares the layout: none may be refused.
        cube = Layout()
        states = cube.scrambled(64, 12, seed=5)
        facelets = cube.to_facelets(states)
        nexts = [cube.next_states(states, m).tolist() for m in range(cube.move_count)]
        walks = [cube.scrambled(16, 6, seed=i).tolist() for i in range(THREADS)]
        expected = (facelets.tolist(), states.tolist(), cube.solved(facelets).tolist())

        def work(i):
            for n in range(150):
                m = (i + n) % cube.move_count
                assert cube.next_states(states, m).tolist() == nexts[m]
                assert cube.scrambled(16, 6, seed=i).tolist() == walks[i]
                got = (cube.to_facelets(states).tolist(), cube.from_facelets(facelets).tolist(),
                       cube.solved(facelets).tolist())
                assert got == expected

        on_threads(work)

    def test_numbers_of_one_field(self):
        # float(), comparisons and str() of numbers of one field all narrow the field's one
        # interval. Each round takes a fresh field, so that its wide interval is narrowed by all
        # threads at once.
        text, rounds = "sqrt(13) + cbrt(3)", 24

        def numbers(base):
            near = Real.parse("5047800845771397/1000000000000000")  # rational, within 1e-15 of base
            return [base, base * Real.from_int(3) - Real.from_int(7), Real.from_int(2) - base, near, base - near]

        alone = numbers(Real.parse(text))
        floats = [float(x) for x in alone]
        order = [[x < y for y in alone] for x in alone]
        prefixes = [str(x).split(" in Q(")[0] for x in alone]
        shared = [numbers(Real.parse(text)) for _ in range(rounds)]
        barrier = threading.Barrier(THREADS)
        interval = re.compile(r" in \[(-?\d+(?:/\d+)?),(-?\d+(?:/\d+)?)\]\)$")

        def work(i):
            for nums in shared:
                barrier.wait()
                lo, hi = fractions.Fraction(-10**9), fractions.Fraction(10**9)
                for n in range(len(nums)):
                    k = (i + n) % len(nums)
                    x = nums[k]
                    assert float(x) == floats[k]
                    assert [x < y for y in nums] == order[k]
                    s = str(x)
                    assert s.split(" in Q(")[0] == prefixes[k]
                    if k != 3:  # a number of the shared field: the interval it shows only narrows
                        a, b = map(fractions.Fraction, interval.search(s).groups())
                        assert lo <= a < b <= hi and float(a) <= floats[0] <= float(b)
                        lo, hi = a, b

        on_threads(work)

    def test_images(self):
        # Images are only ever filled and blitted whole, so each stays one colour throughout.
        colors = [(200, 0, 0, 255), (0, 200, 0, 255), (0, 0, 200, 255), (9, 9, 9, 255)]
        size = 192
        images = [Image(size, size, c) for c in colors]
        plain = {bytes(c) * (size * size) for c in colors}
        halves = {bytes(c) * (size * size // 4) for c in colors}
        pngs = {Image(size, size, c).to_png() for c in colors}

        def work(i):
            rng, call = random.Random(i), Caller()
            for _ in range(150):
                j = rng.randrange(len(images))
                im, op = images[j], rng.randrange(7)
                if op == 0:
                    with pytest.raises(RuntimeError) as e:
                        im.blit(im)  # taken exclusively, then refused as its own source
                    assert str(e.value) in BORROW_ERRORS
                elif op == 1:
                    src = images[(j + 1 + rng.randrange(len(images) - 1)) % len(images)]
                    call(lambda: im.blit(src))
                elif op == 2:
                    color = rng.choice(colors)
                    call(lambda: im.fill(color))
                elif op == 3:
                    assert call(im.to_bytes) in plain
                elif op == 4:
                    assert call(im.to_png) in pngs
                elif op == 5:
                    assert call(lambda: im.downsample(2).to_bytes()) in halves
                else:
                    assert call(lambda: im.pixel(rng.randrange(size), rng.randrange(size))) in colors
            return call.refused

        assert sum(on_threads(work)) > 0
        assert all(im.to_bytes() in plain for im in images)


class TestDistinctObjects:
    def test_threads_on_their_own_objects_never_meet(self):
        def alone(i):
            p = Puzzle(CUBE)
            p.apply("A B' C2 D E' F")
            p.turn(i % 6, repeat=3)
            p.settle()
            offsets = [float(g.offset) for g in p.grips()]
            b = PuzzleBatch(CUBE, 32, seed=i, scramble=5)
            b.step([(i + k) % 12 for k in range(32)])
            im = Image(64, 64, (i, 0, 0, 255))
            im.blit(Image(16, 16, (0, i, 0, 128)), 8, 8, mode="over")
            return (p.stickers(), p.render(32, 32).to_bytes(), p.move_count, offsets,
                    b.observations().tolist(), b.move_counts, im.to_png())

        expected = [alone(i) for i in range(THREADS)]
        for _ in range(3):
            assert on_threads(alone) == expected

    def test_first_use_from_many_threads(self):
        # The worker pool, the rationals, the polyhedron table and the PNG checksum table are made
        # on first use; threads that all need them at once get the same results as one thread.
        code = f"""
import threading
import gyrelle._native as g
def work(i):
    return (g.thread_count() > 0, g.Puzzle("Megaminx").stickers(), float(g.Real.parse("sqrt(5)/5")),
            g.Image(3, 3, (i, 1, 2, 3)).to_png(), g.PuzzleBatch("{CUBE}", 4, seed=i, scramble=2).move_counts)
barrier, results = threading.Barrier({THREADS}), [None] * {THREADS}
def run(i):
    barrier.wait()
    results[i] = work(i)
threads = [threading.Thread(target=run, args=(i,)) for i in range({THREADS})]
for t in threads: t.start()
for t in threads: t.join()
print(results == [work(i) for i in range({THREADS})])
"""
        env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
        out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120, env=env)
        assert (out.returncode, out.stdout, out.stderr) == (0, "True\n", "")

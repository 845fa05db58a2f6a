"""The bounds on the work one call may ask for: refused at once, before anything changes."""
import time

import pytest

import gyrelle._native as gy
import optional

CUBE = "?shell=C$1&cut=C$1/3"
WALK = 10000          # random moves one puzzle (or one walk) may make in a call
BULK = 1 << 30        # moves one call may make in all its puzzles or walks
TOO_MANY = BULK // WALK + 1


def walk_refusal(moves):
    return f"^a scramble of {moves} moves is more than the {WALK} one puzzle may make in a call$"


def bulk_refusal(count, what, moves):
    return f"^{count} {what} of {moves} moves come to more than the {BULK} moves one call may make$"


class TestWalkLength:
    def test_batch(self):
        b = gy.PuzzleBatch(CUBE, 3, seed=1)
        b.step([0, 1, 2])
        states, seeds = b.sticker_ids().tolist(), [b.history(i) for i in range(3)]
        refusals = [lambda: b.scramble(WALK + 1), lambda: b.scramble([0, WALK + 1, 0]),
                    lambda: b.reset(scramble=WALK + 1), lambda: b.reset_one(1, scramble=WALK + 1),
                    lambda: b.reset_where([True, False, True], scramble=WALK + 1)]
        for refused in refusals:
            with pytest.raises(ValueError, match=walk_refusal(WALK + 1)):
                refused()
        assert b.sticker_ids().tolist() == states and [b.history(i) for i in range(3)] == seeds
        with pytest.raises(ValueError, match=walk_refusal(2 ** 32 - 1)):
            gy.PuzzleBatch(CUBE, 2, scramble=2 ** 32 - 1)
        b.scramble([0, WALK, 0])
        assert b.move_counts == [1, WALK + 1, 1]

    def test_layout(self):
        cube = gy.Layout()
        for depth in (WALK + 1, (0, WALK + 1), [1, WALK + 1]):
            with pytest.raises(ValueError, match=walk_refusal(WALK + 1)):
                cube.scrambled(2, depth)
            with pytest.raises(ValueError, match=walk_refusal(WALK + 1)):
                cube.trajectories(depth, 2)
        assert cube.scrambled(2, (WALK, WALK)).shape == (2, 54)
        # A layout without moves still says so first.
        with pytest.raises(ValueError, match="nowhere to walk to"):
            gy.Layout("?").scrambled(1, WALK + 1)

    def test_the_same_bound_as_a_puzzle_and_render_many(self):
        with pytest.raises(ValueError, match=f"at most {WALK} may$"):
            gy.Puzzle(CUBE).scramble(WALK + 1)
        with pytest.raises(ValueError, match=f"more than the {WALK} that may be queued"):
            gy.render_many([CUBE], 1, 1, scramble=WALK + 1)


class TestMovesOfOneCall:
    def test_layout_walks(self):
        cube = gy.Layout()
        start = time.perf_counter()
        for depth in (WALK, (1, WALK), [WALK] * TOO_MANY):
            with pytest.raises(ValueError, match=bulk_refusal(TOO_MANY, "walks", WALK)):
                cube.scrambled(TOO_MANY, depth)
        with pytest.raises(ValueError, match=bulk_refusal(TOO_MANY, "walks", WALK)):
            cube.trajectories(WALK, TOO_MANY)
        assert time.perf_counter() - start < optional.seconds(10)

    def test_batch_scrambles_and_written_moves(self):
        b = gy.PuzzleBatch(CUBE, TOO_MANY)
        b.step([2] * TOO_MANY)
        for refused in (lambda: b.scramble(WALK), lambda: b.reset(scramble=WALK),
                        lambda: b.apply(" ".join(["A"] * WALK))):
            with pytest.raises(ValueError, match=bulk_refusal(TOO_MANY, "puzzles", WALK)):
                refused()
        assert b.move_counts[0] == 1 and b.history(TOO_MANY - 1) == [2]
        with pytest.raises(ValueError, match=bulk_refusal(TOO_MANY, "puzzles", WALK)):
            gy.PuzzleBatch(CUBE, TOO_MANY, scramble=WALK)

    def test_render_many(self):
        with pytest.raises(ValueError, match=bulk_refusal(TOO_MANY, "puzzles", WALK)):
            gy.render_many([CUBE] * TOO_MANY, 1, 1, scramble=WALK)


class TestSizes:
    def test_geometric_batch_refused_before_building_copies(self):
        start = time.perf_counter()
        with pytest.raises(MemoryError, match=r"^a batch of 1000000 puzzles would take about \d+ bytes, more than"):
            gy.PuzzleBatch("Helicopter Cube", 10 ** 6)
        assert time.perf_counter() - start < optional.seconds(5)

    def test_render_many_refuses_images_past_memory_before_drawing(self):
        start = time.perf_counter()
        with pytest.raises(MemoryError, match=r"^the images would take about 2147483648000 bytes, more than"):
            gy.render_many([CUBE] * 2000, 16384, 16384, supersample=1)
        assert time.perf_counter() - start < optional.seconds(5)
        # one frame too large on its own still names the frame
        with pytest.raises(ValueError, match="exceeds the limit of 268435456 pixels"):
            gy.render_many([CUBE] * 2000, 16385, 16384, supersample=1)

    def test_layout_without_facelets_returns_at_once(self):
        empty = gy.Layout("?")
        assert empty.scrambled(2 ** 62, 0).shape == (2 ** 62, 0)
        states, moves = empty.trajectories(0, 2 ** 20)
        assert states.shape == (2 ** 20, 1, 0) and moves.shape == (2 ** 20, 1)

    def test_expression_text_refused_on_length(self):
        limit = 1 << 22
        with pytest.raises(gy.PuzzleError, match=f"^an expression of {limit + 1} bytes is longer than the {limit} "):
            gy.evaluate("1" * (limit + 1))

    def test_products_past_the_size_of_integers(self):
        with pytest.raises(MemoryError, match="^a product of 268435457 bits or more exceeds the limit of 268435456 "):
            gy.evaluate("2^268435455*2")

    def test_powers_are_judged_by_the_estimate_the_readme_gives(self):
        # (bits of the base - 1) x exponent: 3 has 2 bits, so 3^e is refused only past e = 2^28,
        # and 3^200000000, of 3.17e8 bits, is computed.
        assert isinstance(gy.evaluate("3^200000000"), gy.Real)
        for text in ("3^268435457", "(1/2)^268435457", "(2^1048576-1)^257", "sqrt(2)^268435456"):
            with pytest.raises(RuntimeError, match="^exponent too large$"):
                gy.evaluate(text)

    def test_turns_of_one_call(self):
        p = gy.Puzzle(CUBE)
        with pytest.raises(gy.PuzzleError, match="^move 'A2' takes the text past 10000 turns$"):
            p.apply("A9999 A2")
        with pytest.raises(ValueError, match="^repeat 10001 is more than the 10000 turns one call may make$"):
            p.turn(0, 1, repeat=10001)
        assert p.move_count == 0
        with pytest.raises(ValueError, match="^polynomial coefficient bits 70001 exceeds the factoring limit of 65536$"):
            gy.evaluate("sqrt(2^70000+1)")

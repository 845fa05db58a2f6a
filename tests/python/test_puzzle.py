"""Puzzle construction, view settings and camera, turning, scrambling and history, grips and pieces,
and borrows across threads."""
import math
import re
import threading
import time

import pytest

import gyrelle._native as native

import borrowing

Puzzle, Recipe, Shape, Grip = native.Puzzle, native.Recipe, native.Shape, native.Grip

CUBE = "?shell=C$1&cut=C$1/3"


@pytest.fixture
def cube():
    return Puzzle(CUBE)


def state(p):
    """The exact orientation of every piece."""
    return [p.piece(i)["rotation"] for i in range(p.piece_count)]


def poses(p):
    """The exact orientation of every piece, without the number field's identity."""
    return [re.sub(r"0x[0-9a-f]+#", "", r) for r in state(p)]


def close(a, b):
    return all(math.isclose(x, y, abs_tol=1e-9) for x, y in zip(a, b, strict=True))


class TestConstruction:
    def test_recipe_forms_build_the_same_puzzle(self):
        forms = [Puzzle(CUBE), Puzzle("Quenly's Cube (3x3x3)"), Puzzle(Recipe.parse(CUBE)),
                 Puzzle(shell=Shape.polyhedron("C"), cuts=Shape.polyhedron("C", "1/3")),
                 Puzzle(shell="C$1", cuts=["C$1/3"]), Puzzle(CUBE, shell=None),
                 Puzzle.named("quenly's cube (3x3x3)"), Puzzle.named(CUBE),
                 Puzzle.from_recipe(Recipe.parse(CUBE)), Recipe.parse(CUBE).build()]
        for p in forms:
            assert (p.piece_count, p.grip_count, p.arrow_count, p.query) == (26, 6, 12, CUBE)
            assert repr(p) == "<Puzzle 26 pieces, 6 grips>" and p.recipe == Recipe.parse(CUBE)

    @pytest.mark.parametrize("make, error, text", [
        (lambda: Puzzle(), TypeError, "give a recipe, or a shell and its cuts"),
        (lambda: Puzzle(cuts="C$1/3"), TypeError, "give a recipe, or a shell and its cuts"),
        (lambda: Puzzle("?shell=C$1", cuts="C$0"), TypeError, "give either a recipe or a shell and cuts, not both"),
        (lambda: Puzzle(42), TypeError, "expected a recipe query string, a catalog name or a Recipe, not int"),
        (lambda: Puzzle(""), ValueError, 'no cataloged puzzle named ""'),
        (lambda: Puzzle(shell=["C$1", 3]), TypeError, "shell must hold Shapes or their text, not int"),
        (lambda: Puzzle(shell=3), TypeError, "shell must be a Shape, its text, or a sequence of either"),
        (lambda: Puzzle("?shell=C$("), native.PuzzleError, None),
        (lambda: Puzzle(CUBE, seed=-1), OverflowError, None),
        (lambda: Puzzle(42, fov="wide"), TypeError, "must be real number"),  # values before the recipe
        (lambda: Puzzle.from_recipe(CUBE), TypeError, "not an instance of 'Recipe'"),
        (lambda: Puzzle.named("Unknown"), ValueError, "cataloged puzzles are named"),
    ])
    def test_refusals(self, make, error, text):
        with pytest.raises(error) as e:
            make()
        if text:
            assert text in str(e.value)

    def test_view_keywords(self):
        p = Puzzle(CUBE, background=(1, 2, 3, 4), supersample=0, show_arrows=False, line_width=2.5, fov=30)
        assert (p.background, p.supersample, p.show_arrows, p.show_edges, p.line_width, p.fov) == (
            (1, 2, 3, 4), 1, False, True, 2.5, 30.0)
        assert Puzzle(CUBE, distance=5).camera_position == (0.0, 0.0, 5.0)
        p = Puzzle(CUBE, yaw=90)
        assert close(p.camera_position, (12, 0, 0)) and p.camera_up == (0.0, 1.0, 0.0)
        assert close(Puzzle(CUBE, pitch=90, distance=3).camera_position, (0, 3, 0))

    def test_reset_rebuilds_keeping_only_the_view(self, cube):
        fresh = Puzzle(CUBE, scramble=7)
        solved = state(cube)
        cube.seed(99)
        cube.apply("A B")
        cube.fov, cube.background = 20, (9, 9, 9, 255)
        cube.look_from(30, 20, 7)
        camera = (cube.camera_position, cube.camera_up)
        cube.reset()
        assert (cube.move_count, cube.history_length, cube.animating, state(cube)) == (0, 0, False, solved)
        assert (cube.fov, cube.background, (cube.camera_position, cube.camera_up)) == (20, (9, 9, 9, 255), camera)
        cube.scramble(7)  # the seed is forgotten
        cube.settle()
        assert cube.sticker_ids() == fresh.sticker_ids()


class TestView:
    def test_setters_convert_before_touching_the_puzzle(self, cube):
        for name, value, error, note in [
            ("supersample", -1, OverflowError, "factor"), ("background", [1, 2, 3, 4], TypeError, "color"),
            ("background", (1, 2, 3), ValueError, "color"), ("background", (1, 2, 3, 256), OverflowError, "color"),
            ("show_edges", 1, TypeError, "on"), ("fov", "wide", TypeError, "fov"), ("distance", None, TypeError, "d"),
            ("line_width", "thin", TypeError, "w"), ("camera_up", [0, 1, 0], TypeError, "p"),
        ]:
            before = getattr(cube, name)
            with pytest.raises(error) as e:
                setattr(cube, name, value)
            assert e.value.__notes__ == [f"while processing '{note}'"], name
            assert getattr(cube, name) == before
        cube.supersample = 0
        assert cube.supersample == 1

    def test_one_supersampling_bound_wherever_the_factor_is_given(self, cube):
        for give, note in [(lambda f: Puzzle(CUBE, supersample=f), "supersample"),
                           (lambda f: setattr(cube, "supersample", f), "factor"),
                           (lambda f: cube.render(4, 4, supersample=f), "supersample"),
                           (lambda f: native.render_many([CUBE], 4, 4, supersample=f), "supersample")]:
            with pytest.raises(ValueError, match="^a supersampling factor must be at most 16, got 17$") as e:
                give(17)
            assert e.value.__notes__ == [f"while processing '{note}'"]
            give(16)
        assert cube.supersample == 16

    def test_distance_and_look_from_work_about_the_origin(self, cube):
        assert cube.distance == 12.0
        cube.camera_target = (1, 0, 0)
        cube.distance = 6
        assert (cube.camera_position, cube.camera_target, cube.distance) == ((0, 0, 6), (1, 0, 0), 6)
        cube.distance = -2
        assert cube.camera_position == (0, 0, -2)
        cube.camera_position = (0, 0, 0)
        cube.distance = 5
        assert cube.camera_position == (0, 0, 0)
        cube.camera_position, cube.camera_up = (0, 0, 12), (1, 0, 0)
        cube.look_from(90, 0)
        assert close(cube.camera_position, (12, 0, 0)) and cube.camera_up == (0, 1, 0)
        cube.look_from(0, 90, 2)
        assert close(cube.camera_position, (0, 2, 0))


class TestTurning:
    def test_turn_and_undo_give_back_the_exact_state(self, cube):
        solved = state(cube)
        cube.turn(0)
        assert state(cube) != solved and (cube.move_count, cube.history_length, cube.animating) == (1, 1, True)
        assert cube.undo() is True and state(cube) == solved
        assert (cube.move_count, cube.history_length, cube.animating) == (2, 0, False)
        assert cube.undo() is False and cube.move_count == 2
        for g, d in [(0, 1), (3, -1), (5, 1), (1, 1)]:
            cube.turn(g, d)
        assert cube.restore() is True and state(cube) == solved and (cube.move_count, cube.history_length) == (10, 0)

    def test_directions_and_repeats(self, cube):
        turned = {}
        for d in (1, 0, 5, -1, -7):
            p = Puzzle(CUBE)
            p.turn(2, d)
            turned[d] = p.sticker_ids()
        assert turned[1] == turned[0] == turned[5] and turned[-1] == turned[-7] != turned[1]
        p = Puzzle(CUBE)
        p.turn_to(2, 3)
        assert p.sticker_ids() == turned[-1]
        with pytest.raises(OverflowError, match="out of range integral type conversion attempted"):
            cube.turn(0, 2 ** 31)
        cube.turn(1, 1, repeat=0)
        assert cube.move_count == 0 and not cube.animating
        cube.turn(1, repeat=3)
        assert (cube.move_count, cube.history_length, cube.animating) == (3, 3, True)
        cube.turn(1)
        assert cube.is_solved

    @pytest.mark.parametrize("name", ["Helicopter Cube", "Behemoth"])
    def test_repeats_follow_their_layer_round_a_full_turn(self, name):
        def layer(p, g):
            grip = p.grips()[g]
            return grip.axis, grip.offset

        # One turn at a time, the layer found again by its plane (the grips are renumbered as the
        # puzzle jumbles), until the turns add up to a whole turn.
        one = Puzzle(name)
        key, index, angle, states = layer(one, 0), 0, 0.0, []
        while angle < 360 - 1e-6:
            angle += min(a for a in one.stops(index) if a > 1e-9)
            one.turn(index)
            states.append(poses(one))
            index = next(g for g in range(one.grip_count) if layer(one, g) == key)
        full = len(states)
        assert one.is_solved and full > 2
        p = Puzzle(name)
        p.turn(8, 1, repeat=2)  # on the Helicopter Cube grip 8 is renumbered out of range by its turn
        p.restore()
        p.turn(0, 1, repeat=2)
        assert poses(p) == states[1] and (p.move_count, p.history_length) == (6, 2)
        assert p.restore() and p.is_solved
        # A whole turn of every layer, as one call each, leaves the puzzle solved.
        for g in range(p.grip_count):
            p.turn(g, 1, repeat=full)
            assert p.is_solved, g

    def test_failed_turn_changes_nothing(self, cube):
        cube.turn(0)
        before = (state(cube), cube.move_count, cube.history_length, cube.animating, cube.grip_count)
        with pytest.raises(ValueError, match=r"^stop index 9 out of range \(grip 0 has 4\)$"):
            cube.turn_to(0, 9)
        with pytest.raises(ValueError, match=r"^grip index 6 out of range \(have 6\)$"):
            cube.turn(6)
        with pytest.raises(TypeError) as e:
            cube.turn("0")
        assert e.value.__notes__ == ["while processing 'index'"]
        assert (state(cube), cube.move_count, cube.history_length, cube.animating, cube.grip_count) == before


class TestScrambling:
    def test_scrambles_are_reproducible(self):
        a, b = Puzzle(CUBE, scramble=20), Puzzle(CUBE, scramble=20)
        assert a.stickers() == b.stickers() != a.solved_stickers and (a.move_count, a.animating) == (20, False)
        c = Puzzle(CUBE, seed=5, scramble=20)
        d = Puzzle(CUBE, seed=5)
        d.scramble(20)
        d.settle()
        assert c.sticker_ids() == d.sticker_ids() != a.sticker_ids()

    def test_queue_plays_through_advance_or_settle(self, cube):
        cube.scramble()
        assert cube.animating and cube.move_count == 0
        cube.advance()
        assert cube.move_count == 1 and cube.animating
        cube.settle()
        assert (cube.move_count, cube.animating) == (10, False)
        cube.scramble(2)
        for _ in range(20):
            cube.advance(100)
        assert (cube.move_count, cube.animating) == (12, False)
        cube.move_random()
        assert (cube.move_count, cube.history_length, cube.animating) == (13, 13, True)

    def test_over_cap_counts_and_non_finite_steps_raise_at_once(self, cube):
        start = time.monotonic()
        with pytest.raises(ValueError, match="repeat 4294967295") as e:
            cube.turn(0, repeat=2 ** 32 - 1)
        assert e.value.__notes__ == ["while processing 'repeat'"]
        with pytest.raises(ValueError, match="4294967295") as e:
            Puzzle(CUBE, scramble=2 ** 32 - 1)
        assert e.value.__notes__ == ["while processing 'scramble'"]
        cube.scramble(9000)
        with pytest.raises(ValueError):
            cube.scramble(1001)
        assert cube.move_count == 0
        cube.reset()
        cube.turn(0)
        for bad in (float("nan"), float("inf"), -float("inf")):
            with pytest.raises(ValueError, match="finite"):
                cube.advance(bad)
            with pytest.raises(ValueError, match="finite"):
                cube.frame(bad, 8, 8)
        assert time.monotonic() - start < 5
        assert cube.animating and cube.move_count == 1
        cube.advance(300)
        cube.advance()
        assert not cube.animating


class TestGripsAndPieces:
    def test_grip_snapshots(self, cube):
        snaps = cube.grips()
        assert [g.index for g in snaps] == list(range(cube.grip_count))
        for i, g in enumerate(snaps):
            assert isinstance(g, Grip) and g.plane == cube.grip(i) and math.isclose(math.hypot(*g.axis), 1.0)
            assert (g.piece_count, g.other_count) == (9, 17) and math.isclose(g.offset, 1 / 6)
        first = snaps[0]
        kept = (first.plane, first.axis, first.offset, repr(first))
        cube.turn(1)
        assert (first.plane, first.axis, first.offset, repr(first)) == kept
        g = Puzzle("?shell=C$1&cut=0,0,1$-1/3").grips()[0]
        assert repr(g) == f"<Grip 0 axis=(0.000, 0.000, 1.000) offset={g.offset:.3f} pieces={g.piece_count}>"
        with pytest.raises(TypeError):
            Grip()

    def test_index_checks_and_stops(self, cube):
        with pytest.raises(IndexError, match="^grip index out of range$"):
            cube.grip(cube.grip_count)
        with pytest.raises(ValueError, match="^grip index 6 out of range"):
            cube.stops(cube.grip_count)
        with pytest.raises(IndexError, match="^piece index out of range$"):
            cube.piece(cube.piece_count)
        assert close(cube.stops(0), [0, 90, 180, 270])
        assert close(Puzzle("Megaminx").stops(0), [0, 72, 144, 216, 288])

    def test_stops_match_planes_by_direction_whatever_the_normals_length(self):
        # Three plane cuts whose normals differ in length: equal dot products and offsets are not
        # equal angles, so no rotation but the identity fits.
        q = "?shell=C$1&cut=-3,-3,1$-9/20&cut=-5,0,4$-9/20&cut=0,-2,2$9/20"
        p = Puzzle(q)
        assert [p.stops(i) for i in range(p.grip_count)] == [[0.0]] * p.grip_count == [[0.0]] * 3
        assert native.jumbles(q) is False and native.PuzzleBatch(q, 2).action_count == 6
        # Planes through the axis: (0, 1, 0) and (0, 1, 1) are 45 degrees apart, a rotation with
        # irrational coefficients, so it is no stop over the rationals; written with sqrt(2) the
        # same planes give the eighth turns, and 2·(1, 0, 0) is the same plane as (1, 0, 0).
        p = Puzzle("?shell=C$1&cut=2,0,0$0&cut=0,1,0$0&cut=0,1,1$0")
        assert [close(p.stops(i), [0, 180]) for i in range(p.grip_count)] == [True] * p.grip_count
        p = Puzzle("?shell=C$1&cut=2,0,0$0&cut=0,1,0$0&cut=0,sqrt(2),sqrt(2)$0")
        assert close(p.stops(0), [0, 45, 135, 180, 225, 315]) and close(p.stops(1), [0, 45, 135, 180, 225, 315])
        fresh = [p.piece(i)["vertices"] for i in range(p.piece_count)]
        p.turn_to(0, 1)  # an eighth turn, exactly
        p.undo()
        assert [p.piece(i)["vertices"] for i in range(p.piece_count)] == fresh

    def test_piece_description(self, cube):
        d = cube.piece(0)
        assert list(d) == ["vertices", "faces", "rotation"]
        for f in d["faces"]:
            assert list(f) == ["vertices", "color", "interior"] and all(0 <= i < len(d["vertices"]) for i in f["vertices"])
        assert any(f["interior"] for f in d["faces"]) and not all(f["interior"] for f in d["faces"])
        fresh = Puzzle(CUBE)
        cube.turn(0)  # turning changes rotations only
        assert all(cube.piece(i)["vertices"] == fresh.piece(i)["vertices"] for i in range(26))
        assert sum(cube.piece(i)["rotation"] != fresh.piece(i)["rotation"] for i in range(26)) == 9


class TestThreads:
    run_while = staticmethod(borrowing.run_while)

    def test_one_puzzle_refuses_a_second_caller_at_once(self, cube):
        work = lambda gate: cube.turn(0, repeat=gate)
        assert self.run_while(work, lambda: cube.move_count, 500) == ["Already mutably borrowed"]
        assert self.run_while(work, lambda: cube.turn(1), 500) == ["Already borrowed"]
        assert self.run_while(work, lambda: setattr(cube, "fov", 1.0), 500) == ["Already borrowed"]
        assert cube.fov == 15.0
        assert self.run_while(work, lambda: cube.render(8, 8), 500) == ["Already borrowed"]
        assert self.run_while(lambda gate: cube.render(512, gate, supersample=4), lambda: cube.fov, 512) == [
            "Already mutably borrowed"]
        assert cube.move_count == 2000
        cube.turn(1)  # free again

    def test_two_puzzles_run_together(self):
        a, b = Puzzle(CUBE), Puzzle(CUBE)
        running, overlapped = threading.Event(), []

        def work():
            running.set()
            a.turn(0, repeat=10000)

        t = threading.Thread(target=work)
        t.start()
        running.wait()
        while t.is_alive():
            b.turn(1)
            overlapped.append(t.is_alive())
        t.join()
        assert a.move_count == 10000 and any(overlapped)

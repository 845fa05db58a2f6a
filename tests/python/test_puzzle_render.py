"""Rendering a Puzzle with overrides that do not stick, frames, the camera orbit, the pointer, and
render_many."""
import math
import threading
import time

import pytest

import gyrelle._native as native

Puzzle = native.Puzzle

CUBE = "?shell=C$1&cut=C$1/3"
WHITE = (255, 255, 255, 255)


def view(p):
    return (p.background, p.supersample, p.show_arrows, p.show_edges, p.show_pieces, p.line_width, p.fov,
            p.camera_position, p.camera_target, p.camera_up)


def arrow_points(p, steps=40):
    """One pointer position over each arrow that can be picked, by arrow index."""
    found = {}
    for i in range(steps + 1):
        for j in range(steps + 1):
            x, y = -1 + 2 * i / steps, -1 + 2 * j / steps
            a = p.arrow_at(x, y)
            if a is not None:
                found.setdefault(a, (x, y))
    return found


@pytest.fixture
def cube():
    return Puzzle(CUBE)


class TestRender:
    def test_overrides_do_not_stick(self, cube):
        before = view(cube)
        plain = cube.render(64, 48).to_bytes()
        assert (cube.render(64, 48).width, cube.render(64, 48).height) == (64, 48)
        assert cube.render(64, 48, supersample=None, show_edges=None).to_bytes() == plain
        side = cube.render(64, 48, yaw=90, pitch=10, distance=20, fov=20, background=(1, 2, 3, 255),
                           supersample=1, show_arrows=False, show_edges=False, show_pieces=True, line_width=3)
        assert side.to_bytes() != plain
        assert view(cube) == before
        assert cube.render(64, 48).to_bytes() == plain

    def test_override_equals_the_same_setting_made_to_stick(self, cube):
        drawn = cube.render(40, 40, yaw=30, pitch=-20, background=(9, 9, 9, 255), supersample=3)
        cube.look_from(30, -20)
        cube.background, cube.supersample = (9, 9, 9, 255), 3
        assert cube.render(40, 40).to_bytes() == drawn.to_bytes()

    def test_nothing_shown_is_background(self, cube):
        im = cube.render(16, 16, background=(10, 20, 30, 40), show_arrows=False, show_edges=False,
                         show_pieces=False)
        assert im.to_bytes() == bytes((10, 20, 30, 40)) * 256

    def test_sizes(self, cube):
        assert cube.render(0, 10).to_bytes() == b""
        with pytest.raises(ValueError):
            cube.render(100000, 100000)
        with pytest.raises(OverflowError) as e:
            cube.render(-1)
        assert e.value.__notes__ == ["while processing 'width'"]
        with pytest.raises(TypeError):
            cube.render(8, 8, 1)  # the view keywords are keyword only
        assert cube.render(8, 8).width == 8

    def test_frame_plays_the_turn(self, cube):
        cube.turn(0)
        still = cube.render(48, 48, show_arrows=False).to_bytes()
        cube.show_arrows = False
        first = cube.frame(0, 48, 48).to_bytes()
        halfway = cube.frame(125, 48, 48).to_bytes()
        assert first != halfway
        cube.frame(200, 48, 48)
        assert not cube.animating
        assert cube.frame(16, 48, 48).to_bytes() != first
        assert cube.render(48, 48).to_bytes() != still
        assert cube.frame().width == 512


class TestOrbit:
    def test_orbit_turns_about_up_and_keeps_distance(self, cube):
        cube.orbit(0.1, 0)
        x, y, z = cube.camera_position  # a drag to the right turns the eye about -up
        assert math.isclose(math.atan2(-x, z), 0.3) and abs(y) < 1e-12
        assert math.isclose(cube.distance, 12) and cube.camera_target == (0, 0, 0)
        cube.advance()  # the drag eases out: a fifth less each step
        x, _, z = cube.camera_position
        assert math.isclose(math.atan2(-x, z), 0.3 + 0.24)

    def test_non_finite_drags_are_refused(self, cube):
        for bad in (float("nan"), float("inf")):
            with pytest.raises(ValueError, match="finite"):
                cube.orbit(bad, 0)
            with pytest.raises(ValueError, match="finite") as e:
                cube.pointer_down(0.9, bad)
            assert e.value.__notes__ == ["while processing 'y'"]
        cube.advance()
        assert cube.camera_position == (0, 0, 12)

    def test_drag_with_the_pointer(self, cube):
        assert cube.pointer_down(0.95, 0.95) is False  # empty space: a camera drag
        cube.pointer_move(0.75, 0.95)
        cube.advance()
        assert cube.camera_position != (0, 0, 12) and math.isclose(cube.distance, 12)
        assert cube.pointer_up(0.75, 0.95) is None


class TestPointer:
    def test_press_and_release_on_an_arrow_turns_its_grip(self, cube):
        points = arrow_points(cube)
        a, (x, y) = sorted(points.items())[0]
        assert cube.pointer_down(x, y) is True and cube.hovered_arrow == a
        assert cube.pointer_up(x, y) == (a // 2, 1 if a % 2 else -1)
        assert (cube.move_count, cube.hovered_arrow) == (1, None)
        turned = cube.sticker_ids()
        reference = Puzzle(CUBE)
        reference.turn(a // 2, 1 if a % 2 else -1)
        assert reference.sticker_ids() == turned

    def test_releases_that_turn_nothing(self, cube):
        points = arrow_points(cube)
        (a, pa), (b, pb) = sorted(points.items())[:2]
        assert cube.pointer_up(*pa) is None  # nothing pressed
        cube.pointer_down(*pa)
        assert cube.pointer_up(*pb) is None  # another arrow
        cube.pointer_down(*pa)
        assert cube.pointer_up(0.99, 0.99) is None  # empty space
        assert cube.move_count == 0

    def test_release_after_a_turn_does_not_turn_another_layer(self, cube):
        points = arrow_points(cube)
        a, p = sorted(points.items())[0]
        cube.pointer_down(*p)
        cube.turn(5)  # the arrows are derived again: index a may name another layer now
        assert cube.pointer_up(*p) is None
        assert cube.move_count == 1

    def test_hover(self, cube):
        points = arrow_points(cube)
        a, p = sorted(points.items())[0]
        assert cube.arrow_at(*p) == a and cube.hovered_arrow is None  # arrow_at changes nothing
        cube.pointer_move(*p)
        assert cube.hovered_arrow == a
        cube.pointer_down(*p)
        cube.clear_hover()
        assert cube.hovered_arrow is None
        assert cube.pointer_up(*p) is not None  # the press survives clearing the hover

    def test_hidden_arrows_cannot_be_picked(self):
        p = Puzzle(CUBE, show_arrows=False)
        assert arrow_points(p, 20) == {}
        assert p.pointer_down(0, -0.8) is False and p.pointer_up(0, -0.8) is None

    def test_borrows(self, cube):
        with pytest.raises(TypeError) as e:
            cube.pointer_down("x", 0)
        assert e.value.__notes__ == ["while processing 'x'"]
        assert cube.pointer_down(0.9, 0.9) is False


class TestRenderMany:
    def test_entries_in_order_match_single_renders(self):
        entries = [CUBE, "Megaminx", native.Recipe.parse("?shell=C$1&cut=C$0")]
        images = native.render_many(entries, 40, 30)
        assert [(im.width, im.height) for im in images] == [(40, 30)] * 3
        for entry, im in zip(entries, images):
            p = Puzzle(entry, background=WHITE, show_arrows=False)
            assert p.render(40, 30).to_bytes() == im.to_bytes()
        assert native.render_many([]) == []

    def test_camera_placement(self):
        for kwargs, puzzle_kwargs in [({"distance": 20}, {"distance": 20}),
                                      ({"yaw": 90}, {"yaw": 90}),
                                      ({"yaw": 10, "pitch": 20, "distance": 9}, {"yaw": 10, "pitch": 20, "distance": 9}),
                                      ({"supersample": 0, "show_edges": False, "show_arrows": True,
                                        "background": (0, 0, 0, 255)},
                                       {"supersample": 1, "show_edges": False, "background": (0, 0, 0, 255)})]:
            (im,) = native.render_many([CUBE], 32, 32, **kwargs)
            p = Puzzle(CUBE, **{"background": WHITE, "show_arrows": "show_arrows" in kwargs, **puzzle_kwargs})
            assert p.render(32, 32).to_bytes() == im.to_bytes(), kwargs

    def test_scrambles_follow_seed_plus_index(self):
        plain = [im.to_bytes() for im in native.render_many([CUBE] * 2, 24, 24)]
        assert [im.to_bytes() for im in native.render_many([CUBE] * 2, 24, 24, seed=5)] == plain
        batch = [im.to_bytes() for im in native.render_many([CUBE] * 4, 24, 24, scramble=5, seed=7)]
        (single,) = native.render_many([CUBE], 24, 24, scramble=5, seed=10)
        assert batch[3] == single.to_bytes()
        p = Puzzle(CUBE, seed=10, scramble=5, background=WHITE, show_arrows=False)
        assert p.render(24, 24).to_bytes() == batch[3]
        unseeded = [im.to_bytes() for im in native.render_many([CUBE] * 3, 24, 24, scramble=5)]
        assert len(set(unseeded)) == 3

    def test_refusals(self):
        with pytest.raises(TypeError) as e:
            native.render_many([CUBE], background=None)
        assert e.value.__notes__ == ["while processing 'background'"]
        with pytest.raises(TypeError, match="^Can't extract `str` to `Vec`$"):
            native.render_many(CUBE)
        with pytest.raises(TypeError):
            native.render_many([CUBE], 8, 8, 2)
        start = time.monotonic()
        with pytest.raises(ValueError):
            native.render_many([CUBE], 8, 8, scramble=2 ** 32 - 1)
        assert time.monotonic() - start < 1
        with pytest.raises(native.PuzzleError) as e:
            native.render_many([CUBE, "?shell=C$(", "?shell=Q$1"], 8, 8)
        assert str(e.value).startswith("?shell=C$(: ")
        with pytest.raises(ValueError) as e:
            native.render_many([CUBE], 100000, 100000)
        assert str(e.value).startswith(CUBE + ": ")

    def test_signature(self):
        assert native.render_many.__text_signature__ == (
            "(recipes, width=512, height=512, *, background=..., supersample=2, show_arrows=False, "
            "show_edges=True, scramble=0, seed=None, distance=None, yaw=0.0, pitch=0.0)")
        assert native.render_many.__doc__.startswith("Build, optionally scramble, and render several puzzles")


class TestThreads:
    def test_rendering_two_puzzles_at_once(self):
        a, b = Puzzle("Megaminx"), Puzzle("Megaminx")
        done, overlapped = threading.Event(), []

        def work():
            for _ in range(20):
                a.render(256, 256)
            done.set()

        t = threading.Thread(target=work)
        t.start()
        while not done.is_set():
            b.render(64, 64)
            overlapped.append(not done.is_set())
        t.join()
        assert any(overlapped)

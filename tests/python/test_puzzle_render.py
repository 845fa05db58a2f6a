"""Rendering a Puzzle with overrides that do not stick, frames, the camera orbit, the pointer, and
render_many."""
import math
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
    """One pointer position over each arrow that can be picked, in arrow order."""
    found = {}
    for i in range(steps + 1):
        for j in range(steps + 1):
            x, y = -1 + 2 * i / steps, -1 + 2 * j / steps
            found.setdefault(p.arrow_at(x, y), (x, y))
    found.pop(None, None)
    return sorted(found.items())


@pytest.fixture
def cube():
    return Puzzle(CUBE)


class TestRender:
    def test_overrides_do_not_stick(self, cube):
        before = view(cube)
        plain = cube.render(64, 48).to_bytes()
        assert cube.render(64, 48, supersample=None, show_edges=None).to_bytes() == plain
        side = cube.render(64, 48, yaw=90, pitch=10, distance=20, fov=20, background=(1, 2, 3, 255), supersample=1,
                           show_arrows=False, show_edges=False, line_width=3)
        assert side.to_bytes() != plain and view(cube) == before
        assert cube.render(64, 48).to_bytes() == plain
        drawn = cube.render(40, 40, yaw=30, pitch=-20, background=(9, 9, 9, 255), supersample=3)
        cube.look_from(30, -20)
        cube.background, cube.supersample = (9, 9, 9, 255), 3
        assert cube.render(40, 40).to_bytes() == drawn.to_bytes()

    def test_sizes_and_empty_scenes(self, cube):
        im = cube.render(16, 16, background=(10, 20, 30, 40), show_arrows=False, show_edges=False, show_pieces=False)
        assert im.to_bytes() == bytes((10, 20, 30, 40)) * 256
        assert cube.render(0, 10).to_bytes() == b""
        with pytest.raises(ValueError):
            cube.render(100000, 100000)
        with pytest.raises(TypeError):
            cube.render(8, 8, 1)  # the view keywords are keyword only
        assert cube.render(8, 8).width == 8

    def test_frame_plays_the_turn(self, cube):
        cube.show_arrows = False
        still = cube.render(48, 48).to_bytes()
        cube.turn(0)
        first = cube.frame(0, 48, 48).to_bytes()
        assert first == still and cube.frame(125, 48, 48).to_bytes() != first
        cube.frame(200, 48, 48)
        assert not cube.animating and cube.frame(16, 48, 48).to_bytes() == cube.render(48, 48).to_bytes() != still


class TestOrbitAndPointer:
    def test_orbit_turns_about_up_and_eases_out(self, cube):
        cube.orbit(0.1, 0)
        x, y, z = cube.camera_position  # a drag to the right turns the eye about -up
        assert math.isclose(math.atan2(-x, z), 0.3) and abs(y) < 1e-12 and math.isclose(cube.distance, 12)
        cube.advance()
        x, _, z = cube.camera_position
        assert math.isclose(math.atan2(-x, z), 0.3 + 0.24)

    def test_non_finite_coordinates_are_refused(self, cube):
        for bad in (float("nan"), float("inf")):
            with pytest.raises(ValueError, match="finite"):
                cube.orbit(bad, 0)
            with pytest.raises(ValueError, match="finite") as e:
                cube.pointer_down(0.9, bad)
            assert e.value.__notes__ == ["while processing 'y'"]
        cube.advance()
        assert cube.camera_position == (0, 0, 12)
        assert cube.pointer_down(0.95, 0.95) is False  # empty space: a camera drag
        cube.pointer_move(0.75, 0.95)
        cube.advance()
        assert cube.camera_position != (0, 0, 12) and math.isclose(cube.distance, 12)

    def test_camera_values_that_cannot_be_drawn_are_refused_before_anything_changes(self, cube):
        nan, inf = float("nan"), float("inf")
        batch = native.PuzzleBatch(CUBE, 2)
        settings = lambda: (view(cube), batch.camera)  # noqa: E731
        before = settings()
        refusals = [
            ("yaw", lambda: cube.look_from(nan, 0)),
            ("distance", lambda: cube.look_from(0, 0, inf)),
            ("fov", lambda: setattr(cube, "fov", -inf)),
            ("distance", lambda: setattr(cube, "distance", nan)),
            ("camera_position", lambda: setattr(cube, "camera_position", (nan, 0, 1))),
            ("camera_target", lambda: setattr(cube, "camera_target", (0, inf, 0))),
            ("camera_up", lambda: setattr(cube, "camera_up", (0, 1, nan))),
            ("pitch", lambda: cube.render(8, 8, pitch=nan)),
            ("fov", lambda: cube.render(8, 8, fov=inf)),
            ("yaw", lambda: Puzzle(CUBE, yaw=nan)),
            ("distance", lambda: Puzzle(CUBE, distance=-inf)),
            ("fov", lambda: native.PuzzleBatch(CUBE, 2, fov=nan)),
            ("pitch", lambda: native.PuzzleBatch(CUBE, 2, pitch=inf)),
            ("distance", lambda: batch.configure(distance=nan)),
            ("camera_up", lambda: batch.configure(yaw=10, camera_up=(inf, 1, 0))),
            ("yaw", lambda: native.render_many([CUBE], 8, 8, yaw=nan)),
            ("distance", lambda: native.render_many([CUBE], 8, 8, distance=inf)),
        ]
        for name, call in refusals:
            with pytest.raises(ValueError, match=f"^{name} must be finite, got "):
                call()
        assert settings() == before
        # Finite values whose camera would not be: a distance that overflows the eye, and angles
        # about an eye too far away to measure.
        cube.camera_position = batch_position = (1e-160, 0, 0)
        batch.configure(camera_position=batch_position)
        before = settings()
        for call in (lambda: setattr(cube, "distance", 1e300), lambda: cube.render(8, 8, distance=1e300),
                     lambda: batch.configure(distance=1e300)):
            with pytest.raises(ValueError, match="^distance 1e\\+300 would move the camera out of the range of floats$"):
                call()
        assert settings() == before
        batch.configure(distance=1e300, camera_position=(1, 2, 3))  # the position given wins
        assert batch.camera[0] == (1, 2, 3)
        cube.camera_position = (0, 0, 12)
        cube.distance = 1e308
        with pytest.raises(ValueError, match=r"^look_from\(0, 0\) would move the camera"):
            cube.look_from(0, 0)
        cube.look_from(0, 0, 12)
        assert cube.camera_position == (0, 0, 12)

    def test_huge_drags_leave_the_camera_finite(self, cube):
        def finite():
            return all(math.isfinite(v) for v in cube.camera_position + cube.camera_up + cube.camera_target)

        cube.orbit(1e200, 0)
        assert finite() and math.isclose(cube.distance, 12)
        cube.pointer_down(0, 0)
        cube.pointer_move(1e300, -1e155)
        for _ in range(200):
            cube.advance()
            assert finite() and math.isclose(cube.distance, 12)
        cube.pointer_up(0, 0)
        cube.look_from(0, 0)
        cube.orbit(0.1, 0)
        assert math.isclose(math.atan2(-cube.camera_position[0], cube.camera_position[2]), 0.3)

    def test_press_and_release_on_an_arrow_turns_its_grip(self, cube):
        a, (x, y) = arrow_points(cube)[0]
        assert cube.arrow_at(x, y) == a and cube.hovered_arrow is None
        assert cube.pointer_down(x, y) is True and cube.hovered_arrow == a
        cube.clear_hover()  # the press survives clearing the hover
        assert cube.pointer_up(x, y) == (a // 2, 1 if a % 2 else -1)
        assert (cube.move_count, cube.hovered_arrow) == (1, None)
        reference = Puzzle(CUBE)
        reference.turn(a // 2, 1 if a % 2 else -1)
        assert reference.sticker_ids() == cube.sticker_ids()

    def test_releases_that_turn_nothing(self, cube):
        (a, pa), (b, pb) = arrow_points(cube)[:2]
        assert cube.pointer_up(*pa) is None  # nothing pressed
        cube.pointer_down(*pa)
        assert cube.pointer_up(*pb) is None  # another arrow
        cube.pointer_down(*pa)
        assert cube.pointer_up(0.99, 0.99) is None  # empty space
        cube.pointer_down(*pa)
        cube.turn(5)  # the arrows are derived again: index a may name another layer now
        assert cube.pointer_up(*pa) is None and cube.move_count == 1
        hidden = Puzzle(CUBE, show_arrows=False)
        assert arrow_points(hidden, 20) == [] and hidden.pointer_down(*pa) is False


class TestPickingMatchesTheFrame:
    @staticmethod
    def pixels(image):
        return [image.to_bytes()[i:i + 4] for i in range(0, len(image.to_bytes()), 4)]

    @pytest.mark.parametrize("width, height", [(72, 72), (96, 48), (48, 96)])
    def test_a_pixel_picks_the_arrow_drawn_there(self, width, height):
        # Outlines off and one sample a pixel, on white: a pixel shows an arrow exactly when the frame
        # with arrows differs from the one without.
        p = Puzzle("Megaminx", supersample=1, show_edges=False, background=WHITE)
        plain = self.pixels(p.render(width, height, show_arrows=False))
        shown = self.pixels(p.frame(0, width, height))  # the last frame drawn gives the pointer its shape
        centres = [((i + 0.5) / width * 2 - 1, 1 - (j + 0.5) / height * 2) for j in range(height) for i in range(width)]
        picks = [p.arrow_at(x, y) for x, y in centres]
        assert [a is not None for a in picks] == [s != t for s, t in zip(shown, plain)]
        # Hovering an arrow redraws it highlighted wherever it is the one picked.
        for a in set(picks) - {None}:
            p.pointer_move(*centres[picks.index(a)])
            lit = self.pixels(p.render(width, height))
            assert all(lit[k] != shown[k] for k, b in enumerate(picks) if b == a), a
        assert p.render(0, height).width == 0  # a frame without pixels keeps the shape
        assert [p.arrow_at(x, y) for x, y in centres] == picks

    def test_press_on_a_sticker_drags_the_camera(self):
        p = Puzzle("Megaminx")
        assert p.pointer_down(-0.445, 0.015) is False  # a sticker in front of a hidden arrow
        p.pointer_move(-0.3, 0.015)
        assert p.pointer_up(-0.3, 0.015) is None and p.move_count == 0
        p.advance()
        assert p.camera_position != (0, 0, 12) and math.isclose(p.distance, 12)
        # Until a frame is drawn the pointer picks through a square view.
        square, wide = Puzzle(CUBE), Puzzle(CUBE)
        wide.render(200, 100)
        points = [(x / 10, y / 10) for x in range(-10, 11) for y in range(-10, 11)]
        assert [square.arrow_at(*q) for q in points] != [wide.arrow_at(*q) for q in points]
        wide.render(30, 30, yaw=40)
        assert [square.arrow_at(*q) for q in points] == [wide.arrow_at(*q) for q in points]


class TestRenderMany:
    def test_entries_match_single_renders(self):
        entries = [CUBE, "Megaminx", native.Recipe.parse("?shell=C$1&cut=C$0")]
        for entry, im in zip(entries, native.render_many(entries, 40, 30), strict=True):
            assert im.to_bytes() == Puzzle(entry, background=WHITE, show_arrows=False).render(40, 30).to_bytes()
        assert native.render_many([]) == []
        for kwargs, same in [({"distance": 20}, {"distance": 20}), ({"yaw": 90}, {"yaw": 90}),
                             ({"yaw": 10, "pitch": 20, "distance": 9}, {"yaw": 10, "pitch": 20, "distance": 9}),
                             ({"supersample": 0, "show_edges": False, "show_arrows": True},
                              {"supersample": 1, "show_edges": False, "show_arrows": True})]:
            (im,) = native.render_many([CUBE], 32, 32, **kwargs)
            p = Puzzle(CUBE, **{"background": WHITE, "show_arrows": False, **same})
            assert p.render(32, 32).to_bytes() == im.to_bytes(), kwargs

    def test_scrambles_follow_seed_plus_index(self):
        plain = [im.to_bytes() for im in native.render_many([CUBE] * 2, 24, 24)]
        assert [im.to_bytes() for im in native.render_many([CUBE] * 2, 24, 24, seed=5)] == plain
        batch = [im.to_bytes() for im in native.render_many([CUBE] * 4, 24, 24, scramble=5, seed=7)]
        assert batch[3] == native.render_many([CUBE], 24, 24, scramble=5, seed=10)[0].to_bytes()
        assert batch[3] == Puzzle(CUBE, seed=10, scramble=5, background=WHITE, show_arrows=False).render(24, 24).to_bytes()
        assert len({im.to_bytes() for im in native.render_many([CUBE] * 3, 24, 24, scramble=5)}) == 3

    def test_refusals(self):
        with pytest.raises(TypeError) as e:
            native.render_many([CUBE], background=None)
        assert e.value.__notes__ == ["while processing 'background'"]
        with pytest.raises(TypeError, match="^Can't extract `str` to `Vec`$"):
            native.render_many(CUBE)
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
        assert native.render_many.__text_signature__.startswith("(recipes, width=512, height=512, *, background=...")

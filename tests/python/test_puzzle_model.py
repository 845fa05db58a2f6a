"""The sticker model of a Puzzle (stickers, palette, actions, masks, permutations), move texts,
build_many and jumbles."""
import pytest

import gyrelle._native as native

Puzzle = native.Puzzle

CUBE = "?shell=C$1&cut=C$1/3"
JUMBLING = "?shell=T$sqrt(2)&cut=C$0"
# A cube cut by one plane only: one grip, two actions.
SLICED = "?shell=C$1&cut=0,0,1$-1/3"


@pytest.fixture
def cube():
    return Puzzle(CUBE)


def rotations(p):
    return [p.piece(i)["rotation"] for i in range(p.piece_count)]


def composed(perm, ids):
    """The sticker ids after a move whose gather row is perm."""
    return [ids[j] for j in perm]


class TestModel:
    def test_fresh_puzzle_reads_solved(self, cube):
        n = cube.sticker_count
        assert n == 54 and cube.color_count == 6 == len(cube.palette)
        assert cube.sticker_ids() == list(range(n))
        assert cube.stickers() == cube.solved_stickers
        assert cube.is_solved is True
        assert len(cube.sticker_positions()) == n
        assert all(0 <= c <= 0xFFFFFF for c in cube.palette)
        assert sorted(set(cube.solved_stickers)) == list(range(6))
        atoms = cube.ground_atoms()
        assert atoms[0] == ("color", "s0", f"c{cube.stickers()[0]}")
        assert atoms[53] == ("color", "s53", f"c{cube.stickers()[53]}")

    def test_names_and_indices(self, cube):
        names = cube.grip_names
        assert len(cube.actions) == cube.action_count == 2 * len(names) == 12
        assert cube.actions[:2] == [names[0], names[0] + "'"]
        for a, name in enumerate(cube.actions):
            assert cube.action_index(name) == a
        assert cube.action_index(names[0] + "''") is None
        assert cube.action_index("") is None and cube.action_index("Z") is None
        for g in range(len(names)):
            assert cube.action_grip(2 * g) == cube.action_grip(2 * g + 1) is not None
        assert cube.action_grip(cube.action_count) is None

    def test_turns_read_back_as_permutations(self, cube):
        np = pytest.importorskip("numpy")
        table = cube.action_permutations()
        assert table.shape == (12, 54) and table.__array_interface__["typestr"] == "|u1"
        rows = np.asarray(table).tolist()
        ids = cube.sticker_ids()
        for a in (0, 5, 11):
            assert cube.apply_action(a) is True
            ids = composed(rows[a], ids)
            assert cube.sticker_ids() == ids
        assert cube.is_solved is False
        assert not cube.animating and cube.history_length == 3
        assert cube.restore() and cube.is_solved

    def test_permutations_do_not_depend_on_the_state(self, cube):
        np = pytest.importorskip("numpy")
        solved = np.asarray(cube.action_permutations()).tolist()
        scrambled = Puzzle(CUBE)
        scrambled.apply("A B' C2 D")
        ids, moves, history = scrambled.sticker_ids(), scrambled.move_count, scrambled.history_length
        assert np.asarray(scrambled.action_permutations()).tolist() == solved
        assert scrambled.sticker_ids() == ids and scrambled.history_length == history
        assert scrambled.move_count == moves + 2 * 12

    def test_locked_layers(self):
        p = Puzzle("Radiolarian 3")
        assert p.action_mask() == [True] * p.action_count == [True] * 40
        assert p.apply_action(0) is True
        mask = p.action_mask()
        locked = mask.index(False)
        assert mask[locked ^ 1] is False and p.action_grip(locked) is None
        before = (rotations(p), p.move_count, p.history_length)
        assert p.apply_action(locked) is False
        name = p.actions[locked]
        with pytest.raises(native.PuzzleError, match=f"^move '{name}' cannot be made: that layer is locked$"):
            p.apply(name)
        assert (rotations(p), p.move_count, p.history_length) == before
        assert p.action_permutations() is None
        assert rotations(p) == before[0] and p.history_length == before[2]
        with pytest.raises(ValueError, match=r"^action 40 out of range \(have 40\)$"):
            p.apply_action(40)

    def test_jumbling_puzzle_reports_through_puzzle_error(self):
        p = Puzzle(JUMBLING)
        assert native.jumbles(p.recipe)
        for g in range(p.grip_count):
            p.turn(g)
            try:
                p.sticker_ids()
            except native.PuzzleError as e:
                assert "lattice" in str(e)
                break
        else:
            pytest.fail("no turn left the lattice")
        with pytest.raises(native.PuzzleError):
            p.is_solved
        assert p.action_permutations() is None


class TestMoveText:
    def test_apply_counts_turns(self, cube):
        assert cube.apply("") == 0 and cube.apply("  \u00a0\u3000") == 0
        assert cube.apply("A B2' A'") == 4
        assert cube.move_count == 4 and not cube.animating
        sliced = Puzzle(SLICED)
        assert sliced.grip_names == ["A"]
        assert sliced.apply("A A' A4") == 6

    @pytest.mark.parametrize("text, message", [
        ("A0", "move 'A0' repeats zero times"),
        ("A4294967296", "move 'A4294967296' has an unreadable repeat count"),
        ("Q", "'Q' is not a move of this puzzle. Its grips are A, B, C, D, E, F"),
        ("A''", "'A''' is not a move of this puzzle"),
        ("A4294967295", "move 'A4294967295' takes the text past 10000 turns"),
    ])
    def test_refused_texts_make_no_move(self, cube, text, message):
        with pytest.raises(native.PuzzleError) as e:
            cube.apply("B " + text)
        assert message in str(e.value)
        assert cube.move_count == 0 and cube.is_solved

    def test_text_must_be_str(self, cube):
        with pytest.raises(TypeError) as e:
            cube.apply(["A"])
        assert e.value.__notes__ == ["while processing 'moves'"]


class TestBuildMany:
    def test_builds_in_order(self):
        names = ["Megaminx", CUBE, native.Recipe.parse(SLICED)]
        built = native.build_many(names)
        assert [p.query for p in built] == [Puzzle(n).query for n in names]
        assert all(isinstance(p, Puzzle) and p.move_count == 0 for p in built)
        assert native.build_many([]) == [] and native.build_many(("Megaminx",))[0].grip_count == 12

    def test_first_failed_entry_in_list_order(self):
        with pytest.raises(TypeError, match="^Can't extract `str` to `Vec`$"):
            native.build_many("Megaminx")
        with pytest.raises(native.PuzzleError) as e:
            native.build_many([CUBE, "?shell=C$(", "?shell=Q$1"])
        assert str(e.value).startswith("?shell=C$(: ")
        with pytest.raises(ValueError) as e:
            native.build_many([CUBE, "no such puzzle", "?shell=C$("])
        assert str(e.value) == 'no cataloged puzzle named "no such puzzle"'


class TestJumbles:
    def test_answers(self):
        assert native.jumbles(CUBE) is False
        assert native.jumbles("Megaminx") is False
        assert native.jumbles(JUMBLING) is True
        with pytest.raises(TypeError, match="expected a recipe query string"):
            native.jumbles(42)

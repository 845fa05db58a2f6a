"""The sticker model of a Puzzle (stickers, actions, masks, permutations), move texts, build_many and
jumbles."""
import pytest

import gyrelle._native as native

import optional

Puzzle = native.Puzzle

CUBE = "?shell=C$1&cut=C$1/3"
JUMBLING = "?shell=T$sqrt(2)&cut=C$0"


@pytest.fixture
def cube():
    return Puzzle(CUBE)


def rotations(p):
    return [p.piece(i)["rotation"] for i in range(p.piece_count)]


class TestModel:
    def test_fresh_puzzle_reads_solved(self, cube):
        assert (cube.sticker_count, cube.color_count, len(cube.palette), len(cube.sticker_positions())) == (54, 6, 6, 54)
        assert cube.sticker_ids() == list(range(54)) and cube.stickers() == cube.solved_stickers and cube.is_solved
        atoms = cube.ground_atoms()
        assert atoms[0] == ("color", "s0", f"c{cube.stickers()[0]}") and len(atoms) == 54

    def test_names_and_indices(self, cube):
        names = cube.grip_names
        assert len(cube.actions) == cube.action_count == 2 * len(names) == 12
        for a, name in enumerate(cube.actions):
            assert cube.action_index(name) == a
        assert [cube.action_index(n) for n in (names[0] + "''", "", "Z")] == [None] * 3
        for g in range(len(names)):
            assert cube.action_grip(2 * g) == cube.action_grip(2 * g + 1) is not None
        assert cube.action_grip(cube.action_count) is None

    def test_permutations_compose_and_do_not_depend_on_the_state(self, cube):
        np = optional.need("numpy")
        table = cube.action_permutations()
        assert table.shape == (12, 54) and table.__array_interface__["typestr"] == "|u1"
        rows = np.asarray(table).tolist()
        ids = cube.sticker_ids()
        for a in (0, 5, 11):
            assert cube.apply_action(a) is True
            ids = [ids[j] for j in rows[a]]
            assert cube.sticker_ids() == ids
        assert not cube.animating and cube.history_length == 3
        moves = cube.move_count
        assert np.asarray(cube.action_permutations()).tolist() == rows
        assert cube.sticker_ids() == ids and cube.history_length == 3 and cube.move_count == moves + 24

    def test_locked_layers(self):
        p = Puzzle("Radiolarian 3")
        assert p.action_mask() == [True] * 40
        assert p.apply_action(0) is True
        mask = p.action_mask()
        locked = mask.index(False)
        assert mask[locked ^ 1] is False and p.action_grip(locked) is None
        before = (rotations(p), p.move_count, p.history_length)
        assert p.apply_action(locked) is False
        name = p.actions[locked]
        with pytest.raises(native.PuzzleError, match=f"^move '{name}' cannot be made: that layer is locked$"):
            p.apply(name)
        assert p.action_permutations() is None
        assert (rotations(p), p.history_length) == (before[0], before[2])
        with pytest.raises(ValueError, match=r"^action 40 out of range \(have 40\)$"):
            p.apply_action(40)

    def test_a_jumbled_state_cannot_be_read(self):
        p = Puzzle(JUMBLING)
        for g in range(p.grip_count):
            p.turn(g)
        with pytest.raises(native.PuzzleError, match="lattice"):
            p.sticker_ids()
        with pytest.raises(native.PuzzleError):
            p.is_solved
        assert p.action_permutations() is None


class TestMoveText:
    def test_apply_counts_turns(self, cube):
        assert cube.apply("") == 0 and cube.apply("  \u00a0\u3000") == 0
        assert cube.apply("A B2' A'") == 4 and cube.move_count == 4 and not cube.animating
        assert Puzzle("?shell=C$1&cut=0,0,1$-1/3").apply("A A' A4") == 6

    @pytest.mark.parametrize("text, message", [
        ("A0", "move 'A0' repeats zero times"),
        ("A4294967296", "move 'A4294967296' has an unreadable repeat count"),
        ("Q", "'Q' is not a move of this puzzle. Its grips are A, B, C, D, E, F"),
        ("A4294967295", "move 'A4294967295' takes the text past 10000 turns"),
    ])
    def test_refused_texts_make_no_move(self, cube, text, message):
        with pytest.raises(native.PuzzleError) as e:
            cube.apply("B " + text)
        assert message in str(e.value) and cube.move_count == 0


class TestBuildManyAndJumbles:
    def test_builds_in_order(self):
        names = ["Megaminx", CUBE, native.Recipe.parse(JUMBLING)]
        assert [p.query for p in native.build_many(names)] == [Puzzle(n).query for n in names]
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

    def test_jumbles(self):
        assert (native.jumbles(CUBE), native.jumbles("Megaminx"), native.jumbles(JUMBLING)) == (False, False, True)
        with pytest.raises(TypeError, match="expected a recipe query string"):
            native.jumbles(42)

"""Layout: the face-by-face numbering of a puzzle, its moves, the conversions to and from the
puzzle's own slots, and the bulk operations on blocks of states."""
import itertools
import os
import subprocess
import sys
import textwrap
import threading

import pytest

import gyrelle._native as native

Layout = native.Layout
CUBE = "?shell=C$1&cut=C$1/3"
TETRAHEDRON = "?shell=T$1"  # no cuts: four stickers and no moves


@pytest.fixture(scope="module")
def cube():
    return Layout()


@pytest.fixture(scope="module")
def megaminx():
    return Layout("Megaminx")


def gathered(state, perm):
    return [state[j] for j in perm]


def rows(array, width):
    flat = array.tolist()
    return [flat[i:i + width] for i in range(0, len(flat), width)]


class BytesWithInterface(bytearray):
    """A buffer that describes itself as an unstrided array, as NumPy arrays do."""

    def __init__(self, values, typestr):
        size = int(typestr[2:])
        super().__init__(b"".join(v.to_bytes(size, "little") for v in values))
        self.__array_interface__ = {"shape": (len(values),), "typestr": typestr, "version": 3,
                                    "data": (0, False)}


class TestCubeNumbering:
    def test_default_cube(self, cube):
        assert cube.size == 3 and cube.is_cube is True
        assert cube.facelet_count == 54 and cube.face_count == 6 and cube.move_count == 12
        assert cube.faces == ["U", "D", "L", "R", "B", "F"]
        assert cube.goal_colors.tolist() == [f // 9 for f in range(54)]
        assert cube.goal_colors.typestr == "|u1" and cube.goal_ids.tolist() == list(range(54))
        assert cube.face_sizes.tolist() == [9] * 6
        assert cube.move_names == [f + t for f in "UDLRBF" for t in ("-1", "1")]
        assert cube.inverses == [1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10]
        assert sorted(cube.actions) == list(range(12))
        assert repr(cube) == "<Layout cube 3x3x3 facelets=54 moves=12>"
        assert cube.moves.shape == (12, 54)
        assert sorted(cube.facelet_of_slot.tolist()) == list(range(54))
        fos, sof = cube.facelet_of_slot.tolist(), cube.slot_of_facelet.tolist()
        assert all(sof[fos[s]] == s for s in range(54))

    def test_clockwise_r_carries_f_onto_u(self, cube):
        after = cube.next_states(cube.goal_colors, cube.move_index("R")).tolist()
        assert after[:9] == [0, 0, 0, 0, 0, 0, 5, 5, 5]
        assert cube.text(after).splitlines()[0] == "U UUU/UUU/FFF"

    @pytest.mark.parametrize("name", [CUBE, "2x2x2 Cube", "4x4x4 Cube"])
    def test_every_move_agrees_with_the_geometry(self, name):
        """A move made on the facelets equals the puzzle's own turn read back through the numbering."""
        layout = Layout(name)
        puzzle = native.Puzzle(name)
        for m, action in enumerate(layout.actions):
            assert puzzle.apply_action(action) is True
            colors = layout.to_facelets(puzzle.stickers()).tolist()
            ids = layout.to_facelet_ids(puzzle.sticker_ids()).tolist()
            assert colors == layout.next_states(layout.goal_colors, m).tolist(), layout.move_names[m]
            assert ids == layout.next_states(layout.goal_ids, m).tolist(), layout.move_names[m]
            assert puzzle.apply_action(action ^ 1) is True and puzzle.sticker_ids() == list(range(layout.facelet_count))

    def test_other_cubes_and_the_general_numbering(self, megaminx):
        pocket = Layout("2x2x2 Cube")
        assert pocket.size == 2 and pocket.facelet_count == 24 and pocket.move_count == 12
        big = Layout("4x4x4 Cube")
        assert big.size == 4 and big.facelet_count == 96
        assert big.move_names[:12] == Layout().move_names
        extra = big.move_names[12:]
        assert extra and all(name.startswith(":") for name in extra)
        assert all(a is not None for a in big.actions)
        assert big.actions[12:] == sorted(big.actions[12:])
        assert megaminx.size is None and megaminx.is_cube is False
        assert megaminx.face_count == 12 and megaminx.facelet_count == 132
        assert megaminx.faces == [str(i) for i in range(12)]
        puzzle = native.Puzzle("Megaminx")
        assert megaminx.move_names == puzzle.actions and megaminx.actions == list(range(24))
        assert megaminx.goal_colors.tolist() == puzzle.solved_stickers
        assert repr(megaminx) == "<Layout faces=12 facelets=132 moves=24>"
        skewb = Layout("Skewb")  # five stickers a face: no grid
        assert skewb.size is None and skewb.face_sizes.tolist() == [5] * 6

    def test_puzzles_that_cannot_be_numbered(self):
        with pytest.raises(native.PuzzleError, match="not fixed permutations"):
            Layout("Helicopter Cube")
        with pytest.raises(ValueError, match="no cataloged puzzle named"):
            Layout("no such puzzle")
        with pytest.raises(TypeError, match="expected a recipe query string"):
            Layout(3)

    def test_catalog_names_and_recipes_build_the_same_layout(self, cube):
        by_name = Layout("Quenly's Cube (3x3x3)")
        by_recipe = Layout(native.Recipe.parse(CUBE))
        assert repr(by_name) == repr(by_recipe) == repr(cube)
        assert by_name.moves.tolist() == cube.moves.tolist()


class TestMoves:
    def test_move_index(self, cube, megaminx):
        assert cube.move_index("R") == 7 and cube.move_index("R1") == 7 and cube.move_index("R+1") == 7
        assert cube.move_index("R'") == 6 and cube.move_index("R-1") == 6
        assert cube.move_index(" U1 ") == 1 and cube.move_index("\u3000F\n") == 11
        for name in ("u", "X", "", "R2", "R''", "UU"):
            assert cube.move_index(name) is None
        assert [megaminx.move_index(n) for n in megaminx.move_names] == list(range(24))
        assert megaminx.move_index("U") is None
        with pytest.raises(TypeError):
            cube.move_index(7)

    def test_letter_rule_never_answers_past_the_moves(self, cube):
        few = cube.with_moves([[7], [6]])
        assert few.move_index("U") == 1 and few.move_index("U'") == 0
        assert few.move_index("R") is None and few.move_index("F'") is None
        assert few.move_index("R1") == 0

    def test_with_moves_composes_first_move_first(self, cube):
        macros = cube.with_moves(list(itertools.product(range(12), repeat=3)))
        assert macros.move_count == 1728 and macros.move_names[0] == "U-1 U-1 U-1"
        perms = rows(macros.moves, 54)
        plain = rows(cube.moves, 54)
        sequences = list(itertools.product(range(12), repeat=3))
        for index in (0, 5, 1000, 1727):
            state = list(range(54))
            for m in sequences[index]:
                state = gathered(state, plain[m])
            assert perms[index] == state
        for m, inverse in enumerate(macros.inverses):
            inverted = [0] * 54
            for i, p in enumerate(perms[m]):
                inverted[p] = i
            if perms[m] == inverted:
                assert inverse == m
            else:
                # the lowest-numbered sequence with the inverse permutation; every one has one here
                assert inverse == perms.index(inverted)
        assert all(a is None for a in macros.actions)
        assert repr(macros) == "<Layout cube 3x3x3 facelets=54 moves=1728>"
        assert cube.move_count == 12

    def test_with_moves_edges(self, cube):
        identity = cube.with_moves([[]])
        assert identity.move_names == ["."] and identity.inverses == [0]
        assert identity.moves.tolist() == list(range(54))
        with pytest.raises(ValueError, match=r"^a layout needs at least one move$"):
            cube.with_moves([])
        with pytest.raises(ValueError, match=r"^move 12 out of range \(have 12\)$"):
            cube.with_moves([[0], [12]])
        with pytest.raises(TypeError):
            cube.with_moves("abc")
        with pytest.raises(OverflowError):
            cube.with_moves([[-1]])

    def test_inverses_and_actions(self, cube):
        inv = cube.inverse_moves([7, 6, 0])
        assert inv.tolist() == [6, 7, 1] and inv.typestr == "|u1" and inv.shape == (3,)
        assert cube.inverse_moves([]).shape == (0,)
        with pytest.raises(ValueError, match=r"^move 12 out of range \(have 12\)$"):
            cube.inverse_moves([1, 12])
        turned = cube.with_moves([[7, 1]])
        with pytest.raises(ValueError, match=r"^nothing in this layout undoes R1 U1$"):
            turned.inverse_moves([0])
        assert cube.moves_to_actions([7, 6]) == [cube.actions[7], cube.actions[6]]
        with pytest.raises(ValueError, match=r"^move 0 has no action of this puzzle$"):
            turned.moves_to_actions([0])
        with pytest.raises(ValueError, match=r"^move 12 has no action of this puzzle$"):
            cube.moves_to_actions([12])
        with pytest.raises(TypeError):
            cube.moves_to_actions("01")

    def test_move_and_inverse_restore_any_block(self, cube):
        block = cube.scrambled(20, 7, seed=3)
        for m in range(12):
            there = cube.next_states(block, m)
            back = cube.next_states(there, cube.inverses[m])
            assert back.tolist() == block.tolist()


class TestConversions:
    def test_round_trips(self, cube, megaminx):
        puzzle = native.Puzzle(CUBE)
        solved = puzzle.stickers()
        assert cube.to_facelets(solved).tolist() == cube.goal_colors.tolist()
        assert cube.to_facelet_ids(list(range(54))).tolist() == list(range(54))
        block = cube.scrambled(5, 9, seed=1)
        slots = cube.from_facelets(block)
        assert slots.shape == (5, 54) and slots.typestr == "|u1"
        assert cube.to_facelets(slots).tolist() == block.tolist()
        for layout, p in ((cube, puzzle), (megaminx, native.Puzzle("Megaminx"))):
            p.apply_action(3)
            p.apply_action(0)
            colors = p.stickers()
            assert layout.from_facelets(layout.to_facelets(colors)).tolist() == colors

    def test_shapes_and_widths(self, cube):
        assert cube.to_facelets([]).shape == (0, 54)
        one = cube.to_facelets([cube.goal_colors.tolist()])
        assert one.shape == (54,)
        two = cube.to_facelets(bytes(108))
        assert two.shape == (2, 54) and two.typestr == "|u1"
        big = Layout("7x7x7 Cube")
        ids = big.to_facelet_ids(list(range(294)))
        assert ids.typestr == "<u2" and ids.tolist() == list(range(294))

    def test_errors(self, cube):
        with pytest.raises(ValueError, match=r"^a state of this puzzle is 54 values, and 53 is not a whole number of them$"):
            cube.to_facelets([0] * 53)
        with pytest.raises(ValueError, match=r"^6 is not one of this puzzle's 6 colors$"):
            cube.to_facelets([0] * 53 + [6])
        with pytest.raises(ValueError, match=r"^6 is not one of this puzzle's 6 faces$"):
            cube.from_facelets([6] + [0] * 53)
        with pytest.raises(ValueError, match=r"^54 is not one of this puzzle's 54 slots$"):
            cube.to_facelet_ids([54] * 54)
        with pytest.raises(ValueError, match=r"^300 does not fit the 256 values this puzzle's arrays hold$"):
            cube.to_facelets([300] + [7] * 53)
        # The length is checked before the values, and the first bad value is named.
        with pytest.raises(ValueError, match="53 is not a whole number"):
            cube.to_facelets([9] * 53)
        with pytest.raises(ValueError, match=r"^7 is not one"):
            cube.to_facelets([0] * 60 + [7] + [8] * 47)
        with pytest.raises(TypeError, match="expected an array, a buffer, or a sequence of whole numbers") as info:
            cube.to_facelets(3.5)
        assert "while processing 'states'" in info.value.__notes__


class TestNextStates:
    def test_result_width_follows_the_states(self, cube):
        goal = cube.goal_colors
        assert cube.next_states(goal, 7).typestr == "|u1"
        wide = cube.next_states(BytesWithInterface(goal.tolist(), "<u2"), 7)
        assert wide.typestr == "|u1" and wide.tolist() == cube.next_states(goal, 7).tolist()
        kept = cube.next_states(cube.to_facelet_ids(cube.goal_ids), 7)
        assert kept.typestr == "|u1"
        assert cube.next_states([300] + [0] * 53, 0).typestr == "<u2"
        # The largest 32-bit value must not wrap the bound to one byte.
        top = cube.next_states([4294967295] + [1] * 53, 2)
        assert top.typestr == "<u4" and sorted(top.tolist())[-1] == 4294967295
        assert cube.next_states(BytesWithInterface([5] * 54, "<u4"), 0).typestr == "|u1"

    def test_arrays_keep_their_width(self, cube):
        ids = Layout("7x7x7 Cube").goal_ids
        assert ids.typestr == "<u2"
        small = native.Layout("7x7x7 Cube").next_states(ids, 0)
        assert small.typestr == "<u2"
        flags = cube.solved(cube.goal_colors)
        with pytest.raises(TypeError, match="expected an array of whole numbers, not one of \\|b1"):
            cube.next_states(flags, 0)

    def test_every_kind_of_input_agrees(self, cube):
        block = cube.scrambled(9, 4, seed=8)
        values = block.tolist()
        moves = [(3 * i) % 12 for i in range(9)]
        expected = [v for i, row in enumerate(rows(block, 54)) for v in gathered(row, rows(cube.moves, 54)[moves[i]])]
        for states in (block, values, rows(block, 54), bytes(values), bytearray(values),
                       BytesWithInterface(values, "|u1"), BytesWithInterface(values, "<u2")):
            out = cube.next_states(states, moves)
            assert out.shape == (9, 54) and out.tolist() == expected

    def test_wide_rows_take_the_scalar_path(self):
        big = Layout("4x4x4 Cube")
        block = big.scrambled(3, 5, seed=2)
        perms = rows(big.moves, 96)
        out = big.next_states(block, [0, 13, 23])
        for i, (row, m) in enumerate(zip(rows(block, 96), [0, 13, 23])):
            assert rows(out, 96)[i] == gathered(row, perms[m])

    def test_shapes_and_errors(self, cube):
        goal = cube.goal_colors.tolist()
        empty = cube.next_states([], 999)
        assert empty.shape == (0, 54) and empty.typestr == "|u1"
        assert cube.next_states(goal, [4]).shape == (54,)
        assert cube.next_states(goal * 2, 4).shape == (2, 54)
        with pytest.raises(ValueError, match=r"^got 1 moves for 2 states$"):
            cube.next_states(goal * 2, [4])
        with pytest.raises(ValueError, match=r"^move 12 out of range \(have 12\)$"):
            cube.next_states(goal, 12)
        with pytest.raises(ValueError, match=r"^move 13 out of range"):
            cube.next_states(goal * 3, [0, 13, 12])
        with pytest.raises(ValueError, match="55 is not a whole number"):
            cube.next_states(goal + [0], 0)
        for bad in (-1, [0, -1], 2.5, "3", 2 ** 32):
            with pytest.raises(TypeError, match=r"^expected a move, or one per state$"):
                cube.next_states(goal, bad)
        # The states are read before the moves.
        with pytest.raises(TypeError, match="expected an array, a buffer"):
            cube.next_states(None, -1)

    def test_many_threads_share_one_layout(self, cube):
        block = cube.scrambled(200, 6, seed=4)
        expected = cube.next_states(block, 5).tolist()
        results = []

        def work():
            for _ in range(20):
                results.append(cube.next_states(block, 5).tolist() == expected)

        threads = [threading.Thread(target=work) for _ in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert results and all(results)


class TestSolvedAndOneHot:
    def test_solved(self, cube):
        goal = cube.goal_colors.tolist()
        flags = cube.solved(goal)
        assert flags.typestr == "|b1" and flags.shape == (1,) and flags.tolist() == [True]
        turned = cube.next_states(goal, 0).tolist()
        assert cube.solved(goal + turned).tolist() == [True, False]
        assert cube.solved([]).shape == (0,)
        assert cube.solved([7] + goal[1:]).tolist() == [False]

    def test_one_hot(self, cube):
        goal = cube.goal_colors.tolist()
        hot = cube.one_hot(goal)
        assert hot.shape == (324,) and hot.typestr == "|u1"
        assert hot.tolist() == [1 if v == f // 9 else 0 for f in range(54) for v in range(6)]
        assert cube.one_hot(goal * 2).shape == (2, 324)
        assert cube.one_hot([]).shape == (0, 324)
        odd = cube.one_hot([7] + goal[1:]).tolist()
        assert odd[:6] == [0] * 6 and odd[6:] == hot.tolist()[6:]

    def test_errors(self, cube):
        for method in (cube.solved, cube.one_hot):
            with pytest.raises(ValueError, match=r"^a state of this puzzle is 54 values, and 55 is not a whole number of them$"):
                method([0] * 55)
            with pytest.raises(ValueError, match="300 does not fit the 256 values"):
                method([300] * 54)


class TestWalks:
    def test_shapes(self, cube):
        assert cube.scrambled(0, 5).shape == (0, 54)
        for steps in (5, 0, (3, 9)):
            states, moves = cube.trajectories(steps, 0)
            assert states.shape == (0, 1, 54) and moves.shape == (0, 1)
        states, moves = cube.trajectories(0, 3)
        assert states.shape == (3, 1, 54) and moves.tolist() == [12] * 3
        assert states.tolist() == cube.goal_colors.tolist() * 3
        states, moves = cube.trajectories(5)
        assert states.shape == (1, 6, 54) and moves.shape == (1, 5) and moves.typestr == "|u1"
        assert cube.scrambled(4, 0).tolist() == cube.goal_colors.tolist() * 4

    def test_scrambled_ends_where_trajectories_end(self, cube):
        for depth in (6, (2, 9), [0, 3, 8, 1, 5]):
            ends = rows(cube.scrambled(5, depth, seed=77), 54)
            states, moves = cube.trajectories(depth, 5, seed=77)
            longest = states.shape[1] - 1
            paths = rows(states, 54)
            made = rows(moves, max(longest, 1))
            for i in range(5):
                length = sum(1 for m in made[i] if m != 12)
                assert ends[i] == paths[i * (longest + 1) + length]
                assert all(m == 12 for m in made[i][length:])
                state = paths[i * (longest + 1)]
                assert state == cube.goal_colors.tolist()
                for j in range(length):
                    state = gathered(state, rows(cube.moves, 54)[made[i][j]])
                    assert state == paths[i * (longest + 1) + j + 1]

    def test_short_walks_repeat_their_last_state(self, cube):
        states, moves = cube.trajectories([1, 3], 2, seed=5)
        paths = rows(states, 54)
        assert paths[1] == paths[2] == paths[3] != paths[0]
        assert rows(moves, 3)[0][1:] == [12, 12]

    def test_ranges_and_lists(self, cube):
        _, moves = cube.trajectories((2, 2), 6, seed=1)
        assert all(m != 12 for m in moves.tolist())
        _, moves = cube.trajectories((3, 7), 2)
        assert moves.shape[0] == 2
        _, moves = cube.trajectories([3, 7], 2)
        assert moves.shape == (2, 7)

    def test_walks_never_undo_and_are_not_shifted_copies(self, cube):
        count, length = 64, 24
        _, moves = cube.trajectories(length, count, seed=2024)
        walks = rows(moves, length)
        inverses = cube.inverses
        for walk in walks:
            assert all(walk[j] != inverses[walk[j - 1]] for j in range(1, length))
        for i, j in itertools.permutations(range(count), 2):
            for shift in range(1, 4):
                assert walks[i][shift:] != walks[j][:length - shift], (i, j, shift)
        assert len({tuple(w) for w in walks}) == count

    def test_small_move_sets_may_undo(self, cube):
        pair = cube.with_moves([[0], [1]])
        _, moves = pair.trajectories(40, 4, seed=1)
        flat = moves.tolist()
        assert any(a != b for a, b in zip(flat, flat[1:]))

    def test_reproducible(self, cube):
        a = cube.trajectories((0, 9), 10, seed=123)
        b = cube.trajectories((0, 9), 10, seed=123)
        assert a[0].tolist() == b[0].tolist() and a[1].tolist() == b[1].tolist()
        assert cube.scrambled(10, 5, seed=1).tolist() != cube.scrambled(10, 5, seed=2).tolist()

    def test_no_moves(self):
        bare = Layout(TETRAHEDRON)
        assert bare.move_count == 0 and bare.move_names == [] and bare.inverses == []
        assert bare.moves.shape == (0, 4)
        assert bare.scrambled(3, 0).shape == (3, 4)
        assert bare.trajectories((0, 0), 2)[0].shape == (2, 1, 4)
        for call in (lambda: bare.scrambled(3, 1), lambda: bare.trajectories([0, 2], 2),
                     lambda: bare.scrambled(40, (0, 9))):
            with pytest.raises(ValueError, match=r"^this puzzle has no moves, so there is nowhere to walk to$"):
                call()
        assert bare.scrambled(0, 5).shape == (0, 4)

    def test_argument_errors_in_order(self, cube):
        with pytest.raises(TypeError):
            cube.scrambled(3)
        with pytest.raises(TypeError):
            cube.trajectories()
        with pytest.raises(TypeError):
            cube.scrambled(None, 3)
        with pytest.raises(OverflowError):
            cube.scrambled(-1, 3)
        with pytest.raises(TypeError):
            cube.scrambled(3, 3, seed=None)
        with pytest.raises(OverflowError):
            cube.scrambled(3, 3, seed=2 ** 64)
        for bad in (-1, 2.5, "3", 2 ** 32, (1, -1), None):
            with pytest.raises(TypeError, match=r"^expected a number of moves, a \(low, high\) range, or one per state$"):
                cube.scrambled(2, bad)
        with pytest.raises(ValueError, match=r"^a scramble range runs from low to high, and 5 to 3 does not$"):
            cube.scrambled(2, (5, 3))
        with pytest.raises(ValueError, match=r"^got 3 depths for 1 states$"):
            cube.trajectories([3, 4, 5])
        with pytest.raises(ValueError, match=r"^got 2 depths for 3 states$"):
            cube.scrambled(3, [1, 2])
        # count before seed before the lengths
        with pytest.raises(OverflowError) as info:
            cube.scrambled(-1, "x", seed=-1)
        assert "while processing 'count'" in info.value.__notes__
        with pytest.raises(OverflowError) as info:
            cube.scrambled(1, "x", seed=-1)
        assert "while processing 'seed'" in info.value.__notes__

    def test_sizes_are_refused_before_allocating(self, cube):
        with pytest.raises(ValueError, match="is more than memory can hold"):
            cube.scrambled(2 ** 62, 1)
        # A walk length of 2^32 - 1 needs 2^32 rows per walk: no wrap to an empty block.
        with pytest.raises(ValueError, match=r"^an array of shape \(2147483648, 4294967296, 54\) is more"):
            cube.trajectories(4294967295, 2 ** 31)
        with pytest.raises(ValueError, match="is more than memory can hold"):
            cube.trajectories((0, 4294967295), 2 ** 40)


class TestText:
    def test_cube_text(self, cube):
        solved = cube.text(cube.goal_colors)
        assert solved.splitlines() == [f"{f} {f * 3}/{f * 3}/{f * 3}" for f in "UDLRBF"]
        assert cube.text([]).splitlines()[0] == "U ???/???/???"
        assert cube.text([6, 255] + [0] * 60).startswith("U ??U/UUU/UUU\n")
        assert not cube.text(cube.goal_colors).endswith("\n")

    def test_general_text(self, megaminx):
        lines = megaminx.text(megaminx.goal_colors).splitlines()
        assert len(lines) == 12 and lines[10] == "10 " + "A" * 11
        assert megaminx.text([10, 36, 61, 62]).splitlines()[0].startswith("0 Aaz?")
        with pytest.raises(ValueError, match="does not fit"):
            megaminx.text([256])


class TestThreadCounts:
    def test_results_do_not_depend_on_the_pool(self):
        script = textwrap.dedent("""
            import hashlib, gyrelle._native as native
            cube = native.Layout()
            h = hashlib.sha256()
            block = cube.scrambled(20000, (0, 30), seed=9)
            h.update(block.to_bytes())
            states, moves = cube.trajectories([i % 17 for i in range(3000)], 3000, seed=11)
            h.update(states.to_bytes()); h.update(moves.to_bytes())
            h.update(cube.next_states(block, [i % 12 for i in range(20000)]).to_bytes())
            h.update(cube.one_hot(block).to_bytes()); h.update(cube.solved(block).to_bytes())
            h.update(cube.to_facelets(cube.from_facelets(block)).to_bytes())
            print(native.thread_count(), h.hexdigest())
        """)
        digests = set()
        for threads in ("1", "8"):
            env = dict(os.environ, RAYON_NUM_THREADS=threads)
            out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, check=True)
            count, digest = out.stdout.split()
            assert count == threads
            digests.add(digest)
        assert len(digests) == 1

"""PuzzleBatch: construction and properties, stepping and move texts, choosing copies, reset, solve,
scramble and undo, seeds and histories, and the limits on sizes and growth."""
import os
import subprocess
import sys
import threading

import pytest

import gyrelle._native as native

import optional

PuzzleBatch, Puzzle, Recipe = native.PuzzleBatch, native.Puzzle, native.Recipe

CUBE = "?shell=C$1&cut=C$1/3"
CUBE_NAME = "Quenly's Cube (3x3x3)"
# One grip only: two actions that undo each other.
SLICED = "?shell=C$1&cut=0,0,1$-1/3"
INITIAL_STATE = 0x2545F4914F6CDD1D
MASK64 = (1 << 64) - 1


@pytest.fixture(scope="module")
def heli():
    return "Helicopter Cube"


def gather(state, perm):
    return [state[j] for j in perm]


def outputs_at_thread_counts(code, **env):
    """The distinct outputs of `code` run in a child process with pools of 1 and 4 threads."""
    outs = set()
    for threads in ("1", "4"):
        full = dict(os.environ, RAYON_NUM_THREADS=threads, PYTHONPATH=":".join(sys.path), **env)
        outs.add(subprocess.run([sys.executable, "-c", code], env=full, capture_output=True, text=True,
                                check=True).stdout)
    return outs


def replay(batch, i):
    """Copy i's state as sticker ids, from its history and the permutation table."""
    rows = batch.permutations.tolist()
    n = batch.sticker_count
    rows = [rows[k * n:(k + 1) * n] for k in range(batch.action_count)]
    state = list(range(n))
    for a in batch.history(i):
        state = gather(state, rows[a])
    return state


def walk_of(seed, depth, count=3, recipe=CUBE):
    b = PuzzleBatch(recipe, count, seed=seed)
    b.scramble(depth)
    return [b.history(i) for i in range(count)]


class TestConstruction:
    def test_fresh_batch(self):
        b = PuzzleBatch(CUBE_NAME, 3)
        assert len(b) == 3 and b.is_tabular and b.query == CUBE
        assert repr(b) == f"<PuzzleBatch 3 of {CUBE} stickers=54 actions=12 tabular>"
        assert (b.sticker_count, b.action_count, b.color_count) == (54, 12, 6)
        assert b.actions == ["A", "A'", "B", "B'", "C", "C'", "D", "D'", "E", "E'", "F", "F'"]
        assert b.grip_names == ["A", "B", "C", "D", "E", "F"]
        p = Puzzle(CUBE)
        assert b.solved_stickers == p.solved_stickers and b.palette == p.palette
        assert b.move_counts == [0, 0, 0] and [b.history(i) for i in range(3)] == [[], [], []]
        perms = b.permutations
        assert perms.shape == (12, 54) and perms.__array_interface__["typestr"] == "|u1"
        assert perms.tolist() == p.action_permutations().tolist()
        rows = perms.tolist()
        for a in range(12):
            assert sorted(rows[a * 54:(a + 1) * 54]) == list(range(54))
        # Any recipe form gives the same batch.
        assert PuzzleBatch(Recipe.parse(CUBE), 1).query == CUBE == PuzzleBatch(CUBE, count=1).query

    def test_geometric_batch(self, heli):
        b = PuzzleBatch(heli, 2)
        assert not b.is_tabular and b.permutations is None
        assert repr(b).endswith(" geometric>")
        assert b.action_count == 2 * len(b.grip_names)

    def test_argument_errors_in_order(self):
        with pytest.raises(ValueError, match="^a batch needs at least one puzzle$"):
            PuzzleBatch(CUBE, 0)
        with pytest.raises(ValueError, match="no cataloged puzzle named"):
            PuzzleBatch("no such puzzle", 0)
        # count is converted before the recipe.
        with pytest.raises(OverflowError) as e:
            PuzzleBatch("no such puzzle", -1)
        assert "while processing 'count'" in e.value.__notes__[0]
        with pytest.raises(TypeError, match="expected a recipe query string, a catalog name or a Recipe"):
            PuzzleBatch(3, 1)
        with pytest.raises(OverflowError, match="out of range integral type conversion attempted"):
            PuzzleBatch(CUBE, 1, scramble=-1)
        with pytest.raises(TypeError):
            PuzzleBatch(CUBE, 1, show_arrows=True)
        with pytest.raises(TypeError):
            PuzzleBatch(CUBE, 1, show_edges=1)
        with pytest.raises(ValueError, match="expected tuple of length 4"):
            PuzzleBatch(CUBE, 1, background=(1, 2, 3))

    def test_sizes_are_refused_before_allocation(self):
        with pytest.raises(ValueError, match="too large to hold"):
            PuzzleBatch(CUBE, 1 << 62)
        with pytest.raises(MemoryError):
            PuzzleBatch(CUBE, 1 << 40)

    def test_seed_and_scramble_keywords(self):
        b = PuzzleBatch(CUBE, 3, seed=7, scramble=4)
        assert b.move_counts == [4, 4, 4]
        c = PuzzleBatch(CUBE, 3)
        c.seed_all(7)
        c.reset(scramble=4)
        assert [b.history(i) for i in range(3)] == [c.history(i) for i in range(3)]
        # scramble=0 still resets (nothing to see on a fresh batch); None runs nothing.
        assert PuzzleBatch(CUBE, 2, scramble=0).move_counts == [0, 0]
        assert PuzzleBatch(CUBE, 2, scramble=None).move_counts == [0, 0]

    def test_default_random_states(self):
        # Copy i starts from i ^ INITIAL_STATE: the same walk as a batch of one seeded so.
        b = PuzzleBatch(CUBE, 3)
        b.scramble(6)
        for i in range(3):
            assert b.history(i) == walk_of(i ^ INITIAL_STATE, 6, count=1)[0]


class TestStep:
    def test_step_records_and_reports(self):
        b = PuzzleBatch(CUBE, 4)
        solved, applied = b.step([0, 3, 5, 11])
        assert solved.__array_interface__["typestr"] == "|b1" and solved.shape == (4,)
        assert solved.tolist() == [False] * 4 and applied.tolist() == [True] * 4
        assert [b.history(i) for i in range(4)] == [[0], [3], [5], [11]] and b.move_counts == [1] * 4
        solved, _ = b.step([1, 2, 4, 10])
        assert solved.tolist() == [True] * 4
        assert b.history(0) == [0, 1]

    def test_step_matches_a_puzzle_turned_alike(self):
        np = optional.need("numpy")
        b = PuzzleBatch(CUBE, 5)
        puzzles = [Puzzle(CUBE) for _ in range(5)]
        rng = np.random.default_rng(3)
        for _ in range(30):
            actions = rng.integers(0, 12, 5, dtype=np.uint32)
            solved, _ = b.step(actions)
            for p, a, s in zip(puzzles, actions.tolist(), solved.tolist()):
                p.apply_action(a)
                assert p.is_solved == s
        for i, p in enumerate(puzzles):
            assert replay(b, i) == p.sticker_ids()

    def test_action_forms(self):
        np = optional.need("numpy")
        b = PuzzleBatch(CUBE, 3)
        for actions in ([1, 2, 3], (1, 2, 3), bytes([1, 2, 3]), np.array([1, 2, 3], np.uint8),
                        np.array([1, 2, 3], np.int64), np.array([[1, 2, 3]], np.uint32)):
            b.step(actions)
        assert b.history(2) == [3] * 6
        with pytest.raises(TypeError, match="expected an array, a buffer, or a sequence of whole numbers"):
            b.step("012")
        with pytest.raises(ValueError, match="negative"):
            b.step(np.array([1, -2, 3], np.int32))

    def test_refused_steps_change_nothing(self):
        b = PuzzleBatch(CUBE, 3)
        b.step([0, 0, 0])
        with pytest.raises(ValueError, match=r"^got 2 actions for 3 puzzles$"):
            b.step([0, 1])
        with pytest.raises(ValueError, match=r"^got 4 actions for 3 puzzles$"):
            b.step([0, 1, 2, 3])
        with pytest.raises(ValueError, match=r"^action 12 out of range \(have 12\)$"):
            b.step([0, 12, 13])
        assert b.move_counts == [1, 1, 1] and b.history(1) == [0]

    def test_geometric_blocked_layers(self, heli):
        b = PuzzleBatch(heli, 3, seed=1)
        b.scramble(3)
        before = [b.history(i) for i in range(3)]
        blocked = False
        for a in range(b.action_count):
            solved, applied = b.step([a] * 3)
            for i, made in enumerate(applied.tolist()):
                if made:
                    before[i].append(a)
                else:
                    blocked = True
            assert [b.history(i) for i in range(3)] == before
        assert blocked

    def test_apply_and_action_index(self):
        b = PuzzleBatch(CUBE, 2)
        assert b.apply("A B2' A'") == 4
        assert b.history(0) == b.history(1) == [0, 3, 3, 1]
        assert b.apply("") == 0 and b.move_counts == [4, 4]
        with pytest.raises(native.PuzzleError, match="is not a move of this puzzle"):
            b.apply("A Q")
        assert b.move_counts == [4, 4]
        with pytest.raises(TypeError):
            b.apply(3)
        assert [b.action_index(n) for n in ("A", "A'", "F'", "", "'", "Q", "A2", "A''")] == \
            [0, 1, 11, None, None, None, None, None]


class TestWhich:
    @pytest.fixture
    def b(self):
        b = PuzzleBatch(CUBE, 3)
        b.step([0, 2, 4])
        return b

    def test_forms(self, b):
        np = optional.need("numpy")
        assert b.undo([True, False, True]).tolist() == [True, False, True]
        b.step([0, 2, 4])
        assert b.undo([2, 0, 2]).tolist() == [True, False, True]
        b.step([0, 2, 4])
        assert b.undo([True, 2]).tolist() == [False, True, True]
        b.step([0, 2, 4])
        assert b.undo(range(2)).tolist() == [True, True, False]
        b.step([0, 2, 4])
        assert b.undo(bytes([0, 2])).tolist() == [True, False, True]
        b.step([0, 2, 4])
        assert b.undo(np.array([False, True, True])).tolist() == [False, True, True]
        b.step([0, 2, 4])
        assert b.undo(np.array([1], np.int64)).tolist() == [False, True, False]
        # The flags undo returns choose the copies that had a move.
        b.step([0, 2, 4])
        mask = b.undo([0])
        assert b.undo(mask).tolist() == [True, False, False]

    def test_errors(self, b):
        for which, error, message in [
                ([], ValueError, r"^got 0 flags for 3 puzzles$"),
                ([True, False], ValueError, r"^got 2 flags for 3 puzzles$"),
                ([3], IndexError, r"^puzzle 3 out of range \(have 3\)$"),
                ([1, 7, 9], IndexError, r"^puzzle 7 out of range \(have 3\)$"),
                ([-1], TypeError, "^expected a list of flags, a list of indices, or None$"),
                ("01", TypeError, "^expected a list of flags"), (3, TypeError, "^expected a list of flags"),
                ({0, 1}, TypeError, "^expected a list of flags"), ([0.0], TypeError, "^expected a list of flags"),
                ({0: True}, TypeError, "^expected a list of flags")]:
            with pytest.raises(error, match=message):
                b.solve(which)
        assert b.move_counts == [1, 1, 1]


class TestResetSolveScramble:
    def test_reset_forms(self):
        b = PuzzleBatch(CUBE, 3, seed=2)
        b.reset(scramble=5)
        assert b.move_counts == [5] * 3
        b.reset()
        assert b.move_counts == [0] * 3
        b.reset_one(1, scramble=2)
        assert b.move_counts == [0, 2, 0]
        b.reset_where([True, False, True], scramble=3)
        assert b.move_counts == [3, 2, 3]
        b.reset_where([1])
        assert b.move_counts == [3, 0, 3]
        b.solve([0])
        assert b.move_counts == [0, 0, 3]
        b.solve()
        assert b.move_counts == [0, 0, 0]
        with pytest.raises(IndexError, match=r"^puzzle 3 out of range \(have 3\)$"):
            b.reset_one(3)
        with pytest.raises(TypeError) as e:
            b.reset(scramble=None)
        assert "while processing 'scramble'" in e.value.__notes__[0]

    def test_walks_never_undo_and_replay_as_steps(self):
        b = PuzzleBatch(CUBE, 50, seed=9)
        b.step(list(range(12)) * 4 + [0, 1])
        b.scramble(30)
        for i in range(50):
            h = b.history(i)
            assert len(h) == 31
            assert all(x ^ y != 1 for x, y in zip(h, h[1:]))
        # One axis: a move may be followed by its inverse.
        s = PuzzleBatch(SLICED, 1)
        s.scramble(64)
        h = s.history(0)
        assert any(x ^ y == 1 for x, y in zip(h, h[1:]))

    def test_depth_forms(self):
        b = PuzzleBatch(CUBE, 3)
        b.scramble(True)
        assert b.move_counts == [1, 1, 1]
        b.scramble([0, 2, 1])
        assert b.move_counts == [1, 3, 2]
        for bad in (-1, 2.5, "3", [1, -1, 2], None):
            with pytest.raises(TypeError, match="^expected a number of moves, or one per puzzle$"):
                b.scramble(bad)
        with pytest.raises(ValueError, match=r"^got 2 depths for 3 puzzles$"):
            b.scramble([1, 2])
        assert b.move_counts == [1, 3, 2]

    def test_zero_depths_draw_nothing(self):
        b = PuzzleBatch(CUBE, 2)
        b.scramble(0)
        b.scramble([0, 0])
        b.reset_one(0, scramble=0)
        b.scramble(4)
        fresh = PuzzleBatch(CUBE, 2)
        fresh.scramble(4)
        assert [b.history(i) for i in range(2)] == [fresh.history(i) for i in range(2)]

    def test_equal_copies_walk_alike(self):
        b = PuzzleBatch(CUBE, 2)
        b.seed(0, 5)
        b.seed(1, 5)
        b.scramble(12)
        assert b.history(0) == b.history(1)
        assert replay(b, 0) == replay(b, 1)

    def test_geometric_reset(self, heli):
        b = PuzzleBatch(heli, 4, seed=3)
        b.reset(scramble=6)
        assert all(c <= 6 for c in b.move_counts)
        b.solve()
        assert b.move_counts == [0] * 4
        solved, _ = b.step([0] * 4)
        b.undo()
        b.solve([True, False, True, False])
        assert b.move_counts == [0] * 4

    def test_puzzle_without_grips(self):
        b = PuzzleBatch("?shell=C$1", 2)
        assert b.action_count == 0
        b.scramble(5)
        b.reset(scramble=5)
        assert b.move_counts == [0, 0]

    def test_growth_beyond_the_limit_is_refused(self):
        b = PuzzleBatch(CUBE, 4096)
        b.step([1] * 4096)
        with pytest.raises(ValueError, match="^a scramble of 4294967295 moves is more than the 10000 "):
            b.scramble(0xFFFFFFFF)
        assert b.move_counts == [1] * 4096 and b.history(4095) == [1]


class TestUndoSeedHistory:
    def test_undo_walks_back(self):
        b = PuzzleBatch(CUBE, 3, seed=4)
        assert b.undo().tolist() == [False] * 3
        b.reset(scramble=5)
        walks = [b.history(i) for i in range(3)]
        for k in range(5):
            assert b.undo().tolist() == [True] * 3
            assert [b.history(i) for i in range(3)] == [w[:4 - k] for w in walks]
        assert b.undo().tolist() == [False] * 3
        solved, _ = b.step([0, 0, 0])
        b.step([1, 1, 1])
        assert b.undo().tolist() == [True] * 3
        # The last action is the first step's again: a walk now never starts with its inverse.
        for _ in range(20):
            b.scramble(1)
            assert all(b.history(i)[1] != 1 for i in range(3))
            b.undo()

    def test_seeds(self):
        b = PuzzleBatch(CUBE, 3)
        b.seed_all(MASK64)
        b.scramble(5)
        assert b.history(0) == walk_of(MASK64, 5, count=1)[0]
        assert b.history(1) == walk_of(0, 5, count=1)[0]
        # seed(i, s) is seed_all(s - i) for that copy, whatever came before.
        c = PuzzleBatch(CUBE, 3)
        c.step([3, 3, 3])
        c.seed(2, 100)
        c.scramble(5)
        d = PuzzleBatch(CUBE, 3, seed=98)
        d.scramble(5)
        assert c.history(2)[1:] == d.history(2)
        with pytest.raises(IndexError, match=r"^puzzle 3 out of range \(have 3\)$"):
            b.seed(3, 0)
        with pytest.raises(OverflowError):
            b.seed(0, -1)
        with pytest.raises(IndexError, match=r"^puzzle 3 out of range \(have 3\)$"):
            b.history(3)

    def test_history_is_a_copy(self):
        b = PuzzleBatch(CUBE, 1)
        b.step([2])
        h = b.history(0)
        h.append(5)
        assert b.history(0) == [2]

    def test_long_histories_across_steps_and_undos(self):
        b = PuzzleBatch(CUBE, 2)
        moves = [[k % 12, (k * 5) % 12] for k in range(37)]
        for m in moves:
            b.step(m)
        assert b.history(0) == [m[0] for m in moves] and b.move_counts == [37, 37]
        b.undo([1])
        assert b.history(1) == [m[1] for m in moves][:-1]
        assert replay(b, 1) == replay(b, 1)
        b.solve([0])
        b.step([7, 7])
        assert b.history(0) == [7] and b.history(1)[-1] == 7


class TestThreads:
    def test_results_do_not_depend_on_the_thread_count(self):
        code = ("import gyrelle._native as g\n"
                "b = g.PuzzleBatch(%r, 3000, seed=11, scramble=7)\n"
                "b.step([i %% 12 for i in range(3000)])\n"
                "b.scramble([i %% 5 for i in range(3000)])\n"
                "print([b.history(i) for i in range(0, 3000, 37)])\n" % CUBE)
        assert len(outputs_at_thread_counts(code)) == 1

    def test_steps_readers_and_frames_agree_at_one_and_eight_threads(self):
        # Histories past several blocks of the log, some copies undone or solved along the way, and
        # every reader and frame of the result.
        code = ("import hashlib, gyrelle._native as g\n"
                "b = g.PuzzleBatch(%r, 5000, seed=3, scramble=9)\n"
                "for k in range(150):\n"
                "    b.step([(i * 7 + k) %% 12 for i in range(5000)])\n"
                "    if k %% 50 == 49:\n"
                "        b.undo([i for i in range(0, 5000, 3)])\n"
                "        b.solve([i for i in range(0, 5000, 11)])\n"
                "h = hashlib.sha256()\n"
                "for part in (b.observations(), b.sticker_ids(), b.one_hot(), b.solved(), b.render(24, 16),\n"
                "             b.render(16, 16, channels=3, channels_first=True, dtype='f4')):\n"
                "    h.update(part.to_bytes())\n"
                "h.update(repr([b.history(i) for i in range(0, 5000, 97)]).encode())\n"
                "h.update(repr(b.move_counts).encode())\n"
                "print(h.hexdigest())\n" % CUBE)
        outs = set()
        for threads in ("1", "8"):
            env = dict(os.environ, RAYON_NUM_THREADS=threads, PYTHONPATH=":".join(sys.path))
            outs.add(subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                                    check=True).stdout)
        assert len(outs) == 1

    def test_long_histories_read_back_across_blocks(self):
        # Enough copies that a block of the history log holds 64 steps, and histories of 200.
        count = 1100
        b = PuzzleBatch(CUBE, count, seed=5)
        b.reset(scramble=60)
        expected = [b.history(i) for i in range(3)]
        for k in range(140):
            b.step([(k + i * 5) % 12 for i in range(count)])
            for i in range(3):
                expected[i].append((k + i * 5) % 12)
        assert [b.history(i) for i in range(3)] == expected and b.move_counts == [200] * count
        for _ in range(70):
            b.undo([1])
        assert b.history(1) == expected[1][:130] and b.history(0) == expected[0]
        assert replay(b, 1) == b.sticker_ids().tolist()[54:108]

    def test_a_busy_batch_refuses_other_calls(self):
        b = PuzzleBatch(CUBE, 200_000)
        errors, done = [], threading.Event()

        def other():
            while not done.is_set():
                try:
                    len(b)
                    b.history(0)
                except RuntimeError as e:
                    errors.append(str(e))
                    return

        t = threading.Thread(target=other)
        t.start()
        try:
            for _ in range(200):
                try:
                    b.scramble(3)
                except RuntimeError as e:
                    errors.append(str(e))
                if errors:
                    break
        finally:
            done.set()
            t.join()
        assert errors and set(errors) <= {"Already mutably borrowed", "Already borrowed"}


class TestObservations:
    def test_fresh_rows(self):
        b = PuzzleBatch(CUBE_NAME, 4)
        obs, ids = b.observations(), b.sticker_ids()
        assert obs.shape == ids.shape == (4, 54)
        assert obs.__array_interface__["typestr"] == ids.__array_interface__["typestr"] == "|u1"
        assert obs.tolist() == b.solved_stickers * 4 and ids.tolist() == list(range(54)) * 4
        assert PuzzleBatch(CUBE, 1).observations().shape == (1, 54)

    def test_rows_follow_steps_undos_and_resets_exactly(self):
        np = optional.need("numpy")
        b = PuzzleBatch(CUBE, 6, seed=8)
        puzzles = [Puzzle(CUBE) for _ in range(6)]
        rng = np.random.default_rng(5)
        for _ in range(13):
            actions = rng.integers(0, 12, 6, dtype=np.uint32)
            b.step(actions)
            for p, a in zip(puzzles, actions.tolist()):
                p.apply_action(a)
        ids = np.asarray(b.sticker_ids()).tolist()
        assert ids == [p.sticker_ids() for p in puzzles] == [replay(b, i) for i in range(6)]
        solved = np.asarray(b.solved_stickers)
        assert np.array_equal(np.asarray(b.observations()), solved[np.asarray(b.sticker_ids())])
        # Undo takes back exactly one move; solve and reset give the identity rows.
        before = ids
        b.step([3] * 6)
        b.undo()
        assert np.asarray(b.sticker_ids()).tolist() == before
        b.solve([0, 5])
        rows = np.asarray(b.sticker_ids()).tolist()
        assert rows[0] == rows[5] == list(range(54)) and rows[1:5] == before[1:5]
        b.reset(scramble=6)
        assert np.asarray(b.sticker_ids()).tolist() == [replay(b, i) for i in range(6)]
        for _ in range(6):
            b.undo()
        assert np.asarray(b.sticker_ids()).tolist() == [list(range(54))] * 6

    def test_many_copies_agree_across_blocks_and_tasks(self):
        # Rows are filled in blocks and tasks whose edges fall inside rows; every reader agrees.
        np = optional.need("numpy")
        b = PuzzleBatch(CUBE, 3001, seed=11, scramble=9)
        ids = np.asarray(b.sticker_ids())
        obs = np.asarray(b.observations())
        assert np.array_equal(obs, np.asarray(b.solved_stickers, np.uint8)[ids])
        assert [replay(b, i) for i in (0, 1500, 3000)] == ids[[0, 1500, 3000]].tolist()
        hot = np.asarray(b.one_hot()).reshape(3001, 54, 6)
        assert np.array_equal(hot.sum(axis=2), np.ones((3001, 54))) and np.array_equal(hot.argmax(axis=2), obs)

    def test_geometric_rows(self, heli):
        b = PuzzleBatch(heli, 3, seed=2)
        assert b.sticker_ids().tolist() == list(range(b.sticker_count)) * 3
        assert b.observations().tolist() == b.solved_stickers * 3
        # A jumbling turn leaves the lattice: neither reading answers, and nothing changes.
        b.step([0, 2, 4])
        for read in (b.sticker_ids, b.observations):
            with pytest.raises(native.PuzzleError, match="does not return to its own lattice|no longer sit"):
                read()
        assert b.move_counts == [1, 1, 1]
        b.solve()
        assert b.sticker_ids().tolist() == list(range(b.sticker_count)) * 3


class TestOneHotMasksSolved:
    def test_fresh_cube(self):
        b = PuzzleBatch(CUBE_NAME, 4)
        hot = b.one_hot()
        assert hot.shape == (4, 324) and hot.__array_interface__["typestr"] == "|u1"
        row = [0] * 324
        for j, k in enumerate(b.solved_stickers):
            row[j * 6 + k] = 1
        assert hot.tolist() == row * 4
        masks = b.action_masks()
        assert masks.shape == (4, 12) and masks.__array_interface__["typestr"] == "|b1"
        assert masks.tolist() == [True] * 48
        flags = b.solved()
        assert flags.shape == (4,) and flags.__array_interface__["typestr"] == "|b1"
        assert flags.tolist() == [True] * 4

    def test_one_hot_and_solved_follow_the_states(self):
        b = PuzzleBatch(CUBE, 5, seed=3)
        b.reset(scramble=4)
        b.solve([1, 3])
        obs = b.observations().tolist()
        hot = b.one_hot().tolist()
        for i in range(5):
            for j in range(54):
                group = hot[i * 324 + j * 6:i * 324 + j * 6 + 6]
                assert group == [int(k == obs[i * 54 + j]) for k in range(6)]
        expected = [obs[i * 54:(i + 1) * 54] == b.solved_stickers for i in range(5)]
        assert b.solved().tolist() == expected and expected[1] and expected[3] and not expected[0]

    def test_wider_slot_rows(self):
        # 4x4x4: 96 slots in one byte; the solved test and the indicators agree with observations.
        b = PuzzleBatch("?shell=C$1&cut=C$1/2&cut=C$0", 3, seed=4)
        b.scramble([0, 3, 5])
        obs = b.observations().tolist()
        n, c = b.sticker_count, b.color_count
        hot = b.one_hot().tolist()
        assert sum(hot) == 3 * n
        assert all(hot[i * n * c + j * c + obs[i * n + j]] == 1 for i in range(3) for j in range(n))
        assert b.solved().tolist() == [True, False, False]

    def test_geometric(self, heli):
        b = PuzzleBatch(heli, 3, seed=2)
        masks = b.action_masks().tolist()
        k = b.action_count
        for i in range(3):
            row = masks[i * k:(i + 1) * k]
            assert row[0::2] == row[1::2]
        assert b.solved().tolist() == [True] * 3
        b.step([0, 0, 0])
        b.step([1, 1, 1])
        assert b.solved().tolist() == [True] * 3
        # A jumbling turn: the copy reads as unsolved, the indicators cannot be read.
        b.step([0, 2, 4])
        assert b.solved().tolist() == [False] * 3
        with pytest.raises(native.PuzzleError, match="does not return to its own lattice|no longer sit"):
            b.one_hot()
        masks = b.action_masks().tolist()
        for i in range(3):
            row = masks[i * k:(i + 1) * k]
            assert row[0::2] == row[1::2] and not all(row)
        blocked = [a for a in range(k) if not masks[a]]
        before = b.move_counts[0]
        solved, applied = b.step([blocked[0], 0, 0])
        assert not applied.tolist()[0] and b.move_counts[0] == before


class TestViewConfiguration:
    def test_nothing_given_changes_nothing(self):
        b = PuzzleBatch(CUBE, 2)
        before = b.camera
        assert before == ((0.0, 0.0, 12.0), (0.0, 0.0, 0.0), (0.0, 1.0, 0.0), before[3])
        assert b.configure() is None
        assert b.configure(background=None, fov=None, camera_up=None) is None
        assert b.camera == before

    def test_angles_distance_and_vectors(self):
        b = PuzzleBatch(CUBE, 2)
        b.configure(camera_up=(0.0, 0.0, 1.0), camera_target=(1.0, 0.0, 0.0))
        b.configure(yaw=90)
        pos, target, up, _ = b.camera
        assert pos == pytest.approx((12.0, 0.0, 0.0)) and abs(pos[2]) < 1e-12
        assert up == (0.0, 1.0, 0.0) and target == (1.0, 0.0, 0.0)
        b.configure(camera_position=(0.0, 0.0, 12.0))
        b.configure(distance=6)
        assert b.camera[0] == (0.0, 0.0, 6.0)
        b.configure(camera_position=(0.0, 0.0, 0.0))
        b.configure(distance=6)
        assert b.camera[0] == (0.0, 0.0, 0.0)
        b.configure(yaw=30, camera_position=(1.0, 2.0, 3.0), camera_up=(0.0, 0.0, 1.0))
        assert b.camera[0] == (1.0, 2.0, 3.0) and b.camera[2] == (0.0, 0.0, 1.0)
        b.configure(yaw=30, camera_position=(1.0, 2.0, 3.0))
        assert b.camera[2] == (0.0, 1.0, 0.0)

    def test_camera_round_trip(self):
        b = PuzzleBatch(CUBE, 1)
        b.configure(yaw=33.3, pitch=-12.1, fov=21.7)
        saved = b.camera
        b.configure(yaw=-100, pitch=40, distance=3, fov=50, camera_target=(1.0, 1.0, 1.0))
        assert b.camera != saved
        pos, target, up, fov = saved
        b.configure(camera_position=pos, camera_target=target, camera_up=up, fov=fov)
        assert b.camera == saved

    def test_bad_arguments_change_nothing(self):
        b = PuzzleBatch(CUBE, 1)
        before = b.camera
        with pytest.raises(ValueError):
            b.configure(fov=40, background=(1, 2, 3))
        with pytest.raises(OverflowError):
            b.configure(fov=40, background=(1, 2, 3, 256))
        with pytest.raises(TypeError):
            b.configure(fov=40, camera_up=[0.0, 1.0, 0.0])
        with pytest.raises(TypeError):
            b.configure(40)
        with pytest.raises(OverflowError):
            b.configure(fov=40, supersample=-1)
        assert b.camera == before

    def test_geometric_copies_share_the_view(self, heli):
        b = PuzzleBatch(heli, 3)
        b.configure(fov=30, yaw=45)
        assert b.camera[3] == 30.0
        b.step([0, 0, 0])
        b.solve()
        assert b.camera[3] == 30.0


class TestSetStates:
    def test_solved_colors_give_identity_rows(self):
        b = PuzzleBatch(CUBE, 3, seed=1)
        b.reset(scramble=5)
        assert b.set_states(b.solved_stickers) is None
        assert b.sticker_ids().tolist() == list(range(54)) * 3
        assert b.solved().tolist() == [True] * 3
        assert b.move_counts == [0, 0, 0] and b.undo().tolist() == [False] * 3

    def test_colors_and_ids_round_trip(self):
        b = PuzzleBatch(CUBE, 4, seed=9)
        b.reset(scramble=7)
        obs, ids = b.observations(), b.sticker_ids()
        fresh = PuzzleBatch(CUBE, 4)
        fresh.set_states(obs)
        assert fresh.observations().tolist() == obs.tolist()
        fresh.set_states(ids, ids=True)
        assert fresh.sticker_ids().tolist() == ids.tolist()
        # A step after loading gathers from the loaded rows, and scrambling walks on from there.
        fresh.step([0] * 4)
        b.step([0] * 4)
        assert fresh.sticker_ids().tolist() == b.sticker_ids().tolist()
        # Nested lists and one state for all.
        rows = ids.tolist()
        fresh.set_states([rows[0:54], rows[54:108], rows[108:162], rows[162:216]], ids=True)
        assert fresh.sticker_ids().tolist() == rows
        fresh.step([1] * 4)
        fresh.set_states(rows[54:108], ids=True)
        assert fresh.sticker_ids().tolist() == rows[54:108] * 4
        assert fresh.move_counts == [0] * 4 and fresh.undo().tolist() == [False] * 4
        one = PuzzleBatch(CUBE, 1)
        one.set_states(rows[:54], ids=True)
        assert one.sticker_ids().tolist() == rows[:54]

    def test_large_blocks_from_numpy(self):
        # Many rows per task, read from wide signed NumPy integers; one bad row deep in the block is
        # named and stores nothing.
        np = optional.need("numpy")
        b = PuzzleBatch(CUBE, 4000, seed=6, scramble=8)
        obs, ids = np.asarray(b.observations()), np.asarray(b.sticker_ids())
        fresh = PuzzleBatch(CUBE, 4000)
        fresh.set_states(obs.astype(np.int64))
        assert np.array_equal(np.asarray(fresh.observations()), obs)
        fresh.set_states(ids.astype(np.uint32), ids=True)
        assert np.array_equal(np.asarray(fresh.sticker_ids()), ids)
        bad = obs.astype(np.int64)
        bad[3217, 9] = (bad[3217, 9] + 1) % 6
        with pytest.raises(ValueError, match=r"^row 3217 does not have the colors"):
            fresh.set_states(bad)
        wrong = ids.copy()
        wrong[2999, [4, 7]] = wrong[2999, [7, 7]]
        with pytest.raises(ValueError, match=r"^row 2999 is not an arrangement"):
            fresh.set_states(wrong, ids=True)
        bad[3217, 9] = -1
        with pytest.raises(ValueError, match="negative number"):
            fresh.set_states(bad)
        assert np.array_equal(np.asarray(fresh.sticker_ids()), ids)
        fresh.set_states(obs[5].astype(np.int16))
        assert np.array_equal(np.asarray(fresh.observations()), np.tile(obs[5], (4000, 1)))

    def test_same_colored_stickers_take_the_lowest_slots_first(self):
        b = PuzzleBatch(CUBE, 1)
        solved = b.solved_stickers
        ids = list(range(54))
        j, k = [s for s in range(54) if solved[s] == solved[0]][:2]
        ids[j], ids[k] = ids[k], ids[j]
        b.set_states(ids, ids=True)
        assert b.solved().tolist() == [True] and b.sticker_ids().tolist() == ids
        b.set_states(b.observations())
        assert b.sticker_ids().tolist() == list(range(54))
        # A legal colour count in an impossible position is stored.
        colors = list(solved)
        a, c = next((x, y) for x in range(54) for y in range(54) if solved[x] != solved[y])
        colors[a], colors[c] = colors[c], colors[a]
        b.set_states(colors)
        assert b.observations().tolist() == colors and b.solved().tolist() == [False]

    def test_refusals_change_nothing(self):
        b = PuzzleBatch(CUBE, 3, seed=2)
        b.scramble(3)
        before, counts = b.sticker_ids().tolist(), b.move_counts
        n = 54
        for bad in ([], list(range(n)) * 2, list(range(n + 1))):
            with pytest.raises(ValueError, match=rf"^a state of this puzzle is 54 slots and this batch holds 3 of "
                                                 rf"them, so {len(bad)} values is not a state each$"):
                b.set_states(bad, ids=True)
            with pytest.raises(ValueError, match=r"^a state of this puzzle is 54 colors and this batch holds 3"):
                b.set_states([0] * len(bad))
        colors = list(b.solved_stickers) * 3
        colors[54 * 2 + 5] = 6
        with pytest.raises(ValueError, match=r"^row 2 does not have the colors of this puzzle: every state of it "
                                             r"has as many stickers of each color as the solved one$"):
            b.set_states(colors)
        with pytest.raises(ValueError, match="^256 does not fit the"):
            b.set_states([256] + [0] * 53)
        rows = list(range(n)) * 3
        rows[54 + 3] = 4
        with pytest.raises(ValueError, match=r"^row 1 is not an arrangement of this puzzle's 54 stickers$"):
            b.set_states(rows, ids=True)
        rows[54 + 3] = 54
        with pytest.raises(ValueError, match=r"^row 1 is not an arrangement"):
            b.set_states(rows, ids=True)
        with pytest.raises(TypeError):
            b.set_states(list(range(n)), ids=1)
        with pytest.raises(TypeError):
            b.set_states("abc")
        assert b.sticker_ids().tolist() == before and b.move_counts == counts

    def test_numpy_bool_and_geometric_refusal(self, heli):
        np = optional.need("numpy")
        b = PuzzleBatch(CUBE, 2)
        b.set_states(np.arange(54, dtype=np.uint8), ids=np.bool_(True))
        assert b.sticker_ids().tolist() == list(range(54)) * 2
        g = PuzzleBatch(heli, 2)
        n = g.sticker_count
        with pytest.raises(ValueError, match="is not a state each"):
            g.set_states(list(range(n + 1)), ids=True)
        with pytest.raises(native.PuzzleError, match="^this batch turns geometry instead of arrays"):
            g.set_states(list(range(n)), ids=True)
        with pytest.raises(native.PuzzleError, match="^this batch turns geometry instead of arrays"):
            g.set_states(g.solved_stickers)


class TestFaceletsThroughLayout:
    def test_solved_batch_reads_the_goal(self):
        layout = native.Layout(CUBE)
        b = PuzzleBatch(CUBE, 3)
        assert b.same_puzzle(layout) is None
        faces, ids = b.facelets(layout), b.facelet_ids(layout)
        assert faces.shape == ids.shape == (3, 54)
        assert faces.__array_interface__["typestr"] == ids.__array_interface__["typestr"] == "|u1"
        assert faces.tolist() == list(layout.goal_colors) * 3 and ids.tolist() == list(range(54)) * 3
        assert PuzzleBatch(CUBE, 1).facelets(layout).shape == (1, 54)

    def test_rows_agree_with_the_layout_conversions(self):
        layout = native.Layout(CUBE)
        b = PuzzleBatch(CUBE, 4, seed=6)
        b.reset(scramble=9)
        assert b.facelets(layout).tolist() == layout.to_facelets(b.observations()).tolist()
        assert b.facelet_ids(layout).tolist() == layout.to_facelet_ids(b.sticker_ids()).tolist()
        obs, faces = b.observations().tolist(), b.facelets(layout).tolist()
        fresh = PuzzleBatch(CUBE, 4, seed=1)
        fresh.step([0] * 4)
        fresh.set_facelets(layout, faces)
        assert fresh.observations().tolist() == obs and fresh.move_counts == [0] * 4
        fresh.set_facelets(layout, faces[:54])
        assert fresh.observations().tolist() == obs[:54] * 4

    def test_general_numbering_is_the_slot_numbering(self):
        name = "Pyraminx (no tips)"
        layout = native.Layout(name)
        b = PuzzleBatch(name, 2, seed=3)
        b.scramble(5)
        assert not layout.is_cube
        assert b.facelets(layout).tolist() == b.observations().tolist()
        assert b.facelet_ids(layout).tolist() == b.sticker_ids().tolist()

    def test_catalog_names_match_their_layouts(self):
        for name in (CUBE_NAME, "Megaminx", "Pyraminx (no tips)"):
            PuzzleBatch(name, 1).same_puzzle(native.Layout(name))

    def test_refusals(self):
        layout = native.Layout(CUBE)
        b = PuzzleBatch(CUBE, 3, seed=2)
        b.scramble(4)
        before = b.sticker_ids().tolist()
        other = native.Layout("?shell=C$1&cut=C$1/2&cut=C$0")
        for call in (lambda: b.same_puzzle(other), lambda: b.facelets(other), lambda: b.facelet_ids(other),
                     lambda: b.set_facelets(other, [0] * 96)):
            with pytest.raises(ValueError, match=r"^this layout describes \?shell=C\$1&cut=C\$1/2&cut=C\$0, and "
                                                 r"this batch holds \?shell=C\$1&cut=C\$1/3$"):
                call()
        with pytest.raises(TypeError):
            b.facelets(CUBE)
        for bad in ([], list(layout.goal_colors) * 2):
            with pytest.raises(ValueError, match="is not a state each$"):
                b.set_facelets(layout, bad)
        with pytest.raises(ValueError, match="is not one of this puzzle's 6 faces"):
            b.set_facelets(layout, [6] + [0] * 53)
        with pytest.raises(ValueError, match="is not a whole number of them"):
            b.set_facelets(layout, [0] * 55)
        with pytest.raises(ValueError, match="does not have the colors of this puzzle"):
            b.set_facelets(layout, [0] * 54)
        assert b.sticker_ids().tolist() == before


class TestRender:
    def test_shapes_channels_and_dtypes(self):
        np = optional.need("numpy")
        b = PuzzleBatch(CUBE, 2, seed=1)
        b.scramble([0, 4])
        rgba = np.asarray(b.render(24, 16))
        assert rgba.shape == (2, 16, 24, 4) and rgba.dtype == np.uint8
        rgb = np.asarray(b.render(24, 16, channels=3))
        assert np.array_equal(rgb, rgba[..., :3])
        first = np.asarray(b.render(24, 16, channels=3, channels_first=True))
        assert first.shape == (2, 3, 16, 24) and np.array_equal(first, rgb.transpose(0, 3, 1, 2))
        floats = np.asarray(b.render(24, 16, dtype="float32"))
        assert floats.dtype == np.float32
        assert np.array_equal(floats, rgba.astype(np.float32) / np.float32(255))
        assert np.array_equal(np.asarray(b.render(24, 16, dtype="uint8")), rgba)
        # A solved copy paints what the rasterizer draws.
        solved = np.asarray(Puzzle(CUBE).render(24, 16, show_arrows=False))
        assert np.array_equal(rgba[0], solved) and not np.array_equal(rgba[1], solved)

    def test_refusals(self):
        b = PuzzleBatch(CUBE, 2)
        with pytest.raises(ValueError, match=r'^dtype must be "u1" or "f4", not "F4"$'):
            b.render(8, 8, dtype="F4")
        with pytest.raises(ValueError, match=r"^a frame has 3 or 4 channels, not 5$"):
            b.render(8, 8, channels=5)
        with pytest.raises(ValueError, match="^dtype must be"):
            b.render(8, 8, channels=5, dtype="x")
        with pytest.raises(ValueError, match=r"^a frame has 3 or 4 channels, not 1$"):
            b.render_states(b.observations(), 8, 8, channels=1)
        with pytest.raises(ValueError, match=r"^a state of this puzzle is 54 colors, and 10 is not a whole number"):
            b.render_states(list(range(10)), 8, 8)
        with pytest.raises(ValueError, match=r"^a state of this puzzle is 54 colors, and 10"):
            b.render_states(list(range(10)), 8, 8, dtype="x")
        with pytest.raises(ValueError, match="^dtype must be"):
            b.render_states(b.observations(), 8, 8, dtype="x")
        with pytest.raises(ValueError, match="too large"):
            b.render(65535, 65535)
        for factor in (17, 1000, 60000):  # refused where given, so every later frame can be drawn
            with pytest.raises(ValueError, match=f"^a supersampling factor must be at most 16, got {factor}$") as e:
                b.configure(supersample=factor)
            assert e.value.__notes__ == ["while processing 'supersample'"]
            with pytest.raises(ValueError, match="at most 16"):
                PuzzleBatch(CUBE, 1, supersample=factor)
        b.configure(supersample=16)
        assert b.render(2, 2).shape == (len(b), 2, 2, 4)
        with pytest.raises(ValueError):
            b.frames(60000, 60000)

    def test_render_states_and_frames(self):
        np = optional.need("numpy")
        b = PuzzleBatch(CUBE, 3, seed=5)
        b.reset(scramble=6)
        drawn = np.asarray(b.render(20, 20))
        assert np.array_equal(np.asarray(b.render_states(b.observations(), 20, 20)), drawn)
        floats = np.asarray(b.render_states(b.observations(), 20, 20, channels=3, dtype="f4"))
        assert floats.dtype == np.float32 and np.array_equal(floats, drawn[..., :3] / np.float32(255))
        assert np.asarray(b.render_states([], 20, 20)).shape == (0, 20, 20, 4)
        images = b.frames(20, 20)
        assert len(images) == 3 and all((im.width, im.height) == (20, 20) for im in images)
        assert [np.asarray(im).tolist() for im in images] == drawn.tolist()
        assert np.asarray(b.render(0, 7)).shape == (3, 7, 0, 4) and b.frames(0, 5) == []
        assert np.asarray(b.render_states(b.observations(), 7, 0)).shape == (3, 0, 7, 4)

    def test_geometric(self, heli):
        np = optional.need("numpy")
        b = PuzzleBatch(heli, 2)
        frames = np.asarray(b.render(16, 16))
        assert frames.shape == (2, 16, 16, 4)
        assert np.array_equal(frames[0], np.asarray(Puzzle(heli).render(16, 16, show_arrows=False)))
        with pytest.raises(ValueError, match="is not a whole number of them"):
            b.render_states([0] * 10, 8, 8)
        with pytest.raises(native.PuzzleError, match="^this puzzle has no drawing table"):
            b.render_states(b.solved_stickers, 8, 8)
        b.configure(fov=30)
        assert not np.array_equal(np.asarray(b.render(16, 16)), frames)


class TestReadersUnderThreads:
    def test_frames_and_flags_do_not_depend_on_the_thread_count(self):
        code = ("import gyrelle._native as g\n"
                "b = g.PuzzleBatch(%r, 40, seed=3, scramble=6)\n"
                "print(hash(b.render(12, 12).tolist().__repr__()), b.solved().tolist(),\n"
                "      sum(b.one_hot().tolist()), b.facelet_ids(g.Layout(%r)).tolist()[:60])\n" % (CUBE, CUBE))
        assert len(outputs_at_thread_counts(code, PYTHONHASHSEED="0")) == 1

    def test_readers_take_the_batch_exclusively(self):
        b = PuzzleBatch(CUBE, 20_000)
        errors, done = [], threading.Event()

        def other():
            while not done.is_set():
                try:
                    b.camera
                except RuntimeError as e:
                    errors.append(str(e))
                    return

        t = threading.Thread(target=other)
        t.start()
        try:
            for _ in range(200):
                try:
                    b.one_hot()
                except RuntimeError as e:
                    errors.append(str(e))
                if errors:
                    break
        finally:
            done.set()
            t.join()
        assert errors and set(errors) <= {"Already mutably borrowed", "Already borrowed"}

"""Every catalog puzzle against digests recorded from earlier builds: its pieces, its grips with their
exact planes (field intervals included) and stops, its sticker and action numbering and move
permutations, and the same after a short seeded scramble. Faster or sounder exact arithmetic must
leave all of these as they were. `python3 tests/python/test_catalog_digests.py --record` rewrites
the record from the build on PYTHONPATH."""
import hashlib
import json
import pathlib
import re
import sys
from concurrent.futures import ThreadPoolExecutor

import gyrelle._native as native

RECORD = pathlib.Path(__file__).with_name("catalog_digests.json")


def as_list(values):
    """An Array's values as lists nested by its shape; anything else as it is."""
    if not isinstance(values, native.Array):
        return values
    flat = values.tolist()
    for axis in reversed(values.shape[1:]):
        flat = [flat[i:i + axis] for i in range(0, len(flat), axis)]
    return flat


def attempt(read):
    try:
        return read()
    except native.PuzzleError as e:  # a jumbling puzzle has no sticker model
        return str(e)


def digest(recipe):
    p = native.Puzzle(recipe)

    def state():
        return [
            [p.piece(i) for i in range(p.piece_count)],
            [(p.grip(i), p.stops(i)) for i in range(p.grip_count)],
            attempt(lambda: as_list(p.stickers())),
        ]

    parts = [p.field, p.piece_count, state()]
    parts.append(attempt(lambda: [p.grip_names, p.actions, as_list(p.sticker_ids()), p.solved_stickers,
                                  p.palette, as_list(p.action_permutations())]))
    p.seed(7)
    p.scramble(3)
    p.settle()
    parts.append(state())
    # Field objects are keyed by address in rotation texts; only their values can be compared.
    text = re.sub(r"0x[0-9a-f]+#", "#", repr(parts))
    return hashlib.sha256(text.encode()).hexdigest()


def digests():
    recipes = [recipe for _, _, _, recipe in native.catalog()]
    with ThreadPoolExecutor(4) as pool:
        return dict(zip(recipes, pool.map(digest, recipes)))


def test_catalog_puzzles_are_unchanged():
    recorded = json.loads(RECORD.read_text())
    current = digests()
    assert len(current) == len(recorded) == 85
    assert [r for r in recorded if current[r] != recorded[r]] == []


if __name__ == "__main__" and sys.argv[1:] == ["--record"]:
    RECORD.write_text(json.dumps(digests(), indent=1) + "\n")

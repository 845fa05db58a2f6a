"""Every public function, method, property setter and constructor called with hostile arguments: only
ordinary exceptions may come out, never a panic, a crash or a hang.

One run uses a fixed seed, the other GYRELLE_FUZZ_SEED (a fresh one, shown in the test's name, when
it is not set); GYRELLE_FUZZ_SECONDS sets how long each runs.
"""
import faulthandler
import inspect
import os
import random
import time

import pytest

import gyrelle._native as gy
import optional

np = optional.module("numpy")

CUBE = "?shell=C$1&cut=C$1/3"
SECONDS = float(os.environ.get("GYRELLE_FUZZ_SECONDS", "2"))
SEEDS = [0, int(os.environ.get("GYRELLE_FUZZ_SEED") or random.SystemRandom().randrange(1 << 32))]


class Hostile(Exception):
    pass


def _raise(*_):
    raise Hostile("hostile hook")


class Raising:
    """Every conversion hook raises."""
    __index__ = __int__ = __float__ = __iter__ = __len__ = __bytes__ = __getitem__ = __bool__ = _raise
    __array_interface__ = property(_raise)


class Lying:
    """Every conversion hook answers, but not what it should."""
    __array_interface__ = {"typestr": "<u4", "shape": (1 << 40,), "data": (16, False), "version": 3}

    def __index__(self):
        return 1 << 70

    def __float__(self):
        return float("nan")

    def __len__(self):
        return 1 << 62

    def __iter__(self):
        return iter([1, "two", None, [3]])

    def __getitem__(self, i):
        if i > 3:
            raise IndexError(i)
        return -1

    def __bytes__(self):
        return "not bytes"


class Shrinking(list):
    """A list whose length and items disagree, with an interface of another type."""
    __array_interface__ = {"typestr": "|V8", "strides": None}

    def __len__(self):
        return 2

    def __index__(self):
        return -1


def hostile_values():
    return [
        None, True, False, 0, -1, 2 ** 32 - 1, 2 ** 40, 2 ** 63, 2 ** 64, -2 ** 63 - 1, 10 ** 30, -10 ** 30,
        0.5, -0.0, float("nan"), float("inf"), float("-inf"), 1e308,
        "", "\x00", "\udc80", "e\u0301", "?\udc80", "?shell=\x00", "A" * 10000, "\u0301" * 3, "C$\udc80",
        b"", b"\xff\xfe", bytearray(3), memoryview(b"\x01\x02"), [], [[]], [None], [-1], [2 ** 64], [1, [2]],
        (1, 2), (2, 1), (1,), (1, 2, 3, 4), (300, 0, 0, 0), (float("nan"),) * 3, {}, {"a": 1}, set(), range(3),
        range(-3, 0), object(), Raising(), Lying(), Shrinking([1, 2, 3]), _raise, gy.Puzzle, gy.PuzzleError,
    ] + ([] if np is None else [
        np.array([True]), np.array([1.5]), np.array([-1], dtype=np.int8), np.array([2 ** 40], dtype=np.uint64),
        np.zeros((2, 2, 2), dtype=np.int64).transpose(2, 0, 1), np.zeros(0, dtype=np.uint32),
        np.array([7], dtype=">u2"), np.uint32(3), np.array(5, dtype=np.uint8), np.float64("nan"),
    ])


def plausible_values(objects):
    """Values of the right kind for parameters of these names, so that calls get past their first
    conversion; the names not listed get hostile values only."""
    small = [0, 1, 2]
    sizes = [0, 1, 3]
    arrays = [] if np is None else [np.array([1, 0], dtype=np.uint32)]
    return {
        "recipe": [CUBE, "Helicopter Cube", "?", gy.Recipe.parse(CUBE)], "name": ["A", "U", "Megaminx", "C"],
        "query": [CUBE, "?"], "recipes": [[CUBE], ("?",), []], "expr": ["sqrt(5)/5", "1/0", "2^3^2"],
        "text": ["Hi", "A B'", "C$1/3"], "moves": ["A B2' A'", [0, 1], *arrays],
        "count": [1, 2], "depth": [0, 2, (1, 3), [1, 2]], "steps": [0, 2, (0, 2), [1]], "seed": [0, 7],
        "scramble": [0, 1], "index": small, "action": small, "stop": small, "direction": [1, -1], "repeat": [1, 2],
        "actions": [[0, 1], *arrays], "which": [None, [True, False], [1]],
        "states": [objects["batch"].observations(), objects["cube"].goal_colors, [0] * 54],
        "facelets": [objects["cube"].goal_colors, [0] * 54], "ids": [objects["cube"].goal_ids, False, True],
        "sequences": [[[0, 1]], [[]]], "layout": [objects["cube"]], "coefficients": [[-2, 0, 1], [1]],
        "width": sizes, "height": sizes, "x": [0, 1, -1, 0.5], "y": [0, 1, -1, 0.5], "dx": [0.1], "dy": [0.1],
        "factor": [1, 2], "scale": [1, 2], "max_width": [10], "color": [(1, 2, 3, 4)],
        "background": [(1, 2, 3, 4)], "supersample": [1, 2], "channels": [3, 4], "dtype": ["u1", "f4"],
        "mode": ["copy", "over", "add"], "src": [gy.Image(2, 2)], "data": [bytes(24)], "path": ["out.png"],
        "k": [2, 3], "n": [5], "numerator": [3, "7"], "denominator": [2], "shell": [[gy.Shape.parse("C$1")]],
        "cuts": [[gy.Shape.parse("C$1/3")]], "size": ["1/3"], "a": [1], "b": [0], "c": [0], "d": ["1/2"],
        "dt_ms": [16.0, 1000.0], "yaw": [30.0], "pitch": [20.0], "distance": [12.0], "fov": [15.0],
        "line_width": [1.0], "camera_position": [(0.0, 0.0, 9.0)], "camera_target": [(0.0, 0.0, 0.0)],
        "camera_up": [(0.0, 1.0, 0.0)],
    }


def make_objects():
    batch = gy.PuzzleBatch(CUBE, 2, seed=1)
    puzzle = gy.Puzzle(CUBE)
    return {
        "puzzle": puzzle, "batch": batch, "geometric": gy.PuzzleBatch("Helicopter Cube", 2),
        "cube": gy.Layout(), "image": gy.Image(3, 2), "array": batch.sticker_ids(),
        "fraction": gy.Fraction(3, 4), "real": gy.evaluate("sqrt(2)"), "shape": gy.Shape.parse("C$1/3"),
        "recipe": gy.Recipe.parse(CUBE), "grip": puzzle.grips()[0],
    }


def callables(objects):
    """(description, callable, signature) of every public entry, receivers bound where they exist."""
    out = []
    for name in gy.__all__:
        obj = getattr(gy, name)
        if callable(obj) and not isinstance(obj, type):
            out.append((name, obj, inspect.signature(obj)))
    seen = set()
    for key, instance in objects.items():
        cls = type(instance)
        for attr in dir(cls):
            kind = type(inspect.getattr_static(cls, attr)).__name__
            if attr.startswith("_") or kind not in ("method_descriptor", "classmethod_descriptor"):
                continue
            if kind == "classmethod_descriptor" and (cls, attr) in seen:
                continue
            seen.add((cls, attr))
            bound = getattr(cls if kind == "classmethod_descriptor" else instance, attr)
            out.append((f"{key}.{attr}", bound, inspect.signature(bound)))
        if cls not in seen:
            seen.add(cls)
            try:
                out.append((cls.__name__, cls, inspect.signature(cls)))
            except (TypeError, ValueError):
                pass
    return out


def arguments(rng, signature, plausible, hostile):
    args, kwargs = [], {}
    for p in signature.parameters.values():
        if p.default is not p.empty and rng.random() < 0.6:
            continue
        choices = plausible.get(p.name, [])
        value = rng.choice(choices) if choices and rng.random() < 0.7 else rng.choice(hostile)
        if p.kind == p.KEYWORD_ONLY or (p.kind == p.POSITIONAL_OR_KEYWORD and rng.random() < 0.3):
            kwargs[p.name] = value
        else:
            args.append(value)
    roll = rng.random()
    if roll < 0.05:
        args.append(rng.choice(hostile))
    elif roll < 0.1:
        kwargs[rng.choice(["bogus", "\udc80", "self", ""])] = rng.choice(hostile)
    elif roll < 0.13 and args:
        args.pop(rng.randrange(len(args)))
    return args, kwargs


def ordinary(error):
    return isinstance(error, Exception) and not isinstance(error, SystemError)


def describe(text, args, kwargs):
    def short(v):
        r = repr(v)
        return r if len(r) < 60 else r[:57] + "..."
    parts = [short(a) for a in args] + [f"{k!r}={short(v)}" for k, v in kwargs.items()]
    return f"{text}({', '.join(parts)})"


def settable_properties(objects):
    out = []
    for key, obj in objects.items():
        for attr in dir(type(obj)):
            if not attr.startswith("_") and inspect.isdatadescriptor(inspect.getattr_static(type(obj), attr)):
                out.append((key, attr))
    return out


def operands(rng, objects, hostile):
    pool = [objects["fraction"], objects["real"], objects["shape"], objects["recipe"], objects["array"]]
    return rng.choice(pool), rng.choice(pool + hostile)


BINARY = [lambda a, b: a + b, lambda a, b: a - b, lambda a, b: a * b, lambda a, b: a / b, lambda a, b: a < b,
          lambda a, b: a == b, lambda a, b: a >= b, lambda a, b: a[b]]
UNARY = [repr, str, len, hash, float, abs, lambda a: -a, bool, lambda a: a.__array_interface__]


@pytest.mark.filterwarnings("ignore::DeprecationWarning")
@pytest.mark.parametrize("seed", SEEDS, ids=lambda s: f"seed={s}")
def test_hostile_arguments(seed, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)  # whatever Image.save is given lands here
    rng = random.Random(seed)
    objects = make_objects()
    hostile = hostile_values()
    plausible = plausible_values(objects)
    entries = callables(objects)
    properties = settable_properties(objects)
    faults, calls = [], 0
    faulthandler.dump_traceback_later(600, exit=True)  # a hang ends the run with every stack printed
    try:
        deadline = time.monotonic() + SECONDS
        while time.monotonic() < deadline and len(faults) < 5:
            calls += 1
            roll = rng.random()
            if roll < 0.75:
                text, function, signature = rng.choice(entries)
                args, kwargs = arguments(rng, signature, plausible, hostile)
                call, what = (lambda: function(*args, **kwargs)), describe(text, args, kwargs)
            elif roll < 0.9:
                key, attr = rng.choice(properties)
                value = rng.choice(plausible.get(attr, []) + hostile)
                if rng.random() < 0.1:
                    call, what = (lambda: delattr(objects[key], attr)), f"del {key}.{attr}"
                else:
                    call, what = (lambda: setattr(objects[key], attr, value)), f"{key}.{attr} = {value!r:.60}"
            elif roll < 0.97:
                a, b = operands(rng, objects, hostile)
                op = rng.choice(BINARY)
                call, what = (lambda: op(a, b)), f"binary op {BINARY.index(op)} of {a!r:.40} and {b!r:.40}"
            else:
                a = rng.choice(list(objects.values()))
                op = rng.choice(UNARY)
                call, what = (lambda: op(a)), f"unary op {UNARY.index(op)} of {a!r:.40}"
            try:
                call()
            except BaseException as error:  # noqa: B036 -- anything but an ordinary exception is the fault
                if not ordinary(error):
                    faults.append(f"{what}: {type(error).__name__}: {error}")
    finally:
        faulthandler.cancel_dump_traceback_later()
    assert calls > 50
    assert not faults, f"seed {seed}:\n" + "\n".join(faults)

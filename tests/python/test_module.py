import os
import subprocess
import sys

import pytest

import gyrelle._native as native

# Classes and functions join __all__ as they are built; the names present keep this order.
FULL_ORDER = [
    "__version__", "PuzzleError", "Fraction", "Real", "Image", "Puzzle", "Shape", "Recipe", "Grip",
    "PuzzleBatch", "Array", "Layout", "catalog", "polyhedra", "evaluate", "factor_polynomial",
    "build_many", "render_many", "thread_count", "jumbles", "non_jumbling", "free_threaded",
]


def test_all_keeps_the_order_and_names_attributes():
    names = native.__all__
    assert names == [n for n in FULL_ORDER if n in names]
    for required in ("__version__", "PuzzleError", "PuzzleBatch", "Array", "Layout", "thread_count",
                     "free_threaded"):
        assert required in names
    for name in names:
        assert hasattr(native, name)
    assert "_testing" not in names


def test_version_and_flag():
    assert native.__version__ == "0.1.1"
    assert native.free_threaded is True


def test_puzzle_error():
    e = native.PuzzleError
    assert e.__module__ == "gyrelle._native"
    assert e.__name__ == "PuzzleError"
    assert e.__doc__ == "Base class for errors raised by the gyrelle extension."
    assert issubclass(e, Exception)


def test_module_doc_is_the_five_lines():
    lines = native.__doc__.split("\n")
    assert len(lines) == 5
    assert lines[0].startswith("`gil_used = false`")
    assert not native.__doc__.endswith("\n")


@pytest.mark.parametrize("cls, signature, description", [
    (native.Layout, "(recipe=None)", "A puzzle's stickers numbered face by face, and the moves over them."),
    (native.PuzzleBatch, "(recipe, count, *, seed=None, scramble=None, background=None, supersample=None, "
     "show_edges=None, show_pieces=None, line_width=None, fov=None, distance=None, yaw=None, pitch=None)",
     "Parallel simulator for multiple instances of a twisty puzzle."),
])
def test_class_names_and_signatures(cls, signature, description):
    assert cls.__name__ == cls.__qualname__
    assert "." not in cls.__name__
    assert cls.__text_signature__ == signature
    assert cls.__doc__.startswith(description)


def test_array_has_no_constructor():
    assert native.Array.__doc__.startswith(
        "A contiguous memory buffer formatted for zero-copy NumPy inspection.")
    with pytest.raises(TypeError):
        native.Array()


def test_thread_count():
    n = native.thread_count()
    assert isinstance(n, int) and n >= 1
    assert native.thread_count() == n
    assert native.thread_count.__module__ == "gyrelle._native"
    assert native.thread_count.__text_signature__ == "()"


def test_pool_size_from_environment():
    code = "import gyrelle._native as n; print(n.thread_count())"
    env = dict(os.environ, RAYON_NUM_THREADS="3", PYTHONPATH=":".join(sys.path))
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "3"


def test_gil_stays_disabled():
    if not hasattr(sys, "_is_gil_enabled"):
        pytest.skip("interpreter without a GIL switch")
    code = "import sys; g = sys._is_gil_enabled(); import gyrelle._native; print(g, sys._is_gil_enabled())"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                         env=dict(os.environ, PYTHONPATH=":".join(sys.path)))
    before, after = out.stdout.split()
    assert after == before


def test_import_is_warning_free():
    code = "import gyrelle._native as n; print(n.Array.__module__, n.Array.__name__)"
    out = subprocess.run([sys.executable, "-W", "error", "-c", code], capture_output=True, text=True, check=True,
                         env=dict(os.environ, PYTHONPATH=":".join(sys.path)))
    assert out.stdout.split() == ["gyrelle._native", "Array"]

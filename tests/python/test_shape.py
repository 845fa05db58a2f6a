import re

import pytest

import gyrelle._native as native
from gyrelle._native import Fraction, PuzzleError, Shape
from test_fraction import siphash13

convert = native._testing.convert


def text_hash(text):
    h = siphash13(text.encode() + b"\xff")
    h = h - 2**64 if h >= 2**63 else h
    return -2 if h == -1 else h


@pytest.mark.parametrize("shape, text", [
    (Shape.polyhedron("C", "1/3"), "C$1/3"),
    (Shape.polyhedron("C"), "C$1"),
    (Shape.polyhedron(name="UD16", size=2), "UD16$2"),
    (Shape.polyhedron("C", Fraction(2)), "C$2/1"),
    (Shape.polyhedron("D", "2/(sqrt(5)+1)"), "D$2/(sqrt(5)+1)"),
    (Shape.plane(1, 0, 0, "1/2"), "1,0,0$1/2"),
    (Shape.plane(d=Fraction(-1, 2), c="sqrt(2)", b=-1, a=0), "0,-1,sqrt(2)$-1/2"),
])
def test_fields_texts_and_hash(shape, text):
    left, size = text.split("$")
    assert str(shape) == text and shape.size == size
    if shape.kind == "plane":
        assert shape.name is None and shape.coefficients == tuple(left.split(","))
        assert repr(shape) == "Shape.plane(%s)" % ", ".join(f'"{t}"' for t in left.split(",") + [size])
    else:
        assert shape.kind == "polyhedron" and shape.name == left and shape.coefficients is None
        assert repr(shape) == f'Shape.polyhedron("{left}", "{size}")'
    again = Shape.parse(text)
    assert again == shape and eval(repr(shape), {"Shape": Shape}) == shape
    assert hash(shape) == hash(again) == text_hash(text)


def test_equality_follows_the_trees_and_there_is_no_order():
    assert Shape.polyhedron("C", "1/2") != Shape.polyhedron("C", "2/4")
    assert Shape.polyhedron("C") != Shape.plane(1, 0, 0, 1)
    assert (Shape.polyhedron("C") == "C$1") is False
    assert len({Shape.parse("C$1"), Shape.polyhedron("C"), Shape.polyhedron("C", 1), Shape.parse("C$2")}) == 2
    c = Shape.polyhedron("C")
    for op in ("__lt__", "__le__", "__gt__", "__ge__"):
        with pytest.raises(TypeError, match="^shapes are not ordered$"):
            getattr(c, op)(c)


def test_catalog_shapes_read_back():
    for row in native.catalog():
        for part in row[3][1:].split("&"):
            s = Shape.parse(part.split("=")[1])
            assert Shape.parse(str(s)) == s


def test_codes():
    for code in ["C$1", "a,b", "x&y", "k=v", "C%24"]:
        with pytest.raises(ValueError, match=re.escape(f'"{code}" is not a polyhedron code')):
            Shape.polyhedron(code)
    assert str(Shape.polyhedron("Nope")) == "Nope$1"
    assert repr(Shape.polyhedron('a"b\\\n')) == 'Shape.polyhedron("a\\"b\\\\\\n", "1")'


@pytest.mark.parametrize("call, name, exc", [
    (lambda: Shape.polyhedron("C", 1.5), "size", TypeError),
    (lambda: Shape.polyhedron("C", 2**63), "size", TypeError),
    (lambda: Shape.plane(1, [], 2.0, 0), "b", TypeError),
    (lambda: Shape.polyhedron(3), "name", TypeError),
    (lambda: Shape.parse(b"C$1"), "text", TypeError),
    (lambda: Shape.polyhedron("C", "1/"), "size", PuzzleError),
])
def test_argument_errors_name_the_argument(call, name, exc):
    with pytest.raises(exc) as e:
        call()
    assert e.value.__notes__ == [f"while processing '{name}'"]


def test_unreadable_texts_and_class():
    for bad in ["C", "C$1$2", "C$(1", "1,0,0$+"]:
        with pytest.raises(PuzzleError):
            Shape.parse(bad)
    assert Shape.__doc__.startswith("One shell or one cut: a named polyhedron, or a bare plane.")
    assert Shape.polyhedron.__text_signature__ == "(name, size=None)"
    with pytest.raises(TypeError):
        Shape()
    with pytest.raises(AttributeError):
        Shape.polyhedron("C").size = "2"


def test_exact_number_converter():
    assert [convert("exact", v) for v in (Fraction(1, 3), Fraction(2), 1, True, "(1+sqrt(5))/2")] == \
        ["1/3", "2/1", "1", "1", "(1+sqrt(5))/2"]
    for bad, name in ((2**63, "int"), (1.0, "float"), (None, "NoneType")):
        with pytest.raises(TypeError, match=f"^expected an expression as text, an integer or a Fraction, not {name}$"):
            convert("exact", bad)


def test_shell_and_cut_converter():
    c = Shape.polyhedron("C")
    assert convert("shell", None) == [] == convert("cuts", [])
    assert convert("shell", "C$1") == [c] == convert("shell", ["C$1"]) == convert("shell", c)
    assert convert("cuts", (s for s in ["C$0", c])) == [Shape.parse("C$0"), c]
    with pytest.raises(TypeError, match="^shell must hold Shapes or their text, not int$"):
        convert("shell", ["C$1", 3])
    with pytest.raises(TypeError, match="^shell must be a Shape, its text, or a sequence of either$"):
        convert("shell", 3)
    with pytest.raises(PuzzleError):
        convert("cuts", ["C$1", "C"])

    def failing():
        yield "C$1"
        raise KeyError("inside")

    with pytest.raises(KeyError, match="inside"):
        convert("cuts", failing())

import pytest

import gyrelle._native as native
from gyrelle._native import Fraction, PuzzleError, Shape
from test_fraction import siphash13

convert = native._testing.convert


def text_hash(text):
    h = siphash13(text.encode() + b"\xff")
    h = h - 2**64 if h >= 2**63 else h
    return -2 if h == -1 else h


@pytest.mark.parametrize("shape, text, size", [
    (Shape.polyhedron("C", "1/3"), "C$1/3", "1/3"),
    (Shape.polyhedron("C"), "C$1", "1"),
    (Shape.polyhedron("C", None), "C$1", "1"),
    (Shape.polyhedron(name="UD16", size=2), "UD16$2", "2"),
    (Shape.polyhedron("C", Fraction(1, 3)), "C$1/3", "1/3"),
    (Shape.polyhedron("C", Fraction(2)), "C$2/1", "2/1"),
    (Shape.polyhedron("C", Fraction(-3, 2)), "C$-3/2", "-3/2"),
    (Shape.polyhedron("D", "2/(sqrt(5)+1)"), "D$2/(sqrt(5)+1)", "2/(sqrt(5)+1)"),
    (Shape.polyhedron("C", -2**63 + 1), f"C${-2**63 + 1}", str(-2**63 + 1)),
])
def test_polyhedron(shape, text, size):
    assert shape.kind == "polyhedron"
    assert shape.name == text.split("$")[0]
    assert shape.size == size
    assert shape.coefficients is None
    assert str(shape) == text
    assert repr(shape) == f'Shape.polyhedron("{shape.name}", "{size}")'
    assert Shape.parse(text) == shape
    assert hash(shape) == text_hash(text) == hash(Shape.parse(text))


def test_plane():
    p = Shape.plane(1, 0, 0, "1/2")
    assert p.kind == "plane" and p.name is None
    assert p.coefficients == ("1", "0", "0") and p.size == "1/2"
    assert str(p) == "1,0,0$1/2"
    assert repr(p) == 'Shape.plane("1", "0", "0", "1/2")'
    assert Shape.parse("1,0,0$1/2") == p
    assert hash(p) == text_hash("1,0,0$1/2")
    q = Shape.plane(d=Fraction(1, 2), c="sqrt(2)", b=-1, a=0)
    assert q.coefficients == ("0", "-1", "sqrt(2)") and q.size == "1/2"


def test_equality_follows_the_trees():
    assert Shape.polyhedron("C", "1/2") != Shape.polyhedron("C", "2/4")
    assert Shape.polyhedron("C", "1/2") == Shape.parse("C$1/2")
    assert Shape.polyhedron("C") != Shape.polyhedron("O")
    assert Shape.plane(1, 0, 0, 1) != Shape.plane(0, 1, 0, 1)
    assert Shape.polyhedron("C") != Shape.plane(1, 0, 0, 1)
    assert (Shape.polyhedron("C") == "C$1") is False
    assert (Shape.polyhedron("C") != "C$1") is True
    assert len({Shape.parse("C$1"), Shape.polyhedron("C"), Shape.polyhedron("C", 1), Shape.parse("C$2")}) == 2


def test_shapes_are_not_ordered():
    c = Shape.polyhedron("C")
    for op in ("__lt__", "__le__", "__gt__", "__ge__"):
        with pytest.raises(TypeError, match="^shapes are not ordered$"):
            getattr(c, op)(c)
    with pytest.raises(TypeError):
        c < 1


def test_texts_read_back():
    for text in ["C$1/3", "jD$sqrt(5)-2", "1,0,0$1/2", "-1,2/3,sqrt(2)$(5+3*sqrt(5))/10",
                 "O$2^(1/2)", "dP3$-(1/2)"]:
        s = Shape.parse(text)
        assert Shape.parse(str(s)) == s
        assert eval(repr(s), {"Shape": Shape}) == s
    for row in native.catalog():
        for part in row[3][1:].split("&"):
            s = Shape.parse(part.split("=")[1])
            assert Shape.parse(str(s)) == s


@pytest.mark.parametrize("code", ["C$1", "a,b", "x&y", "k=v", "C%24"])
def test_codes_that_would_not_read_back(code):
    with pytest.raises(ValueError) as e:
        Shape.polyhedron(code)
    assert str(e.value) == f'"{code}" is not a polyhedron code'


def test_unknown_codes_and_odd_names_are_kept():
    assert str(Shape.polyhedron("Nope")) == "Nope$1"
    s = Shape.polyhedron('a"b\\\n')
    assert s.name == 'a"b\\\n'
    assert repr(s) == 'Shape.polyhedron("a\\"b\\\\\\n", "1")'


@pytest.mark.parametrize("call, name, exc", [
    (lambda: Shape.polyhedron("C", 1.5), "size", TypeError),
    (lambda: Shape.polyhedron("C", 2**63), "size", TypeError),
    (lambda: Shape.polyhedron("C", [1]), "size", TypeError),
    (lambda: Shape.plane(1, 0, None, 0), "c", TypeError),
    (lambda: Shape.plane(1, 0, 0, 0.5), "d", TypeError),
    (lambda: Shape.polyhedron(3), "name", TypeError),
    (lambda: Shape.parse(b"C$1"), "text", TypeError),
])
def test_argument_errors_name_the_argument(call, name, exc):
    with pytest.raises(exc) as e:
        call()
    assert f"while processing '{name}'" in e.value.__notes__


def test_exact_number_message():
    with pytest.raises(TypeError, match="^expected an expression as text, an integer or a Fraction, not float$"):
        Shape.polyhedron("C", 1.5)
    # The first bad coefficient stops the conversion.
    with pytest.raises(TypeError) as e:
        Shape.plane(1, [], 2.0, 0)
    assert e.value.__notes__ == ["while processing 'b'"]


@pytest.mark.parametrize("call", [
    lambda: Shape.parse("C"),
    lambda: Shape.parse("C$1$2"),
    lambda: Shape.parse("C$(1"),
    lambda: Shape.polyhedron("C", "1/"),
    lambda: Shape.plane(1, 0, 0, "+"),
])
def test_unreadable_text_is_a_puzzle_error(call):
    with pytest.raises(PuzzleError):
        call()


def test_class_has_no_constructor_and_is_frozen():
    assert Shape.__name__ == "Shape" and Shape.__module__ == "gyrelle._native"
    assert Shape.__doc__.startswith("One shell or one cut: a named polyhedron, or a bare plane.")
    assert Shape.polyhedron.__text_signature__ == "(name, size=None)"
    assert Shape.plane.__text_signature__ == "(a, b, c, d)"
    assert Shape.parse.__text_signature__ == "(text)"
    with pytest.raises(TypeError):
        Shape()
    s = Shape.polyhedron("C")
    with pytest.raises(AttributeError):
        s.size = "2"
    with pytest.raises(AttributeError):
        s.extra = 1


def test_exact_number_converter():
    assert convert("exact", Fraction(1, 3)) == "1/3"
    assert convert("exact", Fraction(2)) == "2/1"
    assert convert("exact", 1) == "1"
    assert convert("exact", True) == "1"
    assert convert("exact", "(5+3*sqrt(5))/10") == "(5+3*sqrt(5))/10"
    for bad, name in ((2**63, "int"), (1.0, "float"), (None, "NoneType")):
        with pytest.raises(TypeError) as e:
            convert("exact", bad)
        assert str(e.value) == f"expected an expression as text, an integer or a Fraction, not {name}"


def test_shell_and_cut_converter():
    c = Shape.polyhedron("C")
    assert convert("shell", None) == []
    assert convert("shell", "C$1") == [c] == convert("shell", ["C$1"]) == convert("shell", c)
    assert convert("cuts", ("C$1/3", Shape.polyhedron("O"))) == [Shape.parse("C$1/3"), Shape.parse("O$1")]
    assert convert("cuts", (s for s in ["C$0"])) == [Shape.parse("C$0")]
    assert convert("cuts", []) == []
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

import pytest

import gyrelle._native as native
from gyrelle._native import PuzzleError, Recipe, Shape
from test_shape import text_hash

convert = native._testing.convert
C = Shape.polyhedron("C")
C3 = Shape.polyhedron("C", "1/3")


def test_from_shapes():
    r = Recipe([C], [C3])
    assert r.query == str(r) == "?shell=C$1&cut=C$1/3"
    assert r == Recipe.parse(r.query) == Recipe(cuts=(C3,), shell=(C,))
    assert repr(r) == 'Recipe.parse("?shell=C$1&cut=C$1/3")'
    assert hash(r) == text_hash(r.query) == hash(Recipe.parse(r.query))
    assert r.shell == [C] and r.cuts == [C3]
    e = Recipe()
    assert e.shell == [] == e.cuts and e.query == "?" and e == Recipe.parse("")
    assert Recipe(cuts=[C3]).query == "?cut=C$1/3"


@pytest.mark.parametrize("args, kwargs, name, message", [
    ((None,), {}, "shell", "'NoneType' object is not an instance of 'Sequence'"),
    (([], "C$1"), {}, "cuts", "Can't extract `str` to `Vec`"),
    ((["C$1"],), {}, "shell", "'str' object is not an instance of 'Shape'"),
    ((), {"cuts": {C3}}, "cuts", "'set' object is not an instance of 'Sequence'"),
])
def test_shape_sequences_are_checked(args, kwargs, name, message):
    with pytest.raises(TypeError, match=f"^{message}$") as e:
        Recipe(*args, **kwargs)
    assert e.value.__notes__ == [f"while processing '{name}'"]


def test_edits_return_new_recipes():
    r = Recipe([C], [C3])
    s = Shape.plane(1, 0, 0, "1/2")
    assert r.adding_cuts([s]).cuts == [C3, s] and r.cuts == [C3]
    assert r.with_cuts([]).cuts == [] and r.with_shell(r.shell) == r
    assert r.with_shell([Shape.polyhedron("O")]).query == "?shell=O$1&cut=C$1/3"
    with pytest.raises(TypeError) as e:
        r.adding_cuts("C$0")
    assert e.value.__notes__ == ["while processing 'cuts'"]
    r.cuts.append(s)
    assert r.cuts == [C3]


def test_comparison():
    r = Recipe.parse("?shell=C$1&cut=C$1/3")
    assert r != Recipe.parse("?shell=C$1&cut=C$2/6")
    assert r != Recipe.parse("?shell=C$1&cut=C$1/3&cut=C$1/3")
    assert r != Recipe([C3], [C])
    assert (r == r.query) is False
    for op in ("__lt__", "__le__", "__gt__", "__ge__"):
        with pytest.raises(TypeError, match="^recipes are not ordered$"):
            getattr(r, op)(r)


def test_catalog_recipes_read_back():
    for name, _, _, query in native.catalog():
        r = Recipe.parse(query)
        again = Recipe.parse(r.query)
        assert again == r and hash(again) == hash(r) == text_hash(r.query)


def test_named_and_parse_errors(capfd):
    assert Recipe.named("megaminx").query == "?shell=D$1&cut=D$2/(sqrt(5)+1)"
    assert Recipe.named("?shell=C$1").query == "?shell=C$1"
    with pytest.raises(ValueError) as e:
        Recipe.named("Unknown")
    assert str(e.value).startswith('10 cataloged puzzles are named "Unknown", build one by recipe instead: ?shell=')
    assert str(e.value).count("?shell=") == 10
    with pytest.raises(ValueError, match=r'^no cataloged puzzle named "a\\"b"$'):
        Recipe.named('a"b')
    for bad in ["shell=C$1", "?shell", "?shell=C$1=2", "?cut=C"]:
        with pytest.raises(PuzzleError):
            Recipe.parse(bad)
    assert Recipe.parse("?shell=C$1&colour=red&cut=C$0").query == "?shell=C$1&cut=C$0"
    assert "warning: ignoring unknown key colour" in capfd.readouterr().err


def test_class():
    assert Recipe.__text_signature__ == "(shell=..., cuts=...)"
    assert Recipe.__doc__.startswith("A puzzle's shell and its cuts: everything needed to build one.")
    assert Recipe.parse.__text_signature__ == "(query)"
    with pytest.raises(AttributeError):
        Recipe().shell = []


def test_recipe_converters():
    r = Recipe.parse("?shell=C$1&cut=C$0&cut=C$1/2")
    assert convert("recipe", "?not even a recipe") == "?not even a recipe"
    assert convert("recipe", "megaminx") == "?shell=D$1&cut=D$2/(sqrt(5)+1)"
    assert convert("recipe", r) == r.query
    with pytest.raises(ValueError, match='^no cataloged puzzle named ""$'):
        convert("recipe", "")
    with pytest.raises(TypeError, match="^expected a recipe query string, a catalog name or a Recipe, not int$"):
        convert("recipe", 42)
    assert convert("recipes", ("Megaminx", r)) == [("?shell=D$1&cut=D$2/(sqrt(5)+1)", "Megaminx"), (r.query, r.query)]
    with pytest.raises(TypeError, match="^Can't extract `str` to `Vec`$"):
        convert("recipes", "Megaminx")

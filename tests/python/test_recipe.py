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
    assert r == Recipe.parse("?shell=C$1&cut=C$1/3")
    assert repr(r) == 'Recipe.parse("?shell=C$1&cut=C$1/3")'
    assert eval(repr(r), {"Recipe": Recipe}) == r
    assert hash(r) == text_hash(r.query) == hash(Recipe.parse(r.query))
    assert Recipe(cuts=(C3,), shell=(C,)) == r
    assert r.shell == [C] and r.cuts == [C3]


def test_empty_and_partial():
    e = Recipe()
    assert e.shell == [] and e.cuts == [] and e.query == "?"
    assert e == Recipe.parse("?") == Recipe.parse("")
    assert Recipe([C]).query == "?shell=C$1"
    assert Recipe(cuts=[C3]).query == "?cut=C$1/3"


@pytest.mark.parametrize("args, kwargs, name, message", [
    ((None,), {}, "shell", "'NoneType' object is not an instance of 'Sequence'"),
    (([], "C$1"), {}, "cuts", "Can't extract `str` to `Vec`"),
    ((["C$1"],), {}, "shell", "'str' object is not an instance of 'Shape'"),
    (([C], [C3, 1]), {}, "cuts", "'int' object is not an instance of 'Shape'"),
    ((), {"cuts": {C3}}, "cuts", "'set' object is not an instance of 'Sequence'"),
])
def test_shape_sequences_are_checked(args, kwargs, name, message):
    with pytest.raises(TypeError) as e:
        Recipe(*args, **kwargs)
    assert str(e.value) == message
    assert f"while processing '{name}'" in e.value.__notes__


def test_edits_return_new_recipes():
    r = Recipe([C], [C3])
    s = Shape.plane(1, 0, 0, "1/2")
    more = r.adding_cuts([s])
    assert more.cuts == [C3, s] and more.shell == [C]
    assert r.cuts == [C3]
    assert r.with_cuts([]).cuts == []
    assert r.with_shell(r.shell) == r
    assert r.with_shell([Shape.polyhedron("O")]).query == "?shell=O$1&cut=C$1/3"
    assert r.with_cuts(cuts=[s, s]).query == "?shell=C$1&cut=1,0,0$1/2&cut=1,0,0$1/2"
    with pytest.raises(TypeError) as e:
        r.adding_cuts("C$0")
    assert e.value.__notes__ == ["while processing 'cuts'"]
    # Lists handed out are copies.
    cuts = r.cuts
    cuts.append(s)
    assert r.cuts == [C3]


def test_comparison():
    r = Recipe.parse("?shell=C$1&cut=C$1/3")
    assert r != Recipe.parse("?shell=C$1&cut=C$2/6")
    assert r != Recipe.parse("?shell=C$1&cut=C$1/3&cut=C$1/3")
    assert r != Recipe([C3], [C])
    assert (r == r.query) is False and (r != r.query) is True
    for op in ("__lt__", "__le__", "__gt__", "__ge__"):
        with pytest.raises(TypeError, match="^recipes are not ordered$"):
            getattr(r, op)(r)
    assert len({r, Recipe([C], [C3]), Recipe.parse("?shell=C$1")}) == 2


def test_catalog_recipes_read_back():
    for name, _, _, query in native.catalog():
        r = Recipe.parse(query)
        assert len(r.shell) == 1 and len(r.cuts) >= 1
        again = Recipe.parse(r.query)
        assert again == r and hash(again) == hash(r)
        assert Recipe(r.shell, r.cuts) == r


def test_named():
    assert Recipe.named("megaminx").query == "?shell=D$1&cut=D$2/(sqrt(5)+1)"
    assert Recipe.named(name="MEGAMINX") == Recipe.named("Megaminx")
    assert Recipe.named("?shell=C$1").query == "?shell=C$1"
    with pytest.raises(ValueError) as e:
        Recipe.named("Unknown")
    text = str(e.value)
    assert text.startswith('10 cataloged puzzles are named "Unknown", build one by recipe instead: ?shell=')
    assert text.count("?shell=") == 10
    with pytest.raises(ValueError, match='^no cataloged puzzle named ""$'):
        Recipe.named("")
    with pytest.raises(ValueError, match=r'^no cataloged puzzle named "a\\"b"$'):
        Recipe.named('a"b')
    with pytest.raises(PuzzleError):
        Recipe.named("?shell=C")


def test_parse_errors_and_warnings(capfd):
    for bad in ["shell=C$1", "?shell", "?shell=C$1=2", "?cut=C"]:
        with pytest.raises(PuzzleError):
            Recipe.parse(bad)
    r = Recipe.parse("?shell=C$1&colour=red&cut=C$0")
    assert r.query == "?shell=C$1&cut=C$0"
    assert "warning: ignoring unknown key colour" in capfd.readouterr().err
    with pytest.raises(TypeError) as e:
        Recipe.parse(1)
    assert e.value.__notes__ == ["while processing 'query'"]


def test_class_is_frozen_and_documented():
    assert Recipe.__text_signature__ == "(shell=..., cuts=...)"
    assert Recipe.__doc__.startswith("A puzzle's shell and its cuts: everything needed to build one.")
    assert Recipe.parse.__text_signature__ == "(query)"
    assert Recipe.named.__text_signature__ == "(name)"
    assert Recipe.with_shell.__text_signature__ == "($self, shell)"
    r = Recipe()
    with pytest.raises(AttributeError):
        r.shell = []
    with pytest.raises(AttributeError):
        r.extra = 1


def test_recipe_converter():
    assert convert("recipe", "?shell=C$1&cut=C$1/3") == "?shell=C$1&cut=C$1/3"
    assert convert("recipe", "?not even a recipe") == "?not even a recipe"
    assert convert("recipe", "megaminx") == "?shell=D$1&cut=D$2/(sqrt(5)+1)"
    r = Recipe.parse("?shell=C$1&cut=C$0&cut=C$1/2")
    assert convert("recipe", r) == r.query
    with pytest.raises(ValueError, match='^no cataloged puzzle named ""$'):
        convert("recipe", "")
    with pytest.raises(TypeError, match="^expected a recipe query string, a catalog name or a Recipe, not int$"):
        convert("recipe", 42)
    with pytest.raises(ValueError):
        convert("recipe", "Unknown")


def test_recipe_list_converter():
    r = Recipe([C], [C3])
    assert convert("recipes", ("Megaminx", r)) == [
        ("?shell=D$1&cut=D$2/(sqrt(5)+1)", "Megaminx"), (r.query, r.query)]
    assert convert("recipes", []) == []
    with pytest.raises(TypeError, match="^Can't extract `str` to `Vec`$"):
        convert("recipes", "Megaminx")
    with pytest.raises(TypeError, match="^expected a recipe query string"):
        convert("recipes", ["Megaminx", 7])

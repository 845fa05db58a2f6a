import unicodedata

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


def test_names_in_messages_escape_every_hidden_or_combining_character():
    with pytest.raises(ValueError) as e:
        Recipe.named("a\u0301\u200b\ufeff\u00a0 \t\u2028\U000e0001\U0010ffff\u00e9\U0001f600")
    assert str(e.value) == r'no cataloged puzzle named "a\u{301}\u{200b}\u{feff}\u{a0} \t\u{2028}\u{e0001}\u{10ffff}é😀"'
    # Every code point, against the host's idea of printable and the combining categories, where the
    # host's character tables are of the Unicode version the module's were made from.
    if unicodedata.unidata_version != "14.0.0":
        return
    other_extenders = {0x9BE, 0x9D7, 0xB3E, 0xB57, 0xBBE, 0xBD7, 0xCC2, 0xCD5, 0xCD6, 0xD3E, 0xD57, 0xDCF, 0xDDF,
                       0x1B35, 0x200C, 0x302E, 0x302F, 0xFF9E, 0xFF9F, 0x1133E, 0x11357, 0x114B0, 0x114BD, 0x115AF,
                       0x11930, 0x1D165, *range(0x1D16E, 0x1D173), *range(0xE0020, 0xE0080)}
    specials = {'"': '\\"', "\\": "\\\\", "\0": "\\0", "\t": "\\t", "\r": "\\r", "\n": "\\n"}
    points = [c for c in range(0x110000) if not 0xD800 <= c <= 0xDFFF]
    for start in range(0, len(points), 20_000):
        chunk = "".join(chr(c) for c in points[start:start + 20_000])
        with pytest.raises(ValueError) as e:
            Recipe.named("x" + chunk)
        got = str(e.value)[len('no cataloged puzzle named "x'):-1]
        want = []
        for ch in chunk:
            c = ord(ch)
            hidden = not ch.isprintable() or unicodedata.category(ch) in ("Mn", "Me") or c in other_extenders
            want.append(specials.get(ch) or (f"\\u{{{c:x}}}" if hidden else ch))
        assert got == "".join(want)


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

import gyrelle._native as native


def test_catalog_rows():
    rows = native.catalog()
    assert len(rows) == 85
    assert all(isinstance(r, tuple) and len(r) == 4 and all(isinstance(t, str) for t in r) for r in rows)
    assert rows[0] == ("Vostrand-Kellin Pyramid", "Tetrahedra", "Face/corner-turning", "?shell=T$1&cut=T$0")
    assert ("Megaminx", "Dodecahedra", "Face-turning", "?shell=D$1&cut=D$2/(sqrt(5)+1)") in rows
    assert all(r[3].startswith("?shell=") for r in rows)
    assert sum(r[0] == "Unknown" for r in rows) == 10
    again = native.catalog()
    assert again == rows and again is not rows
    again.clear()
    assert len(native.catalog()) == 85


def test_non_jumbling_is_a_subsequence_of_the_catalog():
    texts = native.non_jumbling()
    assert len(texts) == 36 and len(set(texts)) == 36
    assert texts[0] == "?shell=T$1&cut=T$0"
    assert texts[-1] == "?shell=I$sqrt(5)+2&cut=D$(sqrt(5)+1)/2+2/3&cut=D$(sqrt(5)+1)/2+4/3"
    recipes = [r[3] for r in native.catalog()]
    positions = [recipes.index(t) for t in texts]
    assert positions == sorted(positions)
    again = native.non_jumbling()
    assert again == texts and again is not texts


def test_signatures():
    for name in ("catalog", "non_jumbling", "thread_count"):
        f = getattr(native, name)
        assert f.__text_signature__ == "()"
        assert f.__module__ == "gyrelle._native"


def test_polyhedra_rows():
    rows = native.polyhedra()
    assert len(rows) == 38 and len({code for code, _ in rows}) == 38
    assert all(isinstance(r, tuple) and len(r) == 2 and all(isinstance(t, str) for t in r) for r in rows)
    assert ("C", "Cube") in rows
    codes = [code for code, _ in rows]
    # Every code a catalog recipe uses is in the table.
    used = {part.split("=")[1].split("$")[0] for r in native.catalog() for part in r[3][1:].split("&")}
    assert used <= set(codes)
    again = native.polyhedra()
    assert again == rows and again is not rows
    assert native.polyhedra.__text_signature__ == "()"

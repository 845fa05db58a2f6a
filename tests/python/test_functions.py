import fractions
import random
import threading

import pytest

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


def test_evaluate():
    x = native.evaluate("sqrt(5)/5")
    assert isinstance(x, native.Real) and x * x == native.Real.parse("1/5")
    with pytest.raises(native.PuzzleError):
        native.evaluate("sqrt(5")
    with pytest.raises(TypeError, match="^'int' object is not an instance of 'str'$") as e:
        native.evaluate(5)
    assert e.value.__notes__ == ["while processing 'expr'"]


def product(factors):
    p = [fractions.Fraction(1)]
    for f in factors:
        out = [fractions.Fraction(0)] * (len(p) + len(f) - 1)
        for i, x in enumerate(p):
            for j, y in enumerate(f):
                out[i + j] += x * fractions.Fraction(y)
        p = out
    while p and p[-1] == 0:
        p.pop()
    return p


def monic(f):
    return tuple(fractions.Fraction(c) / fractions.Fraction(f[-1]) for c in f)


def check_factorisation(coefficients, known):
    """The factors multiply back to the input exactly and are the known irreducible ones."""
    factors = native.factor_polynomial(coefficients)
    assert product(factors) == product([coefficients])
    assert sorted(monic(f) for f in factors if len(f) > 1) == sorted(monic(f) for f in known)
    assert all(len(f) > 1 for f in factors[1:])
    return factors


@pytest.mark.parametrize("coefficients, known", [
    ([-1, 0, 1], [[-1, 1], [1, 1]]),
    ([2, 4, 0, 0], [[1, 2]]),
    ([0, 0, 0, -3], [[0, 1]] * 3),
    ([3, 6, 3], [[1, 1], [1, 1]]),
    ([4, 0, 0, 0, 1], [[2, 2, 1], [2, -2, 1]]),
    ([1, 0, -10, 0, 1], [[1, 0, -10, 0, 1]]),
    ([-1, 0, 0, 0, 0, 0, 1], [[-1, 1], [1, 1], [1, 1, 1], [1, -1, 1]]),
    ([-6, 0, 0, 0, 0, 0, -6], [[1, 0, 1], [1, 0, -1, 0, 1]]),
    ([-(2**62), 0, 1], [[-(2**31), 1], [2**31, 1]]),
    ([1], []),
    ([-5], []),
])
def test_factor_small_cases(coefficients, known):
    check_factorisation(coefficients, known)


def test_factor_shapes_of_results():
    assert [len(f) for f in native.factor_polynomial([-1, 0, 1])] == [2, 2]
    assert native.factor_polynomial([1]) == [] and native.factor_polynomial([-5, 0]) == [["-5"]]
    assert all(isinstance(c, str) for f in native.factor_polynomial([1, 3, 2]) for c in f)


def test_factor_products_of_known_factors():
    rng = random.Random(5)
    irreducible = [
        [-2, 0, 0, 1], [1, 1, 1], [3, 0, 1], [-7, 0, 0, 0, 0, 1], [1, 1, 1, 1, 1],
        [1, 0, -10, 0, 1], [2, 0, 0, 0, 0, 0, 0, 1], [-3, 5], [11, -4, 1], [5, 0, 1, 1],
    ]
    for _ in range(12):
        chosen = []
        for _ in range(rng.randint(1, 4)):
            f = rng.choice(irreducible + [[rng.randint(-9, 9), rng.choice([1, 2, 3, -4])]])
            chosen += [f] * rng.choice([1, 1, 2])
        p = [int(c) for c in product([[rng.choice([1, -1, 6, -35])]] + chosen)]
        check_factorisation(p + [0] * rng.randint(0, 2), chosen)


def test_factor_argument_errors():
    for bad, exc in (("12", TypeError), ([1, 2**63], OverflowError), ([1, 1.5], TypeError), (12, TypeError)):
        with pytest.raises(exc) as e:
            native.factor_polynomial(bad)
        assert e.value.__notes__ == ["while processing 'coefficients'"]
    with pytest.raises(TypeError, match="^Can't extract `str` to `Vec`$"):
        native.factor_polynomial("12")
    for zero in ([], [0, 0, 0]):
        with pytest.raises(ValueError):
            native.factor_polynomial(zero)


def test_factor_runs_in_threads():
    p = [int(c) for c in product([[-2, 0, 0, 1], [1, 1, 1], [1, 0, -10, 0, 1], [-3, 5]])]
    results = [None] * 6
    threads = [threading.Thread(target=lambda i=i: results.__setitem__(i, native.factor_polynomial(p)))
               for i in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(product(r) == product([p]) for r in results)

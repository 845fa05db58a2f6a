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
    assert isinstance(x, native.Real)
    assert x == native.Real.parse("sqrt(5)/5") and x * x == native.Real.parse("1/5")
    assert native.evaluate(expr="2^10") == native.Real.from_int(1024)
    with pytest.raises(native.PuzzleError):
        native.evaluate("sqrt(5")
    with pytest.raises(TypeError) as e:
        native.evaluate(5)
    assert str(e.value) == "'int' object is not an instance of 'str'"
    assert e.value.__notes__ == ["while processing 'expr'"]
    assert native.evaluate.__text_signature__ == "(expr)"


def poly_mul(a, b):
    out = [fractions.Fraction(0)] * (len(a) + len(b) - 1)
    for i, x in enumerate(a):
        for j, y in enumerate(b):
            out[i + j] += x * y
    return out


def product(factors):
    p = [fractions.Fraction(1)]
    for f in factors:
        p = poly_mul(p, [fractions.Fraction(c) for c in f])
    return p


def trimmed(p):
    p = [fractions.Fraction(c) for c in p]
    while p and p[-1] == 0:
        p.pop()
    return p


def normal(f):
    """A factor up to a constant: divided by its leading coefficient."""
    f = [fractions.Fraction(c) for c in f]
    return tuple(c / f[-1] for c in f)


def check_factorisation(coefficients, known):
    """The factors multiply back to the input exactly and are the known irreducible ones."""
    factors = native.factor_polynomial(coefficients)
    assert all(isinstance(c, str) for f in factors for c in f)
    assert all(f[-1] != "0" for f in factors)
    assert trimmed(product(factors)) == trimmed(coefficients)
    nonconstant = sorted(normal(f) for f in factors if len(f) > 1)
    assert nonconstant == sorted(normal(f) for f in known)
    assert sum(len(f) == 1 for f in factors) <= 1
    return factors


def test_factor_small_cases():
    factors = check_factorisation([-1, 0, 1], [[-1, 1], [1, 1]])
    assert len(factors) == 2 and all(len(f) == 2 for f in factors)
    check_factorisation([2, 4, 0, 0], [[1, 2]])
    check_factorisation([0, 0, 1], [[0, 1], [0, 1]])
    check_factorisation([0, 0, 0, -3], [[0, 1]] * 3)
    check_factorisation([1, 0, 0, 0, 1], [[1, 0, 0, 0, 1]])
    check_factorisation([4, 0, 0, 0, 1], [[2, 2, 1], [2, -2, 1]])
    check_factorisation([1, 0, -10, 0, 1], [[1, 0, -10, 0, 1]])
    check_factorisation([-1, 0, 0, 0, 0, 0, 1], [[-1, 1], [1, 1], [1, 1, 1], [1, -1, 1]])
    check_factorisation([-6, 0, 0, 0, 0, 0, -6, 0, 0], [[1, 0, 1], [1, 0, -1, 0, 1]])
    assert native.factor_polynomial([1]) == []
    assert native.factor_polynomial([-5, 0]) == [["-5"]]
    check_factorisation([3, 6, 3], [[1, 1], [1, 1]])
    big = 2**62
    check_factorisation([-big, 0, 1], [[-(2**31), 1], [2**31, 1]])


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
        scale = rng.choice([1, -1, 6, -35])
        p = [int(c) for c in product([[scale]] + chosen)]
        check_factorisation(p + [0] * rng.randint(0, 2), chosen)


def test_factor_argument_errors():
    with pytest.raises(TypeError, match="^Can't extract `str` to `Vec`$") as e:
        native.factor_polynomial("12")
    assert e.value.__notes__ == ["while processing 'coefficients'"]
    with pytest.raises(OverflowError) as e:
        native.factor_polynomial([1, 2**63])
    assert e.value.__notes__ == ["while processing 'coefficients'"]
    with pytest.raises(TypeError):
        native.factor_polynomial([1, 1.5])
    with pytest.raises(TypeError, match="^'int' object is not an instance of 'Sequence'$"):
        native.factor_polynomial(12)
    for zero in ([], [0], [0, 0, 0]):
        with pytest.raises(ValueError):
            native.factor_polynomial(zero)
    assert native.factor_polynomial.__text_signature__ == "(coefficients)"


def test_factor_runs_in_threads():
    p = [int(c) for c in product([[-2, 0, 0, 1], [1, 1, 1], [1, 0, -10, 0, 1], [-3, 5]])]
    results = [None] * 6

    def work(i):
        results[i] = native.factor_polynomial(p)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for r in results:
        assert trimmed(product(r)) == trimmed(p)

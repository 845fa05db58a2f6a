"""factor_polynomial against sympy on a thousand seeded random polynomials: the same irreducible
factors with the same multiplicities, and a product equal to the input."""
import fractions
import random

import pytest

import gyrelle._native as native
import optional

sympy = optional.need("sympy")

X = sympy.Symbol("x")


def multiply(a, b):
    out = [0] * (len(a) + len(b) - 1)
    for i, x in enumerate(a):
        for j, y in enumerate(b):
            out[i + j] += x * y
    return out


def random_polynomial(rng):
    """Dense, sparse, cyclotomic-rich and product-of-factors shapes, all within 64-bit coefficients."""
    shape = rng.randrange(5)
    if shape == 0:
        c = [rng.randint(-60, 60) for _ in range(rng.randint(2, 14))]
    elif shape == 1:
        n = rng.randint(2, 24)
        c = [0] * (n + 1)
        c[n] = rng.choice([1, 1, 2, -3])
        c[rng.randrange(n)] += rng.randint(-9, 9)
        c[0] += rng.choice([-1, 1, -2, 5, -6])
    else:
        c = [rng.choice([1, -1, 2, 6])]
        for _ in range(rng.randint(2, 5 if shape == 2 else 3)):
            if shape == 3 and rng.random() < 0.5:
                n = rng.randint(1, 12)
                f = [rng.choice([-1, 1])] + [0] * (n - 1) + [1]
            else:
                f = [rng.randint(-12, 12) for _ in range(rng.randint(1, 5))] + [rng.randint(1, 4)]
            c = multiply(c, f)
            if rng.random() < 0.2:
                c = multiply(c, f)
    while len(c) > 1 and c[-1] == 0:
        c.pop()
    if all(x == 0 for x in c):
        c = [1, 1]
    return c


def normalised(coefficients):
    """A factor as its primitive integer form with a positive leading coefficient."""
    poly = sympy.Poly(list(reversed([sympy.Rational(x) for x in coefficients])), X)
    _, prim = poly.primitive()
    if prim.LC() < 0:
        prim = -prim
    return tuple(int(x) for x in prim.all_coeffs())


def ours(coefficients):
    """The factors with their multiplicities, after checking that they multiply back to the input."""
    all_factors = native.factor_polynomial(coefficients)
    product = [fractions.Fraction(1)]
    for f in all_factors:
        product = multiply(product, [fractions.Fraction(c) for c in f])
    assert product == coefficients
    factors = [f for f in all_factors if len(f) > 1]
    counts = {}
    for f in factors:
        key = normalised([fractions.Fraction(c) for c in f])
        counts[key] = counts.get(key, 0) + 1
    return counts


def theirs(coefficients):
    _, pairs = sympy.Poly(list(reversed(coefficients)), X).factor_list()
    counts = {}
    for poly, multiplicity in pairs:
        if poly.degree() >= 1:
            key = normalised(list(reversed(poly.all_coeffs())))
            counts[key] = counts.get(key, 0) + multiplicity
    return counts


def test_thousand_random_polynomials_agree_with_sympy():
    rng = random.Random(24)
    seen = 0
    for _ in range(1000):
        c = random_polynomial(rng)
        assert max(abs(x) for x in c) < 2**63
        assert ours(c) == theirs(c), c
        seen += len(c) > 2
    assert seen > 900

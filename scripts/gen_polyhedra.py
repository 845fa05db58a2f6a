#!/usr/bin/env python3
"""Writes src/polyhedra_table.inc, the 38 rows of the built-in polyhedron table.

Usage: /usr/bin/python3 scripts/gen_polyhedra.py [output]

Every plane is a*x + b*y + c*z + d = 0 with the size S only in d, d = S times a negative constant.
A definition is its planes back to back in the prefix format read by src/polyhedra.cpp:
  A x y   sum        M x y   product      P x e   x raised to e (a root when e is not whole)
  S       the size   nN/D;   the rational N/D

The regular solids are listed plane by plane. Prisms and antiprisms are built from their regular
faces. Every other row is the polar dual of a uniform polyhedron X about its midsphere: one plane
per vertex v of X at unit edge, normal along v, at distance rho^2/R (R = |v|, rho^2 = R^2 - 1/4).
Each dual plane is scaled the way the face's own normal comes out of the cross product of two
edges at one corner of the dual face; which corner is chosen by the normal length the row
expects. The vertices of X are the orbit of one seed vertex under X's symmetry group; the script
finds X's faces around the seed (regular polygons, star polygons included), checks X's vertex
configuration and derives the dual face from them. All of this is exact (number fields over the
rationals below); the written rows are then read back and checked numerically.

Needs only the Python standard library and mpmath (shipped with sympy).
"""

import itertools
import sys
from fractions import Fraction as Q
from math import gcd, isqrt
from pathlib import Path

import mpmath as mp

mp.mp.dps = 60

# ---------------------------------------------------------------------------------------------
# Exact numbers: towers of simple extensions of the rationals.


class Field:
    """Q or a lower Field extended by one generator g with a monic minimal polynomial."""

    def __init__(self, base, poly, value, tree):
        self.base = base  # None: the rationals
        self.poly = [lift(base, c) for c in poly]  # lowest degree first, monic
        self.deg = len(poly) - 1
        self.value = value  # numeric value of g
        self.tree = tree  # the written form of g
        self.chain = (base.chain if base else []) + [self]
        self.monomials = {}  # written forms of products of generators that have a shorter one

    def __call__(self, *coeffs):
        c = [lift(self.base, x) for x in coeffs]
        c += [lift(self.base, 0)] * (self.deg - len(c))
        return Num(self, c)

    def gen(self):
        return self(0, 1)


def lift(F, x):
    if F is None:
        if isinstance(x, Num):
            raise TypeError("irrational value where a rational is needed")
        return Q(x)
    if isinstance(x, Num):
        if x.F is F:
            return x
        if x.F not in F.chain:
            raise TypeError("numbers of unrelated fields")
    return Num(F, [lift(F.base, x)] + [lift(F.base, 0)] * (F.deg - 1))


def inverse_of(x):
    return 1 / x if isinstance(x, Q) else x.inv()


def value_of(x):
    if isinstance(x, Q):
        return mp.mpf(x.numerator) / x.denominator
    return x.val()


def exact_value(x):
    return value_of(x if isinstance(x, Num) else Q(x))


def is_zero(x):
    return x == 0


def _trim(p):
    while p and is_zero(p[-1]):
        p = p[:-1]
    return p


def _poly_divmod(a, b):
    a = list(a)
    q = [a[0] * 0] * max(len(a) - len(b) + 1, 1)
    inv_lead = inverse_of(b[-1])
    while len(a) >= len(b) and a:
        k = len(a) - len(b)
        f = a[-1] * inv_lead
        q[k] = f
        for i, c in enumerate(b):
            a[i + k] = a[i + k] - f * c
        a = _trim(a[:-1])
    return q, a


class Num:
    __slots__ = ("F", "c")

    def __init__(self, F, c):
        self.F = F
        self.c = tuple(c)

    def _co(self, o):
        return lift(self.F, o)

    def __add__(self, o):
        o = self._co(o)
        return Num(self.F, [a + b for a, b in zip(self.c, o.c)])

    __radd__ = __add__

    def __neg__(self):
        return Num(self.F, [-a for a in self.c])

    def __sub__(self, o):
        return self + (-self._co(o))

    def __rsub__(self, o):
        return self._co(o) - self

    def __mul__(self, o):
        o = self._co(o)
        F, n = self.F, self.F.deg
        zero = lift(F.base, 0)
        prod = [zero] * (2 * n - 1)
        for i, a in enumerate(self.c):
            if is_zero(a):
                continue
            for j, b in enumerate(o.c):
                prod[i + j] = prod[i + j] + a * b
        for k in range(2 * n - 2, n - 1, -1):
            top = prod[k]
            if is_zero(top):
                continue
            for j in range(n):
                prod[k - n + j] = prod[k - n + j] - top * F.poly[j]
        return Num(F, prod[:n])

    __rmul__ = __mul__

    def inv(self):
        F = self.F
        zero, one = lift(F.base, 0), lift(F.base, 1)
        r0, r1 = list(F.poly), _trim(list(self.c))
        if not r1:
            raise ZeroDivisionError("inverse of zero")
        s0, s1 = [zero], [one]
        while len(r1) > 1:
            q, r = _poly_divmod(r0, r1)
            qs = [zero] * (len(q) + len(s1))
            for i, a in enumerate(q):
                for j, b in enumerate(s1):
                    qs[i + j] = qs[i + j] + a * b
            n = max(len(s0), len(qs))
            s_new = [(s0[i] if i < len(s0) else zero) - (qs[i] if i < len(qs) else zero) for i in range(n)]
            r0, r1, s0, s1 = r1, r, s1, _trim(s_new) or [zero]
        f = inverse_of(r1[0])
        s = [x * f for x in s1][: F.deg]
        return F(*s)

    def __truediv__(self, o):
        return self * self._co(o).inv()

    def __rtruediv__(self, o):
        return self._co(o) * self.inv()

    def __pow__(self, e):
        r = lift(self.F, 1)
        for _ in range(e):
            r = r * self
        return r

    def __eq__(self, o):
        try:
            o = self._co(o)
        except TypeError:
            return NotImplemented
        return self.c == o.c

    def __hash__(self):
        return hash(self.c)

    def val(self):
        g = self.F.value
        return sum((value_of(a) * g**i for i, a in enumerate(self.c)), mp.mpf(0))


def terms(x, depth):
    """A tower number as {exponents of the tower's generators: rational coefficient}."""
    if isinstance(x, Q) or depth == 0:
        x = lift(None, x)
        return {(): x} if x else {}
    if not isinstance(x, Num) or len(x.F.chain) < depth:
        x_low = terms(x, depth - 1)
        return {k + (0,): v for k, v in x_low.items()}
    out = {}
    for i, c in enumerate(x.c):
        for k, v in terms(c, depth - 1).items():
            out[k + (i,)] = v
    return out


# ---------------------------------------------------------------------------------------------
# Expression trees of the prefix format: ("n", q), ("S",), ("A", x, y), ("M", x, y), ("P", x, q).


def n(q):
    return ("n", Q(q))


S = ("S",)


def A(x, y):
    return ("A", x, y)


def M(x, y):
    return ("M", x, y)


def P(x, e):
    return ("P", x, n(e))


def sqrt_of(x):
    return P(x if isinstance(x, tuple) else n(x), Q(1, 2))


def write(t, out):
    tag = t[0]
    if tag == "n":
        out.append(f"n{t[1].numerator}/{t[1].denominator};")
    elif tag == "S":
        out.append("S")
    else:
        out.append(tag)
        write(t[1], out)
        write(t[2], out)
    return out


def text(t):
    return "".join(write(t, []))


def sum_tree(parts):
    """Right-nested sum of the given trees."""
    t = parts[-1]
    for p in reversed(parts[:-1]):
        t = A(p, t)
    return t


def product_tree(parts):
    t = parts[-1]
    for p in reversed(parts[:-1]):
        t = M(p, t)
    return t


def monomial_tree(F, key):
    """The product of F's generators with the exponents `key`; None for 1."""
    if key in F.monomials:
        return F.monomials[key]
    mono = [f.tree for f, e in zip(F.chain, key) for _ in range(e)]
    return product_tree(mono) if mono else None


def tower_tree(x, F, bare_units=False):
    """A tower number as a sum of rational multiples of products of the generators' trees."""
    tm = terms(x, len(F.chain))
    if not tm:
        return n(0)
    parts = []
    for key in sorted(tm, key=lambda k: (sum(k), k)):
        coeff = tm[key]
        mono = monomial_tree(F, key)
        if mono is None:
            parts.append(n(coeff))
        elif coeff == 1 and bare_units:
            parts.append(mono)
        else:
            parts.append(M(n(coeff), mono))
    return sum_tree(parts)


def content(coeffs):
    """The positive rational g with every coefficient / g an integer and the integers coprime."""
    num = 0
    den = 1
    for c in coeffs:
        num = gcd(num, c.numerator)
        den = den * c.denominator // gcd(den, c.denominator)
    return Q(num, den)


# ---------------------------------------------------------------------------------------------
# Reading the format back, the mirror of the C++ reader, and evaluating it numerically.


def read_definition(s):
    pos = 0

    def expr():
        nonlocal pos
        if pos >= len(s):
            raise ValueError("polyhedron table truncated")
        ch = s[pos]
        pos += 1
        if ch in "AMP":
            a = expr()
            b = expr()
            return (ch, a, b)
        if ch == "S":
            return S
        if ch == "n":
            end = s.find(";", pos)
            end = len(s) if end < 0 else end
            body = s[pos:end]
            pos = end + 1
            p, q = body.split("/")
            return ("n", Q(int(p), int(q)))
        raise ValueError(f"unexpected byte {ord(ch)} in polyhedron table")

    planes = []
    while True:
        planes.append(tuple(expr() for _ in range(4)))
        if pos >= len(s):
            return planes


def evaluate(t, size):
    tag = t[0]
    if tag == "n":
        return mp.mpf(t[1].numerator) / t[1].denominator
    if tag == "S":
        return mp.mpf(size)
    a, b = evaluate(t[1], size), evaluate(t[2], size)
    if tag == "A":
        return a + b
    if tag == "M":
        return a * b
    e = t[2]
    assert e[0] == "n" and e[1] >= 0, "powers take non-negative rational exponents"
    assert a >= 0 or e[1].denominator == 1, "roots of negative numbers"
    return mp.root(a ** e[1].numerator, e[1].denominator)


def scale_nodes(t, in_d):
    """Whether S occurs only where allowed."""
    if t[0] == "S":
        return in_d
    if t[0] == "n":
        return True
    return scale_nodes(t[1], in_d) and scale_nodes(t[2], in_d)


def radicals(t, out):
    """Collects every root node (base tree, exponent); whole powers are not roots."""
    if t[0] in ("A", "M"):
        radicals(t[1], out)
        radicals(t[2], out)
    elif t[0] == "P":
        if t[2][1].denominator != 1:
            out.append((t[1], t[2][1]))
        radicals(t[1], out)
    return out


# ---------------------------------------------------------------------------------------------
# Fields of the rows and the written forms of their generators.

SQRT2 = sqrt_of(2)
SQRT3 = sqrt_of(3)
SQRT5 = sqrt_of(5)

K2 = Field(None, [-2, 0, 1], mp.sqrt(2), SQRT2)
K3 = Field(None, [-3, 0, 1], mp.sqrt(3), SQRT3)
K5 = Field(None, [-5, 0, 1], mp.sqrt(5), SQRT5)
r2, r3, r5 = K2.gen(), K3.gen(), K5.gen()
phi = (1 + r5) / 2

# Pentagonal prisms: s = sqrt(50 + 10 sqrt 5), so that sin 72 = sqrt(5) s / 20.
K5s = Field(K5, [-(50 + 10 * r5), 0, 1], mp.sqrt(50 + 10 * mp.sqrt(5)), sqrt_of(A(n(50), M(n(10), SQRT5))))
# Square antiprism: q = 2^(1/4), q^2 = sqrt 2.
K2q = Field(K2, [-r2, 0, 1], mp.root(2, 4), P(n(2), Q(1, 4)))
K2q.monomials[(1, 1)] = P(n(2), Q(3, 4))
# Its dual: p = sqrt(4 + 3 sqrt 2) = 2^(1/4) (1 + sqrt 2).
K2p = Field(K2, [-(4 + 3 * r2), 0, 1], mp.sqrt(4 + 3 * mp.sqrt(2)), sqrt_of(A(n(4), M(n(3), SQRT2))))
# Hexagonal antiprism: h = sqrt(-1 + sqrt 3), its height at unit edge.
K3h = Field(K3, [-(r3 - 1), 0, 1], mp.sqrt(mp.sqrt(3) - 1), sqrt_of(A(n(-1), SQRT3)))
# Its dual: sqrt 2, sqrt 3, w = sqrt(-5 + 3 sqrt 3) = (sqrt 3 - 1) h / sqrt 2.
K23 = Field(K2, [-3, 0, 1], mp.sqrt(3), SQRT3)
K23w = Field(K23, [-(3 * K23.gen() - 5), 0, 1], mp.sqrt(3 * mp.sqrt(3) - 5), sqrt_of(A(n(-5), M(n(3), SQRT3))))

# The tribonacci constant t, t^3 = t^2 + t + 1, and the gC row. Its normals lie in Q(t) and its d in
# Q(t, sqrt delta); both lie in Q(theta), theta = sqrt(3t^2 + 3t + 2) = 8 sqrt(delta), of degree 6.
# Every coefficient is a polynomial in theta with theta written once, always in the same words, so
# all of them evaluate into equal fields. theta^2 is written through s = 6^(1/3) and
# u = (9 + sqrt 33)^(1/3), t = 1/3 + s^2 u^2/18 + s u (18 - u^3)/36, as r + s F1(u) + s^2 F2(u):
# each product takes its s part first, so both are the same join of Q(s) and Q(u) (degree 18), and
# the square root brings the sum down to Q(theta).
SQRT33 = sqrt_of(33)
S6_TREE = P(n(6), Q(1, 3))
U_TREE = P(A(n(9), SQRT33), Q(1, 3))
S6_VALUE = mp.cbrt(6)
U_VALUE = mp.cbrt(9 + mp.sqrt(33))


def su_reduce(x):
    """A number of Q(s, u) as {(i, j): rational} for s^i u^j, i < 3, j < 6 (s^3 = 6, u^6 = 18 u^3 - 48)."""
    out = {}
    todo = list(x.items())
    while todo:
        (i, j), c = todo.pop()
        if c == 0:
            continue
        if i >= 3:
            todo.append(((i - 3, j), 6 * c))
        elif j >= 6:
            todo += [((i, j - 3), 18 * c), ((i, j - 6), -48 * c)]
        else:
            out[(i, j)] = out.get((i, j), 0) + c
    return {k: v for k, v in out.items() if v}


def su_mul(x, y):
    prod = {}
    for (i, j), a in x.items():
        for (k, m), b in y.items():
            prod[(i + k, j + m)] = prod.get((i + k, j + m), 0) + a * b
    return su_reduce(prod)


T_SU = {(0, 0): Q(1, 3), (2, 2): Q(1, 18), (1, 1): Q(1, 2), (1, 4): Q(-1, 36)}


def su_of_cubic(c):
    """a + b t + c t^2 in Q(s, u)."""
    out = {(0, 0): lift(None, c[0])}
    for coeff, power in ((c[1], T_SU), (c[2], su_mul(T_SU, T_SU))):
        for k, v in power.items():
            out[k] = out.get(k, 0) + lift(None, coeff) * v
    return su_reduce(out)


def scaled(c, tree):
    return tree if c == 1 else M(n(c), tree)


def plus(c, tree):
    return tree if c == 0 else A(n(c), tree)


def su_tree(x):
    """r + (s u (a + b u^3) + s^2 u^2 (c + d u^3)): the form every number of Q(t) takes in Q(s, u)."""
    assert set(x) <= {(0, 0), (1, 1), (1, 4), (2, 2), (2, 5)}, x
    g = lambda k: x.get(k, Q(0))
    u3 = P(U_TREE, Q(3))
    f1 = M(U_TREE, plus(g((1, 1)), scaled(g((1, 4)), u3)))
    f2 = M(P(U_TREE, Q(2)), plus(g((2, 2)), scaled(g((2, 5)), u3)))
    return plus(g((0, 0)), A(M(S6_TREE, f1), M(P(S6_TREE, Q(2)), f2)))


T_VALUE = mp.findroot(lambda x: x**3 - x**2 - x - 1, 1.8)
Kt = Field(None, [-1, -1, -1, 1], T_VALUE, None)
assert abs(sum(v * S6_VALUE**i * U_VALUE**j for (i, j), v in T_SU.items()) - T_VALUE) < mp.mpf(10) ** -50
THETA2 = Kt(2, 3, 3)
THETA_TREE = sqrt_of(su_tree(su_of_cubic(THETA2.c)))
assert abs(evaluate(THETA_TREE, 0) ** 2 - value_of(THETA2)) < mp.mpf(10) ** -50


def theta_tree(x):
    """A number of Q(t) as e0 + e1 theta^2 + e2 theta^4 = e2 (theta^2 + h)^2 + k, theta written once."""
    x = lift(Kt, x)
    # columns: 1, theta^2, theta^4 in the basis 1, t, t^2
    to_t = tuple(zip(*[tuple(lift(None, v) for v in (THETA2**k).c) for k in range(3)]))
    e0, e1, e2 = mmul(minv(to_t), tuple(lift(None, v) for v in x.c))
    assert lift(Kt, e0) + e1 * THETA2 + e2 * THETA2**2 == x
    square = P(THETA_TREE, Q(2))
    if e2 == 0:
        return n(e0) if e1 == 0 else plus(e0, scaled(e1, square))
    h = e1 / (2 * e2)
    return plus(e0 - e2 * h * h, scaled(e2, P(plus(h, square), Q(2))))


def theta_d_tree(delta):
    """d = -sqrt(delta) S = -g S theta for delta = g^2 theta^2."""
    ratio = lift(Kt, delta) / THETA2
    g = lift(None, ratio.c[0])
    root = Q(isqrt(g.numerator), isqrt(g.denominator))
    assert ratio == g and root * root == g, "delta is not a rational square times theta^2"
    return M(n(-root), M(S, THETA_TREE))


def number_tree(x, F):
    if F is Kt:
        return theta_tree(x)
    if F is None:
        return n(x)
    return tower_tree(lift(F, x), F)


def d_tree(delta, F, squared=False):
    """d = -delta S for delta > 0 (or d = -sqrt(delta) S when `squared`), written (-g) (S Y) with
    g the rational content of delta and Y = delta / g."""
    if F is Kt:
        return theta_d_tree(delta)
    if squared:
        return M(n(-1), M(S, sqrt_of(number_tree(delta, F))))
    if F is None:
        return M(n(-lift(None, delta)), S)
    g = content(terms(lift(F, delta), len(F.chain)).values())
    y = lift(F, delta / g)
    if y == 1:
        return M(n(-g), S)
    return M(n(-g), M(S, tower_tree(y, F, bare_units=True)))


# ---------------------------------------------------------------------------------------------
# Vectors and matrices over any of the fields.


def vsub(a, b):
    return tuple(x - y for x, y in zip(a, b))


def vscale(a, s):
    return tuple(x * s for x in a)


def vdot(a, b):
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]


def vcross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def vval(a):
    return [value_of(x) for x in a]


def mmul(m, v):
    return tuple(vdot(row, v) for row in m)


def mmat(a, b):
    bt = list(zip(*b))
    return tuple(tuple(vdot(row, col) for col in bt) for row in a)


def mkey(m):
    return tuple(x.c if isinstance(x, Num) else (x,) for row in m for x in row)


def minv(m):
    cols = list(zip(*m))
    adj = [vcross(cols[1], cols[2]), vcross(cols[2], cols[0]), vcross(cols[0], cols[1])]
    det = vdot(cols[0], adj[0])
    return tuple(tuple(x / det for x in row) for row in adj)


def lift_matrix(F, m):
    return tuple(tuple(lift(F, x) for x in row) for row in m)


# ---------------------------------------------------------------------------------------------
# Symmetry groups, exact.


def signed_permutations(F, even_minus_only=False, rotations_only=False):
    out = []
    for perm in itertools.permutations(range(3)):
        odd_perm = sum(1 for i in range(3) for j in range(i + 1, 3) if perm[i] > perm[j]) % 2
        for signs in itertools.product((1, -1), repeat=3):
            minus = signs.count(-1) % 2
            if even_minus_only and minus:
                continue
            if rotations_only and (odd_perm + minus) % 2:
                continue
            m = [[0] * 3 for _ in range(3)]
            for i in range(3):
                m[i][perm[i]] = signs[i]
            out.append(lift_matrix(F, m))
    return out


def closure(gens):
    ident = lift_matrix(gens[0][0][0].F if isinstance(gens[0][0][0], Num) else None, [[1, 0, 0], [0, 1, 0], [0, 0, 1]])
    group = {mkey(ident): ident}
    frontier = [ident]
    while frontier:
        nxt = []
        for a in frontier:
            for g in gens:
                b = mmat(g, a)
                k = mkey(b)
                if k not in group:
                    group[k] = b
                    nxt.append(b)
        frontier = nxt
        if len(group) > 200:
            raise RuntimeError("group does not close")
    return list(group.values())


def icosahedral_rotations():
    """The 60 rotations of the icosahedron with vertices the cyclic permutations of (0, +-phi, +-1)."""
    F = K5
    cyc = lift_matrix(F, [[0, 1, 0], [0, 0, 1], [1, 0, 0]])
    flip = lift_matrix(F, [[1, 0, 0], [0, -1, 0], [0, 0, -1]])
    verts = []
    for s1, s2 in itertools.product((1, -1), repeat=2):
        v = [lift(F, 0), s1 * phi, lift(F, s2)]
        for r in range(3):
            verts.append(tuple(v[r:] + v[:r]))
    a = (lift(F, 0), phi, lift(F, 1))
    ring = [v for v in verts if vdot(vsub(v, a), vsub(v, a)) == 4]
    b = ring[0]
    b2 = next(v for v in ring if vdot(vsub(v, b), vsub(v, b)) == 4)
    src = tuple(zip(a, b, vcross(a, b)))
    dst = tuple(zip(a, b2, vcross(a, b2)))
    five = mmat(dst, minv(src))
    group = closure([cyc, flip, five])
    assert len(group) == 60
    return group


def group_of(kind):
    if kind == "Td":
        return signed_permutations(None, even_minus_only=True)
    if kind == "Oh":
        return signed_permutations(None)
    if kind == "O":
        return signed_permutations(None, rotations_only=True)
    if kind == "Ih":
        rot = icosahedral_rotations()
        return rot + [tuple(tuple(-x for x in row) for row in m) for m in rot]
    raise KeyError(kind)


def orbit(group, seed):
    F = next((x.F for x in seed if isinstance(x, Num)), None)
    seen = {}
    for g in group:
        w = mmul(lift_matrix(F, g) if F is not None else g, seed)
        k = tuple(x.c if isinstance(x, Num) else (x,) for x in w)
        seen.setdefault(k, w)
    return list(seen.values())


# ---------------------------------------------------------------------------------------------
# Faces of a vertex-transitive polyhedron around one vertex, found numerically.

EPS = mp.mpf(10) ** -40


def mnorm(v):
    return mp.sqrt(sum(x * x for x in v))


def mcross(a, b):
    return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]


def mdot(a, b):
    return sum(x * y for x, y in zip(a, b))


def msub(a, b):
    return [x - y for x, y in zip(a, b)]


def polygon_kind(points):
    """'p' or 'p/q' for a regular polygon given in order."""
    p = len(points)
    c = [sum(pt[i] for pt in points) / p for i in range(3)]
    u, w = msub(points[0], c), msub(points[1], c)
    ang = mp.acos(mdot(u, w) / (mnorm(u) * mnorm(w)))
    q = int(mp.nint(ang * p / (2 * mp.pi)))
    return str(p) if q == 1 else f"{p}/{q}"


def faces_around(vertices, v0, edge):
    """Regular polygons with edge `edge` through v0, made of vertices, as index lists from v0."""
    key = lambda v: tuple(int(mp.nint(x * 10**30)) for x in v)
    index = {key(v): i for i, v in enumerate(vertices)}
    x0 = vertices[v0]
    nbrs = [i for i, v in enumerate(vertices) if abs(mnorm(msub(v, x0)) - edge) < EPS]
    found = {}
    for i, j in itertools.permutations(nbrs, 2):
        u, w = vertices[i], vertices[j]
        a, b = msub(u, x0), msub(w, x0)
        axb = mcross(a, b)
        if mnorm(axb) < EPS:
            continue
        nrm = [x / mnorm(axb) for x in axb]
        den = 2 * mdot(axb, axb)
        cb, ca = mcross(b, axb), mcross(axb, a)
        c = [x0[k] + (mdot(a, a) * cb[k] + mdot(b, b) * ca[k]) / den for k in range(3)]
        r1, r2 = msub(u, c), msub(x0, c)
        ang = mp.atan2(mdot(mcross(r1, r2), nrm), mdot(r1, r2))
        cyc, x = [i], u
        ok = False
        for _ in range(40):
            rel = msub(x, c)
            par = mdot(rel, nrm)
            perp = [rel[k] - par * nrm[k] for k in range(3)]
            cr = mcross(nrm, perp)
            x = [c[k] + par * nrm[k] + perp[k] * mp.cos(ang) + cr[k] * mp.sin(ang) for k in range(3)]
            if mnorm(msub(x, u)) < EPS:
                ok = True
                break
            idx = index.get(key(x))
            if idx is None:
                break
            cyc.append(idx)
        if not ok:
            continue
        if abs(mdot(nrm, c)) < EPS:
            continue  # a section through the centre, not a face
        at = cyc.index(v0)
        cyc = cyc[at:] + cyc[:at]
        found.setdefault(frozenset(cyc), cyc)
    return nbrs, list(found.values())


def vertex_figure(vertices, v0, edge, expect):
    """The faces at v0 in cyclic order whose kinds are `expect` (as a multiset)."""
    nbrs, faces = faces_around(vertices, v0, edge)
    m = len(nbrs)
    sols = []

    def rec(path, cur, start):
        if len(path) == m:
            if cur == start:
                sols.append(list(path))
            return
        for f in faces:
            if any(f is g for g in path):
                continue
            for x, y in ((f[1], f[-1]), (f[-1], f[1])):
                if x == cur and (len(path) == m - 1 and y == start or y not in [g[1] for g in path] + [start]):
                    rec(path + [f], y, start)

    for f in faces:
        rec([f], f[-1], f[1])
    out = {}
    for s in sols:
        kinds = sorted(polygon_kind([vertices[i] for i in f]) for f in s)
        if kinds == sorted(expect):
            out.setdefault(frozenset(tuple(f) for f in s), s)
    if len(out) != 1:
        raise RuntimeError(f"expected one vertex figure {expect}, found {len(out)}")
    return next(iter(out.values()))


# ---------------------------------------------------------------------------------------------
# Dual planes.


def dual_plane(vertices, v0, edge, edge2, expect, length):
    """The plane polar to vertices[v0] about the midsphere, scaled as the cross product of two
    edges at the corner of the dual face whose length matches `length`. `edge` is exact when it
    lies in the field (then delta is returned as d = -delta S), else None (then delta^2 is)."""
    num = [vval(v) for v in vertices]
    e_num = mp.sqrt(value_of(edge2))
    fig = vertex_figure(num, v0, e_num, expect)
    V = vertices[v0]
    rho2 = vdot(V, V) - edge2 / 4  # midradius^2 at the seed's scale
    pts = []
    for f in fig:
        q0, q1, q2 = (vertices[i] for i in f[:3])
        N = vcross(vsub(q1, q0), vsub(q2, q0))
        pts.append(vscale(N, rho2 / vdot(N, q0)))
    m = len(pts)
    choice = None
    for i in range(m):
        c = vcross(vsub(pts[(i + 1) % m], pts[i]), vsub(pts[(i + 2) % m], pts[i]))
        if value_of(vdot(c, V)) < 0:
            c = vscale(c, -1)
        L = mp.sqrt(value_of(vdot(c, c))) / value_of(edge2)
        if abs(L - mp.mpf(length)) < 1e-6:
            choice = (c, pts[i])
            break
    if choice is None:
        raise RuntimeError(f"no corner gives normal length {length}")
    c, p = choice
    assert all(x == 0 for x in vcross(c, V)), "dual normal not along the vertex"
    c = vscale(c, 1 / edge2)  # unit edge
    mu = vdot(c, V) / vdot(V, V)
    cp = vdot(c, p)  # at the seed's scale; unit edge divides it by the edge once more
    delta = cp / edge if edge is not None else cp * cp / edge2
    return mu, delta


def dual_rows(vertices, edge2, edge, expect, length):
    mu, delta = dual_plane(vertices, 0, edge, edge2, expect, length)
    return [tuple(vscale(v, mu)) for v in vertices], delta


# ---------------------------------------------------------------------------------------------
# Row assembly.


class Row:
    def __init__(self, code, name, F, planes, kinds, radicals, first=None, exact_texts=None, squared=False, uniform=None):
        self.code, self.name, self.F = code, name, F
        self.planes = planes  # list of (normal tuple, delta) or (normal tuple, d text tree)
        self.kinds = kinds  # [(k, normal length)] as decimals or exact values
        self.radicals = radicals  # [(base text, exponent)] or "gC"
        self.first = first or []  # exact first normals (with delta) the row must start with
        self.exact_texts = exact_texts or {}
        self.squared = squared
        self.uniform = uniform  # for dual rows: the vertices of X, to check the rule against

    def definition(self):
        out = []
        for i, (normal, d) in enumerate(self.planes):
            # every written number is checked against its exact value
            trees = [number_tree(x, self.F) for x in normal]
            wants = [exact_value(x) for x in normal]
            if isinstance(d, tuple):
                trees.append(d)
                wants.append(evaluate(d, 1))
            else:
                trees.append(d_tree(d, self.F, self.squared))
                wants.append(-(mp.sqrt(exact_value(d)) if self.squared else exact_value(d)))
            for tree, want in zip(trees, wants):
                assert abs(evaluate(tree, 1) - want) < mp.mpf(10) ** -40, (self.code, i)
            parts = [text(tree) for tree in trees]
            plane_text = "".join(parts)
            if i in self.exact_texts:
                assert plane_text == self.exact_texts[i], (self.code, plane_text)
            out.append(plane_text)
        return "".join(out)


def order_by(items, key_list, key_of):
    by = {}
    for it in items:
        k = key_of(it)
        assert k not in by, f"two planes at {k}"
        by[k] = it
    assert len(by) == len(key_list) and set(by) == set(key_list), (sorted(by), key_list)
    return [by[k] for k in key_list]


def sort_rest(first, planes):
    """The planes along the given first directions in order, then the others from top to bottom."""
    out = []
    rest = list(planes)
    for f in first:
        i = next(i for i, p in enumerate(rest)
                 if all(x == 0 for x in vcross(p, f)) and value_of(vdot(p, f)) > 0)
        out.append(rest.pop(i))
    rest.sort(key=lambda v: [-x for x in reversed(vval(v))])
    return out + rest


def dual_row(code, name, F, group, seed, edge, expect, length, kinds, radicals, first=()):
    """The dual of the orbit of `seed`; `edge` is X's edge at the seed's scale, None for the
    shortest distance between two vertices (then only its square need lie in the field)."""
    verts = orbit(group_of(group), tuple(lift(F, x) for x in seed))
    if edge is None:
        v0 = verts[0]
        edge2 = min((vdot(vsub(w, v0), vsub(w, v0)) for w in verts[1:]), key=value_of)
    else:
        edge = lift(F, edge)
        edge2 = edge * edge
    normals, delta = dual_rows(verts, edge2, edge, expect, length)
    given = [(tuple(lift(F, x) for x in f[0]), f[1]) for f in first]
    normals = sort_rest([f[0] for f in given], normals)
    row = Row(code, name, F, [(nrm, delta) for nrm in normals], kinds, radicals, squared=edge is None,
              uniform=(verts, edge2))
    row.first = given
    return row


ROWS = []

# --- The regular solids, listed plane by plane.

half = Q(1, 2)
T_D = M(n(Q(-1, 8)), M(S, SQRT2))
ROWS.append(
    Row("T", "Tetrahedron", None,
        [((half, half, half), T_D), ((half, -half, -half), T_D), ((-half, -half, half), T_D), ((-half, half, -half), T_D)],
        [(mp.sqrt(6) / 12, mp.sqrt(3) / 2)], [("2", "1/2")],
        exact_texts={0: "n1/2;n1/2;n1/2;Mn-1/8;MSPn2/1;n1/2;"}))

C_D = M(n(Q(-1, 2)), S)
ROWS.append(
    Row("C", "Cube", None,
        [(v, C_D) for v in [(0, 1, 0), (0, 0, 1), (1, 0, 0), (0, -1, 0), (-1, 0, 0), (0, 0, -1)]],
        [(mp.mpf(1) / 2, 1)], [], exact_texts={0: "n0/1;n1/1;n0/1;Mn-1/2;S"}))

O_D = M(n(Q(-1, 4)), M(S, SQRT2))
ROWS.append(
    Row("O", "Octahedron", None,
        [(tuple(half * s for s in v), O_D) for v in
         [(1, 1, 1), (-1, 1, 1), (-1, -1, 1), (1, -1, 1), (1, -1, -1), (-1, -1, -1), (-1, 1, -1), (1, 1, -1)]],
        [(mp.sqrt(6) / 6, mp.sqrt(3) / 2)], [("2", "1/2")]))

h5 = phi / 2  # phi / 2
g5 = 1 / (2 * phi)  # 1 / (2 phi)
D_D = M(n(Q(1, 4)), M(S, A(n(-2), M(n(-1), SQRT5))))
D_NORMALS = [(half, 0, h5), (0, h5, half), (-half, 0, h5), (-h5, half, 0), (-half, 0, -h5), (-h5, -half, 0),
             (0, -h5, -half), (h5, -half, 0), (0, -h5, half), (0, h5, -half), (h5, half, 0), (half, 0, -h5)]
D_NORMALS = [tuple(lift(K5, x) for x in v) for v in D_NORMALS]
ROWS.append(
    Row("D", "Dodecahedron", K5, [(v, D_D) for v in D_NORMALS],
        [("sqrt(250 + 110 * sqrt(5)) / 20", "0.951057")], [("5", "1/2")],
        exact_texts={0: "n1/2;n0/1;An1/4;Mn1/4;Pn5/1;n1/2;Mn1/4;MSAn-2/1;Mn-1/1;Pn5/1;n1/2;"}))

I_D = M(n(Q(1, 8)), M(S, A(n(-3), M(n(-1), SQRT5))))
I_NORMALS = [(0, -g5, h5), (half, -half, half), (h5, 0, g5), (half, half, half), (0, g5, h5), (0, -g5, -h5),
             (-half, -half, -half), (-h5, 0, -g5), (-half, half, -half), (0, g5, -h5), (-h5, 0, g5),
             (-half, -half, half), (-g5, -h5, 0), (g5, -h5, 0), (half, -half, -half), (h5, 0, -g5),
             (half, half, -half), (g5, h5, 0), (-g5, h5, 0), (-half, half, half)]
I_NORMALS = [tuple(lift(K5, x) for x in v) for v in I_NORMALS]
ROWS.append(
    Row("I", "Icosahedron", K5, [(v, I_D) for v in I_NORMALS],
        [((3 * mp.sqrt(3) + mp.sqrt(15)) / 12, mp.sqrt(3) / 2)], [("5", "1/2")]))

# --- Duals of the convex uniform polyhedra. Seeds at the given edge; the icosahedral ones in the
# orientation of D and I above (mirrors on the coordinate planes, vertex (0, phi, 1) of I's dual).

t_ = Kt.gen()
s2m1 = r2 - 1
R2 = [("2", "1/2")]
R5 = [("5", "1/2")]

ROWS.append(dual_row("kT", "Triakis Tetrahedron", K2, "Td", (1, -1, 3), 2 * r2, ["6", "6", "3"], "2.984962",
                     [("0.959403", "2.984962")], R2,
                     first=[((Q(9, 10), Q(-9, 10), Q(27, 10)), Q(81, 40) * r2),
                            ((Q(9, 10), Q(-27, 10), Q(9, 10)), Q(81, 40) * r2)]))
ROWS.append(dual_row("jC", "Rhombic Dodecahedron", K2, "Oh", (1, 1, 0), r2, ["4", "3", "4", "3"], "0.795495",
                     [(Q(3, 4), "0.795495")], R2,
                     first=[((Q(9, 16), 0, Q(9, 16)), Q(27, 64) * r2), ((Q(9, 16), Q(9, 16), 0), Q(27, 64) * r2)]))
ROWS.append(dual_row("kC", "Tetrakis Hexahedron", K2, "Oh", (0, 1, 2), r2, ["6", "6", "4"], "2.515576",
                     [("1.423025", "2.515576")], R2))
ROWS.append(dual_row("kO", "Triakis Octahedron", K2, "Oh", (s2m1, 1, 1), 2 * s2m1, ["8", "8", "3"], "3.557647",
                     [("1.638281", "3.557647")], R2))
ROWS.append(dual_row("oC", "Deltoidal Icositetrahedron", K2, "Oh", (1, 1, 1 + r2), 2, ["4", "4", "4", "3"],
                     "0.896394", [("1.220263", "0.896394")], R2))
GC_RADICALS = [("2", "1/3"), ("6", "1/3"), ("6", "2/3"), ("9+sqrt(33)", "1/3"), ("9-sqrt(33)", "1/3"),
               ("9+sqrt(33)", "2/3"), ("9-sqrt(33)", "2/3"), ("1777+33*sqrt(33)", "1/3"),
               ("1777-33*sqrt(33)", "1/3"), ("33", "1/2"), ("sum", "1/2")]
ROWS.append(dual_row("gC", "Pentagonal Icositetrahedron (dextro)", Kt, "O", (1, 1 / t_, t_), None,
                     ["4", "3", "3", "3", "3"], "0.453845", [("1.157662", "0.453845")], GC_RADICALS,
                     first=[((1, 1 / t_, t_), None)]))
ROWS.append(dual_row("jD", "Rhombic Triacontahedron", K5, "Ih", (0, phi, 0), 1, ["5", "3", "5", "3"], "1.011271",
                     [("1.463525", "1.011271")], R5))
ROWS.append(dual_row("mC", "Disdyakis Dodecahedron", K2, "Oh", (1, 1 + r2, 1 + 2 * r2), 2, ["4", "6", "8"],
                     "2.809369", [("2.209741", "2.809369")], R2))
ROWS.append(dual_row("kD", "Pentakis Dodecahedron", K5, "Ih", (0, 3 * phi, 1), 2, ["5", "6", "6"], "2.518851",
                     [("2.377132", "2.518851")], R5))
ROWS.append(dual_row("kI", "Triakis Icosahedron", K5, "Ih", (0, 1 / phi, 2 + phi), 2 / phi, ["10", "10", "3"],
                     "3.852323", [("2.885258", "3.852323")], R5))
ROWS.append(dual_row("oD", "Deltoidal Hexecontahedron", K5, "Ih", (1, 1, phi**3), 2, ["3", "4", "5", "4"],
                     "0.996123", [("2.120991", "0.996123")], R5))
ROWS.append(dual_row("mD", "Disdyakis Triacontahedron", K5, "Ih", (1 / phi, 3 + phi, 1 / phi), 2 / phi,
                     ["4", "6", "10"], "3.053259", [("3.736646", "3.053259")], R5))

# --- Duals of nonconvex uniform polyhedra, all seeds at edge 2. Each seed is a point of the
# Wythoff construction: equidistant from three mirrors of the group (the omnitruncated forms
# 6.8.8/3, 4.6.8/3, 6.10/3.10, 4.10.10/3, 4.6.10/3), or on one mirror and equidistant from two
# others (10.10.5/2, 4.5/2.4.5, 6.6.5/2, 3.10/3.10/3), the mirror distances giving the edge.

ROWS.append(dual_row("UD16", "Tetradyakis Hexahedron", K2, "Oh", (1 - r2, 1 + r2, 1), 2, ["6", "8", "8/3"],
                     "7.937254", [("1.133893", "7.937254")], R2,
                     first=[((3 + 3 * r2, 3, -3 + 3 * r2), Q(9))]))
ROWS.append(dual_row("UD20", "Great Disdyakis Dodecahedron", K2, "Oh", (-1 + 2 * r2, -1 + r2, -1), 2,
                     ["4", "6", "8/3"], "1.287815", [("0.827076", "1.287815")], R2))
ROWS.append(dual_row("UD37", "Small Stellapentakis Dodecahedron", K5, "Ih", (-1, 0, Q(-5, 2) - r5 / 2), 2,
                     ["10", "10", "5/2"], "5.799766", [("1.743641", "5.799766")], R5))
ROWS.append(dual_row("UD38", "Medial Deltoidal Hexecontahedron", K5, "Ih", (1, r5, 1), 2, ["4", "5/2", "4", "5"],
                     "0.968086", [("1.133893", "0.968086")], R5))
ROWS.append(dual_row("UD45", "Tridyakis Icosahedron", K5, "Ih", (1, Q(-5, 2) - r5 / 2, Q(5, 2) - r5 / 2), 2,
                     ["6", "10/3", "10"], "3.75", [(Q(15, 8), Q(15, 4))], R5,
                     first=[((Q(15, 32) + Q(45, 32) * r5, Q(15, 16), Q(45, 32) - Q(15, 32) * r5), Q(225, 32))]))
ROWS.append(dual_row("UD55", "Great Stellapentakis Dodecahedron", K5, "Ih", (-1, Q(-3, 2) + 3 * r5 / 2, 0), 2,
                     ["6", "6", "5/2"], "4.417557", [("0.815941", "4.417557")], R5))
ROWS.append(dual_row("UD59", "Medial Disdyakis Triacontahedron", K5, "Ih", (1, -1, 3), 2, ["4", "10", "10/3"],
                     "5.527708", [("1.507557", "5.527708")], R5,
                     first=[((5, Q(5, 3), Q(-5, 3)), Q(25, 3))]))
ROWS.append(dual_row("UD66", "Great Triakis Icosahedron", K5, "Ih", (0, Q(5, 2) - 3 * r5 / 2, 1), 2,
                     ["3", "10/3", "10/3"], "1.151939", [("0.277351", "1.151939")], R5))
ROWS.append(dual_row("UD68", "Great Disdyakis Triacontahedron", K5, "Ih", (1, 3 - 2 * r5, -1), 2,
                     ["4", "6", "10/3"], "4.160013", [("0.775750", "4.160013")], R5))
REGULAR = {"T": "Td", "C": "Oh", "O": "Oh", "D": "Ih", "I": "Ih"}
NONCONVEX = {"UD16", "UD20", "UD37", "UD38", "UD45", "UD55", "UD59", "UD66", "UD68"}

# --- Prisms, antiprisms and their duals, axis z. Each plane is keyed by the azimuth of its normal
# about z (degrees from +x towards +y) and the sign of its z component; caps by "cap+", "cap-".


def plane_key(v):
    x, y, z = vval(v)
    if abs(x) < 1e-30 and abs(y) < 1e-30:
        return "cap+" if z > 0 else "cap-"
    az = int(mp.nint(mp.degrees(mp.atan2(y, x)))) % 360
    return f"{az}{'+' if z > 1e-30 else '-' if z < -1e-30 else ''}"


def ring(F, cos_sin, radius, z, start, count):
    out = []
    for j in range(count):
        c, s = cos_sin(start + j * 360 // count)
        out.append((radius * c, radius * s, lift(F, z)))
    return out


def hull_planes(vertices):
    """The facets of a convex polytope: per facet the cross product of the edges at one corner
    (outward) and delta = n . p (the plane n . x = delta)."""
    num = [vval(v) for v in vertices]
    out = {}
    for i, j, k in itertools.combinations(range(len(vertices)), 3):
        nn = mcross(msub(num[j], num[i]), msub(num[k], num[i]))
        if mnorm(nn) < EPS:
            continue
        side = [mdot(nn, msub(v, num[i])) for v in num]
        if not (all(x < EPS for x in side) or all(x > -EPS for x in side)):
            continue
        on = [m for m in range(len(num)) if abs(side[m]) < EPS]
        key = tuple(on)
        if key in out:
            continue
        # the facet's vertices in order around its centre
        c = [sum(num[m][a] for m in on) / len(on) for a in range(3)]
        u = msub(num[on[0]], c)
        w = mcross(nn, u)
        on.sort(key=lambda m: mp.atan2(mdot(msub(num[m], c), w), mdot(msub(num[m], c), u)))
        p0, p1, p2 = (vertices[m] for m in on[:3])
        nrm = vcross(vsub(p1, p0), vsub(p2, p1))
        if value_of(vdot(nrm, p0)) < 0:
            nrm = vscale(nrm, -1)
        out[key] = (nrm, vdot(nrm, p0))
    return list(out.values())


def prism_row(code, name, F, cos_sin, sides, start, order, kinds, radicals, first=()):
    """Uniform prism of unit edge, vertices at azimuths start + j 360/sides."""
    c, s = cos_sin(180 // sides)
    radius = 1 / (2 * s)
    verts = ring(F, cos_sin, radius, Q(1, 2), start, sides) + ring(F, cos_sin, radius, Q(-1, 2), start, sides)
    planes = order_by(hull_planes(verts), order, lambda p: plane_key(p[0]))
    row = Row(code, name, F, planes, kinds, radicals)
    row.first = first
    return row, verts


def antiprism_vertices(F, cos_sin, sides, top, height):
    c, s = cos_sin(180 // sides)
    radius = 1 / (2 * s)
    return (ring(F, cos_sin, radius, height / 2, top, sides)
            + ring(F, cos_sin, radius, -height / 2, top + 180 // sides, sides))


def axial_dual_row(code, name, F, verts, expect, length, order, kinds, radicals, first=()):
    normals, delta = dual_rows(verts, lift(F, 1), lift(F, 1), expect, length)
    normals = order_by(normals, order, plane_key)
    row = Row(code, name, F, [(nrm, delta) for nrm in normals], kinds, radicals, uniform=(verts, lift(F, 1)))
    row.first = [(tuple(lift(F, x) for x in f[0]), f[1]) for f in first]
    return row


def trig_table(F, cos_step, sin_step, step):
    """cos and sin of multiples of `step` degrees from those of `step` itself."""
    table = {0: (lift(F, 1), lift(F, 0))}
    c, s = lift(F, 1), lift(F, 0)
    for k in range(1, 360 // step):
        c, s = c * cos_step - s * sin_step, s * cos_step + c * sin_step
        table[k * step] = (c, s)
    return lambda deg: table[deg % 360]


cs30 = trig_table(K3, r3 / 2, Q(1, 2), 30)
r5s = lift(K5s, r5)
cs18 = trig_table(K5s, r5s * K5s.gen() / 20, (r5s - 1) / 4, 18)
cs45q = trig_table(K2q, lift(K2q, r2) / 2, lift(K2q, r2) / 2, 45)
r2p = lift(K2p, r2)
cs45p = trig_table(K2p, r2p / 2, r2p / 2, 45)
cs30h = trig_table(K3h, lift(K3h, r3) / 2, Q(1, 2), 30)
r3w = lift(K23w, K23.gen())
cs30w = trig_table(K23w, r3w / 2, Q(1, 2), 30)
R3 = [("3", "1/2")]
R5P = [("5", "1/2"), ("10", "1/2"), ("5+sqrt(5)", "1/2"), ("5-sqrt(5)", "1/2"), ("5+2*sqrt(5)", "1/2"),
       ("25+10*sqrt(5)", "1/2"), ("50+10*sqrt(5)", "1/2"), ("50-10*sqrt(5)", "1/2")]

row, p3 = prism_row("P3", "Triangular Prism", K3, cs30, 3, 90, ["30", "150", "270", "cap+", "cap-"],
                    [("sqrt(3)/6", 1), (Q(1, 2), "sqrt(3)/2")], R3,
                    first=[((r3 / 2, Q(1, 2), 0), r3 / 6)])
ROWS.append(row)
row, p5 = prism_row("P5", "Pentagonal Prism", K5s, cs18, 5, 18, ["cap+", "cap-", "54", "126", "198", "270", "342"],
                    [(Q(1, 2), "0.951057"), ("0.688191", 1)], R5P)
ROWS.append(row)
row, p6 = prism_row("P6", "Hexagonal Prism", K3, cs30, 6, 0,
                    ["cap+", "cap-", "30", "90", "150", "210", "270", "330"],
                    [(Q(1, 2), "sqrt(3)/2"), ("sqrt(3)/2", 1)], R3)
ROWS.append(row)

q4 = K2q.gen()
a4 = antiprism_vertices(K2q, cs45q, 4, 45, q4**3 / 2)  # height 2^(-1/4)
planes = order_by(hull_planes(a4), ["cap+", "cap-", "0+", "45-", "270+", "315-", "90+", "135-", "180+", "225-"],
                  lambda p: plane_key(p[0]))
row = Row("A4", "Square Antiprism", K2q, planes, [("sqrt(sqrt(8)) / 4", 1), ("0.586040", "sqrt(3)/2")],
          [("2", "1/4"), ("2", "1/2"), ("2", "3/4")])
row.first = [((0, 0, 1), q4**3 / 4), ((0, 0, -1), q4**3 / 4)]
ROWS.append(row)

# The pentagonal antiprism is the icosahedron without the two vertices along +-(phi, -1, 0): its
# caps lie along D's normals 7 and 3, its triangles are ten of I's faces.
A5_CAP_D = M(n(Q(-1, 8)), M(S, A(n(1), M(n(1), SQRT5))))
row = Row("A5", "Pentagonal Antiprism", K5,
          [(D_NORMALS[7], A5_CAP_D), (D_NORMALS[3], A5_CAP_D)]
          + [(I_NORMALS[i], I_D) for i in (4, 0, 11, 12, 6, 5, 9, 16, 17, 3)],
          [("0.425325", "0.951057"), ("0.755761", "sqrt(3)/2")], R5)
row.first = [((h5, Q(-1, 2), 0), (1 + r5) / 8), ((-h5, Q(1, 2), 0), (1 + r5) / 8)]
ROWS.append(row)

hh = K3h.gen()
a6 = antiprism_vertices(K3h, cs30h, 6, 0, hh)
planes = order_by(hull_planes(a6),
                  ["cap+", "cap-", "330+", "0-", "150+", "180-", "30+", "60-", "270+", "300-", "90+", "120-",
                   "210+", "240-"], lambda p: plane_key(p[0]))
ROWS.append(Row("A6", "Hexagonal Antiprism", K3h, planes, [("0.427800", "sqrt(3)/2"), ("0.921781", "sqrt(3)/2")],
                [("3", "1/2"), ("-1+sqrt(3)", "1/2"), ("-3+3*sqrt(3)", "1/2")]))

ROWS.append(axial_dual_row("dP3", "Triangular Dipyramid", K3, p3, ["4", "4", "3"], "1.763834",
                           ["90+", "210+", "330+", "330-", "210-", "90-"], [("0.436436", "1.763834")], R3,
                           first=[((0, Q(4, 3), 2 * r3 / 3), 4 * r3 / 9)]))
ROWS.append(axial_dual_row("dP5", "Pentagonal Dipyramid", K5s, p5, ["4", "4", "5"], "2.074987",
                           ["18+", "90+", "162+", "234+", "306+", "306-", "234-", "162-", "90-", "18-"],
                           [("0.733349", "2.074987")],
                           [("2", "1/2"), ("5", "1/2"), ("10", "1/2"), ("5+sqrt(5)", "1/2"), ("5-sqrt(5)", "1/2"),
                            ("5-2*sqrt(5)", "1/2"), ("10+2*sqrt(5)", "1/2"), ("25-10*sqrt(5)", "1/2"),
                            ("50+10*sqrt(5)", "1/2"), ("50-10*sqrt(5)", "1/2")]))
ROWS.append(axial_dual_row("dP6", "Hexagonal Dipyramid", K3, p6, ["4", "4", "6"], "2.581989",
                           ["60+", "120+", "180+", "240+", "300+", "0+", "0-", "300-", "240-", "180-", "120-", "60-"],
                           [("2/sqrt(5)", "2.581989")], R3,
                           first=[((2 * r3 / 3, 2, 2 * r3 / 3), 4 * r3 / 3)]))

qp = K2p.gen() * (r2p - 1)  # 2^(1/4)
ROWS.append(axial_dual_row("dA4", "Tetragonal Trapezohedron", K2p, antiprism_vertices(K2p, cs45p, 4, 45, qp**3 / 2),
                           ["3", "3", "3", "4"], "0.691776",
                           ["45+", "135+", "225+", "315+", "0-", "270-", "180-", "90-"], [("0.518774", "0.691776")],
                           [("2", "1/2"), ("4+3*sqrt(2)", "1/2"), ("-4+3*sqrt(2)", "1/2")]))

# The pentagonal trapezohedron: the dual of A5, whose vertices are the ten of D's normals other
# than 7 and 3 (D's normals are the vertices of the icosahedron of unit edge).
dA5_dual = dual_rows([D_NORMALS[i] for i in (8, 6, 11, 10, 0, 1, 9, 4, 5, 2)], lift(K5, 1), lift(K5, 1),
                     ["3", "3", "3", "5"], "0.951057")
assert dA5_dual[0] == [D_NORMALS[i] for i in (8, 6, 11, 10, 0, 1, 9, 4, 5, 2)] and dA5_dual[1] == (3 + r5) / 8
row = Row("dA5", "Pentagonal Trapezohedron", K5, [(D_NORMALS[i], I_D) for i in (8, 6, 11, 10, 0, 1, 9, 4, 5, 2)],
          [("0.688191", "0.951057")], R5)
row.first = [((0, -h5, Q(1, 2)), (3 + r5) / 8), ((0, -h5, Q(-1, 2)), (3 + r5) / 8)]
ROWS.append(row)

ww = K23w.gen()
h6 = lift(K23w, r2) * ww / (r3w - 1)  # sqrt(-1 + sqrt 3)
ROWS.append(axial_dual_row("dA6", "Hexagonal Trapezohedron", K23w, antiprism_vertices(K23w, cs30w, 6, 0, h6),
                           ["3", "3", "3", "6"], "1.271230",
                           ["120+", "180+", "240+", "300+", "0+", "60+", "330-", "270-", "210-", "150-", "90-", "30-"],
                           [("0.857813", "1.271230")],
                           [("2", "1/2"), ("3", "1/2"), ("-5+3*sqrt(3)", "1/2"), ("19+11*sqrt(3)", "1/2"),
                            ("38+22*sqrt(3)", "1/2"), ("-30+18*sqrt(3)", "1/2")]))

ORDER = ["T", "C", "O", "D", "I", "kT", "jC", "kC", "kO", "oC", "gC", "jD", "mC", "kD", "kI", "oD", "mD",
         "UD16", "UD20", "UD37", "UD38", "UD45", "UD55", "UD59", "UD66", "UD68",
         "P3", "P5", "P6", "A4", "A5", "A6", "dP3", "dP5", "dP6", "dA4", "dA5", "dA6"]
COUNTS = [4, 6, 8, 12, 20, 12, 12, 24, 24, 24, 24, 30, 48, 60, 60, 60, 120, 48, 48, 60, 60, 120, 60, 120, 60, 120,
          5, 7, 8, 10, 12, 14, 6, 10, 12, 8, 10, 12]

# ---------------------------------------------------------------------------------------------
# Checks of the written rows, read back and evaluated at high precision.


def expected_value(x):
    """A table value and its tolerance: a decimal is good to half its last digit."""
    if isinstance(x, str):
        if all(ch in "0123456789." for ch in x):
            digits = len(x.split(".")[1]) if "." in x else 0
            return mp.mpf(x), mp.mpf(10) ** -digits / 2 + mp.mpf(10) ** -12
        return mp.mpf(eval(x.replace("^", "**"), {"sqrt": mp.sqrt})), mp.mpf(10) ** -40
    if isinstance(x, (int, Q)):
        return value_of(Q(x)), mp.mpf(10) ** -40
    return mp.mpf(x), mp.mpf(10) ** -40


def allowed_radical(base, exponent, allowed):
    b = evaluate(base, 0)
    for text_base, text_exp in allowed:
        if text_base == "sum":
            continue
        want = mp.mpf(eval(text_base, {"sqrt": mp.sqrt}))
        if abs(b - want) < mp.mpf(10) ** -40 and exponent == Q(text_exp):
            return True
    if any(tb == "sum" for tb, _ in allowed) and exponent == Q(1, 2):
        inner = radicals(base, [])
        return bool(inner) and all(allowed_radical(bb, ee, allowed) for bb, ee in inner)
    return False


def top_level_radicals(t, out):
    if t[0] in ("A", "M"):
        top_level_radicals(t[1], out)
        top_level_radicals(t[2], out)
    elif t[0] == "P":
        if t[2][1].denominator == 1:
            top_level_radicals(t[1], out)
        else:
            out.append((t[1], t[2][1]))
    return out


def facets_ok(normals, deltas):
    """Whether {x : n.x <= delta} is bounded and every plane touches it in a 2D facet."""
    box = 1e4
    fn = [[float(x) for x in v] for v in normals]
    fd = [float(x) for x in deltas]
    for i, (nv, dv) in enumerate(zip(fn, fd)):
        nn = sum(x * x for x in nv)
        p0 = [x * dv / nn for x in nv]
        a = [1.0, 0.0, 0.0] if abs(nv[0]) < 0.9 * nn**0.5 else [0.0, 1.0, 0.0]
        u = mcross(nv, a)
        un = sum(x * x for x in u) ** 0.5
        u = [x / un for x in u]
        w = mcross([x / nn**0.5 for x in nv], u)
        poly = [(-box, -box), (box, -box), (box, box), (-box, box)]
        for j, (mv, ev) in enumerate(zip(fn, fd)):
            if j == i:
                continue
            ca, cb = mdot(mv, u), mdot(mv, w)
            cc = ev - mdot(mv, p0)
            out = []
            for k in range(len(poly)):
                s0, s1 = poly[k], poly[(k + 1) % len(poly)]
                f0, f1 = ca * s0[0] + cb * s0[1] - cc, ca * s1[0] + cb * s1[1] - cc
                if f0 <= 0:
                    out.append(s0)
                if (f0 < 0) != (f1 < 0) and f0 != f1:
                    r = f0 / (f0 - f1)
                    out.append((s0[0] + r * (s1[0] - s0[0]), s0[1] + r * (s1[1] - s0[1])))
            poly = out
            if not poly:
                return False, f"plane {i} has no facet"
        area = 0.5 * abs(sum(poly[k][0] * poly[(k + 1) % len(poly)][1] - poly[(k + 1) % len(poly)][0] * poly[k][1]
                             for k in range(len(poly))))
        if area < 1e-9:
            return False, f"plane {i} touches in less than a facet"
        if any(max(abs(x), abs(y)) > box / 2 for x, y in poly):
            return False, "unbounded"
    return True, ""


def check_row(row, definition, count):
    where = f"row {row.code}"
    planes = read_definition(definition)
    assert len(planes) == count, f"{where}: {len(planes)} planes"
    nums = []
    for i, (a, b, c, d) in enumerate(planes):
        assert all(scale_nodes(x, False) for x in (a, b, c)) and scale_nodes(d, True), f"{where}: S outside d"
        assert d[0] == "M", f"{where}: d is not a product"
        nv = [evaluate(x, 1) for x in (a, b, c)]
        dv = evaluate(d, 1)
        assert abs(evaluate(d, 0)) < mp.mpf(10) ** -50 and abs(evaluate(d, 2) - 2 * dv) < mp.mpf(10) ** -45, \
            f"{where}: d is not a multiple of S"
        assert dv < 0, f"{where}: plane {i} has the centre on its positive side"
        nums.append((nv, dv))
        for x in (a, b, c, d):
            for base, e in top_level_radicals(x, []):
                assert allowed_radical(base, e, row.radicals), f"{where}: radical {text(base)}^{e} not allowed"
            if row.F is Kt:
                assert text(x).count(text(THETA_TREE)) == 1, f"{where}: plane {i} does not write theta once"
    # k and normal length: every plane of one of the row's kinds, every kind present
    kinds = [(expected_value(k), expected_value(L)) for k, L in row.kinds]
    used = set()
    for i, (nv, dv) in enumerate(nums):
        L = mnorm(nv)
        k = -dv / L
        match = [j for j, ((kv, kt), (lv, lt)) in enumerate(kinds) if abs(k - kv) <= kt and abs(L - lv) <= lt]
        assert match, f"{where}: plane {i} has k {mp.nstr(k, 10)} and length {mp.nstr(L, 10)}"
        used.add(match[0])
    assert used == set(range(len(kinds))), f"{where}: a kind of plane is missing"
    # distinct
    keys = set()
    for nv, dv in nums:
        key = tuple(int(mp.nint(x * 10**20)) for x in nv + [dv])
        assert key not in keys, f"{where}: repeated plane"
        keys.add(key)
    # the exact first planes
    for i, (normal, delta) in enumerate(row.first):
        have = row.planes[i]
        if delta is None:
            assert all(x == 0 for x in vcross(have[0], normal)) and value_of(vdot(have[0], normal)) > 0, where
        else:
            assert tuple(lift(row.F, x) for x in have[0]) == tuple(lift(row.F, x) for x in normal), \
                f"{where}: first plane {i}"
            if isinstance(have[1], tuple):
                assert abs(evaluate(have[1], 1) + value_of(delta)) < mp.mpf(10) ** -45, where
            else:
                assert have[1] == delta, f"{where}: first plane {i} offset"
    # the regular solids: the normals are one orbit of the symmetry group
    if row.code in REGULAR:
        group = group_of(REGULAR[row.code])
        normals = [p[0] for p in row.planes]
        orb = orbit(group, tuple(lift(row.F, x) for x in normals[0]))
        assert len(orb) == count and {tuple(lift(row.F, x) for x in v) for v in normals} == set(orb), where
    # the polyhedron
    if row.code in NONCONVEX:
        verts, edge2 = row.uniform
        vn = [vval(v) for v in verts]
        R = mnorm(vn[0]) / mp.sqrt(value_of(edge2))
        k_rule = (R * R - mp.mpf(1) / 4) / R
        dirs = sorted(tuple(int(mp.nint(x / mnorm(v) * 10**20)) for x in v) for v in vn)
        have = sorted(tuple(int(mp.nint(x / mnorm(nv) * 10**20)) for x in nv) for nv, _ in nums)
        assert dirs == have, f"{where}: normals are not along the vertices"
        assert all(abs(-dv / mnorm(nv) - k_rule) < mp.mpf(10) ** -40 for nv, dv in nums), f"{where}: distance"
    else:
        ok, why = facets_ok([nv for nv, _ in nums], [-dv for _, dv in nums])
        assert ok, f"{where}: {why}"
        if row.uniform:
            verts, edge2 = row.uniform
            vn = [vval(v) for v in verts]
            dirs = sorted(tuple(int(mp.nint(x / mnorm(v) * 10**20)) for x in v) for v in vn)
            have = sorted(tuple(int(mp.nint(x / mnorm(nv) * 10**20)) for x in nv) for nv, _ in nums)
            assert dirs == have, f"{where}: normals are not along the vertices"


# ---------------------------------------------------------------------------------------------
# Output.


def c_literal(s, width=96):
    parts = [s[i:i + width] for i in range(0, len(s), width)] or [""]
    return "\n".join(f'     "{p}"' for p in parts)


def main():
    out_path = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "src" / "polyhedra_table.inc"
    by_code = {r.code: r for r in ROWS}
    assert sorted(by_code) == sorted(ORDER) and len(ORDER) == 38
    lines = ["// Generated by scripts/gen_polyhedra.py; do not edit.",
             "// One {code, name, definition} row per polyhedron, in table order."]
    total = 0
    for code, count in zip(ORDER, COUNTS):
        row = by_code[code]
        definition = row.definition()
        check_row(row, definition, count)
        total += len(definition)
        lines.append(f'    {{"{row.code}", "{row.name}",\n{c_literal(definition)}}},')
        print(f"{code:5} {count:4} planes {len(definition):6} bytes", file=sys.stderr)
    out_path.write_text("\n".join(lines) + "\n")
    print(f"wrote {out_path} ({total} bytes of definitions)", file=sys.stderr)


if __name__ == "__main__":
    main()

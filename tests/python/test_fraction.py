import fractions
import random
import struct

import pytest

from gyrelle._native import Fraction

I64_MIN, I64_MAX = -(2**63), 2**63 - 1
MASK = 2**64 - 1


def reference(f):
    """The same value as the standard library's fraction."""
    return fractions.Fraction(int(f.numerator), int(f.denominator))


@pytest.mark.parametrize("args, text, num, den", [
    ((6, -4), "-3/2", "-3", "2"),
    ((0, 5), "0", "0", "1"),
    ((0, -5), "0", "0", "1"),
    ((7,), "7", "7", "1"),
    ((-8, -12), "2/3", "2", "3"),
    ((I64_MIN, I64_MIN), "1", "1", "1"),
    ((I64_MIN, -1), "9223372036854775808", "9223372036854775808", "1"),
    ((1, I64_MIN), "-1/9223372036854775808", "-1", "9223372036854775808"),
])
def test_construction_reduces_and_prints(args, text, num, den):
    f = Fraction(*args)
    assert str(f) == text
    assert f.numerator == num and f.denominator == den
    assert isinstance(f.numerator, str)
    assert repr(f) == f"Fraction({num}, {den})"


def test_arguments_by_name_and_index_protocol():
    class Index:
        def __index__(self):
            return 3

    assert str(Fraction(numerator=1, denominator=2)) == "1/2"
    assert str(Fraction(denominator=4, numerator=2)) == "1/2"
    assert str(Fraction(Index(), 6)) == "1/2"
    assert str(Fraction(True)) == "1"


@pytest.mark.parametrize("args, kwargs, exc, name", [
    ((1.5,), {}, TypeError, "numerator"),
    (("1",), {}, TypeError, "numerator"),
    ((1, 2.0), {}, TypeError, "denominator"),
    ((2**63,), {}, OverflowError, "numerator"),
    ((1,), {"denominator": 2**64}, OverflowError, "denominator"),
])
def test_bad_arguments_keep_the_host_error_with_a_note(args, kwargs, exc, name):
    with pytest.raises(exc) as info:
        Fraction(*args, **kwargs)
    assert f"while processing '{name}'" in info.value.__notes__


def test_zero_denominators():
    with pytest.raises(ZeroDivisionError, match="^Division by zero$"):
        Fraction(1, 0)
    with pytest.raises(ZeroDivisionError, match="^Division by zero$"):
        Fraction(0, 0)
    with pytest.raises(ZeroDivisionError, match="^Division by zero$"):
        Fraction(1) / Fraction(0, 7)


def test_small_examples():
    assert str(Fraction(1, 3) + Fraction(1, 6)) == "1/2"
    assert str(Fraction(1, 2) - Fraction(3, 4)) == "-1/4"
    assert str(Fraction(2, 3) * Fraction(9, 4)) == "3/2"
    assert str(Fraction(2, 3) / Fraction(-4, 9)) == "-3/2"
    assert str(-Fraction(0)) == "0"
    assert str(abs(Fraction(-5, 3))) == "5/3"
    assert float(Fraction(1, 3)) == 1 / 3


def test_truth_is_being_nonzero():
    assert [bool(Fraction(0)), bool(Fraction(0, 5)), bool(Fraction(-1, 3)), bool(Fraction(2**62) * Fraction(4))] == [
        False, False, True, True]
    assert not (Fraction(1, 2) - Fraction(2, 4))


def test_results_beyond_64_bits_are_exact():
    f = Fraction(2**62) * Fraction(4)
    assert str(f) == str(2**64)
    assert repr(f) == f"Fraction({2**64}, 1)"
    g = Fraction(I64_MIN) * Fraction(I64_MIN) / Fraction(3)
    assert str(g) == f"{2**126}/3"
    assert str(-Fraction(I64_MIN)) == str(2**63)
    assert str(abs(Fraction(I64_MIN, 7))) == f"{2**63}/7"
    # Back into the machine range after a detour.
    assert (f / Fraction(2**62)) == Fraction(4)


def draws(rng, count):
    edges = [0, 1, -1, 2, I64_MAX, I64_MIN, I64_MAX - 1, I64_MIN + 1, 2**32, -(2**31)]
    for _ in range(count):
        def one():
            return rng.choice(edges) if rng.random() < 0.3 else rng.randint(-10**6, 10**6)
        n, d = one(), one()
        yield n, (d or 1)


def test_arithmetic_and_order_agree_with_the_standard_library():
    rng = random.Random(12)
    values = [Fraction(n, d) for n, d in draws(rng, 40)]
    # Grow some beyond 64 bits.
    values += [a * b * c for a, b, c in zip(values, values[1:], values[2:])][:15]
    for a in values:
        ra = reference(a)
        assert str(a) == str(ra)
        assert float(a) == float(ra)
        assert str(-a) == str(-ra) and str(abs(a)) == str(abs(ra))
        for b in values[:25]:
            rb = reference(b)
            assert str(a + b) == str(ra + rb)
            assert str(a - b) == str(ra - rb)
            assert str(a * b) == str(ra * rb)
            if rb:
                assert str(a / b) == str(ra / rb)
            assert (a < b, a <= b, a == b, a != b, a > b, a >= b) == \
                (ra < rb, ra <= rb, ra == rb, ra != rb, ra > rb, ra >= rb)


def test_only_fractions_mix():
    one = Fraction(1)
    assert (one == 1) is False
    assert (one != 1) is True
    assert (one == fractions.Fraction(1)) is False
    for other in (1, 1.0, "1", None, fractions.Fraction(1)):
        with pytest.raises(TypeError):
            one + other
        with pytest.raises(TypeError):
            other * one
        with pytest.raises(TypeError):
            one < other

    class Other:
        def __radd__(self, left):
            return "reflected"

        def __rtruediv__(self, left):
            return "reflected"

        def __gt__(self, left):
            return "reflected"

    assert one + Other() == "reflected"
    assert one / Other() == "reflected"
    assert (one < Other()) == "reflected"


def siphash13(data):
    """SipHash-1-3 under the zero key, from its definition."""
    def rotl(x, b):
        return ((x << b) | (x >> (64 - b))) & MASK

    v = [0x736F6D6570736575, 0x646F72616E646F6D, 0x6C7967656E657261, 0x7465646279746573]

    def sipround():
        v[0] = (v[0] + v[1]) & MASK; v[1] = rotl(v[1], 13) ^ v[0]; v[0] = rotl(v[0], 32)
        v[2] = (v[2] + v[3]) & MASK; v[3] = rotl(v[3], 16) ^ v[2]
        v[0] = (v[0] + v[3]) & MASK; v[3] = rotl(v[3], 21) ^ v[0]
        v[2] = (v[2] + v[1]) & MASK; v[1] = rotl(v[1], 17) ^ v[2]; v[2] = rotl(v[2], 32)

    padded = data + b"\0" * (7 - len(data) % 8) + bytes([len(data) & 0xFF])
    for i in range(0, len(padded), 8):
        (m,) = struct.unpack("<Q", padded[i:i + 8])
        v[3] ^= m
        sipround()
        v[0] ^= m
    v[2] ^= 0xFF
    for _ in range(3):
        sipround()
    return v[0] ^ v[1] ^ v[2] ^ v[3]


def canonical_bytes(n):
    """An integer's hash bytes: one word in the 64-bit range, else sign, digit count, digits."""
    if I64_MIN <= n <= I64_MAX:
        return struct.pack("<Q", n & MASK)
    digits = []
    m = abs(n)
    while m:
        digits.append(m & MASK)
        m >>= 64
    return struct.pack("<QQ", 0 if n < 0 else 2, len(digits)) + b"".join(struct.pack("<Q", d) for d in digits)


def expected_hash(f):
    r = reference(f)
    h = siphash13(canonical_bytes(r.numerator) + canonical_bytes(r.denominator))
    h = h - 2**64 if h >= 2**63 else h
    return -2 if h == -1 else h


def test_hash_is_siphash_of_the_canonical_bytes():
    values = [Fraction(0), Fraction(-3, 2), Fraction(I64_MIN), Fraction(1, I64_MIN),
              Fraction(2**62) * Fraction(4), Fraction(I64_MIN) * Fraction(I64_MIN) / Fraction(-3)]
    for f in values:
        assert hash(f) == expected_hash(f), str(f)


def test_equal_values_hash_equal():
    assert Fraction(1, 2) == Fraction(2, 4)
    assert hash(Fraction(1, 2)) == hash(Fraction(2, 4))
    big = Fraction(2**62) * Fraction(8)
    assert hash(big / Fraction(2)) == hash(Fraction(2**62) * Fraction(4))
    assert hash(big / big) == hash(Fraction(1))
    assert len({Fraction(1, 3), Fraction(2, 6), Fraction(-1, -3), Fraction(1, 2)}) == 2


def test_class_is_frozen_and_documented():
    assert Fraction.__name__ == "Fraction"
    assert Fraction.__module__ == "gyrelle._native"
    assert Fraction.__text_signature__ == "(numerator, denominator=1)"
    assert Fraction.__doc__ == "An exact rational number."
    f = Fraction(1, 2)
    with pytest.raises(AttributeError):
        f.numerator = "3"
    with pytest.raises(AttributeError):
        f.other = 1
    with pytest.raises(TypeError):
        Fraction.numerator = None

import threading
import time

import pytest

import gyrelle._native as native

import borrowing
import optional

testing = native._testing
Probe = testing.Probe


def notes(excinfo):
    return getattr(excinfo.value, "__notes__", [])


class TestMatching:
    # signature(a, b=2, /, c=3, *, d, e=5)
    def test_places_arguments(self):
        assert testing.signature(1, d=4) == (1, None, None, 4, None)
        assert testing.signature(1, 2, 3, e=6, d=5) == (1, 2, 3, 5, 6)
        assert testing.signature(1, c=3, d=4) == (1, None, 3, 4, None)

    @pytest.mark.parametrize("args, kwargs, message", [
        ((), {"d": 1}, "signature() missing 1 required positional argument: 'a'"),
        ((1,), {}, "signature() missing 1 required keyword argument: 'd'"),
        ((1, 2, 3, 4), {"d": 1}, "signature() takes from 1 to 3 positional arguments but 4 were given"),
        ((1,), {"d": 1, "z": 2}, "signature() got an unexpected keyword argument 'z'"),
        ((1, 2, 3), {"c": 3, "d": 1}, "signature() got multiple values for argument 'c'"),
        ((1,), {"a": 1, "b": 2, "d": 1},
         "signature() got some positional-only arguments passed as keyword arguments: 'a' and 'b'"),
    ])
    def test_messages(self, args, kwargs, message):
        with pytest.raises(TypeError) as e:
            testing.signature(*args, **kwargs)
        assert str(e.value) == message

    def test_method_and_constructor_names(self):
        p = Probe()
        with pytest.raises(TypeError, match=r"^Probe\.hold\(\) missing 1 required positional argument: 'ms'$"):
            p.hold()
        with pytest.raises(TypeError, match=r"^Probe\.hold\(\) got an unexpected keyword argument 'speed'$"):
            p.hold(1, speed=2)
        with pytest.raises(TypeError, match=r"^Probe\.__new__\(\) takes from 0 to 1 positional arguments "
                                            r"but 2 were given$"):
            Probe(1, 2)
        with pytest.raises(TypeError, match=r"^Probe\.hold\(\) takes 1 positional arguments but 2 were given$"):
            p.hold(1, 2)

    def test_failed_conversion_gets_a_note_and_leaves_the_object_free(self):
        p = Probe(7)
        with pytest.raises(TypeError) as e:
            p.hold("long")
        assert notes(e) == ["while processing 'ms'"]
        p.hold(0)
        assert p.value == 7


class TestSlots:
    def test_class_method_length_hash_and_comparison(self):
        p = Probe.of(4)
        assert type(p) is Probe and p.value == 4
        assert len(p) == 4
        with pytest.raises(OverflowError):
            len(Probe(-1))  # too long for a signed machine word
        assert hash(p) == 4 and hash(Probe(-1)) == -2
        assert p == Probe(4) and p != Probe(5)
        assert (p == 4) is False  # the other operand falls back
        with pytest.raises(TypeError):
            p < Probe(5)

    def test_number_slots_and_frozen_values(self):
        t = Probe(4) + Probe(3)
        assert repr(t) == "Token(7)" and repr(-t) == "Token(-7)"
        with pytest.raises(TypeError):
            Probe(1) + 1
        with pytest.raises(AttributeError):
            t.value = 1  # read-only property: the host's own refusal
        with pytest.raises(TypeError):
            type(t)()


class TestBorrows:
    def test_exclusive_call_blocks_others_without_waiting(self):
        p = Probe(1)
        # The worker holds the probe from converting its argument on, then 400 ms without the interpreter.
        gate = borrowing.Gate(400, wait=False)
        worker = threading.Thread(target=p.hold, args=(gate,))
        worker.start()
        assert gate.entered.wait(borrowing.TIMEOUT)
        with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
            p.value
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            p.hold(0)
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            p.value = 2
        worker.join()
        p.value = 3
        assert p.value == 3
        p.hold(0)

    def test_shared_calls_run_together(self):
        # One after the other takes 0.4 s at least; a loaded machine may delay one try, not three.
        p = Probe(5)
        took = []
        for _ in range(3):
            results = []
            threads = [threading.Thread(target=lambda: results.append(p.peek(200))) for _ in range(2)]
            start = time.monotonic()
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            assert results == [5, 5]
            took.append(time.monotonic() - start)
            if took[-1] < 0.39:
                break
        assert min(took) < 0.39, took  # concurrent, not one after the other

    def test_argument_borrow_against_own_exclusive_borrow(self):
        p, q = Probe(1), Probe(2)
        with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
            p.borrow_other(p)
        assert p.borrow_other(q) == 3
        with pytest.raises(TypeError) as e:
            p.borrow_other(3)
        assert str(e.value) == "'int' object is not an instance of 'Probe'"
        assert notes(e) == ["while processing 'other'"]

    def test_setter_converts_before_borrowing(self):
        p = Probe(1)
        with pytest.raises(TypeError) as e:
            p.value = "x"
        assert notes(e) == ["while processing 'value'"]
        with pytest.raises(AttributeError, match="^property has no deleter$"):
            del p.value
        assert p.value == 1


class TestFailures:
    @pytest.mark.parametrize("detached", [False, True])
    def test_panic_escapes_except_exception(self, detached, capfd):
        p = Probe(1)
        with pytest.raises(BaseException) as e:
            try:
                p.panic("invariant broke", detached)
            except Exception:
                pytest.fail("caught as Exception")
        cls = type(e.value)
        assert (cls.__module__, cls.__name__) == ("pyo3_runtime", "PanicException")
        assert not issubclass(cls, Exception)
        assert e.value.args == ("invariant broke",)
        assert "invariant broke" in capfd.readouterr().err
        assert p.value == 1  # the borrow was given back, the interpreter re-acquired
        p.hold(0)

    def test_cpp_exceptions(self, capfd):
        p = Probe()
        with pytest.raises(MemoryError):
            p.throw("bad_alloc")
        for kind in ("std", "other"):
            with pytest.raises(BaseException) as e:
                p.throw(kind)
            assert type(e.value).__name__ == "PanicException"
        assert "logic failed" in capfd.readouterr().err
        p.hold(0)

    @pytest.mark.parametrize("kind, message, expected", [
        ("Range", "Division by zero: 3 in Q", ZeroDivisionError),
        ("Range", "x / 0: Division by zero", ZeroDivisionError),
        ("Range", "division by zero", ValueError),
        ("Range", "Division by zer", ValueError),
        ("Division", "a Division by zero here", ZeroDivisionError),
        ("Division", "cannot divide", ArithmeticError),
        ("Type", "Division by zero", TypeError),
        ("Parse", "bad token", native.PuzzleError),
        ("State", "locked", native.PuzzleError),
        ("Other", "Division by zero", RuntimeError),
    ])
    def test_error_mapping(self, kind, message, expected):
        with pytest.raises(expected) as e:
            testing.fail(kind, message)
        assert type(e.value) is expected
        assert e.value.args == (message,)

    def test_other_is_not_a_puzzle_error(self):
        with pytest.raises(RuntimeError) as e:
            testing.fail("Other", "x")
        assert not isinstance(e.value, native.PuzzleError)

    def test_error_text_prefixes_the_entry(self):
        with pytest.raises(native.PuzzleError) as e:
            testing.fail_with_text("Parse", "unexpected end", "?shell=C$")
        assert e.value.args == ("?shell=C$: unexpected end",)
        with pytest.raises(ZeroDivisionError):
            testing.fail_with_text("Division", "Division by zero: 0", "entry")


def convert(kind, value):
    return testing.convert(kind, value)


class TestConverters:
    def test_whole_number_widths(self):
        assert convert("u8", 255) == 255
        assert convert("u32", True) == 1
        assert convert("i32", -5) == -5
        for kind, value in (("u8", 256), ("u8", -1), ("u32", 2**32), ("i32", 2**31)):
            with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
                convert(kind, value)
        with pytest.raises(OverflowError) as e:
            convert("u32", 2**64)
        assert "out of range integral" not in str(e.value)  # the host's own message
        with pytest.raises(OverflowError):
            convert("usize", -1)
        assert convert("usize", 2**64 - 1) == 2**64 - 1
        with pytest.raises(TypeError) as e:
            convert("u32", 1.0)
        assert notes(e) == ["while processing 'value'"]

    def test_index_objects(self):
        np = optional.need("numpy")
        assert convert("u32", np.uint16(9)) == 9
        assert convert("flag", np.bool_(True)) is True

    def test_flag_text_float(self):
        assert convert("flag", False) is False
        with pytest.raises(TypeError, match="^'int' object is not an instance of 'bool'$"):
            convert("flag", 1)
        with pytest.raises(TypeError, match="^'bytes' object is not an instance of 'str'$"):
            convert("text", b"x")
        assert convert("float", 3) == 3.0
        with pytest.raises(TypeError):
            convert("float", "3")

    def test_tuples(self):
        assert convert("rgba", (1, 2, 3, 255)) == (1, 2, 3, 255)
        with pytest.raises(TypeError, match="^'list' object is not an instance of 'tuple'$"):
            convert("rgba", [1, 2, 3, 4])
        with pytest.raises(ValueError, match="^expected tuple of length 4, but got tuple of length 3$"):
            convert("rgba", (1, 2, 3))
        with pytest.raises(OverflowError):
            convert("rgba", (1, 2, 3, 256))
        assert convert("vec3", (1, 2.5, -1)) == (1.0, 2.5, -1.0)

    def test_sequences(self):
        assert convert("u32_list", (3, 1)) == [3, 1]
        assert convert("objects", ("Megaminx",)) == ["Megaminx"]
        with pytest.raises(TypeError, match="^Can't extract `str` to `Vec`$"):
            convert("objects", "Megaminx")
        with pytest.raises(TypeError, match="^'dict' object is not an instance of 'Sequence'$"):
            convert("u32_list", {1: 2})
        with pytest.raises(OverflowError):
            convert("u32_list", [1, -1])

    def test_huge_length_hint_is_not_reserved(self):
        class Liar:
            def __len__(self):
                return 2**62

            def __getitem__(self, i):
                if i < 3:
                    return i
                raise IndexError

        assert convert("u32_list", Liar()) == [0, 1, 2]
        assert convert("whole_u32", Liar()) == [0, 1, 2]

import struct

import pytest

import gyrelle._native as native

import optional

np = optional.module("numpy")
needs_numpy = optional.needs("numpy")
testing = native._testing


def make(kind, values, shape, bound=0):
    return testing.array(kind, values, shape, bound)


def whole(width, value):
    return testing.convert(f"whole_u{width}", value)


def numpy_array(values, dtype=None):
    """A NumPy array, or None without NumPy (for parameters of tests marked needs_numpy)."""
    return np.array(values, dtype=dtype) if np else None


class TestArray:
    @pytest.mark.parametrize("bound, typestr, itemsize", [
        (0, "|u1", 1), (1, "|u1", 1), (256, "|u1", 1), (257, "<u2", 2), (65536, "<u2", 2), (65537, "<u4", 4),
    ])
    def test_width_follows_the_bound(self, bound, typestr, itemsize):
        a = make("u32", [0, 1], (2,), bound)
        assert (a.typestr, a.itemsize, a.size) == (typestr, itemsize, 2)
        assert a.tolist() == [0, 1]

    def test_narrowing_keeps_low_bytes_and_widening_is_exact(self):
        assert make("u32", [258, 7], (2,), 200).to_bytes() == bytes([2, 7])
        wide = make("u8", [255, 1], (2,), 70000)
        assert wide.typestr == "<u4"
        assert wide.to_bytes() == struct.pack("<2I", 255, 1)

    def test_rows_and_negative_indices(self):
        a = make("u16", list(range(12)), (3, 4), 300)
        assert len(a) == 3
        assert a[-1] == [8, 9, 10, 11]
        assert a[-3] == a[0] == [0, 1, 2, 3]
        assert list(a) == [[0, 1, 2, 3], [4, 5, 6, 7], [8, 9, 10, 11]]
        with pytest.raises(IndexError, match="^index out of range$"):
            a[-4]
        b = make("u8", list(range(24)), (2, 3, 4), 30)
        assert b[1] == list(range(12, 24))

    def test_empty_shapes(self):
        for shape, length in (((0,), 0), ((), 0), ((2, 0), 2)):
            a = make("u8", [], shape, 1)
            assert len(a) == length and a.size == 0 and a.tolist() == [] and a.to_bytes() == b""
            assert a.__array_interface__["data"][0] != 0
        assert make("u8", [], (2, 0))[1] == []
        for index in (0, -1):
            with pytest.raises(IndexError):
                make("u8", [], (0,))[index]
        with pytest.raises(IndexError):
            make("u8", [], ())[0]

    @needs_numpy
    def test_bad_index_gets_a_note(self):
        a = make("u8", [1], (1,), 2)
        with pytest.raises(TypeError) as e:
            a[0:1]
        assert e.value.__notes__ == ["while processing 'index'"]
        assert a[np.int64(0)] == 1

    def test_element_types(self):
        flags = make("flags", [1, 0], (2,))
        assert flags.tolist() == [True, False] and flags[0] is True
        assert make("f32", [0.1], (1,)).tolist() == [0.10000000149011612]

    def test_repr(self):
        assert repr(make("u8", [0] * 6, (2, 3), 2)) == "<Array shape=(2, 3) dtype=|u1>"
        assert repr(make("flags", [0] * 8, (8,))) == "<Array shape=(8,) dtype=|b1>"
        assert repr(make("f32", [1.0], ())) == "<Array shape=() dtype=<f4>"

    @needs_numpy
    def test_interface_and_numpy_share_memory(self):
        a = make("u16", [1, 2, 3, 4, 5, 6], (2, 3), 1000)
        iface = a.__array_interface__
        assert list(iface) == ["shape", "typestr", "version", "data"]
        assert iface["shape"] == (2, 3) and iface["version"] == 3
        assert type(iface["data"][1]) is int and iface["data"][1] == 0
        view = np.asarray(a)
        assert view.base is a and view.dtype == np.uint16 and view.shape == (2, 3)
        assert view.__array_interface__["data"][0] == iface["data"][0]
        view[0, 0] = 99  # the view is writable and is the Array's own buffer
        assert a[0] == [99, 2, 3]
        del a
        assert view.sum() == 99 + 20  # still valid: NumPy keeps the Array alive


class TestWholeNumbers:
    @needs_numpy
    def test_numpy_integer_types(self):
        for dtype in ("i1", "u1", "<i2", ">u2", "<i4", ">i4", "<u8", ">i8"):
            assert whole(32, np.array([[0, 1], [2, 3]], dtype=dtype)) == [0, 1, 2, 3]
        assert whole(32, [np.uint32(7)]) == [7]

    @needs_numpy
    def test_layouts(self):
        t = np.arange(6, dtype=np.int64).reshape(2, 3).T
        assert whole(8, t) == [0, 3, 1, 4, 2, 5]  # through the nested-sequence form
        with pytest.raises(TypeError, match="^expected an array, a buffer, or a sequence of whole numbers$"):
            whole(8, np.zeros((2, 2, 2), dtype=np.int64).transpose(2, 0, 1))

    @pytest.mark.parametrize("value, error, message", [
        pytest.param(numpy_array([True]), TypeError, "expected an array of whole numbers, not one of |b1",
                     marks=needs_numpy),
        pytest.param(numpy_array([1.5]), TypeError, "expected an array of whole numbers, not one of <f8",
                     marks=needs_numpy),
        pytest.param(numpy_array([-1], "int8"), ValueError,
                     "a sticker, a face and a move are all counted from zero, and this array holds a negative number",
                     marks=needs_numpy),
        pytest.param(numpy_array([2**32], "uint64"), ValueError,
                     "this array holds a number too large for a sticker slot", marks=needs_numpy),
        ([-1], TypeError, "expected an array, a buffer, or a sequence of whole numbers"),
        ([2**32], TypeError, "expected an array, a buffer, or a sequence of whole numbers"),
        ("ab", TypeError, "expected an array, a buffer, or a sequence of whole numbers"),
        ([1, [2]], TypeError, "expected an array, a buffer, or a sequence of whole numbers"),
        ([1.0], TypeError, "expected an array, a buffer, or a sequence of whole numbers"),
    ])
    def test_refusals(self, value, error, message):
        with pytest.raises(error) as e:
            whole(32, value)
        assert str(e.value) == message

    def test_plain_forms(self):
        assert whole(8, b"\x00\x05") == [0, 5]
        assert whole(16, bytearray(b"\x01\x02")) == [1, 2]
        assert whole(8, []) == [] and whole(8, [[]]) == []
        assert whole(8, [True, False]) == [1, 0]
        assert whole(8, (3, 4)) == [3, 4] and whole(8, [[1, 2], (3,)]) == [1, 2, 3]
        assert whole(8, range(3)) == [0, 1, 2]

    @needs_numpy
    def test_target_width(self):
        with pytest.raises(ValueError, match="^300 does not fit the 256 values this puzzle's arrays hold$"):
            whole(8, np.array([300], dtype=np.uint32))
        big = make("u32", [70000], (1,), 70001)
        with pytest.raises(ValueError, match="^70000 does not fit the 65536 values this puzzle's arrays hold$"):
            whole(16, big)
        assert whole(32, big) == [70000]
        assert whole(8, make("u16", [255, 3], (2,), 300)) == [255, 3]
        with pytest.raises(TypeError, match=r"^expected an array of whole numbers, not one of \|b1$"):
            whole(8, make("flags", [1], (1,)))
        with pytest.raises(TypeError, match="not one of <f4$"):
            whole(8, make("f32", [1.0], (1,)))
        assert whole(8, [255]) == [255]
        with pytest.raises(ValueError, match="^256 does not fit"):
            whole(8, [256])

    @needs_numpy
    def test_interface_without_buffer_reads_bytes_of_the_object(self):
        backing = np.array([5, 6, 7], dtype=np.uint16)

        class Exported:
            def __init__(self, content=None, **changes):
                self.__array_interface__ = dict(backing.__array_interface__, **changes)
                self.content = content

            def __bytes__(self):
                if isinstance(self.content, Exception):
                    raise self.content
                return self.content

        # The values come from bytes(obj); shape, data and version are never read.
        assert whole(32, Exported(struct.pack("<3H", 5, 6, 7))) == [5, 6, 7]
        lying = Exported(struct.pack("<2H", 1, 2) + b"\x09", shape=(2**40, 2**40), data=(1, False), version="x")
        assert whole(32, lying) == [1, 2]  # the odd trailing byte is no item
        assert whole(32, Exported(b"", data=(0, False))) == []
        with pytest.raises(TypeError, match="not one of <f2$"):
            whole(32, Exported(b"\x00\x00", typestr="<f2"))
        with pytest.raises(TypeError, match="^'int' object is not an instance of 'str'$"):
            whole(32, Exported(b"", typestr=3))
        with pytest.raises(KeyError, match="gone"):
            whole(32, Exported(KeyError("gone")))

        class NoBytes:
            @property
            def __array_interface__(self):
                return np.arange(100000, dtype=np.uint32).__array_interface__  # freed on return

        with pytest.raises(TypeError, match="^cannot convert 'NoBytes' object to bytes$"):
            whole(32, NoBytes())

    def test_interface_with_strides_falls_through(self):
        class Strided(list):
            __array_interface__ = {"typestr": "<f8", "strides": (8,)}

        assert whole(32, Strided([1, 2])) == [1, 2]


class Raising:
    """A sequence of four whole numbers whose every reading raises `error`, in the item, the
    length or the array interface, as asked."""

    def __init__(self, error, where="item"):
        self.error, self.where = error, where

    def __len__(self):
        if self.where == "len":
            raise self.error
        return 4

    def __getitem__(self, i):
        if self.where in ("item", "len"):
            raise self.error
        if i >= 4:
            raise IndexError(i)
        return 0

    @property
    def __array_interface__(self):
        if self.where == "interface":
            raise self.error
        raise AttributeError("__array_interface__")


class TestCallersOwnExceptions:
    """What the caller's own object raises while an argument is read reaches the caller as itself,
    unless it is an ordinary Exception, which only says that the argument is not of the form tried."""

    CUBE = "Quenly's Cube (3x3x3)"

    @pytest.fixture(scope="class")
    def calls(self):
        batch = native.PuzzleBatch(self.CUBE, 4)
        layout = native.Layout(self.CUBE)
        return {
            "PuzzleBatch.step": batch.step,
            "PuzzleBatch.scramble": batch.scramble,
            "PuzzleBatch.undo": batch.undo,
            "PuzzleBatch.reset_where": batch.reset_where,
            "Layout.solved": layout.solved,
            "Layout.next_states": lambda x: layout.next_states(x, 0),
            "Layout.next_states moves": lambda x: layout.next_states([0] * 54, x),
            "Layout.scrambled": lambda x: layout.scrambled(4, x),
            "whole numbers": lambda x: whole(32, x),
        }

    @pytest.mark.parametrize("error", [KeyboardInterrupt, SystemExit, GeneratorExit, MemoryError])
    @pytest.mark.parametrize("where", ["item", "len", "interface"])
    def test_the_callers_own_pass_through(self, calls, error, where):
        for name, call in calls.items():
            if where == "interface" and name in ("PuzzleBatch.scramble", "PuzzleBatch.undo", "PuzzleBatch.reset_where"):
                continue  # these read sequences only
            with pytest.raises(error):
                call(Raising(error("mine"), where))
                pytest.fail(f"{name} gave no error")

    def test_ordinary_failures_still_mean_another_form(self, calls):
        for name, call in calls.items():
            with pytest.raises(TypeError, match="^expected "):
                call(Raising(ValueError("not a number")))
        assert whole(32, Raising(ValueError("no interface"), "interface")) == [0, 0, 0, 0]


def test_split_frames():
    frames = testing.split_frames(bytes(range(16)), 8, 2, 1)
    assert frames == [(2, 1, list(range(8))), (2, 1, list(range(8, 16)))]
    assert testing.split_frames(b"", 1, 0, 0) == []
    for data, chunk in ((bytes(17), 8), (b"ab", 1)):
        w, h = (2, 1) if chunk == 8 else (0, 0)
        with pytest.raises(ValueError, match="^frame size does not match$"):
            testing.split_frames(data, chunk, w, h)

import io
import pathlib
import re
import struct
import zlib

import pytest

import gyrelle._native as native

import borrowing
import optional

np = optional.module("numpy")
PIL_Image = optional.module("PIL.Image")
needs_numpy = optional.needs("numpy")

Image = native.Image


def pixels(image):
    return np.asarray(image).copy()


def chunks(png):
    """(type, data) of every chunk, checking each CRC."""
    assert png[:8] == b"\x89PNG\r\n\x1a\n"
    out, at = [], 8
    while at < len(png):
        (length,) = struct.unpack(">I", png[at:at + 4])
        kind, data = png[at + 4:at + 8], png[at + 8:at + 8 + length]
        (crc,) = struct.unpack(">I", png[at + 8 + length:at + 12 + length])
        assert crc == zlib.crc32(kind + data)
        out.append((kind, data))
        at += 12 + length
    return out


def filtered(png):
    return zlib.decompress(b"".join(d for k, d in chunks(png) if k == b"IDAT"))


class TestRecord:
    def test_construction(self):
        assert Image(2, 1, color=(1, 2, 3, 4)).to_bytes() == bytes([1, 2, 3, 4, 1, 2, 3, 4])
        assert Image(3, 2).to_bytes() == bytes(24)
        im = Image(5, 3, (9, 9, 9, 9))
        assert (im.width, im.height, im.stride, len(im), repr(im)) == (5, 3, 20, 60, "<Image 5x3 RGBA8>")
        empty = Image(0, 0)
        assert (len(empty), empty.to_bytes(), repr(empty)) == (0, b"", "<Image 0x0 RGBA8>")
        for w, h in ((3, 0), (0, 3)):
            im = Image(w, h, color=(1, 2, 3, 4))
            im.fill((5, 6, 7, 8))
            assert (im.width, im.height, len(im), im.stride) == (w, h, 0, w * 4)
        with pytest.raises(ValueError, match="exceeds the limit"):
            Image(1 << 20, 1 << 20)

    def test_from_bytes(self):
        assert Image.from_bytes(1, 1, [9, 8, 7, 6]).pixel(0, 0) == (9, 8, 7, 6)
        assert Image.from_bytes(1, 1, bytearray([1, 2, 3, 4])).pixel(0, 0) == (1, 2, 3, 4)
        data = bytes(range(24))
        assert Image.from_bytes(3, 2, data).to_bytes() == data
        assert Image.from_bytes(0, 7, b"").height == 7
        for bad in (bytes(15), bytearray(17), [0] * 3):
            with pytest.raises(ValueError, match=r"^data length must be width \* height \* 4$"):
                Image.from_bytes(2, 2, bad)
        # A length equal to the wrapped 32-bit or 64-bit product must not pass.
        with pytest.raises(ValueError, match=r"^data length must be width \* height \* 4$"):
            Image.from_bytes(1 << 31, 1 << 31, b"")
        with pytest.raises(TypeError):
            Image.from_bytes(1, 1, "abcd")
        with pytest.raises(TypeError):
            Image.from_bytes(1, 1, 7)
        with pytest.raises(OverflowError):
            Image.from_bytes(1, 1, [1, 2, 3, 256])

    def test_pixel_access(self):
        im = Image(3, 2)
        im.set_pixel(2, 1, (10, 20, 30, 0))
        assert im.pixel(2, 1) == (10, 20, 30, 0)
        assert im.pixel(1, 1) == (0, 0, 0, 0)
        for x, y in ((3, 0), (0, 2)):
            with pytest.raises(IndexError, match="^pixel out of range$"):
                im.pixel(x, y)
            with pytest.raises(IndexError, match="^pixel out of range$"):
                im.set_pixel(x, y, (1, 1, 1, 1))
        with pytest.raises(OverflowError):
            im.pixel(-1, 0)
        assert im.to_bytes() == bytes(20) + bytes([10, 20, 30, 0])

    def test_colour_arguments(self):
        im = Image(1, 1)
        with pytest.raises(TypeError) as e:
            im.fill([1, 2, 3, 4])
        assert e.value.__notes__ == ["while processing 'color'"]
        with pytest.raises(ValueError, match="^expected tuple of length 4, but got tuple of length 3$"):
            im.fill((1, 2, 3))
        for channel in (256, -1):
            with pytest.raises(OverflowError):
                im.fill((1, 2, channel, 4))
        assert im.pixel(0, 0) == (0, 0, 0, 0)

    @needs_numpy
    def test_numpy_view_shares_the_pixels_and_a_copy_does_not(self):
        im = Image(4, 3, (1, 2, 3, 4))
        twin = im.copy()
        iface = im.__array_interface__
        assert list(iface) == ["shape", "typestr", "version", "data"]
        assert (iface["shape"], iface["typestr"], iface["version"]) == ((3, 4, 4), "|u1", 3)
        assert type(iface["data"][1]) is int and iface["data"][1] == 0
        view = np.asarray(im)
        assert view.dtype == np.uint8 and view.shape == (3, 4, 4)
        assert np.asarray(Image(0, 0)).shape == (0, 0, 4)
        view[2, 3] = (50, 60, 70, 80)
        assert im.pixel(3, 2) == (50, 60, 70, 80)
        im.set_pixel(0, 0, (7, 7, 7, 7))
        assert tuple(view[0, 0]) == (7, 7, 7, 7)
        del im
        assert tuple(view[2, 3]) == (50, 60, 70, 80)
        assert twin.to_bytes() == bytes([1, 2, 3, 4] * 12)


class TestBlending:
    @pytest.mark.parametrize("dst, src, mode, expected", [
        ((0, 0, 255, 255), (255, 0, 0, 128), "over", (128, 0, 127, 255)),
        ((200, 100, 0, 200), (100, 200, 50, 128), "additive", (250, 200, 25, 255)),
        ((1, 2, 3, 4), (9, 8, 7, 0), "copy", (9, 8, 7, 0)),
    ])
    def test_fill_rect_and_blit_blend_alike(self, dst, src, mode, expected):
        im = Image(1, 1, dst)
        im.fill_rect(0, 0, 1, 1, src, mode)
        assert im.pixel(0, 0) == expected
        im = Image(1, 1, dst)
        im.blit(Image(1, 1, src), mode=mode)
        assert im.pixel(0, 0) == expected

    @needs_numpy
    def test_fill_rect_clips(self):
        im = Image(4, 4)
        im.fill_rect(-5, -5, 10, 10, (1, 2, 3, 4))
        assert im.to_bytes() == bytes([1, 2, 3, 4] * 16)
        im.fill_rect(2, 2, 0, 5, (9, 9, 9, 9))
        assert im.to_bytes() == bytes([1, 2, 3, 4] * 16)
        im.fill_rect(3, 1, 100, 2, (9, 9, 9, 9))
        p = pixels(im)
        assert (p[1:3, 3] == 9).all() and (p[:, :3] == [1, 2, 3, 4]).all() and (p[0, 3] == [1, 2, 3, 4]).all()

    @needs_numpy
    def test_blit_clips_both_rectangles(self):
        src = Image.from_bytes(4, 4, bytes(range(64)))
        dst = Image(10, 10)
        # The source rectangle (-2, 0, 4, 4) keeps source columns 0 and 1; they land at x = 5 and 6.
        dst.blit(src, x=3, y=0, src_x=-2)
        p, s = pixels(dst), pixels(src)
        assert (p[0:4, 5:7] == s[:, 0:2]).all()
        p[0:4, 5:7] = 0
        assert not p.any()

        dst = Image(3, 3)
        dst.blit(src, x=-1, y=1, src_x=1, src_y=0, src_width=2, src_height=None)
        p = pixels(dst)
        assert (p[1:3, 0] == s[0:2, 2]).all()
        p[1:3, 0] = 0
        assert not p.any()

        dst = Image(3, 3)
        dst.blit(src, src_width=0)
        dst.blit(src, x=-(1 << 63), y=(1 << 63) - 1, src_x=(1 << 63) - 1)
        assert not pixels(dst).any()

    def test_blit_over_uses_each_source_alpha(self):
        src = Image.from_bytes(2, 1, bytes([255, 0, 0, 0, 255, 0, 0, 128]))
        dst = Image(2, 1, (0, 0, 255, 255))
        dst.blit(src, mode="over")
        assert dst.to_bytes() == bytes([0, 0, 255, 255, 128, 0, 127, 255])

    @needs_numpy
    def test_bad_mode_changes_nothing(self):
        im = Image(2, 2)
        expected = "unknown blend mode \"ADD\", expected 'copy', 'over' or 'add'"
        with pytest.raises(ValueError) as e:
            im.fill_rect(0, 0, 2, 2, (1, 1, 1, 1), mode="ADD")
        assert str(e.value) == expected
        with pytest.raises(ValueError, match="blend mode \"a\\\\\"b\""):
            im.blit(Image(1, 1, (1, 1, 1, 1)), mode='a"b')
        with pytest.raises(ValueError, match="blend mode"):
            im.draw_text(0, 0, "H", mode="Over")
        assert not pixels(im).any()

    def test_blit_source_must_be_an_image(self):
        im = Image(1, 1)
        with pytest.raises(TypeError, match="'bytes' object is not an instance of 'Image'") as e:
            im.blit(b"\0\0\0\0")
        assert e.value.__notes__ == ["while processing 'src'"]

    def test_blit_onto_itself_is_refused(self):
        im = Image(2, 2, (1, 2, 3, 4))
        with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
            im.blit(im, x=1)
        assert im.to_bytes() == bytes([1, 2, 3, 4] * 4)
        im.fill((5, 5, 5, 5))  # the borrow was given back


class TestResizing:
    @needs_numpy
    def test_resized_samples_the_nearest_pixel(self):
        src = Image.from_bytes(2, 2, bytes(range(16)))
        big = pixels(src.resized(4, 4))
        assert (big == np.repeat(np.repeat(pixels(src), 2, axis=0), 2, axis=1)).all()
        assert src.resized(1, 1).pixel(0, 0) == src.pixel(0, 0)
        tall = Image.from_bytes(1, 3, bytes(range(12))).resized(1, 5)
        assert [tall.pixel(0, y)[0] for y in range(5)] == [0, 0, 4, 4, 8]

    @needs_numpy
    def test_resized_without_pixels(self):
        im = Image(2, 2, (1, 1, 1, 1)).resized(0, 5)
        assert (im.width, im.height, len(im)) == (0, 5, 0)
        assert Image(0, 3).resized(2, 2).to_bytes() == bytes(16)

    @needs_numpy
    def test_downsample_averages_whole_blocks(self):
        rng = np.random.default_rng(7)
        data = rng.integers(0, 256, size=(3, 5, 4), dtype=np.uint8)
        small = Image.from_bytes(5, 3, data.tobytes()).downsample(2)
        assert (small.width, small.height) == (2, 1)
        blocks = data[:2, :4].astype(int).reshape(1, 2, 2, 2, 4).sum(axis=(1, 3))
        assert (pixels(small) == (blocks + 2) // 4).all()

    def test_downsample_factors(self):
        im = Image.from_bytes(2, 2, bytes(range(16)))
        one = im.downsample(1)
        one.fill((0, 0, 0, 0))
        assert im.to_bytes() == bytes(range(16))
        tiny = im.downsample(3)
        assert (tiny.width, tiny.height, len(tiny)) == (0, 0, 0)
        with pytest.raises(ValueError, match="^factor must be positive$"):
            im.downsample(0)


class TestText:
    @pytest.mark.parametrize("text, scale, size", [
        ("Hi", 1, (7, 9)), ("a\nbb", 2, (22, 40)), ("", 1, (0, 9)), ("\u00e9\t", 1, (11, 9)),
    ])
    def test_text_size(self, text, scale, size):
        assert Image.text_size(text, scale) == size

    @needs_numpy
    def test_draw_i(self):
        im = Image(3, 10)
        assert im.draw_text(0, 0, "i") == 1
        p = pixels(im)
        assert (p[[0, 2, 3, 4, 5, 6], 0] == [0, 0, 0, 255]).all()
        p[[0, 2, 3, 4, 5, 6], 0] = 0
        assert not p.any()

    @needs_numpy
    def test_drawn_pixels_stay_inside_the_measured_box(self):
        text, scale, x, y = "Hg|\nj_q", 3, 4, 2
        width, height = Image.text_size(text, scale)
        im = Image(60, 70)
        assert im.draw_text(x, y, text, (255, 0, 0, 255), scale=scale) == width
        ys, xs = np.nonzero(pixels(im)[:, :, 3])
        assert (xs.min(), xs.max() + 1, ys.min(), ys.max() + 1) == (x, x + width, y, y + height)
        assert (pixels(im)[ys, xs] == [255, 0, 0, 255]).all()

    def test_centered_lines(self):
        a, b = Image(20, 30), Image(20, 30)
        assert a.draw_text(10, 0, "ab\nl", center=True) == 11
        b.draw_text(5, 0, "ab")
        b.draw_text(9, 11, "l")  # width 3: 10 - 1
        assert a.to_bytes() == b.to_bytes()

    @needs_numpy
    def test_clipped_and_invisible_text(self):
        im = Image(4, 4, (1, 2, 3, 4))
        assert im.draw_text(-3, -3, "W", scale=0) == 0
        assert im.draw_text(0, 0, "WW", color=(255, 255, 255, 0), mode="add") == 11
        assert im.to_bytes() == bytes([1, 2, 3, 4] * 16)
        assert im.draw_text(-2, -5, "W", scale=2) == 10
        assert pixels(im)[:, :, 3].max() == 255

    def test_fit_text(self):
        assert Image.fit_text("Hello", 100) == "Hello"
        assert Image.fit_text("Hello", 15) == "H..."
        assert Image.fit_text("Hello", 4) == ""

    def test_text_must_be_str(self):
        with pytest.raises(TypeError) as e:
            Image(1, 1).draw_text(0, 0, b"H")
        assert e.value.__notes__ == ["while processing 'text'"]


class TestPng:
    def test_layout(self):
        png = Image(3, 2, (1, 2, 3, 4)).to_png()
        assert png[8:16] == b"\x00\x00\x00\x0dIHDR"
        assert png[16:24] == struct.pack(">II", 3, 2)
        assert png[24:29] == bytes([8, 6, 0, 0, 0])
        assert png[-12:] == bytes.fromhex("0000000049454e44ae426082")
        assert [k for k, _ in chunks(png)] == [b"IHDR", b"IDAT", b"IEND"]

    def test_sub_filter(self):
        assert filtered(Image(1, 1, (10, 20, 30, 40)).to_png()) == bytes.fromhex("010a141e28")
        two = Image.from_bytes(2, 1, bytes([10, 20, 30, 40, 15, 15, 35, 50]))
        assert filtered(two.to_png()) == bytes.fromhex("010a141e2805fb050a")
        assert filtered(Image(0, 0).to_png()) == b""
        assert filtered(Image(0, 2).to_png()) == b"\x01\x01"

    @optional.needs("numpy", "PIL.Image")
    def test_round_trip_through_pillow(self):
        rng = np.random.default_rng(3)
        data = rng.integers(0, 256, size=(23, 37, 4), dtype=np.uint8)
        data[5:9] = 0  # flat rows too
        im = Image.from_bytes(37, 23, data.tobytes())
        decoded = PIL_Image.open(io.BytesIO(im.to_png()))
        assert (decoded.mode, decoded.size) == ("RGBA", (37, 23))
        assert decoded.tobytes() == im.to_bytes()

    def test_save(self, tmp_path):
        im = Image(5, 4, (200, 10, 20, 255))
        im.draw_text(0, 0, "x")
        path = tmp_path / "out.png"
        path.write_bytes(b"longer old content that must be truncated" * 10)
        assert im.save(str(path)) is None
        assert path.read_bytes() == im.to_png()
        with pytest.raises(TypeError) as e:
            im.save(pathlib.Path(path))
        assert e.value.__notes__ == ["while processing 'path'"]

    def test_save_errors(self, tmp_path):
        im = Image(1, 1)
        with pytest.raises(RuntimeError) as e:
            im.save(str(tmp_path / "missing" / "out.png"))
        assert re.fullmatch(r".+ \(os error 2\)", str(e.value))
        with pytest.raises(RuntimeError, match="^file name contained an unexpected NUL byte$"):
            im.save(str(tmp_path / "a\0b.png"))
        with pytest.raises(RuntimeError, match=r"\(os error 21\)$"):
            im.save(str(tmp_path))


class TestBorrows:
    run_while = staticmethod(borrowing.run_while)

    def test_exclusive_work_refuses_readers_and_writers(self):
        big = Image(4096, 2048)
        src = Image(4096, 2048, (10, 20, 30, 128))
        blit = lambda gate: big.blit(src, gate, mode="over")
        assert self.run_while(blit, lambda: big.pixel(0, 0), 0) == ["Already mutably borrowed"]
        assert self.run_while(blit, lambda: big.set_pixel(0, 0, (0, 0, 0, 0)), 0) == ["Already borrowed"]
        # The source is only shared: reading it meanwhile is fine, changing it is not.
        assert self.run_while(blit, lambda: src.fill((1, 1, 1, 1)), 0) == ["Already borrowed"]
        assert self.run_while(blit, lambda: src.pixel(0, 0), 0) == []

    def test_shared_work_refuses_writers_only(self):
        im = Image(2048, 2048)
        im.fill_rect(0, 0, 2048, 1024, (1, 2, 3, 4))
        reads = []
        assert self.run_while(lambda gate: im.downsample(gate), lambda: reads.append(im.resized(2, 2)), 4) == []
        assert reads and self.run_while(lambda gate: im.downsample(gate), lambda: im.fill((9, 9, 9, 9)), 4) == [
            "Already borrowed"]

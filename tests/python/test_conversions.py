"""numpy.ndarray <-> matrix conversions, seen through a helper module that only echoes."""

import os
import pathlib

import _vemo_testing as t
import numpy as np
import pytest

# depth codes of the matrix types
DEPTHS = {np.uint8: 0, np.int8: 1, np.uint16: 2, np.int16: 3, np.int32: 4, np.float32: 5, np.float64: 6}


@pytest.mark.parametrize("dtype,depth", DEPTHS.items())
def test_accepted_dtypes_map_to_their_depth_and_come_back(dtype, depth):
    data = (np.arange(12) % 100).astype(dtype).reshape(3, 4)
    assert t.describe(data) == (3, 4, 1, depth, True)
    back = t.echo(data)
    assert back.dtype == dtype and back.shape == (3, 4)
    np.testing.assert_array_equal(back, data)


@pytest.mark.parametrize("bad", [
    np.zeros((2, 2), np.int64), np.zeros((2, 2), bool), np.zeros((2, 2), np.uint32),
    np.zeros((2, 2), np.float16), np.zeros((2, 2), np.complex128), np.zeros((2, 2), ">f8"),
    np.zeros((2, 2, 5), np.uint8), np.zeros((2, 2, 2, 2)), np.float64(1.0), np.array(3.0),
    [[1, 2], [3, 4]], "text", None, np.zeros((2, 2), object),
])
def test_rejected_inputs_raise_type_error(bad):
    with pytest.raises(TypeError, match="echo"):
        t.echo(bad)


def test_shapes_and_channels():
    assert t.describe(np.zeros((5, 6, 3), np.uint8)) == (5, 6, 3, 0, True)
    assert t.describe(np.zeros((5, 6, 4), np.uint8))[2] == 4
    assert t.echo(np.arange(5.0)).shape == (5, 1)
    assert t.echo(np.zeros((4, 3, 1), np.float32)).shape == (4, 3)
    assert t.echo(np.zeros((4, 3, 2), np.float32)).shape == (4, 3, 2)
    # nested float lists are arrays too
    np.testing.assert_array_equal(t.echo([[1.0, 2.0], [3.0, 4.0]]), [[1.0, 2.0], [3.0, 4.0]])


def test_empty_matrix_comes_back_as_float64_0x0():
    for empty in (np.zeros((0, 0), np.uint8), np.zeros((0, 3)), np.zeros((3, 0), np.int16)):
        back = t.echo(empty)
        assert back.shape == (0, 0) and back.dtype == np.float64


def test_non_contiguous_inputs_are_copied_and_never_written():
    base = np.arange(48, dtype=np.float64).reshape(6, 8)
    sliced = base[::2, 1::3]
    fortran = np.asfortranarray(np.arange(12, dtype=np.int16).reshape(3, 4))
    for source in (sliced, fortran, base):
        before = source.copy()
        filled = t.fill_with_ones(source)
        np.testing.assert_array_equal(source, before)
        assert (filled == 1).all() and filled.shape == source.shape
        np.testing.assert_array_equal(t.echo(source), before)


def test_results_are_fresh_arrays():
    data = np.arange(6, dtype=np.float32).reshape(2, 3)
    first, second = t.echo(data), t.echo(data)
    first[0, 0] = 99
    assert second[0, 0] == 0 and data[0, 0] == 0
    assert first.flags.c_contiguous and first.flags.owndata


def test_non_continuous_matrix_result_is_compacted():
    np.testing.assert_array_equal(t.non_continuous_matrix(), [[7, 8, 9], [13, 14, 15]])


def test_half_float_matrix_result_raises_runtime_error():
    with pytest.raises(RuntimeError, match="vemo: unsupported cv::Mat depth for numpy conversion"):
        t.half_float_matrix()


def test_optional_list_size_and_path():
    assert t.echo_optional(None) is None
    assert t.echo_optional(np.eye(2)).shape == (2, 2)
    listed = t.echo_list((np.eye(2), np.zeros((3, 1), np.uint8)))
    assert isinstance(listed, list) and [a.shape for a in listed] == [(2, 2), (3, 1)]

    assert t.echo_size((640, 480)) == (640, 480)
    assert t.echo_size([3, 2]) == (3, 2)
    for bad in ((1, 2, 3), (1.5, 2), "ab", 5):
        with pytest.raises(TypeError):
            t.echo_size(bad)

    for given in ("data/run1", b"data/run1", pathlib.PurePosixPath("data/run1")):
        back = t.echo_path(given)
        assert isinstance(back, pathlib.Path) and back == pathlib.Path("data/run1")

    class PathLike(os.PathLike):
        def __fspath__(self):
            return "/tmp/x"
    assert t.echo_path(PathLike()) == pathlib.Path("/tmp/x")


def test_library_exceptions_map_to_python_exceptions():
    with pytest.raises(ValueError, match="^op: bad argument$"):
        t.throw_error("invalid_argument")
    with pytest.raises(RuntimeError, match="^io: failed$"):
        t.throw_error("runtime_error")
    with pytest.raises(IndexError, match="stoi"):
        t.throw_error("out_of_range")
    with pytest.raises(MemoryError):
        t.throw_error("bad_alloc")
    with pytest.raises(RuntimeError, match=r"^OpenCV\(4"):
        t.throw_error("opencv")


def test_lists_of_arrays_are_copied_in_and_out_element_by_element():
    rng = np.random.default_rng(5)
    batch = [rng.integers(0, 255, (40, 30, 3), dtype=np.uint8) for _ in range(12)]
    batch += [np.asfortranarray(np.arange(12.0).reshape(3, 4)), np.arange(5, dtype=np.int32), np.zeros((0, 3))]
    back = t.echo_list(batch)
    assert len(back) == len(batch)
    for given, got in zip(batch[:-1], back[:-1]):
        np.testing.assert_array_equal(got.reshape(given.shape), given)
        assert got.dtype == given.dtype and got.flags.owndata and not np.shares_memory(got, given)
    assert back[13].shape == (5, 1) and back[-1].shape == (0, 0) and back[-1].dtype == np.float64

    assert [a.shape for a in t.echo_list(a for a in batch[:2])] == [(40, 30, 3)] * 2
    for bad in ("ab", [np.eye(2), np.zeros(3, np.int64)], [np.eye(2), None]):
        with pytest.raises(TypeError):
            t.echo_list(bad)

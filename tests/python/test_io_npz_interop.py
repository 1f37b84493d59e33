"""The NPZ archives the library writes and reads against NumPy's own implementation."""

import io
import zipfile

import numpy as np
import pytest

import _vemo_testing as testing


def npy_member(array, version=None):
    buffer = io.BytesIO()
    np.lib.format.write_array(buffer, array, version=version)
    return buffer.getvalue()


@pytest.mark.parametrize("shape", [(2, 4, 4), (5,), (), (0, 4, 4), (3, 0), (1,) * 20 + (10,), (1000, 4, 4)])
def test_numpy_loads_what_the_library_writes(tmp_path, shape):
    values = np.random.default_rng(1).normal(size=shape)
    path = tmp_path / "a.npz"
    testing.save_npz(str(path), "robot_T_tcp_list", list(shape), values.ravel().tolist())
    with np.load(path) as archive:
        assert archive.files == ["robot_T_tcp_list"]
        loaded = archive["robot_T_tcp_list"]
    assert loaded.dtype == np.float64 and loaded.shape == shape
    np.testing.assert_array_equal(loaded, values)
    with zipfile.ZipFile(path) as archive:
        assert archive.testzip() is None  # every CRC checks out


@pytest.mark.parametrize("save", [np.savez, np.savez_compressed])
def test_library_reads_numpy_archives_with_several_members(tmp_path, save):
    rng = np.random.default_rng(2)
    members = {"first": rng.normal(size=(3, 4, 4)), "scalar": np.float64(2.5), "vector": rng.normal(size=7),
               "other_dtype": np.arange(4, dtype=np.int32)}
    path = tmp_path / "n.npz"
    save(path, **members)
    for key in ("first", "scalar", "vector"):
        shape, data = testing.load_npz(str(path), key)
        assert tuple(shape) == np.shape(members[key])
        np.testing.assert_array_equal(np.reshape(data, shape), members[key])
    with pytest.raises(RuntimeError, match=r'^npz: only little-endian float64 \("<f8"\) arrays are supported$'):
        testing.load_npz(str(path), "other_dtype")
    with pytest.raises(RuntimeError, match=r"^npz: entry 'missing\.npy' not found in archive$"):
        testing.load_npz(str(path), "missing")


@pytest.mark.parametrize("version", [(2, 0), (3, 0)])
@pytest.mark.parametrize("compression", [zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED])
def test_library_reads_npy_format_versions_2_and_3(tmp_path, version, compression):
    values = np.arange(24.0).reshape(2, 3, 4) / 7
    path = tmp_path / "v.npz"
    with zipfile.ZipFile(path, "w", compression) as archive:
        archive.writestr("arr.npy", npy_member(values, version))
    shape, data = testing.load_npz(str(path), "arr")
    assert tuple(shape) == values.shape
    np.testing.assert_array_equal(np.reshape(data, shape), values)


def test_library_rejects_fortran_ordered_members_written_by_numpy(tmp_path):
    path = tmp_path / "f.npz"
    np.savez(path, f=np.asfortranarray(np.ones((2, 3))))
    with pytest.raises(RuntimeError, match="^npz: fortran-order arrays are not supported$"):
        testing.load_npz(str(path), "f")

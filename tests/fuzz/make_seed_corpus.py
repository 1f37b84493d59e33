"""Writes the seed corpus of the fuzz targets into tests/fuzz/corpus/.

Run with the built module on PYTHONPATH (PYTHONPATH=build/dev python3 tests/fuzz/make_seed_corpus.py).
The seeds cover what the readers accept (the library's own files, numpy.savez and
savez_compressed archives, .npy versions 2 and 3, null and object forms in JSON, dataset
folders with and without interrupted saves) and a few inputs they reject, so that
fuzzing starts deep inside the parsers.
"""

import io
import pathlib
import tempfile
import zipfile

import numpy as np

import _vemo

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"
KEY = "robot_T_tcp_list"


def npy_bytes(array, version=None, fortran=False):
    buffer = io.BytesIO()
    if fortran:
        array = np.asfortranarray(array)
    np.lib.format.write_array(buffer, array, version=version)
    return buffer.getvalue()


def zip_bytes(members, compression=zipfile.ZIP_STORED):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", compression) as archive:
        for name, data in members.items():
            archive.writestr(zipfile.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0)), data, compression)
    return buffer.getvalue()


def npz_seeds():
    poses = np.arange(32, dtype=np.float64).reshape(2, 4, 4)
    with tempfile.TemporaryDirectory() as directory:
        _vemo.io.save_hand_eye_dataset(directory, [], list(poses))
        yield "library_written", (pathlib.Path(directory) / "calibration_data.npz").read_bytes()
    for name, save in (("numpy_savez", np.savez), ("numpy_savez_compressed", np.savez_compressed)):
        buffer = io.BytesIO()
        save(buffer, other=np.zeros(2), **{KEY: poses[:1]})
        yield name, buffer.getvalue()
    yield "npy_version_2", zip_bytes({KEY + ".npy": npy_bytes(poses[:1], version=(2, 0))})
    yield "npy_version_3_deflated", zip_bytes({KEY + ".npy": npy_bytes(np.ones(3), version=(3, 0))},
                                              zipfile.ZIP_DEFLATED)
    yield "no_poses", zip_bytes({KEY + ".npy": npy_bytes(np.zeros((0, 4, 4)))})
    yield "scalar", zip_bytes({KEY + ".npy": npy_bytes(np.float64(1.5))})
    yield "fortran_order", zip_bytes({KEY + ".npy": npy_bytes(np.ones((2, 3)), fortran=True)})
    yield "big_endian", zip_bytes({KEY + ".npy": npy_bytes(np.ones(2, dtype=">f8"))})
    yield "truncated", zip_bytes({KEY + ".npy": npy_bytes(np.ones(4))})[:-30]


def hand_eye_seeds():
    record = _vemo.io.HandEyeResultRecord()
    record.num_cameras = 1
    record.method = "TSAI"
    record.num_frames_used, record.num_frames_total = 18, 20
    transform = np.eye(4)
    transform[0, 3] = 0.05
    record.tcp_T_camera_list = [transform, np.zeros((0, 0))]
    with tempfile.TemporaryDirectory() as directory:
        yield "library_written", _vemo.io.save_hand_eye_result(directory, record).read_bytes()
    yield "nulls", b'{"method": null, "num_cameras": 1, "num_frames_used": null, "reference_index": 0,' \
                   b' "tcp_T_camera_list": [null, [[1, null], [2.5, -3e2]]]}'
    yield "object_list", b'{"num_cameras": 2.9, "reference_index": 0, "tcp_T_camera_list": {"b": [[1]], "a": []}}'
    yield "ragged", b'{"num_cameras": 1, "reference_index": 0, "tcp_T_camera_list": [[[1, 2], [3]]]}'


def multi_camera_seeds():
    record = _vemo.io.MultiCameraCalibrationRecord()
    record.num_cameras = 2
    record.intrinsic_matrices = [np.eye(3) * 800, np.zeros((0, 0))]
    record.distortion_coefficients = [np.arange(5.0).reshape(5, 1), np.zeros((1, 4))]
    record.reference_T_camera_list = [np.eye(4), np.zeros((0, 0))]
    record.intrinsic_reprojection_errors = [0.25, float("nan")]
    record.pair_reprojection_errors = [0.0, float("inf")]
    with tempfile.TemporaryDirectory() as directory:
        yield "library_written", _vemo.io.save_multi_camera_calibration(directory, record).read_bytes()
    yield "minimal", b'{"distortion_coefficients": [[0.1, null], 3], "intrinsic_matrices": [null, [[1]]],' \
                     b' "num_cameras": 1, "reference_T_camera_list": [null], "reference_index": 0,' \
                     b' "intrinsic_reprojection_errors": null, "pair_reprojection_errors": {"x": null}} trailing'
    yield "wrong_types", b'{"distortion_coefficients": "x", "intrinsic_matrices": [[1, 2]], "num_cameras": true,' \
                         b' "reference_T_camera_list": [], "reference_index": 1e300}'


def folder_input(parameter, *entries):
    """The input format of the folder targets: entries "path" (a generated PNG) or (path, content)."""
    parts = [parameter.encode()]
    for entry in entries:
        parts.append(entry.encode() if isinstance(entry, str) else entry[0].encode() + b"\n" + entry[1])
    return b"\n%%\n".join(parts)


def journal(*renames):
    return ("vemo save journal 1\n" + "".join(f"{t} {n}\n" for t, n in renames) + "end\n").encode()


def png_bytes():
    with tempfile.TemporaryDirectory() as directory:
        _vemo.io.save_hand_eye_dataset(directory, [np.full((3, 2), 77, np.uint8)], [])
        return (pathlib.Path(directory) / "image_00.png").read_bytes()


def multi_camera_folder_seeds():
    yield "two_captures", folder_input("3", *(f"cam_0{c}/image_0{k}.png" for k in range(2) for c in range(3)))
    yield "capture_order", folder_input("1", *(f"cam_00/image_{n}.png" for n in (
        "9", "10", "100", "99", "007", "7", "left", "01_annotated")), "cam_00/image_02.PNG")
    yield "huge_count", folder_input("2147483647", "cam_00/image_05.png", "cam_100/image_07.png",
                                     "cam_7/image_50.png")
    yield "capture_beyond_int", folder_input("2", "cam_01/image_2147483648.png")
    temporaries = [(f"cam_0{c}/.image_01.png.tmp-1-{c}-0", f"cam_0{c}/image_01.png") for c in range(2)]
    for state in ("committed", "pending"):
        yield f"{state}_capture", folder_input("2", "cam_00/image_00.png", "cam_01/image_00.png",
                                               *(t for t, _ in temporaries),
                                               (f".vemo-save-{state}", journal(*temporaries)))
    yield "journal_cut_short", folder_input("1", "cam_00/image_00.png",
                                            (".vemo-save-pending", journal(*temporaries)[:40]))
    yield "not_a_png", folder_input("1", ("cam_00/image_00.png", b"\x89PNG\r\n\x1a\nnot really"))


def hand_eye_dataset_seeds():
    with tempfile.TemporaryDirectory() as directory:
        _vemo.io.save_hand_eye_dataset(directory, [], [np.eye(4) * k for k in range(1, 4)])
        archive = (pathlib.Path(directory) / "calibration_data.npz").read_bytes()
    poses = ("calibration_data.npz", archive)
    yield "three_views", folder_input("png", poses, "image_00.png", "image_01.png", "image_02.png",
                                      "image_00_annotated.png")
    yield "gap", folder_input("png", poses, "image_00.png", "image_02.png")
    yield "trailing_missing", folder_input("jpg", poses, "image_00.jpg", ("image_01.png", png_bytes()))
    yield "corrupt_image", folder_input("png", poses, ("image_00.png", png_bytes()[:-20]))
    yield "corrupt_archive", folder_input("png", ("calibration_data.npz", archive[:300]), "image_00.png")
    temporaries = [(".image_01.png.tmp-4-0-0", "image_01.png"), (".calibration_data.npz.tmp-4-1-0",
                                                                  "calibration_data.npz")]
    yield "committed_save", folder_input("png", poses, "image_00.png", "image_01.png", temporaries[0][0],
                                         (temporaries[1][0], archive),
                                         (".vemo-save-committed", journal(*temporaries)))
    yield "foreign_journal", folder_input("png", poses, ".passwd.tmp-1",
                                          (".vemo-save-committed", b"vemo save journal 1\n.passwd.tmp-1 passwd\nend\n"))


def main():
    for folder, seeds in (("npz", npz_seeds()), ("hand_eye_json", hand_eye_seeds()),
                          ("multi_camera_json", multi_camera_seeds()),
                          ("multi_camera_folders", multi_camera_folder_seeds()),
                          ("hand_eye_dataset", hand_eye_dataset_seeds())):
        (CORPUS / folder).mkdir(parents=True, exist_ok=True)
        for name, data in seeds:
            (CORPUS / folder / name).write_bytes(data)


if __name__ == "__main__":
    main()

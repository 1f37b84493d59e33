"""The io submodule's layout and the JSON result records seen from Python."""

import json
import math
import os
import pathlib

import numpy as np
import pytest

import _vemo
from _vemo import io


def test_io_submodule_layout():
    assert io.__name__ == "_vemo.io"
    assert io.__doc__ == "On-disk persistence for calibration datasets and results."
    public = [name for name in vars(io) if not name.startswith("_")]
    assert public == ["save_hand_eye_dataset", "load_hand_eye_dataset", "next_multi_camera_capture_index",
                      "save_multi_camera_capture", "save_multi_camera_robot_poses", "load_multi_camera_robot_poses",
                      "load_multi_camera_dataset", "MultiCameraCalibrationRecord", "save_multi_camera_calibration",
                      "load_multi_camera_calibration", "HandEyeResultRecord", "save_hand_eye_result",
                      "load_hand_eye_result", "EyeToHandResultRecord", "save_eye_to_hand_result",
                      "load_eye_to_hand_result", "load_images"]
    assert list(vars(_vemo)).index("io") > list(vars(_vemo)).index("tf")


def test_records_default_and_copy_their_lists():
    hand_eye = io.HandEyeResultRecord()
    assert (hand_eye.reference_index, hand_eye.num_cameras, hand_eye.method) == (0, 0, "")
    assert (hand_eye.num_frames_used, hand_eye.num_frames_total, hand_eye.tcp_T_camera_list) == (-1, -1, [])
    rig = io.MultiCameraCalibrationRecord()
    assert (rig.reference_index, rig.num_cameras, rig.intrinsic_matrices, rig.distortion_coefficients,
            rig.reference_T_camera_list, rig.intrinsic_reprojection_errors, rig.pair_reprojection_errors) == \
        (0, 0, [], [], [], [], [])

    transform = np.eye(4)
    hand_eye.tcp_T_camera_list = [transform]
    transform[0, 0] = 5.0
    hand_eye.tcp_T_camera_list[0][1, 1] = 7.0
    hand_eye.tcp_T_camera_list.append(np.eye(4))
    np.testing.assert_array_equal(hand_eye.tcp_T_camera_list, [np.eye(4)])
    rig.intrinsic_reprojection_errors = [0.5, 1]
    rig.intrinsic_reprojection_errors.append(3.0)
    assert rig.intrinsic_reprojection_errors == [0.5, 1.0]


def test_hand_eye_file_text_matches_an_independent_json_rendering(tmp_path, capfd):
    rng = np.random.default_rng(3)
    transforms = [rng.normal(size=(4, 4)), np.zeros((0, 0)), np.arange(16.0).reshape(4, 4) * 1e-7]
    record = io.HandEyeResultRecord()
    record.reference_index, record.num_cameras, record.method = 2, 3, "PARK"
    record.num_frames_used, record.num_frames_total = 7, -1
    record.tcp_T_camera_list = transforms

    written = io.save_hand_eye_result(os.fsencode(tmp_path / "out"), record)
    assert isinstance(written, pathlib.Path) and written == tmp_path / "out" / "hand_eye.json"
    expected = {"reference_index": 2, "num_cameras": 3, "method": "PARK", "num_frames_used": 7,
                "num_frames_total": None,
                "tcp_T_camera_list": [transforms[0].tolist(), None, transforms[2].tolist()]}
    assert written.read_text() == json.dumps(expected, indent=2, sort_keys=True)
    assert capfd.readouterr().err == f"[vemo][SUCCESS] Saved hand-eye result to {written}\n"

    back = io.load_hand_eye_result(tmp_path / "out")
    assert (back.reference_index, back.num_cameras, back.method, back.num_frames_used, back.num_frames_total) == \
        (2, 3, "PARK", 7, -1)
    np.testing.assert_array_equal(back.tcp_T_camera_list[0], transforms[0])
    assert back.tcp_T_camera_list[1].shape == (0, 0)
    assert capfd.readouterr().err == ""


def test_multi_camera_file_round_trip_with_missing_values(tmp_path, capfd):
    record = io.MultiCameraCalibrationRecord()
    record.reference_index, record.num_cameras = 0, 2
    record.intrinsic_matrices = [np.array([[800, 0, 320], [0, 800, 240], [0, 0, 1]], dtype=np.int32), np.eye(3)]
    record.distortion_coefficients = [np.array([0.1, -0.05, 0.0, 0.0, 0.01]), np.zeros((1, 4), np.float32)]
    record.reference_T_camera_list = [np.eye(4), np.zeros((0, 0))]
    record.intrinsic_reprojection_errors = [0.2, math.nan]
    record.pair_reprojection_errors = [0.0, math.inf]

    written = io.save_multi_camera_calibration(tmp_path / "rig.json", record)
    assert written == tmp_path / "rig.json"
    stored = json.loads(written.read_text())
    assert list(stored) == sorted(stored)
    assert stored["intrinsic_matrices"][0] == [[800.0, 0.0, 320.0], [0.0, 800.0, 240.0], [0.0, 0.0, 1.0]]
    assert "800.0" in written.read_text()
    assert stored["distortion_coefficients"] == [[0.1, -0.05, 0.0, 0.0, 0.01], [0.0] * 4]
    assert stored["reference_T_camera_list"][1] is None
    assert stored["intrinsic_reprojection_errors"] == [0.2, None]
    assert stored["pair_reprojection_errors"] == [0.0, None]
    assert f"Saved multi-camera calibration to {written}" in capfd.readouterr().err

    back = io.load_multi_camera_calibration(str(written))
    assert back.intrinsic_matrices[0].dtype == np.float64
    assert back.distortion_coefficients[0].shape == (1, 5)
    assert back.reference_T_camera_list[1].shape == (0, 0)
    assert back.intrinsic_reprojection_errors[0] == 0.2 and math.isnan(back.intrinsic_reprojection_errors[1])
    assert math.isnan(back.pair_reprojection_errors[1])

    del stored["pair_reprojection_errors"]
    written.write_text(json.dumps(stored))
    assert io.load_multi_camera_calibration(written).pair_reprojection_errors == []


def test_record_errors_surface_as_python_exceptions(tmp_path):
    with pytest.raises(RuntimeError, match=r"^io: cannot open .*missing\.json for reading$"):
        io.load_hand_eye_result(tmp_path / "missing.json")
    (tmp_path / "ragged.json").write_text(
        '{"reference_index": 0, "num_cameras": 1, "tcp_T_camera_list": [[[1, 2], [3]]]}')
    with pytest.raises(RuntimeError, match=r"^io: matrix rows differ in length"):
        io.load_hand_eye_result(tmp_path / "ragged.json")
    (tmp_path / "bad.json").write_text('{"reference_index": 0}')
    with pytest.raises(RuntimeError, match="key 'num_cameras' not found"):
        io.load_hand_eye_result(tmp_path / "bad.json")
    with pytest.raises(TypeError):
        io.save_hand_eye_result(tmp_path, io.MultiCameraCalibrationRecord())


def test_json_records_that_are_not_utf8_say_so(tmp_path):
    # The library's parse error would quote the broken bytes, which Python cannot show.
    record = tmp_path / "hand_eye.json"
    record.write_bytes(b'{"method": "TS\xffAI", "num_cameras": 1}')
    with pytest.raises(RuntimeError, match=r"^io: JSON record is not valid UTF-8 \(byte offset 14\)$"):
        io.load_hand_eye_result(record)
    record.write_bytes(b'{"num_cameras": \xc3\xa9}')  # a syntax error at well-formed UTF-8, cut by the parser
    with pytest.raises(RuntimeError, match=r"invalid literal; last read: '\"num_cameras\": \\xC3'$"):
        io.load_multi_camera_calibration(record)

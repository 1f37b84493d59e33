"""The command line on a saved dataset directory."""

import json

import _vemo as v
import numpy as np
import pytest
from quorvantine.vemo.cli import main
from quorvantine.vemo.scenes import make_hand_eye_scene, pose_error


def test_hand_eye_command_calibrates_a_dataset_directory(tmp_path, capsys):
    target = v.ArucoTarget((5, 4), 0.04, 0.01, "DICT_4X4_50")
    scene = make_hand_eye_scene(target, count=14, image_size=(800, 600), seed=5)
    v.io.save_hand_eye_dataset(tmp_path / "data", scene.images, scene.robot_T_tcp_list)

    code = main(["hand-eye", str(tmp_path / "data"), "--target", "aruco", "--markers-x", "5", "--markers-y", "4",
                 "--marker-size", "0.04", "--marker-separation", "0.01", "--dictionary", "DICT_4X4_50",
                 "--method", "PARK", "--output", str(tmp_path / "out" / "result.json"), "--refine"])
    assert code == 0
    out = capsys.readouterr().out
    assert "HAND-EYE RESULTS" in out
    assert "HAND-EYE REFINEMENT" in out and "  sigma translation: x " in out and "  sigma rotation:    x " in out
    saved = json.loads((tmp_path / "out" / "result.json").read_text())
    assert saved["method"] == "PARK" and saved["num_frames_total"] == 14
    # ArUco marker corners carry no sub-pixel refinement: a looser bound than for ChArUco
    rotation_deg, translation_m = pose_error(np.array(saved["tcp_T_camera_list"][0]), scene.tcp_T_camera)
    assert rotation_deg < 0.5 and translation_m < 0.003


def test_hand_eye_command_reports_unusable_input(tmp_path, capsys):
    assert main(["hand-eye", str(tmp_path / "missing")]) == 2
    assert "error: npz: cannot open" in capsys.readouterr().err

    v.io.save_hand_eye_dataset(tmp_path / "short", [np.zeros((8, 8, 3), np.uint8)], [np.eye(4), np.eye(4)])
    assert main(["hand-eye", str(tmp_path / "short")]) == 2
    assert "holds 2 robot poses but 1 images" in capsys.readouterr().err

    with pytest.raises(SystemExit):
        main(["hand-eye", str(tmp_path), "--method", "tsai"])

"""The command line on a saved dataset directory."""

import json

import _vemo as v
import cv2
import numpy as np
import pytest
from quorvantine.vemo.cli import main
from quorvantine.vemo.scenes import make_eye_to_hand_scene, make_hand_eye_scene, pose_error


def test_hand_eye_command_calibrates_a_dataset_directory(tmp_path, capsys):
    target = v.ArucoTarget((5, 4), 0.04, 0.01, "DICT_4X4_50")
    scene = make_hand_eye_scene(target, count=14, image_size=(800, 600), seed=5)
    v.io.save_hand_eye_dataset(tmp_path / "data", scene.images, scene.robot_T_tcp_list)

    code = main(["hand-eye", str(tmp_path / "data"), "--target", "aruco", "--markers-x", "5", "--markers-y", "4",
                 "--marker-size", "0.04", "--marker-separation", "0.01", "--dictionary", "DICT_4X4_50",
                 "--method", "PARK", "--output", str(tmp_path / "out" / "result.json"), "--refine"])
    assert code == 0
    out = capsys.readouterr().out
    assert out.startswith("Hand-eye calibration: method PARK, 14 captures\n\n" + "=" * 60 + "\nHAND-EYE RESULTS\n")
    assert "HAND-EYE REFINEMENT" in out and "  sigma translation: x " in out and "  sigma rotation:    x " in out
    saved = json.loads((tmp_path / "out" / "result.json").read_text())
    assert saved["method"] == "PARK" and saved["num_frames_total"] == 14
    # The refinement, with the intrinsics refined alongside, beside the closed-form result.
    refined = json.loads((tmp_path / "out" / "result_refined.json").read_text())
    assert refined["ok"] and refined["sigma_with_intrinsics_translation_mm"] == refined["sigma_translation_mm"]
    assert pose_error(np.array(refined["tcp_T_camera"]), scene.tcp_T_camera)[1] < 0.003
    # Without --loss-scale the losses' scales come from the corners' noise, and the text says which.
    assert 0.0 < refined["loss_scale_px"] < 1.0
    assert f"px, from a Huber fit at scale {refined['loss_scale_px']:.4f} px; intrinsics refined)" in out
    assert "(Tukey's biweight, scale " in out
    assert "  Loss scale chosen from the data: 1.3450 x the corners' robust noise" in out
    assert "  Then Tukey's biweight at 4.6850 x that noise" in out
    # ArUco marker corners carry no sub-pixel refinement: a looser bound than for ChArUco
    rotation_deg, translation_m = pose_error(np.array(saved["tcp_T_camera_list"][0]), scene.tcp_T_camera)
    assert rotation_deg < 0.5 and translation_m < 0.003


CHESSBOARD = ["--target", "chessboard", "--cols", "9", "--rows", "6", "--square-size", "0.03"]


def test_hand_eye_command_reports_unusable_input(tmp_path, capsys):
    assert main(["hand-eye", str(tmp_path / "missing"), *CHESSBOARD]) == 2
    assert "error: npz: cannot open" in capsys.readouterr().err

    v.io.save_hand_eye_dataset(tmp_path / "short", [np.zeros((8, 8, 3), np.uint8)], [np.eye(4), np.eye(4)])
    assert main(["hand-eye", str(tmp_path / "short"), *CHESSBOARD]) == 2
    assert "holds 2 robot poses but 1 images" in capsys.readouterr().err

    with pytest.raises(SystemExit):
        main(["hand-eye", str(tmp_path), "--method", "tsai"])


def test_eye_to_hand_command_calibrates_a_dataset_directory(tmp_path, capsys):
    target = v.CharucoTarget(7, 5, 0.04, 0.03, "DICT_4X4_50")
    scene = make_eye_to_hand_scene(target, count=12, image_size=(800, 600), distance=0.4, seed=9)
    v.io.save_hand_eye_dataset(tmp_path, scene.images, scene.robot_T_tcp_list)

    code = main(["eye-to-hand", str(tmp_path), "--target", "charuco", "--squares-x", "7", "--squares-y", "5",
                 "--square-size", "0.04", "--marker-size", "0.03", "--dictionary", "DICT_4X4_50",
                 "--report", str(tmp_path / "report.json"), "--refine", "--loss-scale", "2"])
    assert code == 0
    out = capsys.readouterr().out
    assert out.index("EYE-TO-HAND RESULTS") < out.index("Verdict: trusted") < out.index("EYE-TO-HAND REFINEMENT")
    report = json.loads((tmp_path / "report.json").read_text())
    assert "(Huber loss, scale 2.0000 px; intrinsics refined)" in out and "chosen from the data" not in out
    assert report["refinement"]["loss_scale_px"] == 2.0
    refined = np.array(report["refinement"]["base_T_camera"])
    assert 1000 * pose_error(refined, scene.base_T_camera)[1] < 2.0
    intrinsics = report["intrinsics"]
    assert len(intrinsics["per_view_errors"]) == 12 and 0 < intrinsics["rms_px"] < 0.5
    saved = json.loads((tmp_path / "eye_to_hand.json").read_text())
    assert saved["method"] == "PARK" and saved["num_frames_total"] == 12  # the eye-to-hand default
    rotation_deg, translation_m = pose_error(np.array(saved["base_T_camera"]), scene.base_T_camera)
    assert rotation_deg < 0.2 and translation_m < 0.002


CHARUCO_OPTIONS = ["--squares-x", "8", "--squares-y", "6", "--square-size", "0.04", "--marker-size", "0.03",
                   "--dictionary", "DICT_5X5_100"]


@pytest.fixture(scope="module")
def charuco_dataset(tmp_path_factory):
    target = v.CharucoTarget(8, 6, 0.04, 0.03, "DICT_5X5_100")
    scene = make_hand_eye_scene(target, count=10, image_size=(800, 600), distance=0.4, seed=3)
    data_dir = tmp_path_factory.mktemp("charuco") / "data"
    v.io.save_hand_eye_dataset(data_dir, scene.images, scene.robot_T_tcp_list)
    return scene, data_dir


def test_compare_command_prints_the_comparison_agreement_and_residuals(charuco_dataset, capsys):
    scene, data_dir = charuco_dataset
    assert main(["compare", str(data_dir)] + CHARUCO_OPTIONS) == 0
    out = capsys.readouterr().out
    assert out.startswith("=" * 60 + "\nHAND-EYE CROSS-METHOD COMPARISON\n")
    assert "HAND-EYE RESULTS" not in out  # the five runs' own reports are left out
    assert "  >>> All 5 methods agree to within ~1.50 deg of median (" in out
    assert "  >>> Translation: all 5 methods within 5.00 mm of the median.\n" in out
    tsai = v.EyeInHandCalibrator(scene.target).calibrate(scene.robot_T_tcp_list, scene.images, "TSAI").consistency
    # The shared intrinsic calibration's RMS is what OpenCV's own calibration of the corners returns.
    found = v.IntrinsicCalibrator(scene.target).find_corners(scene.images)
    rms = cv2.calibrateCamera([p.astype(np.float32) for p in found.object_points],
                              [p.astype(np.float32) for p in found.image_points], (800, 600), None, None)[0]
    assert out.endswith(f"  TSAI        {1000 * tsai.mean_translation_m:8.3f} / {1000 * tsai.max_translation_m:.3f} mm"
                        f"{tsai.mean_rotation_deg:9.3f} / {tsai.max_rotation_deg:.3f} deg\n"
                        f"Reprojection RMS: {rms:.4f} px over all corners of the intrinsic calibration the solvers "
                        "share (the RMS other tools report)\n"
                        "  Trusted results: ANDREFF, DANIILIDIS, HORAUD, PARK, TSAI\n")
    assert out.index("HAND-EYE CROSS-METHOD") < out.index("Deviation from the median") < out.index("consistency residual")


def test_benchmark_command_prints_the_table_and_saves_the_json(charuco_dataset, capsys, tmp_path):
    _, data_dir = charuco_dataset
    output = tmp_path / "bench.json"
    assert main(["benchmark", str(data_dir), "--splits", "4", "--seed", "7", "--backend-name", "rig A",
                 "--output", str(output)] + CHARUCO_OPTIONS) == 0
    lines = capsys.readouterr().out.split("\n")
    assert lines[1] == "BENCHMARK SUMMARY" and lines[5].startswith("rig A" + " " * 23)
    (saved,) = json.loads(output.read_text())["results"]
    assert saved["backend_name"] == "rig A" and saved["image_count"] == 10
    assert lines[5] == (f"{'rig A':<28}{saved['reprojection_error']:6.2f}{saved['held_out_reprojection_error']:6.2f}"
                        f"{saved['hand_eye_roundtrip_error']:6.2f}")
    with pytest.raises(SystemExit):
        main(["benchmark", str(data_dir), "--seed", "-1"])


def test_command_line_values_are_checked(charuco_dataset, capsys):
    _, data_dir = charuco_dataset
    for command, option, value in (("benchmark", "--splits", "0"), ("benchmark", "--splits", "1"),
                                   ("benchmark", "--splits", "-2"), ("compare", "--consensus-threshold-deg", "nan"),
                                   ("compare", "--translation-threshold-mm", "inf"),
                                   ("compare", "--rotation-threshold-deg", "-1")):
        with pytest.raises(SystemExit) as exit_info:
            main([command, str(data_dir), option, value] + CHARUCO_OPTIONS)
        assert exit_info.value.code == 2
        assert f"argument {option}: " in capsys.readouterr().err
    assert main(["benchmark", str(data_dir), "--splits", "1000"] + CHARUCO_OPTIONS) == 2
    assert capsys.readouterr().err.splitlines()[-1] == "error: benchmark: --splits 1000 is more than the 10 captures"
    for refinement_option in (["--loss-scale", "2"], ["--refine-intrinsics"]):
        with pytest.raises(SystemExit) as exit_info:
            main(["hand-eye", str(data_dir), *refinement_option] + CHARUCO_OPTIONS)
        assert exit_info.value.code == 2
        assert capsys.readouterr().err.splitlines()[-1].endswith("--refine-intrinsics and --loss-scale need --refine")


def test_too_few_detections_fail_with_a_hint_and_keep_the_last_result(tmp_path, capsys):
    target = v.ArucoTarget((5, 4), 0.04, 0.01, "DICT_4X4_50")
    scene = make_hand_eye_scene(target, count=6, image_size=(800, 600), seed=5)
    images = scene.images[:2] + [np.full_like(scene.images[0], 200)] * 4
    v.io.save_hand_eye_dataset(tmp_path, images, scene.robot_T_tcp_list)
    (tmp_path / "hand_eye.json").write_text("earlier result")

    code = main(["hand-eye", str(tmp_path), "--target", "aruco", "--markers-x", "5", "--markers-y", "4",
                 "--marker-size", "0.04", "--marker-separation", "0.01", "--dictionary", "DICT_4X4_50"])
    assert code != 0
    assert ("error: the target was found in only 2 of the 6 images (a calibration needs at least 4); looked for "
            "an ArUco grid of 5 x 4 markers") in capsys.readouterr().err
    assert (tmp_path / "hand_eye.json").read_text() == "earlier result"

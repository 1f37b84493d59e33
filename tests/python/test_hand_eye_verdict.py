"""The verdict on hand-eye results: correct data is trusted, each input mistake is named."""

import json
import math

import _vemo as v
import numpy as np
import pytest
from quorvantine.vemo.cli import main
from quorvantine.vemo.scenes import make_eye_to_hand_scene, make_hand_eye_scene

TARGET = v.CharucoTarget(8, 6, 0.04, 0.03, "DICT_5X5_100")


@pytest.fixture(scope="module")
def scene():
    return make_hand_eye_scene(TARGET, count=14, image_size=(800, 600), distance=0.4, seed=5, image_noise=3.0)


def solve(robot_T_tcp_list, images, target=TARGET, camera_T_target_list=(), calibrator_class=v.EyeInHandCalibrator):
    return calibrator_class(target).calibrate(list(robot_T_tcp_list), images, "PARK", list(camera_T_target_list))


def test_correct_data_is_trusted_over_twenty_seeds_and_every_solver():
    # Realistic noise: corners blurred and noisy, the robot off by its repeatability.
    untrusted = []
    for seed in range(10):
        scene = make_hand_eye_scene(TARGET, count=12, image_size=(800, 600), distance=0.4, seed=100 + seed,
                                    image_noise=4.0, robot_noise_m=0.0001, robot_noise_deg=0.01)
        results = v.diagnostics.compare_hand_eye_methods(TARGET, scene.robot_T_tcp_list, scene.images, [],
                                                         np.zeros((0, 0)), np.zeros((0, 0)))
        untrusted += [(seed, name, r.verdict.reasons) for name, r in results.items() if not r.verdict.trusted]
        scene = make_eye_to_hand_scene(TARGET, count=12, image_size=(800, 600), seed=200 + seed, image_noise=4.0)
        result = solve(scene.robot_T_tcp_list, scene.images, calibrator_class=v.EyeToHandCalibrator)
        untrusted += [(seed, "eye-to-hand", result.verdict.reasons)] if not result.verdict.trusted else []
    assert untrusted == []


def test_each_pose_mistake_is_named(scene):
    robot = [pose.copy() for pose in scene.robot_T_tcp_list]
    inverse = [np.linalg.inv(pose) for pose in robot]
    millimetres = [pose.copy() for pose in robot]
    for pose in millimetres:
        pose[:3, 3] *= 1000.0
    cameras = scene.camera_T_target_list
    cases = {
        "robot inverted": (solve(inverse, scene.images), ["robot poses look inverted"]),
        "camera inverted": (solve(robot, scene.images, camera_T_target_list=[np.linalg.inv(c) for c in cameras]),
                            ["camera poses look inverted"]),
        "robot millimetres": (solve(millimetres, scene.images), ["robot translations look like millimetres"]),
        "target millimetres": (solve(robot, scene.images, target=v.CharucoTarget(8, 6, 40.0, 30.0, "DICT_5X5_100")),
                               ["camera_T_target translations look like millimetres"]),
        "robot inverted, in millimetres": (solve([np.linalg.inv(p) for p in millimetres], scene.images),
                                           ["robot translations look like millimetres", "robot poses look inverted"]),
    }
    for name, (result, expected) in cases.items():
        assert result.ok and not result.verdict.trusted, name
        found = [reason for reason in result.verdict.reasons if "look" in reason]
        assert [any(reason.startswith(text) for reason in found) for text in expected] == [True] * len(expected), name
        assert len(found) == len(expected), (name, found)

    # Eye-to-hand solves its chain with the robot poses inverted: the warning still names the input.
    e2h = make_eye_to_hand_scene(TARGET, count=12, image_size=(800, 600), seed=9)
    result = solve([np.linalg.inv(p) for p in e2h.robot_T_tcp_list], e2h.images,
                   calibrator_class=v.EyeToHandCalibrator)
    assert [r for r in result.verdict.reasons if "look" in r][0].startswith("robot poses look inverted")


def test_mispaired_captures_are_named_and_the_scatter_is_stated(scene):
    robot = list(scene.robot_T_tcp_list)
    swapped = robot.copy()
    swapped[2], swapped[9] = swapped[9], swapped[2]
    result = solve(swapped, scene.images)
    assert result.ok and not result.verdict.trusted
    assert sorted(suspect.capture for suspect in result.verdict.suspects) == [2, 9]
    deviations = np.array(result.consistency.translation_deviations_m)
    rms_mm = 1000 * math.sqrt(np.mean(deviations ** 2))
    assert result.verdict.reasons[0].startswith(f"the captures place the target {rms_mm:.2f} mm and ")
    text = v.format_verdict(result.verdict, [f"image_{i:02d}.png" for i in range(len(robot))])
    first, second = result.verdict.suspects
    assert text.startswith("Verdict: NOT TRUSTED\n  - the captures place the target")
    assert text.endswith("  Suspects (robot pose and image may not belong together):\n"
                         f"    capture {first.capture} (image_{first.capture:02d}.png): "
                         f"{1000 * first.residual_without_m:.2f} mm without it\n"
                         f"    capture {second.capture} (image_{second.capture:02d}.png): "
                         f"{1000 * second.residual_without_m:.2f} mm without it\n")

    shifted = solve(robot[1:] + robot[:1], scene.images)
    assert "robot poses look shifted by one capture against the images: each robot pose fits the image after its own" \
        in shifted.verdict.reasons


def test_target_mistakes_are_named_with_what_fits(scene, capfd):
    turned = solve(scene.robot_T_tcp_list, scene.images, target=v.CharucoTarget(6, 8, 0.04, 0.03, "DICT_5X5_100"))
    warning = "ChArUco markers do not fit a 6x8 board; they fit a 8x6 board (squares_x x squares_y)"
    assert f"[vemo][WARNING] [IntrinsicCalibrator] {warning}\n" in capfd.readouterr().err
    # OpenCV 4.6 solves on wrong corners, 4.7 on finds none.
    assert not turned.ok or (not turned.verdict.trusted and turned.verdict.reasons[0] == warning)

    wrong = v.CharucoTarget(8, 6, 0.05, 0.0375, "DICT_5X5_100")
    result = solve(scene.robot_T_tcp_list, scene.images, target=wrong)
    assert result.ok and not result.verdict.trusted
    assert "the target's squares look like 0.0400 m, not 0.0500 m" in result.verdict.reasons
    # Off by less than the tolerance of 2 %: no warning.
    close = v.CharucoTarget(8, 6, 0.0404, 0.0303, "DICT_5X5_100")
    assert solve(scene.robot_T_tcp_list, scene.images, target=close).verdict.trusted


def test_commands_exit_3_on_an_untrusted_result_and_report_why(scene, tmp_path, capsys):
    options = ["--squares-x", "8", "--squares-y", "6", "--square-size", "0.05", "--marker-size", "0.0375",
               "--dictionary", "DICT_5X5_100", "--method", "PARK"]
    v.io.save_hand_eye_dataset(tmp_path / "data", scene.images, scene.robot_T_tcp_list)
    report = tmp_path / "report.json"
    assert main(["hand-eye", str(tmp_path / "data"), "--report", str(report)] + options) == 3
    captured = capsys.readouterr()
    assert "\nVerdict: NOT TRUSTED\n" in captured.out
    assert (tmp_path / "data" / "hand_eye.json").exists()  # saved all the same
    data = json.loads(report.read_text())
    assert data["exit_code"] == 3 and data["verdict"]["trusted"] is False
    warning = "[EyeInHandCalibrator] the target's squares look like 0.0400 m, not 0.0500 m"
    assert warning in data["warnings"] and f"[vemo][WARNING] {warning}\n" in captured.err
    # compare: untrusted only when no solver's result is.
    assert main(["compare", str(tmp_path / "data")] + options[:-2]) == 3
    assert "  Trusted results: none\n" in capsys.readouterr().out
    with pytest.raises(SystemExit) as refused:
        main(["eye-to-hand", str(tmp_path / "data"), "--robot-repeatability-mm", "nan"] + options)
    assert refused.value.code == 2

"""The five hand-eye solvers side by side on rendered captures."""

import sys

import _vemo as v
import numpy as np
import pytest
from quorvantine.vemo.scenes import make_hand_eye_scene, pose_error

METHODS = ["ANDREFF", "DANIILIDIS", "HORAUD", "PARK", "TSAI"]
NO_MATRIX = np.zeros((0, 0))


@pytest.fixture(scope="module")
def scene():
    target = v.CharucoTarget(8, 6, 0.04, 0.03, "DICT_5X5_100")
    return make_hand_eye_scene(target, count=10, image_size=(800, 600), distance=0.4, seed=3)


def independent_runs(target, robot_T_tcp_list, images, camera_T_target_list, intrinsic_matrix, dist, threshold):
    """What the comparison stands for: one fresh calibrator and one full run per method."""
    results = {}
    for name in METHODS:
        options = v.IntrinsicOptions()
        options.per_view_error_threshold = threshold
        try:
            result = v.EyeInHandCalibrator(target, options).calibrate(
                robot_T_tcp_list, images, name, camera_T_target_list, intrinsic_matrix, dist)
            results[name] = result if result.ok else None
        except (ValueError, RuntimeError) as error:
            print(f"[vemo][WARNING] [diag] method {name} failed: {error}", file=sys.stderr, flush=True)
            results[name] = None
    return results


def test_all_five_methods_recover_the_hand_eye_transform_and_agree(scene):
    results = v.diagnostics.compare_hand_eye_methods(scene.target, scene.robot_T_tcp_list, scene.images, [],
                                                      NO_MATRIX, NO_MATRIX)
    assert list(results) == METHODS
    for name, result in results.items():
        assert result.method_name == name
        rotation_deg, translation_m = pose_error(result.tcp_T_camera, scene.tcp_T_camera)
        # ANDREFF's linear formulation is the least accurate of the five on noisy poses.
        assert rotation_deg < 0.1 and translation_m < (0.003 if name == "ANDREFF" else 0.001)
        assert result.pose_deg == pytest.approx(v.tf.transformation_matrix_to_pose(result.tcp_T_camera), abs=1e-12)
        assert result.consistency.max_translation_m < 0.002
    report = v.diagnostics.format_method_comparison(results)
    assert "  >>> All 5 methods agree to within ~1.50 deg of median (" in report
    agreement = v.diagnostics.assess_method_agreement(results)
    assert agreement.translation_outliers == [] and agreement.rotation_outliers == []
    assert [d.method_name for d in agreement.deviations] == METHODS
    translations = np.array([r.tcp_T_camera[:3, 3] for r in results.values()])
    median = np.median(translations, axis=0)
    assert [d.translation_mm for d in agreement.deviations] == pytest.approx(
        1000 * np.linalg.norm(translations - median, axis=1), abs=1e-9)
    assert v.diagnostics.format_method_agreement(agreement).endswith(
        "  >>> Translation: all 5 methods within 5.00 mm of the median.\n"
        "  >>> Rotation: all 5 methods within 0.50 deg of the median.\n")


@pytest.mark.parametrize("case", ["intrinsic", "redetect", "poses", "too_few", "wrong_target"])
def test_sharing_the_preparation_changes_no_log_line_report_or_result(scene, case, capfd):
    """The comparison prepares the captures once; its output must be that of five independent runs."""
    target, images, robots = scene.target, scene.images, scene.robot_T_tcp_list
    poses, matrix, dist, threshold = [], NO_MATRIX, NO_MATRIX, 0.05  # drops 3 of the 10 views
    if case == "redetect":
        matrix, dist = scene.camera_matrix, scene.dist_coeffs
    elif case == "poses":
        poses, matrix, dist = scene.camera_T_target_list, scene.camera_matrix, scene.dist_coeffs
    elif case == "too_few":
        images, robots = images[:3], robots[:3]
    elif case == "wrong_target":
        target, matrix, dist = v.ChessboardTarget((7, 5), 0.04), scene.camera_matrix, scene.dist_coeffs

    capfd.readouterr()
    compared = v.diagnostics.compare_hand_eye_methods(target, robots, images, poses, matrix, dist, threshold)
    shared_output = capfd.readouterr()
    independent = independent_runs(target, robots, images, poses, matrix, dist, threshold)
    independent_output = capfd.readouterr()

    assert shared_output.err == independent_output.err
    assert shared_output.out == independent_output.out
    assert shared_output.err.count("Collected images") == 5
    assert shared_output.out.count("HAND-EYE RESULTS") == (0 if case in ("too_few", "wrong_target") else 5)
    for name in METHODS:
        if independent[name] is None:
            assert compared[name] is None
            continue
        np.testing.assert_array_equal(compared[name].tcp_T_camera, independent[name].tcp_T_camera)
        assert compared[name].consistency.translation_deviations_m == \
            independent[name].consistency.translation_deviations_m
    if case == "wrong_target":
        assert "[vemo][WARNING] [diag] method TSAI failed: EyeInHandCalibrator::computeCameraTTargetList only " \
               "supports CharucoTarget\n" in shared_output.err
        assert v.diagnostics.format_method_comparison(compared).endswith("  TSAI        (failed)\n")


@pytest.mark.parametrize("fault", ["one capture off", "robot millimetres"])
def test_verdicts_built_on_the_shared_solutions_are_those_of_independent_runs(scene, fault):
    """Every run's verdict compares its solver with the four others, which the comparison solves
    once for all five runs: each verdict must still be that of the method's own run."""
    robots = [pose.copy() for pose in scene.robot_T_tcp_list]
    if fault == "one capture off":
        robots[4] = robots[4] @ v.tf.pose_to_transformation_matrix([0.03, 0.02, 0.0, 2.0, 0.0, 0.0])
    else:
        for pose in robots:
            pose[:3, 3] *= 1000.0
    arguments = (robots, [], scene.camera_T_target_list, scene.camera_matrix, scene.dist_coeffs, 1.0)
    compared = v.diagnostics.compare_hand_eye_methods(scene.target, *arguments)
    independent = independent_runs(scene.target, *arguments)

    for name in METHODS:
        ours, own = compared[name].verdict, independent[name].verdict
        assert (ours.trusted, list(ours.reasons)) == (own.trusted, list(own.reasons)), name
        assert [(s.capture, s.residual_without_m) for s in ours.suspects] == \
            [(s.capture, s.residual_without_m) for s in own.suspects], name
    # The faults reach the parts of the verdict that read the shared solutions.
    tsai = compared["TSAI"].verdict
    if fault == "one capture off":
        assert [s.capture for s in tsai.suspects] == [4]
    else:
        assert any(reason.startswith("robot translations look like millimetres") for reason in tsai.reasons)

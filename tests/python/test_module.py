"""The module's layout: docstrings, submodules, constants, the TermCriteria record."""

import sys

import _vemo
import pytest


def test_module_and_submodule_docstrings():
    assert _vemo.__doc__ == (
        "Compiled C++ core of quorvantine-vemo: targets, calibration, geometry, quality, io. "
        "Not meant to be imported directly  -  use the quorvantine.vemo Python package.")
    assert _vemo.tf.__doc__ == "SE(3) pose <-> 4x4 transformation matrix conversions."


def public_names(module):
    return [name for name in module.__dict__ if not name.startswith("__")]


def test_names_are_registered_in_the_published_order():
    assert public_names(_vemo) == [
        "tf",
        "aruco_dictionary_id_map", "aruco_dictionary_id_from_name", "ChessboardTarget", "CharucoTarget", "ArucoTarget",
        "TERM_CRITERIA_COUNT", "TERM_CRITERIA_MAX_ITER", "TERM_CRITERIA_EPS", "TermCriteria", "IntrinsicOptions",
        "TargetDetections", "IntrinsicResult", "IntrinsicCalibrator",
        "hand_eye_method_by_name_map", "TargetConsistencyStats", "HandEyeResult", "AlignedTargetPoses",
        "EyeInHandCalibrator", "HandEyeRefinement", "EyeToHandResult", "EyeToHandCalibrator",
        "CALIB_FIX_INTRINSIC", "CALIB_USE_INTRINSIC_GUESS", "TriangulationReport", "MultiCameraResult", "SubsetResult",
        "MultiCameraCalibrator",
        "diagnostics", "BenchmarkResult", "CalibrationBenchmark", "io", "synthetic"]
    assert public_names(_vemo.tf) == [
        "pose_to_transformation_matrix", "transformation_matrix_to_pose", "average_pose"]
    assert public_names(_vemo.diagnostics) == [
        "RotationVarietyStats", "analyze_rotation_variety", "format_rotation_variety",
        "HandEyeMethodResult", "compare_hand_eye_methods", "format_method_comparison",
        "MethodDeviation", "MethodAgreement", "assess_method_agreement", "format_method_agreement"]
    assert public_names(_vemo.io) == [
        "save_hand_eye_dataset", "load_hand_eye_dataset", "next_multi_camera_capture_index",
        "save_multi_camera_capture", "save_multi_camera_robot_poses", "load_multi_camera_robot_poses",
        "load_multi_camera_dataset", "MultiCameraCalibrationRecord", "save_multi_camera_calibration",
        "load_multi_camera_calibration", "HandEyeResultRecord", "save_hand_eye_result", "load_hand_eye_result",
        "EyeToHandResultRecord", "save_eye_to_hand_result", "load_eye_to_hand_result", "load_images"]
    assert _vemo.diagnostics.__doc__ == "Diagnostics for hand-eye calibration data and solvers."
    assert _vemo.io.__doc__ == "On-disk persistence for calibration datasets and results."


def test_submodules_are_named_children_sharing_the_parent_file():
    for name in ("tf", "diagnostics", "io", "synthetic"):
        child = getattr(_vemo, name)
        assert child.__name__ == "_vemo." + name
        assert child.__file__ == _vemo.__file__
        assert sys.modules["_vemo." + name] is child


def test_tf_docstrings():
    assert _vemo.tf.pose_to_transformation_matrix.__doc__.rstrip().endswith(
        "Convert [x, y, z, rx, ry, rz] (degrees, extrinsic xyz Euler) to a 4x4 matrix.")
    assert _vemo.tf.average_pose.__doc__.rstrip().endswith(
        "Mean SE(3) pose: average translations, project the mean rotation onto SO(3) via SVD.")


def test_term_criteria_constants_and_record():
    assert _vemo.TERM_CRITERIA_COUNT == 1
    assert _vemo.TERM_CRITERIA_MAX_ITER == 1
    assert _vemo.TERM_CRITERIA_EPS == 2
    assert _vemo.TermCriteria.__doc__ == "OpenCV solver termination criteria."

    criteria = _vemo.TermCriteria(type=3, max_count=30, epsilon=0.001)
    assert (criteria.type, criteria.max_count, criteria.epsilon) == (3, 30, 0.001)
    criteria.max_count = 7
    criteria.epsilon = 1e-9
    assert (criteria.max_count, criteria.epsilon) == (7, 1e-9)
    with pytest.raises(TypeError):
        _vemo.TermCriteria()
    with pytest.raises(TypeError):
        _vemo.TermCriteria(3, 30)


def test_user_package_reexports_the_core():
    from quorvantine import vemo
    assert vemo.tf is _vemo.tf
    assert vemo.TermCriteria is _vemo.TermCriteria
    assert "tf" in vemo.__all__

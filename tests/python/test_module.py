"""The module's layout: docstrings, submodules, constants, the TermCriteria record."""

import pathlib
import re
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
        "CharucoLayoutFit", "CharucoLayoutCheck", "check_charuco_layout",
        "TERM_CRITERIA_COUNT", "TERM_CRITERIA_MAX_ITER", "TERM_CRITERIA_EPS", "TermCriteria", "IntrinsicOptions",
        "TargetDetections", "IntrinsicResult", "IntrinsicCalibrator",
        "hand_eye_method_by_name_map", "TargetConsistencyStats", "HandEyeResult", "AlignedTargetPoses",
        "EyeInHandCalibrator", "HandEyeRefinement", "EyeToHandResult", "EyeToHandCalibrator",
        "CALIB_FIX_INTRINSIC", "CALIB_USE_INTRINSIC_GUESS", "TriangulationReport", "MultiCameraResult", "SubsetResult",
        "MultiCameraCalibrator",
        "diagnostics", "BenchmarkResult", "CalibrationBenchmark", "io", "synthetic",
        "Suspect", "Verdict", "VerdictOptions", "format_verdict", "EyeToHandRefinement", "RigRefinement",
        "StereoRectification", "stereo_rectify"]
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
    assert docstring_body(_vemo.tf.pose_to_transformation_matrix).startswith(
        "Convert [x, y, z, rx, ry, rz] (degrees, extrinsic xyz Euler) to a 4x4 matrix.")
    assert docstring_body(_vemo.tf.average_pose).startswith(
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


# What pybind11 writes itself: "name(a: T, b: T = d) -> R" per overload, numbered "1. " and
# headed "Overloaded function." when there are several.
SIGNATURE_LINE = re.compile(r"^(?:\d+\. )?(\w+)\((.*)\)(?: -> .*)?$")


def signature_lines(function):
    return [line for line in (function.__doc__ or "").splitlines() if SIGNATURE_LINE.match(line)]


def docstring_body(function):
    """The docstring without the lines pybind11 generates."""
    lines = (function.__doc__ or "").splitlines()
    return "\n".join(line for line in lines
                     if not SIGNATURE_LINE.match(line) and line != "Overloaded function.").strip()


def parameter_names(signature_line):
    """Names of the parameters of one generated signature line, self left out."""
    arguments = SIGNATURE_LINE.match(signature_line).group(2)
    # The argument list ends at the parenthesis that closes the first one (defaults such as
    # "IntrinsicOptions()" and return types hold parentheses of their own).
    parts, depth, quote, current = [], 0, None, ""
    for character in arguments + ")":
        if quote:
            quote = None if character == quote else quote
        elif character in "'\"":
            quote = character
        elif character in "([{":
            depth += 1
        elif character in ")]}":
            depth -= 1
            if depth < 0:
                break
        elif character == "," and depth == 0:
            parts.append(current)
            current = ""
            continue
        current += character
    parts.append(current)
    names = [part.split(":")[0].split("=")[0].strip() for part in parts if part.strip()]
    return [name for name in names if name != "self"]


def public_callables():
    """(dotted name, function) of every public function and method of _vemo and its submodules."""
    for module in (_vemo, _vemo.tf, _vemo.io, _vemo.diagnostics, _vemo.synthetic):
        for name, value in vars(module).items():
            if name.startswith("_"):
                continue
            if isinstance(value, type):
                for member_name, member in vars(value).items():
                    if not member_name.startswith("_") and not isinstance(member, property):
                        yield f"{module.__name__}.{name}.{member_name}", getattr(value, member_name)
            elif callable(value):
                yield f"{module.__name__}.{name}", value


def test_bound_functions_document_what_they_take_and_give():
    callables = dict(public_callables())
    assert len(callables) > 70 and "_vemo.EyeInHandCalibrator.calibrate" in callables
    documented = {name: function for name, function in callables.items() if docstring_body(function)}
    share = len(documented) / len(callables)
    assert share >= 0.9, sorted(set(callables) - set(documented))
    unnamed = {}
    for name, function in documented.items():
        body = docstring_body(function)
        for line in signature_lines(function):
            missing = [parameter for parameter in parameter_names(line)
                       if not re.search(rf"\b{re.escape(parameter)}\b", body)]
            if missing:
                unnamed[name] = missing
    assert unnamed == {}
    # The parser reads defaults that hold commas, brackets and parentheses.
    assert parameter_names(signature_lines(_vemo.MultiCameraCalibrator.calibrate_subsets)[0]) == [
        "image_lists", "subset_sizes", "frame_index"]
    assert parameter_names(signature_lines(_vemo.EyeInHandCalibrator.__init__)[0]) == ["target", "options"]

    stub = pathlib.Path(_vemo.__file__).parent / "_vemo" / "__init__.pyi"
    if stub.is_file():  # written by the plain build only (not the sanitizer build)
        first_line = docstring_body(_vemo.EyeInHandCalibrator.calibrate).splitlines()[0]
        assert first_line in stub.read_text()

"""The module's layout: docstrings, submodules, constants, the TermCriteria record."""

import sys

import _vemo
import pytest


def test_module_and_submodule_docstrings():
    assert _vemo.__doc__ == (
        "Compiled C++ core of quorvantine-vemo: targets, calibration, geometry, quality, io. "
        "Not meant to be imported directly  -  use the quorvantine.vemo Python package.")
    assert _vemo.tf.__doc__ == "SE(3) pose <-> 4x4 transformation matrix conversions."


def test_submodules_are_named_children_sharing_the_parent_file():
    for name in ("tf",):
        child = getattr(_vemo, name)
        assert child.__name__ == "_vemo." + name
        assert child.__file__ == _vemo.__file__
        assert sys.modules["_vemo." + name] is child


def test_tf_functions_and_their_docstrings():
    assert [n for n in dir(_vemo.tf) if not n.startswith("_")] == [
        "average_pose", "pose_to_transformation_matrix", "transformation_matrix_to_pose"]
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

"""The sparse solve chosen through the options: a rig calibrated with it equals the one
calibrated with OpenCV's solves, and a solver the options do not know is refused."""

import contextlib
import io

import numpy as np
import pytest

import _vemo
from quorvantine.vemo.scenes import make_rig_scene


def test_a_rig_through_the_sparse_solves_equals_one_through_opencvs():
    target = _vemo.CharucoTarget(9, 7, 0.04, 0.03, "DICT_5X5_100")
    with contextlib.redirect_stdout(io.StringIO()):
        scene = make_rig_scene(target, num_cameras=3, frames=10, image_size=(640, 480))
    results = {}
    for solver in ("opencv", "sparse"):
        options = _vemo.MultiCameraCalibrator.default_options()
        options.camera_solver = solver
        calibrator = _vemo.MultiCameraCalibrator(target, 3, 0, options)
        with contextlib.redirect_stdout(io.StringIO()):
            results[solver] = calibrator.calibrate(scene.image_lists)
    dense, sparse = results["opencv"], results["sparse"]
    assert dense.ok and sparse.ok
    for camera in range(3):
        np.testing.assert_allclose(sparse.reference_T_camera_list[camera], dense.reference_T_camera_list[camera],
                                   rtol=0, atol=1e-9)
        np.testing.assert_allclose(sparse.intrinsic_matrices[camera], dense.intrinsic_matrices[camera], rtol=1e-9)
    np.testing.assert_allclose(sparse.pair_reprojection_errors[1:], dense.pair_reprojection_errors[1:], rtol=1e-9)
    # And the truth, to what ten 640x480 frames allow.
    for camera in range(1, 3):
        error = np.asarray(sparse.reference_T_camera_list[camera])[:3, 3] - scene.reference_T_camera(0, camera)[:3, 3]
        assert np.linalg.norm(error) < 0.005
    options = _vemo.IntrinsicOptions()
    options.camera_solver = "dense"
    with pytest.raises(ValueError, match="camera_solver must be 'opencv', 'sparse' or 'auto', got 'dense'"):
        _vemo.IntrinsicCalibrator(target, options).calibrate(scene.image_lists[0])

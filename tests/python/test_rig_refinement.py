"""MultiCameraCalibrator.refine(): the rig as one bundle adjustment, checked against the truth
of a rendered rig and against its cost computed here with OpenCV's projection."""

import contextlib
import io

import cv2
import numpy as np
import pytest

import _vemo as v
from quorvantine.vemo.scenes import make_rig_scene, pose_error

CHARUCO = v.CharucoTarget(10, 7, 0.03, 0.022, "DICT_5X5_100")


@pytest.fixture(scope="module")
def noisy_rig():
    """3 cameras, 18 frames, images noisy enough for about 0.4 to 0.5 px of corner noise."""
    return make_rig_scene(CHARUCO, num_cameras=3, frames=18, image_noise=40.0)


def residuals(refinement, detections):
    """Per camera, the (N, 2) reprojection residuals of its corners at the refined rig."""
    per_camera = []
    for camera, found in enumerate(detections):
        parts = []
        for frame, object_points, image_points in zip(found.successful_indices, found.object_points,
                                                      found.image_points):
            camera_T_board = (np.linalg.inv(refinement.reference_T_camera_list[camera])
                              @ refinement.reference_T_board_list[frame])
            rvec, _ = cv2.Rodrigues(camera_T_board[:3, :3])
            projected, _ = cv2.projectPoints(object_points.astype(np.float64), rvec, camera_T_board[:3, 3],
                                             refinement.intrinsic_matrices[camera],
                                             refinement.distortion_coefficients[camera])
            parts.append(projected.reshape(-1, 2) - image_points.reshape(-1, 2))
        per_camera.append(np.concatenate(parts))
    return per_camera


def huber_cost(refinement, detections, scale=1.0):
    squares = np.concatenate([np.sum(r ** 2, axis=1) for r in residuals(refinement, detections)])
    return 0.5 * np.sum(np.where(squares <= scale ** 2, squares, 2 * scale * np.sqrt(squares) - scale ** 2))


class Moved:
    """A refinement with one camera's pose or camera matrix moved."""

    def __init__(self, refinement, camera, pose_step=None, matrix_step=None):
        self.reference_T_board_list = refinement.reference_T_board_list
        self.distortion_coefficients = refinement.distortion_coefficients
        self.reference_T_camera_list = [p.copy() for p in refinement.reference_T_camera_list]
        self.intrinsic_matrices = [m.copy() for m in refinement.intrinsic_matrices]
        if pose_step is not None:
            self.reference_T_camera_list[camera][:3, 3] += pose_step
        if matrix_step is not None:
            self.intrinsic_matrices[camera] += matrix_step


def test_refine_beats_the_pairwise_rig_at_the_minimum_of_its_cost(noisy_rig):
    calibrator = v.MultiCameraCalibrator(CHARUCO, 3)
    with contextlib.redirect_stdout(io.StringIO()):
        pairwise = calibrator.calibrate(noisy_rig.image_lists)
    refined = calibrator.refine()
    assert refined.ok and refined.converged and refined.reference_index == 0
    np.testing.assert_array_equal(refined.reference_T_camera_list[0], np.eye(4))
    assert refined.rms_after_px <= refined.rms_before_px

    pairwise_mm = refined_mm = 0.0
    for camera in (1, 2):
        truth = noisy_rig.reference_T_camera(0, camera)
        pairwise_mm += 1000 * pose_error(pairwise.reference_T_camera_list[camera], truth)[1]
        refined_mm += 1000 * pose_error(refined.reference_T_camera_list[camera], truth)[1]
        error_mm = 1000 * (refined.reference_T_camera_list[camera][:3, 3] - truth[:3, 3])
        assert np.all(np.abs(error_mm) < 4 * np.array(refined.sigma_translation_mm[camera])), camera
    assert refined_mm < 0.6 * pairwise_mm, (refined_mm, pairwise_mm)
    assert refined.sigma_translation_mm[0] == [0.0, 0.0, 0.0]
    # The pairwise result stays what calibrate() returned.
    np.testing.assert_array_equal(calibrator.last_result().reference_T_camera_list[1], pairwise.reference_T_camera_list[1])

    # The figures, recomputed from the corners the rig detects.
    options = v.MultiCameraCalibrator.default_options()
    detections = [v.IntrinsicCalibrator(CHARUCO, options).find_corners(images) for images in noisy_rig.image_lists]
    per_camera = residuals(refined, detections)
    everything = np.concatenate(per_camera)
    assert refined.corner_count == len(everything)
    assert refined.per_camera_corner_count == [len(r) for r in per_camera]
    assert refined.rms_after_px == pytest.approx(np.sqrt(np.mean(np.sum(everything ** 2, axis=1))), rel=1e-6)
    assert refined.per_camera_rms_px == pytest.approx([np.sqrt(np.mean(np.sum(r ** 2, axis=1))) for r in per_camera],
                                                      rel=1e-6)
    # The scale chosen from the data: 1.345 robust sigmas of the residual components of the
    # pilot fit at 1 px, which is the fit given that scale; the refined rig is the fit given
    # the chosen scale.
    pilot = calibrator.refine(1.0)
    assert not pilot.loss_scale_from_data and np.isnan(pilot.robust_noise_px) and pilot.loss_scale_px == 1.0
    robust_sigma = 1.4826 * np.median(np.abs(np.concatenate(residuals(pilot, detections))))
    assert refined.loss_scale_from_data
    assert refined.robust_noise_px == pytest.approx(robust_sigma, rel=1e-6)
    assert refined.loss_scale_px == pytest.approx(1.345 * robust_sigma, rel=1e-12)
    given = calibrator.refine(refined.loss_scale_px)
    np.testing.assert_allclose(given.reference_T_camera_list[2], refined.reference_T_camera_list[2], atol=1e-12)
    # A minimum of the stated cost: moving a camera or its focal length a little either way
    # never lowers it.
    scale = refined.loss_scale_px
    cost = huber_cost(refined, detections, scale)
    for camera in range(3):
        for sign in (-1.0, 1.0):
            assert huber_cost(Moved(refined, camera, matrix_step=sign * 0.02 * np.diag([1.0, 0.0, 0.0])),
                              detections, scale) > cost
            if camera:
                for axis in np.eye(3):
                    assert huber_cost(Moved(refined, camera, pose_step=sign * 1e-5 * axis), detections, scale) > cost

    calibrator.refine()
    text = calibrator.format_refinement()
    assert text.startswith("\n" + "=" * 70 + "\nRIG BUNDLE ADJUSTMENT  (reference = cam_0)\n" + "=" * 70 + "\n\n"
                           f"Cost: Huber loss (scale {scale:.4f} px) of every corner's reprojection distance,\n"
                           "  over every camera's intrinsics and pose and every frame's board pose\n"
                           "  Scale chosen from the data: 1.345 x the corners' robust noise after a first fit at 1 px "
                           f"({robust_sigma:.4f} px per axis)\n"
                           f"  Reprojection RMS: {refined.rms_before_px:.4f} px with the pairwise rig as given (board "
                           f"poses fitted), {refined.rms_after_px:.4f} px refined (18 frames, {len(everything)} "
                           "corners)\n")
    sigma = refined.sigma_translation_mm[2]
    assert (f"  sigma translation (1 sigma, reference axes): x {sigma[0]:.4f} y {sigma[1]:.4f} z {sigma[2]:.4f} mm\n"
            in text)


def test_refine_needs_a_successful_calibration():
    calibrator = v.MultiCameraCalibrator(CHARUCO, 2)
    for scale in (0.0, float("nan")):
        with pytest.raises(ValueError, match="^MultiCameraCalibrator::refine: loss_scale_px must be positive$"):
            calibrator.refine(scale)
    with pytest.raises(RuntimeError, match=r"^MultiCameraCalibrator::refine: there is no successful calibration to "
                                           r"refine; run calibrate\(\) first$"):
        calibrator.refine()
    assert calibrator.format_refinement() == "\n" + "=" * 70 + "\nRIG BUNDLE ADJUSTMENT  (reference = cam_0)\n" + \
        "=" * 70 + "\nNot refined.\n"

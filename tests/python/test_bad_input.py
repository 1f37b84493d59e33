"""Input that would give a confident wrong answer is refused or fails the run openly."""

import math
import re

import _vemo as v
import numpy as np
import pytest
from quorvantine.vemo.scenes import make_hand_eye_scene


@pytest.fixture(scope="module")
def scene():
    target = v.CharucoTarget(8, 6, 0.04, 0.03, "DICT_5X5_100")
    return make_hand_eye_scene(target, count=8, image_size=(800, 600), distance=0.4, seed=2)


def quiet_calibrate(capfd, calibrator, *args):
    result = calibrator.calibrate(*args)
    return result, capfd.readouterr()


def test_pose_rotation_blocks_must_be_rotations(scene, capfd):
    calibrator = v.EyeInHandCalibrator(scene.target)
    robot, poses = scene.robot_T_tcp_list, scene.camera_T_target_list

    # Rotations exported with 4 decimals are still rotations.
    rounded = [np.round(pose, 4) for pose in robot]
    result, _ = quiet_calibrate(capfd, calibrator, rounded, [], "TSAI", poses)
    assert result.ok

    scaled = [pose.copy() for pose in robot]
    scaled[3][:3, :3] *= 1.01
    reflected = [pose.copy() for pose in poses]
    reflected[5][:3, 0] *= -1
    for robot_list, pose_list, name in [(scaled, poses, r"robot_T_tcp_list\[3\]"),
                                        (robot, reflected, r"camera_T_target_list\[5\]")]:
        with pytest.raises(ValueError, match=rf"^EyeInHandCalibrator: {name} must have a rotation block that is a "
                                             r"proper rotation \(orthonormal, det \+1\)$"):
            calibrator.calibrate(robot_list, [], "TSAI", pose_list)


def test_robot_that_does_not_rotate_fails_the_run(scene, capfd):
    calibrator = v.EyeInHandCalibrator(scene.target)
    good, _ = quiet_calibrate(capfd, calibrator, scene.robot_T_tcp_list, [], "TSAI", scene.camera_T_target_list)
    assert good.ok

    translated = [np.eye(4) for _ in range(6)]
    for k, pose in enumerate(translated):
        pose[:3, 3] = [0.01 * k, 0.02 * (k % 2), 0.0]
    one_axis = [v.tf.pose_to_transformation_matrix([0.01 * k, 0, 0, 0, 0, 10.0 * k]) for k in range(6)]
    for robot in ([np.eye(4)] * 6, translated, one_axis):
        result, captured = quiet_calibrate(capfd, calibrator, robot, [], "TSAI", scene.camera_T_target_list[:6])
        assert not result.ok
        assert ("[vemo][ERROR] [EyeInHandCalibrator] The robot must rotate between captures, about at least two "
                "different axes") in captured.err
        assert "HAND-EYE RESULTS" not in captured.out
    np.testing.assert_array_equal(calibrator.last_result().tcp_T_camera, good.tcp_T_camera)


def test_camera_matrix_lists_and_image_sizes_are_checked(scene, capfd):
    calibrator = v.EyeInHandCalibrator(scene.target)
    robot, images = scene.robot_T_tcp_list, scene.images
    for camera_matrix in (np.full((3, 3), np.nan), np.diag([-800.0, 800.0, 1.0]), np.eye(3)[:2]):
        with pytest.raises(ValueError, match="^EyeInHandCalibrator: intrinsic_matrix must be a finite 3x3 camera"):
            calibrator.calibrate(robot, images, "TSAI", [], camera_matrix, scene.dist_coeffs)
    with pytest.raises(ValueError, match="must have the same length. Got 8 .robot. vs 7 .images."):
        calibrator.calibrate(robot, images[:7], "TSAI", [], scene.camera_matrix, scene.dist_coeffs)
    assert "Collected images" not in capfd.readouterr().err  # refused before any detection

    rig = v.MultiCameraCalibrator(scene.target, 2)
    with pytest.raises(ValueError, match=r"^MultiCameraCalibrator: intrinsic_matrices\[1\] must be a finite 3x3"):
        rig.calibrate([images[:4], images[:4]], [scene.camera_matrix, np.diag([800.0, 0.0, 1.0])],
                      [scene.dist_coeffs, scene.dist_coeffs])

    # The first image sets the size, found or not; a detected view of another size is refused.
    blank = np.zeros((600, 800, 3), np.uint8)
    larger = np.pad(images[2], ((0, 8), (0, 8), (0, 0)))
    intrinsic = v.IntrinsicCalibrator(scene.target)
    with pytest.raises(ValueError, match=r"^IntrinsicCalibrator: image 3 is 808x608 but the first image is 800x600"):
        intrinsic.calibrate([blank, images[0], images[1], larger] + images[3:])


def test_images_of_the_wrong_kind_name_the_operation_and_index(scene):
    grey = scene.images[1][:, :, 0].copy()
    wrong = {"8-bit unsigned with 1 channel(s)": grey,
             "8-bit unsigned with 2 channel(s)": scene.images[1][:, :, :2].copy(),
             "16-bit unsigned with 3 channel(s)": scene.images[1].astype(np.uint16),
             "32-bit float with 3 channel(s)": scene.images[1].astype(np.float32)}
    for got, image in wrong.items():
        expected = rf"image 1 must be an 8-bit BGR image \(3 or 4 channels\), got {re.escape(got)}$"
        with pytest.raises(RuntimeError, match="^IntrinsicCalibrator: " + expected):
            v.IntrinsicCalibrator(scene.target).find_corners([scene.images[0], image])
        with pytest.raises(RuntimeError, match="^EyeInHandCalibrator: " + expected):
            v.EyeInHandCalibrator(scene.target).compute_camera_T_target_list(
                [scene.images[0], image], scene.robot_T_tcp_list[:2], scene.camera_matrix, scene.dist_coeffs)
    with pytest.raises(RuntimeError, match=r"^CharucoTarget::detectAndAnnotate: image 0 must be an 8-bit BGR"):
        scene.target.detect_and_annotate(grey)


def test_pose_of_a_non_finite_rotation_is_unknown():
    pose = np.eye(4)
    pose[2, 0] = np.inf
    pose[0, 3] = 0.25
    values = v.tf.transformation_matrix_to_pose(pose)
    assert values[0] == 0.25 and all(math.isnan(angle) for angle in values[3:])


def test_distortion_coefficients_must_be_finite_and_of_a_supported_count(scene, capfd):
    robot, images, camera = scene.robot_T_tcp_list, scene.images, scene.camera_matrix
    nan_coefficients = np.array([0.1, np.nan, 0.0, 0.0, 0.0])
    inf_coefficients = np.array([np.inf, 0.0, 0.0, 0.0])
    six_coefficients = np.zeros(6)
    cases = [(nan_coefficients, "finite"), (inf_coefficients, "finite"),
             (six_coefficients, "4, 5, 8, 12 or 14 coefficients"), (np.zeros((2, 4)), "4, 5, 8, 12 or 14 coefficients")]
    for coefficients, cause in cases:
        for calibrator in (v.EyeInHandCalibrator(scene.target), v.EyeToHandCalibrator(scene.target)):
            name = type(calibrator).__name__
            with pytest.raises(ValueError, match=rf"^{name}: distortion_coefficients: distortion coefficients must "
                                                 rf"be {re.escape(cause)}"):
                calibrator.calibrate(robot, images, "TSAI", [], camera, coefficients)
        rig = v.MultiCameraCalibrator(scene.target, 2)
        with pytest.raises(ValueError, match=r"^MultiCameraCalibrator: distortion_coefficients\[1\]: distortion "
                                             rf"coefficients must be {re.escape(cause)}"):
            rig.calibrate([images[:4], images[:4]], [camera, camera], [scene.dist_coeffs, coefficients])
        calibrated = v.IntrinsicCalibrator(scene.target)
        calibrated.calibrate(images[:4])
        with pytest.raises(ValueError, match=r"^IntrinsicCalibrator::reprojectionResiduals: distortion_coefficients: "
                                             rf"distortion coefficients must be {re.escape(cause)}"):
            calibrated.reprojection_residuals(camera, coefficients)
    assert "Collected images" not in capfd.readouterr().err  # refused before any detection

    # The design's own checks keep their messages first.
    with pytest.raises(ValueError, match="must have the same length. Got 8 .robot. vs 7 .images."):
        v.EyeInHandCalibrator(scene.target).calibrate(robot, images[:7], "TSAI", [], camera, nan_coefficients)


def test_targets_with_a_bad_dimension_construct_but_are_refused_at_first_use(scene):
    images = scene.images[:3]
    marker_too_large = v.CharucoTarget(8, 6, 0.04, 0.04, "DICT_5X5_100")
    set_to_zero = v.CharucoTarget(8, 6, 0.04, 0.03, "DICT_5X5_100")
    set_to_zero.squares_x = 0
    infinite_square = v.ChessboardTarget((9, 6), math.inf)
    no_corners = v.ChessboardTarget((0, 6), 0.03)
    aruco = v.ArucoTarget((5, 4), 0.04, 0.01, "DICT_4X4_50")
    aruco.marker_length = -0.04
    cases = [(marker_too_large, r"CharucoTarget: marker_length must be smaller than square_length"),
             (set_to_zero, r"CharucoTarget: squares_x x squares_y must be at least 2 x 2, got 0 x 6"),
             (infinite_square, r"ChessboardTarget: square_size must be positive and finite, got inf"),
             (no_corners, r"ChessboardTarget: size \(inner corners\) must be at least 1 x 1, got 0 x 6"),
             (aruco, r"ArucoTarget: marker_length must be positive and finite, got -0.04")]
    for target, message in cases:
        with pytest.raises(ValueError, match=f"^{message}"):
            v.IntrinsicCalibrator(target).calibrate(images)

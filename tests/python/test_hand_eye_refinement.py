"""Joint refinement of an eye-in-hand run on a noisy rendered scene, and the check that
catches robot or camera poses given in millimetres or inverted."""

import contextlib
import io
import math

import _vemo as v
import cv2
import numpy as np
import pytest
from quorvantine.vemo.scenes import make_hand_eye_scene

PREFIX = "[vemo][WARNING] [EyeInHandCalibrator] "


@pytest.fixture(scope="module")
def scene():
    # Grey-level noise of 40 after the blur moves the corners by about 0.5 px per axis.
    target = v.CharucoTarget(8, 6, 0.04, 0.03, "DICT_5X5_100")
    return make_hand_eye_scene(target, count=15, image_size=(800, 600), distance=0.4, robot_noise_deg=0.005,
                               robot_noise_m=0.00005, image_noise=40.0, blur_sigma=0.6, seed=21)


def quiet_calibrate(calibrator, *args, **kwargs):
    with contextlib.redirect_stdout(io.StringIO()):
        return calibrator.calibrate(*args, **kwargs)


def tcp_errors(estimate, truth):
    """(translation error, mm per tcp axis; rotation error, degrees about each tcp axis)."""
    rotation_vector, _ = cv2.Rodrigues(estimate[:3, :3] @ truth[:3, :3].T)
    return 1000 * (estimate[:3, 3] - truth[:3, 3]), np.degrees(rotation_vector.ravel())


def test_refinement_of_a_noisy_rendered_run(scene):
    calibrator = v.EyeInHandCalibrator(scene.target)
    assert "Not refined." in calibrator.format_refinement()
    with pytest.raises(RuntimeError, match="no successful calibration"):
        calibrator.refine()
    result = quiet_calibrate(calibrator, scene.robot_T_tcp_list, scene.images, "TSAI", [], scene.camera_matrix,
                             scene.dist_coeffs)
    refinement = calibrator.refine()

    assert refinement.ok and refinement.iterations > 0
    closed_translation, closed_rotation = tcp_errors(result.tcp_T_camera, scene.tcp_T_camera)
    translation, rotation = tcp_errors(refinement.tcp_T_camera, scene.tcp_T_camera)
    assert np.linalg.norm(translation) < 0.6 * np.linalg.norm(closed_translation)
    assert np.linalg.norm(rotation) < np.linalg.norm(closed_rotation)
    assert np.all(np.abs(translation) <= 3 * np.array(refinement.sigma_translation_mm))
    assert np.all(np.abs(rotation) <= 3 * np.array(refinement.sigma_rotation_deg))
    rotation_deg = math.degrees(math.acos(np.clip((np.trace(
        refinement.base_T_target[:3, :3].T @ scene.robot_T_target[:3, :3]) - 1) / 2, -1, 1)))
    assert np.linalg.norm(refinement.base_T_target[:3, 3] - scene.robot_T_target[:3, 3]) < 0.001
    assert rotation_deg < 0.05
    # The noise levels put into the scene: 0.5 px corners, robot 0.05 mm and 0.005 degrees.
    assert 0.35 < refinement.image_noise_px < 0.7
    assert 0.02 < refinement.robot_noise_translation_mm < 0.1
    assert 0.002 < refinement.robot_noise_rotation_deg < 0.01
    assert len(refinement.per_capture_rms_px) == len(result.valid_robot_T_tcp_list)
    # The overall RMS is the root of the mean of the per-capture squares, weighted by corners.
    assert min(refinement.per_capture_rms_px) <= refinement.rms_after_px <= max(refinement.per_capture_rms_px)

    text = calibrator.format_refinement()
    sigma_t, sigma_r = refinement.sigma_translation_mm, refinement.sigma_rotation_deg
    assert (f"  sigma translation: x {sigma_t[0]:.4f} y {sigma_t[1]:.4f} z {sigma_t[2]:.4f} mm\n"
            f"  sigma rotation:    x {sigma_r[0]:.4f} y {sigma_r[1]:.4f} z {sigma_r[2]:.4f} deg\n") in text
    assert f"{refinement.rms_before_px:.4f} px before, {refinement.rms_after_px:.4f} px after" in text
    assert "and the robot's pose noise the captures show beyond it" in text
    with pytest.raises(AttributeError):
        refinement.rms_after_px = 0.0

    # A run on caller-given poses has no corners: nothing to refine, and the old refinement goes.
    quiet_calibrate(calibrator, scene.robot_T_tcp_list, [], "TSAI", scene.camera_T_target_list, scene.camera_matrix,
                    scene.dist_coeffs)
    with pytest.raises(RuntimeError, match="refinement needs images"):
        calibrator.refine()
    assert "Not refined." in calibrator.format_refinement()


def in_millimetres(poses):
    scaled = [pose.copy() for pose in poses]
    for pose in scaled:
        pose[:3, 3] *= 1000
    return scaled


def inverted(poses):
    return [np.linalg.inv(pose) for pose in poses]


def target_spread_mm(robot_T_tcp_list, camera_T_target_list):
    """Mean distance of the target's base-frame position from its mean, under OpenCV's TSAI solution."""
    rotation, translation = cv2.calibrateHandEye([p[:3, :3] for p in robot_T_tcp_list],
                                                 [p[:3, 3] for p in robot_T_tcp_list],
                                                 [p[:3, :3] for p in camera_T_target_list],
                                                 [p[:3, 3] for p in camera_T_target_list])
    tcp_T_camera = np.eye(4)
    tcp_T_camera[:3, :3], tcp_T_camera[:3, 3] = rotation, translation.ravel()
    positions = np.array([(r @ tcp_T_camera @ c)[:3, 3] for r, c in zip(robot_T_tcp_list, camera_T_target_list)])
    return 1000 * np.mean(np.linalg.norm(positions - positions.mean(axis=0), axis=1))


def millimetres(value_mm):
    return f"{value_mm:.1f} mm" if value_mm < 100 else f"{value_mm:.0f} mm"


def test_poses_in_the_wrong_unit_or_inverted_are_named(scene, capfd):
    calibrator = v.EyeInHandCalibrator(scene.target)
    # Camera poses as PnP gives them on the noisy images: the check sees measured data.
    measured = calibrator.compute_camera_T_target_list(scene.images, scene.robot_T_tcp_list, scene.camera_matrix,
                                                       scene.dist_coeffs)
    robot, camera = measured.valid_robot_T_tcp_list, measured.camera_T_target_list

    def warnings_of(robot_T_tcp_list, camera_T_target_list, method="TSAI"):
        capfd.readouterr()
        result = quiet_calibrate(calibrator, robot_T_tcp_list, [], method, camera_T_target_list, scene.camera_matrix,
                                 scene.dist_coeffs)
        assert result.ok
        return [line for line in capfd.readouterr().err.splitlines() if line.startswith("[vemo][WARNING]")]

    assert warnings_of(robot, camera) == []
    # ANDREFF throws under the inverted readings: that is no fit, not a failed run.
    assert warnings_of(robot, camera, "ANDREFF") == []
    # Poses no reading explains (robot poses paired with the wrong images) stay silent too.
    assert warnings_of(robot[::-1], camera) == []

    [robot_millimetres] = warnings_of(in_millimetres(robot), camera)
    assert robot_millimetres.startswith(PREFIX + "robot translations look like millimetres (metres expected): the "
                                                 "robot and camera motions agree to ")
    [camera_millimetres] = warnings_of(robot, in_millimetres(camera))
    assert camera_millimetres.startswith(PREFIX + "camera_T_target translations look like millimetres")

    [robot_inverted] = warnings_of(inverted(robot), camera)
    assert robot_inverted == (
        PREFIX + "robot poses look inverted (flange_T_base given instead of base_T_flange): the target's position "
                 f"agrees to {millimetres(target_spread_mm(robot, camera))} with them inverted, "
                 f"{millimetres(target_spread_mm(inverted(robot), camera))} as given")
    [camera_inverted] = warnings_of(robot, inverted(camera))
    assert camera_inverted.startswith(
        PREFIX + "camera poses look inverted (target_T_camera given instead of camera_T_target): the target's "
                 "position agrees to ")


def test_sigma_with_the_intrinsics_error_covers_a_run_that_calibrated_them():
    # The path most users take: intrinsics calibrated from the same 12 images, then refined
    # with them held fixed. The plain sigma leaves their error out; the other covers it.
    target = v.CharucoTarget(8, 6, 0.04, 0.03, "DICT_5X5_100")
    beyond_plain, beyond_with = 0, 0
    for seed in range(4):
        scene = make_hand_eye_scene(target, count=12, image_size=(800, 600), distance=0.4, seed=70 + seed,
                                    image_noise=4.0, robot_noise_m=0.00005, robot_noise_deg=0.005)
        calibrator = v.EyeInHandCalibrator(target)
        quiet_calibrate(calibrator, scene.robot_T_tcp_list, scene.images, "PARK")
        fixed = calibrator.refine()
        error, _ = tcp_errors(fixed.tcp_T_camera, scene.tcp_T_camera)
        assert np.all(np.array(fixed.sigma_with_intrinsics_translation_mm) > np.array(fixed.sigma_translation_mm))
        beyond_plain += np.any(np.abs(error) > 3 * np.array(fixed.sigma_translation_mm))
        beyond_with += np.any(np.abs(error) > 3 * np.array(fixed.sigma_with_intrinsics_translation_mm))
        # The fit trades the robot's pose errors against the corners: with them applied, its
        # residual is lower than at the poses as given, which the text says beside it.
        assert fixed.rms_with_pose_errors_px < fixed.rms_after_px
        assert (f"  The RMS the fit minimised, with the robot pose errors it estimated applied: "
                f"{fixed.rms_with_pose_errors_px:.4f} px (the two above are at the robot poses as given)\n"
                in calibrator.format_refinement())
        joint = calibrator.refine(refine_intrinsics=True)
        assert joint.sigma_with_intrinsics_translation_mm == joint.sigma_translation_mm
        assert "With the intrinsics' own error" not in calibrator.format_refinement()
    assert beyond_plain >= 2 and beyond_with == 0


def test_refinement_at_noise_scale_takes_its_huber_scale_from_the_corners():
    # Exact robot poses and the true lens: the first fit's corner residuals are then the
    # detector's own errors, whose robust spread the test measures against the truth.
    target = v.CharucoTarget(8, 6, 0.04, 0.03, "DICT_5X5_100")
    scene = make_hand_eye_scene(target, count=12, image_size=(800, 600), distance=0.4, image_noise=40.0,
                                blur_sigma=0.6, robot_noise_deg=0.0, robot_noise_m=0.0, seed=104)
    calibrator = v.EyeInHandCalibrator(target)
    quiet_calibrate(calibrator, scene.robot_T_tcp_list, scene.images, "TSAI", [], scene.camera_matrix,
                    scene.dist_coeffs)
    detections = v.IntrinsicCalibrator(target).find_corners(scene.images)
    residuals = []
    for index, points, pixels in zip(detections.successful_indices, detections.object_points,
                                     detections.image_points):
        camera_T_target = scene.camera_T_target_list[index]
        projected, _ = cv2.projectPoints(np.asarray(points, float).reshape(-1, 3),
                                         cv2.Rodrigues(camera_T_target[:3, :3])[0], camera_T_target[:3, 3],
                                         scene.camera_matrix, scene.dist_coeffs)
        residuals.append(np.asarray(pixels, float).reshape(-1, 2) - projected.reshape(-1, 2))
    components = np.vstack(residuals).ravel()
    core = 1.4826 * np.median(np.abs(components))
    assert components.std() > 2 * core  # heavy tails: a few corners pixels off

    given = calibrator.refine()
    assert given.loss_scale_px == 1.0 and math.isnan(given.loss_scale_corner_noise_px)
    assert math.isnan(given.redescending_scale_px)
    assert "Loss scale chosen from the data" not in calibrator.format_refinement()

    scaled = calibrator.refine_at_noise_scale()
    assert scaled.ok
    assert 0.85 * core < scaled.loss_scale_corner_noise_px < 1.15 * core
    assert scaled.loss_scale_px == pytest.approx(1.345 * scaled.loss_scale_corner_noise_px, rel=1e-12)
    assert scaled.redescending_scale_px == pytest.approx(4.685 * scaled.loss_scale_corner_noise_px, rel=1e-12)
    text = calibrator.format_refinement()
    assert (f"(Tukey's biweight, scale {scaled.redescending_scale_px:.4f} px, from a Huber fit at scale "
            f"{scaled.loss_scale_px:.4f} px; intrinsics held fixed)") in text
    assert (f"  Loss scale chosen from the data: 1.3450 x the corners' robust noise (1.4826 MAD per axis after a "
            f"first fit) of {scaled.loss_scale_corner_noise_px:.4f} px\n"
            f"  Then Tukey's biweight at 4.6850 x that noise: corners further off than its scale have no pull, nor "
            f"any share in the noise\n") in text
    translation, rotation = tcp_errors(scaled.tcp_T_camera, scene.tcp_T_camera)
    assert np.linalg.norm(translation) < 1.0 and np.linalg.norm(rotation) < 0.1
    assert np.all(np.abs(translation) <= 3 * np.array(scaled.sigma_translation_mm))
    assert np.all(np.abs(rotation) <= 3 * np.array(scaled.sigma_rotation_deg))

    joint = calibrator.refine_at_noise_scale(refine_intrinsics=True)
    assert joint.ok and joint.loss_scale_px == pytest.approx(1.345 * joint.loss_scale_corner_noise_px, rel=1e-12)
    assert np.linalg.norm(tcp_errors(joint.tcp_T_camera, scene.tcp_T_camera)[0]) < 1.5

"""TSAI, HORAUD and DANIILIDIS give what OpenCV's corrected solvers give (the cv2 wheel's
OpenCV, 4.11 or later), also on the poses where OpenCV 4.6 and 4.10 go wrong: flange
rotations wider than +-45 degrees, eye-to-hand cells, captures turned by nearly 180 degrees."""

import _vemo as v
import cv2
import numpy as np
import pytest
from quorvantine.vemo.scenes import make_eye_to_hand_scene, make_hand_eye_scene, pose_error
from quorvantine.vemo.scenes.hand_eye import perturbed

CORRECTED = {"TSAI": cv2.CALIB_HAND_EYE_TSAI, "HORAUD": cv2.CALIB_HAND_EYE_HORAUD,
             "DANIILIDIS": cv2.CALIB_HAND_EYE_DANIILIDIS}
TARGET = v.CharucoTarget(8, 6, 0.04, 0.03, "DICT_5X5_100")
# Only the poses are solved: small images keep the rendering quick.
SMALL = dict(count=12, image_size=(320, 240), seed=5)


def oracle_solution(robot_T_tcp_list, camera_T_target_list, method):
    """tcp_T_camera by the cv2 wheel's calibrateHandEye."""
    rotation, translation = cv2.calibrateHandEye([p[:3, :3] for p in robot_T_tcp_list],
                                                 [p[:3, 3] for p in robot_T_tcp_list],
                                                 [p[:3, :3] for p in camera_T_target_list],
                                                 [p[:3, 3] for p in camera_T_target_list], method=CORRECTED[method])
    solution = np.eye(4)
    solution[:3, :3], solution[:3, 3] = rotation, translation.ravel()
    return solution


def relative_difference(estimate, reference):
    """The larger of the rotation blocks' and the translations' relative differences."""
    return max(np.linalg.norm(estimate[:3, :3] - reference[:3, :3]) / np.linalg.norm(reference[:3, :3]),
               np.linalg.norm(estimate[:3, 3] - reference[:3, 3]) / np.linalg.norm(reference[:3, 3]))


def largest_motion_deg(poses):
    """The widest rotation between two of the poses, degrees."""
    return max(pose_error(a, b)[0] for i, a in enumerate(poses) for b in poses[i + 1:])


def with_half_turned_partners(scene, rng, noisy):
    """The scene's captures and, for three of them, the camera turned by 179 degrees about its
    optical axis at the same place: pairs whose motion is nearly a half turn."""
    robots, cameras = list(scene.robot_T_tcp_list), list(scene.camera_T_target_list)
    half_turn = v.tf.pose_to_transformation_matrix([0, 0, 0, 0, 0, 179.0])
    for k in (0, 4, 8):
        camera_T_target = half_turn @ scene.camera_T_target_list[k]
        robot_T_tcp = scene.robot_T_target @ np.linalg.inv(camera_T_target) @ np.linalg.inv(scene.tcp_T_camera)
        cameras.append(camera_T_target)
        robots.append(perturbed(robot_T_tcp, rng, 0.01, 0.0001) if noisy else robot_T_tcp)
    return robots, cameras


@pytest.mark.parametrize("noisy", [False, True], ids=["exact", "noisy"])
@pytest.mark.parametrize("cell", ["wide eye-in-hand", "eye-to-hand", "half turns"])
def test_corrected_solvers_equal_the_cv2_wheel_where_old_opencv_fails(cell, noisy):
    noise = {} if noisy else dict(robot_noise_deg=0.0, robot_noise_m=0.0)
    if cell == "eye-to-hand":
        scene = make_eye_to_hand_scene(TARGET, roll_range_deg=120.0, **SMALL, **noise)
        truth = scene.base_T_camera
        # The eye-to-hand run solves the eye-in-hand equations with the flange poses inverted.
        robots, cameras = [np.linalg.inv(p) for p in scene.robot_T_tcp_list], scene.camera_T_target_list

        def solve(method):
            return v.EyeToHandCalibrator(TARGET).calibrate(scene.robot_T_tcp_list, [], method, cameras,
                                                           scene.camera_matrix, scene.dist_coeffs).base_T_camera
    else:
        scene = make_hand_eye_scene(TARGET, roll_range_deg=180.0 if cell == "wide eye-in-hand" else 45.0,
                                    **SMALL, **noise)
        truth = scene.tcp_T_camera
        robots, cameras = scene.robot_T_tcp_list, scene.camera_T_target_list
        if cell == "half turns":
            robots, cameras = with_half_turned_partners(scene, np.random.default_rng(11), noisy)

        def solve(method):
            return v.EyeInHandCalibrator(TARGET).calibrate(robots, [], method, cameras, scene.camera_matrix,
                                                           scene.dist_coeffs).tcp_T_camera

    # Motions of more than 120 degrees: where the old quaternion conversion loses the sign.
    assert largest_motion_deg(cameras) > 150.0
    for method in CORRECTED:
        solution = solve(method)
        assert relative_difference(solution, oracle_solution(robots, cameras, method)) < (1e-6 if noisy else 1e-9)
        rotation_deg, translation_m = pose_error(solution, truth)
        # An angle read through acos near 1 resolves no finer than about 1e-6 degrees.
        assert rotation_deg < (0.1 if noisy else 1e-5) and translation_m < (0.001 if noisy else 1e-9)


def test_tsai_with_no_informative_motion_is_a_failed_run_not_the_identity(capfd):
    """Four captures turned by at most 7 degrees from one another: Tsai-Lenz keeps no motion."""
    scene = make_hand_eye_scene(TARGET, **SMALL)
    cameras = [v.tf.pose_to_transformation_matrix([0, 0, 0, *turn]) @ scene.camera_T_target_list[0]
               for turn in ([0, 0, 0], [5, 0, 0], [0, 5, 0], [0, 0, 5])]
    robots = [scene.robot_T_target @ np.linalg.inv(c) @ np.linalg.inv(scene.tcp_T_camera) for c in cameras]
    assert largest_motion_deg(cameras) < 8.0
    np.testing.assert_array_equal(oracle_solution(robots, cameras, "TSAI"), np.eye(4))  # what the wheel gives

    capfd.readouterr()
    result = v.EyeInHandCalibrator(TARGET).calibrate(robots, [], "TSAI", cameras, scene.camera_matrix,
                                                     scene.dist_coeffs)
    assert not result.ok and result.tcp_T_camera.shape == (0, 0)
    assert ("[vemo][ERROR] [EyeInHandCalibrator] TSAI needs at least 2 motions between captures that turn the "
            "flange and the camera by 17 to 116 degrees: include larger rotations, or choose another method.\n"
            in capfd.readouterr().err)
    # The other solvers have no such limit.
    park = v.EyeInHandCalibrator(TARGET).calibrate(robots, [], "PARK", cameras, scene.camera_matrix,
                                                   scene.dist_coeffs)
    assert park.ok and pose_error(park.tcp_T_camera, scene.tcp_T_camera)[1] < 1e-9

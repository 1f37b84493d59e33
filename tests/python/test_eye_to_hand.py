"""Eye-to-hand calibration on rendered scenes: a fixed camera at a known base_T_camera and a
target on the flange at a known tcp_T_target."""

import json
import math

import _vemo as v
import numpy as np
import pytest
from quorvantine.vemo.scenes import make_eye_to_hand_scene, pose_error

RULE = "=" * 60
ACCURATE_METHODS = ["TSAI", "PARK", "HORAUD", "DANIILIDIS"]


@pytest.fixture(scope="module")
def scene():
    target = v.CharucoTarget(8, 6, 0.04, 0.03, "DICT_5X5_100")
    return make_eye_to_hand_scene(target, count=16, image_size=(800, 600), distance=0.45, seed=3)


@pytest.fixture(scope="module")
def runs(scene):
    """Each input path run once per accurate method: {(path, method): EyeToHandResult}."""
    calibrator = v.EyeToHandCalibrator(scene.target)
    results = {}
    for method in ACCURATE_METHODS:
        results["poses", method] = calibrator.calibrate(scene.robot_T_tcp_list, scene.images, method,
                                                        scene.camera_T_target_list, scene.camera_matrix,
                                                        scene.dist_coeffs)
        results["redetect", method] = calibrator.calibrate(scene.robot_T_tcp_list, scene.images, method, [],
                                                           scene.camera_matrix, scene.dist_coeffs)
        results["intrinsic", method] = calibrator.calibrate(scene.robot_T_tcp_list, scene.images, method)
    results["corner images"] = calibrator.corner_images()  # of the last run's intrinsic calibration
    return results


@pytest.mark.parametrize("path", ["poses", "redetect", "intrinsic"])
@pytest.mark.parametrize("method", ACCURATE_METHODS)
def test_recovers_base_T_camera_and_tcp_T_target_on_every_input_path(scene, runs, path, method):
    result = runs[path, method]
    assert result.ok
    for estimate, truth in ((result.base_T_camera, scene.base_T_camera), (result.tcp_T_target, scene.tcp_T_target)):
        rotation_deg, translation_m = pose_error(estimate, truth)
        assert rotation_deg < 0.2 and translation_m < 0.002
    assert len(result.camera_T_target_list) == len(result.valid_image_list) == len(result.valid_robot_T_tcp_list) == 16
    # the kept flange poses are the caller's, not the inverted ones the solve ran on
    np.testing.assert_allclose(result.valid_robot_T_tcp_list, scene.robot_T_tcp_list, atol=1e-12)
    if path == "intrinsic":
        assert 0 < result.reprojection_error < 0.5
        assert [image.shape for image in runs["corner images"]] == [(600, 800, 3)] * 16
    else:
        assert math.isnan(result.reprojection_error)


def test_consistency_measures_each_captures_tcp_T_target(runs):
    result = runs["redetect", "PARK"]
    chains = [np.linalg.inv(r) @ result.base_T_camera @ c
              for r, c in zip(result.valid_robot_T_tcp_list, result.camera_T_target_list)]
    U, _, Vt = np.linalg.svd(sum(chain[:3, :3] for chain in chains))
    mean_rotation, mean_translation = U @ Vt, np.mean([chain[:3, 3] for chain in chains], axis=0)
    np.testing.assert_allclose(result.tcp_T_target[:3, :3], mean_rotation, atol=1e-9)
    np.testing.assert_allclose(result.tcp_T_target[:3, 3], mean_translation, atol=1e-9)
    stats = result.consistency
    translations = [np.linalg.norm(chain[:3, 3] - mean_translation) for chain in chains]
    rotations = [math.degrees(math.acos(np.clip((np.trace(chain[:3, :3].T @ mean_rotation) - 1) / 2, -1, 1)))
                 for chain in chains]
    np.testing.assert_allclose(stats.translation_deviations_m, translations, rtol=1e-6, atol=1e-9)
    np.testing.assert_allclose(stats.rotation_deviations_deg, rotations, atol=1e-5)
    assert stats.max_translation_m == pytest.approx(max(translations), rel=1e-6)
    assert stats.mean_rotation_deg == pytest.approx(np.mean(rotations), abs=1e-5)
    assert stats.max_translation_m < 0.002 and stats.max_rotation_deg < 0.2
    np.testing.assert_allclose(stats.distances_m, [np.linalg.norm(c[:3, 3]) for c in result.camera_T_target_list])


def test_report_and_saved_record(scene, tmp_path, capsys):
    calibrator = v.EyeToHandCalibrator(scene.target)
    assert calibrator.format_results() == f"\n{RULE}\nEYE-TO-HAND RESULTS\n{RULE}\nCalibration failed.\n"

    result = calibrator.calibrate(scene.robot_T_tcp_list, scene.images, "HORAUD", scene.camera_T_target_list,
                                  scene.camera_matrix, scene.dist_coeffs, output_path=tmp_path)
    report = calibrator.format_results()
    assert capsys.readouterr().out == report
    lines = report.split("\n")
    assert lines[5] == "Camera in Robot Base (Base -> Camera):"
    poses = [i for i, line in enumerate(lines) if line == "Pose [x, y, z, rx, ry, rz] (deg):"]
    for index, matrix in zip(poses, (result.base_T_camera, result.tcp_T_target)):
        pose = v.tf.transformation_matrix_to_pose(matrix)
        assert lines[index + 1] == "  [" + ", ".join(f"{x:g}" for x in pose) + "]"
    assert "Target on Flange (TCP -> Target):" in lines and "Reprojection Error: n/a" in lines
    variety = v.diagnostics.format_rotation_variety(v.diagnostics.analyze_rotation_variety(result.camera_T_target_list))
    assert report.endswith("\n" + variety)

    text = (tmp_path / "eye_to_hand.json").read_text()
    saved = json.loads(text)
    assert list(saved) == ["base_T_camera", "method", "num_frames_total", "num_frames_used", "tcp_T_target"]
    assert (saved["method"], saved["num_frames_total"], saved["num_frames_used"]) == ("HORAUD", 16, 16)
    np.testing.assert_array_equal(saved["base_T_camera"], result.base_T_camera)
    loaded = v.io.load_eye_to_hand_result(tmp_path)
    np.testing.assert_array_equal(loaded.tcp_T_target, result.tcp_T_target)
    record = v.io.EyeToHandResultRecord()
    record.base_T_camera = np.eye(4)
    written = v.io.save_eye_to_hand_result(tmp_path / "bare.json", record)
    assert json.loads(written.read_text()) == {"base_T_camera": np.eye(4).tolist(), "method": None,
                                               "num_frames_total": None, "num_frames_used": None,
                                               "tcp_T_target": None}


def test_bad_input_and_too_few_captures(scene, capfd):
    calibrator = v.EyeToHandCalibrator(scene.target)
    good = calibrator.calibrate(scene.robot_T_tcp_list, [], "TSAI", scene.camera_T_target_list)
    capfd.readouterr()
    with pytest.raises(ValueError, match=r"^EyeToHandCalibrator: robot_T_tcp_list must be pre-aligned to "
                                         r"camera_T_target_list. Got 6 \(robot\) vs 5 \(camera\). Filter "):
        calibrator.calibrate(scene.robot_T_tcp_list[:6], [], "TSAI", scene.camera_T_target_list[:5])
    with pytest.raises(ValueError, match=r"^EyeToHandCalibrator: robot_T_tcp_list and image_list must have the same "
                                         r"length. Got 5 \(robot\) vs 6 \(images\).$"):
        calibrator.calibrate(scene.robot_T_tcp_list[:5], scene.images[:6])
    with pytest.raises(ValueError, match=r"^EyeToHandCalibrator: robot_T_tcp_list\[1\] must be a finite 4x4"):
        calibrator.calibrate([np.eye(4), np.zeros((4, 4))], [], "TSAI", [np.eye(4), np.eye(4)])
    with pytest.raises(ValueError, match=r"^EyeToHandCalibrator: camera_T_target_list\[0\] "):
        calibrator.calibrate([np.eye(4)], [], "TSAI", [np.diag([2.0, 2.0, 2.0, 1.0])])
    with pytest.raises(ValueError, match=r"^EyeToHandCalibrator: intrinsic_matrix must be a finite 3x3"):
        calibrator.calibrate(scene.robot_T_tcp_list, scene.images, "TSAI", [], np.eye(3)[:2], scene.dist_coeffs)
    with pytest.raises(ValueError, match="^Unknown hand-eye method 'park'$"):
        calibrator.calibrate(scene.robot_T_tcp_list, [], "park", scene.camera_T_target_list)
    with pytest.raises(ValueError, match="^EyeToHandCalibrator: re-detecting target poses with a given "
                                         "intrinsic_matrix needs a CharucoTarget$"):
        v.EyeToHandCalibrator(v.ChessboardTarget((9, 6), 0.03)).calibrate(
            scene.robot_T_tcp_list, scene.images, "TSAI", [], scene.camera_matrix, scene.dist_coeffs)

    few = calibrator.calibrate(scene.robot_T_tcp_list[:3], [], "TSAI", scene.camera_T_target_list[:3])
    assert not few.ok and few.base_T_camera.shape == (0, 0) and len(few.valid_robot_T_tcp_list) == 3
    err = capfd.readouterr().err
    assert "[vemo][ERROR] Not enough valid poses for hand-eye calibration after filtering. Got 3" in err
    np.testing.assert_array_equal(calibrator.last_result().base_T_camera, good.base_T_camera)

    shifted = [scene.camera_T_target_list[0] + np.pad(np.array([[0.01 * k], [0.0], [0.0]]), ((0, 1), (3, 0)))
               for k in range(5)]
    assert not calibrator.calibrate([np.eye(4)] * 5, [], "TSAI", shifted).ok
    err = capfd.readouterr().err
    assert "[vemo][WARNING] [EyeToHandCalibrator] All camera poses have identical orientation!" in err
    assert ("[vemo][ERROR] [EyeToHandCalibrator] The robot must rotate between captures, about at least two different "
            "axes: the flange motions of the robot poses given do not, so base_T_camera cannot be solved.") in err

    # A misread unit is named under the class the caller called.
    millimetres = [np.vstack([np.hstack([r[:3, :3], 1000 * r[:3, 3:]]), r[3:]]) for r in scene.robot_T_tcp_list]
    assert calibrator.calibrate(millimetres, [], "TSAI", scene.camera_T_target_list).ok
    assert ("[vemo][WARNING] [EyeToHandCalibrator] robot translations look like millimetres (metres expected)"
            in capfd.readouterr().err)


def test_refinement_recovers_both_transforms_within_their_sigma(scene, tmp_path, capsys):
    calibrator = v.EyeToHandCalibrator(scene.target)
    with pytest.raises(RuntimeError, match="^EyeToHandCalibrator::refine: there is no successful calibration"):
        calibrator.refine()
    closed = calibrator.calibrate(scene.robot_T_tcp_list, scene.images, "PARK", [], scene.camera_matrix,
                                  scene.dist_coeffs)
    refined = calibrator.refine()
    assert refined.ok and refined.converged
    # The robot's noise as rendered: 0.1 mm and 0.01 deg per axis.
    assert 0.05 < refined.robot_noise_translation_mm < 0.2 and 0.005 < refined.robot_noise_rotation_deg < 0.02
    for estimate, truth, sigma in [(refined.base_T_camera, scene.base_T_camera, refined.sigma_translation_mm),
                                   (refined.tcp_T_target, scene.tcp_T_target, refined.sigma_target_translation_mm)]:
        error_mm = 1000 * (estimate[:3, 3] - truth[:3, 3])
        assert np.all(np.abs(error_mm) < 4 * np.array(sigma)), (error_mm, sigma)
    closed_mm = 1000 * pose_error(closed.base_T_camera, scene.base_T_camera)[1]
    assert 1000 * pose_error(refined.base_T_camera, scene.base_T_camera)[1] < max(1.5 * closed_mm, 0.2)

    text = calibrator.format_refinement()
    assert text.startswith(f"\n{RULE}\nEYE-TO-HAND REFINEMENT\n{RULE}\n\nJoint reprojection fit of base_T_camera "
                           "and tcp_T_target (Huber loss, scale 1.0000 px; intrinsics held fixed)\n")
    assert "\nRefined Camera Pose (Base -> Camera):\n" in text
    sigma = refined.sigma_target_translation_mm
    assert (f"\nUncertainty of tcp_T_target (1 sigma, flange frame):\n  sigma translation: x {sigma[0]:.4f} "
            f"y {sigma[1]:.4f} z {sigma[2]:.4f} mm\n") in text

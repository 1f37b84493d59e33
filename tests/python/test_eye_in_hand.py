"""Eye-in-hand calibration on rendered scenes with a known camera-on-flange transform."""

import json
import math

import _vemo as v
import numpy as np
import pytest
from quorvantine.vemo.scenes import make_hand_eye_scene, pose_error

RULE = "=" * 60
ACCURATE_METHODS = ["TSAI", "PARK", "HORAUD", "DANIILIDIS"]


@pytest.fixture(scope="module")
def scene():
    target = v.CharucoTarget(8, 6, 0.04, 0.03, "DICT_5X5_100")
    return make_hand_eye_scene(target, count=16, image_size=(800, 600), distance=0.4, seed=11)


@pytest.fixture(scope="module")
def runs(scene):
    """Each input path run once per accurate method: {(path, method): HandEyeResult}."""
    calibrator = v.EyeInHandCalibrator(scene.target)
    results = {}
    for method in ACCURATE_METHODS:
        results["poses", method] = calibrator.calibrate(scene.robot_T_tcp_list, scene.images, method,
                                                        scene.camera_T_target_list, scene.camera_matrix,
                                                        scene.dist_coeffs)
        results["redetect", method] = calibrator.calibrate(scene.robot_T_tcp_list, scene.images, method, [],
                                                           scene.camera_matrix, scene.dist_coeffs)
        results["intrinsic", method] = calibrator.calibrate(scene.robot_T_tcp_list, scene.images, method)
    return results


def project(point, camera_T_target, camera_matrix, dist):
    """OpenCV's pinhole model with k1 k2 p1 p2 k3, written out."""
    X, Y, Z = (camera_T_target @ np.append(point, 1.0))[:3]
    x, y = X / Z, Y / Z
    k1, k2, p1, p2, k3 = np.ravel(dist)[:5]
    r2 = x * x + y * y
    radial = 1 + k1 * r2 + k2 * r2 ** 2 + k3 * r2 ** 3
    xd = x * radial + 2 * p1 * x * y + p2 * (r2 + 2 * x * x)
    yd = y * radial + p1 * (r2 + 2 * y * y) + 2 * p2 * x * y
    return camera_matrix[0, 0] * xd + camera_matrix[0, 2], camera_matrix[1, 1] * yd + camera_matrix[1, 2]


def test_method_table():
    assert v.hand_eye_method_by_name_map() == {"TSAI": 0, "PARK": 1, "HORAUD": 2, "ANDREFF": 3, "DANIILIDIS": 4}
    assert list(v.hand_eye_method_by_name_map()) == ["ANDREFF", "DANIILIDIS", "HORAUD", "PARK", "TSAI"]


@pytest.mark.parametrize("path", ["poses", "redetect", "intrinsic"])
@pytest.mark.parametrize("method", ACCURATE_METHODS)
def test_recovers_tcp_T_camera_on_every_input_path(scene, runs, path, method):
    result = runs[path, method]
    assert result.ok
    rotation_deg, translation_m = pose_error(result.tcp_T_camera, scene.tcp_T_camera)
    assert rotation_deg < 0.2 and translation_m < 0.002
    assert len(result.camera_T_target_list) == len(result.valid_image_list) == len(result.valid_robot_T_tcp_list) == 16
    if path == "intrinsic":
        assert 0 < result.reprojection_error < 0.5
        np.testing.assert_allclose(result.intrinsic_matrix, scene.camera_matrix, rtol=0.005, atol=2.0)
    else:
        assert math.isnan(result.reprojection_error)
        np.testing.assert_array_equal(result.intrinsic_matrix, scene.camera_matrix)


def test_consistency_statistics_against_numpy(scene, runs):
    result = runs["redetect", "TSAI"]
    stats = result.consistency
    assert result.has_consistency
    world = [r @ result.tcp_T_camera @ c for r, c in zip(result.valid_robot_T_tcp_list, result.camera_T_target_list)]
    U, _, Vt = np.linalg.svd(sum(w[:3, :3] for w in world))
    mean_rotation, mean_translation = U @ Vt, np.mean([w[:3, 3] for w in world], axis=0)
    translations = [np.linalg.norm(w[:3, 3] - mean_translation) for w in world]
    rotations = [math.degrees(math.acos(np.clip((np.trace(w[:3, :3].T @ mean_rotation) - 1) / 2, -1, 1)))
                 for w in world]
    np.testing.assert_allclose(stats.translation_deviations_m, translations, rtol=1e-9, atol=1e-12)
    np.testing.assert_allclose(stats.rotation_deviations_deg, rotations, rtol=1e-6, atol=1e-6)
    assert stats.mean_translation_m == pytest.approx(np.mean(translations))
    assert stats.max_translation_m == pytest.approx(max(translations))
    assert stats.mean_rotation_deg == pytest.approx(np.mean(rotations), abs=1e-6)
    assert stats.max_rotation_deg == pytest.approx(max(rotations), abs=1e-6)
    # the chain closes to well under a millimetre on this data
    assert stats.max_translation_m < 0.001 and stats.max_rotation_deg < 0.1

    np.testing.assert_allclose(stats.distances_m, [np.linalg.norm(c[:3, 3]) for c in result.camera_T_target_list])
    centre = np.array([8 * 0.04 / 2, 6 * 0.04 / 2, 0.0])
    expected = [project(centre, c, scene.camera_matrix, scene.dist_coeffs) for c in result.camera_T_target_list]
    np.testing.assert_allclose(stats.board_us, [u for u, _ in expected], atol=1e-3)
    np.testing.assert_allclose(stats.board_vs, [v_ for _, v_ in expected], atol=1e-3)


def test_report_before_and_after_a_run(scene, capsys):
    calibrator = v.EyeInHandCalibrator(scene.target)
    assert calibrator.format_results() == f"\n{RULE}\nHAND-EYE RESULTS\n{RULE}\nCalibration failed.\n"
    calibrator.print_results()
    assert capsys.readouterr().out == calibrator.format_results()

    result = calibrator.calibrate(scene.robot_T_tcp_list, scene.images, "PARK")
    printed = capsys.readouterr().out
    report = calibrator.format_results()
    assert printed == report
    lines = report.split("\n")
    pose = v.tf.transformation_matrix_to_pose(result.tcp_T_camera)
    assert lines[lines.index("Pose [x, y, z, rx, ry, rz] (deg):") + 1] == "  [" + ", ".join(f"{x:g}" for x in pose) + "]"
    assert f"Reprojection Error: {result.reprojection_error:.4f} px" in lines
    c = result.consistency
    assert (f"  Translation - mean: {1000 * c.mean_translation_m:.4f} mm   max: {1000 * c.max_translation_m:.4f} mm"
            in lines)
    assert f"  Rotation    - mean: {c.mean_rotation_deg:.4f} deg   max: {c.max_rotation_deg:.4f} deg" in lines
    frame = (f"  Frame 3: trans={1000 * c.translation_deviations_m[3]:.4f}mm rot={c.rotation_deviations_deg[3]:.4f}deg "
             f"dist={1000 * c.distances_m[3]:.4f}mm center=({c.board_us[3]:.4f}, {c.board_vs[3]:.4f})")
    assert frame in lines
    variety = v.diagnostics.format_rotation_variety(v.diagnostics.analyze_rotation_variety(result.camera_T_target_list))
    assert report.endswith("\n" + variety)
    assert lines[5] == "Hand-Eye Transform (TCP -> Camera):"


def test_given_poses_without_camera_matrix(scene, capsys):
    calibrator = v.EyeInHandCalibrator(scene.target)
    result = calibrator.calibrate(scene.robot_T_tcp_list, [], "TSAI", scene.camera_T_target_list)
    assert result.ok and result.intrinsic_matrix.shape == (0, 0)
    assert all(math.isnan(x) for x in result.consistency.board_us + result.consistency.board_vs)
    report = capsys.readouterr().out
    assert "Reprojection Error: n/a\n" in report
    c = result.consistency
    assert f"  Translation - mean: {1000 * c.mean_translation_m:g} mm   max: {1000 * c.max_translation_m:g} mm\n" in report
    assert "center=(nan, nan)\n" in report


def test_failure_paths_leave_the_last_result(scene, capfd):
    calibrator = v.EyeInHandCalibrator(scene.target)
    good = calibrator.calibrate(scene.robot_T_tcp_list, scene.images, "TSAI", scene.camera_T_target_list)
    capfd.readouterr()

    with pytest.raises(ValueError, match="^Unknown hand-eye method 'tsai'$"):
        calibrator.calibrate(scene.robot_T_tcp_list, scene.images, "tsai")
    with pytest.raises(ValueError, match=r"^EyeInHandCalibrator: robot_T_tcp_list must be pre-aligned to "
                                         r"camera_T_target_list. Got 6 \(robot\) vs 5 \(camera\). Filter "):
        calibrator.calibrate(scene.robot_T_tcp_list[:6], [], "TSAI", scene.camera_T_target_list[:5])
    with pytest.raises(ValueError, match=r"robot_T_tcp_list and image_list must have the same length"):
        calibrator.calibrate(scene.robot_T_tcp_list[:5], scene.images[:6])
    with pytest.raises(ValueError, match="robot_T_tcp_list\\[1\\] must be a finite 4x4 matrix"):
        calibrator.calibrate([np.eye(4), np.full((4, 4), np.nan)], [], "TSAI", [np.eye(4), np.eye(4)])
    assert "ERROR" not in capfd.readouterr().err

    few = calibrator.calibrate(scene.robot_T_tcp_list[:3], [], "TSAI", scene.camera_T_target_list[:3])
    assert not few.ok and len(few.valid_robot_T_tcp_list) == 3
    assert ("[vemo][ERROR] Not enough valid poses for hand-eye calibration after filtering. Got 3, need at least 4.\n"
            in capfd.readouterr().err)
    four = v.EyeInHandCalibrator(scene.target).calibrate(scene.robot_T_tcp_list[:4], [], "TSAI",
                                                         scene.camera_T_target_list[:4])
    assert four.ok

    blank = [np.full_like(scene.images[0], 128)] * 5
    redetected = calibrator.calibrate(scene.robot_T_tcp_list[:5], blank, "TSAI", [], scene.camera_matrix)
    err = capfd.readouterr().err
    assert not redetected.ok and redetected.valid_image_list == []
    assert "[vemo][WARNING] frame 0: ChArUco detection failed  -  skipping\n" in err
    assert "[vemo][INFO] compute_camera_T_target_list: 0/5 frames passed\n" in err
    assert "[vemo][ERROR] Only 0 valid frames after solvePnP  -  need at least 4.\n" in err

    intrinsic = calibrator.calibrate(scene.robot_T_tcp_list[:5], blank)
    assert not intrinsic.ok
    assert "[vemo][ERROR] Not enough valid images for extrinsic calibration. Need at least 4!\n" in capfd.readouterr().err

    np.testing.assert_array_equal(calibrator.last_result().tcp_T_camera, good.tcp_T_camera)
    assert len(calibrator.last_result().camera_T_target_list) == 16


def test_identical_orientations_warn_but_solve(scene, capfd):
    camera_T_target = scene.camera_T_target_list[0]
    shifted = []
    for k in range(5):
        pose = camera_T_target.copy()
        pose[:3, 3] += [0.01 * k, -0.005 * k, 0.002 * k]
        shifted.append(pose)
    robot = [np.eye(4)] * 5
    v.EyeInHandCalibrator(scene.target).calibrate(robot, [], "TSAI", shifted)
    err = capfd.readouterr().err
    assert err.count("[vemo][WARNING] [EyeInHandCalibrator] All camera poses have identical orientation! Hand-eye "
                     "calibration requires varied rotations to solve uniquely.\n") == 1


def test_saved_record_and_no_file_without_a_path(scene, tmp_path, monkeypatch, capfd):
    monkeypatch.chdir(tmp_path)
    calibrator = v.EyeInHandCalibrator(scene.target)
    calibrator.calibrate(scene.robot_T_tcp_list, scene.images, "HORAUD", scene.camera_T_target_list)
    assert list(tmp_path.iterdir()) == []

    images = scene.images + [np.zeros_like(scene.images[0])] * 2
    result = calibrator.calibrate(scene.robot_T_tcp_list, images, "HORAUD", scene.camera_T_target_list,
                                  output_path=tmp_path / "out")
    written = tmp_path / "out" / "hand_eye.json"
    saved = json.loads(written.read_text())
    assert saved["method"] == "HORAUD" and saved["num_cameras"] == 1 and saved["reference_index"] == 0
    assert saved["num_frames_total"] == 18 and saved["num_frames_used"] == 18
    np.testing.assert_array_equal(np.array(saved["tcp_T_camera_list"][0]), result.tcp_T_camera)
    record = v.io.load_hand_eye_result(written)
    np.testing.assert_array_equal(record.tcp_T_camera_list[0], result.tcp_T_camera)
    assert f"[vemo][SUCCESS] Saved hand-eye result to {written}\n" in capfd.readouterr().err


@pytest.mark.parametrize("target,max_deg,max_m", [
    (v.ChessboardTarget((9, 6), 0.03), 0.2, 0.002),
    # ArUco marker corners carry no sub-pixel refinement, so their poses are noisier
    (v.ArucoTarget((5, 4), 0.04, 0.01, "DICT_4X4_50"), 0.5, 0.003),
])
def test_target_poses_for_chessboard_and_aruco_targets(target, max_deg, max_m):
    scene = make_hand_eye_scene(target, count=14, image_size=(800, 600), distance=0.45, seed=3)
    result = v.EyeInHandCalibrator(target).calibrate(scene.robot_T_tcp_list, scene.images, "DANIILIDIS")
    assert result.ok and len(result.camera_T_target_list) >= 12
    rotation_deg, translation_m = pose_error(result.tcp_T_camera, scene.tcp_T_camera)
    assert rotation_deg < max_deg and translation_m < max_m


def test_aligned_target_poses(scene, capfd):
    calibrator = v.EyeInHandCalibrator(scene.target)
    images = scene.images[:5]
    images[2] = np.full_like(images[2], 128)
    aligned = calibrator.compute_camera_T_target_list(images, scene.robot_T_tcp_list[:3], scene.camera_matrix,
                                                      scene.dist_coeffs)
    assert "[vemo][INFO] compute_camera_T_target_list: 2/5 frames passed\n" in capfd.readouterr().err
    assert len(aligned.camera_T_target_list) == len(aligned.valid_image_list) == 2
    np.testing.assert_array_equal(aligned.valid_robot_T_tcp_list[1], scene.robot_T_tcp_list[1])
    for estimate, truth in zip(aligned.camera_T_target_list, scene.camera_T_target_list[:2]):
        rotation_deg, translation_m = pose_error(estimate, truth)
        assert rotation_deg < 0.1 and translation_m < 0.001
        np.testing.assert_array_equal(estimate[3], [0, 0, 0, 1])

    with pytest.raises(ValueError, match="^EyeInHandCalibrator::computeCameraTTargetList only supports CharucoTarget$"):
        v.EyeInHandCalibrator(v.ChessboardTarget((9, 6), 0.03)).compute_camera_T_target_list(
            [], [], scene.camera_matrix, scene.dist_coeffs)


def test_default_records_and_read_only_surface(scene):
    calibrator = v.EyeInHandCalibrator(scene.target)
    result = calibrator.last_result()
    assert not result.ok and math.isnan(result.reprojection_error) and not result.has_consistency
    assert result.tcp_T_camera.shape == (0, 0) and result.camera_T_target_list == []
    assert result.consistency.mean_translation_m == 0 and result.consistency.board_us == []
    assert isinstance(calibrator.target(), v.CharucoTarget) and calibrator.corner_images() == []
    for cls in (v.HandEyeResult, v.TargetConsistencyStats, v.AlignedTargetPoses):
        with pytest.raises(TypeError):
            cls()
    with pytest.raises(AttributeError):
        result.ok = True


def test_unusable_camera_data_never_replaces_the_last_result(scene, capfd):
    calibrator = v.EyeInHandCalibrator(scene.target)
    calibrator.calibrate(scene.robot_T_tcp_list, [], "TSAI", scene.camera_T_target_list, scene.camera_matrix)
    report = calibrator.format_results()
    capfd.readouterr()

    # solvePnP "succeeds" with this camera matrix but returns NaN poses: not a pose at all.
    result = calibrator.calibrate(scene.robot_T_tcp_list[:5], scene.images[:5], "TSAI", [],
                                  np.diag([1e-30, 1e-30, 1.0]), scene.dist_coeffs)
    err = capfd.readouterr().err
    assert not result.ok and result.camera_T_target_list == []
    assert "[vemo][WARNING] frame 0: solvePnP failed  -  skipping\n" in err
    assert "[vemo][ERROR] Only 0 valid frames after solvePnP  -  need at least 4.\n" in err

    # Matrices that are not homogeneous transforms (a forgotten 1 in the corner, a zero
    # rotation block) are caller errors, not something to solve, report and store.
    no_corner = [pose.copy() for pose in scene.camera_T_target_list]
    no_corner[2][3, 3] = 0.0
    no_rotation = [pose.copy() for pose in scene.robot_T_tcp_list]
    no_rotation[1][:3, :3] = 0.0
    for robot, poses, name in [(scene.robot_T_tcp_list, no_corner, r"camera_T_target_list\[2\]"),
                               (no_rotation, scene.camera_T_target_list, r"robot_T_tcp_list\[1\]")]:
        with pytest.raises(ValueError, match=rf"^EyeInHandCalibrator: {name} must be a finite 4x4 matrix"):
            calibrator.calibrate(robot, [], "TSAI", poses, scene.camera_matrix)
    assert calibrator.format_results() == report


def test_output_path_defaults_to_the_empty_path():
    assert "output_path: os.PathLike | str | bytes = ''" in v.EyeInHandCalibrator.calibrate.__doc__

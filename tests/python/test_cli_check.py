"""`vemo check` on rendered cells, and the calibrating commands with --intrinsics."""

import json

import _vemo as v
import cv2
import numpy as np
from quorvantine.vemo.cli import main
from quorvantine.vemo.commands.common_options import write_json
from quorvantine.vemo.projection import project_points
from quorvantine.vemo.scenes import make_eye_to_hand_scene, make_hand_eye_scene, make_rig_scene
from quorvantine.vemo.scenes.eye_to_hand import default_base_T_camera
from quorvantine.vemo.scenes.hand_eye import default_tcp_T_camera

TARGET = ["--target", "charuco", "--squares-x", "7", "--squares-y", "5", "--square-size", "0.04",
          "--marker-size", "0.03", "--dictionary", "DICT_4X4_50"]
# The moves the cells undergo: none, 2 mm along x, 0.2 degrees about x (of the camera's own frame).
MOVES = {"same": [0, 0, 0, 0, 0, 0], "shifted": [0.002, 0, 0, 0, 0, 0], "turned": [0, 0, 0, 0.2, 0, 0]}


def charuco():
    return v.CharucoTarget(7, 5, 0.04, 0.03, "DICT_4X4_50")


def check(tmp_path, calibration, data_dir, *options):
    code = main(["check", str(calibration), str(data_dir), *TARGET, "--report", str(tmp_path / "check.json"),
                 *options])
    return code, json.loads((tmp_path / "check.json").read_text())


def calibrated_refined(tmp_path, command: str, scene, refined_name: str):
    """The refined result file of `command` on the scene's captures."""
    v.io.save_hand_eye_dataset(tmp_path / "calibration", scene.images, scene.robot_T_tcp_list)
    assert main([command, str(tmp_path / "calibration"), *TARGET, "--refine", "--quiet"]) == 0
    return tmp_path / "calibration" / refined_name


def check_captures(tmp_path, calibration, name: str, scene):
    v.io.save_hand_eye_dataset(tmp_path / name, scene.images, scene.robot_T_tcp_list)
    return check(tmp_path, calibration, tmp_path / name)


def assert_flags(code, report, part, move, stored_error=(0.0, 0.0)):
    """The verdict on one move: still valid, or part flagged by about the move's size; the
    stored calibration's own error (mm, deg) widens the bound."""
    moved = [entry for entry in report["transforms"] if entry["moved"]]
    if not any(move):
        assert code == 0 and report["still_valid"] and not moved, report["transforms"]
        return
    assert code == 3 and not report["still_valid"] and [entry["name"] for entry in moved] == [part]
    translation_mm, rotation_deg = 1000 * np.linalg.norm(move[:3]), np.linalg.norm(move[3:])
    assert abs(moved[0]["translation_mm"] - translation_mm) < 0.3 + stored_error[0], moved
    assert abs(moved[0]["rotation_deg"] - rotation_deg) < 0.03 + stored_error[1], moved


def held_errors(refined, scene, target) -> list:
    """The RMS per capture with tcp_T_camera and the intrinsics of the refined file held and
    base_T_target the mean of the captures' own (translations averaged, the mean rotation
    projected onto SO(3)), by OpenCV's pose solve and projection."""
    stored = json.loads(refined.read_text())
    K, d = np.array(stored["intrinsic_matrix"]), np.array(stored["distortion_coefficients"])
    tcp_T_camera = np.array(stored["tcp_T_camera"])
    detections = v.IntrinsicCalibrator(target).find_corners(scene.images)
    assert list(detections.successful_indices) == list(range(len(scene.images)))
    base_T_targets = []
    for robot_T_tcp, image_points, object_points in zip(scene.robot_T_tcp_list, detections.image_points,
                                                        detections.object_points):
        _, rvec, tvec = cv2.solvePnP(object_points, image_points, K, d)
        camera_T_target = np.eye(4)
        camera_T_target[:3, :3], camera_T_target[:3, 3] = cv2.Rodrigues(rvec)[0], tvec.ravel()
        base_T_targets.append(robot_T_tcp @ tcp_T_camera @ camera_T_target)
    u, _, vt = np.linalg.svd(np.mean([pose[:3, :3] for pose in base_T_targets], axis=0))
    base_T_target = np.eye(4)
    base_T_target[:3, :3], base_T_target[:3, 3] = u @ vt, np.mean([pose[:3, 3] for pose in base_T_targets], axis=0)
    errors = []
    for robot_T_tcp, image_points, object_points in zip(scene.robot_T_tcp_list, detections.image_points,
                                                        detections.object_points):
        camera_T_target = np.linalg.inv(tcp_T_camera) @ np.linalg.inv(robot_T_tcp) @ base_T_target
        projected, _ = cv2.projectPoints(object_points, cv2.Rodrigues(camera_T_target[:3, :3])[0],
                                         camera_T_target[:3, 3], K, d)
        errors.append(np.sqrt(np.mean(np.sum((projected - image_points).reshape(-1, 2) ** 2, axis=1))))
    return errors


def test_eye_in_hand_check_tells_a_still_valid_cell_from_a_moved_camera(tmp_path, capsys):
    target = charuco()
    scene = make_hand_eye_scene(target, count=10, image_size=(640, 480), distance=0.4, seed=3)
    refined = calibrated_refined(tmp_path, "hand-eye", scene, "hand_eye_refined.json")
    capsys.readouterr()

    for name, move in MOVES.items():
        tcp_T_camera = default_tcp_T_camera() @ v.tf.pose_to_transformation_matrix(move)
        new = make_hand_eye_scene(target, count=8, image_size=(640, 480), distance=0.4, seed=11,
                                  tcp_T_camera=tcp_T_camera)
        code, report = check_captures(tmp_path, refined, name, new)
        assert_flags(code, report, "tcp_T_camera", move)
        out = capsys.readouterr().out
        assert f"Intrinsics: from {refined}, held fixed (not calibrated)\n" in out
        assert out.endswith("Verdict: still valid\n" if name == "same" else
                            f"Verdict: moved: tcp_T_camera by {report['transforms'][0]['translation_mm']:.3f} mm and "
                            f"{report['transforms'][0]['rotation_deg']:.3f} deg\n")
        errors = [capture["rms_px"]["camera"] for capture in report["captures"]]
        # Held fixed, a moved camera no longer predicts where the corners are.
        assert max(errors) < 0.5 if name == "same" else max(errors) > 0.5
        np.testing.assert_allclose(errors, held_errors(refined, new, target), atol=0.01)

    # The closed-form file records no intrinsics: they must be given.
    assert main(["check", str(tmp_path / "calibration" / "hand_eye.json"), str(tmp_path / "same"), *TARGET]) == 2
    assert "check: hand_eye.json records no intrinsics; give --intrinsics FILE" in capsys.readouterr().err


def test_rig_check_tells_which_camera_moved(tmp_path, capsys):
    target = charuco()

    def save(scene, folder):
        for frame in range(len(scene.image_lists[0])):
            v.io.save_multi_camera_capture(folder, [images[frame] for images in scene.image_lists], frame)

    scene = make_rig_scene(target, num_cameras=2, frames=10, image_size=(640, 480), seed=3)
    save(scene, tmp_path / "calibration")
    assert main(["rig", str(tmp_path / "calibration"), *TARGET, "--quiet"]) == 0
    calibration = tmp_path / "calibration" / "multi_camera_calibration.json"
    stored = np.array(json.loads(calibration.read_text())["reference_T_camera_list"][1])
    truth = np.linalg.inv(scene.rig_T_camera_list[0]) @ scene.rig_T_camera_list[1]
    stored_error_mm = 1000 * np.linalg.norm(stored[:3, 3] - truth[:3, 3])
    # The rig's camera_info export, one file per camera, gives rig its intrinsics back.
    assert main(["export", str(calibration), "--to", "ros-camera-info", "--image-size", "640x480",
                 "--output", str(tmp_path / "camera_info")]) == 0
    assert main(["rig", str(tmp_path / "calibration"), *TARGET, "--intrinsics", str(tmp_path / "camera_info"),
                 "--output", str(tmp_path / "again.json"), "--refine", "--quiet"]) == 0
    again, refined, stored_file = (json.loads(path.read_text()) for path in (
        tmp_path / "again.json", tmp_path / "again_refined.json", calibration))
    # Given intrinsics are held, in the bundle adjustment too.
    assert again["intrinsic_matrices"] == stored_file["intrinsic_matrices"] == refined["intrinsic_matrices"]

    for name, move in MOVES.items():
        poses = list(scene.rig_T_camera_list)
        poses[1] = poses[1] @ v.tf.pose_to_transformation_matrix(move)
        save(make_rig_scene(target, num_cameras=2, frames=6, image_size=(640, 480), seed=5, rig_T_camera_list=poses),
             tmp_path / name)
        code, report = check(tmp_path, calibration, tmp_path / name)
        assert_flags(code, report, "reference_T_camera_list[1]", move, (stored_error_mm, 0.05))
        assert "Intrinsics of camera 1: from" in capsys.readouterr().out
        # Frame 5 of camera 1 is occluded in the rendered rig: no error for it.
        assert report["captures"][5]["rms_px"]["cam_01"] is None


def test_eye_to_hand_check_flags_a_moved_camera(tmp_path, capsys):
    target = charuco()
    scene = make_eye_to_hand_scene(target, count=10, image_size=(640, 480), distance=0.4, seed=3)
    refined = calibrated_refined(tmp_path, "eye-to-hand", scene, "eye_to_hand_refined.json")
    # The stored calibration's own rotation error, which every check measures against.
    stored = np.array(json.loads(refined.read_text())["base_T_camera"])
    stored_error_deg = np.degrees(np.linalg.norm(cv2.Rodrigues(stored[:3, :3] @ default_base_T_camera()[:3, :3].T)[0]))
    for name in ("same", "shifted"):
        base_T_camera = default_base_T_camera() @ v.tf.pose_to_transformation_matrix(MOVES[name])
        new = make_eye_to_hand_scene(target, count=8, image_size=(640, 480), distance=0.4, seed=11,
                                     base_T_camera=base_T_camera)
        code, report = check_captures(tmp_path, refined, name, new)
        assert_flags(code, report, "base_T_camera", MOVES[name], (0.3, stored_error_deg))
        assert [entry["name"] for entry in report["transforms"]] == ["base_T_camera", "tcp_T_target"]


def test_hand_eye_with_intrinsics_holds_them_exactly_as_the_file_has_them(tmp_path, capsys):
    scene = make_hand_eye_scene(charuco(), count=8, image_size=(640, 480), distance=0.4, seed=3)
    v.io.save_hand_eye_dataset(tmp_path / "data", scene.images, scene.robot_T_tcp_list)
    # Not the truth: whatever the file says is what the run must use.
    camera_matrix = scene.camera_matrix + [[1.5, 0, -0.75], [0, 1.25, 0.5], [0, 0, 0]]
    dist_coeffs = scene.dist_coeffs * 1.01
    write_json(tmp_path / "intrinsics.json", {"camera_matrix": camera_matrix, "distortion_coefficients": dist_coeffs,
                                              "image_size": [640, 480]})
    code = main(["hand-eye", str(tmp_path / "data"), *TARGET, "--intrinsics", str(tmp_path / "intrinsics.json"),
                 "--refine", "--report", str(tmp_path / "report.json")])
    assert code == 0
    out = capsys.readouterr().out
    assert f"Intrinsics: from {tmp_path / 'intrinsics.json'}, held fixed (not calibrated)\n" in out
    refined = json.loads((tmp_path / "data" / "hand_eye_refined.json").read_text())
    np.testing.assert_array_equal(refined["intrinsic_matrix"], camera_matrix)
    np.testing.assert_array_equal(np.ravel(refined["distortion_coefficients"]), np.ravel(dist_coeffs))
    report = json.loads((tmp_path / "report.json").read_text())
    assert report["intrinsics_file"] == str(tmp_path / "intrinsics.json") and "intrinsics" not in report

    # compare holds them in all five runs; benchmark measures them instead of calibrating.
    assert main(["compare", str(tmp_path / "data"), *TARGET, "--intrinsics", str(tmp_path / "intrinsics.json"),
                 "--report", str(tmp_path / "compare.json")]) in (0, 3)
    assert "held fixed (not calibrated)" in capsys.readouterr().out
    assert main(["benchmark", str(tmp_path / "data"), *TARGET, "--intrinsics", str(tmp_path / "intrinsics.json"),
                 "--output", str(tmp_path / "benchmark.json")]) == 0
    benchmark = json.loads((tmp_path / "benchmark.json").read_text())["results"][0]
    np.testing.assert_array_equal(benchmark["camera_matrix"], camera_matrix)
    assert benchmark["reprojection_error"] == benchmark["held_out_reprojection_error"] < 0.5

    write_json(tmp_path / "small.json", {"camera_matrix": camera_matrix, "distortion_coefficients": dist_coeffs,
                                         "image_size": [320, 240]})
    assert main(["hand-eye", str(tmp_path / "data"), *TARGET, "--intrinsics", str(tmp_path / "small.json")]) == 2
    assert "small.json is for 320x240 images, but the images are 640x480" in capsys.readouterr().err


def test_projection_agrees_with_opencv(rng):
    points = rng.uniform(-0.2, 0.2, (40, 3))
    camera_T_target = v.tf.pose_to_transformation_matrix([0.01, -0.02, 0.6, 170.0, 8.0, 30.0])
    camera_matrix = np.array([[700.0, 0.5, 320.0], [0.0, 705.0, 240.0], [0.0, 0.0, 1.0]])
    for count in (0, 4, 5, 8, 12):
        dist_coeffs = rng.normal(0, 0.01, (1, count))
        rvec, _ = cv2.Rodrigues(camera_T_target[:3, :3])
        expected, _ = cv2.projectPoints(points, rvec, camera_T_target[:3, 3], camera_matrix, dist_coeffs)
        np.testing.assert_allclose(project_points(points, camera_T_target, camera_matrix, dist_coeffs),
                                   expected.reshape(-1, 2), atol=1e-9)

"""The dataset commands with robot poses from a file (--poses), the pose archive's keys named
when it lacks its poses, and the rig command on JPEG frames."""

import json
import math

import _vemo as v
import cv2
import numpy as np
import pytest
from quorvantine.vemo.cli import main
from quorvantine.vemo.scenes import make_hand_eye_scene, make_rig_scene, pose_error

CHARUCO = ["--squares-x", "8", "--squares-y", "6", "--square-size", "0.04", "--marker-size", "0.03",
           "--dictionary", "DICT_5X5_100"]


def kuka_row_mm(a_T_b):
    """x y z (mm) A B C (deg): R = Rz(A) Ry(B) Rx(C)."""
    r = a_T_b[:3, :3]
    angles = (math.atan2(r[1, 0], r[0, 0]), -math.asin(r[2, 0]), math.atan2(r[2, 1], r[2, 2]))
    return [float(value) for value in (*(1000 * a_T_b[:3, 3]), *np.degrees(angles))]


def last_error_line(capsys):
    return capsys.readouterr().err.splitlines()[-1]


def test_hand_eye_with_a_pose_file_matches_the_pose_archive(tmp_path, capsys):
    scene = make_hand_eye_scene(v.CharucoTarget(8, 6, 0.04, 0.03, "DICT_5X5_100"), count=8, image_size=(800, 600),
                                distance=0.4, seed=3)
    data = tmp_path / "data"
    v.io.save_hand_eye_dataset(data, scene.images, scene.robot_T_tcp_list)
    archive_result = tmp_path / "archive.json"
    assert main(["hand-eye", str(data), *CHARUCO, "--method", "PARK", "--output", str(archive_result)]) == 0

    # The controller's own export: tcp_T_base as KUKA X Y Z A B C in millimetres.
    poses = tmp_path / "poses.csv"
    rows = [kuka_row_mm(np.linalg.inv(pose)) for pose in scene.robot_T_tcp_list]
    poses.write_text("X,Y,Z,A,B,C\n" + "".join(",".join(map(repr, row)) + "\n" for row in rows))
    (data / "calibration_data.npz").unlink()
    file_result = tmp_path / "file.json"
    assert main(["hand-eye", str(data), *CHARUCO, "--method", "PARK", "--output", str(file_result), "--poses",
                 str(poses), "--pose-format", "kuka-abc", "--pose-units", "mm", "--pose-inverse"]) == 0
    from_archive, from_file = (json.loads(path.read_text()) for path in (archive_result, file_result))
    assert from_file["num_frames_total"] == from_archive["num_frames_total"] == 8
    assert np.abs(np.subtract(from_file["tcp_T_camera_list"], from_archive["tcp_T_camera_list"])).max() < 1e-8
    capsys.readouterr()

    short = tmp_path / "short.csv"
    short.write_text("".join(",".join(map(repr, row)) + "\n" for row in rows[:7]))
    assert main(["hand-eye", str(data), *CHARUCO, "--poses", str(short), "--pose-format", "kuka-abc"]) == 2
    assert last_error_line(capsys) == (f"error: {data} holds 8 images (image_NN.png) but {short} holds 7 robot "
                                       "poses; every pose needs its image")
    (data / "image_03.png").rename(data / "image_08.png")
    assert main(["benchmark", str(data), *CHARUCO, "--poses", str(poses), "--pose-format", "kuka-abc"]) == 2
    assert last_error_line(capsys) == (f"error: {data} has no image_03.png: the 8 robot poses of {poses} go with "
                                       "image_00.png to image_07.png")
    short.write_text("1,2,3,4,5,6\n1,2,3,4,5\n")
    assert main(["compare", str(data), *CHARUCO, "--poses", str(short), "--pose-format", "kuka-abc"]) == 2
    assert last_error_line(capsys) == (f"error: robot poses: {short} row 2: 5 numbers, expected 6 (x y z a b c)")

    for command in ("hand-eye", "eye-to-hand", "compare", "benchmark"):
        for option in (["--pose-units", "mm"], ["--pose-inverse"], ["--pose-format", "matrix"]):
            with pytest.raises(SystemExit) as exit_info:
                main([command, str(data), *CHARUCO, *option])
            assert exit_info.value.code == 2
            assert last_error_line(capsys).endswith("--pose-format, --pose-units and --pose-inverse need --poses")
    with pytest.raises(SystemExit):
        main(["hand-eye", str(data), *CHARUCO, "--poses", str(poses), "--pose-format", "xyz-euler:ZYX"])
    assert "argument --pose-format: unknown pose format 'xyz-euler:ZYX'; expected one of" in last_error_line(capsys)

    np.savez(data / "calibration_data.npz", poses=np.zeros((8, 4, 4)), stamps=np.arange(8.0))
    assert main(["eye-to-hand", str(data), *CHARUCO]) == 2
    assert last_error_line(capsys) == ("error: npz: entry 'robot_T_tcp_list.npy' not found in archive; "
                                       "keys found: poses, stamps")


def test_rig_command_reads_jpeg_frames_paired_by_capture(tmp_path, capsys):
    target = v.CharucoTarget(7, 5, 0.05, 0.037, "DICT_4X4_50")
    scene = make_rig_scene(target, num_cameras=2, frames=12, image_size=(960, 720), occluded={})
    for camera, images in enumerate(scene.image_lists):
        (tmp_path / f"cam_{camera:02d}").mkdir()
        for frame, image in enumerate(images):
            assert cv2.imwrite(str(tmp_path / f"cam_{camera:02d}" / f"image_{frame:02d}.jpg"), image,
                               [cv2.IMWRITE_JPEG_QUALITY, 95])
    cv2.imwrite(str(tmp_path / "cam_01" / "image_00_annotated.jpg"), np.zeros((8, 8, 3), np.uint8))
    arguments = ["rig", str(tmp_path), "--squares-x", "7", "--squares-y", "5", "--square-size", "0.05",
                 "--marker-size", "0.037", "--dictionary", "DICT_4X4_50"]
    assert main(arguments) == 0
    saved = json.loads((tmp_path / "multi_camera_calibration.json").read_text())
    rotation_deg, translation_m = pose_error(np.array(saved["reference_T_camera_list"][1]),
                                             scene.reference_T_camera(0, 1))
    assert rotation_deg < 0.3 and translation_m < 0.003
    capsys.readouterr()

    # A capture one camera lacks stops the run: pairing by position would shift every later frame.
    (tmp_path / "cam_01" / "image_03.jpg").unlink()
    assert main(arguments) == 2
    assert last_error_line(capsys) == (f"error: rig: {tmp_path / 'cam_01'} has no frame image_03, which cam_00 has; "
                                       "captures must be synchronized")
    cv2.imwrite(str(tmp_path / "cam_00" / "image_00.png"), scene.image_lists[0][0])
    assert main(arguments) == 2
    assert last_error_line(capsys) == (f"error: {tmp_path / 'cam_00'} holds image_00 twice (image_00.jpg and "
                                       "image_00.png); keep one")

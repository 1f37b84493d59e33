"""Hand-eye dataset directories and multi-camera capture directories."""

import os
import pathlib
import re

import numpy as np
import pytest

from _vemo import io


def image(value, shape=(6, 8, 3)):
    return np.full(shape, value, dtype=np.uint8)


def poses(count):
    rng = np.random.default_rng(count)
    result = []
    for _ in range(count):
        pose = np.eye(4)
        pose[:3, 3] = rng.normal(size=3)
        result.append(pose)
    return result


def names(directory):
    return sorted(os.listdir(directory))


def snapshot(directory):
    return {path.relative_to(directory): path.read_bytes() for path in directory.rglob("*") if path.is_file()}


def test_hand_eye_dataset_round_trip_with_annotated_images(tmp_path, capfd):
    data_dir = tmp_path / "run1" / "nested"
    robot_T_tcp_list = poses(3)
    io.save_hand_eye_dataset(data_dir, [image(10), image(20), image(30)], robot_T_tcp_list,
                             annotated_images=[image(11), image(21), image(31)])
    assert names(data_dir) == ["calibration_data.npz", "image_00.png", "image_00_annotated.png", "image_01.png",
                               "image_01_annotated.png", "image_02.png", "image_02_annotated.png"]
    with np.load(data_dir / "calibration_data.npz") as archive:
        np.testing.assert_array_equal(archive["robot_T_tcp_list"], np.stack(robot_T_tcp_list))

    images, loaded_poses = io.load_hand_eye_dataset(str(data_dir).encode())
    assert [int(i[0, 0, 0]) for i in images] == [10, 20, 30]
    for loaded, saved in zip(loaded_poses, robot_T_tcp_list):
        assert loaded.dtype == np.float64
        np.testing.assert_array_equal(loaded, saved)
    assert capfd.readouterr().err.splitlines() == [f"[vemo][SUCCESS] Saved 3 images to {data_dir}",
                                                   f"[vemo][SUCCESS] Loaded 3 images from {data_dir}"]


def test_hand_eye_dataset_loading_refuses_gaps_and_uses_the_format(tmp_path, capfd):
    io.save_hand_eye_dataset(tmp_path, [image(0), image(1), image(2)], poses(3))
    # Without image_01, image_02 would pair with the second pose.
    (tmp_path / "image_01.png").unlink()
    with pytest.raises(RuntimeError, match=f"^io: missing image file {re.escape(str(tmp_path / 'image_01.png'))}$"):
        io.load_hand_eye_dataset(tmp_path)
    (tmp_path / "image_00.png").unlink()
    with pytest.raises(RuntimeError, match=f"^io: missing image file {re.escape(str(tmp_path / 'image_00.png'))}$"):
        io.load_hand_eye_dataset(tmp_path)
    # Only trailing images missing: those that exist pair with the first poses.
    (tmp_path / "image_02.png").rename(tmp_path / "image_00.png")
    capfd.readouterr()
    images, loaded_poses = io.load_hand_eye_dataset(tmp_path)
    assert [int(i[0, 0, 0]) for i in images] == [2] and len(loaded_poses) == 3
    assert capfd.readouterr().err.splitlines()[-1] == f"[vemo][SUCCESS] Loaded 1 images from {tmp_path}"

    (tmp_path / "image_00.png").rename(tmp_path / "image_00.jpg")
    images, _ = io.load_hand_eye_dataset(tmp_path, image_format="jpg")
    assert len(images) == 1 and images[0].shape == (6, 8, 3)


def test_hand_eye_dataset_edge_cases(tmp_path, capfd):
    # Three-digit indices, grey images coming back as BGR, float32 and int32 poses stored as float64.
    many = [image(i % 256, shape=(2, 2)) for i in range(101)]
    pose_f32 = np.eye(4, dtype=np.float32) * 2
    io.save_hand_eye_dataset(tmp_path, many, [pose_f32, np.eye(4, dtype=np.int32)])
    assert "image_100.png" in names(tmp_path) and "image_99.png" in names(tmp_path)
    images, loaded = io.load_hand_eye_dataset(tmp_path)
    assert len(images) == 2 and images[1].shape == (2, 2, 3) and images[1].dtype == np.uint8
    np.testing.assert_array_equal(loaded[0], np.eye(4) * 2)

    empty = tmp_path / "empty"
    io.save_hand_eye_dataset(empty, [], [])
    with np.load(empty / "calibration_data.npz") as archive:
        assert archive["robot_T_tcp_list"].shape == (0, 4, 4)
    assert io.load_hand_eye_dataset(empty) == ([], [])
    assert f"[vemo][SUCCESS] Saved 0 images to {empty}" in capfd.readouterr().err


def test_hand_eye_dataset_rejects_bad_input_before_writing(tmp_path):
    with pytest.raises(ValueError, match=r"^saveHandEyeDataset: annotated_images must be empty or hold one image "
                                         r"per image \(1 for 2 images\)$"):
        io.save_hand_eye_dataset(tmp_path / "a", [image(0), image(1)], poses(2), [image(0)])
    assert not (tmp_path / "a").exists()
    with pytest.raises(ValueError, match=r"^io: expected 4x4 pose matrices$"):
        io.save_hand_eye_dataset(tmp_path / "b", [image(0)], [np.eye(3)])
    assert names(tmp_path / "b") == []
    with pytest.raises(RuntimeError, match=r"^npz: cannot open .*calibration_data\.npz for reading$"):
        io.load_hand_eye_dataset(tmp_path / "missing")
    np.savez(tmp_path / "calibration_data.npz", robot_T_tcp_list=np.zeros((2, 3, 3)))
    with pytest.raises(RuntimeError, match=r"^io: robot_T_tcp_list npz entry is not shaped \(N, 4, 4\)$"):
        io.load_hand_eye_dataset(tmp_path)
    (tmp_path / "c").mkdir()
    io.save_hand_eye_dataset(tmp_path / "c", [], poses(1))
    (tmp_path / "c" / "image_00.png").write_bytes(b"not a png")
    with pytest.raises(RuntimeError, match=r"^io: cv::imread returned an empty image for .*image_00\.png$"):
        io.load_hand_eye_dataset(tmp_path / "c")


def test_saves_refuse_images_that_would_not_read_back_before_writing(tmp_path):
    io.save_hand_eye_dataset(tmp_path / "he", [image(1)], poses(1))
    io.save_multi_camera_capture(tmp_path / "mc", [image(1)], 0)
    before = snapshot(tmp_path)
    with pytest.raises(ValueError, match=r"^saveHandEyeDataset: image_list\[1\] is CV_16UC3; only 8-bit images with "
                                         r"1, 3 or 4 channels are saved \(all load as 3-channel BGR\)$"):
        io.save_hand_eye_dataset(tmp_path / "he", [image(2), np.zeros((4, 4, 3), np.uint16)], poses(2))
    for what, bad in (("is CV_32FC1", np.zeros((4, 4), np.float32)), ("is CV_8UC2", np.zeros((4, 4, 2), np.uint8)),
                      ("is empty", np.zeros((0, 4), np.uint8))):
        with pytest.raises(ValueError, match=rf"^saveHandEyeDataset: image_list\[1\] {what}"):
            io.save_hand_eye_dataset(tmp_path / "he", [image(2), bad], poses(2))
        with pytest.raises(ValueError, match=rf"^saveHandEyeDataset: annotated_images\[0\] {what}"):
            io.save_hand_eye_dataset(tmp_path / "he", [image(2)], poses(1), [bad])
        with pytest.raises(ValueError, match=rf"^saveMultiCameraCapture: frames\[1\] {what}"):
            io.save_multi_camera_capture(tmp_path / "mc", [image(2), bad], 0)
        with pytest.raises(ValueError, match=rf"^saveMultiCameraCapture: annotated_images\[0\] {what}"):
            io.save_multi_camera_capture(tmp_path / "mc", [image(2)], 0, [bad])
    assert snapshot(tmp_path) == before


def test_image_write_failures_name_the_file_and_keep_the_files_written_before(tmp_path):
    hand_eye = tmp_path / "he"
    (hand_eye / "image_01.png").mkdir(parents=True)
    with pytest.raises(RuntimeError, match=f"^io: cv::imwrite failed for {re.escape(str(hand_eye / 'image_01.png'))}$"):
        io.save_hand_eye_dataset(hand_eye, [image(5), image(6), image(7)], poses(3))
    assert names(hand_eye) == ["calibration_data.npz", "image_00.png", "image_01.png"]
    (hand_eye / "image_01.png").rmdir()
    images, loaded_poses = io.load_hand_eye_dataset(hand_eye)
    assert [int(i[0, 0, 0]) for i in images] == [5] and len(loaded_poses) == 3

    rig = tmp_path / "mc"
    (rig / "cam_01" / "image_04.png").mkdir(parents=True)
    with pytest.raises(RuntimeError, match=f"^io: cv::imwrite failed for {re.escape(str(rig / 'cam_01' / 'image_04.png'))}$"):
        io.save_multi_camera_capture(rig, [image(1), image(2), image(3)], 4)
    assert [names(rig / camera) for camera in names(rig)] == [["image_04.png"], ["image_04.png"], []]

    # A folder that held a dataset or a capture is left as it was, whatever the failure.
    for folder, blocked, save in (
            (hand_eye, "image_01.png", lambda: io.save_hand_eye_dataset(hand_eye, [image(8)] * 2, poses(5))),
            (rig, "cam_01/image_01.png", lambda: io.save_multi_camera_capture(rig, [image(8)] * 2, 1))):
        (folder / blocked).mkdir()
        before = snapshot(folder)
        with pytest.raises(RuntimeError, match="^io: cv::imwrite failed for "):
            save()
        assert snapshot(folder) == before


def test_next_capture_index(tmp_path):
    assert io.next_multi_camera_capture_index(tmp_path / "nowhere", 2) == 0
    assert io.next_multi_camera_capture_index(tmp_path, 0) == 0
    with pytest.raises(ValueError, match="^nextMultiCameraCaptureIndex: negative camera count$"):
        io.next_multi_camera_capture_index(tmp_path, -1)
    cam0, cam1 = tmp_path / "cam_00", tmp_path / "cam_01"
    cam0.mkdir()
    for name in ("image_00.png", "image_01.png", "image_01_annotated.png", "image_09.PNG", "image_left.png",
                 "image_12.jpg", "other_20.png"):
        (cam0 / name).touch()
    assert io.next_multi_camera_capture_index(tmp_path, 1) == 2
    cam1.mkdir()
    (cam1 / "image_07.png").touch()
    assert io.next_multi_camera_capture_index(tmp_path, 1) == 2
    assert io.next_multi_camera_capture_index(pathlib.PurePath(tmp_path), 2) == 8
    # Camera folders are found by listing, so a huge count returns at once; only folders
    # named as the writer names them count.
    assert io.next_multi_camera_capture_index(tmp_path, 2**31 - 1) == 8
    (tmp_path / "cam_7").mkdir()
    (tmp_path / "cam_7" / "image_50.png").touch()
    assert io.next_multi_camera_capture_index(tmp_path, 2**31 - 1) == 8
    (cam1 / "image_2147483648.png").touch()
    with pytest.raises(IndexError, match=r"^stoi: io: nextMultiCameraCaptureIndex: capture number 2147483648 of .*"
                                         r"image_2147483648\.png is beyond the int range$"):
        io.next_multi_camera_capture_index(tmp_path, 2)


def test_multi_camera_capture_round_trip(tmp_path, capfd):
    for capture in range(3):
        frames = [image(10 * capture + camera) for camera in range(3)]
        annotated = [image(100 + camera) for camera in range(3)] if capture == 1 else []
        io.save_multi_camera_capture(tmp_path, frames, io.next_multi_camera_capture_index(tmp_path, 3), annotated)
    assert names(tmp_path) == ["cam_00", "cam_01", "cam_02"]
    assert names(tmp_path / "cam_02") == ["image_00.png", "image_01.png", "image_01_annotated.png", "image_02.png"]
    assert "[vemo][SUCCESS] Saved capture #2 (3 cameras)" in capfd.readouterr().err

    frames = io.load_multi_camera_dataset(str(tmp_path), 3)
    assert [[int(f[0, 0, 0]) for f in camera] for camera in frames] == [[0, 10, 20], [1, 11, 21], [2, 12, 22]]
    assert capfd.readouterr().err.splitlines() == [
        f"[vemo][SUCCESS] Loaded 3 frames from {tmp_path / f'cam_0{i}'}" for i in range(3)]
    assert io.load_multi_camera_dataset(tmp_path, 0) == []

    # Capture order past 99: all-digit numbers by value, then any other name in byte order.
    order = tmp_path / "order" / "cam_00"
    for value, capture in enumerate((100, 11, 10, 99, 9)):
        io.save_multi_camera_capture(tmp_path / "order", [image(value)], capture)
    for value, name in ((5, "image_left.png"), (6, "image_007.png"), (7, "image_7.png"), (8, "image_1a.png")):
        io.save_multi_camera_capture(tmp_path / "order" / "scratch", [image(value)], 0)
        (tmp_path / "order" / "scratch" / "cam_00" / "image_00.png").rename(order / name)
    loaded = io.load_multi_camera_dataset(tmp_path / "order", 1)[0]
    # image_007 before image_7 (equal numbers, byte order); image_1a and image_left after all numbers.
    assert [int(f[0, 0, 0]) for f in loaded] == [6, 7, 4, 2, 1, 3, 0, 8, 5]


def test_multi_camera_capture_errors(tmp_path, capfd):
    with pytest.raises(ValueError, match=r"^saveMultiCameraCapture: annotated_images must be empty or hold one "
                                         r"image per frame \(1 for 2 frames\)$"):
        io.save_multi_camera_capture(tmp_path, [image(0), image(1)], 0, [image(0)])
    with pytest.raises(ValueError, match="^saveMultiCameraCapture: capture_index must not be negative$"):
        io.save_multi_camera_capture(tmp_path, [image(0)], -1)
    assert names(tmp_path) == []

    io.save_multi_camera_capture(tmp_path, [image(0)], 0)
    capfd.readouterr()
    with pytest.raises(RuntimeError, match=f"^io: missing camera folder: {tmp_path / 'cam_01'}$"):
        io.load_multi_camera_dataset(tmp_path, 2)
    assert capfd.readouterr().err == f"[vemo][SUCCESS] Loaded 1 frames from {tmp_path / 'cam_00'}\n"
    # A wild camera count fails at the first missing folder, without memory for every folder it names.
    with pytest.raises(RuntimeError, match=f"^io: missing camera folder: {tmp_path / 'none' / 'cam_00'}$"):
        io.load_multi_camera_dataset(tmp_path / "none", 2**31 - 1)

    (tmp_path / "cam_01").mkdir()
    (tmp_path / "cam_01" / "image_00_annotated.png").touch()
    with pytest.raises(RuntimeError, match=f"^io: no image_\\*\\.png files in {tmp_path / 'cam_01'}$"):
        io.load_multi_camera_dataset(tmp_path, 2)

    io.save_multi_camera_capture(tmp_path, [image(0), image(1)], 1)
    io.save_multi_camera_capture(tmp_path, [image(0)], 2)
    capfd.readouterr()
    with pytest.raises(RuntimeError, match="^io: all cameras must have the same frame count; "
                                           "captures must be synchronized$"):
        io.load_multi_camera_dataset(tmp_path, 2)
    assert len(capfd.readouterr().err.splitlines()) == 2  # both cameras were read and logged first


def test_rig_loader_never_pairs_frames_of_different_captures(tmp_path, capfd):
    def rig(name, captures_per_camera):
        folder = tmp_path / name
        for camera, captures in enumerate(captures_per_camera):
            for capture in captures:
                frames = [image(0)] * camera + [image(10 * capture + camera)]
                io.save_multi_camera_capture(folder / "scratch", frames, capture)
                (folder / f"cam_0{camera}").mkdir(parents=True, exist_ok=True)
                (folder / "scratch" / f"cam_0{camera}" / f"image_0{capture}.png").rename(
                    folder / f"cam_0{camera}" / f"image_0{capture}.png")
        capfd.readouterr()
        return folder

    # One frame gone from each camera: equal counts, but capture 1 of camera 1 would pair with capture 2.
    folder = rig("one_gone_each", [[0, 1, 3], [0, 2, 3]])
    with pytest.raises(RuntimeError, match=f"^io: missing frame file {re.escape(str(folder / 'cam_01' / 'image_01.png'))}; "
                                           "captures must be synchronized$"):
        io.load_multi_camera_dataset(folder, 2)
    assert len(capfd.readouterr().err.splitlines()) == 2  # both cameras were read and logged first
    # The first capture that any camera lacks is named, whichever camera holds it.
    folder = rig("third_camera", [[0, 1, 2], [0, 1, 3], [0, 1, 2]])
    with pytest.raises(RuntimeError, match=f"^io: missing frame file {re.escape(str(folder / 'cam_01' / 'image_02.png'))};"):
        io.load_multi_camera_dataset(folder, 3)
    assert [[int(f[0, 0, 0]) for f in camera] for camera in io.load_multi_camera_dataset(folder, 1)] == [[0, 10, 20]]
    # Unequal counts keep their own message, even where the names differ too.
    folder = rig("unequal", [[0, 1, 2], [0, 3]])
    with pytest.raises(RuntimeError, match="^io: all cameras must have the same frame count; "):
        io.load_multi_camera_dataset(folder, 2)


def test_multi_camera_robot_poses(tmp_path):
    assert io.load_multi_camera_robot_poses(tmp_path / "nowhere") == []
    io.save_multi_camera_robot_poses(tmp_path, poses(2), 0)
    assert names(tmp_path) == []
    with pytest.raises(ValueError, match=r"^io: expected 4x4 pose matrices$"):
        io.save_multi_camera_robot_poses(tmp_path, [np.eye(4), np.ones((4, 3))], 2)
    assert names(tmp_path) == []

    io.save_multi_camera_robot_poses(tmp_path, poses(2), 2)
    assert names(tmp_path / "cam_01") == ["calibration_data.npz"]
    (tmp_path / "cam_00" / "calibration_data.npz").unlink()
    for loaded, saved in zip(io.load_multi_camera_robot_poses(tmp_path), poses(2)):
        np.testing.assert_array_equal(loaded, saved)
    # The first cam_ folder with an archive wins, in byte-wise name order: cam_000 < cam_01.
    (tmp_path / "cam_000").mkdir()
    np.savez(tmp_path / "cam_000" / "calibration_data.npz", robot_T_tcp_list=np.zeros((0, 4, 4)))
    assert io.load_multi_camera_robot_poses(tmp_path) == []
    (tmp_path / "cam_000" / "calibration_data.npz").unlink()
    assert len(io.load_multi_camera_robot_poses(tmp_path)) == 2

"""A save that fails for lack of space leaves a folder that held a dataset or a capture
loading as before, and says that the disk is full."""

import re

import numpy as np
import pytest

from _vemo import io


def noise(rng, count, side):
    """Images that PNG cannot shrink, so that their size on disk is known."""
    return [rng.integers(0, 256, (side, side, 3), dtype=np.uint8) for _ in range(count)]


def poses(count):
    result = [np.eye(4) for _ in range(count)]
    for k, pose in enumerate(result):
        pose[:3, 3] = k
    return result


def full_disk_message(folder, name=r"image_(\d\d)\.png"):
    """The message for a PNG file of `folder` (a pattern: by default any image, its number caught)."""
    return f"^io: cv::imwrite failed for {re.escape(str(folder))}/{name}: no space left on device$"


def files(folder):
    return sorted(str(path.relative_to(folder)) for path in folder.rglob("*"))


def test_a_save_that_runs_out_of_space_leaves_the_folder_loading_as_before(tmp_path, rng, tmpfs):
    with tmpfs(tmp_path / "disk", "192k") as disk:
        dataset = disk / "hand_eye"
        old_images, new_images = noise(rng, 10, 40), noise(rng, 10, 80)
        io.save_hand_eye_dataset(dataset, old_images, poses(10))
        before = files(dataset)
        with pytest.raises(RuntimeError, match=full_disk_message(dataset)):
            io.save_hand_eye_dataset(dataset, new_images, poses(12))
        assert files(dataset) == before
        images, loaded_poses = io.load_hand_eye_dataset(dataset)
        assert all(np.array_equal(a, b) for a, b in zip(images, old_images)) and len(images) == 10
        assert np.array_equal(loaded_poses, poses(10))

        # In a fresh folder the files before the one that failed stay, as separate writes would leave them.
        fresh = disk / "fresh"
        with pytest.raises(RuntimeError) as failure:
            io.save_hand_eye_dataset(fresh, new_images, poses(10))
        failed = int(re.match(full_disk_message(fresh), str(failure.value)).group(1))
        assert files(fresh) == ["calibration_data.npz"] + [f"image_{k:02d}.png" for k in range(failed)]

    with tmpfs(tmp_path / "rig_disk", "192k") as disk:
        rig = disk / "rig"
        old_frames = noise(rng, 2, 40)
        io.save_multi_camera_capture(rig, old_frames, 0)
        before = files(rig)
        with pytest.raises(RuntimeError, match=full_disk_message(rig / "cam_01", r"image_01\.png")):
            io.save_multi_camera_capture(rig, noise(rng, 2, 180), io.next_multi_camera_capture_index(rig, 2))
        assert files(rig) == before
        loaded = io.load_multi_camera_dataset(rig, 2)
        assert [len(frames) for frames in loaded] == [1, 1]
        assert all(np.array_equal(frames[0], old) for frames, old in zip(loaded, old_frames))

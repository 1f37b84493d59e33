"""Dataset saves killed (SIGKILL) at moments spread over the save leave the old or the new dataset."""

import os
import shutil
import signal
import time

import numpy as np

from _vemo import io

KILLS = 24


def noise(rng, count):
    return [rng.integers(0, 256, (120, 160, 3), dtype=np.uint8) for _ in range(count)]


def saving_process(save):
    """A forked copy of this process that saves and exits: cheap to start many times."""
    pid = os.fork()
    if pid == 0:
        try:
            save()
        finally:
            os._exit(0)
    return pid


def same(first, second):
    return len(first) == len(second) and all(np.array_equal(a, b) for a, b in zip(first, second))


def check_kills(tmp_path, write_old, save_new, load, old, new):
    """Kills the save of `new` over `old` at KILLS moments from its start to a little past its usual end."""
    template = tmp_path / "template"
    write_old(template)
    (template / "hand_eye.json").write_text("{}")  # not the save's: it must stay
    timing = tmp_path / "timing"
    shutil.copytree(template, timing)
    start = time.perf_counter()
    os.waitpid(saving_process(lambda: save_new(timing)), 0)
    duration = time.perf_counter() - start
    assert same(load(timing), new)

    outcomes = []
    for kill in range(KILLS):
        folder = tmp_path / f"kill{kill}"
        shutil.copytree(template, folder)
        saver = saving_process(lambda: save_new(folder))
        time.sleep(duration * 1.2 * kill / (KILLS - 1))
        os.kill(saver, signal.SIGKILL)
        os.waitpid(saver, 0)
        loaded = load(folder)
        outcomes.append("new" if same(loaded, new) else "old" if same(loaded, old) else "mixed")
        assert outcomes[-1] != "mixed", f"kill {kill} left a mixed dataset"
        # Loading finished or undid the interrupted save; nothing of it is left behind.
        assert [path.name for path in folder.rglob(".*")] == []
        assert (folder / "hand_eye.json").read_text() == "{}"
    print("outcomes after kills:", " ".join(outcomes))


def test_a_killed_hand_eye_dataset_save_leaves_the_old_or_the_new_dataset(tmp_path):
    rng = np.random.default_rng(1)
    old_images, new_images, annotated = noise(rng, 6), noise(rng, 6), noise(rng, 6)
    old_poses, new_poses = [np.eye(4) * k for k in range(1, 7)], [np.eye(4) * -k for k in range(1, 7)]

    def load(folder):
        images, poses = io.load_hand_eye_dataset(folder)
        return images + poses

    check_kills(tmp_path, lambda folder: io.save_hand_eye_dataset(folder, old_images, old_poses),
                lambda folder: io.save_hand_eye_dataset(folder, new_images, new_poses, annotated), load,
                old_images + old_poses, new_images + new_poses)


def test_a_killed_capture_save_leaves_the_capture_in_every_camera_folder_or_in_none(tmp_path):
    rng = np.random.default_rng(2)
    first, old, new, last, annotated = (noise(rng, 3) for _ in range(5))

    def write_old(folder):
        for index, frames in enumerate((first, old, last)):
            io.save_multi_camera_capture(folder, frames, index)

    def load(folder):
        return [frame for camera in io.load_multi_camera_dataset(folder, 3) for frame in camera]

    def dataset(capture_1):
        return [frames[camera] for camera in range(3) for frames in (first, capture_1, last)]

    check_kills(tmp_path, write_old, lambda folder: io.save_multi_camera_capture(folder, new, 1, annotated), load,
                dataset(old), dataset(new))


def test_a_killed_robot_pose_save_leaves_the_same_poses_in_every_camera_folder(tmp_path):
    cameras = 8
    old, new = [np.eye(4) * k for k in range(1, 4)], [np.eye(4) * -k for k in range(1, 200)]

    def load(folder):
        io.load_multi_camera_robot_poses(folder)  # finishes or undoes an interrupted save
        return [pose for camera in range(cameras)
                for pose in np.load(folder / f"cam_{camera:02d}" / "calibration_data.npz")["robot_T_tcp_list"]]

    check_kills(tmp_path, lambda folder: io.save_multi_camera_robot_poses(folder, old, cameras),
                lambda folder: io.save_multi_camera_robot_poses(folder, new, cameras), load, old * cameras,
                new * cameras)

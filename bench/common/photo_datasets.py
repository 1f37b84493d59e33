"""Rendered eye-in-hand captures kept as dataset folders of JPEG photographs under
build/bench-cache, so that each machine renders a scene once: image_NN.jpg and
calibration_data.npz (robot_T_tcp_list), as `vemo hand-eye DIR --image-format jpg` and the
plain script read them, with the true tcp_T_camera beside the folder."""

import pathlib
import shutil

import cv2
import numpy as np

from quorvantine.vemo.scenes import make_hand_eye_scene

JPEG_QUALITY = 95
CACHE = pathlib.Path(__file__).resolve().parents[2] / "build" / "bench-cache"


def write_dataset(data_dir: pathlib.Path, images: list, robot_T_tcp_list: list) -> None:
    data_dir.mkdir(parents=True)
    for index, image in enumerate(images):
        if not cv2.imwrite(str(data_dir / f"image_{index:02d}.jpg"), image, [cv2.IMWRITE_JPEG_QUALITY, JPEG_QUALITY]):
            raise RuntimeError(f"cannot write {data_dir}")
    np.savez(data_dir / "calibration_data.npz", robot_T_tcp_list=np.asarray(robot_T_tcp_list, dtype=np.float64))


def rendered_dataset(name: str, target, count: int, image_size: tuple, distance: float) -> tuple:
    """(dataset folder, true tcp_T_camera) of `count` captures of make_hand_eye_scene at
    image_size, rendered on first use."""
    folder = CACHE / f"{name}-{count}-{image_size[0]}x{image_size[1]}"
    truth = folder / "tcp_T_camera.npy"
    if not truth.exists():
        shutil.rmtree(folder, ignore_errors=True)
        scene = make_hand_eye_scene(target, count=count, image_size=image_size, distance=distance)
        write_dataset(folder / "data", scene.images, scene.robot_T_tcp_list)
        np.save(truth, scene.tcp_T_camera)  # last: it marks the folder complete
    return folder / "data", np.load(truth)


def spread_subset(data_dir: pathlib.Path, count: int) -> pathlib.Path:
    """A dataset folder of `count` captures of data_dir spread evenly over it (links to its
    images), made on first use beside it: subsets of one large render stand in for renders
    of each size."""
    subset = data_dir.parent / f"subset-{count}"
    if not (subset / "calibration_data.npz").exists():
        shutil.rmtree(subset, ignore_errors=True)
        robot_T_tcp_list = np.load(data_dir / "calibration_data.npz")["robot_T_tcp_list"]
        picked = np.linspace(0, len(robot_T_tcp_list) - 1, count).round().astype(int)
        subset.mkdir()
        for index, source in enumerate(picked):
            (subset / f"image_{index:02d}.jpg").symlink_to(data_dir / f"image_{source:02d}.jpg")
        np.savez(subset / "calibration_data.npz", robot_T_tcp_list=robot_T_tcp_list[picked])
    return subset

"""How often the verdict on a hand-eye result is right: false alarms on correct rendered cells
and misses on each input mistake, made alone on the same cells.

Per case: how many seeds the result was untrusted, and how many the cause was named (the
expected reason, or for mispaired captures the swapped pair among the suspects). Noise:
robot 0.1 mm and 0.01 deg per axis, images grey-level noise 4 after a 0.6 px blur.
"""

import argparse
import contextlib
import io

import _vemo
import numpy as np
from quorvantine.vemo.scenes import make_eye_to_hand_scene, make_hand_eye_scene

TARGET = (8, 6, 0.04, 0.03, "DICT_5X5_100")


def charuco(squares_x=8, squares_y=6, scale=1.0):
    return _vemo.CharucoTarget(squares_x, squares_y, TARGET[2] * scale, TARGET[3] * scale, TARGET[4])


def millimetres(poses):
    scaled = [pose.copy() for pose in poses]
    for pose in scaled:
        pose[:3, 3] *= 1000.0
    return scaled


def swapped(poses, a, b):
    poses = list(poses)
    poses[a], poses[b] = poses[b], poses[a]
    return poses


def named(result, expected):
    """Whether the verdict names the cause: a reason starting with the text, or the suspects."""
    if isinstance(expected, set):
        return {suspect.capture for suspect in result.verdict.suspects} == expected
    return any(reason.startswith(expected) for reason in result.verdict.reasons)


def cases(scene, calibrator_class):
    """(name, thunk giving the result, expected cause or None for correct data)."""
    robot, images = list(scene.robot_T_tcp_list), scene.images
    inverse = [np.linalg.inv(pose) for pose in robot]

    def run(robot_poses, target=None, cameras=()):
        return calibrator_class(target or charuco()).calibrate(robot_poses, images, "PARK", list(cameras))

    return [
        ("correct", lambda: run(robot), None),
        ("two captures swapped", lambda: run(swapped(robot, 2, 9)), {2, 9}),
        ("poses shifted by one", lambda: run(robot[1:] + robot[:1]), "robot poses look shifted"),
        ("square size 25 % large", lambda: run(robot, charuco(scale=1.25)), "the target's squares look like"),
        ("square size 5 % large", lambda: run(robot, charuco(scale=1.05)), "the target's squares look like"),
        ("ChArUco squares turned", lambda: run(robot, charuco(6, 8)), "ChArUco markers do not fit"),
        ("ChArUco off by one", lambda: run(robot, charuco(7, 5)), "ChArUco markers do not fit"),
        ("robot poses inverted", lambda: run(inverse), "robot poses look inverted"),
        ("camera poses inverted",
         lambda: run(robot, cameras=[np.linalg.inv(c) for c in scene.camera_T_target_list]),
         "camera poses look inverted"),
        ("robot in millimetres", lambda: run(millimetres(robot)), "robot translations look like millimetres"),
        ("target in millimetres", lambda: run(robot, charuco(scale=1000.0)),
         "camera_T_target translations look like millimetres"),
        ("robot inverted, in millimetres", lambda: run([np.linalg.inv(p) for p in millimetres(robot)]),
         "robot poses look inverted"),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seeds", type=int, default=20)
    parser.add_argument("--build-dir", help="given by scripts/run-benchmarks; the module is found on PYTHONPATH")
    args = parser.parse_args()
    for label, make, calibrator_class in [
            ("eye-in-hand", make_hand_eye_scene, _vemo.EyeInHandCalibrator),
            ("eye-to-hand", make_eye_to_hand_scene, _vemo.EyeToHandCalibrator)]:
        counts = {}
        for seed in range(args.seeds):
            scene = make(charuco(), count=14, image_size=(800, 600), seed=1000 + seed, image_noise=4.0)
            for name, thunk, expected in cases(scene, calibrator_class):
                with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()):
                    result = thunk()
                untrusted, right = counts.setdefault(name, [0, 0])
                counts[name] = [untrusted + (not result.verdict.trusted),
                                right + (expected is not None and not result.verdict.trusted and named(result, expected))]
        print(f"{label}, {args.seeds} seeds: untrusted / cause named")
        for name, (untrusted, right) in counts.items():
            print(f"  {name:<32}{untrusted:3d} / {right:3d}")


if __name__ == "__main__":
    main()

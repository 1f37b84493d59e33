"""Command-line entry points."""

import argparse

import numpy as np

import _vemo
from quorvantine.vemo import tf
from quorvantine.vemo.views import render_orbit


def _demo_pose_conversion() -> None:
    pose = [0.10, -0.05, 0.40, 15.0, -30.0, 45.0]
    back = tf.transformation_matrix_to_pose(tf.pose_to_transformation_matrix(pose))
    print("Pose [x, y, z, rx, ry, rz] (m, deg):", pose, "-> 4x4 -> back:", [round(v, 6) for v in back])


def _demo_intrinsic_calibration() -> None:
    true_K = np.array([[640.0, 0.0, 322.0], [0.0, 636.0, 238.0], [0.0, 0.0, 1.0]])
    true_dist = np.array([[-0.15, 0.06, 0.0005, -0.0004, 0.0]])
    target = _vemo.CharucoTarget(7, 5, 0.035, 0.026, "DICT_4X4_50")
    images = render_orbit(target, true_K, true_dist, (640, 480), count=12, distance=0.42)
    print(f"\nIntrinsic calibration of {len(images)} rendered 640x480 views of {target!r}:")
    result = _vemo.IntrinsicCalibrator(target).calibrate(images)
    if not result.ok:
        print("calibration failed")
        return
    K, dist = result.intrinsic_matrix, result.distortion_coefficients[0]
    rows = [("fx", true_K[0, 0], K[0, 0]), ("fy", true_K[1, 1], K[1, 1]), ("cx", true_K[0, 2], K[0, 2]),
            ("cy", true_K[1, 2], K[1, 2])]
    rows += [(name, true_dist[0, i], dist[i]) for i, name in enumerate(["k1", "k2", "p1", "p2", "k3"])]
    print(f"{'':4}{'true':>12}{'recovered':>12}")
    for name, truth, recovered in rows:
        print(f"{name:4}{truth:12.4f}{recovered:12.4f}")
    print(f"views used: {len(result.successful_indices)}, within {_vemo.IntrinsicOptions().per_view_error_threshold}"
          f" px: {len(result.low_view_error_indices)}, mean reprojection error {result.reprojection_error:.4f} px")


def run_demo(_args: argparse.Namespace) -> int:
    _demo_pose_conversion()
    _demo_intrinsic_calibration()
    return 0


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m quorvantine.vemo",
                                     description="Camera calibration for robot cells.")
    commands = parser.add_subparsers(dest="command", required=True)
    demo = commands.add_parser("demo", help="run the built-in example")
    demo.set_defaults(handler=run_demo)
    args = parser.parse_args(argv)
    return args.handler(args)

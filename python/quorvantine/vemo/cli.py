"""Command-line entry points."""

import argparse

import numpy as np

from quorvantine.vemo import tf


def run_demo(_args: argparse.Namespace) -> int:
    pose = [0.10, -0.05, 0.40, 15.0, -30.0, 45.0]
    matrix = tf.pose_to_transformation_matrix(pose)
    print("Pose [x, y, z, rx, ry, rz] (m, deg):", pose)
    print("As a 4x4 transform:")
    print(np.array2string(matrix, precision=6, suppress_small=True))
    print("Back to a pose:", [round(v, 6) for v in tf.transformation_matrix_to_pose(matrix)])
    return 0


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m quorvantine.vemo",
                                     description="Camera calibration for robot cells.")
    commands = parser.add_subparsers(dest="command", required=True)
    demo = commands.add_parser("demo", help="run the built-in example")
    demo.set_defaults(handler=run_demo)
    args = parser.parse_args(argv)
    return args.handler(args)

"""Robot poses from a file of the user's (--poses) instead of DATA_DIR/calibration_data.npz,
and the keys of that archive named when it lacks its poses."""

import argparse
import pathlib
import zipfile

import _vemo
import numpy as np
from quorvantine.vemo.commands.numbered_images import numbered_images
from quorvantine.vemo.pose_layouts import pose_layout
from quorvantine.vemo.robot_poses import UNIT_SCALES, load_robot_poses

POSE_ARCHIVE = "calibration_data.npz"


def pose_format_name(text: str) -> str:
    try:
        pose_layout(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error).removeprefix("robot poses: "))
    return text


def add_pose_file_arguments(parser: argparse.ArgumentParser) -> None:
    poses = parser.add_argument_group("robot poses from a file")
    poses.add_argument("--poses", metavar="FILE",
                       help=f"read the robot poses base_T_tcp from FILE (.csv, .yaml, .yml or .json, one pose per "
                            f"row, in the order of the images) instead of DATA_DIR/{POSE_ARCHIVE}; the images "
                            "still come from DATA_DIR")
    poses.add_argument("--pose-format", type=pose_format_name, metavar="FORMAT",
                       help="with --poses: what a row holds: matrix (16 numbers, row by row; the default), "
                            "xyz-quat-xyzw, xyz-quat-wxyz, xyz-rotvec (radians), "
                            "xyz-euler:AXES:intrinsic|extrinsic:deg|rad (such as xyz-euler:ZYX:intrinsic:deg) or "
                            "kuka-abc (KUKA's A, B, C: about Z, Y', X'', degrees)")
    poses.add_argument("--pose-units", choices=tuple(UNIT_SCALES),
                       help="with --poses: the unit of the positions in FILE (default m)")
    poses.add_argument("--pose-inverse", action="store_true",
                       help="with --poses: the rows are tcp_T_base, the inverse of base_T_tcp")
    parser.set_defaults(pose_parser=parser)


def check_pose_file_arguments(args: argparse.Namespace) -> None:
    # Without --poses they would be ignored without a word.
    if args.poses is None and (args.pose_format is not None or args.pose_units is not None or args.pose_inverse):
        args.pose_parser.error("--pose-format, --pose-units and --pose-inverse need --poses")


def captures_with_pose_file(args: argparse.Namespace) -> tuple[list, list]:
    """(images, robot_T_tcp_list): the poses of --poses and DATA_DIR's image_00 .. image_NN, one per pose."""
    robot_T_tcp_list = load_robot_poses(args.poses, args.pose_format or "matrix", args.pose_units or "m",
                                        args.pose_inverse)
    extension = "." + args.image_format
    files = numbered_images(pathlib.Path(args.data_dir), (extension.lower(),))
    captures = [f"image_{index:02d}" for index in range(len(robot_T_tcp_list))]
    if len(files) != len(captures):
        raise ValueError(f"{args.data_dir} holds {len(files)} images (image_NN{extension}) but {args.poses} holds "
                         f"{len(captures)} robot poses; every pose needs its image")
    missing = next((capture for capture in captures if capture not in files), None)
    if missing is not None:
        raise ValueError(f"{args.data_dir} has no {missing}{extension}: the {len(captures)} robot poses of "
                         f"{args.poses} go with image_00{extension} to {captures[-1]}{extension}")
    images, _ = _vemo.io.load_images([str(files[capture]) for capture in captures])
    return images, robot_T_tcp_list


def with_archive_keys(error: RuntimeError, data_dir: str) -> RuntimeError:
    """The library's error, with the archive's keys added when it lacks the pose entry: a
    capture script that saved its poses under another name learns which."""
    if not str(error).startswith("npz: entry '"):
        return error
    try:
        with np.load(pathlib.Path(data_dir) / POSE_ARCHIVE) as archive:
            keys = archive.files
    except (OSError, ValueError, zipfile.BadZipFile):  # what the library read, NumPy may not: its words stand
        return error
    return RuntimeError(f"{error}; keys found: {', '.join(keys) or 'none'}")

"""Loading the hand-eye dataset directory that several commands read."""

import argparse

import _vemo
from quorvantine.vemo.commands.pose_file_options import (add_pose_file_arguments, captures_with_pose_file,
                                                         check_pose_file_arguments, with_archive_keys)


def add_dataset_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("data_dir", metavar="DATA_DIR", help="the dataset directory")
    parser.add_argument("--image-format", default="png", help="image file extension (default png)")
    add_pose_file_arguments(parser)


def load_captures(args: argparse.Namespace) -> tuple[list, list]:
    """(images, robot_T_tcp_list) of DATA_DIR (the poses from --poses when given), at least one, one robot
    pose per image; ValueError otherwise."""
    check_pose_file_arguments(args)
    if args.poses is not None:
        return captures_with_pose_file(args)
    try:
        images, robot_T_tcp_list = _vemo.io.load_hand_eye_dataset(args.data_dir, args.image_format)
    except RuntimeError as error:
        raise with_archive_keys(error, args.data_dir) from None
    if not robot_T_tcp_list:
        # Not a target that was not found, as a calibration of nothing would go on to say.
        raise ValueError(f"{args.data_dir} holds no captures: its calibration_data.npz has 0 robot poses")
    if len(images) != len(robot_T_tcp_list):
        raise ValueError(f"{args.data_dir} holds {len(robot_T_tcp_list)} robot poses but {len(images)} images; "
                         f"every pose needs its image_NN.{args.image_format}")
    return images, robot_T_tcp_list

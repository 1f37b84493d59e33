"""`eye-to-hand DATA_DIR`: calibration of a camera fixed in the cell, with the target on the
flange, from a saved dataset directory."""

import argparse

import _vemo
from quorvantine.vemo.commands.export_output import HAND_EYE_FORMATS, add_export_option, export_beside
from quorvantine.vemo.commands.hand_eye_dataset import (add_hand_eye_arguments, add_refine_arguments,
                                                        calibrate_dataset, check_refine_arguments, refine_solved)


def run(args: argparse.Namespace) -> int:
    check_refine_arguments(args)
    transforms = ("base_T_camera", "tcp_T_target")
    calibrator, result, code = calibrate_dataset(args, "Eye-to-hand calibration", _vemo.EyeToHandCalibrator,
                                                 transforms)
    if not result.ok:
        return code
    code = refine_solved(args, calibrator, code, transforms, "eye_to_hand.json")
    # A failed refinement (exit code 1) saved no refined file.
    export_beside(args, args.output or args.data_dir, "eye_to_hand.json", args.refine and code != 1)
    return code


def add_command(commands) -> None:
    eye_to_hand = commands.add_parser(
        "eye-to-hand", help="eye-to-hand calibration (fixed camera, target on the flange) of a dataset directory",
        description="Calibrates base_T_camera (the fixed camera in the robot base frame) and tcp_T_target (the "
                    "target on the flange) from a dataset directory laid out as for hand-eye (image_00.png, ... "
                    "and calibration_data.npz with the robot_T_tcp poses), prints the report and saves "
                    "eye_to_hand.json. The camera intrinsics are calibrated from the same images unless "
                    "--intrinsics gives them. Lengths are in metres.")
    # PARK: on rendered fixed-camera cells every corrected solver came within 2 mm and 0.2 deg,
    # PARK (with HORAUD) with the smallest worst case; unlike TSAI it needs no motions of 17 to
    # 116 degrees between captures, which a fixed camera's narrow view often cannot give.
    add_hand_eye_arguments(eye_to_hand, "eye_to_hand.json", "PARK")
    add_export_option(eye_to_hand, "eye_to_hand.json", HAND_EYE_FORMATS)
    add_refine_arguments(eye_to_hand, "base_T_camera and tcp_T_target", "eye_to_hand.json")
    eye_to_hand.set_defaults(handler=run)

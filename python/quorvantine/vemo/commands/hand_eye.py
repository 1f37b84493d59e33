"""`hand-eye DATA_DIR`: eye-in-hand calibration of a saved dataset directory."""

import argparse

import _vemo
from quorvantine.vemo.commands.hand_eye_dataset import (add_hand_eye_arguments, add_refine_arguments,
                                                        calibrate_dataset, check_refine_arguments, refine_solved)


def run(args: argparse.Namespace) -> int:
    check_refine_arguments(args)
    calibrator, result, code = calibrate_dataset(args, "Hand-eye calibration", _vemo.EyeInHandCalibrator,
                                                 ("tcp_T_camera",))
    if not result.ok:
        return code
    return refine_solved(args, calibrator, code, ("tcp_T_camera", "base_T_target"), "hand_eye.json")


def add_command(commands) -> None:
    hand_eye = commands.add_parser(
        "hand-eye", help="eye-in-hand calibration of a dataset directory",
        description="Calibrates the camera-on-flange transform tcp_T_camera from a dataset directory "
                    "(image_00.png, image_01.png, ... and calibration_data.npz with the robot_T_tcp poses, as "
                    "io.save_hand_eye_dataset writes it), prints the report and saves hand_eye.json. The camera "
                    "intrinsics are calibrated from the same images. Lengths are in metres.")
    add_hand_eye_arguments(hand_eye, "hand_eye.json", "TSAI")
    add_refine_arguments(hand_eye, "tcp_T_camera", "hand_eye.json")
    hand_eye.set_defaults(handler=run)

"""`hand-eye DATA_DIR`: eye-in-hand calibration of a saved dataset directory."""

import argparse

import _vemo
from quorvantine.vemo.commands.export_output import HAND_EYE_FORMATS, add_export_option, export_beside
from quorvantine.vemo.commands.hand_eye_dataset import (add_hand_eye_arguments, add_refine_arguments,
                                                        calibrate_dataset, check_refine_arguments, refine_solved)


def run(args: argparse.Namespace) -> int:
    check_refine_arguments(args)
    calibrator, result, code = calibrate_dataset(args, "Hand-eye calibration", _vemo.EyeInHandCalibrator,
                                                 ("tcp_T_camera",))
    if not result.ok:
        return code
    code = refine_solved(args, calibrator, code, ("tcp_T_camera", "base_T_target"), "hand_eye.json")
    # A failed refinement (exit code 1) saved no refined file.
    export_beside(args, args.output or args.data_dir, "hand_eye.json", args.refine and code != 1)
    return code


def add_command(commands) -> None:
    hand_eye = commands.add_parser(
        "hand-eye", help="eye-in-hand calibration of a dataset directory",
        description="Calibrates the camera-on-flange transform tcp_T_camera from a dataset directory "
                    "(image_00.png, image_01.png, ... and calibration_data.npz with the robot_T_tcp poses, as "
                    "io.save_hand_eye_dataset writes it), prints the report and saves hand_eye.json. The camera "
                    "intrinsics are calibrated from the same images unless --intrinsics gives them. Lengths are in "
                    "metres.")
    add_hand_eye_arguments(hand_eye, "hand_eye.json", "TSAI")
    add_export_option(hand_eye, "hand_eye.json", HAND_EYE_FORMATS)
    add_refine_arguments(hand_eye, "tcp_T_camera", "hand_eye.json")
    hand_eye.set_defaults(handler=run)

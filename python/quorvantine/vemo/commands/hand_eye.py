"""`hand-eye DATA_DIR`: eye-in-hand calibration of a saved dataset directory."""

import argparse

import _vemo
from quorvantine.vemo.commands import report_data
from quorvantine.vemo.commands.hand_eye_dataset import add_hand_eye_arguments, calibrate_dataset
from quorvantine.vemo.commands.number_options import positive


def run(args: argparse.Namespace) -> int:
    # Options that only tune the refinement would otherwise be ignored without a word.
    if not args.refine and (args.refine_intrinsics or args.loss_scale is not None):
        args.target_parser.error("--refine-intrinsics and --loss-scale need --refine")
    calibrator, result, code = calibrate_dataset(args, "Hand-eye calibration", _vemo.EyeInHandCalibrator,
                                                 ("tcp_T_camera",))
    if not result.ok:
        return code
    if args.refine:
        refinement = calibrator.refine(refine_intrinsics=args.refine_intrinsics, loss_scale_px=1.0 if args.loss_scale is None else args.loss_scale)
        print(calibrator.format_refinement(), end="")
        args.outcome.report["refinement"] = report_data.refinement(refinement)
        if not refinement.ok:
            return 1
    return code


def add_command(commands) -> None:
    hand_eye = commands.add_parser(
        "hand-eye", help="eye-in-hand calibration of a dataset directory",
        description="Calibrates the camera-on-flange transform tcp_T_camera from a dataset directory "
                    "(image_00.png, image_01.png, ... and calibration_data.npz with the robot_T_tcp poses, as "
                    "io.save_hand_eye_dataset writes it), prints the report and saves hand_eye.json. The camera "
                    "intrinsics are calibrated from the same images. Lengths are in metres.")
    add_hand_eye_arguments(hand_eye, "hand_eye.json")
    hand_eye.add_argument("--refine", action="store_true",
                          help="then refine tcp_T_camera jointly against the corner pixels and print the refined "
                               "transform with its 1-sigma uncertainty (hand_eye.json keeps the closed-form result)")
    hand_eye.add_argument("--refine-intrinsics", action="store_true",
                          help="with --refine: also refine the camera matrix and distortion")
    hand_eye.add_argument("--loss-scale", type=positive, metavar="PX",
                          help="with --refine: Huber loss scale in pixels (default 1.0)")
    hand_eye.set_defaults(handler=run)

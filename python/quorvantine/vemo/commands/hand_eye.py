"""`hand-eye DATA_DIR`: eye-in-hand calibration of a saved dataset directory."""

import argparse

import _vemo
from quorvantine.vemo.commands.dataset import add_dataset_arguments, load_captures
from quorvantine.vemo.commands.target_options import add_target_arguments, build_target


def run(args: argparse.Namespace) -> int:
    target = build_target(args)
    images, robot_T_tcp_list = load_captures(args)
    # The report itself names neither: say which solver ran on how much data.
    print(f"Hand-eye calibration: method {args.method}, {len(images)} captures", flush=True)
    calibrator = _vemo.EyeInHandCalibrator(target)
    result = calibrator.calibrate(robot_T_tcp_list, images, args.method, output_path=args.output or args.data_dir)
    return 0 if result.ok else 1


def add_command(commands) -> None:
    hand_eye = commands.add_parser(
        "hand-eye", help="eye-in-hand calibration of a dataset directory",
        description="Calibrates the camera-on-flange transform tcp_T_camera from a dataset directory "
                    "(image_00.png, image_01.png, ... and calibration_data.npz with the robot_T_tcp poses, as "
                    "io.save_hand_eye_dataset writes it), prints the report and saves hand_eye.json. The camera "
                    "intrinsics are calibrated from the same images. Lengths are in metres.")
    add_dataset_arguments(hand_eye)
    add_target_arguments(hand_eye)
    hand_eye.add_argument("--method", default="TSAI", choices=sorted(_vemo.hand_eye_method_by_name_map()),
                          help="hand-eye solver (default TSAI)")
    hand_eye.add_argument("--output", metavar="OUT",
                          help="where to save hand_eye.json: a directory, or a file path ending in .json "
                               "(default DATA_DIR)")
    hand_eye.set_defaults(handler=run)

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
    if not result.ok:
        return 1
    if args.refine:
        refinement = calibrator.refine(refine_intrinsics=args.refine_intrinsics, loss_scale_px=args.loss_scale)
        print(calibrator.format_refinement(), end="")
        return 0 if refinement.ok else 1
    return 0


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
    hand_eye.add_argument("--refine", action="store_true",
                          help="then refine tcp_T_camera jointly against the corner pixels and print the refined "
                               "transform with its 1-sigma uncertainty (hand_eye.json keeps the closed-form result)")
    hand_eye.add_argument("--refine-intrinsics", action="store_true",
                          help="with --refine: also refine the camera matrix and distortion")
    hand_eye.add_argument("--loss-scale", type=float, default=1.0, metavar="PX",
                          help="with --refine: Huber loss scale in pixels (default 1.0)")
    hand_eye.set_defaults(handler=run)

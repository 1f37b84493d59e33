"""Command line: `python -m quorvantine.vemo demo` and `python -m quorvantine.vemo hand-eye DATA_DIR`."""

import argparse
import sys

import _vemo

TARGET_KINDS = ("charuco", "chessboard", "aruco")


def build_target(args: argparse.Namespace):
    if args.target == "chessboard":
        return _vemo.ChessboardTarget((args.cols, args.rows), args.square_size)
    if args.target == "charuco":
        return _vemo.CharucoTarget(args.squares_x, args.squares_y, args.square_size, args.marker_size,
                                   args.dictionary)
    return _vemo.ArucoTarget((args.markers_x, args.markers_y), args.marker_size, args.marker_separation,
                             args.dictionary)


def run_hand_eye(args: argparse.Namespace) -> int:
    target = build_target(args)
    images, robot_T_tcp_list = _vemo.io.load_hand_eye_dataset(args.data_dir, args.image_format)
    if len(images) != len(robot_T_tcp_list):
        print(f"error: {args.data_dir} holds {len(robot_T_tcp_list)} robot poses but {len(images)} images; "
              f"every pose needs its image_NN.{args.image_format}", file=sys.stderr)
        return 2
    calibrator = _vemo.EyeInHandCalibrator(target)
    result = calibrator.calibrate(robot_T_tcp_list, images, args.method, output_path=args.output or args.data_dir)
    return 0 if result.ok else 1


def run_demo(_args: argparse.Namespace) -> int:
    from quorvantine.vemo import demo
    return demo.run()


def add_hand_eye_command(commands) -> None:
    hand_eye = commands.add_parser(
        "hand-eye", help="eye-in-hand calibration of a dataset directory",
        description="Calibrates the camera-on-flange transform tcp_T_camera from a dataset directory "
                    "(image_00.png, image_01.png, ... and calibration_data.npz with the robot_T_tcp poses, as "
                    "io.save_hand_eye_dataset writes it), prints the report and saves hand_eye.json. The camera "
                    "intrinsics are calibrated from the same images. Lengths are in metres.")
    hand_eye.add_argument("data_dir", metavar="DATA_DIR", help="the dataset directory")
    hand_eye.add_argument("--target", choices=TARGET_KINDS, default="charuco", help="kind of target (default charuco)")
    hand_eye.add_argument("--squares-x", type=int, default=10, help="charuco: squares along x (default 10)")
    hand_eye.add_argument("--squares-y", type=int, default=7, help="charuco: squares along y (default 7)")
    hand_eye.add_argument("--cols", type=int, default=9, help="chessboard: inner corners per row (default 9)")
    hand_eye.add_argument("--rows", type=int, default=6, help="chessboard: inner corners per column (default 6)")
    hand_eye.add_argument("--markers-x", type=int, default=5, help="aruco: markers along x (default 5)")
    hand_eye.add_argument("--markers-y", type=int, default=7, help="aruco: markers along y (default 7)")
    hand_eye.add_argument("--square-size", type=float, default=0.03,
                          help="chessboard and charuco: square edge in metres (default 0.03)")
    hand_eye.add_argument("--marker-size", type=float, default=0.022,
                          help="charuco and aruco: marker edge in metres (default 0.022)")
    hand_eye.add_argument("--marker-separation", type=float, default=0.005,
                          help="aruco: gap between markers in metres (default 0.005)")
    hand_eye.add_argument("--dictionary", default="DICT_4X4_1000", choices=sorted(_vemo.aruco_dictionary_id_map()),
                          metavar="NAME", help="charuco and aruco: ArUco dictionary name (default DICT_4X4_1000)")
    hand_eye.add_argument("--method", default="TSAI", choices=sorted(_vemo.hand_eye_method_by_name_map()),
                          help="hand-eye solver (default TSAI)")
    hand_eye.add_argument("--image-format", default="png", help="image file extension (default png)")
    hand_eye.add_argument("--output", metavar="OUT",
                          help="where to save hand_eye.json: a directory, or a file path ending in .json "
                               "(default DATA_DIR)")
    hand_eye.set_defaults(handler=run_hand_eye)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m quorvantine.vemo",
                                     description="Camera calibration for robot cells.")
    commands = parser.add_subparsers(dest="command", required=True)
    commands.add_parser("demo", help="run the built-in example on rendered images").set_defaults(handler=run_demo)
    add_hand_eye_command(commands)
    args = parser.parse_args(argv)
    try:
        return args.handler(args)
    except (ValueError, RuntimeError) as error:
        print(f"error: {error}", file=sys.stderr)
        return 2

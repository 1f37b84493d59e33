"""The target options that every command on captured images shares. The board's sizes have
no defaults: a command that calibrates against the wrong board finds nothing or, worse,
a wrong scale, so the user states them."""

import argparse
import sys

import _vemo
from quorvantine.vemo.commands.number_options import integer

TARGET_KINDS = ("charuco", "chessboard", "aruco")

# The options each kind of target needs, by their attribute names.
REQUIRED_SIZES = {
    "charuco": ("squares_x", "squares_y", "square_size", "marker_size"),
    "chessboard": ("cols", "rows", "square_size"),
    "aruco": ("markers_x", "markers_y", "marker_size", "marker_separation"),
}


def add_target_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--target", choices=TARGET_KINDS, default="charuco", help="kind of target (default charuco)")
    parser.add_argument("--squares-x", type=integer, help="charuco: squares along x")
    parser.add_argument("--squares-y", type=integer, help="charuco: squares along y")
    parser.add_argument("--cols", type=integer, help="chessboard: inner corners per row")
    parser.add_argument("--rows", type=integer, help="chessboard: inner corners per column")
    parser.add_argument("--markers-x", type=integer, help="aruco: markers along x")
    parser.add_argument("--markers-y", type=integer, help="aruco: markers along y")
    parser.add_argument("--square-size", type=float, help="chessboard and charuco: square edge in metres")
    parser.add_argument("--marker-size", type=float, help="charuco and aruco: marker edge in metres")
    parser.add_argument("--marker-separation", type=float, help="aruco: gap between markers in metres")
    parser.add_argument("--dictionary", default="DICT_4X4_1000", choices=sorted(_vemo.aruco_dictionary_id_map()),
                        metavar="NAME", help="charuco and aruco: ArUco dictionary name (default DICT_4X4_1000)")
    parser.set_defaults(target_parser=parser)


def option_name(attribute: str) -> str:
    return "--" + attribute.replace("_", "-")


def build_target(args: argparse.Namespace):
    """The target the options describe; a usage error (exit code 2) when a size is missing."""
    missing = [option_name(name) for name in REQUIRED_SIZES[args.target] if getattr(args, name) is None]
    if missing:
        args.target_parser.error(f"--target {args.target} needs {', '.join(missing)}")
    if args.target == "chessboard":
        return _vemo.ChessboardTarget((args.cols, args.rows), args.square_size)
    if args.target == "charuco":
        return _vemo.CharucoTarget(args.squares_x, args.squares_y, args.square_size, args.marker_size,
                                   args.dictionary)
    return _vemo.ArucoTarget((args.markers_x, args.markers_y), args.marker_size, args.marker_separation,
                             args.dictionary)


def describe_target(args: argparse.Namespace) -> str:
    if args.target == "chessboard":
        return f"a chessboard of {args.cols} x {args.rows} inner corners, {args.square_size} m squares"
    if args.target == "charuco":
        return (f"a ChArUco board of {args.squares_x} x {args.squares_y} squares ({args.square_size} m squares, "
                f"{args.marker_size} m markers, dictionary {args.dictionary})")
    return (f"an ArUco grid of {args.markers_x} x {args.markers_y} markers ({args.marker_size} m markers, "
            f"{args.marker_separation} m apart, dictionary {args.dictionary})")


# Views a calibration needs before it can solve anything: the same number as the library's
# eye_in_hand::kMinimumCaptures (vemo/calibration/hand_eye/eye_in_hand_limits.hpp).
MINIMUM_VIEWS = 4


def print_no_detection_hint(args: argparse.Namespace, image_count: int, found_count: int = 0) -> None:
    """Says what was looked for when too few images showed it, and which options to check."""
    options = ["--target"] + [option_name(name) for name in REQUIRED_SIZES[args.target]]
    if args.target != "chessboard":
        options.append("--dictionary")
    found = (f"not found in any of the {image_count} images" if found_count == 0 else
             f"found in only {found_count} of the {image_count} images (a calibration needs at least {MINIMUM_VIEWS})")
    print(f"error: the target was {found}; looked for {describe_target(args)}. Check {', '.join(options)}.",
          file=sys.stderr)

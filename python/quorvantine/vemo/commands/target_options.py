"""The target options that every command on captured images shares."""

import argparse

import _vemo

TARGET_KINDS = ("charuco", "chessboard", "aruco")


def add_target_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--target", choices=TARGET_KINDS, default="charuco", help="kind of target (default charuco)")
    parser.add_argument("--squares-x", type=int, default=10, help="charuco: squares along x (default 10)")
    parser.add_argument("--squares-y", type=int, default=7, help="charuco: squares along y (default 7)")
    parser.add_argument("--cols", type=int, default=9, help="chessboard: inner corners per row (default 9)")
    parser.add_argument("--rows", type=int, default=6, help="chessboard: inner corners per column (default 6)")
    parser.add_argument("--markers-x", type=int, default=5, help="aruco: markers along x (default 5)")
    parser.add_argument("--markers-y", type=int, default=7, help="aruco: markers along y (default 7)")
    parser.add_argument("--square-size", type=float, default=0.03,
                        help="chessboard and charuco: square edge in metres (default 0.03)")
    parser.add_argument("--marker-size", type=float, default=0.022,
                        help="charuco and aruco: marker edge in metres (default 0.022)")
    parser.add_argument("--marker-separation", type=float, default=0.005,
                        help="aruco: gap between markers in metres (default 0.005)")
    parser.add_argument("--dictionary", default="DICT_4X4_1000", choices=sorted(_vemo.aruco_dictionary_id_map()),
                        metavar="NAME", help="charuco and aruco: ArUco dictionary name (default DICT_4X4_1000)")


def build_target(args: argparse.Namespace):
    if args.target == "chessboard":
        return _vemo.ChessboardTarget((args.cols, args.rows), args.square_size)
    if args.target == "charuco":
        return _vemo.CharucoTarget(args.squares_x, args.squares_y, args.square_size, args.marker_size,
                                   args.dictionary)
    return _vemo.ArucoTarget((args.markers_x, args.markers_y), args.marker_size, args.marker_separation,
                             args.dictionary)

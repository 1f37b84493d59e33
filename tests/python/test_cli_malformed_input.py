"""Malformed command lines end in one "error:" line and exit code 2, never in a traceback."""

import numpy as np
import pytest
from quorvantine.vemo.cli import main

CHESSBOARD = ["--target", "chessboard", "--cols", "9", "--rows", "6", "--square-size", "0.03"]
NOT_UTF8 = b"\xff".decode("utf-8", "surrogateescape")  # how Python hands over such a byte of argv
INT_RANGE = "must be an integer from -2147483648 to 2147483647, got 3000000000"
POSITIVE = "must be a finite number above 0, got "


@pytest.fixture
def no_captures(tmp_path):
    """A dataset directory whose pose archive holds no robot poses."""
    np.savez(tmp_path / "calibration_data.npz", robot_T_tcp_list=np.zeros((0, 4, 4)))
    return tmp_path


@pytest.mark.parametrize("argv, error", [
    (["hand-eye", "{data}", *CHESSBOARD, "--cols", "3000000000"], f"argument --cols: {INT_RANGE}"),
    (["compare", "{data}", "--target", "charuco", "--squares-x", "3000000000", "--squares-y", "5",
      "--square-size", "0.03", "--marker-size", "0.02"], f"argument --squares-x: {INT_RANGE}"),
    (["intrinsic", "{data}", "--target", "aruco", "--markers-x", "4", "--markers-y", "3000000000",
      "--marker-size", "0.03", "--marker-separation", "0.01"], f"argument --markers-y: {INT_RANGE}"),
    (["rig", "{data}", *CHESSBOARD, "--reference", "3000000000"], f"argument --reference: {INT_RANGE}"),
    (["rig", "{data}", *CHESSBOARD, "--subsets", "2,3000000000"],
     "argument --subsets: expected camera counts separated by commas, such as 2,3; got '2,3000000000'"),
    (["intrinsic", "{data}", *CHESSBOARD, "--threshold", "nan"], f"argument --threshold: {POSITIVE}nan"),
    (["intrinsic", "{data}", *CHESSBOARD, "--threshold", "-1"], f"argument --threshold: {POSITIVE}-1"),
    (["hand-eye", "{data}", *CHESSBOARD, "--refine", "--loss-scale", "inf"], f"argument --loss-scale: {POSITIVE}inf"),
    (["compare", "{data}", *CHESSBOARD, "--consensus-threshold-deg", "nan"],
     f"argument --consensus-threshold-deg: {POSITIVE}nan"),
    (["intrinsic", f"{NOT_UTF8}.png", *CHESSBOARD], "b'\\xff.png' is not UTF-8; file names and values must be UTF-8 text"),
    (["hand-eye", "{data}", *CHESSBOARD, "--image-format", NOT_UTF8],
     "b'\\xff' is not UTF-8; file names and values must be UTF-8 text"),
    (["benchmark", "{data}", *CHESSBOARD, "--backend-name", f"rig {NOT_UTF8}"],
     "b'rig \\xff' is not UTF-8; file names and values must be UTF-8 text"),
    (["eye-to-hand", "{data}", *CHESSBOARD], "{data} holds no captures: its calibration_data.npz has 0 robot poses"),
    (["benchmark", "{data}", *CHESSBOARD], "{data} holds no captures: its calibration_data.npz has 0 robot poses"),
])
def test_malformed_input_ends_in_one_error_line(argv, error, no_captures, capsys):
    argv = [part.format(data=no_captures) for part in argv]
    try:
        code = main(argv)
    except SystemExit as exit_info:  # a usage error
        code = exit_info.code
    assert code == 2
    err = capsys.readouterr().err
    assert "Traceback" not in err
    error_lines = [line for line in err.splitlines() if "error:" in line]
    assert len(error_lines) == 1
    assert error_lines[0].endswith(f"error: {error.format(data=no_captures)}")

"""IntrinsicCalibrator.calibrate from Python against the same OpenCV calls made directly in C++.

Renders 20 views at 1280x960 of a chessboard and of a ChArUco board, writes them as PNG
for the C++ baseline (bench/intrinsic_calibrate_baseline.cpp), and times both on the same
pixels: the median of several full runs each. The ratio is library time / baseline time.
"""

import argparse
import pathlib
import statistics
import struct
import subprocess
import tempfile
import time
import zlib

import numpy as np

import _vemo
from quorvantine.vemo.views import render_orbit

IMAGE_SIZE = (1280, 960)
CAMERA_MATRIX = np.array([[1210.0, 0.0, 645.0], [0.0, 1205.0, 476.0], [0.0, 0.0, 1.0]])
DIST_COEFFS = np.array([[-0.12, 0.05, 0.0006, -0.0004, 0.0]])
VIEWS = 20
REPEATS = 5


def write_png(path: pathlib.Path, bgr: np.ndarray) -> None:
    """8-bit RGB PNG of a BGR image (no filtering), so the baseline reads the very same pixels."""
    height, width, _ = bgr.shape
    raw = b"".join(b"\x00" + row.tobytes() for row in np.ascontiguousarray(bgr[:, :, ::-1]))

    def chunk(kind: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 1))
                     + chunk(b"IEND", b""))


def time_library(target, images) -> tuple[float, float]:
    seconds, error = [], 0.0
    for _ in range(REPEATS):
        start = time.perf_counter()
        result = _vemo.IntrinsicCalibrator(target).calibrate(images)
        seconds.append(time.perf_counter() - start)
        error = result.reprojection_error
    return statistics.median(seconds), error


def time_baseline(program: pathlib.Path, images, arguments: list[str]) -> tuple[float, float]:
    with tempfile.TemporaryDirectory() as directory:
        for index, image in enumerate(images):
            write_png(pathlib.Path(directory) / f"{index:03d}.png", image)
        output = subprocess.run([str(program), directory, str(REPEATS), *arguments], check=True,
                                capture_output=True, text=True).stdout.split()
    return float(output[0]), float(output[1])


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build-dir", default="build/dev", type=pathlib.Path)
    program = parser.parse_args().build_dir / "intrinsic_calibrate_baseline"

    cases = [
        ("chessboard 9x6", _vemo.ChessboardTarget((9, 6), 0.03), ["chessboard", "9", "6", "0.03"]),
        ("ChArUco 9x7", _vemo.CharucoTarget(9, 7, 0.03, 0.022, "DICT_5X5_100"),
         ["charuco", "9", "7", "0.03", "0.022", "5"]),
    ]
    print(f"IntrinsicCalibrator.calibrate, {VIEWS} views {IMAGE_SIZE[0]}x{IMAGE_SIZE[1]}, median of {REPEATS}")
    print(f"{'target':16}{'library s':>11}{'baseline s':>12}{'ratio':>8}{'error lib':>11}{'error base':>12}")
    for name, target, arguments in cases:
        images = render_orbit(target, CAMERA_MATRIX, DIST_COEFFS, IMAGE_SIZE, VIEWS, distance=0.55)
        library, library_error = time_library(target, images)
        baseline, baseline_error = time_baseline(program, images, arguments)
        print(f"{name:16}{library:11.4f}{baseline:12.4f}{library / baseline:8.3f}{library_error:11.5f}"
              f"{baseline_error:12.5f}")


if __name__ == "__main__":
    main()

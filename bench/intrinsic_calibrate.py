"""IntrinsicCalibrator.calibrate from Python against the same OpenCV calls made directly in C++.

Renders 20 views at 1280x960 of a chessboard and of a ChArUco board, writes them as PNG
for the C++ baseline (bench/intrinsic_calibrate_baseline.cpp), and times both on the same
pixels, alternating run by run so that load from other processes falls on both alike. The
ratio is library time / baseline time; the library's time includes copying the images in
from NumPy.

Both run OpenCV single-threaded, so that all the work happens on the calling thread and its
CPU time measures the work even while other processes compete for the cores (wall time then
mostly measures the competition); the table gives both clocks.
"""

import os

os.environ["OPENCV_FOR_THREADS_NUM"] = "1"  # read when OpenCV loads, here and in the baseline

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
from quorvantine.vemo.scenes import render_orbit

IMAGE_SIZE = (1280, 960)
CAMERA_MATRIX = np.array([[1210.0, 0.0, 645.0], [0.0, 1205.0, 476.0], [0.0, 0.0, 1.0]])
DIST_COEFFS = np.array([[-0.12, 0.05, 0.0006, -0.0004, 0.0]])
VIEWS = 20
ROUNDS = 9


def write_png(path: pathlib.Path, bgr: np.ndarray) -> None:
    """8-bit RGB PNG of a BGR image (no filtering), so the baseline reads the very same pixels."""
    height, width, _ = bgr.shape
    raw = b"".join(b"\x00" + row.tobytes() for row in np.ascontiguousarray(bgr[:, :, ::-1]))

    def chunk(kind: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 1))
                     + chunk(b"IEND", b""))


def time_both(program: pathlib.Path, target, images, arguments: list[str]):
    """Seconds per run (wall and thread CPU) and the mean reprojection error of the library and
    of the baseline."""
    library, baseline = {"wall": [], "cpu": []}, {"wall": [], "cpu": []}
    with tempfile.TemporaryDirectory() as directory:
        for index, image in enumerate(images):
            write_png(pathlib.Path(directory) / f"{index:03d}.png", image)
        _vemo.IntrinsicCalibrator(target).calibrate(images)  # warm-up, as the baseline does
        for _ in range(ROUNDS):
            wall, cpu = time.perf_counter(), time.thread_time()
            library_error = _vemo.IntrinsicCalibrator(target).calibrate(images).reprojection_error
            library["cpu"].append(time.thread_time() - cpu)
            library["wall"].append(time.perf_counter() - wall)
            output = subprocess.run([str(program), directory, "1", *arguments], check=True, capture_output=True,
                                    text=True).stdout.split()
            baseline["wall"].append(float(output[0]))
            baseline["cpu"].append(float(output[1]))
            baseline_error = float(output[2])
    return library, baseline, library_error, baseline_error


def time_conversion(images) -> float:
    """Median CPU seconds of converting the images into a call: the arguments are deep-copied
    before the call runs, and an unknown chessboard detector is refused at the first image,
    before any detection."""
    options = _vemo.IntrinsicOptions()
    options.chessboard_corner_detector = "none"
    calibrator = _vemo.IntrinsicCalibrator(_vemo.ChessboardTarget((9, 6), 0.03), options)
    seconds = []
    for _ in range(ROUNDS):
        cpu = time.thread_time()
        try:
            calibrator.find_corners(images)
        except ValueError:
            pass
        seconds.append(time.thread_time() - cpu)
    return statistics.median(seconds)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build-dir", default="build/dev", type=pathlib.Path)
    program = parser.parse_args().build_dir / "intrinsic_calibrate_baseline"

    cases = [
        ("chessboard 9x6", _vemo.ChessboardTarget((9, 6), 0.03), ["chessboard", "9", "6", "0.03"]),
        ("ChArUco 9x7", _vemo.CharucoTarget(9, 7, 0.03, 0.022, "DICT_5X5_100"),
         ["charuco", "9", "7", "0.03", "0.022", "5"]),
    ]
    print(f"IntrinsicCalibrator.calibrate, {VIEWS} views {IMAGE_SIZE[0]}x{IMAGE_SIZE[1]}, median of {ROUNDS} alternating runs")
    print("median seconds; ratio = library / baseline")
    print(f"{'target':16}{'clock':>6}{'library s':>11}{'baseline s':>12}{'ratio':>8}{'error lib':>11}{'error base':>12}")
    for name, target, arguments in cases:
        images = render_orbit(target, CAMERA_MATRIX, DIST_COEFFS, IMAGE_SIZE, VIEWS, distance=0.55)
        library, baseline, library_error, baseline_error = time_both(program, target, images, arguments)
        for clock in ("cpu", "wall"):
            ours, theirs = statistics.median(library[clock]), statistics.median(baseline[clock])
            print(f"{name:16}{clock:>6}{ours:11.4f}{theirs:12.4f}{ours / theirs:8.3f}{library_error:11.5f}"
                  f"{baseline_error:12.5f}")
    print(f"of the library's time, copying the {VIEWS} images in at the call: {time_conversion(images):.4f} s cpu")


if __name__ == "__main__":
    main()

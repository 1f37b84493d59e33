"""MultiCameraCalibrator.calibrate and calibrate_subsets from Python against the same OpenCV
calls made directly in C++ (bench/rig_calibrate_baseline.cpp; OpenCV's Python package for
NumPy 2 is not what Debian ships, so the plain-OpenCV peer is a small C++ program).

Renders a 4-camera rig (30 synchronized frames at 1280x960 of a ChArUco board), saves it as
a capture directory with io.save_multi_camera_capture for the baseline, and times both on
the same pixels, alternating run by run so that load from other processes falls on both
alike. The ratio is library time / baseline time; the library's time includes copying the
images in from NumPy. calibrate: the whole rig against camera 0; calibrate_subsets: every
pair and triple of cameras (10 rigs), each calibrated afresh.

Both run OpenCV single-threaded, so that all the work happens on the calling thread and its
CPU time measures the work even while other processes compete for the cores; the table
gives both clocks.
"""

import os

os.environ["OPENCV_FOR_THREADS_NUM"] = "1"  # read when OpenCV loads, here and in the baseline

import argparse
import contextlib
import io
import math
import pathlib
import statistics
import subprocess
import tempfile
import time

import _vemo
from quorvantine.vemo.scenes import make_rig_scene

TARGET = _vemo.CharucoTarget(10, 7, 0.03, 0.022, "DICT_5X5_100")
TARGET_ARGUMENTS = ["10", "7", "0.03", "0.022", str(_vemo.aruco_dictionary_id_from_name("DICT_5X5_100"))]
CAMERAS, FRAMES = 4, 30
ROUNDS = 3


@contextlib.contextmanager
def log_lines_dropped():
    """The library's log lines go to the process's standard error: hundreds per run here."""
    saved = os.dup(2)
    with open(os.devnull, "w") as null:
        os.dup2(null.fileno(), 2)
    try:
        yield
    finally:
        os.dup2(saved, 2)
        os.close(saved)


def library_run(mode: str, image_lists) -> float:
    """Mean pair RMS of the run (of the last subset for calibrate_subsets). The reports are
    written through sys.stdout as a user would see them, into a buffer here."""
    calibrator = _vemo.MultiCameraCalibrator(TARGET, CAMERAS)
    with contextlib.redirect_stdout(io.StringIO()):
        if mode == "calibrate":
            errors = calibrator.calibrate(image_lists).pair_reprojection_errors
        else:
            errors = calibrator.calibrate_subsets(image_lists, [2, 3])[-1].result.pair_reprojection_errors
    return statistics.mean(e for e in errors if not math.isnan(e))


def time_both(program: pathlib.Path, directory: str, mode: str, image_lists):
    library, baseline = {"wall": [], "cpu": []}, {"wall": [], "cpu": []}
    library_run(mode, image_lists)  # warm-up, as the baseline does
    for _ in range(ROUNDS):
        wall, cpu = time.perf_counter(), time.thread_time()
        library_rms = library_run(mode, image_lists)
        library["cpu"].append(time.thread_time() - cpu)
        library["wall"].append(time.perf_counter() - wall)
        output = subprocess.run([str(program), directory, "1", str(CAMERAS), mode, *TARGET_ARGUMENTS], check=True,
                                capture_output=True, text=True).stdout.split()
        baseline["wall"].append(float(output[0]))
        baseline["cpu"].append(float(output[1]))
        baseline_rms = float(output[2])
    return library, baseline, library_rms, baseline_rms


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build-dir", default="build/dev", type=pathlib.Path)
    program = parser.parse_args().build_dir / "rig_calibrate_baseline"

    scene = make_rig_scene(TARGET, num_cameras=CAMERAS, frames=FRAMES, occluded={})
    print(f"MultiCameraCalibrator, {CAMERAS} cameras, {FRAMES} frames 1280x960, ChArUco 10x7, median of {ROUNDS} "
          "alternating runs")
    print("median seconds; ratio = library / baseline; rms = mean stereo RMS (px)")
    print(f"{'call':18}{'clock':>6}{'library s':>11}{'baseline s':>12}{'ratio':>8}{'rms lib':>9}{'rms base':>10}")
    with tempfile.TemporaryDirectory() as directory, log_lines_dropped():
        for frame in range(FRAMES):
            _vemo.io.save_multi_camera_capture(directory, [images[frame] for images in scene.image_lists], frame)
        for mode in ("calibrate", "subsets"):
            library, baseline, library_rms, baseline_rms = time_both(program, directory, mode, scene.image_lists)
            for clock in ("cpu", "wall"):
                ours, theirs = statistics.median(library[clock]), statistics.median(baseline[clock])
                print(f"{mode:18}{clock:>6}{ours:11.3f}{theirs:12.3f}{ours / theirs:8.3f}{library_rms:9.4f}"
                      f"{baseline_rms:10.4f}", flush=True)


if __name__ == "__main__":
    main()

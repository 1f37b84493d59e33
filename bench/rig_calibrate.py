"""MultiCameraCalibrator.calibrate and calibrate_subsets against the plain cv2 script a user
would write instead (bench/peers/plain_rig.py: the same OpenCV calls, nothing else).

Renders a 4-camera rig (30 synchronized frames at 1280x960 of a ChArUco board) and times
both on the same decoded images in this process, alternating run by run so that load from
other processes falls on both alike. The ratio is library time / script time; the library's
time includes copying the images in from NumPy. calibrate: the whole rig against camera 0;
calibrate_subsets: every pair and triple of cameras (10 rigs), each camera's work done once
on both sides.

Both run with OpenCV's default thread count; the table gives the wall clock and the CPU
time of the whole process (all threads). The plain script runs the cv2 that pip installs
(opencv-python-headless, from `scripts/install-deps`), the library the system's
OpenCV, so their versions may differ: the mean stereo RMS of each side shows they solved
the same problem.
"""

import argparse
import contextlib
import io
import math
import os
import pathlib
import statistics
import sys
import time

import _vemo
from quorvantine.vemo.scenes import make_rig_scene

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent / "peers"))
import plain_rig  # noqa: E402

BOARD = (10, 7, 0.03, 0.022, "DICT_5X5_100")
TARGET = _vemo.CharucoTarget(*BOARD)
CAMERAS, FRAMES = 4, 30
SUBSET_SIZES = [2, 3]
ROUNDS = 3


@contextlib.contextmanager
def log_lines_dropped():
    """The library's log lines go to the process's standard error: hundreds per run here."""
    sys.stderr.flush()
    saved = os.dup(2)
    with open(os.devnull, "w") as null:
        os.dup2(null.fileno(), 2)
    try:
        yield
    finally:
        os.dup2(saved, 2)
        os.close(saved)


def mean_rms(errors) -> float:
    return statistics.mean(e for e in errors if not math.isnan(e))


def library_run(mode: str, image_lists) -> float:
    """Mean pair RMS of the run (of the last subset for calibrate_subsets). The reports are
    written through sys.stdout as a user would see them, into a buffer here."""
    calibrator = _vemo.MultiCameraCalibrator(TARGET, CAMERAS)
    with contextlib.redirect_stdout(io.StringIO()):
        if mode == "calibrate":
            return mean_rms(calibrator.calibrate(image_lists).pair_reprojection_errors)
        return mean_rms(calibrator.calibrate_subsets(image_lists, SUBSET_SIZES)[-1].result.pair_reprojection_errors)


def plain_run(mode: str, image_lists, board) -> float:
    """Mean pair RMS of the script's run, as library_run."""
    if mode == "calibrate":
        return mean_rms(plain_rig.calibrate(image_lists, board)[0])
    return mean_rms(plain_rig.calibrate_subsets(image_lists, board, SUBSET_SIZES)[-1][0])


def time_both(mode: str, image_lists, board):
    """Per side: wall and process CPU seconds of each round, and the run's mean pair RMS."""
    sides = {"library": lambda: library_run(mode, image_lists), "plain": lambda: plain_run(mode, image_lists, board)}
    times = {side: {"wall": [], "cpu": []} for side in sides}
    rms = {side: run() for side, run in sides.items()}  # warm-up
    for _ in range(ROUNDS):
        for side, run in sides.items():
            wall, cpu = time.perf_counter(), time.process_time()
            run()
            times[side]["cpu"].append(time.process_time() - cpu)
            times[side]["wall"].append(time.perf_counter() - wall)
    return times, rms


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default="build/dev", type=pathlib.Path,
                        help="accepted for scripts/run-benchmarks; _vemo comes from PYTHONPATH")
    parser.parse_args()

    scene = make_rig_scene(TARGET, num_cameras=CAMERAS, frames=FRAMES, occluded={})
    board = plain_rig.charuco_board(*BOARD)
    print(f"MultiCameraCalibrator, {CAMERAS} cameras, {FRAMES} frames 1280x960, ChArUco 10x7; library / plain cv2 "
          f"script (cv2 {plain_rig.cv2.__version__}); median of {ROUNDS} alternating runs")
    print("seconds; ratio = library / plain; rms = mean stereo RMS (px)")
    print(f"{'call':18}{'clock':>6}{'library s':>11}{'plain s':>10}{'ratio':>8}{'rms lib':>9}{'rms plain':>11}")
    with log_lines_dropped():
        for mode in ("calibrate", "subsets"):
            times, rms = time_both(mode, scene.image_lists, board)
            for clock in ("wall", "cpu"):
                ours, theirs = statistics.median(times["library"][clock]), statistics.median(times["plain"][clock])
                print(f"{mode:18}{clock:>6}{ours:11.3f}{theirs:10.3f}{ours / theirs:8.3f}{rms['library']:9.4f}"
                      f"{rms['plain']:11.4f}", flush=True)


if __name__ == "__main__":
    main()

"""Eye-in-hand calibration by the library against the plain cv2 script a user would write
instead (bench/peers/plain_hand_eye.py: the same OpenCV calls, nothing else).

Renders 30 views at 1928x1208 of a 28x17 chessboard and of a 12x9 ChArUco board from a
flange-mounted camera, saves each set as a hand-eye dataset folder, and prints five figures,
all as ratios library / plain script (lower is better for the first three):

  (a) EyeInHandCalibrator.calibrate on decoded images against the script's calibrate() on
      the same arrays, in this process, alternating run by run;
  (b) `python -m quorvantine.vemo hand-eye DIR` against the script reading DIR, each a
      process of its own, alternating;
  (c) peak memory of (b)'s runs (the high-water mark above the resident size after the
      imports), as a multiple of the decoded images;
  (d) the speed of a background Python thread (a counting loop) during a library call and
      during the script's calibrate(), as a fraction of its idle speed;
  (e) MultiCameraCalibrator.calibrate_subsets on a rendered 4-camera rig with sizes 2, 3
      and 4, against calibrating and triangulating each of those 11 subsets on its own
      (the cost without reuse).

Both sides run with OpenCV's default thread count. Times are wall-clock medians; on a
machine shared with other work they are noisy, which alternating spreads over both sides.
The plain script runs the cv2 that pip installs (opencv-python-headless), the library the
system's OpenCV, so their versions may differ.
"""

import argparse
import contextlib
import io
import itertools
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import numpy as np

import _vemo
from quorvantine.vemo.scenes import make_hand_eye_scene, make_rig_scene, pose_error

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE / "peers"))
import plain_hand_eye  # noqa: E402

IMAGE_SIZE = (1928, 1208)
VIEWS = 30

# (name, target, distance in metres, CLI target options, plain script target arguments)
CASES = [
    ("chessboard 28x17", _vemo.ChessboardTarget((28, 17), 0.02), 1.05,
     ["--target", "chessboard", "--cols", "28", "--rows", "17", "--square-size", "0.02"],
     ["chessboard", "28", "17", "0.02"]),
    ("ChArUco 12x9", _vemo.CharucoTarget(12, 9, 0.05, 0.037, "DICT_4X4_100"), 1.05,
     ["--target", "charuco", "--squares-x", "12", "--squares-y", "9", "--square-size", "0.05", "--marker-size",
      "0.037", "--dictionary", "DICT_4X4_100"],
     ["charuco", "12", "9", "0.05", "0.037", "DICT_4X4_100"]),
]


@contextlib.contextmanager
def quiet():
    """Swallows reports and log lines, whether written to the file descriptors or to
    sys.stdout / sys.stderr."""
    sys.stdout.flush()
    sys.stderr.flush()
    devnull = os.open(os.devnull, os.O_WRONLY)
    saved = os.dup(1), os.dup(2)
    os.dup2(devnull, 1)
    os.dup2(devnull, 2)
    try:
        with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()):
            yield
    finally:
        os.dup2(saved[0], 1)
        os.dup2(saved[1], 2)
        for fd in (*saved, devnull):
            os.close(fd)


def library_calibrate(target, images, robot_T_tcp_list):
    return _vemo.EyeInHandCalibrator(target).calibrate(robot_T_tcp_list, images, "TSAI").tcp_T_camera


def alternate(first, second, rounds: int) -> tuple[list, list]:
    """Wall seconds of each callable per round, run one after the other."""
    times = ([], [])
    for _ in range(rounds):
        for run, seconds in zip((first, second), times):
            start = time.perf_counter()
            run()
            seconds.append(time.perf_counter() - start)
    return times


class Counter:
    """A Python thread that counts as fast as the interpreter lets it."""

    def __init__(self):
        self.count = 0
        self._stop = False
        self._thread = threading.Thread(target=self._run, daemon=True)

    def _run(self):
        while not self._stop:
            self.count += 1

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop = True
        self._thread.join()


def counting_rate(work) -> float:
    """Counts per second of the background thread while `work` runs in this thread."""
    with Counter() as counter:
        time.sleep(0.05)  # let it start
        start_count, start = counter.count, time.perf_counter()
        work()
        return (counter.count - start_count) / (time.perf_counter() - start)


def median_ratio(ours: list, theirs: list) -> tuple[float, float, float]:
    a, b = statistics.median(ours), statistics.median(theirs)
    return a, b, a / b


def peak_memory(runner: str, data_dir: pathlib.Path, arguments: list[str]) -> tuple[int, int, int]:
    output = subprocess.run([sys.executable, str(HERE / "peers" / "peak_memory.py"), runner, str(data_dir), "--",
                             *arguments], check=True, capture_output=True, text=True).stdout.split()
    return tuple(int(value) for value in output)


def subsets_against_separate_runs(rounds: int) -> tuple[float, float, float]:
    """Median seconds of calibrate_subsets (sizes 2, 3, 4) on a 4-camera rig and of the same
    subsets calibrated and triangulated one by one, and their ratio."""
    target = _vemo.CharucoTarget(10, 7, 0.03, 0.022, "DICT_5X5_100")
    image_lists = make_rig_scene(target, num_cameras=4, frames=10).image_lists
    sizes = [2, 3, 4]

    def separately():
        for size in sizes:
            for subset in itertools.combinations(range(4), size):
                calibrator = _vemo.MultiCameraCalibrator(target, size)
                lists = [image_lists[c] for c in subset]
                calibrator.calibrate(lists)
                calibrator.triangulate(lists, 0)

    with quiet():
        together, alone = alternate(
            lambda: _vemo.MultiCameraCalibrator(target, 4).calibrate_subsets(image_lists, sizes), separately, rounds)
    return median_ratio(together, alone)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default="build/dev", type=pathlib.Path)
    parser.add_argument("--rounds", type=int, default=5, help="alternating runs per figure (default 5)")
    args = parser.parse_args()
    environment = dict(os.environ)
    environment["PYTHONPATH"] = os.pathsep.join(
        [str(args.build_dir.resolve()), str(HERE.parent / "python"), environment.get("PYTHONPATH", "")])

    print(f"Eye-in-hand calibration, {VIEWS} views {IMAGE_SIZE[0]}x{IMAGE_SIZE[1]}; library / plain cv2 script; "
          f"medians of {args.rounds} alternating runs, wall seconds")
    figures = {}
    with tempfile.TemporaryDirectory() as directory:
        for name, target, distance, cli_options, plain_arguments in CASES:
            scene = make_hand_eye_scene(target, count=VIEWS, image_size=IMAGE_SIZE, distance=distance)
            data_dir = pathlib.Path(directory) / name.split()[0]
            with quiet():
                _vemo.io.save_hand_eye_dataset(data_dir, scene.images, scene.robot_T_tcp_list)
            images, poses = scene.images, scene.robot_T_tcp_list
            detect = plain_hand_eye.detector_from_arguments(plain_arguments)
            print(f"\n{name}  (cv2 {plain_hand_eye.cv2.__version__} for the script)")

            with quiet():
                ours = library_calibrate(target, images, poses)
            theirs = plain_hand_eye.calibrate(images, poses, detect)
            for label, estimate in (("library", ours), ("plain", theirs)):
                rotation, translation = pose_error(estimate, scene.tcp_T_camera)
                print(f"  tcp_T_camera error, {label:8}: {rotation:.4f} deg, {translation * 1000:.3f} mm")

            with quiet():
                library, plain = alternate(lambda: library_calibrate(target, images, poses),
                                           lambda: plain_hand_eye.calibrate(images, poses, detect), args.rounds)
            a = median_ratio(library, plain)
            print(f"  (a) calibrate on decoded images: library {a[0]:.3f} s, plain {a[1]:.3f} s, ratio {a[2]:.3f}")

            commands = (
                [sys.executable, "-m", "quorvantine.vemo", "hand-eye", str(data_dir), *cli_options, "--output",
                 str(pathlib.Path(directory) / "hand_eye.json")],
                [sys.executable, str(HERE / "peers" / "plain_hand_eye.py"), str(data_dir), *plain_arguments],
            )
            library, plain = alternate(
                *(lambda command=command: subprocess.run(command, check=True, capture_output=True, env=environment)
                  for command in commands), args.rounds)
            b = median_ratio(library, plain)
            print(f"  (b) command line on the folder:  library {b[0]:.3f} s, plain {b[1]:.3f} s, ratio {b[2]:.3f}")

            memory = {}
            for runner, arguments in (("library", cli_options), ("plain", plain_arguments)):
                baseline, peak, decoded = peak_memory(runner, data_dir, arguments)
                memory[runner] = (peak - baseline) / decoded
                print(f"  (c) peak memory, {runner:8}: {(peak - baseline) / 2**20:7.1f} MiB above "
                      f"{baseline / 2**20:.1f} MiB after the imports = {memory[runner]:.2f} x the decoded images "
                      f"({decoded / 2**20:.1f} MiB)")

            idle = counting_rate(lambda: time.sleep(1.0))
            with quiet():
                during_library = counting_rate(lambda: library_calibrate(target, images, poses))
            during_plain = counting_rate(lambda: plain_hand_eye.calibrate(images, poses, detect))
            print(f"  (d) background thread speed: during the library's call {during_library / idle:.2f}, "
                  f"during the script's {during_plain / idle:.2f} of idle")
            figures[name] = (a[2], b[2], memory["library"], during_library / idle)

    print("\nsummary (goals: a <= 1.0, b <= 0.75, c <= 3.0 x, d >= 0.5)")
    for name, (a, b, c, d) in figures.items():
        print(f"  {name:18} (a) {a:.3f}  (b) {b:.3f}  (c) {c:.2f} x  (d) {d:.2f}")
    e = subsets_against_separate_runs(max(1, args.rounds // 2))
    print(f"  (e) calibrate_subsets (2, 3, 4 of 4 cameras): {e[0]:.3f} s against {e[1]:.3f} s for the 11 subsets "
          f"one by one, ratio {e[2]:.3f} (goal <= 0.35)")


if __name__ == "__main__":
    main()

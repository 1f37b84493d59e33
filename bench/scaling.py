"""How the eye-in-hand work grows with the number of captures: EyeInHandCalibrator.calibrate
with its defaults (beside the plain cv2 script's calibrate() on the same images, the peer a
user would run instead), the benchmark (CalibrationBenchmark.run with 5 folds and the
eye-in-hand round trip, as the `benchmark` command runs it) and the cross-method comparison
(compare_hand_eye_methods), each timed once per capture count; and the peak memory of the
`hand-eye` command above the decoded images, per capture, at each memory count.

calibrate is split into its intrinsic calibration (IntrinsicCalibrator.calibrate on the same
images: detection and cv::calibrateCamera) and the hand-eye work beyond it (calibrate given
the target poses of the first run: the solves and the verdict). The hand-eye part and the
memory per capture should stay flat per capture; what grows faster is named in the
closing lines.

The captures are one render of the largest count (ChArUco 12x9, make_hand_eye_scene, saved
as JPEG and read back, kept under build/bench-cache); a smaller count takes captures spread
evenly over it. Images are 964x604 by default, half the 1928x1208 of the other benchmarks,
because rendering and detecting 300 full-size images takes long (--image-size 1928x1208).

The default is quick (30 and 60 captures); --full gives the table the goals are stated for:
30, 100 and 300 captures, memory at 100, 200 and 300. OpenCV runs with its default thread
count (OPENCV_FOR_THREADS_NUM=1 for single-threaded figures).
"""

import argparse
import os
import pathlib
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path[:0] = [str(HERE / "common"), str(HERE / "peers")]

import numpy as np  # noqa: E402

import _vemo  # noqa: E402
import plain_hand_eye  # noqa: E402
from measure import load_average, quiet, timed  # noqa: E402
from photo_datasets import rendered_dataset, spread_subset  # noqa: E402

TARGET = _vemo.CharucoTarget(12, 9, 0.05, 0.037, "DICT_4X4_100")
CLI_TARGET = ["--target", "charuco", "--squares-x", "12", "--squares-y", "9", "--square-size", "0.05",
              "--marker-size", "0.037", "--dictionary", "DICT_4X4_100", "--image-format", "jpg"]
PLAIN_TARGET = ["charuco", "12", "9", "0.05", "0.037", "DICT_4X4_100"]
FOLDS = 5
# Goals at 300 captures, seconds.
GOALS = {"calibrate": 3.0, "benchmark": 15.0, "compare": 4.0}


def counts(text: str) -> list[int]:
    return sorted({int(value) for value in text.split(",")})


def image_size(text: str) -> tuple[int, int]:
    width, height = text.lower().split("x")
    return int(width), int(height)


def time_count(data_dir: pathlib.Path) -> dict:
    """Seconds of every step on the captures of data_dir."""
    with quiet():
        images, poses = _vemo.io.load_hand_eye_dataset(str(data_dir), "jpg")
    options = _vemo.IntrinsicOptions()
    no_matrix = np.zeros((0, 0))
    figures = {}
    with quiet():
        result = None

        def calibrate():
            nonlocal result
            result = _vemo.EyeInHandCalibrator(TARGET).calibrate(poses, images, "TSAI")

        figures["calibrate"] = timed(calibrate)
        figures["intrinsic"] = timed(lambda: _vemo.IntrinsicCalibrator(TARGET).calibrate(images))
        figures["hand-eye part"] = timed(lambda: _vemo.EyeInHandCalibrator(TARGET).calibrate(
            result.valid_robot_T_tcp_list, [], "TSAI", result.camera_T_target_list))
        figures["plain"] = timed(lambda: plain_hand_eye.calibrate(
            images, poses, plain_hand_eye.detector_from_arguments(PLAIN_TARGET)))
        figures["compare"] = timed(lambda: _vemo.diagnostics.compare_hand_eye_methods(
            TARGET, poses, images, [], no_matrix, no_matrix))
        figures["benchmark"] = timed(lambda: _vemo.CalibrationBenchmark().run(
            images, TARGET, options, poses, options, "OpenCV", FOLDS, 0))
    figures["load"] = load_average()
    return figures


def memory_above_images(data_dir: pathlib.Path) -> tuple[float, float]:
    """(MiB of peak memory above the imports and the decoded images, the decoded images' MiB)
    of the hand-eye command on data_dir, in a process of its own."""
    with tempfile.TemporaryDirectory() as directory:
        output = subprocess.run([sys.executable, str(HERE / "peers" / "peak_memory.py"), "library", str(data_dir),
                                 "--", *CLI_TARGET, "--output", str(pathlib.Path(directory) / "hand_eye.json")],
                                check=True, capture_output=True, text=True)
    baseline, peak, decoded = (int(value) for value in output.stdout.split())
    return (peak - baseline - decoded) / 2 ** 20, decoded / 2 ** 20


def print_goals(table: dict, memory: dict) -> None:
    if 300 in table:
        for step, goal in GOALS.items():
            seconds = table[300][step]
            print(f"  {step} at 300 captures: {seconds:.2f} s, goal < {goal:.0f} s: {'met' if seconds < goal else 'NOT met'}")
    else:
        print("  (the goals are stated at 300 captures: --full)")
    if len(memory) >= 3:
        sizes = sorted(memory)
        slopes = [(memory[b][0] - memory[a][0]) / (b - a) for a, b in zip(sizes, sizes[1:])]
        linear = max(slopes) <= 1.5 * max(min(slopes), 0.01)
        print(f"  memory above the images grows {', then '.join(f'{s:.2f}' for s in slopes)} MiB per capture: "
              f"{'linear' if linear else 'NOT linear'} (goal: linear in the captures)")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default="build/dev", type=pathlib.Path)
    parser.add_argument("--captures", type=counts, default=[30, 60], help="capture counts to time (default 30,60)")
    parser.add_argument("--memory", type=counts, default=[30, 60], help="capture counts to measure the memory at "
                        "(default 30,60)")
    parser.add_argument("--image-size", type=image_size, default=(964, 604), help="WIDTHxHEIGHT (default 964x604)")
    parser.add_argument("--full", action="store_true", help="captures 30,100,300 and memory at 100,200,300")
    args = parser.parse_args()
    if args.full:
        args.captures, args.memory = [30, 100, 300], [100, 200, 300]
    largest = max(args.captures + args.memory)
    data_dir, _ = rendered_dataset("scaling-charuco", TARGET, largest, args.image_size, 1.05)

    print(f"Scaling with the captures: ChArUco 12x9, {args.image_size[0]}x{args.image_size[1]} JPEG, wall seconds "
          f"of one run each, OpenCV threads {os.environ.get('OPENCV_FOR_THREADS_NUM', 'default')}; load = one-minute load average ({os.cpu_count()} cores)")
    steps = ["calibrate", "intrinsic", "hand-eye part", "plain", "compare", "benchmark"]
    print(f"  {'captures':>8}" + "".join(f"{step:>15}" for step in steps) + f"{'calib/plain':>12}{'load':>6}")
    table = {}
    for count in args.captures:
        table[count] = time_count(spread_subset(data_dir, count) if count < largest else data_dir)
        row = table[count]
        print(f"  {count:8d}" + "".join(f"{row[step]:15.2f}" for step in steps)
              + f"{row['calibrate'] / row['plain']:12.3f}{row['load']:6.1f}", flush=True)
    first = min(table)
    print(f"  per capture, relative to {first} captures (1.0 = linear):")
    for count in sorted(table)[1:]:
        print(f"  {count:8d}" + "".join(f"{table[count][step] / count / (table[first][step] / first):15.2f}"
                                        for step in steps))

    memory = {}
    print("  peak memory of the hand-eye command above the imports and the decoded images:")
    for count in args.memory:
        memory[count] = memory_above_images(spread_subset(data_dir, count) if count < largest else data_dir)
        print(f"  {count:8d} captures: {memory[count][0]:8.1f} MiB above {memory[count][1]:.1f} MiB of images, "
              f"{memory[count][0] / count:.2f} MiB per capture, load {load_average():.1f}", flush=True)
    print("goals:")
    print_goals(table, memory)


if __name__ == "__main__":
    start = time.perf_counter()
    main()
    print(f"({time.perf_counter() - start:.0f} s in all)")

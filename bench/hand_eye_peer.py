"""Eye-in-hand calibration by the library against the plain cv2 script a user would write
instead (bench/peers/plain_hand_eye.py: the same OpenCV calls, nothing else).

Renders 30 captures at 1928x1208 of a 28x17 chessboard and of a 12x9 ChArUco board from a
flange-mounted camera and keeps each set as a hand-eye dataset folder of JPEG photographs
(build/bench-cache, rendered once), which every run reads back. Figures, as ratios library /
plain script (lower is better for the first four):

  (a) EyeInHandCalibrator.calibrate on decoded images against the script's calibrate() on
      the same arrays, in one process, alternating run by run;
  (i) IntrinsicCalibrator.calibrate against the script's intrinsics(): the intrinsic
      calibration alone (detection and calibrateCamera), alike;
  (s) the same with the options' camera_solver "sparse" (at 30 views the default, "auto",
      keeps OpenCV's solve);
  (b) `python -m quorvantine.vemo hand-eye DIR --image-format jpg` against the script
      reading DIR, each a process of its own, alternating;
  (c) peak memory of (b)'s runs (the high-water mark above the resident size after the
      imports), as a multiple of the decoded images;
  (d) the speed of a background Python thread (a counting loop) during a library call and
      during the script's calibrate(), as a fraction of its idle speed;
  (e) MultiCameraCalibrator.calibrate_subsets on a rendered 4-camera rig with sizes 2, 3
      and 4, against calibrating and triangulating each of those 11 subsets on its own
      (the cost without reuse; library against library, in this interpreter only).

Each of (a) to (d) is measured in two interpreters, one after the other:

  debian  Debian's own /usr/bin/python3 with Debian's python3-opencv: the plain script runs
          on the very OpenCV build that the library links. It needs that package
          (apt-get install python3-opencv python3-numpy) and the module built for that
          interpreter (bash scripts/build-debian-python, into build/debian, or
          --debian-build-dir). Without either the column is skipped with a line that says so.
  wheel   this interpreter, with the cv2 that pip installs (opencv-python-headless): another
          OpenCV release than the library's, so its ratios mix the two builds' speeds.

Both sides run with OpenCV's default thread count. Times are wall-clock medians beside the
one-minute load average when they were taken: on a machine shared with other work they are
noisy, which alternating spreads over both sides.
"""

import argparse
import itertools
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path[:0] = [str(HERE / "common"), str(HERE / "peers")]

import _vemo  # noqa: E402
import numpy as np  # noqa: E402
import plain_hand_eye  # noqa: E402
from measure import alternate, counting_rate, load_average, median_ratio, quiet  # noqa: E402
from photo_datasets import rendered_dataset  # noqa: E402
from quorvantine.vemo.scenes import make_rig_scene, pose_error  # noqa: E402

IMAGE_SIZE = (1928, 1208)
CAPTURES = 30
DEBIAN_PYTHON = "/usr/bin/python3"

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


def library_calibrate(target, images, robot_T_tcp_list):
    return _vemo.EyeInHandCalibrator(target).calibrate(robot_T_tcp_list, images, "TSAI").tcp_T_camera


def peak_memory(runner: str, data_dir: pathlib.Path, arguments: list[str]) -> tuple[int, int, int]:
    output = subprocess.run([sys.executable, str(HERE / "peers" / "peak_memory.py"), runner, str(data_dir), "--",
                             *arguments], check=True, capture_output=True, text=True).stdout.split()
    return tuple(int(value) for value in output)


def figure(ours: list, theirs: list) -> dict:
    a, b, ratio = median_ratio(ours, theirs)
    return {"library": a, "plain": b, "ratio": ratio, "load": load_average()}


def measure_case(name: str, data_dir: pathlib.Path, rounds: int, output: pathlib.Path) -> dict:
    """This interpreter's figures (a) to (d) of one case."""
    _, target, _, cli_options, plain_arguments = next(case for case in CASES if case[0] == name)
    with quiet():
        images, poses = _vemo.io.load_hand_eye_dataset(str(data_dir), "jpg")
    truth = np.load(data_dir.parent / "tcp_T_camera.npy")
    detect = plain_hand_eye.detector_from_arguments(plain_arguments)
    figures = {"cv2": plain_hand_eye.cv2.__version__}

    with quiet():
        ours = library_calibrate(target, images, poses)
    theirs = plain_hand_eye.calibrate(images, poses, detect)
    figures["errors"] = {label: pose_error(estimate, truth) for label, estimate in (("library", ours), ("plain", theirs))}

    with quiet():
        figures["a"] = figure(*alternate(lambda: library_calibrate(target, images, poses),
                                         lambda: plain_hand_eye.calibrate(images, poses, detect), rounds))
        figures["i"] = figure(*alternate(lambda: _vemo.IntrinsicCalibrator(target).calibrate(images),
                                         lambda: plain_hand_eye.intrinsics(images, detect), rounds))
        sparse = _vemo.IntrinsicOptions()
        sparse.camera_solver = "sparse"
        figures["s"] = figure(*alternate(lambda: _vemo.IntrinsicCalibrator(target, sparse).calibrate(images),
                                         lambda: plain_hand_eye.intrinsics(images, detect), rounds))

    commands = (
        [sys.executable, "-m", "quorvantine.vemo", "hand-eye", str(data_dir), *cli_options, "--image-format", "jpg",
         "--output", str(output)],
        [sys.executable, str(HERE / "peers" / "plain_hand_eye.py"), str(data_dir), *plain_arguments, "jpg"],
    )
    figures["b"] = figure(*alternate(*(lambda command=command: subprocess.run(command, check=True, capture_output=True)
                                       for command in commands), rounds))

    memory = {}
    for runner, arguments in (("library", [*cli_options, "--image-format", "jpg", "--output", str(output)]),
                              ("plain", [*plain_arguments, "jpg"])):
        baseline, peak, decoded = peak_memory(runner, data_dir, arguments)
        memory[runner] = (peak - baseline) / decoded
    figures["c"] = {"library": memory["library"], "plain": memory["plain"],
                    "ratio": memory["library"] / memory["plain"], "load": load_average()}

    idle = counting_rate(lambda: time.sleep(1.0))
    with quiet():
        during_library = counting_rate(lambda: library_calibrate(target, images, poses))
    during_plain = counting_rate(lambda: plain_hand_eye.calibrate(images, poses, detect))
    figures["d"] = {"library": during_library / idle, "plain": during_plain / idle,
                    "ratio": during_library / during_plain, "load": load_average()}
    return figures


def datasets() -> dict:
    """Each case's dataset folder, rendered on first use."""
    folders = {}
    for name, target, distance, _, _ in CASES:
        slug = name.split()[0].lower()
        folders[name], _ = rendered_dataset(f"hand-eye-{slug}", target, CAPTURES, IMAGE_SIZE, distance)
    return folders


def columns(build_dir: pathlib.Path, debian_build_dir: pathlib.Path) -> list:
    """(label, interpreter, module build dir) of every column that can run; a line for one that cannot."""
    found = []
    here_is_debian = os.path.realpath(sys.executable) == os.path.realpath(DEBIAN_PYTHON)
    probe = subprocess.run([DEBIAN_PYTHON, "-c", "import cv2, numpy"], capture_output=True) \
        if os.path.exists(DEBIAN_PYTHON) else None
    if probe is None or probe.returncode != 0:
        print(f"debian column skipped: {DEBIAN_PYTHON} cannot import Debian's cv2 and NumPy "
              "(apt-get install python3-opencv python3-numpy)")
    elif not any(debian_build_dir.glob("_vemo.*.so")):
        print(f"debian column skipped: no module built for {DEBIAN_PYTHON} in {debian_build_dir} "
              "(bash scripts/build-debian-python)")
    else:
        found.append(("debian", DEBIAN_PYTHON, debian_build_dir))
    if not here_is_debian:
        found.append(("wheel", sys.executable, build_dir))
    return found


def run_column(interpreter: str, build_dir: pathlib.Path, data_dirs: dict, rounds: int) -> dict:
    environment = dict(os.environ)
    environment["PYTHONPATH"] = os.pathsep.join([str(build_dir.resolve()), str(HERE.parent / "python")])
    command = [interpreter, str(HERE / "hand_eye_peer.py"), "--rounds", str(rounds), "--measure",
               json.dumps({name: str(path) for name, path in data_dirs.items()})]
    output = subprocess.run(command, check=True, stdout=subprocess.PIPE, text=True, env=environment).stdout
    return json.loads(output.splitlines()[-1])


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


LABELS = {
    "a": "(a) calibrate, decoded images",
    "i": "(i) intrinsic calibration alone",
    "s": "(s) ... with the sparse solve",
    "b": "(b) hand-eye command on folder",
    "c": "(c) peak memory, x decoded",
    "d": "(d) background thread, x idle",
}


def print_case(name: str, results: dict) -> None:
    print(f"\n{name}")
    print(f"  {'figure':34}{'column':8}{'library':>10}{'plain':>10}{'ratio':>8}{'load':>6}")
    for label, figures in results.items():
        errors = figures[name]["errors"]
        print(f"  {'tcp_T_camera error (deg, mm)':34}{label:8}"
              + "".join(f"{errors[side][0]:>6.3f}/{errors[side][1] * 1000:.2f}" for side in ("library", "plain")))
    for key, text in LABELS.items():
        for label, figures in results.items():
            f = figures[name][key]
            unit = " s" if key in "aisb" else "  "
            print(f"  {text:34}{label:8}{f['library']:8.3f}{unit}{f['plain']:8.3f}{unit}{f['ratio']:8.3f}"
                  f"{f['load']:6.1f}")
            text = ""


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default="build/dev", type=pathlib.Path,
                        help="the module's build for this interpreter (default build/dev)")
    parser.add_argument("--debian-build-dir", default="build/debian", type=pathlib.Path,
                        help=f"the module's build for {DEBIAN_PYTHON} (default build/debian)")
    parser.add_argument("--rounds", type=int, default=3, help="alternating runs per figure (default 3)")
    parser.add_argument("--measure", metavar="JSON", help=argparse.SUPPRESS)  # one column's run, in its interpreter
    args = parser.parse_args()
    if args.measure:
        data_dirs = {name: pathlib.Path(path) for name, path in json.loads(args.measure).items()}
        with tempfile.TemporaryDirectory() as directory:
            output = pathlib.Path(directory) / "hand_eye.json"
            print(json.dumps({name: measure_case(name, path, args.rounds, output) for name, path in data_dirs.items()}))
        return

    print(f"Eye-in-hand calibration, {CAPTURES} captures {IMAGE_SIZE[0]}x{IMAGE_SIZE[1]} saved as JPEG and read back; "
          f"library / plain cv2 script; medians of {args.rounds} alternating runs, wall seconds; load = one-minute "
          f"load average ({os.cpu_count()} cores)")
    data_dirs = datasets()
    results = {}
    for label, interpreter, build_dir in columns(args.build_dir, args.debian_build_dir):
        start = time.perf_counter()
        results[label] = run_column(interpreter, build_dir, data_dirs, args.rounds)
        cv2_version = next(iter(results[label].values()))["cv2"]
        print(f"{label}: {interpreter}, cv2 {cv2_version}, module from {build_dir} ({time.perf_counter() - start:.0f} s)")
    for name in data_dirs:
        print_case(name, results)

    print("\nsummary (goals: a <= 0.6, i <= 0.8, s <= 0.5, b <= 0.5, c <= 3.0 x, d >= 0.8, on the debian column: "
          "the same OpenCV build)")
    for label, figures in results.items():
        for name, f in figures.items():
            print(f"  {label:7}{name:18} (a) {f['a']['ratio']:.3f}  (i) {f['i']['ratio']:.3f}  (s) {f['s']['ratio']:.3f}"
                  f"  (b) {f['b']['ratio']:.3f}"
                  f"  (c) {f['c']['library']:.2f} x  (d) {f['d']['library']:.2f}  load {f['d']['load']:.1f}")
    e = subsets_against_separate_runs(max(1, args.rounds // 2))
    print(f"  (e) calibrate_subsets (2, 3, 4 of 4 cameras): {e[0]:.3f} s against {e[1]:.3f} s for the 11 subsets "
          f"one by one, ratio {e[2]:.3f} (goal <= 0.35), load {load_average():.1f}")


if __name__ == "__main__":
    main()

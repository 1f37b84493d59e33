"""CalibrationBenchmark.run against its steps run one by one.

run detects each image once per detection settings: the folds' training calibrations and
the eye-in-hand step start from the full calibration's detections, and the cross-validation
and the round trip share the evaluation detection. The same steps called one by one
(IntrinsicCalibrator.calibrate, cross_validate, EyeInHandCalibrator.calibrate,
hand_eye_roundtrip) detect afresh in each, as the benchmark would without the sharing.
Renders 20 eye-in-hand captures at 1920x1200 of a ChArUco board; alternating runs, OpenCV
single-threaded so that thread CPU time measures the work on a shared machine.
"""

import os

os.environ["OPENCV_FOR_THREADS_NUM"] = "1"  # read when OpenCV loads

import argparse
import contextlib
import io
import statistics
import time

import _vemo
from quorvantine.vemo.scenes import make_hand_eye_scene

VIEWS = 20
IMAGE_SIZE = (1920, 1200)
ROUNDS = 3
SPLITS = 5


def shared(scene):
    options = _vemo.IntrinsicOptions()
    return _vemo.CalibrationBenchmark().run(scene.images, scene.target, options, scene.robot_T_tcp_list, options,
                                            n_splits=SPLITS).held_out_reprojection_error


def one_by_one(scene):
    options, benchmark = _vemo.IntrinsicOptions(), _vemo.CalibrationBenchmark()
    full = _vemo.IntrinsicCalibrator(scene.target, options).calibrate(scene.images)
    held_out = benchmark.cross_validate(scene.images, scene.target, options, SPLITS)
    hand_eye = _vemo.EyeInHandCalibrator(scene.target, options).calibrate(scene.robot_T_tcp_list, scene.images)
    benchmark.hand_eye_roundtrip(scene.images, scene.robot_T_tcp_list, hand_eye.tcp_T_camera, full.intrinsic_matrix,
                                 full.distortion_coefficients, scene.target, hand_eye.camera_T_target_list)
    return held_out


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build-dir", default="build/dev")  # for scripts/run-benchmarks; the path is set there
    parser.parse_args()

    target = _vemo.CharucoTarget(10, 7, 0.03, 0.022, "DICT_5X5_100")
    scene = make_hand_eye_scene(target, count=VIEWS, image_size=IMAGE_SIZE, distance=0.5, seed=1)
    jobs = {"run": shared, "one by one": one_by_one}
    times = {name: [] for name in jobs}
    held_out = {}
    with contextlib.redirect_stdout(io.StringIO()):
        for _ in range(ROUNDS):
            for name, job in jobs.items():
                cpu = time.thread_time()
                held_out[name] = job(scene)
                times[name].append(time.thread_time() - cpu)

    print(f"CalibrationBenchmark.run, {VIEWS} ChArUco views {IMAGE_SIZE[0]}x{IMAGE_SIZE[1]}, {SPLITS} folds, "
          f"median of {ROUNDS} alternating rounds")
    print(f"{'job':12}{'cpu s':>9}{'ratio':>8}{'held-out px':>13}")
    base = statistics.median(times["one by one"])
    for name in jobs:
        seconds = statistics.median(times[name])
        print(f"{name:12}{seconds:9.3f}{seconds / base:8.2f}{held_out[name]:13.6f}")


if __name__ == "__main__":
    main()

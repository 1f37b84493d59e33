"""diagnostics.compare_hand_eye_methods (all five solvers) against one eye-in-hand run.

Renders 30 eye-in-hand captures at 1920x1200 of a ChArUco board and times, alternating run
by run so that load from other processes falls on all alike:

- one EyeInHandCalibrator.calibrate (TSAI) on the intrinsic path: detection, intrinsic
  solve, target poses, hand-eye solve, statistics and report;
- the comparison, which prepares the captures once and solves five times;
- five independent calibrate runs, one per solver: what the comparison stands for, and what
  a user would otherwise run;
- when OpenCV's own Python module is installed, a plain Python + cv2 script doing the same
  job as the comparison (detection, calibrateCamera, solvePnP per view, calibrateHandEye per
  solver), without the statistics and reports.

OpenCV runs single-threaded so that thread CPU time measures the work even on a shared
machine; the table gives both clocks. Ratios are against one run.
"""

import os

os.environ["OPENCV_FOR_THREADS_NUM"] = "1"  # read when OpenCV loads

import argparse
import contextlib
import io
import statistics
import time

import numpy as np

import _vemo
from quorvantine.vemo.scenes import make_hand_eye_scene

VIEWS = 30
IMAGE_SIZE = (1920, 1200)
ROUNDS = 5
METHODS = sorted(_vemo.hand_eye_method_by_name_map())
NO_MATRIX = np.zeros((0, 0))


def one_run(scene):
    _vemo.EyeInHandCalibrator(scene.target).calibrate(scene.robot_T_tcp_list, scene.images, "TSAI")


def comparison(scene):
    _vemo.diagnostics.compare_hand_eye_methods(scene.target, scene.robot_T_tcp_list, scene.images, [], NO_MATRIX,
                                               NO_MATRIX)


def five_runs(scene):
    for method in METHODS:
        _vemo.EyeInHandCalibrator(scene.target).calibrate(scene.robot_T_tcp_list, scene.images, method)


def plain_cv2(cv2):
    """The comparison's job written directly against cv2, as a user without the library would."""
    def job(scene):
        target = scene.target
        dictionary = cv2.aruco.getPredefinedDictionary(target.aruco_dict_id)
        board = cv2.aruco.CharucoBoard((target.squares_x, target.squares_y), target.square_length,
                                       target.marker_length, dictionary)
        detector = cv2.aruco.CharucoDetector(board)
        corners, ids, kept = [], [], []
        for index, image in enumerate(scene.images):
            found, found_ids, _, _ = detector.detectBoard(cv2.cvtColor(image, cv2.COLOR_BGR2GRAY))
            if found_ids is not None and len(found_ids) >= 4:
                corners.append(found)
                ids.append(found_ids)
                kept.append(index)
        object_points = [board.getChessboardCorners()[i.ravel()] for i in ids]
        _, camera_matrix, dist, _, _ = cv2.calibrateCamera(object_points, corners, IMAGE_SIZE, None, None)
        r_target, t_target, r_robot, t_robot = [], [], [], []
        for points, found, index in zip(object_points, corners, kept):
            ok, rvec, tvec = cv2.solvePnP(points, found, camera_matrix, dist)
            if ok:
                r_target.append(cv2.Rodrigues(rvec)[0])
                t_target.append(tvec)
                r_robot.append(scene.robot_T_tcp_list[index][:3, :3])
                t_robot.append(scene.robot_T_tcp_list[index][:3, 3])
        for method in range(5):
            cv2.calibrateHandEye(r_robot, t_robot, r_target, t_target, method=method)
    return job


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build-dir", default="build/dev")  # for scripts/run-benchmarks; the path is set there
    parser.parse_args()

    target = _vemo.CharucoTarget(10, 7, 0.03, 0.022, "DICT_5X5_100")
    scene = make_hand_eye_scene(target, count=VIEWS, image_size=IMAGE_SIZE, distance=0.5, seed=1)
    jobs = {"one run": one_run, "comparison": comparison, "five runs": five_runs}
    try:
        import cv2
        if hasattr(cv2, "aruco") and hasattr(cv2.aruco, "CharucoDetector"):
            jobs["plain cv2"] = plain_cv2(cv2)
    except ImportError:
        pass

    times = {name: {"cpu": [], "wall": []} for name in jobs}
    with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()):
        one_run(scene)  # warm-up
        for _ in range(ROUNDS):
            for name, job in jobs.items():
                wall, cpu = time.perf_counter(), time.thread_time()
                job(scene)
                times[name]["cpu"].append(time.thread_time() - cpu)
                times[name]["wall"].append(time.perf_counter() - wall)
    # The library's log lines go to the process's standard error, past the redirection above.

    print(f"hand-eye comparison, {VIEWS} ChArUco views {IMAGE_SIZE[0]}x{IMAGE_SIZE[1]}, median of {ROUNDS} "
          "alternating rounds; ratio = time / one run")
    print(f"{'job':12}{'cpu s':>9}{'ratio':>8}{'wall s':>9}{'ratio':>8}")
    base = {clock: statistics.median(times["one run"][clock]) for clock in ("cpu", "wall")}
    for name in jobs:
        cpu, wall = (statistics.median(times[name][clock]) for clock in ("cpu", "wall"))
        print(f"{name:12}{cpu:9.3f}{cpu / base['cpu']:8.2f}{wall:9.3f}{wall / base['wall']:8.2f}")


if __name__ == "__main__":
    main()

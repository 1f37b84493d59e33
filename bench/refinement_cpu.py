"""CPU time of each reprojection refinement on the problem size users bring: 30 captures
(frames) of a 500-corner ChArUco board (26 x 21 squares). No cv2 script does these jobs (OpenCV
has no bundle adjustment of a hand-eye chain or a rig), so the figures stand against the
targets instead: the rig's and the eye-to-hand refinement under 1 s of CPU, the eye-in-hand
refinement under 0.3 s. CPU time is the whole process's (every thread), the median of a few
runs on the same solved calibration; the load average beside it says how busy the machine
was."""

import argparse
import contextlib
import io
import os
import statistics
import sys
import time

import _vemo
from quorvantine.vemo.scenes import make_eye_to_hand_scene, make_hand_eye_scene, make_rig_scene

TARGET = _vemo.CharucoTarget(26, 21, 0.012, 0.009, "DICT_5X5_1000")
CAPTURES, RUNS = 30, 5


def quiet(call, *args, **kwargs):
    with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()):
        return call(*args, **kwargs)


def cpu_seconds(call):
    seconds = []
    for _ in range(RUNS):
        start = time.process_time()
        result = call()
        seconds.append(time.process_time() - start)
    return statistics.median(seconds), result


def corner_count(images):
    found = quiet(_vemo.IntrinsicCalibrator(TARGET).find_corners, images)
    return sum(len(points) for points in found.image_points)


def report(name, seconds, goal, corners):
    load = " ".join(f"{value:.2f}" for value in os.getloadavg())
    print(f"{name:<44}{seconds:7.3f} s CPU  (goal < {goal} s; {corners} corners; load average {load})")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", help="given by scripts/run-benchmarks; the module is found on PYTHONPATH")
    parser.parse_args()

    scene = make_hand_eye_scene(TARGET, count=CAPTURES, distance=0.45, seed=3, image_noise=4.0)
    eye_in_hand = _vemo.EyeInHandCalibrator(TARGET)
    quiet(eye_in_hand.calibrate, scene.robot_T_tcp_list, scene.images, "TSAI")
    corners = corner_count(scene.images)
    for refine_intrinsics in (False, True):
        seconds, _ = cpu_seconds(lambda: quiet(eye_in_hand.refine, refine_intrinsics=refine_intrinsics))
        report(f"eye-in-hand refine(refine_intrinsics={refine_intrinsics})", seconds, 0.3, corners)

    scene = make_eye_to_hand_scene(TARGET, count=CAPTURES, distance=0.45, seed=3, image_noise=4.0)
    eye_to_hand = _vemo.EyeToHandCalibrator(TARGET)
    quiet(eye_to_hand.calibrate, scene.robot_T_tcp_list, scene.images, "PARK", [], scene.camera_matrix,
          scene.dist_coeffs)
    seconds, _ = cpu_seconds(lambda: quiet(eye_to_hand.refine))
    report("eye-to-hand refine()", seconds, 1.0, corner_count(scene.images))

    rig = make_rig_scene(TARGET, num_cameras=3, frames=CAPTURES, image_noise=4.0, seed=3, occluded={})
    calibrator = _vemo.MultiCameraCalibrator(TARGET, 3)
    quiet(calibrator.calibrate, rig.image_lists)
    seconds, refined = cpu_seconds(lambda: quiet(calibrator.refine))
    report("rig of 3 cameras refine()", seconds, 1.0, refined.corner_count)
    return 0


if __name__ == "__main__":
    sys.exit(main())
